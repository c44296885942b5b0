// Checks that no declared length makes the codec allocate: this program replaces the global
// allocation functions to record the largest single request while a case runs.
#include "core/ipc/IpcFrameAssembler.h"
#include "core/ipc/IpcParameterReader.h"
#include "tests/core/ipc/IpcTestBytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> largestAllocation{0};

void* Allocate(std::size_t n) {
    std::size_t seen = largestAllocation.load();
    while (n > seen && !largestAllocation.compare_exchange_weak(seen, n)) {
    }
    return std::malloc(n == 0 ? 1 : n);
}

}  // namespace

void* operator new(std::size_t n) {
    if (void* p = Allocate(n)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

// Well above any bookkeeping the codec needs, far below any declared length tried here.
constexpr std::size_t kSmall = 4096;

TEST(IpcCodecAllocation, TrackerSeesAnAllocation) {
    largestAllocation = 0;
    const std::unique_ptr<Bytes> big(new Bytes(100000));
    EXPECT_GE(largestAllocation.load(), 100000u);
}

TEST(IpcCodecAllocation, FrameLengthsAboveTheCapAllocateNothingOfTheirSize) {
    const Bytes headers[] = {Hex("FF FF FF FF"), Hex("00 10 00 01"), Hex("80 00 00 00 01 02 03")};
    for (const Bytes& header : headers) {
        IpcFrameAssembler assembler;
        largestAllocation = 0;
        EXPECT_EQ(assembler.append(header.data(), header.size()), IpcFrameAssembler::State::Failed);
        EXPECT_EQ(assembler.error(), IpcMessageFrame::kTooLong);
        EXPECT_LT(largestAllocation.load(), kSmall);
    }
}

TEST(IpcCodecAllocation, AFrameThatStopsShortHoldsOnlyWhatArrived) {
    // Declares the whole cap and then delivers 100 bytes: storage follows the bytes, not the
    // declaration, so a client cannot make the service reserve a megabyte with four bytes.
    Bytes frame = Hex("00 10 00 00");
    frame.resize(104, 0x11);
    IpcFrameAssembler assembler;
    largestAllocation = 0;
    EXPECT_EQ(assembler.append(frame.data(), frame.size()), IpcFrameAssembler::State::NeedMore);
    EXPECT_EQ(assembler.endOfStream(), IpcMessageFrame::kIncomplete);
    EXPECT_LT(largestAllocation.load(), kSmall);
}

TEST(IpcCodecAllocation, HugeParameterLengthsAllocateNothing) {
    const Bytes requests[] = {
        Hex("01 0A FF FF FF FF FF FF FF FF 01 02 03"),
        Hex("01 0A 00 00 00 01 00 00 00 00 01 02 03"),
        Hex("01 0A 00 00 00 00 7F FF FF FF 01 02 03"),
        Hex("01 09 FF FF FF FF FF FF FF FF 41 00"),
        Hex("01 09 00 00 00 00 FF FF FF FF 41 00"),
    };
    for (const Bytes& request : requests) {
        IpcParameterReader reader(request.data(), request.size());
        std::vector<uint8_t> bytes;
        std::string text;
        largestAllocation = 0;
        const int32_t rc = request[1] == IpcParameter::kTypeByteArray ? reader.byteArray(bytes) : reader.string(text);
        EXPECT_EQ(rc, IpcParameter::kBadLength);
        EXPECT_LT(largestAllocation.load(), kSmall);
    }
}

}  // namespace
