#include "interpreters/npa/NpaCommandManager.h"

#include "export/common/PropertyAccessor.h"
#include "interpreters/npa/NpaCommand.h"
#include "interpreters/npa/PrinterAlertCommand.h"

namespace {

constexpr uint32_t kNotSupported = 1;          // ERROR_INVALID_FUNCTION
constexpr uint32_t kInvalidParameter = 87;     // ERROR_INVALID_PARAMETER

// The order in which registrations reach the printer.
const char* const kRegistrations[] = {
    RegisterForDeviceStatusAlertsNpaCommand::kCommandName,
    RegisterForQuorvelExtendedAlertsNpaCommand::kCommandName,
    RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand::kCommandName,
    RegisterForQuorvelExtensionAlertsNpaCommand::kCommandName,
    RegisterForPanelAlertsNpaCommand::kCommandName,
};

}  // namespace

NpaCommandManager::NpaCommandManager() = default;

NpaCommandManager::~NpaCommandManager() = default;

Command* NpaCommandManager::CreateFromPacket(const Data& packet) {
    return new NpaCommand(packet);
}

uint32_t NpaCommandManager::CreateAlertCommands(const std::string& text, std::list<Command*>& out) {
    const PropertyAccessor accessor;
    uint32_t newMask = 0;
    if (accessor.GetLong(text, PropertyAccessor::NewAlertMask, newMask) != 0) {
        return kInvalidParameter;
    }
    uint32_t currentMask = 0;
    accessor.GetLong(text, PropertyAccessor::CurrentAlertMask, currentMask);

    std::list<Command*> selected;
    for (const char* name : kRegistrations) {
        // The name goes in front of the caller's text, where it is the first CommandName element
        // whatever that text holds: a value in it with an unclosed "<CommandName>" (a client's
        // language id can be any text) would otherwise be read as the start of the name.
        std::string request;
        accessor.SetString(request, PropertyAccessor::CommandName, name);
        request += text;
        Command* command = Create(request);
        // Before initialisation (or if a foreign prototype took the name) Create answers with a
        // command that has no alert operations. Treating it as one would call through a table
        // it does not have; registering only some of the classes would report a registration
        // the printer never got. So the whole change is refused.
        auto* alert = dynamic_cast<PrinterAlertCommand*>(command);
        if (alert == nullptr) {
            Destroy(command);
            DestroyList(selected);
            return kNotSupported;
        }
        if (alert->AffectedBy(currentMask, newMask)) {
            alert->ApplyMask(newMask);
            alert->ApplyText(text);
            selected.push_back(alert);
        } else {
            Destroy(alert);
        }
    }
    out.splice(out.end(), selected);
    return 0;
}
