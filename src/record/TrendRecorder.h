#pragma once
// TTrendRecorder: a CSV file of the trend, streamed to disk as it comes.
//
//   # Korva trend recording; controller "IXA40 CELL 3", version 4.2; started 2026-12-08T13:40:01.123+01:00;
//   ... Time,Seconds [s],Command force [N],Actual force [N],Position [mm],Orientation [deg],Active,Mode,Tool
//   number 2026-12-08T13:40:01.123+01:00,0.000,12.5,12.48,25,20.000,1,0,3
//
// A row gives the local time (ISO 8601, milliseconds, offset from UTC), the seconds since the start
// and the values held at that moment; a value not known (offline, or not yet delivered) is an empty
// cell. Numbers always use "."; forces and position are written as delivered (shortest exact form).
// The caller writes a row at each delivery and calls Tick often (a few times a second): Tick adds a
// row in every second of the recording that has none yet, and flushes what is written, so a crash
// loses at most the last second. Nothing is kept in memory: a recording can run for days.
//
// Errors: a file that cannot be created or written raises ETrendRecord (with the system's reason);
// the recorder is then closed.
// Threads: one thread at a time.

#include "record/TrendHistory.h"

#include <cstdint>
#include <cstdio>
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
};

class TTrendRecorder {
public:
    TTrendRecorder(const std::string& path, const TTrendRecordHeader& header, const TTrendTime& start);
    ~TTrendRecorder();
    TTrendRecorder(const TTrendRecorder&) = delete;
    TTrendRecorder& operator=(const TTrendRecorder&) = delete;

    // One row of the values history holds now.
    void Row(const TTrendHistory& history, const TTrendTime& now);
    // A row if this second of the recording has none yet; a flush if anything is unflushed.
    void Tick(const TTrendHistory& history, const TTrendTime& now);
    // The link's unit texts changed: a comment line says so, and the rows after it use them.
    void SetUnits(const std::string& forceUnits, const std::string& lengthUnits, const TTrendTime& now);
    void Close();

    const std::string& Path() const { return FilePath; }
    uint64_t Rows() const { return RowCount; }
    double Elapsed(const TTrendTime& now) const { return now.Seconds - Start.Seconds; }
    bool IsOpen() const { return File != nullptr; }

private:
    void Write(const std::string& text);
    void Flush();
    [[noreturn]] void Fail(const char* what);

    std::string FilePath;
    std::FILE* File = nullptr;
    TTrendTime Start;
    std::string ForceUnits, LengthUnits;
    uint64_t RowCount = 0;
    int64_t LastRowSecond = -1;
    bool Dirty = false;
};

// Local time as ISO 8601 with milliseconds and the offset from UTC: "2026-12-08T13:40:01.123+01:00".
std::string IsoLocalTime(std::chrono::system_clock::time_point time);
