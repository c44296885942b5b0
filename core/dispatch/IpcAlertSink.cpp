#include "core/dispatch/IpcAlertSink.h"

#include "core/ipc/IpcNamedPipeEndpoint.h"

namespace {
IpcAlertSink& processSink() {
    // Left alive at exit: a printer's read thread may still be inside a callback then.
    static IpcAlertSink* sink = new IpcAlertSink();
    return *sink;
}
}  // namespace

IpcAlertSink::IpcAlertSink(uint32_t callbackMs) : callbackMs_(callbackMs) {}

uint32_t IpcAlertSink::sendCallback(const CallbackRecord& target, const std::string& properties,
                                    const uint8_t* bytes, uint32_t length) {
    IpcTimeouts timeouts;
    timeouts.callbackMs = callbackMs_.load();
    IpcNamedPipeEndpoint callback(timeouts);
    callback.setProperties(target.endpoint);
    return static_cast<uint32_t>(callback.sendCallback(properties, bytes, length, target.ownerSid));
}

void IpcAlertSink::install(AlertCallbackRegistry& registry, uint32_t callbackMs) {
    processSink().setCallbackBound(callbackMs);
    registry.setSink(&processSink());
}

void IpcAlertSink::uninstall(AlertCallbackRegistry& registry) { registry.setSink(nullptr); }
