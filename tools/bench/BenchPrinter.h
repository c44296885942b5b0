#pragma once
// A simulated NPA printer that answers the way firmware does: the thread that completes the read
// of a request writes the reply before it reads again, with no timer, no scripted delay and no
// hand-over to another thread. PIPE00 (the host writes) and PIPE01 (the host reads) each keep an
// instance listening ahead, so the host may reopen them at any time; PIPE01's connections are
// accepted on a thread of their own. The benchmark's floor and the printers it serves to the
// service are of this kind. start() raises Win32Exception; the rest is safe from any thread and
// every wait is bounded.
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"
#include "tools/simulator/NpaPrinterEngine.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class BenchPrinter {
public:
    explicit BenchPrinter(const std::string& devicePath);
    // stop().
    ~BenchPrinter();
    BenchPrinter(const BenchPrinter&) = delete;
    BenchPrinter& operator=(const BenchPrinter&) = delete;

    // Creates the first instances of both pipes and starts serving them.
    void start();
    // Ends both threads and closes every instance.
    void stop();

    const std::string& devicePath() const { return devicePath_; }
    // A control packet written now; false when silent or when nobody reads PIPE01.
    bool sendAlert();
    // A silent printer reads requests and writes nothing.
    void setSilent(bool silent);
    // Requests read so far, and replies that had to wait for PIPE01's connection to be accepted
    // (Wine reports a connection some time after the host's open has returned).
    uint64_t requests() const { return requests_.load(); }
    uint64_t repliesDelayed() const { return delayed_.load(); }
    // Waits until count connections (of either pipe) have been accepted, each with the next
    // instance of its pipe listening already: false when they were not within timeoutMs.
    bool waitForAccepted(uint64_t count, DWORD timeoutMs);

private:
    struct Instance;
    static std::unique_ptr<Instance> listen(const std::string& name, bool printerWrites);
    static bool startRead(Instance& instance);
    static void retire(std::unique_ptr<Instance>& instance);
    void serve(bool printerWrites, std::unique_ptr<Instance> listening);
    // Writes every write the engine has due now to the connected PIPE01, in order.
    void writeDue();
    void publish(HANDLE pipe01);

    const std::string devicePath_;
    UniqueHandle stop_;
    std::atomic<uint64_t> requests_{0};
    std::atomic<uint64_t> delayed_{0};

    std::mutex engineLock_;  // the engine, and the writes it hands out (kept in order)
    NpaPrinterEngine engine_;

    std::mutex outLock_;  // the PIPE01 connection writers use
    std::condition_variable outChanged_;
    HANDLE out_ = nullptr;  // owned by the PIPE01 thread
    uint64_t outGeneration_ = 0;  // moves on with every connection published
    uint64_t accepted_ = 0;
    UniqueHandle outEvent_;
    bool stopping_ = false;

    std::thread requestsThread_;
    std::thread repliesThread_;
};
