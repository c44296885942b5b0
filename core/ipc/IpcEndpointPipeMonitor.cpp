#include "core/ipc/IpcEndpointPipeMonitor.h"

#include "logging/LogFacade.h"

namespace {
void log(const std::string& text) { LogFacade::getInstance().log("BidiService", "IpcEndpointPipeMonitor " + text); }
}  // namespace

IpcEndpointPipeMonitor::IpcEndpointPipeMonitor(IpcEndpoints& endpoints, FunctionMapper& mapper,
                                               const IpcTimeouts& timeouts)
    : endpoints_(endpoints), mapper_(mapper), timeouts_(timeouts), cap_(timeouts.maxConnections),
      started_(true, false), stop_(true, false), running_(false), listening_(timeouts),
      runnable_(*this, &IpcEndpointPipeMonitor::loop) {
    listening_.setMapper(&mapper_);
}

IpcEndpointPipeMonitor::~IpcEndpointPipeMonitor() { stop(); }

void IpcEndpointPipeMonitor::start() {
    if (thread_) return;
    listening_.listenFirst();
    started_.reset();
    std::unique_ptr<Thread> thread(new Thread(runnable_));
    try {
        thread->start();
    } catch (...) {
        listening_.close();
        throw;
    }
    thread_ = std::move(thread);
    // Bounded by the thread itself: it sets the event first thing.
    HANDLE waits[2] = {started_.handle(), thread_->endHandle()};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
}

uint32_t IpcEndpointPipeMonitor::loop() {
    running_.store(true);
    started_.set();
    std::string line;
    while (!stop_.isSignalled()) {
        std::unique_ptr<IpcNamedPipeEndpoint> connection = listening_.acceptConnection();
        if (connection) {
            // Only this thread adds to the list, so the count cannot grow past the cap meanwhile.
            const bool admitted = cap_.admit(endpoints_.size(), line);
            if (!line.empty()) log(line);
            if (!admitted) {
                connection->answerBusy(timeouts_.busyAnswerMs);
                continue;
            }
            IpcNamedPipeEndpoint* started = connection.get();
            // The list owns it now and keeps it until it reports closed, which only its own
            // thread (or a failed start) does.
            if (endpoints_.add(std::move(connection))) started->start();
            continue;
        }
        // A client that came and went leaves the instance ready. Any other failure left a fresh
        // instance listening; the pause keeps a failure that repeats from spinning.
        if (listening_.lastAcceptCode() != ERROR_NO_DATA) stop_.wait(timeouts_.retryMs);
    }
    line = cap_.openEpisodeLine();
    if (!line.empty()) log(line);
    running_.store(false);
    return 0;
}

void IpcEndpointPipeMonitor::stop() {
    stop_.set();
    listening_.stop();
    thread_.reset();
    listening_.close();
}
