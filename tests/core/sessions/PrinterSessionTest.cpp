// Printer sessions over the simulated printer's engine: handles, counting, raw exchanges, alert
// registrations and alert delivery.
#include "tests/core/sessions/SessionTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kHandle = 0x2001;
constexpr int kWaitMs = 5000;

class PrinterSessionTest : public ::testing::Test {
protected:
    PrinterSessionTest() : services{lookup, callbacks, &factory, nullptr}, operations(services, table) {}

    void TearDown() override { callbacks.setSink(nullptr); }

    std::shared_ptr<Printer> openUsb001() {
        EXPECT_EQ(operations.openPrinterEx("USB001", kHandle), 0u);
        return table.find(kHandle);
    }
    NpaPrinterEngine& engine() { return factory.last->engine; }
    uint64_t registrationsSent() {
        std::lock_guard<std::mutex> guard(factory.last->lock_);
        uint64_t n = 0;
        for (NpaRequestKind kind : {NpaRequestKind::RegisterForDeviceStatusAlerts,
                                    NpaRequestKind::RegisterForQuorvelExtendedAlerts,
                                    NpaRequestKind::RegisterForQuorvelExtendedAlertsWithLanguageId,
                                    NpaRequestKind::RegisterForQuorvelExtensionAlerts,
                                    NpaRequestKind::RegisterForPanelAlerts}) {
            n += engine().countOf(kind);
        }
        return n;
    }
    static uint32_t longOf(const std::string& text, const char* descriptor) {
        uint32_t value = 0xFFFFFFFF;
        PropertyAccessor().GetLong(text, descriptor, value);
        return value;
    }

    RecordingLookup lookup;
    AlertCallbackRegistry callbacks;
    EnginePortFactory factory{lookup};
    SessionServices services;
    PrinterTable table;
    PrinterOperations operations;
};

}  // namespace

TEST(PrinterOperationsTest, HandlesComeFromUsbAndThreeDigits) {
    struct Case {
        const char* name;
        uint32_t rc;
        uint32_t handle;
    };
    const Case cases[] = {
        {"usb001", 0, 0x2001}, {"USB001", 0, 0x2001}, {"Usb001", 0, 0x2001}, {"USB999", 0, 0x23E7},
        {"USB0001", 1796, 0},  {"USB000", 1796, 0},   {"USB01", 1796, 0},    {"USB0A1", 1796, 0},
        {"LPT001", 1796, 0},   {"", 1796, 0},
    };
    for (const Case& c : cases) {
        uint32_t handle = 77;
        EXPECT_EQ(PrinterOperations::enumSpecificPrinter(c.name, &handle), c.rc) << c.name;
        EXPECT_EQ(handle, c.handle) << c.name;
    }
    EXPECT_EQ(PrinterOperations::enumSpecificPrinter("USB001", nullptr), 87u);
}

TEST_F(PrinterSessionTest, OpensAreCountedAndTheLastCloseStopsThePortAndRemovesTheSession) {
    std::shared_ptr<Printer> printer = openUsb001();
    ASSERT_NE(printer, nullptr);
    EXPECT_EQ(operations.openPrinterEx("USB001", kHandle), 0u);
    EXPECT_EQ(printer->count(), 2);
    EXPECT_EQ(factory.created.load(), 1);
    EXPECT_EQ(operations.closePrinter(kHandle), 0u);
    EXPECT_EQ(printer->count(), 1);
    EXPECT_EQ(factory.last->kills.load(), 0);
    EXPECT_EQ(operations.closePrinter(kHandle), 0u);
    EXPECT_EQ(factory.last->kills.load(), 1);  // closePort stopped the read thread
    EXPECT_EQ(table.find(kHandle), nullptr);
    EXPECT_EQ(operations.closePrinter(kHandle), 6u);
    EXPECT_EQ(printer->close(), 0u);  // already at 0: nothing changes
    EXPECT_EQ(printer->count(), 0);

    EXPECT_EQ(operations.openPrinterEx("USB009", 0x2009), 1u);  // no printer behind the port
    EXPECT_EQ(table.find(0x2009), nullptr);
}

TEST_F(PrinterSessionTest, TwoConnectionsOpeningOneNewHandleGetOneSession) {
    std::promise<void> inFactory;
    std::atomic<bool> first{true};
    std::promise<void> go;
    std::shared_future<void> goSignal = go.get_future().share();
    factory.beforeCreate = [&] {
        if (first.exchange(false)) {
            inFactory.set_value();
            goSignal.wait_for(std::chrono::seconds(10));
        }
    };
    auto a = std::async(std::launch::async, [&] { return operations.openPrinterEx("USB001", kHandle); });
    ASSERT_EQ(inFactory.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    auto b = std::async(std::launch::async, [&] { return operations.openPrinterEx("USB001", kHandle); });
    EXPECT_EQ(b.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);  // waits for the first
    go.set_value();
    EXPECT_EQ(a.get(), 0u);
    EXPECT_EQ(b.get(), 0u);
    EXPECT_EQ(factory.created.load(), 1);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(table.find(kHandle)->count(), 2);
}

TEST_F(PrinterSessionTest, ExchangeCopiesTheReplyAndReports122WithTheNeededLength) {
    openUsb001();
    // A well-framed request of no known kind: the printer echoes all 300 bytes.
    Bytes request(300, 0x5A);
    request[0] = 0xA5;
    request[1] = 0x01;
    request[2] = 0x29;  // 297 bytes follow the length field
    request[3] = 0x10;  // reply requested
    request[4] = 0x7E;
    request[5] = 0x01;
    Bytes reply(256, 0);
    uint32_t length = 0;
    EXPECT_EQ(operations.exchangePacket(kHandle, request.data(), 300, reply.data(), 256, &length), 122u);
    EXPECT_EQ(length, 300u);
    EXPECT_EQ(reply, Bytes(256, 0));  // nothing copied

    Bytes big(512, 0);
    length = 0;
    EXPECT_EQ(operations.exchangePacket(kHandle, request.data(), 300, big.data(), 512, &length), 0u);
    ASSERT_EQ(length, 300u);
    std::vector<uint8_t> expected;
    {
        std::lock_guard<std::mutex> guard(factory.last->lock_);
        expected = engine().defaultReply(NpaRequestKind::Unknown, request);
    }
    EXPECT_EQ(Bytes(big.begin(), big.begin() + 300), expected);
    EXPECT_EQ(factory.last->openCount(), 0);  // every exchange gave its port use back
}

TEST_F(PrinterSessionTest, NpaModeRequestIsAnsweredWithoutThePrinterAndBadCallsAreRefused) {
    openUsb001();
    const Bytes npaMode = {0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4, 0x5B, 0x10, 0xEF,
                           0xA4, 0x5B, 0x11, 0xEE, 0x00, 0xFF, 0x13, 0xEC, 0x2E};
    Bytes reply(64, 0);
    uint32_t length = 1234;
    EXPECT_EQ(operations.exchangePacket(kHandle, npaMode.data(), 19, reply.data(), 64, &length), 0u);
    EXPECT_EQ(length, 1234u);
    EXPECT_EQ(factory.last->writes, 0);
    EXPECT_EQ(factory.last->connects, 0);

    const Bytes query = {0xA5, 0x00, 0x03, 0x10, 0x7E, 0x01};
    EXPECT_EQ(operations.exchangePacket(0, query.data(), 6, reply.data(), 64, &length), 6u);
    EXPECT_EQ(operations.exchangePacket(kHandle, nullptr, 6, reply.data(), 64, &length), 87u);
    EXPECT_EQ(operations.exchangePacket(kHandle, query.data(), 6, nullptr, 64, &length), 87u);
    EXPECT_EQ(operations.exchangePacket(kHandle, query.data(), 6, reply.data(), 64, nullptr), 87u);
    EXPECT_EQ(operations.exchangePacket(0x2002, query.data(), 6, reply.data(), 64, &length), 6u);
    const Bytes notNpa = {0x1B, 0x45, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(operations.exchangePacket(kHandle, notNpa.data(), 6, reply.data(), 64, &length), 5u);
    EXPECT_EQ(factory.last->writes, 0);
}

TEST_F(PrinterSessionTest, AShortenedTimeOutAppliesToTheNextExchangeOnly) {
    openUsb001();
    {
        std::lock_guard<std::mutex> guard(factory.last->lock_);
        engine().setDefaultBehaviour(NpaReplyBehaviour{true, 0, 0, 0, 0, 0, false, false, false});
    }
    EXPECT_EQ(operations.setTimeout(kHandle, 150), 0u);
    const Bytes query = {0xA5, 0x00, 0x03, 0x10, 0x7E, 0x01};
    Bytes reply(64, 0);
    uint32_t length = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(operations.exchangePacket(kHandle, query.data(), 6, reply.data(), 64, &length), 1460u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(table.find(kHandle)->replyTimeout(), 10000u);
    EXPECT_EQ(operations.setTimeout(0x2002, 150), 6u);
}

TEST_F(PrinterSessionTest, AnExchangeWaitsForTheSessionNoLongerThanItsOwnTimeOut) {
    std::shared_ptr<Printer> printer = openUsb001();
    const Bytes query = {0xA5, 0x00, 0x03, 0x10, 0x7E, 0x01};
    Bytes reply(64, 0);
    uint32_t length = 0;
    EXPECT_EQ(operations.setTimeout(kHandle, 200), 0u);
    const int writesBefore = factory.last->writes;
    {
        // As another client's exchange would, for as long as its printer takes.
        std::lock_guard<TicketLock> busy(printer->sessionLock());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(operations.exchangePacket(kHandle, query.data(), 6, reply.data(), 64, &length), 1460u);
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(200));
        EXPECT_LT(waited, std::chrono::milliseconds(kWaitMs));
    }
    EXPECT_EQ(factory.last->writes, writesBefore);
    EXPECT_EQ(operations.exchangePacket(kHandle, query.data(), 6, reply.data(), 64, &length), 0u);
}

TEST_F(PrinterSessionTest, ASessionWithoutPortAnswers50AndNeverTouchesAPort) {
    constexpr uint32_t kOther = 0x1234;  // no USB port has this handle
    EXPECT_EQ(operations.openPrinter(kOther), 0u);
    std::shared_ptr<Printer> printer = table.find(kOther);
    ASSERT_NE(printer, nullptr);
    EXPECT_FALSE(printer->hasPort());
    EXPECT_EQ(factory.created.load(), 0);
    const Bytes query = {0xA5, 0x00, 0x03, 0x10, 0x7E, 0x01};
    Bytes reply(64, 0);
    uint32_t length = 9;
    EXPECT_EQ(operations.exchangePacket(kOther, query.data(), 6, reply.data(), 64, &length), 50u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(operations.registerForAlerts(AlertRegistration{0x1, 1, kOther}), 50u);
    EXPECT_EQ(printer->registrationCount(), 0u);
    EXPECT_EQ(operations.unregisterForAlerts(kOther, 1), 1u);
    // A port's name never opens a session under a handle that is not the port's.
    EXPECT_EQ(operations.openPrinterEx("USB005", kOther), 87u);
    EXPECT_EQ(printer->count(), 1);
    EXPECT_EQ(operations.closePrinter(kOther), 0u);
    EXPECT_EQ(table.size(), 0u);
}

TEST_F(PrinterSessionTest, OpenPrinterOfAPortsHandleOpensThatPortsPrinterSoNobodyCanSquatIt) {
    // Made first by a bare open, the session is the port's own: a later proper open shares it.
    EXPECT_EQ(operations.openPrinter(0x2005, alice()), 0u);
    std::shared_ptr<Printer> printer = table.find(0x2005);
    ASSERT_NE(printer, nullptr);
    EXPECT_TRUE(printer->hasPort());
    EXPECT_EQ(operations.openPrinterEx("usb005", 0x2005, bob()), 0u);
    EXPECT_EQ(printer->count(), 2);
    // Sessions without a printer are bounded.
    for (uint32_t h = 1; h <= PrinterOperations::kMaxPortlessSessions; ++h) EXPECT_EQ(operations.openPrinter(h), 0u);
    EXPECT_EQ(operations.openPrinter(PrinterOperations::kMaxPortlessSessions + 1), PrinterOperations::kNoResources);
}

TEST_F(PrinterSessionTest, RegistrationSendsTheMergedMaskOnlyWhenItGrows) {
    std::shared_ptr<Printer> printer = openUsb001();
    EXPECT_EQ(printer->RegisterForAlerts(AlertRegistration{0, 1, kHandle}), 87u);
    EXPECT_EQ(printer->RegisterForAlerts(AlertRegistration{0x1, 1, kHandle}), 0u);
    EXPECT_EQ(registrationsSent(), 1u);  // device status
    EXPECT_EQ(printer->RegisterForAlerts(AlertRegistration{0x3, 2, kHandle}), 0u);
    EXPECT_EQ(registrationsSent(), 2u);  // device status again, for the new bit
    EXPECT_EQ(printer->RegisterForAlerts(AlertRegistration{0x2, 3, kHandle}), 0u);
    EXPECT_EQ(registrationsSent(), 2u);  // nothing new
    EXPECT_EQ(printer->RegisterForAlerts(AlertRegistration{0x400, 3, kHandle}), 0u);  // replaces client 3's
    EXPECT_EQ(registrationsSent(), 4u);  // every class of the merged mask: device status and extension
    const std::vector<std::string> texts = lookup.recorder.texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(longOf(texts[2], PropertyAccessor::NewAlertMask), 0x403u);
    EXPECT_EQ(longOf(texts[2], PropertyAccessor::CurrentAlertMask), 0u);
    {
        std::lock_guard<std::mutex> guard(factory.last->lock_);
        EXPECT_EQ(engine().registeredAlertMask(), 0x403u);
    }
    // One port use per registered client, whatever the number of registrations.
    EXPECT_EQ(factory.last->openCount(), 3);
    for (uint32_t client : {1u, 2u, 3u}) EXPECT_EQ(printer->UnregisterForAlerts(client), 0u);
    EXPECT_EQ(factory.last->openCount(), 0);
    EXPECT_EQ(printer->UnregisterForAlerts(1), 1u);
}

TEST_F(PrinterSessionTest, ARefusedRegistrationGives22AndTakesNothingAway) {
    std::shared_ptr<Printer> printer = openUsb001();
    ASSERT_EQ(printer->RegisterForAlerts(AlertRegistration{0x1, 1, kHandle}), 0u);
    {
        std::lock_guard<std::mutex> guard(factory.last->lock_);
        engine().setDefaultBehaviour(NpaReplyBehaviour{false, 0, 0, 0, 0, 0, false, true, false});
    }
    EXPECT_EQ(printer->RegisterForAlerts(AlertRegistration{0x400, 2, kHandle}), 22u);
    EXPECT_EQ(printer->registrationCount(), 1u);
    EXPECT_EQ(printer->registeredMask(), 0x1u);
    EXPECT_EQ(factory.last->openCount(), 1);  // the failed one gave its port use back
    // A refused replacement keeps the client's earlier registration.
    EXPECT_EQ(printer->RegisterForAlerts(AlertRegistration{0x401, 1, kHandle}), 22u);
    EXPECT_EQ(printer->registeredMask(), 0x1u);
    EXPECT_EQ(factory.last->openCount(), 1);
    // A port that cannot connect fails the registration the same way.
    factory.last->connectResult = 31;
    EXPECT_EQ(printer->RegisterForAlerts(AlertRegistration{0x2, 4, kHandle}), 31u);
    EXPECT_EQ(printer->registrationCount(), 1u);
    EXPECT_EQ(factory.last->openCount(), 1);
}

TEST_F(PrinterSessionTest, ALanguageIdChangeForcesAResend) {
    std::shared_ptr<Printer> printer = openUsb001();
    ASSERT_EQ(printer->RegisterForAlerts(AlertRegistration{0x1, 1, kHandle}), 0u);
    ASSERT_EQ(registrationsSent(), 1u);
    EXPECT_EQ(operations.setLanguageId(kHandle, "fr"), 0u);
    EXPECT_TRUE(printer->languageChanged());
    EXPECT_EQ(printer->RegisterForAlerts(AlertRegistration{0x1, 1, kHandle}), 0u);
    EXPECT_EQ(registrationsSent(), 2u);
    std::string language;
    const std::vector<std::string> texts = lookup.recorder.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(PropertyAccessor().GetString(texts[1], PropertyAccessor::LanguageId, language), 0u);
    EXPECT_EQ(language, "fr");
    EXPECT_FALSE(printer->languageChanged());
    EXPECT_EQ(printer->RegisterForAlerts(AlertRegistration{0x1, 1, kHandle}), 0u);
    EXPECT_EQ(registrationsSent(), 2u);  // unchanged: nothing sent
    // The sent id was consumed: the same id again counts as a change.
    EXPECT_EQ(operations.setLanguageId(kHandle, "fr"), 0u);
    EXPECT_TRUE(printer->languageChanged());
    EXPECT_EQ(operations.setLanguageId(0x2002, "fr"), 6u);
    printer->UnregisterForAlerts(1);
}

TEST_F(PrinterSessionTest, UnregisteringTheOnlyClientSendsMaskZeroWithItsMaskAsCurrent) {
    std::shared_ptr<Printer> printer = openUsb001();
    EXPECT_EQ(printer->UnregisterForAlerts(8), 1u);
    ASSERT_EQ(printer->RegisterForAlerts(AlertRegistration{0x80401, 8, kHandle}), 0u);
    const uint64_t before = registrationsSent();
    EXPECT_EQ(printer->UnregisterForAlerts(8), 0u);
    EXPECT_GT(registrationsSent(), before);
    const std::vector<std::string> texts = lookup.recorder.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(longOf(texts[1], PropertyAccessor::NewAlertMask), 0u);
    EXPECT_EQ(longOf(texts[1], PropertyAccessor::CurrentAlertMask), 0x80401u);
    {
        std::lock_guard<std::mutex> guard(factory.last->lock_);
        EXPECT_FALSE(engine().isRegistered());
    }
    EXPECT_EQ(factory.last->openCount(), 0);
}

TEST_F(PrinterSessionTest, ControlPacketsReachEveryRegisteredClient) {
    RecordingAlertSink sink;
    callbacks.setSink(&sink);
    for (uint32_t client : {3u, 5u, 7u}) {
        callbacks.add(client, CallbackRecord{client, "<PIPENAME>client" + std::to_string(client) + "</PIPENAME>"});
    }
    std::shared_ptr<Printer> printer = openUsb001();
    for (uint32_t client : {7u, 3u, 9u, 5u}) {  // client 9 has no callback record
        ASSERT_EQ(printer->RegisterForAlerts(AlertRegistration{0x1, client, kHandle}), 0u);
    }
    {
        std::lock_guard<std::mutex> guard(factory.last->lock_);
        ASSERT_TRUE(engine().emitAlert(0));
    }
    factory.last->wake();
    ASSERT_TRUE(sink.waitFor(3, kWaitMs));
    const std::vector<Callback> calls = sink.callsByClient();
    ASSERT_EQ(calls.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].clientId, 3u + 2 * i);
        EXPECT_EQ(calls[i].handle, kHandle);
        EXPECT_EQ(calls[i].endpoint, "<PIPENAME>client" + std::to_string(3 + 2 * i) + "</PIPENAME>");
        ASSERT_GE(calls[i].bytes.size(), 5u);
        EXPECT_EQ(calls[i].bytes[4], 0xF0);
    }
    EXPECT_EQ(printer->lastPacket().Size(), calls[0].bytes.size());
    for (uint32_t client : {3u, 5u, 7u, 9u}) printer->UnregisterForAlerts(client);
}
