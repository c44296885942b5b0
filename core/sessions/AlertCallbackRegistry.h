#pragma once
// The callback pipes of the clients, by client id, at most capacity records. A record is added or
// replaced by every registration; when the registry is full, a new client's record takes the place
// of the oldest record of a client that no session holds a registration for (retain/release count
// those). When every record is held, add refuses with kRegistryFull and nothing changes.
// deliverAlert sends one alert to one client through the AlertSink the IPC layer installs. Any
// thread; the map has its own lock, which is never held while a callback is sent.
#include "core/sessions/AlertSink.h"
#include "core/sessions/CallbackRecord.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

class AlertCallbackRegistry {
public:
    static constexpr size_t kMaxRecords = 4096;
    // ERROR_NO_SYSTEM_RESOURCES: every record belongs to a client registered with a session.
    static constexpr uint32_t kRegistryFull = 1450;
    // deliverAlert without a record for the client, or without a sink.
    static constexpr uint32_t kNoCallback = 1;

    explicit AlertCallbackRegistry(size_t capacity = kMaxRecords);

    static AlertCallbackRegistry& getInstance();

    // 0, or kRegistryFull.
    uint32_t add(uint32_t clientId, const CallbackRecord& record);
    bool find(uint32_t clientId, CallbackRecord& record) const;
    // A session holds (or gives up) a registration of the client: its record is kept while held.
    void retain(uint32_t clientId);
    void release(uint32_t clientId);
    size_t size() const;
    // The sink is not owned; null removes it. It must outlive every delivery.
    void setSink(AlertSink* sink);
    // The sink's answer; kNoCallback for a client without a record or without a sink, 87 for
    // null bytes.
    uint32_t deliverAlert(uint32_t printerHandle, const uint8_t* bytes, uint32_t length, uint32_t clientId);

private:
    struct Entry {
        CallbackRecord record;
        uint64_t stamp = 0;  // when last added: the oldest unheld record goes first
    };

    const size_t capacity_;
    mutable std::mutex lock_;
    std::map<uint32_t, Entry> records_;
    std::map<uint32_t, uint32_t> holds_;  // client id -> registrations held by sessions
    uint64_t nextStamp_ = 0;
    AlertSink* sink_ = nullptr;
};
