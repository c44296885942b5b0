#include "config/Localize.h"

#include "config/LocalizeConfig.h"
#include "config/LocalizeLegacy.h"
#include "runtime/CriticalSection.h"
#include "runtime/Exception.h"

#include <atomic>
#include <functional>
#include <memory>

namespace {

struct Singleton {
    CriticalSection section;
    std::atomic<LocalizeBase*> record{nullptr};
};

Singleton& singleton() {
    static Singleton instance;
    return instance;
}

void create(const std::function<LocalizeBase*()>& fromFile, const std::function<LocalizeBase*()>& fromTable) {
    Singleton& s = singleton();
    if (s.record.load(std::memory_order_acquire) != nullptr) return;
    CriticalSectionLock lock(s.section);
    if (s.record.load(std::memory_order_relaxed) != nullptr) return;
    std::unique_ptr<LocalizeBase> record;
    try {
        record.reset(fromFile());
    } catch (const Win32Exception&) {
        // Any reason the file cannot brand the module (absent, unparsable, incomplete) means the
        // table does; the reason itself is of no interest to anybody.
        record.reset(fromTable());
    }
    s.record.store(record.release(), std::memory_order_release);
}

}  // namespace

void Localize::createInstance(HMODULE module) {
    create([module] { return new LocalizeConfig(module); }, [module] { return new LocalizeLegacy(module); });
}

void Localize::createInstance(HMODULE module, const std::string& modulePath) {
    create([&] { return new LocalizeConfig(module, modulePath); },
           [&] { return new LocalizeLegacy(module, modulePath); });
}

LocalizeBase& Localize::getInstance() {
    LocalizeBase* record = singleton().record.load(std::memory_order_acquire);
    if (record == nullptr)
        throw Win32Exception("You must call Localize::createInstance() before calling getInstance()", 0);
    return *record;
}

bool Localize::exists() { return singleton().record.load(std::memory_order_acquire) != nullptr; }

void Localize::destroyInstance() {
    Singleton& s = singleton();
    CriticalSectionLock lock(s.section);
    delete s.record.exchange(nullptr, std::memory_order_acq_rel);
}
