#pragma once
// Finding the USB printer behind a spooler port name, over one list: the system's printer-class
// interfaces followed by the simulated printers of simulated-printers.xml beside the program.
// No state; any thread.
#include <cstdint>
#include <string>

// Writes the found printer's elements into transportString (see UsbPrinterFinder.h). 0, 1 (no
// such port in the list) or 6 (the system's list could not be built).
uint32_t findUsbPrinter(std::string& transportString);

// The raw 1284 id reply (2-byte big-endian length counting itself, then the id text) of the
// printer at devicePath, simulated or real; empty when it cannot be had.
std::string get1284Id(const std::string& devicePath);
