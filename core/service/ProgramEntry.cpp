#include "core/service/ProgramEntry.h"

#include "config/Localize.h"
#include "core/dispatch/DispatchWiring.h"
#include "core/ipc/IPCController.h"
#include "core/service/PrinterTableEventSink.h"
#include "core/service/Service.h"
#include "core/service/ServiceEnvironment.h"
#include "core/service/ServiceInstaller.h"
#include "core/sessions/LingeringPorts.h"
#include "core/sessions/PrinterOperations.h"
#include "core/sessions/PrinterTable.h"
#include "core/sessions/UsbPortFactory.h"
#include "core/usb/port/InterpreterManagerLookup.h"
#include "logging/EventLog.h"
#include "logging/LogFacade.h"
#include "runtime/Exception.h"
#include "runtime/Win32.h"

#include <cstdio>

namespace {

const char kComponent[] = "BidiService";
// How long the stop waits for read loops that were left to end on their own.
const uint32_t kLingeringAtStopMs = 1000;

void log(const std::string& text) { LogFacade::getInstance().log(kComponent, text); }

// The sessions and what they need, alive for the whole process: the notifier window and the
// client connections reach them until the process ends.
struct Sessions {
    PrinterTable table;
    UsbPortFactory ports{InterpreterManagerLookup::instance()};
    SessionServices services{InterpreterManagerLookup::instance(), AlertCallbackRegistry::getInstance(), &ports,
                             [](const std::string& text) { log(text); }};
    PrinterOperations operations{services, table};
    PrinterTableEventSink sink{table};
};

Sessions& sessions() {
    static Sessions s;
    return s;
}

std::string programPath() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) TOLVEX_THROW_WIN32("GetModuleFileNameA failed", n == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
    return std::string(path, n);
}

uint32_t runService(const std::string& serviceName) {
    Sessions& s = sessions();
    IpcControllerConfig config;
    DispatchWiring::wire(config, s.operations, AlertCallbackRegistry::getInstance());
    // Requests waiting on a printer end when its session goes, so the stop does not wait on them.
    config.stopSessions = [] { sessions().table.destroyAll(); };
    IPCController::configure(config);

    Service::create(serviceName);
    Service::setStartRoutine([] {
        IPCController::ipcStart();
        EventLog::report(EventLog::ServiceStarted, {TOLVEX_VERSION_TEXT, "\\\\.\\pipe\\" + IPCController::servicePipeName()});
    });
    Service::setStopRoutine([] {
        IPCController::ipcStop();
        // A read loop that did not end when its session went still uses the log and the
        // interpreter plug-in: they stay while it runs, and the process ends with the stop.
        if (LingeringPorts::instance().drain(kLingeringAtStopMs)) {
            ServiceEnvironment::teardown();
        } else {
            log("ProgramEntry read threads still running at the stop: the plug-ins and the log stay loaded");
        }
        EventLog::report(EventLog::ServiceStopped);
    });
    return Service::Run();
}

bool isHelpWord(const std::string& argument) {
    return argument == "/?" || argument == "-?" || argument == "-h" || argument == "-help" || argument == "--help";
}

}  // namespace

ServiceNames ProgramEntry::composeNames(const std::string& prefix, const std::string& shortName,
                                        const std::string& path) {
    return {prefix + "__tolvex", shortName + " Sorvane", "\"" + path + "\""};
}

std::string ProgramEntry::usage(const ServiceNames& names, const std::string& prefix, const std::string& shortName) {
    const std::string keyOwner = shortName.empty() ? "Quorvel" : shortName;
    return "usage: tolvex.exe -install | -uninstall | -debugInstall | -debugStart | -help\n"
           "The tolvex service: a two-way channel between programs on this computer and USB printers.\n"
           "\n"
           "  -install       install the service \"" + names.serviceName + "\" (shown as \"" + names.displayName +
           "\";\n"
           "                 starts with the computer, runs as LocalSystem) and start it at once\n"
           "  -uninstall     stop the service if it runs, then remove it\n"
           "  -debugInstall  install the service without starting it\n"
           "  -debugStart    start the installed service\n"
           "  -help          this text\n"
           "\n"
           "Without an option the program is the service itself, as the service control manager\n"
           "starts it. Clients reach it on \\\\.\\pipe\\" + prefix + IPCController::kPipeSuffix + ".\n"
           "Its log is %ALLUSERSPROFILE%\\" + prefix + "__BcxComponents.log, written while the REG_DWORD\n"
           "value startLog under HKEY_LOCAL_MACHINE\\Software\\" + keyOwner + "\\BcxComponents is above 0\n"
           "(a change counts from the next line on).\n";
}

int ProgramEntry::run(int argc, char** argv) {
    const std::string argument = argc > 1 ? argv[1] : "";
    const bool help = isHelpWord(argument);
    const bool serviceMode = !help && (argument.empty() || argument[0] != '-');
    int exitCode = 0;
    try {
        ServiceEnvironment::create(&sessions().sink);
        LocalizeBase& branding = Localize::getInstance();
        LogFacade::getInstance().setPrefix(branding.getManufacturerPrefix());
        LogFacade::getInstance().setShortName(branding.getManufacturerShortName());
        log("_tmain");
        log("Commandline: " + argument);
        const ServiceNames names =
            composeNames(branding.getManufacturerPrefix(), branding.getManufacturerShortName(), programPath());

        const std::string text =
            usage(names, branding.getManufacturerPrefix(), branding.getManufacturerShortName());
        if (help) {
            std::fputs(text.c_str(), stdout);
        } else if (serviceMode) {
            // Only the service writes to the event log; what the environment reported while it
            // came up goes out now.
            EventLog::setSource(names.serviceName);
            // Started from a console rather than by the control manager: say what the program is.
            if (runService(names.serviceName) == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) std::fputs(text.c_str(), stdout);
        } else {
            const std::string option = argument.substr(1);
            if (option == "install") {
                ServiceInstaller::install(names.serviceName, names.displayName, names.binaryPath);
            } else if (option == "uninstall") {
                ServiceInstaller::uninstall(names.serviceName);
            } else if (option == "debugInstall") {
                ServiceInstaller::debugInstall(names.serviceName, names.displayName, names.binaryPath);
            } else if (option == "debugStart") {
                ServiceInstaller::startService(names.serviceName);
            } else {
                std::fprintf(stderr, "tolvex: unknown option '%s'\n%s", argument.c_str(), text.c_str());
                exitCode = ERROR_INVALID_PARAMETER;
            }
        }
    } catch (const Exception& e) {
        log("Service could not be started.." + e.message());
        if (serviceMode) EventLog::report(EventLog::UnexpectedFailure, {e.message(), std::to_string(e.code())});
    }
    return exitCode;
}

int main(int argc, char** argv) { return ProgramEntry::run(argc, argv); }
