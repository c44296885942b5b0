#pragma once
// Opening a USB printer's device path or one of its pipes. Every open carries
// SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, so that whatever serves the path (a pipe
// server posing as a printer) can at most identify the service, never impersonate it.
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <string>

// The security flags added to every open.
constexpr DWORD kUsbDeviceSecurityFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// How long an open waits for a busy pipe (a simulated printer still serving the previous
// connection) before it reports ERROR_PIPE_BUSY.
constexpr DWORD kUsbPipeBusyWaitMilliseconds = 2000;

// CreateFileA(path, access, share, no security attributes, OPEN_EXISTING, flags plus the
// security flags), tried once more after a bounded wait when the path is a busy pipe. A path
// outside the device namespace is not opened: the result is invalid and the last error 2 (file
// not found).
UniqueFileHandle openUsbDevice(const std::string& path, DWORD access, DWORD share, DWORD flags);
