#pragma once
// The alert registrations. A client states the alerts it wants as a 32-bit mask; the printer
// switches them per class with five registration packets. Each class owns some mask bits
// (AffectedBy tells whether a mask change touches them) and writes its packet bits from a mask
// (ApplyMask clears the bytes it owns, then sets the bits of the mask). Built from a property
// text, a registration applies its "NewAlertMask" (0 if absent). DecodeReply returns 1 (nothing
// to decode); a registration reply is recognised by IsReplyTo.
//
// The alert slots follow the NpaCommand slots: 25 AffectedBy, 26 ApplyMask, 27 ApplyText.
#include "interpreters/npa/NpaCommand.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

class PrinterAlertCommand : public NpaCommand {
public:
    ~PrinterAlertCommand() override;

    // True when one of the class's own mask bits differs between the two masks.
    virtual bool AffectedBy(uint32_t currentMask, uint32_t newMask) const = 0;
    virtual void ApplyMask(uint32_t mask) = 0;
    // Takes further properties from the request text; only the language-id class reads any.
    virtual void ApplyText(const std::string& text);

    // The mask bit with this number.
    static constexpr uint32_t Bit(unsigned n) { return uint32_t(1) << n; }

    // Mask bit maskBit sets value in packet byte offset.
    struct BitMapping {
        unsigned maskBit;
        uint32_t offset;
        uint8_t value;
    };

protected:
    PrinterAlertCommand(const uint8_t* packet, uint32_t size, const char* name);
    // Clears the owned bytes, then sets the mapped bits that mask holds.
    void WriteMaskBits(uint32_t mask, const uint32_t* ownedBytes, std::size_t ownedCount, const BitMapping* mappings,
                       std::size_t mappingCount);
    // The mask bits named in mappings.
    static std::list<uint32_t> MaskBits(const BitMapping* mappings, std::size_t count);
    // The "NewAlertMask" of text, 0 when absent.
    static uint32_t NewAlertMask(const std::string& text);
    static bool AnyBitDiffers(const std::list<uint32_t>& bits, uint32_t currentMask, uint32_t newMask);
    // Writes value into packet byte offset (ignored when the packet does not reach it).
    void SetByte(uint32_t offset, uint8_t value);
    uint8_t ByteAt(uint32_t offset) const;
};

// "registerForDeviceStatusAlerts": mask bits 0-9, packet bytes 6-8.
class RegisterForDeviceStatusAlertsNpaCommand : public PrinterAlertCommand {
public:
    static constexpr const char* kCommandName = "registerForDeviceStatusAlerts";
    explicit RegisterForDeviceStatusAlertsNpaCommand(const std::string& text = std::string());
    ~RegisterForDeviceStatusAlertsNpaCommand() override;
    Command* Clone(const std::string& text) const override;
    bool AffectedBy(uint32_t currentMask, uint32_t newMask) const override;
    void ApplyMask(uint32_t mask) override;

private:
    std::list<uint32_t> ownBits_;
};

// "registerForQuorvelExtensionAlerts": mask bits 10-18, packet byte 6.
class RegisterForQuorvelExtensionAlertsNpaCommand : public PrinterAlertCommand {
public:
    static constexpr const char* kCommandName = "registerForQuorvelExtensionAlerts";
    explicit RegisterForQuorvelExtensionAlertsNpaCommand(const std::string& text = std::string());
    ~RegisterForQuorvelExtensionAlertsNpaCommand() override;
    Command* Clone(const std::string& text) const override;
    bool AffectedBy(uint32_t currentMask, uint32_t newMask) const override;
    void ApplyMask(uint32_t mask) override;

private:
    std::list<uint32_t> ownBits_;
};

// "registerForPanelAlerts": mask bit 19, packet byte 7.
class RegisterForPanelAlertsNpaCommand : public PrinterAlertCommand {
public:
    static constexpr const char* kCommandName = "registerForPanelAlerts";
    explicit RegisterForPanelAlertsNpaCommand(const std::string& text = std::string());
    ~RegisterForPanelAlertsNpaCommand() override;
    Command* Clone(const std::string& text) const override;
    bool AffectedBy(uint32_t currentMask, uint32_t newMask) const override;
    void ApplyMask(uint32_t mask) override;

private:
    std::list<uint32_t> ownBits_;
};

// "registerForQuorvelExtendedAlerts": mask bit 20, packet byte 8.
class RegisterForQuorvelExtendedAlertsNpaCommand : public PrinterAlertCommand {
public:
    static constexpr const char* kCommandName = "registerForQuorvelExtendedAlerts";
    explicit RegisterForQuorvelExtendedAlertsNpaCommand(const std::string& text = std::string());
    ~RegisterForQuorvelExtendedAlertsNpaCommand() override;
    Command* Clone(const std::string& text) const override;
    bool AffectedBy(uint32_t currentMask, uint32_t newMask) const override;
    void ApplyMask(uint32_t mask) override;

private:
    std::list<uint32_t> ownBits_;
};

// "registerForQuorvelExtendedAlertsWithLanguageId": mask bits 21-25, packet bytes 9-10, and the
// language code of "LanguageId" in byte 17.
class RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand : public PrinterAlertCommand {
public:
    static constexpr const char* kCommandName = "registerForQuorvelExtendedAlertsWithLanguageId";
    explicit RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand(const std::string& text = std::string());
    ~RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand() override;
    Command* Clone(const std::string& text) const override;
    bool AffectedBy(uint32_t currentMask, uint32_t newMask) const override;
    void ApplyMask(uint32_t mask) override;
    // Byte 17 = the low 8 bits of "LanguageId" read as hexadecimal after its first x or X (so
    // "0x0409" gives 09); unchanged when the text has no LanguageId.
    void ApplyText(const std::string& text) override;

    // The code that ApplyText writes for a LanguageId value.
    static uint8_t LanguageCode(const std::string& languageId);

private:
    std::list<uint32_t> ownBits_;
};
