#include "runtime/TickCount.h"

#include "runtime/Win32.h"

uint32_t tickCountMs() { return GetTickCount(); }
