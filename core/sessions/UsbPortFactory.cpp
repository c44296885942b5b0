#include "core/sessions/UsbPortFactory.h"

#include "core/usb/UsbEnumeration.h"
#include "core/usb/port/BcxServiceUsbPort.h"
#include "core/usb/port/BidiUsbAdapter.h"

namespace {

// Holds the port's spooler probe; as the first base it is built before the port and goes after it.
struct SpoolerHolder {
    BidiUsbAdapter spooler;
};

class UsbPrinterPort : private SpoolerHolder, public BcxServiceUsbPort {
public:
    UsbPrinterPort(const std::string& transportString, InterpreterLookup& lookup)
        : SpoolerHolder(), BcxServiceUsbPort(transportString, lookup, spooler) {}
};

}  // namespace

UsbPortFactory::UsbPortFactory(InterpreterLookup& lookup, Finder finder)
    : lookup_(lookup), finder_(finder ? std::move(finder) : Finder([](std::string& text) { return findUsbPrinter(text); })) {}

std::unique_ptr<Port> UsbPortFactory::createPort(std::string& transportString) {
    constexpr uint32_t kNotFound = 1;
    if (finder_(transportString) == kNotFound) return nullptr;
    return std::unique_ptr<Port>(new UsbPrinterPort(transportString, lookup_));
}
