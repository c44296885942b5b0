#pragma once
// A named-pipe endpoint in one of three roles. Listening (the monitor's): listen() creates a
// server instance of PIPENAME and acceptConnection() waits for a client on it. Connection (made
// by acceptConnection from the connected handle): start() runs one request on a thread of its
// own: receive within the request bound, dispatch, send, close; then it counts as closed (not
// before start() has returned) and tells its owner. Callback (client side): sendCallback()
// delivers an "onCallback" message to a pipe a client serves on this computer and returns the
// client's code, all within the callback bound. stop() may come from any thread; everything else
// belongs to one thread at a time.
#include "core/ipc/IpcEndpoint.h"
#include "core/ipc/IpcOverlappedNamedPipe.h"
#include "core/ipc/IpcTimeouts.h"
#include "runtime/Runnable.h"
#include "runtime/Thread.h"

#include <atomic>
#include <memory>

class IpcNamedPipeEndpoint : public IpcEndpoint {
public:
    // Codes of this endpoint besides the pipe's.
    static constexpr int32_t kEmptyRequest = 22;          // ERROR_BAD_COMMAND
    static constexpr int32_t kInternalError = 1359;       // ERROR_INTERNAL_ERROR
    // A callback target that is not a pipe on this computer.
    static constexpr int32_t kNotLocalPipe = ERROR_INVALID_NAME;  // 123
    // A callback pipe served by a process of another user than the registration's.
    static constexpr int32_t kWrongServer = ERROR_ACCESS_DENIED;  // 5
    // A callback reply is 16 bytes; anything near this is not one.
    static constexpr uint32_t kMaxCallbackReply = 1024;

    explicit IpcNamedPipeEndpoint(const IpcTimeouts& timeouts = IpcTimeouts());
    // An accepted connection: takes over the connected handle.
    IpcNamedPipeEndpoint(HANDLE connected, const IpcTimeouts& timeouts);
    // Stops the pipe, waits for the thread (if any), closes the pipe.
    ~IpcNamedPipeEndpoint() override;

    // Listening: a new server instance named by PIPENAME. listen() swallows failures (false);
    // listenFirst() creates the first instance with FILE_FLAG_FIRST_PIPE_INSTANCE and raises
    // Win32Exception when the name is taken or the instance cannot be made.
    bool listen();
    void listenFirst();
    // True while the listening endpoint holds an instance not yet handed to a connection.
    bool hasInstance() const { return pipe_.isOpen(); }
    // Waits (until stop) for a client on the current instance (made first if there is none). The
    // name is never left without a listening instance of ours: on success the next instance is
    // created before the connected handle goes to the returned endpoint, and after a failure
    // other than ERROR_NO_DATA (a client that came and went; the instance stays usable) the
    // replacement is created before the broken instance is closed. A creation that fails is
    // logged and tried again every retryMs until it succeeds or stop() comes. Null on failure
    // or stop; lastAcceptCode() tells which (kStopped, with no instance left, after a stop).
    std::unique_ptr<IpcNamedPipeEndpoint> acceptConnection();
    // acceptConnection() in two steps, for a monitor that waits on several listening endpoints
    // at once: beginAccept() creates the instance if there is none (once: a failure is returned)
    // and starts waiting for a client, giving 0 when one is connected already, ERROR_IO_PENDING
    // while waiting (acceptEvent() is signalled when that ends), or the code. completeAccept()
    // then hands the connection on as acceptConnection() does (the next instance first), or,
    // when successor is false (another instance of ours exists), leaves the endpoint without one.
    // cancelAccept() ends a pending wait; the instance stays for the next beginAccept().
    int32_t beginAccept();
    HANDLE acceptEvent() const { return pipe_.ioEvent(); }
    std::unique_ptr<IpcNamedPipeEndpoint> completeAccept(int32_t begun, bool successor = true);
    void cancelAccept() { pipe_.cancelConnect(); }
    std::unique_ptr<IpcEndpoint> accept() override;
    int32_t lastAcceptCode() const { return lastAcceptCode_; }

    int32_t start() override;
    // Connection, instead of start() when the service is at its connection cap (calling thread):
    // reads the request within boundMs and answers its function id with the busy code
    // (IpcConnectionCap), then closes; a connection that brings no id in that time is closed
    // without an answer. Writing the answer and waiting for the client to take it have a second
    // boundMs. 0 when answered, otherwise the code.
    int32_t answerBusy(uint32_t boundMs);
    int32_t receive(Data& message) override;
    int32_t send(const Data& message) override;
    int32_t disconnect() override;
    void stop() override;
    // If not yet closed: marks the endpoint closed and closes the pipe (owner thread).
    void close();
    std::string properties() override;
    // True once the connection is done with and start() has returned: only then may the owner
    // delete it.
    bool isClosed() const override { return closed_.load() && started_.load(); }
    void setOwner(IpcEndpoints* owner) override { owner_ = owner; }

    // Client side: opens the pipe named by HOSTNAME and PIPENAME within timeoutMs. Only pipes
    // on this computer: kNotLocalPipe for another host or a name outside the pipe namespace.
    int32_t connect(DWORD timeoutMs);
    // The callback, written only when the pipe's server process runs as serverUserSid: 0 or the
    // client's return code; kNotLocalPipe, kWrongServer, 1460 when the bound ran out, 1359 when
    // the pipe could not be used or the reply is not an answer to the callback.
    int32_t sendCallback(const std::string& text, const uint8_t* bytes, uint32_t length,
                         const std::string& serverUserSid);

    // The pipe handle (still owned), for inspection.
    HANDLE pipeHandle() const { return pipe_.handle(); }
    // The thread's result once it ended (the first failing code of the request, or 0).
    uint32_t result() const;

private:
    uint32_t serve();
    // A new server instance in pipe_: 0 or the code.
    int32_t createInstance(bool firstInstance);
    // createInstance(false) until it succeeds (each failure logged, retryMs apart) or a stop:
    // false when stopped.
    bool createUntilStopped();
    // After a wait for a client ended with code: the connection, its successor instance made
    // first; null with lastAcceptCode_ set otherwise.
    std::unique_ptr<IpcNamedPipeEndpoint> handOn(int32_t code, bool successor = true);
    std::string pipeNameProperty() const;

    IpcTimeouts timeouts_;
    std::atomic<bool> closed_;
    std::atomic<bool> started_;
    IpcOverlappedNamedPipe pipe_;
    RunnableMethod<IpcNamedPipeEndpoint> runnable_;
    std::unique_ptr<Thread> thread_;
    IpcEndpoints* owner_;
    int32_t lastAcceptCode_;
    // Listening: the endpoint the next connection is handed to, made ahead of it.
    std::unique_ptr<IpcNamedPipeEndpoint> spare_;
};
