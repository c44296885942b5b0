#pragma once
// Delivers alerts for the callback registry: each callback opens the client's pipe (on this
// computer only), sends "onCallback" and reads the answer, all within the callback bound, so a
// silent client holds a printer's read thread no longer than that. Any thread; stateless apart
// from the bound, which may change while callbacks run.
#include "core/ipc/IpcTimeouts.h"
#include "core/sessions/AlertCallbackRegistry.h"
#include "core/sessions/AlertSink.h"

#include <atomic>
#include <cstdint>
#include <string>

class IpcAlertSink : public AlertSink {
public:
    explicit IpcAlertSink(uint32_t callbackMs = IpcTimeouts().callbackMs);

    // The client's code, 123 for an endpoint that is not a local pipe, 5 for a pipe not served
    // by the registering user, 1460 when the bound ran out, 1359 when the pipe could not be used
    // or did not answer the callback.
    uint32_t sendCallback(const CallbackRecord& target, const std::string& properties, const uint8_t* bytes,
                          uint32_t length) override;
    void setCallbackBound(uint32_t callbackMs) { callbackMs_.store(callbackMs); }

    // Installs the process's sink (never destroyed, so a delivery in flight can always finish)
    // into registry with the given bound. uninstall() stops further deliveries through it.
    static void install(AlertCallbackRegistry& registry, uint32_t callbackMs);
    static void uninstall(AlertCallbackRegistry& registry);

private:
    std::atomic<uint32_t> callbackMs_;
};
