#include "tools/simulator/NpaPrinterSimulator.h"

#include "runtime/Exception.h"

#include <algorithm>
#include <chrono>

namespace {

// What the host's bulk-out writes are read with; requests up to this size arrive in one piece.
constexpr DWORD kReadChunk = 65536;
// How long the worker waits for the system to give back a cancelled operation before it gives
// up on the memory that operation uses.
constexpr DWORD kCancelWaitMs = 2000;

enum Slot { kReadSlot = 0, kWriteSlot = 1 };

}  // namespace

// One pipe instance: listening until the host connects, then the host's end of the pipe. Slot 0
// carries the connect and then the reads, slot 1 the writes. Each OVERLAPPED stays here until the
// system has finished with it.
struct PipeInstance {
    UniqueFileHandle handle;
    OVERLAPPED overlapped[2] = {};
    UniqueHandle event[2];
    bool pending[2] = {false, false};
    bool connectedAtOnce = false;
    std::vector<uint8_t> buffer;
    NpaPrinterWrite writing;
};

struct NpaPrinterSimulator::Pipe {
    std::string name;
    bool printerWrites = false;  // PIPE01
    std::unique_ptr<PipeInstance> listening;
    std::unique_ptr<PipeInstance> connected;
};

namespace {

bool signalled(const UniqueHandle& event) { return WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0; }

// Cancels what the instance still has in flight, waits (bounded) for the system to let go of its
// OVERLAPPED records, and closes it; the host's end then fails its reads and writes.
void retire(std::unique_ptr<PipeInstance>& instance) {
    if (!instance) return;
    bool released = true;
    if (instance->pending[0] || instance->pending[1]) {
        CancelIoEx(instance->handle.get(), nullptr);
        for (int slot = 0; slot < 2; ++slot) {
            if (!instance->pending[slot]) continue;
            if (WaitForSingleObject(instance->event[slot].get(), kCancelWaitMs) != WAIT_OBJECT_0) {
                released = false;
            }
        }
    }
    DisconnectNamedPipe(instance->handle.get());
    instance->handle.reset();
    if (!released) {
        // The system may still write into these records: keeping the memory is the lesser harm.
        instance.release();
        return;
    }
    instance.reset();
}

}  // namespace

NpaPrinterSimulator::NpaPrinterSimulator(const std::string& devicePath, const NpaPrinterIdentity& identity)
    : devicePath_(devicePath),
      engine_(identity),
      toPrinter_(new Pipe),
      fromPrinter_(new Pipe),
      runnable_(*this, &NpaPrinterSimulator::run) {
    toPrinter_->name = hostWritePipe();
    fromPrinter_->name = hostReadPipe();
    fromPrinter_->printerWrites = true;
}

NpaPrinterSimulator::~NpaPrinterSimulator() { stop(); }

void NpaPrinterSimulator::setListener(Listener listener) { listener_ = std::move(listener); }

uint64_t NpaPrinterSimulator::now() const { return GetTickCount64(); }

void NpaPrinterSimulator::emit(const NpaSimulatorEvent& event) {
    if (!listener_) return;
    try {
        listener_(event);
    } catch (...) {
        // A listener's failure must not end the printer.
    }
}

void NpaPrinterSimulator::start() {
    if (thread_) TOLVEX_THROW_WIN32("NpaPrinterSimulator::start() already started", ERROR_ALREADY_INITIALIZED);
    wake_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!wake_) TOLVEX_THROW_WIN32("NpaPrinterSimulator::start() CreateEventA", GetLastError());
    thread_.reset(new Thread(runnable_));
    thread_->start();
    uint32_t error = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
        running_ = true;
    }
    if (!request(Control::Plug, false, kDefaultWaitMs)) {
        std::lock_guard<std::mutex> lock(mutex_);
        error = controlError_ != 0 ? controlError_ : WAIT_TIMEOUT;
    }
    if (error != 0) {
        stop();
        TOLVEX_THROW_WIN32("NpaPrinterSimulator::start() " + devicePath_, error);
    }
}

bool NpaPrinterSimulator::stop(DWORD timeoutMs) {
    if (!thread_) return true;
    request(Control::Stop, false, timeoutMs);
    if (!thread_->waitForEnd(timeoutMs)) return false;
    thread_.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    return true;
}

bool NpaPrinterSimulator::request(Control control, bool forget, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!running_ || stopping_) return false;
    // One control at a time: a second caller waits until the first has been carried out.
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return controlDone_ == controlRequested_; })) {
        return false;
    }
    control_ = control;
    forget_ = forget;
    controlError_ = 0;
    const uint64_t id = ++controlRequested_;
    SetEvent(wake_.get());
    const bool done = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return controlDone_ >= id; });
    return done && controlError_ == 0;
}

bool NpaPrinterSimulator::unplug(DWORD timeoutMs) { return request(Control::Unplug, false, timeoutMs); }

bool NpaPrinterSimulator::replug(bool forgetRegistrations, DWORD timeoutMs) {
    if (request(Control::Plug, forgetRegistrations, timeoutMs)) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    if (controlError_ != 0) TOLVEX_THROW_WIN32("NpaPrinterSimulator::replug() " + devicePath_, controlError_);
    return false;
}

bool NpaPrinterSimulator::isPlugged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugged_;
}

uint32_t NpaPrinterSimulator::run() {
    for (;;) {
        try {
            applyControl();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stopping_) break;
            }
            serveOnce();
        } catch (const Exception& e) {
            NpaSimulatorEvent event;
            event.kind = NpaSimulatorEvent::Kind::Failed;
            event.text = e.message();
            event.code = static_cast<uint32_t>(e.code());
            emit(event);
        }
        changed_.notify_all();
    }
    changed_.notify_all();
    return 0;
}

void NpaPrinterSimulator::applyControl() {
    Control control;
    bool forget;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (controlDone_ == controlRequested_) return;
        control = control_;
        forget = forget_;
    }
    uint32_t error = 0;
    NpaSimulatorEvent event;
    switch (control) {
    case Control::Plug:
        unplugPipes();
        if (forget) {
            std::lock_guard<std::mutex> lock(mutex_);
            engine_.forgetRegistrations();
        }
        try {
            plug();
        } catch (const Exception& e) {
            unplugPipes();
            error = e.code() != 0 ? static_cast<uint32_t>(e.code()) : ERROR_GEN_FAILURE;
        }
        event.kind = NpaSimulatorEvent::Kind::Plugged;
        event.code = error;
        break;
    case Control::Unplug:
    case Control::Stop:
        unplugPipes();
        event.kind = NpaSimulatorEvent::Kind::Unplugged;
        break;
    case Control::None:
        break;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (control == Control::Stop) stopping_ = true;
        controlError_ = error;
        controlDone_ = controlRequested_;
    }
    changed_.notify_all();
    if (control != Control::Stop) emit(event);
}

namespace {

std::unique_ptr<PipeInstance> listen(const std::string& name, bool printerWrites) {
    std::unique_ptr<PipeInstance> instance(new PipeInstance);
    for (auto& event : instance->event) {
        event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!event) TOLVEX_THROW_WIN32("NpaPrinterSimulator CreateEventA", GetLastError());
    }
    // PIPE01 is duplex only so that a read can notice the host closing it. Its out buffer is
    // empty: a write then completes only once the host has read every byte of it, which is how
    // the worker knows a write arrived as reads of its own before it starts the next one.
    const DWORD access = (printerWrites ? PIPE_ACCESS_DUPLEX : PIPE_ACCESS_INBOUND) | FILE_FLAG_OVERLAPPED;
    instance->handle.reset(CreateNamedPipeA(name.c_str(), access,
                                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                            PIPE_UNLIMITED_INSTANCES, 0, printerWrites ? 0 : kReadChunk, 0, nullptr));
    if (!instance->handle) TOLVEX_THROW_WIN32("NpaPrinterSimulator CreateNamedPipeA " + name, GetLastError());
    OVERLAPPED& overlapped = instance->overlapped[kReadSlot];
    overlapped = OVERLAPPED{};
    overlapped.hEvent = instance->event[kReadSlot].get();
    if (ConnectNamedPipe(instance->handle.get(), &overlapped)) {
        instance->connectedAtOnce = true;
        return instance;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        instance->pending[kReadSlot] = true;
    } else if (error == ERROR_PIPE_CONNECTED) {
        // The host opened the instance between its creation and the connect call.
        instance->connectedAtOnce = true;
    } else {
        TOLVEX_THROW_WIN32("NpaPrinterSimulator ConnectNamedPipe " + name, error);
    }
    return instance;
}

}  // namespace

void NpaPrinterSimulator::plug() {
    // PIPE01 first, like the host opens them.
    fromPrinter_->listening = listen(fromPrinter_->name, true);
    toPrinter_->listening = listen(toPrinter_->name, false);
    std::lock_guard<std::mutex> lock(mutex_);
    plugged_ = true;
}

void NpaPrinterSimulator::unplugPipes() {
    for (Pipe* pipe : {fromPrinter_.get(), toPrinter_.get()}) {
        retire(pipe->connected);
        retire(pipe->listening);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    plugged_ = false;
    hostReading_ = false;
    hostWriting_ = false;
    engine_.dropOutput();
    engine_.resetInput();
}

void NpaPrinterSimulator::serveOnce() {
    std::vector<NpaSimulatorEvent> events;
    auto hostGone = [&](Pipe& pipe, DWORD error) {
        retire(pipe.connected);
        NpaSimulatorEvent event;
        event.kind = NpaSimulatorEvent::Kind::HostDisconnected;
        event.pipe = pipe.printerWrites ? "PIPE01" : "PIPE00";
        event.code = error;
        events.push_back(event);
        std::lock_guard<std::mutex> lock(mutex_);
        if (pipe.printerWrites) {
            hostReading_ = false;
            engine_.dropOutput();
        } else {
            hostWriting_ = false;
            engine_.resetInput();
        }
    };
    auto startRead = [&](Pipe& pipe) {
        PipeInstance& c = *pipe.connected;
        c.buffer.resize(pipe.printerWrites ? 16 : kReadChunk);
        OVERLAPPED& overlapped = c.overlapped[kReadSlot];
        overlapped = OVERLAPPED{};
        overlapped.hEvent = c.event[kReadSlot].get();
        ResetEvent(overlapped.hEvent);
        // A read that fails at once never signals its event: it must be handled here.
        if (ReadFile(c.handle.get(), c.buffer.data(), static_cast<DWORD>(c.buffer.size()), nullptr, &overlapped) ||
            GetLastError() == ERROR_IO_PENDING) {
            c.pending[kReadSlot] = true;
        } else {
            hostGone(pipe, GetLastError());
        }
    };

    // Connections. Wine completes the connect of a listening instance only some time after the
    // host's open has returned, so the host may already have opened PIPE00, and written a request,
    // before PIPE01's connect event is signalled. The instance's state (a peek succeeds once a host
    // is connected) is therefore asked directly, and the pass is repeated until nothing changes:
    // the host opens PIPE01 first, so a request always finds the connection that reads its reply.
    for (bool accepted = true; accepted;) {
        accepted = false;
        for (Pipe* pipe : {fromPrinter_.get(), toPrinter_.get()}) {
            PipeInstance* l = pipe->listening.get();
            if (!l) continue;
            if (!l->connectedAtOnce) {
                if (!l->pending[kReadSlot]) continue;
                DWORD available = 0;
                if (!signalled(l->event[kReadSlot]) &&
                    !PeekNamedPipe(l->handle.get(), nullptr, 0, nullptr, &available, nullptr)) {
                    continue;
                }
                // Connected: the completion follows at once.
                if (WaitForSingleObject(l->event[kReadSlot].get(), kCancelWaitMs) != WAIT_OBJECT_0) continue;
            }
            accepted = true;
            bool ok = true;
            if (l->pending[kReadSlot]) {
                DWORD n = 0;
                l->pending[kReadSlot] = false;
                ok = GetOverlappedResult(l->handle.get(), &l->overlapped[kReadSlot], &n, FALSE) != FALSE;
            }
            l->connectedAtOnce = false;
            if (ok) {
                // A new connection while the old one is open: the host reopened the pipe before its
                // close reached us. The newer one wins.
                if (pipe->connected) hostGone(*pipe, ERROR_PIPE_BUSY);
                pipe->connected = std::move(pipe->listening);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (pipe->printerWrites) {
                        hostReading_ = true;
                        ++readConnections_;
                    } else {
                        hostWriting_ = true;
                        ++writeConnections_;
                    }
                }
                NpaSimulatorEvent event;
                event.kind = NpaSimulatorEvent::Kind::HostConnected;
                event.pipe = pipe->printerWrites ? "PIPE01" : "PIPE00";
                events.push_back(event);
                startRead(*pipe);
            } else {
                retire(pipe->listening);
            }
            pipe->listening = listen(pipe->name, pipe->printerWrites);
        }
    }

    // Requests, and the host closing either pipe.
    for (Pipe* pipe : {toPrinter_.get(), fromPrinter_.get()}) {
        PipeInstance* c = pipe->connected.get();
        if (!c || !c->pending[kReadSlot] || !signalled(c->event[kReadSlot])) continue;
        c->pending[kReadSlot] = false;
        DWORD n = 0;
        if (!GetOverlappedResult(c->handle.get(), &c->overlapped[kReadSlot], &n, FALSE)) {
            hostGone(*pipe, GetLastError());
            continue;
        }
        if (!pipe->printerWrites && n > 0) {
            std::vector<NpaReceivedRequest> received;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received = engine_.feed(c->buffer.data(), n, now());
            }
            for (auto& r : received) {
                NpaSimulatorEvent event;
                event.kind = NpaSimulatorEvent::Kind::Request;
                event.request = std::move(r);
                events.push_back(std::move(event));
            }
        }
        startRead(*pipe);  // bytes the host writes to PIPE01 mean nothing and are dropped
    }

    // The write in flight.
    Pipe& out = *fromPrinter_;
    if (out.connected && out.connected->pending[kWriteSlot] && signalled(out.connected->event[kWriteSlot])) {
        PipeInstance& c = *out.connected;
        c.pending[kWriteSlot] = false;
        DWORD n = 0;
        const bool ok = GetOverlappedResult(c.handle.get(), &c.overlapped[kWriteSlot], &n, FALSE) != FALSE;
        const DWORD error = ok ? 0 : GetLastError();
        NpaSimulatorEvent event;
        event.kind = ok ? NpaSimulatorEvent::Kind::Wrote : NpaSimulatorEvent::Kind::Dropped;
        event.text = c.writing.what;
        event.bytes = n;
        event.code = error;
        events.push_back(event);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++(ok ? writesCompleted_ : writesDropped_);
        }
        if (!ok) hostGone(out, error);
    }

    // The next due write: to the reader if there is one, otherwise nowhere.
    for (;;) {
        const bool reader = out.connected != nullptr;
        if (reader && out.connected->pending[kWriteSlot]) break;
        NpaPrinterWrite write;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!engine_.takeDue(now(), write)) break;
            if (!reader) ++writesDropped_;
        }
        if (!reader) {
            NpaSimulatorEvent event;
            event.kind = NpaSimulatorEvent::Kind::Dropped;
            event.text = write.what + " (no host reading)";
            event.bytes = static_cast<uint32_t>(write.bytes.size());
            events.push_back(event);
            continue;
        }
        PipeInstance& c = *out.connected;
        c.writing = std::move(write);
        OVERLAPPED& overlapped = c.overlapped[kWriteSlot];
        overlapped = OVERLAPPED{};
        overlapped.hEvent = c.event[kWriteSlot].get();
        ResetEvent(overlapped.hEvent);
        if (WriteFile(c.handle.get(), c.writing.bytes.data(), static_cast<DWORD>(c.writing.bytes.size()), nullptr, &overlapped) ||
            GetLastError() == ERROR_IO_PENDING) {
            c.pending[kWriteSlot] = true;
        } else {
            const DWORD error = GetLastError();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++writesDropped_;
            }
            hostGone(out, error);
        }
    }

    for (const auto& event : events) emit(event);
    changed_.notify_all();

    // Sleep until an operation completes, a control arrives or the next write falls due.
    std::vector<HANDLE> handles = {wake_.get()};
    bool again = false;  // a host connected before the connect call: nothing will signal it
    for (Pipe* pipe : {fromPrinter_.get(), toPrinter_.get()}) {
        for (PipeInstance* instance : {pipe->listening.get(), pipe->connected.get()}) {
            if (!instance) continue;
            again = again || instance->connectedAtOnce;
            for (int slot = 0; slot < 2; ++slot) {
                if (instance->pending[slot]) handles.push_back(instance->event[slot].get());
            }
        }
    }
    DWORD timeout = again ? 0 : INFINITE;
    if (!again) {
        std::lock_guard<std::mutex> lock(mutex_);
        uint64_t due = 0;
        const bool writing = out.connected && out.connected->pending[kWriteSlot];
        if (engine_.nextDue(due) && !writing) {
            const uint64_t t = now();
            timeout = due > t ? static_cast<DWORD>(std::min<uint64_t>(due - t, 0x7FFFFFFF)) : 0;
        }
    }
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
}

void NpaPrinterSimulator::setDefaultBehaviour(const NpaReplyBehaviour& behaviour) {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.setDefaultBehaviour(behaviour);
}

void NpaPrinterSimulator::setBehaviour(NpaRequestKind kind, const NpaReplyBehaviour& behaviour) {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.setBehaviour(kind, behaviour);
}

void NpaPrinterSimulator::clearBehaviours() {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.clearBehaviours();
}

void NpaPrinterSimulator::setSilent(bool silent) {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.setSilent(silent);
}

void NpaPrinterSimulator::setAlertTimer(uint32_t everyMs, bool onlyWhenRegistered) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        engine_.setAlertTimer(everyMs, onlyWhenRegistered, now());
    }
    if (wake_) SetEvent(wake_.get());
}

void NpaPrinterSimulator::setAdapterVariable(uint8_t component, uint8_t id, const std::vector<uint8_t>& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_.setAdapterVariable(component, id, value);
}

bool NpaPrinterSimulator::sendAlert() {
    bool queued;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queued = engine_.emitAlert(now());
    }
    if (queued && wake_) SetEvent(wake_.get());
    return queued;
}

bool NpaPrinterSimulator::sendBytes(const std::vector<uint8_t>& bytes) {
    bool queued;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queued = engine_.emitBytes(bytes, now());
    }
    if (queued && wake_) SetEvent(wake_.get());
    return queued;
}

std::vector<NpaReceivedRequest> NpaPrinterSimulator::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_.requests();
}

uint64_t NpaPrinterSimulator::countOf(NpaRequestKind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_.countOf(kind);
}

bool NpaPrinterSimulator::isRegistered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_.isRegistered();
}

std::vector<NpaRegistration> NpaPrinterSimulator::registrations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_.registrations();
}

uint32_t NpaPrinterSimulator::registeredAlertMask() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_.registeredAlertMask();
}

uint64_t NpaPrinterSimulator::writesCompleted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writesCompleted_;
}

uint64_t NpaPrinterSimulator::writesDropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writesDropped_;
}

uint64_t NpaPrinterSimulator::hostReadConnections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readConnections_;
}

uint64_t NpaPrinterSimulator::hostWriteConnections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writeConnections_;
}

bool NpaPrinterSimulator::hostConnected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hostReading_ && hostWriting_;
}

bool NpaPrinterSimulator::waitUntil(const std::function<bool(const NpaPrinterEngine&)>& predicate, DWORD timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return predicate(engine_); });
}

bool NpaPrinterSimulator::waitForRequests(NpaRequestKind kind, uint64_t count, DWORD timeoutMs) const {
    return waitUntil([&](const NpaPrinterEngine& e) { return e.countOf(kind) >= count; }, timeoutMs);
}

bool NpaPrinterSimulator::waitForRegistered(bool registered, DWORD timeoutMs) const {
    return waitUntil([&](const NpaPrinterEngine& e) { return e.isRegistered() == registered; }, timeoutMs);
}

bool NpaPrinterSimulator::waitForWritesCompleted(uint64_t count, DWORD timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return writesCompleted_ >= count; });
}

bool NpaPrinterSimulator::waitForHost(DWORD timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return hostReading_ && hostWriting_; });
}
