#pragma once
// A packet copy that remembers its NPA command code (byte 4; 0 when the packet is shorter).
// Portable.
#include "export/common/Data.h"

#include <cstdint>

class NpaData : public Data {
public:
    explicit NpaData(const Data& packet);
    ~NpaData() override;

    uint8_t commandCode() const { return commandCode_; }
    // Bit 7 of the flags byte (byte 3): the printer refused the request. False when too short.
    bool isFlag7Set() const;

private:
    uint8_t commandCode_;
};
