#pragma once
// How the port and the packet protocol find the interpreter for a request text or for bytes read
// from a printer. The service answers through the process-wide InterpreterManager; tests can
// answer with the NPA managers directly. Returned managers outlive every call that uses them and
// are never null (the null managers stand in). Any thread.
#include "export/common/CommandManager.h"
#include "export/common/Data.h"
#include "export/common/PacketManager.h"

#include <string>

class InterpreterLookup {
public:
    virtual ~InterpreterLookup();
    virtual CommandManager* getCommandManager(const std::string& text) = 0;
    virtual PacketManager* getPacketManager(const Data& buffer) = 0;
};
