#pragma once
// The command line of tolvex-bench: which measurements to run and how much of each.
//   tolvex-bench [exchange|throughput|burst|fanout|idle|breakdown|stop ...] [--quick] [--rows]
//                [--prefix P] [--pipe NAME] [--device-base PATH] [--exchanges N] [--block N]
//                [--throughput-ms N] [--alerts N] [--idle-ms N] [--service-wait-ms N]
//                [--service-unix-pid N]
// No measurement named means all of them. Portable.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct BenchOptions {
    std::set<std::string> measurements;  // empty: all
    bool rows = false;                   // print ROW lines for tolvex-bench-table, not a table
    std::string prefix = "Qv";
    std::string pipe;                    // empty: the service pipe of prefix
    std::string deviceBase = "\\\\.\\pipe\\QvBench\\";
    uint32_t exchanges = 2000;           // per variant of the exchange measurement
    uint32_t block = 200;                // exchanges per block; variants alternate block by block
    uint32_t throughputMs = 2400;        // per throughput configuration, in rounds of a quarter
    uint32_t alerts = 100;               // per fan-out width
    uint32_t idleMs = 10000;             // per idle window
    uint32_t serviceWaitMs = 20000;      // how long a service that is still starting is waited for
    uint32_t serviceUnixPid = 0;         // the service's process on the host (idle reads its CPU time)

    bool wants(const std::string& measurement) const;
    // The printers the service must know (declared in simulated-printers.xml), by port name.
    static std::vector<std::string> servicePorts() { return {"USB001", "USB002"}; }

    static const std::vector<std::string>& measurementNames();
    // False with a message in error for an unknown word, a missing or bad number, or a zero count.
    static bool parse(const std::vector<std::string>& args, BenchOptions& options, std::string& error);
};
