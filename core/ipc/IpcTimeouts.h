#pragma once
// The bounds of the client transport: times in milliseconds, and how many connections are served
// at once. Defaults are the service's; tests lower them.
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
    // Connections served at once; each holds a thread until its reply is out (a request waiting on
    // a printer, up to its reply time-out). One arriving beyond this is answered busy (231) by the
    // monitor: 64 is far more than the drivers and tools of one computer keep open together, and
    // few enough threads that a local flood cannot exhaust the service.
    uint32_t maxConnections = 64;
    // Instances of the service pipe listening at once, made ahead of the clients: a burst of up to
    // this many clients connects without a busy answer while the monitor makes the next ones. At
    // most maxConnections and 62 (one wait covers them all and the stop).
    uint32_t listeningInstances = 16;
    // A connection beyond the cap must deliver its request within this, or it is closed without
    // an answer; taking the answer has the same bound. The monitor thread waits meanwhile.
    uint32_t busyAnswerMs = 250;
};
