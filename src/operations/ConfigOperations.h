#pragma once
// The configuration operations every front end offers on a connected controller: back it up,
// compare a file with it, restore a file into it, weigh the tool, save to non-volatile memory.
// Each runs its exchanges through the link, reports progress through a callback and returns what
// it did; showing it (a window, a line of text, JSON) is the front end's.
//
// Plain C++, no toolkit. Errors pass through as the link and the configuration texts raise them
// (EIxa for a refused line, EIxaInterface for the link, EConfig for a file). Threads: the caller's;
// the link's lock keeps the exchanges of one operation together.

#include "config/ConfigBackups.h"
#include "config/ConfigCompare.h"
#include "config/ConfigText.h"
#include "link/IxaInterface.h"

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The console's backup folder under the user's data folder: <data>/Halvane/KorvaWin 3.0/Backups.
std::filesystem::path BackupFolder(const std::filesystem::path& userDataFolder);

struct TBackupResult {
    TConfigBackups::TBackup Backup;
    std::vector<std::filesystem::path> Pruned; // older backups' files deleted to keep the newest
    std::vector<std::string> Warnings;         // what went wrong without spoiling the backup
};

// Both dumps of the connected controller ("DCC", then "DTC") into a new backup named by `now`,
// then the controller's backups pruned to the newest TConfigBackups::KeepCount. A backup that fails
// half way is removed whole before the failure passes on: half a backup is none.
TBackupResult BackUpController(TIxaInterface& link, const TConfigBackups& backups, std::time_t now,
                               const TTransferProgress& progress = {});

// A configuration file beside the controller's matching dump, uploaded into memory.
struct TControllerCompare {
    TConfigText File;
    TConfigText Controller;
    bool Tools = false;                    // a tool configuration: compared with the tool dump
    std::optional<bool> ControllerEnglish; // asked of the controller only when its dump does not say
    TConfigCompare Result;

    const char* Dump() const { return Tools ? "DTC" : "DCC"; }
    const char* DumpName() const { return Tools ? "tool" : "controller"; }
};

// A configuration file read and checked as a restore would take it, before anything is sent.
TConfigText ReadConfigurationFile(const std::filesystem::path& file);

// Uploads the dump that matches the file ("DTC" for a tool file, else "DCC") into memory and
// compares the two by value.
TControllerCompare CompareWithController(TIxaInterface& link, TConfigText file,
                                         const TTransferProgress& progress = {});

struct TRestoreResult {
    size_t Lines = 0; // lines sent
    bool Saved = false;
};

// Downloads a configuration file (the link checks the whole file before the first line goes);
// with save, then keeps it in non-volatile memory ("SC 1"). A refused line stops it with EIxa.
TRestoreResult RestoreFile(TIxaInterface& link, const std::filesystem::path& file, bool save,
                           const TTransferProgress& progress = {});

struct TWeighResult {
    double Weight = 0; // the current tool's weight after the weighing
    AnsiString Units;  // the weight unit, "kg" or "Lb."
    bool Saved = false;
};

// Weighs the current tool (up to 20 s), reads its weight and, with save, keeps it ("SC 1").
TWeighResult WeighTool(TIxaInterface& link, bool save);

// The controller's configuration into non-volatile memory: "SC 1" when full, else "SC".
void SaveControllerConfiguration(TIxaInterface& link, bool full);
