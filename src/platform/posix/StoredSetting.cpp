#include "platform/StoredSetting.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {
void AppendUtf8(AnsiString& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

AnsiString Trimmed(const AnsiString& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == AnsiString::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

AnsiString Unwrapped(AnsiString value) {
    for (const char* wrapper : {"@String(", "@ByteArray("}) {
        const AnsiString prefix = wrapper;
        if (value.size() > prefix.size() && value.compare(0, prefix.size(), prefix) == 0 &&
            value.back() == ')')
            return value.substr(prefix.size(), value.size() - prefix.size() - 1);
    }
    return value;
}
// The settings file's text: only a regular file of at most MaxSettingsBytes. The check is made on
// the opened file (opened without waiting, so that a named pipe cannot block it), and the read
// stops past the bound too, for a file that grows meanwhile; a link to a device is no file.
constexpr size_t MaxSettingsBytes = 1 << 20;

std::optional<AnsiString> ReadSettingsFile(const AnsiString& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    AnsiString text;
    bool good = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && size_t(info.st_size) <= MaxSettingsBytes;
    while (good) {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            good = n == 0;
            break;
        }
        text.append(buffer, size_t(n));
        good = text.size() <= MaxSettingsBytes;
    }
    ::close(fd);
    if (!good)
        return std::nullopt;
    return text;
}
} // namespace

AnsiString UnescapeIniValue(const AnsiString& raw) {
    AnsiString out;
    bool quoted = false;
    const AnsiString text = Trimmed(raw);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char e = text[++i];
        switch (e) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '0':
            out += '\0';
            break;
        case 'x': {
            unsigned code = 0;
            size_t digits = 0;
            while (digits < 4 && i + 1 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                code = code * 16 + std::stoul(AnsiString(1, text[++i]), nullptr, 16);
                ++digits;
            }
            AppendUtf8(out, code);
            break;
        }
        default:
            out += e;
            break; // \" \\ \; \,
        }
    }
    return Unwrapped(out);
}

std::optional<AnsiString> ReadStoredSetting(const AnsiString& key) {
    AnsiString folder;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        folder = config;
    else if (const char* home = std::getenv("HOME"); home && *home)
        folder = AnsiString(home) + "/.config";
    else
        return std::nullopt;
    std::istringstream file;
    if (auto text =
            ReadSettingsFile(folder + "/" + SettingsOrganization + "/" + SettingsApplication + ".conf"))
        file.str(*text);
    else
        return std::nullopt;
    AnsiString line, section;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const AnsiString trimmed = Trimmed(line);
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#')
            continue;
        if (trimmed.front() == '[' && trimmed.back() == ']') {
            section = trimmed.substr(1, trimmed.size() - 2);
            continue;
        }
        const size_t equals = trimmed.find('=');
        if (equals == AnsiString::npos || (section != "General" && !section.empty()))
            continue;
        if (Trimmed(trimmed.substr(0, equals)) == key)
            return UnescapeIniValue(trimmed.substr(equals + 1));
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> UserDataFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::filesystem::path(data);
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local" / "share";
    return std::nullopt;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

std::FILE* CreateNewFile(const std::filesystem::path& path, std::error_code& error) {
    error.clear();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error.assign(errno, std::generic_category());
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        error.assign(errno, std::generic_category());
        ::close(fd);
        ::unlink(path.c_str());
    }
    return file;
}

bool FileIsGone(std::FILE* file) {
    struct stat info {};
    return ::fstat(::fileno(file), &info) == 0 && info.st_nlink == 0;
}
