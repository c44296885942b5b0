#include "core/usb/SimulatedPrinterFile.h"

#include <gtest/gtest.h>

namespace {

TEST(SimulatedPrinterFile, ReadsEveryPrinter) {
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<!-- two printers -->\r\n"
        "<printers>\r\n"
        "  <printer>\r\n"
        "    <PortNumber> 1 </PortNumber>\r\n"
        "    <InstanceId>USB\\VID_1A2B&amp;PID_0C3D\\SIM0001</InstanceId>\r\n"
        "    <DevicePath>\\\\.\\pipe\\QvSim\\USB001</DevicePath>\r\n"
        "    <DeviceId>MFG:Quorvel;MODEL:Q100 Series;CMD:NPA;</DeviceId>\r\n"
        "    <Comment kind=\"free\">ignored <b>nested</b></Comment>\r\n"
        "  </printer>\r\n"
        "  <printer id='2'><PortNumber>42</PortNumber><DeviceId>A&lt;B&gt;&quot;&apos;&#65;&#x42;</DeviceId>"
        "<InstanceId/></printer>\r\n"
        "  <printer/>\r\n"
        "</printers>\r\n";
    std::vector<SimulatedPrinter> printers;
    ASSERT_EQ(SimulatedPrinterFile::parse(xml, printers), 0u);
    ASSERT_EQ(printers.size(), 3u);
    EXPECT_EQ(printers[0].portNumber, 1u);
    EXPECT_EQ(printers[0].instanceId, "USB\\VID_1A2B&PID_0C3D\\SIM0001");
    EXPECT_EQ(printers[0].devicePath, "\\\\.\\pipe\\QvSim\\USB001");
    EXPECT_EQ(printers[0].deviceId, "MFG:Quorvel;MODEL:Q100 Series;CMD:NPA;");
    EXPECT_EQ(printers[1].portNumber, 42u);
    EXPECT_EQ(printers[1].deviceId, "A<B>\"'AB");
    EXPECT_EQ(printers[1].instanceId, "");
    EXPECT_EQ(printers[2].portNumber, 0u);
}

TEST(SimulatedPrinterFile, PortNumbersThatAreNotNumbersNeverMatch) {
    for (const char* port : {"", "x1", "-1", "1.0", "4294967296", "99999999999"}) {
        std::vector<SimulatedPrinter> printers;
        ASSERT_EQ(SimulatedPrinterFile::parse(std::string("<printers><printer><PortNumber>") + port +
                                                  "</PortNumber></printer></printers>",
                                              printers),
                  0u)
            << port;
        ASSERT_EQ(printers.size(), 1u);
        EXPECT_EQ(printers[0].portNumber, 0u) << port;
    }
    std::vector<SimulatedPrinter> printers;
    ASSERT_EQ(SimulatedPrinterFile::parse("<printers><printer><PortNumber>4294967295</PortNumber></printer></printers>",
                                          printers),
              0u);
    EXPECT_EQ(printers[0].portNumber, 4294967295u);
}

TEST(SimulatedPrinterFile, MalformedDocumentsGiveNoPrinters) {
    const char* const documents[] = {
        "",
        "   ",
        "<printer><PortNumber>1</PortNumber></printer>",
        "<printers><printer><PortNumber>1</PortNumber></printer>",
        "<printers><printer><PortNumber>1</PortNumber></printers>",
        "<printers><printer><PortNumber>1</Port></printer></printers>",
        "<printers><printer><DeviceId>a&b</DeviceId></printer></printers>",
        "<printers><printer><DeviceId>&#x100;</DeviceId></printer></printers>",
        "<printers><printer><DeviceId>&#0;</DeviceId></printer></printers>",
        "<printers><printer><DeviceId>&unknown;</DeviceId></printer></printers>",
        "<printers>text<printer/></printers>",
        "<printers></printers><printers></printers>",
        "<printers><printer attr=\"unclosed></printer></printers>",
        "<printers><!-- unclosed comment </printers>",
        "<printers><![CDATA[x]]></printers>",
    };
    for (const char* document : documents) {
        std::vector<SimulatedPrinter> printers(2);
        EXPECT_EQ(SimulatedPrinterFile::parse(document, printers), SimulatedPrinterFile::kInvalidData) << document;
        EXPECT_TRUE(printers.empty()) << document;
    }
    std::string deep = "<printers><printer><x>";
    for (int i = 0; i < 100; ++i) deep += "<y>";
    std::vector<SimulatedPrinter> printers;
    EXPECT_EQ(SimulatedPrinterFile::parse(deep, printers), SimulatedPrinterFile::kInvalidData);
}

TEST(SimulatedPrinterFile, ReplyCarriesALengthThatCountsItself) {
    const std::string id = "MFG:Quorvel;MODEL:Q100 Series;CMD:NPA;";
    const std::string reply = SimulatedPrinterFile::reply1284(id);
    ASSERT_EQ(reply.size(), id.size() + 2);
    EXPECT_EQ(static_cast<uint8_t>(reply[0]), 0x00);
    EXPECT_EQ(static_cast<uint8_t>(reply[1]), id.size() + 2);
    EXPECT_EQ(reply.substr(2), id);

    const std::string long300(300, 'x');
    const std::string r300 = SimulatedPrinterFile::reply1284(long300);
    EXPECT_EQ(static_cast<uint8_t>(r300[0]), 0x01);
    EXPECT_EQ(static_cast<uint8_t>(r300[1]), 0x2E);

    EXPECT_EQ(SimulatedPrinterFile::reply1284(std::string(1022, 'x')).size(), 1024u);
    EXPECT_TRUE(SimulatedPrinterFile::reply1284(std::string(1023, 'x')).empty());
    EXPECT_EQ(SimulatedPrinterFile::reply1284(""), std::string("\x00\x02", 2));
}

}  // namespace
