#pragma once
// Device-interface broadcast records as the system builds them, for the notifier's tests.
#include "runtime/Win32.h"

#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

// A DEV_BROADCAST_DEVICEINTERFACE_A whose size covers the name and its NUL.
inline std::vector<unsigned char> interfaceRecord(const std::string& path, DWORD deviceType = DBT_DEVTYP_DEVICEINTERFACE) {
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    std::vector<unsigned char> bytes(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) + path.size() + 1, 0);
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(bytes.data());
    record->dbcc_size = static_cast<DWORD>(nameOffset + path.size() + 1);
    record->dbcc_devicetype = deviceType;
    std::memcpy(record->dbcc_name, path.c_str(), path.size() + 1);
    return bytes;
}
