#pragma once
// The service's dispatch stack in this test process: the IPC controller with the service's
// function mapper on a pipe of the test's own, sessions on USB ports through the interpreter
// manager's lookup (the NPA plug-in), alerts over the clients' callback pipes. A test starts it
// after its printers are there and stops it before they go.
#include "core/dispatch/DispatchWiring.h"
#include "core/dispatch/IpcAlertSink.h"
#include "core/ipc/IPCController.h"
#include "core/sessions/AlertCallbackRegistry.h"
#include "core/sessions/Printer.h"
#include "core/sessions/PrinterOperations.h"
#include "core/sessions/PrinterTable.h"
#include "core/sessions/UsbPortFactory.h"
#include "core/usb/port/InterpreterManagerLookup.h"
#include "tests/core/ipc/IpcTestPipes.h"

#include <functional>
#include <string>

class InProcessService {
public:
    // log receives the sessions' log lines (none when empty).
    explicit InProcessService(std::function<void(const std::string&)> log = nullptr)
        : services{lookup, callbacks, &factory, std::move(log)} {}
    ~InProcessService() { stop(); }
    InProcessService(const InProcessService&) = delete;
    InProcessService& operator=(const InProcessService&) = delete;

    // Serves a fresh pipe named after stem; callbacks to clients are bounded by callbackMs.
    void start(const std::string& stem, uint32_t callbackMs) {
        pipeName_ = uniquePipeName(stem);
        IpcControllerConfig config;
        config.pipeName = pipeName_;
        config.timeouts.callbackMs = callbackMs;
        DispatchWiring::wire(config, operations, callbacks);
        config.stopSessions = [this] { table.destroyAll(); };
        IPCController::configure(config);
        IPCController::ipcStart();
        started_ = true;
    }
    // What the service's stop does with these pieces; nothing when not started.
    void stop() {
        if (!started_) return;
        started_ = false;
        IPCController::ipcStop();
        IpcAlertSink::uninstall(callbacks);
        table.destroyAll();
    }
    const std::string& pipeName() const { return pipeName_; }

    InterpreterManagerLookup lookup;
    UsbPortFactory factory{lookup};
    AlertCallbackRegistry callbacks;
    SessionServices services;
    PrinterTable table;
    PrinterOperations operations{services, table};

private:
    std::string pipeName_;
    bool started_ = false;
};
