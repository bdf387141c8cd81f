#include "platform/StoredSetting.h"

#include <cstdlib>
#include <fcntl.h>
#include <io.h>
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

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    std::wstring wideMode;
    for (const char* c = mode; *c; ++c)
        wideMode += static_cast<wchar_t>(*c);
    return _wfopen(path.c_str(), wideMode.c_str());
}

std::FILE* CreateNewFile(const std::filesystem::path& path, std::error_code& error) {
    error.clear();
    // CREATE_NEW fails on any name already there, a link included, and so never follows one.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
            error = std::make_error_code(std::errc::file_exists);
        else
            error.assign(static_cast<int>(code), std::system_category());
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        error = std::make_error_code(std::errc::too_many_files_open);
        CloseHandle(handle);
        DeleteFileW(path.c_str());
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) {
        error = std::make_error_code(std::errc::not_enough_memory);
        _close(fd);
        DeleteFileW(path.c_str());
    }
    return file;
}

bool FileIsGone(std::FILE* file) {
    BY_HANDLE_FILE_INFORMATION info{};
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info) &&
           info.nNumberOfLinks == 0;
}
