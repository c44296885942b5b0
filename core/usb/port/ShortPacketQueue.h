#pragma once
// The 5-byte short packets the framing step keeps from observers. Nothing in the service reads
// them, so the queue keeps only the newest kCapacity packets: a printer that sends them forever
// must not grow the service's memory. Portable; any thread.
#include "export/common/Data.h"

#include <cstdint>
#include <deque>
#include <mutex>

class ShortPacketQueue {
public:
    static constexpr size_t kCapacity = 64;

    // Appends a copy; drops the oldest packet when full.
    void push(const Data& packet);
    size_t size() const;
    // Packets pushed since construction, including dropped ones.
    uint64_t total() const;
    // The oldest kept packet; false when empty.
    bool pop(Data& packet);

private:
    mutable std::mutex lock_;
    std::deque<Data> packets_;
    uint64_t total_ = 0;
};
