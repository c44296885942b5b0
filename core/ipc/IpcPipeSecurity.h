#pragma once
// The descriptor of the service pipe: SYSTEM and Administrators get GENERIC_ALL; Everyone gets
// reading and writing data only (what every client opens the pipe with), so never
// FILE_CREATE_PIPE_INSTANCE, WRITE_DAC, WRITE_OWNER or DELETE. The handle is not inheritable.
// The record points into the object: keep it alive until CreateNamedPipeA has returned.
// Failures raise Win32Exception.
#include "runtime/Win32.h"

#include <vector>

class IpcPipeSecurity {
public:
    // Not GENERIC_WRITE: it brings FILE_APPEND_DATA, which on a pipe is FILE_CREATE_PIPE_INSTANCE
    // and would let any user serve instances of our pipe and take other clients' requests.
    static constexpr DWORD kEveryoneAccess = FILE_GENERIC_READ | FILE_WRITE_DATA;
    static constexpr DWORD kOwnerAccess = GENERIC_ALL;

    IpcPipeSecurity();
    ~IpcPipeSecurity();
    IpcPipeSecurity(const IpcPipeSecurity&) = delete;
    IpcPipeSecurity& operator=(const IpcPipeSecurity&) = delete;

    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

private:
    void freeSids();

    SECURITY_ATTRIBUTES attributes_;
    SECURITY_DESCRIPTOR descriptor_;
    std::vector<DWORD> acl_;  // DWORD elements keep the ACL aligned
    PSID system_;
    PSID administrators_;
    PSID everyone_;
};
