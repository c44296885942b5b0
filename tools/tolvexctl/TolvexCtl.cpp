#include "tools/tolvexctl/TolvexCtl.h"

#include "client/TolvexClient.h"
#include "config/Localize.h"
#include "core/interpreters/InterpreterDllHandler.h"
#include "export/common/CommandManager.h"
#include "runtime/Exception.h"
#include "runtime/Win32.h"
#include "tools/tolvexctl/CtlMessages.h"

#include <atomic>
#include <memory>

namespace {

using C = CtlCommandLine;

constexpr uint32_t kCallMs = 30000;
// An exchange may wait out the longest reply time-out a session can have, and then some for the
// session lock and the pipe.
constexpr uint32_t kExchangeCallMs = TOLVEX_MAX_REPLY_TIMEOUT_MS + 10000;
// How long one wait of watch for the service's callback lasts before the bounds are checked.
constexpr uint32_t kWatchSliceMs = 1000;
// Failures of the callback pipe in a row after which watch gives up instead of spinning.
constexpr int kMaxPipeFailures = 5;

std::atomic<bool> watchActive{false};
std::atomic<bool> watchInterrupted{false};
std::atomic<CallbackPipe*> watchedPipe{nullptr};

std::string timeStamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

}  // namespace

TolvexCtl::TolvexCtl(const CtlCommandLine& line, const std::string& programFolder, std::FILE* out, std::FILE* err)
    : line_(line), folder_(programFolder), out_(out), err_(err) {}

bool TolvexCtl::interruptWatch() {
    if (!watchActive.load()) return false;
    watchInterrupted.store(true);
    CallbackPipe* pipe = watchedPipe.load();
    if (pipe != nullptr) pipe->stop();
    return true;
}

void TolvexCtl::fail(int exitCode) {
    if (exit_ == C::kExitOk) exit_ = exitCode;
}

int32_t TolvexCtl::refused(const std::string& what, int32_t code) {
    std::fprintf(err_, "tolvexctl: %s: the service answered %d: %s\n", what.c_str(), code, CtlMessages::describe(code));
    fail(C::kExitRefused);
    return code;
}

int TolvexCtl::run() {
    try {
        // The branding gives both the service pipe's default name and the plug-in's file name.
        if (line_.pipe.empty() || line_.command == C::Command::Exchange) {
            Localize::createInstance(nullptr, folder_ + "tolvexctl.exe");
        }
        pipe_ = line_.pipe.empty() ? TolvexClient::servicePipeName(Localize::getInstance().getManufacturerPrefix())
                                   : line_.pipe;
        switch (line_.command) {
        case C::Command::ClientId: clientId(); break;
        case C::Command::Enum: enumPort(); break;
        case C::Command::Open: open(); break;
        case C::Command::Close: close(); break;
        case C::Command::Exchange: exchange(); break;
        case C::Command::Raw: raw(); break;
        case C::Command::Watch: watch(); break;
        case C::Command::SetTimeout:
            if (resolvePort() == 0) setting(CtlMessages::setTimeout(handle_, line_.value));
            break;
        case C::Command::SetLanguage:
            if (resolvePort() == 0) setting(CtlMessages::setLanguage(handle_, line_.text));
            break;
        case C::Command::None:
        case C::Command::Help: fail(C::kExitUsage); break;
        }
    } catch (const Exception& e) {
        std::fprintf(err_, "tolvexctl: %s (code %d)\n", e.message().c_str(), e.code());
        fail(C::kExitLocal);
    }
    return exit_;
}

int32_t TolvexCtl::call(const Data& request, Data& reply, uint32_t timeoutMs) {
    const int32_t rc = TolvexClient::call(pipe_, request, reply, timeoutMs);
    if (rc != 0) {
        std::fprintf(err_, "tolvexctl: cannot reach the service on \\\\.\\pipe\\%s: system code %d: %s\n", pipe_.c_str(),
                     rc, CtlMessages::describe(rc));
        fail(C::kExitUnreachable);
    }
    return rc;
}

int32_t TolvexCtl::simple(const Data& request, const std::string& what) {
    Data reply;
    const int32_t rc = call(request, reply, kCallMs);
    if (rc != 0) return rc;
    const int32_t code = CtlMessages::returnCode(request, reply);
    if (code == CtlMessages::kMalformedReply) {
        std::fprintf(err_, "tolvexctl: %s: the service's reply is malformed\n", what.c_str());
        fail(C::kExitUnreachable);
        return code;
    }
    return code != 0 ? refused(what, code) : 0;
}

int32_t TolvexCtl::longCall(const Data& request, const std::string& what, uint32_t& value) {
    Data reply;
    const int32_t rc = call(request, reply, kCallMs);
    if (rc != 0) return rc;
    const int32_t code = CtlMessages::longResult(request, reply, value);
    if (code == CtlMessages::kMalformedReply) {
        std::fprintf(err_, "tolvexctl: %s: the service's reply is malformed\n", what.c_str());
        fail(C::kExitUnreachable);
        return code;
    }
    return code != 0 ? refused(what, code) : 0;
}

int32_t TolvexCtl::clientId() {
    uint32_t id = 0;
    const int32_t rc = longCall(CtlMessages::getClientId("tolvexctl"), "clientid", id);
    if (rc == 0) std::fprintf(out_, "ClientId = %u\n", id);
    return rc;
}

// The service judges port names and hands out their handles: whatever it refuses, tolvexctl
// reports with the service's own code.
int32_t TolvexCtl::resolvePort() {
    return longCall(CtlMessages::enumSpecificPrinter(line_.port), "enum " + line_.port, handle_);
}

int32_t TolvexCtl::enumPort() {
    const int32_t rc = resolvePort();
    if (rc == 0) std::fprintf(out_, "%s = 0x%04x\n", line_.port.c_str(), handle_);
    return rc;
}

int32_t TolvexCtl::open() {
    int32_t rc = resolvePort();
    if (rc == 0) rc = simple(CtlMessages::openPrinterEx(line_.port, handle_), "open " + line_.port);
    if (rc == 0) std::fprintf(out_, "%s open (handle 0x%04x)\n", line_.port.c_str(), handle_);
    return rc;
}

int32_t TolvexCtl::close() {
    int32_t rc = resolvePort();
    if (rc == 0) rc = simple(CtlMessages::closePrinter(handle_), "close " + line_.port);
    if (rc == 0) std::fprintf(out_, "%s closed\n", line_.port.c_str());
    return rc;
}

int32_t TolvexCtl::setting(const Data& request) {
    const int32_t rc = simple(request, CtlCommandLine::nameOf(line_.command));
    if (rc == 0) std::fprintf(out_, "%s: done\n", CtlCommandLine::nameOf(line_.command));
    return rc;
}

// Opens are counted by the service, so a command that opens and closes around its work never
// ends a session that `open` or another client holds.
int32_t TolvexCtl::openForCommand() {
    const int32_t rc = resolvePort();
    return rc != 0 ? rc : simple(CtlMessages::openPrinterEx(line_.port, handle_), "open " + line_.port);
}

void TolvexCtl::closeAfterCommand() { simple(CtlMessages::closePrinter(handle_), "close " + line_.port); }

int32_t TolvexCtl::exchangeBytes(const std::vector<uint8_t>& packet, std::vector<uint8_t>& answer) {
    int32_t rc = openForCommand();
    if (rc != 0) return rc;
    const Data request = CtlMessages::exchangeNpa(handle_, packet);
    Data reply;
    rc = call(request, reply, kExchangeCallMs);
    if (rc == 0) {
        rc = CtlMessages::exchangeResult(request, reply, answer);
        if (rc == CtlMessages::kMalformedReply) {
            std::fprintf(err_, "tolvexctl: exchange: the service's reply is malformed\n");
            fail(C::kExitUnreachable);
        } else if (rc != 0) {
            refused("exchange", rc);
        }
    }
    closeAfterCommand();
    return rc;
}

void TolvexCtl::notSentLine() {
    std::fprintf(out_, "Reply = none: the service answers this request itself and does not pass it to the printer "
                       "(it puts the printer into NPA mode whenever it connects)\n");
}

int32_t TolvexCtl::exchange() {
    const std::string fileName = folder_ + Localize::getInstance().getManufacturerPrefix() + "__ovra.dll";
    std::unique_ptr<InterpreterDll> plugIn;
    try {
        plugIn.reset(new InterpreterDll(fileName));
    } catch (const Exception& e) {
        std::fprintf(err_, "tolvexctl: cannot load the NPA plug-in %s: system code %d\n", fileName.c_str(), e.code());
        fail(C::kExitLocal);
        return e.code() != 0 ? e.code() : 126;
    }
    using Function = CommandManager* (*)();
    CommandManager* manager =
        reinterpret_cast<Function>(reinterpret_cast<void*>(plugIn->getProcAddress("GetCommandManager")))();
    if (manager == nullptr) {
        std::fprintf(err_, "tolvexctl: the NPA plug-in has no command manager\n");
        fail(C::kExitLocal);
        return TOLVEX_ERROR_INTERNAL_ERROR;
    }
    Command* command = manager->Create(CtlMessages::commandText(line_.npaCommand, line_.properties));
    if (command == nullptr || command->Size() == 0) {
        manager->Destroy(command);
        std::fprintf(err_,
                     "tolvexctl: '%s' is not an NPA command this plug-in builds (or its properties give no packet); "
                     "see tolvexctl help exchange\n",
                     line_.npaCommand.c_str());
        fail(C::kExitUsage);
        return TOLVEX_ERROR_INVALID_PARAMETER;
    }
    const std::vector<uint8_t> packet(command->Bytes(), command->Bytes() + command->Size());
    std::fprintf(out_, "Request = %s\n", CtlMessages::hex(packet).c_str());
    std::vector<uint8_t> answer;
    const int32_t rc = exchangeBytes(packet, answer);
    if (rc == 0 && CtlMessages::isNpaModeRequest(packet)) {
        notSentLine();
    } else if (rc == 0) {
        const Data replyPacket(answer.data(), static_cast<uint32_t>(answer.size()));
        const uint32_t decoded = command->DecodeReply(replyPacket);
        for (const std::string& l : CtlMessages::propertyLines(command->ResultText())) std::fprintf(out_, "%s\n", l.c_str());
        // 1 is what a command without a decoder answers: nothing to report.
        if (decoded != 0 && decoded != 1) {
            std::fprintf(out_, "DecodeReply = %u %s\n", decoded, CtlMessages::describe(static_cast<int32_t>(decoded)));
        }
        std::fprintf(out_, "Reply = %s\n", CtlMessages::hex(answer).c_str());
    }
    manager->Destroy(command);
    return rc;
}

int32_t TolvexCtl::raw() {
    std::vector<uint8_t> answer;
    const int32_t rc = exchangeBytes(line_.packet, answer);
    if (rc == 0 && CtlMessages::isNpaModeRequest(line_.packet)) {
        notSentLine();
    } else if (rc == 0) {
        std::fprintf(out_, "Reply = %s\n", CtlMessages::hex(answer).c_str());
    }
    return rc;
}

int32_t TolvexCtl::watch() {
    uint32_t client = 0;
    int32_t rc = longCall(CtlMessages::getClientId("tolvexctl watch"), "clientid", client);
    if (rc != 0) return rc;

    CallbackPipe pipe(CtlMessages::callbackPipeName(GetCurrentProcessId(), GetTickCount64()));
    // From here on Ctrl+C ends the watch through unregistering instead of ending the process,
    // which would leave the registration (and the printer's alert classes) behind.
    watchActive.store(true);
    rc = openForCommand();
    if (rc != 0) {
        watchActive.store(false);
        return rc;
    }
    // The language id goes into the registration packet, so it has to be set before registering.
    if (line_.hasLanguage) rc = simple(CtlMessages::setLanguage(handle_, line_.language), "set-language");
    if (rc == 0) rc = simple(CtlMessages::registerForAlerts(client, handle_, line_.mask, pipe.name()), "register");
    if (rc != 0) {
        closeAfterCommand();
        watchActive.store(false);
        return rc;
    }
    std::fprintf(out_, "watching %s (client id %u, mask 0x%08x, callback pipe %s)\n", line_.port.c_str(), client,
                 line_.mask, pipe.name().c_str());
    std::fflush(out_);

    watchedPipe.store(&pipe);
    if (watchInterrupted.load()) pipe.stop();
    const ULONGLONG start = GetTickCount64();
    uint32_t seen = 0;
    int failures = 0;
    int32_t pipeFailure = 0;
    const CallbackPipe::Handler print = [&](const std::string& text, const std::vector<uint8_t>& packet) {
        std::fprintf(out_, "%s\n", CtlMessages::alertLine(timeStamp(), text, packet).c_str());
        std::fflush(out_);
        ++seen;
        return 0;
    };
    for (;;) {
        if (line_.count != 0 && seen >= line_.count) break;
        uint32_t slice = kWatchSliceMs;
        if (line_.forMs != 0) {
            const ULONGLONG spent = GetTickCount64() - start;
            if (spent >= line_.forMs) break;
            if (line_.forMs - spent < slice) slice = static_cast<uint32_t>(line_.forMs - spent);
        }
        const int32_t served = pipe.serveOne(print, slice);
        if (served == IpcOverlappedNamedPipe::kStopped) break;
        // A quiet slice, or a service that gave up on one callback, ends one wait only; a pipe
        // that keeps failing would otherwise turn the loop into a spin.
        if (served == 0 || served == IpcOverlappedNamedPipe::kTimedOut) {
            failures = 0;
        } else if (++failures >= kMaxPipeFailures) {
            pipeFailure = served;
            std::fprintf(err_, "tolvexctl: watch: the callback pipe keeps failing: system code %d\n", served);
            fail(C::kExitLocal);
            break;
        }
    }
    watchedPipe.store(nullptr);

    rc = simple(CtlMessages::unregisterForAlerts(client, handle_), "unregister");
    closeAfterCommand();
    watchActive.store(false);
    std::fprintf(out_, "%u alert(s)\n", seen);
    return pipeFailure != 0 ? pipeFailure : rc;
}
