#pragma once
// A Command whose bytes are one NPA packet: A5, a 16-bit big-endian length of what follows,
// flags, command code, data. Every test looks only at bytes inside the buffer; a byte beyond its
// end never matches, so malformed or short packets simply answer no. The NPA commands derive
// from it; the virtual slots are those of Command.
#include "export/common/Command.h"

#include <cstdint>
#include <string>

class NpaCommand : public Command {
public:
    static constexpr uint8_t StartByte = 0xA5;
    static constexpr uint8_t ReplyRequestedFlag = 0x10;
    static constexpr uint8_t ContinuedFlag = 0x20;
    static constexpr uint8_t Flag7 = 0x80;
    // Most bytes a packet can hold after its length field.
    static constexpr uint32_t MaxLength = 0xFFFF;

    NpaCommand();
    // Bytes from the text's "Data" property; command code 0.
    explicit NpaCommand(const std::string& text);
    // A copy of the packet's remaining bytes; command code = byte 4 (0 if there is none).
    explicit NpaCommand(const Data& packet);
    NpaCommand(const uint8_t* p, uint32_t n);
    ~NpaCommand() override;

    Command* Clone(const std::string& text) const override;
    // Does reply, read from the printer, answer this request (same command and sub-command, and
    // the further bytes that tell requests of one command apart)?
    bool IsReplyTo(const Data& reply) const override;
    // Flags bit 4 (reply requested).
    bool ExpectsReply() const override;
    // At least 4 bytes starting with A5.
    bool IsProtocolPacket() const override;
    // False for incomplete packets and for the requests the service keeps to itself (job start
    // and end, and the 9-byte E0 73 01 request).
    bool MaySendRaw() const override;
    bool IsFlag7Set(const Data& packet) const override;
    // Command code F0 or FF (an alert).
    bool IsControlPacket() const override;
    // Exactly A5 00 05 xx FF 80 00 00.
    bool IsAcknowledge(const Data& packet) const override;
    void SetReplyRequested(bool on) override;

    uint8_t CommandCode() const { return commandCode_; }
    // Header fields; 0 (and writes are ignored) when the buffer is too short to hold them.
    uint16_t Length() const;
    void SetLength(uint16_t length);
    uint8_t Flags() const;
    void SetFlags(uint8_t flags);

    // A protocol packet of exactly Length() + 3 bytes.
    bool IsWellFormed() const;
    bool IsContinued() const;
    // Well formed and not continued.
    bool IsComplete() const;
    // The data after the command byte (null if there is none), and its length: Length() - 2,
    // but never more than the buffer holds.
    const uint8_t* Payload() const;
    uint32_t PayloadLength() const;

    // Appends next's payload when next has this command code, adding its length and taking its
    // flags. Returns false and changes nothing for another command code or when the joined
    // length would not fit the 16-bit length field.
    bool Merge(const NpaCommand& next);

protected:
    uint8_t commandCode_;
};

// Takes the first NPA message from in's remaining bytes, joining continued packets, and appends it
// to out as one packet; consumed is the number of input bytes it used. in is not changed.
//   0    a packet was appended (consumed > 0);
//   234  more bytes are needed (consumed 0; call again with the same bytes and more);
//   1629 in does not start with a protocol packet (consumed 0).
// A continuation with another command code is consumed and dropped. A chain that cannot be
// joined further (the next piece is not an NPA packet, or the joined length would not fit 16
// bits) ends where it is: the packet joined so far is appended with its continued flag still
// set, and the rest is left for the next call, so that no byte is lost and no header lies.
uint32_t ReassembleNpaPacket(const Data& in, Data& out, int32_t& consumed);
