#include "tools/bench/BenchNpaLookup.h"

#include "export/common/PropertyText.h"
#include "interpreters/npa/NpaInterpreter.h"

BenchNpaLookup::BenchNpaLookup() { NpaInterpreter::Initialize(); }

BenchNpaLookup::~BenchNpaLookup() { NpaInterpreter::Uninitialize(); }

CommandManager* BenchNpaLookup::getCommandManager(const std::string& text) {
    CommandManager* npa = NpaInterpreter::GetCommandManager();
    std::string interpreter;
    if (FindElement(text, "Interpreter", interpreter)) return interpreter == "Npa" ? npa : &nullCommands_;
    Command* command = npa->Create(text);
    const bool claimed = command != nullptr && command->IsProtocolPacket();
    npa->Destroy(command);
    return claimed ? npa : &nullCommands_;
}

PacketManager* BenchNpaLookup::getPacketManager(const Data& buffer) {
    // The same claim the service's lookup makes for bytes read from a printer.
    CommandManager* npa = NpaInterpreter::GetCommandManager();
    Command* command = npa->CreateFromPacket(buffer);
    const bool claimed = command != nullptr && command->IsProtocolPacket();
    npa->Destroy(command);
    return claimed ? NpaInterpreter::GetPacketManager() : &nullPackets_;
}
