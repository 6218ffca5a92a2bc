#pragma once
// Texts by string id, resolved through the chosen language pack and falling
// back to the built-in English string table.
#include <string>

namespace rk {

// The text of `id`; false (and an empty text) when neither the translation
// nor the string table has it.
bool LoadText(int id, std::string& text);
std::string LoadText(int id);
// LoadText, then printf-style formatting with the arguments.
std::string FormatText(int id, ...);

}  // namespace rk
