#pragma once
// The interpreter plug-ins of the process, loaded by protocol name from the program's folder and
// kept until the manager is destroyed, with the null managers as the fallback when none fits.
// The configuration (the settings key "Interpreters": which protocols, which library each) is
// read once and again when the registry reports a change of the key; a library that failed to
// load is not tried again until then. Any thread may call it; the protocol-name map has its own
// lock. Returned libraries and managers stay valid until the manager is destroyed. Nothing here
// raises: failures give the null managers (or nullptr from loadInterpreter).
#include "config/RegistryWatch.h"
#include "core/interpreters/InterpreterDllHandler.h"
#include "export/common/CommandManager.h"
#include "export/common/Data.h"
#include "export/common/PacketManager.h"
#include "runtime/CriticalSection.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class InterpreterManager {
public:
    // The process-wide manager: createInstance builds it once (later calls do nothing) from a
    // text holding `Prefix` (manufacturer prefix + "__"); getInstance raises Exception while
    // none exists; destroyInstance releases every library.
    static void createInstance(const std::string& text);
    static InterpreterManager& getInstance();
    static bool exists();
    static void destroyInstance();

    // Tries every interpreter of the table with the text's `Prefix`.
    explicit InterpreterManager(const std::string& text);
    virtual ~InterpreterManager();
    InterpreterManager(const InterpreterManager&) = delete;
    InterpreterManager& operator=(const InterpreterManager&) = delete;

    // The library of the text's `Interpreter` protocol, loaded and initialised on first request
    // and kept under that exact name; nullptr when it cannot be loaded.
    InterpreterDll* loadInterpreter(const std::string& text);
    // The command manager of the text's `Interpreter`, or without one, of the first configured
    // interpreter whose command built from the text is a packet of its protocol; else the null
    // manager.
    CommandManager* getCommandManager(const std::string& text);
    // The packet manager of the first configured interpreter that claims the bytes of buffer;
    // else the null manager.
    PacketManager* getPacketManager(const Data& buffer);

    CommandManager* nullCommandManager() { return &nullCommandManager_; }
    PacketManager* nullPacketManager() { return &nullPacketManager_; }

    // The watch on the settings key (for waiting until a change has been reported); 0 while the
    // key is not watched, when the configuration is read at every use.
    uint64_t configurationStamp() const;
    bool waitForConfigurationChange(uint64_t since, uint32_t timeoutMs) const;

private:
    // A loaded library with its two managers, asked once.
    struct Loaded {
        std::unique_ptr<InterpreterDll> dll;
        CommandManager* commands = nullptr;
        PacketManager* packets = nullptr;
    };
    using Protocols = std::shared_ptr<const std::vector<std::string>>;

    // The protocol names under the settings key "Interpreters", or the table's when it cannot be
    // read: as last read, or read again when the key has changed since.
    Protocols configuredProtocols();
    static std::vector<std::string> readProtocols();
    // The library of the text's `Interpreter` with its managers, loaded on first request; null
    // when it cannot be loaded (again not before the configuration changes).
    const Loaded* load(const std::string& text);
    static CommandManager* commandManagerOf(InterpreterDll& dll);
    static PacketManager* packetManagerOf(InterpreterDll& dll);
    // An event log entry for a plug-in that cannot be loaded, once per protocol.
    void reportFailure(const std::string& protocol, const std::string& library, int32_t code);

    std::unique_ptr<RegistryWatch> watch_;
    CriticalSection mapLock_;
    std::map<std::string, Loaded> interpreters_;
    // Protocols whose library failed to load, with the configuration's stamp at the time.
    std::map<std::string, uint64_t> failed_;
    std::set<std::string> reported_;  // protocols whose failure is in the event log
    Protocols protocols_;
    uint64_t protocolsStamp_ = 0;
    NullCommandManager nullCommandManager_;
    NullPacketManager nullPacketManager_;
};
