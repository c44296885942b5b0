// A frame's declared length must not decide what the reader allocates: only bytes that arrived
// may. The largest single allocation is recorded while a pipe reads hostile frames.
#include "core/ipc/IpcOverlappedNamedPipe.h"
#include "IpcTestPipes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> recording{false};
std::atomic<std::size_t> largest{0};
}  // namespace

void* operator new(std::size_t n) {
    if (recording.load()) {
        std::size_t seen = largest.load();
        while (n > seen && !largest.compare_exchange_weak(seen, n)) {
        }
    }
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

TEST(IpcPipeAllocation, DeclaredLengthsDoNotDriveAllocation) {
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        int32_t expected;
    } cases[] = {
        {"above the cap", {0xFF, 0xFF, 0xFF, 0xF0, 1, 2, 3}, IpcMessageFrame::kTooLong},
        {"just above the cap", {0x00, 0x10, 0x00, 0x01}, IpcMessageFrame::kTooLong},
        {"stops short of 1,000,000 bytes", {0x00, 0x0F, 0x42, 0x40, 1, 2, 3, 4, 5}, IpcMessageFrame::kIncomplete},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = uniquePipeName("alloc");
        IpcOverlappedNamedPipe server;
        server.create(name, true, nullptr);
        IpcOverlappedNamedPipe client;
        ASSERT_EQ(client.open(IpcOverlappedNamedPipe::kLocalPrefix + name, 5000), 0);
        ASSERT_EQ(server.connect(5000), 0);
        ASSERT_TRUE(rawWrite(client.handle(), c.bytes));
        // The end of the stream for the short frame.
        client.close();
        Data payload;
        largest.store(0);
        recording.store(true);
        const int32_t rc = server.read(payload, 5000);
        recording.store(false);
        EXPECT_EQ(rc, c.expected);
        EXPECT_EQ(payload.Size(), 0u);
        EXPECT_LT(largest.load(), 64u * 1024u);
        // The short frame did keep its few bytes: proof that allocations are being seen.
        if (c.expected == IpcMessageFrame::kIncomplete) {
            EXPECT_GT(largest.load(), 0u);
        }
    }
}
