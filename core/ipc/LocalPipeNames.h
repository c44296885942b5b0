#pragma once
// Which pipes an alert callback may open: a pipe on this computer whose name stays inside
// "\\.\pipe\". Judged when a client registers (so that it gets a clear code) and again before
// every callback opens anything.
#include <cstddef>
#include <string>

namespace LocalPipeNames {

// "\\.\pipe\" plus the name stays within the system's 256 characters.
constexpr std::size_t kMaxPipeName = 256 - 9;
// The elements of an endpoint text that name the pipe and its computer.
constexpr const char* kPipeName = "PIPENAME";
constexpr const char* kHostName = "HOSTNAME";

// Not empty, within kMaxPipeName, no '/', ':' or control character, and no empty, "." or ".."
// component (which also excludes a leading '\').
bool isLocalPipeName(const std::string& name);
// Empty, "." or this computer's name, compared without regard to case.
bool isThisComputer(const std::string& host);
// The endpoint text's PIPENAME is a local pipe name and its HOSTNAME (if any) this computer.
bool namesLocalPipe(const std::string& endpointText);

}  // namespace LocalPipeNames
