#include "runtime/Exception.h"
#include "runtime/Mutex.h"
#include "runtime/Security.h"
#include "runtime/UniqueHandle.h"
#include "TestNames.h"

#include <aclapi.h>
#include <gtest/gtest.h>

namespace {
struct AceSeen {
    DWORD aceCount = 0;
    BYTE type = 0xFF;
    BYTE flags = 0xFF;
    ACCESS_MASK mask = 0;
    bool everyone = false;
};

// Reads the first ACE of a DACL through the system's own accessors.
AceSeen readDacl(PACL dacl) {
    AceSeen seen;
    ACL_SIZE_INFORMATION size = {};
    EXPECT_TRUE(GetAclInformation(dacl, &size, sizeof size, AclSizeInformation));
    seen.aceCount = size.AceCount;
    void* ace = nullptr;
    if (size.AceCount == 0 || !GetAce(dacl, 0, &ace)) return seen;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    seen.type = allowed->Header.AceType;
    seen.flags = allowed->Header.AceFlags;
    seen.mask = allowed->Mask;
    PSID everyone = nullptr;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    EXPECT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    seen.everyone = EqualSid(&allowed->SidStart, everyone) != FALSE;
    FreeSid(everyone);
    return seen;
}

AceSeen readDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = TRUE;
    PACL dacl = nullptr;
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));
    EXPECT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    if (!present || dacl == nullptr) return AceSeen();
    return readDacl(dacl);
}

// The DACL the system keeps for an object, as GetSecurityInfo returns it.
AceSeen readObjectDacl(HANDLE object, SE_OBJECT_TYPE type) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD rc = GetSecurityInfo(object, type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                     nullptr, &descriptor);
    EXPECT_EQ(rc, 0u);
    AceSeen seen;
    if (rc == 0 && dacl != nullptr) seen = readDacl(dacl);
    LocalFree(descriptor);
    return seen;
}
}  // namespace

TEST(SecurityEveryone, DescriptorGrantsGenericAllToEveryone) {
    const struct {
        bool containerInherit;
        BYTE flags;
    } cases[] = {{false, 0}, {true, CONTAINER_INHERIT_ACE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.containerInherit ? "container inherit" : "no inherit");
        SecurityEveryone security(c.containerInherit);
        SECURITY_ATTRIBUTES* sa = security.attributes();
        ASSERT_NE(sa, nullptr);
        EXPECT_EQ(sa->nLength, sizeof(SECURITY_ATTRIBUTES));
        EXPECT_TRUE(sa->bInheritHandle);
        ASSERT_NE(sa->lpSecurityDescriptor, nullptr);
        const AceSeen seen = readDescriptor(sa->lpSecurityDescriptor);
        EXPECT_EQ(seen.aceCount, 1u);
        EXPECT_EQ(seen.type, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(seen.flags, c.flags);
        EXPECT_EQ(seen.mask, static_cast<ACCESS_MASK>(GENERIC_ALL));
        EXPECT_TRUE(seen.everyone);
    }
}

TEST(Security, BaseCarriesNoDescriptorAndApplyIsHarmless) {
    Security none;
    EXPECT_EQ(none.attributes()->lpSecurityDescriptor, nullptr);
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    EXPECT_NO_THROW(none.applyToKernelObject(event.get()));
}

TEST(SecurityEveryone, ObjectsCreatedOrAppliedCarryTheEveryoneAce) {
    // Created with the attributes: the system maps GENERIC_ALL to the object's own rights, so
    // only the trustee and the ACE count are compared.
    Mutex mutex(false, uniqueTestName("sec"), true);
    AceSeen seen = readObjectDacl(mutex.handle(), SE_KERNEL_OBJECT);
    EXPECT_EQ(seen.aceCount, 1u);
    EXPECT_TRUE(seen.everyone);

    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    SecurityEveryone security(false);
    security.applyToKernelObject(event.get());
    seen = readObjectDacl(event.get(), SE_KERNEL_OBJECT);
    EXPECT_EQ(seen.aceCount, 1u);
    EXPECT_TRUE(seen.everyone);
}

TEST(SecurityEveryone, AppliesToARegistryKey) {
    const std::string path = "Software\\" + uniqueTestName("sec");
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS);
    SecurityEveryone security(true);
    EXPECT_NO_THROW(security.applyToRegistryKey(key.get()));
    const AceSeen seen = readObjectDacl(key.get(), SE_REGISTRY_KEY);
    EXPECT_EQ(seen.aceCount, 1u);
    EXPECT_TRUE(seen.everyone);
    EXPECT_EQ(seen.flags & CONTAINER_INHERIT_ACE, CONTAINER_INHERIT_ACE);
    key.reset();
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str()), ERROR_SUCCESS);
}

TEST(Security, ApplyFailureRaisesWithTheSystemCode) {
    SecurityEveryone security(false);
    try {
        security.applyToKernelObject(nullptr);
        FAIL() << "no exception";
    } catch (const Win32Exception& e) {
        EXPECT_EQ(e.message(), "Security::doApply() SetKernelObjectSecurity failed ");
        EXPECT_NE(e.code(), 0);
    }
}
