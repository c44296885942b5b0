// tolvex-bench: measures the running service under Wine (see BenchOptions.h for the command
// line, docs/performance.md for the measurements). Prints one table, or with --rows the table's
// rows for tolvex-bench-table. Exit code 0 when every measurement ran (targets met or not), 87
// for a bad command line, 1 when the service or the printers could not be reached.
#include "tools/bench/BenchOptions.h"
#include "tools/bench/BreakdownBench.h"
#include "tools/bench/ServiceBench.h"

#include <cstdio>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    BenchOptions options;
    std::string error;
    if (!BenchOptions::parse(args, options, error)) {
        std::fprintf(stderr, "tolvex-bench: %s\n", error.c_str());
        return 87;
    }
    std::vector<BenchRow> rows;
    ServiceBench bench(options);
    const bool needsService = options.wants("exchange") || options.wants("throughput") || options.wants("burst") ||
                              options.wants("fanout") || options.wants("idle") || options.wants("stop");
    if (needsService && !bench.start(error)) {
        std::fprintf(stderr, "tolvex-bench: %s\n", error.c_str());
        return 1;
    }
    // Idle first: nothing the other measurements leave behind (a stopping read thread) counts.
    if (options.wants("idle")) bench.idle(rows);
    if (options.wants("exchange")) bench.exchange(rows);
    if (options.wants("throughput")) bench.throughput(rows);
    if (options.wants("burst")) bench.burst(rows);
    if (options.wants("fanout")) bench.fanout(rows);
    if (options.wants("breakdown")) {
        BreakdownInputs inputs;
        inputs.devicePath = bench.devicePath("PORT" + std::to_string(GetCurrentProcessId()));
        inputs.queryAll = bench.queryAll();
        inputs.clientConnectP50 = bench.clientConnectP50();
        inputs.floorP50 = bench.floorP50();
        inputs.serviceP50 = bench.serviceP50();
        BreakdownBench::run(inputs, std::min<uint32_t>(options.exchanges, 400), rows);
    }
    // Last: it leaves the service stopped.
    if (options.wants("stop")) bench.stopUnderLoad(rows);
    if (options.rows) {
        for (const BenchRow& r : rows) std::printf("%s\n", BenchTable::toLine(r).c_str());
    } else {
        std::fputs(BenchTable::format(rows).c_str(), stdout);
    }
    return 0;
}
