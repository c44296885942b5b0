#include "interpreters/npa/NpaInterpreter.h"

#include "interpreters/npa/NpaCommandManager.h"
#include "interpreters/npa/NpaPacketManager.h"
#include "interpreters/npa/NpaPrototypeSet.h"
#include "runtime/CriticalSection.h"
#include "runtime/Exception.h"
#include "runtime/ProcessSingleton.h"

namespace {

constexpr uint32_t kNothingToUndo = 1;  // ERROR_INVALID_FUNCTION

// Function-local statics: each lock exists before its first use whatever the order in which
// the library's statics are set up, and the C++ runtime makes their creation thread-safe.
CriticalSection& InitializationLock() {
    static CriticalSection section;
    return section;
}

ProcessSingleton<NpaCommandManager>& CommandManagerSingleton() {
    static ProcessSingleton<NpaCommandManager> singleton;
    return singleton;
}

ProcessSingleton<NpaPacketManager>& PacketManagerSingleton() {
    static ProcessSingleton<NpaPacketManager> singleton;
    return singleton;
}

ProcessSingleton<NpaPrototypeSet>& PrototypeSetSingleton() {
    static ProcessSingleton<NpaPrototypeSet> singleton;
    return singleton;
}

int32_t initializationCount = 0;  // guarded by InitializationLock()

}  // namespace

CommandManager* NpaInterpreter::GetCommandManager() {
    return &CommandManagerSingleton().get();
}

PacketManager* NpaInterpreter::GetPacketManager() {
    return &PacketManagerSingleton().get();
}

uint32_t NpaInterpreter::Initialize() {
    CriticalSectionLock lock(InitializationLock());
    try {
        if (initializationCount == 0 && !PrototypeSetSingleton().created()) {
            NpaCommandManager& manager = CommandManagerSingleton().get();
            PacketManagerSingleton().get();
            try {
                PrototypeSetSingleton().get([&manager] { return new NpaPrototypeSet(manager); });
            } catch (...) {
                // Registration may have stopped half-way, leaving the manager pointing at
                // prototypes that no longer exist; a fresh manager is made on the next request.
                CommandManagerSingleton().destroy();
                throw;
            }
        }
        ++initializationCount;
        return 0;
    } catch (const Win32Exception& e) {
        return static_cast<uint32_t>(e.code());
    }
}

uint32_t NpaInterpreter::Uninitialize() {
    CriticalSectionLock lock(InitializationLock());
    try {
        // An unbalanced call must not drive the count below zero: the next Initialize would then
        // skip creating the prototypes and every request would answer as unknown.
        if (initializationCount <= 0) {
            return kNothingToUndo;
        }
        const int32_t noted = initializationCount--;
        if (noted == 1) {
            // Prototypes first: the manager points at them until it is gone.
            PrototypeSetSingleton().destroy();
            PacketManagerSingleton().destroy();
            CommandManagerSingleton().destroy();
        }
        return 0;
    } catch (const Win32Exception& e) {
        return static_cast<uint32_t>(e.code());
    }
}

int32_t NpaInterpreter::InitializationCount() {
    CriticalSectionLock lock(InitializationLock());
    return initializationCount;
}
