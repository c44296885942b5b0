#include "core/ipc/IpcEndpointPipeMonitor.h"

#include "logging/LogFacade.h"
#include "runtime/Exception.h"

#include <algorithm>
#include <exception>

namespace {
void log(const std::string& text) { LogFacade::getInstance().log("BidiService", "IpcEndpointPipeMonitor " + text); }

// This thread is the only one that accepts clients: an exception (no event or memory left for
// the next endpoint) must not end it, or the service would run on without answering anyone.
// False when step raised; the caller pauses and tries that listener again.
template <typename Step>
bool survived(const char* what, Step step) {
    try {
        step();
        return true;
    } catch (const Exception& e) {
        log(std::string(what) + " failed: rc=" + std::to_string(e.code()));
    } catch (const std::exception&) {
        log(std::string(what) + " failed: out of resources");
    }
    return false;
}
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

size_t IpcEndpointPipeMonitor::instancesAllowed(size_t live) const {
    const size_t cap = timeouts_.maxConnections;
    return std::max<size_t>(1, std::min(listeners_.size(), live < cap ? cap - live : 0));
}

size_t IpcEndpointPipeMonitor::instancesHeld(size_t except) const {
    size_t held = 0;
    for (size_t i = 0; i < listeners_.size(); ++i) {
        if (i != except && listeners_[i]->hasInstance()) ++held;
    }
    return held;
}

bool IpcEndpointPipeMonitor::anotherListens(size_t except) const {
    for (size_t i = 0; i < listeners_.size(); ++i) {
        if (i == except || !listeners_[i]->hasInstance() || begun_[i] == 0) continue;
        if (begun_[i] != ERROR_IO_PENDING || WaitForSingleObject(listeners_[i]->acceptEvent(), 0) == WAIT_TIMEOUT)
            return true;
    }
    return false;
}

bool IpcEndpointPipeMonitor::take(size_t i, int32_t begun, std::string& line) {
    // The instances left listening and the connections served stay within the cap (one instance
    // at least): every client that finds an instance is then served whatever order their
    // connections are seen in, and only one that came when all of the cap were taken is
    // answered busy. The waits below are looked at by index, not by arrival, so with more
    // instances than room a later client could take the place of an earlier one.
    const size_t live = endpoints_.size();
    const size_t after = live < timeouts_.maxConnections ? live + 1 : live;
    // Near the cap the others may all hold clients not taken yet: one of ours listens regardless.
    const bool successor = instancesHeld(i) < instancesAllowed(after) || !anotherListens(i);
    std::unique_ptr<IpcNamedPipeEndpoint> connection = listeners_[i]->completeAccept(begun, successor);
    if (connection) serve(std::move(connection), line);
    // A successor that could not be made (a stop, or a failure) leaves the endpoint empty.
    return !successor || listeners_[i]->hasInstance() || listeners_[i]->lastAcceptCode() == ERROR_NO_DATA;
}

uint32_t IpcEndpointPipeMonitor::loop() {
    running_.store(true);
    started_.set();
    std::string line;
    const size_t count = listeners_.size();
    std::vector<int32_t>& begun = begun_;
    begun.assign(count, -1);
    std::vector<HANDLE> handles;
    std::vector<size_t> owner;
    // The listeners whose clients are taken this round, and a pause owed to a failure.
    std::vector<size_t> round;
    std::vector<char> inRound(count, 0);
    bool retry = false;
    while (!stopping_.load()) {
        round.clear();
        std::fill(inRound.begin(), inRound.end(), 0);
        for (size_t i = 0; i < count; ++i) {
            if (begun[i] == -1) {
                // Connections that ended since make room for more instances.
                if (!listeners_[i]->hasInstance() && instancesHeld(i) >= instancesAllowed(endpoints_.size()))
                    continue;
                const bool began = survived("beginAccept()", [&] {
                    begun[i] = listeners_[i]->beginAccept();
                    // A client that came and went leaves the instance ready: wait again at once.
                    if (begun[i] == ERROR_NO_DATA) begun[i] = listeners_[i]->beginAccept();
                });
                if (!began) begun[i] = ERROR_INTERNAL_ERROR;
                if (begun[i] != 0 && begun[i] != ERROR_IO_PENDING) {
                    // No instance could be made, or it broke: the others listen meanwhile; the
                    // pause keeps a failure that repeats from spinning.
                    begun[i] = -1;
                    retry = true;
                    continue;
                }
            }
            // A client may connect before its instance is waited on; this thread does not sleep
            // then, or that client would wait with it.
            if (begun[i] == 0) {
                round.push_back(i);
                inRound[i] = 1;
            }
        }
        // Every client connected by the end of this look is taken before any that connects to
        // an instance made while they are taken: the wait reports the lowest index rather than
        // the first to come, so a later client could otherwise take an earlier one's place at
        // the cap. The first wait sleeps when no client is connected; the others only look.
        DWORD timeoutMs = !round.empty() ? 0 : retry ? timeouts_.retryMs : INFINITE;
        retry = false;
        for (;;) {
            handles.assign(1, stop_.handle());
            owner.assign(1, count);
            for (size_t i = 0; i < count; ++i) {
                if (begun[i] != ERROR_IO_PENDING || inRound[i]) continue;
                handles.push_back(listeners_[i]->acceptEvent());
                owner.push_back(i);
            }
            const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                                   timeoutMs);
            if (r == WAIT_OBJECT_0 || r == WAIT_TIMEOUT || r >= WAIT_OBJECT_0 + handles.size()) break;
            const size_t i = owner[r - WAIT_OBJECT_0];
            round.push_back(i);
            inRound[i] = 1;
            timeoutMs = 0;
        }
        if (stopping_.load()) break;
        for (const size_t i : round) {
            const int32_t started = begun[i];
            begun[i] = -1;
            bool taken = false;
            if (!survived("take()", [&] { taken = take(i, started, line); }) || !taken) retry = true;
        }
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
