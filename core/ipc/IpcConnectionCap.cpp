#include "core/ipc/IpcConnectionCap.h"

#include "core/ipc/IpcParameterReader.h"
#include "core/ipc/IpcParameterWriter.h"

#include <algorithm>

IpcConnectionCap::IpcConnectionCap(std::size_t cap) : cap_(cap == 0 ? 1 : cap), atCap_(false), refusals_(0) {}

bool IpcConnectionCap::admit(std::size_t live, std::string& line) {
    line.clear();
    if (live < cap_) {
        // Half the cap, not one below it: a load that hovers at the cap would otherwise start an
        // episode, and log twice, for nearly every connection.
        if (atCap_ && live <= cap_ / 2) {
            line = openEpisodeLine();
            atCap_ = false;
            refusals_ = 0;
        }
        return true;
    }
    if (!atCap_) {
        atCap_ = true;
        line = "connection cap of " + std::to_string(cap_) + " reached: further connections are answered busy";
    }
    ++refusals_;
    return false;
}

std::string IpcConnectionCap::openEpisodeLine() const {
    if (!atCap_) return std::string();
    return "connection cap of " + std::to_string(cap_) + ": " + std::to_string(refusals_) +
           " connections answered busy";
}

int32_t IpcConnectionCap::busyReply(const Data& request, Data& reply) {
    reply.Clear();
    IpcParameterReader reader(request);
    uint16_t id = 0;
    if (reader.functionId(id) != 0) return kNoFunctionId;
    IpcParameterWriter(reply).functionId(id).returnCode(kBusy);
    return 0;
}

bool IpcConnectionCap::isBusyReply(const Data& request, const Data& reply) {
    Data expected;
    return busyReply(request, expected) == 0 && expected.Size() == reply.Size() &&
           std::equal(expected.Bytes(), expected.Bytes() + expected.Size(), reply.Bytes());
}
