#pragma once
// One client's wish to receive a printer's alerts: the alert classes (mask bits), who asked and
// for which printer handle. A session keeps its own copy per client.
#include <cstdint>

struct AlertRegistration {
    uint32_t alertMask = 0;
    uint32_t clientId = 0;
    uint32_t printerHandle = 0;
};
