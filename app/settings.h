#pragma once
// The per-user settings store: INI file under organisation "Korvix" and
// application "Reelkeep" (XDG_CONFIG_HOME moves it, for tests and scripts).
#include <string>

namespace rk {

int ReadSettingInt(const char* section, const char* entry, int defaultValue);
std::string ReadSettingString(const char* section, const char* entry, const std::string& defaultValue);
void WriteSettingInt(const char* section, const char* entry, int value);
void WriteSettingString(const char* section, const char* entry, const std::string& value);

}  // namespace rk
