#pragma once
// The connection endpoints alive in the service, and the reaper thread that deletes each one
// once it reports closed (deleting waits for its thread). stop() ends the reaper, then stops the
// I/O of every remaining endpoint before waiting for its thread, so a connection blocked on a
// silent client cannot hold the service's stop. Any thread may add() and signal().
#include "core/ipc/IpcEndpoint.h"
#include "runtime/Event.h"
#include "runtime/Runnable.h"
#include "runtime/Thread.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

class IpcEndpoints {
public:
    // Starts the reaper thread; raises Win32Exception when it cannot.
    IpcEndpoints();
    ~IpcEndpoints();
    IpcEndpoints(const IpcEndpoints&) = delete;
    IpcEndpoints& operator=(const IpcEndpoints&) = delete;

    // Takes the endpoint and makes itself its owner; true when listed. After stop() the endpoint
    // is stopped and deleted at once (false).
    bool add(std::unique_ptr<IpcEndpoint> endpoint);
    // Wakes the reaper.
    void signal();
    // Ends the reaper and deletes every endpoint; idempotent.
    void stop();

    // Endpoints in the list, and endpoints reaped so far.
    std::size_t size() const;
    uint64_t reaped() const;
    // Waits up to timeoutMs until condition(size, reaped) holds; re-checked after every change.
    bool waitFor(const std::function<bool(std::size_t, uint64_t)>& condition, uint32_t timeoutMs) const;

private:
    uint32_t reap();

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::list<std::unique_ptr<IpcEndpoint>> endpoints_;
    uint64_t reaped_;
    bool stopped_;
    Event reaper_;
    RunnableMethod<IpcEndpoints> runnable_;
    Thread thread_;
};
