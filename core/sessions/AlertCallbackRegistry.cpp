#include "core/sessions/AlertCallbackRegistry.h"

#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"

AlertSink::~AlertSink() = default;

namespace {
constexpr uint32_t kBadArgument = 87;
}  // namespace

AlertCallbackRegistry::AlertCallbackRegistry(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

AlertCallbackRegistry& AlertCallbackRegistry::getInstance() {
    // Function-local statics are created once even when threads race to the first call.
    static AlertCallbackRegistry registry;
    return registry;
}

uint32_t AlertCallbackRegistry::add(uint32_t clientId, const CallbackRecord& record) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = records_.find(clientId);
    if (it == records_.end() && records_.size() >= capacity_) {
        // Clients that took a record but hold no registration (they registered with a handle
        // that had no session, or have unregistered everywhere) make room first, oldest first.
        auto victim = records_.end();
        for (auto candidate = records_.begin(); candidate != records_.end(); ++candidate) {
            auto held = holds_.find(candidate->first);
            if (held != holds_.end() && held->second > 0) continue;
            if (victim == records_.end() || candidate->second.stamp < victim->second.stamp) victim = candidate;
        }
        if (victim == records_.end()) return kRegistryFull;
        records_.erase(victim);
    }
    Entry& entry = records_[clientId];
    entry.record = record;
    entry.stamp = ++nextStamp_;
    return 0;
}

bool AlertCallbackRegistry::find(uint32_t clientId, CallbackRecord& record) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = records_.find(clientId);
    if (it == records_.end()) return false;
    record = it->second.record;
    return true;
}

void AlertCallbackRegistry::retain(uint32_t clientId) {
    std::lock_guard<std::mutex> guard(lock_);
    ++holds_[clientId];
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
        if (it == records_.end()) return kNoCallback;
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
    return sink->sendCallback(record.endpoint, properties, bytes, length);
}
