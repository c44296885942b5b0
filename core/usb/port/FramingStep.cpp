#include "core/usb/port/FramingStep.h"

FramingSink::~FramingSink() = default;
void FramingSink::log(const std::string&) {}
bool FramingSink::logging() const { return true; }

std::string FramingStep::hex(const Data& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    const uint8_t* p = bytes.Bytes();
    text.reserve(2 * bytes.Size());
    for (uint32_t i = 0; i < bytes.Size(); ++i) {
        text.push_back(digits[p[i] >> 4]);
        text.push_back(digits[p[i] & 0x0F]);
    }
    return text;
}

bool FramingStep::isShortPacket(const Data& packet, uint8_t channelByte) {
    if (packet.Size() != 5) return false;
    const uint8_t* p = packet.Bytes();
    return (p[3] & 0x40) == 0 && p[4] == channelByte;
}

void FramingStep::run(Data& storage, const Data& readBytes, uint8_t channelByte, InterpreterLookup& lookup,
                      FramingSink& sink) {
    // The switch is asked once per read, not once per line.
    const bool logging = sink.logging();
    if (logging) {
        sink.log("BcxServiceUsbPort::read() bytesRead=" + std::to_string(readBytes.Size()) + " data=" + hex(readBytes));
        sink.log("Current storage buffer: " + hex(storage));
    }
    storage.Append(readBytes);
    // A read that ends one to three bytes into a packet leaves a head no interpreter can judge
    // yet; handed over raw, it and the rest of its packet would both be lost as garbage. Such a
    // head waits for the next read, which either completes a packet or shows it is not one.
    if (storage.Size() < kMinimumJudgedBytes) {
        if (logging) sink.log("storage buffer after append: " + hex(storage));
        return;
    }
    // One manager serves the whole step: the buffer's head decides who owns the stream now.
    PacketManager* manager = lookup.getPacketManager(storage);
    Data packet;
    if (logging) sink.log("storage buffer after append: " + hex(storage));
    while (storage.Size() != 0) {
        packet.Clear();
        int32_t consumed = 0;
        if (manager->Unwrap(storage, packet, consumed) != 0) break;
        // A manager that claims a packet but consumes nothing, or more than there is, would spin
        // or read past the buffer: leave the bytes for the next read instead.
        if (consumed <= 0 || static_cast<uint32_t>(consumed) > storage.Size()) break;
        storage.Consume(static_cast<uint32_t>(consumed), true);
        if (logging) sink.log("storage buffer after consume: " + hex(storage));
        if (isShortPacket(packet, channelByte)) {
            sink.keepShortPacket(packet);
            manager->Reset(packet);
        } else {
            sink.deliverPacket(packet);
        }
    }
    if (storage.Size() > kMaxPendingBytes) {
        sink.log("storage buffer dropped: " + std::to_string(storage.Size()) + " bytes without a whole packet");
        storage.Clear();
    }
}
