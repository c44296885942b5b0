#include "core/sessions/Printer.h"

#include "core/usb/port/NpaData.h"
#include "export/common/PropertyAccessor.h"
#include "runtime/Exception.h"

#include <cstdio>
#include <list>

PortFactory::~PortFactory() = default;

namespace {

constexpr uint32_t kBadArgument = 87;
constexpr uint32_t kNotRegistered = 1;
constexpr uint32_t kRefused = 22;

}  // namespace

Printer::Printer(SessionServices& services) : services_(services), handle_(0), languageChanged_(false) {}

Printer::Printer(SessionServices& services, const std::string& transportString, uint32_t handle)
    : services_(services), transportString_(transportString), handle_(handle), languageChanged_(false) {
    if (services_.ports != nullptr) port_ = services_.ports->createPort(transportString_);
    if (port_ == nullptr) throw Win32Exception("Exception in Printer()", 1, __FILE__, __LINE__);
    protocol_.reset(new NpaPacketProtocol(*this, *port_, services_.lookup));
}

Printer::~Printer() {
    // The protocol goes first; its destruction waits for a delivery that is inside it, so the
    // session is whole for as long as the read thread can reach it.
    protocol_.reset();
    if (port_ != nullptr) port_->killReadThread();
    port_.reset();
}

void Printer::log(const std::string& line) const {
    if (services_.log) services_.log(line);
}

std::string Printer::handleText() const {
    if (handle_ == 0) return std::string();
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(handle_));
    return text;
}

uint32_t Printer::openPort() { return 0; }

uint32_t Printer::closePort() {
    if (port_ != nullptr) port_->killReadThread();
    return 0;
}

uint32_t Printer::open() {
    CriticalSectionLock guard(sessionLock_);
    uint32_t rc = 0;
    if (count() != 0) {
        addReference();
    } else {
        rc = openPort();
        if (rc == 0) addReference();
    }
    log("Printer::open() portHandle = " + handleText() + " RefCount = " + std::to_string(count()) +
        " TransportString = " + transportString_);
    return rc;
}

uint32_t Printer::close() {
    CriticalSectionLock guard(sessionLock_);
    if (count() == 0) return 0;
    uint32_t rc = 0;
    if (releaseReference() == 0) rc = closePort();
    log("Printer::close() portHandle = " + handleText() + " RefCount = " + std::to_string(count()));
    return rc;
}

void Printer::setLanguageId(const std::string& languageId) {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (languageId != languageId_) languageChanged_ = true;
    languageId_ = languageId;
}

void Printer::setTimeout(uint32_t milliseconds) {
    if (protocol_ != nullptr) protocol_->setTimeout(milliseconds);
}

Data Printer::lastPacket() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return lastPacket_;
}

uint32_t Printer::registeredMask() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    uint32_t mask = 0;
    for (const auto& entry : registrations_) mask |= entry.second.alertMask;
    return mask;
}

size_t Printer::registrationCount() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return registrations_.size();
}

bool Printer::languageChanged() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return languageChanged_;
}

uint32_t Printer::exchange(Data& request, Data& reply) {
    // A session without a port answers as a port that cannot speak NPA would.
    if (port_ == nullptr || protocol_ == nullptr) {
        request.SetStatus(static_cast<int32_t>(kNoPort));
        return kNoPort;
    }
    uint32_t rc = port_->connect();
    if (rc == 0) {
        protocol_->send(request);
        if (request.Status() != 0) {
            rc = static_cast<uint32_t>(request.Status());
        } else {
            // The packet that matched, not the session's latest: an alert arriving after the
            // match must not become this request's reply.
            reply.Clear();
            protocol_->takeReply(reply);
        }
    }
    protocol_->setTimeout(kDefaultTimeout);
    port_->disconnect();
    return rc;
}

void Printer::onPacket(const Data& packet) {
    std::string text;
    PropertyAccessor().SetByteArray(text, PropertyAccessor::DataByteArray, packet.Bytes(), packet.Size());
    CommandManager* manager = services_.lookup.getCommandManager(text);
    Command* command = manager->Create(text);
    const bool alert = command != nullptr && command->IsControlPacket();
    manager->Destroy(command);
    if (alert) onAlert(packet);
    std::lock_guard<std::mutex> guard(stateLock_);
    lastPacket_ = packet;
}

void Printer::onAlert(const Data& packet) {
    std::map<uint32_t, AlertRegistration> registrations;
    {
        // Delivered from a copy: a slow client must not hold up registrations meanwhile.
        std::lock_guard<std::mutex> guard(stateLock_);
        registrations = registrations_;
    }
    for (const auto& entry : registrations) {
        services_.callbacks.deliverAlert(entry.second.printerHandle, packet.Bytes(), packet.Size(),
                                         entry.second.clientId);
    }
}

void Printer::addLanguage(std::string& text) {
    // Called with stateLock_ held.
    if (!languageId_.empty()) {
        PropertyAccessor().SetString(text, PropertyAccessor::LanguageId, languageId_);
        languageId_.clear();
    }
}

uint32_t Printer::sendAlertCommands(const std::string& text, bool registering) {
    CommandManager* manager = services_.lookup.getCommandManager(text);
    std::list<Command*> commands;
    uint32_t result = manager->CreateAlertCommands(text, commands);
    if (result == 0) {
        for (Command* command : commands) {
            CriticalSectionLock guard(sessionLock_);
            Data request(*command);
            Data reply;
            uint32_t rc = exchange(request, reply);
            if (rc == 0 && registering && NpaData(reply).isFlag7Set()) rc = kRefused;
            if (rc != 0) {
                // A later packet's success must not hide this one's failure. A registration
                // stops there (it is undone); a removal still tries the remaining classes.
                result = rc;
                if (registering) break;
            }
        }
    }
    manager->DestroyList(commands);
    return result;
}

uint32_t Printer::RegisterForAlerts(const AlertRegistration& registration) {
    log("+Printer::RegisterForAlerts() portHandle = " + handleText());
    if (registration.alertMask == 0) return kBadArgument;
    if (port_ == nullptr) return kNoPort;

    uint32_t oldMask = 0;
    bool hadRegistration = false;
    AlertRegistration previous;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        for (const auto& entry : registrations_) oldMask |= entry.second.alertMask;
        auto it = registrations_.find(registration.clientId);
        if (it != registrations_.end()) {
            hadRegistration = true;
            previous = it->second;
        }
        registrations_[registration.clientId] = registration;
    }
    // Undoes this call: the earlier registration of the client comes back (with its port use),
    // a new client's registration goes, and so does the port use taken for it.
    auto undo = [&]() {
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            if (hadRegistration) {
                registrations_[registration.clientId] = previous;
            } else {
                registrations_.erase(registration.clientId);
            }
        }
        if (!hadRegistration) port_->disconnect();
    };

    // One port use per registered client: a replacement keeps the use the client holds, so that
    // the one unregistration gives back everything and the read thread can stop.
    if (!hadRegistration) {
        const uint32_t rc = port_->connect();
        if (rc != 0) {
            undo();
            return rc;
        }
    }

    std::string text;
    std::string languageBefore;
    bool changedBefore = false;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        const uint32_t newMask = oldMask | registration.alertMask;
        if (newMask == oldMask && !languageChanged_) return 0;
        languageBefore = languageId_;
        changedBefore = languageChanged_;
        languageChanged_ = false;
        PropertyAccessor accessor;
        accessor.SetString(text, PropertyAccessor::Interpreter, "Npa");
        accessor.SetLong(text, PropertyAccessor::NewAlertMask, newMask);
        // Every class of the merged mask is registered again, not only the changed ones: the
        // printer may have dropped earlier registrations (a power cycle), and a registration it
        // already holds is harmless to repeat.
        accessor.SetLong(text, PropertyAccessor::CurrentAlertMask, 0);
        addLanguage(text);
    }
    const uint32_t result = sendAlertCommands(text, true);
    if (result != 0) {
        {
            // The printer did not take the language either: keep it for the next attempt.
            std::lock_guard<std::mutex> guard(stateLock_);
            if (languageId_.empty()) languageId_ = languageBefore;
            languageChanged_ = languageChanged_ || changedBefore;
        }
        undo();
    }
    return result;
}

uint32_t Printer::UnregisterForAlerts(uint32_t clientId) {
    log("Printer::UnregisterForAlerts() portHandle = " + handleText());
    uint32_t fullMask = 0;
    uint32_t remainingMask = 0;
    std::string text;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        if (registrations_.find(clientId) == registrations_.end()) return kNotRegistered;
        for (const auto& entry : registrations_) {
            fullMask |= entry.second.alertMask;
            if (entry.first != clientId) remainingMask |= entry.second.alertMask;
        }
        if (fullMask != remainingMask) {
            PropertyAccessor accessor;
            accessor.SetString(text, PropertyAccessor::Interpreter, "Npa");
            accessor.SetLong(text, PropertyAccessor::NewAlertMask, remainingMask);
            accessor.SetLong(text, PropertyAccessor::CurrentAlertMask, fullMask);
            addLanguage(text);
        }
    }
    uint32_t result = 0;
    if (!text.empty() && port_ != nullptr) result = sendAlertCommands(text, false);
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        registrations_.erase(clientId);
    }
    if (port_ != nullptr) port_->disconnect();
    return result;
}
