#include "export/common/PropertyText.h"

namespace {

// The closing tag is looked for only after the opening tag: a stray closing tag earlier in the
// text would otherwise give a negative value range.
bool FindPlain(const std::string& text, const std::string& name, std::string::size_type& open,
               std::string::size_type& valueBegin, std::string::size_type& close) {
    const std::string openTag = "<" + name + ">";
    open = text.find(openTag);
    if (open == std::string::npos) {
        return false;
    }
    valueBegin = open + openTag.size();
    close = text.find("</" + name + ">", valueBegin);
    return close != std::string::npos;
}

}  // namespace

bool FindElement(const std::string& text, const std::string& name, std::string& value) {
    std::string::size_type open = 0;
    std::string::size_type valueBegin = 0;
    std::string::size_type close = 0;
    if (FindPlain(text, name, open, valueBegin, close)) {
        value = text.substr(valueBegin, close - valueBegin);
        return true;
    }

    // Elements written by other tools may carry attributes: `<name attr=1>value</name>`.
    const std::string::size_type attrOpen = text.find("<" + name + " ");
    if (attrOpen == std::string::npos) {
        return false;
    }
    const std::string::size_type tagEnd = text.find('>', attrOpen);
    if (tagEnd == std::string::npos) {
        return false;
    }
    const std::string::size_type attrClose = text.find("</" + name + ">", tagEnd + 1);
    if (attrClose == std::string::npos) {
        return false;
    }
    value = text.substr(tagEnd + 1, attrClose - (tagEnd + 1));
    return true;
}

void EraseElement(std::string& text, const std::string& name) {
    std::string::size_type open = 0;
    std::string::size_type valueBegin = 0;
    std::string::size_type close = 0;
    if (FindPlain(text, name, open, valueBegin, close)) {
        const std::string::size_type end = close + name.size() + 3;  // "</" + name + ">"
        text.erase(open, end - open);
    }
}

void SetElement(std::string& text, const std::string& name, const std::string& value) {
    if (name.empty()) {
        return;
    }
    EraseElement(text, name);
    text += "<" + name + ">" + value + "</" + name + ">";
}
