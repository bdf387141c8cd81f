#include "platform/StoredSetting.h"

#include <cstdlib>
#include <windows.h>

std::optional<AnsiString> ReadStoredSetting(const AnsiString& key) {
    char value[1024];
    DWORD size = sizeof(value);
    const AnsiString subKey = AnsiString("Software\\") + SettingsOrganization + "\\" + SettingsApplication;
    if (RegGetValueA(HKEY_CURRENT_USER, subKey.c_str(), key.c_str(), RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return AnsiString(value);
}

// The registry keeps values as they are; nothing to undo.
AnsiString UnescapeIniValue(const AnsiString& raw) {
    return raw;
}

std::optional<std::filesystem::path> UserDataFolder() {
    if (const char* local = std::getenv("LOCALAPPDATA"); local && *local)
        return std::filesystem::path(local);
    return std::nullopt;
}
