#include "tools/simulator/NpaPrinterEngine.h"

#include "interpreters/npa/NpaCommand.h"
#include "tests/interpreters/npa/NpaTestBytes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The plug-in's request templates.
const char* const kQueryAll = "A5 00 05 50 E0 81 00 FF";
const char* const kStartNpaMode = "A5 00 10 80 A4 5B A4 5B 10 EF A4 5B 11 EE 00 FF 13 EC 2E";
const char* const kDcSummary = "A5 00 03 50 01 00";
const char* const kStartJob = "A5 00 06 50 05 00 00 00 00";
const char* const kRegisterStatusBit0 = "A5 00 06 50 03 03 00 08 00";

std::vector<NpaReceivedRequest> Feed(NpaPrinterEngine& engine, const Bytes& bytes, uint64_t now = 0) {
    return engine.feed(bytes.data(), bytes.size(), now);
}

// Everything due by now, in order.
std::vector<NpaPrinterWrite> Drain(NpaPrinterEngine& engine, uint64_t now) {
    std::vector<NpaPrinterWrite> writes;
    NpaPrinterWrite write;
    while (engine.takeDue(now, write)) writes.push_back(write);
    return writes;
}

bool Answers(const Bytes& request, const Bytes& reply) {
    const NpaCommand command(request.data(), static_cast<uint32_t>(request.size()));
    return command.IsReplyTo(Data(reply.data(), static_cast<uint32_t>(reply.size())));
}

// The reply to one request fed to a fresh engine with default behaviour.
Bytes ReplyTo(const Bytes& request) {
    NpaPrinterEngine engine;
    Feed(engine, request);
    const auto writes = Drain(engine, 0);
    if (writes.size() != 1) return {};
    return writes[0].bytes;
}

uint16_t Be16(const Bytes& b, size_t at) { return static_cast<uint16_t>((b.at(at) << 8) | b.at(at + 1)); }

}  // namespace

// Each request the plug-in sends gets its kind and a reply with the fields its decoder reads.
TEST(NpaPrinterEngine, DefaultRepliesAnswerEveryRequestKind) {
    struct Case {
        const char* request;
        NpaRequestKind kind;
        const char* reply;  // exact bytes, or null when checked below
    };
    const Case cases[] = {
        {kQueryAll, NpaRequestKind::QueryAll, "A5 00 07 40 E0 81 00 FF 00 00"},
        {kDcSummary, NpaRequestKind::DcSummary, nullptr},
        {"A5 00 0B 50 E0 B2 02 00 00 01 00 01 00 0F", NpaRequestKind::GetPrinterLanguage, nullptr},
        {"A5 00 08 50 E0 D7 00 06 18 06 00", NpaRequestKind::QueryAdapterVariables, "A5 00 08 40 E0 D7 00 06 00 01 01"},
        {kStartJob, NpaRequestKind::StartJob, "A5 00 06 40 05 00 00 00 01"},
        {"A5 00 06 50 05 01 00 23 45", NpaRequestKind::EndJob, "A5 00 06 40 05 01 00 23 45"},
        {"A5 00 06 50 E0 02 00 07 00", NpaRequestKind::NamePrintJob, "A5 00 06 40 E0 02 00 07 00"},
        {"A5 00 0E 50 E0 81 00 01 00 01 05 14 04 0A 0B 0C 0D", NpaRequestKind::SetJobId,
         "A5 00 0E 40 E0 81 00 01 00 01 05 14 04 0A 0B 0C 0D"},
        {"A5 00 0D 50 E0 84 00 01 00 07 00 00 00 00 00 00", NpaRequestKind::SetLastDate,
         "A5 00 0D 40 E0 84 00 01 00 07 00 00 00 00 00 00"},
        {"A5 00 0B 50 E0 82 02 03 00 04 27 D8 02 00", NpaRequestKind::AioLock, "A5 00 06 40 E0 82 02 03 00"},
        {"A5 00 0B 50 E0 82 02 03 04 04 27 D8 02 00", NpaRequestKind::AioSwathLock, "A5 00 06 40 E0 82 02 03 00"},
        {"A5 00 05 50 E0 82 02 01", NpaRequestKind::AioLegacyLock, "A5 00 06 40 E0 82 02 01 00"},
        {"A5 00 05 50 E0 82 02 02", NpaRequestKind::AioUnlock, "A5 00 06 40 E0 82 02 02 00"},
        {kRegisterStatusBit0, NpaRequestKind::RegisterForDeviceStatusAlerts, "A5 00 06 40 03 03 00 08 00"},
        {"A5 00 06 50 E0 73 01 01 10", NpaRequestKind::RegisterForQuorvelExtendedAlerts, "A5 00 06 40 E0 73 01 01 10"},
        {"A5 00 0F 50 E0 73 07 08 01 00 00 00 00 00 00 00 01 09", NpaRequestKind::RegisterForQuorvelExtendedAlertsWithLanguageId,
         "A5 00 0F 40 E0 73 07 08 01 00 00 00 00 00 00 00 01 09"},
        {"A5 00 04 50 E0 03 01", NpaRequestKind::RegisterForQuorvelExtensionAlerts, "A5 00 04 40 E0 03 01"},
        {"A5 00 05 50 E0 E1 03 01", NpaRequestKind::RegisterForPanelAlerts, "A5 00 05 40 E0 E1 03 01"},
        {"A5 00 06 50 03 04 01 02 03", NpaRequestKind::Unknown, "A5 00 06 40 03 04 01 02 03"},
        {"A5 00 04 50 42 07 09", NpaRequestKind::Unknown, "A5 00 04 40 42 07 09"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        const Bytes request = Hex(c.request);
        EXPECT_EQ(classifyNpaRequest(request), c.kind);
        const Bytes reply = ReplyTo(request);
        if (c.reply != nullptr) {
            EXPECT_EQ(reply, Hex(c.reply));
        }
        ASSERT_GE(reply.size(), 5u);
        EXPECT_EQ(Be16(reply, 1) + 3u, reply.size());
        EXPECT_TRUE(Answers(request, reply));
    }
}

TEST(NpaPrinterEngine, DeviceSummaryCarriesRevisionPacketSizeAndSerialNumber) {
    NpaPrinterIdentity identity;
    identity.npaRevision[0] = 0x02;
    identity.npaRevision[1] = 0x05;
    identity.npaRevision[2] = 0x07;
    identity.maxPacketSize = 0x1234;
    identity.serialNumber = "XY-42";
    NpaPrinterEngine engine(identity);
    Feed(engine, Hex(kDcSummary));
    const auto writes = Drain(engine, 0);
    ASSERT_EQ(writes.size(), 1u);
    const Bytes& reply = writes[0].bytes;
    EXPECT_EQ(Bytes(reply.begin() + 6, reply.begin() + 9), Hex("02 05 07"));
    EXPECT_EQ(Be16(reply, 29), 0x1234);
    // Three length-prefixed fields from byte 39: manufacturer, model, serial (zero-terminated).
    size_t at = 39;
    std::vector<std::string> fields;
    while (fields.size() < 3 && at < reply.size()) {
        const size_t n = reply[at];
        ASSERT_LE(at + 1 + n, reply.size());
        fields.emplace_back(reply.begin() + static_cast<std::ptrdiff_t>(at + 1), reply.begin() + static_cast<std::ptrdiff_t>(at + 1 + n));
        at += 1 + n;
    }
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[0], "Quorvel");
    EXPECT_EQ(fields[1], "Q100 Series");
    EXPECT_EQ(fields[2], std::string("XY-42", 5) + '\0');
    EXPECT_EQ(at, reply.size());
}

TEST(NpaPrinterEngine, LanguageJobIdsAndAdapterVariables) {
    NpaPrinterIdentity identity;
    identity.printerLanguage = 0x0F;
    identity.firstJobId = 0xFFFF;
    NpaPrinterEngine engine(identity);
    Feed(engine, Hex("A5 00 0B 50 E0 B2 02 00 00 01 00 01 00 0F"));
    Feed(engine, Hex(kStartJob));
    Feed(engine, Hex(kStartJob));
    // All seven variables a status tool reads, one the printer lacks (6, 99), and 24 after it is set.
    Feed(engine, Hex("A5 00 14 50 E0 D7 00 06 00 06 22 06 16 06 0C 06 15 06 21 06 44 06 63"));
    engine.setAdapterVariable(6, 24, {0xAB, 0xCD});
    Feed(engine, Hex("A5 00 06 50 E0 D7 00 06 18"));
    const auto writes = Drain(engine, 0);
    ASSERT_EQ(writes.size(), 5u);
    ASSERT_EQ(writes[0].bytes.size(), 24u);
    EXPECT_EQ(writes[0].bytes[23], 0x0F);
    EXPECT_EQ(Be16(writes[1].bytes, 7), 0xFFFF);
    EXPECT_EQ(Be16(writes[2].bytes, 7), 0x0001);  // 0 is skipped when the id wraps

    // Entries from byte 7: component, id, length, value.
    std::vector<int> ids;
    const Bytes& vars = writes[3].bytes;
    size_t at = 7;
    while (at + 3 <= vars.size()) {
        EXPECT_EQ(vars[at], 6);
        ids.push_back(vars[at + 1]);
        if (vars[at + 1] == 34) {
            EXPECT_EQ(Bytes(vars.begin() + static_cast<std::ptrdiff_t>(at + 3), vars.begin() + static_cast<std::ptrdiff_t>(at + 7)),
                      Hex("51 00 31 00"));  // "Q1" in UTF-16LE
        }
        at += 3 + vars[at + 2];
    }
    EXPECT_EQ(at, vars.size());
    EXPECT_EQ(ids, (std::vector<int>{0, 34, 22, 12, 21, 33, 68}));
    EXPECT_EQ(writes[4].bytes, Hex("A5 00 09 40 E0 D7 00 06 18 02 AB CD"));
}

TEST(NpaPrinterEngine, StartNpaModeAndRequestsWithoutReplyBitGetNoReply) {
    NpaPrinterEngine engine;
    const auto requests = Feed(engine, Hex(std::string(kStartNpaMode) + " A5 00 05 40 E0 81 00 FF"));
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].kind, NpaRequestKind::StartNpaMode);
    EXPECT_EQ(requests[0].bytes, Hex(kStartNpaMode));
    EXPECT_EQ(engine.countOf(NpaRequestKind::StartNpaMode), 1u);
    EXPECT_TRUE(Drain(engine, 100000).empty());
}

// The same stream in one piece, byte by byte, or in random chunks yields the same requests and the
// same replies.
TEST(NpaPrinterEngine, ChunkingOfTheInputDoesNotMatter) {
    Bytes stream;
    for (const char* hex : {kStartNpaMode, kQueryAll, kDcSummary, kRegisterStatusBit0, kStartJob,
                            "A5 00 06 70 E0 81 01 02 03", "A5 00 04 50 E0 81 04"}) {
        const Bytes b = Hex(hex);
        stream.insert(stream.end(), b.begin(), b.end());
    }
    auto run = [&](const std::vector<size_t>& chunks) {
        NpaPrinterEngine engine;
        size_t at = 0;
        for (size_t n : chunks) {
            engine.feed(stream.data() + at, n, 0);
            at += n;
        }
        std::vector<Bytes> out;
        for (const auto& r : engine.requests()) out.push_back(r.bytes);
        for (const auto& w : Drain(engine, 0)) out.push_back(w.bytes);
        return out;
    };
    const auto whole = run({stream.size()});
    ASSERT_EQ(whole.size(), 6u + 5u);
    EXPECT_EQ(whole[5], Hex("A5 00 08 50 E0 81 01 02 03 81 04"));  // the continued request, joined
    EXPECT_EQ(run(std::vector<size_t>(stream.size(), 1)), whole);
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<size_t> chunks;
        for (size_t left = stream.size(); left > 0;) {
            const size_t n = std::min<size_t>(left, 1 + rng() % 13);
            chunks.push_back(n);
            left -= n;
        }
        EXPECT_EQ(run(chunks), whole) << "round " << round;
    }
}

TEST(NpaPrinterEngine, SkipsJunkAndIgnoresPacketsWithoutACommandByte) {
    NpaPrinterEngine engine;
    const auto requests = Feed(engine, Hex("00 11 22 A5 00 00 A5 00 01 50 A5 00 05 50 E0 81 00 FF"));
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].kind, NpaRequestKind::Malformed);
    EXPECT_EQ(requests[1].kind, NpaRequestKind::Malformed);
    EXPECT_EQ(requests[2].kind, NpaRequestKind::QueryAll);
    EXPECT_EQ(engine.discardedInputBytes(), 3u);
    const auto writes = Drain(engine, 0);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_TRUE(Answers(Hex(kQueryAll), writes[0].bytes));
    // A partial request waits; a reset of the input drops it.
    Feed(engine, Hex("A5 00 05 50 E0"));
    engine.resetInput();
    EXPECT_EQ(Feed(engine, Hex(kDcSummary)).size(), 1u);
    EXPECT_EQ(engine.totalRequests(), 4u);
}

TEST(NpaPrinterEngine, EndlessContinuedChainIsDroppedAndTheStreamRecovers) {
    NpaPrinterEngine engine;
    Bytes chain;
    for (int i = 0; i < 60000; ++i) {
        const Bytes piece = Hex("A5 00 02 70 E0");  // continued, no data: joins for ever
        chain.insert(chain.end(), piece.begin(), piece.end());
    }
    EXPECT_TRUE(Feed(engine, chain).empty());
    EXPECT_GE(engine.discardedInputBytes(), NpaPrinterEngine::kMaxPendingInput);
    EXPECT_EQ(Feed(engine, Hex(kQueryAll)).size(), 1u);
    EXPECT_EQ(Drain(engine, 0).size(), 1u);
}

TEST(NpaPrinterEngine, RandomInputNeverCrashesAndStaysBounded) {
    std::mt19937 rng(12345);
    NpaPrinterEngine engine;
    for (int round = 0; round < 3000; ++round) {
        Bytes junk(1 + rng() % 300);
        for (auto& b : junk) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0xA5 : rng());
        Feed(engine, junk, static_cast<uint64_t>(round));
        NpaPrinterWrite write;
        while (engine.takeDue(static_cast<uint64_t>(round), write)) {
            EXPECT_GE(write.bytes.size(), 5u);
        }
    }
    EXPECT_LE(engine.requests().size(), NpaPrinterEngine::kMaxLoggedRequests);
}

TEST(NpaPrinterEngine, RequestLogAndOutputAreBounded) {
    NpaPrinterEngine engine;
    Bytes many;
    for (size_t i = 0; i < NpaPrinterEngine::kMaxLoggedRequests + 76; ++i) {
        const Bytes q = Hex(kQueryAll);
        many.insert(many.end(), q.begin(), q.end());
    }
    Feed(engine, many);
    EXPECT_EQ(engine.countOf(NpaRequestKind::QueryAll), NpaPrinterEngine::kMaxLoggedRequests + 76);
    EXPECT_EQ(engine.requests().size(), NpaPrinterEngine::kMaxLoggedRequests);

    // Nobody takes the output: echoes of large requests stop being queued at the bound.
    NpaPrinterEngine flooded;
    Bytes big(65538, 0x11);
    big[0] = 0xA5;
    big[1] = 0xFF;
    big[2] = 0xFF;
    big[3] = 0x50;
    big[4] = 0x42;
    for (int i = 0; i < 80; ++i) Feed(flooded, big);
    EXPECT_GT(flooded.droppedWrites(), 0u);
    size_t queued = 0;
    for (const auto& w : Drain(flooded, 0)) queued += w.bytes.size();
    EXPECT_LE(queued, NpaPrinterEngine::kMaxPendingOutput);
    EXPECT_GT(queued, NpaPrinterEngine::kMaxPendingOutput - 65538);
}

TEST(NpaPrinterEngine, DelayAcknowledgesAndNeverReply) {
    NpaPrinterEngine engine;
    NpaReplyBehaviour slow;
    slow.delayMs = 500;
    slow.acks = 3;
    slow.ackIntervalMs = 200;  // acks at 200, 400, 600; the reply waits for the last one
    engine.setBehaviour(NpaRequestKind::QueryAll, slow);
    NpaReplyBehaviour mute;
    mute.neverReply = true;
    engine.setBehaviour(NpaRequestKind::DcSummary, mute);

    Feed(engine, Hex(kQueryAll), 1000);
    Feed(engine, Hex(kDcSummary), 1000);
    Feed(engine, Hex(kStartJob), 1000);  // default behaviour: at once
    uint64_t due = 0;
    ASSERT_TRUE(engine.nextDue(due));
    EXPECT_EQ(due, 1000u);
    auto writes = Drain(engine, 1199);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].what, "reply to startJob");
    ASSERT_TRUE(engine.nextDue(due));
    EXPECT_EQ(due, 1200u);
    const Bytes ack = Hex("A5 00 05 40 FF 80 00 00");
    for (uint64_t t : {1200u, 1400u}) {
        writes = Drain(engine, t);
        ASSERT_EQ(writes.size(), 1u) << t;
        EXPECT_EQ(writes[0].bytes, ack);
    }
    writes = Drain(engine, 1600);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].bytes, ack);
    EXPECT_EQ(writes[1].bytes, Hex("A5 00 07 40 E0 81 00 FF 00 00"));
    EXPECT_FALSE(engine.nextDue(due));  // dcSummary never answered
    EXPECT_EQ(engine.countOf(NpaRequestKind::DcSummary), 1u);
}

TEST(NpaPrinterEngine, JoinSplitAndFragments) {
    const Bytes reply = Hex("A5 00 07 40 E0 81 00 FF 00 00");
    const Bytes ack = Hex("A5 00 05 40 FF 80 00 00");
    auto writesFor = [&](const NpaReplyBehaviour& b) {
        NpaPrinterEngine engine;
        engine.setDefaultBehaviour(b);
        Feed(engine, Hex(kQueryAll));
        std::vector<Bytes> out;
        for (const auto& w : Drain(engine, 0)) out.push_back(w.bytes);
        return out;
    };
    NpaReplyBehaviour b;
    b.acks = 2;
    b.join = true;
    Bytes joined = ack;
    joined.insert(joined.end(), ack.begin(), ack.end());
    joined.insert(joined.end(), reply.begin(), reply.end());
    EXPECT_EQ(writesFor(b), std::vector<Bytes>{joined});

    b = NpaReplyBehaviour();
    b.splitAt = 3;
    EXPECT_EQ(writesFor(b), (std::vector<Bytes>{Bytes(reply.begin(), reply.begin() + 3), Bytes(reply.begin() + 3, reply.end())}));
    b.stopAtSplit = true;  // the rest of the reply never comes
    EXPECT_EQ(writesFor(b), std::vector<Bytes>{Bytes(reply.begin(), reply.begin() + 3)});
    b.stopAtSplit = false;
    b.splitAt = 10;  // at or past the end: nothing to cut
    EXPECT_EQ(writesFor(b), std::vector<Bytes>{reply});
    b.acks = 1;
    b.join = true;
    b.splitAt = 10;  // joined: counted from the start of the write, so inside the reply
    Bytes oneAck = ack;
    oneAck.insert(oneAck.end(), reply.begin(), reply.end());
    EXPECT_EQ(writesFor(b), (std::vector<Bytes>{Bytes(oneAck.begin(), oneAck.begin() + 10), Bytes(oneAck.begin() + 10, oneAck.end())}));

    b = NpaReplyBehaviour();
    b.fragmentSize = 2;
    const auto pieces = writesFor(b);
    ASSERT_EQ(pieces.size(), 3u);
    Data stream;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const NpaCommand piece(pieces[i].data(), static_cast<uint32_t>(pieces[i].size()));
        EXPECT_TRUE(piece.IsWellFormed());
        EXPECT_EQ(piece.IsContinued(), i + 1 < pieces.size());
        stream.Append(pieces[i].data(), static_cast<uint32_t>(pieces[i].size()));
    }
    Data joinedBack;
    int32_t consumed = 0;
    ASSERT_EQ(ReassembleNpaPacket(stream, joinedBack, consumed), 0u);
    EXPECT_EQ(Remaining(joinedBack), reply);
    EXPECT_EQ(static_cast<uint32_t>(consumed), stream.Size());
}

TEST(NpaPrinterEngine, RegistrationsAreKeptRefusedWithdrawnAndForgotten) {
    NpaPrinterEngine engine;
    EXPECT_FALSE(engine.isRegistered());
    Feed(engine, Hex(kRegisterStatusBit0));
    Feed(engine, Hex("A5 00 06 50 E0 73 01 01 10"));  // bit 20
    Feed(engine, Hex("A5 00 04 50 E0 03 81"));        // bits 10 and 17
    Feed(engine, Hex("A5 00 0F 50 E0 73 07 08 00 00 00 00 00 00 00 00 01 09"));  // no bit: nothing kept
    EXPECT_TRUE(engine.isRegistered());
    EXPECT_EQ(engine.registeredAlertMask(), 0x1u | 0x100000u | 0x400u | 0x20000u);
    const auto regs = engine.registrations();
    ASSERT_EQ(regs.size(), 3u);
    EXPECT_EQ(regs[0].kind, NpaRequestKind::RegisterForDeviceStatusAlerts);
    EXPECT_EQ(regs[0].packet, Hex(kRegisterStatusBit0));

    Feed(engine, Hex("A5 00 0F 50 E0 73 07 08 00 11 07 00 00 00 00 00 01 09"));
    EXPECT_EQ(engine.registeredAlertMask() & 0x3E00000u, 0x3E00000u);
    EXPECT_EQ(engine.registeredLanguage(), 0x09);
    Feed(engine, Hex("A5 00 06 50 03 03 00 00 00"));  // the client withdrew every status bit
    EXPECT_EQ(engine.registeredAlertMask() & 0x3FFu, 0u);

    NpaReplyBehaviour refuse;
    refuse.refuseRegistration = true;
    engine.setBehaviour(NpaRequestKind::RegisterForPanelAlerts, refuse);
    Drain(engine, 0);
    Feed(engine, Hex("A5 00 05 50 E0 E1 03 01"));
    const auto writes = Drain(engine, 0);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].bytes, Hex("A5 00 05 C0 E0 E1 03 01"));  // flags bit 7: refused
    EXPECT_TRUE(Answers(Hex("A5 00 05 50 E0 E1 03 01"), writes[0].bytes));
    EXPECT_EQ(engine.registeredAlertMask() & (1u << 19), 0u);

    engine.forgetRegistrations();
    EXPECT_FALSE(engine.isRegistered());
    EXPECT_EQ(engine.registeredAlertMask(), 0u);
    EXPECT_EQ(engine.countOf(NpaRequestKind::RegisterForDeviceStatusAlerts), 2u);  // the log stays
}

TEST(NpaPrinterEngine, AlertsOnDemandOnTimerAndBeforeAReply) {
    NpaPrinterEngine engine;
    ASSERT_TRUE(engine.emitAlert(0));
    ASSERT_TRUE(engine.emitAlert(0));
    auto writes = Drain(engine, 0);
    ASSERT_EQ(writes.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const NpaCommand alert(writes[i].bytes.data(), static_cast<uint32_t>(writes[i].bytes.size()));
        EXPECT_TRUE(alert.IsControlPacket());
        EXPECT_TRUE(alert.IsComplete());
        EXPECT_FALSE(alert.IsAcknowledge(Data(writes[i].bytes.data(), 8)));
        EXPECT_EQ(Be16(writes[i].bytes, 6), i + 1);
    }

    // The timer waits for a registration, then sends one alert per tick, never a catch-up burst.
    engine.setAlertTimer(1000, true, 0);
    EXPECT_TRUE(Drain(engine, 1000).empty());
    Feed(engine, Hex(kRegisterStatusBit0), 1500);
    Drain(engine, 1500);
    EXPECT_TRUE(Drain(engine, 1999).empty());
    EXPECT_EQ(Drain(engine, 2000).size(), 1u);
    EXPECT_EQ(Drain(engine, 9000).size(), 1u);
    uint64_t due = 0;
    ASSERT_TRUE(engine.nextDue(due));
    EXPECT_EQ(due, 10000u);
    engine.setAlertTimer(0, true, 9000);
    EXPECT_FALSE(engine.nextDue(due));

    // An alert due now overtakes a reply that is late.
    NpaReplyBehaviour late;
    late.delayMs = 300;
    late.alertBeforeReply = true;
    engine.setDefaultBehaviour(late);
    Feed(engine, Hex(kQueryAll), 10000);
    engine.emitAlert(10100);
    writes = Drain(engine, 10300);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].what, "alert");
    EXPECT_EQ(writes[1].bytes[4], 0xF0);  // the scripted alert just before the reply
    EXPECT_EQ(writes[2].bytes, Hex("A5 00 07 40 E0 81 00 FF 00 00"));
}

TEST(NpaPrinterEngine, SilentPrinterRecordsButWritesNothing) {
    NpaPrinterEngine engine;
    engine.setSilent(true);
    engine.setAlertTimer(10, false, 0);
    Feed(engine, Hex(kQueryAll));
    Feed(engine, Hex(kRegisterStatusBit0));
    EXPECT_FALSE(engine.emitAlert(0));
    EXPECT_FALSE(engine.emitBytes(Hex("A5 00 02 40 F0"), 0));
    EXPECT_TRUE(Drain(engine, 1000).empty());
    EXPECT_EQ(engine.totalRequests(), 2u);
    EXPECT_FALSE(engine.isRegistered());
    engine.setSilent(false);
    Feed(engine, Hex(kQueryAll), 1000);
    EXPECT_EQ(Drain(engine, 1000).size(), 1u);
}

TEST(NpaPrinterEngine, DroppedOutputIsCounted) {
    NpaPrinterEngine engine;
    NpaReplyBehaviour b;
    b.delayMs = 50;
    engine.setDefaultBehaviour(b);
    Feed(engine, Hex(kQueryAll));
    engine.emitAlert(0);
    EXPECT_EQ(engine.pendingWrites(), 2u);
    engine.dropOutput();
    EXPECT_EQ(engine.droppedWrites(), 2u);
    EXPECT_TRUE(Drain(engine, 1000).empty());
}

TEST(NpaPrinterEngine, KindNamesRoundTrip) {
    for (int k = 0; k <= static_cast<int>(NpaRequestKind::Malformed); ++k) {
        const auto kind = static_cast<NpaRequestKind>(k);
        NpaRequestKind back = NpaRequestKind::Malformed;
        ASSERT_TRUE(npaRequestKindFromName(npaRequestKindName(kind), back)) << k;
        EXPECT_EQ(back, kind);
    }
    NpaRequestKind ignored;
    EXPECT_FALSE(npaRequestKindFromName("QueryAll", ignored));
}
