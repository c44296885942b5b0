#include "core/usb/NotifierWindow.h"

#include "core/usb/SetupApiDeviceSource.h"
#include "logging/LogFacade.h"
#include "runtime/CriticalSection.h"
#include "runtime/Exception.h"

#include <dbt.h>

#include <cstddef>
#include <cstring>

namespace {

const char kComponent[] = "BidiService";

// Power broadcast codes by number: not every header set defines all of them.
constexpr WPARAM kQuerySuspend = 0x0;
constexpr WPARAM kQuerySuspendFailed = 0x2;
constexpr WPARAM kSuspend = 0x4;
constexpr WPARAM kStandby = 0x5;
constexpr WPARAM kResumeSuspend = 0x7;
constexpr WPARAM kBatteryLow = 0x9;
constexpr WPARAM kResumeAutomatic = 0x12;
constexpr LRESULT kBroadcastQueryDeny = 0x424D5144;

struct InstanceState {
    CriticalSection lock;
    std::atomic<NotifierWindow*> instance{nullptr};
};

InstanceState& state() {
    static InstanceState s;
    return s;
}

void log(const std::string& text) { LogFacade::getInstance().log(kComponent, text); }

// The interface path of an arrival or removal record, or false when the record is not a
// device-interface record. The name is read only within the size the record declares.
bool interfacePath(LPARAM lParam, std::string& path) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return false;
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    if (header->dbch_size <= nameOffset) return false;
    const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lParam);
    const size_t room = header->dbch_size - nameOffset;
    const void* end = std::memchr(record->dbcc_name, '\0', room);
    const size_t length = end != nullptr ? static_cast<const char*>(end) - record->dbcc_name : room;
    path.assign(record->dbcc_name, length);
    return true;
}

}  // namespace

NotifierWindow& NotifierWindow::create(const std::string& prefix, DeviceEventSink* sink) {
    InstanceState& s = state();
    NotifierWindow* existing = s.instance.load(std::memory_order_acquire);
    if (existing != nullptr) return *existing;
    CriticalSectionLock guard(s.lock);
    existing = s.instance.load(std::memory_order_relaxed);
    if (existing != nullptr) return *existing;
    std::unique_ptr<NotifierWindow> created(new NotifierWindow(prefix, sink));
    created->start();
    s.instance.store(created.get(), std::memory_order_release);
    return *created.release();
}

bool NotifierWindow::exists() { return state().instance.load(std::memory_order_acquire) != nullptr; }

NotifierWindow* NotifierWindow::instance() { return state().instance.load(std::memory_order_acquire); }

void NotifierWindow::destroy() {
    InstanceState& s = state();
    CriticalSectionLock guard(s.lock);
    NotifierWindow* existing = s.instance.load(std::memory_order_relaxed);
    if (existing == nullptr) return;
    // The registration goes first, from the caller's thread: in a service process Wine's
    // unregistration blocks on a thread other than the control thread while a stop control is
    // being handled, so left to the message thread it would hold the stop for ever. The message
    // thread no longer touches the registration once its window exists and its loop runs.
    if (existing->window() != nullptr) existing->notification_.reset();
    if (!existing->stop()) {
        // The hooks it runs are bounded (each port's stop waits a few seconds at most), so the
        // join below ends; the thread still uses the window state and the sink until then.
        log("NotifierWindow::destroy() - message thread still busy after " +
            std::to_string(kStopWaitMilliseconds) + " ms, waiting for it");
    }
    delete existing;
    s.instance.store(nullptr, std::memory_order_release);
}

NotifierWindow::NotifierWindow(const std::string& prefix, DeviceEventSink* sink)
    : windowName_(prefix + "Hidden Notifier Window"),
      sink_(sink),
      window_(nullptr),
      classRegistered_(false),
      ready_(true, false) {}

NotifierWindow::~NotifierWindow() {
    if (thread_ && thread_->isRunning()) stop();
    thread_.reset();
}

void NotifierWindow::start() {
    runnable_.reset(new RunnableMethod<NotifierWindow>(*this, &NotifierWindow::run));
    thread_.reset(new Thread(*runnable_));
    thread_->start();
    // A WM_QUIT posted before the thread has a message queue is lost and the loop would never
    // end: stop() may only post once the window exists, so creation waits for it (or for the
    // thread to give up).
    const HANDLE waitFor[2] = {ready_.handle(), thread_->endHandle()};
    WaitForMultipleObjects(2, waitFor, FALSE, kReadyWaitMilliseconds);
}

uint32_t NotifierWindow::initializeWindow() {
    const HMODULE module = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.style = 0;
    windowClass.lpfnWndProc = &NotifierWindow::windowProcedure;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = kWindowExtraBytes;
    windowClass.hInstance = module;
    windowClass.hIcon = nullptr;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = windowName_.c_str();
    if (RegisterClassA(&windowClass) == 0) return GetLastError();
    classRegistered_ = true;

    const HWND window = CreateWindowExA(0, windowName_.c_str(), windowName_.c_str(), WS_OVERLAPPEDWINDOW,
                                        CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, module, nullptr);
    if (window == nullptr) return GetLastError();
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(sink_));
    window_.store(window);

    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kUsbPrintInterfaceClass;
    notification_.reset(RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    if (!notification_) {
        const DWORD rc = GetLastError();
        log("NotifierWindow::initializeWindow() - RegisterDeviceNotification failed with errorcode: " +
            std::to_string(rc));
        return rc;
    }
    return 0;
}

// The window, its class and the registration belong to the message thread: a class can only be
// unregistered once its windows are gone, and a window is destroyed by the thread that made it.
// So the thread frees them itself, whether setup failed or the loop ended, and a later instance
// in the same process can register the class again.
uint32_t NotifierWindow::run() {
    uint32_t rc = initializeWindow();
    if (rc == 0) {
        const HWND window = window_.load();
        ShowWindow(window, SW_HIDE);
        UpdateWindow(window);
        ready_.set();
        MSG message;
        for (;;) {
            const BOOL got = GetMessageA(&message, nullptr, 0, 0);
            if (got == 0 || got == -1) break;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    notification_.reset();
    const HWND window = window_.exchange(nullptr);
    if (window != nullptr) DestroyWindow(window);
    if (classRegistered_) UnregisterClassA(windowName_.c_str(), GetModuleHandleA(nullptr));
    classRegistered_ = false;
    ready_.set();
    return rc;
}

bool NotifierWindow::stop() {
    if (!thread_) return true;
    if (window_.load() == nullptr && thread_->isRunning()) {
        // Setup still under way: its message queue may not exist yet, and a quit posted now
        // would be lost.
        const HANDLE waitFor[2] = {ready_.handle(), thread_->endHandle()};
        WaitForMultipleObjects(2, waitFor, FALSE, kReadyWaitMilliseconds);
    }
    if (window_.load() != nullptr) PostThreadMessageA(thread_->threadId(), WM_QUIT, 0, 0);
    return thread_->waitForEnd(kStopWaitMilliseconds);
}

LRESULT CALLBACK NotifierWindow::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* sink = reinterpret_cast<DeviceEventSink*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    LRESULT result = 0;
    if (handleMessage(sink, message, wParam, lParam, result)) return result;
    return DefWindowProcA(window, message, wParam, lParam);
}

bool NotifierWindow::handleMessage(DeviceEventSink* sink, UINT message, WPARAM wParam, LPARAM lParam,
                                   LRESULT& result) {
    if (message != WM_POWERBROADCAST && message != WM_DEVICECHANGE) return false;
    result = 0;
    try {
        if (message == WM_POWERBROADCAST) {
            if (sink == nullptr) return true;
            switch (wParam) {
                case kQuerySuspend:
                case kSuspend:
                case kStandby:
                case kBatteryLow:
                    sink->suspendAll();
                    break;
                case kQuerySuspendFailed:
                case kResumeSuspend:
                case kResumeAutomatic:
                    sink->resumeAll();
                    break;
                default:
                    break;
            }
            return true;
        }
        switch (wParam) {
            case DBT_DEVICEARRIVAL:
            case DBT_DEVICEREMOVECOMPLETE: {
                std::string path;
                if (sink == nullptr || !interfacePath(lParam, path)) return true;
                const std::shared_ptr<Port> port = sink->findByDevicePath(path);
                if (!port) return true;
                if (wParam == DBT_DEVICEARRIVAL) {
                    port->onDeviceAttach();
                } else {
                    port->onDeviceDetach();
                }
                return true;
            }
            case DBT_QUERYCHANGECONFIG:
                // Nothing to undock without a sink: the change is allowed.
                result = (sink == nullptr || sink->undockAll() != 0) ? 1 : kBroadcastQueryDeny;
                return true;
            default:
                // Removal queries and pending removals (DBT_DEVICEQUERYREMOVE, ...REMOVEPENDING,
                // ...QUERYREMOVEFAILED) are left alone: a query may still be vetoed by someone
                // else, and every removal that happens ends in DBT_DEVICEREMOVECOMPLETE, which
                // detaches the port once. Answering 0 never vetoes the user's removal.
                return true;
        }
    } catch (const Exception& e) {
        log("NotifierWindow::handleMessage() failed: " + e.message() + " " + e.codeText());
    } catch (...) {
        log("NotifierWindow::handleMessage() failed");
    }
    return true;
}
