#include "core/usb/port/NpaModelCheck.h"

#include <cctype>

namespace {

// Models that answer NPA packets wrongly; matched anywhere in the upper-cased model text.
const char* const kNotNpaModels[] = {"K417", "K419", "K628", "K417", "K419"};

}  // namespace

NpaModelCheck::Result NpaModelCheck::check(const std::string& deviceId) {
    if (deviceId.empty()) return Result{Outcome::EmptyId, std::string()};
    const std::string key = "MODEL:";
    const size_t start = deviceId.find(key);
    if (start == std::string::npos) return Result{Outcome::NoModel, std::string()};
    const size_t from = start + key.size();
    const size_t end = deviceId.find(';', from);
    if (end == std::string::npos || end == from) return Result{Outcome::NoModel, std::string()};
    const std::string model = deviceId.substr(from, end - from);
    std::string upper = model;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* fragment : kNotNpaModels) {
        if (upper.find(fragment) != std::string::npos) return Result{Outcome::NotNpa, model};
    }
    return Result{Outcome::Npa, model};
}

bool NpaModelCheck::wrapping(const Result& result, bool current) {
    switch (result.outcome) {
    case Outcome::NotNpa: return false;
    case Outcome::Npa: return true;
    default: return current;
    }
}

std::string NpaModelCheck::logLine(const Result& result) {
    switch (result.outcome) {
    case Outcome::EmptyId:
        return "BcxServiceUsbPort::determineNpaWrapFrom1284String() 1284 string is empty";
    case Outcome::NoModel:
        return "BcxServiceUsbPort::determineNpaWrapFrom1284String() modelname not present";
    case Outcome::NotNpa:
        return "BcxServiceUsbPort::determineNpaWrapFrom1284String(): Model=" + result.model + " not NPA supported";
    default:
        return "BcxServiceUsbPort::determineNpaWrapFrom1284String(): Model=" + result.model;
    }
}
