#pragma once
// A library loaded by file name, counted per module across every BasicDll of the process: the
// first holder of a module loads it and runs Handler::onFirstLoad, the last one runs
// Handler::onLastUnload and frees it. Loading and unloading are serialised by one module lock.
// Construction raises Win32Exception when the library cannot be loaded or its first-load hook
// fails (the module is then released again); the destructor never raises.
//
// Handler needs `void onFirstLoad(BasicDll<Handler>&)` (may raise) and
// `void onLastUnload(BasicDll<Handler>&)`. Windows only: header-only, so that the portable
// target of this folder does not pull in the loader.
#include "runtime/CriticalSection.h"
#include "runtime/Exception.h"
#include "runtime/Win32.h"

#include <cstdint>
#include <map>
#include <string>

// The process-wide module counts: how many BasicDll objects hold each module.
struct BasicDllModules {
    CriticalSection lock;
    std::map<HMODULE, uint32_t> counts;

    static BasicDllModules& instance() {
        // A function-local static: its lock exists before the first load, whatever the order of
        // static initialisation.
        static BasicDllModules modules;
        return modules;
    }

    // How many holders the module has; 0 when it is not counted. For diagnostics and tests.
    static uint32_t holders(HMODULE module) {
        BasicDllModules& modules = instance();
        CriticalSectionLock guard(modules.lock);
        const auto found = modules.counts.find(module);
        return found == modules.counts.end() ? 0 : found->second;
    }
};

template <typename Handler>
class BasicDll {
public:
    explicit BasicDll(const std::string& fileName) : fileName_(fileName), module_(nullptr) { init(); }
    virtual ~BasicDll() {
        if (module_ == nullptr) return;
        try {
            release();
        } catch (...) {
        }
    }
    BasicDll(const BasicDll&) = delete;
    BasicDll& operator=(const BasicDll&) = delete;

    // The export name; raises Win32Exception when the module does not have it.
    FARPROC getProcAddress(const std::string& name) const {
        const FARPROC address = GetProcAddress(module_, name.c_str());
        if (address == nullptr) {
            TOLVEX_THROW_WIN32("BasicDll<Handler>::getProcAddress() Unable to get proc address=" + name,
                               GetLastError());
        }
        return address;
    }

    const std::string& fileName() const { return fileName_; }
    HMODULE module() const { return module_; }
    Handler& handler() { return handler_; }

private:
    void init() {
        BasicDllModules& modules = BasicDllModules::instance();
        CriticalSectionLock guard(modules.lock);
        const HMODULE loaded = GetModuleHandleA(fileName_.c_str());
        if (loaded != nullptr) {
            const auto found = modules.counts.find(loaded);
            if (found != modules.counts.end()) {
                ++found->second;
                module_ = loaded;
                return;
            }
        }
        const HMODULE module = LoadLibraryA(fileName_.c_str());
        if (module == nullptr) {
            TOLVEX_THROW_WIN32("BasicDll<Handler>::init() Unable to load DLL=" + fileName_, GetLastError());
        }
        module_ = module;
        modules.counts[module] = 0;
        try {
            handler_.onFirstLoad(*this);
        } catch (...) {
            // A module whose initialisation failed is not kept: left counted at 0 it would be
            // taken as initialised by the next holder, and its reference would never be freed.
            modules.counts.erase(module);
            module_ = nullptr;
            FreeLibrary(module);
            throw;
        }
        modules.counts[module] = 1;
    }

    void release() {
        BasicDllModules& modules = BasicDllModules::instance();
        CriticalSectionLock guard(modules.lock);
        const HMODULE module = module_;
        module_ = nullptr;
        const auto found = modules.counts.find(module);
        if (found == modules.counts.end()) return;
        if (found->second > 1) {
            --found->second;
            return;
        }
        // The hook still needs the module to look up its exports.
        module_ = module;
        try {
            handler_.onLastUnload(*this);
        } catch (...) {
        }
        module_ = nullptr;
        modules.counts.erase(found);
        FreeLibrary(module);
    }

    std::string fileName_;
    HMODULE module_;
    Handler handler_;
};
