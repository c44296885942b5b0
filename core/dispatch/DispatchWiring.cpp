#include "core/dispatch/DispatchWiring.h"

#include "core/dispatch/BcxFunctionMapper.h"
#include "core/dispatch/IpcAlertSink.h"

void DispatchWiring::wire(IpcControllerConfig& config, PrinterOperations& operations,
                          AlertCallbackRegistry& callbacks) {
    config.createMapper = [&operations, &callbacks] {
        return std::unique_ptr<FunctionMapper>(new BcxFunctionMapper(operations, callbacks));
    };
    IpcAlertSink::install(callbacks, config.timeouts.callbackMs);
}
