#include "core/usb/port/InterpreterLookup.h"

InterpreterLookup::~InterpreterLookup() = default;
