#include "client/TolvexClient.h"

#include "core/ipc/IpcCallbackMessage.h"
#include "core/ipc/IpcConnectionCap.h"
#include "include/TolvexProtocol.h"

namespace {
DWORD remainingOf(DWORD timeoutMs, ULONGLONG start) {
    const ULONGLONG spent = GetTickCount64() - start;
    return spent >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - spent);
}
}  // namespace

namespace TolvexClient {

std::string servicePipeName(const std::string& manufacturerPrefix) {
    return manufacturerPrefix + TOLVEX_PIPE_NAME_SUFFIX;
}

int32_t call(const std::string& pipeName, const Data& request, Data& reply, uint32_t timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        IpcOverlappedNamedPipe pipe;
        int32_t rc = pipe.open(IpcOverlappedNamedPipe::kLocalPrefix + pipeName, remainingOf(timeoutMs, start));
        if (rc == 0) rc = pipe.write(request, remainingOf(timeoutMs, start));
        if (rc == 0) rc = pipe.read(reply, remainingOf(timeoutMs, start));
        if (rc != 0 || !IpcConnectionCap::isBusyReply(request, reply)) return rc;
        const DWORD left = remainingOf(timeoutMs, start);
        if (left == 0) return IpcOverlappedNamedPipe::kTimedOut;
        // No stop to wait on here: the caller's bound is the only one.
        Sleep(left < kBusyPauseMs ? left : kBusyPauseMs);
    }
}

}  // namespace TolvexClient

CallbackPipe::CallbackPipe(const std::string& name) : name_(name) {
    // The default descriptor lets the creator, SYSTEM (the service) and Administrators in.
    pipe_.create(name_, true, nullptr);
}

int32_t CallbackPipe::serveOne(const Handler& handler, uint32_t timeoutMs) {
    int32_t rc = pipe_.connect(timeoutMs);
    if (rc != 0) return rc;
    // Connected: the exchange has the service's own bound from here, whatever was left of the
    // wait, so that a service that came at its end is still answered. A service that gives up
    // sooner closes its end, which ends the read or the wait below at once.
    const ULONGLONG start = GetTickCount64();
    const DWORD bound = TOLVEX_CALLBACK_BOUND_MS;
    Data message;
    rc = pipe_.read(message, remainingOf(bound, start));
    std::string text;
    std::vector<uint8_t> packet;
    if (rc == 0) rc = IpcCallbackMessage::parse(message, text, packet);
    if (rc == 0) {
        int32_t answer = 0;
        try {
            answer = handler ? handler(text, packet) : 0;
        } catch (...) {
            answer = IpcCallbackMessage::kNoValidReply;
        }
        rc = pipe_.write(IpcCallbackMessage::buildReply(answer), remainingOf(bound, start));
        // Disconnecting discards what the service has not read yet: it closes once it has.
        if (rc == 0) pipe_.waitForPeerClose(remainingOf(bound, start));
    }
    DisconnectNamedPipe(pipe_.handle());
    return rc;
}
