#include "tools/bench/BenchOptions.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

bool toNumber(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

const std::vector<std::string>& BenchOptions::measurementNames() {
    static const std::vector<std::string> names = {"exchange", "throughput", "burst", "fanout", "idle", "breakdown", "stop"};
    return names;
}

bool BenchOptions::wants(const std::string& measurement) const {
    return measurements.empty() || measurements.count(measurement) != 0;
}

bool BenchOptions::parse(const std::vector<std::string>& args, BenchOptions& options, std::string& error) {
    BenchOptions o;
    struct Number {
        const char* flag;
        uint32_t* value;
        bool mayBeZero;
    };
    const Number numbers[] = {
        {"--exchanges", &o.exchanges, false}, {"--block", &o.block, false},     {"--throughput-ms", &o.throughputMs, false},
        {"--alerts", &o.alerts, false},       {"--idle-ms", &o.idleMs, false}, {"--service-unix-pid", &o.serviceUnixPid, true},
        {"--service-wait-ms", &o.serviceWaitMs, false},
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto& names = measurementNames();
        if (std::find(names.begin(), names.end(), a) != names.end()) {
            o.measurements.insert(a);
            continue;
        }
        if (a == "--rows") {
            o.rows = true;
            continue;
        }
        if (a == "--quick") {
            // A few iterations of everything: enough to see that every path works.
            o.exchanges = 40;
            o.block = 10;
            o.throughputMs = 400;
            o.alerts = 4;
            o.idleMs = 500;
            continue;
        }
        std::string* text = a == "--prefix" ? &o.prefix : a == "--pipe" ? &o.pipe : a == "--device-base" ? &o.deviceBase : nullptr;
        const Number* number = nullptr;
        for (const Number& n : numbers) {
            if (a == n.flag) number = &n;
        }
        if (text == nullptr && number == nullptr) {
            error = "unknown argument '" + a + "'";
            return false;
        }
        if (i + 1 >= args.size()) {
            error = a + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        if (text != nullptr) {
            if (value.empty()) {
                error = a + " needs a value";
                return false;
            }
            *text = value;
            continue;
        }
        if (!toNumber(value, *number->value) || (*number->value == 0 && !number->mayBeZero)) {
            error = a + " needs a positive number, not '" + value + "'";
            return false;
        }
    }
    if (o.block > o.exchanges) o.block = o.exchanges;
    options = o;
    return true;
}
