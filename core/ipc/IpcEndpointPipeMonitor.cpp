#include "core/ipc/IpcEndpointPipeMonitor.h"

IpcEndpointPipeMonitor::IpcEndpointPipeMonitor(IpcEndpoints& endpoints, FunctionMapper& mapper,
                                               const IpcTimeouts& timeouts)
    : endpoints_(endpoints), mapper_(mapper), timeouts_(timeouts), started_(true, false), stop_(true, false),
      running_(false), listening_(timeouts), runnable_(*this, &IpcEndpointPipeMonitor::loop) {
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
    HANDLE waits[2] = {started_.handle(), thread_->handle()};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
}

uint32_t IpcEndpointPipeMonitor::loop() {
    running_.store(true);
    started_.set();
    while (!stop_.isSignalled()) {
        if (!listening_.hasInstance() && !listening_.listen()) {
            stop_.wait(timeouts_.retryMs);
            continue;
        }
        std::unique_ptr<IpcNamedPipeEndpoint> connection = listening_.acceptConnection();
        if (connection) {
            IpcNamedPipeEndpoint* started = connection.get();
            // The list owns it now and keeps it until it reports closed, which only its own
            // thread (or a failed start) does.
            if (endpoints_.add(std::move(connection))) started->start();
            continue;
        }
        // A client that came and went leaves the instance ready; any other failure gave the
        // instance up and a fresh one is made after a pause.
        if (listening_.lastAcceptCode() != ERROR_NO_DATA) stop_.wait(timeouts_.retryMs);
    }
    running_.store(false);
    return 0;
}

void IpcEndpointPipeMonitor::stop() {
    stop_.set();
    listening_.stop();
    thread_.reset();
    listening_.close();
}
