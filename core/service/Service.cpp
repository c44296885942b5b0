#include "core/service/Service.h"

#include "core/service/ServiceControl.h"
#include "logging/EventLog.h"
#include "logging/LogFacade.h"
#include "runtime/CriticalSection.h"
#include "runtime/Event.h"

#include <atomic>
#include <vector>

namespace {

const char kComponent[] = "BidiService";

struct ServiceState {
    CriticalSection lock;  // guards name, routines and the created flag
    bool created = false;
    std::string name;
    Service::Routine start;
    Service::Routine stop;
    // Written only by the dispatcher's threads, one control at a time.
    SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN,
                             NO_ERROR, 0, 0, 0};
    std::atomic<SERVICE_STATUS_HANDLE> handle{nullptr};
    // The dispatch table needs the name's characters for as long as the dispatcher runs.
    std::vector<char> tableName;
    // Signalled while neither the service main nor a stop handler runs.
    CriticalSection busyLock;
    int busy = 0;
    Event handlerIdle{true, true};
};

// Never destroyed before the dispatcher returns: a function-local static outlives main's work.
ServiceState& state() {
    static ServiceState s;
    return s;
}

void log(const std::string& text) { LogFacade::getInstance().log(kComponent, text); }

// Marks a dispatcher thread busy in the service's code for its lifetime.
class BusyScope {
public:
    BusyScope() {
        ServiceState& s = state();
        CriticalSectionLock guard(s.busyLock);
        if (s.busy++ == 0) s.handlerIdle.reset();
    }
    ~BusyScope() {
        ServiceState& s = state();
        CriticalSectionLock guard(s.busyLock);
        if (--s.busy == 0) s.handlerIdle.set();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

Service::Routine routineCopy(Service::Routine ServiceState::*which) {
    ServiceState& s = state();
    CriticalSectionLock guard(s.lock);
    return s.*which;
}

// Runs a routine, turning anything it raises into an Exception with the same contents.
void runRoutine(const Service::Routine& routine) {
    if (!routine) return;
    try {
        routine();
    } catch (const Exception&) {
        throw;
    } catch (const std::exception& e) {
        throw Exception(e.what(), ERROR_INTERNAL_ERROR, __FILE__, __LINE__);
    }
}

DWORD specificCode(const Exception& e) {
    return e.code() != 0 ? static_cast<DWORD>(e.code()) : Service::kServiceSpecificError;
}

}  // namespace

void Service::create(const std::string& name) {
    ServiceState& s = state();
    CriticalSectionLock guard(s.lock);
    if (s.created) return;
    s.name = name;
    s.tableName.assign(name.begin(), name.end());
    s.tableName.push_back('\0');
    s.created = true;
}

bool Service::exists() {
    ServiceState& s = state();
    CriticalSectionLock guard(s.lock);
    return s.created;
}

void Service::destroy() {
    ServiceState& s = state();
    CriticalSectionLock guard(s.lock);
    s.start = nullptr;
    s.stop = nullptr;
}

std::string Service::name() {
    ServiceState& s = state();
    CriticalSectionLock guard(s.lock);
    return s.name;
}

void Service::setStartRoutine(Routine routine) {
    ServiceState& s = state();
    CriticalSectionLock guard(s.lock);
    s.start = std::move(routine);
}

void Service::setStopRoutine(Routine routine) {
    ServiceState& s = state();
    CriticalSectionLock guard(s.lock);
    s.stop = std::move(routine);
}

SERVICE_STATUS Service::status() { return state().status; }

void Service::report() {
    ServiceState& s = state();
    ServiceControl::setServiceStatus(s.handle.load(), &s.status);
}

uint32_t Service::Run() {
    log("+Service::Run()");
    ServiceState& s = state();
    SERVICE_TABLE_ENTRYA table[2] = {{s.tableName.empty() ? nullptr : s.tableName.data(), &Service::doServiceMain},
                                     {nullptr, nullptr}};
    uint32_t rc = 0;
    try {
        if (!ServiceControl::startServiceCtrlDispatcher(table)) {
            TOLVEX_THROW_WIN32("Failed to start StartServiceCtrlDispatcher", GetLastError());
        }
    } catch (const Exception& e) {
        log(e.message());
        rc = static_cast<uint32_t>(e.code());
    }
    // The dispatcher returns as soon as "stopped" is reported, while the control thread (or the
    // service main, after a failed start) is still in our code; ending the process then would
    // cut the handler's reply to the control manager (the stop request would read as failed)
    // and run the static destructors under a thread that still logs.
    s.handlerIdle.wait(kHandlerDrainMilliseconds);
    log("-Service::Run() rc: " + std::to_string(rc));
    return rc;
}

void WINAPI Service::doServiceMain(DWORD, LPSTR*) {
    const BusyScope busy;
    log("+doServiceMain");
    ServiceState& s = state();
    uint32_t rc = 0;
    try {
        s.handle.store(ServiceControl::registerServiceCtrlHandler(name().c_str(), &Service::doSCMHandler));
        if (s.handle.load() == nullptr) TOLVEX_THROW_WIN32("Failed to get srvStatusHandle_", GetLastError());
        OnStart();
    } catch (const Exception& e) {
        log(e.message());
        rc = static_cast<uint32_t>(e.code());
    }
    log("-doServiceMain rc:" + std::to_string(rc));
}

void WINAPI Service::doSCMHandler(DWORD control) {
    log("doSCMHandler: " + std::to_string(control));
    if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN) return;
    const BusyScope busy;
    if (control == SERVICE_CONTROL_STOP) {
        OnStop();
    } else {
        OnShutdown();
    }
}

// The service reports running before its client side exists but accepts no control until the
// start routine has finished, so a stop cannot overtake the start.
void Service::OnStart() {
    log("+ Service::OnStart()");
    ServiceState& s = state();
    s.status.dwCurrentState = SERVICE_RUNNING;
    s.status.dwControlsAccepted = 0;
    report();
    log("Initilization stuff here ");
    bool failed = false;
    Exception error("");
    try {
        runRoutine(routineCopy(&ServiceState::start));
    } catch (const Exception& e) {
        failed = true;
        error = e;
    }
    if (failed) {
        OnError(error);
    } else {
        s.status.dwCurrentState = SERVICE_RUNNING;
        s.status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
        report();
    }
    log("- Service::OnStart()");
}

void Service::OnStop() {
    log("+ Service::OnStop()");
    stopSequence();
    log("- Service::OnStop()");
}

void Service::OnShutdown() {
    log("+ Service::OnShutdown()");
    stopSequence();
    log("- Service::OnShutdown()");
}

// Stop pending goes out with a check point and a wait hint, so the service control manager
// (and uninstall, which polls it) knows the stop is under way and how long to allow. A stop
// routine that fails still ends in a "stopped" report: otherwise the dispatcher would never
// return and the service would hang in stop pending until the machine restarts.
Service::Routine Service::reportStopPending() {
    ServiceState& s = state();
    s.status.dwCurrentState = SERVICE_STOP_PENDING;
    s.status.dwCheckPoint = 1;
    s.status.dwWaitHint = kStopWaitHintMilliseconds;
    report();
    // Copied: the routine tears down the environment, which forgets the routines.
    const Routine stop = routineCopy(&ServiceState::stop);
    s.status.dwCheckPoint = 0;
    s.status.dwWaitHint = 0;
    return stop;
}

void Service::stopSequence() {
    ServiceState& s = state();
    const Routine stop = reportStopPending();
    try {
        runRoutine(stop);
        s.status.dwWin32ExitCode = NO_ERROR;
        s.status.dwServiceSpecificExitCode = 0;
    } catch (const Exception& e) {
        log("Uninitialization failed");
        EventLog::report(EventLog::StopFailed, {e.message(), std::to_string(e.code())});
        s.status.dwWin32ExitCode = kServiceSpecificError;
        s.status.dwServiceSpecificExitCode = specificCode(e);
    }
    s.status.dwCurrentState = SERVICE_STOPPED;
    report();
}

void Service::OnError(const Exception& error) {
    log("+ Service::OnError()");
    log(" Error - " + error.message() + " rc = " + std::to_string(error.code()));
    EventLog::report(EventLog::StartFailed, {error.message(), std::to_string(error.code())});
    ServiceState& s = state();
    const Routine stop = reportStopPending();
    s.status.dwWin32ExitCode = kServiceSpecificError;
    s.status.dwServiceSpecificExitCode = kServiceSpecificError;
    try {
        runRoutine(stop);
    } catch (const Exception& e) {
        log("Uninitialization failed");
        EventLog::report(EventLog::StopFailed, {e.message(), std::to_string(e.code())});
    }
    s.status.dwCurrentState = SERVICE_STOPPED;
    report();
    log("- Service::OnError()");
}
