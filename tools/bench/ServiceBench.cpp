#include "tools/bench/ServiceBench.h"

#include "core/ipc/IpcConnectionCap.h"
#include "core/ipc/IpcOverlappedNamedPipe.h"
#include "include/TolvexProtocol.h"
#include "runtime/Exception.h"
#include "tools/bench/BenchClock.h"
#include "tools/bench/BenchNpaLookup.h"
#include "tools/bench/FloorClient.h"
#include "tools/tolvexctl/CtlMessages.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

constexpr DWORD kCallMs = 30000;
constexpr DWORD kAlertWaitMs = 10000;
constexpr uint32_t kWarmUp = 20;
// A reply buffer that holds any answer to queryAll, against tolvexctl's 65,538 bytes.
constexpr uint32_t kSmallReplySize = 4096;
// Device status alerts: the class the simulator's control packets belong to.
constexpr uint32_t kAlertMask = 1;

using namespace BenchTable;

std::string uniqueStem() {
    static std::atomic<unsigned> serial{0};
    return std::to_string(GetCurrentProcessId()) + "x" + std::to_string(GetTickCount64()) + "x" +
           std::to_string(serial++);
}

void note(const std::string& text) {
    std::printf("# %s\n", text.c_str());
    std::fflush(stdout);
}

std::string describe(const char* what, const BenchSummary& s) {
    char text[256];
    std::snprintf(text, sizeof text, "%s: n=%zu p50=%.1f us p99=%.1f us min=%.1f us mean=%.1f us max=%.1f us", what,
                  s.count, s.p50, s.p99, s.min, s.mean, s.max);
    return text;
}

BenchRow latencyRow(const std::string& name, double value, double reference, const std::string& refName,
                    double limit) {
    BenchRow r;
    r.measurement = name;
    r.value = micros(value);
    r.ratio = ratio(value / reference, refName);
    if (limit > 0) {
        r.target = "<= " + number(limit) + "x";
        r.result = verdict(value / reference <= limit);
    } else {
        r.target = "-";
        r.result = "-";
    }
    return r;
}

}  // namespace

AlertWatcher::AlertWatcher(const std::string& pipeName) : pipe_(pipeName), thread_([this] { serve(); }) {}

AlertWatcher::~AlertWatcher() {
    stopping_.store(true);
    pipe_.stop();
    thread_.join();
}

void AlertWatcher::serve() {
    const CallbackPipe::Handler record = [this](const std::string&, const std::vector<uint8_t>&) {
        const double t = benchNowUs();
        {
            std::lock_guard<std::mutex> guard(lock_);
            times_.push_back(t);
        }
        arrived_.notify_all();
        return 0;
    };
    while (!stopping_.load()) {
        const int32_t rc = pipe_.serveOne(record, 1000);
        if (rc == IpcOverlappedNamedPipe::kStopped) break;
    }
}

bool AlertWatcher::waitFor(uint64_t n, DWORD timeoutMs, double& arrivedUs) {
    std::unique_lock<std::mutex> guard(lock_);
    if (!arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return times_.size() >= n; })) return false;
    arrivedUs = times_[n - 1];
    return true;
}

int32_t ServiceLink::simple(const Data& request) {
    Data reply;
    int32_t rc = TolvexClient::call(pipe_, request, reply, kCallMs);
    return rc != 0 ? rc : CtlMessages::returnCode(request, reply);
}

int32_t ServiceLink::clientId(const std::string& name, uint32_t& id) {
    const Data request = CtlMessages::getClientId(name);
    Data reply;
    const int32_t rc = TolvexClient::call(pipe_, request, reply, kCallMs);
    return rc != 0 ? rc : CtlMessages::longResult(request, reply, id);
}

namespace {
// The bench names its ports itself, "USB" and three digits; the service refuses any other.
uint32_t portHandle(const std::string& port) {
    return port.size() > 3 ? TOLVEX_PORT_HANDLE(std::strtoul(port.c_str() + 3, nullptr, 10)) : 0;
}
}  // namespace

int32_t ServiceLink::open(const std::string& port, uint32_t& handle) {
    handle = portHandle(port);
    return simple(CtlMessages::openPrinterEx(port, handle));
}

int32_t ServiceLink::close(uint32_t handle) { return simple(CtlMessages::closePrinter(handle)); }

int32_t ServiceLink::exchange(uint32_t handle, const std::vector<uint8_t>& packet, std::vector<uint8_t>& answer,
                              double* connectUs, uint32_t replySize) {
    const Data request = CtlMessages::exchangeNpa(handle, packet, replySize);
    Data reply;
    int32_t rc = 0;
    if (connectUs == nullptr) {
        rc = TolvexClient::call(pipe_, request, reply, kCallMs);
    } else {
        // TolvexClient::call step by step, to tell the client's connection from the rest.
        const double t0 = benchNowUs();
        IpcOverlappedNamedPipe pipe;
        rc = pipe.open(IpcOverlappedNamedPipe::kLocalPrefix + pipe_, kCallMs);
        *connectUs = benchNowUs() - t0;
        if (rc == 0) rc = pipe.write(request, kCallMs);
        if (rc == 0) rc = pipe.read(reply, kCallMs);
    }
    if (rc != 0) return rc;
    rc = CtlMessages::exchangeResult(request, reply, answer);
    if (rc == 0 && (answer.empty() || answer[0] != 0xA5)) rc = 1629;
    return rc;
}

int32_t ServiceLink::registerAlerts(uint32_t client, uint32_t handle, const std::string& callbackPipe) {
    return simple(CtlMessages::registerForAlerts(client, handle, kAlertMask, callbackPipe));
}

int32_t ServiceLink::unregisterAlerts(uint32_t client, uint32_t handle) {
    return simple(CtlMessages::unregisterForAlerts(client, handle));
}

bool ServiceLink::waitForService(DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        uint32_t id = 0;
        if (clientId("tolvex-bench probe", id) == 0) return true;
        if (GetTickCount64() - start >= timeoutMs) return false;
        // Polling a service that is still starting: nothing to wait on but its pipe.
        Sleep(100);
    }
}

ServiceBench::ServiceBench(const BenchOptions& options)
    : options_(options),
      link_(options.pipe.empty() ? TolvexClient::servicePipeName(options.prefix) : options.pipe) {
    BenchNpaLookup lookup;
    const std::string text = CtlMessages::commandText("queryAll", {});
    CommandManager* manager = lookup.getCommandManager("<Interpreter>Npa</Interpreter>" + text);
    Command* command = manager->Create("<Interpreter>Npa</Interpreter>" + text);
    if (command != nullptr) queryAll_.assign(command->Bytes(), command->Bytes() + command->Size());
    manager->Destroy(command);
}

ServiceBench::~ServiceBench() {
    for (auto& p : printers_) p.second->stop();
    if (floor_) floor_->stop();
}

BenchPrinter* ServiceBench::printer(const std::string& port) {
    auto it = printers_.find(port);
    return it == printers_.end() ? nullptr : it->second.get();
}

bool ServiceBench::start(std::string& error) {
    if (queryAll_.empty()) {
        error = "the NPA interpreter built no queryAll packet";
        return false;
    }
    try {
        for (const std::string& port : BenchOptions::servicePorts()) {
            printers_[port].reset(new BenchPrinter(devicePath(port)));
            printers_[port]->start();
        }
        floor_.reset(new BenchPrinter(devicePath("FLOOR" + uniqueStem())));
        floor_->start();
    } catch (const Exception& e) {
        error = "cannot serve the simulated printers under " + options_.deviceBase + ": code " + std::to_string(e.code()) +
                " (another benchmark running?)";
        return false;
    }
    if (!link_.waitForService(options_.serviceWaitMs)) {
        error = "the service does not answer on its pipe";
        return false;
    }
    return true;
}

uint32_t ServiceBench::handleOf(const std::string& port) { return portHandle(port); }

void ServiceBench::exchange(std::vector<BenchRow>& rows) {
    FloorClient floor;
    uint32_t handle = 0;
    int32_t rc = floor.open(floor_->devicePath());
    if (rc == 0) rc = link_.open("USB001", handle);
    uint32_t client = 0;
    if (rc == 0) rc = link_.clientId("tolvex-bench exchange", client);
    if (rc != 0) {
        rows.push_back(BenchRow{"exchange queryAll", "not measured: code " + std::to_string(rc), "-", "-", "FAIL"});
        return;
    }
    AlertWatcher watcher("QvBench" + uniqueStem());
    std::vector<double> floorUs, plainUs, registeredUs, smallUs, plainConnectUs, registeredConnectUs, smallConnectUs;
    uint32_t failures = 0;
    std::vector<uint8_t> answer;
    double connect = 0;

    auto floorOnce = [&](bool keep) {
        const double t0 = benchNowUs();
        const int32_t r = floor.roundTrip(queryAll_, answer, kCallMs);
        const double dt = benchNowUs() - t0;
        if (r != 0) ++failures;
        if (keep && r == 0) floorUs.push_back(dt);
    };
    auto serviceOnce = [&](bool keep, std::vector<double>& into, std::vector<double>& connects,
                           uint32_t replySize = CtlMessages::kExchangeReplySize) {
        const double t0 = benchNowUs();
        const int32_t r = link_.exchange(handle, queryAll_, answer, &connect, replySize);
        const double dt = benchNowUs() - t0;
        if (r != 0) ++failures;
        if (keep && r == 0) {
            into.push_back(dt);
            connects.push_back(connect);
        }
    };
    for (uint32_t i = 0; i < kWarmUp; ++i) {
        floorOnce(false);
        serviceOnce(false, plainUs, plainConnectUs);
    }
    // The three variants alternate block by block, so that a noisy neighbour hits them alike.
    for (uint32_t done = 0; done < options_.exchanges; done += options_.block) {
        const uint32_t n = std::min(options_.block, options_.exchanges - done);
        for (uint32_t i = 0; i < n; ++i) floorOnce(true);
        for (uint32_t i = 0; i < n; ++i) serviceOnce(true, plainUs, plainConnectUs);
        if (link_.registerAlerts(client, handle, watcher.pipeName()) != 0) ++failures;
        for (uint32_t i = 0; i < n; ++i) serviceOnce(true, registeredUs, registeredConnectUs);
        // The same with a reply buffer sized for the answer instead of the largest NPA packet:
        // the reply then carries no padding for the client to read.
        for (uint32_t i = 0; i < n; ++i) serviceOnce(true, smallUs, smallConnectUs, kSmallReplySize);
        if (link_.unregisterAlerts(client, handle) != 0) ++failures;
    }
    link_.close(handle);

    const BenchSummary f = BenchStats::summarize(floorUs);
    const BenchSummary a = BenchStats::summarize(plainUs);
    const BenchSummary b = BenchStats::summarize(registeredUs);
    const BenchSummary bs = BenchStats::summarize(smallUs);
    const BenchSummary ac = BenchStats::summarize(plainConnectUs);
    const BenchSummary bc = BenchStats::summarize(registeredConnectUs);
    note(describe("floor (direct to the printer's pipes)", f));
    note(describe("service, no client registered", a));
    note(describe("service, one client registered", b));
    note(describe("service, one client registered, 4 KiB reply buffer", bs));
    note(describe("  client connection, no client registered", ac));
    note(describe("  client connection, one client registered", bc));
    if (failures != 0) note("exchange failures: " + std::to_string(failures));
    // Wine reports a connection to a listening pipe some time after the opener's open has
    // returned; a reply that had to wait for it is a cost of the printer, not of the service.
    note("printer replies that waited for their read pipe's connection: floor " + std::to_string(floor_->repliesDelayed()) +
         ", USB001 " + std::to_string(printer("USB001")->repliesDelayed()));
    floorP50_ = f.p50;
    serviceP50_ = a.p50;
    clientConnectP50_ = ac.p50;
    if (f.count == 0 || a.count == 0 || b.count == 0) {
        rows.push_back(BenchRow{"exchange queryAll", "not measured (" + std::to_string(failures) + " failures)", "-", "-", "FAIL"});
        return;
    }
    const std::string n = " (n=" + std::to_string(a.count) + ")";
    rows.push_back(latencyRow("exchange floor, direct to the printer, p50", f.p50, f.p50, "floor", 0));
    rows.push_back(latencyRow("exchange floor, direct to the printer, p99", f.p99, f.p99, "floor p99", 0));
    rows.push_back(latencyRow("exchange via service, no client registered, p50" + n, a.p50, f.p50, "floor", 10));
    rows.push_back(latencyRow("exchange via service, no client registered, p99", a.p99, f.p99, "floor p99", 0));
    rows.push_back(latencyRow("exchange via service, one client registered, p50", b.p50, f.p50, "floor", 6));
    rows.push_back(latencyRow("exchange via service, one client registered, p99", b.p99, f.p99, "floor p99", 0));
    if (bs.count > 0) {
        rows.push_back(latencyRow("  the same with a 4 KiB reply buffer (no 64 KiB padding), p50", bs.p50, f.p50, "floor", 0));
    }
    if (failures != 0) {
        rows.push_back(BenchRow{"exchange failures", std::to_string(failures), "-", "0", verdict(false)});
    }
}

void ServiceBench::throughput(std::vector<BenchRow>& rows) {
    struct Config {
        std::string name;
        std::vector<uint32_t> handles;  // one client thread per entry
        uint64_t exchanges = 0;
        double us = 0;
        uint32_t failures = 0;
    };
    uint32_t h1 = 0, h2 = 0;
    int32_t rc = link_.open("USB001", h1);
    if (rc == 0) rc = link_.open("USB002", h2);
    if (rc != 0) {
        rows.push_back(BenchRow{"throughput", "not measured: code " + std::to_string(rc), "-", "-", "FAIL"});
        return;
    }
    std::vector<Config> configs = {
        {"1 client, 1 printer", {h1}},
        {"2 clients, 1 printer", {h1, h1}},
        {"8 clients, 1 printer", std::vector<uint32_t>(8, h1)},
        {"2 clients, 2 printers", {h1, h2}},
    };
    constexpr uint32_t kRounds = 4;
    const DWORD slice = std::max<DWORD>(50, options_.throughputMs / kRounds);
    for (uint32_t round = 0; round < kRounds; ++round) {
        for (Config& c : configs) {
            std::atomic<bool> stop{false};
            std::atomic<uint64_t> count{0};
            std::atomic<uint32_t> failed{0};
            std::vector<std::thread> clients;
            const double t0 = benchNowUs();
            for (uint32_t handle : c.handles) {
                clients.emplace_back([&, handle] {
                    std::vector<uint8_t> answer;
                    while (!stop.load()) {
                        const int32_t r = link_.exchange(handle, queryAll_, answer);
                        if (r == 0) {
                            ++count;
                        } else {
                            if (failed.fetch_add(1) == 0) note("throughput " + c.name + ": first failure code " + std::to_string(r));
                        }
                    }
                });
            }
            // The measuring window itself, not a synchronisation.
            Sleep(slice);
            stop.store(true);
            for (auto& t : clients) t.join();
            c.us += benchNowUs() - t0;
            c.exchanges += count.load();
            c.failures += failed.load();
        }
    }
    link_.close(h1);
    link_.close(h2);

    auto rate = [](const Config& c) { return c.us > 0 ? static_cast<double>(c.exchanges) * 1e6 / c.us : 0.0; };
    const double one = rate(configs[0]);
    const double twoOnOne = rate(configs[1]);
    for (const Config& c : configs) {
        note("throughput " + c.name + ": " + std::to_string(c.exchanges) + " exchanges in " + number(c.us / 1000) +
             " ms, " + std::to_string(c.failures) + " failures");
        BenchRow r;
        r.measurement = "throughput, " + c.name;
        r.value = number(rate(c)) + " exchanges/s";
        r.ratio = one > 0 ? ratio(rate(c) / one, "1 client") : "-";
        r.target = "-";
        r.result = c.failures == 0 ? "-" : verdict(false) + std::string(" (") + std::to_string(c.failures) + " errors)";
        rows.push_back(r);
    }
    BenchRow scaling;
    scaling.measurement = "throughput, 2 printers against 1 (2 clients each)";
    scaling.value = number(rate(configs[3])) + " vs " + number(twoOnOne) + " /s";
    scaling.ratio = twoOnOne > 0 ? ratio(rate(configs[3]) / twoOnOne, "1 printer") : "-";
    scaling.target = ">= 1.6x";
    scaling.result = verdict(twoOnOne > 0 && rate(configs[3]) / twoOnOne >= 1.6);
    rows.push_back(scaling);
}

void ServiceBench::fanout(std::vector<BenchRow>& rows) {
    BenchPrinter* sim = printer("USB001");
    uint32_t handle = 0;
    int32_t rc = link_.open("USB001", handle);
    if (rc != 0 || sim == nullptr) {
        rows.push_back(BenchRow{"alert fan-out", "not measured: code " + std::to_string(rc), "-", "-", "FAIL"});
        return;
    }
    const std::vector<uint32_t> widths = {1, 4, 16};
    std::map<uint32_t, std::vector<double>> latencies;
    std::map<uint32_t, uint32_t> lost;
    constexpr uint32_t kRounds = 2;
    for (uint32_t round = 0; round < kRounds; ++round) {
        for (uint32_t k : widths) {
            std::vector<std::unique_ptr<AlertWatcher>> watchers;
            std::vector<uint32_t> clients;
            for (uint32_t i = 0; i < k; ++i) {
                uint32_t client = 0;
                if (link_.clientId("tolvex-bench fan-out", client) != 0) continue;
                std::unique_ptr<AlertWatcher> w(new AlertWatcher("QvBench" + uniqueStem()));
                if (link_.registerAlerts(client, handle, w->pipeName()) != 0) continue;
                watchers.push_back(std::move(w));
                clients.push_back(client);
            }
            if (watchers.size() != k) lost[k] += 1;
            const uint32_t alerts = std::max<uint32_t>(1, options_.alerts / kRounds);
            for (uint64_t a = 1; a <= alerts && watchers.size() == k; ++a) {
                const double t0 = benchNowUs();
                if (!sim->sendAlert()) {
                    ++lost[k];
                    continue;
                }
                double last = 0;
                bool all = true;
                for (auto& w : watchers) {
                    double at = 0;
                    if (!w->waitFor(a, kAlertWaitMs, at)) {
                        all = false;
                        break;
                    }
                    last = std::max(last, at);
                }
                if (!all) {
                    ++lost[k];
                    break;
                }
                latencies[k].push_back(last - t0);
            }
            for (uint32_t client : clients) link_.unregisterAlerts(client, handle);
        }
    }
    link_.close(handle);
    const double base = BenchStats::summarize(latencies[1]).p50;
    for (uint32_t k : widths) {
        const BenchSummary s = BenchStats::summarize(latencies[k]);
        note(describe(("alert fan-out K=" + std::to_string(k)).c_str(), s) + " lost=" + std::to_string(lost[k]));
        for (int q = 0; q < 2; ++q) {
            BenchRow r;
            r.measurement = "alert fan-out to the last of K=" + std::to_string(k) + (q == 0 ? ", p50" : ", p99");
            if (s.count == 0) {
                r.value = "not measured";
                r.ratio = "-";
            } else {
                r.value = micros(q == 0 ? s.p50 : s.p99);
                r.ratio = base > 0 ? ratio((q == 0 ? s.p50 : s.p99) / base, "K=1 p50") : "-";
            }
            // The target bounds the p50 of the widest fan-out against a single client.
            const bool targeted = k == widths.back() && q == 0;
            r.target = targeted ? "<= 4x" : "-";
            if (lost[k] != 0 || s.count == 0) {
                r.result = verdict(false) + std::string(" (") + std::to_string(lost[k]) + " lost)";
            } else {
                r.result = targeted ? verdict(base > 0 && s.p50 / base <= 4.0) : "-";
            }
            rows.push_back(r);
        }
    }
}

double ServiceBench::cpuSecondsOfService(bool& ok) const {
    // The host's process table through Wine's mapping of the host root: utime and stime are
    // the 12th and 13th fields after the parenthesised program name, in ticks of 1/100 s.
    ok = false;
    std::ifstream file("Z:\\proc\\" + std::to_string(options_.serviceUnixPid) + "\\stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 1));
    std::vector<std::string> f;
    std::string word;
    while (fields >> word) f.push_back(word);
    if (f.size() < 13) return 0;
    ok = true;
    return (std::stod(f[11]) + std::stod(f[12])) / 100.0;
}

void ServiceBench::idle(std::vector<BenchRow>& rows) {
    auto window = [&](const std::string& name, const std::function<bool()>& setUp, const std::function<void()>& tearDown) {
        BenchRow r;
        r.measurement = "idle CPU of the service, " + name + ", " + number(options_.idleMs / 1000.0) + " s";
        r.target = "< 1% of a core";
        r.ratio = "-";
        if (options_.serviceUnixPid == 0) {
            r.value = "not measured (no --service-unix-pid)";
            r.result = "-";
            rows.push_back(r);
            return;
        }
        if (!setUp()) {
            r.value = "not measured (set-up failed)";
            r.result = verdict(false);
            rows.push_back(r);
            return;
        }
        bool ok1 = false, ok2 = false;
        const double t0 = benchNowUs();
        const double c0 = cpuSecondsOfService(ok1);
        // The idle window itself.
        Sleep(options_.idleMs);
        const double c1 = cpuSecondsOfService(ok2);
        const double seconds = (benchNowUs() - t0) / 1e6;
        tearDown();
        if (!ok1 || !ok2) {
            r.value = "not measured (cannot read the service's CPU time)";
            r.result = verdict(false);
        } else {
            const double share = 100.0 * (c1 - c0) / seconds;
            r.value = number(share) + "% of a core (" + number((c1 - c0) * 1000) + " ms CPU)";
            r.result = verdict(share < 1.0);
        }
        rows.push_back(r);
    };
    window("no client", [] { return true; }, [] {});

    uint32_t handle = 0, client = 0;
    std::unique_ptr<AlertWatcher> watcher;
    BenchPrinter* sim = printer("USB001");
    window(
        "one registered client, silent printer",
        [&] {
            if (sim == nullptr || link_.open("USB001", handle) != 0) return false;
            if (link_.clientId("tolvex-bench idle", client) != 0) return false;
            watcher.reset(new AlertWatcher("QvBench" + uniqueStem()));
            if (link_.registerAlerts(client, handle, watcher->pipeName()) != 0) return false;
            sim->setSilent(true);
            return true;
        },
        [&] {
            // Speaking again first: the unregistration waits for the printer's reply.
            sim->setSilent(false);
            link_.unregisterAlerts(client, handle);
            link_.close(handle);
            watcher.reset();
        });
}

namespace {

// One exchange as a client developer writes it: CreateFile on the service pipe, and on
// ERROR_PIPE_BUSY a WaitNamedPipe before trying again; a busy answer from the service (at its
// connection cap) is tried again too. busy counts both kinds of busy answer.
int32_t countedExchange(const std::string& pipeName, const Data& request, Data& reply, uint64_t& busy) {
    const std::string path = IpcOverlappedNamedPipe::kLocalPrefix + pipeName;
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < kCallMs) {
        HANDLE h = CreateFileA(path.c_str(), IpcOverlappedNamedPipe::kClientAccess, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error != ERROR_PIPE_BUSY) return static_cast<int32_t>(error);
            ++busy;
            WaitNamedPipeA(path.c_str(), 100);
            continue;
        }
        IpcOverlappedNamedPipe pipe;
        pipe.adopt(h);
        int32_t rc = pipe.write(request, kCallMs);
        if (rc == 0) rc = pipe.read(reply, kCallMs);
        if (rc != 0) return rc;
        if (!IpcConnectionCap::isBusyReply(request, reply)) return 0;
        ++busy;
    }
    return ERROR_TIMEOUT;
}

}  // namespace

void ServiceBench::burst(std::vector<BenchRow>& rows) {
    constexpr uint32_t kClients = 16;
    const uint32_t perClient = std::max<uint32_t>(2, options_.exchanges / 40);
    uint32_t handle = 0;
    const int32_t opened = link_.open("USB001", handle);
    if (opened != 0) {
        rows.push_back(BenchRow{"16 clients at once", "not measured: code " + std::to_string(opened), "-", "-", "FAIL"});
        return;
    }
    const std::string pipeName = options_.pipe.empty() ? TolvexClient::servicePipeName(options_.prefix) : options_.pipe;
    UniqueHandle go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::atomic<uint64_t> busy{0}, answered{0}, failed{0};
    std::mutex lock;
    std::vector<double> latencies;
    std::vector<std::thread> clients;
    for (uint32_t c = 0; c < kClients; ++c) {
        clients.emplace_back([&] {
            // All clients start together: the burst is the point.
            WaitForSingleObject(go.get(), 10000);
            std::vector<double> mine;
            for (uint32_t i = 0; i < perClient; ++i) {
                const Data request = CtlMessages::exchangeNpa(handle, queryAll_);
                Data reply;
                uint64_t myBusy = 0;
                const double t0 = benchNowUs();
                int32_t rc = countedExchange(pipeName, request, reply, myBusy);
                const double dt = benchNowUs() - t0;
                std::vector<uint8_t> answer;
                if (rc == 0) rc = CtlMessages::exchangeResult(request, reply, answer);
                busy += myBusy;
                if (rc == 0) {
                    ++answered;
                    mine.push_back(dt);
                } else if (failed.fetch_add(1) == 0) {
                    note("16 clients at once: first failure code " + std::to_string(rc));
                }
            }
            std::lock_guard<std::mutex> guard(lock);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
        });
    }
    SetEvent(go.get());
    for (auto& t : clients) t.join();
    link_.close(handle);
    const uint64_t requests = static_cast<uint64_t>(kClients) * perClient;
    const BenchSummary s = BenchStats::summarize(latencies);
    note(describe("16 clients at once, one exchange each in turn", s) + " busy answers=" + std::to_string(busy.load()) +
         " failures=" + std::to_string(failed.load()));
    BenchRow r;
    r.measurement = "16 clients at once on 1 printer, busy answers per request (" + std::to_string(requests) + " requests)";
    const double perRequest = static_cast<double>(busy.load()) / static_cast<double>(requests);
    r.value = number(perRequest) + " (" + std::to_string(busy.load()) + " in all)";
    r.ratio = s.count > 0 ? "p50 " + micros(s.p50) + " per exchange" : "-";
    r.target = "< 1";
    r.result = failed.load() == 0 ? verdict(perRequest < 1.0)
                                  : verdict(false) + std::string(" (") + std::to_string(failed.load()) + " errors)";
    rows.push_back(r);
}

void ServiceBench::stopUnderLoad(std::vector<BenchRow>& rows) {
    BenchRow r;
    r.measurement = "stop of the service under load (8 clients on 2 printers, 1 registered)";
    r.ratio = "-";
    r.target = "<= 2 s";
    if (options_.serviceUnixPid == 0) {
        // Only scripts/bench names the installed service; a service in another process is not
        // ours to stop.
        r.value = "not measured (no installed service given)";
        r.result = "-";
        rows.push_back(r);
        return;
    }
    const std::string name = options_.prefix + "__tolvex";
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScHandle service(manager ? OpenServiceA(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS)
                                   : nullptr);
    uint32_t h1 = 0, h2 = 0, client = 0;
    int32_t rc = service ? 0 : static_cast<int32_t>(GetLastError());
    if (rc == 0) rc = link_.open("USB001", h1);
    if (rc == 0) rc = link_.open("USB002", h2);
    if (rc == 0) rc = link_.clientId("tolvex-bench stop", client);
    std::unique_ptr<AlertWatcher> watcher(new AlertWatcher("QvBench" + uniqueStem()));
    if (rc == 0) rc = link_.registerAlerts(client, h1, watcher->pipeName());
    if (rc != 0) {
        r.value = "not measured: code " + std::to_string(rc);
        r.result = verdict(false);
        rows.push_back(r);
        return;
    }
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> exchanges{0};
    std::vector<std::thread> clients;
    for (uint32_t i = 0; i < 8; ++i) {
        const uint32_t handle = i % 2 == 0 ? h1 : h2;
        clients.emplace_back([&, handle] {
            std::vector<uint8_t> answer;
            while (!stop.load()) {
                if (link_.exchange(handle, queryAll_, answer) == 0) {
                    ++exchanges;
                } else if (!stop.load()) {
                    // The service is going: its pipe refuses from now on.
                    break;
                }
            }
        });
    }
    // A window of load before the stop, not a synchronisation.
    Sleep(300);
    const uint64_t before = exchanges.load();
    SERVICE_STATUS status{};
    const double t0 = benchNowUs();
    const bool asked = ControlService(service.get(), SERVICE_CONTROL_STOP, &status) != FALSE;
    bool stopped = false;
    while (asked && benchNowUs() - t0 < 30e6) {
        if (!QueryServiceStatus(service.get(), &status)) break;
        if (status.dwCurrentState == SERVICE_STOPPED) {
            stopped = true;
            break;
        }
        // The service control manager is asked, not waited on: 5 ms is the resolution.
        Sleep(5);
    }
    const double ms = (benchNowUs() - t0) / 1000.0;
    stop.store(true);
    for (auto& t : clients) t.join();
    watcher.reset();
    note("stop under load: " + std::to_string(before) + " exchanges in the 300 ms before the stop; stopped=" +
         (stopped ? std::string("yes") : std::string("no")) + " after " + number(ms) + " ms");
    r.value = stopped ? micros(ms * 1000.0) : (asked ? "not stopped within 30 s" : "the stop was refused");
    r.result = verdict(stopped && ms <= 2000.0);
    rows.push_back(r);
}
