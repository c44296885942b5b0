#include "core/sessions/AlertCallbackRegistry.h"

#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"

AlertSink::~AlertSink() = default;

AlertCallbackRegistry& AlertCallbackRegistry::getInstance() {
    // Function-local statics are created once even when threads race to the first call.
    static AlertCallbackRegistry registry;
    return registry;
}

void AlertCallbackRegistry::add(uint32_t clientId, const CallbackRecord& record) {
    std::lock_guard<std::mutex> guard(lock_);
    records_[clientId] = record;
}

bool AlertCallbackRegistry::find(uint32_t clientId, CallbackRecord& record) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = records_.find(clientId);
    if (it == records_.end()) return false;
    record = it->second;
    return true;
}

void AlertCallbackRegistry::setSink(AlertSink* sink) {
    std::lock_guard<std::mutex> guard(lock_);
    sink_ = sink;
}

void AlertCallbackRegistry::deliverAlert(uint32_t printerHandle, const uint8_t* bytes, uint32_t length,
                                         uint32_t clientId) {
    CallbackRecord record;
    AlertSink* sink = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = records_.find(clientId);
        if (it == records_.end()) return;
        record = it->second;
        sink = sink_;
    }
    if (sink == nullptr || bytes == nullptr) return;
    std::string properties;
    PropertyAccessor accessor;
    accessor.SetString(properties, PropertyAccessor::Handler, "AlertHandler");
    // Handle is a read-only property for clients; the service writes the element itself.
    SetElement(properties, "Handle", std::to_string(printerHandle));
    accessor.SetLong(properties, PropertyAccessor::ClientId, clientId);
    sink->sendCallback(record.endpoint, properties, bytes, length);
}
