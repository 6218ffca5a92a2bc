#include "app/settings.h"

#include <QSettings>
#include <QString>

#include "base/log.h"

namespace rk {
namespace {
// On Linux the native format is the INI format, kept in
// $XDG_CONFIG_HOME/Korvix/Reelkeep.conf.
QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Korvix"), QStringLiteral("Reelkeep"));
}
QString Key(const char* section, const char* entry) {
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(entry);
}
}  // namespace

int ReadSettingInt(const char* section, const char* entry, int defaultValue) {
    bool ok = false;
    int v = Store().value(Key(section, entry), defaultValue).toInt(&ok);
    return ok ? v : defaultValue;
}

std::string ReadSettingString(const char* section, const char* entry, const std::string& defaultValue) {
    QVariant v = Store().value(Key(section, entry));
    if (!v.isValid()) return defaultValue;
    return v.toString().toStdString();
}

void WriteSettingInt(const char* section, const char* entry, int value) { Store().setValue(Key(section, entry), value); }

void WriteSettingString(const char* section, const char* entry, const std::string& value) {
    Store().setValue(Key(section, entry), QString::fromStdString(value));
}

int ReadSetting(const IntSetting& s) { return ReadSettingInt(s.section, s.entry, s.defaultValue); }
std::string ReadSetting(const StringSetting& s) { return ReadSettingString(s.section, s.entry, s.defaultValue); }
void WriteSetting(const IntSetting& s, int value) { WriteSettingInt(s.section, s.entry, value); }
void WriteSetting(const StringSetting& s, const std::string& value) { WriteSettingString(s.section, s.entry, value); }

// Both lists have two entries; a stored index past them would select nothing.
int ReadYuvRangeIndex() {
    int v = ReadSetting(kSettingYuvRange);
    return (v == 0 || v == 1) ? v : kSettingYuvRange.defaultValue;
}

int ReadDeinterlaceIndex() {
    int v = ReadSetting(kSettingDeinterlace);
    return (v == 0 || v == 1) ? v : kSettingDeinterlace.defaultValue;
}

std::string SettingsFilePath() { return Store().fileName().toStdString(); }

void UseSettingsForLogLevel() {
    CDebug::Instance().SetLevelSource([] { return ReadSetting(kSettingDebugLog); });
}

}  // namespace rk
