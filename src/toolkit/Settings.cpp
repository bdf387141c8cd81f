#include "toolkit/Settings.h"

#include "toolkit/Text.h"

#include <QSettings>

AnsiString ReadSetting(const QString& key, const AnsiString& defaultValue) {
    QSettings settings("Halvane", "KorvaWin 3.0");
    return ToAnsi(settings.value(key, ToQString(defaultValue)).toString());
}

void WriteSetting(const QString& key, const AnsiString& value) {
    QSettings settings("Halvane", "KorvaWin 3.0");
    settings.setValue(key, ToQString(value));
    settings.sync();
}

void SetSettingsFolder(const QString& folder) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}
