// Property texts and descriptors from untrusted bytes: FindElement, EraseElement, SetElement and
// every PropertyAccessor getter and setter over an arbitrary text, name, value and descriptor.
// Checked: codes come from each operation's documented set; a failed setter leaves the text
// unchanged; over a text that has no element of the name, set-then-get reads back exactly what
// was set (string, long and byte array) and set-then-erase restores the text.
#include "export/common/PropertyAccessor.h"
#include "export/common/PropertyText.h"
#include "fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

bool OneOf(uint32_t rc, std::initializer_list<uint32_t> codes) {
    for (const uint32_t code : codes) {
        if (rc == code) return true;
    }
    return false;
}

// A name whose tags cannot be confused with anything else in a text: the only '<' of an
// opening tag is its first character.
bool CleanName(const std::string& name) { return !name.empty() && name.find('<') == std::string::npos; }

bool CleanValue(const std::string& name, const std::string& value) {
    return value.find("</" + name + ">") == std::string::npos;
}

std::string Descriptor(const std::string& name, const char* type, const char* access) {
    return "<Name>" + name + "</Name><Type>" + type + "</Type><Access>" + access + "</Access>";
}

// Arbitrary descriptor: every operation answers with one of its codes, and failed setters leave
// the bag alone.
void ArbitraryDescriptor(const std::string& bag, const std::string& desc, const std::string& value, uint32_t number) {
    const PropertyAccessor accessor;
    std::string text;
    FUZZ_CHECK(OneOf(accessor.GetString(bag, desc, text), {0, 1168, 1629}));
    uint32_t n = 0;
    FUZZ_CHECK(OneOf(accessor.GetLong(bag, desc, n), {0, 1168, 1629}));
    uint8_t small[8];
    uint32_t length = 0xFFFFFFFF;
    const uint32_t rc = accessor.GetByteArray(bag, desc, small, sizeof small, length);
    FUZZ_CHECK(OneOf(rc, {0, 122, 1168, 1629}));
    FUZZ_CHECK(rc == 0 ? length <= sizeof small : (rc == 122 ? length > sizeof small : length == 0));
    std::vector<uint8_t> bytes;
    FUZZ_CHECK(OneOf(accessor.GetByteArray(bag, desc, bytes), {0, 1168, 1629}));

    for (int kind = 0; kind < 3; ++kind) {
        std::string changed = bag;
        const uint32_t set = kind == 0   ? accessor.SetString(changed, desc, value)
                             : kind == 1 ? accessor.SetLong(changed, desc, number)
                                         : accessor.SetByteArray(changed, desc,
                                                                 reinterpret_cast<const uint8_t*>(value.data()),
                                                                 static_cast<uint32_t>(value.size()));
        FUZZ_CHECK(OneOf(set, {0, 1359, 1629}));
        if (set != 0) FUZZ_CHECK(changed == bag);
    }
    std::string removed = bag;
    accessor.Remove(removed, desc);
    FUZZ_CHECK(removed.size() <= bag.size());
}

// Element level: a found value lies inside the text; erase never grows it; set appends the
// element at the end, and over a text without the name, reads back and erases cleanly.
void Elements(const std::string& bag, const std::string& name, const std::string& value) {
    std::string found;
    if (FindElement(bag, name, found)) {
        FUZZ_CHECK(found.size() < bag.size());
        FUZZ_CHECK(bag.find(found) != std::string::npos);
    }
    std::string erased = bag;
    EraseElement(erased, name);
    FUZZ_CHECK(erased.size() <= bag.size());

    std::string set = bag;
    SetElement(set, name, value);
    if (name.empty()) {
        FUZZ_CHECK(set == bag);
        return;
    }
    const std::string element = "<" + name + ">" + value + "</" + name + ">";
    FUZZ_CHECK(set.size() >= element.size() && set.compare(set.size() - element.size(), element.size(), element) == 0);
    if (CleanName(name) && CleanValue(name, value) && bag.find("<" + name) == std::string::npos) {
        FUZZ_CHECK(set == bag + element);
        std::string back;
        FUZZ_CHECK(FindElement(set, name, back) && back == value);
        EraseElement(set, name);
        FUZZ_CHECK(set == bag);
    }
}

// Typed round trips through descriptors built for the name.
void RoundTrips(const std::string& bag, const std::string& name, const std::string& value, uint32_t number) {
    const PropertyAccessor accessor;
    if (name.empty()) {
        std::string unchanged = bag;
        FUZZ_CHECK(accessor.SetString(unchanged, Descriptor(name, "String", "Writeable"), value) == 1359);
        FUZZ_CHECK(unchanged == bag);
        return;
    }
    if (!CleanName(name) || name.find("</Name>") != std::string::npos || bag.find("<" + name) != std::string::npos) {
        return;
    }
    // Read-only descriptors are refused by every setter.
    std::string unchanged = bag;
    FUZZ_CHECK(accessor.SetLong(unchanged, Descriptor(name, "Long", "ReadOnly"), number) == 1629);
    FUZZ_CHECK(unchanged == bag);

    if (CleanValue(name, value)) {
        const std::string desc = Descriptor(name, "String", "Writeable");
        std::string text = bag;
        FUZZ_CHECK(accessor.SetString(text, desc, value) == 0);
        std::string back;
        FUZZ_CHECK(accessor.GetString(text, desc, back) == 0 && back == value);
        uint32_t wrongType = 0;
        FUZZ_CHECK(accessor.GetLong(text, desc, wrongType) == 1629);
        accessor.Remove(text, desc);
        FUZZ_CHECK(text == bag);
    }
    {
        const std::string desc = Descriptor(name, "Long", "Writeable");
        std::string text = bag;
        FUZZ_CHECK(accessor.SetLong(text, desc, number) == 0);
        uint32_t back = ~number;
        FUZZ_CHECK(accessor.GetLong(text, desc, back) == 0 && back == number);
    }
    {
        const std::string desc = Descriptor(name, "ByteArray", "Writeable");
        const auto* p = reinterpret_cast<const uint8_t*>(value.data());
        const auto n = static_cast<uint32_t>(value.size());
        std::string text = bag;
        FUZZ_CHECK(accessor.SetByteArray(text, desc, p, n) == 0);
        std::vector<uint8_t> back;
        FUZZ_CHECK(accessor.GetByteArray(text, desc, back) == 0);
        FUZZ_CHECK(back == std::vector<uint8_t>(p, p + n));
        if (n > 0) {
            uint32_t length = 0;
            std::vector<uint8_t> shortBuffer(n - 1);
            FUZZ_CHECK(accessor.GetByteArray(text, desc, shortBuffer.data(), n - 1, length) == 122 && length == n);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string name = in.ConsumeRandomLengthString(64);
    const std::string value = in.ConsumeRandomLengthString(512);
    const std::string desc = in.ConsumeRandomLengthString(256);
    const uint32_t number = in.ConsumeIntegral<uint32_t>();
    const std::string bag = in.ConsumeRemainingBytesAsString();

    Elements(bag, name, value);
    ArbitraryDescriptor(bag, desc, value, number);
    RoundTrips(bag, name, value, number);
    return 0;
}
