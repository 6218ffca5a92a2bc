#pragma once
// The user's language as a Windows language identifier, from the locale.
#include <string>

namespace rk {

// The language identifier of a POSIX locale name ("ru_RU.UTF-8" -> 1049,
// "de" -> 1031, "en_US" -> 1033). 0 for "C", "POSIX", empty or unknown names.
int LanguageIdFromLocale(const std::string& locale);

// The user's language: the first of LC_ALL, LC_MESSAGES and LANG that is set
// and not empty, mapped as above.
int UserLanguageId();

}  // namespace rk
