#include "core/interpreters/InterpreterManager.h"

#include "config/Localize.h"
#include "config/Settings.h"
#include "core/interpreters/InterpreterTable.h"
#include "export/common/PropertyAccessor.h"
#include "logging/EventLog.h"
#include "logging/LogFacade.h"
#include "runtime/Exception.h"
#include "runtime/ProcessSingleton.h"

namespace {

constexpr const char* kComponent = "BidiService";
constexpr const char* kInterpretersKey = "Interpreters";

ProcessSingleton<InterpreterManager>& managerSingleton() {
    static ProcessSingleton<InterpreterManager> singleton;
    return singleton;
}

// The library name configured for protocol; false when the settings have none.
bool configuredLibraryName(const std::string& protocol, std::string& libraryName) {
    Settings settings;
    return settings.readString(kInterpretersKey, protocol, libraryName, 0);
}

}  // namespace

void InterpreterManager::createInstance(const std::string& text) {
    managerSingleton().get([&text] { return new InterpreterManager(text); });
}

InterpreterManager& InterpreterManager::getInstance() {
    return managerSingleton().get([]() -> InterpreterManager* {
        throw Exception("InterpreterManager::getInstance() no instance");
    });
}

bool InterpreterManager::exists() { return managerSingleton().created(); }

void InterpreterManager::destroyInstance() { managerSingleton().destroy(); }

InterpreterManager::InterpreterManager(const std::string& text) {
    const PropertyAccessor accessor;
    std::string copy = text;
    // A plug-in that is missing or does not initialise is skipped; a later request may load it.
    for (const std::string& protocol : InterpreterTable::protocolNames()) {
        accessor.SetString(copy, PropertyAccessor::Interpreter, protocol);
        loadInterpreter(copy);
    }
    bool none = false;
    {
        CriticalSectionLock guard(mapLock_);
        none = interpreters_.empty();
    }
    if (none) {
        const std::string path = Localize::getInstance().getModulePath();
        EventLog::report(EventLog::NoPlugin, {path.substr(0, path.find_last_of('\\') + 1)});
    }
}

InterpreterManager::~InterpreterManager() {
    // Each release runs the module count logic: the last holder uninitialises and frees.
    CriticalSectionLock guard(mapLock_);
    interpreters_.clear();
}

InterpreterDll* InterpreterManager::loadInterpreter(const std::string& text) {
    const PropertyAccessor accessor;
    std::string protocol;
    if (accessor.GetString(text, PropertyAccessor::Interpreter, protocol) != 0 || protocol.empty()) return nullptr;

    // Loading under the map lock keeps two threads from loading one protocol twice; the module
    // lock is always taken inside this one, never around it.
    CriticalSectionLock guard(mapLock_);
    const auto found = interpreters_.find(protocol);
    if (found != interpreters_.end()) return found->second.get();

    std::string fileName;
    bool configured = false;
    try {
        std::string libraryName;
        configured = configuredLibraryName(protocol, libraryName);
        if (!configured) {
            std::string prefix;
            if (accessor.GetString(text, PropertyAccessor::Prefix, prefix) != 0) return nullptr;
            libraryName = prefix + InterpreterTable::shortName(protocol);
        }
        if (!InterpreterTable::libraryFileName(Localize::getInstance().getModulePath(), libraryName, fileName)) {
            LogFacade::getInstance().log(kComponent, "InterpreterManager::loadInterpreter() refused library name=" +
                                                         libraryName + " for interpreter=" + protocol);
            reportFailure(protocol, libraryName, ERROR_INVALID_NAME);
            return nullptr;
        }
        std::unique_ptr<InterpreterDll> dll(new InterpreterDll(fileName));
        InterpreterDll* result = dll.get();
        interpreters_[protocol] = std::move(dll);
        return result;
    } catch (const Exception& e) {
        // The table names plug-ins that a product may not ship: only a library that is there
        // (or that an administrator configured) and still fails is worth an administrator's time.
        if (configured || (!fileName.empty() && GetFileAttributesA(fileName.c_str()) != INVALID_FILE_ATTRIBUTES))
            reportFailure(protocol, fileName, e.code());
        return nullptr;
    }
}

void InterpreterManager::reportFailure(const std::string& protocol, const std::string& library, int32_t code) {
    // Called with mapLock_ held. A failing plug-in is tried again on later requests; it is
    // reported once.
    if (!reported_.insert(protocol).second) return;
    EventLog::report(EventLog::PluginFailed, {library, protocol, std::to_string(code)});
}

CommandManager* InterpreterManager::getCommandManager(const std::string& text) {
    try {
        const PropertyAccessor accessor;
        std::string protocol;
        if (accessor.GetString(text, PropertyAccessor::Interpreter, protocol) == 0) {
            InterpreterDll* dll = loadInterpreter(text);
            if (dll == nullptr) return &nullCommandManager_;
            CommandManager* manager = commandManagerOf(*dll);
            return manager != nullptr ? manager : &nullCommandManager_;
        }
        for (const std::string& name : configuredProtocols()) {
            std::string copy = text;
            accessor.SetString(copy, PropertyAccessor::Interpreter, name);
            InterpreterDll* dll = loadInterpreter(copy);
            if (dll == nullptr) continue;
            CommandManager* manager = commandManagerOf(*dll);
            if (manager == nullptr) continue;
            Command* command = manager->Create(copy);
            const bool claimed = command != nullptr && command->IsProtocolPacket();
            manager->Destroy(command);
            if (claimed) return manager;
        }
    } catch (const Exception&) {
    }
    return &nullCommandManager_;
}

PacketManager* InterpreterManager::getPacketManager(const Data& buffer) {
    try {
        const PropertyAccessor accessor;
        for (const std::string& name : configuredProtocols()) {
            std::string text;
            accessor.SetString(text, PropertyAccessor::Interpreter, name);
            InterpreterDll* dll = loadInterpreter(text);
            if (dll == nullptr) continue;
            CommandManager* commands = commandManagerOf(*dll);
            if (commands == nullptr) continue;
            Command* command = commands->CreateFromPacket(buffer);
            const bool claimed = command != nullptr && command->IsProtocolPacket();
            commands->Destroy(command);
            if (!claimed) continue;
            PacketManager* packets = packetManagerOf(*dll);
            if (packets != nullptr) return packets;
        }
    } catch (const Exception&) {
    }
    return &nullPacketManager_;
}

std::vector<std::string> InterpreterManager::configuredProtocols() {
    try {
        Settings settings;
        std::vector<std::string> names;
        if (settings.getValueNames(kInterpretersKey, names, 0)) return names;
    } catch (const Exception&) {
    }
    return InterpreterTable::protocolNames();
}

CommandManager* InterpreterManager::commandManagerOf(InterpreterDll& dll) {
    using Function = CommandManager* (*)();
    return reinterpret_cast<Function>(reinterpret_cast<void*>(dll.getProcAddress("GetCommandManager")))();
}

PacketManager* InterpreterManager::packetManagerOf(InterpreterDll& dll) {
    using Function = PacketManager* (*)();
    return reinterpret_cast<Function>(reinterpret_cast<void*>(dll.getProcAddress("GetPacketManager")))();
}
