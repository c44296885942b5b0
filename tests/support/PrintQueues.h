#pragma once
// Local print queues in the test prefix on ports the tests name, with Wine's PostScript driver
// (installed for the run when the prefix lacks it). Queue names begin with kNameStem;
// construction deletes queues of ours that a killed run left behind; remove() and the destructor
// delete the queues, then the driver if this run installed it, with the driver files its
// installation copied. Tests that use it run alone. Failures are gtest failures.
#include "runtime/Win32.h"

#include <winspool.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

class PrintQueues {
public:
    static constexpr const char* kNameStem = "Tolvex rig queue ";

    PrintQueues() {
        remove();
        char folder[MAX_PATH] = {};
        DWORD needed = 0;
        if (GetPrinterDriverDirectoryA(nullptr, const_cast<char*>(environment()), 1, reinterpret_cast<BYTE*>(folder), sizeof folder, &needed)) {
            for (const char* file : {"wineps.drv", "generic.ppd"}) {
                const std::string path = std::string(folder) + "\\" + file;
                if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) copiedFiles_.push_back(path);
            }
        }
        if (driverInstalled()) return;
        DRIVER_INFO_3A driver = {};
        driver.cVersion = 3;
        driver.pName = const_cast<char*>(kDriver);
        driver.pEnvironment = const_cast<char*>(environment());
        driver.pDriverPath = const_cast<char*>("wineps.drv");
        driver.pDataFile = const_cast<char*>("generic.ppd");
        driver.pConfigFile = const_cast<char*>("wineps.drv");
        addedDriver_ = AddPrinterDriverA(nullptr, 3, reinterpret_cast<BYTE*>(&driver)) != FALSE;
        EXPECT_TRUE(addedDriver_) << "AddPrinterDriverA: " << GetLastError();
    }
    ~PrintQueues() { remove(); }
    PrintQueues(const PrintQueues&) = delete;
    PrintQueues& operator=(const PrintQueues&) = delete;

    // Adds a queue printing on ports ("USB901", or a pool "USB902,USB903"); its name, empty on
    // failure.
    std::string add(const std::string& ports) {
        const std::string name = kNameStem + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++added_);
        PRINTER_INFO_2A info = {};
        info.pPrinterName = const_cast<char*>(name.c_str());
        info.pPortName = const_cast<char*>(ports.c_str());
        info.pDriverName = const_cast<char*>(kDriver);
        info.pPrintProcessor = const_cast<char*>("WinPrint");
        info.pDatatype = const_cast<char*>("RAW");
        info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
        const HANDLE queue = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&info));
        if (queue == nullptr) {
            ADD_FAILURE() << "AddPrinterA on " << ports << ": " << GetLastError();
            return std::string();
        }
        ClosePrinter(queue);
        return name;
    }

    // Deletes every queue of ours, then what the driver's installation added; the number of
    // queues of ours still there (0 when clean).
    size_t remove() {
        for (const std::string& name : ourQueues()) {
            HANDLE queue = nullptr;
            PRINTER_DEFAULTSA access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
            if (!OpenPrinterA(const_cast<char*>(name.c_str()), &queue, &access)) continue;
            EXPECT_TRUE(DeletePrinter(queue)) << name << ": " << GetLastError();
            ClosePrinter(queue);
        }
        if (addedDriver_) {
            // Wine deletes the registration but not the files (DPD_DELETE_ALL_FILES is not
            // supported), so the files this run's installation copied are deleted here.
            EXPECT_TRUE(DeletePrinterDriverA(nullptr, const_cast<char*>(environment()), const_cast<char*>(kDriver)))
                << GetLastError();
            for (const std::string& file : copiedFiles_) DeleteFileA(file.c_str());
            addedDriver_ = false;
        }
        return ourQueues().size();
    }

    static bool driverInstalled() {
        DWORD needed = 0;
        DWORD count = 0;
        EnumPrinterDriversA(nullptr, const_cast<char*>(environment()), 1, nullptr, 0, &needed, &count);
        std::vector<uint64_t> buffer(needed / sizeof(uint64_t) + 1);
        if (!EnumPrinterDriversA(nullptr, const_cast<char*>(environment()), 1, reinterpret_cast<BYTE*>(buffer.data()),
                                 static_cast<DWORD>(buffer.size() * sizeof(uint64_t)), &needed, &count)) {
            return false;
        }
        const auto* drivers = reinterpret_cast<const DRIVER_INFO_1A*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            if (drivers[i].pName != nullptr && std::string(drivers[i].pName) == kDriver) return true;
        }
        return false;
    }

private:
    static constexpr const char* kDriver = "Wine PostScript Driver";
    static const char* environment() { return "Windows x64"; }

    static std::vector<std::string> ourQueues() {
        std::vector<std::string> names;
        DWORD needed = 0;
        DWORD count = 0;
        EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
        if (needed == 0) return names;
        std::vector<uint64_t> buffer(needed / sizeof(uint64_t) + 1);
        if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, reinterpret_cast<BYTE*>(buffer.data()),
                           static_cast<DWORD>(buffer.size() * sizeof(uint64_t)), &needed, &count)) {
            return names;
        }
        const auto* queues = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            const std::string name = queues[i].pPrinterName != nullptr ? queues[i].pPrinterName : "";
            if (name.compare(0, std::string(kNameStem).size(), kNameStem) == 0) names.push_back(name);
        }
        return names;
    }

    bool addedDriver_ = false;
    unsigned added_ = 0;
    std::vector<std::string> copiedFiles_;
};
