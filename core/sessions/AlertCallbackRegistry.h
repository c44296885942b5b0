#pragma once
// The callback pipes of the clients, by client id, at most capacity records in all and
// perUserCapacity per user. Every record belongs to a user: the one the id was issued to
// (claim) or, for an id never issued here, the first to register it. Only that user, or a
// privileged caller, may replace the record or act on the id's registrations (kNotOwner).
// When a limit is reached, a new record takes the place of the oldest record that no session
// holds a registration for (retain/release count those) — of the same user when the user's
// limit is the one reached. When every candidate is held, the call is refused with kFull and
// nothing changes. retain refuses (false) once a user's clients hold perUserRegistrations
// registrations. deliverAlert sends one alert to one client through the AlertSink the IPC layer
// installs. Any thread; the map has its own lock, which is never held while a callback is sent.
#include "core/ipc/CallerIdentity.h"
#include "core/sessions/AlertSink.h"
#include "core/sessions/CallbackRecord.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

class AlertCallbackRegistry {
public:
    static constexpr size_t kMaxRecords = 4096;
    static constexpr size_t kMaxRecordsPerUser = 64;
    static constexpr size_t kMaxRegistrationsPerUser = 64;
    // ERROR_NO_SYSTEM_RESOURCES: no record can be made room for.
    static constexpr uint32_t kFull = 1450;
    static constexpr uint32_t kRegistryFull = kFull;
    // ERROR_ACCESS_DENIED: the id belongs to another user, or the caller's identity is unknown.
    static constexpr uint32_t kNotOwner = 5;
    // claim: the id already has a record.
    static constexpr uint32_t kTaken = 183;  // ERROR_ALREADY_EXISTS
    // deliverAlert without a record for the client, without a pipe, or without a sink.
    static constexpr uint32_t kNoCallback = 1;

    explicit AlertCallbackRegistry(size_t capacity = kMaxRecords, size_t perUserCapacity = kMaxRecordsPerUser,
                                   size_t perUserRegistrations = kMaxRegistrationsPerUser);

    static AlertCallbackRegistry& getInstance();

    // Makes clientId the caller's before it is handed out: a record without a pipe. 0, kTaken,
    // kNotOwner (unknown caller) or kFull.
    uint32_t claim(uint32_t clientId, const CallerIdentity& caller);
    // Adds or replaces the record of clientId (its owner becomes the caller). 0, kNotOwner or
    // kFull.
    uint32_t add(uint32_t clientId, const CallbackRecord& record,
                 const CallerIdentity& caller = CallerIdentity::localSystem());
    // 0 when the caller may act on clientId's registrations (also when the id has no record),
    // else kNotOwner.
    uint32_t mayActOn(uint32_t clientId, const CallerIdentity& caller) const;
    bool find(uint32_t clientId, CallbackRecord& record) const;
    // A session holds (or gives up) a registration of the client: its record is kept while
    // held. False (nothing held) when the client's user holds its limit already.
    bool retain(uint32_t clientId);
    void release(uint32_t clientId);
    size_t size() const;
    // The sink is not owned; null removes it. It must outlive every delivery.
    void setSink(AlertSink* sink);
    // The sink's answer; kNoCallback for a client without a record, a pipe or a sink, 87 for
    // null bytes.
    uint32_t deliverAlert(uint32_t printerHandle, const uint8_t* bytes, uint32_t length, uint32_t clientId);

private:
    struct Entry {
        CallbackRecord record;
        uint64_t stamp = 0;  // when last added: the oldest unheld record goes first
    };

    // With lock_ held: room for one more record of owner (0), evicting if need be, or kFull.
    uint32_t makeRoomLocked(const std::string& owner);
    uint32_t holdsLocked(uint32_t clientId) const;

    const size_t capacity_;
    const size_t perUserCapacity_;
    const size_t perUserRegistrations_;
    mutable std::mutex lock_;
    std::map<uint32_t, Entry> records_;
    std::map<uint32_t, uint32_t> holds_;  // client id -> registrations held by sessions
    uint64_t nextStamp_ = 0;
    AlertSink* sink_ = nullptr;
};
