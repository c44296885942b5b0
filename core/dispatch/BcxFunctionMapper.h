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
#include <functional>
#include <map>
#include <string>

class BcxFunctionMapper : public FunctionMapper {
public:
    static constexpr int32_t kEmptyRequest = 22;
    static constexpr int32_t kNoHandler = 1;
    // The most characters a callback endpoint text may have.
    static constexpr std::size_t kMaxCallbackText = 260;
    // Ids tried by "BcxGetClientId" before one goes out unclaimed.
    static constexpr int kClaimAttempts = 64;
    // A callback endpoint that names no pipe on this computer.
    static constexpr int32_t kNotLocalPipe = 123;  // ERROR_INVALID_NAME
    // A setting name the printer functions do not know.
    static constexpr int32_t kUnknownSetting = 50;
    // The reply time-outs a client may set, in milliseconds; outside them: 87.
    static constexpr uint32_t kMinReplyTimeoutMs = 1;
    static constexpr uint32_t kMaxReplyTimeoutMs = 120000;

    // log receives the lines about refused callers and limits reached (none when empty).
    BcxFunctionMapper(PrinterOperations& operations, AlertCallbackRegistry& callbacks,
                      std::function<void(const std::string&)> log = {});

    int32_t dispatch(const CallerIdentity& caller, Data& request, Data& reply) override;

    // The next client id of the process: seeded from the tick count, consecutive, never 0.
    static uint32_t nextClientId();
    // The same step on a counter of the caller's (0 stands for a counter that wrapped).
    static uint32_t takeClientId(std::atomic<uint32_t>& counter);

private:
    // Reads its parameters, then works and writes the reply. Returns the code it answered with
    // (or the reader's code when it stopped); the connection does not use it.
    using Handler = int32_t (BcxFunctionMapper::*)(const CallerIdentity&, IpcParameterReader&, Data&);

    int32_t getClientId(const CallerIdentity& caller, IpcParameterReader& in, Data& reply);
    int32_t openPrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply);
    int32_t openPrinterEx(const CallerIdentity& caller, IpcParameterReader& in, Data& reply);
    int32_t closePrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply);
    int32_t enumSpecificPrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply);
    int32_t exchangeNpaPrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply);
    int32_t exchangeBidiPrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply);
    int32_t exchange(const CallerIdentity& caller, IpcParameterReader& in, Data& reply, bool bidi);
    int32_t registerForAlerts(const CallerIdentity& caller, IpcParameterReader& in, Data& reply);
    int32_t unregisterForAlerts(const CallerIdentity& caller, IpcParameterReader& in, Data& reply);
    int32_t setLongPrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply);
    int32_t setStringPrinter(const CallerIdentity& caller, IpcParameterReader& in, Data& reply);

    void log(const std::string& line) const;

    PrinterOperations& operations_;
    AlertCallbackRegistry& callbacks_;
    std::function<void(const std::string&)> log_;
    std::map<std::string, Handler> handlers_;
};
