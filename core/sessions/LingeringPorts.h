#pragma once
// Ports whose read loop did not end when asked (Port::readerRunning() after killReadThread): a
// session that goes hands its port here instead of destroying it, and the port stays alive, its
// pipes closed, until the loop has ended on its own; then it is destroyed. keep() and
// reapEnded() destroy the ports whose loop has ended by then; drain() waits (bounded) for the
// rest. Ports are destroyed outside the lock. Any thread. Portable.
#include "core/usb/port/Port.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class LingeringPorts {
public:
    // The process's list.
    static LingeringPorts& instance();

    // Takes the port; destroyed at once when its loop has ended already.
    void keep(std::unique_ptr<Port> port);
    // Destroys the ports whose loop has ended; the number still kept.
    size_t reapEnded();
    // Waits up to timeoutMs in all for the loops still running; true when none is left.
    bool drain(uint32_t timeoutMs);
    size_t size() const;
    // Whether a port of that name (any case) is kept for a loop still running; destroys the
    // ended ones first.
    bool holds(const std::string& portName);

private:
    mutable std::mutex lock_;
    // Shared so that drain() keeps the port it waits on while another thread reaps the list.
    std::vector<std::shared_ptr<Port>> ports_;
};
