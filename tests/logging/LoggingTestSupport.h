#pragma once
// What the logging tests share: names unique to this run, file reading, the log switch of the
// run's own short name, and helper processes started from this test program.
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <string>
#include <vector>

namespace logtest {

// stem + process id + tick count + serial, in hexadecimal.
std::string uniqueName(const std::string& stem);
// The file's whole content, empty when it does not exist.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// The lines of a log text, each without its CR LF; a last line without CR LF is kept as is.
std::vector<std::string> splitLines(const std::string& text);

// The switch HKLM\Software\<shortName>\BcxComponents\ "startLog": absent (key removed), or a value.
void removeSwitch(const std::string& shortName);
void setSwitch(const std::string& shortName, uint32_t value);

// Starts this test program again with the arguments (after the program name). The process's
// handle, or an invalid one when it could not be started.
UniqueHandle startHelper(const std::string& arguments);
// Waits for the helper up to milliseconds; its exit code, or 0xFFFFFFFF when it did not end.
DWORD waitHelper(const UniqueHandle& process, DWORD milliseconds);

// The prefix and short name this run brands the log facade with (set up by main()).
const std::string& runPrefix();
const std::string& runShortName();

}  // namespace logtest
