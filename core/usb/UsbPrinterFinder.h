#pragma once
// Finds the printer-class interface behind the transport string's PORTNAME in a device list and
// writes what it learns into the transport string: PORTNAME, PORTHANDLE, VID, PID, SERIALNUMBER,
// DEVICEPATH, 1284DEVICEIDSTRING. Portable: the list comes from a UsbDeviceSource.
#include "core/usb/UsbDeviceSource.h"

#include <cstdint>
#include <string>

// At most this many list indices are examined.
constexpr uint32_t kUsbMaxDeviceIndex = 128;

// 0: done (also when a step after the match failed or 128 indices held no match: the elements
// written so far stay); 1: the list ended without a match; 6: the list could not be built.
uint32_t findUsbPrinter(std::string& transportString, UsbDeviceSource& source);
