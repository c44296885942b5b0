#pragma once
// The one way into the Windows API for the whole project: nothing else includes <windows.h>.
// The portable core (anything that builds in the native tree) must not include this header.
#ifndef _WIN32
#error "runtime/Win32.h is for the Windows build only"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7 and later
#endif

#include <windows.h>
