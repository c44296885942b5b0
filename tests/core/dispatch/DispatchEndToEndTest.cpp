// The road of a request and of an alert under Wine, in-process: IPCController with the service's
// mapper on a pipe of the test's own, a client of the client library, the USB port on the
// simulated printer (found by enumeration beside the test-branded program), the NPA plug-in
// through the interpreter manager, and callback pipes served by clients. Every wait is bounded.
#include "client/TolvexClient.h"
#include "config/Localize.h"
#include "core/dispatch/DispatchWiring.h"
#include "core/dispatch/IpcAlertSink.h"
#include "core/interpreters/InterpreterManager.h"
#include "core/ipc/IpcParameterReader.h"
#include "core/ipc/IpcParameterWriter.h"
#include "core/sessions/UsbPortFactory.h"
#include "core/usb/port/InterpreterManagerLookup.h"
#include "runtime/UniqueHandle.h"
#include "tests/config/TestBranding.h"
#include "tests/core/dispatch/InProcessService.h"
#include "tests/core/ipc/IpcTestPipes.h"
#include "tests/core/sessions/SimulatedPrinterRig.h"
#include "tests/core/usb/port/NpaCommandBytes.h"
#include "tools/simulator/NpaPrinterSimulator.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kHandle = 0x2001;
constexpr uint32_t kCallbackMs = 500;
constexpr uint32_t kCallMs = 10000;
constexpr uint8_t kOut = IpcParameter::kDirectionOut;

class DispatchEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig_.setUp("QsSim");
        if (HasFatalFailure()) return;

        service_.start("disp", kCallbackMs);
    }
    void TearDown() override {
        service_.stop();
        rig_.tearDown();
    }

    // Sends one request; the reply's return code (its payload in reply), or -1 when the call
    // itself failed or the reply does not echo the id.
    int32_t call(const Data& request, Data& reply) {
        const int32_t rc = TolvexClient::call(service_.pipeName(), request, reply, kCallMs);
        EXPECT_EQ(rc, 0);
        IpcParameterReader in(reply);
        uint16_t sent = 0, echoed = 0;
        IpcParameterReader(request).functionId(sent);
        int32_t code = -1;
        if (rc != 0 || in.functionId(echoed) != 0 || echoed != sent || in.returnCode(code) != 0) return -1;
        return code;
    }
    int32_t call(const Data& request) {
        Data reply;
        return call(request, reply);
    }
    uint32_t clientId() {
        Data request, reply;
        IpcParameterWriter(request).functionId(2).string(1, "test client");
        EXPECT_EQ(call(request, reply), 0);
        IpcParameterReader in(reply);
        uint16_t function = 0;
        int32_t code = 0;
        uint32_t id = 0;
        in.functionId(function);
        in.returnCode(code);
        EXPECT_EQ(in.longValue(id, kOut), 0);
        return id;
    }
    Data handleRequest(uint16_t function, uint32_t client) {
        Data request;
        IpcParameterWriter(request).functionId(function).longValue(1, client).longValue(1, kHandle);
        return request;
    }
    int32_t open() {
        Data request;
        IpcParameterWriter(request).functionId(101).longValue(1, 0).string(1, "USB001").longValue(1, kHandle);
        return call(request);
    }
    int32_t registerFor(uint32_t client, const std::string& endpoint) {
        Data request;
        IpcParameterWriter(request).functionId(35).longValue(1, client).longValue(1, kHandle).longValue(1, 1).string(
            1, endpoint);
        return call(request);
    }
    Bytes queryAll() { return npaCommandBytes(service_.lookup, "queryAll"); }

    SimulatedPrinterRig rig_;
    std::unique_ptr<NpaPrinterSimulator>& simulator_ = rig_.simulator;
    InProcessService service_;
};

}  // namespace

TEST_F(DispatchEndToEndTest, ClientOpensExchangesQueryAllAndCloses) {
    ASSERT_EQ(open(), 0);
    const Bytes query = queryAll();
    Data request, reply;
    IpcParameterWriter(request)
        .functionId(26)
        .longValue(1, 0)
        .longValue(1, kHandle)
        .byteArray(1, query.data(), query.size())
        .longValue(1, static_cast<uint32_t>(query.size()))
        .longValue(1, 2048);
    ASSERT_EQ(call(request, reply), 0);
    IpcParameterReader in(reply);
    uint16_t function = 0;
    int32_t code = -1;
    Bytes answer;
    uint32_t length = 0;
    in.functionId(function);
    in.returnCode(code);
    ASSERT_EQ(in.byteArray(answer, kOut), 0);
    ASSERT_EQ(in.longValue(length, kOut), 0);
    EXPECT_EQ(in.remaining(), 0u);
    ASSERT_EQ(answer.size(), 2048u);
    ASSERT_GT(length, 4u);
    ASSERT_LE(length, 2048u);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + length), NpaPrinterEngine().defaultReply(NpaRequestKind::QueryAll, query));
    EXPECT_EQ(Bytes(answer.begin() + length, answer.end()), Bytes(2048 - length, 0));
    EXPECT_EQ(simulator_->countOf(NpaRequestKind::QueryAll), 1u);

    EXPECT_EQ(call(handleRequest(21, 0)), 0);
    EXPECT_EQ(service_.table.size(), 0u);
    EXPECT_EQ(call(handleRequest(21, 0)), 6);
    // A function the service does not handle: the pipe closes without a reply.
    Data enumPrinters, nothing;
    IpcParameterWriter(enumPrinters).functionId(24).longValue(1, 0);
    EXPECT_EQ(TolvexClient::call(service_.pipeName(), enumPrinters, nothing, kCallMs), TolvexClient::kNoReply);
}

TEST_F(DispatchEndToEndTest, AlertsReachCallbackPipesAndASilentClientDelaysNobody) {
    ASSERT_EQ(open(), 0);
    // The silent client has the lower id, so it is called first.
    const uint32_t silentId = clientId();
    const uint32_t id = clientId();
    ASSERT_EQ(id, silentId + 1);
    CallbackPipe silent(uniquePipeName("silent"));
    CallbackPipe served(uniquePipeName("served"));
    ASSERT_EQ(registerFor(silentId, "<PIPENAME>" + silent.name() + "</PIPENAME>"), 0);
    ASSERT_EQ(registerFor(id, "<PIPENAME>" + served.name() + "</PIPENAME>"), 0);
    ASSERT_TRUE(simulator_->isRegistered());

    std::string text;
    Bytes packet;
    ULONGLONG answeredAt = 0;
    int32_t served1 = -1;
    std::thread client([&] {
        served1 = served.serveOne(
            [&](const std::string& t, const Bytes& p) {
                answeredAt = GetTickCount64();
                text = t;
                packet = p;
                return 0;
            },
            kCallMs);
    });
    const ULONGLONG sentAt = GetTickCount64();
    ASSERT_TRUE(simulator_->sendAlert());
    client.join();
    ASSERT_EQ(served1, 0);
    EXPECT_EQ(text, "<Handler>AlertHandler</Handler><Handle>8193</Handle><ClientId>" + std::to_string(id) + "</ClientId>");
    EXPECT_EQ(packet, simulatedAlertNumber(1));
    const ULONGLONG delay = answeredAt - sentAt;
    // Each client has its own delivery worker: the silent one, called first, holds up nobody.
    EXPECT_LT(delay, kCallbackMs * 6 / 10);

    Data unregister = handleRequest(42, silentId);
    EXPECT_EQ(call(unregister), 0);
    EXPECT_EQ(call(handleRequest(42, id)), 0);
    EXPECT_TRUE(simulator_->waitForRegistered(false, 5000));
}

TEST_F(DispatchEndToEndTest, StopEndsWithinTwoSecondsWhileARequestWaitsOnASilentPrinter) {
    ASSERT_EQ(open(), 0);
    simulator_->setDefaultBehaviour(NpaReplyBehaviour{true, 0, 0, 0, 0, 0, false, false, false});
    const Bytes query = queryAll();
    Data request, reply;
    IpcParameterWriter(request)
        .functionId(26)
        .longValue(1, 0)
        .longValue(1, kHandle)
        .byteArray(1, query.data(), query.size())
        .longValue(1, static_cast<uint32_t>(query.size()))
        .longValue(1, 2048);
    std::thread client([&] { TolvexClient::call(service_.pipeName(), request, reply, kCallMs); });
    // The request now waits for a reply that will not come (the reply time-out is 10 s).
    ASSERT_TRUE(simulator_->waitForRequests(NpaRequestKind::QueryAll, 1, 5000));
    // And a second client is connected without having sent anything.
    UniqueFileHandle idle(CreateFileA(("\\\\.\\pipe\\" + service_.pipeName()).c_str(), IpcOverlappedNamedPipe::kClientAccess,
                                      0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(idle.valid());
    const ULONGLONG start = GetTickCount64();
    IPCController::ipcStop();
    const ULONGLONG took = GetTickCount64() - start;
    client.join();
    EXPECT_LT(took, 2000u);
    EXPECT_FALSE(IPCController::running());
    EXPECT_EQ(service_.table.size(), 0u);
}

TEST(IpcAlertSinkTest, CallbacksToAnotherHostOrAPathAreRefusedAtOnce) {
    // Registration refuses such endpoints already; the sink checks again before opening anything.
    IpcAlertSink sink(kCallbackMs);
    const Bytes alert = simulatedAlertNumber(1);
    const char* const endpoints[] = {"<HOSTNAME>printsrv</HOSTNAME><PIPENAME>cb</PIPENAME>",
                                     "<PIPENAME>..\\x</PIPENAME>", "<PIPENAME>C:\\x</PIPENAME>",
                                     "<PIPENAME>\\\\printsrv\\pipe\\cb</PIPENAME>", "<PIPENAME>a/../b</PIPENAME>"};
    for (const char* endpoint : endpoints) {
        SCOPED_TRACE(endpoint);
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(sink.sendCallback(CallbackRecord(1, endpoint, "S-1-5-18"), "<Handler>AlertHandler</Handler>", alert.data(),
                                    static_cast<uint32_t>(alert.size())),
                  123u);
        EXPECT_LT(GetTickCount64() - start, 200u);
    }
}
