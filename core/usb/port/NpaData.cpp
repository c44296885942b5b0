#include "core/usb/port/NpaData.h"

NpaData::NpaData(const Data& packet) : Data(packet), commandCode_(Size() > 4 ? Bytes()[4] : 0) {}

NpaData::~NpaData() = default;

bool NpaData::isFlag7Set() const { return Size() > 3 && (Bytes()[3] & 0x80) != 0; }
