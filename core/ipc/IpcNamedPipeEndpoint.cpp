#include "core/ipc/IpcNamedPipeEndpoint.h"

#include "core/ipc/IpcCallbackMessage.h"
#include "core/ipc/IpcConnectionCap.h"
#include "core/ipc/IpcEndpoints.h"
#include "core/ipc/IpcPipeSecurity.h"
#include "core/ipc/LocalPipeNames.h"
#include "core/ipc/PipeIdentity.h"
#include "export/common/PropertyText.h"
#include "logging/LogFacade.h"
#include "runtime/Exception.h"
#include "runtime/ThreadPool.h"

#include <cstring>

// Every connection the service serves at once runs on a parked thread of the request path.
static_assert(IpcTimeouts().maxConnections <= ThreadPool::kRequestPathBound,
              "the request path's threads cover the connection cap");

namespace {
DWORD remainingOf(DWORD timeoutMs, ULONGLONG start) {
    const ULONGLONG spent = GetTickCount64() - start;
    return spent >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - spent);
}
}  // namespace

IpcNamedPipeEndpoint::IpcNamedPipeEndpoint(const IpcTimeouts& timeouts)
    : timeouts_(timeouts), closed_(false), started_(true), runnable_(*this, &IpcNamedPipeEndpoint::serve),
      owner_(nullptr), lastAcceptCode_(0) {}

IpcNamedPipeEndpoint::IpcNamedPipeEndpoint(HANDLE connected, const IpcTimeouts& timeouts)
    : IpcNamedPipeEndpoint(timeouts) {
    pipe_.adopt(connected);
}

IpcNamedPipeEndpoint::~IpcNamedPipeEndpoint() {
    pipe_.requestStop();
    thread_.reset();
    pipe_.close();
}

std::string IpcNamedPipeEndpoint::pipeNameProperty() const {
    std::string name;
    FindElement(properties_, kPipeName, name);
    return name;
}

int32_t IpcNamedPipeEndpoint::createInstance(bool firstInstance) {
    try {
        IpcPipeSecurity security;
        pipe_.create(pipeNameProperty(), firstInstance, security.attributes());
        closed_.store(false);
        return 0;
    } catch (const Exception& e) {
        return e.code() != 0 ? e.code() : kInternalError;
    }
}

bool IpcNamedPipeEndpoint::listen() { return createInstance(false) == 0; }

void IpcNamedPipeEndpoint::listenFirst() {
    IpcPipeSecurity security;
    pipe_.create(pipeNameProperty(), true, security.attributes());
    closed_.store(false);
}

bool IpcNamedPipeEndpoint::createUntilStopped() {
    while (!pipe_.stopRequested()) {
        const int32_t rc = createInstance(false);
        if (rc == 0) return true;
        LogFacade::getInstance().log("BidiService",
                                     "IpcNamedPipeEndpoint::acceptConnection() next instance rc=" + std::to_string(rc));
        if (pipe_.waitForStop(timeouts_.retryMs)) break;
    }
    return false;
}

std::unique_ptr<IpcNamedPipeEndpoint> IpcNamedPipeEndpoint::acceptConnection() {
    if (!pipe_.isOpen() && !createUntilStopped()) {
        lastAcceptCode_ = IpcOverlappedNamedPipe::kStopped;
        return nullptr;
    }
    return handOn(pipe_.connect(INFINITE));
}

int32_t IpcNamedPipeEndpoint::beginAccept() {
    if (!pipe_.isOpen()) {
        const int32_t rc = createInstance(false);
        if (rc != 0) return rc;
    }
    // Made while no client waits: its events cost the system calls here, not between a client's
    // connection and its service.
    if (!spare_) spare_.reset(new IpcNamedPipeEndpoint(timeouts_));
    return pipe_.beginConnect();
}

std::unique_ptr<IpcNamedPipeEndpoint> IpcNamedPipeEndpoint::completeAccept(int32_t begun, bool successor) {
    return handOn(begun == ERROR_IO_PENDING ? pipe_.finishConnect() : begun, successor);
}

std::unique_ptr<IpcNamedPipeEndpoint> IpcNamedPipeEndpoint::handOn(int32_t code, bool successor) {
    lastAcceptCode_ = code;
    if (lastAcceptCode_ == ERROR_NO_DATA) return nullptr;
    // Connected or broken, this instance listens no more. While no other instance of ours
    // listens, anyone may create one under our name and take the next client's request; so the
    // next instance exists before this one is handed on or closed. A stop needs none.
    UniqueFileHandle current(pipe_.release());
    const bool next = lastAcceptCode_ != IpcOverlappedNamedPipe::kStopped && (!successor || createUntilStopped());
    if (lastAcceptCode_ != 0) return nullptr;
    if (!next) {
        lastAcceptCode_ = IpcOverlappedNamedPipe::kStopped;
        return nullptr;
    }
    std::unique_ptr<IpcNamedPipeEndpoint> connection =
        spare_ ? std::move(spare_) : std::unique_ptr<IpcNamedPipeEndpoint>(new IpcNamedPipeEndpoint(timeouts_));
    connection->pipe_.adopt(current.release());
    connection->setMapper(mapper_);
    return connection;
}

std::unique_ptr<IpcEndpoint> IpcNamedPipeEndpoint::accept() { return acceptConnection(); }

int32_t IpcNamedPipeEndpoint::start() {
    if (thread_) return 0;
    // The new thread may serve its client, close and signal the owner before Thread::start() has
    // returned here; deleting the endpoint then would pull the Thread out from under this call.
    // So the endpoint is not reapable until start() is done, and signals again if it finished
    // meanwhile.
    started_.store(false);
    int32_t rc = 0;
    try {
        thread_.reset(new Thread(runnable_, &ThreadPool::requestPath()));
        thread_->start();
    } catch (const Exception& e) {
        // Never ran: nothing will finish it, so it is closed here for the reaper.
        thread_.reset();
        close();
        rc = e.code() != 0 ? e.code() : kInternalError;
    }
    started_.store(true);
    if (closed_.load() && owner_ != nullptr) owner_->signal();
    return rc;
}

int32_t IpcNamedPipeEndpoint::answerBusy(uint32_t boundMs) {
    Data request;
    Data reply;
    int32_t rc = pipe_.read(request, boundMs);
    if (rc == 0) rc = IpcConnectionCap::busyReply(request, reply);
    if (rc == 0) {
        const ULONGLONG start = GetTickCount64();
        rc = pipe_.write(reply, boundMs);
        // As in serve(): the answer must not be dropped before the client has read it.
        if (rc == 0) pipe_.waitForPeerClose(remainingOf(boundMs, start));
    }
    close();
    return rc;
}

uint32_t IpcNamedPipeEndpoint::serve() {
    Data request;
    Data reply;
    int32_t rc = receive(request);
    // An empty request names no function; it gets no reply whatever the mapper would say.
    if (rc == 0 && request.Size() == 0) rc = kEmptyRequest;
    if (rc == 0) {
        if (mapper_ == nullptr) {
            rc = kNotSupported;
        } else {
            // Read once the request is in: the system identifies a pipe client only after it
            // has written.
            const CallerIdentity caller = PipeIdentity::client(pipe_.handle());
            LogFacade& facade = LogFacade::getInstance();
            if (facade.isEnabled()) facade.log("BidiService", "IpcNamedPipeEndpoint::serve() caller " + caller.describe());
            try {
                rc = mapper_->dispatch(caller, request, reply);
            } catch (const Exception& e) {
                rc = e.code() != 0 ? e.code() : kInternalError;
            } catch (...) {
                rc = kInternalError;
            }
        }
    }
    if (rc == 0) {
        rc = send(reply);
        // Closing at once could discard a reply the client has not read yet.
        if (rc == 0) pipe_.waitForPeerClose(timeouts_.lingerMs);
    }
    disconnect();
    // A rejected frame or a silent client is worth a line: it is what a misbehaving client
    // looks like from here.
    if (rc != 0) LogFacade::getInstance().log("BidiService", "IpcNamedPipeEndpoint::serve() rc=" + std::to_string(rc));
    if (owner_ != nullptr) owner_->signal();
    return static_cast<uint32_t>(rc);
}

int32_t IpcNamedPipeEndpoint::receive(Data& message) {
    message.Clear();
    return pipe_.read(message, timeouts_.requestMs);
}

int32_t IpcNamedPipeEndpoint::send(const Data& message) { return pipe_.write(message, timeouts_.replyWriteMs); }

int32_t IpcNamedPipeEndpoint::disconnect() {
    // No FlushFileBuffers: it waits without limit for the client to read. The caller has already
    // waited, within a bound, for the client to take the reply and close.
    close();
    return 0;
}

void IpcNamedPipeEndpoint::stop() { pipe_.requestStop(); }

void IpcNamedPipeEndpoint::close() {
    pipe_.close();
    closed_.store(true);
}

std::string IpcNamedPipeEndpoint::properties() {
    std::string host;
    if (!FindElement(properties_, kHostName, host) || host.empty()) {
        char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD size = sizeof name;
        if (GetComputerNameA(name, &size)) SetElement(properties_, kHostName, std::string(name, size));
    }
    if (pipeNameProperty().empty() && !pipe_.name().empty()) SetElement(properties_, kPipeName, pipe_.name());
    return properties_;
}

int32_t IpcNamedPipeEndpoint::connect(DWORD timeoutMs) {
    std::string host;
    FindElement(properties_, kHostName, host);
    const std::string name = pipeNameProperty();
    if (!LocalPipeNames::isThisComputer(host) || !LocalPipeNames::isLocalPipeName(name)) return kNotLocalPipe;
    closed_.store(false);
    return pipe_.open(IpcOverlappedNamedPipe::kLocalPrefix + name, timeoutMs);
}

int32_t IpcNamedPipeEndpoint::sendCallback(const std::string& text, const uint8_t* bytes, uint32_t length,
                                           const std::string& serverUserSid) {
    Data payload;
    try {
        payload = IpcCallbackMessage::build(text, bytes, length);
    } catch (const Exception& e) {
        return e.code() != 0 ? e.code() : kInternalError;
    }
    const ULONGLONG start = GetTickCount64();
    const DWORD bound = timeouts_.callbackMs;
    int32_t rc = connect(bound);
    if (rc == kNotLocalPipe) return rc;
    Data reply;
    if (rc == 0) {
        // Whoever can create a pipe of that name could otherwise collect another user's alerts.
        const std::string server = PipeIdentity::serverUser(pipe_.handle());
        if (server != serverUserSid) {
            close();
            LogFacade::getInstance().log("BidiService", "IpcNamedPipeEndpoint::sendCallback() " + pipeNameProperty() +
                                                            " served by " + (server.empty() ? "unknown" : server) +
                                                            ", not by " + serverUserSid + ": alert not sent");
            return kWrongServer;
        }
        rc = pipe_.write(payload, remainingOf(bound, start));
    }
    if (rc == 0) rc = pipe_.read(reply, remainingOf(bound, start), kMaxCallbackReply);
    close();
    if (rc != 0)
        LogFacade::getInstance().log("BidiService", "IpcNamedPipeEndpoint::sendCallback() " + pipeNameProperty() +
                                                        " rc=" + std::to_string(rc));
    if (rc == IpcOverlappedNamedPipe::kTimedOut) return rc;
    if (rc != 0) return IpcCallbackMessage::kNoValidReply;
    return IpcCallbackMessage::interpretReply(reply, 0);
}

uint32_t IpcNamedPipeEndpoint::result() const {
    if (!thread_) return 0;
    try {
        return thread_->exitCode();
    } catch (const Exception& e) {
        return static_cast<uint32_t>(e.code());
    }
}
