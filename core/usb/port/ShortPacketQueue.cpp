#include "core/usb/port/ShortPacketQueue.h"

void ShortPacketQueue::push(const Data& packet) {
    std::lock_guard<std::mutex> guard(lock_);
    if (packets_.size() >= kCapacity) packets_.pop_front();
    packets_.push_back(packet);
    ++total_;
}

size_t ShortPacketQueue::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return packets_.size();
}

uint64_t ShortPacketQueue::total() const {
    std::lock_guard<std::mutex> guard(lock_);
    return total_;
}

bool ShortPacketQueue::pop(Data& packet) {
    std::lock_guard<std::mutex> guard(lock_);
    if (packets_.empty()) return false;
    packet = packets_.front();
    packets_.pop_front();
    return true;
}
