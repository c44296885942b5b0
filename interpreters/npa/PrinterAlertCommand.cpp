#include "interpreters/npa/PrinterAlertCommand.h"

#include "export/common/PropertyAccessor.h"

#include <iterator>

namespace {

using BitMapping = PrinterAlertCommand::BitMapping;

constexpr uint8_t kDeviceStatusTemplate[] = {0xA5, 0x00, 0x06, 0x50, 0x03, 0x03, 0x00, 0x00, 0x00};
constexpr uint32_t kDeviceStatusBytes[] = {6, 7, 8};
constexpr BitMapping kDeviceStatusBits[] = {
    {8, 6, 0x40}, {9, 6, 0x80},                              // byte 6
    {3, 7, 0x01}, {2, 7, 0x02}, {1, 7, 0x04}, {0, 7, 0x08},  // byte 7
    {7, 8, 0x01}, {5, 8, 0x02}, {6, 8, 0x04}, {4, 8, 0x08},  // byte 8
};

constexpr uint8_t kExtensionTemplate[] = {0xA5, 0x00, 0x04, 0x50, 0xE0, 0x03, 0x00};
constexpr uint32_t kExtensionBytes[] = {6};
// Bits 17 and 18 share the top bit of the byte.
constexpr BitMapping kExtensionBits[] = {
    {10, 6, 0x01}, {11, 6, 0x02}, {12, 6, 0x04}, {13, 6, 0x08}, {14, 6, 0x10},
    {15, 6, 0x20}, {16, 6, 0x40}, {17, 6, 0x80}, {18, 6, 0x80},
};

constexpr uint8_t kPanelTemplate[] = {0xA5, 0x00, 0x05, 0x50, 0xE0, 0xE1, 0x03, 0x00};
constexpr uint32_t kPanelBytes[] = {7};
constexpr BitMapping kPanelBits[] = {{19, 7, 0x01}};

constexpr uint8_t kExtendedTemplate[] = {0xA5, 0x00, 0x06, 0x50, 0xE0, 0x73, 0x01, 0x01, 0x00};
constexpr uint32_t kExtendedBytes[] = {8};
constexpr BitMapping kExtendedBits[] = {{20, 8, 0x10}};

constexpr uint8_t kLanguageIdTemplate[] = {0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x73, 0x07, 0x08, 0x00,
                                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
constexpr uint32_t kLanguageIdBytes[] = {9, 10};
constexpr BitMapping kLanguageIdBits[] = {
    {21, 9, 0x01}, {25, 9, 0x10},                    // byte 9
    {22, 10, 0x01}, {23, 10, 0x02}, {24, 10, 0x04},  // byte 10
};
constexpr uint32_t kLanguageCodeOffset = 17;

uint32_t HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint32_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<uint32_t>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<uint32_t>(c - 'A' + 10);
    }
    return 0;
}

}  // namespace

PrinterAlertCommand::PrinterAlertCommand(const uint8_t* packet, uint32_t size, const char* name)
    : NpaCommand(packet, size) {
    name_ = name;
}

PrinterAlertCommand::~PrinterAlertCommand() = default;

void PrinterAlertCommand::ApplyText(const std::string&) {}

uint32_t PrinterAlertCommand::NewAlertMask(const std::string& text) {
    uint32_t mask = 0;
    PropertyAccessor().GetLong(text, PropertyAccessor::NewAlertMask, mask);
    return mask;
}

bool PrinterAlertCommand::AnyBitDiffers(const std::list<uint32_t>& bits, uint32_t currentMask, uint32_t newMask) {
    for (const uint32_t bit : bits) {
        if ((currentMask & bit) != (newMask & bit)) {
            return true;
        }
    }
    return false;
}

std::list<uint32_t> PrinterAlertCommand::MaskBits(const BitMapping* mappings, std::size_t count) {
    std::list<uint32_t> bits;
    for (std::size_t i = 0; i < count; ++i) {
        bits.push_back(Bit(mappings[i].maskBit));
    }
    return bits;
}

void PrinterAlertCommand::WriteMaskBits(uint32_t mask, const uint32_t* ownedBytes, std::size_t ownedCount,
                                        const BitMapping* mappings, std::size_t mappingCount) {
    // The owned bytes are cleared first, so that bits that went off in the mask go off in the
    // packet as well.
    for (std::size_t i = 0; i < ownedCount; ++i) {
        SetByte(ownedBytes[i], 0);
    }
    for (std::size_t i = 0; i < mappingCount; ++i) {
        const BitMapping& m = mappings[i];
        if ((mask & Bit(m.maskBit)) != 0) {
            SetByte(m.offset, static_cast<uint8_t>(ByteAt(m.offset) | m.value));
        }
    }
}

void PrinterAlertCommand::SetByte(uint32_t offset, uint8_t value) {
    if (offset < Size()) {
        MutableBytes()[offset] = value;
    }
}

uint8_t PrinterAlertCommand::ByteAt(uint32_t offset) const {
    return offset < Size() ? Bytes()[offset] : 0;
}

// ---------------------------------------------------------------------------------------------

RegisterForDeviceStatusAlertsNpaCommand::RegisterForDeviceStatusAlertsNpaCommand(const std::string& text)
    : PrinterAlertCommand(kDeviceStatusTemplate, sizeof kDeviceStatusTemplate, kCommandName),
      ownBits_(MaskBits(kDeviceStatusBits, std::size(kDeviceStatusBits))) {
    ApplyMask(NewAlertMask(text));
}
RegisterForDeviceStatusAlertsNpaCommand::~RegisterForDeviceStatusAlertsNpaCommand() = default;
Command* RegisterForDeviceStatusAlertsNpaCommand::Clone(const std::string& text) const {
    return new RegisterForDeviceStatusAlertsNpaCommand(text);
}
bool RegisterForDeviceStatusAlertsNpaCommand::AffectedBy(uint32_t currentMask, uint32_t newMask) const {
    return AnyBitDiffers(ownBits_, currentMask, newMask);
}
void RegisterForDeviceStatusAlertsNpaCommand::ApplyMask(uint32_t mask) {
    WriteMaskBits(mask, kDeviceStatusBytes, std::size(kDeviceStatusBytes), kDeviceStatusBits,
                  std::size(kDeviceStatusBits));
}

RegisterForQuorvelExtensionAlertsNpaCommand::RegisterForQuorvelExtensionAlertsNpaCommand(const std::string& text)
    : PrinterAlertCommand(kExtensionTemplate, sizeof kExtensionTemplate, kCommandName),
      ownBits_(MaskBits(kExtensionBits, std::size(kExtensionBits))) {
    ApplyMask(NewAlertMask(text));
}
RegisterForQuorvelExtensionAlertsNpaCommand::~RegisterForQuorvelExtensionAlertsNpaCommand() = default;
Command* RegisterForQuorvelExtensionAlertsNpaCommand::Clone(const std::string& text) const {
    return new RegisterForQuorvelExtensionAlertsNpaCommand(text);
}
bool RegisterForQuorvelExtensionAlertsNpaCommand::AffectedBy(uint32_t currentMask, uint32_t newMask) const {
    return AnyBitDiffers(ownBits_, currentMask, newMask);
}
void RegisterForQuorvelExtensionAlertsNpaCommand::ApplyMask(uint32_t mask) {
    WriteMaskBits(mask, kExtensionBytes, std::size(kExtensionBytes), kExtensionBits, std::size(kExtensionBits));
}

// The panel packet carries mask bit 19, and a client that sets bit 19 asks for panel alerts; if
// the bit selected no class, such a registration would report success while the printer never
// heard of it. So the panel class owns bit 19 and a change of it sends this registration.
RegisterForPanelAlertsNpaCommand::RegisterForPanelAlertsNpaCommand(const std::string& text)
    : PrinterAlertCommand(kPanelTemplate, sizeof kPanelTemplate, kCommandName),
      ownBits_(MaskBits(kPanelBits, std::size(kPanelBits))) {
    ApplyMask(NewAlertMask(text));
}
RegisterForPanelAlertsNpaCommand::~RegisterForPanelAlertsNpaCommand() = default;
Command* RegisterForPanelAlertsNpaCommand::Clone(const std::string& text) const {
    return new RegisterForPanelAlertsNpaCommand(text);
}
bool RegisterForPanelAlertsNpaCommand::AffectedBy(uint32_t currentMask, uint32_t newMask) const {
    return AnyBitDiffers(ownBits_, currentMask, newMask);
}
void RegisterForPanelAlertsNpaCommand::ApplyMask(uint32_t mask) {
    WriteMaskBits(mask, kPanelBytes, std::size(kPanelBytes), kPanelBits, std::size(kPanelBits));
}

RegisterForQuorvelExtendedAlertsNpaCommand::RegisterForQuorvelExtendedAlertsNpaCommand(const std::string& text)
    : PrinterAlertCommand(kExtendedTemplate, sizeof kExtendedTemplate, kCommandName),
      ownBits_(MaskBits(kExtendedBits, std::size(kExtendedBits))) {
    ApplyMask(NewAlertMask(text));
}
RegisterForQuorvelExtendedAlertsNpaCommand::~RegisterForQuorvelExtendedAlertsNpaCommand() = default;
Command* RegisterForQuorvelExtendedAlertsNpaCommand::Clone(const std::string& text) const {
    return new RegisterForQuorvelExtendedAlertsNpaCommand(text);
}
bool RegisterForQuorvelExtendedAlertsNpaCommand::AffectedBy(uint32_t currentMask, uint32_t newMask) const {
    return AnyBitDiffers(ownBits_, currentMask, newMask);
}
void RegisterForQuorvelExtendedAlertsNpaCommand::ApplyMask(uint32_t mask) {
    WriteMaskBits(mask, kExtendedBytes, std::size(kExtendedBytes), kExtendedBits, std::size(kExtendedBits));
}

RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand::RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand(
    const std::string& text)
    : PrinterAlertCommand(kLanguageIdTemplate, sizeof kLanguageIdTemplate, kCommandName),
      ownBits_(MaskBits(kLanguageIdBits, std::size(kLanguageIdBits))) {
    ApplyMask(NewAlertMask(text));
}
RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand::~RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand() =
    default;
Command* RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand::Clone(const std::string& text) const {
    return new RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand(text);
}
bool RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand::AffectedBy(uint32_t currentMask,
                                                                         uint32_t newMask) const {
    return AnyBitDiffers(ownBits_, currentMask, newMask);
}
void RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand::ApplyMask(uint32_t mask) {
    WriteMaskBits(mask, kLanguageIdBytes, std::size(kLanguageIdBytes), kLanguageIdBits, std::size(kLanguageIdBits));
}

void RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand::ApplyText(const std::string& text) {
    std::string languageId;
    if (PropertyAccessor().GetString(text, PropertyAccessor::LanguageId, languageId) == 0) {
        SetByte(kLanguageCodeOffset, LanguageCode(languageId));
    }
}

uint8_t RegisterForQuorvelExtendedAlertsWithLanguageIdNpaCommand::LanguageCode(const std::string& languageId) {
    const std::string::size_type x = languageId.find_first_of("xX");
    const std::string digits = x == std::string::npos ? languageId : languageId.substr(x + 1);
    // Unsigned arithmetic: long values wrap, and only the low byte is sent.
    uint32_t value = 0;
    for (const char c : digits) {
        value = value * 16u + HexDigit(c);
    }
    return static_cast<uint8_t>(value & 0xFF);
}
