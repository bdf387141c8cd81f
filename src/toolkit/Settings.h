#pragma once
// The program's one persistent setting place: QSettings("Halvane", "KorvaWin 3.0") (on Windows the
// registry key HKCU\Software\Halvane\KorvaWin 3.0; elsewhere an ini file in the user's config folder).
// A missing value reads as its default. Values are names the system holds (the port's), kept in the
// file system's encoding; a value is always one text, never a list. Tests point it at a folder of their own
// with SetSettingsFolder before any read. Threads: main thread only.

#include "platform/SysUtils.h"

#include <QString>

AnsiString ReadSetting(const QString& key, const AnsiString& defaultValue = "");
void WriteSetting(const QString& key, const AnsiString& value);
// Every settings file (of this program and any other) is then kept under folder.
void SetSettingsFolder(const QString& folder);
