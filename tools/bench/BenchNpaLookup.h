#pragma once
// The interpreter lookup of the benchmark programs: the NPA interpreter's own managers (the
// plug-in's code, linked in) claim what the service's lookup would give them, everything else
// goes to the null managers. Any thread.
#include "core/usb/port/InterpreterLookup.h"
#include "export/common/CommandManager.h"
#include "export/common/PacketManager.h"

class BenchNpaLookup : public InterpreterLookup {
public:
    BenchNpaLookup();
    ~BenchNpaLookup() override;
    BenchNpaLookup(const BenchNpaLookup&) = delete;
    BenchNpaLookup& operator=(const BenchNpaLookup&) = delete;

    CommandManager* getCommandManager(const std::string& text) override;
    PacketManager* getPacketManager(const Data& buffer) override;

private:
    NullCommandManager nullCommands_;
    NullPacketManager nullPackets_;
};
