#include "runtime/Security.h"

#include "runtime/Exception.h"
#include "runtime/OsVersion.h"

#include <aclapi.h>

Security::Security() : attributes_(), ntFamily_(OsVersion::instance().isNtFamily()) {
    attributes_.nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes_.lpSecurityDescriptor = nullptr;
    attributes_.bInheritHandle = TRUE;
}

Security::~Security() = default;

SECURITY_ATTRIBUTES* Security::attributes() { return &attributes_; }

void Security::applyToKernelObject(HANDLE object) {
    // Without a descriptor there is nothing to set; passing null would clear nothing and fail.
    if (!ntFamily_ || descriptor() == nullptr) return;
    if (!SetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, descriptor()))
        TOLVEX_THROW_WIN32("Security::doApply() SetKernelObjectSecurity failed ", GetLastError());
}

void Security::applyToRegistryKey(HKEY key) {
    if (!ntFamily_ || descriptor() == nullptr) return;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor(), &present, &dacl, &defaulted))
        TOLVEX_THROW_WIN32("Security::doApply() GetSecurityDescriptorDacl failed ", GetLastError());
    const DWORD result = SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                         nullptr, dacl, nullptr);
    // SetSecurityInfo returns its error instead of setting the thread's last error.
    if (result != ERROR_SUCCESS) TOLVEX_THROW_WIN32("Security::doApply() SetSecurityInfo failed ", result);
}

SecurityEveryone::SecurityEveryone(bool containerInherit) : descriptor_(), acl_(), everyone_(nullptr) {
    if (!ntFamily_) return;
    static const char* const failed = "SecurityEveryone::SecurityEveryone() InitializeSecurityDescriptor failed";
    setSecurityIdEveryone();
    if (!IsValidSid(everyone_)) {
        const DWORD code = GetLastError();
        FreeSid(everyone_);
        TOLVEX_THROW_WIN32("SecurityEveryone::SecurityEveryone() IsValidSid failed", code);
    }
    // From here on the destructor would not run on a throw, so the SID is freed by hand.
    auto fail = [this](DWORD code) {
        FreeSid(everyone_);
        everyone_ = nullptr;
        TOLVEX_THROW_WIN32(failed, code);
    };
    PACL acl = reinterpret_cast<PACL>(acl_);
    const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(everyone_);
    if (aclSize > sizeof acl_) fail(ERROR_INSUFFICIENT_BUFFER);
    if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)) fail(GetLastError());
    if (!InitializeAcl(acl, aclSize, ACL_REVISION)) fail(GetLastError());
    if (!AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, everyone_)) fail(GetLastError());
    if (containerInherit) {
        void* ace = nullptr;
        if (!GetAce(acl, 0, &ace)) fail(GetLastError());
        static_cast<ACE_HEADER*>(ace)->AceFlags |= CONTAINER_INHERIT_ACE;
    }
    if (!SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) fail(GetLastError());
    attributes_.lpSecurityDescriptor = &descriptor_;
}

SecurityEveryone::~SecurityEveryone() {
    if (everyone_ != nullptr) FreeSid(everyone_);
}

void SecurityEveryone::setSecurityIdEveryone() {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone_))
        TOLVEX_THROW_WIN32("SecurityEveryone::setSecurityIdEveryone() AllocateAndInitializeSid failed", GetLastError());
}
