#include "app/settings.h"

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QVariant>

#include <climits>
#include <cstring>

#include "base/log.h"

namespace rk {
namespace {
// The INI file $XDG_CONFIG_HOME/Korvix/Reelkeep.conf (~/.config when unset).
// The path is looked up on every use: QSettings' own user path is fixed at
// its first use in the process, so a later change of the folder (as every
// test makes) would go unnoticed and write into a stale folder.
QSettings Store() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QSettings(folder + QStringLiteral("/Korvix/Reelkeep.conf"), QSettings::IniFormat);
}
// QSettings keeps its top-level keys in the file's [General] section (and
// would write a group named "General" as [%General]), so the "General"
// entries are top-level keys: the file then reads as the program's sections.
QString Key(const char* section, const char* entry) {
    if (std::strcmp(section, "General") == 0) return QString::fromUtf8(entry);
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(entry);
}
}  // namespace

int ReadSettingInt(const char* section, const char* entry, int defaultValue) {
    QVariant v = Store().value(Key(section, entry));
    if (!v.isValid()) return defaultValue;
    bool ok = false;
    qlonglong n = v.toLongLong(&ok);
    if (!ok || n < INT_MIN || n > INT_MAX) return defaultValue;
    return static_cast<int>(n);
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

int ReadVerifyPolicy() {
    int v = ReadSetting(kSettingVerify);
    return (v == 0 || v == 1) ? v : -1;
}

std::string SettingsFilePath() { return Store().fileName().toStdString(); }

void UseSettingsForLogLevel() {
    CDebug::Instance().SetLevelSource([] { return ReadSetting(kSettingDebugLog); });
}

}  // namespace rk
