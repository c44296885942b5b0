#pragma once
// The service control manager's functions, bound at run time from "advapi32": each is looked up
// by name on its first use, through a process-wide BasicDll<DllHandler> binding, and the entry
// point is cached for the rest of the process (it outlives destroyBinding, since the library
// stays loaded by the program's own imports). A function that cannot be found makes its wrapper
// fail as the call would: it returns 0 (or null) with the lookup's code as the last error.
// Any thread may call; nothing here raises except createBinding.
#include "export/common/BasicDll.h"
#include "runtime/Win32.h"

// No load hooks: the system library needs no initialisation of ours.
class DllHandler {
public:
    void onFirstLoad(BasicDll<DllHandler>&) {}
    void onLastUnload(BasicDll<DllHandler>&) {}
};

class ServiceControl {
public:
    static constexpr const char* kLibrary = "advapi32";

    // Creates the binding once; raises Win32Exception "BasicDll<Handler>::init() Unable to load
    // DLL=advapi32" when the library cannot be loaded.
    static void createBinding();
    static bool bindingExists();
    // Drops the binding; cached entry points stay usable.
    static void destroyBinding();

    // The export name of "advapi32" through the binding (created when absent); null with the
    // last error set when it cannot be found. Not cached: the wrappers cache.
    static FARPROC lookup(const char* name);

    static BOOL startServiceCtrlDispatcher(const SERVICE_TABLE_ENTRYA* table);
    static SERVICE_STATUS_HANDLE registerServiceCtrlHandler(const char* serviceName, LPHANDLER_FUNCTION handler);
    static BOOL setServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status);
    // The local "ServicesActive" database with all access.
    static SC_HANDLE openSCManager();
    static SC_HANDLE createService(SC_HANDLE manager, const char* serviceName, const char* displayName,
                                   DWORD desiredAccess, DWORD serviceType, DWORD startType, DWORD errorControl,
                                   const char* binaryPath);
    static SC_HANDLE openService(SC_HANDLE manager, const char* serviceName, DWORD access);
    static BOOL startService(SC_HANDLE service);
    static BOOL controlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status);
    static BOOL queryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);
    static BOOL deleteService(SC_HANDLE service);
};
