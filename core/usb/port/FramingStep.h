#pragma once
// Cuts the bytes of one read into packets: appends them to the storage buffer, cuts whole packets
// off its head with the packet manager of the interpreter that claims the buffer (the null
// manager hands everything over raw), and passes each on, except the 5-byte short packet (flags
// bit 6 clear, byte 4 equal to the channel byte), which is kept aside. Bytes of an unfinished
// packet, and a head of fewer than four bytes, stay in storage for the next read. Portable; runs on the port's read thread.
#include "core/usb/port/InterpreterLookup.h"
#include "export/common/Data.h"

#include <cstdint>
#include <string>

class FramingSink {
public:
    virtual ~FramingSink();
    // A packet for the observers; valid for the call only.
    virtual void deliverPacket(Data& packet) = 0;
    // A short packet the observers must not see.
    virtual void keepShortPacket(const Data& packet) = 0;
    virtual void log(const std::string& line);
    // False when nobody reads the lines: the step then skips building them (hex dumps of the
    // whole buffer after every packet cost far more than the framing itself).
    virtual bool logging() const;
};

class FramingStep {
public:
    // Fewer bytes than this at the head of the buffer wait for the next read: an interpreter
    // needs a packet's first four bytes (start, length, flags) to claim it.
    static constexpr uint32_t kMinimumJudgedBytes = 4;
    // More unframed bytes than this are dropped (and logged): the largest NPA message is about
    // 64 KiB, so a buffer this long can only be a device (or plug-in) that never finishes one,
    // and keeping it would grow the service's memory without end.
    static constexpr uint32_t kMaxPendingBytes = 1u << 20;

    static void run(Data& storage, const Data& readBytes, uint8_t channelByte, InterpreterLookup& lookup,
                    FramingSink& sink);
    static bool isShortPacket(const Data& packet, uint8_t channelByte);
    // Two lower-case hexadecimal digits per byte, no separators.
    static std::string hex(const Data& bytes);
};
