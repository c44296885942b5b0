#include "core/sessions/LingeringPorts.h"

#include <cctype>
#include <chrono>

LingeringPorts& LingeringPorts::instance() {
    // Never destroyed: a loop still running when the process ends would make the destructor of
    // its port wait for it without limit, and the process would never end. The system ends such
    // threads with the process.
    static LingeringPorts* ports = new LingeringPorts;
    return *ports;
}

void LingeringPorts::keep(std::unique_ptr<Port> port) {
    if (port == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        ports_.push_back(std::move(port));
    }
    reapEnded();
}

size_t LingeringPorts::reapEnded() {
    std::vector<std::shared_ptr<Port>> ended;
    size_t left = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto it = ports_.begin(); it != ports_.end();) {
            if ((*it)->readerRunning()) {
                ++it;
            } else {
                ended.push_back(std::move(*it));
                it = ports_.erase(it);
            }
        }
        left = ports_.size();
    }
    // A port's destructor closes its pipes and frees its thread: not under the lock.
    ended.clear();
    return left;
}

bool LingeringPorts::drain(uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::shared_ptr<Port> waiting;
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (const auto& port : ports_) {
                if (port->readerRunning()) {
                    waiting = port;
                    break;
                }
            }
        }
        if (waiting == nullptr) return reapEnded() == 0;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            reapEnded();
            return false;
        }
        // A reapEnded() elsewhere (a close) may take the port off the list once its loop has
        // ended, before this wait begins: the reference held here keeps it alive meanwhile.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        waiting->waitReaderEnded(static_cast<uint32_t>(left));
    }
}

bool LingeringPorts::holds(const std::string& portName) {
    const auto same = [&](const std::string& name) {
        if (name.size() != portName.size()) return false;
        for (size_t i = 0; i < name.size(); ++i) {
            if (std::toupper(static_cast<unsigned char>(name[i])) != std::toupper(static_cast<unsigned char>(portName[i])))
                return false;
        }
        return true;
    };
    reapEnded();
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& port : ports_) {
        if (same(port->portName()) && port->readerRunning()) return true;
    }
    return false;
}

size_t LingeringPorts::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return ports_.size();
}
