#pragma once
// The process-wide hidden window that receives arrivals and removals of USB printer interfaces
// and the power broadcasts, on a message thread of its own, and reports them to a
// DeviceEventSink. create() returns once the window exists (or its setup has failed); destroy()
// ends the thread and frees the window, its class and the device registration. Windows only.
#include "core/usb/DeviceEventSink.h"
#include "runtime/Event.h"
#include "runtime/Runnable.h"
#include "runtime/Thread.h"
#include "runtime/UniqueHandle.h"
#include "runtime/Win32.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class NotifierWindow {
public:
    static constexpr DWORD kStopWaitMilliseconds = 8000;
    static constexpr DWORD kReadyWaitMilliseconds = 10000;
    static constexpr uint32_t kWindowExtraBytes = 4;

    // Creates the instance once and starts its thread; later calls return the same instance and
    // ignore their arguments. prefix + "Hidden Notifier Window" names the window class and the
    // window. sink may be null (events are then dropped) and must outlive destroy(). Raises
    // Win32Exception when the thread cannot be started.
    static NotifierWindow& create(const std::string& prefix, DeviceEventSink* sink);
    static bool exists();
    // The instance, or nullptr.
    static NotifierWindow* instance();
    // Ends the message loop, waits for the thread and deletes the instance; nothing without one.
    static void destroy();

    // The window procedure's decisions, for any window: true with result set when the message
    // is one of ours, false when DefWindowProcA answers it. Never raises.
    static bool handleMessage(DeviceEventSink* sink, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT& result);

    // Posts WM_QUIT to the message thread and waits up to kStopWaitMilliseconds; true when the
    // thread has ended.
    bool stop();

    const std::string& windowName() const { return windowName_; }
    // The hidden window while the message loop runs; null before, after, or when setup failed.
    HWND window() const { return window_.load(); }
    uint32_t threadId() const { return thread_ ? thread_->threadId() : 0; }
    bool isRunning() const { return thread_ && thread_->isRunning(); }
    // 0 after a normal end, the failing call's system code when the window could not be set up,
    // STILL_ACTIVE (259) while running.
    uint32_t exitCode() const { return thread_->exitCode(); }

    ~NotifierWindow();
    NotifierWindow(const NotifierWindow&) = delete;
    NotifierWindow& operator=(const NotifierWindow&) = delete;

private:
    NotifierWindow(const std::string& prefix, DeviceEventSink* sink);
    void start();
    uint32_t run();
    uint32_t initializeWindow();
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    std::string windowName_;
    DeviceEventSink* sink_;
    std::atomic<HWND> window_;
    UniqueDevNotify notification_;  // set by the message thread during setup; released by destroy()
    bool classRegistered_;          // message thread only
    Event ready_;
    std::unique_ptr<RunnableMethod<NotifierWindow>> runnable_;
    std::unique_ptr<Thread> thread_;  // declared last: joined before the rest goes
};
