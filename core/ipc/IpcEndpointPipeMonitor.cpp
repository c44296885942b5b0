#include "core/ipc/IpcEndpointPipeMonitor.h"

#include "logging/LogFacade.h"

#include <algorithm>

namespace {
void log(const std::string& text) { LogFacade::getInstance().log("BidiService", "IpcEndpointPipeMonitor " + text); }
}  // namespace

IpcEndpointPipeMonitor::IpcEndpointPipeMonitor(IpcEndpoints& endpoints, FunctionMapper& mapper,
                                               const IpcTimeouts& timeouts)
    : endpoints_(endpoints), mapper_(mapper), timeouts_(timeouts), cap_(timeouts.maxConnections),
      started_(true, false), stop_(true, false), running_(false), runnable_(*this, &IpcEndpointPipeMonitor::loop) {
    // One wait covers the stop event and every instance.
    constexpr uint32_t kMostInstances = MAXIMUM_WAIT_OBJECTS - 2;
    const uint32_t wanted = std::max<uint32_t>(1, std::min({timeouts.listeningInstances, timeouts.maxConnections,
                                                            kMostInstances}));
    for (uint32_t i = 0; i < wanted; ++i) {
        listeners_.emplace_back(new IpcNamedPipeEndpoint(timeouts));
        listeners_.back()->setMapper(&mapper_);
    }
}

IpcEndpointPipeMonitor::~IpcEndpointPipeMonitor() { stop(); }

void IpcEndpointPipeMonitor::setProperties(const std::string& text) {
    for (auto& listener : listeners_) listener->setProperties(text);
}

void IpcEndpointPipeMonitor::start() {
    if (thread_) return;
    listeners_.front()->listenFirst();
    started_.reset();
    std::unique_ptr<Thread> thread(new Thread(runnable_));
    try {
        thread->start();
    } catch (...) {
        listeners_.front()->close();
        throw;
    }
    thread_ = std::move(thread);
    // Bounded by the thread itself: it sets the event first thing.
    HANDLE waits[2] = {started_.handle(), thread_->endHandle()};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
}

void IpcEndpointPipeMonitor::serve(std::unique_ptr<IpcNamedPipeEndpoint> connection, std::string& line) {
    // Only this thread adds to the list, so the count cannot grow past the cap meanwhile.
    const bool admitted = cap_.admit(endpoints_.size(), line);
    if (!line.empty()) log(line);
    if (!admitted) {
        connection->answerBusy(timeouts_.busyAnswerMs);
        return;
    }
    IpcNamedPipeEndpoint* started = connection.get();
    // The list owns it now and keeps it until it reports closed, which only its own thread (or a
    // failed start) does.
    if (endpoints_.add(std::move(connection))) started->start();
}

uint32_t IpcEndpointPipeMonitor::loop() {
    running_.store(true);
    started_.set();
    std::string line;
    const size_t count = listeners_.size();
    // The code each listener's wait began with: ERROR_IO_PENDING while it waits, 0 when a client
    // is connected already, -1 when no wait has begun.
    std::vector<int32_t> begun(count, -1);
    std::vector<HANDLE> handles;
    std::vector<size_t> owner;
    while (!stopping_.load()) {
        bool retry = false;
        handles.assign(1, stop_.handle());
        owner.assign(1, count);
        for (size_t i = 0; i < count; ++i) {
            // A client may connect to an instance before it is waited on (the connect then ends
            // at once); such a client is served and the instance's successor waited on before
            // this thread sleeps, or a client connecting to that successor would wait with it.
            while (begun[i] != ERROR_IO_PENDING) {
                if (begun[i] == -1) {
                    begun[i] = listeners_[i]->beginAccept();
                    // A client that came and went leaves the instance ready: wait again at once.
                    if (begun[i] == ERROR_NO_DATA) begun[i] = listeners_[i]->beginAccept();
                    if (begun[i] != 0 && begun[i] != ERROR_IO_PENDING) {
                        // No instance could be made, or it broke: the others listen meanwhile;
                        // the pause keeps a failure that repeats from spinning.
                        begun[i] = -1;
                        retry = true;
                        break;
                    }
                    continue;
                }
                begun[i] = -1;
                std::unique_ptr<IpcNamedPipeEndpoint> connection = listeners_[i]->completeAccept(0);
                if (connection) serve(std::move(connection), line);
                if (!listeners_[i]->hasInstance()) {
                    retry = true;
                    break;
                }
            }
            if (begun[i] != ERROR_IO_PENDING) continue;
            handles.push_back(listeners_[i]->acceptEvent());
            owner.push_back(i);
        }
        const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                               retry ? timeouts_.retryMs : INFINITE);
        if (r == WAIT_OBJECT_0 || r == WAIT_TIMEOUT || r >= WAIT_OBJECT_0 + handles.size()) continue;
        const size_t i = owner[r - WAIT_OBJECT_0];
        const int32_t started = begun[i];
        begun[i] = -1;
        std::unique_ptr<IpcNamedPipeEndpoint> connection = listeners_[i]->completeAccept(started);
        if (connection) serve(std::move(connection), line);
    }
    for (size_t i = 0; i < count; ++i) {
        if (begun[i] == ERROR_IO_PENDING) listeners_[i]->cancelAccept();
    }
    line = cap_.openEpisodeLine();
    if (!line.empty()) log(line);
    running_.store(false);
    return 0;
}

void IpcEndpointPipeMonitor::stop() {
    stopping_.store(true);
    stop_.set();
    for (auto& listener : listeners_) listener->stop();
    thread_.reset();
    for (auto& listener : listeners_) listener->close();
}
