// Request packets of the twenty NPA commands, built the way the service builds them: from a
// property text, through a manager holding the plug-in's prototype set.
#include "interpreters/npa/NpaCommand.h"
#include "interpreters/npa/NpaCommandManager.h"
#include "interpreters/npa/NpaPrototypeSet.h"

#include "NpaRequestCases.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

struct CommandDeleter {
    CommandManager* manager;
    void operator()(Command* c) const { manager->Destroy(c); }
};
using CommandPtr = std::unique_ptr<Command, CommandDeleter>;

class NpaCommandFamily : public ::testing::Test {
protected:
    CommandPtr Create(const std::string& text) { return CommandPtr(manager_.Create(text), CommandDeleter{&manager_}); }

    NpaCommandManager manager_;
    NpaPrototypeSet prototypes_{manager_};
};

TEST_F(NpaCommandFamily, EveryRequestTextGivesItsPacket) {
    std::set<std::string> covered;
    for (const NpaRequestCase& c : NpaRequestCases()) {
        const CommandPtr command = Create(c.text);
        EXPECT_EQ(Remaining(*command), c.bytes) << c.text;
        EXPECT_EQ(command->Name(), c.name) << c.text;
        covered.insert(c.name);
    }
    const std::vector<std::string> names = NpaCommandNames();
    EXPECT_EQ(covered, std::set<std::string>(names.begin(), names.end()));
}

TEST_F(NpaCommandFamily, BuiltRequestsAreWholePacketsThatAskForAReply) {
    for (const NpaRequestCase& c : NpaRequestCases()) {
        const CommandPtr command = Create(c.text);
        auto* npa = dynamic_cast<NpaCommand*>(command.get());
        ASSERT_NE(npa, nullptr) << c.text;
        if (c.bytes.empty()) {
            // Refused requests carry nothing that could be sent.
            EXPECT_FALSE(npa->IsProtocolPacket()) << c.text;
            continue;
        }
        EXPECT_TRUE(npa->IsComplete()) << c.text;
        EXPECT_EQ(npa->ExpectsReply(), c.name != "startNpaMode") << c.text;
        // A raw packet comes from a text; only packets built from bytes carry a command code.
        EXPECT_EQ(npa->CommandCode(), c.name == "rawData" ? 0 : c.bytes[4]) << c.text;
    }
}

TEST_F(NpaCommandFamily, PrototypesAreRegisteredInCreationOrderAndHoldBareTemplates) {
    EXPECT_EQ(prototypes_.Names(), NpaCommandNames());
    // A text that names a command but carries nothing else gives the bare template, except
    // where a missing property makes the request unsendable.
    const CommandPtr jobId = Create(Named("setJobId"));
    EXPECT_EQ(jobId->Size(), 0u);
    const CommandPtr date = Create(Named("setLastDate"));
    EXPECT_EQ(Remaining(*date), Hex("A5 00 0D 50 E0 84 00 01 00 00 00 00 00 00 00 00"));
}

TEST_F(NpaCommandFamily, UnknownNamesAndEmptyTextsGiveNullCommands) {
    for (const std::string& text : {Named("queryAllX", "<Data>A5000550E08100FF</Data>"), std::string(),
                                   std::string("<JobId>1</JobId>")}) {
        const CommandPtr command = Create(text);
        EXPECT_NE(dynamic_cast<NullCommand*>(command.get()), nullptr) << text;
    }
    // "Data" that does not decode gives a raw command without bytes, which may not be sent raw.
    const CommandPtr raw = Create(Named("rawData", "<Data></Data>"));
    EXPECT_EQ(raw->Size(), 0u);
    EXPECT_FALSE(raw->MaySendRaw());
}

TEST_F(NpaCommandFamily, NameLongerThanTheLengthFieldIsRefused) {
    const std::string fits(0xFFFF - 7 - 32, 'n');
    const CommandPtr longest = Create(Named("namePrintJob", "<JobName>" + fits + "</JobName>"));
    ASSERT_EQ(longest->Size(), 0xFFFFu + 3);
    EXPECT_TRUE(dynamic_cast<NpaCommand&>(*longest).IsComplete());
    EXPECT_EQ(longest->Bytes()[8], static_cast<uint8_t>((fits.size() + 32 + 1) & 0xFF));

    const CommandPtr tooLong = Create(Named("namePrintJob", "<JobName>" + fits + "n</JobName>"));
    EXPECT_EQ(tooLong->Size(), 0u);
}

TEST_F(NpaCommandFamily, TooManyAdapterVariablesAreRefused) {
    std::string components;
    const std::string one = std::string("<Component><Comp>\x06</Comp><Vid>\x01</Vid></Component>");
    for (int i = 0; i < 32765; ++i) {
        components += one;
    }
    const CommandPtr most = Create(Named("queryAdapterVariables", components));
    ASSERT_EQ(most->Size(), 7u + 2 * 32765);
    EXPECT_TRUE(dynamic_cast<NpaCommand&>(*most).IsComplete());

    const CommandPtr tooMany = Create(Named("queryAdapterVariables", components + one));
    EXPECT_EQ(tooMany->Size(), 0u);
}

}  // namespace
