#pragma once
// The system's version record, read once per process on first use. Construction failures raise
// Win32Exception (and are retried on the next instance() call).
#include "runtime/Win32.h"

class OsVersion {
public:
    OsVersion();

    static const OsVersion& instance();

    // Platform identifier 2 (VER_PLATFORM_WIN32_NT).
    bool isNtFamily() const;
    const OSVERSIONINFOEXA& info() const { return info_; }

private:
    OSVERSIONINFOEXA info_;
};

// True only when kernel32 has IsWow64Process and it reports that this process runs under WOW64
// (a 32-bit program on 64-bit Windows). Looked up at run time: older systems lack the function.
bool runningUnderWow64();
