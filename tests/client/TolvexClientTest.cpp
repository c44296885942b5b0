// The client library against the service's endpoints under Wine: requests over the service
// pipe, and alert callbacks delivered by the service to a pipe the client library serves.
#include "client/TolvexClient.h"
#include "core/ipc/IpcCallbackMessage.h"
#include "core/ipc/IpcEndpointPipeMonitor.h"
#include "core/ipc/IpcNamedPipeEndpoint.h"
#include "core/ipc/LocalPipeNames.h"
#include "core/ipc/PipeIdentity.h"
#include "../core/ipc/IpcTestPipes.h"

#include <gtest/gtest.h>

#include <cctype>

#include <thread>

namespace {
IpcNamedPipeEndpoint* callbackTarget(const std::string& properties, uint32_t boundMs) {
    IpcTimeouts t;
    t.callbackMs = boundMs;
    auto* endpoint = new IpcNamedPipeEndpoint(t);
    endpoint->setProperties(properties);
    return endpoint;
}
}  // namespace

std::string ownUser() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
    const std::string sid = PipeIdentity::userOf(token);
    CloseHandle(token);
    return sid;
}

TEST(TolvexClientTest, CallbackReachesOnlyAPipeServedByTheRegisteringUser) {
    const std::string me = ownUser();
    ASSERT_EQ(me.rfind("S-1-5-", 0), 0u) << me;
    struct Case {
        const char* what;
        std::string registeredBy;
        int32_t code;
        bool delivered;
    };
    const Case cases[] = {
        {"served by the registering user", me, 1234, true},
        {"served by someone else", "S-1-5-21-9-9-9-1009", IpcNamedPipeEndpoint::kWrongServer, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = uniquePipeName("cb");
        CallbackPipe pipe(name);
        std::string seenText;
        std::vector<uint8_t> seenPacket;
        int32_t served = -1;
        std::thread client([&] {
            served = pipe.serveOne(
                [&](const std::string& text, const std::vector<uint8_t>& packet) {
                    seenText = text;
                    seenPacket = packet;
                    return 1234;
                },
                2000);
        });
        const std::string text = "<Handler>AlertHandler</Handler><Handle>8193</Handle><ClientId>7</ClientId>";
        const std::vector<uint8_t> packet = {0xA5, 0x00, 0x07, 0x81, 0x00, 0x12, 0x34};
        std::unique_ptr<IpcNamedPipeEndpoint> sender(callbackTarget("<PIPENAME>" + name + "</PIPENAME>", 2000));
        EXPECT_EQ(sender->sendCallback(text, packet.data(), static_cast<uint32_t>(packet.size()), c.registeredBy),
                  c.code);
        client.join();
        EXPECT_EQ(served == 0, c.delivered) << served;
        EXPECT_EQ(seenText, c.delivered ? text : std::string());
        EXPECT_EQ(seenPacket, c.delivered ? packet : std::vector<uint8_t>());
    }
}

// A service that connects at the end of the client's wait, and is slow to write (a loaded
// machine), is still answered: the wait bounds the connect only.
TEST(TolvexClientTest, AServiceThatConnectsLateInTheWaitIsStillAnswered) {
    const std::string name = uniquePipeName("late");
    CallbackPipe pipe(name);
    int32_t served = -1;
    std::thread client([&] { served = pipe.serveOne([](const std::string&, const std::vector<uint8_t>&) { return 77; }, 300); });
    IpcOverlappedNamedPipe service;
    int32_t rc = service.open(IpcOverlappedNamedPipe::kLocalPrefix + name, 1000);
    Sleep(500);  // past the client's whole wait
    const uint8_t packet[] = {0xA5, 0x00, 0x03};
    if (rc == 0) rc = service.write(IpcCallbackMessage::build("<Handler>AlertHandler</Handler>", packet, 3), 1000);
    Data reply;
    if (rc == 0) rc = service.read(reply, 1000);
    service.close();
    client.join();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(IpcCallbackMessage::interpretReply(reply), 77);
    EXPECT_EQ(served, 0);
}

TEST(TolvexClientTest, SilentCallbackClientDelaysTheSenderAtMostTheBound) {
    // An instance nobody serves: the callback is written into its buffer and never answered.
    const std::string name = uniquePipeName("silent");
    IpcOverlappedNamedPipe silent;
    silent.create(name, true, nullptr);
    std::unique_ptr<IpcNamedPipeEndpoint> sender(callbackTarget("<PIPENAME>" + name + "</PIPENAME>", 300));
    const uint8_t packet[] = {1, 2, 3};
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(sender->sendCallback("<Handler>AlertHandler</Handler>", packet, 3, ownUser()),
              IpcOverlappedNamedPipe::kTimedOut);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 250u);
    EXPECT_LT(elapsed, 1000u);
}

TEST(TolvexClientTest, CallbackTargetsOffThisComputerAreRefused) {
    const std::string name = uniquePipeName("target");
    // A real pipe of that name exists, so a refusal is the name check and not a failed open.
    IpcOverlappedNamedPipe present;
    present.create(name, true, nullptr);
    const std::string refused[] = {
        "<HOSTNAME>otherhost</HOSTNAME><PIPENAME>" + name + "</PIPENAME>",
        "<HOSTNAME>\\\\otherhost</HOSTNAME><PIPENAME>" + name + "</PIPENAME>",
        "<PIPENAME>..\\..\\otherhost\\pipe\\" + name + "</PIPENAME>",
        "<PIPENAME>x\\..\\" + name + "</PIPENAME>",
        "<PIPENAME>\\" + name + "</PIPENAME>",
        "<PIPENAME>//otherhost/pipe/" + name + "</PIPENAME>",
        "<PIPENAME>C:" + name + "</PIPENAME>",
        "<PIPENAME>" + name + "\\</PIPENAME>",
        "<PIPENAME>.\\" + name + "</PIPENAME>",
        "<PIPENAME></PIPENAME>",
        "",
    };
    const uint8_t packet[] = {1};
    for (const std::string& properties : refused) {
        SCOPED_TRACE(properties);
        std::unique_ptr<IpcNamedPipeEndpoint> sender(callbackTarget(properties, 300));
        EXPECT_EQ(sender->sendCallback("t", packet, 1, ownUser()), IpcNamedPipeEndpoint::kNotLocalPipe);
    }
    EXPECT_TRUE(LocalPipeNames::isLocalPipeName("QvSim\\USB001\\PIPE01"));
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof computer;
    ASSERT_TRUE(GetComputerNameA(computer, &size));
    std::string lower(computer, size);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(LocalPipeNames::isThisComputer(lower));
    EXPECT_FALSE(LocalPipeNames::isThisComputer(lower + "x"));
}

TEST(TolvexClientTest, CallFailsCleanlyWithoutAService) {
    Data reply;
    EXPECT_EQ(TolvexClient::call(uniquePipeName("absent"), Data(), reply, 1000), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(TolvexClient::servicePipeName("Qv"), "Qv_BidiAlertDataChannel_");
}
