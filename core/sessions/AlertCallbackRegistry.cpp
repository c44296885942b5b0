#include "core/sessions/AlertCallbackRegistry.h"

#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"

AlertSink::~AlertSink() = default;

namespace {
constexpr uint32_t kBadArgument = 87;
}  // namespace

AlertCallbackRegistry::AlertCallbackRegistry(size_t capacity, size_t perUserCapacity, size_t perUserRegistrations)
    : capacity_(capacity == 0 ? 1 : capacity), perUserCapacity_(perUserCapacity == 0 ? 1 : perUserCapacity),
      perUserRegistrations_(perUserRegistrations == 0 ? 1 : perUserRegistrations) {}

AlertCallbackRegistry& AlertCallbackRegistry::getInstance() {
    // Function-local statics are created once even when threads race to the first call.
    static AlertCallbackRegistry registry;
    return registry;
}

uint32_t AlertCallbackRegistry::holdsLocked(uint32_t clientId) const {
    auto held = holds_.find(clientId);
    return held == holds_.end() ? 0 : held->second;
}

uint32_t AlertCallbackRegistry::makeRoomLocked(const std::string& owner) {
    size_t owned = 0;
    for (const auto& entry : records_) owned += entry.second.record.ownerSid == owner ? 1 : 0;
    const bool userFull = owned >= perUserCapacity_;
    if (!userFull && records_.size() < capacity_) return 0;
    // Clients that took a record but hold no registration (ids never registered, registrations
    // on a handle without a session, clients unregistered everywhere) make room, oldest first;
    // a user at its own limit makes room among its own records only.
    auto victim = records_.end();
    for (auto candidate = records_.begin(); candidate != records_.end(); ++candidate) {
        if (holdsLocked(candidate->first) > 0) continue;
        if (userFull && candidate->second.record.ownerSid != owner) continue;
        if (victim == records_.end() || candidate->second.stamp < victim->second.stamp) victim = candidate;
    }
    if (victim == records_.end()) return kFull;
    records_.erase(victim);
    return 0;
}

uint32_t AlertCallbackRegistry::claim(uint32_t clientId, const CallerIdentity& caller) {
    if (!caller.known()) return kNotOwner;
    std::lock_guard<std::mutex> guard(lock_);
    if (records_.count(clientId) != 0) return kTaken;
    const uint32_t room = makeRoomLocked(caller.userSid);
    if (room != 0) return room;
    Entry& entry = records_[clientId];
    entry.record = CallbackRecord{clientId, std::string(), caller.userSid};
    entry.stamp = ++nextStamp_;
    return 0;
}

uint32_t AlertCallbackRegistry::add(uint32_t clientId, const CallbackRecord& record, const CallerIdentity& caller) {
    if (!caller.known()) return kNotOwner;
    std::lock_guard<std::mutex> guard(lock_);
    auto it = records_.find(clientId);
    if (it != records_.end() && !caller.mayActFor(it->second.record.ownerSid)) return kNotOwner;
    if (it == records_.end() || it->second.record.ownerSid != caller.userSid) {
        // A record changing hands counts against its new owner like a new one.
        const uint32_t room = makeRoomLocked(caller.userSid);
        if (room != 0) return room;
    }
    Entry& entry = records_[clientId];
    entry.record = record;
    entry.record.clientId = clientId;
    entry.record.ownerSid = caller.userSid;
    entry.stamp = ++nextStamp_;
    return 0;
}

uint32_t AlertCallbackRegistry::mayActOn(uint32_t clientId, const CallerIdentity& caller) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = records_.find(clientId);
    if (it == records_.end()) return caller.known() ? 0 : kNotOwner;
    return caller.mayActFor(it->second.record.ownerSid) ? 0 : kNotOwner;
}

bool AlertCallbackRegistry::find(uint32_t clientId, CallbackRecord& record) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = records_.find(clientId);
    if (it == records_.end()) return false;
    record = it->second.record;
    return true;
}

bool AlertCallbackRegistry::retain(uint32_t clientId) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = records_.find(clientId);
    if (it != records_.end()) {
        size_t held = 0;
        for (const auto& entry : records_) {
            if (entry.second.record.ownerSid == it->second.record.ownerSid) held += holdsLocked(entry.first);
        }
        if (held >= perUserRegistrations_) return false;
    }
    ++holds_[clientId];
    return true;
}

void AlertCallbackRegistry::release(uint32_t clientId) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = holds_.find(clientId);
    if (it == holds_.end()) return;
    if (--it->second == 0) holds_.erase(it);
}

size_t AlertCallbackRegistry::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return records_.size();
}

void AlertCallbackRegistry::setSink(AlertSink* sink) {
    std::lock_guard<std::mutex> guard(lock_);
    sink_ = sink;
}

uint32_t AlertCallbackRegistry::deliverAlert(uint32_t printerHandle, const uint8_t* bytes, uint32_t length,
                                             uint32_t clientId) {
    if (bytes == nullptr) return kBadArgument;
    CallbackRecord record;
    AlertSink* sink = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = records_.find(clientId);
        if (it == records_.end() || it->second.record.endpoint.empty()) return kNoCallback;
        record = it->second.record;
        sink = sink_;
    }
    if (sink == nullptr) return kNoCallback;
    std::string properties;
    PropertyAccessor accessor;
    accessor.SetString(properties, PropertyAccessor::Handler, "AlertHandler");
    // Handle is a read-only property for clients; the service writes the element itself.
    SetElement(properties, "Handle", std::to_string(printerHandle));
    accessor.SetLong(properties, PropertyAccessor::ClientId, clientId);
    return sink->sendCallback(record, properties, bytes, length);
}
