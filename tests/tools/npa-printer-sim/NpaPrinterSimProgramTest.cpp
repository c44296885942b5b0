// npa-printer-sim.exe as a client developer runs it: started with a scenario, answering a host,
// printing one line per request, and ending at the end of its piped input.
#include "interpreters/npa/NpaCommand.h"
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"
#include "tests/interpreters/npa/NpaTestBytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string ProgramPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    dir = dir.substr(0, dir.find_last_of("\\/"));
    return dir + "\\..\\..\\bin\\npa-printer-sim.exe";  // tests/bin -> bin
}

// The program with its standard input and output on pipes; its output is collected by a thread.
class Program {
public:
    explicit Program(const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
        if (!CreatePipe(&inRead, &inWrite, &inherit, 0) || !CreatePipe(&outRead, &outWrite, &inherit, 0)) return;
        SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        input_.reset(inWrite);
        output_.reset(outRead);
        UniqueHandle childIn(inRead), childOut(outWrite);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = inRead;
        startup.hStdOutput = outWrite;
        startup.hStdError = outWrite;
        PROCESS_INFORMATION info{};
        std::string commandLine = "\"" + ProgramPath() + "\" " + arguments;
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) return;
        process_.reset(info.hProcess);
        CloseHandle(info.hThread);
        reader_ = std::thread([this] {
            char buffer[512];
            DWORD n = 0;
            while (ReadFile(output_.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                text_.append(buffer, n);
                changed_.notify_all();
            }
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
            changed_.notify_all();
        });
    }
    ~Program() {
        input_.reset();
        if (process_ && WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
        if (reader_.joinable()) reader_.join();
    }
    bool started() const { return static_cast<bool>(process_); }
    bool waitForOutput(const std::string& part, int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return text_.find(part) != std::string::npos || ended_; }) &&
               text_.find(part) != std::string::npos;
    }
    // True once everything the program wrote has been read (its end of the pipe closed).
    bool waitForEnd(int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return ended_; });
    }
    std::string text() {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    void closeInput() { input_.reset(); }
    // The exit code once it ended within timeoutMs, else STILL_ACTIVE.
    DWORD waitForExit(DWORD timeoutMs) {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    UniqueHandle input_;
    UniqueHandle output_;
    UniqueHandle process_;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
    bool ended_ = false;
};

}  // namespace

TEST(NpaPrinterSimProgram, HelpDocumentsTheScenarioOptions) {
    Program program("--help");
    ASSERT_TRUE(program.started()) << ProgramPath();
    EXPECT_EQ(program.waitForExit(10000), 0u);
    // The exit can be seen before the reader has taken the last of the text.
    ASSERT_TRUE(program.waitForEnd(10000));
    EXPECT_NE(program.text().find("--unplug-after"), std::string::npos);
    for (const char* option : {"--device-path", "--alert-every", "--ack", "--delay", "--silent", "--refuse-registration",
                               "--split-at", "--join", "--fragment", "--never-reply", "--run-for"}) {
        EXPECT_NE(program.text().find(option), std::string::npos) << option;
    }
}

TEST(NpaPrinterSimProgram, BadOptionExitsWith87) {
    Program program("--delay soon");
    ASSERT_TRUE(program.started());
    EXPECT_EQ(program.waitForExit(10000), 87u);
    EXPECT_TRUE(program.waitForOutput("'soon' is not a number", 10000));
}

TEST(NpaPrinterSimProgram, AnswersAHostPrintsTheRequestAndEndsWithItsInput) {
    const std::string path = "\\\\.\\pipe\\QvSimProgram\\" + std::to_string(GetCurrentProcessId()) + "\\USB042";
    Program program("--device-path " + path + " --ack 1 --run-for 60000");
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForOutput("serving " + path, 10000)) << program.text();

    UniqueFileHandle read(CreateFileA((path + "\\PIPE01").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(read.valid()) << GetLastError();
    UniqueFileHandle write(CreateFileA((path + "\\PIPE00").c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(write.valid()) << GetLastError();
    const std::vector<uint8_t> query = Hex("A5 00 05 50 E0 81 00 FF");
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(write.get(), query.data(), static_cast<DWORD>(query.size()), &n, nullptr));
    // The acknowledge, then the reply, each a read of its own (synchronous reads: the program's
    // --run-for bounds them).
    uint8_t buffer[512];
    ASSERT_TRUE(ReadFile(read.get(), buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + n), Hex("A5 00 05 40 FF 80 00 00"));
    ASSERT_TRUE(ReadFile(read.get(), buffer, sizeof buffer, &n, nullptr));
    const NpaCommand request(query.data(), static_cast<uint32_t>(query.size()));
    EXPECT_TRUE(request.IsReplyTo(Data(buffer, n)));

    EXPECT_TRUE(program.waitForOutput("USB042 queryAll  A5 00 05 50 E0 81 00 FF  -> reply 10 bytes, 1 acknowledge(s) first", 10000))
        << program.text();
    program.closeInput();
    EXPECT_EQ(program.waitForExit(10000), 0u);
    EXPECT_TRUE(program.waitForOutput("1 request(s) logged", 10000)) << program.text();
}

TEST(NpaPrinterSimProgram, WithNoInputTheEndOfStandardInputDoesNotEndIt) {
    const std::string path = "\\\\.\\pipe\\QvSimProgram\\" + std::to_string(GetCurrentProcessId()) + "\\USB043";
    constexpr DWORD kRunForMs = 1500;
    const ULONGLONG start = GetTickCount64();
    Program program("--device-path " + path + " --no-input --run-for " + std::to_string(kRunForMs));
    ASSERT_TRUE(program.started());
    program.closeInput();
    // Only --run-for ends it: the end of its input (which ends a run without the option at once)
    // is not read.
    EXPECT_EQ(program.waitForExit(10000), 0u) << program.text();
    EXPECT_GE(GetTickCount64() - start, kRunForMs);
    EXPECT_TRUE(program.waitForOutput("standard input is not read", 10000)) << program.text();
}
