#pragma once
// The service's function mapper: maps a request's function id through the function table to one
// of the eleven printer handlers, which read the request's parameters, call the printer
// operations and write the reply (echoed id, return code, results). Shared read-only by every
// connection thread; the operations and the callback registry are not owned and outlive it.
//
// Replies: an empty request gives 22 and an id without handler 1, both without a reply. A
// parameter of the wrong direction (87) or type (1629) leaves only the echoed id. Any other
// malformed request (see BcxFunctionMapper.cpp) is answered with the id and a return code only.
#include "core/ipc/FunctionMapper.h"
#include "core/ipc/IpcParameterReader.h"
#include "core/ipc/IpcParameterWriter.h"
#include "core/sessions/AlertCallbackRegistry.h"
#include "core/sessions/PrinterOperations.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

class BcxFunctionMapper : public FunctionMapper {
public:
    static constexpr int32_t kEmptyRequest = 22;
    static constexpr int32_t kNoHandler = 1;
    // The most characters a callback endpoint text may have.
    static constexpr std::size_t kMaxCallbackText = 260;
    // A callback endpoint that names no pipe on this computer.
    static constexpr int32_t kNotLocalPipe = 123;  // ERROR_INVALID_NAME
    // A setting name the printer functions do not know.
    static constexpr int32_t kUnknownSetting = 50;
    // The longest reply time-out a client may set, in milliseconds; above it: 87.
    static constexpr uint32_t kMaxReplyTimeoutMs = 120000;

    BcxFunctionMapper(PrinterOperations& operations, AlertCallbackRegistry& callbacks);

    int32_t dispatch(Data& request, Data& reply) override;

    // The next client id of the process: seeded from the tick count, consecutive, never 0.
    static uint32_t nextClientId();
    // The same step on a counter of the caller's (0 stands for a counter that wrapped).
    static uint32_t takeClientId(std::atomic<uint32_t>& counter);

private:
    // Reads its parameters, then works and writes the reply. Returns the code it answered with
    // (or the reader's code when it stopped); the connection does not use it.
    using Handler = int32_t (BcxFunctionMapper::*)(IpcParameterReader&, Data&);

    int32_t getClientId(IpcParameterReader& in, Data& reply);
    int32_t openPrinter(IpcParameterReader& in, Data& reply);
    int32_t openPrinterEx(IpcParameterReader& in, Data& reply);
    int32_t closePrinter(IpcParameterReader& in, Data& reply);
    int32_t enumSpecificPrinter(IpcParameterReader& in, Data& reply);
    int32_t exchangeNpaPrinter(IpcParameterReader& in, Data& reply);
    int32_t exchangeBidiPrinter(IpcParameterReader& in, Data& reply);
    int32_t exchange(IpcParameterReader& in, Data& reply, bool bidi);
    int32_t registerForAlerts(IpcParameterReader& in, Data& reply);
    int32_t unregisterForAlerts(IpcParameterReader& in, Data& reply);
    int32_t setLongPrinter(IpcParameterReader& in, Data& reply);
    int32_t setStringPrinter(IpcParameterReader& in, Data& reply);

    PrinterOperations& operations_;
    AlertCallbackRegistry& callbacks_;
    std::map<std::string, Handler> handlers_;
};
