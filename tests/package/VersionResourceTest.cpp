// Every shipped file of the build carries the project's version, the brand's names and its own
// file name; the programs carry an asInvoker manifest; tolvex.exe's event message table has a
// text for every entry the service writes.
#include "logging/EventLog.h"
#include "tests/package/FileVersion.h"
#include "tests/core/service/TolvexProgramRig.h"

#include <gtest/gtest.h>

#include <EventMessages.h>

namespace {

static_assert(EventLog::ServiceStarted == TOLVEX_EVENT_SERVICE_STARTED && EventLog::ServiceStopped == TOLVEX_EVENT_SERVICE_STOPPED &&
                  EventLog::StartFailed == TOLVEX_EVENT_START_FAILED && EventLog::StopFailed == TOLVEX_EVENT_STOP_FAILED &&
                  EventLog::PluginFailed == TOLVEX_EVENT_PLUGIN_FAILED && EventLog::NoPlugin == TOLVEX_EVENT_NO_PLUGIN &&
                  EventLog::PrinterReadFailed == TOLVEX_EVENT_PRINTER_READ_FAILED &&
                  EventLog::UnexpectedFailure == TOLVEX_EVENT_UNEXPECTED_FAILURE &&
                  EventLog::PrinterReadStuck == TOLVEX_EVENT_PRINTER_READ_STUCK,
              "EventLog's ids are the message table's");

TEST(VersionResource, EveryShippedFileCarriesTheProjectVersionAndItsNames) {
    const struct {
        const char* file;
        bool program;
    } shipped[] = {{"tolvex.exe", true}, {TOLVEX_BRAND_PREFIX "__ovra.dll", false}, {"tolvexctl.exe", true},
                   {"npa-printer-sim.exe", true}};
    for (const auto& s : shipped) {
        const std::string path = TolvexProgramFiles::binFolder() + s.file;
        const FileVersion v = readFileVersion(path);
        ASSERT_TRUE(v.valid) << path;
        EXPECT_EQ(std::string(TOLVEX_VERSION_TEXT) + ".0", v.fileVersion) << s.file;
        EXPECT_EQ(std::string(TOLVEX_VERSION_TEXT) + ".0", v.productVersion) << s.file;
        EXPECT_EQ(TOLVEX_VERSION_TEXT, v.strings.at("FileVersion")) << s.file;
        EXPECT_EQ(TOLVEX_VERSION_TEXT, v.strings.at("ProductVersion")) << s.file;
        EXPECT_EQ(TOLVEX_BRAND_MANUFACTURER, v.strings.at("CompanyName")) << s.file;
        EXPECT_EQ(TOLVEX_SERVICE_DISPLAY_NAME, v.strings.at("ProductName")) << s.file;
        EXPECT_EQ(s.file, v.strings.at("OriginalFilename")) << s.file;
        EXPECT_FALSE(v.strings.at("FileDescription").empty()) << s.file;

        const HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module) << path;
        const HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
        EXPECT_EQ(s.program, manifest != nullptr) << s.file;
        if (manifest != nullptr) {
            const char* text = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
            const std::string xml(text, SizeofResource(module, manifest));
            EXPECT_NE(std::string::npos, xml.find("level=\"asInvoker\"")) << s.file;
            EXPECT_NE(std::string::npos, xml.find("8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")) << s.file;
        }
        FreeLibrary(module);
    }
}

// Each id with the inserts its callers give: the formatted text names the service and every
// insert, and nothing is left unformatted.
TEST(VersionResource, TheEventMessageTableFormatsEveryEntry) {
    const HMODULE module =
        LoadLibraryExA((TolvexProgramFiles::binFolder() + "tolvex.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    const struct {
        EventLog::Id id;
        std::vector<std::string> inserts;
        const char* expected;
    } cases[] = {
        {EventLog::ServiceStarted, {"Qv__tolvex", "1.2.3", "\\\\.\\pipe\\Qv_BidiAlertDataChannel_"},
         "The Qv__tolvex service started (version 1.2.3) and accepts clients on the pipe \\\\.\\pipe\\Qv_BidiAlertDataChannel_."},
        {EventLog::ServiceStopped, {"Qv__tolvex"}, "The Qv__tolvex service stopped."},
        {EventLog::StartFailed, {"Qv__tolvex", "IpcOverlappedNamedPipe", "231"},
         "The Qv__tolvex service could not start and has stopped: IpcOverlappedNamedPipe (error 231)."},
        {EventLog::StopFailed, {"S", "m", "5"}, "The S service did not stop cleanly: m (error 5)."},
        {EventLog::PluginFailed, {"S", "C:\\p\\Qv__ovra.dll", "Npa", "193"},
         "The S service cannot load the interpreter plug-in C:\\p\\Qv__ovra.dll for the Npa protocol (error 193); printers that speak it cannot be served."},
        {EventLog::NoPlugin, {"S", "C:\\p\\"}, "The S service found no interpreter plug-in it could load in C:\\p\\; no printer can be served."},
        {EventLog::PrinterReadFailed, {"S", "USB001"},
         "The S service stopped reading from the printer on USB001 after an unexpected error; the printer is served again when a client next opens it."},
        {EventLog::UnexpectedFailure, {"S", "m", "1359"}, "The S service ended after an unexpected error: m (error 1359)."},
        {EventLog::PrinterReadStuck, {"S", "USB001", "3000"},
         "The S service stopped reading from the printer on USB001, but its read thread did not end within 3000 ms; the printer cannot be used until that thread has ended (opening it answers busy, 170)."},
    };
    for (const auto& c : cases) {
        std::vector<DWORD_PTR> arguments;
        for (const std::string& insert : c.inserts) arguments.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
        char text[1024] = {};
        const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, c.id, 0x409, text,
                                       sizeof text, reinterpret_cast<va_list*>(arguments.data()));
        ASSERT_GT(n, 0u) << std::hex << c.id << " error " << std::dec << GetLastError();
        std::string formatted(text, n);
        while (!formatted.empty() && (formatted.back() == '\n' || formatted.back() == '\r')) formatted.pop_back();
        EXPECT_EQ(c.expected, formatted);
    }
    EXPECT_EQ(EVENTLOG_INFORMATION_TYPE, EventLog::typeOf(EventLog::ServiceStarted));
    EXPECT_EQ(EVENTLOG_WARNING_TYPE, EventLog::typeOf(EventLog::StopFailed));
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, EventLog::typeOf(EventLog::PluginFailed));
    FreeLibrary(module);
}

}  // namespace
