#include "core/ipc/LocalPipeNames.h"

#include "export/common/PropertyText.h"

namespace LocalPipeNames {

bool isLocalPipeName(const std::string& name) {
    if (name.empty() || name.size() > kMaxPipeName) return false;
    // The system normalises '/' to '\', resolves "." and ".." and reads ':' as a device or
    // drive: any of them could carry the open out of the pipe namespace.
    for (const char c : name) {
        if (c == '/' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
    }
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = name.find('\\', begin);
        const std::string part = name.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        if (part.empty() || part == "." || part == "..") return false;
        if (end == std::string::npos) return true;
        begin = end + 1;
    }
}

bool namesLocalPipe(const std::string& endpointText) {
    std::string pipe;
    std::string host;
    FindElement(endpointText, kPipeName, pipe);
    FindElement(endpointText, kHostName, host);
    return isLocalPipeName(pipe) && isThisComputer(host);
}

}  // namespace LocalPipeNames
