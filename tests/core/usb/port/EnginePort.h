#pragma once
// A port for portable tests: writes go to the simulated printer's protocol engine, and what the
// printer writes back is cut by the framing step and delivered to the observers on a thread of
// its own, at the times the engine schedules, one printer write per read. Every wait is bounded.
#include "core/usb/port/FramingStep.h"
#include "core/usb/port/Port.h"
#include "tests/core/usb/port/NpaTestLookup.h"
#include "tools/simulator/NpaPrinterEngine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class EnginePort : public Port, private FramingSink {
public:
    explicit EnginePort(NpaTestLookup& lookup)
        : Port("<PORTNAME>USB001</PORTNAME>"), lookup_(lookup), start_(std::chrono::steady_clock::now()) {
        pump_ = std::thread([this] { pump(); });
    }
    ~EnginePort() override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping_ = true;
        }
        changed_.notify_all();
        pump_.join();
    }

    // Counted like the USB port: the sessions' tests check that every use is given back.
    uint32_t connect() override {
        std::lock_guard<std::mutex> guard(lock_);
        ++connects;
        openCount_.addReference();
        return connectResult;
    }
    uint32_t disconnect() override {
        openCount_.releaseReference();
        return 0;
    }
    void killReadThread() override {
        ++kills;
        while (openCount_.releaseReference() > 0) {
        }
    }

    uint32_t exchangeBidi(Data& request) override {
        std::lock_guard<std::mutex> guard(lock_);
        ++writes;
        if (refuseWith != 0) {
            request.SetStatus(static_cast<int32_t>(refuseWith));
            return refuseWith;
        }
        request.SetStatus(0);
        if (acceptNothing) {
            request.SetCount(0);
            return 0;
        }
        request.SetCount(static_cast<int32_t>(request.Size()));
        engine.feed(request.Bytes(), request.Size(), now());
        changed_.notify_all();
        return 0;
    }

    // Lets the pump deliver bytes the engine has queued meanwhile (after a direct engine call).
    void wake() { changed_.notify_all(); }
    // What the USB port reports when reading works again after the printer was away.
    void reportReadingRestored() { notifyReadingRestored(); }

    std::mutex lock_;  // guards engine and the fields below
    NpaPrinterEngine engine;
    uint32_t refuseWith = 0;
    bool acceptNothing = false;
    int writes = 0;
    int connects = 0;
    std::atomic<int> kills{0};
    uint32_t connectResult = 0;
    uint64_t shortPackets = 0;

private:
    uint64_t now() const {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count());
    }

    void deliverPacket(Data& packet) override { notifyData(&packet); }
    void keepShortPacket(const Data&) override { ++shortPackets; }

    void pump() {
        std::unique_lock<std::mutex> guard(lock_);
        while (!stopping_) {
            NpaPrinterWrite write;
            if (engine.takeDue(now(), write)) {
                const Data bytes(write.bytes.data(), static_cast<uint32_t>(write.bytes.size()));
                guard.unlock();
                FramingStep::run(storage_, bytes, 0, lookup_, *this);
                guard.lock();
                continue;
            }
            uint64_t due = 0;
            const uint64_t waitMs = engine.nextDue(due) ? (due > now() ? due - now() : 0) : 50;
            changed_.wait_for(guard, std::chrono::milliseconds(waitMs));
        }
    }

    NpaTestLookup& lookup_;
    const std::chrono::steady_clock::time_point start_;
    std::condition_variable changed_;
    bool stopping_ = false;
    Data storage_;  // pump thread only
    std::thread pump_;
};
