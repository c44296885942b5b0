#include "core/dispatch/DispatchWiring.h"

#include "core/dispatch/BcxFunctionMapper.h"
#include "core/dispatch/IpcAlertSink.h"
#include "logging/LogFacade.h"

void DispatchWiring::wire(IpcControllerConfig& config, PrinterOperations& operations,
                          AlertCallbackRegistry& callbacks) {
    config.createMapper = [&operations, &callbacks] {
        return std::unique_ptr<FunctionMapper>(new BcxFunctionMapper(
            operations, callbacks, [](const std::string& line) { LogFacade::getInstance().log("BidiService", line); }));
    };
    IpcAlertSink::install(callbacks, config.timeouts.callbackMs);
}
