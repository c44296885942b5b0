#include "core/sessions/PrinterOperations.h"

#include "core/sessions/LingeringPorts.h"
#include "core/usb/UsbDeviceIds.h"
#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"
#include "runtime/Exception.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

bool holdsMarkup(const std::string& text) { return text.find_first_of("<>") != std::string::npos; }

}  // namespace

PrinterOperations::PrinterOperations(SessionServices& services, PrinterTable& table)
    : services_(services), table_(table) {}

PrinterOperations::HandleLock::HandleLock(PrinterOperations& owner, uint32_t handle) : owner_(owner), handle_(handle) {
    {
        std::lock_guard<std::mutex> guard(owner_.handleLocksLock_);
        auto& entry = owner_.handleLocks_[handle];
        if (!entry.first) entry.first = std::make_shared<std::mutex>();
        ++entry.second;
        lock_ = entry.first;
    }
    lock_->lock();
}

PrinterOperations::HandleLock::~HandleLock() {
    lock_->unlock();
    std::lock_guard<std::mutex> guard(owner_.handleLocksLock_);
    auto it = owner_.handleLocks_.find(handle_);
    if (it != owner_.handleLocks_.end() && --it->second.second == 0) owner_.handleLocks_.erase(it);
}

void PrinterOperations::log(const std::string& line) const {
    if (services_.log) services_.log(line);
}

uint32_t PrinterOperations::openOrCreate(uint32_t handle, const PrinterTable::Creator& creator,
                                         const CallerIdentity& caller) {
    if (!caller.known()) return kNotAllowed;
    HandleLock guard(*this, handle);
    std::shared_ptr<Printer> printer;
    try {
        printer = table_.findOrCreate(handle, creator);
    } catch (const Exception& e) {
        return e.code() != 0 ? static_cast<uint32_t>(e.code()) : 1359u;
    }
    if (printer == nullptr) return 1359;
    return printer->open(caller);
}

std::shared_ptr<Printer> PrinterOperations::openedSession(uint32_t handle, const CallerIdentity& caller) const {
    std::shared_ptr<Printer> printer = table_.find(handle);
    if (printer == nullptr || !printer->openedBy(caller)) return nullptr;
    return printer;
}

bool PrinterOperations::isUsbPortHandle(uint32_t handle) {
    const uint32_t n = handle & 0x7FF;
    return (handle & ~0x7FFu) == 0x2000 && n >= 1 && n <= 999;
}

uint32_t PrinterOperations::openPrinter(uint32_t handle, const CallerIdentity& caller) {
    if (handle == 0) return kNoSuchHandle;
    // A session without a printer under a port's handle would deny that port to whoever opens
    // it properly; the port's own session is made instead.
    if (isUsbPortHandle(handle)) return openPrinterEx(usbPortName(handle & 0x7FF), handle, caller);
    return openOrCreate(
        handle,
        [this] {
            if (table_.countWithoutPort() >= kMaxPortlessSessions) {
                log("PrinterOperations::openPrinter() sessions without a printer at their limit of " +
                    std::to_string(kMaxPortlessSessions));
                throw Exception("PrinterOperations::openPrinter() too many sessions without a printer",
                                static_cast<int32_t>(kNoResources));
            }
            return std::make_shared<Printer>(services_);
        },
        caller);
}

uint32_t PrinterOperations::openPrinterEx(const std::string& portName, uint32_t handle, const CallerIdentity& caller) {
    // The name goes into the session's transport string: it is checked before it gets there.
    uint32_t portHandle = 0;
    if (enumSpecificPrinter(portName, &portHandle) != 0 || holdsMarkup(portName)) return kBadPortName;
    if (handle != portHandle) return kBadArgument;
    std::string transport;
    SetElement(transport, "PORTNAME", portName);
    return openOrCreate(
        handle,
        [this, transport, handle, portName] {
            // A read loop left running by a closed session still reads the device: a second loop
            // beside it could take the new session's replies.
            if (LingeringPorts::instance().holds(portName)) {
                throw Exception("PrinterOperations::openPrinterEx() the printer's previous read thread still runs",
                                static_cast<int32_t>(kPrinterBusy));
            }
            return std::make_shared<Printer>(services_, transport, handle);
        },
        caller);
}

uint32_t PrinterOperations::closePrinter(uint32_t handle, const CallerIdentity& caller) {
    uint32_t rc = kNoSuchHandle;
    {
        // The session may die here, stopping its read thread: under this handle's lock only.
        HandleLock guard(*this, handle);
        std::shared_ptr<Printer> printer = table_.find(handle);
        if (printer == nullptr) return kNoSuchHandle;
        rc = printer->close(caller);
        if (printer->count() == 0) table_.erase(handle, printer);
    }
    // Ports left to a read loop that has ended since are freed now.
    LingeringPorts::instance().reapEnded();
    return rc;
}

uint32_t PrinterOperations::exchangePacket(uint32_t handle, const uint8_t* request, uint32_t requestLength,
                                           Data& reply, uint32_t replySize, uint32_t* returnedLength,
                                           const CallerIdentity& caller) {
    reply.Clear();
    if (handle == 0) return kNoSuchHandle;
    if (request == nullptr || returnedLength == nullptr) return kBadArgument;

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
    std::shared_ptr<Printer> printer = openedSession(handle, caller);
    if (printer == nullptr) return kNoSuchHandle;
    Data requestData(request, requestLength);
    Data answer;
    const uint32_t rc = printer->lockedExchange(requestData, answer);
    if (rc == 0 && answer.Size() > 0) {
        *returnedLength = answer.Size();
        if (answer.Size() > replySize) return kBufferTooSmall;
        reply = answer;
    }
    return rc;
}

uint32_t PrinterOperations::exchangePacket(uint32_t handle, const uint8_t* request, uint32_t requestLength,
                                           uint8_t* reply, uint32_t replySize, uint32_t* returnedLength,
                                           const CallerIdentity& caller) {
    if (reply == nullptr) return handle == 0 ? kNoSuchHandle : kBadArgument;
    Data answer;
    const uint32_t rc = exchangePacket(handle, request, requestLength, answer, replySize, returnedLength, caller);
    if (answer.Size() > 0) std::memcpy(reply, answer.Bytes(), answer.Size());
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

bool PrinterOperations::isLanguageId(const std::string& languageId) {
    if (languageId.empty()) return true;
    const bool prefixed = languageId.size() > 2 && languageId[0] == '0' && (languageId[1] == 'x' || languageId[1] == 'X');
    const std::string digits = languageId.substr(prefixed ? 2 : 0);
    return !digits.empty() && digits.size() <= kMaxLanguageIdDigits &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

uint32_t PrinterOperations::setLanguageId(uint32_t handle, const std::string& languageId,
                                          const CallerIdentity& caller) {
    // It becomes an element of the registration's property text, so no markup may pass, and the
    // plug-in reads any character it does not know as a zero digit: "english" would reach the
    // printer as language 0 without a word.
    if (!isLanguageId(languageId)) return kBadArgument;
    std::shared_ptr<Printer> printer = openedSession(handle, caller);
    if (printer == nullptr) return kNoSuchHandle;
    printer->setLanguageId(languageId);
    return 0;
}

uint32_t PrinterOperations::setTimeout(uint32_t handle, uint32_t milliseconds, const CallerIdentity& caller) {
    std::shared_ptr<Printer> printer = openedSession(handle, caller);
    if (printer == nullptr) return kNoSuchHandle;
    printer->setTimeout(milliseconds);
    return 0;
}

uint32_t PrinterOperations::registerForAlerts(const AlertRegistration& registration, const CallerIdentity& caller) {
    const uint32_t allowed = services_.callbacks.mayActOn(registration.clientId, caller);
    if (allowed != 0) return allowed;
    std::shared_ptr<Printer> printer = openedSession(registration.printerHandle, caller);
    if (printer == nullptr) return kNoSuchHandle;
    return printer->RegisterForAlerts(registration);
}

uint32_t PrinterOperations::unregisterForAlerts(uint32_t handle, uint32_t clientId, const CallerIdentity& caller) {
    // The client id's owner may always take back what it registered, open or not.
    const uint32_t allowed = services_.callbacks.mayActOn(clientId, caller);
    if (allowed != 0) return allowed;
    std::shared_ptr<Printer> printer = table_.find(handle);
    if (printer == nullptr) return kNoSuchHandle;
    return printer->UnregisterForAlerts(clientId);
}
