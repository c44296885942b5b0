#pragma once
// Asks whether the spooler is printing or spooling a job on a port's queues, so the port never
// writes into a print job. The service uses the winspool implementation (BidiUsbAdapter); tests
// inject a fake. Called under the port's write lock.
#include <string>

class SpoolerProbe {
public:
    virtual ~SpoolerProbe();
    // True while a job on a queue of this port (by port name, without regard to case) has the
    // printing or spooling status.
    virtual bool isPrinting(const std::string& portName) = 0;
    // A device has arrived: queues made for it may exist now. Nothing by default.
    virtual void lookAgain();
};
