// tolvex-framing-bench: the port's framing step with the NPA packet manager over a stream of
// 8-, 64- and 512-byte packets cut at random read boundaries, beside a plain copy of the same
// reads (Google Benchmark). With --rows it prints the benchmark's result rows for
// tolvex-bench-table instead of the console report; other options go to Google Benchmark.
#include "core/usb/port/FramingStep.h"
#include "tools/bench/BenchNpaLookup.h"
#include "tools/bench/BenchTable.h"
#include "tools/bench/FramingStream.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

// The port reads up to 512 bytes at a time from a printer (what Wine hands out per read).
constexpr uint32_t kMaxRead = 512;
constexpr uint32_t kStreamBytes = 256 * 1024;
constexpr uint8_t kChannelByte = 0;

struct CountingSink : FramingSink {
    explicit CountingSink(bool withLogTexts) : withLogTexts_(withLogTexts) {}
    bool logging() const override { return withLogTexts_; }
    void deliverPacket(Data& packet) override {
        ++packets;
        bytes += packet.Size();
    }
    void keepShortPacket(const Data&) override { ++shortPackets; }
    uint64_t packets = 0;
    uint64_t bytes = 0;
    uint64_t shortPackets = 0;

private:
    bool withLogTexts_;
};

BenchNpaLookup& lookup() {
    static BenchNpaLookup instance;
    return instance;
}

const FramingStream& streamOf(uint32_t packetSize) {
    static std::map<uint32_t, std::unique_ptr<FramingStream>> streams;
    auto& s = streams[packetSize];
    if (!s) s.reset(new FramingStream(FramingStreams::make(packetSize, kStreamBytes / packetSize, kMaxRead, 11)));
    return *s;
}

std::vector<Data> readsOf(const FramingStream& s) {
    std::vector<Data> reads;
    for (const auto& r : s.reads) reads.emplace_back(r.data(), static_cast<uint32_t>(r.size()));
    return reads;
}

template <bool kWithLogTexts>
void framing(benchmark::State& state) {
    const FramingStream& s = streamOf(static_cast<uint32_t>(state.range(0)));
    const std::vector<Data> reads = readsOf(s);
    // With texts: the step while logging is on; without: while it is off, as the port runs it.
    CountingSink sink(kWithLogTexts);
    for (auto _ : state) {
        Data storage;
        sink.packets = 0;
        for (const Data& r : reads) {
            FramingStep::run(storage, r, kChannelByte, lookup(), sink);
        }
        if (sink.packets != s.packets || storage.Size() != 0) {
            state.SkipWithError("the framing lost or kept bytes");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * s.packets);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.bytes.size()));
}

void plainCopy(benchmark::State& state) {
    const FramingStream& s = streamOf(static_cast<uint32_t>(state.range(0)));
    const std::vector<Data> reads = readsOf(s);
    std::vector<uint8_t> out(s.bytes.size());
    for (auto _ : state) {
        size_t at = 0;
        for (const Data& r : reads) {
            std::memcpy(out.data() + at, r.Bytes(), r.Size());
            at += r.Size();
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * s.packets);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.bytes.size()));
}

BENCHMARK_TEMPLATE(framing, false)->Name("framing")->Arg(8)->Arg(64)->Arg(512);
BENCHMARK_TEMPLATE(framing, true)->Name("framing_logging_on")->Arg(8)->Arg(64)->Arg(512);
BENCHMARK(plainCopy)->Name("plain_copy")->Arg(8)->Arg(64)->Arg(512);

struct Rate {
    double items = 0;
    double bytes = 0;
};

// Keeps the rates of every run while the console report goes on as usual (or not at all).
class RateCollector : public benchmark::ConsoleReporter {
public:
    explicit RateCollector(bool quiet) : quiet_(quiet) {}
    bool ReportContext(const Context& context) override { return quiet_ || ConsoleReporter::ReportContext(context); }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            Rate r;
            auto items = run.counters.find("items_per_second");
            auto bytes = run.counters.find("bytes_per_second");
            if (items != run.counters.end()) r.items = items->second.value;
            if (bytes != run.counters.end()) r.bytes = bytes->second.value;
            rates[run.benchmark_name()] = r;
        }
        if (!quiet_) ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, Rate> rates;

private:
    bool quiet_;
};

void printRows(const std::map<std::string, Rate>& rates) {
    using namespace BenchTable;
    for (const char* size : {"8", "64", "512"}) {
        const auto f = rates.find(std::string("framing/") + size);
        const auto c = rates.find(std::string("plain_copy/") + size);
        const auto w = rates.find(std::string("framing_logging_on/") + size);
        if (f == rates.end() || c == rates.end()) continue;
        BenchRow row;
        row.measurement = std::string("framing + NPA Unwrap, ") + size + "-byte packets (native, logging off)";
        row.value = number(f->second.items / 1e6) + " M packets/s, " + number(f->second.bytes / 1e6) + " MB/s";
        // The copy is thousands of times faster: the ratio reads better as a fraction of it.
        row.ratio = "1/" + number(c->second.bytes / f->second.bytes) + " of plain copy (" + number(c->second.bytes / 1e9) +
                    " GB/s)";
        const bool small = std::string(size) == "8";
        row.target = small ? ">= 1 M packets/s" : "-";
        row.result = small ? verdict(f->second.items >= 1e6) : "-";
        std::printf("%s\n", toLine(row).c_str());
        if (w != rates.end()) {
            BenchRow alt;
            alt.measurement = std::string("  same with logging on (log texts built), ") + size + "-byte";
            alt.value = number(w->second.items / 1e6) + " M packets/s, " + number(w->second.bytes / 1e6) + " MB/s";
            alt.ratio = ratio(w->second.items / f->second.items, "logging off");
            alt.target = "-";
            alt.result = "-";
            std::printf("%s\n", toLine(alt).c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool rows = false;
    std::vector<char*> args;
    std::string minTime = "--benchmark_min_time=0.3";
    bool hasMinTime = false;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--rows") == 0) {
            rows = true;
            continue;
        }
        if (std::strncmp(argv[i], "--benchmark_min_time", 20) == 0) hasMinTime = true;
        args.push_back(argv[i]);
    }
    if (!hasMinTime) args.push_back(&minTime[0]);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 87;
    RateCollector collector(rows);
    benchmark::RunSpecifiedBenchmarks(&collector);
    if (rows) printRows(collector.rates);
    benchmark::Shutdown();
    return collector.rates.empty() ? 1 : 0;
}
