// The public C header against the service's own numbers: function ids and the functions the
// service handles, limits, return codes and the alert classes of the NPA plug-in. A change on
// either side alone fails here. The header is also compiled as C (TolvexProtocolC.c).
#include "core/dispatch/BcxFunctionMapper.h"
#include "core/dispatch/FunctionTable.h"
#include "core/ipc/IpcCallbackMessage.h"
#include "core/ipc/IpcConnectionCap.h"
#include "core/ipc/IpcMessageFrame.h"
#include "core/ipc/IpcParameter.h"
#include "core/ipc/IpcTimeouts.h"
#include "core/ipc/LocalPipeNames.h"
#include "core/sessions/AlertCallbackRegistry.h"
#include "core/sessions/Printer.h"
#include "core/sessions/PrinterOperations.h"
#include "interpreters/npa/NpaCommand.h"
#include "interpreters/npa/StartNpaModeCommand.h"
#include "tests/core/sessions/SessionTestSupport.h"
#include "tests/include/ProtocolHeaderValues.h"

#ifdef _WIN32
#include "core/ipc/IPCController.h"
#include "core/ipc/IpcNamedPipeEndpoint.h"
#endif

#include <gtest/gtest.h>

#include <cstring>
#include <set>

extern "C" {
extern const uint32_t tolvexHeaderValuesInC[];
extern const size_t tolvexHeaderValueCountInC;
extern const char tolvexDefaultPipePathInC[];
extern const uint8_t tolvexNpaModeMarkInC[];
}

namespace {

struct Value {
    const char* what;
    uint64_t header;
    uint64_t service;
};

void expectEqual(const Value* begin, const Value* end) {
    for (const Value* v = begin; v != end; ++v) EXPECT_EQ(v->header, v->service) << v->what;
}

struct HeaderFunction {
    uint32_t id;
    const char* name;
};

const HeaderFunction kHandled[] = {
    {TOLVEX_FN_GET_CLIENT_ID, "BcxGetClientId"},
    {TOLVEX_FN_CLOSE_PRINTER, "BcxClosePrinter"},
    {TOLVEX_FN_ENUM_SPECIFIC_PRINTER, "BcxEnumSpecificPrinter"},
    {TOLVEX_FN_EXCHANGE_NPA_PRINTER, "BcxExchangeNpaPrinter"},
    {TOLVEX_FN_EXCHANGE_BIDI_PRINTER, "BcxExchangeBidiPrinter"},
    {TOLVEX_FN_OPEN_PRINTER, "BcxOpenPrinter"},
    {TOLVEX_FN_REGISTER_FOR_ALERTS_PRINTER, "BcxRegisterForAlertsPrinter"},
    {TOLVEX_FN_SET_LONG_PRINTER, "BcxSetLongPrinter"},
    {TOLVEX_FN_SET_STRING_PRINTER, "BcxSetStringPrinter"},
    {TOLVEX_FN_UNREGISTER_FOR_ALERTS_PRINTER, "BcxUnregisterForAlertsPrinter"},
    {TOLVEX_FN_OPEN_PRINTER_EX, "BcxOpenPrinterEx"},
};

}  // namespace

TEST(TolvexProtocolHeader, FunctionIdsAreTheTablesAndTheElevenAreExactlyTheOnesHandled) {
    std::set<uint32_t> handled;
    for (const HeaderFunction& f : kHandled) {
        uint16_t id = 0;
        EXPECT_TRUE(FunctionTable::idOf(f.name, id)) << f.name;
        EXPECT_EQ(id, f.id) << f.name;
        handled.insert(f.id);
    }
    uint16_t callback = 0;
    EXPECT_TRUE(FunctionTable::idOf("onCallback", callback));
    EXPECT_EQ(callback, TOLVEX_FN_ON_CALLBACK);
    EXPECT_EQ(IpcCallbackMessage::kFunctionId, TOLVEX_FN_ON_CALLBACK);

    // A function the service handles answers even a request without parameters; any other id
    // is dropped without a reply.
    RecordingLookup lookup;
    EnginePortFactory factory{lookup};
    AlertCallbackRegistry callbacks;
    SessionServices services{lookup, callbacks, &factory, nullptr};
    PrinterTable table;
    PrinterOperations operations{services, table};
    BcxFunctionMapper mapper{operations, callbacks};
    for (const FunctionTableEntry* e = FunctionTable::begin(); e != FunctionTable::end(); ++e) {
        const uint8_t bytes[2] = {static_cast<uint8_t>(e->id >> 8), static_cast<uint8_t>(e->id)};
        Data request(bytes, 2);
        Data reply;
        const bool answered = mapper.dispatch(alice(), request, reply) == 0;
        EXPECT_EQ(answered, handled.count(e->id) == 1) << e->id << " " << e->name;
    }
    table.destroyAll();
}

TEST(TolvexProtocolHeader, FrameParameterAndLimitValuesAreTheServicesOwn) {
    const IpcTimeouts service;
    uint32_t usb001 = 0, usb999 = 0;
    PrinterOperations::enumSpecificPrinter("USB001", &usb001);
    PrinterOperations::enumSpecificPrinter("USB999", &usb999);
    const Value values[] = {
        {"frame header", TOLVEX_FRAME_HEADER_SIZE, IpcMessageFrame::kHeaderSize},
        {"payload cap", TOLVEX_MAX_PAYLOAD, IpcMessageFrame::kMaxPayloadLength},
        {"exchange reply size cap", TOLVEX_MAX_EXCHANGE_REPLY_SIZE, IpcMessageFrame::kMaxExchangeReplySize},
        {"parameter header", TOLVEX_PARAM_HEADER_SIZE, IpcParameter::kHeaderSize},
        {"long value", TOLVEX_LONG_SIZE, IpcParameter::kLongValueSize},
        {"long parameter", TOLVEX_LONG_PARAM_SIZE, IpcParameter::kLongParameterSize},
        {"direction in", TOLVEX_DIR_IN, IpcParameter::kDirectionIn},
        {"direction out", TOLVEX_DIR_OUT, IpcParameter::kDirectionOut},
        {"direction return", TOLVEX_DIR_RETURN, IpcParameter::kDirectionReturn},
        {"type long", TOLVEX_TYPE_LONG, IpcParameter::kTypeLong},
        {"type string", TOLVEX_TYPE_STRING, IpcParameter::kTypeString},
        {"type byte array", TOLVEX_TYPE_BYTE_ARRAY, IpcParameter::kTypeByteArray},
        {"USB001", TOLVEX_PORT_HANDLE(1), usb001},
        {"USB999", TOLVEX_PORT_HANDLE(999), usb999},
        {"largest NPA packet", TOLVEX_NPA_MAX_PACKET, NpaCommand::MaxLength + 3u},
        {"default reply time-out", TOLVEX_DEFAULT_REPLY_TIMEOUT_MS, Printer::kDefaultTimeout},
        {"least reply time-out", TOLVEX_MIN_REPLY_TIMEOUT_MS, BcxFunctionMapper::kMinReplyTimeoutMs},
        {"longest reply time-out", TOLVEX_MAX_REPLY_TIMEOUT_MS, BcxFunctionMapper::kMaxReplyTimeoutMs},
        {"language id digits", TOLVEX_MAX_LANGUAGE_ID_DIGITS, PrinterOperations::kMaxLanguageIdDigits},
        {"callback text", TOLVEX_MAX_CALLBACK_TEXT, BcxFunctionMapper::kMaxCallbackText},
        {"callback pipe name", TOLVEX_MAX_CALLBACK_PIPE_NAME, LocalPipeNames::kMaxPipeName},
        {"request deadline", TOLVEX_REQUEST_DEADLINE_MS, service.requestMs},
        {"reply write", TOLVEX_REPLY_WRITE_MS, service.replyWriteMs},
        {"after the reply", TOLVEX_AFTER_REPLY_MS, service.lingerMs},
        {"callback bound", TOLVEX_CALLBACK_BOUND_MS, service.callbackMs},
        {"connections", TOLVEX_MAX_CONNECTIONS, service.maxConnections},
        {"busy answer", TOLVEX_BUSY_ANSWER_MS, service.busyAnswerMs},
        {"alert queue", TOLVEX_ALERT_QUEUE, Printer::kAlertQueueCapacity},
        {"callback records", TOLVEX_MAX_CALLBACK_RECORDS, AlertCallbackRegistry::kMaxRecords},
        {"client ids per user", TOLVEX_MAX_CLIENT_IDS_PER_USER, AlertCallbackRegistry::kMaxRecordsPerUser},
        {"registrations per user", TOLVEX_MAX_REGISTRATIONS_PER_USER, AlertCallbackRegistry::kMaxRegistrationsPerUser},
        {"sessions without a printer", TOLVEX_MAX_SESSIONS_WITHOUT_PRINTER, PrinterOperations::kMaxPortlessSessions},
    };
    expectEqual(std::begin(values), std::end(values));

    NpaTestLookup lookup;
    std::string text;
    PropertyAccessor().SetString(text, PropertyAccessor::CommandName, StartNpaModeCommand::kCommandName);
    CommandManager* manager = lookup.getCommandManager(text);
    Command* npaMode = manager->Create(text);
    const uint8_t mark[] = TOLVEX_NPA_MODE_MARK;
    ASSERT_GE(npaMode->Size(), TOLVEX_NPA_MODE_MARK_OFFSET + sizeof mark);
    EXPECT_EQ(std::memcmp(npaMode->Bytes() + TOLVEX_NPA_MODE_MARK_OFFSET, mark, sizeof mark), 0);
    manager->Destroy(npaMode);
}

TEST(TolvexProtocolHeader, ReturnCodesAreTheServicesOwn) {
    const Value codes[] = {
        {"refused packet", TOLVEX_ERROR_ACCESS_DENIED, PrinterOperations::kRefusedPacket},
        {"another user's client id", TOLVEX_ERROR_ACCESS_DENIED, AlertCallbackRegistry::kNotOwner},
        {"no session", TOLVEX_ERROR_INVALID_HANDLE, PrinterOperations::kNoSuchHandle},
        {"malformed string", TOLVEX_ERROR_INVALID_DATA, static_cast<uint32_t>(IpcParameter::kBadString)},
        {"empty request", TOLVEX_ERROR_BAD_COMMAND, static_cast<uint32_t>(BcxFunctionMapper::kEmptyRequest)},
        {"bad length", TOLVEX_ERROR_BAD_LENGTH, static_cast<uint32_t>(IpcParameter::kBadLength)},
        {"printer took no bytes", TOLVEX_ERROR_WRITE_FAULT, NpaPacketProtocol::kWriteFault},
        {"no printer port", TOLVEX_ERROR_NOT_SUPPORTED, Printer::kNoPort},
        {"unknown setting", TOLVEX_ERROR_NOT_SUPPORTED, static_cast<uint32_t>(BcxFunctionMapper::kUnknownSetting)},
        {"bad argument", TOLVEX_ERROR_INVALID_PARAMETER, PrinterOperations::kBadArgument},
        {"reply size too small", TOLVEX_ERROR_INSUFFICIENT_BUFFER, PrinterOperations::kBufferTooSmall},
        {"callback text too long", TOLVEX_ERROR_INSUFFICIENT_BUFFER, static_cast<uint32_t>(IpcParameter::kStringTooLong)},
        {"not a local pipe", TOLVEX_ERROR_INVALID_NAME, static_cast<uint32_t>(BcxFunctionMapper::kNotLocalPipe)},
        {"busy answer", TOLVEX_ERROR_PIPE_BUSY, static_cast<uint32_t>(IpcConnectionCap::kBusy)},
        {"session ending", TOLVEX_ERROR_OPERATION_ABORTED, Printer::kAborted},
        {"no valid callback answer", TOLVEX_ERROR_INTERNAL_ERROR, static_cast<uint32_t>(IpcCallbackMessage::kNoValidReply)},
        {"limit reached", TOLVEX_ERROR_NO_SYSTEM_RESOURCES, PrinterOperations::kNoResources},
        {"registry full", TOLVEX_ERROR_NO_SYSTEM_RESOURCES, AlertCallbackRegistry::kFull},
        {"time-out", TOLVEX_ERROR_TIMEOUT, Printer::kTimedOut},
        {"no reply in time", TOLVEX_ERROR_TIMEOUT, NpaPacketProtocol::kTimedOut},
        {"bad port name", TOLVEX_ERROR_UNKNOWN_PORT, PrinterOperations::kBadPortName},
        {"earlier read thread still runs", TOLVEX_ERROR_BUSY, PrinterOperations::kPrinterBusy},
    };
    expectEqual(std::begin(codes), std::end(codes));
}

TEST(TolvexProtocolHeader, EachAlertClassIsOneRegistrationOfThePlugIn) {
    struct Class {
        uint32_t mask;
        const char* command;  // null: no registration
    };
    const Class classes[] = {
        {TOLVEX_ALERT_DEVICE_STATUS, "registerForDeviceStatusAlerts"},
        {TOLVEX_ALERT_EXTENSION, "registerForQuorvelExtensionAlerts"},
        {TOLVEX_ALERT_PANEL, "registerForPanelAlerts"},
        {TOLVEX_ALERT_EXTENDED, "registerForQuorvelExtendedAlerts"},
        {TOLVEX_ALERT_EXTENDED_LANGUAGE, "registerForQuorvelExtendedAlertsWithLanguageId"},
        {TOLVEX_ALERT_UNASSIGNED, nullptr},
    };
    NpaTestLookup lookup;
    uint32_t all = 0;
    for (const Class& c : classes) {
        EXPECT_EQ(all & c.mask, 0u) << "classes overlap at " << c.mask;
        all |= c.mask;
        for (unsigned bit = 0; bit < 32; ++bit) {
            if ((c.mask & (1u << bit)) == 0) continue;
            std::string text;
            PropertyAccessor().SetLong(text, PropertyAccessor::NewAlertMask, 1u << bit);
            PropertyAccessor().SetLong(text, PropertyAccessor::CurrentAlertMask, 0);
            PropertyAccessor().SetString(text, PropertyAccessor::Interpreter, "Npa");
            CommandManager* manager = lookup.getCommandManager(text);
            std::list<Command*> commands;
            ASSERT_EQ(manager->CreateAlertCommands(text, commands), 0u);
            std::vector<std::string> names;
            for (Command* command : commands) names.push_back(command->Name());
            manager->DestroyList(commands);
            EXPECT_EQ(names, c.command != nullptr ? std::vector<std::string>{c.command} : std::vector<std::string>{})
                << "bit " << bit;
        }
    }
    EXPECT_EQ(all, 0xFFFFFFFFu);
    EXPECT_EQ(TOLVEX_ALERT_ALL, 0xFFFFFFFFu & ~TOLVEX_ALERT_UNASSIGNED);
}

TEST(TolvexProtocolHeader, ACompilerOfCReadsTheSameHeader) {
#define TOLVEX_AS_ITEM(name) static_cast<uint32_t>(name),
    const uint32_t inCpp[] = {TOLVEX_HEADER_VALUES(TOLVEX_AS_ITEM)};
#undef TOLVEX_AS_ITEM
    ASSERT_EQ(tolvexHeaderValueCountInC, std::size(inCpp));
    for (size_t i = 0; i < std::size(inCpp); ++i) EXPECT_EQ(tolvexHeaderValuesInC[i], inCpp[i]) << "value " << i;
    EXPECT_STREQ(tolvexDefaultPipePathInC, "\\\\.\\pipe\\Qv_BidiAlertDataChannel_");
    const uint8_t mark[] = TOLVEX_NPA_MODE_MARK;
    EXPECT_EQ(std::memcmp(tolvexNpaModeMarkInC, mark, sizeof mark), 0);
}

#ifdef _WIN32
TEST(TolvexProtocolHeader, PipeNamesAccessAndCodesMatchTheSystemsAndTheTransports) {
    EXPECT_EQ(std::string(TOLVEX_PIPE_NAME_SUFFIX), IPCController::kPipeSuffix);
    EXPECT_EQ(std::string(TOLVEX_PIPE_PATH_PREFIX), IpcOverlappedNamedPipe::kLocalPrefix);
    const Value values[] = {
        {"client access", TOLVEX_CLIENT_PIPE_ACCESS, IpcOverlappedNamedPipe::kClientAccess},
        {"GENERIC_READ | FILE_WRITE_DATA", TOLVEX_CLIENT_PIPE_ACCESS, GENERIC_READ | FILE_WRITE_DATA},
        {"callback answer", TOLVEX_MAX_CALLBACK_ANSWER, IpcNamedPipeEndpoint::kMaxCallbackReply},
        {"wrong callback server", TOLVEX_ERROR_ACCESS_DENIED, static_cast<uint32_t>(IpcNamedPipeEndpoint::kWrongServer)},
        {"ERROR_INVALID_FUNCTION", TOLVEX_ERROR_INVALID_FUNCTION, ERROR_INVALID_FUNCTION},
        {"ERROR_ACCESS_DENIED", TOLVEX_ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {"ERROR_INVALID_HANDLE", TOLVEX_ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
        {"ERROR_INVALID_DATA", TOLVEX_ERROR_INVALID_DATA, ERROR_INVALID_DATA},
        {"ERROR_BAD_COMMAND", TOLVEX_ERROR_BAD_COMMAND, ERROR_BAD_COMMAND},
        {"ERROR_BAD_LENGTH", TOLVEX_ERROR_BAD_LENGTH, ERROR_BAD_LENGTH},
        {"ERROR_WRITE_FAULT", TOLVEX_ERROR_WRITE_FAULT, ERROR_WRITE_FAULT},
        {"ERROR_NOT_SUPPORTED", TOLVEX_ERROR_NOT_SUPPORTED, ERROR_NOT_SUPPORTED},
        {"ERROR_INVALID_PARAMETER", TOLVEX_ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
        {"ERROR_INSUFFICIENT_BUFFER", TOLVEX_ERROR_INSUFFICIENT_BUFFER, ERROR_INSUFFICIENT_BUFFER},
        {"ERROR_INVALID_NAME", TOLVEX_ERROR_INVALID_NAME, ERROR_INVALID_NAME},
        {"ERROR_BUSY", TOLVEX_ERROR_BUSY, ERROR_BUSY},
        {"ERROR_PIPE_BUSY", TOLVEX_ERROR_PIPE_BUSY, ERROR_PIPE_BUSY},
        {"ERROR_OPERATION_ABORTED", TOLVEX_ERROR_OPERATION_ABORTED, ERROR_OPERATION_ABORTED},
        {"ERROR_INTERNAL_ERROR", TOLVEX_ERROR_INTERNAL_ERROR, ERROR_INTERNAL_ERROR},
        {"ERROR_NO_SYSTEM_RESOURCES", TOLVEX_ERROR_NO_SYSTEM_RESOURCES, ERROR_NO_SYSTEM_RESOURCES},
        {"ERROR_TIMEOUT", TOLVEX_ERROR_TIMEOUT, ERROR_TIMEOUT},
        {"ERROR_UNKNOWN_PORT", TOLVEX_ERROR_UNKNOWN_PORT, ERROR_UNKNOWN_PORT},
    };
    expectEqual(std::begin(values), std::end(values));
}
#endif
