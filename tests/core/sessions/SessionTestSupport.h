#pragma once
// Sessions over the simulated printer's engine (portable): a port factory making EnginePorts,
// a lookup that records the alert-registration texts, and an alert sink that records callbacks.
#include "core/sessions/PrinterOperations.h"
#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"
#include "tests/core/usb/port/EnginePort.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Forwards to the NPA manager and keeps the texts registration commands were made from.
class RecordingCommandManager : public CommandManager {
public:
    explicit RecordingCommandManager(CommandManager& inner) : inner_(inner) {}
    Command* CreateFromPacket(const Data& packet) override { return inner_.CreateFromPacket(packet); }
    Command* Create(const std::string& text) override { return inner_.Create(text); }
    uint32_t CreateAlertCommands(const std::string& text, std::list<Command*>& out) override {
        {
            std::lock_guard<std::mutex> guard(lock);
            alertTexts.push_back(text);
        }
        return inner_.CreateAlertCommands(text, out);
    }
    void Destroy(Command* command) override { inner_.Destroy(command); }
    void DestroyList(std::list<Command*>& commands) override { inner_.DestroyList(commands); }

    std::vector<std::string> texts() {
        std::lock_guard<std::mutex> guard(lock);
        return alertTexts;
    }
    std::mutex lock;
    std::vector<std::string> alertTexts;

private:
    CommandManager& inner_;
};

class RecordingLookup : public NpaTestLookup {
public:
    CommandManager* getCommandManager(const std::string& text) override {
        CommandManager* manager = NpaTestLookup::getCommandManager(text);
        return manager == NpaInterpreter::GetCommandManager() ? &recorder : manager;
    }
    RecordingCommandManager recorder{*NpaInterpreter::GetCommandManager()};
};

class EnginePortFactory : public PortFactory {
public:
    explicit EnginePortFactory(NpaTestLookup& lookup) : lookup_(lookup) {}
    std::unique_ptr<Port> createPort(std::string& transportString) override {
        ++created;
        if (beforeCreate) beforeCreate();
        std::string port;
        FindElement(transportString, "PORTNAME", port);
        if (port == "USB009") return nullptr;  // no printer there
        SetElement(transportString, "DEVICEPATH", "\\\\.\\pipe\\QsSim\\" + port);
        auto made = std::unique_ptr<EnginePort>(new EnginePort(lookup_));
        last = made.get();
        return std::unique_ptr<Port>(made.release());
    }
    std::atomic<int> created{0};
    EnginePort* last = nullptr;
    std::function<void()> beforeCreate;

private:
    NpaTestLookup& lookup_;
};

// Callers as their pipe connections would identify them: two ordinary users and an administrator.
inline CallerIdentity userCaller(const std::string& sid, bool privileged = false) {
    CallerIdentity caller;
    caller.userSid = sid;
    caller.processId = 4000;
    caller.privileged = privileged;
    return caller;
}
inline const CallerIdentity& alice() {
    static const CallerIdentity caller = userCaller("S-1-5-21-7-7-7-1001");
    return caller;
}
inline const CallerIdentity& bob() {
    static const CallerIdentity caller = userCaller("S-1-5-21-7-7-7-1002");
    return caller;
}
inline const CallerIdentity& admin() {
    static const CallerIdentity caller = userCaller("S-1-5-21-7-7-7-500", true);
    return caller;
}

struct Callback {
    uint32_t clientId;
    uint32_t handle;
    std::string endpoint;
    std::string owner;
    std::vector<uint8_t> bytes;
};

class RecordingAlertSink : public AlertSink {
public:
    uint32_t sendCallback(const CallbackRecord& target, const std::string& properties, const uint8_t* bytes,
                          uint32_t length) override {
        const std::string& endpoint = target.endpoint;
        Callback c;
        PropertyAccessor().GetLong(properties, PropertyAccessor::ClientId, c.clientId);
        std::string handle;
        FindElement(properties, "Handle", handle);
        c.handle = static_cast<uint32_t>(std::stoul(handle));
        std::string handler;
        PropertyAccessor().GetString(properties, PropertyAccessor::Handler, handler);
        c.endpoint = handler == "AlertHandler" ? endpoint : "wrong handler: " + handler;
        c.owner = target.ownerSid;
        c.bytes.assign(bytes, bytes + length);
        {
            std::lock_guard<std::mutex> guard(lock_);
            calls_.push_back(c);
        }
        changed_.notify_all();
        return 0;
    }
    bool waitFor(size_t count, int ms) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(ms), [&] { return calls_.size() >= count; });
    }
    std::vector<Callback> calls() {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }
    // Each client has its own delivery worker, so only the order per client is defined.
    std::vector<Callback> callsByClient() {
        std::vector<Callback> sorted = calls();
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const Callback& a, const Callback& b) { return a.clientId < b.clientId; });
        return sorted;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Callback> calls_;
};
