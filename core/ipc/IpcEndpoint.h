#pragma once
// The base of the service's endpoints: a property text naming the pipe (PIPENAME, HOSTNAME) and
// the function mapper requests go to (not owned). The base does nothing: its operations return
// 1 (ERROR_INVALID_FUNCTION) and it counts as closed.
#include "core/ipc/FunctionMapper.h"
#include "core/ipc/LocalPipeNames.h"
#include "export/common/Data.h"

#include <cstdint>
#include <memory>
#include <string>

class IpcEndpoints;

class IpcEndpoint {
public:
    static constexpr int32_t kNotSupported = 1;
    static constexpr const char* kPipeName = LocalPipeNames::kPipeName;
    static constexpr const char* kHostName = LocalPipeNames::kHostName;

    IpcEndpoint();
    virtual ~IpcEndpoint();
    IpcEndpoint(const IpcEndpoint&) = delete;
    IpcEndpoint& operator=(const IpcEndpoint&) = delete;

    virtual int32_t disconnect();
    virtual int32_t send(const Data& message);
    virtual int32_t receive(Data& message);
    // A new endpoint for the next connection, or null.
    virtual std::unique_ptr<IpcEndpoint> accept();
    virtual int32_t start();
    // Any thread: makes pending and later I/O of the endpoint end.
    virtual void stop();
    virtual void setProperties(const std::string& text);
    virtual void setMapper(FunctionMapper* mapper);
    virtual std::string properties();
    virtual bool isClosed() const;
    // The list that reaps the endpoint; it is told when the endpoint has finished.
    virtual void setOwner(IpcEndpoints* owner);

protected:
    std::string properties_;
    FunctionMapper* mapper_;
};
