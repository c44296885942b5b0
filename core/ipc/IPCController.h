#pragma once
// Brings the client transport up and down for the service: the endpoint list with its reaper,
// the function mapper, and the pipe monitor on prefix + "_BidiAlertDataChannel_". What the
// service wires in (the mapper, and stopping the printer sessions so that requests waiting on a
// printer end) is given through configure(). ipcStart and ipcStop come from the service's
// control thread, never at the same time; both raise Exception to the caller.
#include "core/ipc/FunctionMapper.h"
#include "core/ipc/IpcEndpoints.h"
#include "core/ipc/IpcTimeouts.h"

#include <functional>
#include <memory>
#include <string>

struct IpcControllerConfig {
    // Called by every ipcStart; required.
    std::function<std::unique_ptr<FunctionMapper>()> createMapper;
    // Called first by ipcStop; may be empty. It must make requests waiting on a printer return:
    // ipcStop waits for every connection thread, and a thread inside the mapper ends only when
    // the mapper returns.
    std::function<void()> stopSessions;
    // Empty: servicePipeName().
    std::string pipeName;
    IpcTimeouts timeouts;
};

class IPCController {
public:
    static constexpr const char* kPipeSuffix = "_BidiAlertDataChannel_";

    // Takes effect at the next ipcStart.
    static void configure(const IpcControllerConfig& config);
    // Does nothing while running. Raises Exception (after undoing what it began) when the mapper
    // is missing, the pipe name is taken or a thread cannot be started.
    static void ipcStart();
    // Stops the sessions, the monitor, then every connection (their pipes are stopped before
    // their threads are awaited), and only then deletes the mapper the connections use. Does
    // nothing when not running.
    static void ipcStop();
    static bool running();
    // The branding's manufacturer prefix + kPipeSuffix.
    static std::string servicePipeName();
    // The live endpoint list while running, else null; for observation only.
    static IpcEndpoints* endpoints();
};
