#include "core/ipc/IpcFrameAssembler.h"

#include <algorithm>
#include <cstring>

IpcFrameAssembler::IpcFrameAssembler(uint32_t maxPayloadLength)
    : maxPayloadLength_(maxPayloadLength), header_{}, headerHave_(0), declared_(0),
      state_(State::NeedMore), error_(0) {}

IpcFrameAssembler::State IpcFrameAssembler::append(const uint8_t* p, std::size_t n) {
    if (state_ == State::Failed || p == nullptr || n == 0) {
        return state_;
    }
    if (state_ == State::Complete) {
        // One connection carries one message: anything after it is not part of a valid frame.
        return fail(IpcMessageFrame::kOverrun);
    }
    // A byte-mode pipe may hand over the length in pieces, so it is collected across chunks.
    if (!hasLength()) {
        const std::size_t take = std::min(n, IpcMessageFrame::kHeaderSize - headerHave_);
        std::memcpy(header_ + headerHave_, p, take);
        headerHave_ += take;
        p += take;
        n -= take;
        if (!hasLength()) {
            return state_;
        }
        declared_ = IpcMessageFrame::readLength(header_);
        if (declared_ > maxPayloadLength_) {
            return fail(IpcMessageFrame::kTooLong);
        }
    }
    const std::size_t missing = declared_ - payload_.Size();
    if (n > missing) {
        return fail(IpcMessageFrame::kOverrun);
    }
    // n <= missing <= the cap, so the cast is exact.
    payload_.Append(p, static_cast<uint32_t>(n));
    if (payload_.Size() == declared_) {
        state_ = State::Complete;
    }
    return state_;
}

int32_t IpcFrameAssembler::endOfStream() const {
    switch (state_) {
    case State::Complete:
        return IpcMessageFrame::kOk;
    case State::Failed:
        return error_;
    case State::NeedMore:
        break;
    }
    return IpcMessageFrame::kIncomplete;
}

Data IpcFrameAssembler::takePayload() {
    Data taken;
    if (state_ == State::Complete) {
        taken = payload_;
        payload_.Clear();
    }
    return taken;
}

void IpcFrameAssembler::reset() {
    headerHave_ = 0;
    declared_ = 0;
    payload_.Clear();
    state_ = State::NeedMore;
    error_ = 0;
}

IpcFrameAssembler::State IpcFrameAssembler::fail(int32_t code) {
    // A rejected frame keeps nothing of what it delivered.
    payload_.Clear();
    error_ = code;
    state_ = State::Failed;
    return state_;
}
