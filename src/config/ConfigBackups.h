#pragma once
// TConfigBackups: where backups of controllers' configurations go. Under the root folder, one folder
// per unit, named by the controller's name and its network address ("Cell 4 (address 3)"), so that a
// renamed unit and two units of the same name on one line each keep their own; in it, each backup is
// a pair of files named by the local date and time it was taken, "2026-12-08_12-40-05 controller.cfg" (the
// "DCC" dump) and "... tool.cfg" (the "DTC" dump). Two backups in the same second get "_2", "_3"... after the
// time. Only files named so are ever counted or deleted, and only when they are regular files: a folder or a
// link named so is left alone. A new backup's names are taken by creating both files empty and exclusively,
// so that nothing already in the folder under that name (a link to a file elsewhere, say) is ever written
// through.
//
// Folders named by the controller's name alone ("Cell 4") hold the backups taken before the address
// was part of the folder's name. They may hold the backups of several units of that name, so they are
// listed with each such unit's own backups but never pruned: nothing there is deleted on a unit's
// behalf. No controller name gives a unit's folder name, since "(" and ")" never survive FolderName.
//
// Plain C++, no toolkit. Errors: file-system failures of a new backup raise EConfig; what pruning
// cannot delete is a warning in its result. Threads: no shared state.

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
        bool NameOnly = false; // in the folder named by the controller's name alone
    };

    struct TPruneResult {
        std::vector<std::filesystem::path> Removed;
        std::vector<std::string> Warnings; // one per file that could not be deleted, with the reason
    };

    explicit TConfigBackups(std::filesystem::path root) : Root(std::move(root)) {}

    // The controller name as a folder name: letters, digits, blank, '.', '-' and '_' kept, every
    // other byte '_'; no leading or trailing blank or dot; a name the system reserves ("CON",
    // "com1.cfg": the part before the first dot) gets a '_' after that part;
    // at most 64 characters; "Unnamed controller" for an empty name.
    static std::string FolderName(const AnsiString& controllerName);
    // The unit's folder name: FolderName, then " (address 3)".
    static std::string UnitFolderName(const AnsiString& controllerName, int address);
    // "2026-12-08_12-40-05" for that local time.
    static std::string Stem(const std::tm& localTime);

    // The unit's folder, where its new backups go.
    std::filesystem::path Folder(const AnsiString& controllerName, int address) const;
    // The folder of the backups taken under that name before the address counted.
    std::filesystem::path NameOnlyFolder(const AnsiString& controllerName) const;
    // Names a new backup of the unit taken at `now` (local time), creates its folder and both its
    // files, empty: the first name in that second that nothing holds yet. Discard removes them again.
    TBackup NewBackup(const AnsiString& controllerName, int address, std::time_t now) const;
    // The unit's backups and those of its name-only folder, oldest first (a backup counts when either
    // of its files is there; in the same second, a name-only one first).
    std::vector<TBackup> List(const AnsiString& controllerName, int address) const;
    // Deletes the files of all but the newest `keep` backups in the unit's own folder; the name-only
    // folder is left as it is. A file that cannot be deleted is left and named in the warnings; the
    // rest goes on.
    TPruneResult Prune(const AnsiString& controllerName, int address, size_t keep = KeepCount) const;
    // Deletes both files of a backup that failed half way (missing files are no error).
    static void Discard(const TBackup& backup);

    std::filesystem::path Root;
};
