// A client's request on the service pipe, as the connection thread takes it: the frame assembled
// from chunks whose sizes the input's first byte chooses, then the payload handed to the
// service's own function mapper (BcxFunctionMapper, the eleven handlers) over real sessions whose
// ports take no bytes (every write fails at once, so nothing waits for a printer), and the reply
// framed, reassembled and read back as a client reads it. Payloads with id 1001 also go through
// the callback message's parse, and every payload through interpretReply, as a callback client's
// reply.
// Checked: the assembler's outcome equals the one the whole stream dictates (complete, too long,
// overrun or incomplete) whatever the chunks, and a complete payload is exactly the declared
// bytes; requests that get no reply leave the reply empty; every other reply echoes the id and
// holds, after it, either nothing (a parameter of the wrong direction or type) or a return code
// followed by out-parameters only, with no byte left over, and comes through framing unchanged;
// table names and ids map both ways; a parsed callback rebuilds to the same payload.
#include "core/dispatch/BcxFunctionMapper.h"
#include "core/dispatch/FunctionTable.h"
#include "core/ipc/IpcCallbackMessage.h"
#include "core/ipc/IpcFrameAssembler.h"
#include "core/ipc/IpcMessageFrame.h"
#include "core/ipc/IpcParameterReader.h"
#include "core/ipc/IpcParameterWriter.h"
#include "core/sessions/AlertCallbackRegistry.h"
#include "core/sessions/PortFactory.h"
#include "core/sessions/PrinterOperations.h"
#include "core/usb/port/InterpreterLookup.h"
#include "core/usb/port/Port.h"
#include "export/common/PropertyText.h"
#include "fuzz/FuzzCheck.h"
#include "interpreters/npa/NpaInterpreter.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Remaining(const Data& d) { return d.Size() == 0 ? Bytes() : Bytes(d.Bytes(), d.Bytes() + d.Size()); }

// The NPA interpreter for every lookup, as the service's plug-in answers for NPA printers.
class NpaLookup : public InterpreterLookup {
public:
    NpaLookup() { NpaInterpreter::Initialize(); }
    ~NpaLookup() override { NpaInterpreter::Uninitialize(); }
    CommandManager* getCommandManager(const std::string& text) override {
        std::string interpreter;
        if (FindElement(text, "Interpreter", interpreter) && interpreter != "Npa") return &nullCommands_;
        return NpaInterpreter::GetCommandManager();
    }
    PacketManager* getPacketManager(const Data&) override { return NpaInterpreter::GetPacketManager(); }

private:
    NullCommandManager nullCommands_;
};

// A printer that is there but takes no bytes: connects work, every write fails with the base
// port's 50, so an exchange or a registration ends at once instead of waiting for a reply.
class DeafPort : public Port {
public:
    explicit DeafPort(const std::string& transportString) : Port(transportString) {}
    uint32_t connect() override { return 0; }
    uint32_t disconnect() override { return 0; }
};

class DeafPorts : public PortFactory {
public:
    std::unique_ptr<Port> createPort(std::string& transportString) override {
        return std::unique_ptr<Port>(new DeafPort(transportString));
    }
};

// The handle the seed corpus uses; a session on USB001 is open under it before each request.
constexpr uint32_t kOpenHandle = 0x2001;

// The service's handlers over sessions, made afresh for every input so that no input depends
// on the ones before it.
struct ServiceStack {
    NpaLookup& lookup;
    DeafPorts ports;
    AlertCallbackRegistry callbacks;
    SessionServices services{lookup, callbacks, &ports, nullptr};
    PrinterTable table;
    PrinterOperations operations{services, table};
    BcxFunctionMapper mapper{operations, callbacks};
    explicit ServiceStack(NpaLookup& l) : lookup(l) { FUZZ_CHECK(operations.openPrinterEx("USB001", kOpenHandle) == 0); }
    ~ServiceStack() { table.destroyAll(); }
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

// One out-parameter of any type; false when none reads.
bool ReadOutParameter(IpcParameterReader& in) {
    constexpr uint8_t kOut = IpcParameter::kDirectionOut;
    uint32_t number = 0;
    std::string text;
    Bytes bytes;
    return in.longValue(number, kOut) == 0 || in.byteArray(bytes, kOut) == 0 || in.string(text, kOut) == 0;
}

void Dispatch(const Data& payload) {
    static NpaLookup lookup;
    ServiceStack stack(lookup);
    Data request = payload;
    Data reply;
    const int32_t rc = stack.mapper.dispatch(CallerIdentity::localSystem(), request, reply);

    uint16_t id = 0;
    const bool hasId = IpcParameterReader(payload).functionId(id) == 0;
    const char* name = hasId ? FunctionTable::nameOf(id) : nullptr;
    if (payload.Size() == 0) {
        FUZZ_CHECK(rc == BcxFunctionMapper::kEmptyRequest && reply.Size() == 0);
        return;
    }
    if (!hasId || name == nullptr || rc == BcxFunctionMapper::kNoHandler) {
        FUZZ_CHECK(rc == BcxFunctionMapper::kNoHandler && reply.Size() == 0);
        return;
    }
    FUZZ_CHECK(rc == 0);

    // The reply a client reads: through framing unchanged, the id echoed, then the rest.
    Data frame;
    FUZZ_CHECK(IpcMessageFrame::encode(reply, frame) == IpcMessageFrame::kOk);
    IpcFrameAssembler assembler;
    FUZZ_CHECK(assembler.append(frame.Bytes(), frame.Size()) == IpcFrameAssembler::State::Complete);
    const Data received = assembler.takePayload();
    FUZZ_CHECK(Remaining(received) == Remaining(reply));
    IpcParameterReader in(received);
    uint16_t echoed = 0;
    FUZZ_CHECK(in.functionId(echoed) == 0 && echoed == id);
    if (in.remaining() == 0) return;  // a parameter of the wrong direction or type
    int32_t code = 0;
    FUZZ_CHECK(in.returnCode(code) == 0);
    while (in.remaining() != 0) FUZZ_CHECK(ReadOutParameter(in));
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
