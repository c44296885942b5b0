// tolvex-bench.exe keeps working: a few iterations of every measurement, as a child process,
// against the service stack in-process (the controller with the service's mapper on a pipe of
// the test's own, the USB ports, the NPA plug-in) in front of the printers the benchmark serves.
// The child is bounded; one that overruns is terminated and the test fails.
#include "config/Localize.h"
#include "core/interpreters/InterpreterManager.h"
#include "export/common/PropertyAccessor.h"
#include "tests/config/TestBranding.h"
#include "tests/core/dispatch/InProcessService.h"
#include "tests/core/ipc/IpcTestPipes.h"
#include "tests/core/sessions/SimulatedPrinterRig.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

// Generous: the machine may be shared with heavy builds; a quiet run takes about 10 s.
constexpr DWORD kChildMs = 75000;

ChildResult runBench(const std::string& args) { return runChild(windowsPathOf(TOLVEX_BENCH_EXE), args, kChildMs); }

class BenchSmokeTest : public ::testing::Test {
protected:
    void SetUp() override {
        branding_.writeConfig(branding_.configXml());
        Localize::createInstance(nullptr, branding_.modulePath());
        plugIn_ = branding_.folder() + Localize::getInstance().getManufacturerPrefix() + "__ovra.dll";
        ASSERT_TRUE(CopyFileA((testProgramFolder() + "Qv__ovra.dll").c_str(), plugIn_.c_str(), FALSE));
        std::string text;
        PropertyAccessor().SetString(text, PropertyAccessor::Prefix, Localize::getInstance().getManufacturerPrefix() + "__");
        InterpreterManager::createInstance(text);

        // The benchmark serves the printers; the service only learns where they are.
        deviceBase_ = "\\\\.\\pipe\\" + TestBranding::uniqueName("QbSim") + "\\";
        declarations_ = branding_.folder() + "simulated-printers.xml";
        std::ofstream file(declarations_, std::ios::binary | std::ios::trunc);
        file << "<printers>";
        for (int n = 1; n <= 2; ++n) {
            file << "<printer><PortNumber>" << n << "</PortNumber><InstanceId>USB\\VID_1A2B&amp;PID_0C3D\\SIM000" << n
                 << "</InstanceId><DevicePath>" << deviceBase_ << "USB00" << n
                 << "</DevicePath><DeviceId>MFG:Quorvel;MODEL:Q100 Series;CMD:NPA;</DeviceId></printer>";
        }
        file << "</printers>";
        ASSERT_TRUE(file.good());
        file.close();

        service_.start("bench", 2000);
    }
    void TearDown() override {
        service_.stop();
        InterpreterManager::destroyInstance();
        DeleteFileA(plugIn_.c_str());
        DeleteFileA(declarations_.c_str());
        Localize::destroyInstance();
    }

    TestBranding branding_;
    std::string plugIn_;
    std::string declarations_;
    std::string deviceBase_;
    InProcessService service_;
};

}  // namespace

TEST_F(BenchSmokeTest, AFewIterationsOfEveryMeasurementPrintTheTable) {
    const ChildResult r = runBench("--quick --exchanges 10 --block 5 --alerts 2 --throughput-ms 200 --pipe " + service_.pipeName() +
                                   " --device-base " + deviceBase_);
    ASSERT_TRUE(r.finished) << r.output;
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("\nmeasurement  "), std::string::npos) << r.output;
    for (const char* row : {"exchange floor, direct to the printer, p50", "exchange via service, no client registered, p50",
                            "exchange via service, one client registered, p50", "throughput, 2 clients, 2 printers",
                            "throughput, 2 printers against 1", "alert fan-out to the last of K=16, p99",
                            "idle CPU of the service, no client", "step: port connect", "step: stop of reading",
                            "log lines (logging off)", "16 clients at once on 1 printer, busy answers per request",
                            "stop of the service under load"}) {
        EXPECT_NE(r.output.find(row), std::string::npos) << row << "\n" << r.output;
    }
    // Every path worked: nothing failed, was lost or stayed unmeasured (the idle rows need the
    // service's host process, which this test does not give).
    EXPECT_EQ(r.output.find("errors)"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("lost)"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("exchange failures"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("not measured:"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("not measured (set-up"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("n=0 "), std::string::npos) << r.output;
}

TEST_F(BenchSmokeTest, ABadCommandLineOrAnAbsentServiceIsReported) {
    const ChildResult bad = runBench("--exchanges 0");
    ASSERT_TRUE(bad.finished);
    EXPECT_EQ(bad.exitCode, 87u) << bad.output;
    EXPECT_NE(bad.output.find("--exchanges needs a positive number"), std::string::npos) << bad.output;

    const ChildResult absent = runBench("exchange --service-wait-ms 300 --pipe " + uniquePipeName("absent") +
                                           " --device-base " + deviceBase_);
    ASSERT_TRUE(absent.finished);
    EXPECT_EQ(absent.exitCode, 1u) << absent.output;
    EXPECT_NE(absent.output.find("does not answer"), std::string::npos) << absent.output;
}
