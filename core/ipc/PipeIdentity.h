#pragma once
// Who is at the other end of a pipe, read from the system, never from what the peer wrote.
// client(): the connected client of a server instance, by impersonating it for identification
// only (the thread reverts before returning); it needs the client to have written to the pipe.
// serverUser(): the user of the process that serves a pipe we opened as a client. Failures give
// an unknown identity (empty SID); nothing raises.
#include "core/ipc/CallerIdentity.h"
#include "runtime/Win32.h"

#include <string>

namespace PipeIdentity {

CallerIdentity client(HANDLE serverEnd);
std::string serverUser(HANDLE clientEnd);
// The textual user SID of a token opened for TOKEN_QUERY; empty on failure.
std::string userOf(HANDLE token);
// Whether a token of userSid (an impersonation token opened for TOKEN_QUERY) may act for
// everyone: LocalSystem, or Administrators enabled (not for deny only, and among the restricting
// SIDs of a restricted token).
bool privileged(HANDLE token, const std::string& userSid);

}  // namespace PipeIdentity
