#pragma once
// Where a client takes its alerts: a property text naming the client's callback pipe
// (PIPENAME, optional HOSTNAME), and the user the client id belongs to. Alerts go only to a
// pipe served by a process of that user.
#include <cstdint>
#include <string>
#include <utility>

struct CallbackRecord {
    CallbackRecord() = default;
    CallbackRecord(uint32_t id, std::string pipe, std::string owner = std::string())
        : clientId(id), endpoint(std::move(pipe)), ownerSid(std::move(owner)) {}

    uint32_t clientId = 0;
    std::string endpoint;
    std::string ownerSid;
};
