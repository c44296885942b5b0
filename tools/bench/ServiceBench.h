#pragma once
// The measurements through the running service (tolvex.exe under the service control manager):
// exchange round trips against the direct floor, throughput, alert fan-out and idle cost. The
// simulated printers the service talks to are served by this process, so that alerts can be
// sent on demand and timed on one clock. Windows only.
#include "client/TolvexClient.h"
#include "tools/bench/BenchOptions.h"
#include "tools/bench/BenchStats.h"
#include "tools/bench/BenchTable.h"
#include "tools/tolvexctl/CtlMessages.h"
#include "tools/bench/BenchPrinter.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One client's callback pipe, served on its own thread; records when each alert arrived.
class AlertWatcher {
public:
    explicit AlertWatcher(const std::string& pipeName);
    ~AlertWatcher();
    AlertWatcher(const AlertWatcher&) = delete;
    AlertWatcher& operator=(const AlertWatcher&) = delete;

    const std::string& pipeName() const { return pipe_.name(); }
    // The arrival time (benchNowUs) of alert number n (from 1), once it has come within timeoutMs.
    bool waitFor(uint64_t n, DWORD timeoutMs, double& arrivedUs);

private:
    void serve();

    CallbackPipe pipe_;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<double> times_;
    std::thread thread_;
};

// The service's functions as the benchmark uses them, through the client library.
class ServiceLink {
public:
    explicit ServiceLink(const std::string& pipeName) : pipe_(pipeName) {}
    int32_t clientId(const std::string& name, uint32_t& id);
    int32_t open(const std::string& port, uint32_t& handle);
    int32_t close(uint32_t handle);
    // One exchange; connectUs (if given) gets the time the client spent opening the pipe.
    // replySize: the buffer the client asks for (tolvexctl's, the largest NPA packet, by default).
    int32_t exchange(uint32_t handle, const std::vector<uint8_t>& packet, std::vector<uint8_t>& answer,
                     double* connectUs = nullptr, uint32_t replySize = CtlMessages::kExchangeReplySize);
    int32_t registerAlerts(uint32_t client, uint32_t handle, const std::string& callbackPipe);
    int32_t unregisterAlerts(uint32_t client, uint32_t handle);
    // Waits until the service answers (a freshly started service), up to timeoutMs.
    bool waitForService(DWORD timeoutMs);

private:
    int32_t simple(const Data& request);
    std::string pipe_;
};

class ServiceBench {
public:
    explicit ServiceBench(const BenchOptions& options);
    ~ServiceBench();

    // Starts the simulated printers (the service's and the floor's); false with a message.
    bool start(std::string& error);
    void exchange(std::vector<BenchRow>& rows);
    void throughput(std::vector<BenchRow>& rows);
    void fanout(std::vector<BenchRow>& rows);
    void idle(std::vector<BenchRow>& rows);
    // 16 clients at once on one printer: busy answers per request.
    void burst(std::vector<BenchRow>& rows);
    // The service stopped through the service control manager while clients exchange on both
    // printers: how long until it reports stopped. Leaves the service stopped: the last one.
    void stopUnderLoad(std::vector<BenchRow>& rows);

    // Client-side connection time of an exchange through the service, p50 (for the breakdown).
    double clientConnectP50() const { return clientConnectP50_; }
    double floorP50() const { return floorP50_; }
    double serviceP50() const { return serviceP50_; }
    BenchPrinter* printer(const std::string& port);
    std::string devicePath(const std::string& name) const { return options_.deviceBase + name; }
    const std::vector<uint8_t>& queryAll() const { return queryAll_; }

private:
    uint32_t handleOf(const std::string& port);
    double cpuSecondsOfService(bool& ok) const;

    const BenchOptions options_;
    ServiceLink link_;
    std::vector<uint8_t> queryAll_;
    std::map<std::string, std::unique_ptr<BenchPrinter>> printers_;
    std::unique_ptr<BenchPrinter> floor_;
    double clientConnectP50_ = 0;
    double floorP50_ = 0;
    double serviceP50_ = 0;
};
