#pragma once
// The spooler probe of the service, through winspool: the local queues whose port field is the
// port's name (the whole field, without regard to case) are opened once and kept; a job on any
// of them with the printing or spooling status makes the port busy. Failing spooler calls count
// as no job. One per port; called under the port's write lock.
#include "core/usb/port/SpoolerProbe.h"
#include "runtime/Win32.h"

#include <map>
#include <string>

class BidiUsbAdapter : public SpoolerProbe {
public:
    BidiUsbAdapter();
    ~BidiUsbAdapter() override;
    BidiUsbAdapter(const BidiUsbAdapter&) = delete;
    BidiUsbAdapter& operator=(const BidiUsbAdapter&) = delete;

    bool isPrinting(const std::string& portName) override;
    size_t openQueues() const { return printerHandles_.size(); }

private:
    void openQueuesOf(const std::string& portName);

    std::map<std::string, HANDLE> printerHandles_;
};
