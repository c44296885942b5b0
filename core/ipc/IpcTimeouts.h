#pragma once
// The bounds of the client transport, in milliseconds. Defaults are the service's; tests shorten
// them.
#include <cstdint>

struct IpcTimeouts {
    // A connection must deliver its whole request within this, or it is closed.
    uint32_t requestMs = 10000;
    // Writing a reply to a client that does not read gives up after this.
    uint32_t replyWriteMs = 10000;
    // After the reply, how long the client may take to read it and close before we drop it.
    uint32_t lingerMs = 2000;
    // An alert callback, from opening the client's pipe to its reply. It runs on a printer's read
    // thread, so a silent client must not hold that thread longer.
    uint32_t callbackMs = 2000;
    // The monitor's pause after a failure to create or connect an instance.
    uint32_t retryMs = 500;
};
