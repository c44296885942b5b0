// The MSI under Wine's msiexec, in a Wine prefix of its own (scripts/test-package sets it up,
// with Wine's services started on the event log's debug channel): a silent install whose service
// is configured exactly as "tolvex.exe -install" configures it and serves a simulated printer,
// an upgrade in place, a refused downgrade and second install of a version, a forced start
// failure, and an uninstall that leaves nothing of ours. The event log entries are read back
// from Wine's debug output and formatted with the installed tolvex.exe's message table.
// Environment: TOLVEX_MSI, TOLVEX_MSI_REBUILT (the same version built again), TOLVEX_MSI_UPGRADE,
// TOLVEX_MSI_VERSION, TOLVEX_MSI_UPGRADE_VERSION, TOLVEX_EVENT_TRACE (the services' stderr).
#include "client/TolvexClient.h"
#include "core/ipc/IpcParameter.h"
#include "core/ipc/IpcParameterReader.h"
#include "logging/EventLog.h"
#include "runtime/UniqueHandle.h"
#include "tests/core/service/TolvexProgramRig.h"
#include "tests/core/sessions/SimulatedPrinterRig.h"
#include "tests/package/FileVersion.h"
#include "tools/simulator/NpaPrinterSimulator.h"
#include "tools/tolvexctl/CtlMessages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using TolvexProgramFiles::readFile;

const char kService[] = TOLVEX_SERVICE_NAME;
const char kDisplayName[] = TOLVEX_SERVICE_DISPLAY_NAME;
// A Windows process sees msiexec's whole exit code (only a Unix shell sees it cut to 8 bits).
constexpr DWORD kInstallFailure = ERROR_INSTALL_FAILURE;  // 1603
constexpr DWORD kStateWaitMs = 30000;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string installFolder() { return TolvexProgramFiles::expand("%ProgramFiles%\\") + TOLVEX_BRAND_MANUFACTURER "\\tolvex\\"; }

// Runs a command line to its end (bounded); its exit code, or 0xFFFFFFFF.
DWORD runToEnd(std::string commandLine, DWORD boundMs = 120000) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup, &info))
        return 0xFFFFFFFF;
    const UniqueHandle process(info.hProcess);
    CloseHandle(info.hThread);
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(process.get(), boundMs) == WAIT_OBJECT_0) GetExitCodeProcess(process.get(), &code);
    return code;
}

DWORD msiexec(const std::string& action, const std::string& package) {
    return runToEnd("msiexec.exe " + action + " \"" + package + "\" /qn");
}

// The service's configuration, field by field as the control manager reports it; empty when
// the service is not installed.
std::map<std::string, std::string> serviceConfig() {
    std::map<std::string, std::string> config;
    const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueScHandle service(OpenServiceA(manager.get(), kService, SERVICE_QUERY_CONFIG));
    if (!service) return config;
    alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[8192] = {};
    auto* c = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    DWORD needed = 0;
    if (!QueryServiceConfigA(service.get(), c, sizeof buffer, &needed)) return config;
    const auto text = [](const char* s) { return std::string(s != nullptr ? s : ""); };
    config["type"] = std::to_string(c->dwServiceType);
    config["start"] = std::to_string(c->dwStartType);
    config["error control"] = std::to_string(c->dwErrorControl);
    config["binary path"] = text(c->lpBinaryPathName);
    config["group"] = text(c->lpLoadOrderGroup);
    config["tag"] = std::to_string(c->dwTagId);
    config["dependencies"] = text(c->lpDependencies);
    config["account"] = text(c->lpServiceStartName);
    config["display name"] = text(c->lpDisplayName);
    alignas(SERVICE_DESCRIPTIONA) BYTE described[4096] = {};
    if (QueryServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, described, sizeof described, &needed))
        config["description"] = text(reinterpret_cast<SERVICE_DESCRIPTIONA*>(described)->lpDescription);
    return config;
}

SERVICE_STATUS_PROCESS serviceStatus() {
    SERVICE_STATUS_PROCESS s = {};
    const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueScHandle service(OpenServiceA(manager.get(), kService, SERVICE_QUERY_STATUS));
    DWORD needed = 0;
    if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof s, &needed))
        s.dwCurrentState = 0;
    return s;
}

bool waitForState(DWORD wanted, DWORD ms = kStateWaitMs) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    do {
        const SERVICE_STATUS_PROCESS s = serviceStatus();
        if (s.dwCurrentState == wanted &&
            (wanted != SERVICE_RUNNING || s.dwControlsAccepted == (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN)))
            return true;
        Sleep(50);
    } while (GetTickCount64() < deadline);
    return false;
}

bool control(DWORD code) {
    const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueScHandle service(OpenServiceA(manager.get(), kService, SERVICE_ALL_ACCESS));
    SERVICE_STATUS s = {};
    if (code == 0) return service && StartServiceA(service.get(), 0, nullptr);
    return service && ControlService(service.get(), code, &s);
}

// The Programs and Features entries of our product: their DisplayVersion values.
std::vector<std::string> uninstallEntries() {
    std::vector<std::string> versions;
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0, KEY_READ, &root) != 0)
        return versions;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        char value[256] = {};
        DWORD size = sizeof value;
        if (RegGetValueA(root, name, "DisplayName", RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) continue;
        if (std::string(value) != kDisplayName) continue;
        char version[64] = {};
        size = sizeof version;
        RegGetValueA(root, name, "DisplayVersion", RRF_RT_REG_SZ, nullptr, version, &size);
        versions.push_back(version);
    }
    RegCloseKey(root);
    return versions;
}

bool keyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

const std::string kEventSourceKey = std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + kService;

// One ReportEvent call seen on Wine's debug output.
struct LoggedEvent {
    uint32_t type = 0, id = 0;
    std::vector<std::string> inserts;
};

std::string unescape(const std::string& quoted) {
    std::string out;
    for (size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] != '\\' || i + 1 == quoted.size()) {
            out += quoted[i];
            continue;
        }
        const char next = quoted[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
    }
    return out;
}

// "0140:fixme:advapi:ReportEventW (handle,0x0004,0x0000,0x40000001,...)" opens an entry of that
// thread; its "eventlog:ReportEventW L\"...\"" lines that follow are the inserts.
std::vector<LoggedEvent> loggedEvents() {
    std::vector<LoggedEvent> events;
    std::map<std::string, size_t> open;
    std::istringstream trace(readFile(env("TOLVEX_EVENT_TRACE")));
    std::string line;
    while (std::getline(trace, line)) {
        const std::string thread = line.substr(0, line.find(':'));
        const size_t call = line.find(":advapi:ReportEventW (");
        if (call != std::string::npos) {
            std::istringstream fields(line.substr(call + 22));
            std::string handle, type, category, id;
            std::getline(fields, handle, ',');
            std::getline(fields, type, ',');
            std::getline(fields, category, ',');
            std::getline(fields, id, ',');
            LoggedEvent e;
            e.type = std::strtoul(type.c_str(), nullptr, 16);
            e.id = std::strtoul(id.c_str(), nullptr, 16);
            open[thread] = events.size();
            events.push_back(e);
            continue;
        }
        const size_t insert = line.find(":eventlog:ReportEventW L\"");
        if (insert == std::string::npos || open.count(thread) == 0) continue;
        const std::string quoted = line.substr(insert + 25);
        events[open[thread]].inserts.push_back(unescape(quoted.substr(0, quoted.rfind('"'))));
    }
    return events;
}

// An entry's text as the event viewer would show it, from the installed program's messages.
std::string formatted(const LoggedEvent& e) {
    const HMODULE module = LoadLibraryExA((installFolder() + "tolvex.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return "(no tolvex.exe)";
    std::vector<DWORD_PTR> arguments;
    for (const std::string& insert : e.inserts) arguments.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
    char text[2048] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, e.id, 0x409, text,
                                   sizeof text, reinterpret_cast<va_list*>(arguments.data()));
    FreeLibrary(module);
    std::string result(text, n);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
    return result;
}

// Waits (bounded) for an entry with id after the first skip entries; its formatted text.
std::string waitForEvent(EventLog::Id id, size_t skip, DWORD ms = 15000) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    do {
        const std::vector<LoggedEvent> events = loggedEvents();
        for (size_t i = skip; i < events.size(); ++i) {
            if (events[i].id != id) continue;
            EXPECT_EQ(EventLog::typeOf(id), events[i].type);
            return formatted(events[i]);
        }
        Sleep(100);
    } while (GetTickCount64() < deadline);
    return "(no entry " + std::to_string(id) + ")";
}

class MsiPackage : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"TOLVEX_MSI", "TOLVEX_MSI_REBUILT", "TOLVEX_MSI_UPGRADE", "TOLVEX_MSI_VERSION",
                                 "TOLVEX_MSI_UPGRADE_VERSION", "TOLVEX_EVENT_TRACE"})
            ASSERT_FALSE(env(name).empty()) << name << " is not set: run scripts/test-package";
    }
    void TearDown() override {
        DeleteFileA((installFolder() + "simulated-printers.xml").c_str());
        if (HasFailure()) msiexec("/x", env("TOLVEX_MSI_UPGRADE")), msiexec("/x", env("TOLVEX_MSI"));
    }

    // The versions of the installed files, each compared with version.
    void expectInstalledVersion(const std::string& version) {
        for (const char* file : {"tolvex.exe", TOLVEX_BRAND_PREFIX "__ovra.dll", "tolvexctl.exe"}) {
            const FileVersion v = readFileVersion(installFolder() + file);
            EXPECT_EQ(version + ".0", v.fileVersion) << file;
            EXPECT_EQ(version, v.strings.count("ProductVersion") ? v.strings.at("ProductVersion") : "") << file;
        }
    }

    // A client opens USB001 and exchanges queryAll with a simulated printer through the service.
    void expectPacketExchanged() {
        const std::string device = "\\\\.\\pipe\\QvMsiSim\\USB001";
        NpaPrinterSimulator printer(device);
        printer.start();
        {
            std::ofstream file(installFolder() + "simulated-printers.xml", std::ios::binary | std::ios::trunc);
            file << "<printers>" << simulatedPrinterRecord(1, device) << "</printers>";
        }
        const std::string pipe = TolvexClient::servicePipeName(TOLVEX_BRAND_PREFIX);
        const std::vector<uint8_t> queryAll = {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x81, 0x00, 0xFF};
        const std::vector<uint8_t> expected = {0xA5, 0x00, 0x07, 0x40, 0xE0, 0x81, 0x00, 0xFF, 0x00, 0x00};
        const auto code = [&](const Data& request, Data& reply) {
            const int32_t rc = TolvexClient::call(pipe, request, reply, 20000);
            if (rc != 0) return rc;
            IpcParameterReader reader(reply);
            uint16_t id = 0;
            int32_t result = -1;
            return reader.functionId(id) == 0 && reader.returnCode(result) == 0 ? result : -2;
        };
        Data reply;
        ASSERT_EQ(0, code(CtlMessages::openPrinterEx("USB001", 0x2001), reply));
        ASSERT_EQ(0, code(CtlMessages::exchangeNpa(0x2001, queryAll, 64), reply));
        IpcParameterReader reader(reply);
        uint16_t id = 0;
        int32_t result = 0;
        std::vector<uint8_t> bytes;
        uint32_t length = 0;
        ASSERT_EQ(0, reader.functionId(id) | reader.returnCode(result) | reader.byteArray(bytes, IpcParameter::kDirectionOut) |
                         reader.longValue(length, IpcParameter::kDirectionOut));
        ASSERT_LE(length, bytes.size());
        bytes.resize(length);
        EXPECT_EQ(expected, bytes);
        EXPECT_EQ(0, code(CtlMessages::closePrinter(0x2001), reply));
        printer.stop();
        DeleteFileA((installFolder() + "simulated-printers.xml").c_str());
    }
};

TEST_F(MsiPackage, InstallServeUpgradeRefuseAndRemove) {
    const std::string version = env("TOLVEX_MSI_VERSION");
    const std::string upgrade = env("TOLVEX_MSI_UPGRADE_VERSION");
    ASSERT_TRUE(uninstallEntries().empty()) << "the prefix is not fresh";
    size_t seen = loggedEvents().size();

    ASSERT_EQ(0u, msiexec("/i", env("TOLVEX_MSI")));
    ASSERT_TRUE(waitForState(SERVICE_RUNNING)) << "state " << serviceStatus().dwCurrentState;
    EXPECT_EQ(std::vector<std::string>{version}, uninstallEntries());
    expectInstalledVersion(version);
    EXPECT_TRUE(keyExists(kEventSourceKey));
    EXPECT_EQ("The " + std::string(kService) + " service started (version " + version +
                  ") and accepts clients on the pipe \\\\.\\pipe\\" TOLVEX_BRAND_PREFIX "_BidiAlertDataChannel_.",
              waitForEvent(EventLog::ServiceStarted, seen));

    // The program's own installation, from the installed folder, gives the same service.
    // Windows Installer quotes the program's path; Wine's msiexec writes it bare. Both name the
    // installed program, which the program's own installation quotes.
    const auto unquoted = [](std::string path) {
        return path.size() >= 2 && path.front() == '"' && path.back() == '"' ? path.substr(1, path.size() - 2) : path;
    };
    std::map<std::string, std::string> fromMsi = serviceConfig();
    ASSERT_FALSE(fromMsi.empty());
    EXPECT_EQ(installFolder() + "tolvex.exe", unquoted(fromMsi.at("binary path")));
    fromMsi["binary path"] = "\"" + unquoted(fromMsi.at("binary path")) + "\"";
    const std::string program = "\"" + installFolder() + "tolvex.exe\"";
    EXPECT_EQ(0u, runToEnd(program + " -uninstall"));
    EXPECT_TRUE(serviceConfig().empty());
    EXPECT_EQ(0u, runToEnd(program + " -install"));
    const std::map<std::string, std::string> fromProgram = serviceConfig();
    ASSERT_EQ(fromMsi.size(), fromProgram.size());
    for (const auto& field : fromMsi) EXPECT_EQ(field.second, fromProgram.at(field.first)) << field.first;
    ASSERT_TRUE(waitForState(SERVICE_RUNNING));
    expectPacketExchanged();
    if (HasFatalFailure()) return;

    // The same version again, built anew (another product), is refused; so is a downgrade.
    EXPECT_EQ(kInstallFailure, msiexec("/i", env("TOLVEX_MSI_REBUILT")));
    EXPECT_EQ(std::vector<std::string>{version}, uninstallEntries());

    seen = loggedEvents().size();
    ASSERT_EQ(0u, msiexec("/i", env("TOLVEX_MSI_UPGRADE")));
    ASSERT_TRUE(waitForState(SERVICE_RUNNING));
    EXPECT_EQ(std::vector<std::string>{upgrade}, uninstallEntries());
    expectInstalledVersion(upgrade);
    EXPECT_EQ("The " + std::string(kService) + " service stopped.", waitForEvent(EventLog::ServiceStopped, seen));
    EXPECT_NE(std::string::npos, waitForEvent(EventLog::ServiceStarted, seen).find("(version " + upgrade + ")"));
    expectPacketExchanged();

    EXPECT_EQ(kInstallFailure, msiexec("/i", env("TOLVEX_MSI")));
    EXPECT_EQ(std::vector<std::string>{upgrade}, uninstallEntries());
    expectInstalledVersion(upgrade);
    EXPECT_TRUE(waitForState(SERVICE_RUNNING));

    // A service that cannot create its pipe (another program holds the name with one instance)
    // stops and says why.
    ASSERT_TRUE(control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(waitForState(SERVICE_STOPPED));
    const std::string pipeName = "\\\\.\\pipe\\" TOLVEX_BRAND_PREFIX "_BidiAlertDataChannel_";
    {
        const UniqueFileHandle squatter(CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr));
        ASSERT_TRUE(squatter.valid()) << GetLastError();
        seen = loggedEvents().size();
        ASSERT_TRUE(control(0)) << GetLastError();
        ASSERT_TRUE(waitForState(SERVICE_STOPPED));
        EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR), serviceStatus().dwWin32ExitCode);
        const std::string text = waitForEvent(EventLog::StartFailed, seen);
        EXPECT_EQ(0u, text.find("The " + std::string(kService) + " service could not start and has stopped: ")) << text;
    }

    EXPECT_EQ(0u, msiexec("/x", env("TOLVEX_MSI_UPGRADE")));
    EXPECT_TRUE(serviceConfig().empty());
    EXPECT_TRUE(uninstallEntries().empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(installFolder().c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesA((TolvexProgramFiles::expand("%ProgramFiles%\\") + TOLVEX_BRAND_MANUFACTURER).c_str()));
    EXPECT_FALSE(keyExists(kEventSourceKey));
    EXPECT_FALSE(keyExists("Software\\" TOLVEX_BRAND_VENDOR));
    EXPECT_FALSE(keyExists("SYSTEM\\CurrentControlSet\\Services\\" + std::string(kService)));
}

}  // namespace
