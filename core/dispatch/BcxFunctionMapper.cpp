#include "core/dispatch/BcxFunctionMapper.h"

#include "core/dispatch/FunctionTable.h"
#include "core/ipc/IpcMessageFrame.h"
#include "core/ipc/LocalPipeNames.h"
#include "export/common/PropertyText.h"
#include "runtime/Exception.h"
#include "runtime/TickCount.h"

#include <cctype>
#include <vector>

namespace {

constexpr uint8_t kOut = IpcParameter::kDirectionOut;
constexpr int32_t kInternalError = 1359;
constexpr int32_t kBadArgument = 87;

// Decisions on requests the reader accepts piece by piece but that do not hold together:
// - a request that ends inside a parameter, or whose length fields disagree with its bytes:
//   IpcParameter::kBadLength (24);
// - a string without its zero at the end of its length, or with one inside: kBadString (13);
// - a callback endpoint text over 260 characters: kStringTooLong (122);
// - an exchange whose request length exceeds the byte array sent: kBadLength (24), since the
//   client declared bytes it did not send;
// - an exchange whose reply size exceeds what one reply frame can carry: 87, before anything
//   is allocated or sent to the printer.
// Each is answered with the echoed id and the code, so a client learns why; only a parameter of
// the wrong direction or type leaves the bare id, as clients of the family expect. Bytes after
// the last parameter are ignored: older clients may send more than is read.
int32_t stop(int32_t rc, Data& reply) {
    if (rc != IpcParameter::kWrongDirection && rc != IpcParameter::kWrongType) {
        IpcParameterWriter(reply).returnCode(rc);
    }
    return rc;
}

int32_t answer(uint32_t rc, Data& reply) {
    IpcParameterWriter(reply).returnCode(static_cast<int32_t>(rc));
    return static_cast<int32_t>(rc);
}

// A handler that raised: whatever it had written is dropped and the client gets the id and the
// failure's code. Nothing may escape to the connection thread.
int32_t failed(uint16_t id, int32_t code, Data& reply) {
    try {
        reply.Clear();
        IpcParameterWriter(reply).functionId(id).returnCode(code);
        return 0;
    } catch (...) {
        return kInternalError;
    }
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
    const std::string other(b);
    if (a.size() != other.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(other[i])))
            return false;
    }
    return true;
}

}  // namespace

BcxFunctionMapper::BcxFunctionMapper(PrinterOperations& operations, AlertCallbackRegistry& callbacks,
                                     std::function<void(const std::string&)> log)
    : operations_(operations), callbacks_(callbacks), log_(std::move(log)) {
    handlers_["BcxGetClientId"] = &BcxFunctionMapper::getClientId;
    handlers_["BcxOpenPrinter"] = &BcxFunctionMapper::openPrinter;
    handlers_["BcxOpenPrinterEx"] = &BcxFunctionMapper::openPrinterEx;
    handlers_["BcxClosePrinter"] = &BcxFunctionMapper::closePrinter;
    handlers_["BcxEnumSpecificPrinter"] = &BcxFunctionMapper::enumSpecificPrinter;
    handlers_["BcxExchangeNpaPrinter"] = &BcxFunctionMapper::exchangeNpaPrinter;
    handlers_["BcxExchangeBidiPrinter"] = &BcxFunctionMapper::exchangeBidiPrinter;
    handlers_["BcxRegisterForAlertsPrinter"] = &BcxFunctionMapper::registerForAlerts;
    handlers_["BcxUnregisterForAlertsPrinter"] = &BcxFunctionMapper::unregisterForAlerts;
    handlers_["BcxSetLongPrinter"] = &BcxFunctionMapper::setLongPrinter;
    handlers_["BcxSetStringPrinter"] = &BcxFunctionMapper::setStringPrinter;
}

void BcxFunctionMapper::log(const std::string& line) const {
    if (log_) log_(line);
}

int32_t BcxFunctionMapper::dispatch(const CallerIdentity& caller, Data& request, Data& reply) {
    if (request.Size() == 0) return kEmptyRequest;
    IpcParameterReader in(request);
    uint16_t id = 0;
    // A single byte carries no id: dropped like an id nobody handles.
    if (in.functionId(id) != IpcParameter::kOk) return kNoHandler;
    const char* name = FunctionTable::nameOf(id);
    if (name == nullptr) return kNoHandler;
    const auto it = handlers_.find(name);
    if (it == handlers_.end()) return kNoHandler;

    reply.Clear();
    try {
        IpcParameterWriter(reply).functionId(id);
        (this->*(it->second))(caller, in, reply);
    } catch (const Exception& e) {
        return failed(id, e.code() != 0 ? e.code() : kInternalError, reply);
    } catch (...) {
        return failed(id, kInternalError, reply);
    }
    return 0;
}

uint32_t BcxFunctionMapper::takeClientId(std::atomic<uint32_t>& counter) {
    uint32_t current = counter.load();
    uint32_t value = 0;
    do {
        value = current == 0 ? 1 : current;
    } while (!counter.compare_exchange_weak(current, value + 1));
    return value;
}

uint32_t BcxFunctionMapper::nextClientId() {
    // Seeded on first use; a function-local static is initialised once even when connections race.
    static std::atomic<uint32_t> counter(tickCountMs());
    return takeClientId(counter);
}

int32_t BcxFunctionMapper::getClientId(const CallerIdentity& caller, IpcParameterReader& in, Data& reply) {
    std::string unused;
    const int32_t rc = in.string(unused);
    if (rc != 0) return stop(rc, reply);
    // The id is the caller's before the caller sees it, so no other user can register under it
    // first; an id someone registered ahead of time is passed over. When the caller holds all
    // the records it may, the id goes out unclaimed (its registration will be refused).
    uint32_t id = nextClientId();
    for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
        const uint32_t claimed = callbacks_.claim(id, caller);
        if (claimed != AlertCallbackRegistry::kTaken) {
            if (claimed != 0) log("BcxGetClientId " + caller.describe() + " id " + std::to_string(id) +
                                  " not reserved: rc=" + std::to_string(claimed));
            break;
        }
        id = nextClientId();
    }
    IpcParameterWriter(reply).returnCode(0).longValue(kOut, id);
    return 0;
}

int32_t BcxFunctionMapper::openPrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply) {
    uint32_t clientId = 0, handle = 0;
    int32_t rc = in.longValue(clientId);
    if (rc == 0) rc = in.longValue(handle);
    if (rc != 0) return stop(rc, reply);
    return answer(operations_.openPrinter(handle, caller), reply);
}

int32_t BcxFunctionMapper::openPrinterEx(const CallerIdentity& caller, IpcParameterReader& in, Data& reply) {
    uint32_t clientId = 0, handle = 0;
    std::string portName;
    int32_t rc = in.longValue(clientId);
    if (rc == 0) rc = in.string(portName);
    if (rc == 0) rc = in.longValue(handle);
    if (rc != 0) return stop(rc, reply);
    return answer(operations_.openPrinterEx(portName, handle, caller), reply);
}

int32_t BcxFunctionMapper::closePrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply) {
    uint32_t clientId = 0, handle = 0;
    int32_t rc = in.longValue(clientId);
    if (rc == 0) rc = in.longValue(handle);
    if (rc != 0) return stop(rc, reply);
    return answer(operations_.closePrinter(handle, caller), reply);
}

int32_t BcxFunctionMapper::enumSpecificPrinter(const CallerIdentity&, IpcParameterReader& in, Data& reply) {
    uint32_t clientId = 0;
    std::string portName;
    int32_t rc = in.longValue(clientId);
    if (rc == 0) rc = in.string(portName);
    if (rc != 0) return stop(rc, reply);
    uint32_t handle = 0;
    const uint32_t code = PrinterOperations::enumSpecificPrinter(portName, &handle);
    IpcParameterWriter(reply).returnCode(static_cast<int32_t>(code)).longValue(kOut, handle);
    return static_cast<int32_t>(code);
}

int32_t BcxFunctionMapper::exchangeNpaPrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply) {
    return exchange(caller, in, reply, false);
}

int32_t BcxFunctionMapper::exchangeBidiPrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply) {
    return exchange(caller, in, reply, true);
}

int32_t BcxFunctionMapper::exchange(const CallerIdentity& caller, IpcParameterReader& in, Data& reply, bool bidi) {
    uint32_t clientId = 0, handle = 0, requestLength = 0, replySize = 0;
    std::vector<uint8_t> request;
    int32_t rc = in.longValue(clientId);
    if (rc == 0) rc = in.longValue(handle);
    if (rc == 0) rc = in.byteArray(request);
    if (rc == 0) rc = in.longValue(requestLength);
    if (rc == 0) rc = in.longValue(replySize);
    if (rc != 0) return stop(rc, reply);
    if (requestLength > request.size()) return stop(IpcParameter::kBadLength, reply);
    if (replySize > IpcMessageFrame::kMaxExchangeReplySize) return answer(kBadArgument, reply);

    // Nothing of replySize is allocated until the answer is written: a caller asking for a
    // large reply holds no more memory than the printer's answer while it waits. Bytes past the
    // answer are zeros. The NPA form has no buffer for a size of 0 (the operation answers 87);
    // the bidi form always sends its byte array.
    const bool hasBuffer = replySize > 0 || bidi;
    Data answerBytes;
    uint32_t returnedLength = 0;
    const uint32_t code =
        hasBuffer ? operations_.exchangePacket(handle, request.empty() ? nullptr : request.data(), requestLength,
                                               answerBytes, replySize, &returnedLength, caller)
                  : PrinterOperations::kBadArgument;
    IpcParameterWriter writer(reply);
    writer.returnCode(static_cast<int32_t>(code));
    if (hasBuffer) writer.paddedByteArray(kOut, answerBytes.Bytes(), answerBytes.Size(), replySize);
    writer.longValue(kOut, returnedLength);
    return static_cast<int32_t>(code);
}

int32_t BcxFunctionMapper::registerForAlerts(const CallerIdentity& caller, IpcParameterReader& in, Data& reply) {
    uint32_t clientId = 0, handle = 0, mask = 0;
    std::string endpoint;
    int32_t rc = in.longValue(clientId);
    if (rc == 0) rc = in.longValue(handle);
    if (rc == 0) rc = in.longValue(mask);
    if (rc == 0) rc = in.string(endpoint, IpcParameter::kDirectionIn, kMaxCallbackText);
    if (rc != 0) return stop(rc, reply);
    // Judged here, so that the client gets a clear code instead of alerts that never arrive;
    // every callback checks again before it opens anything.
    if (!LocalPipeNames::namesLocalPipe(endpoint)) return answer(kNotLocalPipe, reply);

    // The record comes first, whatever becomes of the registration: a client that registers
    // with several printers names its pipe once per call. A full registry refuses the client
    // rather than registering it for alerts it could never be sent.
    const uint32_t added = callbacks_.add(clientId, CallbackRecord{clientId, endpoint, caller.userSid}, caller);
    if (added != 0) {
        log("BcxRegisterForAlertsPrinter " + caller.describe() + " client " + std::to_string(clientId) +
            (added == AlertCallbackRegistry::kNotOwner ? " refused: the id belongs to another user"
                                                      : " refused: no room for its callback record") +
            " rc=" + std::to_string(added));
        return answer(added, reply);
    }
    return answer(operations_.registerForAlerts(AlertRegistration{mask, clientId, handle}, caller), reply);
}

int32_t BcxFunctionMapper::unregisterForAlerts(const CallerIdentity& caller, IpcParameterReader& in, Data& reply) {
    uint32_t clientId = 0, handle = 0;
    int32_t rc = in.longValue(clientId);
    if (rc == 0) rc = in.longValue(handle);
    if (rc != 0) return stop(rc, reply);
    return answer(operations_.unregisterForAlerts(handle, clientId, caller), reply);
}

int32_t BcxFunctionMapper::setLongPrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply) {
    uint32_t clientId = 0, handle = 0, value = 0;
    std::string setting;
    int32_t rc = in.longValue(clientId);
    if (rc == 0) rc = in.longValue(handle);
    if (rc == 0) rc = in.string(setting);
    if (rc == 0) rc = in.longValue(value);
    if (rc != 0) return stop(rc, reply);
    if (!equalsIgnoringCase(setting, "SET BIDI TIMEOUT")) return answer(kUnknownSetting, reply);
    // An exchange waits this long holding its printer's session lock, so every other client of
    // the printer waits with it: no client may make that wait unbounded. 0 would fail every
    // exchange at once, and callers who send it usually mean "no time-out".
    if (value < kMinReplyTimeoutMs || value > kMaxReplyTimeoutMs) return answer(kBadArgument, reply);
    return answer(operations_.setTimeout(handle, value, caller), reply);
}

int32_t BcxFunctionMapper::setStringPrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply) {
    uint32_t clientId = 0, handle = 0, unused = 0;
    std::string setting, value;
    int32_t rc = in.longValue(clientId);
    if (rc == 0) rc = in.longValue(handle);
    if (rc == 0) rc = in.string(setting);
    if (rc == 0) rc = in.string(value);
    if (rc == 0) rc = in.longValue(unused);
    if (rc != 0) return stop(rc, reply);
    if (!equalsIgnoringCase(setting, "SET LANGUAGE ID")) return answer(kUnknownSetting, reply);
    return answer(operations_.setLanguageId(handle, value, caller), reply);
}
