#include "core/usb/port/InterpreterManagerLookup.h"

#include "core/interpreters/InterpreterManager.h"

CommandManager* InterpreterManagerLookup::getCommandManager(const std::string& text) {
    if (!InterpreterManager::exists()) return &nullCommands_;
    return InterpreterManager::getInstance().getCommandManager(text);
}

PacketManager* InterpreterManagerLookup::getPacketManager(const Data& buffer) {
    if (!InterpreterManager::exists()) return &nullPackets_;
    return InterpreterManager::getInstance().getPacketManager(buffer);
}

InterpreterManagerLookup& InterpreterManagerLookup::instance() {
    static InterpreterManagerLookup lookup;
    return lookup;
}
