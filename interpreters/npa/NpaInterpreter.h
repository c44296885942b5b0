#pragma once
// The NPA plug-in's process-wide state behind its four exports: the command manager, the packet
// manager and the prototype set, each created on first use under its own lock (a safe
// double-checked create), and the reference-counted initialisation that creates the prototypes
// on the first Initialize and destroys all three on the last Uninitialize. Portable, so that the
// whole life cycle is tested natively as well; the DLL's exports only forward here.
#include "export/common/CommandManager.h"
#include "export/common/PacketManager.h"

#include <cstdint>

class NpaInterpreter {
public:
    // The manager, created empty if there is none. Valid until the last Uninitialize.
    static CommandManager* GetCommandManager();
    static PacketManager* GetPacketManager();
    // Counts one more user; the first registers the twenty prototypes. 0, or the code of a
    // Win32Exception raised on the way (the count is then unchanged).
    static uint32_t Initialize();
    // Counts one user less; the last destroys prototypes and both managers. 0; 1 when there is
    // no initialisation to undo (nothing changes); or the code of a Win32Exception.
    static uint32_t Uninitialize();
    // The current count, for diagnostics and tests.
    static int32_t InitializationCount();
};
