#pragma once
// The per-user settings store: INI file under organisation "Korvix" and
// application "Reelkeep" ($XDG_CONFIG_HOME/Korvix/Reelkeep.conf; moving
// XDG_CONFIG_HOME moves it, for tests and scripts). A missing or unreadable
// value yields the default.
#include <string>

namespace rk {

int ReadSettingInt(const char* section, const char* entry, int defaultValue);
std::string ReadSettingString(const char* section, const char* entry, const std::string& defaultValue);
void WriteSettingInt(const char* section, const char* entry, int value);
void WriteSettingString(const char* section, const char* entry, const std::string& value);

// Every setting the program keeps, with its section, entry and default.
struct IntSetting {
    const char* section;
    const char* entry;
    int defaultValue;
};
struct StringSetting {
    const char* section;
    const char* entry;
    const char* defaultValue;
};

inline constexpr const char* kSectionGeneral = "General";
inline constexpr const char* kSectionLayout = "Layout";
inline constexpr const char* kSectionDebug = "Debug";

// Index into the YUV range list: 0 "Full", 1 "Limited". Written when it changes.
inline constexpr IntSetting kSettingYuvRange{kSectionGeneral, "YUVRange", 0};
// Index into the Deinterlace list: 0 "On", 1 "Off". Written when it changes.
inline constexpr IntSetting kSettingDeinterlace{kSectionGeneral, "Deinterlace", 0};
// Verify after write: -1 (not set) on for card readers and off for card
// images, 1 always, 0 never.
inline constexpr IntSetting kSettingVerify{kSectionGeneral, "Verify", -1};
// The last files chosen (initial names of the file dialogs); written when the
// main window closes.
inline constexpr StringSetting kSettingVideoFile{kSectionGeneral, "File", ""};
inline constexpr StringSetting kSettingStillFile{kSectionGeneral, "StillFile", ""};
inline constexpr StringSetting kSettingStingerFile{kSectionGeneral, "StingerFile", ""};
inline constexpr StringSetting kSettingLogoFile{kSectionGeneral, "LogoFile", ""};
// The card the window showed last (its device or image path); selected again
// by the first scan when present. Written when the main window closes.
inline constexpr StringSetting kSettingLastCard{kSectionGeneral, "Card", ""};
// The main window's normal rectangle and whether it was maximized; written
// when the main window closes. Left and Top of -1 mean "no stored place".
inline constexpr IntSetting kSettingLayoutLeft{kSectionLayout, "Left", -1};
inline constexpr IntSetting kSettingLayoutTop{kSectionLayout, "Top", -1};
inline constexpr IntSetting kSettingLayoutWidth{kSectionLayout, "Width", -1};
inline constexpr IntSetting kSettingLayoutHeight{kSectionLayout, "Height", -1};
inline constexpr IntSetting kSettingLayoutMaximized{kSectionLayout, "Maximized", 1};
// The diagnostic log level; 0 turns the log off. Never written by the program.
inline constexpr IntSetting kSettingDebugLog{kSectionDebug, "Log", 0};

int ReadSetting(const IntSetting& s);
std::string ReadSetting(const StringSetting& s);
void WriteSetting(const IntSetting& s, int value);
void WriteSetting(const StringSetting& s, const std::string& value);

// The YUV range and Deinterlace list indexes as stored; values outside the
// lists read as the default (0).
int ReadYuvRangeIndex();
int ReadDeinterlaceIndex();
// The Verify setting as CSDCard's verify policy (-1, 0 or 1; anything else -1).
int ReadVerifyPolicy();

// The path of the settings file (for messages and tests).
std::string SettingsFilePath();

// Makes the diagnostic log read its level from "Debug"/"Log" on its first
// line. Both front-ends call this first thing in main().
void UseSettingsForLogLevel();

}  // namespace rk
