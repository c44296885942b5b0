#pragma once
// Collects the chunks of one frame as a pipe delivers them and yields exactly one payload. The
// length is checked against the cap as soon as its 4 bytes are in, and storage only ever grows
// with bytes that actually arrived. One thread at a time.
#include "core/ipc/IpcMessageFrame.h"
#include "export/common/Data.h"

#include <cstddef>
#include <cstdint>

class IpcFrameAssembler {
public:
    enum class State { NeedMore, Complete, Failed };

    explicit IpcFrameAssembler(uint32_t maxPayloadLength = IpcMessageFrame::kMaxPayloadLength);

    // Takes the next n bytes of the stream and returns the state after them. A frame whose
    // length is above the cap, or bytes beyond the declared length (in this chunk or a later
    // one), fail the frame; once failed, further bytes are ignored.
    State append(const uint8_t* p, std::size_t n);

    State state() const { return state_; }
    // 0 unless failed: IpcMessageFrame::kTooLong or kOverrun.
    int32_t error() const { return error_; }
    // What a stream ending now amounts to: 0 when complete, the failure code when failed,
    // IpcMessageFrame::kIncomplete otherwise.
    int32_t endOfStream() const;
    // True once the 4 length bytes are in; declaredLength() is valid from then on.
    bool hasLength() const { return headerHave_ == IpcMessageFrame::kHeaderSize; }
    uint32_t declaredLength() const { return declared_; }

    // The payload when complete (the assembler keeps none of it); empty in any other state.
    Data takePayload();

    // Ready for a new frame.
    void reset();

private:
    State fail(int32_t code);

    uint32_t maxPayloadLength_;
    uint8_t header_[IpcMessageFrame::kHeaderSize];
    std::size_t headerHave_;
    uint32_t declared_;
    Data payload_;
    State state_;
    int32_t error_;
};
