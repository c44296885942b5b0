#include "tools/bench/BreakdownBench.h"

#include "core/ipc/IpcOverlappedNamedPipe.h"
#include "core/ipc/PipeIdentity.h"
#include "core/usb/BidiUsbEndpoints.h"
#include "core/usb/port/BcxServiceUsbPort.h"
#include "config/Localize.h"
#include "core/interpreters/InterpreterManager.h"
#include "core/usb/port/BidiUsbAdapter.h"
#include "core/usb/port/InterpreterManagerLookup.h"
#include "export/common/PropertyAccessor.h"
#include "core/usb/port/NpaPacketProtocol.h"
#include "core/usb/port/PacketSink.h"
#include "logging/LogFacade.h"
#include "logging/LogLine.h"
#include "runtime/Exception.h"
#include "runtime/Monitor.h"
#include "runtime/Thread.h"
#include "runtime/ThreadPool.h"
#include "tools/bench/BenchClock.h"
#include "tools/bench/BenchNpaLookup.h"
#include "tools/bench/BenchPrinter.h"
#include "tools/bench/BenchStats.h"

#include <atomic>
#include <fstream>
#include <functional>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <type_traits>

namespace {

using namespace BenchTable;

struct NullSession : PacketSink {
    void onPacket(const Data&) override {}
};

// Counts the lookups the port and the protocol make through it.
class CountingLookup : public InterpreterLookup {
public:
    explicit CountingLookup(InterpreterLookup& inner) : inner_(inner) {}
    CommandManager* getCommandManager(const std::string& text) override {
        ++calls;
        return inner_.getCommandManager(text);
    }
    PacketManager* getPacketManager(const Data& buffer) override {
        ++calls;
        return inner_.getPacketManager(buffer);
    }
    std::atomic<uint64_t> calls{0};

private:
    InterpreterLookup& inner_;
};

// The service's own lookup (the interpreter manager with the plug-in beside this program, branded
// by the branding file there), or null when it cannot be set up.
InterpreterLookup* serviceLookup() {
    try {
        char path[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
        Localize::createInstance(nullptr, std::string(path, n));
        std::string text;
        PropertyAccessor().SetString(text, PropertyAccessor::Prefix, Localize::getInstance().getManufacturerPrefix() + "__");
        InterpreterManager::createInstance(text);
        return &InterpreterManagerLookup::instance();
    } catch (const Exception& e) {
        std::printf("# breakdown: the service's interpreter lookup cannot be set up: code %d\n", e.code());
        return nullptr;
    }
}

struct StartProbe : Runnable {
    uint32_t run() override {
        begunUs = benchNowUs();
        return 0;
    }
    double begunUs = 0;
};

// Thread starts and joins per second made by `starters` threads at once in this process, for
// about `ms` milliseconds: what one service process can pay for connections and read loops.
double threadStartsPerSecond(int starters, DWORD ms, ThreadPool* pool) {
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> done{0};
    std::vector<std::thread> loops;
    const double t0 = benchNowUs();
    for (int i = 0; i < starters; ++i) {
        loops.emplace_back([&] {
            while (!stop.load()) {
                StartProbe probe;
                Thread thread(probe, pool);
                thread.start();
                if (thread.waitForEnd(5000)) done.fetch_add(1);
            }
        });
    }
    Sleep(ms);
    stop = true;
    for (std::thread& t : loops) t.join();
    const double seconds = (benchNowUs() - t0) / 1e6;
    return seconds > 0 ? static_cast<double>(done.load()) / seconds : 0;
}

// A row without a target: what was measured, its value and how it was taken.
BenchRow infoRow(const std::string& measurement, const std::string& value, const std::string& how) {
    return BenchRow{measurement, value, how, "-", "-"};
}

// "N x each = total" for a cost an exchange pays N times.
std::string timesEach(double n, const BenchSummary& each) {
    return each.count == 0 ? "not measured" : number(n) + " x " + micros(each.p50) + " = " + micros(n * each.p50);
}

BenchRow stepRow(const std::string& step, const std::vector<double>& samples, const std::string& how) {
    const BenchSummary s = BenchStats::summarize(samples);
    std::printf("# breakdown %s: n=%zu p50=%.1f us p99=%.1f us (%s)\n", step.c_str(), s.count, s.p50, s.p99, how.c_str());
    return infoRow("  step: " + step, s.count == 0 ? "not measured" : micros(s.p50) + " p50", how);
}

// The request and reply messages of an exchange between a client and a served pipe instance:
// how long the server's reply write takes while the client waits in its read.
void pipeSteps(uint32_t iterations, std::vector<double>& requestRead, std::vector<double>& identity,
               std::vector<double>& replyWrite) {
    const std::string name = "QvBenchPipe" + std::to_string(GetCurrentProcessId()) + "x" + std::to_string(GetTickCount64());
    IpcOverlappedNamedPipe server;
    server.create(name, true, nullptr);
    std::atomic<bool> failed{false};
    std::thread client([&] {
        IpcOverlappedNamedPipe pipe;
        if (pipe.open(IpcOverlappedNamedPipe::kLocalPrefix + name, 5000) != 0) {
            failed.store(true);
            return;
        }
        const Data request(std::vector<uint8_t>(60, 0x11).data(), 60);
        Data reply;
        for (uint32_t i = 0; i < iterations; ++i) {
            if (pipe.write(request, 5000) != 0 || pipe.read(reply, 5000) != 0) {
                failed.store(true);
                return;
            }
        }
    });
    if (server.connect(5000) == 0) {
        const Data reply(std::vector<uint8_t>(120, 0x22).data(), 120);
        Data request;
        for (uint32_t i = 0; i < iterations && !failed.load(); ++i) {
            // The request is on its way as soon as the client has written it: the read below
            // measures the wait plus the read, so the client's write is part of it.
            const double t0 = benchNowUs();
            if (server.read(request, 5000) != 0) break;
            const double t1 = benchNowUs();
            // What every request pays before it is dispatched: who the caller is.
            const CallerIdentity caller = PipeIdentity::client(server.handle());
            const double t2 = benchNowUs();
            if (server.write(reply, 5000) != 0) break;
            const double t3 = benchNowUs();
            requestRead.push_back(t1 - t0);
            if (caller.known()) identity.push_back(t2 - t1);
            replyWrite.push_back(t3 - t2);
        }
    }
    server.requestStop();
    client.join();
}

// Lines the service's log facade writes for one exchange: logging is switched on for a name of
// this process only (its own registry switch and file), a few exchanges are made, the file's
// lines counted, and the switch and the file removed again.
double logLinesPerExchange(const std::function<void()>& exchangeOnce, uint32_t exchanges) {
    LogFacade& facade = LogFacade::getInstance();
    const std::string name = "QvBenchLog" + std::to_string(GetCurrentProcessId());
    facade.setShortName(name);
    facade.setPrefix(name);
    const std::string key = logSwitchKeyPath(name);
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) != 0) return 0;
    DWORD on = 1;
    RegSetValueExA(handle, "startLog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
    for (uint32_t i = 0; i < exchanges; ++i) exchangeOnce();
    DWORD off = 0;
    RegSetValueExA(handle, "startLog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof off);
    RegCloseKey(handle);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    const std::string path = facade.logPath();
    size_t lines = 0;
    {
        std::ifstream file(path);
        std::string line;
        while (std::getline(file, line)) ++lines;
    }
    DeleteFileA(path.c_str());
    return static_cast<double>(lines) / exchanges;
}

}  // namespace

namespace BreakdownBench {

void run(const BreakdownInputs& in, uint32_t iterations, std::vector<BenchRow>& rows) {
    std::vector<double> threadStart, threadStartJoin, ownStart, pipesOpen, portConnect, modeSwitch, exchangeWait,
        stopReading, wake, stdWake, spooler, requestRead, identity, replyWrite, logCall, logCallKeyAtZero, portWhole,
        quickWhole, lookupCounts, lookupCall;
    double linesPerExchange = 0;
    // Connection thread start: what the pipe monitor pays for every client connection, on the
    // request path's pool as the service starts them, and on a thread of its own for reference.
    for (ThreadPool* pool : {&ThreadPool::requestPath(), static_cast<ThreadPool*>(nullptr)}) {
        for (uint32_t i = 0; i < iterations; ++i) {
            StartProbe probe;
            Thread thread(probe, pool);
            const double t0 = benchNowUs();
            thread.start();
            thread.waitForEnd(5000);
            const double t1 = benchNowUs();
            (pool != nullptr ? threadStart : ownStart).push_back(probe.begunUs - t0);
            if (pool != nullptr) threadStartJoin.push_back(t1 - t0);
        }
    }

    // One thread starting threads against two at once, in this one process.
    const DWORD scalingMs = iterations >= 100 ? 1500 : 300;
    const double oneStarter = threadStartsPerSecond(1, scalingMs, &ThreadPool::requestPath());
    const double twoStarters = threadStartsPerSecond(2, scalingMs, &ThreadPool::requestPath());

    // Reply wake-up: the read thread's notify to the sender waiting in the packet protocol, with
    // the lock the protocol uses and, for reference, the standard library's.
    const auto wakeUps = [iterations](auto& lock, auto notifyAll, auto waitFor, std::vector<double>& into) {
        uint64_t posted = 0, seen = 0;
        double postedAt = 0;
        bool done = false;
        std::thread waker([&] {
            for (uint32_t i = 0; i < iterations; ++i) {
                {
                    std::unique_lock<std::remove_reference_t<decltype(lock)>> guard(lock);
                    // The previous wake-up has been taken before the next is posted.
                    waitFor(guard, [&] { return seen == posted; });
                    ++posted;
                    postedAt = benchNowUs();
                }
                notifyAll();
            }
            std::lock_guard<std::remove_reference_t<decltype(lock)>> guard(lock);
            done = true;
        });
        for (uint32_t i = 0; i < iterations; ++i) {
            std::unique_lock<std::remove_reference_t<decltype(lock)>> guard(lock);
            if (!waitFor(guard, [&] { return posted > seen || done; })) break;
            if (posted == seen) break;
            into.push_back(benchNowUs() - postedAt);
            seen = posted;
            guard.unlock();
            notifyAll();
        }
        waker.join();
    };
    {
        Monitor monitor;
        wakeUps(
            monitor, [&] { monitor.notifyAll(); },
            [&](std::unique_lock<Monitor>&, const std::function<bool()>& done) { return monitor.waitUntil(5000, done); },
            wake);
        std::mutex lock;
        std::condition_variable signal;
        wakeUps(
            lock, [&] { signal.notify_all(); },
            [&](std::unique_lock<std::mutex>& guard, const std::function<bool()>& done) {
                return signal.wait_for(guard, std::chrono::seconds(5), done);
            },
            stdWake);
    }
    pipeSteps(iterations, requestRead, identity, replyWrite);

    BenchPrinter printer(in.devicePath);
    BenchNpaLookup lookup;
    try {
        printer.start();
        const std::string transport = "<PORTNAME>USB001</PORTNAME><DEVICEPATH>" + in.devicePath +
                                      "</DEVICEPATH><1284DEVICEIDSTRING>MFG:Quorvel;MODEL:Q100 Series;CMD:NPA;</1284DEVICEIDSTRING>";
        // The printer's pipes opened and closed on their own.
        for (uint32_t i = 0; i < iterations; ++i) {
            BidiUsbEndpoints endpoints(transport);
            const double t0 = benchNowUs();
            const uint32_t rc = endpoints.open();
            const double t1 = benchNowUs();
            // The printer takes the next open only once it has accepted this one.
            if (rc == 0 && printer.waitForAccepted(2 * (i + 1), 5000)) pipesOpen.push_back(t1 - t0);
        }
        // The service's spooler probe, asked before every write to the printer.
        {
            BidiUsbAdapter adapter;
            for (uint32_t i = 0; i < iterations; ++i) {
                const double t0 = benchNowUs();
                adapter.isPrinting("USB001");
                spooler.push_back(benchNowUs() - t0);
            }
        }
        // One exchange as a session makes it: connect (pipes, read thread, NPA mode), the
        // request and its reply, disconnect (the read thread stops, the pipes close); with the
        // service's interpreter lookup (counted), alternating with a port whose lookup keeps what
        // it found (the NPA managers directly), so the two differ only in their lookup.
        InterpreterLookup* service = serviceLookup();
        CountingLookup counted(service != nullptr ? *service : static_cast<InterpreterLookup&>(lookup));
        BidiUsbAdapter adapter;
        BcxServiceUsbPort port(transport, counted, adapter);
        NullSession session;
        NpaPacketProtocol protocol(session, port, counted);
        BidiUsbAdapter quickAdapter;
        BcxServiceUsbPort quickPort(transport, lookup, quickAdapter);
        NpaPacketProtocol quickProtocol(session, quickPort, lookup);
        auto exchangeOn = [&](BcxServiceUsbPort& p, NpaPacketProtocol& proto, double* steps) {
            const double t0 = benchNowUs();
            const uint32_t rc = p.connect();
            const double t1 = benchNowUs();
            Data request(in.queryAll.data(), static_cast<uint32_t>(in.queryAll.size()));
            proto.send(request);
            Data reply;
            const bool replied = proto.takeReply(reply);
            const double t2 = benchNowUs();
            p.disconnect();
            const double t3 = benchNowUs();
            steps[0] = t1 - t0;
            steps[1] = t2 - t1;
            steps[2] = t3 - t2;
            return rc == 0 && request.Status() == 0 && replied;
        };
        for (uint32_t i = 0; i < iterations; ++i) {
            double steps[3];
            const uint64_t before = counted.calls.load();
            if (exchangeOn(port, protocol, steps)) {
                portConnect.push_back(steps[0]);
                exchangeWait.push_back(steps[1]);
                stopReading.push_back(steps[2]);
                portWhole.push_back(steps[0] + steps[1] + steps[2]);
                lookupCounts.push_back(static_cast<double>(counted.calls.load() - before));
            }
            if (exchangeOn(quickPort, quickProtocol, steps)) quickWhole.push_back(steps[0] + steps[1] + steps[2]);
        }
        // One lookup of each kind the read thread makes, through the service's lookup.
        if (service != nullptr) {
            const std::vector<uint8_t> replyBytes = {0xA5, 0x00, 0x06, 0x40, 0xE0, 0x81, 0x00, 0x00, 0x00};
            const Data replyPacket(replyBytes.data(), static_cast<uint32_t>(replyBytes.size()));
            for (uint32_t i = 0; i < iterations; ++i) {
                const double t0 = benchNowUs();
                service->getPacketManager(replyPacket);
                lookupCall.push_back(benchNowUs() - t0);
            }
        }
        // The NPA mode switch alone: a connect while the port is already reading only writes it.
        if (port.connect() == 0) {
            for (uint32_t i = 0; i < iterations; ++i) {
                const double t0 = benchNowUs();
                const uint32_t rc = port.connect();
                const double t1 = benchNowUs();
                port.disconnect();
                if (rc == 0) modeSwitch.push_back(t1 - t0);
            }
        }
        port.disconnect();

        // The price of a log line while logging is off, and how many lines one exchange asks for.
        for (uint32_t i = 0; i < iterations; ++i) {
            const double t0 = benchNowUs();
            LogFacade::getInstance().log("BidiService", "BcxServiceUsbPort::read() loop");
            logCall.push_back(benchNowUs() - t0);
        }
        // The same with the switch's key present and at 0, as after an administrator switched
        // logging off again (logLinesPerExchange below leaves no key behind).
        {
            const std::string name = "QvBenchLogOff" + std::to_string(GetCurrentProcessId());
            const std::string kept = LogFacade::getInstance().shortName();
            const std::string key = logSwitchKeyPath(name);
            HKEY handle = nullptr;
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) == 0) {
                DWORD off = 0;
                RegSetValueExA(handle, "startLog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof off);
                LogFacade::getInstance().setShortName(name);
                for (uint32_t i = 0; i < iterations; ++i) {
                    const double t0 = benchNowUs();
                    LogFacade::getInstance().log("BidiService", "BcxServiceUsbPort::read() loop");
                    logCallKeyAtZero.push_back(benchNowUs() - t0);
                }
                LogFacade::getInstance().setShortName(kept);
                RegCloseKey(handle);
                RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
            }
        }
        linesPerExchange = logLinesPerExchange(
            [&] {
                port.connect();
                Data request(in.queryAll.data(), static_cast<uint32_t>(in.queryAll.size()));
                protocol.send(request);
                port.disconnect();
            },
            10);
    } catch (const Exception& e) {
        std::printf("# breakdown: the in-process printer failed: code %d\n", e.code());
    }
    printer.stop();
    // The service's lookup goes before the process ends, as the service's own stop releases it.
    if (InterpreterManager::exists()) InterpreterManager::destroyInstance();
    if (Localize::exists()) Localize::destroyInstance();

    rows.push_back(infoRow("breakdown of one exchange, no client registered (p50 each)",
                           in.serviceP50 > 0 ? micros(in.serviceP50) + " whole" : "-",
                           "how measured"));
    if (in.clientConnectP50 > 0) {
        rows.push_back(infoRow("  step: client connection",
                               micros(in.clientConnectP50) + " p50",
                               "client's pipe open, through the service"));
    }
    rows.push_back(stepRow("connection thread start", threadStart, "Thread start to run() on the request path's pool"));
    rows.push_back(stepRow("  thread start and join", threadStartJoin, "the same, start to end"));
    rows.push_back(stepRow("  a thread of its own instead", ownStart, "Thread start to run(), no pool, isolated"));
    {
        std::printf("# breakdown thread starts and joins per second in one process: 1 starter %.0f/s, 2 starters %.0f/s\n",
                    oneStarter, twoStarters);
        rows.push_back(infoRow("  pooled thread starts, 2 starting at once",
                               number(twoStarters) + " vs " + number(oneStarter) + " /s",
                               oneStarter > 0 ? ratio(twoStarters / oneStarter, "1 starting (one process)") : "-"));
    }
    rows.push_back(stepRow("request read (client write + read)", requestRead, "overlapped pipe, isolated"));
    rows.push_back(stepRow("caller identity read", identity, "PipeIdentity::client on the connection, isolated"));
    rows.push_back(stepRow("port connect", portConnect, "BcxServiceUsbPort::connect, first user"));
    rows.push_back(stepRow("  of it: printer pipes open", pipesOpen, "BidiUsbEndpoints::open, isolated"));
    rows.push_back(stepRow("  of it: mode switch", modeSwitch, "connect while reading: startNpaMode write"));
    rows.push_back(stepRow("  of it: spooler probe", spooler, "BidiUsbAdapter::isPrinting, isolated"));
    rows.push_back(stepRow("printer round trip + reply wake-up", exchangeWait, "NpaPacketProtocol::send"));
    if (in.floorP50 > 0) {
        rows.push_back(infoRow("  of it: printer round trip",
                               micros(in.floorP50) + " p50",
                               "the floor"));
    }
    rows.push_back(stepRow("  of it: reply wake-up", wake, "Monitor (slim lock, condition variable), isolated"));
    rows.push_back(stepRow("    with the standard library's instead", stdWake, "std::condition_variable, isolated"));
    rows.push_back(stepRow("stop of reading", stopReading, "BcxServiceUsbPort::disconnect, last user"));
    rows.push_back(stepRow("reply write", replyWrite, "overlapped pipe write, isolated"));
    {
        const BenchSummary calls = BenchStats::summarize(lookupCounts);
        const BenchSummary each = BenchStats::summarize(lookupCall);
        std::printf("# breakdown interpreter lookups per port exchange: p50=%.0f; one packet-manager lookup p50=%.1f us p99=%.1f us\n",
                    calls.p50, each.p50, each.p99);
        rows.push_back(infoRow("  across the port steps: interpreter lookups",
                               timesEach(calls.p50, each),
                               "counted per exchange; InterpreterManagerLookup, isolated"));
        const BenchSummary now = BenchStats::summarize(portWhole);
        const BenchSummary kept = BenchStats::summarize(quickWhole);
        std::printf("# breakdown port exchange with the service's lookup: p50=%.1f us; with a lookup that keeps its managers: p50=%.1f us\n",
                    now.p50, kept.p50);
        rows.push_back(infoRow("  port exchange, lookup keeping its managers (proposed)",
                               kept.count == 0 ? "not measured" : micros(kept.p50) + " p50",
                               now.p50 > 0 && kept.count > 0 ? ratio(kept.p50 / now.p50, "with the service's lookup (" + micros(now.p50) + ")") : "-"));
    }
    {
        const BenchSummary s = BenchStats::summarize(logCall);
        std::printf("# breakdown log line with logging off: n=%zu p50=%.1f us p99=%.1f us; %.1f lines per port exchange\n",
                    s.count, s.p50, s.p99, linesPerExchange);
        rows.push_back(infoRow("  across the port steps: log lines (logging off)",
                               timesEach(linesPerExchange, s),
                               "lines counted with logging on; LogFacade::log, switch key absent, isolated"));
        const BenchSummary z = BenchStats::summarize(logCallKeyAtZero);
        std::printf("# breakdown log line with the switch key present at 0: n=%zu p50=%.1f us p99=%.1f us\n", z.count, z.p50, z.p99);
        rows.push_back(infoRow("    the same with the switch key present at 0",
                               timesEach(linesPerExchange, z),
                               "LogFacade::log, \"startLog\" = 0, isolated"));
    }
}

}  // namespace BreakdownBench
