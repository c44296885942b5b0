#include "core/ipc/PipeIdentity.h"

#include "runtime/UniqueHandle.h"

#include <sddl.h>

#include <cstdlib>
#include <vector>

namespace {

// One class of token information, asked for once into a buffer large enough for the common case
// (each ask is a system call, a round trip to the Wine server); a larger one is asked for again.
// The buffer holds DWORDs so that the SIDs inside are aligned.
bool tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what, std::vector<DWORD>& buffer) {
    constexpr DWORD kMostBytes = 64 * 1024;
    DWORD size = 0;
    if (GetTokenInformation(token, what, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &size))
        return true;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > kMostBytes) return false;
    buffer.assign(size / sizeof(DWORD) + 1, 0);
    return GetTokenInformation(token, what, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &size) !=
           FALSE;
}

// Whether the token holds Administrators as an enabled group: a filtered administrator token
// (the group for deny only) is an ordinary user here. The groups are asked for with one system
// call; a restricted token (a sandbox) also needs the group among its restricting SIDs, which
// CheckTokenMembership weighs (it is slow under Wine, which keeps no restricting SIDs anyway).
bool isAdministrator(HANDLE impersonationToken) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators))
        return false;
    std::vector<DWORD> buffer(512);
    bool member = false;
    if (tokenInformation(impersonationToken, TokenGroups, buffer)) {
        const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
        for (DWORD i = 0; i < groups->GroupCount && !member; ++i) {
            const DWORD attributes = groups->Groups[i].Attributes;
            member = (attributes & SE_GROUP_ENABLED) != 0 && (attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0 &&
                     EqualSid(groups->Groups[i].Sid, administrators);
        }
    }
    if (member && IsTokenRestricted(impersonationToken)) {
        BOOL confirmed = FALSE;
        member = CheckTokenMembership(impersonationToken, administrators, &confirmed) && confirmed;
    }
    FreeSid(administrators);
    return member;
}

}  // namespace

namespace PipeIdentity {

std::string userOf(HANDLE token) {
    // TOKEN_USER and the largest SID fit.
    std::vector<DWORD> buffer(64);
    if (!tokenInformation(token, TokenUser, buffer)) return std::string();
    char* text = nullptr;
    if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return std::string();
    std::string sid(text);
    LocalFree(text);
    return sid;
}

CallerIdentity client(HANDLE serverEnd) {
    CallerIdentity caller;
    ULONG pid = 0;
    if (GetNamedPipeClientProcessId(serverEnd, &pid)) caller.processId = pid;
    if (!ImpersonateNamedPipeClient(serverEnd)) return caller;
    HANDLE token = nullptr;
    const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
    // A thread left acting as a client would do everything after as that client: there is no
    // safe way on from here.
    if (!RevertToSelf()) std::abort();
    if (!opened) return caller;
    UniqueHandle owned(token);
    caller.userSid = userOf(token);
    caller.privileged = caller.known() && privileged(token, caller.userSid);
    return caller;
}

bool privileged(HANDLE token, const std::string& userSid) {
    return userSid == "S-1-5-18" || isAdministrator(token);
}

std::string serverUser(HANDLE clientEnd) {
    ULONG pid = 0;
    if (!GetNamedPipeServerProcessId(clientEnd, &pid)) return std::string();
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return std::string();
    HANDLE token = nullptr;
    if (!OpenProcessToken(process.get(), TOKEN_QUERY, &token)) return std::string();
    UniqueHandle owned(token);
    return userOf(token);
}

}  // namespace PipeIdentity
