#pragma once
// One simulated NPA printer on the device-pipe interface: <DevicePath>\PIPE00 (the host writes
// requests, the printer reads) and <DevicePath>\PIPE01 (the printer writes, the host reads),
// byte-mode pipes that accept a new connection whenever the host reopens them. One worker thread
// serves both; every public operation is safe from any thread and every wait is bounded.
// Unplug closes both pipes (the host's reads and writes fail, opens fail with 2); replug listens
// again. Failures to create the pipes raise Win32Exception from start() and replug().
#include "runtime/Runnable.h"
#include "runtime/Thread.h"
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"
#include "tools/simulator/NpaPrinterEngine.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What the worker reports to a listener (on the worker thread, no lock held).
struct NpaSimulatorEvent {
    enum class Kind { Request, Wrote, Dropped, HostConnected, HostDisconnected, Unplugged, Plugged, Failed };
    Kind kind = Kind::Request;
    std::string pipe;              // "PIPE00" / "PIPE01" for connection events
    NpaReceivedRequest request;    // for Request
    std::string text;              // what was written or dropped, or the failure
    uint32_t bytes = 0;            // for Wrote and Dropped
    uint32_t code = 0;             // the system error of Failed / HostDisconnected
};

class NpaPrinterSimulator {
public:
    using Listener = std::function<void(const NpaSimulatorEvent&)>;
    static constexpr DWORD kDefaultWaitMs = 5000;

    // devicePath like \\.\pipe\QvSim\USB001. Nothing is created before start().
    explicit NpaPrinterSimulator(const std::string& devicePath, const NpaPrinterIdentity& identity = NpaPrinterIdentity());
    // Stops (bounded) if still running.
    ~NpaPrinterSimulator();
    NpaPrinterSimulator(const NpaPrinterSimulator&) = delete;
    NpaPrinterSimulator& operator=(const NpaPrinterSimulator&) = delete;

    // Before start(): receives every event on the worker thread; it must not call back into
    // operations that wait for the worker (unplug, replug, stop).
    void setListener(Listener listener);
    // Creates both pipes and starts serving, plugged in. Raises Win32Exception with the system's
    // code when a pipe cannot be created (for example a bad device path) or the worker cannot start.
    void start();
    // Closes the pipes and ends the worker. True when it ended within timeoutMs.
    bool stop(DWORD timeoutMs = kDefaultWaitMs);

    const std::string& devicePath() const { return devicePath_; }
    std::string hostWritePipe() const { return devicePath_ + "\\PIPE00"; }
    std::string hostReadPipe() const { return devicePath_ + "\\PIPE01"; }

    // Pulls the cable: both pipes closed, queued output and any partial request dropped. Returns
    // once done (false when the worker did not confirm within timeoutMs).
    bool unplug(DWORD timeoutMs = kDefaultWaitMs);
    // Plugs back in; a power-cycled printer forgets its alert registrations. Raises
    // Win32Exception when the pipes cannot be created again.
    bool replug(bool forgetRegistrations = true, DWORD timeoutMs = kDefaultWaitMs);
    bool isPlugged() const;

    // Scenario; applies to requests that arrive afterwards.
    void setDefaultBehaviour(const NpaReplyBehaviour& behaviour);
    void setBehaviour(NpaRequestKind kind, const NpaReplyBehaviour& behaviour);
    void clearBehaviours();
    void setSilent(bool silent);
    void setAlertTimer(uint32_t everyMs, bool onlyWhenRegistered = true);
    void setAdapterVariable(uint8_t component, uint8_t id, const std::vector<uint8_t>& value);
    // A control packet (or arbitrary bytes) as one write now. False when silent or full. Written
    // only while the host has PIPE01 open; otherwise dropped (reported as Dropped).
    bool sendAlert();
    bool sendBytes(const std::vector<uint8_t>& bytes);

    // Observations.
    std::vector<NpaReceivedRequest> requests() const;
    uint64_t countOf(NpaRequestKind kind) const;
    bool isRegistered() const;
    std::vector<NpaRegistration> registrations() const;
    uint32_t registeredAlertMask() const;
    // Writes the host has taken completely, and writes dropped because nobody read.
    uint64_t writesCompleted() const;
    uint64_t writesDropped() const;
    // Connections accepted on PIPE01 and PIPE00 since start.
    uint64_t hostReadConnections() const;
    uint64_t hostWriteConnections() const;
    // True while the host has both pipes open.
    bool hostConnected() const;

    // Waits until predicate (called under the simulator's lock with its engine) holds, or the
    // time is up. Re-evaluated after every step of the worker.
    bool waitUntil(const std::function<bool(const NpaPrinterEngine&)>& predicate, DWORD timeoutMs) const;
    bool waitForRequests(NpaRequestKind kind, uint64_t count, DWORD timeoutMs) const;
    bool waitForRegistered(bool registered, DWORD timeoutMs) const;
    bool waitForWritesCompleted(uint64_t count, DWORD timeoutMs) const;
    bool waitForHost(DWORD timeoutMs) const;

private:
    struct Pipe;
    enum class Control { None, Plug, Unplug, Stop };

    uint32_t run();
    void applyControl();
    void plug();
    void unplugPipes();
    void serveOnce();
    bool request(Control control, bool forget, DWORD timeoutMs);
    void emit(const NpaSimulatorEvent& event);
    uint64_t now() const;

    const std::string devicePath_;
    Listener listener_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    NpaPrinterEngine engine_;
    Control control_ = Control::None;
    bool forget_ = false;
    uint64_t controlRequested_ = 0;
    uint64_t controlDone_ = 0;
    uint32_t controlError_ = 0;
    bool plugged_ = false;
    bool stopping_ = false;
    bool running_ = false;
    uint64_t writesCompleted_ = 0;
    uint64_t writesDropped_ = 0;
    uint64_t readConnections_ = 0;
    uint64_t writeConnections_ = 0;
    bool hostReading_ = false;
    bool hostWriting_ = false;

    UniqueHandle wake_;
    std::unique_ptr<Pipe> toPrinter_;    // PIPE00
    std::unique_ptr<Pipe> fromPrinter_;  // PIPE01
    RunnableMethod<NpaPrinterSimulator> runnable_;
    std::unique_ptr<Thread> thread_;
};
