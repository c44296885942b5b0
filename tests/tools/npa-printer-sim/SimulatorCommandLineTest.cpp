#include "tools/npa-printer-sim/SimulatorCommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
    bool ok;
    std::string error;
    SimulatorCommandLine line;
};

Parsed Parse(const std::vector<std::string>& args) {
    Parsed p;
    p.ok = p.line.parse(args, p.error);
    return p;
}

}  // namespace

TEST(SimulatorCommandLine, NoArgumentsServesTheDefaultPrinter) {
    const Parsed p = Parse({});
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.line.printers.size(), 1u);
    EXPECT_EQ(p.line.printers[0].devicePath, "\\\\.\\pipe\\QvSim\\USB001");
    EXPECT_EQ(p.line.printers[0].identity.serialNumber, "SIM0001");
    EXPECT_EQ(p.line.runForMs, 0u);
}

// Options before the first printer reach every printer; options after one stay with it; --for
// scopes reply options to one command.
TEST(SimulatorCommandLine, GlobalPrinterAndCommandScopes) {
    const Parsed p = Parse({"--delay", "100", "--alert-every=250", "--run-for", "5000",
                            "--device-path", "\\\\.\\pipe\\QvSim\\USB001", "--serial", "AAA",
                            "--device-path", "\\\\.\\pipe\\QvSim\\USB002", "--ack", "2", "--ack-every", "50",
                            "--for", "queryAll", "--split-at", "3", "--join", "--for", "registerForPanelAlerts",
                            "--refuse-registration", "--for", "all", "--fragment", "4", "--silent",
                            "--unplug-after", "700", "--replug-after", "300", "--keep-registrations", "--quiet", "--no-input"});
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.line.printers.size(), 2u);
    const auto& first = p.line.printers[0];
    const auto& second = p.line.printers[1];
    EXPECT_EQ(first.identity.serialNumber, "AAA");
    EXPECT_EQ(second.identity.serialNumber, "SIM0001");
    for (const auto* printer : {&first, &second}) {
        EXPECT_EQ(printer->defaultBehaviour.delayMs, 100u);
        EXPECT_EQ(printer->alertEveryMs, 250u);
    }
    EXPECT_EQ(first.defaultBehaviour.acks, 0u);
    EXPECT_TRUE(first.behaviours.empty());
    EXPECT_FALSE(first.silent);

    EXPECT_EQ(second.defaultBehaviour.acks, 2u);
    EXPECT_EQ(second.defaultBehaviour.ackIntervalMs, 50u);
    EXPECT_EQ(second.defaultBehaviour.fragmentSize, 4u);
    const auto& query = second.behaviours.at(NpaRequestKind::QueryAll);
    EXPECT_EQ(query.acks, 2u);  // started from the printer's reply options at the time of --for
    EXPECT_EQ(query.splitAt, 3u);
    EXPECT_TRUE(query.join);
    EXPECT_EQ(query.fragmentSize, 0u);
    EXPECT_TRUE(second.behaviours.at(NpaRequestKind::RegisterForPanelAlerts).refuseRegistration);
    EXPECT_FALSE(second.defaultBehaviour.refuseRegistration);
    EXPECT_TRUE(second.silent);
    EXPECT_EQ(second.unplugAfterMs, 700u);
    EXPECT_EQ(second.replugAfterMs, 300u);
    EXPECT_TRUE(second.keepRegistrations);
    EXPECT_EQ(p.line.runForMs, 5000u);
    EXPECT_TRUE(p.line.quiet);
    EXPECT_TRUE(p.line.noInput);
}

TEST(SimulatorCommandLine, BadCommandLinesAreRefusedWithTheReason) {
    struct Case {
        std::vector<std::string> args;
        const char* mentions;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--delay"}, "--delay needs a value"},
        {{"--delay", "12x"}, "'12x' is not a number"},
        {{"--delay", "-1"}, "'-1' is not a number"},
        {{"--language", "256"}, "from 0 to 255"},
        {{"--delay", "99999999999"}, "is not a number"},
        {{"--join=yes"}, "--join takes no value"},
        {{"--for", "QueryAll"}, "is not a command name"},
        {{"--device-path", "C:\\printer"}, "is not a pipe path"},
        {{"--device-path", "\\\\.\\pipe\\A", "--device-path", "\\\\.\\pipe\\A"}, "is given twice"},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.args);
        EXPECT_FALSE(p.ok) << c.mentions;
        EXPECT_NE(p.error.find(c.mentions), std::string::npos) << p.error;
        EXPECT_TRUE(p.line.printers.empty());
    }
}

TEST(SimulatorCommandLine, HelpDocumentsEveryOption) {
    const Parsed p = Parse({"--help"});
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.line.help);
    const std::string usage = SimulatorCommandLine::usage();
    for (const char* option :
         {"--device-path", "--manufacturer", "--model", "--serial", "--max-packet", "--language", "--for", "--delay",
          "--never-reply", "--ack ", "--ack-every", "--split-at", "--join", "--fragment", "--refuse-registration",
          "--alert-before-reply", "--silent", "--alert-every", "--alert-always", "--unplug-after", "--replug-after",
          "--keep-registrations", "--run-for", "--no-input", "--quiet", "--verbose", "--help"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
    for (int k = 0; k < static_cast<int>(NpaRequestKind::Malformed); ++k) {
        EXPECT_NE(usage.find(npaRequestKindName(static_cast<NpaRequestKind>(k))), std::string::npos) << k;
    }
}
