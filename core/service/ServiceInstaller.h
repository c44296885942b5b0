#pragma once
// Installs, starts and removes the service through the service control manager. Holds nothing
// between calls; each operation opens and closes its own handles and returns 0 or the failing
// call's system code. Console lines of uninstall go to out. Windows only.
#include "runtime/Win32.h"

#include <cstdint>
#include <iostream>
#include <string>

class ServiceInstaller {
public:
    static constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;  // 0x110
    static constexpr DWORD kStartAccess = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;       // 0x34
    static constexpr DWORD kRemoveAccess = DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS;             // 0x10024
    static constexpr DWORD kStopPollMilliseconds = 1000;
    // How long uninstall waits for a service that stays in stop pending.
    static constexpr DWORD kStopWaitMilliseconds = 30000;
    static constexpr const char* kDescription =
        "Provides a bi-directional communication channel between USB connected printer and computer.";

    // Creates the service (automatic start, local system) with its event source registered and
    // starts it; an existing service (1073) is started all the same.
    static uint32_t install(const std::string& serviceName, const std::string& displayName,
                            const std::string& binaryPath);
    // Creates the service without starting it.
    static uint32_t debugInstall(const std::string& serviceName, const std::string& displayName,
                                 const std::string& binaryPath);
    // Asks for a start and does not wait for the running state.
    static uint32_t startService(const std::string& serviceName);
    // Stops the service if it runs (waiting up to kStopWaitMilliseconds), then deletes it and its
    // event source.
    static uint32_t uninstall(const std::string& serviceName, std::ostream& out = std::cout);

private:
    static uint32_t create(const std::string& serviceName, const std::string& displayName,
                           const std::string& binaryPath);
};
