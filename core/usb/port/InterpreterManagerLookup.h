#pragma once
// The service's interpreter lookup: the process-wide InterpreterManager, or the null managers
// while none exists (a port used before start-up or after teardown then frames nothing and
// builds only null commands). Any thread.
#include "core/usb/port/InterpreterLookup.h"

class InterpreterManagerLookup : public InterpreterLookup {
public:
    CommandManager* getCommandManager(const std::string& text) override;
    PacketManager* getPacketManager(const Data& buffer) override;

    // The one instance ports use by default.
    static InterpreterManagerLookup& instance();

private:
    NullCommandManager nullCommands_;
    NullPacketManager nullPackets_;
};
