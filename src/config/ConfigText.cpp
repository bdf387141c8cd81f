// Reading configuration texts, the parameter table and the value comparison.

#include "config/ConfigText.h"

#include "platform/StoredSetting.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace {

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

template <typename T> std::optional<T> Number(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    if constexpr (std::is_floating_point_v<T>)
        if (!std::isfinite(value))
            return std::nullopt;
    return value;
}

// The value in thousandths, as the controller dumps it; none when it is no number or too large.
std::optional<long long> Thousandths(std::string_view text) {
    const auto value = Number<double>(text);
    if (!value || std::fabs(*value) > 1e15)
        return std::nullopt;
    return std::llround(*value * 1000.0);
}

} // namespace

const TParameterInfo* FindParameter(std::string_view mnemonic) {
    return FindIxaMnemonic(mnemonic);
}

AnsiString UnitText(TUnitKind unit, bool english) {
    return IxaUnitText(unit, english);
}

bool SameValue(const TParameterInfo* info, const AnsiString& a, const AnsiString& b) {
    if (a == b)
        return true;
    const TValueKind kind = info ? info->Kind : TValueKind::Real;
    if (kind == TValueKind::Text)
        return false;
    if (kind == TValueKind::Int || kind == TValueKind::Flag) {
        const auto x = Number<long long>(a), y = Number<long long>(b);
        return x && y && *x == *y;
    }
    const auto x = Thousandths(a), y = Thousandths(b);
    return x && y && *x == *y;
}

void TConfigText::Add(AnsiString line) {
    TConfigEntry entry;
    entry.LineNumber = Entries.size() + 1;
    entry.Line = std::move(line);
    const std::string_view text = entry.Line;
    size_t length = 0;
    while (length < text.size() && IsLetter(text[length]))
        ++length;
    // A command writes a value: the mnemonic, one blank, then the index (if any) and the value.
    if (length > 0 && length < text.size() && text[length] == ' ') {
        AnsiString mnemonic(text.substr(0, length));
        std::transform(mnemonic.begin(), mnemonic.end(), mnemonic.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
        std::string_view rest = text.substr(length + 1);
        const TParameterInfo* info = FindParameter(mnemonic);
        int index = -1;
        bool command = true;
        if (info && info->Indexed()) {
            const size_t blank = rest.find(' ');
            const auto number = Number<int>(rest.substr(0, blank));
            command = blank != std::string_view::npos && number && *number >= 0;
            if (command) {
                index = *number;
                rest = rest.substr(blank + 1);
            }
        } else if (mnemonic == "TT") {
            index = SelectedTool;
        }
        if (command) {
            if (mnemonic == "TN")
                SelectedTool = Number<int>(rest).value_or(-1);
            entry.Mnemonic = std::move(mnemonic);
            entry.Index = index;
            entry.Value = AnsiString(rest);
            entry.Info = info;
            entry.Key = index >= 0 ? entry.Mnemonic + " " + std::to_string(index) : entry.Mnemonic;
        }
    }
    // A line never holds a line feed, so such a key meets no parameter's key.
    if (entry.Mnemonic.empty())
        entry.Key = "\n" + entry.Line;
    Entries.push_back(std::move(entry));
}

TConfigText TConfigText::Parse(std::string_view text) {
    TConfigText config;
    size_t start = 0;
    while (start < text.size() && config.Entries.size() < MaxLines) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        config.Add(AnsiString(line));
        start = end + 1;
    }
    return config;
}

TConfigText TConfigText::FromLines(const std::vector<AnsiString>& lines) {
    TConfigText config;
    for (const AnsiString& line : lines) {
        if (config.Entries.size() >= MaxLines)
            break;
        config.Add(line);
    }
    return config;
}

const TConfigEntry* TConfigText::Find(const AnsiString& key) const {
    for (auto it = Entries.rbegin(); it != Entries.rend(); ++it)
        if (it->Key == key)
            return &*it;
    return nullptr;
}

std::optional<bool> TConfigText::EnglishUnits() const {
    const TConfigEntry* cu = Find("CU");
    if (!cu)
        return std::nullopt;
    const auto flag = Number<int>(cu->Value);
    if (!flag)
        return std::nullopt;
    return *flag == 1;
}

bool TConfigText::IsToolConfiguration() const {
    bool tools = false;
    for (const TConfigEntry& entry : Entries) {
        if (entry.Mnemonic == "TN" || entry.Mnemonic == "TT" || entry.Mnemonic == "TW")
            tools = true;
        else if (entry.Mnemonic != "CU")
            return false;
    }
    return tools;
}

std::vector<AnsiString> TConfigText::Lines() const {
    std::vector<AnsiString> lines;
    lines.reserve(Entries.size());
    for (const TConfigEntry& entry : Entries)
        lines.push_back(entry.Line);
    return lines;
}

AnsiString TConfigText::ReadFile(const std::filesystem::path& fileName) {
    std::error_code error;
    const auto status = std::filesystem::status(fileName, error);
    if (error || !std::filesystem::exists(status))
        throw EConfig("Couldn't open " + fileName.string() + ".");
    if (!std::filesystem::is_regular_file(status))
        throw EConfig(fileName.string() + " is no configuration file (not a regular file).");
    const std::uintmax_t size = std::filesystem::file_size(fileName, error);
    if (error || size > MaxFileSize)
        throw EConfig(fileName.string() + " is no configuration file (larger than 1 MiB).");
    FILE* file = std::fopen(fileName.string().c_str(), "rb");
    if (!file)
        throw EConfig("Couldn't open " + fileName.string() + ".");
    AnsiString text;
    char buffer[4096];
    size_t n;
    // Read no more than the limit, also if the file grows meanwhile.
    while (text.size() <= MaxFileSize && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        throw EConfig("Couldn't read " + fileName.string() + ".");
    if (text.size() > MaxFileSize)
        throw EConfig(fileName.string() + " is no configuration file (larger than 1 MiB).");
    return text;
}

void TConfigText::SaveToFile(const std::filesystem::path& fileName) const {
    struct TPart {
        std::filesystem::path Name;
        FILE* File = nullptr;
        ~TPart() {
            if (File) {
                std::fclose(File);
                std::error_code ignored;
                std::filesystem::remove(Name, ignored);
            }
        }
    } out;
    // The text goes to a new file beside the target, created exclusively: a name already there (a
    // stale file, a link planted beside the target) is never written through; the next one is taken.
    std::error_code error;
    for (int n = 1; !out.File && n <= 100; ++n) {
        out.Name = fileName;
        out.Name +=
            n == 1 ? std::string(".part") : std::string(".").append(std::to_string(n)).append(".part");
        out.File = CreateNewFile(out.Name, error);
        if (!out.File && error != std::errc::file_exists)
            break;
    }
    if (!out.File)
        throw EConfig("Couldn't create " + out.Name.string() + ": " + error.message() + ".");
    for (const TConfigEntry& entry : Entries)
        if (std::fwrite(entry.Line.data(), 1, entry.Line.size(), out.File) != entry.Line.size() ||
            std::fputc('\n', out.File) == EOF)
            throw EConfig("Couldn't write " + out.Name.string() + ": " + std::strerror(errno) + ".");
    FILE* file = out.File;
    out.File = nullptr;
    const bool closed = std::fclose(file) == 0;
    const int reason = errno;
    if (closed)
        std::filesystem::rename(out.Name, fileName, error);
    if (!closed || error) {
        std::error_code ignored;
        std::filesystem::remove(out.Name, ignored);
        throw EConfig("Couldn't write " + (closed ? fileName : out.Name).string() + ": " +
                      (closed ? error.message() : std::strerror(reason)) + ".");
    }
}
