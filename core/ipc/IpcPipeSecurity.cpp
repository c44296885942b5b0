#include "core/ipc/IpcPipeSecurity.h"

#include "runtime/Exception.h"

IpcPipeSecurity::IpcPipeSecurity()
    : attributes_(), descriptor_(), system_(nullptr), administrators_(nullptr), everyone_(nullptr) {
    static const char* const failed = "IpcPipeSecurity::IpcPipeSecurity() failed";
    // The destructor does not run when the constructor throws, so the SIDs are freed here.
    auto fail = [this](DWORD code) {
        freeSids();
        TOLVEX_THROW_WIN32(failed, code);
    };
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    if (!AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system_) ||
        !AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators_) ||
        !AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone_))
        fail(GetLastError());
    const DWORD aceBase = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    const DWORD aclSize = sizeof(ACL) + 3 * aceBase + GetLengthSid(system_) + GetLengthSid(administrators_) +
                          GetLengthSid(everyone_);
    acl_.assign(aclSize / sizeof(DWORD) + 1, 0);
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, kOwnerAccess, system_) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, kOwnerAccess, administrators_) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, kEveryoneAccess, everyone_) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
        fail(GetLastError());
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    // A child process of the service has no business with the service pipe.
    attributes_.bInheritHandle = FALSE;
}

IpcPipeSecurity::~IpcPipeSecurity() { freeSids(); }

void IpcPipeSecurity::freeSids() {
    for (PSID* sid : {&system_, &administrators_, &everyone_}) {
        if (*sid != nullptr) FreeSid(*sid);
        *sid = nullptr;
    }
}
