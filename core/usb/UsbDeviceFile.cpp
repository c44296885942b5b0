#include "core/usb/UsbDeviceFile.h"

#include "core/usb/UsbDeviceIds.h"

UniqueFileHandle openUsbDevice(const std::string& path, DWORD access, DWORD share, DWORD flags) {
    if (!isDeviceNamespacePath(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return UniqueFileHandle();
    }
    UniqueFileHandle handle(
        CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags | kUsbDeviceSecurityFlags, nullptr));
    // A simulated printer serves one connection per pipe and takes a moment to listen again
    // after the service let go of the previous one (a reopen after resume or reattach). Real
    // printer interfaces never report a busy pipe.
    if (!handle && GetLastError() == ERROR_PIPE_BUSY && WaitNamedPipeA(path.c_str(), kUsbPipeBusyWaitMilliseconds)) {
        handle.reset(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags | kUsbDeviceSecurityFlags,
                                 nullptr));
    }
    return handle;
}
