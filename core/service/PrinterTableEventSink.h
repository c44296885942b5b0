#pragma once
// The printer table as the notifier window's sink: device events reach the port of the session
// with that device path, power and docking events every session's port. The table is not owned
// and outlives the sink. Any thread (the notifier's, in practice).
#include "core/sessions/PrinterTable.h"
#include "core/usb/DeviceEventSink.h"

class PrinterTableEventSink : public DeviceEventSink {
public:
    explicit PrinterTableEventSink(PrinterTable& table) : table_(table) {}

    // The port shares the session's ownership: the session stays alive while it is used.
    std::shared_ptr<Port> findByDevicePath(const std::string& path) override;
    void suspendAll() override { table_.suspendAll(); }
    void resumeAll() override { table_.resumeAll(); }
    int32_t undockAll() override { return static_cast<int32_t>(table_.undockAll()); }

private:
    PrinterTable& table_;
};
