// tolvex.exe itself, copied into a folder of this run with a branding of its own (so its service
// and pipe names are unique), driven through its option words under Wine's service control
// manager, with a client served over the service pipe.
#include "client/TolvexClient.h"
#include "core/ipc/IpcParameter.h"
#include "core/ipc/IpcParameterWriter.h"
#include "runtime/UniqueHandle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string unique(const std::string& stem) {
    std::ostringstream s;
    s << stem << std::hex << GetCurrentProcessId() << "x" << (GetTickCount() & 0xFFFFFF);
    return s.str();
}

std::string moduleFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string expand(const std::string& text) {
    char buffer[MAX_PATH] = {};
    const DWORD n = ExpandEnvironmentStringsA(text.c_str(), buffer, MAX_PATH);
    return n > 0 && n <= MAX_PATH ? std::string(buffer) : std::string();
}

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        prefix_ = unique("Tp");
        service_ = prefix_ + "__tolvex";
        folder_ = expand("%TEMP%\\") + prefix_ + "\\";
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        program_ = folder_ + "tolvex.exe";
        ASSERT_TRUE(CopyFileA((moduleFolder() + "..\\..\\bin\\tolvex.exe").c_str(), program_.c_str(), FALSE));
        std::ofstream(folder_ + "communicationconfig.xml")
            << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<config>\n  <VendorRegistryName>" << prefix_
            << "</VendorRegistryName>\n  <ManufacturerPrefix>" << prefix_ << "</ManufacturerPrefix>\n  <Manufacturer>"
            << prefix_ << "</Manufacturer>\n  <ManufacturerShortName>" << prefix_
            << "</ManufacturerShortName>\n</config>\n";
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, ("Software\\" + prefix_ + "\\BcxComponents\\").c_str(),
                                                 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        const DWORD on = 1;
        RegSetValueExA(key, "startLog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
        RegCloseKey(key);
        logPath_ = expand("%ALLUSERSPROFILE%\\") + prefix_ + "__BcxComponents.log";
    }

    void TearDown() override {
        std::string ignored;
        run("-uninstall", ignored);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\" + prefix_).c_str());
        DeleteFileA(logPath_.c_str());
        DeleteFileA(program_.c_str());
        DeleteFileA((folder_ + "communicationconfig.xml").c_str());
        for (int i = 1; i <= runs_; ++i) DeleteFileA((folder_ + "out" + std::to_string(i) + ".txt").c_str());
        RemoveDirectoryA(folder_.c_str());
    }

    // The program's exit code (0xFFFFFFFF when it did not end within 40 s) and its output.
    DWORD run(const std::string& argument, std::string& output) const {
        // A file per run: a console helper of Wine's may inherit the handle and outlive the program.
        const std::string outPath = folder_ + "out" + std::to_string(++runs_) + ".txt";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        UniqueFileHandle out(CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS, 0, nullptr));
        if (!out) {
            ADD_FAILURE() << "cannot create " << outPath << ": " << GetLastError();
            return 0xFFFFFFFF;
        }
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = out.get();
        startup.hStdInput = nullptr;
        PROCESS_INFORMATION info = {};
        std::string commandLine = "\"" + program_ + "\"" + (argument.empty() ? "" : " " + argument);
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr, &startup, &info)) {
            ADD_FAILURE() << "cannot start " << commandLine << ": " << GetLastError();
            return 0xFFFFFFFF;
        }
        const UniqueHandle process(info.hProcess);
        CloseHandle(info.hThread);
        out.reset();
        DWORD code = 0xFFFFFFFF;
        if (WaitForSingleObject(process.get(), 40000) == WAIT_OBJECT_0) GetExitCodeProcess(process.get(), &code);
        output = readFile(outPath);
        return code;
    }

    DWORD state(DWORD* accepted = nullptr) const {
        const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueScHandle service(OpenServiceA(manager.get(), service_.c_str(), SERVICE_QUERY_STATUS));
        SERVICE_STATUS s = {};
        if (!service || !QueryServiceStatus(service.get(), &s)) return 0;
        if (accepted != nullptr) *accepted = s.dwControlsAccepted;
        return s.dwCurrentState;
    }

    bool waitRunningAndAccepting() const {
        const ULONGLONG deadline = GetTickCount64() + 15000;
        do {
            DWORD accepted = 0;
            if (state(&accepted) == SERVICE_RUNNING && accepted == (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN))
                return true;
            Sleep(20);
        } while (GetTickCount64() < deadline);
        return false;
    }

    std::string prefix_, service_, folder_, program_, logPath_;
    mutable int runs_ = 0;
};

TEST_F(Program, OptionWordsInstallServeAClientAndUninstall) {
    std::string out;
    EXPECT_EQ(0u, run("-Install", out)) << "another case is no option word";
    EXPECT_EQ(0u, state());

    EXPECT_EQ(0u, run("", out)) << "from a console the dispatcher fails";
    const std::string consoleLog = readFile(logPath_);
    // Wine lets a console process's dispatcher attach to whichever service the control manager
    // is starting at that moment (other tests of this prefix may be starting theirs), so the
    // failure is asserted only when the dispatcher did not run.
    ASSERT_NE(std::string::npos, consoleLog.find("-Service::Run() rc: "));
    if (consoleLog.find("-Service::Run() rc: 0\r\n") == std::string::npos) {
        EXPECT_NE(std::string::npos, consoleLog.find("Failed to start StartServiceCtrlDispatcher"));
    }
    EXPECT_NE(std::string::npos, consoleLog.find("Commandline: \r\n"));

    ASSERT_EQ(0u, run("-install", out));
    ASSERT_TRUE(waitRunningAndAccepting());
    {
        const UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        const UniqueScHandle service(OpenServiceA(manager.get(), service_.c_str(), SERVICE_QUERY_CONFIG));
        alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[8192] = {};
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigA(service.get(), config, sizeof buffer, &needed));
        EXPECT_EQ(0x110u, config->dwServiceType);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->dwStartType);
        EXPECT_EQ(prefix_ + " Sorvane", std::string(config->lpDisplayName));
    }

    // A client is served over the service pipe: a client id comes back.
    Data request;
    IpcParameterWriter(request).functionId(2).string(IpcParameter::kDirectionIn, "");
    Data reply;
    EXPECT_EQ(0, TolvexClient::call(TolvexClient::servicePipeName(prefix_), request, reply, 10000));
    EXPECT_GT(reply.Size(), 0u);

    const size_t mark = readFile(logPath_).size();
    EXPECT_EQ(0u, run("-install", out));
    EXPECT_NE(std::string::npos, readFile(logPath_).find("Failed to get service handle", mark));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), state());

    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(0u, run("-uninstall", out));
    EXPECT_LT(GetTickCount64() - before, 10000u);
    // Standard output is in text mode: each line feed reaches the file as CR LF.
    EXPECT_EQ("\r\n" + service_ + " is stopped.\r\n" + service_ + " is removed.\r\n", out);
    EXPECT_EQ(0u, run("-uninstall", out));
    EXPECT_EQ("", out);
}

}  // namespace
