#include "export/common/Data.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> Remaining(const Data& d) {
    if (d.Size() == 0) {
        return {};
    }
    return std::vector<uint8_t>(d.Bytes(), d.Bytes() + d.Size());
}

Data Bytes(std::vector<uint8_t> v) {
    return Data(v.data(), static_cast<uint32_t>(v.size()));
}

TEST(DataConstruction, EachConstructorStartsAtTheFirstByte) {
    const Data empty;
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_EQ(empty.Bytes(), nullptr);
    EXPECT_EQ(empty.Status(), 0);
    EXPECT_EQ(empty.Count(), 0);

    const Data filled(3, 0xFF);
    EXPECT_EQ(Remaining(filled), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Data(0u, 0xFF).Bytes(), nullptr);

    const uint8_t raw[] = {1, 2, 3};
    EXPECT_EQ(Remaining(Data(raw, 3)), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Data(nullptr, 3).Size(), 0u);
    EXPECT_EQ(Data(nullptr, 3).Bytes(), nullptr);
}

TEST(DataConstruction, CopyTakesRemainingBytesStatusAndCount) {
    Data source = Bytes({1, 2, 3, 4});
    source.Consume(1, false);
    source.SetStatus(1460);
    source.SetCount(7);

    Data copy(source);
    EXPECT_EQ(Remaining(copy), (std::vector<uint8_t>{2, 3, 4}));
    EXPECT_EQ(copy.Status(), 1460);
    EXPECT_EQ(copy.Count(), 7);
    // The copy starts at its first byte: consuming everything left and compacting empties it.
    copy.Consume(3, true);
    EXPECT_EQ(copy.Bytes(), nullptr);

    Data target = Bytes({9, 9});
    target = source;
    EXPECT_EQ(Remaining(target), (std::vector<uint8_t>{2, 3, 4}));
    EXPECT_EQ(target.Status(), 1460);

    Data& self = source;
    source = self;
    EXPECT_EQ(Remaining(source), (std::vector<uint8_t>{2, 3, 4}));
    EXPECT_EQ(source.Count(), 7);
    EXPECT_EQ(Remaining(source), Remaining(Data(source)));
}

struct ConsumeCase {
    const char* what;
    uint32_t first;       // consumed without compaction first
    uint32_t n;
    bool compact;
    std::vector<uint8_t> remaining;
};

TEST(DataConsume, WithAndWithoutCompaction) {
    const ConsumeCase cases[] = {
        {"advance only", 0, 2, false, {3, 4, 5}},
        {"advance and compact", 0, 2, true, {3, 4, 5}},
        {"too many: cursor stays", 1, 9, false, {2, 3, 4, 5}},
        {"too many, compact drops what was consumed before", 1, 9, true, {2, 3, 4, 5}},
        {"everything, compact", 0, 5, true, {}},
        {"nothing, compact", 0, 0, true, {1, 2, 3, 4, 5}},
    };
    for (const auto& c : cases) {
        Data d = Bytes({1, 2, 3, 4, 5});
        d.SetStatus(5);
        d.Consume(c.first, false);
        d.Consume(c.n, c.compact);
        EXPECT_EQ(Remaining(d), c.remaining) << c.what;
        EXPECT_EQ(d.Status(), 5) << c.what;
        if (c.compact) {
            // Compaction dropped the consumed bytes: appending and re-copying shows no hidden prefix.
            d.Append(Bytes({7}));
            std::vector<uint8_t> expected = c.remaining;
            expected.push_back(7);
            EXPECT_EQ(Remaining(d), expected) << c.what;
            d.Consume(d.Size(), true);
            EXPECT_EQ(d.Bytes(), nullptr) << c.what;
        }
    }
}

TEST(DataConsume, CompactionKeepsTheFormerCursorByte) {
    Data d = Bytes({1, 2, 3, 4});
    d.Consume(3, true);
    ASSERT_NE(d.Bytes(), nullptr);
    EXPECT_EQ(d.Bytes()[0], 4);
    EXPECT_EQ(d.Size(), 1u);
}

TEST(DataAppend, CursorKeepsItsOffset) {
    Data d = Bytes({1, 2});
    d.Consume(1, false);
    std::vector<uint8_t> big(1000, 0xAB);
    d.Append(big.data(), static_cast<uint32_t>(big.size()));  // forces a reallocation
    ASSERT_EQ(d.Size(), 1001u);
    EXPECT_EQ(d.Bytes()[0], 2);
    EXPECT_EQ(d.Bytes()[1000], 0xAB);

    d.Append(nullptr, 5);
    d.Append(big.data(), 0);
    EXPECT_EQ(d.Size(), 1001u);

    Data other = Bytes({5, 6, 7});
    other.Consume(1, false);
    d.Append(other);
    EXPECT_EQ(d.Size(), 1003u);
    EXPECT_EQ(d.Bytes()[1001], 6);
    EXPECT_EQ(Remaining(other), (std::vector<uint8_t>{6, 7})) << "the source is not changed";
}

TEST(DataAppend, FromItselfWhileGrowing) {
    Data d = Bytes({1, 2, 3});
    d.Consume(1, false);
    for (int i = 0; i < 6; ++i) {
        d.Append(d);  // source bytes live in the storage that grows
    }
    ASSERT_EQ(d.Size(), 2u * 64);
    for (uint32_t i = 0; i < d.Size(); ++i) {
        ASSERT_EQ(d.Bytes()[i], i % 2 == 0 ? 2 : 3) << i;
    }
    d.Append(d.Bytes() + 1, 2);
    EXPECT_EQ(d.Bytes()[d.Size() - 2], 3);
    EXPECT_EQ(d.Bytes()[d.Size() - 1], 2);
}

TEST(DataSlots, StatusCountClearAndReplaceTail) {
    Data d = Bytes({1, 2, 3, 4, 5});
    d.SetStatus(-7);
    d.SetCount(42);
    EXPECT_EQ(d.Status(), -7);
    EXPECT_EQ(d.Count(), 42);

    const uint8_t tail[] = {8, 9};
    EXPECT_FALSE(d.ReplaceTail(tail, 6));
    EXPECT_FALSE(d.ReplaceTail(nullptr, 2));
    EXPECT_EQ(Remaining(d), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(d.ReplaceTail(tail, 2));
    EXPECT_EQ(Remaining(d), (std::vector<uint8_t>{8, 9}));
    EXPECT_TRUE(d.ReplaceTail(tail, 0));
    EXPECT_EQ(d.Size(), 0u);
    EXPECT_NE(d.Bytes(), nullptr) << "storage still holds the consumed bytes";

    EXPECT_EQ(d.Clear(), 0u);
    EXPECT_EQ(d.Size(), 0u);
    EXPECT_EQ(d.Bytes(), nullptr);
    EXPECT_EQ(d.Status(), 0);
    EXPECT_EQ(d.Count(), 0);
}

TEST(DataSlots, MutableBytesEditInPlace) {
    Data d = Bytes({1, 2, 3});
    d.Consume(1, false);
    d.MutableBytes()[0] = 0x20;
    EXPECT_EQ(Remaining(d), (std::vector<uint8_t>{0x20, 3}));
    EXPECT_EQ(Data().MutableBytes(), nullptr);
}

}  // namespace
