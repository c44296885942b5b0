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
    // Waits (until stop) for a client on the current instance. On success the instance's handle
    // goes to the returned endpoint and the next instance is created before returning, so the
    // name always has a listening instance of ours; when that fails, hasInstance() is false and
    // the caller retries. Null on failure or stop; lastAcceptCode() tells which.
    std::unique_ptr<IpcNamedPipeEndpoint> acceptConnection();
    std::unique_ptr<IpcEndpoint> accept() override;
    int32_t lastAcceptCode() const { return lastAcceptCode_; }

    int32_t start() override;
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
    // The callback: 0 or the client's return code; kNotLocalPipe, 1460 when the bound ran out,
    // 1359 when the pipe could not be used or the reply is not an answer to the callback.
    int32_t sendCallback(const std::string& text, const uint8_t* bytes, uint32_t length);

    // The pipe handle (still owned), for inspection.
    HANDLE pipeHandle() const { return pipe_.handle(); }
    // The thread's result once it ended (the first failing code of the request, or 0).
    uint32_t result() const;

private:
    uint32_t serve();
    std::string pipeNameProperty() const;

    IpcTimeouts timeouts_;
    std::atomic<bool> closed_;
    std::atomic<bool> started_;
    IpcOverlappedNamedPipe pipe_;
    RunnableMethod<IpcNamedPipeEndpoint> runnable_;
    std::unique_ptr<Thread> thread_;
    IpcEndpoints* owner_;
    int32_t lastAcceptCode_;
};
