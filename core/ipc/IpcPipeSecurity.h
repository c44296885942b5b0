#pragma once
// The descriptor of the service pipe: SYSTEM and Administrators get GENERIC_ALL, Everyone gets
// GENERIC_READ | GENERIC_WRITE (what every client opens the pipe with) and so never WRITE_DAC,
// WRITE_OWNER or DELETE. The handle is not inheritable. The record points into the object: keep
// it alive until CreateNamedPipeA has returned. Failures raise Win32Exception.
#include "runtime/Win32.h"

#include <vector>

class IpcPipeSecurity {
public:
    static constexpr DWORD kEveryoneAccess = GENERIC_READ | GENERIC_WRITE;
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
