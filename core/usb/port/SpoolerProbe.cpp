#include "core/usb/port/SpoolerProbe.h"

SpoolerProbe::~SpoolerProbe() = default;
void SpoolerProbe::lookAgain() {}
