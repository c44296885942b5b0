#pragma once
// Runs one parsed tolvexctl command against the service and writes its results to out (errors
// to err). run() returns one of CtlCommandLine's exit codes; every code the service answered
// other than 0, and every system code that kept the service from answering, is printed on err.
#include "tools/tolvexctl/CtlCommandLine.h"

#include "export/common/Data.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class TolvexCtl {
public:
    // programFolder ends with a backslash; the plug-in and the branding are looked for there.
    TolvexCtl(const CtlCommandLine& line, const std::string& programFolder, std::FILE* out, std::FILE* err);

    int run();

    // Ends a running watch from any thread (the console's Ctrl+C handler); false when no watch
    // runs, so that Ctrl+C ends the process as usual.
    static bool interruptWatch();

private:
    // Each returns 0 or the failing code, after the message and the exit code are set.
    int32_t clientId();
    int32_t enumPort();
    int32_t open();
    int32_t close();
    int32_t exchange();
    int32_t raw();
    int32_t watch();
    int32_t setting(const Data& request);

    // Sends request: 0 with reply filled, or the transport's code (exit code 3, message).
    int32_t call(const Data& request, Data& reply, uint32_t timeoutMs);
    // call() and the reply's return code; the message and exit code for a failure.
    int32_t simple(const Data& request, const std::string& what);
    // call() and the reply's one long result (a client id, a handle).
    int32_t longCall(const Data& request, const std::string& what, uint32_t& value);
    // The service's handle for the command line's port (handle_), or its refusal.
    int32_t resolvePort();
    // Opens the printer for a command that closes it again.
    int32_t openForCommand();
    void closeAfterCommand();
    int32_t exchangeBytes(const std::vector<uint8_t>& packet, std::vector<uint8_t>& answer);
    // The line for an answer the service gave itself instead of the printer.
    void notSentLine();

    // Records the first failure's exit code; later failures keep it.
    void fail(int exitCode);
    // "tolvexctl: <what>: the service answered N: <meaning>" and exit code 1.
    int32_t refused(const std::string& what, int32_t code);

    const CtlCommandLine& line_;
    std::string folder_;
    std::string pipe_;
    std::FILE* out_;
    std::FILE* err_;
    uint32_t handle_ = 0;
    int exit_ = CtlCommandLine::kExitOk;
};
