// A client's request on the service pipe, as the connection thread takes it: the frame assembled
// from chunks whose sizes the input's first byte chooses, then the payload's function id looked
// up in the function table and the handled function's parameters read in the order and with the
// types and bounds of the service's handlers (BcxFunctionMapper), answered by a stand-in for the
// printer operations, and the reply framed, reassembled and read back as a client reads it.
// Payloads with id 1001 go through the callback message's parse instead, and every payload
// through interpretReply, as a callback client's reply. BcxFunctionMapper itself includes the
// Windows pipe endpoint and cannot be built here; its parameter schema is repeated below.
// Checked: the assembler's outcome equals the one the whole stream dictates (complete, too long,
// overrun or incomplete) whatever the chunks, and a complete payload is exactly the declared
// bytes; a failed read leaves the reader where it was; what the reader accepted, written again
// with IpcParameterWriter, gives back exactly the bytes it read; table names and ids map both
// ways; a parsed callback rebuilds to the same payload; a reply reads back equal to what was
// written.
#include "core/dispatch/FunctionTable.h"
#include "core/ipc/IpcCallbackMessage.h"
#include "core/ipc/IpcFrameAssembler.h"
#include "core/ipc/IpcMessageFrame.h"
#include "core/ipc/IpcParameterReader.h"
#include "core/ipc/IpcParameterWriter.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kIn = IpcParameter::kDirectionIn;
constexpr uint8_t kOut = IpcParameter::kDirectionOut;
// The handlers' bounds.
constexpr std::size_t kMaxCallbackText = 260;
constexpr int32_t kBadArgument = 87;

Bytes Remaining(const Data& d) { return d.Size() == 0 ? Bytes() : Bytes(d.Bytes(), d.Bytes() + d.Size()); }

enum class Kind { Long, String, CallbackText, ByteArray };

struct Schema {
    const char* name;
    std::vector<Kind> parameters;
};

// The eleven handled functions and their request parameters, in the handlers' reading order.
const Schema kSchemas[] = {
    {"BcxGetClientId", {Kind::String}},
    {"BcxOpenPrinter", {Kind::Long, Kind::Long}},
    {"BcxOpenPrinterEx", {Kind::Long, Kind::String, Kind::Long}},
    {"BcxClosePrinter", {Kind::Long, Kind::Long}},
    {"BcxEnumSpecificPrinter", {Kind::Long, Kind::String}},
    {"BcxExchangeNpaPrinter", {Kind::Long, Kind::Long, Kind::ByteArray, Kind::Long, Kind::Long}},
    {"BcxExchangeBidiPrinter", {Kind::Long, Kind::Long, Kind::ByteArray, Kind::Long, Kind::Long}},
    {"BcxRegisterForAlertsPrinter", {Kind::Long, Kind::Long, Kind::Long, Kind::CallbackText}},
    {"BcxUnregisterForAlertsPrinter", {Kind::Long, Kind::Long}},
    {"BcxSetLongPrinter", {Kind::Long, Kind::Long, Kind::String, Kind::Long}},
    {"BcxSetStringPrinter", {Kind::Long, Kind::Long, Kind::String, Kind::String, Kind::Long}},
};

struct Value {
    uint32_t number = 0;
    std::string text;
    Bytes bytes;
};

// Chunk sizes from a small generator seeded by the input's first byte: 1 to 64 bytes, the same
// sequence for the same byte, so that a saved input replays the same reads.
std::vector<size_t> Chunks(uint8_t seed, size_t total) {
    std::vector<size_t> sizes;
    uint32_t state = seed * 2654435761u + 1;
    for (size_t at = 0; at < total;) {
        state = state * 1103515245u + 12345u;
        size_t n = seed == 0 ? total : 1 + (state >> 16) % 64;
        if (n > total - at) n = total - at;
        sizes.push_back(n);
        at += n;
    }
    return sizes;
}

// The state the whole stream dictates, judged from its header alone.
IpcFrameAssembler::State Expected(const Bytes& stream, int32_t& code) {
    code = IpcMessageFrame::kIncomplete;
    if (stream.size() < IpcMessageFrame::kHeaderSize) return IpcFrameAssembler::State::NeedMore;
    const uint64_t declared = IpcMessageFrame::readLength(stream.data());
    const uint64_t body = stream.size() - IpcMessageFrame::kHeaderSize;
    if (declared > IpcMessageFrame::kMaxPayloadLength) {
        code = IpcMessageFrame::kTooLong;
        return IpcFrameAssembler::State::Failed;
    }
    if (body > declared) {
        code = IpcMessageFrame::kOverrun;
        return IpcFrameAssembler::State::Failed;
    }
    if (body < declared) return IpcFrameAssembler::State::NeedMore;
    code = IpcMessageFrame::kOk;
    return IpcFrameAssembler::State::Complete;
}

int32_t ReadOne(IpcParameterReader& in, Kind kind, Value& v, uint8_t direction = kIn) {
    switch (kind) {
    case Kind::Long:
        return in.longValue(v.number, direction);
    case Kind::String:
        return in.string(v.text, direction);
    case Kind::CallbackText:
        return in.string(v.text, direction, kMaxCallbackText);
    case Kind::ByteArray:
        return in.byteArray(v.bytes, direction);
    }
    return -1;
}

void WriteOne(IpcParameterWriter& out, Kind kind, const Value& v, uint8_t direction) {
    switch (kind) {
    case Kind::Long:
        out.longValue(direction, v.number);
        break;
    case Kind::String:
    case Kind::CallbackText:
        out.string(direction, v.text);
        break;
    case Kind::ByteArray:
        out.byteArray(direction, v.bytes.data(), v.bytes.size());
        break;
    }
}

// A client reads the reply frame: it comes through the assembler whole and reads back as written.
void CheckReply(uint16_t id, int32_t code, const std::vector<Kind>& outKinds, const std::vector<Value>& outValues) {
    Data payload;
    IpcParameterWriter writer(payload);
    writer.functionId(id).returnCode(code);
    for (size_t i = 0; i < outKinds.size(); ++i) WriteOne(writer, outKinds[i], outValues[i], kOut);
    Data frame;
    FUZZ_CHECK(IpcMessageFrame::encode(payload, frame) == IpcMessageFrame::kOk);
    IpcFrameAssembler assembler;
    FUZZ_CHECK(assembler.append(frame.Bytes(), frame.Size()) == IpcFrameAssembler::State::Complete);
    const Data received = assembler.takePayload();
    FUZZ_CHECK(Remaining(received) == Remaining(payload));

    IpcParameterReader in(received);
    uint16_t echoed = 0;
    int32_t rc = 0;
    FUZZ_CHECK(in.functionId(echoed) == 0 && echoed == id);
    FUZZ_CHECK(in.returnCode(rc) == 0 && rc == code);
    for (size_t i = 0; i < outKinds.size(); ++i) {
        Value back;
        FUZZ_CHECK(ReadOne(in, outKinds[i], back, kOut) == 0);
        FUZZ_CHECK(back.number == outValues[i].number && back.text == outValues[i].text &&
                   back.bytes == outValues[i].bytes);
    }
    FUZZ_CHECK(in.remaining() == 0);
}

// The stand-in for the printer operations: a code that depends on every argument, so that a
// mix-up of parameters would show in the reply.
uint32_t Operation(const std::vector<Value>& values) {
    uint32_t code = 0;
    for (const Value& v : values) {
        code = code * 31u + v.number + static_cast<uint32_t>(v.text.size()) + static_cast<uint32_t>(v.bytes.size());
    }
    return code % 2000u;
}

void Dispatch(const Data& payload) {
    IpcParameterReader in(payload);
    uint16_t id = 0;
    if (in.functionId(id) != IpcParameter::kOk) {
        FUZZ_CHECK(payload.Size() < 2 && in.offset() == 0);
        return;
    }
    const char* name = FunctionTable::nameOf(id);
    if (name == nullptr) return;
    uint16_t back = 0;
    FUZZ_CHECK(FunctionTable::idOf(name, back) && back == id);
    const Schema* schema = nullptr;
    for (const Schema& s : kSchemas) {
        if (std::strcmp(s.name, name) == 0) schema = &s;
    }
    if (schema == nullptr) return;

    Data echo;
    IpcParameterWriter writer(echo);
    writer.functionId(id);
    std::vector<Value> values;
    int32_t rc = 0;
    for (const Kind kind : schema->parameters) {
        const size_t before = in.offset();
        Value v;
        rc = ReadOne(in, kind, v);
        if (rc != 0) {
            FUZZ_CHECK(in.offset() == before);
            FUZZ_CHECK(rc == IpcParameter::kBadLength || rc == IpcParameter::kWrongDirection ||
                       rc == IpcParameter::kWrongType || rc == IpcParameter::kBadString ||
                       rc == IpcParameter::kStringTooLong);
            FUZZ_CHECK(rc != IpcParameter::kStringTooLong || kind == Kind::CallbackText);
            break;
        }
        FUZZ_CHECK(in.offset() > before && in.offset() <= payload.Size());
        if (kind == Kind::CallbackText) FUZZ_CHECK(v.text.size() <= kMaxCallbackText);
        FUZZ_CHECK(v.text.find('\0') == std::string::npos);
        WriteOne(writer, kind, v, kIn);
        values.push_back(v);
    }
    // Whatever was accepted is exactly what the writer makes of it.
    FUZZ_CHECK(echo.Size() == in.offset());
    FUZZ_CHECK(std::memcmp(echo.Bytes(), payload.Bytes(), echo.Size()) == 0);
    if (rc != 0) {
        // Wrong direction or type leave the bare id; every other mistake is answered with its code.
        if (rc != IpcParameter::kWrongDirection && rc != IpcParameter::kWrongType) CheckReply(id, rc, {}, {});
        return;
    }

    const std::string function = name;
    if (function == "BcxExchangeNpaPrinter" || function == "BcxExchangeBidiPrinter") {
        const uint32_t requestLength = values[3].number;
        const uint32_t replySize = values[4].number;
        if (requestLength > values[2].bytes.size()) return CheckReply(id, IpcParameter::kBadLength, {}, {});
        if (replySize > IpcMessageFrame::kMaxExchangeReplySize) return CheckReply(id, kBadArgument, {}, {});
        const bool bidi = function == "BcxExchangeBidiPrinter";
        Value buffer;
        buffer.bytes.assign(replySize, 0);
        Value returned;
        returned.number = replySize / 2;
        if (replySize > 0 || bidi) {
            CheckReply(id, static_cast<int32_t>(Operation(values)), {Kind::ByteArray, Kind::Long}, {buffer, returned});
        } else {
            CheckReply(id, static_cast<int32_t>(Operation(values)), {Kind::Long}, {returned});
        }
        return;
    }
    if (function == "BcxGetClientId" || function == "BcxEnumSpecificPrinter") {
        Value handle;
        handle.number = Operation(values);
        CheckReply(id, 0, {Kind::Long}, {handle});
        return;
    }
    CheckReply(id, static_cast<int32_t>(Operation(values)), {}, {});
}

void Callback(const Data& payload) {
    std::string text = "unchanged";
    Bytes packet = {0xEE};
    const int32_t rc = IpcCallbackMessage::parse(payload, text, packet);
    if (rc == 0) {
        const Data rebuilt = IpcCallbackMessage::build(text, packet.data(), packet.size());
        FUZZ_CHECK(Remaining(rebuilt) == Remaining(payload));
    } else {
        FUZZ_CHECK(text == "unchanged" && packet == Bytes{0xEE});
    }
    const int32_t code = IpcCallbackMessage::interpretReply(payload, 7);
    if (payload.Size() < 16) FUZZ_CHECK(code == IpcCallbackMessage::kNoValidReply);
}

void TableMapsBothWays() {
    static const bool checked = [] {
        size_t count = 0;
        for (const FunctionTableEntry* e = FunctionTable::begin(); e != FunctionTable::end(); ++e, ++count) {
            uint16_t id = 0;
            FUZZ_CHECK(FunctionTable::nameOf(e->id) == e->name);
            FUZZ_CHECK(FunctionTable::idOf(e->name, id) && id == e->id);
        }
        return count > 0;
    }();
    FUZZ_CHECK(checked);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TableMapsBothWays();
    if (size == 0) return 0;
    const Bytes stream(data + 1, data + size);
    int32_t expectedCode = 0;
    const IpcFrameAssembler::State expected = Expected(stream, expectedCode);

    IpcFrameAssembler assembler;
    size_t at = 0;
    for (const size_t n : Chunks(data[0], stream.size())) {
        assembler.append(stream.data() + at, n);
        at += n;
    }
    FUZZ_CHECK(assembler.state() == expected && assembler.endOfStream() == expectedCode);
    if (expected == IpcFrameAssembler::State::Failed) FUZZ_CHECK(assembler.error() == expectedCode);
    Data payload = assembler.takePayload();
    if (expected != IpcFrameAssembler::State::Complete) {
        FUZZ_CHECK(payload.Size() == 0);
        // The payload is read all the same: a stream cut short must not matter to the reader.
        payload = Data(stream.data(), static_cast<uint32_t>(stream.size()));
    } else {
        FUZZ_CHECK(Remaining(payload) == Bytes(stream.begin() + IpcMessageFrame::kHeaderSize, stream.end()));
        // One chunk or many: the same frame.
        assembler.reset();
        FUZZ_CHECK(assembler.append(stream.data(), stream.size()) == IpcFrameAssembler::State::Complete);
        FUZZ_CHECK(Remaining(assembler.takePayload()) == Remaining(payload));
    }

    Dispatch(payload);
    Callback(payload);
    return 0;
}
