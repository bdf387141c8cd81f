// Naming, listing and pruning configuration backups.

#include "config/ConfigBackups.h"

#include "platform/StoredSetting.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <tuple>

namespace {

constexpr const char* ControllerSuffix = " controller.cfg";
constexpr const char* ToolSuffix = " tool.cfg";
constexpr size_t StemLength = 19; // "2026-12-08_12-40-05"

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The order of a stem ("<time>" then "<time>_2", "<time>_3"...); none when it is no backup's stem.
std::optional<std::pair<std::string, int>> StemOrder(const std::string& stem) {
    if (stem.size() < StemLength)
        return std::nullopt;
    const char* pattern = "dddd-dd-dd_dd-dd-dd";
    for (size_t i = 0; i < StemLength; ++i)
        if (pattern[i] == 'd' ? !IsDigit(stem[i]) : stem[i] != pattern[i])
            return std::nullopt;
    int number = 1;
    if (stem.size() > StemLength) {
        const char* first = stem.data() + StemLength + 1;
        const char* last = stem.data() + stem.size();
        if (stem[StemLength] != '_' || first == last || *first == '0')
            return std::nullopt;
        auto [ptr, ec] = std::from_chars(first, last, number);
        if (ec != std::errc() || ptr != last || number < 2)
            return std::nullopt;
    }
    return std::make_pair(stem.substr(0, StemLength), number);
}

} // namespace

std::string TConfigBackups::FolderName(const AnsiString& controllerName) {
    std::string name;
    for (char c : controllerName) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) || c == ' ' ||
                          c == '.' || c == '-' || c == '_';
        name += keep ? c : '_';
    }
    const auto trimmed = [](char c) { return c == ' ' || c == '.'; };
    while (!name.empty() && trimmed(name.back()))
        name.pop_back();
    size_t first = 0;
    while (first < name.size() && trimmed(name[first]))
        ++first;
    name.erase(0, first);
    if (name.size() > 64)
        name.resize(64);
    while (!name.empty() && trimmed(name.back()))
        name.pop_back();
    if (name.empty())
        return "Unnamed controller";
    // Windows keeps these names for devices, also with an extension and with blanks before it
    // ("con.txt", "CON .cfg"): the '_' goes after the word, where it makes the name another.
    size_t word = std::min(name.find('.'), name.size());
    while (word > 0 && name[word - 1] == ' ')
        --word;
    std::string upper = name.substr(0, word);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    static const char* const reserved[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                           "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                           "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    for (const char* reservedWord : reserved)
        if (upper == reservedWord)
            return name.substr(0, word) + '_' + name.substr(word);
    return name;
}

std::string TConfigBackups::Stem(const std::tm& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d_%02d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string TConfigBackups::UnitFolderName(const AnsiString& controllerName, int address) {
    return FolderName(controllerName) + " (address " + std::to_string(address) + ")";
}

std::filesystem::path TConfigBackups::Folder(const AnsiString& controllerName, int address) const {
    return Root / UnitFolderName(controllerName, address);
}

std::filesystem::path TConfigBackups::NameOnlyFolder(const AnsiString& controllerName) const {
    return Root / FolderName(controllerName);
}

TConfigBackups::TBackup TConfigBackups::NewBackup(const AnsiString& controllerName, int address,
                                                  std::time_t now) const {
    std::tm local{};
    {
        // std::localtime shares one result between callers.
        static std::mutex mutex;
        std::lock_guard<std::mutex> lock(mutex);
        if (const std::tm* t = std::localtime(&now))
            local = *t;
    }
    const std::filesystem::path folder = Folder(controllerName, address);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw EConfig("Couldn't create the backup folder " + folder.string() + ": " + error.message() + ".");
    const std::string base = Stem(local);
    // A name is ours once its file is created exclusively; whatever already holds it (a file, a
    // folder, a link even to nowhere) moves the backup to the next number.
    const auto take = [](const std::filesystem::path& path) {
        std::error_code failure;
        std::FILE* file = CreateNewFile(path, failure);
        if (file) {
            std::fclose(file);
            return true;
        }
        if (failure == std::errc::file_exists)
            return false;
        throw EConfig("Couldn't create the backup " + path.string() + ": " + failure.message() + ".");
    };
    for (int n = 1; n < 10000; ++n) {
        TBackup backup;
        backup.Stem = n == 1 ? base : base + "_" + std::to_string(n);
        backup.Controller = folder / (backup.Stem + ControllerSuffix);
        backup.Tool = folder / (backup.Stem + ToolSuffix);
        std::error_code ignored;
        if (std::filesystem::exists(std::filesystem::symlink_status(backup.Tool, ignored)))
            continue; // half of an earlier backup
        if (!take(backup.Controller))
            continue;
        try {
            if (take(backup.Tool))
                return backup;
        } catch (...) {
            std::filesystem::remove(backup.Controller, ignored);
            throw;
        }
        std::filesystem::remove(backup.Controller, ignored);
    }
    throw EConfig("Couldn't create a backup in " + folder.string() + ": every name of this second is taken.");
}

namespace {

// The backups in one folder, by their order; a backup counts when either of its files is there.
void ListFolder(const std::filesystem::path& folder, bool nameOnly,
                std::map<std::tuple<std::string, int, bool>, TConfigBackups::TBackup>& found) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code statusError;
        if (!it->is_regular_file(statusError) || it->is_symlink(statusError))
            continue; // a folder or a link named like a backup is no backup
        std::string stem;
        if (EndsWith(name, ControllerSuffix))
            stem = name.substr(0, name.size() - std::char_traits<char>::length(ControllerSuffix));
        else if (EndsWith(name, ToolSuffix))
            stem = name.substr(0, name.size() - std::char_traits<char>::length(ToolSuffix));
        else
            continue;
        const auto order = StemOrder(stem);
        if (!order)
            continue;
        // A name-only backup sorts before the unit's own of the same second (false < true).
        TConfigBackups::TBackup& backup = found[{order->first, order->second, !nameOnly}];
        backup.Stem = stem;
        backup.Controller = folder / (stem + ControllerSuffix);
        backup.Tool = folder / (stem + ToolSuffix);
        backup.NameOnly = nameOnly;
    }
}

std::vector<TConfigBackups::TBackup>
Ordered(std::map<std::tuple<std::string, int, bool>, TConfigBackups::TBackup>& found) {
    std::vector<TConfigBackups::TBackup> backups;
    for (auto& [order, backup] : found)
        backups.push_back(std::move(backup));
    return backups;
}

} // namespace

std::vector<TConfigBackups::TBackup> TConfigBackups::List(const AnsiString& controllerName,
                                                          int address) const {
    std::map<std::tuple<std::string, int, bool>, TBackup> found;
    ListFolder(Folder(controllerName, address), false, found);
    ListFolder(NameOnlyFolder(controllerName), true, found);
    return Ordered(found);
}

TConfigBackups::TPruneResult TConfigBackups::Prune(const AnsiString& controllerName, int address,
                                                   size_t keep) const {
    TPruneResult result;
    // Only the unit's own folder: a name-only folder may hold another unit's backups.
    std::map<std::tuple<std::string, int, bool>, TBackup> found;
    ListFolder(Folder(controllerName, address), false, found);
    const std::vector<TBackup> backups = Ordered(found);
    for (size_t i = 0; i + keep < backups.size(); ++i)
        for (const auto& file : {backups[i].Controller, backups[i].Tool}) {
            std::error_code error;
            // Listed when either file is a regular file; the other name may hold anything.
            const auto status = std::filesystem::symlink_status(file, error);
            if (!std::filesystem::is_regular_file(status))
                continue;
            if (std::filesystem::remove(file, error))
                result.Removed.push_back(file);
            else if (error)
                result.Warnings.push_back("Couldn't delete the old backup " + file.string() + ": " +
                                          error.message() + ".");
        }
    return result;
}

void TConfigBackups::Discard(const TBackup& backup) {
    std::error_code ignored;
    std::filesystem::remove(backup.Controller, ignored);
    std::filesystem::remove(backup.Tool, ignored);
}
