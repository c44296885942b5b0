#include "core/ipc/IPCController.h"

#include "config/Localize.h"
#include "core/ipc/IpcEndpoint.h"
#include "core/ipc/IpcEndpointPipeMonitor.h"
#include "export/common/PropertyText.h"
#include "logging/LogFacade.h"
#include "runtime/CriticalSection.h"
#include "runtime/Exception.h"

namespace {
const char* const kComponent = "BidiService";

struct ControllerState {
    CriticalSection section;
    IpcControllerConfig config;
    std::unique_ptr<FunctionMapper> mapper;
    std::unique_ptr<IpcEndpoints> endpoints;
    std::unique_ptr<IpcEndpointPipeMonitor> monitor;
};

ControllerState& state() {
    static ControllerState s;
    return s;
}

void log(const std::string& text) { LogFacade::getInstance().log(kComponent, text); }

// Teardown order: nothing may still use what is deleted after it.
void tearDown(ControllerState& s) {
    if (s.monitor) s.monitor->stop();
    s.monitor.reset();
    if (s.endpoints) s.endpoints->stop();
    s.endpoints.reset();
    s.mapper.reset();
}
}  // namespace

void IPCController::configure(const IpcControllerConfig& config) {
    ControllerState& s = state();
    CriticalSectionLock lock(s.section);
    s.config = config;
}

void IPCController::ipcStart() {
    log("+IPCController::ipcStart()");
    ControllerState& s = state();
    CriticalSectionLock lock(s.section);
    if (s.monitor) return;
    try {
        if (!s.config.createMapper) throw Exception("IPCController::ipcStart() no function mapper", 1359);
        const std::string name = s.config.pipeName.empty() ? servicePipeName() : s.config.pipeName;
        s.endpoints.reset(new IpcEndpoints());
        s.mapper = s.config.createMapper();
        if (!s.mapper) throw Exception("IPCController::ipcStart() no function mapper", 1359);
        s.monitor.reset(new IpcEndpointPipeMonitor(*s.endpoints, *s.mapper, s.config.timeouts));
        std::string properties;
        SetElement(properties, IpcEndpoint::kPipeName, name);
        s.monitor->setProperties(properties);
        s.monitor->start();
        log("-IPCController::ipcStart() pipename" + s.monitor->properties());
    } catch (const Exception& e) {
        tearDown(s);
        log("IPCController::ipcStart()!!!Exception" + e.message() + e.codeText() + std::to_string(e.code()));
        throw Exception(e.message(), e.code(), e.file(), e.line());
    }
}

void IPCController::ipcStop() {
    log("+IPCController::ipcStop()");
    ControllerState& s = state();
    CriticalSectionLock lock(s.section);
    if (!s.monitor && !s.endpoints) return;
    // Sessions first: a connection waiting on a printer only returns once its session is gone.
    std::unique_ptr<Exception> failure;
    try {
        if (s.config.stopSessions) s.config.stopSessions();
    } catch (const Exception& e) {
        failure.reset(new Exception(e.message(), e.code(), e.file(), e.line()));
    }
    tearDown(s);
    log("-IPCController::ipcStop()");
    if (failure) throw *failure;
}

bool IPCController::running() {
    ControllerState& s = state();
    CriticalSectionLock lock(s.section);
    return s.monitor != nullptr;
}

std::string IPCController::servicePipeName() {
    return Localize::getInstance().getManufacturerPrefix() + kPipeSuffix;
}

IpcEndpoints* IPCController::endpoints() {
    ControllerState& s = state();
    CriticalSectionLock lock(s.section);
    return s.endpoints.get();
}
