// Reply decoding of every NPA command. The first byte picks one of the twenty commands (in the
// prototype set's order) and the rest is the reply its DecodeReply gets; one more choice feeds
// the rest as a request text to the alert registration step (CreateAlertCommands).
// Checked, decoding: codes are 0, 1, 11 or 1629; the reply is not changed; a failure leaves no
// result behind (the adapter-variable query excepted, which keeps the variables found before a
// missing one); decoders that look for their answer only decode a packet that IsReplyTo accepts;
// decoding the same reply again gives the same code and text; the decoded properties read back
// with their descriptors, and a decoded serial number is plain printable text.
// Checked, registrations: 87 exactly when the text has no NewAlertMask, and then nothing is
// added; otherwise at most the five classes, in their order, each a complete packet asking for a
// reply, none when the mask does not change; commands already in the list stay in front.
#include "export/common/PropertyAccessor.h"
#include "fuzz/FuzzCheck.h"
#include "interpreters/npa/NpaCommand.h"
#include "interpreters/npa/NpaInterpreter.h"
#include "interpreters/npa/NpaPrototypeSet.h"
#include "interpreters/npa/PrinterAlertCommand.h"

#include <cstdint>
#include <cstring>
#include <list>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The prototype set's order; the corpus files start with these indices.
const char* const kNames[] = {
    "dcSummary", "startJob", "rawData", "startNpaMode", "setLastDate", "queryAll",
    "registerForPanelAlerts", "registerForDeviceStatusAlerts", "registerForQuorvelExtendedAlerts",
    "registerForQuorvelExtendedAlertsWithLanguageId", "registerForQuorvelExtensionAlerts", "namePrintJob",
    "aioLock", "aioSwathLock", "aioLegacyLock", "aioUnlock", "getPrinterLanguage", "endJob",
    "queryAdapterVariables", "setJobId",
};
constexpr size_t kCommandCount = sizeof kNames / sizeof kNames[0];

const char* const kRegistrationOrder[] = {
    "registerForDeviceStatusAlerts", "registerForQuorvelExtendedAlerts",
    "registerForQuorvelExtendedAlertsWithLanguageId", "registerForQuorvelExtensionAlerts", "registerForPanelAlerts",
};

CommandManager& Manager() {
    // Initialised once for the whole run and never undone: the prototypes stay reachable.
    static CommandManager* manager = [] {
        NpaInterpreter::Initialize();
        return NpaInterpreter::GetCommandManager();
    }();
    return *manager;
}

Command* Create(CommandManager& manager, const char* name) {
    std::string text;
    PropertyAccessor().SetString(text, PropertyAccessor::CommandName, name);
    return manager.Create(text);
}

bool LooksForItsAnswer(const std::string& name) {
    return name == "dcSummary" || name == "startJob" || name == "getPrinterLanguage" ||
           name == "queryAdapterVariables";
}

void Decode(CommandManager& manager, size_t index, const uint8_t* data, size_t size) {
    const std::string name = kNames[index];
    Command* command = Create(manager, kNames[index]);
    FUZZ_CHECK(command->Name() == name);
    const Data reply(data, static_cast<uint32_t>(size));
    const uint32_t rc = command->DecodeReply(reply);
    FUZZ_CHECK(rc == 0 || rc == 1 || rc == 11 || rc == 1629);
    FUZZ_CHECK(reply.Size() == size && (size == 0 || std::memcmp(reply.Bytes(), data, size) == 0));
    const std::string result = command->ResultText();
    if (rc != 0 && name != "queryAdapterVariables") FUZZ_CHECK(result.empty());
    if (rc == 0 && LooksForItsAnswer(name)) FUZZ_CHECK(command->IsReplyTo(reply));

    const PropertyAccessor accessor;
    uint32_t value = 0;
    if (rc == 0 && name == "startJob") {
        FUZZ_CHECK(accessor.GetLong(result, PropertyAccessor::JobId, value) == 0 && value <= 0xFFFF);
    }
    if (rc == 0 && name == "getPrinterLanguage") {
        FUZZ_CHECK(accessor.GetLong(result, PropertyAccessor::PrinterLanguage, value) == 0 && value <= 0xFF);
    }
    if (rc == 0 && name == "queryAll") {
        FUZZ_CHECK(accessor.GetLong(result, PropertyAccessor::HbnResponse, value) == 0 && value <= 1);
        FUZZ_CHECK(accessor.GetLong(result, PropertyAccessor::NpaResponse, value) == 0 && value <= 1);
    }
    if (rc == 0 && name == "dcSummary") {
        FUZZ_CHECK(accessor.GetLong(result, PropertyAccessor::MaxWritePacketSize, value) == 0 && value <= 0xFFFF);
        std::vector<uint8_t> revision;
        FUZZ_CHECK(accessor.GetByteArray(result, PropertyAccessor::NpaRevisionLevel, revision) == 0 &&
                   revision.size() == 3);
        // A field that is not plain printable text is left out rather than break the text.
        for (const char* field : {PropertyAccessor::Manufacturer, PropertyAccessor::Model, PropertyAccessor::SerialNumber}) {
            std::string text;
            if (accessor.GetString(result, field, text) == 0) {
                for (const char c : text) FUZZ_CHECK(c >= 0x20 && c <= 0x7E && c != '<' && c != '>');
            }
        }
    }

    FUZZ_CHECK(command->DecodeReply(reply) == rc);
    FUZZ_CHECK(command->ResultText() == result);
    manager.Destroy(command);
}

void Registrations(CommandManager& manager, const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const PropertyAccessor accessor;
    uint32_t newMask = 0;
    uint32_t currentMask = 0;
    const bool hasMask = accessor.GetLong(text, PropertyAccessor::NewAlertMask, newMask) == 0;
    accessor.GetLong(text, PropertyAccessor::CurrentAlertMask, currentMask);

    std::list<Command*> list;
    Command* first = Create(manager, "queryAll");
    list.push_back(first);
    const uint32_t rc = manager.CreateAlertCommands(text, list);
    FUZZ_CHECK(rc == (hasMask ? 0u : 87u));
    FUZZ_CHECK(!list.empty() && list.front() == first);
    if (!hasMask || newMask == currentMask) FUZZ_CHECK(list.size() == 1);
    FUZZ_CHECK(list.size() <= 6);
    size_t order = 0;
    for (auto it = std::next(list.begin()); it != list.end(); ++it) {
        auto* alert = dynamic_cast<PrinterAlertCommand*>(*it);
        FUZZ_CHECK(alert != nullptr);
        while (order < 5 && alert->Name() != kRegistrationOrder[order]) ++order;
        FUZZ_CHECK(order < 5);
        ++order;
        FUZZ_CHECK(alert->IsComplete() && alert->ExpectsReply());
        FUZZ_CHECK(alert->DecodeReply(Data(data, static_cast<uint32_t>(size))) == 1);
    }
    manager.DestroyList(list);
    FUZZ_CHECK(list.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    CommandManager& manager = Manager();
    const size_t choice = data[0] % (kCommandCount + 1);
    if (choice < kCommandCount) {
        Decode(manager, choice, data + 1, size - 1);
    } else {
        Registrations(manager, data + 1, size - 1);
    }
    return 0;
}
