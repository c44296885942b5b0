#include "tools/tolvexctl/CtlMessages.h"

#include "core/ipc/IpcParameterReader.h"
#include "core/ipc/IpcParameterWriter.h"
#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

constexpr uint8_t kIn = IpcParameter::kDirectionIn;
constexpr uint8_t kOut = IpcParameter::kDirectionOut;
// The service does not read the client id of these functions; 0 says so.
constexpr uint32_t kUnusedClientId = 0;

// Positions reader after the echoed id and return code; kMalformedReply when either is wrong.
int32_t begin(const Data& request, IpcParameterReader& in, int32_t& code) {
    uint16_t sent = 0, echoed = 0;
    if (IpcParameterReader(request).functionId(sent) != 0) return CtlMessages::kMalformedReply;
    if (in.functionId(echoed) != 0 || echoed != sent) return CtlMessages::kMalformedReply;
    if (in.returnCode(code) != 0) return CtlMessages::kMalformedReply;
    return 0;
}

}  // namespace

namespace CtlMessages {

Data getClientId(const std::string& clientName) {
    Data d;
    IpcParameterWriter(d).functionId(TOLVEX_FN_GET_CLIENT_ID).string(kIn, clientName);
    return d;
}

Data openPrinterEx(const std::string& port, uint32_t handle) {
    Data d;
    IpcParameterWriter(d).functionId(TOLVEX_FN_OPEN_PRINTER_EX).longValue(kIn, kUnusedClientId).string(kIn, port).longValue(kIn, handle);
    return d;
}

Data closePrinter(uint32_t handle) {
    Data d;
    IpcParameterWriter(d).functionId(TOLVEX_FN_CLOSE_PRINTER).longValue(kIn, kUnusedClientId).longValue(kIn, handle);
    return d;
}

Data enumSpecificPrinter(const std::string& port) {
    Data d;
    IpcParameterWriter(d).functionId(TOLVEX_FN_ENUM_SPECIFIC_PRINTER).longValue(kIn, kUnusedClientId).string(kIn, port);
    return d;
}

Data exchangeNpa(uint32_t handle, const std::vector<uint8_t>& packet, uint32_t replySize) {
    Data d;
    IpcParameterWriter(d)
        .functionId(TOLVEX_FN_EXCHANGE_NPA_PRINTER)
        .longValue(kIn, kUnusedClientId)
        .longValue(kIn, handle)
        .byteArray(kIn, packet.data(), packet.size())
        .longValue(kIn, static_cast<uint32_t>(packet.size()))
        .longValue(kIn, replySize);
    return d;
}

Data registerForAlerts(uint32_t clientId, uint32_t handle, uint32_t mask, const std::string& callbackPipe) {
    Data d;
    IpcParameterWriter(d)
        .functionId(TOLVEX_FN_REGISTER_FOR_ALERTS_PRINTER)
        .longValue(kIn, clientId)
        .longValue(kIn, handle)
        .longValue(kIn, mask)
        .string(kIn, "<PIPENAME>" + callbackPipe + "</PIPENAME>");
    return d;
}

Data unregisterForAlerts(uint32_t clientId, uint32_t handle) {
    Data d;
    IpcParameterWriter(d).functionId(TOLVEX_FN_UNREGISTER_FOR_ALERTS_PRINTER).longValue(kIn, clientId).longValue(kIn, handle);
    return d;
}

Data setTimeout(uint32_t handle, uint32_t milliseconds) {
    Data d;
    IpcParameterWriter(d)
        .functionId(TOLVEX_FN_SET_LONG_PRINTER)
        .longValue(kIn, kUnusedClientId)
        .longValue(kIn, handle)
        .string(kIn, "SET BIDI TIMEOUT")
        .longValue(kIn, milliseconds);
    return d;
}

Data setLanguage(uint32_t handle, const std::string& languageId) {
    Data d;
    IpcParameterWriter(d)
        .functionId(TOLVEX_FN_SET_STRING_PRINTER)
        .longValue(kIn, kUnusedClientId)
        .longValue(kIn, handle)
        .string(kIn, "SET LANGUAGE ID")
        .string(kIn, languageId)
        .longValue(kIn, 0);
    return d;
}

int32_t returnCode(const Data& request, const Data& reply) {
    IpcParameterReader in(reply);
    int32_t code = 0;
    const int32_t rc = begin(request, in, code);
    return rc != 0 ? rc : code;
}

int32_t longResult(const Data& request, const Data& reply, uint32_t& value) {
    IpcParameterReader in(reply);
    int32_t code = 0;
    const int32_t rc = begin(request, in, code);
    if (rc != 0) return rc;
    if (code != 0) return code;
    uint32_t v = 0;
    if (in.longValue(v, kOut) != 0) return kMalformedReply;
    value = v;
    return 0;
}

int32_t exchangeResult(const Data& request, const Data& reply, std::vector<uint8_t>& answer) {
    IpcParameterReader in(reply);
    int32_t code = 0;
    const int32_t rc = begin(request, in, code);
    if (rc != 0) return rc;
    if (code != 0) return code;
    std::vector<uint8_t> buffer;
    uint32_t length = 0;
    if (in.byteArray(buffer, kOut) != 0 || in.longValue(length, kOut) != 0 || length > buffer.size()) {
        return kMalformedReply;
    }
    buffer.resize(length);
    answer.swap(buffer);
    return 0;
}

bool isNpaModeRequest(const std::vector<uint8_t>& packet) {
    const uint8_t mark[] = TOLVEX_NPA_MODE_MARK;
    return packet.size() >= TOLVEX_NPA_MODE_MARK_OFFSET + sizeof mark &&
           std::equal(std::begin(mark), std::end(mark), packet.begin() + TOLVEX_NPA_MODE_MARK_OFFSET);
}

const char* describe(int32_t code) {
    switch (code) {
    case 1: return "no printer behind the port, not registered, or the printer's pipes are closed";
    case 2: return "the service pipe does not exist (is the service running?)";
    case 5: return "refused: a packet clients may not send, or another user's client id";
    case 6: return "no open session for this printer (open it first)";
    case 13: return "malformed string in the request";
    case 22: return "the printer refused the alert registration";
    case 24: return "the request's lengths disagree with its bytes";
    case 29: return "the printer took no bytes";
    case 50: return "no NPA printer on this port (not NPA, detached), or unknown setting";
    case 87: return "a value out of its range";
    case 109: return "the service closed the connection without a reply";
    case 122: return "reply buffer too small, or callback text too long";
    case 123: return "callback pipe name refused";
    case 170: return "busy: the spooler is printing on this port, or its last session's read thread has not ended (try again)";
    case 995: return "the session ended or the service is stopping";
    case 1359: return "internal error or malformed reply";
    case 1450: return "a limit of the service was reached";
    case 1460: return "timed out";
    case 1629: return "not a packet or reply of this protocol";
    case 1796: return "not a port name of the form USB and three digits";
    default: return "";
    }
}

std::string commandText(const std::string& command, const std::vector<std::pair<std::string, std::string>>& properties) {
    std::string text;
    PropertyAccessor().SetString(text, PropertyAccessor::CommandName, command);
    for (const auto& p : properties) SetElement(text, p.first, p.second);
    return text;
}

std::vector<std::string> propertyLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('<', at);
        if (open == std::string::npos) break;
        const std::size_t close = text.find('>', open);
        if (close == std::string::npos) break;
        const std::string name = text.substr(open + 1, close - open - 1);
        if (name.empty() || name[0] == '/') {
            at = close + 1;
            continue;
        }
        const std::string endTag = "</" + name + ">";
        const std::size_t end = text.find(endTag, close + 1);
        if (end == std::string::npos) {
            at = close + 1;
            continue;
        }
        std::string line = name + " = ";
        for (std::size_t i = close + 1; i < end; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c >= 0x20 && c < 0x7F) {
                line += static_cast<char>(c);
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
                line += escaped;
            }
        }
        lines.push_back(line);
        at = end + endTag.size();
    }
    return lines;
}

std::string hex(const uint8_t* p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) out += ' ';
        out += digits[p[i] >> 4];
        out += digits[p[i] & 0x0F];
    }
    return out;
}

std::string callbackPipeName(uint32_t processId, uint64_t ticks) {
    return "tolvexctl_" + std::to_string(processId) + "_" + std::to_string(ticks) + "_callback";
}

std::string alertLine(const std::string& timeStamp, const std::string& text, const std::vector<uint8_t>& packet) {
    return timeStamp + " alert " + std::to_string(packet.size()) + " bytes: " + hex(packet) + " | " + text;
}

}  // namespace CtlMessages
