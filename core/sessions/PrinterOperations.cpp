#include "core/sessions/PrinterOperations.h"

#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"
#include "runtime/Exception.h"

#include <cctype>
#include <cstring>

PrinterOperations::PrinterOperations(SessionServices& services, PrinterTable& table)
    : services_(services), table_(table) {}

uint32_t PrinterOperations::openOrCreate(uint32_t handle, const PrinterTable::Creator& creator) {
    std::lock_guard<std::mutex> guard(openCloseLock_);
    std::shared_ptr<Printer> printer;
    try {
        printer = table_.findOrCreate(handle, creator);
    } catch (const Exception& e) {
        return e.code() != 0 ? static_cast<uint32_t>(e.code()) : 1359u;
    }
    if (printer == nullptr) return 1359;
    return printer->open();
}

uint32_t PrinterOperations::openPrinter(uint32_t handle) {
    return openOrCreate(handle, [this] { return std::make_shared<Printer>(services_); });
}

uint32_t PrinterOperations::openPrinterEx(const std::string& portName, uint32_t handle) {
    std::string transport;
    SetElement(transport, "PORTNAME", portName);
    return openOrCreate(handle, [this, transport, handle] {
        return std::make_shared<Printer>(services_, transport, handle);
    });
}

uint32_t PrinterOperations::closePrinter(uint32_t handle) {
    std::lock_guard<std::mutex> guard(openCloseLock_);
    std::shared_ptr<Printer> printer = table_.find(handle);
    if (printer == nullptr) return kNoSuchHandle;
    const uint32_t rc = printer->close();
    if (printer->count() == 0) table_.erase(handle, printer);
    return rc;
}

uint32_t PrinterOperations::exchangePacket(uint32_t handle, const uint8_t* request, uint32_t requestLength,
                                           uint8_t* reply, uint32_t replySize, uint32_t* returnedLength) {
    if (handle == 0) return kNoSuchHandle;
    if (request == nullptr || reply == nullptr || returnedLength == nullptr) return kBadArgument;
    Data requestData(request, requestLength);

    std::string text;
    PropertyAccessor accessor;
    accessor.SetByteArray(text, PropertyAccessor::DataByteArray, request, requestLength);
    accessor.SetString(text, PropertyAccessor::Interpreter, "Npa");
    CommandManager* manager = services_.lookup.getCommandManager(text);
    Command* command = manager->Create(text);
    const bool maySend = command != nullptr && command->MaySendRaw();
    manager->Destroy(command);
    if (!maySend) return kRefusedPacket;

    // The NPA-mode request is the service's own business: every connect sends it already.
    static const uint8_t kNpaMode[4] = {0xA4, 0x5B, 0xA4, 0x5B};
    if (requestLength >= 8 && std::memcmp(request + 4, kNpaMode, 4) == 0) return 0;

    *returnedLength = 0;
    std::shared_ptr<Printer> printer = table_.find(handle);
    if (printer == nullptr) return kNoSuchHandle;
    Data replyData;
    uint32_t rc;
    {
        CriticalSectionLock guard(printer->sessionLock());
        rc = printer->exchange(requestData, replyData);
    }
    if (rc == 0 && replyData.Size() > 0) {
        *returnedLength = replyData.Size();
        if (replyData.Size() > replySize) return kBufferTooSmall;
        std::memcpy(reply, replyData.Bytes(), replyData.Size());
    }
    return rc;
}

uint32_t PrinterOperations::enumSpecificPrinter(const std::string& portName, uint32_t* handle) {
    if (handle == nullptr) return kBadArgument;
    *handle = 0;
    std::string name = portName;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name.size() != 6 || name.compare(0, 3, "USB") != 0) return kBadPortName;
    uint32_t n = 0;
    for (size_t i = 3; i < 6; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return kBadPortName;
        n = n * 10 + static_cast<uint32_t>(name[i] - '0');
    }
    if (n == 0) return kBadPortName;
    *handle = (n & 0x7FF) | 0x2000;
    return 0;
}

uint32_t PrinterOperations::setLanguageId(uint32_t handle, const std::string& languageId) {
    std::shared_ptr<Printer> printer = table_.find(handle);
    if (printer == nullptr) return kNoSuchHandle;
    printer->setLanguageId(languageId);
    return 0;
}

uint32_t PrinterOperations::setTimeout(uint32_t handle, uint32_t milliseconds) {
    std::shared_ptr<Printer> printer = table_.find(handle);
    if (printer == nullptr) return kNoSuchHandle;
    printer->setTimeout(milliseconds);
    return 0;
}

uint32_t PrinterOperations::registerForAlerts(const AlertRegistration& registration) {
    std::shared_ptr<Printer> printer = table_.find(registration.printerHandle);
    if (printer == nullptr) return kNoSuchHandle;
    return printer->RegisterForAlerts(registration);
}

uint32_t PrinterOperations::unregisterForAlerts(uint32_t handle, uint32_t clientId) {
    std::shared_ptr<Printer> printer = table_.find(handle);
    if (printer == nullptr) return kNoSuchHandle;
    return printer->UnregisterForAlerts(clientId);
}
