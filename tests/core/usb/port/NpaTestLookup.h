#pragma once
// The interpreter lookup with the NPA interpreter as the only configured one, answered from its
// portable managers (the plug-in's own code), following the claim rules of the service.
#include "core/usb/port/InterpreterLookup.h"
#include "export/common/PropertyText.h"
#include "interpreters/npa/NpaInterpreter.h"

#include <atomic>

class NpaTestLookup : public InterpreterLookup {
public:
    NpaTestLookup() { NpaInterpreter::Initialize(); }
    ~NpaTestLookup() override { NpaInterpreter::Uninitialize(); }

    CommandManager* getCommandManager(const std::string& text) override {
        CommandManager* npa = NpaInterpreter::GetCommandManager();
        std::string interpreter;
        if (FindElement(text, "Interpreter", interpreter)) return interpreter == "Npa" ? npa : &nullCommands_;
        Command* command = npa->Create(text);
        const bool claimed = command->IsProtocolPacket();
        npa->Destroy(command);
        return claimed ? npa : &nullCommands_;
    }

    PacketManager* getPacketManager(const Data& buffer) override {
        ++packetManagerCalls;
        CommandManager* npa = NpaInterpreter::GetCommandManager();
        Command* command = npa->CreateFromPacket(buffer);
        const bool claimed = command->IsProtocolPacket();
        npa->Destroy(command);
        return claimed ? NpaInterpreter::GetPacketManager() : &nullPackets_;
    }

    std::atomic<int> packetManagerCalls{0};

private:
    NullCommandManager nullCommands_;
    NullPacketManager nullPackets_;
};
