#include "export/common/CommandManager.h"

#include "export/common/PropertyAccessor.h"

#include <vector>

namespace {

constexpr uint32_t kNotSupported = 1;
constexpr const char* kRawDataCommand = "rawData";

}  // namespace

CommandManager::CommandManager() = default;

CommandManager::~CommandManager() {
    // The prototypes belong to the code that registered them.
    prototypes_.clear();
}

void CommandManager::Register(Command* prototype) {
    if (prototype != nullptr) {
        prototypes_.emplace(prototype->Name(), prototype);
    }
}

Command* CommandManager::CreateFromPacket(const Data&) {
    return new NullCommand();
}

Command* CommandManager::Create(const std::string& text) {
    const PropertyAccessor accessor;
    std::string name;
    if (accessor.GetString(text, PropertyAccessor::CommandName, name) != 0) {
        // A text with raw packet bytes and no command name is a raw exchange.
        std::vector<uint8_t> bytes;
        if (accessor.GetByteArray(text, PropertyAccessor::DataByteArray, bytes) != 0) {
            return new NullCommand();
        }
        name = kRawDataCommand;
    }
    const auto found = prototypes_.find(name);
    if (found == prototypes_.end()) {
        return new NullCommand();
    }
    Command* command = found->second->Clone(text);
    // A prototype that fails to clone must not turn into a null the callers never expect.
    return command != nullptr ? command : new NullCommand();
}

uint32_t CommandManager::CreateAlertCommands(const std::string&, std::list<Command*>&) {
    return kNotSupported;
}

void CommandManager::Destroy(Command* command) {
    delete command;
}

void CommandManager::DestroyList(std::list<Command*>& commands) {
    for (Command* command : commands) {
        delete command;
    }
    commands.clear();
}

NullCommandManager::~NullCommandManager() = default;

Command* NullCommandManager::Create(const std::string&) {
    return new NullCommand();
}
