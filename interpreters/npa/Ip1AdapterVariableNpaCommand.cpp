#include "interpreters/npa/Ip1AdapterVariableNpaCommand.h"

#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"
#include "interpreters/npa/NpaReplyReader.h"

#include <cstdlib>
#include <vector>

namespace {

constexpr uint8_t kTemplate[] = {0xA5, 0x00, 0x04, 0x50, 0xE0, 0xD7, 0x00};
// The length field counts flags, command, sub-command and byte 6, then two bytes per variable.
constexpr uint32_t kBaseLength = 4;
constexpr uint32_t kMaxVariables = (NpaCommand::MaxLength - kBaseLength) / 2;

constexpr uint32_t kBadFormat = 11;  // ERROR_BAD_FORMAT
constexpr uint32_t kEntriesOffset = 7;
constexpr uint32_t kEntryHeader = 3;

// A printer that has variable 24 sends it alone; otherwise all of these are required.
constexpr uint8_t kSummaryVariable = 24;
constexpr uint8_t kRequiredVariables[] = {0, 34, 22, 12, 21, 33, 68};
// This one is UTF-16 text.
constexpr uint8_t kWideTextVariable = 34;
constexpr uint8_t kEmptyWideTextMarker = 0x0C;

uint8_t FirstByte(const std::string& value) {
    return value.empty() ? 0 : static_cast<uint8_t>(value[0]);
}

std::string ElementName(const char* descriptor) {
    std::string name;
    FindElement(descriptor, PropertyAccessor::NameElement, name);
    return name;
}

// The value of the first entry for (component, variable) whose bytes all lie inside the reply.
// Entries are walked from byte 7 while a whole entry header fits; an entry whose value runs past
// the end stops the walk, so a truncated reply simply lacks the variables it cut off.
bool FindVariable(const NpaReplyReader& reader, uint8_t component, uint8_t variable, std::string& value) {
    uint32_t offset = kEntriesOffset;
    while (reader.Holds(offset, kEntryHeader)) {
        uint8_t c = 0;
        uint8_t v = 0;
        uint8_t length = 0;
        reader.Byte(offset, c);
        reader.Byte(offset + 1, v);
        reader.Byte(offset + 2, length);
        if (!reader.Holds(offset + kEntryHeader, length)) {
            return false;
        }
        if (c == component && v == variable) {
            return reader.Text(offset + kEntryHeader, length, value);
        }
        offset += kEntryHeader + length;
    }
    return false;
}

// UTF-16LE to the narrow text of the current C locale; an unconvertible value is empty.
std::string NarrowFromUtf16(const std::string& raw) {
    if (raw.empty() || static_cast<uint8_t>(raw[0]) == kEmptyWideTextMarker) {
        return std::string();
    }
    std::wstring wide;
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
        const unsigned unit = static_cast<uint8_t>(raw[i]) | (static_cast<unsigned>(static_cast<uint8_t>(raw[i + 1])) << 8);
        wide.push_back(static_cast<wchar_t>(unit));
    }
    const std::size_t needed = std::wcstombs(nullptr, wide.c_str(), 0);
    if (needed == static_cast<std::size_t>(-1)) {
        return std::string();
    }
    std::vector<char> narrow(needed + 1, '\0');
    const std::size_t written = std::wcstombs(narrow.data(), wide.c_str(), narrow.size());
    if (written == static_cast<std::size_t>(-1)) {
        return std::string();
    }
    // Runtimes differ on text they cannot convert (some count a byte they then leave zero); the
    // converted text ends at its first zero either way.
    return std::string(narrow.data());
}

}  // namespace

Ip1AdapterVariableNpaCommand::Ip1AdapterVariableNpaCommand(const std::string& text)
    : NpaCommand(kTemplate, sizeof kTemplate) {
    name_ = kCommandName;
    const PropertyAccessor accessor;
    std::string rest = text;
    accessor.Remove(rest, PropertyAccessor::CommandName);

    // The Component elements are taken in text order, as if each were read and removed in turn,
    // but in one pass: removing them one by one would copy the text once per variable.
    static const std::string name = ElementName(PropertyAccessor::Component);
    const std::string openTag = "<" + name + ">";
    const std::string closeTag = "</" + name + ">";
    std::vector<std::string> components;
    std::string others;
    std::string::size_type position = 0;
    for (;;) {
        const std::string::size_type open = rest.find(openTag, position);
        if (open == std::string::npos) {
            break;
        }
        const std::string::size_type valueBegin = open + openTag.size();
        const std::string::size_type close = rest.find(closeTag, valueBegin);
        if (close == std::string::npos) {
            break;
        }
        others.append(rest, position, open - position);
        components.push_back(rest.substr(valueBegin, close - valueBegin));
        position = close + closeTag.size();
    }
    others.append(rest, position, std::string::npos);
    // An element written with attributes is read but cannot be removed; it is taken once, last.
    std::string attributed;
    if (accessor.GetString(others, PropertyAccessor::Component, attributed) == 0) {
        components.push_back(attributed);
    }

    if (components.size() > kMaxVariables) {
        Clear();
        return;
    }
    for (const std::string& component : components) {
        std::string comp;
        std::string vid;
        accessor.GetString(component, PropertyAccessor::Comp, comp);
        accessor.GetString(component, PropertyAccessor::Vid, vid);
        const uint8_t pair[2] = {FirstByte(comp), FirstByte(vid)};
        Append(pair, sizeof pair);
    }
    SetLength(static_cast<uint16_t>(kBaseLength + 2 * components.size()));
}

Ip1AdapterVariableNpaCommand::~Ip1AdapterVariableNpaCommand() = default;

Command* Ip1AdapterVariableNpaCommand::Clone(const std::string& text) const {
    return new Ip1AdapterVariableNpaCommand(text);
}

void Ip1AdapterVariableNpaCommand::AddComponent(uint8_t component, uint8_t variable, const std::string& value) {
    const PropertyAccessor accessor;
    std::string inner;
    accessor.SetString(inner, PropertyAccessor::Comp, std::string(1, static_cast<char>(component)));
    accessor.SetString(inner, PropertyAccessor::Vid, std::string(1, static_cast<char>(variable)));
    accessor.SetString(inner, PropertyAccessor::DataString, value);
    // Appended rather than set: the result holds one Component element per variable.
    static const std::string name = ElementName(PropertyAccessor::Component);
    resultText_ += "<" + name + ">" + inner + "</" + name + ">";
}

uint32_t Ip1AdapterVariableNpaCommand::DecodeReply(const Data& reply) {
    if (!IsReplyTo(reply)) {
        return kBadFormat;
    }
    resultText_.clear();
    const NpaReplyReader reader(reply);
    std::string value;
    if (FindVariable(reader, kComponent, kSummaryVariable, value)) {
        AddComponent(kComponent, kSummaryVariable, value);
        return 0;
    }
    for (const uint8_t variable : kRequiredVariables) {
        if (!FindVariable(reader, kComponent, variable, value)) {
            return kBadFormat;
        }
        AddComponent(kComponent, variable, variable == kWideTextVariable ? NarrowFromUtf16(value) : value);
    }
    return 0;
}
