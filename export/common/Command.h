#pragma once
// One protocol request: its packet bytes (the Data part), the name its prototype is registered
// under, and the result text a reply is decoded into. Commands handed out by a manager belong to
// the module that made them and go back through that manager's Destroy.
//
// Binary interface: the service calls plug-in commands (ours and other makers') only through this
// virtual table and the inline field readers, so fields and virtual operations keep exactly this
// order and these signatures, continuing the slots of Data.
#include "export/common/Data.h"

#include <string>

class Command : public Data {
public:
    Command();
    // The bytes are the text's "Data" ByteArray property; none if it is absent.
    explicit Command(const std::string& text);
    // A copy of the packet's remaining bytes, status and count.
    explicit Command(const Data& packet);
    Command(const uint8_t* p, uint32_t n);
    ~Command() override;

    // True when other's remaining bytes equal this command's remaining bytes.
    virtual bool Equals(const Data& other) const;                 // slot 12
    virtual bool Differs(const Data& other) const;                // slot 13
    // Prototype factory: a new object of the same class built from the property text.
    virtual Command* Clone(const std::string& text) const;        // slot 14
    virtual bool IsReplyTo(const Data& reply) const;              // slot 15
    // Decodes reply into the result text; 0, or a Windows error code (1: nothing decoded).
    virtual uint32_t DecodeReply(const Data& reply);              // slot 16
    // Kept only to hold the slot; returns 1 everywhere.
    virtual uint32_t Reserved();                                  // slot 17
    virtual bool ExpectsReply() const;                            // slot 18
    virtual bool IsProtocolPacket() const;                        // slot 19
    virtual bool MaySendRaw() const;                              // slot 20
    virtual bool IsFlag7Set(const Data& packet) const;            // slot 21
    virtual bool IsControlPacket() const;                         // slot 22
    virtual bool IsAcknowledge(const Data& packet) const;         // slot 23
    virtual void SetReplyRequested(bool on);                      // slot 24

    const std::string& ResultText() const { return resultText_; }
    const std::string& Name() const { return name_; }

protected:
    std::string resultText_;
    std::string name_;
};

// The command of an unknown request: no bytes, every predicate false, DecodeReply 1.
class NullCommand : public Command {
public:
    NullCommand() = default;
    ~NullCommand() override;
    Command* Clone(const std::string& text) const override;
};
