#pragma once
// Reads the branding file: the child elements of its <config> element become key -> text
// entries, through the system's XML DOM (msxml3, COM). Blanks in texts are kept ("1 " stays
// "1 "). One object per thread; not shared.
#include <map>
#include <string>

class ConfigurationFromHinge {
public:
    ConfigurationFromHinge();
    ~ConfigurationFromHinge();
    ConfigurationFromHinge(const ConfigurationFromHinge&) = delete;
    ConfigurationFromHinge& operator=(const ConfigurationFromHinge&) = delete;

    // Replaces the entries with those of the file. False (entries left empty) when the parser
    // is unavailable, the file is missing or unparsable, or it has no <config> element with
    // child elements. A later element with the same name replaces an earlier one.
    bool load(const std::string& filePath);
    // False when the key is absent.
    bool get(const std::string& key, std::string& value) const;

    const std::map<std::string, std::string>& entries() const { return entries_; }

private:
    void loadConfig(const std::string& filePath);

    std::map<std::string, std::string> entries_;
};
