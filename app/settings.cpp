#include "app/settings.h"

#include <QSettings>
#include <QString>

namespace rk {
namespace {
QSettings Store() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Korvix"), QStringLiteral("Reelkeep"));
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
    return Store().value(Key(section, entry), QString::fromStdString(defaultValue)).toString().toStdString();
}

void WriteSettingInt(const char* section, const char* entry, int value) { Store().setValue(Key(section, entry), value); }

void WriteSettingString(const char* section, const char* entry, const std::string& value) {
    Store().setValue(Key(section, entry), QString::fromStdString(value));
}

}  // namespace rk
