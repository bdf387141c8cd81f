#pragma once
// TTrendRecorder: a CSV file of the trend, streamed to disk as it comes.
//
//   # Korva trend recording,"controller","IXA40 CELL 3","version",4.2,"port","/dev/ttyUSB0","address",0,
//   ..."started","2026-12-08T13:40:01.123+01:00","Active","1 active, 0 retracted","Mode","0 force, ..."
//   "Time","Seconds [s]","Address","Command force [N]","Actual force [N]","Position [mm]",
//   ..."Orientation [deg]","Active","Mode","Tool number"
//   "2026-12-08T13:40:01.123+01:00",0.000,0,12.5,12.48,25,20.000,1,0,3
//
// A row gives the local time (ISO 8601, milliseconds, offset from UTC), the seconds since the start,
// the unit's address and the values held at that moment; a value not known (offline, or not yet
// delivered) is an empty cell. Numbers always use "."; forces and position are written as delivered
// (shortest exact form). Every text cell is quoted, and one that starts with '=', '+', '-', '@', a tab
// or a carriage return gets a leading "'", so that a spreadsheet shows a controller's name or units
// and never runs them. Comment lines start with "# " and are CSV as well: a fixed text, then key and
// value cells. One says when the unit changes (another port or address, or another name once it is
// known), one when the units change; the rows after it are of that unit, in those units.
//
// The caller writes a row at each delivery and calls Tick often (a few times a second): Tick adds a
// row in every second of the recording that has none yet, and flushes what is written, so a crash
// loses at most the last second. Nothing is kept in memory: a recording can run for days.
//
// Errors: a file that cannot be created or written, or that is deleted while it is written, raises
// ETrendRecord (the file's name in UTF-8 and the system's reason); the recorder is then closed.
// Threads: one thread at a time.

#include "record/TrendCsv.h"
#include "record/TrendHistory.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>

class ETrendRecord : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TTrendRecordHeader {
    std::string ControllerName; // empty: not online when the recording started
    double Version = 0;
    std::string ForceUnits = "N";
    std::string LengthUnits = "mm";
    std::string Port{}; // the port's name; empty when none is open
    int Address = 0;
};

// The unit the values come from.
struct TTrendUnit {
    std::string Port;
    int Address = 0;
    std::string ControllerName; // empty: not known (offline, or not read yet)
    double Version = 0;
};

// The name a new recording is offered under, taken at that local time: "IXA Cell 1 2026-12-09 0812.csv".
// What a file name cannot hold on any system (control characters and < > : " / \ | ? *) becomes
// '_'; blanks and dots at either end go; the name is cut to 64 bytes (never inside a UTF-8
// character); an unknown controller (offline) is "Trend".
std::string TrendRecordingName(const std::string& controllerName, const std::tm& localTime);
// Where recordings go unless the user chose another folder: beside the console's backups,
// <data>/Halvane/KorvaWin 3.0/Recordings.
std::filesystem::path TrendRecordingFolder(const std::filesystem::path& userDataFolder);

class TTrendRecorder {
public:
    // path: the file's name as the file system spells it (any script; UTF-16 on Windows).
    TTrendRecorder(const std::filesystem::path& path, const TTrendRecordHeader& header,
                   const TTrendTime& start);
    ~TTrendRecorder();
    TTrendRecorder(const TTrendRecorder&) = delete;
    TTrendRecorder& operator=(const TTrendRecorder&) = delete;

    // One row of the values history holds now.
    void Row(const TTrendHistory& history, const TTrendTime& now);
    // A row if this second of the recording has none yet; a flush if anything is unflushed.
    void Tick(const TTrendHistory& history, const TTrendTime& now);
    // The link's unit texts changed: a comment line says so, and the rows after it use them.
    void SetUnits(const std::string& forceUnits, const std::string& lengthUnits, const TTrendTime& now);
    // The values come from this unit now: a comment line when it is another port or address, or
    // another name once the name is known; the rows after it carry its address.
    void SetUnit(const TTrendUnit& unit, const TTrendTime& now);
    void Close();

    const std::filesystem::path& Path() const { return FilePath; }
    uint64_t Rows() const { return RowCount; }
    double Elapsed(const TTrendTime& now) const { return now.Seconds - Start.Seconds; }
    bool IsOpen() const { return File != nullptr; }

private:
    void Write(const std::string& text);
    void Flush();
    [[noreturn]] void Fail(const std::string& reason);

    std::filesystem::path FilePath;
    std::string Shown; // the name in messages, in UTF-8
    std::FILE* File = nullptr;
    TTrendTime Start;
    std::string ForceUnits, LengthUnits;
    TTrendUnit Unit;
    uint64_t RowCount = 0;
    int64_t LastRowSecond = -1;
    bool Dirty = false;
};
