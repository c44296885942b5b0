#pragma once
// What the service wiring calls to put the dispatch layer in place: the controller makes a
// BcxFunctionMapper over operations and callbacks at every start, and callbacks delivers alerts
// through the process's IpcAlertSink with config's callback bound. The caller keeps operations
// and callbacks alive while the controller runs; the session stop hook stays the caller's.
#include "core/ipc/IPCController.h"
#include "core/sessions/AlertCallbackRegistry.h"
#include "core/sessions/PrinterOperations.h"

namespace DispatchWiring {

void wire(IpcControllerConfig& config, PrinterOperations& operations, AlertCallbackRegistry& callbacks);

}  // namespace DispatchWiring
