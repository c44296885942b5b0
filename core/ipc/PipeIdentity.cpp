#include "core/ipc/PipeIdentity.h"

#include "runtime/UniqueHandle.h"

#include <sddl.h>

#include <cstdlib>
#include <vector>

namespace {

bool isAdministrator(HANDLE impersonationToken) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators))
        return false;
    // Counts only an enabled group: a filtered administrator token is an ordinary user here.
    BOOL member = FALSE;
    const BOOL ok = CheckTokenMembership(impersonationToken, administrators, &member);
    FreeSid(administrators);
    return ok && member;
}

}  // namespace

namespace PipeIdentity {

std::string userOf(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0 || size > 4096) return std::string();
    std::vector<DWORD> buffer(size / sizeof(DWORD) + 1);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return std::string();
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
    caller.privileged = caller.userSid == "S-1-5-18" || (caller.known() && isAdministrator(token));
    return caller;
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
