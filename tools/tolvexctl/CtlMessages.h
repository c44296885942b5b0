#pragma once
// The requests tolvexctl sends, the reading of their replies, and its output lines. Portable:
// built on the message codec only, so every byte it puts on the pipe is tested natively.
#include "export/common/Data.h"
#include "include/TolvexProtocol.h"

#include <cstdint>
#include <string>
#include <vector>

namespace CtlMessages {

// The reply buffer an exchange asks for: the largest NPA packet, so no printer answer is cut.
constexpr uint32_t kExchangeReplySize = TOLVEX_NPA_MAX_PACKET;

// A reply that does not echo the request's id, lacks its return code (the service refused a
// parameter of the request) or its results. Negative, so that no code of the service's is
// mistaken for it.
constexpr int32_t kMalformedReply = -1;

Data getClientId(const std::string& clientName);
Data openPrinterEx(const std::string& port, uint32_t handle);
Data closePrinter(uint32_t handle);
Data enumSpecificPrinter(const std::string& port);
Data exchangeNpa(uint32_t handle, const std::vector<uint8_t>& packet, uint32_t replySize = kExchangeReplySize);
Data registerForAlerts(uint32_t clientId, uint32_t handle, uint32_t mask, const std::string& callbackPipe);
Data unregisterForAlerts(uint32_t clientId, uint32_t handle);
Data setTimeout(uint32_t handle, uint32_t milliseconds);
Data setLanguage(uint32_t handle, const std::string& languageId);

// The return code of reply to request, or kMalformedReply.
int32_t returnCode(const Data& request, const Data& reply);
// The return code and the long result of "BcxGetClientId" or "BcxEnumSpecificPrinter" (value
// set only when the code is 0 and the result is there; otherwise kMalformedReply).
int32_t longResult(const Data& request, const Data& reply, uint32_t& value);
// The return code of an exchange and, on 0, the printer's bytes (the returned length of the
// byte array). A returned length beyond the array gives kMalformedReply.
int32_t exchangeResult(const Data& request, const Data& reply, std::vector<uint8_t>& answer);

// True for the NPA-mode request (bytes 4 to 7 A4 5B A4 5B), which the service answers itself
// without passing it to the printer.
bool isNpaModeRequest(const std::vector<uint8_t>& packet);
// What a return code means to a tolvexctl user, in a few words ("" for a code without a text).
const char* describe(int32_t code);

// The request property text for an NPA command: CommandName and the given properties, in order.
std::string commandText(const std::string& command, const std::vector<std::pair<std::string, std::string>>& properties);
// One "Name = Value" line per top-level element of a property text; bytes outside printable
// ASCII are shown as \xNN. Text that is not an element is skipped.
std::vector<std::string> propertyLines(const std::string& text);
// Lower-case hex pairs separated by blanks ("a5 00 05").
std::string hex(const uint8_t* p, std::size_t n);
inline std::string hex(const std::vector<uint8_t>& bytes) { return hex(bytes.data(), bytes.size()); }
// The callback pipe name of one watch: unique per process and run.
std::string callbackPipeName(uint32_t processId, uint64_t ticks);
// One printed alert: "<time> alert <n> bytes: <hex> | <text>".
std::string alertLine(const std::string& timeStamp, const std::string& text, const std::vector<uint8_t>& packet);

}  // namespace CtlMessages
