#pragma once
// The requests tolvexctl sends, the reading of their replies, and its output lines. Portable:
// built on the message codec only, so every byte it puts on the pipe is tested natively.
#include "export/common/Data.h"

#include <cstdint>
#include <string>
#include <vector>

namespace CtlMessages {

// Function ids of the service's printer functions.
constexpr uint16_t kGetClientId = 2;
constexpr uint16_t kClosePrinter = 21;
constexpr uint16_t kEnumSpecificPrinter = 25;
constexpr uint16_t kExchangeNpaPrinter = 26;
constexpr uint16_t kRegisterForAlertsPrinter = 35;
constexpr uint16_t kSetLongPrinter = 38;
constexpr uint16_t kSetStringPrinter = 39;
constexpr uint16_t kUnregisterForAlertsPrinter = 42;
constexpr uint16_t kOpenPrinterEx = 101;

// The reply buffer an exchange asks for: the largest NPA packet (a 16-bit length field plus the
// start byte and the field itself), so no printer answer is ever cut.
constexpr uint32_t kExchangeReplySize = 65538;

// A reply that does not echo the request's id or lacks its return code (the service refused a
// parameter of the request).
constexpr int32_t kMalformedReply = 1359;

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
