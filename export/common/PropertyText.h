#pragma once
// The property text: named values as tagged elements `<Name>value</Name>`, without escaping.
// Reading takes the first element of a name; writing replaces it with one appended at the end.
#include <string>

// Finds the first element `name` and copies its value; also accepts `<name attr...>value</name>`.
// Returns false and leaves value unchanged when there is no complete element of that name.
bool FindElement(const std::string& text, const std::string& name, std::string& value);

// Removes the first `<name>...</name>` element; the attribute form is left in place.
void EraseElement(std::string& text, const std::string& name);

// Replaces the element `name` by `<name>value</name>` at the end of text; an empty name does nothing.
void SetElement(std::string& text, const std::string& name, const std::string& value);
