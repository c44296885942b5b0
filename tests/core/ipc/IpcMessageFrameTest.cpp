#include "core/ipc/IpcFrameAssembler.h"
#include "core/ipc/IpcMessageFrame.h"
#include "core/ipc/IpcParameterWriter.h"
#include "tests/core/ipc/IpcTestBytes.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using State = IpcFrameAssembler::State;

Bytes Frame(const Bytes& payload) {
    Data frame;
    EXPECT_EQ(IpcMessageFrame::encode(ToData(payload), frame), 0);
    return FromData(frame);
}

// Feeds frame in chunks of chunkSize and returns the state after each chunk.
std::vector<State> Feed(IpcFrameAssembler& assembler, const Bytes& frame, std::size_t chunkSize) {
    std::vector<State> states;
    for (std::size_t at = 0; at < frame.size(); at += chunkSize) {
        const std::size_t n = std::min(chunkSize, frame.size() - at);
        states.push_back(assembler.append(frame.data() + at, n));
    }
    return states;
}

Bytes Pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    return b;
}

TEST(IpcMessageFrame, EncodesLengthBigEndianBeforeThePayload) {
    Data payload;
    IpcParameterWriter(payload).functionId(34).returnCode(0);
    Data frame;
    ASSERT_EQ(IpcMessageFrame::encode(payload, frame), 0);
    EXPECT_EQ(FromData(frame), Hex("00 00 00 10  00 22 04 01 00 00 00 00 00 00 00 04 00 00 00 00"));

    EXPECT_EQ(Frame({}), Hex("00 00 00 00"));
    const Bytes big = Pattern(0x010203);
    const Bytes framed = Frame(big);
    ASSERT_EQ(framed.size(), big.size() + 4);
    EXPECT_EQ(Bytes(framed.begin(), framed.begin() + 4), Hex("00 01 02 03"));
    EXPECT_TRUE(std::equal(big.begin(), big.end(), framed.begin() + 4));
}

TEST(IpcMessageFrame, RefusesToEncodeAPayloadAboveTheCap) {
    Data frame = ToData(Hex("AA BB"));
    const Data atCap(IpcMessageFrame::kMaxPayloadLength, 0x5A);
    ASSERT_EQ(IpcMessageFrame::encode(atCap, frame), 0);
    EXPECT_EQ(frame.Size(), IpcMessageFrame::kMaxPayloadLength + 4);

    frame = ToData(Hex("AA BB"));
    const Data overCap(IpcMessageFrame::kMaxPayloadLength + 1, 0x5A);
    EXPECT_EQ(IpcMessageFrame::encode(overCap, frame), IpcMessageFrame::kTooLong);
    EXPECT_EQ(FromData(frame), Hex("AA BB"));
}

TEST(IpcMessageFrame, LargestExchangeReplyFillsTheCapExactly) {
    // The reply of an exchange with the largest reply size the service grants.
    Data reply;
    const Data array(IpcMessageFrame::kMaxExchangeReplySize, 0);
    IpcParameterWriter(reply)
        .functionId(26)
        .returnCode(0)
        .byteArray(2, array.Bytes(), array.Size())
        .longValue(2, 0);
    EXPECT_EQ(reply.Size(), IpcMessageFrame::kMaxPayloadLength);
    Data frame;
    EXPECT_EQ(IpcMessageFrame::encode(reply, frame), 0);
}

TEST(IpcFrameAssembler, AssemblesAMessageFromPipeSizedChunks) {
    const Bytes payload = Pattern(10000);
    IpcFrameAssembler assembler;
    EXPECT_EQ(Feed(assembler, Frame(payload), 4096),
              (std::vector<State>{State::NeedMore, State::NeedMore, State::Complete}));
    EXPECT_EQ(assembler.endOfStream(), 0);
    EXPECT_EQ(assembler.declaredLength(), 10000u);
    EXPECT_EQ(FromData(assembler.takePayload()), payload);
    // The payload is handed over, not shared.
    EXPECT_EQ(assembler.takePayload().Size(), 0u);
}

TEST(IpcFrameAssembler, ChunkBoundariesAnywhereGiveTheSamePayload) {
    // Byte-mode pipes split wherever they like, inside the length too.
    const Bytes payload = Pattern(37);
    const Bytes frame = Frame(payload);
    for (std::size_t chunk = 1; chunk <= frame.size(); ++chunk) {
        IpcFrameAssembler assembler;
        const std::vector<State> states = Feed(assembler, frame, chunk);
        EXPECT_EQ(states.back(), State::Complete) << "chunk " << chunk;
        EXPECT_EQ(std::count(states.begin(), states.end(), State::Complete), 1) << "chunk " << chunk;
        EXPECT_EQ(FromData(assembler.takePayload()), payload) << "chunk " << chunk;
    }
}

TEST(IpcFrameAssembler, ZeroLengthFrameCompletesWithAnEmptyPayload) {
    IpcFrameAssembler assembler;
    EXPECT_EQ(assembler.append(Hex("00 00").data(), 2), State::NeedMore);
    EXPECT_FALSE(assembler.hasLength());
    EXPECT_EQ(assembler.append(Hex("00 00").data(), 2), State::Complete);
    EXPECT_EQ(assembler.takePayload().Size(), 0u);
    EXPECT_EQ(assembler.endOfStream(), 0);
}

TEST(IpcFrameAssembler, RejectsBadFramesWithDistinctCodes) {
    const uint32_t cap = IpcMessageFrame::kMaxPayloadLength;
    struct Case {
        const char* what;
        Bytes stream;
        State state;
        int32_t endCode;
    };
    const Case cases[] = {
        {"nothing arrived", {}, State::NeedMore, IpcMessageFrame::kIncomplete},
        {"length cut short", Hex("00 00 00"), State::NeedMore, IpcMessageFrame::kIncomplete},
        {"payload cut short", Hex("00 00 00 05 01 02 03"), State::NeedMore, IpcMessageFrame::kIncomplete},
        {"one byte past the length", Hex("00 00 00 02 01 02 03"), State::Failed, IpcMessageFrame::kOverrun},
        {"bytes after an empty frame", Hex("00 00 00 00 FF"), State::Failed, IpcMessageFrame::kOverrun},
        {"a second frame behind the first", Hex("00 00 00 01 AA 00 00 00 01 BB"), State::Failed,
         IpcMessageFrame::kOverrun},
        {"one above the cap", Hex("00 10 00 01"), State::Failed, IpcMessageFrame::kTooLong},
        {"largest length", Hex("FF FF FF FF 00 00"), State::Failed, IpcMessageFrame::kTooLong},
    };
    ASSERT_EQ(IpcMessageFrame::readLength(Hex("00 10 00 01").data()), cap + 1);
    for (const Case& c : cases) {
        IpcFrameAssembler assembler;
        const State state = c.stream.empty() ? assembler.state() : assembler.append(c.stream.data(), c.stream.size());
        EXPECT_EQ(state, c.state) << c.what;
        EXPECT_EQ(assembler.endOfStream(), c.endCode) << c.what;
        EXPECT_EQ(assembler.takePayload().Size(), 0u) << c.what;
    }
}

TEST(IpcFrameAssembler, OverrunInALaterChunkFailsTheCompletedFrame) {
    IpcFrameAssembler assembler;
    const Bytes frame = Frame(Hex("01 02"));
    ASSERT_EQ(assembler.append(frame.data(), frame.size()), State::Complete);
    EXPECT_EQ(assembler.append(Hex("03").data(), 1), State::Failed);
    EXPECT_EQ(assembler.error(), IpcMessageFrame::kOverrun);
    EXPECT_EQ(assembler.takePayload().Size(), 0u);
    // Once failed it stays failed, whatever follows.
    EXPECT_EQ(assembler.append(frame.data(), frame.size()), State::Failed);
    EXPECT_EQ(assembler.error(), IpcMessageFrame::kOverrun);
}

TEST(IpcFrameAssembler, CapIsCheckedAsSoonAsTheLengthIsIn) {
    IpcFrameAssembler assembler(16);
    EXPECT_EQ(assembler.append(Hex("00 00 00").data(), 3), State::NeedMore);
    EXPECT_EQ(assembler.append(Hex("11").data(), 1), State::Failed);
    EXPECT_EQ(assembler.error(), IpcMessageFrame::kTooLong);
    EXPECT_EQ(assembler.declaredLength(), 17u);

    IpcFrameAssembler exact(16);
    const Bytes frame = Frame(Pattern(16));
    EXPECT_EQ(exact.append(frame.data(), frame.size()), State::Complete);
}

TEST(IpcFrameAssembler, AcceptsAFrameOfExactlyTheCap) {
    const Bytes frame = Frame(Pattern(IpcMessageFrame::kMaxPayloadLength));
    IpcFrameAssembler assembler;
    const std::vector<State> states = Feed(assembler, frame, 4096);
    EXPECT_EQ(states.back(), State::Complete);
    EXPECT_EQ(assembler.takePayload().Size(), IpcMessageFrame::kMaxPayloadLength);
}

TEST(IpcFrameAssembler, ResetTakesANewFrameAfterAFailure) {
    IpcFrameAssembler assembler;
    ASSERT_EQ(assembler.append(Hex("FF FF FF FF").data(), 4), State::Failed);
    assembler.reset();
    EXPECT_EQ(assembler.state(), State::NeedMore);
    EXPECT_EQ(assembler.error(), 0);
    const Bytes frame = Frame(Hex("00 02"));
    EXPECT_EQ(assembler.append(frame.data(), frame.size()), State::Complete);
    EXPECT_EQ(FromData(assembler.takePayload()), Hex("00 02"));
}

}  // namespace
