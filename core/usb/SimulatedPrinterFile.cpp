#include "core/usb/SimulatedPrinterFile.h"

#include <cctype>
#include <stdexcept>

namespace {

struct Malformed : std::runtime_error {
    Malformed() : std::runtime_error("malformed") {}
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trim(const std::string& text) {
    std::string::size_type begin = 0;
    std::string::size_type end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// A cursor over the document; every method raises Malformed at the first fault.
class Reader {
public:
    explicit Reader(const std::string& text) : text_(text), pos_(0) {}

    bool atEnd() const { return pos_ >= text_.size(); }

    // Blanks, comments and processing instructions (the prolog) between elements.
    void skipMisc() {
        for (;;) {
            while (!atEnd() && isBlank(text_[pos_])) ++pos_;
            if (startsWith("<?")) {
                skipPast("?>");
            } else if (startsWith("<!--")) {
                skipPast("-->");
            } else {
                return;
            }
        }
    }

    // True when an end tag comes next (after misc).
    bool atEndTag() {
        skipMisc();
        return startsWith("</");
    }

    // Reads a start tag; empty is set for <name/>. Attributes are skipped.
    std::string startTag(bool& empty) {
        skipMisc();
        if (!startsWith("<") || startsWith("</") || startsWith("<!")) throw Malformed();
        ++pos_;
        const std::string name = readName();
        for (;;) {
            if (atEnd()) throw Malformed();
            const char c = text_[pos_];
            if (c == '>') {
                ++pos_;
                empty = false;
                return name;
            }
            if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '>') {
                pos_ += 2;
                empty = true;
                return name;
            }
            if (c == '"' || c == '\'') {
                const std::string::size_type close = text_.find(c, pos_ + 1);
                if (close == std::string::npos) throw Malformed();
                pos_ = close + 1;
            } else if (c == '<') {
                throw Malformed();
            } else {
                ++pos_;
            }
        }
    }

    void endTag(const std::string& name) {
        skipMisc();
        if (!startsWith("</")) throw Malformed();
        pos_ += 2;
        if (readName() != name) throw Malformed();
        while (!atEnd() && isBlank(text_[pos_])) ++pos_;
        if (atEnd() || text_[pos_] != '>') throw Malformed();
        ++pos_;
    }

    // Character data up to the next tag, references decoded; comments inside are dropped.
    std::string text() {
        std::string value;
        while (!atEnd()) {
            if (startsWith("<!--")) {
                skipPast("-->");
                continue;
            }
            const char c = text_[pos_];
            if (c == '<') break;
            if (c == '&') {
                value += reference();
            } else {
                value += c;
                ++pos_;
            }
        }
        return value;
    }

    // Skips a whole element whose start tag has been read, nested elements included.
    void skipContent(const std::string& name, int depth = 0) {
        if (depth > kMaxDepth) throw Malformed();
        for (;;) {
            text();
            if (atEnd()) throw Malformed();
            if (atEndTag()) {
                endTag(name);
                return;
            }
            bool empty = false;
            const std::string child = startTag(empty);
            if (!empty) skipContent(child, depth + 1);
        }
    }

private:
    // Far deeper than any declaration needs; bounds the recursion on a hostile file.
    static constexpr int kMaxDepth = 16;

    bool startsWith(const char* prefix) const { return text_.compare(pos_, std::char_traits<char>::length(prefix), prefix) == 0; }

    void skipPast(const char* terminator) {
        const std::string::size_type at = text_.find(terminator, pos_);
        if (at == std::string::npos) throw Malformed();
        pos_ = at + std::char_traits<char>::length(terminator);
    }

    std::string readName() {
        const std::string::size_type start = pos_;
        while (!atEnd()) {
            const unsigned char c = static_cast<unsigned char>(text_[pos_]);
            if (!(std::isalnum(c) || c == '_' || c == '-' || c == '.' || c == ':')) break;
            ++pos_;
        }
        if (pos_ == start) throw Malformed();
        return text_.substr(start, pos_ - start);
    }

    char reference() {
        const std::string::size_type semicolon = text_.find(';', pos_);
        if (semicolon == std::string::npos || semicolon - pos_ > 8) throw Malformed();
        const std::string name = text_.substr(pos_ + 1, semicolon - pos_ - 1);
        pos_ = semicolon + 1;
        if (name == "amp") return '&';
        if (name == "lt") return '<';
        if (name == "gt") return '>';
        if (name == "quot") return '"';
        if (name == "apos") return '\'';
        if (name.size() < 2 || name[0] != '#') throw Malformed();
        const bool hex = name[1] == 'x';
        const std::string digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) throw Malformed();
        unsigned value = 0;
        for (const char d : digits) {
            const unsigned char u = static_cast<unsigned char>(d);
            if (hex ? !std::isxdigit(u) : !std::isdigit(u)) throw Malformed();
            value = value * (hex ? 16u : 10u) + static_cast<unsigned>(std::isdigit(u) ? d - '0' : std::tolower(u) - 'a' + 10);
            // Device ids are byte strings; larger characters have no single-byte form.
            if (value > 0xFF) throw Malformed();
        }
        if (value == 0) throw Malformed();
        return static_cast<char>(value);
    }

    const std::string& text_;
    std::string::size_type pos_;
};

uint32_t portNumberOf(const std::string& text) {
    if (text.empty() || text.size() > 10) return 0;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(value);
}

SimulatedPrinter readPrinter(Reader& reader) {
    SimulatedPrinter printer;
    for (;;) {
        reader.text();
        if (reader.atEndTag()) return printer;
        bool empty = false;
        const std::string name = reader.startTag(empty);
        std::string value;
        if (!empty) {
            value = trim(reader.text());
            if (!reader.atEndTag()) {
                // An element with children is not one of ours; its content is skipped whole.
                reader.skipContent(name);
                continue;
            }
            reader.endTag(name);
        }
        if (name == "PortNumber") {
            printer.portNumber = portNumberOf(value);
        } else if (name == "InstanceId") {
            printer.instanceId = value;
        } else if (name == "DevicePath") {
            printer.devicePath = value;
        } else if (name == "DeviceId") {
            printer.deviceId = value;
        }
    }
}

}  // namespace

uint32_t SimulatedPrinterFile::parse(const std::string& xml, std::vector<SimulatedPrinter>& printers) {
    printers.clear();
    try {
        Reader reader(xml);
        bool empty = false;
        if (reader.startTag(empty) != "printers") throw Malformed();
        std::vector<SimulatedPrinter> found;
        if (!empty) {
            for (;;) {
                if (!trim(reader.text()).empty()) throw Malformed();
                if (reader.atEndTag()) break;
                bool printerEmpty = false;
                const std::string name = reader.startTag(printerEmpty);
                if (name != "printer") {
                    if (!printerEmpty) reader.skipContent(name);
                    continue;
                }
                if (printerEmpty) {
                    found.emplace_back();
                    continue;
                }
                found.push_back(readPrinter(reader));
                reader.endTag("printer");
            }
            reader.endTag("printers");
        }
        reader.skipMisc();
        if (!reader.atEnd()) throw Malformed();
        printers.swap(found);
        return 0;
    } catch (const Malformed&) {
        return kInvalidData;
    }
}

std::string SimulatedPrinterFile::reply1284(const std::string& deviceId) {
    const std::size_t length = deviceId.size() + 2;
    if (length > kMax1284Reply) return std::string();
    std::string reply;
    reply += static_cast<char>((length >> 8) & 0xFF);
    reply += static_cast<char>(length & 0xFF);
    reply += deviceId;
    return reply;
}
