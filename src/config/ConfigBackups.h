#pragma once
// TConfigBackups: where backups of controllers' configurations go. Under the root folder, one folder
// per controller name; in it, each backup is a pair of files named by the local date and time it was
// taken, "2026-12-08_12-40-05 controller.cfg" (the "DCC" dump) and "... tool.cfg" (the "DTC"
// dump). Two backups in the same second get "_2", "_3"... after the time. Only files named so are
// ever counted or deleted; anything else in the folder is left alone.
//
// Plain C++, no toolkit. Errors: file-system failures raise EConfig. Threads: no shared state.

#include "config/ConfigText.h"

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

class TConfigBackups {
public:
    static constexpr size_t KeepCount = 50;

    struct TBackup {
        std::string Stem; // "2026-12-08_12-40-05" or "2026-12-08_12-40-05_2"
        std::filesystem::path Controller, Tool;
    };

    explicit TConfigBackups(std::filesystem::path root) : Root(std::move(root)) {}

    // The controller name as a folder name: letters, digits, blank, '.', '-' and '_' kept, every
    // other byte '_'; no leading or trailing blank or dot; names the system reserves get a '_';
    // at most 64 characters; "Unnamed controller" for an empty name.
    static std::string FolderName(const AnsiString& controllerName);
    // "2026-12-08_12-40-05" for that local time.
    static std::string Stem(const std::tm& localTime);

    std::filesystem::path Folder(const AnsiString& controllerName) const;
    // Names a new backup taken at `now` (local time) and creates its folder; no file is written.
    TBackup NewBackup(const AnsiString& controllerName, std::time_t now) const;
    // The controller's backups, oldest first (a backup counts when either of its files is there).
    std::vector<TBackup> List(const AnsiString& controllerName) const;
    // Deletes the files of all but the newest `keep` backups; returns the files deleted.
    std::vector<std::filesystem::path> Prune(const AnsiString& controllerName, size_t keep = KeepCount) const;
    // Deletes both files of a backup that failed half way (missing files are no error).
    static void Discard(const TBackup& backup);

    std::filesystem::path Root;
};
