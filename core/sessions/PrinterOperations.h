#pragma once
// What the function handlers do with printers, by printer handle, for a caller: open and close
// sessions (counted per user), exchange raw packets, register for alerts, set the language id
// and the reply time-out. Results are Windows error codes, 0 for success. A caller acts only on
// sessions it holds an open of (6 otherwise), unless it is privileged. Any thread. Portable; the
// service passes the USB port factory and the interpreter manager in its SessionServices.
//
// Handles: a USB port's handle is (n & 0x7FF) | 0x2000 for "USB" + three digits n, n > 0.
// Only the session of that port can live under such a handle: openPrinterEx needs the handle
// that belongs to its port name, and openPrinter of a USB port's handle opens that port's
// printer. openPrinter of any other handle makes a session without a printer, at most
// kMaxPortlessSessions of them.
#include "core/ipc/CallerIdentity.h"
#include "core/sessions/PrinterTable.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

class PrinterOperations {
public:
    static constexpr uint32_t kNotAllowed = 5;
    static constexpr uint32_t kNoSuchHandle = 6;
    static constexpr uint32_t kBadArgument = 87;
    static constexpr uint32_t kRefusedPacket = 5;
    static constexpr uint32_t kBufferTooSmall = 122;
    static constexpr uint32_t kNoResources = 1450;
    static constexpr uint32_t kPrinterBusy = 170;
    static constexpr uint32_t kBadPortName = 1796;
    static constexpr size_t kMaxPortlessSessions = 64;

    // Neither is owned; both outlive the operations.
    PrinterOperations(SessionServices& services, PrinterTable& table);

    // Opens the session of handle for the caller; see the header comment for what it makes.
    uint32_t openPrinter(uint32_t handle, const CallerIdentity& caller = CallerIdentity::localSystem());
    // Opens the session of handle, making one for the USB printer behind portName when there is
    // none: 1796 for a name that is not "USB" and three digits (before anything else), 87 when
    // handle is not the port's, 1 when no printer is found there, 170 while the read loop of a
    // session of that port closed before still runs.
    uint32_t openPrinterEx(const std::string& portName, uint32_t handle,
                           const CallerIdentity& caller = CallerIdentity::localSystem());
    // Gives back one of the caller's opens; 6 without a session or without an open of the
    // caller's. The last close removes the session.
    uint32_t closePrinter(uint32_t handle, const CallerIdentity& caller = CallerIdentity::localSystem());
    // Passes request to the printer; reply receives the printer's answer when it fits replySize
    // (nothing is allocated for replySize itself). returnedLength gets the answer's length, also
    // when it does not fit (122). 1460 also when another exchange held the printer for longer
    // than the reply time-out.
    uint32_t exchangePacket(uint32_t handle, const uint8_t* request, uint32_t requestLength, Data& reply,
                            uint32_t replySize, uint32_t* returnedLength,
                            const CallerIdentity& caller = CallerIdentity::localSystem());
    // The same, copying the answer into a caller's buffer of replySize bytes.
    uint32_t exchangePacket(uint32_t handle, const uint8_t* request, uint32_t requestLength, uint8_t* reply,
                            uint32_t replySize, uint32_t* returnedLength,
                            const CallerIdentity& caller = CallerIdentity::localSystem());
    // "USB" and a positive decimal number, six characters in all, any case: (n & 0x7FF) | 0x2000.
    static uint32_t enumSpecificPrinter(const std::string& portName, uint32_t* handle);
    // True for the handle of some port "USB001" to "USB999".
    static bool isUsbPortHandle(uint32_t handle);
    // Empty, or 1 to kMaxLanguageIdDigits hexadecimal digits after an optional "0x" or "0X".
    static bool isLanguageId(const std::string& languageId);
    static constexpr size_t kMaxLanguageIdDigits = 8;
    // 87 for a language id that isLanguageId refuses.
    uint32_t setLanguageId(uint32_t handle, const std::string& languageId,
                           const CallerIdentity& caller = CallerIdentity::localSystem());
    uint32_t setTimeout(uint32_t handle, uint32_t milliseconds,
                        const CallerIdentity& caller = CallerIdentity::localSystem());
    uint32_t registerForAlerts(const AlertRegistration& registration,
                               const CallerIdentity& caller = CallerIdentity::localSystem());
    uint32_t unregisterForAlerts(uint32_t handle, uint32_t clientId,
                                 const CallerIdentity& caller = CallerIdentity::localSystem());

private:
    uint32_t openOrCreate(uint32_t handle, const PrinterTable::Creator& creator, const CallerIdentity& caller);
    // The session under handle if the caller holds an open of it, else null.
    std::shared_ptr<Printer> openedSession(uint32_t handle, const CallerIdentity& caller) const;
    void log(const std::string& line) const;

    // Opening and closing are one step each with the table, per handle: a close that removes a
    // session and an open that finds it cannot interleave (the open would keep a session nobody
    // can reach, or open the printer while the old session's read thread still holds it). Per
    // handle, so that a close waiting for its printer's read thread holds up no other printer.
    class HandleLock {
    public:
        HandleLock(PrinterOperations& owner, uint32_t handle);
        ~HandleLock();
        HandleLock(const HandleLock&) = delete;
        HandleLock& operator=(const HandleLock&) = delete;

    private:
        PrinterOperations& owner_;
        uint32_t handle_;
        std::shared_ptr<std::mutex> lock_;
    };

    SessionServices& services_;
    PrinterTable& table_;
    std::mutex handleLocksLock_;
    // A lock per handle in use, with the number of its holders and waiters.
    std::map<uint32_t, std::pair<std::shared_ptr<std::mutex>, uint32_t>> handleLocks_;
};
