#pragma once
// Where a client takes its alerts: a property text naming the client's callback pipe
// (PIPENAME, optional HOSTNAME).
#include <cstdint>
#include <string>

struct CallbackRecord {
    uint32_t clientId = 0;
    std::string endpoint;
};
