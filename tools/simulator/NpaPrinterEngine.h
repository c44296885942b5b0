#pragma once
// The protocol side of a simulated NPA printer, free of any OS handle: fed the bytes the host
// wrote (in any chunks), it frames the requests, records them, keeps the printer's alert
// registrations and schedules what the printer writes back as timed writes. Times are
// milliseconds on a clock the caller supplies. One thread at a time (the Windows simulator holds
// its lock around every call).
#include "export/common/Data.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The requests the NPA plug-in sends, told apart by their command bytes.
enum class NpaRequestKind {
    StartNpaMode,
    DcSummary,
    QueryAll,
    GetPrinterLanguage,
    QueryAdapterVariables,
    StartJob,
    EndJob,
    NamePrintJob,
    SetJobId,
    SetLastDate,
    AioLock,
    AioSwathLock,
    AioLegacyLock,
    AioUnlock,
    RegisterForDeviceStatusAlerts,
    RegisterForQuorvelExtendedAlerts,
    RegisterForQuorvelExtendedAlertsWithLanguageId,
    RegisterForQuorvelExtensionAlerts,
    RegisterForPanelAlerts,
    Unknown,    // a well-framed packet of no known kind: answered with an echo
    Malformed,  // shorter than a command byte: never answered
};

// The plug-in's command name of a kind ("queryAll", ...); "unknown" and "malformed" otherwise.
const char* npaRequestKindName(NpaRequestKind kind);
// The kind for a command name (case-sensitive); false when there is none.
bool npaRequestKindFromName(const std::string& name, NpaRequestKind& kind);
// The kind of one framed request packet.
NpaRequestKind classifyNpaRequest(const std::vector<uint8_t>& packet);
bool isRegistrationKind(NpaRequestKind kind);

// How the printer answers a request.
struct NpaReplyBehaviour {
    bool neverReply = false;        // record the request, write nothing for it
    uint32_t delayMs = 0;           // the reply comes this long after the request
    uint32_t acks = 0;              // acknowledge packets before the reply
    uint32_t ackIntervalMs = 0;     // acknowledge k (1..acks) comes k * this after the request
    uint32_t splitAt = 0;           // >0: the reply's bytes are cut at this offset into two writes
    uint32_t fragmentSize = 0;      // >0: the reply goes as continued packets of this many data bytes
    bool join = false;              // everything written for the request goes in one write
    bool refuseRegistration = false;  // registration replies carry flags bit 7 and change nothing
    bool alertBeforeReply = false;  // a control packet goes out just before the reply
    // Last, so that tests filling the fields in order keep their meaning.
    bool stopAtSplit = false;       // with splitAt: only the part before the cut is ever written
};

// What the default replies report about the printer.
struct NpaPrinterIdentity {
    std::string manufacturer = "Quorvel";
    std::string model = "Q100 Series";
    std::string serialNumber = "SIM0001";
    uint8_t npaRevision[3] = {0x01, 0x00, 0x00};
    uint16_t maxPacketSize = 4096;
    uint8_t printerLanguage = 0x01;
    uint16_t firstJobId = 1;
};

// One write on the printer-to-host pipe. Writes are taken in the order of their due time (ties in
// the order they were made); each must reach the host as a read of its own, so the writer starts
// the next one only once the host has taken all of this one.
struct NpaPrinterWrite {
    uint64_t dueMs = 0;
    std::vector<uint8_t> bytes;
    std::string what;  // "reply to queryAll", "acknowledge", "alert", ... for logs
};

// A request as received, for tests and for the console's log line.
struct NpaReceivedRequest {
    NpaRequestKind kind = NpaRequestKind::Unknown;
    std::vector<uint8_t> bytes;
    uint64_t atMs = 0;
    std::string outcome;  // what the printer does about it, in words
};

// One alert class the printer is registered for: the last accepted packet of that class with a
// mask bit set.
struct NpaRegistration {
    NpaRequestKind kind = NpaRequestKind::RegisterForDeviceStatusAlerts;
    std::vector<uint8_t> packet;
};

class NpaPrinterEngine {
public:
    static constexpr uint8_t kReplyFlags = 0x40;
    static constexpr uint8_t kRefusedFlag = 0x80;
    // Limits that keep a misbehaving host from growing memory: bytes waiting to form a request,
    // requests kept in the log (counts stay exact), and bytes waiting to be written.
    static constexpr size_t kMaxPendingInput = 4 * 65541;
    static constexpr size_t kMaxLoggedRequests = 1024;
    static constexpr size_t kMaxPendingOutput = 4 * 1024 * 1024;

    explicit NpaPrinterEngine(const NpaPrinterIdentity& identity = NpaPrinterIdentity());

    // --- scenario ---
    // The behaviour for every kind without one of its own.
    void setDefaultBehaviour(const NpaReplyBehaviour& behaviour) { defaultBehaviour_ = behaviour; }
    void setBehaviour(NpaRequestKind kind, const NpaReplyBehaviour& behaviour) { behaviours_[kind] = behaviour; }
    void clearBehaviours();
    const NpaReplyBehaviour& behaviourFor(NpaRequestKind kind) const;
    // A silent printer records requests but writes nothing at all: no reply, acknowledge or alert.
    void setSilent(bool silent) { silent_ = silent; }
    bool silent() const { return silent_; }
    // Control packets every everyMs (0 stops the timer), counted from nowMs; with
    // onlyWhenRegistered a tick passes silently while no alert class is registered.
    void setAlertTimer(uint32_t everyMs, bool onlyWhenRegistered, uint64_t nowMs);
    // Adapter variable (component, id) answers with value; an empty value removes it.
    void setAdapterVariable(uint8_t component, uint8_t id, const std::vector<uint8_t>& value);
    const NpaPrinterIdentity& identity() const { return identity_; }

    // --- input ---
    // The host wrote these bytes at nowMs. Returns the requests they completed, in order.
    std::vector<NpaReceivedRequest> feed(const uint8_t* bytes, size_t n, uint64_t nowMs);
    // Queues the default control packet (command F0, a running 16-bit sequence number in bytes
    // 6-7) as a write of its own, due at nowMs. False when silent or the output is full.
    bool emitAlert(uint64_t nowMs);
    // Queues arbitrary bytes as one write due at nowMs. False when silent, empty or full.
    bool emitBytes(const std::vector<uint8_t>& bytes, uint64_t nowMs, const std::string& what = "bytes");

    // --- output ---
    // The due time of the first write (or timer tick); false when nothing is scheduled.
    bool nextDue(uint64_t& dueMs) const;
    // Takes the first write due at or before nowMs (running the alert timer first).
    bool takeDue(uint64_t nowMs, NpaPrinterWrite& write);
    size_t pendingWrites() const { return outbox_.size(); }

    // --- the host's connections and the printer's power ---
    // The host reopened its write pipe: a partial request of the old connection is dropped.
    void resetInput() { pending_.Clear(); }
    // Nobody reads any more: what was queued for the old reader is dropped.
    void dropOutput();
    // Power cycle: the printer forgets its alert registrations.
    void forgetRegistrations() { registrations_.clear(); }

    // --- what the printer saw ---
    // The last kMaxLoggedRequests requests, oldest first.
    std::vector<NpaReceivedRequest> requests() const;
    uint64_t countOf(NpaRequestKind kind) const;
    uint64_t totalRequests() const { return totalRequests_; }
    // Bytes skipped while looking for a packet start, or dropped when a request grew too long.
    uint64_t discardedInputBytes() const { return discardedInput_; }
    // Writes not queued because the output was full, or dropped with the output.
    uint64_t droppedWrites() const { return droppedWrites_; }
    uint64_t alertsEmitted() const { return alertsEmitted_; }

    bool isRegistered() const { return !registrations_.empty(); }
    // One entry per registered alert class, in the order of NpaRequestKind.
    std::vector<NpaRegistration> registrations() const;
    // The alert mask the registrations stand for (packet bits mapped back to mask bits; the
    // extension packet's 0x80 serves bits 17 and 18 alike and reads back as bit 17).
    uint32_t registeredAlertMask() const;
    // The language code of a registration with language id; 0 when there is none.
    uint8_t registeredLanguage() const;

    // The default reply to a request, before any scripted behaviour (empty: none is sent).
    std::vector<uint8_t> defaultReply(NpaRequestKind kind, const std::vector<uint8_t>& request);

private:
    bool queue(uint64_t dueMs, std::vector<uint8_t> bytes, const std::string& what);
    std::vector<uint8_t> alertPacket();
    void handleRequest(std::vector<uint8_t> packet, uint64_t nowMs, std::vector<NpaReceivedRequest>& out);
    std::string scheduleReply(NpaRequestKind kind, const std::vector<uint8_t>& request, uint64_t nowMs);
    void noteRegistration(NpaRequestKind kind, const std::vector<uint8_t>& request);
    void runAlertTimer(uint64_t nowMs);

    NpaPrinterIdentity identity_;
    NpaReplyBehaviour defaultBehaviour_;
    std::map<NpaRequestKind, NpaReplyBehaviour> behaviours_;
    bool silent_ = false;

    Data pending_;  // bytes of a request not yet complete
    std::map<std::pair<uint64_t, uint64_t>, NpaPrinterWrite> outbox_;  // (due, sequence)
    size_t outboxBytes_ = 0;
    uint64_t nextSequence_ = 0;

    uint32_t alertEveryMs_ = 0;
    bool alertOnlyWhenRegistered_ = true;
    uint64_t nextAlertMs_ = 0;
    uint16_t alertNumber_ = 0;

    uint16_t nextJobId_;
    std::map<std::pair<uint8_t, uint8_t>, std::vector<uint8_t>> adapterVariables_;
    std::map<NpaRequestKind, std::vector<uint8_t>> registrations_;

    std::vector<NpaReceivedRequest> log_;  // ring of kMaxLoggedRequests
    size_t logStart_ = 0;
    std::map<NpaRequestKind, uint64_t> counts_;
    uint64_t totalRequests_ = 0;
    uint64_t discardedInput_ = 0;
    uint64_t droppedWrites_ = 0;
    uint64_t alertsEmitted_ = 0;
};
