#include "core/ipc/IpcParameterReader.h"
#include "core/ipc/IpcParameterWriter.h"
#include "runtime/Exception.h"
#include "tests/core/ipc/IpcTestBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

namespace P = IpcParameter;

Bytes Written(const std::function<void(IpcParameterWriter&)>& write) {
    Data message;
    IpcParameterWriter writer(message);
    write(writer);
    return FromData(message);
}

TEST(IpcParameterWriter, WritesEachKindByteExactly) {
    struct Case {
        const char* what;
        std::function<void(IpcParameterWriter&)> write;
        Bytes expected;
    };
    const Bytes packet = Hex("AA BB CC");
    const Case cases[] = {
        {"function id", [](IpcParameterWriter& w) { w.functionId(1001); }, Hex("03 E9")},
        {"long", [](IpcParameterWriter& w) { w.longValue(P::kDirectionIn, 0x01020304); },
         Hex("01 01 00 00 00 00 00 00 00 04 01 02 03 04")},
        {"returned long", [](IpcParameterWriter& w) { w.longValue(P::kDirectionOut, 0x2001); },
         Hex("02 01 00 00 00 00 00 00 00 04 00 00 20 01")},
        {"return code", [](IpcParameterWriter& w) { w.returnCode(-1); },
         Hex("04 01 00 00 00 00 00 00 00 04 FF FF FF FF")},
        {"string counts its zero", [](IpcParameterWriter& w) { w.string(P::kDirectionIn, "USB001"); },
         Hex("01 09 00 00 00 00 00 00 00 07 55 53 42 30 30 31 00")},
        {"empty string is one zero", [](IpcParameterWriter& w) { w.string(P::kDirectionIn, ""); },
         Hex("01 09 00 00 00 00 00 00 00 01 00")},
        {"byte array", [&](IpcParameterWriter& w) { w.byteArray(P::kDirectionIn, packet.data(), packet.size()); },
         Hex("01 0A 00 00 00 00 00 00 00 03 AA BB CC")},
        {"empty byte array", [](IpcParameterWriter& w) { w.byteArray(P::kDirectionOut, nullptr, 0); },
         Hex("02 0A 00 00 00 00 00 00 00 00")},
        {"reply of a successful open", [](IpcParameterWriter& w) { w.functionId(34).returnCode(0); },
         Hex("00 22 04 01 00 00 00 00 00 00 00 04 00 00 00 00")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Written(c.write), c.expected) << c.what;
    }
}

TEST(IpcParameterWriter, RefusesValuesNoReaderWouldTakeAndLeavesTheMessageAlone) {
    Data message = ToData(Hex("00 22"));
    IpcParameterWriter writer(message);
    try {
        writer.string(P::kDirectionIn, std::string("SET\0X", 5));
        ADD_FAILURE() << "a string with a zero byte was written";
    } catch (const Exception& e) {
        EXPECT_EQ(e.code(), 87);
    }
    EXPECT_THROW(writer.byteArray(P::kDirectionIn, nullptr, 3), Exception);
    EXPECT_EQ(FromData(message), Hex("00 22"));
}

// An "BcxExchangeNpaPrinter" request: client id, handle, request bytes, request length, reply size.
Bytes ExchangeRequest() {
    const Bytes packet = Hex("A5 00 06 01 02 03");
    return Written([&](IpcParameterWriter& w) {
        w.functionId(26)
            .longValue(P::kDirectionIn, 77)
            .longValue(P::kDirectionIn, 0x2001)
            .byteArray(P::kDirectionIn, packet.data(), packet.size())
            .longValue(P::kDirectionIn, 6)
            .longValue(P::kDirectionIn, 4096);
    });
}

TEST(IpcParameterReader, ReadsBackWhatTheWriterWrote) {
    const Bytes request = ExchangeRequest();
    IpcParameterReader reader(request.data(), request.size());
    uint16_t id = 0;
    uint32_t client = 0, handle = 0, length = 0, replySize = 0;
    std::vector<uint8_t> packet;
    EXPECT_EQ(reader.functionId(id), 0);
    EXPECT_EQ(reader.longValue(client), 0);
    EXPECT_EQ(reader.longValue(handle), 0);
    EXPECT_EQ(reader.byteArray(packet), 0);
    EXPECT_EQ(reader.longValue(length), 0);
    EXPECT_EQ(reader.longValue(replySize), 0);
    EXPECT_EQ(id, 26);
    EXPECT_EQ(client, 77u);
    EXPECT_EQ(handle, 0x2001u);
    EXPECT_EQ(packet, Hex("A5 00 06 01 02 03"));
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(replySize, 4096u);
    EXPECT_EQ(reader.remaining(), 0u);

    const Bytes reply = Written([](IpcParameterWriter& w) {
        w.functionId(2).returnCode(0).longValue(P::kDirectionOut, 12345).string(P::kDirectionOut, "x");
    });
    const Data replyData = ToData(reply);
    IpcParameterReader replyReader(replyData);
    int32_t code = -1;
    uint32_t clientId = 0;
    std::string text;
    EXPECT_EQ(replyReader.functionId(id), 0);
    EXPECT_EQ(replyReader.returnCode(code), 0);
    EXPECT_EQ(replyReader.longValue(clientId, P::kDirectionOut), 0);
    EXPECT_EQ(replyReader.string(text, P::kDirectionOut), 0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(clientId, 12345u);
    EXPECT_EQ(text, "x");
}

enum class Kind { Long, String, ByteArray };

TEST(IpcParameterReader, RejectsMalformedParametersWithTheirCodes) {
    struct Case {
        const char* what;
        Kind kind;
        Bytes bytes;
        int32_t code;
    };
    const Case cases[] = {
        {"long sent as a returned value", Kind::Long, Hex("02 01 00 00 00 00 00 00 00 04 00 00 00 01"), P::kWrongDirection},
        {"long sent as a return code", Kind::Long, Hex("04 01 00 00 00 00 00 00 00 04 00 00 00 01"), P::kWrongDirection},
        {"wrong direction is named before a cut", Kind::Long, Hex("02"), P::kWrongDirection},
        {"string where a long belongs", Kind::Long, Hex("01 09 00 00 00 00 00 00 00 02 41 00"), P::kWrongType},
        {"unsupported 4-byte type", Kind::Long, Hex("01 02 00 00 00 00 00 00 00 04 00 00 00 01"), P::kWrongType},
        {"long declaring 8 bytes", Kind::Long, Hex("01 01 00 00 00 00 00 00 00 08 00 00 00 01 00 00 00 02"), P::kBadLength},
        {"long declaring no bytes", Kind::Long, Hex("01 01 00 00 00 00 00 00 00 00 00 00 00 01"), P::kBadLength},
        {"long without its value", Kind::Long, Hex("01 01 00 00 00 00 00 00 00 04 00 00 00"), P::kBadLength},
        {"string of length 0", Kind::String, Hex("01 09 00 00 00 00 00 00 00 00"), P::kBadString},
        {"string without its zero", Kind::String, Hex("01 09 00 00 00 00 00 00 00 02 41 42"), P::kBadString},
        {"string whose zero lies past its length", Kind::String, Hex("01 09 00 00 00 00 00 00 00 02 41 42 00"), P::kBadString},
        {"string with a zero inside", Kind::String, Hex("01 09 00 00 00 00 00 00 00 04 41 00 42 00"), P::kBadString},
        {"string running past the message", Kind::String, Hex("01 09 00 00 00 00 00 00 00 05 41 42 00"), P::kBadLength},
        {"string length of 2^64-1", Kind::String, Hex("01 09 FF FF FF FF FF FF FF FF 41 00"), P::kBadLength},
        {"string length of 2^32+2", Kind::String, Hex("01 09 00 00 00 01 00 00 00 02 41 00"), P::kBadLength},
        {"byte array one above what was sent", Kind::ByteArray, Hex("01 0A 00 00 00 00 00 00 00 03 01 02"), P::kBadLength},
        {"byte array length of 2^63", Kind::ByteArray, Hex("01 0A 80 00 00 00 00 00 00 00 01 02"), P::kBadLength},
        {"byte array where a string belongs", Kind::String, Hex("01 0A 00 00 00 00 00 00 00 01 00"), P::kWrongType},
        {"header cut after the type", Kind::ByteArray, Hex("01 0A 00 00"), P::kBadLength},
    };
    for (const Case& c : cases) {
        IpcParameterReader reader(c.bytes.data(), c.bytes.size());
        uint32_t value = 0xDEADBEEF;
        std::string text = "unchanged";
        std::vector<uint8_t> bytes = {0xEE};
        int32_t code = 0;
        switch (c.kind) {
        case Kind::Long:
            code = reader.longValue(value);
            break;
        case Kind::String:
            code = reader.string(text);
            break;
        case Kind::ByteArray:
            code = reader.byteArray(bytes);
            break;
        }
        EXPECT_EQ(code, c.code) << c.what;
        EXPECT_EQ(reader.offset(), 0u) << c.what;
        EXPECT_EQ(value, 0xDEADBEEFu) << c.what;
        EXPECT_EQ(text, "unchanged") << c.what;
        EXPECT_EQ(bytes, Bytes{0xEE}) << c.what;
    }
}

TEST(IpcParameterReader, AcceptsEdgeValuesThatAreWellFormed) {
    const Bytes emptyString = Hex("01 09 00 00 00 00 00 00 00 01 00");
    std::string text = "x";
    EXPECT_EQ(IpcParameterReader(emptyString.data(), emptyString.size()).string(text), 0);
    EXPECT_EQ(text, "");

    const Bytes emptyArray = Hex("01 0A 00 00 00 00 00 00 00 00");
    std::vector<uint8_t> bytes = {1};
    EXPECT_EQ(IpcParameterReader(emptyArray.data(), emptyArray.size()).byteArray(bytes), 0);
    EXPECT_TRUE(bytes.empty());

    const Bytes exact = Hex("01 0A 00 00 00 00 00 00 00 02 01 02");
    EXPECT_EQ(IpcParameterReader(exact.data(), exact.size()).byteArray(bytes), 0);
    EXPECT_EQ(bytes, Hex("01 02"));

    uint16_t id = 0;
    EXPECT_EQ(IpcParameterReader(exact.data(), 1).functionId(id), P::kBadLength);
    EXPECT_EQ(IpcParameterReader(nullptr, 5).functionId(id), P::kBadLength);
    const Data empty;
    EXPECT_EQ(IpcParameterReader(empty).remaining(), 0u);
}

TEST(IpcParameterReader, BoundsAStringByItsCharacters) {
    const std::string at(260, 'p');
    const Bytes request = Written([&](IpcParameterWriter& w) {
        w.string(P::kDirectionIn, at).string(P::kDirectionIn, at + "q");
    });
    IpcParameterReader reader(request.data(), request.size());
    std::string text;
    EXPECT_EQ(reader.string(text, P::kDirectionIn, 260), 0);
    EXPECT_EQ(text, at);
    EXPECT_EQ(reader.string(text, P::kDirectionIn, 260), P::kStringTooLong);
    EXPECT_EQ(text, at);
    EXPECT_EQ(reader.string(text, P::kDirectionIn, 261), 0);
    EXPECT_EQ(text, at + "q");
}

TEST(IpcParameterReader, AFailedReadLeavesThePositionForAnotherAttempt) {
    const Bytes request = Hex("01 09 00 00 00 00 00 00 00 02 41 00");
    IpcParameterReader reader(request.data(), request.size());
    uint32_t value = 0;
    std::string text;
    EXPECT_EQ(reader.longValue(value), P::kWrongType);
    EXPECT_EQ(reader.string(text), 0);
    EXPECT_EQ(text, "A");
}

// Reads a request of the given parameter kinds from every prefix of it: each parameter that is
// whole in the prefix reads, the first one that is cut gives kBadLength, and nothing is read past
// the prefix (the prefix lives in a buffer of exactly its size, so a sanitizer sees any overread).
void ExpectEveryCutRejected(const Bytes& request, const std::vector<Kind>& kinds) {
    // Where each parameter ends, found on the whole request.
    std::vector<std::size_t> ends;
    {
        IpcParameterReader reader(request.data(), request.size());
        uint16_t id = 0;
        ASSERT_EQ(reader.functionId(id), 0);
        ends.push_back(reader.offset());
        for (Kind kind : kinds) {
            uint32_t value = 0;
            std::string text;
            std::vector<uint8_t> bytes;
            const int32_t rc = kind == Kind::Long     ? reader.longValue(value)
                               : kind == Kind::String ? reader.string(text)
                                                      : reader.byteArray(bytes);
            ASSERT_EQ(rc, 0);
            ends.push_back(reader.offset());
        }
        ASSERT_EQ(reader.remaining(), 0u);
    }
    for (std::size_t cut = 0; cut < request.size(); ++cut) {
        const std::unique_ptr<uint8_t[]> prefix(new uint8_t[cut == 0 ? 1 : cut]);
        std::copy(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(cut), prefix.get());
        IpcParameterReader reader(prefix.get(), cut);
        std::size_t read = 0;
        int32_t rc = 0;
        uint16_t id = 0;
        rc = reader.functionId(id);
        for (std::size_t i = 0; rc == 0 && i < kinds.size(); ++i) {
            ++read;
            uint32_t value = 0;
            std::string text;
            std::vector<uint8_t> bytes;
            rc = kinds[i] == Kind::Long     ? reader.longValue(value)
                 : kinds[i] == Kind::String ? reader.string(text)
                                            : reader.byteArray(bytes);
        }
        const std::size_t whole = static_cast<std::size_t>(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
        EXPECT_EQ(rc, P::kBadLength) << "cut at " << cut;
        EXPECT_EQ(reader.offset(), whole == 0 ? 0 : ends[whole - 1]) << "cut at " << cut;
        EXPECT_LE(reader.offset(), cut) << "cut at " << cut;
        // The parameter that failed is the first one not whole in the prefix.
        EXPECT_EQ(read, whole) << "cut at " << cut;
    }
}

TEST(IpcParameterReader, RejectsARequestCutAtEveryByte) {
    ExpectEveryCutRejected(ExchangeRequest(), {Kind::Long, Kind::Long, Kind::ByteArray, Kind::Long, Kind::Long});
    const Bytes registration = Written([](IpcParameterWriter& w) {
        w.functionId(35)
            .longValue(P::kDirectionIn, 9)
            .longValue(P::kDirectionIn, 0x2001)
            .longValue(P::kDirectionIn, 0xFFFF)
            .string(P::kDirectionIn, "<PIPENAME>QvWatch</PIPENAME>");
    });
    ExpectEveryCutRejected(registration, {Kind::Long, Kind::Long, Kind::Long, Kind::String});
}

}  // namespace
