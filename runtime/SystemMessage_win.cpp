#include "runtime/Exception.h"
#include "runtime/Win32.h"

std::string systemMessageText(int32_t code) {
    char buffer[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 1033, buffer, sizeof buffer, nullptr);
    if (n == 0) return "Error getting message:" + std::to_string(GetLastError());
    std::string text;
    for (DWORD i = 0; i < n && buffer[i] != '\0'; ++i)
        if (buffer[i] != '\r' && buffer[i] != '\n') text += buffer[i];
    return text;
}
