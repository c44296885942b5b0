#pragma once
// The service's own pieces in front of a simulated printer, for tests under Wine: the process is
// branded with a test vendor, the NPA plug-in is copied beside the branded module and loaded
// through the interpreter manager, and a simulated printer on USB001 is started and declared in
// simulated-printers.xml there, so that enumeration finds it. tearDown undoes all of it; the
// fixture stops its own users of the printer first.
#include "config/Localize.h"
#include "core/interpreters/InterpreterManager.h"
#include "export/common/PropertyAccessor.h"
#include "runtime/Win32.h"
#include "tests/config/TestBranding.h"
#include "tools/simulator/NpaPrinterSimulator.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

// The folder of the running test program, with its trailing backslash.
inline std::string testProgramFolder() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path, n);
    return full.substr(0, full.rfind('\\') + 1);
}

// One <printer> record of simulated-printers.xml: a Q100 Series on port "USB" + port (1..999).
inline std::string simulatedPrinterRecord(unsigned port, const std::string& devicePath) {
    std::string serial = std::to_string(port);
    serial.insert(0, serial.size() < 4 ? 4 - serial.size() : 0, '0');
    return "<printer><PortNumber>" + std::to_string(port) + "</PortNumber><InstanceId>USB\\VID_1A2B&amp;PID_0C3D\\SIM" +
           serial + "</InstanceId><DevicePath>" + devicePath +
           "</DevicePath><DeviceId>MFG:Quorvel;MODEL:Q100 Series;CMD:NPA;</DeviceId></printer>";
}

// The n-th alert (control packet) a fresh simulated printer sends.
inline std::vector<uint8_t> simulatedAlertNumber(int n) {
    NpaPrinterEngine engine;
    NpaPrinterWrite write;
    for (int i = 0; i < n; ++i) {
        engine.emitAlert(0);
        engine.takeDue(0, write);
    }
    return write.bytes;
}

class SimulatedPrinterRig {
public:
    // stem makes the simulator's pipe names unique to the test program. Failures are fatal
    // gtest failures: the caller checks HasFatalFailure().
    void setUp(const std::string& stem) {
        branding.writeConfig(branding.configXml());
        Localize::createInstance(nullptr, branding.modulePath());
        plugIn = branding.folder() + Localize::getInstance().getManufacturerPrefix() + "__ovra.dll";
        ASSERT_TRUE(CopyFileA((testProgramFolder() + "Qv__ovra.dll").c_str(), plugIn.c_str(), FALSE));
        std::string text;
        PropertyAccessor().SetString(text, PropertyAccessor::Prefix, Localize::getInstance().getManufacturerPrefix() + "__");
        InterpreterManager::createInstance(text);

        devicePath = "\\\\.\\pipe\\" + TestBranding::uniqueName(stem) + "\\USB001";
        simulator.reset(new NpaPrinterSimulator(devicePath));
        simulator->start();
        declarations = branding.folder() + "simulated-printers.xml";
        std::ofstream file(declarations, std::ios::binary | std::ios::trunc);
        file << "<printers>" << simulatedPrinterRecord(1, devicePath) << "</printers>";
        ASSERT_TRUE(file.good());
    }

    void tearDown() {
        if (simulator) simulator->stop();
        InterpreterManager::destroyInstance();
        DeleteFileA(plugIn.c_str());
        DeleteFileA(declarations.c_str());
        Localize::destroyInstance();
    }

    TestBranding branding;
    std::string plugIn;
    std::string declarations;
    std::string devicePath;
    std::unique_ptr<NpaPrinterSimulator> simulator;
};
