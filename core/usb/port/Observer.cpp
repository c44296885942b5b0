#include "core/usb/port/Observer.h"

Observer::Observer() = default;
Observer::~Observer() = default;

void Observer::onCodeAndPointer(int32_t, void*) {}
void Observer::onCodeAndValue(int32_t, uint64_t) {}
void Observer::onValue(uint64_t) {}
void Observer::onPointer(void*) {}
void Observer::onData(Data*) {}
