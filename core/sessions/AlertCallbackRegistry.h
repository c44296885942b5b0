#pragma once
// The callback pipes of the clients, by client id: added or replaced, kept while the service
// runs. deliverAlert sends one alert to one client through the AlertSink the IPC layer installs
// (none installed: nothing is sent). Any thread; the map has its own lock, which is never held
// while a callback is sent.
#include "core/sessions/AlertSink.h"
#include "core/sessions/CallbackRecord.h"

#include <cstdint>
#include <map>
#include <mutex>

class AlertCallbackRegistry {
public:
    static AlertCallbackRegistry& getInstance();

    void add(uint32_t clientId, const CallbackRecord& record);
    bool find(uint32_t clientId, CallbackRecord& record) const;
    // The sink is not owned; null removes it. It must outlive every delivery.
    void setSink(AlertSink* sink);
    // Nothing happens for a client without a record, for null bytes, or without a sink.
    void deliverAlert(uint32_t printerHandle, const uint8_t* bytes, uint32_t length, uint32_t clientId);

private:
    mutable std::mutex lock_;
    std::map<uint32_t, CallbackRecord> records_;
    AlertSink* sink_ = nullptr;
};
