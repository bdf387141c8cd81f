#pragma once
// The console's stored settings, read without the toolkit, so that the command-line program takes
// the port the console was set to. On Windows they live in the registry under
// HKEY_CURRENT_USER\Software\Halvane\KorvaWin 3.0; elsewhere in the ini file
// $XDG_CONFIG_HOME/Halvane/KorvaWin 3.0.conf (~/.config when XDG_CONFIG_HOME is not set), section
// [General], in the toolkit's ini syntax (quoted values, backslash escapes).
// Plain C++, no toolkit.

#include "platform/SysUtils.h"

#include <filesystem>
#include <optional>

// The names the console's settings are kept under (also the folder of its backups).
inline constexpr const char* SettingsOrganization = "Halvane";
inline constexpr const char* SettingsApplication = "KorvaWin 3.0";

// The stored value of key, as the bytes the console stored; nothing when it is not stored or cannot
// be read. On POSIX systems only a regular file of at most 1 MiB is read: anything else (a named
// pipe, a link to a device, a larger file) counts as no stored settings.
std::optional<AnsiString> ReadStoredSetting(const AnsiString& key);

// The user's data folder, where the console keeps its backups: $XDG_DATA_HOME (~/.local/share when
// it is not set), %LOCALAPPDATA% on Windows; nothing when neither is known.
std::optional<std::filesystem::path> UserDataFolder();

// One value as the toolkit's ini file writes it (exposed for the tests): "a, b" quoted, \" \\ \n \t
// \r \0 and \xHHHH escapes (a code point, written back in UTF-8), a @String(...) or
// @ByteArray(...) wrapper; a plain value is taken with its blanks trimmed.
AnsiString UnescapeIniValue(const AnsiString& raw);
