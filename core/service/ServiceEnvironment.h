#pragma once
// The process-wide objects that every mode of the program relies on. create() brings them up in
// order: branding (from the program's own module), the "advapi32" binding, the alert callback
// registry, the log facade, the interpreter manager (given Prefix = manufacturer prefix + "__")
// and the notifier window. teardown() takes them down in the order the service stop needs:
// service object, binding, branding, log facade, interpreter manager, notifier window; the
// callback registry stays. Both run under one process-wide lock; after a teardown a later
// create() builds everything again. Windows only.
#include "core/usb/DeviceEventSink.h"

#include <string>

class ServiceEnvironment {
public:
    // Does nothing while the environment exists. sink receives the notifier window's device and
    // power events (null: they are dropped) and must outlive teardown(). Raises Exception when
    // a step fails; what was created until then is taken down again first.
    static void create(DeviceEventSink* sink);
    static bool exists();
    // Nothing when the environment does not exist. Raises Exception when a step raises (the
    // remaining steps still run).
    static void teardown();
    // The branding's ManufacturerPrefix followed by "__"; raises while there is no branding.
    static std::string manufacturerPrefix();
};
