#pragma once
// One printer as clients see it: a reference-counted session owning the printer's port and the
// NPA packet protocol on it. Clients exchange raw packets through it, and register for alerts,
// which the session delivers to every registered client through the callback registry. A
// session made without a port (openPrinter of an unknown handle) never touches a port: exchanges
// and registrations answer 50. Client threads call open, close, exchange (under sessionLock())
// and the registrations; the port's read thread calls onPacket. Portable.
//
// Alerts leave the read thread at once: each registered client has a queue of at most
// kAlertQueueCapacity alerts served by a worker of its own, which delivers them in order through
// the callback registry. A full queue drops the client's oldest alert (counted in the log); a
// client that fails is tried again with its next alert and never holds up another. The worker
// ends with the registration, the session, or abort(). When the port reports that reading works
// again after the printer was away (attach, resume, reopen), a session with registrations sends
// the registration packets for the merged mask again, on a worker of the session's own.
#include "core/ipc/CallerIdentity.h"
#include "core/sessions/AlertCallbackRegistry.h"
#include "core/sessions/AlertRegistration.h"
#include "core/sessions/BoundedWorkQueue.h"
#include "core/sessions/PortFactory.h"
#include "core/usb/port/InterpreterLookup.h"
#include "core/usb/port/NpaPacketProtocol.h"
#include "core/usb/port/PacketSink.h"
#include "export/common/Data.h"
#include "runtime/ReferenceCount.h"
#include "runtime/TicketLock.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What sessions need from the rest of the service. Everything outlives the sessions.
struct SessionServices {
    InterpreterLookup& lookup;
    AlertCallbackRegistry& callbacks;
    PortFactory* ports = nullptr;  // null: only sessions without a port can be made
    std::function<void(const std::string&)> log;
};

class Printer : public ReferenceCount, public PacketSink {
public:
    static constexpr uint32_t kDefaultTimeout = NpaPacketProtocol::kDefaultTimeout;
    static constexpr uint32_t kNoPort = 50;
    static constexpr size_t kAlertQueueCapacity = 64;
    // A registration after abort(), or a delivery worker that could not be made.
    static constexpr uint32_t kAborted = 995;
    static constexpr uint32_t kNoResources = 1450;
    static constexpr uint32_t kNotOpened = 6;
    static constexpr uint32_t kTimedOut = 1460;
    static constexpr uint32_t kNotAllowed = 5;

    // A session without port and protocol, handle 0.
    explicit Printer(SessionServices& services);
    // Completes the transport string through the port factory and builds port and protocol;
    // raises Win32Exception "Exception in Printer()" with code 1 when no printer is found.
    Printer(SessionServices& services, const std::string& transportString, uint32_t handle);
    // Destroys the protocol (after any delivery inside it), then stops and destroys the port.
    ~Printer() override;
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    virtual uint32_t openPort();
    virtual uint32_t closePort();
    // One request and its reply; callers hold sessionLock(). reply receives the packet that
    // answered the request (nothing when the request expects no reply). 0, or the port's or the
    // protocol's error (50 without a port, 1460 on time-out).
    virtual uint32_t exchange(Data& request, Data& reply);
    // exchange under sessionLock(), waiting for the lock no longer than the reply time-out:
    // kTimedOut (1460) when another exchange held the printer throughout.
    uint32_t lockedExchange(Data& request, Data& reply);
    virtual uint32_t RegisterForAlerts(const AlertRegistration& registration);
    virtual uint32_t UnregisterForAlerts(uint32_t clientId);
    virtual void onAlert(const Data& packet);
    void onPacket(const Data& packet) override;

    // Opens are counted per user: close gives back one of the caller's own (kNotOpened when it
    // holds none; a privileged caller may give back anyone's). An unknown caller cannot open
    // (kNotAllowed).
    uint32_t open(const CallerIdentity& caller = CallerIdentity::localSystem());
    uint32_t close(const CallerIdentity& caller = CallerIdentity::localSystem());
    // The caller holds an open of this session (privileged callers always do).
    bool openedBy(const CallerIdentity& caller) const;
    // Stores the language id for the next registration; a different one forces a resend.
    void setLanguageId(const std::string& languageId);
    // The reply time-out of the next exchange only.
    void setTimeout(uint32_t milliseconds);
    // The service is stopping: a waiting exchange ends now with 995, later ones at once; the
    // delivery workers end (each within its callback's bound, all at the same time), and alerts
    // are no longer queued.
    void abort();
    // Sends the registration packets for the merged mask of all registrations again (every class,
    // current mask 0, with a pending language id), as a registration does. 0 (also when there is
    // no registration: nothing is sent), or the first failure.
    uint32_t reregisterAlerts();

    TicketLock& sessionLock() { return sessionLock_; }
    uint32_t handle() const { return handle_; }
    const std::string& transportString() const { return transportString_; }
    Port* port() { return port_.get(); }
    bool hasPort() const { return port_ != nullptr; }
    Data lastPacket() const;
    // The protocol's reply time-out now (0 without a protocol).
    uint32_t replyTimeout() const { return protocol_ != nullptr ? protocol_->timeout() : 0; }
    uint32_t registeredMask() const;
    size_t registrationCount() const;
    bool languageChanged() const;
    // Alerts of clientId dropped from its full queue so far (0 without a registration).
    uint64_t droppedAlerts(uint32_t clientId) const;
    // Re-registrations run so far (after the port's reports), whatever their result.
    uint64_t reregistrations() const { return reregistrations_.load(); }

private:
    // Builds the registration packets for the text and exchanges each under the session lock.
    // Registering: 0 or the first failure (22 for a reply with flags bit 7), the rest unsent.
    // Unregistering: every packet is sent; 0 or the last failure.
    uint32_t sendAlertCommands(const std::string& text, bool registering);
    void addLanguage(std::string& text);
    // With stateLock_ held: the text registering every class of mask, consuming the language id.
    std::string registrationTextLocked(uint32_t mask);
    // The printer did not take a registration: its language id waits for the next one.
    void restoreLanguage(const std::string& languageBefore, bool changedBefore);
    // A delivery worker for a newly registered client (with stateLock_ held); kNoResources when
    // none can be made.
    uint32_t addDeliveryLocked(uint32_t clientId);
    // Takes the client's worker out, with stateLock_ held; the caller stops it unlocked.
    std::shared_ptr<BoundedWorkQueue> takeDeliveryLocked(uint32_t clientId);
    // Ends workers together (each waits at most for its callback in flight) and gives back
    // their holds on the callback records.
    void stopDeliveries(std::vector<std::pair<uint32_t, std::shared_ptr<BoundedWorkQueue>>> workers);
    void onReadingRestored();
    void stopWorkers();
    void log(const std::string& line) const;
    std::string handleText() const;

    SessionServices& services_;
    std::string transportString_;
    mutable std::mutex stateLock_;  // language id, flag, last packet, registrations, opens
    std::string languageId_;
    Data lastPacket_;
    std::map<uint32_t, AlertRegistration> registrations_;
    std::map<std::string, uint32_t> opens_;  // user SID -> opens held (stateLock_)
    // In the order asked for: clients queued on one printer are served in turn, none waits out
    // its time-out while later ones pass it.
    TicketLock sessionLock_;
    std::unique_ptr<Port> port_;
    std::unique_ptr<NpaPacketProtocol> protocol_;
    uint32_t handle_;
    bool languageChanged_;
    // Guarded by stateLock_: one worker per registered client, and the session's own worker for
    // re-registrations (one waiting at most: a newer report replaces an older one).
    std::map<uint32_t, std::shared_ptr<BoundedWorkQueue>> deliveries_;
    std::shared_ptr<BoundedWorkQueue> maintenance_;
    bool stopped_;
    std::atomic<uint64_t> reregistrations_{0};
};
