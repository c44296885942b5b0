#pragma once
// Keeps timeouts.listeningInstances instances of the service pipe listening (fewer near the cap:
// no more than the connections still allowed, and never none), all with the service pipe's
// descriptor, and hands each connected client to a new connection endpoint (given the mapper,
// added to the endpoint list, started) once an instance of ours exists besides its own, unless
// the list already holds timeouts.maxConnections: then the monitor answers the client busy itself
// (within twice busyAnswerMs) and closes it, logging episodes at the cap rather than refusals.
// start() creates the first instance (FILE_FLAG_FIRST_PIPE_INSTANCE) on the caller's thread, so a
// name already taken fails start-up with a Win32Exception instead of the service running without
// its pipe; the others follow on the monitor's thread. The mapper and the list are not owned and
// must outlive the monitor's stop. start() and stop() from one controlling thread.
#include "core/ipc/FunctionMapper.h"
#include "core/ipc/IpcConnectionCap.h"
#include "core/ipc/IpcEndpoints.h"
#include "core/ipc/IpcNamedPipeEndpoint.h"
#include "core/ipc/IpcTimeouts.h"
#include "runtime/Event.h"
#include "runtime/Runnable.h"
#include "runtime/Thread.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class IpcEndpointPipeMonitor {
public:
    IpcEndpointPipeMonitor(IpcEndpoints& endpoints, FunctionMapper& mapper,
                           const IpcTimeouts& timeouts = IpcTimeouts());
    // stop().
    ~IpcEndpointPipeMonitor();
    IpcEndpointPipeMonitor(const IpcEndpointPipeMonitor&) = delete;
    IpcEndpointPipeMonitor& operator=(const IpcEndpointPipeMonitor&) = delete;

    // The listening endpoints' property text (PIPENAME names the pipe).
    void setProperties(const std::string& text);
    std::string properties() { return listeners_.front()->properties(); }
    // Instances listening ahead (timeouts.listeningInstances within its bounds).
    size_t listeners() const { return listeners_.size(); }
    // Creates the first instance and starts the thread; returns once it runs. Raises when the
    // instance or the thread cannot be created; a second call does nothing. A stopped monitor
    // is not started again: make a new one.
    void start();
    // Ends the wait for a client and the thread, and closes the listening instance.
    void stop();
    bool running() const { return running_.load(); }

private:
    uint32_t loop();

    IpcEndpoints& endpoints_;
    FunctionMapper& mapper_;
    IpcTimeouts timeouts_;
    IpcConnectionCap cap_;
    Event started_;
    Event stop_;
    std::atomic<bool> stopping_{false};  // with stop_: looked at without a system call
    std::atomic<bool> running_;
    // A connected client: admitted (the endpoint list takes it and it starts) or answered busy.
    void serve(std::unique_ptr<IpcNamedPipeEndpoint> connection, std::string& line);
    // Listener i's client: handed on (with a successor instance when room is left) and served.
    // False when a successor was due but none could be made.
    bool take(size_t i, int32_t begun, std::string& line);
    // Instances that may listen while live connections are served; those held by the listeners
    // other than except.
    size_t instancesAllowed(size_t live) const;
    size_t instancesHeld(size_t except) const;
    // Whether a listener other than except holds an instance no client has connected to yet.
    bool anotherListens(size_t except) const;

    std::vector<std::unique_ptr<IpcNamedPipeEndpoint>> listeners_;
    // The monitor thread's: the code each listener's wait began with (ERROR_IO_PENDING while it
    // waits, 0 when a client is connected already, -1 when no wait has begun).
    std::vector<int32_t> begun_;
    RunnableMethod<IpcEndpointPipeMonitor> runnable_;
    std::unique_ptr<Thread> thread_;
};
