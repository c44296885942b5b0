#pragma once
// The spooler probe of the service, through winspool: the local queues that print on the port
// (their port field names it, alone or in a pooled list "USB001,USB002", without regard to case)
// are opened once and kept; a job on any of them with the printing or spooling status makes the
// port busy. Failing spooler calls count as no job. While no queue uses the port, the queues are
// looked for at most once every kLookAgainMs and at once after lookAgain() (a device arrival): a
// queue added for the port meanwhile is seen at the first write after that, so up to
// kLookAgainMs of writes may still go out while a job of that new queue prints. One per port;
// called under the port's write lock (lookAgain from any thread).
#include "core/usb/port/SpoolerProbe.h"
#include "runtime/Win32.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

class BidiUsbAdapter : public SpoolerProbe {
public:
    static constexpr uint64_t kLookAgainMs = 1000;
    // Milliseconds on a monotonic clock; GetTickCount64 by default.
    using Clock = std::function<uint64_t()>;

    explicit BidiUsbAdapter(Clock clock = Clock());
    ~BidiUsbAdapter() override;
    BidiUsbAdapter(const BidiUsbAdapter&) = delete;
    BidiUsbAdapter& operator=(const BidiUsbAdapter&) = delete;

    bool isPrinting(const std::string& portName) override;
    // The names of the queues kept, in name order.
    std::vector<std::string> queues() const;
    void lookAgain() override { lookNow_ = true; }
    // How often the local queues have been listed so far.
    uint64_t lookups() const { return lookups_; }

private:
    void openQueuesOf(const std::string& portName);

    Clock clock_;
    std::map<std::string, HANDLE> printerHandles_;
    uint64_t lookups_ = 0;
    uint64_t lastLook_ = 0;
    std::atomic<bool> lookNow_{true};
};
