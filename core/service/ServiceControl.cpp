#include "core/service/ServiceControl.h"

#include "runtime/CriticalSection.h"
#include "runtime/Exception.h"
#include "runtime/ProcessSingleton.h"

#include <atomic>

namespace {

using SystemDll = BasicDll<DllHandler>;

struct SystemDllHolder {
    SystemDll dll;
    SystemDllHolder() : dll(ServiceControl::kLibrary) {}
};

ProcessSingleton<SystemDllHolder>& binding() {
    // The module counts must outlive the binding, which releases its module into them when the
    // process ends: statics are destroyed in reverse order of construction.
    BasicDllModules::instance();
    static ProcessSingleton<SystemDllHolder> singleton;
    return singleton;
}

// The entry point of name, from the cache or looked up once; the cache keeps the first success.
template <typename Function>
Function entry(const char* name, std::atomic<FARPROC>& cache) {
    FARPROC address = cache.load(std::memory_order_acquire);
    if (address == nullptr) {
        address = ServiceControl::lookup(name);
        if (address == nullptr) return nullptr;
        cache.store(address, std::memory_order_release);
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

}  // namespace

void ServiceControl::createBinding() { binding().get(); }

bool ServiceControl::bindingExists() { return binding().created(); }

void ServiceControl::destroyBinding() { binding().destroy(); }

FARPROC ServiceControl::lookup(const char* name) {
    try {
        return binding().get().dll.getProcAddress(name);
    } catch (const Exception& e) {
        SetLastError(e.code() != 0 ? static_cast<DWORD>(e.code()) : ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
}

BOOL ServiceControl::startServiceCtrlDispatcher(const SERVICE_TABLE_ENTRYA* table) {
    static std::atomic<FARPROC> cache{nullptr};
    const auto call = entry<BOOL(WINAPI*)(const SERVICE_TABLE_ENTRYA*)>("StartServiceCtrlDispatcherA", cache);
    return call != nullptr ? call(table) : FALSE;
}

SERVICE_STATUS_HANDLE ServiceControl::registerServiceCtrlHandler(const char* serviceName, LPHANDLER_FUNCTION handler) {
    static std::atomic<FARPROC> cache{nullptr};
    const auto call = entry<SERVICE_STATUS_HANDLE(WINAPI*)(LPCSTR, LPHANDLER_FUNCTION)>("RegisterServiceCtrlHandlerA", cache);
    return call != nullptr ? call(serviceName, handler) : nullptr;
}

BOOL ServiceControl::setServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status) {
    static std::atomic<FARPROC> cache{nullptr};
    const auto call = entry<BOOL(WINAPI*)(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS)>("SetServiceStatus", cache);
    return call != nullptr ? call(handle, status) : FALSE;
}

SC_HANDLE ServiceControl::openSCManager() {
    static std::atomic<FARPROC> cache{nullptr};
    const auto call = entry<SC_HANDLE(WINAPI*)(LPCSTR, LPCSTR, DWORD)>("OpenSCManagerA", cache);
    return call != nullptr ? call(nullptr, "ServicesActive", SC_MANAGER_ALL_ACCESS) : nullptr;
}

SC_HANDLE ServiceControl::createService(SC_HANDLE manager, const char* serviceName, const char* displayName,
                                        DWORD desiredAccess, DWORD serviceType, DWORD startType, DWORD errorControl,
                                        const char* binaryPath) {
    static std::atomic<FARPROC> cache{nullptr};
    const auto call = entry<SC_HANDLE(WINAPI*)(SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR, LPCSTR,
                                               LPDWORD, LPCSTR, LPCSTR, LPCSTR)>("CreateServiceA", cache);
    if (call == nullptr) return nullptr;
    return call(manager, serviceName, displayName, desiredAccess, serviceType, startType, errorControl, binaryPath,
                nullptr, nullptr, nullptr, nullptr, nullptr);
}

SC_HANDLE ServiceControl::openService(SC_HANDLE manager, const char* serviceName, DWORD access) {
    static std::atomic<FARPROC> cache{nullptr};
    const auto call = entry<SC_HANDLE(WINAPI*)(SC_HANDLE, LPCSTR, DWORD)>("OpenServiceA", cache);
    return call != nullptr ? call(manager, serviceName, access) : nullptr;
}

BOOL ServiceControl::startService(SC_HANDLE service) {
    static std::atomic<FARPROC> cache{nullptr};
    const auto call = entry<BOOL(WINAPI*)(SC_HANDLE, DWORD, LPCSTR*)>("StartServiceA", cache);
    return call != nullptr ? call(service, 0, nullptr) : FALSE;
}

BOOL ServiceControl::controlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) {
    static std::atomic<FARPROC> cache{nullptr};
    const auto call = entry<BOOL(WINAPI*)(SC_HANDLE, DWORD, LPSERVICE_STATUS)>("ControlService", cache);
    return call != nullptr ? call(service, control, status) : FALSE;
}

BOOL ServiceControl::queryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
    static std::atomic<FARPROC> cache{nullptr};
    const auto call = entry<BOOL(WINAPI*)(SC_HANDLE, LPSERVICE_STATUS)>("QueryServiceStatus", cache);
    return call != nullptr ? call(service, status) : FALSE;
}

BOOL ServiceControl::deleteService(SC_HANDLE service) {
    static std::atomic<FARPROC> cache{nullptr};
    const auto call = entry<BOOL(WINAPI*)(SC_HANDLE)>("DeleteService", cache);
    return call != nullptr ? call(service) : FALSE;
}
