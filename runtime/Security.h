#pragma once
// Security attributes for the objects the service creates for other processes and users.
// Security carries no descriptor; SecurityEveryone carries one whose DACL grants GENERIC_ALL to
// Everyone. The record points into the object: keep the object alive until the system call that
// uses attributes() has returned. Failures raise Win32Exception.
#include "runtime/Win32.h"

class Security {
public:
    Security();
    virtual ~Security();
    Security(const Security&) = delete;
    Security& operator=(const Security&) = delete;

    // For CreateEventA, CreateMutexA, CreateNamedPipeA, RegCreateKeyExA (inherit handle is set).
    virtual SECURITY_ATTRIBUTES* attributes();
    // Sets the descriptor's DACL on an existing kernel object; nothing when there is no descriptor.
    virtual void applyToKernelObject(HANDLE object);
    // Sets the descriptor's DACL on an open registry key; nothing when there is no descriptor.
    virtual void applyToRegistryKey(HKEY key);

    // The descriptor the record points to, or null.
    PSECURITY_DESCRIPTOR descriptor() const { return attributes_.lpSecurityDescriptor; }

protected:
    SECURITY_ATTRIBUTES attributes_;
    bool ntFamily_;
};

class SecurityEveryone : public Security {
public:
    // containerInherit marks the single ACE CONTAINER_INHERIT_ACE (registry keys, pipes).
    explicit SecurityEveryone(bool containerInherit);
    ~SecurityEveryone() override;

private:
    void setSecurityIdEveryone();

    SECURITY_DESCRIPTOR descriptor_;
    alignas(DWORD) unsigned char acl_[64];
    PSID everyone_;
};
