// Alert mask changes turned into registration packets.
#include "interpreters/npa/NpaCommandManager.h"
#include "interpreters/npa/NpaPrototypeSet.h"
#include "interpreters/npa/PrinterAlertCommand.h"

#include "NpaRequestCases.h"

#include <gtest/gtest.h>

#include <list>
#include <utility>

namespace {

using Packet = std::pair<std::string, std::vector<uint8_t>>;  // command name, bytes

std::string MaskText(uint32_t current, uint32_t next, const char* languageId = nullptr) {
    std::string text = "<Interpreter>Npa</Interpreter><NewAlertMask>" + std::to_string(next) +
                       "</NewAlertMask><CurrentAlertMask>" + std::to_string(current) + "</CurrentAlertMask>";
    if (languageId != nullptr) {
        text += std::string("<LanguageId>") + languageId + "</LanguageId>";
    }
    return text;
}

std::vector<Packet> Packets(const std::list<Command*>& commands) {
    std::vector<Packet> packets;
    for (const Command* c : commands) {
        packets.emplace_back(c->Name(), Remaining(*c));
    }
    return packets;
}

const char* const kDevice = "registerForDeviceStatusAlerts";
const char* const kExtended = "registerForQuorvelExtendedAlerts";
const char* const kLanguage = "registerForQuorvelExtendedAlertsWithLanguageId";
const char* const kExtension = "registerForQuorvelExtensionAlerts";
const char* const kPanel = "registerForPanelAlerts";

class AlertCommands : public ::testing::Test {
protected:
    NpaCommandManager manager_;
    NpaPrototypeSet prototypes_{manager_};
};

TEST_F(AlertCommands, MaskChangesSelectAndFillTheRegistrations) {
    struct Case {
        uint32_t current;
        uint32_t next;
        const char* languageId;
        std::vector<Packet> expected;
    } cases[] = {
        {0, 0x1, nullptr, {{kDevice, Hex("A5 00 06 50 03 03 00 08 00")}}},
        {0x300, 0x100, nullptr, {{kDevice, Hex("A5 00 06 50 03 03 40 00 00")}}},
        {0, 0x3FF, nullptr, {{kDevice, Hex("A5 00 06 50 03 03 C0 0F 0F")}}},
        {0, 0xA0, nullptr, {{kDevice, Hex("A5 00 06 50 03 03 00 00 03")}}},
        {0, 0x100400, nullptr, {{kExtended, Hex("A5 00 06 50 E0 73 01 01 10")}, {kExtension, Hex("A5 00 04 50 E0 03 01")}}},
        {0, 0x7FC00, nullptr, {{kExtension, Hex("A5 00 04 50 E0 03 FF")}}},
        {0, 0x40000, nullptr, {{kExtension, Hex("A5 00 04 50 E0 03 80")}}},
        {0x5, 0x5, nullptr, {}},
        {0, 0xFC000000, nullptr, {}},  // bits 26-31 belong to no class
        {0, 0x200000, "0x0409",
         {{kLanguage, Hex("A5 00 0F 50 E0 73 07 08 00 01 00 00 00 00 00 00 01 09")}}},
        {0, 0x3E00000, nullptr, {{kLanguage, Hex("A5 00 0F 50 E0 73 07 08 00 11 07 00 00 00 00 00 01 00")}}},
        // Bit 19 registers for panel alerts, and taking it away unregisters them.
        {0, 0x80000, nullptr, {{kPanel, Hex("A5 00 05 50 E0 E1 03 01")}}},
        {0x80000, 0, nullptr, {{kPanel, Hex("A5 00 05 50 E0 E1 03 00")}}},
        // Unregistering one class keeps the other classes' bits in their packets.
        {0x100001, 0x1, nullptr, {{kExtended, Hex("A5 00 06 50 E0 73 01 01 00")}}},
        {0, 0xFFFFFFFF, "1F",
         {{kDevice, Hex("A5 00 06 50 03 03 C0 0F 0F")},
          {kExtended, Hex("A5 00 06 50 E0 73 01 01 10")},
          {kLanguage, Hex("A5 00 0F 50 E0 73 07 08 00 11 07 00 00 00 00 00 01 1F")},
          {kExtension, Hex("A5 00 04 50 E0 03 FF")},
          {kPanel, Hex("A5 00 05 50 E0 E1 03 01")}}},
    };
    for (const Case& c : cases) {
        std::list<Command*> out;
        EXPECT_EQ(manager_.CreateAlertCommands(MaskText(c.current, c.next, c.languageId), out), 0u)
            << std::hex << c.current << " -> " << c.next;
        EXPECT_EQ(Packets(out), c.expected) << std::hex << c.current << " -> " << c.next;
        for (Command* command : out) {
            EXPECT_EQ(command->Reserved(), 1u);
            EXPECT_TRUE(command->ExpectsReply());
        }
        manager_.DestroyList(out);
    }
}

TEST_F(AlertCommands, EarlierEntriesStayInFrontAndAMissingNewMaskChangesNothing) {
    Command* mine = manager_.Create(Named("queryAll"));
    std::list<Command*> out{mine};
    EXPECT_EQ(manager_.CreateAlertCommands("<CurrentAlertMask>0</CurrentAlertMask>", out), 87u);
    EXPECT_EQ(out, std::list<Command*>{mine});

    ASSERT_EQ(manager_.CreateAlertCommands(MaskText(0, 0x1), out), 0u);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out.front(), mine);
    EXPECT_EQ(out.back()->Name(), kDevice);

    // Without a current mask, every class with a bit in the new mask is affected.
    ASSERT_EQ(manager_.CreateAlertCommands("<NewAlertMask>1024</NewAlertMask>", out), 0u);
    EXPECT_EQ(out.back()->Name(), kExtension);
    manager_.DestroyList(out);
}

TEST_F(AlertCommands, MarkupInTheCallersTextDoesNotHideTheRegistrationName) {
    // A language id is any text a client sends; one with an unclosed "<CommandName>" used to be
    // read as the start of the registration's name, so every class answered 1 (found by fuzzing).
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"unclosed name in the language id", MaskText(0, 0x1, "x<CommandName>y")},
        {"a whole name element in the language id", MaskText(0, 0x1, "<CommandName>queryAll</CommandName>")},
        {"unclosed name before the masks", "<CommandName>Id>n" + MaskText(0, 0x1)},
    };
    for (const auto& c : cases) {
        std::list<Command*> out;
        EXPECT_EQ(manager_.CreateAlertCommands(c.text, out), 0u) << c.what;
        EXPECT_EQ(Packets(out), (std::vector<Packet>{{kDevice, Hex("A5 00 06 50 03 03 00 08 00")}})) << c.what;
        manager_.DestroyList(out);
    }
}

TEST(AlertCommandsBeforeInitialisation, NothingIsTakenForAnAlertCommand) {
    // No prototypes: Create answers NullCommands, which have no alert operations.
    NpaCommandManager uninitialised;
    std::list<Command*> out;
    EXPECT_EQ(uninitialised.CreateAlertCommands(MaskText(0, 0xFFFFFFFF), out), 1u);
    EXPECT_TRUE(out.empty());

    // A manager where another command answers one of the names: the registrations already made
    // by the call are released (the sanitizer reports a leak otherwise) and out is unchanged.
    NpaCommandManager foreign;
    struct ForeignPanel : NpaCommand {
        ForeignPanel() { name_ = "registerForPanelAlerts"; }
    } panel;
    foreign.Register(&panel);
    NpaPrototypeSet prototypes(foreign);
    Command* mine = foreign.Create("<CommandName>queryAll</CommandName>");
    std::list<Command*> kept{mine};
    EXPECT_EQ(foreign.CreateAlertCommands(MaskText(0, 0xFFFFFFFF), kept), 1u);
    EXPECT_EQ(kept, std::list<Command*>{mine});
    foreign.DestroyList(kept);
}

TEST(AlertCommandConstruction, ReadsTheNewMaskAndAppliesOnlyOwnBytes) {
    RegisterForDeviceStatusAlertsNpaCommand device("<NewAlertMask>768</NewAlertMask>");
    EXPECT_EQ(Remaining(device), Hex("A5 00 06 50 03 03 C0 00 00"));
    EXPECT_TRUE(device.AffectedBy(0, 0x200));
    EXPECT_FALSE(device.AffectedBy(0x400, 0));
    device.ApplyMask(0x1);  // clears what it owns first
    EXPECT_EQ(Remaining(device), Hex("A5 00 06 50 03 03 00 08 00"));
    device.ApplyText("<LanguageId>0x0409</LanguageId>");
    EXPECT_EQ(Remaining(device), Hex("A5 00 06 50 03 03 00 08 00"));
    EXPECT_EQ(device.DecodeReply(HexData("A5 00 06 10 03 03 00 08 00")), 1u);

    RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand language;
    language.ApplyText("<JobId>1</JobId>");
    EXPECT_EQ(language.Bytes()[17], 0x00) << "no LanguageId: template value";
    language.ApplyMask(0x3E00000);
    language.ApplyText("<LanguageId>0x0407</LanguageId>");
    EXPECT_EQ(Remaining(language), Hex("A5 00 0F 50 E0 73 07 08 00 11 07 00 00 00 00 00 01 07"));
}

TEST(AlertCommandConstruction, LanguageCodes) {
    const std::pair<const char*, uint8_t> cases[] = {
        {"0x0409", 0x09}, {"0409", 0x09}, {"0X0AbC", 0xBC}, {"x1F", 0x1F}, {"", 0x00}, {"0x", 0x00},
        {"0x12z4", 0x04},  // z counts as 0
        {"0x123456789ABCDEF0123", 0x23}, {"en-US", 0x00}, {"xx7", 0x07},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand::LanguageCode(c.first), c.second)
            << c.first;
    }
}

}  // namespace
