// The benchmark's own logic: percentiles, the result rows and their table, the command line,
// and the framing stream (cut at random, yet framed back into exactly its packets).
#include "core/usb/port/FramingStep.h"
#include "tools/bench/BenchNpaLookup.h"
#include "tools/bench/BenchOptions.h"
#include "tools/bench/BenchStats.h"
#include "tools/bench/BenchTable.h"
#include "tools/bench/FramingStream.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(BenchStats, NearestRankPercentiles) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);  // unsorted on purpose
    struct Case {
        std::vector<double> samples;
        double q;
        double expected;
    };
    const Case cases[] = {
        {{}, 0.5, 0},
        {{7}, 0.5, 7},
        {{7}, 0.99, 7},
        {{3, 1, 2}, 0.5, 2},
        {{4, 1, 3, 2}, 0.5, 2},  // rank ceil(0.5 * 4) = 2
        {hundred, 0.5, 50},
        {hundred, 0.99, 99},    // not 100: 0.99 * 100 is exactly rank 99
        {hundred, 1.0, 100},
        {hundred, 0.0, 1},
        {hundred, 0.001, 1},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(BenchStats::percentile(c.samples, c.q), c.expected) << c.samples.size() << " samples, q=" << c.q;
    }
}

TEST(BenchStats, SummaryOfASet) {
    std::vector<double> samples;
    for (int i = 1; i <= 200; ++i) samples.push_back(i);
    samples.push_back(100000);  // one outlier moves the mean and max, not the median
    const BenchSummary s = BenchStats::summarize(samples);
    EXPECT_EQ(s.count, 201u);
    EXPECT_DOUBLE_EQ(s.p50, 101);
    EXPECT_DOUBLE_EQ(s.p99, 199);
    EXPECT_DOUBLE_EQ(s.min, 1);
    EXPECT_DOUBLE_EQ(s.max, 100000);
    EXPECT_NEAR(s.mean, (200 * 201 / 2 + 100000) / 201.0, 1e-9);
    EXPECT_EQ(BenchStats::summarize({}).count, 0u);
}

TEST(BenchTable, RowsSurviveTheirLineAndBadLinesAreSkipped) {
    const BenchRow row{"exchange p50", "412 us", "3.8x floor", "<= 12x", "pass"};
    BenchRow back;
    ASSERT_TRUE(BenchTable::parseLine(BenchTable::toLine(row), back));
    EXPECT_EQ(back.measurement, row.measurement);
    EXPECT_EQ(back.value, row.value);
    EXPECT_EQ(back.ratio, row.ratio);
    EXPECT_EQ(back.target, row.target);
    EXPECT_EQ(back.result, row.result);
    // A Windows console line end, and tabs inside a field, do not break a row.
    ASSERT_TRUE(BenchTable::parseLine(BenchTable::toLine(BenchRow{"a\tb", "", "r", "t", "x"}) + "\r\n", back));
    EXPECT_EQ(back.measurement, "a b");
    EXPECT_EQ(back.value, "-");
    EXPECT_EQ(back.result, "x");

    const BenchRow untouched = back;
    for (const std::string bad : {"", "# a note", "ROW\ta\tb\tc\td", "ROW\ta\tb\tc\td\te\tf", "row\ta\tb\tc\td\te",
                                  "ROW\t\tb\tc\td\te"}) {
        EXPECT_FALSE(BenchTable::parseLine(bad, back)) << bad;
        EXPECT_EQ(back.measurement, untouched.measurement);
    }
}

TEST(BenchTable, ColumnsAreAlignedUnderAHeader) {
    const std::string table = BenchTable::format({{"short", "1 us", "-", "-", "-"}, {"a longer name", "12.5 ms", "3.0x floor", "<= 12x", "FAIL"}});
    std::istringstream lines(table);
    std::string header, rule, first, second, extra;
    ASSERT_TRUE(std::getline(lines, header));
    ASSERT_TRUE(std::getline(lines, rule));
    ASSERT_TRUE(std::getline(lines, first));
    ASSERT_TRUE(std::getline(lines, second));
    EXPECT_FALSE(std::getline(lines, extra));
    EXPECT_EQ(header.find("measurement"), 0u);
    EXPECT_EQ(rule, std::string(rule.size(), '-'));
    // Every column starts at the same offset on every line.
    for (const std::string& column : {std::string("value"), std::string("ratio to reference"), std::string("target"), std::string("result")}) {
        const size_t at = header.find(column);
        ASSERT_NE(at, std::string::npos);
        EXPECT_NE(first[at], ' ') << column;
        EXPECT_EQ(first[at - 1], ' ') << column;
        EXPECT_NE(second[at], ' ') << column;
    }
    EXPECT_EQ(second.substr(header.find("result")), "FAIL");
    EXPECT_EQ(rule.size(), header.size());
}

TEST(BenchTable, Figures) {
    struct Case {
        double value;
        const char* number;
        const char* micros;
    };
    const Case cases[] = {
        {0, "0", "0 us"},           {0.1234, "0.123", "0.123 us"}, {3.14159, "3.14", "3.14 us"},
        {87.46, "87.5", "87.5 us"}, {412.4, "412", "412 us"},      {1420, "1420", "1.42 ms"},
        {58233.6, "58234", "58.2 ms"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BenchTable::number(c.value), c.number) << c.value;
        EXPECT_EQ(BenchTable::micros(c.value), c.micros) << c.value;
    }
    EXPECT_EQ(BenchTable::ratio(3.84, "floor"), "3.84x floor");
    EXPECT_STREQ(BenchTable::verdict(true), "pass");
    EXPECT_STREQ(BenchTable::verdict(false), "FAIL");
}

TEST(BenchOptions, CommandLines) {
    BenchOptions o;
    std::string error;
    ASSERT_TRUE(BenchOptions::parse({}, o, error));
    for (const std::string& m : BenchOptions::measurementNames()) EXPECT_TRUE(o.wants(m)) << m;
    EXPECT_EQ(o.exchanges, 2000u);
    EXPECT_EQ(o.block, 200u);

    ASSERT_TRUE(BenchOptions::parse({"exchange", "fanout", "--exchanges", "300", "--block", "500", "--service-unix-pid", "0",
                                     "--pipe", "P", "--rows"},
                                    o, error));
    EXPECT_TRUE(o.wants("exchange"));
    EXPECT_TRUE(o.wants("fanout"));
    EXPECT_FALSE(o.wants("idle"));
    EXPECT_EQ(o.exchanges, 300u);
    EXPECT_EQ(o.block, 300u) << "a block is never longer than the run";
    EXPECT_EQ(o.pipe, "P");
    EXPECT_TRUE(o.rows);

    ASSERT_TRUE(BenchOptions::parse({"--quick", "--alerts", "9"}, o, error));
    EXPECT_EQ(o.exchanges, 40u);
    EXPECT_EQ(o.alerts, 9u) << "a later option overrides --quick";

    const std::vector<std::vector<std::string>> bad = {
        {"frobnicate"}, {"--exchanges"}, {"--exchanges", "0"}, {"--exchanges", "-5"}, {"--block", "12x"},
        {"--idle-ms", "99999999999"}, {"--pipe", ""}, {"--prefix"},
    };
    for (const auto& args : bad) {
        BenchOptions before;
        before.exchanges = 7;
        BenchOptions kept = before;
        error.clear();
        EXPECT_FALSE(BenchOptions::parse(args, kept, error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
        EXPECT_EQ(kept.exchanges, 7u) << "a refused command line changes nothing";
    }
}

class CountingSink : public FramingSink {
public:
    void deliverPacket(Data& packet) override { packets.emplace_back(packet.Bytes(), packet.Bytes() + packet.Size()); }
    void keepShortPacket(const Data&) override { ++shortPackets; }
    std::vector<std::vector<uint8_t>> packets;
    int shortPackets = 0;
};

TEST(FramingStream, RandomCutsFrameBackIntoTheSamePackets) {
    BenchNpaLookup lookup;
    for (uint32_t size : {8u, 64u, 512u}) {
        const FramingStream s = FramingStreams::make(size, 300, 512, 11);
        ASSERT_EQ(s.bytes.size(), static_cast<size_t>(size) * 300);
        size_t joined = 0;
        bool cutInsidePacket = false;
        for (const auto& r : s.reads) {
            ASSERT_FALSE(r.empty());
            ASSERT_LE(r.size(), 512u);
            joined += r.size();
            if (joined % size != 0) cutInsidePacket = true;
        }
        EXPECT_EQ(joined, s.bytes.size());
        EXPECT_TRUE(cutInsidePacket) << "the reads must split packets, or framing is not exercised";

        Data storage;
        CountingSink sink;
        for (const auto& r : s.reads) {
            FramingStep::run(storage, Data(r.data(), static_cast<uint32_t>(r.size())), 0, lookup, sink);
        }
        ASSERT_EQ(sink.packets.size(), 300u) << size;
        EXPECT_EQ(sink.shortPackets, 0);
        EXPECT_EQ(storage.Size(), 0u);
        for (size_t i = 0; i < sink.packets.size(); ++i) {
            const std::vector<uint8_t> expected(s.bytes.begin() + static_cast<std::ptrdiff_t>(i * size),
                                                s.bytes.begin() + static_cast<std::ptrdiff_t>((i + 1) * size));
            ASSERT_EQ(sink.packets[i], expected) << size << "-byte packet " << i;
        }
    }
    // The same seed cuts the same way; a packet smaller than a header gives nothing.
    EXPECT_EQ(FramingStreams::make(64, 10, 100, 3).reads, FramingStreams::make(64, 10, 100, 3).reads);
    EXPECT_TRUE(FramingStreams::make(7, 10, 100, 3).bytes.empty());
}

}  // namespace
