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
constexpr uint32_t kFirstWatchWaitMs = 1000;

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
    try {
        Settings settings;
        watch_.reset(new RegistryWatch(settings.getBasePath(0) + kInterpretersKey));
        // Arming takes the watcher a moment; until then every use would read the registry.
        watch_->waitForChange(0, kFirstWatchWaitMs);
    } catch (const Exception&) {
        // Without branding there are no settings to watch: the configuration is read at every use.
    }
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

uint64_t InterpreterManager::configurationStamp() const { return watch_ ? watch_->stamp() : 0; }

bool InterpreterManager::waitForConfigurationChange(uint64_t since, uint32_t timeoutMs) const {
    return watch_ && watch_->waitForChange(since, timeoutMs);
}

InterpreterDll* InterpreterManager::loadInterpreter(const std::string& text) {
    const Loaded* loaded = load(text);
    return loaded != nullptr ? loaded->dll.get() : nullptr;
}

const InterpreterManager::Loaded* InterpreterManager::load(const std::string& text) {
    const PropertyAccessor accessor;
    std::string protocol;
    if (accessor.GetString(text, PropertyAccessor::Interpreter, protocol) != 0 || protocol.empty()) return nullptr;

    // Loading under the map lock keeps two threads from loading one protocol twice; the module
    // lock is always taken inside this one, never around it.
    CriticalSectionLock guard(mapLock_);
    const auto found = interpreters_.find(protocol);
    if (found != interpreters_.end()) return &found->second;
    // Trying again on every packet would ask the registry and the file system each time; a
    // change of the configuration is what can make the load work.
    const uint64_t stamp = configurationStamp();
    const auto failure = failed_.find(protocol);
    if (failure != failed_.end() && failure->second != 0 && failure->second == stamp) return nullptr;

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
            failed_[protocol] = stamp;
            return nullptr;
        }
        Loaded loaded;
        loaded.dll.reset(new InterpreterDll(fileName));
        loaded.commands = commandManagerOf(*loaded.dll);
        loaded.packets = packetManagerOf(*loaded.dll);
        failed_.erase(protocol);
        return &(interpreters_[protocol] = std::move(loaded));
    } catch (const Exception& e) {
        failed_[protocol] = stamp;
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
            const Loaded* loaded = load(text);
            return loaded != nullptr && loaded->commands != nullptr ? loaded->commands : &nullCommandManager_;
        }
        const Protocols protocols = configuredProtocols();
        for (const std::string& name : *protocols) {
            std::string copy = text;
            accessor.SetString(copy, PropertyAccessor::Interpreter, name);
            const Loaded* loaded = load(copy);
            if (loaded == nullptr || loaded->commands == nullptr) continue;
            Command* command = loaded->commands->Create(copy);
            const bool claimed = command != nullptr && command->IsProtocolPacket();
            loaded->commands->Destroy(command);
            if (claimed) return loaded->commands;
        }
    } catch (const Exception&) {
    }
    return &nullCommandManager_;
}

PacketManager* InterpreterManager::getPacketManager(const Data& buffer) {
    try {
        const PropertyAccessor accessor;
        const Protocols protocols = configuredProtocols();
        for (const std::string& name : *protocols) {
            std::string text;
            accessor.SetString(text, PropertyAccessor::Interpreter, name);
            const Loaded* loaded = load(text);
            if (loaded == nullptr || loaded->commands == nullptr) continue;
            Command* command = loaded->commands->CreateFromPacket(buffer);
            const bool claimed = command != nullptr && command->IsProtocolPacket();
            loaded->commands->Destroy(command);
            if (claimed && loaded->packets != nullptr) return loaded->packets;
        }
    } catch (const Exception&) {
    }
    return &nullPacketManager_;
}

InterpreterManager::Protocols InterpreterManager::configuredProtocols() {
    const uint64_t stamp = configurationStamp();
    {
        CriticalSectionLock guard(mapLock_);
        if (protocols_ && stamp != 0 && stamp == protocolsStamp_) return protocols_;
    }
    // Read outside the map lock; taken under the stamp of before the read, so that a change
    // during it makes the next use read again.
    Protocols protocols = std::make_shared<const std::vector<std::string>>(readProtocols());
    CriticalSectionLock guard(mapLock_);
    protocols_ = protocols;
    protocolsStamp_ = stamp;
    return protocols;
}

std::vector<std::string> InterpreterManager::readProtocols() {
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
