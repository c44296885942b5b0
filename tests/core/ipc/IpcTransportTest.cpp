// The service side of the client transport under Wine: monitor, connections, reaper and the
// controller, driven by real pipe clients against a fake mapper.
#include "client/TolvexClient.h"
#include "core/ipc/IPCController.h"
#include "core/ipc/IpcEndpointPipeMonitor.h"
#include "core/ipc/IpcEndpoints.h"
#include "core/ipc/IpcPipeSecurity.h"
#include "core/ipc/PipeIdentity.h"
#include "runtime/Exception.h"
#include "IpcTestPipes.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <thread>

namespace {
IpcTimeouts shortTimeouts() {
    IpcTimeouts t;
    t.requestMs = 500;
    t.replyWriteMs = 2000;
    t.lingerMs = 1000;
    t.callbackMs = 300;
    t.retryMs = 50;
    return t;
}

std::string pipeProperties(const std::string& name) { return "<PIPENAME>" + name + "</PIPENAME>"; }

Data bytesOf(const std::vector<uint8_t>& v) { return Data(v.data(), static_cast<uint32_t>(v.size())); }

std::vector<uint8_t> vec(const Data& d) { return std::vector<uint8_t>(d.Bytes(), d.Bytes() + d.Size()); }

class Server : public ::testing::Test {
protected:
    virtual IpcTimeouts timeouts() const { return shortTimeouts(); }
    void SetUp() override {
        name = uniquePipeName("srv");
        monitor.reset(new IpcEndpointPipeMonitor(endpoints, mapper, timeouts()));
        monitor->setProperties(pipeProperties(name));
        monitor->start();
    }
    void TearDown() override {
        mapper.release();
        for (auto& t : held) t.join();
        monitor->stop();
        endpoints.stop();
    }
    // n clients whose requests wait in the mapper until it is released (at the latest in
    // teardown); their results land in heldCodes and heldReplies. False when they did not all
    // arrive within 5 s.
    bool holdRequests(int n) {
        heldCodes.assign(n, -1);
        heldReplies.assign(n, Data());
        for (int i = 0; i < n; ++i)
            held.emplace_back([this, i] {
                heldCodes[i] = TolvexClient::call(name, bytesOf({0xEE, static_cast<uint8_t>(i)}), heldReplies[i], 10000);
            });
        return mapper.waitForWaiting(n, 5000);
    }
    // Lets the held requests go and waits for their answers.
    void releaseHeld() {
        mapper.release();
        for (auto& t : held) t.join();
        held.clear();
    }
    // A client end connected to the service pipe, its connection already handed to an endpoint.
    void connectIdle(IpcOverlappedNamedPipe& client, std::size_t expectedLive) {
        ASSERT_EQ(client.open(IpcOverlappedNamedPipe::kLocalPrefix + name, 5000), 0);
        ASSERT_TRUE(endpoints.waitFor([&](std::size_t live, uint64_t) { return live >= expectedLive; }, 5000));
    }

    std::string name;
    FakeMapper mapper;
    IpcEndpoints endpoints;
    std::unique_ptr<IpcEndpointPipeMonitor> monitor;
    std::vector<std::thread> held;
    std::vector<int32_t> heldCodes;
    std::vector<Data> heldReplies;
};
}  // namespace

TEST(IpcPipeSecurityTest, ServicePipeModesAndDescriptor) {
    EXPECT_EQ(IpcOverlappedNamedPipe::serverOpenMode(true),
              static_cast<DWORD>(PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE));
    EXPECT_EQ(IpcOverlappedNamedPipe::serverOpenMode(false), static_cast<DWORD>(PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED));
    EXPECT_EQ(IpcOverlappedNamedPipe::serverPipeMode(),
              static_cast<DWORD>(PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS));

    IpcNamedPipeEndpoint listening;
    listening.setProperties(pipeProperties(uniquePipeName("sec")));
    listening.listenFirst();
    DWORD flags = 0, out = 0, in = 0, instances = 0;
    ASSERT_TRUE(GetNamedPipeInfo(listening.pipeHandle(), &flags, &out, &in, &instances));
    EXPECT_EQ(flags & PIPE_TYPE_MESSAGE, static_cast<DWORD>(PIPE_TYPE_MESSAGE));

    // The DACL as the system keeps it: generic rights may come back mapped to the pipe's own.
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(GetSecurityInfo(listening.pipeHandle(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &dacl, nullptr, &sd),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY, world = SECURITY_WORLD_SID_AUTHORITY;
    PSID system = nullptr, admins = nullptr, everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                         &admins));
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    const ACCESS_MASK full[] = {GENERIC_ALL, FILE_ALL_ACCESS};
    int seen = 0;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        PSID sid = &ace->SidStart;
        if (EqualSid(sid, system) || EqualSid(sid, admins)) {
            EXPECT_TRUE(ace->Mask == full[0] || ace->Mask == full[1]) << std::hex << ace->Mask;
            ++seen;
        } else if (EqualSid(sid, everyone)) {
            // Reading and writing data, nothing else: no FILE_CREATE_PIPE_INSTANCE (which
            // GENERIC_WRITE would bring), no WRITE_DAC, WRITE_OWNER or DELETE.
            EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_WRITE_DATA)) << std::hex << ace->Mask;
            ++seen;
        } else {
            ADD_FAILURE() << "an ACE for another trustee";
        }
    }
    EXPECT_EQ(seen, 3);
    // What clients open the pipe with, in the pipe's own rights, is within what Everyone gets.
    GENERIC_MAPPING files = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    ACCESS_MASK asked = IpcOverlappedNamedPipe::kClientAccess;
    MapGenericMask(&asked, &files);
    EXPECT_EQ(asked & ~IpcPipeSecurity::kEveryoneAccess, 0u) << std::hex << asked;
    EXPECT_EQ(asked & FILE_CREATE_PIPE_INSTANCE, 0u);
    FreeSid(system);
    FreeSid(admins);
    FreeSid(everyone);
    LocalFree(sd);
}

TEST_F(Server, TwoClientsAreServedAtOnce) {
    // Both requests must be inside the mapper together before either is answered.
    const std::vector<std::vector<uint8_t>> requests = {{0xEE, 0x01, 0xAA}, {0xEE, 0x02, 0xBB, 0xCC}};
    Data replies[2];
    int32_t codes[2] = {-1, -1};
    std::thread clients[2];
    for (int i = 0; i < 2; ++i)
        clients[i] = std::thread([&, i] { codes[i] = TolvexClient::call(name, bytesOf(requests[i]), replies[i], 10000); });
    EXPECT_TRUE(mapper.waitForWaiting(2, 5000));
    mapper.release();
    for (auto& t : clients) t.join();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(codes[i], 0);
        EXPECT_EQ(vec(replies[i]), requests[i]);
    }
    EXPECT_TRUE(endpoints.waitFor([](std::size_t live, uint64_t reaped) { return live == 0 && reaped == 2; }, 5000));
}

TEST_F(Server, ClientLeavingWithoutWritingIsReaped) {
    {
        IpcOverlappedNamedPipe client;
        connectIdle(client, 1);
    }
    EXPECT_TRUE(endpoints.waitFor([](std::size_t live, uint64_t reaped) { return live == 0 && reaped == 1; }, 5000));
    EXPECT_EQ(mapper.calls.load(), 0);
    // The name is still served afterwards.
    Data reply;
    EXPECT_EQ(TolvexClient::call(name, bytesOf({1, 2}), reply, 5000), 0);
}

TEST_F(Server, LongMessageIsAssembledFromChunks) {
    std::vector<uint8_t> payload(10000);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 + 1);
    std::vector<uint8_t> frame = {0x00, 0x00, 0x27, 0x10};
    frame.insert(frame.end(), payload.begin(), payload.end());
    // One write (read back as 4096-byte pieces of one message) and several writes of odd sizes.
    const std::vector<std::vector<std::size_t>> splits = {{frame.size()}, {2, 3000, 4097, frame.size() - 7099}};
    for (const auto& split : splits) {
        SCOPED_TRACE(split.size());
        IpcOverlappedNamedPipe client;
        ASSERT_EQ(client.open(IpcOverlappedNamedPipe::kLocalPrefix + name, 5000), 0);
        std::size_t at = 0;
        for (std::size_t n : split) {
            ASSERT_TRUE(rawWrite(client.handle(), std::vector<uint8_t>(frame.begin() + at, frame.begin() + at + n)));
            at += n;
        }
        Data reply;
        ASSERT_EQ(client.read(reply, 5000), 0);
        EXPECT_EQ(vec(reply), payload);
    }
}

TEST_F(Server, MalformedOrSilentRequestsGetNoReply) {
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        bool waitsForDeadline;
    } cases[] = {
        {"empty frame", {0, 0, 0, 0}, false},
        {"above the cap", {0x00, 0x10, 0x00, 0x01, 1, 2, 3}, false},
        {"bytes past the length", {0, 0, 0, 2, 1, 2, 3}, false},
        {"stops short", {0, 0, 0x10, 0, 1, 2, 3}, true},
        {"half a length", {0, 0}, true},
        {"nothing at all", {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IpcOverlappedNamedPipe client;
        ASSERT_EQ(client.open(IpcOverlappedNamedPipe::kLocalPrefix + name, 5000), 0);
        const ULONGLONG start = GetTickCount64();
        if (!c.bytes.empty()) {
            ASSERT_TRUE(rawWrite(client.handle(), c.bytes));
        }
        Data reply;
        EXPECT_EQ(client.read(reply, 5000), IpcOverlappedNamedPipe::kNoMessage);
        const ULONGLONG elapsed = GetTickCount64() - start;
        // The request bound is 500 ms: silent connections are closed at it, bad frames at once.
        if (c.waitsForDeadline) {
            EXPECT_GE(elapsed, 400u);
        } else {
            EXPECT_LT(elapsed, 400u);
        }
        EXPECT_LT(elapsed, 3000u);
    }
    EXPECT_EQ(mapper.calls.load(), 0);
}

TEST_F(Server, ClientThatNeverReadsItsReplyIsDroppedAfterTheWriteBound) {
    // The echoed reply is far larger than the pipe's buffer, so writing it needs the client.
    std::vector<uint8_t> frame = {0x00, 0x01, 0x86, 0xA0};
    frame.resize(4 + 100000, 0x5A);
    IpcOverlappedNamedPipe client;
    ASSERT_EQ(client.open(IpcOverlappedNamedPipe::kLocalPrefix + name, 5000), 0);
    ASSERT_TRUE(rawWrite(client.handle(), frame));
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(endpoints.waitFor([](std::size_t live, uint64_t reaped) { return live == 0 && reaped == 1; }, 8000));
    // replyWriteMs is 2000 here.
    EXPECT_GE(GetTickCount64() - start, 1500u);
    EXPECT_EQ(mapper.calls.load(), 1);
}

namespace {
// The access the Everyone entry of an object's DACL grants (0 without one), as the system keeps it.
ACCESS_MASK everyoneAccess(HANDLE object) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd) !=
            ERROR_SUCCESS ||
        dacl == nullptr) {
        return 0;
    }
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    ACCESS_MASK mask = 0;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && EqualSid(&ace->SidStart, everyone)) mask = ace->Mask;
    }
    FreeSid(everyone);
    LocalFree(sd);
    return mask;
}

// A server with as many instances listening ahead as given.
template <uint32_t Listening>
class ListeningServer : public Server {
protected:
    IpcTimeouts timeouts() const override {
        IpcTimeouts t = shortTimeouts();
        t.listeningInstances = Listening;
        return t;
    }
};
using BurstServer = ListeningServer<8>;
using FewListenersServer = ListeningServer<2>;
}  // namespace

// Instances listen ahead: a burst of as many clients as there are connects at once, without a
// single busy answer, and every instance they reach is the service's, with its descriptor.
TEST_F(BurstServer, ABurstOfClientsConnectsWithoutABusyAnswerToInstancesOfOurs) {
    EXPECT_EQ(monitor->listeners(), 8u);
    // Once the first client has been handed on, every instance listens (its own successor too).
    IpcOverlappedNamedPipe first;
    connectIdle(first, 1);
    const std::string path = IpcOverlappedNamedPipe::kLocalPrefix + name;
    std::vector<UniqueFileHandle> burst;
    for (int i = 0; i < 8; ++i) {
        HANDLE h = CreateFileA(path.c_str(), IpcOverlappedNamedPipe::kClientAccess, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << "client " << i << ": " << GetLastError();
        burst.emplace_back(h);
        EXPECT_EQ(everyoneAccess(h), IpcPipeSecurity::kEveryoneAccess) << "client " << i;
    }
    EXPECT_TRUE(endpoints.waitFor([](std::size_t live, uint64_t) { return live >= 9; }, 5000));
}

// Clients arriving back to back, some at an instance the monitor has not begun to wait on (their
// connect is over at once): each is served, none waits for a later client to wake the monitor.
TEST_F(FewListenersServer, ClientsArrivingBackToBackAreEachServedWithinTheirBound) {
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 6; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < 25; ++i) {
                Data reply;
                const std::vector<uint8_t> request = {0x01, static_cast<uint8_t>(c), static_cast<uint8_t>(i)};
                if (TolvexClient::call(name, bytesOf(request), reply, 3000) != 0 || vec(reply) != request) ++failures;
            }
        });
    }
    for (auto& t : clients) t.join();
    EXPECT_EQ(failures.load(), 0);
}

namespace {
// Three connections at most; a connection's own request bound is long, so a refused one that is
// closed at once was closed by the busy bound.
class CappedServer : public Server {
protected:
    IpcTimeouts timeouts() const override {
        IpcTimeouts t = shortTimeouts();
        t.requestMs = 5000;
        t.maxConnections = 3;
        return t;
    }
};
}  // namespace

TEST_F(CappedServer, ConnectionsBeyondTheCapAreAnsweredBusyWhileThoseWithinAreServed) {
    // Three requests wait in the mapper: the cap is reached.
    ASSERT_TRUE(holdRequests(3));

    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        std::vector<uint8_t> answer;  // empty: closed without one
    } cases[] = {
        {"a request", {0, 0, 0, 3, 0x12, 0x34, 0x56}, {0x12, 0x34, 4, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0xE7}},
        {"a frame too short for an id", {0, 0, 0, 1, 0x12}, {}},
        {"half a length", {0, 0}, {}},
        {"nothing", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IpcOverlappedNamedPipe client;
        ASSERT_EQ(client.open(IpcOverlappedNamedPipe::kLocalPrefix + name, 5000), 0);
        const ULONGLONG start = GetTickCount64();
        if (!c.bytes.empty()) {
            ASSERT_TRUE(rawWrite(client.handle(), c.bytes));
        }
        Data reply;
        const int32_t rc = client.read(reply, 5000);
        if (c.answer.empty()) {
            EXPECT_EQ(rc, IpcOverlappedNamedPipe::kNoMessage);
        } else {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(vec(reply), c.answer);
        }
        // The busy bound is 250 ms; the request bound of a served connection would be 5000.
        EXPECT_LT(GetTickCount64() - start, 1500u);
    }
    EXPECT_EQ(endpoints.size(), 3u);

    // The client library takes the busy answer as a busy pipe: it tries again until the service
    // has room, or gives up when its time is out.
    Data reply, refused;
    int32_t later = -1;
    std::thread retrying([&] { later = TolvexClient::call(name, bytesOf({0x01, 0x03}), reply, 10000); });
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(TolvexClient::call(name, bytesOf({0x01, 0x02}), refused, 400), IpcOverlappedNamedPipe::kTimedOut);
    EXPECT_GE(GetTickCount64() - start, 350u);
    EXPECT_EQ(endpoints.size(), 3u);
    releaseHeld();
    retrying.join();
    EXPECT_EQ(later, 0);
    EXPECT_EQ(vec(reply), std::vector<uint8_t>({0x01, 0x03}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(heldCodes[i], 0);
        EXPECT_EQ(vec(heldReplies[i]), std::vector<uint8_t>({0xEE, static_cast<uint8_t>(i)}));
    }
    // No request answered busy reached the mapper. The one whose client gave up after its last
    // try had written it may have been served once there was room, as any server may serve a
    // request whose client has gone.
    std::vector<std::vector<uint8_t>> seen = mapper.seen();
    seen.erase(std::remove(seen.begin(), seen.end(), std::vector<uint8_t>({0x01, 0x02})), seen.end());
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::vector<uint8_t>>{{0x01, 0x03}, {0xEE, 0}, {0xEE, 1}, {0xEE, 2}}));
}

namespace {
// The cap of three with a long busy bound: the monitor, answering a silent client busy, is held
// until that client leaves.
class CappedSlowBusyServer : public CappedServer {
protected:
    IpcTimeouts timeouts() const override {
        IpcTimeouts t = CappedServer::timeouts();
        t.busyAnswerMs = 3000;
        return t;
    }
};
}  // namespace

// At the cap, a single instance listens (three listeners, one each while there was room): a
// client reaching one more would be served ahead of those who came before it, as the monitor
// learns of connections by instance rather than by arrival.
TEST_F(CappedSlowBusyServer, AtTheCapOneInstanceListensAndNoMore) {
    EXPECT_EQ(monitor->listeners(), 3u);
    ASSERT_TRUE(holdRequests(3));
    // The first to connect holds the monitor in its busy answer; the instance made before that
    // may take one more.
    const std::string path = IpcOverlappedNamedPipe::kLocalPrefix + name;
    std::vector<UniqueFileHandle> connected;
    DWORD refusal = 0;
    while (connected.size() < 4 && refusal == 0) {
        HANDLE h = CreateFileA(path.c_str(), IpcOverlappedNamedPipe::kClientAccess, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            refusal = GetLastError();
        } else {
            connected.emplace_back(h);
        }
    }
    EXPECT_GE(connected.size(), 1u);
    EXPECT_LE(connected.size(), 2u);
    EXPECT_EQ(refusal, static_cast<DWORD>(ERROR_PIPE_BUSY));
}

namespace {
std::size_t threadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    std::size_t n = 0;
    THREADENTRY32 te = {};
    te.dwSize = sizeof te;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    CloseHandle(snap);
    return n;
}

struct ControllerRun {
    FakeMapper* mapper = nullptr;
};
}  // namespace

namespace {
// A listening endpoint whose next instance cannot be made until release(): a pipe of the same name
// limited to two instances, the first a stranger's (occupied by a client of its own), the second
// the endpoint's. A client is connected to the endpoint's instance.
struct FullPipeRig {
    explicit FullPipeRig(const std::string& name) : listening(shortTimeouts()) {
        const std::string path = IpcOverlappedNamedPipe::kLocalPrefix + name;
        stranger.reset(CreateNamedPipeA(path.c_str(), IpcOverlappedNamedPipe::serverOpenMode(false),
                                        IpcOverlappedNamedPipe::serverPipeMode(), 2, 4096, 4096, 0, nullptr));
        strangersClient.open(path, 5000);
        listening.setProperties(pipeProperties(name));
        listening.listen();
        client.open(path, 5000);
    }
    bool ready() const { return stranger.valid() && strangersClient.isOpen() && listening.hasInstance() && client.isOpen(); }
    void release() {
        stranger.reset();
        strangersClient.close();
    }
    // Runs acceptConnection() on a thread of its own; done is set when it returns.
    void startAccept() {
        acceptor = std::thread([this] {
            accepted = listening.acceptConnection();
            done.set();
        });
    }
    ~FullPipeRig() {
        // Room for the next instance too, so that the join cannot hang even if the stop were missed.
        listening.stop();
        release();
        if (acceptor.joinable()) acceptor.join();
    }

    UniqueFileHandle stranger;
    IpcOverlappedNamedPipe strangersClient;
    IpcNamedPipeEndpoint listening;
    IpcOverlappedNamedPipe client;
    std::unique_ptr<IpcNamedPipeEndpoint> accepted;
    Event done{true, false};
    std::thread acceptor;
};
}  // namespace

TEST(IpcNamedPipeEndpointTest, TheConnectionIsHandedOnOnlyOnceTheNextInstanceExists) {
    FullPipeRig rig(uniquePipeName("full"));
    ASSERT_TRUE(rig.ready());
    rig.startAccept();
    // The client is connected, but every attempt at the next instance fails (retryMs is 50).
    EXPECT_FALSE(rig.done.wait(400)) << "handed on while no instance of ours listened";
    rig.release();
    ASSERT_TRUE(rig.done.wait(5000));
    rig.acceptor.join();
    ASSERT_TRUE(rig.accepted);
    EXPECT_TRUE(rig.listening.hasInstance());
    EXPECT_NE(rig.listening.pipeHandle(), rig.accepted->pipeHandle());
    // The handed-on handle is the client's connection.
    EXPECT_EQ(rig.accepted->send(bytesOf({7, 8})), 0);
    Data got;
    EXPECT_EQ(rig.client.read(got, 5000), 0);
    EXPECT_EQ(vec(got), std::vector<uint8_t>({7, 8}));
}

TEST(IpcNamedPipeEndpointTest, AStopEndsTheRetriesAndTheClientIsNotServed) {
    FullPipeRig rig(uniquePipeName("full"));
    ASSERT_TRUE(rig.ready());
    rig.startAccept();
    EXPECT_FALSE(rig.done.wait(200));
    const ULONGLONG start = GetTickCount64();
    rig.listening.stop();
    ASSERT_TRUE(rig.done.wait(5000));
    EXPECT_LT(GetTickCount64() - start, 1000u);
    rig.acceptor.join();
    EXPECT_FALSE(rig.accepted);
    EXPECT_EQ(rig.listening.lastAcceptCode(), IpcOverlappedNamedPipe::kStopped);
    EXPECT_FALSE(rig.listening.hasInstance());
    Data got;
    EXPECT_EQ(rig.client.read(got, 5000), IpcOverlappedNamedPipe::kNoMessage);
}

TEST(IPCControllerTest, FailedStartRaisesAndLeavesNothingRunning) {
    const struct {
        const char* what;
        bool mapper;
        std::string pipeName;
    } cases[] = {
        {"no mapper", false, uniquePipeName("ctl")},
        {"pipe cannot be created", true, std::string(300, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IpcControllerConfig config;
        config.pipeName = c.pipeName;
        if (c.mapper) config.createMapper = [] { return std::unique_ptr<FunctionMapper>(new FakeMapper()); };
        IPCController::configure(config);
        EXPECT_THROW(IPCController::ipcStart(), Exception);
        EXPECT_FALSE(IPCController::running());
        EXPECT_EQ(IPCController::endpoints(), nullptr);
    }
}

TEST(IPCControllerTest, StopWithClientsAndAWaitingRequestIsPromptAndClean) {
    ControllerRun run;
    IpcControllerConfig config;
    config.timeouts = shortTimeouts();
    config.timeouts.requestMs = 60000;  // idle clients must be ended by the stop, not the bound
    config.createMapper = [&run] {
        run.mapper = new FakeMapper();
        return std::unique_ptr<FunctionMapper>(run.mapper);
    };
    // Destroying the sessions is what releases a request waiting on a printer.
    config.stopSessions = [&run] { run.mapper->release(); };

    auto round = [&](const std::string& name, ULONGLONG& stopMs) {
        config.pipeName = name;
        IPCController::configure(config);
        IPCController::ipcStart();
        ASSERT_TRUE(IPCController::running());
        IpcOverlappedNamedPipe idle1, idle2;
        ASSERT_EQ(idle1.open(IpcOverlappedNamedPipe::kLocalPrefix + name, 5000), 0);
        ASSERT_EQ(idle2.open(IpcOverlappedNamedPipe::kLocalPrefix + name, 5000), 0);
        Data reply;
        int32_t code = -1;
        std::thread waiting([&] { code = TolvexClient::call(name, bytesOf({0xEE, 9}), reply, 10000); });
        ASSERT_TRUE(run.mapper->waitForWaiting(1, 5000));
        ASSERT_TRUE(IPCController::endpoints()->waitFor([](std::size_t live, uint64_t) { return live == 3; }, 5000));
        const ULONGLONG start = GetTickCount64();
        IPCController::ipcStop();
        stopMs = GetTickCount64() - start;
        waiting.join();
        EXPECT_FALSE(IPCController::running());
        EXPECT_EQ(IPCController::endpoints(), nullptr);
        // The waiting request was released by the session hook; its reply may or may not have
        // made it out before its pipe was stopped, but the client never hangs.
        EXPECT_TRUE(code == 0 || code == IpcOverlappedNamedPipe::kNoMessage) << code;
    };

    ULONGLONG stopMs = 0;
    // A first round pays for what the system creates once per process.
    round(uniquePipeName("ctl"), stopMs);
    if (HasFatalFailure()) return;
    const std::size_t threadsBefore = threadCount();
    const uintptr_t handleBefore = freshHandleValue();
    constexpr int kRounds = 5;
    for (int i = 0; i < kRounds; ++i) {
        round(uniquePipeName("ctl"), stopMs);
        if (HasFatalFailure()) return;
        EXPECT_LT(stopMs, 2000u);
    }
    EXPECT_EQ(threadCount(), threadsBefore);
    // One handle left per round would raise the value by 4 * kRounds = 20.
    EXPECT_LE(freshHandleValue(), handleBefore + 8) << handleBefore;
}

// Who may act for everyone, judged from the token as the service sees it (an impersonation
// token): this process's own (an administrator under Wine), the same with Administrators for
// deny only (a filtered token), and with Everyone as the only restricting SID (a sandbox).
TEST(PipeIdentityTest, AdministratorsCountOnlyWhenEnabledAndNotRestrictedAway) {
    HANDLE process = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process));
    UniqueHandle own(process);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY, world = SECURITY_WORLD_SID_AUTHORITY;
    PSID admins = nullptr, everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                         &admins));
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    SID_AND_ATTRIBUTES adminsOnly = {admins, 0}, everyoneOnly = {everyone, 0};
    BOOL isAdmin = FALSE;
    ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &isAdmin));
    const struct {
        const char* what;
        DWORD disabled, restricting;
        SID_AND_ATTRIBUTES* disable;
        SID_AND_ATTRIBUTES* restrict;
        bool privileged;
    } cases[] = {
        {"own token", 0, 0, nullptr, nullptr, isAdmin != FALSE},
        {"Administrators for deny only", 1, 0, &adminsOnly, nullptr, false},
        {"restricted to Everyone", 0, 1, nullptr, &everyoneOnly, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE made = nullptr;
        if (c.disabled + c.restricting == 0) {
            ASSERT_TRUE(DuplicateToken(own.get(), SecurityIdentification, &made));
        } else {
            HANDLE restricted = nullptr;
            if (!CreateRestrictedToken(own.get(), 0, c.disabled, c.disable, 0, nullptr, c.restricting, c.restrict,
                                       &restricted)) {
                std::printf("[ skipped  ] %s: CreateRestrictedToken failed with %lu here\n", c.what, GetLastError());
                continue;
            }
            UniqueHandle primary(restricted);
            if (c.restricting != 0 && !IsTokenRestricted(primary.get())) {
                // Wine makes the token but keeps no restricting SIDs: only Windows can show this.
                std::printf("[ skipped  ] %s: this system keeps no restricting SIDs\n", c.what);
                continue;
            }
            ASSERT_TRUE(DuplicateToken(primary.get(), SecurityIdentification, &made));
        }
        UniqueHandle token(made);
        EXPECT_EQ(PipeIdentity::privileged(token.get(), PipeIdentity::userOf(token.get())), c.privileged);
        // LocalSystem's SID alone makes a caller privileged, whatever its groups.
        EXPECT_TRUE(PipeIdentity::privileged(token.get(), "S-1-5-18"));
    }
    FreeSid(admins);
    FreeSid(everyone);
}
