#pragma once
// What the function handlers do with printers, by printer handle: open and close sessions
// (counted), exchange raw packets, register for alerts, set the language id and the reply
// time-out. Results are Windows error codes, 0 for success. Any thread. Portable; the service
// passes the USB port factory and the interpreter manager in its SessionServices.
#include "core/sessions/PrinterTable.h"

#include <cstdint>
#include <mutex>
#include <string>

class PrinterOperations {
public:
    static constexpr uint32_t kNoSuchHandle = 6;
    static constexpr uint32_t kBadArgument = 87;
    static constexpr uint32_t kRefusedPacket = 5;
    static constexpr uint32_t kBufferTooSmall = 122;
    static constexpr uint32_t kBadPortName = 1796;

    // Neither is owned; both outlive the operations.
    PrinterOperations(SessionServices& services, PrinterTable& table);

    // Opens the session of handle, making one without a port when there is none.
    uint32_t openPrinter(uint32_t handle);
    // Opens the session of handle, making one for the USB printer behind portName when there is
    // none (1 when no printer is found there).
    uint32_t openPrinterEx(const std::string& portName, uint32_t handle);
    // 6 without a session; the last close removes the session.
    uint32_t closePrinter(uint32_t handle);
    // Passes request to the printer and copies its reply into reply (replySize bytes at most).
    // returnedLength gets the reply's length, also when it does not fit (122).
    uint32_t exchangePacket(uint32_t handle, const uint8_t* request, uint32_t requestLength, uint8_t* reply,
                            uint32_t replySize, uint32_t* returnedLength);
    // "USB" and a positive decimal number, six characters in all, any case: (n & 0x7FF) | 0x2000.
    static uint32_t enumSpecificPrinter(const std::string& portName, uint32_t* handle);
    uint32_t setLanguageId(uint32_t handle, const std::string& languageId);
    uint32_t setTimeout(uint32_t handle, uint32_t milliseconds);
    uint32_t registerForAlerts(const AlertRegistration& registration);
    uint32_t unregisterForAlerts(uint32_t handle, uint32_t clientId);

private:
    uint32_t openOrCreate(uint32_t handle, const PrinterTable::Creator& creator);

    SessionServices& services_;
    PrinterTable& table_;
    // Opening and closing are one step each with the table: a close that removes a session and
    // an open that finds it cannot interleave (the open would keep a session nobody can reach).
    std::mutex openCloseLock_;
};
