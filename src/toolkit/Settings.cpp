#include "toolkit/Settings.h"

#include "platform/StoredSetting.h"
#include "toolkit/Text.h"

#include <QSettings>

AnsiString ReadSetting(const QString& key, const AnsiString& defaultValue) {
    QSettings settings(SettingsOrganization, SettingsApplication);
    const QVariant value = settings.value(key, FromSystemName(defaultValue));
    // An unquoted "a, b" in the settings file comes back as a list: it is one name all the same.
    if (value.typeId() == QMetaType::QStringList)
        return ToSystemName(value.toStringList().join(", "));
    return ToSystemName(value.toString());
}

void WriteSetting(const QString& key, const AnsiString& value) {
    QSettings settings(SettingsOrganization, SettingsApplication);
    settings.setValue(key, FromSystemName(value));
    settings.sync();
}

void SetSettingsFolder(const QString& folder) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}
