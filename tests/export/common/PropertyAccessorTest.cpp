#include "export/common/PropertyAccessor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using PA = PropertyAccessor;

std::string Descriptor(const std::string& name, const std::string& type, const std::string& access) {
    return "<Name>" + name + "</Name><Type>" + type + "</Type><Access>" + access + "</Access>";
}

TEST(PropertyAccessorVocabulary, EveryDescriptorHasItsExactText) {
    struct {
        const char* constant;
        const char* name;
        const char* type;
        const char* access;
    } vocabulary[] = {
        {PA::CommandName, "CommandName", "String", "Writeable"},
        {PA::DataByteArray, "Data", "ByteArray", "Writeable"},
        {PA::DataString, "Data", "String", "Writeable"},
        {PA::Interpreter, "Interpreter", "String", "Writeable"},
        {PA::Handle, "Handle", "Long", "ReadOnly"},
        {PA::Handler, "Handler", "String", "Writeable"},
        {PA::ClientId, "ClientId", "Long", "Writeable"},
        {PA::Prefix, "Prefix", "String", "Writeable"},
        {PA::NewAlertMask, "NewAlertMask", "Long", "Writeable"},
        {PA::CurrentAlertMask, "CurrentAlertMask", "Long", "Writeable"},
        {PA::LanguageId, "LanguageId", "String", "Writeable"},
        {PA::AioLocked, "AioLocked", "Long", "Writeable"},
        {PA::MaxWritePacketSize, "MaxWritePacketSize", "Long", "Writeable"},
        {PA::NpaRevisionLevel, "NpaRevisionLevel", "ByteArray", "Writeable"},
        {PA::SerialNumber, "SerialNumber", "String", "ReadOnly"},
        {PA::JobId, "JobId", "Long", "Writeable"},
        {PA::PrinterLanguage, "PrinterLanguage", "Long", "Writeable"},
        {PA::Component, "Component", "String", "Writeable"},
        {PA::Comp, "Comp", "String", "Writeable"},
        {PA::Vid, "Vid", "String", "Writeable"},
        {PA::JobName, "JobName", "String", "Writeable"},
        {PA::UserName, "UserName", "String", "Writeable"},
        {PA::QueueName, "QueueName", "String", "Writeable"},
        {PA::KeyHostName, "KeyHostName", "String", "Writeable"},
        {PA::AccountNumber, "AccountNumber", "String", "Writeable"},
        {PA::HbnResponse, "HbnResponse", "Long", "Writeable"},
        {PA::NpaResponse, "NpaResponse", "Long", "Writeable"},
        {PA::TripletJobId, "TripletJobId", "ByteArray", "Writeable"},
        {PA::LastDate, "LastDate", "Long", "Writeable"},
        {PA::CpdPrinterHostId, "CpdPrinterHostId", "ByteArray", "Writeable"},
        {PA::Transport, "Transport", "String", "ReadOnly"},
        {PA::TransportType, "TransportType", "String", "ReadOnly"},
        {PA::PrinterModel, "Printer Model", "String", "ReadOnly"},
        {PA::ScannerModel, "Scanner Model", "String", "ReadOnly"},
        {PA::PcName, "PcName", "String", "Writeable"},
        {PA::CodePage, "CodePage", "String", "Writeable"},
        {PA::PinNumber, "PinNumber", "String", "Writeable"},
        {PA::DeviceId1284, "1284DeviceId", "String", "Writeable"},
        {PA::CodePageLong, "CodePageLong", "Long", "Writeable"},
    };
    const PA accessor;
    for (const auto& d : vocabulary) {
        EXPECT_EQ(d.constant, Descriptor(d.name, d.type, d.access));
        EXPECT_EQ(accessor.IsWriteable(d.constant), std::string(d.access) == "Writeable") << d.name;
    }
}

TEST(PropertyAccessorPredicates, CompareTheWholeWord) {
    const PA a;
    EXPECT_TRUE(a.IsString("<Type>String</Type>"));
    EXPECT_FALSE(a.IsString("<Type>string</Type>"));
    EXPECT_FALSE(a.IsString("<Type>String </Type>"));
    EXPECT_FALSE(a.IsString(""));
    EXPECT_TRUE(a.IsLong(PA::JobId));
    EXPECT_FALSE(a.IsLong(PA::DataByteArray));
    EXPECT_TRUE(a.IsByteArray(PA::DataByteArray));
    EXPECT_FALSE(a.IsByteArray(PA::DataString));
    EXPECT_TRUE(a.IsWriteable("<Access>Writeable</Access>"));
    EXPECT_FALSE(a.IsWriteable("<Access>ReadOnly</Access>"));
    EXPECT_FALSE(a.IsWriteable("<Access>writeable</Access>"));
    EXPECT_FALSE(a.IsWriteable("<Type>Long</Type>"));
}

TEST(PropertyAccessorGet, ResultCodes) {
    const std::string bag = "<JobId>12</JobId><Vid>ab</Vid><Data>A500</Data><LastDate>7</LastDate><SerialNumber>S1</SerialNumber>";
    const std::string noName = "<Type>Long</Type><Access>Writeable</Access>";
    const std::string emptyName = "<Name></Name><Type>String</Type><Access>Writeable</Access>";
    const PA a;
    std::string s = "x";
    uint32_t n = 99;
    uint8_t buf[4] = {};
    uint32_t len = 99;

    EXPECT_EQ(a.GetString(bag, PA::Vid, s), 0u);
    EXPECT_EQ(s, "ab");
    EXPECT_EQ(a.GetString(bag, PA::SerialNumber, s), 0u) << "getters ignore Access";
    EXPECT_EQ(s, "S1");
    // The element exists, but the descriptor's type decides which getter may read it.
    EXPECT_EQ(a.GetLong(bag, Descriptor("LastDate", "String", "Writeable"), n), 1629u);
    EXPECT_EQ(n, 99u);
    EXPECT_EQ(a.GetString(bag, PA::JobName, s), 1168u);
    EXPECT_EQ(a.GetString(bag, emptyName, s), 1168u);
    EXPECT_EQ(s, "S1") << "failed getters leave out alone";

    EXPECT_EQ(a.GetLong(bag, PA::JobId, n), 0u);
    EXPECT_EQ(n, 12u);
    EXPECT_EQ(a.GetLong(bag, PA::Vid, n), 1629u);
    EXPECT_EQ(a.GetLong(bag, noName, n), 1168u);
    EXPECT_EQ(a.GetLong(bag, PA::ClientId, n), 1168u);
    EXPECT_EQ(n, 12u);

    // "Data" is a ByteArray for raw packets and a String for adapter variables.
    EXPECT_EQ(a.GetString(bag, PA::DataString, s), 0u);
    EXPECT_EQ(s, "A500");
    EXPECT_EQ(a.GetByteArray(bag, PA::DataByteArray, buf, sizeof buf, len), 0u);
    EXPECT_EQ(len, 2u);
    EXPECT_EQ(a.GetByteArray(bag, PA::TripletJobId, buf, sizeof buf, len), 1168u);
    EXPECT_EQ(len, 0u);
    len = 99;
    EXPECT_EQ(a.GetByteArray(bag, PA::JobId, buf, sizeof buf, len), 1629u);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(a.GetByteArray(bag, PA::DataByteArray, nullptr, 2, len), 87u) << "null buffer";
}

struct LongCase {
    const char* value;
    uint32_t expected;
};

TEST(PropertyAccessorGet, LongSumsDigitsWithoutValidation) {
    const LongCase cases[] = {
        {"0", 0},
        {"", 0},
        {"0042", 42},
        {"4294967295", 4294967295u},
        {"4294967296", 0},                       // wraps modulo 2^32
        {"4x", 40 + ('x' - '0')},                // no error for non-digits
        {"1-", static_cast<uint32_t>(10 + ('-' - '0'))},
    };
    const PA a;
    for (const auto& c : cases) {
        uint32_t out = 12345;
        EXPECT_EQ(a.GetLong(std::string("<JobId>") + c.value + "</JobId>", PA::JobId, out), 0u) << c.value;
        EXPECT_EQ(out, c.expected) << c.value;
    }
}

struct ByteCase {
    const char* value;
    std::vector<uint8_t> expected;
};

TEST(PropertyAccessorGet, ByteArrayDecodesPairs) {
    const ByteCase cases[] = {
        {"A50003", {0xA5, 0x00, 0x03}},
        {"A500031", {0xA5, 0x00, 0x03}},  // an odd final character is ignored
        {"a5ff", {0xA5, 0xFF}},
        {"", {}},
        {"1", {}},
        {"ZZ10", {0x00, 0x10}},            // an unreadable pair gives 0
        {"4x7", {0x04}},                   // a pair's leading digit alone
        {" 5", {0x00}},                    // no skipping of blanks into the next pair
        {"-1FF", {0x00, 0xFF}},
    };
    const PA a;
    for (const auto& c : cases) {
        const std::string bag = std::string("<Data>") + c.value + "</Data>";
        std::vector<uint8_t> buf(8, 0xEE);
        uint32_t len = 99;
        ASSERT_EQ(a.GetByteArray(bag, PA::DataByteArray, buf.data(), 8, len), 0u) << c.value;
        ASSERT_EQ(len, c.expected.size()) << c.value;
        EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + len), c.expected) << c.value;
        EXPECT_EQ(buf[len], 0xEE) << "wrote past the decoded bytes: " << c.value;

        std::vector<uint8_t> sized;
        EXPECT_EQ(a.GetByteArray(bag, PA::DataByteArray, sized), 0u);
        EXPECT_EQ(sized, c.expected) << c.value;
    }
}

TEST(PropertyAccessorGet, ByteArrayReportsLengthWhenBufferIsTooSmall) {
    const PA a;
    uint8_t buf[3] = {0xEE, 0xEE, 0xEE};
    uint32_t len = 0;
    EXPECT_EQ(a.GetByteArray("<Data>A50003</Data>", PA::DataByteArray, buf, 2, len), 122u);
    EXPECT_EQ(len, 3u);
    EXPECT_EQ(buf[0], 0xEE) << "nothing written on failure";
    EXPECT_EQ(a.GetByteArray("<Data>A50003</Data>", PA::DataByteArray, nullptr, 0, len), 122u);
    EXPECT_EQ(len, 3u);
}

TEST(PropertyAccessorSet, RoundTripsEveryType) {
    const PA a;
    std::string bag;
    const uint8_t bytes[] = {0xA5, 0x00, 0x0F, 0x5A};
    ASSERT_EQ(a.SetString(bag, PA::JobName, "report"), 0u);
    ASSERT_EQ(a.SetLong(bag, PA::JobId, 4294967295u), 0u);
    ASSERT_EQ(a.SetByteArray(bag, PA::DataByteArray, bytes, sizeof bytes), 0u);
    ASSERT_EQ(a.SetByteArray(bag, PA::TripletJobId, nullptr, 0), 0u);
    EXPECT_EQ(bag, "<JobName>report</JobName><JobId>4294967295</JobId><Data>A5000F5A</Data><TripletJobId></TripletJobId>");

    // Setting again leaves one element, the new value last.
    ASSERT_EQ(a.SetLong(bag, PA::JobId, 0), 0u);
    EXPECT_EQ(bag, "<JobName>report</JobName><Data>A5000F5A</Data><TripletJobId></TripletJobId><JobId>0</JobId>");

    a.Remove(bag, PA::DataString);
    a.Remove(bag, "<Type>String</Type>");
    EXPECT_EQ(bag, "<JobName>report</JobName><TripletJobId></TripletJobId><JobId>0</JobId>");
}

TEST(PropertyAccessorSet, RefusalsLeaveTheTextUnchanged) {
    const PA a;
    const std::string original = "<SerialNumber>S1</SerialNumber><Handle>8193</Handle>";
    std::string bag = original;
    const uint8_t byte = 1;
    struct {
        uint32_t rc;
        uint32_t expected;
        const char* what;
    } cases[] = {
        {a.SetString(bag, PA::SerialNumber, "S2"), 1629, "ReadOnly string"},
        {a.SetLong(bag, PA::Handle, 1), 1629, "ReadOnly long"},
        {a.SetString(bag, PA::PrinterModel, "m"), 1629, "ReadOnly, declared only"},
        {a.SetLong(bag, PA::JobName, 1), 1629, "wrong type"},
        {a.SetString(bag, PA::JobId, "1"), 1629, "wrong type"},
        {a.SetByteArray(bag, PA::DataString, &byte, 1), 1629, "wrong type"},
        {a.SetString(bag, "<Type>String</Type><Access>Writeable</Access>", "v"), 1359, "no Name"},
        {a.SetLong(bag, "<Name></Name><Type>Long</Type><Access>Writeable</Access>", 1), 1359, "empty Name"},
        {a.SetByteArray(bag, PA::DataByteArray, nullptr, 3), 87, "null bytes"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.rc, c.expected) << c.what;
    }
    EXPECT_EQ(bag, original);
}

}  // namespace
