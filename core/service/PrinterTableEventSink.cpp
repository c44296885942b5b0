#include "core/service/PrinterTableEventSink.h"

std::shared_ptr<Port> PrinterTableEventSink::findByDevicePath(const std::string& path) {
    std::string key = path;  // the table upper-cases its argument
    const std::shared_ptr<Printer> printer = table_.findByDevicePath(key);
    if (!printer || printer->port() == nullptr) return nullptr;
    return std::shared_ptr<Port>(printer, printer->port());
}
