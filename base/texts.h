#pragma once
// Texts by string id (base/string_ids.h), resolved through the chosen
// language pack and falling back to the built-in English string table.
#include <cstdarg>
#include <string>

#include "base/string_ids.h"

namespace rk {

// The text of `id`; false (and an empty text) when neither the translation
// nor the string table has it.
bool LoadText(int id, std::string& text);
std::string LoadText(int id);
// LoadText, then printf-style formatting with the arguments. The arguments
// must match the English text's placeholders; translations keep them.
std::string FormatText(int id, ...);
std::string FormatTextV(int id, va_list args);
// printf-style formatting into a string.
std::string FormatV(const char* format, va_list args);

}  // namespace rk
