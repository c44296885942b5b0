#pragma once
// The spooler probe of the service, through winspool: the local queues that print on the port
// (their port field names it, alone or in a pooled list "USB001,USB002", without regard to case)
// are opened once and kept; a job on any of them with the printing or spooling status makes the
// port busy. Failing spooler calls count as no job. One per port; called under the port's write
// lock.
#include "core/usb/port/SpoolerProbe.h"
#include "runtime/Win32.h"

#include <map>
#include <string>
#include <vector>

class BidiUsbAdapter : public SpoolerProbe {
public:
    BidiUsbAdapter();
    ~BidiUsbAdapter() override;
    BidiUsbAdapter(const BidiUsbAdapter&) = delete;
    BidiUsbAdapter& operator=(const BidiUsbAdapter&) = delete;

    bool isPrinting(const std::string& portName) override;
    // The names of the queues kept, in name order.
    std::vector<std::string> queues() const;

private:
    void openQueuesOf(const std::string& portName);

    std::map<std::string, HANDLE> printerHandles_;
};
