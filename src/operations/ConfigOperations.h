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

// Both dumps of the connected controller ("DCC", then "DTC") into a new backup named by `now`, in
// the folder of the unit (its name and the link's address), then that folder's backups pruned to
// the newest TConfigBackups::KeepCount. A backup that fails
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

// A download, checked whole before anything is sent, that never moves or renames the unit unasked.
//
// Every line of the file is checked first: by the link's registry (kind, access, index range and
// the ranges every controller has: addresses and selections 0 to 15), then against the ends the
// connected controller sets: the forces between the heaviest tool hanging on the slide and the
// maximum force, the positions up to the maximum position, the tool weights up to the maximum
// weight (each in the units in force at that line: the controller's, until a "CU" line of the file
// changes them). A line of no parameter is refused too. A file with any refused line sends
// nothing. A blank line is left out. The "NA" and "CN" lines that would move or rename the unit are
// named, for the front end to ask about; what it leaves out is not sent.

// The controller's limits that the check needs, in the controller's own units.
struct TKnownLimits {
    bool English = false;
    double MaxForce = 0, MaxWeight = 0, MaxPosition = 0;
};
TKnownLimits ReadKnownLimits(TIxaInterface& link);

struct TRefusedLine {
    size_t LineNumber = 0; // from 1
    AnsiString Line;
    std::string Reason; // in words: "99999.000 is above the maximum force, 500.000 N"
};
// Every line the controller could not take, in file order; empty when the whole file is fit.
std::vector<TRefusedLine> CheckConfigValues(const TConfigText& file, const TKnownLimits& limits);

// A file with refused lines: the message names each one by number, text and reason.
class EConfigRefused : public EConfig {
public:
    explicit EConfigRefused(std::vector<TRefusedLine> refused);
    std::vector<TRefusedLine> Refused;
};

// A line that would change who the unit is: "NA" (its address) or "CN" (its name).
struct TIdentityChange {
    size_t LineNumber = 0;
    AnsiString Mnemonic; // "NA" or "CN"
    AnsiString Now;      // the unit's address or name now
    AnsiString File;     // what the line would make it
    bool Taken = false;  // for "NA": another unit answers at the new address already
    bool Move() const { return Mnemonic == "NA"; }
};

struct TDownloadPlan {
    std::filesystem::path Source; // the file read
    TConfigText File;
    std::vector<TIdentityChange> Changes; // in file order
    bool Active = false;                  // the carriage is active now
};

// Reads and checks the file (EConfigRefused; EIxaInterface 4 for a file that cannot be read or 7
// for one that is no list of commands; nothing sent), then reads what the unit is
// now: its name, whether it is active and, for an address change, whether another unit answers at
// the new address (one probe; the link's address is the same afterwards).
TDownloadPlan PlanDownload(TIxaInterface& link, const std::filesystem::path& file);

struct TRestoreResult {
    size_t Lines = 0;            // lines sent
    std::vector<size_t> LeftOut; // line numbers not sent (blank, or left out when asked)
    std::optional<int> MovedTo;  // the address the unit answers at now, when a line moved it
    bool Saved = false;
};

// A line the controller refused mid-way. What was sent before it stays in the controller.
class ERestoreRefused : public EIxa {
public:
    ERestoreRefused(const EIxa& refusal, size_t lineNumber, size_t lineCount, AnsiString line,
                    std::vector<size_t> applied);
    size_t LineNumber;
    AnsiString Line;
    std::vector<size_t> Applied; // the line numbers the controller took, in order
    // "lines 1 to 29", "lines 1 to 29 and 31", "no line"
    std::string AppliedText() const;
};

// Sends the plan's file without the lines numbered in leaveOut (and without blank lines). A
// refused line stops it with ERestoreRefused. After an "NA" line that moved the unit, the rest of
// the file follows it to the new address; the link's Address is put back afterwards, so the link
// no longer reaches the unit (MovedTo says where it answers).
TRestoreResult DownloadPlanned(TIxaInterface& link, const TDownloadPlan& plan,
                               const std::vector<size_t>& leaveOut, const TTransferProgress& progress = {});

// The whole file checked first (EConfigRefused), then downloaded without the lines that would move
// or rename the unit unless move / rename; with save, then kept in non-volatile memory ("SC 1"),
// unless the unit moved away.
TRestoreResult RestoreFile(TIxaInterface& link, const std::filesystem::path& file, bool save,
                           const TTransferProgress& progress = {}, bool move = false, bool rename = false);

// The lines of the plan's changes that are left out when the address may not move (move false) and
// the name may not change (rename false).
std::vector<size_t> IdentityLinesLeftOut(const TDownloadPlan& plan, bool move, bool rename);

struct TWeighResult {
    double Weight = 0; // the current tool's weight after the weighing
    AnsiString Units;  // the weight unit, "kg" or "Lb."
    bool Saved = false;
};

// Weighs the current tool (up to 20 s), reads its weight and, with save, keeps it ("SC 1").
TWeighResult WeighTool(TIxaInterface& link, bool save);

// The controller's configuration into non-volatile memory: "SC 1" when full, else "SC".
void SaveControllerConfiguration(TIxaInterface& link, bool full);
