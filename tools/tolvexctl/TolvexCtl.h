#pragma once
// Runs one parsed tolvexctl command against the service and writes its results to out (errors
// to err). run() returns the exit code: the service's return code, the system's code when the
// service cannot be reached, or the plug-in's code when the NPA plug-in cannot be loaded.
#include "tools/tolvexctl/CtlCommandLine.h"

#include "export/common/Data.h"

#include <cstdint>
#include <cstdio>
#include <string>

class TolvexCtl {
public:
    // programFolder ends with a backslash; the plug-in and the branding are looked for there.
    TolvexCtl(const CtlCommandLine& line, const std::string& programFolder, std::FILE* out, std::FILE* err);

    int run();

    // Ends a running watch from any thread (the console's Ctrl+C handler); false when no watch
    // runs, so that Ctrl+C ends the process as usual.
    static bool interruptWatch();

private:
    int clientId();
    int enumPort();
    int open();
    int close();
    int exchange();
    int raw();
    int watch();
    int setting(const Data& request);

    // Sends request; 0 with reply filled, or the transport's code after a message on err.
    int32_t call(const Data& request, Data& reply, uint32_t timeoutMs);
    // call() and the reply's return code; messages for every failure.
    int32_t simple(const Data& request, const char* what);
    // call() and the reply's one long result (a client id, a handle); messages for every failure.
    int32_t longCall(const Data& request, const std::string& what, uint32_t& value);
    // Opens the printer for a command that closes it again; 0 or the code (message written).
    int32_t openForCommand();
    void closeAfterCommand();
    int32_t exchangeBytes(const std::vector<uint8_t>& packet, std::vector<uint8_t>& answer);

    const CtlCommandLine& line_;
    std::string folder_;
    std::string pipe_;
    std::FILE* out_;
    std::FILE* err_;
};
