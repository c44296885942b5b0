#pragma once
// The NPA packet protocol. send() writes a request and, when its command expects a reply, blocks
// the calling thread until a packet that answers it arrives (kept as the reply), or the reply
// time-out passes without one (status 1460). Every acknowledge packet restarts the time-out.
// onData() runs on the port's read thread: it passes each packet to the session first and then
// wakes the sender if the packet answers the request in flight. One send at a time (callers hold
// the session lock). Portable.
#include "core/usb/port/InterpreterLookup.h"
#include "core/usb/port/PacketProtocol.h"
#include "runtime/Monitor.h"

#include <atomic>
#include <cstdint>

class NpaPacketProtocol : public PacketProtocol {
public:
    static constexpr uint32_t kDefaultTimeout = 10000;
    static constexpr uint32_t kTimedOut = 1460;
    // A write that reports success but takes no bytes.
    static constexpr uint32_t kWriteFault = 29;
    static constexpr uint32_t kInternalError = 1359;
    // The send was cut short because the service is stopping.
    static constexpr uint32_t kAborted = 995;

    NpaPacketProtocol(PacketSink& session, Port& port, InterpreterLookup& lookup);
    ~NpaPacketProtocol() override;

    void onData(Data* packet) override;
    // Outcome in request: status (0, the port's refusal or write error, 1460) and consumed bytes.
    void send(Data& request) override;
    void setTimeout(uint32_t milliseconds) override;
    uint32_t timeout() const { return replyTimeout_.load(); }

    // Ends a waiting send at once with status 995 and refuses every later send the same way, so
    // that a stopping service never waits out a reply time-out. Any thread; cannot be undone.
    void abort();

    // The packet that answered the last send, captured when it matched: later packets (alerts)
    // cannot replace it. False, and reply untouched, when the last send got no reply.
    bool takeReply(Data& reply);

    // The acknowledge packet: 8 bytes, A5 00 05 40 FF 80 00, the last byte not examined.
    static bool isAcknowledge(const Data& packet);

private:
    InterpreterLookup& lookup_;
    Data storage_;  // read thread only

    // The reply's hand-over from the read thread to the sender: a user-space wait (see Monitor).
    Monitor lock_;
    Command* pendingCommand_;
    bool acknowledgeSeen_;
    bool replied_;
    bool aborted_;
    Data reply_;
    std::atomic<uint32_t> replyTimeout_;
};
