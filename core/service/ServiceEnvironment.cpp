#include "core/service/ServiceEnvironment.h"

#include "config/Localize.h"
#include "core/interpreters/InterpreterManager.h"
#include "core/service/Service.h"
#include "core/service/ServiceControl.h"
#include "core/sessions/AlertCallbackRegistry.h"
#include "core/usb/NotifierWindow.h"
#include "export/common/PropertyAccessor.h"
#include "logging/LogFacade.h"
#include "runtime/CriticalSection.h"
#include "runtime/Exception.h"

#include <atomic>
#include <functional>
#include <vector>

namespace {

struct EnvironmentState {
    CriticalSection lock;
    std::atomic<bool> created{false};
};

EnvironmentState& state() {
    static EnvironmentState s;
    return s;
}

// Runs every step even when one raises, so a failing step cannot leave the later objects (the
// notifier thread above all) running; the first failure is raised at the end.
void runAll(const std::vector<std::function<void()>>& steps) {
    bool failed = false;
    Exception first("");
    for (const auto& step : steps) {
        try {
            step();
        } catch (const Exception& e) {
            if (!failed) first = e;
            failed = true;
        }
    }
    if (failed) throw first;
}

void teardownSteps() {
    runAll({[] { Service::destroy(); },
            [] { ServiceControl::destroyBinding(); },
            [] { Localize::destroyInstance(); },
            [] { LogFacade::destroyInstance(); },
            [] { InterpreterManager::destroyInstance(); },
            [] { NotifierWindow::destroy(); }});
}

}  // namespace

std::string ServiceEnvironment::manufacturerPrefix() { return Localize::getInstance().getManufacturerPrefix() + "__"; }

void ServiceEnvironment::create(DeviceEventSink* sink) {
    EnvironmentState& s = state();
    if (s.created.load(std::memory_order_acquire)) return;
    CriticalSectionLock guard(s.lock);
    if (s.created.load(std::memory_order_relaxed)) return;
    try {
        Localize::createInstance(GetModuleHandleA(nullptr));
        Localize::getInstance();
        ServiceControl::createBinding();
        AlertCallbackRegistry::getInstance();
        LogFacade::getInstance();
        const std::string prefix = manufacturerPrefix();
        std::string text;
        const uint32_t rc = PropertyAccessor().SetString(text, PropertyAccessor::Prefix, prefix);
        if (rc != 0) throw Exception("ServiceEnvironment::create() cannot write the prefix", static_cast<int32_t>(rc), __FILE__, __LINE__);
        InterpreterManager::createInstance(text);
        NotifierWindow::create(prefix, sink);
    } catch (const Exception&) {
        try {
            teardownSteps();
        } catch (const Exception&) {
        }
        throw;
    }
    s.created.store(true, std::memory_order_release);
}

bool ServiceEnvironment::exists() { return state().created.load(std::memory_order_acquire); }

void ServiceEnvironment::teardown() {
    EnvironmentState& s = state();
    CriticalSectionLock guard(s.lock);
    if (!s.created.load(std::memory_order_relaxed)) return;
    s.created.store(false, std::memory_order_release);
    teardownSteps();
}
