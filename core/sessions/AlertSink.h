#pragma once
// Sends one "onCallback" message to a client's callback pipe and reads its reply. The IPC layer
// implements it; it must bound every wait, since it runs on a printer's read thread.
#include "core/sessions/CallbackRecord.h"

#include <cstdint>
#include <string>

class AlertSink {
public:
    virtual ~AlertSink();
    // target: the client's record (its pipe, and the user whose process must serve that pipe);
    // properties: Handler, Handle, ClientId; the alert packet's bytes. The client's answer (or
    // the failure code).
    virtual uint32_t sendCallback(const CallbackRecord& target, const std::string& properties,
                                  const uint8_t* bytes, uint32_t length) = 0;
};
