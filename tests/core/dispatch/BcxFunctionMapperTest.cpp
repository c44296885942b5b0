// The eleven printer functions byte for byte, over sessions on the simulated printer's engine:
// request parameters, reply layouts, the ids that get no reply, and malformed requests.
#include "core/dispatch/BcxFunctionMapper.h"
#include "core/ipc/IpcMessageFrame.h"
#include "tests/core/ipc/IpcTestBytes.h"
#include "tests/core/sessions/SessionTestSupport.h"
#include "tests/core/usb/port/NpaCommandBytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <thread>

namespace {

constexpr uint32_t kHandle = 0x2001;

std::string hex32(uint32_t v) {
    char text[12];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}
std::string hex64(uint64_t v) { return hex32(static_cast<uint32_t>(v >> 32)) + hex32(static_cast<uint32_t>(v)); }

// Parameters as they travel: direction, type, 8-byte length, value.
Bytes id(uint16_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
Bytes L(uint32_t v, uint8_t direction = 1) { return Hex("0" + std::to_string(direction) + "01" + hex64(4) + hex32(v)); }
Bytes S(const std::string& s, uint8_t type = 9) {
    Bytes b = Hex("01" + std::string(type == 9 ? "09" : "0A") + hex64(s.size() + 1));
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
    return b;
}
Bytes B(const Bytes& v, uint8_t direction = 1) {
    Bytes b = Hex("0" + std::to_string(direction) + "0A" + hex64(v.size()));
    b.insert(b.end(), v.begin(), v.end());
    return b;
}
Bytes RC(uint32_t v) { return L(v, 4); }
Bytes Out(uint32_t v) { return L(v, 2); }

class BcxFunctionMapperTest : public ::testing::Test {
protected:
    void TearDown() override { table_.destroyAll(); }

    // The reply payload of a request from alice (or caller); dispatch's code in rc.
    Bytes call(const Bytes& request, int32_t* rc = nullptr, const CallerIdentity& caller = alice()) {
        Data in = ToData(request);
        Data out;
        const int32_t code = mapper_.dispatch(caller, in, out);
        if (rc != nullptr) *rc = code;
        return FromData(out);
    }
    // The return code of caller's request (-1 when the reply has none).
    int32_t codeAs(const CallerIdentity& caller, const Bytes& request) {
        return ReplyCode(ToData(call(request, nullptr, caller)));
    }
    uint32_t clientIdAs(const CallerIdentity& caller) {
        const Bytes reply = call(Concat({id(2), S("client")}), nullptr, caller);
        IpcParameterReader in(reply.data() + 16, reply.size() - 16);
        uint32_t value = 0;
        EXPECT_EQ(in.longValue(value, IpcParameter::kDirectionOut), 0);
        return value;
    }
    static Bytes registration(uint32_t client, uint32_t handle, const std::string& pipe) {
        return Concat({id(35), L(client), L(handle), L(1), S("<PIPENAME>" + pipe + "</PIPENAME>")});
    }
    Bytes queryAll() {
        return npaCommandBytes(lookup_, "queryAll");
    }
    void openUsb001() { ASSERT_EQ(call(Concat({id(101), L(7), S("USB001"), L(kHandle)})), Concat({id(101), RC(0)})); }

    RecordingLookup lookup_;
    EnginePortFactory factory_{lookup_};
    AlertCallbackRegistry callbacks_;
    SessionServices services_{lookup_, callbacks_, &factory_, nullptr};
    PrinterTable table_;
    PrinterOperations operations_{services_, table_};
    BcxFunctionMapper mapper_{operations_, callbacks_};
};

}  // namespace

TEST_F(BcxFunctionMapperTest, OpenPrinterReplyIsTheDocumentedFrame) {
    Data in = ToData(Concat({id(34), L(1), L(kHandle)}));
    Data reply;
    ASSERT_EQ(mapper_.dispatch(alice(), in, reply), 0);
    Data frame;
    ASSERT_EQ(IpcMessageFrame::encode(reply, frame), 0);
    EXPECT_EQ(FromData(frame), Hex("00 00 00 10 00 22 04 01 00 00 00 00 00 00 00 04 00 00 00 00"));
    EXPECT_NE(table_.find(kHandle), nullptr);
}

TEST_F(BcxFunctionMapperTest, SessionFunctionsByteForByte) {
    struct Case {
        const char* what;
        Bytes request;
        Bytes reply;
    };
    const Case cases[] = {
        {"open ex on a printer", Concat({id(101), L(1), S("USB001"), L(kHandle)}), Concat({id(101), RC(0)})},
        {"open ex where none is", Concat({id(101), L(1), S("USB009"), L(0x2009)}), Concat({id(101), RC(1)})},
        {"enum lower case", Concat({id(25), L(1), S("usb001")}), Concat({id(25), RC(0), Out(kHandle)})},
        {"enum seven characters", Concat({id(25), L(1), S("USB0001")}), Concat({id(25), RC(1796), Out(0)})},
        {"set timeout", Concat({id(38), L(1), L(kHandle), S("SET BIDI TIMEOUT"), L(700)}), Concat({id(38), RC(0)})},
        {"set timeout any case", Concat({id(38), L(1), L(kHandle), S("set Bidi timeout"), L(600)}),
         Concat({id(38), RC(0)})},
        {"timeout above the bound", Concat({id(38), L(1), L(kHandle), S("SET BIDI TIMEOUT"), L(120001)}),
         Concat({id(38), RC(87)})},
        {"timeout 0", Concat({id(38), L(1), L(kHandle), S("SET BIDI TIMEOUT"), L(0)}), Concat({id(38), RC(87)})},
        {"timeout at the bounds", Concat({id(38), L(1), L(kHandle), S("SET BIDI TIMEOUT"), L(120000)}),
         Concat({id(38), RC(0)})},
        {"timeout 1", Concat({id(38), L(1), L(kHandle), S("SET BIDI TIMEOUT"), L(1)}), Concat({id(38), RC(0)})},
        {"trailing blank", Concat({id(38), L(1), L(kHandle), S("SET BIDI TIMEOUT "), L(1)}), Concat({id(38), RC(50)})},
        {"timeout, no session", Concat({id(38), L(1), L(0x2002), S("SET BIDI TIMEOUT"), L(1)}), Concat({id(38), RC(6)})},
        {"language", Concat({id(39), L(1), L(kHandle), S("Set Language Id"), S("de"), L(0)}), Concat({id(39), RC(0)})},
        {"language 0x", Concat({id(39), L(1), L(kHandle), S("SET LANGUAGE ID"), S("0X0409"), L(0)}),
         Concat({id(39), RC(0)})},
        {"language eight digits", Concat({id(39), L(1), L(kHandle), S("SET LANGUAGE ID"), S("00000409"), L(0)}),
         Concat({id(39), RC(0)})},
        {"language none", Concat({id(39), L(1), L(kHandle), S("SET LANGUAGE ID"), S(""), L(0)}), Concat({id(39), RC(0)})},
        {"language a word", Concat({id(39), L(1), L(kHandle), S("SET LANGUAGE ID"), S("english"), L(0)}),
         Concat({id(39), RC(87)})},
        {"language prefix alone", Concat({id(39), L(1), L(kHandle), S("SET LANGUAGE ID"), S("0x"), L(0)}),
         Concat({id(39), RC(87)})},
        {"language nine digits", Concat({id(39), L(1), L(kHandle), S("SET LANGUAGE ID"), S("0x000000409"), L(0)}),
         Concat({id(39), RC(87)})},
        {"unknown string", Concat({id(39), L(1), L(kHandle), S("SET LANGUAGE"), S("de"), L(0)}),
         Concat({id(39), RC(50)})},
        {"language, no session", Concat({id(39), L(1), L(0x2002), S("SET LANGUAGE ID"), S("de"), L(0)}),
         Concat({id(39), RC(6)})},
        {"unregister, never registered", Concat({id(42), L(5), L(kHandle)}), Concat({id(42), RC(1)})},
        {"unregister, no session", Concat({id(42), L(5), L(0x2002)}), Concat({id(42), RC(6)})},
        {"open again", Concat({id(34), L(1), L(kHandle)}), Concat({id(34), RC(0)})},
        {"close", Concat({id(21), L(1), L(kHandle)}), Concat({id(21), RC(0)})},
        {"last close", Concat({id(21), L(1), L(kHandle)}), Concat({id(21), RC(0)})},
        {"close, no session", Concat({id(21), L(1), L(kHandle)}), Concat({id(21), RC(6)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int32_t rc = -1;
        EXPECT_EQ(call(c.request, &rc), c.reply);
        EXPECT_EQ(rc, 0);
        if (std::string(c.what) == "set timeout any case") {
            EXPECT_EQ(table_.find(kHandle)->replyTimeout(), 600u);
        }
        if (std::string(c.what) == "language") {
            EXPECT_TRUE(table_.find(kHandle)->languageChanged());
        }
    }
    EXPECT_EQ(table_.size(), 0u);
}

TEST_F(BcxFunctionMapperTest, ExchangesCarryTheRequestedSizeAndTheReturnedLength) {
    openUsb001();
    const Bytes query = queryAll();
    const Bytes answer = NpaPrinterEngine().defaultReply(NpaRequestKind::QueryAll, query);
    ASSERT_GT(answer.size(), 4u);
    const uint32_t n = static_cast<uint32_t>(answer.size());
    Bytes padded = answer;
    padded.resize(n + 40, 0);  // zeros past the printer's bytes
    // The request length may be shorter than the bytes sent: only that many go to the printer.
    Bytes longer = query;
    longer.push_back(0xEE);

    const uint32_t q = static_cast<uint32_t>(query.size());
    const Bytes jobStart = Hex("A5 00 03 50 05 00");
    const Bytes npaMode = Hex("A5 00 10 80 A4 5B A4 5B 10 EF A4 5B 11 EE 00 FF 13 EC 2E");
    const Bytes zeros(8, 0);
    struct Case {
        const char* what;
        uint16_t function;
        uint32_t handle;
        Bytes request;
        uint32_t length;
        uint32_t size;
        Bytes reply;
    };
    // Every answer but the malformed requests' carries the array (when there is one) and the
    // returned length, failures included.
    const Case cases[] = {
        {"npa", 26, kHandle, longer, q, n + 40, Concat({id(26), RC(0), B(padded, 2), Out(n)})},
        {"bidi", 27, kHandle, query, q, n + 40, Concat({id(27), RC(0), B(padded, 2), Out(n)})},
        {"npa size 0: 87, no array", 26, kHandle, query, q, 0, Concat({id(26), RC(87), Out(0)})},
        {"bidi size 0: 122, empty array", 27, kHandle, query, q, 0, Concat({id(27), RC(122), B({}, 2), Out(n)})},
        {"too small: zeros and the needed length", 26, kHandle, query, q, 4, Concat({id(26), RC(122), B(Bytes(4, 0), 2), Out(n)})},
        {"refused packet: zeros", 26, kHandle, jobStart, 6, 8, Concat({id(26), RC(5), B(zeros, 2), Out(0)})},
        {"no session: zeros", 27, 0x2002, query, q, 8, Concat({id(27), RC(6), B(zeros, 2), Out(0)})},
        {"empty packet: 87 with the array", 26, kHandle, {}, 0, 8, Concat({id(26), RC(87), B(zeros, 2), Out(0)})},
        {"NPA-mode request: 0, nothing sent", 26, kHandle, npaMode, 19, 8, Concat({id(26), RC(0), B(zeros, 2), Out(0)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(call(Concat({id(c.function), L(3), L(c.handle), B(c.request), L(c.length), L(c.size)})), c.reply);
    }
}

TEST_F(BcxFunctionMapperTest, RegistrationStoresTheCallbackFirstAndRefusesNonLocalPipes) {
    openUsb001();
    const std::string pipe = "<PIPENAME>tolvex-cb-1</PIPENAME>";
    EXPECT_EQ(call(Concat({id(35), L(11), L(kHandle), L(1), S(pipe)})), Concat({id(35), RC(0)}));
    EXPECT_EQ(table_.find(kHandle)->registrationCount(), 1u);
    // No session for the handle, but the callback is recorded before the lookup.
    EXPECT_EQ(call(Concat({id(35), L(12), L(0x2002), L(1), S("<PIPENAME>cb-12</PIPENAME>")})), Concat({id(35), RC(6)}));
    CallbackRecord record;
    ASSERT_TRUE(callbacks_.find(12, record));
    EXPECT_EQ(record.endpoint, "<PIPENAME>cb-12</PIPENAME>");

    struct Case {
        const char* what;
        std::string text;
        uint32_t code;
    };
    const Case refused[] = {
        {"another host", "<HOSTNAME>printsrv</HOSTNAME><PIPENAME>cb</PIPENAME>", 123},
        {"a path", "<PIPENAME>..\\..\\C:\\x</PIPENAME>", 123},
        {"a slash", "<PIPENAME>a/b</PIPENAME>", 123},
        {"a leading backslash", "<PIPENAME>\\x</PIPENAME>", 123},
        {"no pipe", "<HOSTNAME>.</HOSTNAME>", 123},
        {"261 characters", "<PIPENAME>" + std::string(261 - 21, 'p') + "</PIPENAME>", 122},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(call(Concat({id(35), L(13), L(kHandle), L(1), S(c.text)})), Concat({id(35), RC(c.code)}));
        EXPECT_FALSE(callbacks_.find(13, record));
    }
    // 260 characters is still a callback text.
    const std::string longest = "<PIPENAME>" + std::string(260 - 21, 'p') + "</PIPENAME>";
    EXPECT_EQ(call(Concat({id(35), L(14), L(kHandle), L(2), S(longest)})), Concat({id(35), RC(0)}));
    EXPECT_EQ(call(Concat({id(42), L(14), L(kHandle)})), Concat({id(42), RC(0)}));
    EXPECT_EQ(call(Concat({id(42), L(11), L(kHandle)})), Concat({id(42), RC(0)}));
    EXPECT_EQ(table_.find(kHandle)->registrationCount(), 0u);
}

TEST_F(BcxFunctionMapperTest, ClientIdsAreConsecutiveAndNeverZero) {
    const Bytes request = Concat({id(2), S("client")});
    const Bytes first = call(request);
    const Bytes second = call(request);
    ASSERT_EQ(first.size(), 2u + 14u + 14u);
    const auto idOf = [](const Bytes& reply) {
        IpcParameterReader in(reply.data() + 16, reply.size() - 16);
        uint32_t value = 0;
        EXPECT_EQ(in.longValue(value, IpcParameter::kDirectionOut), 0);
        return value;
    };
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 16), Concat({id(2), RC(0)}));
    EXPECT_EQ(idOf(second), idOf(first) + 1);

    std::atomic<uint32_t> counter(0xFFFFFFFFu);
    EXPECT_EQ(BcxFunctionMapper::takeClientId(counter), 0xFFFFFFFFu);
    EXPECT_EQ(BcxFunctionMapper::takeClientId(counter), 1u);
    EXPECT_EQ(BcxFunctionMapper::takeClientId(counter), 2u);

    // Connections asking at once never get the same id.
    std::vector<uint32_t> ids[4];
    std::vector<std::thread> threads;
    for (auto& list : ids) {
        threads.emplace_back([&list, &counter] {
            for (int i = 0; i < 2000; ++i) list.push_back(BcxFunctionMapper::takeClientId(counter));
        });
    }
    for (auto& t : threads) t.join();
    std::set<uint32_t> distinct;
    for (const auto& list : ids) distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), 8000u);
}

TEST_F(BcxFunctionMapperTest, WrongDirectionOrTypeLeavesTheBareIdAndOtherIdsNoReply) {
    int32_t rc = -1;
    EXPECT_EQ(call(Concat({id(34), L(1, 2), L(kHandle)}), &rc), id(34));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(call(Concat({id(34), S("USB001"), L(kHandle)})), id(34));
    EXPECT_EQ(call(Concat({id(26), L(1), L(kHandle), S("x", 9), L(1), L(1)})), id(26));
    EXPECT_EQ(table_.size(), 0u);

    const struct {
        const char* what;
        Bytes request;
        int32_t code;
    } dropped[] = {
        {"empty", {}, 22},
        {"one byte", {0x00}, 1},
        {"enum printers (24)", Concat({id(24), L(1)}), 1},
        {"unused id 64", Concat({id(64), L(1)}), 1},
        {"onCallback", Concat({id(1001), S("x")}), 1},
        {"not in the table", id(0xFFFF), 1},
    };
    for (const auto& d : dropped) {
        SCOPED_TRACE(d.what);
        EXPECT_EQ(call(d.request, &rc), Bytes());
        EXPECT_EQ(rc, d.code);
    }
}

TEST_F(BcxFunctionMapperTest, MalformedRequestsAreRefusedWithACode) {
    openUsb001();
    Bytes cut = Concat({id(34), L(1), L(kHandle)});
    cut.resize(cut.size() - 2);  // ends inside the handle
    Bytes noZero = Concat({id(25), L(1), S("USB001")});
    noZero.back() = 'X';  // the string's last byte is not its zero
    Bytes overlong = Concat({id(26), L(1), L(kHandle), B(Hex("A5 00 04 00")), L(4), L(8)});
    overlong[2 + 14 + 14 + 9] = 0x40;  // the byte array claims 64 bytes that never came

    const struct {
        const char* what;
        Bytes request;
        Bytes reply;
    } cases[] = {
        {"ends inside a parameter", cut, Concat({id(34), RC(24)})},
        {"string without its zero", noZero, Concat({id(25), RC(13)})},
        {"length past the end", overlong, Concat({id(26), RC(24)})},
        {"request length above the array", Concat({id(26), L(1), L(kHandle), B(Hex("A5 00 04 00")), L(5), L(8)}),
         Concat({id(26), RC(24)})},
        {"reply size above the cap",
         Concat({id(27), L(1), L(kHandle), B(Hex("A5 00 04 00")), L(4), L(IpcMessageFrame::kMaxExchangeReplySize + 1)}),
         Concat({id(27), RC(87)})},
        {"missing last parameter", Concat({id(39), L(1), L(kHandle), S("SET LANGUAGE ID"), S("de")}),
         Concat({id(39), RC(24)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int32_t rc = -1;
        EXPECT_EQ(call(c.request, &rc), c.reply);
        EXPECT_EQ(rc, 0);
    }
    EXPECT_FALSE(table_.find(kHandle)->languageChanged());
    // Nothing of the refused exchanges reached the printer: only the NPA-mode of connects.
    EXPECT_EQ(factory_.last->writes, 0);

    // The largest reply size allowed still fits one frame.
    const Bytes reply = call(Concat({id(27), L(1), L(kHandle), B(queryAll()), L(static_cast<uint32_t>(queryAll().size())),
                                     L(IpcMessageFrame::kMaxExchangeReplySize)}));
    Data frame;
    EXPECT_EQ(IpcMessageFrame::encode(ToData(reply), frame), 0);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 16), Concat({id(27), RC(0)}));
}

// Alice opened USB001 and registered her client id; what another caller may do to that.
class TwoUsersTest : public BcxFunctionMapperTest {
protected:
    void SetUp() override {
        aliceId_ = clientIdAs(alice());
        ASSERT_EQ(codeAs(alice(), Concat({id(101), L(aliceId_), S("USB001"), L(kHandle)})), 0);
        ASSERT_EQ(codeAs(alice(), registration(aliceId_, kHandle, "alice-cb")), 0);
    }
    // Every call another user could make against alice's session and client id, with the code an
    // ordinary user gets; a privileged caller gets 0 for each.
    struct Attempt {
        const char* what;
        Bytes request;
        int32_t ordinary;
    };
    std::vector<Attempt> attempts() {
        const Bytes query = queryAll();
        const uint32_t n = static_cast<uint32_t>(query.size());
        return {
            {"replace her callback", registration(aliceId_, kHandle, "thief-cb"), 5},
            {"set the time-out", Concat({id(38), L(0), L(kHandle), S("SET BIDI TIMEOUT"), L(900)}), 6},
            {"set the language", Concat({id(39), L(0), L(kHandle), S("SET LANGUAGE ID"), S("de"), L(0)}), 6},
            {"exchange npa", Concat({id(26), L(0), L(kHandle), B(query), L(n), L(256)}), 6},
            {"exchange bidi", Concat({id(27), L(0), L(kHandle), B(query), L(n), L(256)}), 6},
            {"register an id of its own", registration(aliceId_ + 1000, kHandle, "own-cb"), 6},
            {"unregister her", Concat({id(42), L(aliceId_), L(kHandle)}), 5},
            {"close her open", Concat({id(21), L(0), L(kHandle)}), 6},
        };
    }
    uint32_t aliceId_ = 0;
};

TEST_F(TwoUsersTest, AnotherUserCanNeitherUseNorTakeAwayWhatAUserOpenedOrRegistered) {
    for (const Attempt& a : attempts()) {
        SCOPED_TRACE(a.what);
        EXPECT_EQ(codeAs(bob(), a.request), a.ordinary);
    }
    // All of alice's is intact: her open, her registration, her record and its owner.
    std::shared_ptr<Printer> session = table_.find(kHandle);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->count(), 1);
    EXPECT_EQ(session->registrationCount(), 1u);
    EXPECT_EQ(session->replyTimeout(), Printer::kDefaultTimeout);
    CallbackRecord record;
    ASSERT_TRUE(callbacks_.find(aliceId_, record));
    EXPECT_EQ(record.endpoint, "<PIPENAME>alice-cb</PIPENAME>");
    EXPECT_EQ(record.ownerSid, alice().userSid);
    // Once bob opens the printer himself he may use it, and closes only his own open.
    EXPECT_EQ(codeAs(bob(), Concat({id(34), L(0), L(kHandle)})), 0);
    EXPECT_EQ(codeAs(bob(), attempts()[3].request), 0);
    EXPECT_EQ(codeAs(bob(), Concat({id(21), L(0), L(kHandle)})), 0);
    EXPECT_EQ(codeAs(bob(), Concat({id(21), L(0), L(kHandle)})), 6);
    EXPECT_EQ(session->count(), 1);
    EXPECT_EQ(codeAs(alice(), attempts()[3].request), 0);
}

TEST_F(TwoUsersTest, AnAdministratorMayActOnAnyonesSessionAndClientId) {
    for (const Attempt& a : attempts()) {
        SCOPED_TRACE(a.what);
        EXPECT_EQ(codeAs(admin(), a.request), 0);
    }
    // The administrator took back alice's open, the last one: the session is gone.
    EXPECT_EQ(table_.find(kHandle), nullptr);
}

TEST_F(TwoUsersTest, ClientIdsAreTheirUsersFromTheMomentTheyAreHandedOut) {
    // Bob registers ids ahead of alice's next one: they are passed over, and the id alice gets
    // is hers before she has registered it.
    for (uint32_t ahead = 1; ahead <= 3; ++ahead) {
        EXPECT_EQ(codeAs(bob(), registration(aliceId_ + ahead, 0x2002, "squat")), 6);
    }
    const uint32_t next = clientIdAs(alice());
    EXPECT_EQ(next, aliceId_ + 4);
    EXPECT_EQ(codeAs(bob(), registration(next, 0x2002, "squat")), 5);
    EXPECT_EQ(codeAs(alice(), registration(next, kHandle, "alice-cb-2")), 0);
    // A caller the connection could not identify holds nothing and may do nothing.
    const CallerIdentity unknown;
    EXPECT_EQ(codeAs(unknown, Concat({id(101), L(0), S("USB001"), L(kHandle)})), 5);
    EXPECT_EQ(codeAs(unknown, registration(clientIdAs(unknown), kHandle, "x")), 5);
    EXPECT_EQ(codeAs(unknown, Concat({id(21), L(0), L(kHandle)})), 6);
}

TEST_F(BcxFunctionMapperTest, ClientTextsWithMarkupOrForeignHandlesNeverReachAPropertyText) {
    const std::string injected = "USB001</PORTNAME><DEVICEPATH>\\\\.\\pipe\\X</DEVICEPATH><PORTNAME>";
    struct Case {
        const char* what;
        Bytes request;
        int32_t code;
    };
    const Case cases[] = {
        {"an element smuggled into the port name", Concat({id(101), L(0), S(injected), L(kHandle)}), 1796},
        {"a name that is no USB port", Concat({id(101), L(0), S("LPT1"), L(kHandle)}), 1796},
        {"a name with markup after the digits", Concat({id(101), L(0), S("USB001<"), L(kHandle)}), 1796},
        {"another port's handle", Concat({id(101), L(0), S("USB001"), L(0x2002)}), 87},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(codeAs(alice(), c.request), c.code);
    }
    EXPECT_EQ(factory_.created.load(), 0);
    EXPECT_EQ(table_.size(), 0u);
    openUsb001();
    EXPECT_EQ(codeAs(alice(), Concat({id(39), L(0), L(kHandle), S("SET LANGUAGE ID"), S("en</LanguageId>"), L(0)})),
              87);
    EXPECT_FALSE(table_.find(kHandle)->languageChanged());
}

TEST(BcxFunctionMapperLimits, AUserAtItsLimitsIsRefusedWith1450AndOthersAreNot) {
    // Two records and two registrations per user.
    RecordingLookup lookup;
    EnginePortFactory factory{lookup};
    AlertCallbackRegistry callbacks(16, 2, 2);
    SessionServices services{lookup, callbacks, &factory, nullptr};
    PrinterTable table;
    PrinterOperations operations{services, table};
    BcxFunctionMapper mapper{operations, callbacks};
    auto code = [&](const CallerIdentity& caller, const Bytes& request) {
        Data in = ToData(request), out;
        mapper.dispatch(caller, in, out);
        return ReplyCode(out);
    };
    auto reg = [](uint32_t client) {
        return Concat({id(35), L(client), L(kHandle), L(1), S("<PIPENAME>c" + std::to_string(client) + "</PIPENAME>")});
    };
    for (const CallerIdentity* who : {&alice(), &bob()}) {
        ASSERT_EQ(code(*who, Concat({id(101), L(0), S("USB001"), L(kHandle)})), 0);
    }
    EXPECT_EQ(code(alice(), reg(1)), 0);
    EXPECT_EQ(code(alice(), reg(2)), 0);
    // Both her records hold registrations: a third id has no room.
    EXPECT_EQ(code(alice(), reg(3)), 1450);
    EXPECT_EQ(code(bob(), reg(4)), 0);
    // Unregistered, a record makes room again; the registration limit counts what is held.
    EXPECT_EQ(code(alice(), Concat({id(42), L(2), L(kHandle)})), 0);
    EXPECT_EQ(code(alice(), reg(3)), 0);
    EXPECT_EQ(table.find(kHandle)->registrationCount(), 3u);
    AlertCallbackRegistry registry(16, 8, 1);
    ASSERT_EQ(registry.add(1, CallbackRecord(1, "<PIPENAME>a</PIPENAME>"), alice()), 0u);
    ASSERT_EQ(registry.add(2, CallbackRecord(2, "<PIPENAME>b</PIPENAME>"), alice()), 0u);
    EXPECT_TRUE(registry.retain(1));
    EXPECT_FALSE(registry.retain(2));
    registry.release(1);
    EXPECT_TRUE(registry.retain(2));
    table.destroyAll();
}
