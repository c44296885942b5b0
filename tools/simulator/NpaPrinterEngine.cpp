#include "tools/simulator/NpaPrinterEngine.h"

#include "interpreters/npa/NpaCommand.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kStart = 0xA5;
constexpr uint8_t kReplyRequested = 0x10;
constexpr uint8_t kContinued = 0x20;
constexpr uint32_t kMoreData = 234;
constexpr uint8_t kAcknowledge[] = {0xA5, 0x00, 0x05, 0x40, 0xFF, 0x80, 0x00, 0x00};

struct KindName {
    NpaRequestKind kind;
    const char* name;
};

constexpr KindName kKindNames[] = {
    {NpaRequestKind::StartNpaMode, "startNpaMode"},
    {NpaRequestKind::DcSummary, "dcSummary"},
    {NpaRequestKind::QueryAll, "queryAll"},
    {NpaRequestKind::GetPrinterLanguage, "getPrinterLanguage"},
    {NpaRequestKind::QueryAdapterVariables, "queryAdapterVariables"},
    {NpaRequestKind::StartJob, "startJob"},
    {NpaRequestKind::EndJob, "endJob"},
    {NpaRequestKind::NamePrintJob, "namePrintJob"},
    {NpaRequestKind::SetJobId, "setJobId"},
    {NpaRequestKind::SetLastDate, "setLastDate"},
    {NpaRequestKind::AioLock, "aioLock"},
    {NpaRequestKind::AioSwathLock, "aioSwathLock"},
    {NpaRequestKind::AioLegacyLock, "aioLegacyLock"},
    {NpaRequestKind::AioUnlock, "aioUnlock"},
    {NpaRequestKind::RegisterForDeviceStatusAlerts, "registerForDeviceStatusAlerts"},
    {NpaRequestKind::RegisterForQuorvelExtendedAlerts, "registerForQuorvelExtendedAlerts"},
    {NpaRequestKind::RegisterForQuorvelExtendedAlertsWithLanguageId, "registerForQuorvelExtendedAlertsWithLanguageId"},
    {NpaRequestKind::RegisterForQuorvelExtensionAlerts, "registerForQuorvelExtensionAlerts"},
    {NpaRequestKind::RegisterForPanelAlerts, "registerForPanelAlerts"},
    {NpaRequestKind::Unknown, "unknown"},
    {NpaRequestKind::Malformed, "malformed"},
};

uint8_t at(const std::vector<uint8_t>& p, size_t i) { return i < p.size() ? p[i] : 0; }

void putLength(std::vector<uint8_t>& packet) {
    const size_t length = packet.size() - 3;
    packet[1] = static_cast<uint8_t>(length >> 8);
    packet[2] = static_cast<uint8_t>(length & 0xFF);
}

std::vector<uint8_t> header(uint8_t command, uint8_t sub) {
    return {kStart, 0, 0, NpaPrinterEngine::kReplyFlags, command, sub};
}

void appendField(std::vector<uint8_t>& packet, const std::string& text, bool terminated) {
    std::string value = text.substr(0, terminated ? 254 : 255);
    if (terminated) value.push_back('\0');
    packet.push_back(static_cast<uint8_t>(value.size()));
    packet.insert(packet.end(), value.begin(), value.end());
}

// The bytes of a registration packet that carry mask bits, per class.
std::vector<size_t> maskOffsets(NpaRequestKind kind) {
    switch (kind) {
    case NpaRequestKind::RegisterForDeviceStatusAlerts: return {6, 7, 8};
    case NpaRequestKind::RegisterForQuorvelExtendedAlerts: return {8};
    case NpaRequestKind::RegisterForQuorvelExtendedAlertsWithLanguageId: return {9, 10};
    case NpaRequestKind::RegisterForQuorvelExtensionAlerts: return {6};
    case NpaRequestKind::RegisterForPanelAlerts: return {7};
    default: return {};
    }
}

// Packet bit (byte, value) back to alert mask bit: the inverse of the plug-in's mask table.
struct MaskBit {
    NpaRequestKind kind;
    size_t offset;
    uint8_t value;
    uint32_t bit;
};

constexpr MaskBit kMaskBits[] = {
    {NpaRequestKind::RegisterForDeviceStatusAlerts, 6, 0x40, 8},
    {NpaRequestKind::RegisterForDeviceStatusAlerts, 6, 0x80, 9},
    {NpaRequestKind::RegisterForDeviceStatusAlerts, 7, 0x01, 3},
    {NpaRequestKind::RegisterForDeviceStatusAlerts, 7, 0x02, 2},
    {NpaRequestKind::RegisterForDeviceStatusAlerts, 7, 0x04, 1},
    {NpaRequestKind::RegisterForDeviceStatusAlerts, 7, 0x08, 0},
    {NpaRequestKind::RegisterForDeviceStatusAlerts, 8, 0x01, 7},
    {NpaRequestKind::RegisterForDeviceStatusAlerts, 8, 0x02, 5},
    {NpaRequestKind::RegisterForDeviceStatusAlerts, 8, 0x04, 6},
    {NpaRequestKind::RegisterForDeviceStatusAlerts, 8, 0x08, 4},
    {NpaRequestKind::RegisterForQuorvelExtendedAlerts, 8, 0x10, 20},
    {NpaRequestKind::RegisterForQuorvelExtendedAlertsWithLanguageId, 9, 0x01, 21},
    {NpaRequestKind::RegisterForQuorvelExtendedAlertsWithLanguageId, 9, 0x10, 25},
    {NpaRequestKind::RegisterForQuorvelExtendedAlertsWithLanguageId, 10, 0x01, 22},
    {NpaRequestKind::RegisterForQuorvelExtendedAlertsWithLanguageId, 10, 0x02, 23},
    {NpaRequestKind::RegisterForQuorvelExtendedAlertsWithLanguageId, 10, 0x04, 24},
    {NpaRequestKind::RegisterForQuorvelExtensionAlerts, 6, 0x01, 10},
    {NpaRequestKind::RegisterForQuorvelExtensionAlerts, 6, 0x02, 11},
    {NpaRequestKind::RegisterForQuorvelExtensionAlerts, 6, 0x04, 12},
    {NpaRequestKind::RegisterForQuorvelExtensionAlerts, 6, 0x08, 13},
    {NpaRequestKind::RegisterForQuorvelExtensionAlerts, 6, 0x10, 14},
    {NpaRequestKind::RegisterForQuorvelExtensionAlerts, 6, 0x20, 15},
    {NpaRequestKind::RegisterForQuorvelExtensionAlerts, 6, 0x40, 16},
    {NpaRequestKind::RegisterForQuorvelExtensionAlerts, 6, 0x80, 17},
    {NpaRequestKind::RegisterForPanelAlerts, 7, 0x01, 19},
};

// A reply cut into continued packets of at most size data bytes each; the last one carries the
// reply's own flags, so joining the pieces gives back the reply.
std::vector<std::vector<uint8_t>> fragment(const std::vector<uint8_t>& reply, uint32_t size) {
    if (size == 0 || reply.size() <= 5 + static_cast<size_t>(size)) return {reply};
    std::vector<std::vector<uint8_t>> pieces;
    for (size_t from = 5; from < reply.size(); from += size) {
        const size_t to = std::min(reply.size(), from + size);
        std::vector<uint8_t> piece = {kStart, 0, 0, reply[3], reply[4]};
        piece.insert(piece.end(), reply.begin() + static_cast<std::ptrdiff_t>(from),
                     reply.begin() + static_cast<std::ptrdiff_t>(to));
        putLength(piece);
        if (to < reply.size()) piece[3] |= kContinued;
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

}  // namespace

const char* npaRequestKindName(NpaRequestKind kind) {
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind) return entry.name;
    }
    return "unknown";
}

bool npaRequestKindFromName(const std::string& name, NpaRequestKind& kind) {
    for (const KindName& entry : kKindNames) {
        if (name == entry.name) {
            kind = entry.kind;
            return true;
        }
    }
    return false;
}

bool isRegistrationKind(NpaRequestKind kind) { return !maskOffsets(kind).empty(); }

NpaRequestKind classifyNpaRequest(const std::vector<uint8_t>& p) {
    if (p.size() < 5 || p[0] != kStart) return NpaRequestKind::Malformed;
    const uint8_t command = p[4];
    const uint8_t sub = at(p, 5);
    if (p.size() < 6) return NpaRequestKind::Unknown;
    switch (command) {
    case 0xA4:
        return sub == 0x5B ? NpaRequestKind::StartNpaMode : NpaRequestKind::Unknown;
    case 0x01:
        return sub == 0x00 ? NpaRequestKind::DcSummary : NpaRequestKind::Unknown;
    case 0x03:
        return sub == 0x03 ? NpaRequestKind::RegisterForDeviceStatusAlerts : NpaRequestKind::Unknown;
    case 0x05:
        if (sub == 0x00) return NpaRequestKind::StartJob;
        if (sub == 0x01) return NpaRequestKind::EndJob;
        return NpaRequestKind::Unknown;
    case 0xE0:
        break;
    default:
        return NpaRequestKind::Unknown;
    }
    switch (sub) {
    case 0x81:
        // Query-all and the job-id triplet share E0 81; the query is the 8-byte packet.
        if (p.size() == 8) return NpaRequestKind::QueryAll;
        return p.size() >= 13 ? NpaRequestKind::SetJobId : NpaRequestKind::Unknown;
    case 0xB2: return NpaRequestKind::GetPrinterLanguage;
    case 0xD7: return NpaRequestKind::QueryAdapterVariables;
    case 0x02: return NpaRequestKind::NamePrintJob;
    case 0x84: return NpaRequestKind::SetLastDate;
    case 0x03: return NpaRequestKind::RegisterForQuorvelExtensionAlerts;
    case 0xE1: return NpaRequestKind::RegisterForPanelAlerts;
    case 0x73:
        if (at(p, 6) == 0x01 && p.size() >= 9) return NpaRequestKind::RegisterForQuorvelExtendedAlerts;
        if (at(p, 6) == 0x07 && p.size() >= 11) return NpaRequestKind::RegisterForQuorvelExtendedAlertsWithLanguageId;
        return NpaRequestKind::Unknown;
    case 0x82:
        if (at(p, 6) != 0x02 || p.size() < 8) return NpaRequestKind::Unknown;
        switch (p[7]) {
        case 0x03: return at(p, 8) == 0x04 ? NpaRequestKind::AioSwathLock : NpaRequestKind::AioLock;
        case 0x01: return NpaRequestKind::AioLegacyLock;
        case 0x02: return NpaRequestKind::AioUnlock;
        default: return NpaRequestKind::Unknown;
        }
    default:
        return NpaRequestKind::Unknown;
    }
}

NpaPrinterEngine::NpaPrinterEngine(const NpaPrinterIdentity& identity)
    : identity_(identity), nextJobId_(identity.firstJobId == 0 ? 1 : identity.firstJobId) {
    // The variables a status tool asks for; 24 is left out so that the full set is decoded.
    adapterVariables_[{6, 0}] = {0x01};
    std::vector<uint8_t> model;
    for (char c : identity_.model) {
        model.push_back(static_cast<uint8_t>(c));
        model.push_back(0);
    }
    if (model.size() > 254) model.resize(254);
    if (model.empty() || model[0] == 0x0C) model = {'?', 0};
    adapterVariables_[{6, 34}] = model;
    adapterVariables_[{6, 22}] = {0x00, 0x01};
    adapterVariables_[{6, 12}] = {0x00};
    adapterVariables_[{6, 21}] = {0x00, 0x00, 0x00, 0x01};
    adapterVariables_[{6, 33}] = {'S', 'I', 'M'};
    adapterVariables_[{6, 68}] = {0x02};
}

void NpaPrinterEngine::clearBehaviours() {
    defaultBehaviour_ = NpaReplyBehaviour();
    behaviours_.clear();
}

const NpaReplyBehaviour& NpaPrinterEngine::behaviourFor(NpaRequestKind kind) const {
    const auto found = behaviours_.find(kind);
    return found != behaviours_.end() ? found->second : defaultBehaviour_;
}

void NpaPrinterEngine::setAlertTimer(uint32_t everyMs, bool onlyWhenRegistered, uint64_t nowMs) {
    alertEveryMs_ = everyMs;
    alertOnlyWhenRegistered_ = onlyWhenRegistered;
    nextAlertMs_ = nowMs + everyMs;
}

void NpaPrinterEngine::setAdapterVariable(uint8_t component, uint8_t id, const std::vector<uint8_t>& value) {
    if (value.empty()) {
        adapterVariables_.erase({component, id});
    } else {
        // One length byte carries the value's size.
        adapterVariables_[{component, id}] = std::vector<uint8_t>(value.begin(), value.begin() + std::min<size_t>(value.size(), 255));
    }
}

std::vector<NpaReceivedRequest> NpaPrinterEngine::feed(const uint8_t* bytes, size_t n, uint64_t nowMs) {
    std::vector<NpaReceivedRequest> completed;
    if (bytes != nullptr && n > 0) pending_.Append(bytes, static_cast<uint32_t>(n));
    Data packet;
    while (pending_.Size() > 0) {
        const uint8_t* head = pending_.Bytes();
        const uint32_t size = pending_.Size();
        if (head[0] != kStart) {
            // A printer drops what cannot start a packet and looks for the next start byte.
            const uint8_t* next = static_cast<const uint8_t*>(std::memchr(head, kStart, size));
            const uint32_t skip = next != nullptr ? static_cast<uint32_t>(next - head) : size;
            discardedInput_ += skip;
            pending_.Consume(skip, false);
            continue;
        }
        if (size < 4) break;
        packet.Clear();
        int32_t consumed = 0;
        const uint32_t rc = ReassembleNpaPacket(pending_, packet, consumed);
        if (rc == kMoreData) break;
        if (rc != 0 || consumed <= 0) {
            ++discardedInput_;
            pending_.Consume(1, false);
            continue;
        }
        pending_.Consume(static_cast<uint32_t>(consumed), false);
        handleRequest(std::vector<uint8_t>(packet.Bytes(), packet.Bytes() + packet.Size()), nowMs, completed);
    }
    // A chain of continued packets that never ends would hold bytes for ever.
    if (pending_.Size() > kMaxPendingInput) {
        discardedInput_ += pending_.Size();
        pending_.Clear();
    }
    pending_.Consume(0, true);
    return completed;
}

void NpaPrinterEngine::handleRequest(std::vector<uint8_t> packet, uint64_t nowMs, std::vector<NpaReceivedRequest>& out) {
    NpaReceivedRequest request;
    request.kind = classifyNpaRequest(packet);
    request.atMs = nowMs;
    request.outcome = request.kind == NpaRequestKind::Malformed ? "ignored: too short to be a request"
                                                                : scheduleReply(request.kind, packet, nowMs);
    request.bytes = std::move(packet);
    ++counts_[request.kind];
    ++totalRequests_;
    if (log_.size() < kMaxLoggedRequests) {
        log_.push_back(request);
    } else {
        log_[logStart_] = request;
        logStart_ = (logStart_ + 1) % kMaxLoggedRequests;
    }
    out.push_back(std::move(request));
}

std::string NpaPrinterEngine::scheduleReply(NpaRequestKind kind, const std::vector<uint8_t>& request, uint64_t nowMs) {
    if (silent_) return "silent: no reply";
    const NpaReplyBehaviour& b = behaviourFor(kind);
    std::string outcome;
    bool refused = false;
    if (isRegistrationKind(kind)) {
        if (b.refuseRegistration) {
            refused = true;
            outcome = "registration refused; ";
        } else {
            noteRegistration(kind, request);
        }
    }
    if ((request[3] & kReplyRequested) == 0) return outcome + "no reply requested";
    if (b.neverReply) return outcome + "never replies";
    std::vector<uint8_t> reply = defaultReply(kind, request);
    if (reply.empty()) return outcome + "no reply";
    if (refused) reply[3] |= kRefusedFlag;

    // Acknowledges go first, each at its own time unless everything is joined; the reply is not
    // sent before the last acknowledge.
    const uint64_t ackSpan = static_cast<uint64_t>(b.acks) * b.ackIntervalMs;
    const uint64_t replyDue = nowMs + std::max<uint64_t>(b.delayMs, ackSpan);
    std::vector<std::vector<uint8_t>> stream;  // what goes out at replyDue, piece by piece
    const std::vector<uint8_t> ack(std::begin(kAcknowledge), std::end(kAcknowledge));
    for (uint32_t k = 1; k <= b.acks; ++k) {
        if (b.join) {
            stream.push_back(ack);
        } else {
            queue(nowMs + static_cast<uint64_t>(k) * b.ackIntervalMs, ack, "acknowledge");
        }
    }
    if (b.alertBeforeReply) {
        stream.push_back(alertPacket());
        ++alertsEmitted_;
    }
    const std::vector<std::vector<uint8_t>> pieces = fragment(reply, b.fragmentSize);
    const size_t replyStart = stream.size();
    stream.insert(stream.end(), pieces.begin(), pieces.end());
    if (b.join) {
        std::vector<uint8_t> joined;
        for (const auto& piece : stream) joined.insert(joined.end(), piece.begin(), piece.end());
        stream.assign(1, std::move(joined));
    }
    // The cut counts from the first reply byte, or from the start of the joined write.
    if (b.splitAt > 0) {
        size_t offset = b.splitAt;
        size_t cut = stream.size();
        for (size_t i = b.join ? 0 : replyStart; i < stream.size(); ++i) {
            if (offset < stream[i].size()) {
                std::vector<uint8_t> rest(stream[i].begin() + static_cast<std::ptrdiff_t>(offset), stream[i].end());
                stream[i].resize(offset);
                stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(rest));
                cut = i + 1;
                break;
            }
            offset -= stream[i].size();
            if (offset == 0) {
                // The cut falls between two writes already.
                cut = i + 1;
                break;
            }
        }
        // A printer that dies in the middle of its answer: the host has a packet start and waits.
        if (b.stopAtSplit && cut < stream.size()) stream.resize(cut);
    }
    const std::string what = std::string("reply to ") + npaRequestKindName(kind);
    bool queued = true;
    for (auto& piece : stream) queued = queue(replyDue, std::move(piece), what) && queued;

    outcome += (refused ? "refusal " : "reply ") + std::to_string(reply.size()) + " bytes";
    if (b.delayMs > 0) outcome += ", after " + std::to_string(b.delayMs) + " ms";
    if (b.acks > 0) outcome += ", " + std::to_string(b.acks) + " acknowledge(s) first";
    if (b.alertBeforeReply) outcome += ", an alert first";
    if (pieces.size() > 1) outcome += ", as " + std::to_string(pieces.size()) + " continued packets";
    if (b.join) outcome += ", joined in one write";
    if (b.splitAt > 0) outcome += (b.stopAtSplit ? ", stops at byte " : ", split at byte ") + std::to_string(b.splitAt);
    if (!queued) outcome += " (output full: dropped)";
    return outcome;
}

void NpaPrinterEngine::noteRegistration(NpaRequestKind kind, const std::vector<uint8_t>& request) {
    bool anyBit = false;
    for (size_t offset : maskOffsets(kind)) anyBit = anyBit || at(request, offset) != 0;
    if (anyBit) {
        registrations_[kind] = request;
    } else {
        registrations_.erase(kind);  // all bits clear: the client withdrew this class
    }
}

std::vector<uint8_t> NpaPrinterEngine::defaultReply(NpaRequestKind kind, const std::vector<uint8_t>& request) {
    std::vector<uint8_t> reply;
    switch (kind) {
    case NpaRequestKind::Malformed:
    case NpaRequestKind::StartNpaMode:
        return reply;
    case NpaRequestKind::DcSummary: {
        reply = header(0x01, 0x00);
        reply.insert(reply.end(), identity_.npaRevision, identity_.npaRevision + 3);
        reply.resize(29, 0);
        reply.push_back(static_cast<uint8_t>(identity_.maxPacketSize >> 8));
        reply.push_back(static_cast<uint8_t>(identity_.maxPacketSize & 0xFF));
        reply.resize(39, 0);
        appendField(reply, identity_.manufacturer, false);
        appendField(reply, identity_.model, false);
        appendField(reply, identity_.serialNumber, true);
        break;
    }
    case NpaRequestKind::QueryAll:
        reply = header(0xE0, 0x81);
        reply.push_back(at(request, 6));
        reply.push_back(at(request, 7));
        reply.push_back(0x00);
        reply.push_back(0x00);
        break;
    case NpaRequestKind::GetPrinterLanguage:
        reply.assign(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(request.size(), 23)));
        reply[3] = kReplyFlags;
        reply.resize(24, 0);
        reply[23] = identity_.printerLanguage;
        break;
    case NpaRequestKind::QueryAdapterVariables: {
        reply = header(0xE0, 0xD7);
        reply.push_back(at(request, 6));
        for (size_t i = 7; i + 1 < request.size(); i += 2) {
            const auto found = adapterVariables_.find({request[i], request[i + 1]});
            if (found == adapterVariables_.end()) continue;  // a variable this printer lacks
            if (reply.size() - 3 + 3 + found->second.size() > NpaCommand::MaxLength) break;
            reply.push_back(request[i]);
            reply.push_back(request[i + 1]);
            reply.push_back(static_cast<uint8_t>(found->second.size()));
            reply.insert(reply.end(), found->second.begin(), found->second.end());
        }
        break;
    }
    case NpaRequestKind::StartJob:
        reply = header(0x05, 0x00);
        reply.push_back(0x00);
        reply.push_back(static_cast<uint8_t>(nextJobId_ >> 8));
        reply.push_back(static_cast<uint8_t>(nextJobId_ & 0xFF));
        nextJobId_ = static_cast<uint16_t>(nextJobId_ + 1);
        if (nextJobId_ == 0) nextJobId_ = 1;
        break;
    case NpaRequestKind::AioLock:
    case NpaRequestKind::AioSwathLock:
    case NpaRequestKind::AioLegacyLock:
    case NpaRequestKind::AioUnlock:
        // Exactly 9 bytes ending in status 00: the lock was granted.
        reply = header(0xE0, 0x82);
        reply.push_back(0x02);
        reply.push_back(request[7]);
        reply.push_back(0x00);
        break;
    default:
        // The request's own bytes answer it for every rule the host applies (command,
        // sub-command, the bytes that tell requests apart, the length for 03 04).
        reply = request;
        reply[3] = kReplyFlags;
        break;
    }
    putLength(reply);
    return reply;
}

std::vector<uint8_t> NpaPrinterEngine::alertPacket() {
    ++alertNumber_;
    return {kStart, 0x00, 0x06, kReplyFlags, 0xF0, 0x01,
            static_cast<uint8_t>(alertNumber_ >> 8), static_cast<uint8_t>(alertNumber_ & 0xFF), 0x00};
}

bool NpaPrinterEngine::queue(uint64_t dueMs, std::vector<uint8_t> bytes, const std::string& what) {
    if (bytes.empty()) return false;
    if (outboxBytes_ + bytes.size() > kMaxPendingOutput) {
        ++droppedWrites_;
        return false;
    }
    outboxBytes_ += bytes.size();
    NpaPrinterWrite write;
    write.dueMs = dueMs;
    write.bytes = std::move(bytes);
    write.what = what;
    outbox_.emplace(std::make_pair(dueMs, nextSequence_++), std::move(write));
    return true;
}

bool NpaPrinterEngine::emitAlert(uint64_t nowMs) {
    if (silent_ || !queue(nowMs, alertPacket(), "alert")) return false;
    ++alertsEmitted_;
    return true;
}

bool NpaPrinterEngine::emitBytes(const std::vector<uint8_t>& bytes, uint64_t nowMs, const std::string& what) {
    if (silent_ || bytes.empty()) return false;
    return queue(nowMs, bytes, what);
}

void NpaPrinterEngine::runAlertTimer(uint64_t nowMs) {
    if (alertEveryMs_ == 0 || nowMs < nextAlertMs_) return;
    // One alert per tick that is due; a caller that slept through several ticks gets one, not a
    // burst of stale ones.
    nextAlertMs_ = nowMs + alertEveryMs_;
    if (alertOnlyWhenRegistered_ && !isRegistered()) return;
    emitAlert(nowMs);
}

bool NpaPrinterEngine::nextDue(uint64_t& dueMs) const {
    bool any = false;
    if (!outbox_.empty()) {
        dueMs = outbox_.begin()->first.first;
        any = true;
    }
    if (alertEveryMs_ != 0 && (!any || nextAlertMs_ < dueMs)) {
        dueMs = nextAlertMs_;
        any = true;
    }
    return any;
}

bool NpaPrinterEngine::takeDue(uint64_t nowMs, NpaPrinterWrite& write) {
    runAlertTimer(nowMs);
    if (outbox_.empty() || outbox_.begin()->first.first > nowMs) return false;
    write = std::move(outbox_.begin()->second);
    outbox_.erase(outbox_.begin());
    outboxBytes_ -= write.bytes.size();
    return true;
}

void NpaPrinterEngine::dropOutput() {
    droppedWrites_ += outbox_.size();
    outbox_.clear();
    outboxBytes_ = 0;
}

std::vector<NpaReceivedRequest> NpaPrinterEngine::requests() const {
    std::vector<NpaReceivedRequest> ordered(log_.begin() + static_cast<std::ptrdiff_t>(logStart_), log_.end());
    ordered.insert(ordered.end(), log_.begin(), log_.begin() + static_cast<std::ptrdiff_t>(logStart_));
    return ordered;
}

uint64_t NpaPrinterEngine::countOf(NpaRequestKind kind) const {
    const auto found = counts_.find(kind);
    return found != counts_.end() ? found->second : 0;
}

std::vector<NpaRegistration> NpaPrinterEngine::registrations() const {
    std::vector<NpaRegistration> result;
    for (const auto& entry : registrations_) result.push_back({entry.first, entry.second});
    return result;
}

uint32_t NpaPrinterEngine::registeredAlertMask() const {
    uint32_t mask = 0;
    for (const MaskBit& bit : kMaskBits) {
        const auto found = registrations_.find(bit.kind);
        if (found != registrations_.end() && (at(found->second, bit.offset) & bit.value) != 0) mask |= 1u << bit.bit;
    }
    return mask;
}

uint8_t NpaPrinterEngine::registeredLanguage() const {
    const auto found = registrations_.find(NpaRequestKind::RegisterForQuorvelExtendedAlertsWithLanguageId);
    return found != registrations_.end() ? at(found->second, 17) : 0;
}
