// Module counting with stand-in plug-ins that count their entry points in the environment.
#include "core/interpreters/InterpreterDllHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <memory>
#include <thread>
#include <vector>

namespace {

std::string testFolder() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path, n);
    return full.substr(0, full.rfind('\\') + 1);
}

unsigned long variable(const char* name) {
    char text[32] = {};
    const DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
    return n > 0 && n < sizeof text ? std::strtoul(text, nullptr, 10) : 0;
}

class BasicDllTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"TOLVEX_FAKE_INITIALIZED", "TOLVEX_FAKE_UNINITIALIZED", "TOLVEX_FAKE_INIT_RESULT",
                                 "TOLVEX_FAKE_INIT_ERROR"}) {
            SetEnvironmentVariableA(name, nullptr);
        }
        ASSERT_EQ(GetModuleHandleA(fake_.c_str()), nullptr);
    }
    void TearDown() override { EXPECT_EQ(GetModuleHandleA(fake_.c_str()), nullptr) << "the module stayed loaded"; }

    static unsigned long initialized() { return variable("TOLVEX_FAKE_INITIALIZED"); }
    static unsigned long uninitialized() { return variable("TOLVEX_FAKE_UNINITIALIZED"); }

    const std::string fake_ = testFolder() + "tolvex_fake_interpreter.dll";
};

TEST_F(BasicDllTest, HoldersOfOneModuleShareOneCount) {
    std::unique_ptr<InterpreterDll> first(new InterpreterDll(fake_));
    // Another spelling of the same file is the same module.
    std::string upper = fake_;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::unique_ptr<InterpreterDll> second(new InterpreterDll(upper));
    ASSERT_EQ(first->module(), second->module());
    EXPECT_EQ(BasicDllModules::holders(first->module()), 2u);
    EXPECT_EQ(initialized(), 1u);

    const HMODULE module = first->module();
    first.reset();
    EXPECT_EQ(uninitialized(), 0u);
    EXPECT_EQ(GetModuleHandleA(fake_.c_str()), module);
    EXPECT_EQ(BasicDllModules::holders(module), 1u);
    EXPECT_NE(second->getProcAddress("GetCommandManager"), nullptr);

    second.reset();
    EXPECT_EQ(uninitialized(), 1u);
    EXPECT_EQ(BasicDllModules::holders(module), 0u);
}

TEST_F(BasicDllTest, LoadFailuresNameTheFile) {
    const std::string missing = testFolder() + "tolvex_no_such_interpreter.dll";
    try {
        InterpreterDll dll(missing);
        FAIL() << "loaded a missing library";
    } catch (const Win32Exception& e) {
        EXPECT_EQ(e.message(), "BasicDll<Handler>::init() Unable to load DLL=" + missing);
        EXPECT_EQ(e.code(), ERROR_MOD_NOT_FOUND);
    }

    InterpreterDll dll(fake_);
    try {
        dll.getProcAddress("NoSuchExport");
        FAIL() << "found a missing export";
    } catch (const Win32Exception& e) {
        EXPECT_EQ(e.message(), "BasicDll<Handler>::getProcAddress() Unable to get proc address=NoSuchExport");
        EXPECT_EQ(e.code(), ERROR_PROC_NOT_FOUND);
    }
}

TEST_F(BasicDllTest, AModuleThatFailsToInitialiseIsNotKept) {
    const struct {
        const char* result;
        const char* error;
        int32_t code;
    } cases[] = {{"5", "1234", 1234}, {"7", nullptr, 7}};
    for (const auto& c : cases) {
        SetEnvironmentVariableA("TOLVEX_FAKE_INIT_RESULT", c.result);
        SetEnvironmentVariableA("TOLVEX_FAKE_INIT_ERROR", c.error);
        try {
            InterpreterDll dll(fake_);
            FAIL() << "a failed initialisation was taken for success";
        } catch (const Win32Exception& e) {
            EXPECT_EQ(e.message(), "Unable to initialize DLL=" + fake_);
            EXPECT_EQ(e.code(), c.code) << "the plug-in's error, else its non-zero result";
            EXPECT_EQ(e.file(), "InterpreterDllHandler");
        }
        EXPECT_EQ(GetModuleHandleA(fake_.c_str()), nullptr);
    }
    EXPECT_EQ(uninitialized(), 0u);

    // Once the plug-in initialises, it loads as if nothing had happened.
    SetEnvironmentVariableA("TOLVEX_FAKE_INIT_RESULT", nullptr);
    {
        InterpreterDll dll(fake_);
        EXPECT_EQ(BasicDllModules::holders(dll.module()), 1u);
    }
    EXPECT_EQ(initialized(), 3u);
    EXPECT_EQ(uninitialized(), 1u);
}

TEST_F(BasicDllTest, APlugInWithoutUninitializeIsFreedAllTheSame) {
    const std::string partial = testFolder() + "tolvex_fake_interpreter_partial.dll";
    {
        InterpreterDll dll(partial);
        EXPECT_NE(GetModuleHandleA(partial.c_str()), nullptr);
    }
    EXPECT_EQ(GetModuleHandleA(partial.c_str()), nullptr);
    EXPECT_EQ(initialized(), 1u);
}

TEST_F(BasicDllTest, ConcurrentHoldersInitialiseAndUninitialiseInPairs) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                try {
                    InterpreterDll dll(fake_);
                    if (dll.getProcAddress("GetPacketManager") == nullptr) ++failures;
                } catch (const Exception&) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(initialized(), 1u);
    EXPECT_EQ(initialized(), uninitialized());
}

}  // namespace
