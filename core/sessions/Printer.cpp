#include "core/sessions/Printer.h"

#include "core/sessions/LingeringPorts.h"
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

Printer::Printer(SessionServices& services)
    : services_(services), handle_(0), languageChanged_(false), stopped_(false) {}

Printer::Printer(SessionServices& services, const std::string& transportString, uint32_t handle)
    : services_(services), transportString_(transportString), handle_(handle), languageChanged_(false),
      stopped_(false) {
    if (services_.ports != nullptr) port_ = services_.ports->createPort(transportString_);
    if (port_ == nullptr) throw Win32Exception("Exception in Printer()", 1, __FILE__, __LINE__);
    protocol_.reset(new NpaPacketProtocol(*this, *port_, services_.lookup));
    port_->setReadingRestoredHandler([this] { onReadingRestored(); });
}

Printer::~Printer() {
    if (port_ != nullptr) port_->setReadingRestoredHandler(nullptr);
    // A re-registration in flight must not wait out a reply time-out here.
    if (protocol_ != nullptr) protocol_->abort();
    stopWorkers();
    // The protocol goes first; its destruction waits for a delivery that is inside it, so the
    // session is whole for as long as the read thread can reach it.
    protocol_.reset();
    if (port_ != nullptr) port_->killReadThread();
    // A read loop that did not end when asked still uses its port: it stays alive until then.
    if (port_ != nullptr && port_->readerRunning()) LingeringPorts::instance().keep(std::move(port_));
    port_.reset();
}

void Printer::abort() {
    if (protocol_ != nullptr) protocol_->abort();
    stopWorkers();
}

void Printer::stopWorkers() {
    std::vector<std::pair<uint32_t, std::shared_ptr<BoundedWorkQueue>>> workers;
    std::shared_ptr<BoundedWorkQueue> maintenance;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        stopped_ = true;
        for (auto& entry : deliveries_) workers.emplace_back(entry.first, std::move(entry.second));
        deliveries_.clear();
        maintenance.swap(maintenance_);
    }
    if (maintenance != nullptr) maintenance->requestStop();
    stopDeliveries(std::move(workers));
    if (maintenance != nullptr) maintenance->stop();
}

void Printer::stopDeliveries(std::vector<std::pair<uint32_t, std::shared_ptr<BoundedWorkQueue>>> workers) {
    // All are told first, so stopping many clients stuck in their callbacks takes one callback
    // bound, not one each.
    for (auto& worker : workers) worker.second->requestStop();
    for (auto& worker : workers) {
        worker.second->stop();
        services_.callbacks.release(worker.first);
    }
}

uint32_t Printer::addDeliveryLocked(uint32_t clientId) {
    if (deliveries_.count(clientId) != 0) return 0;
    if (!services_.callbacks.retain(clientId)) {
        log("Printer::RegisterForAlerts() portHandle = " + handleText() + " client " + std::to_string(clientId) +
            " refused: its user holds the most registrations allowed");
        return kNoResources;
    }
    try {
        deliveries_[clientId] = std::make_shared<BoundedWorkQueue>(kAlertQueueCapacity);
    } catch (const std::exception&) {
        deliveries_.erase(clientId);
        services_.callbacks.release(clientId);
        return kNoResources;
    }
    return 0;
}

std::shared_ptr<BoundedWorkQueue> Printer::takeDeliveryLocked(uint32_t clientId) {
    auto it = deliveries_.find(clientId);
    if (it == deliveries_.end()) return nullptr;
    std::shared_ptr<BoundedWorkQueue> worker = std::move(it->second);
    deliveries_.erase(it);
    return worker;
}

uint64_t Printer::droppedAlerts(uint32_t clientId) const {
    std::lock_guard<std::mutex> guard(stateLock_);
    auto it = deliveries_.find(clientId);
    return it == deliveries_.end() ? 0 : it->second->dropped();
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

uint32_t Printer::open(const CallerIdentity& caller) {
    if (!caller.known()) return kNotAllowed;
    std::lock_guard<TicketLock> guard(sessionLock_);
    uint32_t rc = 0;
    if (count() != 0) {
        addReference();
    } else {
        rc = openPort();
        if (rc == 0) addReference();
    }
    if (rc == 0) {
        std::lock_guard<std::mutex> state(stateLock_);
        ++opens_[caller.userSid];
    }
    log("Printer::open() portHandle = " + handleText() + " RefCount = " + std::to_string(count()) +
        " TransportString = " + transportString_);
    return rc;
}

uint32_t Printer::close(const CallerIdentity& caller) {
    std::lock_guard<TicketLock> guard(sessionLock_);
    {
        std::lock_guard<std::mutex> state(stateLock_);
        // The caller gives back one of its own opens; a privileged caller holding none may take
        // back anyone's.
        auto it = caller.known() ? opens_.find(caller.userSid) : opens_.end();
        if (it == opens_.end() && caller.privileged) it = opens_.begin();
        if (it == opens_.end()) return count() == 0 && caller.privileged ? 0 : kNotOpened;
        if (--it->second == 0) opens_.erase(it);
    }
    if (count() == 0) return 0;
    uint32_t rc = 0;
    if (releaseReference() == 0) rc = closePort();
    log("Printer::close() portHandle = " + handleText() + " RefCount = " + std::to_string(count()));
    return rc;
}

bool Printer::openedBy(const CallerIdentity& caller) const {
    if (caller.privileged) return true;
    if (!caller.known()) return false;
    std::lock_guard<std::mutex> state(stateLock_);
    return opens_.count(caller.userSid) != 0;
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

uint32_t Printer::lockedExchange(Data& request, Data& reply) {
    // Another client's exchange may hold the printer for its whole reply time-out: waiting for
    // it is bounded by this exchange's own time-out, as if the printer had not answered.
    const uint32_t bound = protocol_ != nullptr ? protocol_->timeout() : kDefaultTimeout;
    std::unique_lock<TicketLock> guard(sessionLock_, std::defer_lock);
    if (!guard.try_lock_for(std::chrono::milliseconds(bound))) {
        log("Printer::exchange() portHandle = " + handleText() + " session busy for " + std::to_string(bound) +
            " ms: rc=1460");
        request.SetStatus(static_cast<int32_t>(kTimedOut));
        return kTimedOut;
    }
    return exchange(request, reply);
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
    // One copy for every client; each worker keeps it until delivered or dropped.
    const std::shared_ptr<const Data> alert = std::make_shared<const Data>(packet);
    std::vector<std::string> drops;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        for (const auto& entry : registrations_) {
            auto it = deliveries_.find(entry.first);
            if (it == deliveries_.end()) continue;
            const uint32_t clientId = entry.second.clientId;
            const uint32_t printerHandle = entry.second.printerHandle;
            const bool kept = it->second->push([this, alert, printerHandle, clientId] {
                const uint32_t rc =
                    services_.callbacks.deliverAlert(printerHandle, alert->Bytes(), alert->Size(), clientId);
                if (rc != 0) {
                    log("Printer::onAlert() portHandle = " + handleText() + " client " + std::to_string(clientId) +
                        " callback failed: rc=" + std::to_string(rc));
                }
            });
            if (!kept) {
                drops.push_back("Printer::onAlert() portHandle = " + handleText() + " client " +
                                std::to_string(clientId) + " queue full, oldest alert dropped; dropped=" +
                                std::to_string(it->second->dropped()));
            }
        }
    }
    for (const std::string& line : drops) log(line);
}

void Printer::onReadingRestored() {
    std::lock_guard<std::mutex> guard(stateLock_);
    // A printer that was away has forgotten the registrations; without any there is nothing to
    // tell it.
    if (registrations_.empty() || stopped_) return;
    if (maintenance_ == nullptr) {
        try {
            maintenance_ = std::make_shared<BoundedWorkQueue>(1);
        } catch (const std::exception&) {
            return;
        }
    }
    // Runs off the reporting thread: the exchanges need the read thread to read their replies.
    maintenance_->push([this] { reregisterAlerts(); });
}

uint32_t Printer::reregisterAlerts() {
    std::string text;
    std::string languageBefore;
    bool changedBefore = false;
    uint32_t mask = 0;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        for (const auto& entry : registrations_) mask |= entry.second.alertMask;
        if (mask == 0 || port_ == nullptr) return 0;
        languageBefore = languageId_;
        changedBefore = languageChanged_;
        text = registrationTextLocked(mask);
    }
    ++reregistrations_;
    char maskText[16];
    std::snprintf(maskText, sizeof maskText, "0x%08X", static_cast<unsigned>(mask));
    log("+Printer::reregisterAlerts() portHandle = " + handleText() + " mask = " + maskText);
    const uint32_t rc = sendAlertCommands(text, true);
    if (rc != 0) restoreLanguage(languageBefore, changedBefore);
    log("-Printer::reregisterAlerts() portHandle = " + handleText() + " rc=" + std::to_string(rc));
    return rc;
}

std::string Printer::registrationTextLocked(uint32_t mask) {
    languageChanged_ = false;
    std::string text;
    PropertyAccessor accessor;
    accessor.SetString(text, PropertyAccessor::Interpreter, "Npa");
    accessor.SetLong(text, PropertyAccessor::NewAlertMask, mask);
    // Every class of the merged mask is registered again, not only the changed ones: the
    // printer may have dropped earlier registrations (a power cycle), and a registration it
    // already holds is harmless to repeat.
    accessor.SetLong(text, PropertyAccessor::CurrentAlertMask, 0);
    addLanguage(text);
    return text;
}

void Printer::restoreLanguage(const std::string& languageBefore, bool changedBefore) {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (languageId_.empty()) languageId_ = languageBefore;
    languageChanged_ = languageChanged_ || changedBefore;
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
            Data request(*command);
            Data reply;
            uint32_t rc = lockedExchange(request, reply);
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
        if (stopped_) return kAborted;
        for (const auto& entry : registrations_) oldMask |= entry.second.alertMask;
        auto it = registrations_.find(registration.clientId);
        if (it != registrations_.end()) {
            hadRegistration = true;
            previous = it->second;
        } else {
            const uint32_t rc = addDeliveryLocked(registration.clientId);
            if (rc != 0) return rc;
        }
        registrations_[registration.clientId] = registration;
    }
    // Undoes this call: the earlier registration of the client comes back (with its port use),
    // a new client's registration goes, and so do its delivery worker and the port use taken
    // for it.
    auto undo = [&]() {
        std::shared_ptr<BoundedWorkQueue> worker;
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            if (hadRegistration) {
                registrations_[registration.clientId] = previous;
            } else {
                registrations_.erase(registration.clientId);
                worker = takeDeliveryLocked(registration.clientId);
            }
        }
        if (worker != nullptr) stopDeliveries({{registration.clientId, worker}});
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
        text = registrationTextLocked(newMask);
    }
    const uint32_t result = sendAlertCommands(text, true);
    if (result != 0) {
        // The printer did not take the language either: keep it for the next attempt.
        restoreLanguage(languageBefore, changedBefore);
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
    std::shared_ptr<BoundedWorkQueue> worker;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        registrations_.erase(clientId);
        worker = takeDeliveryLocked(clientId);
    }
    // Alerts still waiting for this client are not delivered any more.
    if (worker != nullptr) stopDeliveries({{clientId, worker}});
    if (port_ != nullptr) port_->disconnect();
    return result;
}
