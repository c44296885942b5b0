#include "core/usb/port/NpaPacketProtocol.h"

#include "core/usb/port/FramingStep.h"
#include "export/common/PropertyAccessor.h"


NpaPacketProtocol::NpaPacketProtocol(PacketSink& session, Port& port, InterpreterLookup& lookup)
    : PacketProtocol(session, port),
      lookup_(lookup),
      pendingCommand_(nullptr),
      acknowledgeSeen_(false),
      replied_(false),
      aborted_(false),
      replyTimeout_(kDefaultTimeout) {}

NpaPacketProtocol::~NpaPacketProtocol() {
    // Detach before the members go: a delivery already inside onData finishes first.
    detachFromPort();
}

bool NpaPacketProtocol::isAcknowledge(const Data& packet) {
    static const uint8_t kHead[7] = {0xA5, 0x00, 0x05, 0x40, 0xFF, 0x80, 0x00};
    if (packet.Size() != 8) return false;
    for (int i = 0; i < 7; ++i) {
        if (packet.Bytes()[i] != kHead[i]) return false;
    }
    return true;
}

void NpaPacketProtocol::setTimeout(uint32_t milliseconds) { replyTimeout_.store(milliseconds); }

bool NpaPacketProtocol::takeReply(Data& reply) {
    std::lock_guard<Monitor> guard(lock_);
    if (!replied_) return false;
    reply = reply_;
    return true;
}

void NpaPacketProtocol::onData(Data* packet) {
    if (packet == nullptr) return;
    if (isAcknowledge(*packet)) {
        // The session sees the packet before the sender's clock restarts.
        session_.onPacket(*packet);
        {
            std::lock_guard<Monitor> guard(lock_);
            acknowledgeSeen_ = true;
        }
        lock_.notifyAll();
        return;
    }
    storage_.Append(*packet);
    PacketManager* manager = lookup_.getPacketManager(storage_);
    Data out;
    while (storage_.Size() != 0) {
        out.Clear();
        int32_t consumed = 0;
        if (manager->Unwrap(storage_, out, consumed) != 0) break;
        if (consumed <= 0 || static_cast<uint32_t>(consumed) > storage_.Size()) break;
        storage_.Consume(static_cast<uint32_t>(consumed), true);
        session_.onPacket(out);
        bool matched = false;
        {
            std::lock_guard<Monitor> guard(lock_);
            if (pendingCommand_ != nullptr && !replied_ && pendingCommand_->IsReplyTo(out)) {
                reply_ = out;
                replied_ = true;
                matched = true;
            }
        }
        if (matched) lock_.notifyAll();
        manager->Reset(out);
    }
    // The same bound as the port's own buffer (see FramingStep).
    if (storage_.Size() > FramingStep::kMaxPendingBytes) storage_.Clear();
}

void NpaPacketProtocol::abort() {
    std::lock_guard<Monitor> guard(lock_);
    aborted_ = true;
    lock_.notifyAll();
}

void NpaPacketProtocol::send(Data& request) {
    {
        std::lock_guard<Monitor> guard(lock_);
        if (aborted_) {
            request.SetStatus(static_cast<int32_t>(kAborted));
            return;
        }
    }
    const uint32_t total = request.Size();
    uint32_t sent = 0;
    std::string text;
    PropertyAccessor().SetByteArray(text, PropertyAccessor::DataByteArray, request.Bytes(), request.Size());
    CommandManager* manager = lookup_.getCommandManager(text);
    Command* command = manager->Create(text);
    const bool expectsReply = command != nullptr && command->ExpectsReply();
    {
        // Armed before anything is written: a fast printer may answer before write returns.
        std::lock_guard<Monitor> guard(lock_);
        pendingCommand_ = expectsReply ? command : nullptr;
        replied_ = false;
        acknowledgeSeen_ = false;
        reply_.Clear();
    }
    while (request.Size() != 0 && sent < total) {
        try {
            port_.exchangeBidi(request);
        } catch (...) {
            // The command below must still go back to its manager.
            request.SetStatus(static_cast<int32_t>(kInternalError));
        }
        if (request.Status() != 0) break;
        const int32_t n = request.Count();
        if (n <= 0) {
            // A write that succeeds without taking a byte would loop here for ever.
            request.SetStatus(static_cast<int32_t>(kWriteFault));
            break;
        }
        sent += static_cast<uint32_t>(n);
        request.Consume(static_cast<uint32_t>(n), false);
    }
    if (expectsReply && request.Status() == 0 && sent == total) {
        std::unique_lock<Monitor> guard(lock_);
        for (;;) {
            lock_.waitUntil(replyTimeout_.load(), [&] { return replied_ || acknowledgeSeen_ || aborted_; });
            if (replied_) break;
            if (aborted_) {
                request.SetStatus(static_cast<int32_t>(kAborted));
                break;
            }
            if (acknowledgeSeen_) {
                // The printer is working on it: each acknowledge grants a full time-out again.
                acknowledgeSeen_ = false;
                continue;
            }
            request.SetStatus(static_cast<int32_t>(kTimedOut));
            break;
        }
    }
    {
        std::lock_guard<Monitor> guard(lock_);
        pendingCommand_ = nullptr;
    }
    manager->Destroy(command);
}
