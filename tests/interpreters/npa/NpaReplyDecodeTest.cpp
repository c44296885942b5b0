// Replies as a printer sends them, decoded into result texts: well-formed answers, answers to
// another request, and every reply cut short at each possible length (with and without its
// length field matching the cut), which must give an error code and never a read past the end.
#include "interpreters/npa/AioLockNpaCommand.h"
#include "interpreters/npa/DcSummaryCommand.h"
#include "interpreters/npa/EndJobNpaCommand.h"
#include "interpreters/npa/GetPrinterLanguageNpaCommand.h"
#include "interpreters/npa/Ip1AdapterVariableNpaCommand.h"
#include "interpreters/npa/NamePrintJobNpaCommand.h"
#include "interpreters/npa/QueryAllNpaCommand.h"
#include "interpreters/npa/StartPrintJobNpaCommand.h"

#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"

#include "NpaTestBytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>

namespace {

constexpr uint32_t kNotAReply = 1629;
constexpr uint32_t kBadFormat = 11;

std::vector<uint8_t> WithLength(std::vector<uint8_t> packet) {
    const std::size_t length = packet.size() - 3;
    packet[1] = static_cast<uint8_t>(length >> 8);
    packet[2] = static_cast<uint8_t>(length & 0xFF);
    return packet;
}

Data AsData(const std::vector<uint8_t>& bytes) {
    return Data(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// The first n bytes of reply, once as cut off the wire and once re-labelled as a complete packet
// of that size (a short but self-consistent reply).
std::vector<std::vector<uint8_t>> Truncations(const std::vector<uint8_t>& reply, std::size_t n) {
    std::vector<uint8_t> cut(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<std::vector<uint8_t>> forms{cut};
    if (n >= 3) {
        forms.push_back(WithLength(cut));
    }
    return forms;
}

uint32_t Long(const std::string& text, const char* descriptor) {
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(PropertyAccessor().GetLong(text, descriptor, value), 0u) << descriptor << " in " << text;
    return value;
}

// Decoders that report an error must not leave half a result behind; every truncation of a reply
// that decodes to something must fail.
void ExpectEveryTruncationFails(const std::function<Command*()>& make, const std::vector<uint8_t>& reply) {
    for (std::size_t n = 0; n < reply.size(); ++n) {
        for (const std::vector<uint8_t>& form : Truncations(reply, n)) {
            std::unique_ptr<Command> command(make());
            const uint32_t rc = command->DecodeReply(AsData(form));
            EXPECT_TRUE(rc == kNotAReply || rc == kBadFormat) << "length " << n << " rc " << rc;
            EXPECT_EQ(command->ResultText(), "") << "length " << n;
        }
    }
}

// ---------------------------------------------------------------------------------------------

TEST(QueryAllDecode, AnswerFormsAndRefusals) {
    struct Case {
        const char* reply;
        uint32_t rc;
        uint32_t hbn;
        uint32_t npa;
    } cases[] = {
        {"A5 00 07 10 E0 81 00 FF 01 02", 0, 0, 1},        // the ordinary answer echoes FF
        {"A5 00 07 10 E0 81 00 F0 01 02", 0, 1, 1},        // the alternative form
        {"A5 00 07 90 E0 81 00 F0 00 00 00", 0, 1, 1},     // flags are not compared
        {"A5 00 07 10 E0 81 00 01 01 02", kNotAReply, 0, 0},  // neither form
        {"A5 00 07 10 E0 82 00 FF 01 02", kNotAReply, 0, 0},  // another sub-command
        {"A5 00 05 10 E0 81 00 FF", kNotAReply, 0, 0},        // an answer, but shorter than 10 bytes
        {"A5 00 05 10 E0 81 00 F0", kNotAReply, 0, 0},
    };
    for (const Case& c : cases) {
        QueryAllNpaCommand command;
        ASSERT_EQ(command.DecodeReply(HexData(c.reply)), c.rc) << c.reply;
        if (c.rc == 0) {
            EXPECT_EQ(Long(command.ResultText(), PropertyAccessor::HbnResponse), c.hbn) << c.reply;
            EXPECT_EQ(Long(command.ResultText(), PropertyAccessor::NpaResponse), c.npa) << c.reply;
        } else {
            EXPECT_EQ(command.ResultText(), "") << c.reply;
        }
    }
    ExpectEveryTruncationFails([] { return new QueryAllNpaCommand(); }, Hex("A5 00 07 10 E0 81 00 FF 01 02"));
}

// ---------------------------------------------------------------------------------------------

std::vector<uint8_t> Summary(const std::string& serialField) {
    std::vector<uint8_t> reply(39, 0);
    reply[0] = 0xA5;
    reply[3] = 0x10;
    reply[4] = 0x01;
    reply[5] = 0x00;
    reply[6] = 0x01;
    reply[7] = 0x02;
    reply[8] = 0x03;
    reply[29] = 0x04;
    reply[30] = 0x00;
    const std::vector<uint8_t> fields = Hex("02 41 42 01 43");
    reply.insert(reply.end(), fields.begin(), fields.end());
    reply.insert(reply.end(), serialField.begin(), serialField.end());
    return WithLength(reply);
}

TEST(DcSummaryDecode, PacketSizeRevisionManufacturerModelAndSerialNumber) {
    struct Case {
        std::string serialField;
        const char* serial;  // null: no SerialNumber in the result
    } cases[] = {
        {std::string("\x07SN1234\0", 8), "SN1234"},
        {std::string("\x04SN12XYZ", 8), "SN12"},         // the field's length bounds the number
        {std::string("\x00", 1), ""},
        {std::string("\x05S<1>2", 6), nullptr},          // markup would break the result text
        {std::string("\x03S\x01" "2", 4), nullptr},      // not printable
    };
    for (const Case& c : cases) {
        DcSummaryCommand command;
        ASSERT_EQ(command.DecodeReply(AsData(Summary(c.serialField))), 0u) << c.serialField;
        const std::string& result = command.ResultText();
        EXPECT_EQ(Long(result, PropertyAccessor::MaxWritePacketSize), 0x0400u);
        std::vector<uint8_t> revision;
        EXPECT_EQ(PropertyAccessor().GetByteArray(result, PropertyAccessor::NpaRevisionLevel, revision), 0u);
        EXPECT_EQ(revision, Hex("01 02 03"));
        std::string manufacturer, model;
        EXPECT_EQ(PropertyAccessor().GetString(result, PropertyAccessor::Manufacturer, manufacturer), 0u) << result;
        EXPECT_EQ(manufacturer, "AB");
        EXPECT_EQ(PropertyAccessor().GetString(result, PropertyAccessor::Model, model), 0u) << result;
        EXPECT_EQ(model, "C");
        std::string serial;
        const uint32_t found = PropertyAccessor().GetString(result, PropertyAccessor::SerialNumber, serial);
        if (c.serial != nullptr) {
            EXPECT_EQ(found, 0u) << result;
            EXPECT_EQ(serial, c.serial);
        } else {
            EXPECT_EQ(found, 1168u) << result;
        }
    }
}

TEST(DcSummaryDecode, ShortOrForeignRepliesAreErrors) {
    ExpectEveryTruncationFails([] { return new DcSummaryCommand(); }, Summary(std::string("\x03" "ABC", 4)));

    std::vector<uint8_t> other = Summary(std::string("\x03" "ABC", 4));
    other[4] = 0x02;
    DcSummaryCommand command;
    EXPECT_EQ(command.DecodeReply(AsData(other)), kNotAReply);

    // A field length that points past the end.
    DcSummaryCommand longField;
    EXPECT_EQ(longField.DecodeReply(AsData(Summary(std::string("\xFF" "ABC", 4)))), kBadFormat);
    EXPECT_EQ(longField.ResultText(), "");
}

// ---------------------------------------------------------------------------------------------

TEST(FixedOffsetDecoders, JobIdAndPrinterLanguage) {
    StartPrintJobNpaCommand job;
    ASSERT_EQ(job.DecodeReply(HexData("A5 00 06 10 05 00 00 12 34")), 0u);
    EXPECT_EQ(Long(job.ResultText(), PropertyAccessor::JobId), 0x1234u);
    EXPECT_EQ(job.DecodeReply(HexData("A5 00 06 10 05 01 00 12 34")), kNotAReply);
    ExpectEveryTruncationFails([] { return new StartPrintJobNpaCommand(); }, Hex("A5 00 06 10 05 00 00 12 34"));

    std::vector<uint8_t> languageReply = Hex("A5 00 00 10 E0 B2 02");
    languageReply.resize(24, 0x00);
    languageReply[23] = 0x0A;
    languageReply = WithLength(languageReply);
    GetPrinterLanguageNpaCommand language;
    ASSERT_EQ(language.DecodeReply(AsData(languageReply)), 0u);
    EXPECT_EQ(Long(language.ResultText(), PropertyAccessor::PrinterLanguage), 10u);
    ExpectEveryTruncationFails([] { return new GetPrinterLanguageNpaCommand(); }, languageReply);

    std::vector<uint8_t> otherObject = languageReply;
    otherObject[6] = 0x03;
    EXPECT_EQ(GetPrinterLanguageNpaCommand().DecodeReply(AsData(otherObject)), kNotAReply);
}

TEST(FixedOffsetDecoders, CommandsWithoutDecoder) {
    EXPECT_EQ(EndJobNpaCommand().DecodeReply(HexData("A5 00 06 10 05 01 00 00 00")), 1u);
    EXPECT_EQ(AioUnlockNpaCommand().DecodeReply(HexData("A5 00 05 10 E0 82 02 02")), 1u);
    // The job name needs no answer: whatever comes back is fine.
    NamePrintJobNpaCommand name;
    EXPECT_EQ(name.DecodeReply(Data()), 0u);
    EXPECT_EQ(name.DecodeReply(HexData("00 01")), 0u);
    EXPECT_EQ(name.ResultText(), "");
}

// ---------------------------------------------------------------------------------------------

TEST(AioLockDecode, OnlyTheExactGrantLocks) {
    using Make = std::function<Command*()>;
    const Make lock = [] { return new AioLockNpaCommand(); };
    const Make swath = [] { return new AioSwathLockNpaCommand(); };
    const Make legacy = [] { return new AioLegacyLockNpaCommand(); };
    struct Case {
        const char* what;
        Make make;
        const char* reply;
        uint32_t rc;
        uint32_t locked;
    } cases[] = {
        {"lock granted", lock, "A5 00 06 50 E0 82 02 03 00", 0, 1},
        {"lock refused", lock, "A5 00 06 50 E0 82 02 03 01", 0, 0},
        {"lock, longer", lock, "A5 00 07 50 E0 82 02 03 00 00", 0, 0},
        {"lock, short", lock, "A5 00 05 50 E0 82 02 03", 0, 0},
        {"lock, header only", lock, "A5 00 02 50 E0", 0, 0},
        {"lock, other object", lock, "A5 00 06 50 E0 82 03 03 00", kNotAReply, 0},
        {"swath granted", swath, "A5 00 06 50 E0 82 02 03 00", 0, 1},
        {"legacy granted", legacy, "A5 00 06 50 E0 82 02 01 00", 0, 1},
        {"legacy given a lock grant", legacy, "A5 00 06 50 E0 82 02 03 00", 0, 0},
        {"legacy refused", legacy, "A5 00 06 50 E0 82 02 01 05", 0, 0},
        {"too short to be a reply", lock, "A5 00 06 50", kNotAReply, 0},
    };
    for (const Case& c : cases) {
        std::unique_ptr<Command> command(c.make());
        ASSERT_EQ(command->DecodeReply(HexData(c.reply)), c.rc) << c.what;
        if (c.rc == 0) {
            EXPECT_EQ(Long(command->ResultText(), PropertyAccessor::AioLocked), c.locked) << c.what;
        }
    }
}

// ---------------------------------------------------------------------------------------------

struct Variable {
    uint8_t component;
    uint8_t id;
    std::string value;
};

std::vector<uint8_t> AdapterReply(const std::vector<Variable>& variables) {
    std::vector<uint8_t> reply = Hex("A5 00 00 10 E0 D7 00");
    for (const Variable& v : variables) {
        reply.push_back(v.component);
        reply.push_back(v.id);
        reply.push_back(static_cast<uint8_t>(v.value.size()));
        reply.insert(reply.end(), v.value.begin(), v.value.end());
    }
    return WithLength(reply);
}

// (Comp, Vid, Data) of every Component element of a result text, in order.
std::vector<std::tuple<int, int, std::string>> Components(std::string text) {
    std::vector<std::tuple<int, int, std::string>> found;
    const PropertyAccessor accessor;
    std::string component;
    while (accessor.GetString(text, PropertyAccessor::Component, component) == 0) {
        std::string comp;
        std::string vid;
        std::string data;
        EXPECT_EQ(accessor.GetString(component, PropertyAccessor::Comp, comp), 0u);
        EXPECT_EQ(accessor.GetString(component, PropertyAccessor::Vid, vid), 0u);
        EXPECT_EQ(accessor.GetString(component, PropertyAccessor::DataString, data), 0u);
        EXPECT_EQ(comp.size(), 1u);
        EXPECT_EQ(vid.size(), 1u);
        found.emplace_back(static_cast<uint8_t>(comp[0]), static_cast<uint8_t>(vid[0]), data);
        const std::size_t before = text.size();
        accessor.Remove(text, PropertyAccessor::Component);
        if (text.size() == before) {
            ADD_FAILURE() << "unremovable Component in " << text;
            break;
        }
    }
    return found;
}

const std::string kWideHi("H\0i\0", 4);
const std::string kRaw("a\0<b", 4);

std::vector<Variable> AllRequired() {
    // Out of order and with an entry of another component in between: lookup is by key.
    return {{6, 68, "68"}, {6, 0, kRaw}, {6, 34, kWideHi}, {7, 22, "other"}, {6, 22, "22"},
            {6, 12, ""},   {6, 21, "21"}, {6, 33, "33"}};
}

TEST(AdapterVariableDecode, AllRequiredVariablesFound) {
    Ip1AdapterVariableNpaCommand command;
    ASSERT_EQ(command.DecodeReply(AsData(AdapterReply(AllRequired()))), 0u);
    using C = std::tuple<int, int, std::string>;
    const std::vector<C> expected{C{6, 0, kRaw}, C{6, 34, "Hi"}, C{6, 22, "22"}, C{6, 12, ""},
                                  C{6, 21, "21"}, C{6, 33, "33"}, C{6, 68, "68"}};
    EXPECT_EQ(Components(command.ResultText()), expected);
}

TEST(AdapterVariableDecode, SummaryVariableAloneIsEnough) {
    Ip1AdapterVariableNpaCommand command;
    ASSERT_EQ(command.DecodeReply(AsData(AdapterReply({{6, 0, "x"}, {6, 24, std::string("\x01\x00\x02", 3)}}))), 0u);
    using C = std::tuple<int, int, std::string>;
    EXPECT_EQ(Components(command.ResultText()), (std::vector<C>{C{6, 24, std::string("\x01\x00\x02", 3)}}));
}

TEST(AdapterVariableDecode, MissingVariableStopsWithTheOnesFoundSoFar) {
    Ip1AdapterVariableNpaCommand command;
    EXPECT_EQ(command.DecodeReply(AsData(AdapterReply({{6, 0, "a"}, {6, 34, kWideHi}, {6, 12, "c"}}))), kBadFormat);
    using C = std::tuple<int, int, std::string>;
    EXPECT_EQ(Components(command.ResultText()), (std::vector<C>{C{6, 0, "a"}, C{6, 34, "Hi"}}));
}

TEST(AdapterVariableDecode, WideTextForms) {
    using C = std::tuple<int, int, std::string>;
    struct Case {
        std::string wide;
        std::string narrow;
    } cases[] = {
        {std::string("\x0C\x00" "A\0", 4), ""},  // marked empty
        {std::string(), ""},
        {std::string("A\0B", 3), "A"},            // an odd byte is not a code unit
        {std::string("\x00\xD8", 2), ""},          // a lone surrogate cannot be converted
    };
    for (const Case& c : cases) {
        std::vector<Variable> variables = AllRequired();
        variables[2].value = c.wide;
        Ip1AdapterVariableNpaCommand command;
        ASSERT_EQ(command.DecodeReply(AsData(AdapterReply(variables))), 0u);
        const auto found = Components(command.ResultText());
        ASSERT_EQ(found.size(), 7u);
        EXPECT_EQ(found[1], (C{6, 34, c.narrow}));
    }
}

TEST(AdapterVariableDecode, ForeignAndTruncatedReplies) {
    Ip1AdapterVariableNpaCommand command;
    EXPECT_EQ(command.DecodeReply(HexData("A5 00 05 10 E0 D8 00 06 18")), kBadFormat);
    EXPECT_EQ(command.ResultText(), "");

    // A value that claims more bytes than follow ends the walk: the variable is missing.
    std::vector<uint8_t> overlong = AdapterReply({{6, 0, "a"}});
    overlong[9] = 0x40;
    EXPECT_EQ(command.DecodeReply(AsData(overlong)), kBadFormat);
    EXPECT_EQ(command.ResultText(), "");

    const std::vector<uint8_t> full = AdapterReply(AllRequired());
    for (std::size_t n = 0; n < full.size(); ++n) {
        for (const std::vector<uint8_t>& form : Truncations(full, n)) {
            Ip1AdapterVariableNpaCommand cut;
            EXPECT_EQ(cut.DecodeReply(AsData(form)), kBadFormat) << "length " << n;
            EXPECT_LT(Components(cut.ResultText()).size(), 7u) << "length " << n;
        }
    }
}

}  // namespace
