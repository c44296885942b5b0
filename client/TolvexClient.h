#pragma once
// What a client program needs to talk to the service: one request per connection over the
// service pipe, and a callback pipe that the service connects to with alerts. Payloads are
// built and read with the codec (IpcParameterWriter, IpcParameterReader, IpcCallbackMessage).
#include "core/ipc/IpcMessageFrame.h"
#include "core/ipc/IpcOverlappedNamedPipe.h"
#include "export/common/Data.h"
#include "runtime/Win32.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace TolvexClient {

constexpr uint32_t kDefaultTimeoutMs = 30000;
// The service closed the connection without a reply (an unknown function, a malformed request).
constexpr int32_t kNoReply = IpcOverlappedNamedPipe::kNoMessage;  // 109
// The pause before a request answered busy is sent again.
constexpr uint32_t kBusyPauseMs = 50;

// prefix + "_BidiAlertDataChannel_".
std::string servicePipeName(const std::string& manufacturerPrefix);

// Connects to "\\.\pipe\" + pipeName (waiting while every instance is busy), writes request as
// one frame and reads the reply frame (at most the frame cap), all within timeoutMs. A service
// at its connection cap answers busy (IpcConnectionCap::isBusyReply); that counts as a busy
// pipe too, and the request is sent again after a short pause. 0 with the reply payload, or:
// the system's code when the pipe cannot be opened, 1460 when the time ran out (busy
// throughout included), kNoReply, or a frame code (IpcMessageFrame) for a malformed reply.
int32_t call(const std::string& pipeName, const Data& request, Data& reply,
             uint32_t timeoutMs = kDefaultTimeoutMs);

}  // namespace TolvexClient

// A callback pipe served by a client: one instance of "\\.\pipe\" + name that the service
// connects to for each alert. serveOne() belongs to one thread; stop() may come from any.
class CallbackPipe {
public:
    // Receives the callback property text and the alert packet; returns the code to answer.
    using Handler = std::function<int32_t(const std::string& text, const std::vector<uint8_t>& packet)>;

    // Creates the instance (remote clients refused); raises Win32Exception when it cannot.
    explicit CallbackPipe(const std::string& name);
    CallbackPipe(const CallbackPipe&) = delete;
    CallbackPipe& operator=(const CallbackPipe&) = delete;

    // Waits up to timeoutMs for the service to connect, reads one "onCallback" message, answers
    // it with handler's code, and gets the instance ready for the next one. Once connected, the
    // exchange has up to TOLVEX_CALLBACK_BOUND_MS of its own, however little of timeoutMs was
    // left. 0 when a callback was answered; otherwise the pipe's code, or the codec's code for a
    // message that is not a callback (answered with nothing).
    int32_t serveOne(const Handler& handler, uint32_t timeoutMs);
    // Ends a pending serveOne() (kStopped) and every later one.
    void stop() { pipe_.requestStop(); }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    IpcOverlappedNamedPipe pipe_;
};
