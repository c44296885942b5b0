// tolvexctl's command line and messages: what it puts on the pipe byte for byte, how it reads
// replies that lie about their lengths, and the lines it prints.
#include "core/ipc/IpcParameterWriter.h"
#include "include/TolvexProtocol.h"
#include "tools/tolvexctl/CtlCommandLine.h"
#include "tools/tolvexctl/CtlMessages.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using Bytes = std::vector<uint8_t>;
using C = CtlCommandLine::Command;

Bytes bytesOf(const Data& d) { return Bytes(d.Bytes(), d.Bytes() + d.Size()); }

bool parse(std::vector<std::string> args, CtlCommandLine& line, std::string& error) {
    return line.parse(args, error);
}

}  // namespace

TEST(CtlCommandLineTest, AcceptsEachCommandWithItsArguments) {
    struct Case {
        std::vector<std::string> args;
        C command;
        std::string port;  // passed on as given: the service judges it
    };
    const Case cases[] = {
        {{"clientid"}, C::ClientId, ""},
        {{"--pipe", "p1", "enum", "LPT1"}, C::Enum, "LPT1"},
        {{"open", "USB999"}, C::Open, "USB999"},
        {{"close", "usb002"}, C::Close, "usb002"},
        {{"exchange", "USB001", "endJob", "JobId=5", "Data=A5=1"}, C::Exchange, "USB001"},
        {{"raw", "USB001", "a5 00:05-50"}, C::Raw, "USB001"},
        {{"watch", "USB001", "--mask", "0x100400", "--language", "0x0409", "--count", "2", "--for", "500"}, C::Watch, "USB001"},
        {{"set-timeout", "USB000", "0"}, C::SetTimeout, "USB000"},
        {{"set-language", "USB001", "english"}, C::SetLanguage, "USB001"},
    };
    for (const Case& c : cases) {
        CtlCommandLine line;
        std::string error;
        ASSERT_TRUE(parse(c.args, line, error)) << c.args[0] << ": " << error;
        EXPECT_EQ(line.command, c.command);
        EXPECT_EQ(line.port, c.port);
        EXPECT_FALSE(line.help);
    }
    CtlCommandLine line;
    std::string error;
    ASSERT_TRUE(parse({"exchange", "USB001", "endJob", "JobId=5", "Data=A5=1"}, line, error));
    ASSERT_EQ(line.properties.size(), 2u);
    EXPECT_EQ(line.properties[1], std::make_pair(std::string("Data"), std::string("A5=1")));
    ASSERT_TRUE(parse({"--pipe", "p1", "watch", "USB001", "--mask", "0x100400", "--language", "0x0409", "--count", "2"},
                      line = CtlCommandLine(), error));
    EXPECT_EQ(line.pipe, "p1");
    EXPECT_EQ(line.mask, 0x100400u);
    EXPECT_EQ(line.language, "0x0409");
    EXPECT_EQ(line.count, 2u);
    ASSERT_TRUE(parse({"raw", "USB001", "a5 00:05-50"}, line = CtlCommandLine(), error));
    EXPECT_EQ(line.packet, (Bytes{0xA5, 0x00, 0x05, 0x50}));
}

TEST(CtlCommandLineTest, HelpComesAsACommandOrAnOptionAndNamesEveryCommand) {
    struct Case {
        std::vector<std::string> args;
        C helpFor;
    };
    const Case cases[] = {
        {{"help"}, C::None}, {{"--help"}, C::None}, {{"help", "watch"}, C::Watch}, {{"watch", "--help"}, C::Watch},
    };
    for (const Case& c : cases) {
        CtlCommandLine line;
        std::string error;
        ASSERT_TRUE(parse(c.args, line, error)) << error;
        EXPECT_TRUE(line.help);
        EXPECT_EQ(line.command, c.helpFor);
    }
    // Each command's overview entry has a description in the column after the synopses.
    const std::string overview = CtlCommandLine::usage();
    const std::size_t block = overview.find("Commands:\n");
    std::istringstream lines(overview.substr(block, overview.find("\n\n", block) - block));
    std::size_t described = 0;
    for (std::string l; std::getline(lines, l);) {
        if (l.size() > 26 && l.compare(24, 2, "  ") == 0 && l[26] != ' ') ++described;
    }
    const C commands[] = {C::ClientId, C::Enum, C::Open, C::Close, C::Exchange, C::Raw, C::Watch, C::SetTimeout,
                          C::SetLanguage, C::Help};
    EXPECT_EQ(described, std::size(commands)) << overview;
    for (C command : commands) {
        EXPECT_NE(overview.find(std::string("\n  ") + CtlCommandLine::nameOf(command)), std::string::npos);
    }
    EXPECT_NE(CtlCommandLine::usage(C::Watch).find("extended-language   bits 21-25"), std::string::npos);
    EXPECT_NE(CtlCommandLine::usage(C::Exchange).find("HbnResponse"), std::string::npos);
}

TEST(CtlCommandLineTest, AlertMasksTakeNumbersOrClassNames) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t mask;
    };
    const Case cases[] = {
        {"1", true, 1},
        {"0x3FF", true, 0x3FF},
        {"device-status", true, TOLVEX_ALERT_DEVICE_STATUS},
        {"panel,extended", true, TOLVEX_ALERT_PANEL | TOLVEX_ALERT_EXTENDED},
        {"extension+extended-language", true, TOLVEX_ALERT_EXTENSION | TOLVEX_ALERT_EXTENDED_LANGUAGE},
        {"all", true, 0x03FFFFFF},
        {"panels", false, 0},
        {"panel,", false, 0},
        {"Panel", false, 0},
        {"0x1FFFFFFFF", false, 0},
    };
    for (const Case& c : cases) {
        uint32_t mask = 0;
        EXPECT_EQ(CtlCommandLine::parseMask(c.text, mask), c.ok) << c.text;
        EXPECT_EQ(mask, c.mask) << c.text;
    }
}

TEST(CtlCommandLineTest, RefusesBadLinesWithAMessage) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"help", "frobnicate"},
        {"help", "watch", "open"},
        {"open"},
        {"open", "USB001", "extra"},
        {"exchange", "USB001"},
        {"exchange", "USB001", "endJob", "JobId"},
        {"exchange", "USB001", "endJob", "=5"},
        {"raw", "USB001", "a5 0"},
        {"raw", "USB001", "a5zz"},
        {"raw", "USB001", ""},
        {"watch", "USB001"},
        {"watch", "USB001", "--mask", "0x1FFFFFFFF"},
        {"watch", "USB001", "--mask", "panels"},
        {"watch", "USB001", "--mask", "1", "--count"},
        {"open", "USB001", "--mask", "1"},
        {"set-timeout", "USB001", "12ms"},
        {"--pipe", "\\\\.\\pipe\\x", "clientid"},
        {"--pipe", "host/x", "clientid"},
        {"clientid", "--bogus"},
    };
    for (const auto& args : cases) {
        CtlCommandLine line;
        std::string error;
        EXPECT_FALSE(parse(args, line, error)) << (args.empty() ? "(empty)" : args[0]);
        EXPECT_FALSE(error.empty());
    }
}

TEST(CtlMessagesTest, RequestsAreTheServicesLayoutByteForByte) {
    // id 101; long 0; string "USB001" and its zero; long 0x2001.
    EXPECT_EQ(bytesOf(CtlMessages::openPrinterEx("USB001", 0x2001)),
              (Bytes{0x00, 0x65, 1, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1, 9, 0, 0, 0, 0, 0, 0, 0, 7, 'U', 'S',
                     'B', '0', '0', '1', 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0x20, 0x01}));
    // id 26; client 0; handle; byte array; its length; the reply size.
    EXPECT_EQ(bytesOf(CtlMessages::exchangeNpa(0x2001, {0xA5, 0x00}, 0x10002)),
              (Bytes{0x00, 0x1A, 1, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0x20,
                     0x01, 1, 10, 0, 0, 0, 0, 0, 0, 0, 2, 0xA5, 0x00, 1, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 2, 1, 1,
                     0, 0, 0, 0, 0, 0, 0, 4, 0, 1, 0, 2}));
    const Bytes registration = bytesOf(CtlMessages::registerForAlerts(7, 0x2001, 1, "cb"));
    const std::string text = "<PIPENAME>cb</PIPENAME>";
    ASSERT_EQ(registration.size(), 2u + 3 * 14 + 10 + text.size() + 1);
    EXPECT_EQ(std::string(registration.begin() + 54, registration.end() - 1), text);
    const Bytes timeout = bytesOf(CtlMessages::setTimeout(0x2001, 5000));
    EXPECT_EQ(std::string(timeout.begin() + 40, timeout.begin() + 56), "SET BIDI TIMEOUT");
    EXPECT_EQ(Bytes(timeout.end() - 4, timeout.end()), (Bytes{0, 0, 0x13, 0x88}));
}

TEST(CtlMessagesTest, RepliesThatDisagreeWithTheRequestAreMalformed) {
    const Data request = CtlMessages::exchangeNpa(0x2001, {0xA5});
    const uint8_t answer[] = {0xA5, 0x00, 0x03, 0x50, 0x01, 0x00};
    struct Case {
        const char* what;
        uint16_t id;
        bool withCode;
        uint32_t arrayBytes;
        uint32_t returned;
        int32_t expected;
    };
    const Case cases[] = {
        {"good", 26, true, 6, 4, 0},
        {"other id", 27, true, 6, 4, CtlMessages::kMalformedReply},
        {"bare id", 26, false, 6, 4, CtlMessages::kMalformedReply},
        {"returned beyond array", 26, true, 6, 7, CtlMessages::kMalformedReply},
    };
    for (const Case& c : cases) {
        Data reply;
        IpcParameterWriter w(reply);
        w.functionId(c.id);
        if (c.withCode) w.returnCode(0).byteArray(2, answer, c.arrayBytes).longValue(2, c.returned);
        Bytes got{0xEE};
        EXPECT_EQ(CtlMessages::exchangeResult(request, reply, got), c.expected) << c.what;
        EXPECT_EQ(got, c.expected == 0 ? Bytes(answer, answer + 4) : Bytes{0xEE}) << c.what;
    }
    // A failed exchange passes the service's code through.
    Data refused;
    IpcParameterWriter(refused).functionId(26).returnCode(87);
    Bytes got;
    EXPECT_EQ(CtlMessages::exchangeResult(request, refused, got), 87);

    const Data idRequest = CtlMessages::getClientId("t");
    Data idReply;
    IpcParameterWriter(idReply).functionId(2).returnCode(0);
    uint32_t id = 5;
    EXPECT_EQ(CtlMessages::longResult(idRequest, idReply, id), CtlMessages::kMalformedReply);
    EXPECT_EQ(id, 5u);
}

TEST(CtlMessagesTest, PrintsPropertiesAndBytesReadably) {
    const char raw[] =
        "<HbnResponse>0</HbnResponse><NpaResponse>1</NpaResponse><Component><Comp>\x06</Comp><Data>a\0b</Data>"
        "</Component><Broken>x";
    const auto lines = CtlMessages::propertyLines(std::string(raw, sizeof raw - 1));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "HbnResponse = 0");
    EXPECT_EQ(lines[1], "NpaResponse = 1");
    EXPECT_EQ(lines[2], "Component = <Comp>\\x06</Comp><Data>a\\x00b</Data>");
    EXPECT_EQ(CtlMessages::hex(Bytes{0xA5, 0x00, 0x0F}), "a5 00 0f");
    EXPECT_EQ(CtlMessages::alertLine("T", "<Handler>AlertHandler</Handler>", Bytes{0xA5}),
              "T alert 1 bytes: a5 | <Handler>AlertHandler</Handler>");
    EXPECT_NE(CtlMessages::callbackPipeName(1, 2), CtlMessages::callbackPipeName(1, 3));
    // The request the service answers itself, told by its bytes 4 to 7 only.
    EXPECT_TRUE(CtlMessages::isNpaModeRequest({0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4, 0x5B, 0x10}));
    EXPECT_TRUE(CtlMessages::isNpaModeRequest({0x00, 0x00, 0x00, 0x00, 0xA4, 0x5B, 0xA4, 0x5B}));
    EXPECT_FALSE(CtlMessages::isNpaModeRequest({0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4}));
    EXPECT_FALSE(CtlMessages::isNpaModeRequest({0xA5, 0x00, 0x05, 0x50, 0xA4, 0x5B, 0xA4, 0x5C}));
}
