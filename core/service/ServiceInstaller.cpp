#include "core/service/ServiceInstaller.h"

#include "core/service/ServiceControl.h"
#include "logging/EventLog.h"
#include "logging/LogFacade.h"
#include "runtime/Exception.h"
#include "runtime/UniqueHandle.h"

namespace {

const char kComponent[] = "BidiService";

void log(const std::string& text) { LogFacade::getInstance().log(kComponent, text); }

// The program path without the quotes the service's command line carries.
std::string unquoted(const std::string& path) {
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') return path.substr(1, path.size() - 2);
    return path;
}

}  // namespace

uint32_t ServiceInstaller::create(const std::string& serviceName, const std::string& displayName,
                                  const std::string& binaryPath) {
    UniqueScHandle manager;
    UniqueScHandle service;
    try {
        manager.reset(ServiceControl::openSCManager());
        if (!manager) TOLVEX_THROW_WIN32("Failed to get SCM handle", GetLastError());
        service.reset(ServiceControl::createService(manager.get(), serviceName.c_str(), displayName.c_str(),
                                                    SERVICE_ALL_ACCESS, kServiceType, SERVICE_AUTO_START,
                                                    SERVICE_ERROR_NORMAL, binaryPath.c_str()));
        if (!service) TOLVEX_THROW_WIN32("Failed to get service handle", GetLastError());
        SERVICE_DESCRIPTIONA description = {const_cast<char*>(kDescription)};
        ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
        // Without the source's registration the event log shows the service's entries without
        // their texts. A failure here leaves a working service: logged, not returned.
        const uint32_t registered = EventLog::registerSource(serviceName, unquoted(binaryPath));
        if (registered != 0) log("ServiceInstaller::create() event source not registered: rc=" + std::to_string(registered));
    } catch (const Exception& e) {
        log(e.message());
        return static_cast<uint32_t>(e.code());
    }
    return 0;
}

uint32_t ServiceInstaller::install(const std::string& serviceName, const std::string& displayName,
                                   const std::string& binaryPath) {
    const uint32_t rc = create(serviceName, displayName, binaryPath);
    if (rc == 0 || rc == ERROR_SERVICE_EXISTS) startService(serviceName);
    return rc;
}

uint32_t ServiceInstaller::debugInstall(const std::string& serviceName, const std::string& displayName,
                                        const std::string& binaryPath) {
    return create(serviceName, displayName, binaryPath);
}

uint32_t ServiceInstaller::startService(const std::string& serviceName) {
    uint32_t rc = 0;
    UniqueScHandle manager;
    UniqueScHandle service;
    try {
        manager.reset(ServiceControl::openSCManager());
        if (!manager) TOLVEX_THROW_WIN32("Failed to get SCM handle", GetLastError());
        service.reset(ServiceControl::openService(manager.get(), serviceName.c_str(), kStartAccess));
        if (!service) TOLVEX_THROW_WIN32("Failed to get service handle", GetLastError());
        if (!ServiceControl::startService(service.get())) TOLVEX_THROW_WIN32("Failed start service", GetLastError());
    } catch (const Exception& e) {
        log(e.message());
        rc = static_cast<uint32_t>(e.code());
    }
    log("ServiceInstaller::startService() rc: " + std::to_string(rc));
    return rc;
}

uint32_t ServiceInstaller::uninstall(const std::string& serviceName, std::ostream& out) {
    const UniqueScHandle manager(ServiceControl::openSCManager());
    if (!manager) return GetLastError();
    const UniqueScHandle service(ServiceControl::openService(manager.get(), serviceName.c_str(), kRemoveAccess));
    if (!service) return GetLastError();

    SERVICE_STATUS status = {};
    if (ServiceControl::controlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        // The wait is bounded: a service stuck in stop pending would otherwise keep the command
        // line waiting for ever.
        const ULONGLONG deadline = GetTickCount64() + kStopWaitMilliseconds;
        DWORD failure = NO_ERROR;
        for (;;) {
            Sleep(kStopPollMilliseconds);
            if (!ServiceControl::queryServiceStatus(service.get(), &status)) {
                failure = GetLastError();
                break;
            }
            if (status.dwCurrentState != SERVICE_STOP_PENDING) break;
            if (GetTickCount64() >= deadline) {
                failure = ERROR_SERVICE_REQUEST_TIMEOUT;
                break;
            }
        }
        if (status.dwCurrentState != SERVICE_STOPPED) {
            log(serviceName + " Service failed to stop");
            // A service that came back to another state leaves no system error: it must not
            // read as success.
            return failure != NO_ERROR ? failure : ERROR_SERVICE_REQUEST_TIMEOUT;
        }
        out << "\n" << serviceName << " is stopped.\n";
        out.flush();
        log(serviceName + " service is Stopped");
    }

    if (!ServiceControl::deleteService(service.get())) {
        const DWORD rc = GetLastError();
        log(serviceName + " DeleteService failed w/err " + std::to_string(rc));
        return rc;
    }
    const uint32_t unregistered = EventLog::unregisterSource(serviceName);
    if (unregistered != 0) log("ServiceInstaller::uninstall() event source not removed: rc=" + std::to_string(unregistered));
    out << serviceName << " is removed.\n";
    out.flush();
    log(serviceName + " Service is removed");
    return 0;
}
