#pragma once
// Milliseconds since the system started, wrapping at 2^32 (the system tick count).
#include <cstdint>

uint32_t tickCountMs();
