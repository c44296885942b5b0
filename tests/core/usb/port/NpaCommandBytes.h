#pragma once
// The bytes of a named NPA command as the interpreter behind a lookup builds them, the way a
// client asks for a packet; empty when the lookup's interpreter has no such command.
#include "core/usb/port/InterpreterLookup.h"
#include "export/common/PropertyAccessor.h"

#include <cstdint>
#include <string>
#include <vector>

inline std::vector<uint8_t> npaCommandBytes(InterpreterLookup& lookup, const std::string& name) {
    std::string text;
    PropertyAccessor().SetString(text, PropertyAccessor::Interpreter, "Npa");
    PropertyAccessor().SetString(text, PropertyAccessor::CommandName, name);
    CommandManager* manager = lookup.getCommandManager(text);
    Command* command = manager->Create(text);
    std::vector<uint8_t> bytes;
    if (command != nullptr) bytes.assign(command->Bytes(), command->Bytes() + command->Size());
    manager->Destroy(command);
    return bytes;
}

inline Data npaCommandData(InterpreterLookup& lookup, const std::string& name) {
    const std::vector<uint8_t> bytes = npaCommandBytes(lookup, name);
    return Data(bytes.data(), static_cast<uint32_t>(bytes.size()));
}
