#pragma once
// TConfigText: a configuration text ("*.cfg" file or a controller's dump) read as the controller would
// take it, line by line: each line a command "MNEMONIC value" or "MNEMONIC index value".
//
// A line's key names the parameter it writes: the mnemonic (upper case, as the controller takes it)
// and, for an indexed parameter, the index ("FL 3"). A tool type ("TT") has no index of its own: it
// belongs to the tool selected by the last "TN" line before it, as in the tool dump. When several
// lines write the same key, the last one is what the controller ends up holding. A line that is no
// such command (empty, a query, an unknown shape) is kept with its whole text as its key, after a
// line feed so that it never meets a parameter's key.
//
// Plain C++, no toolkit; the console's windows and the command-line program share it.
// Errors: Parse and the comparisons never throw (any bytes are read); SaveToFile raises EConfig.
// Threads: no shared state; one object per thread.

#include "link/IxaParameterTable.h"
#include "platform/SysUtils.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

class EConfig : public Exception {
public:
    using Exception::Exception;
};

// The parameter facts come from the link's one registry.
using TValueKind = TIxaValueKind;
using TUnitKind = TIxaUnit;
using TParameterInfo = TIxaParameter;

// The parameter of this mnemonic (upper case), or nullptr.
const TParameterInfo* FindParameter(std::string_view mnemonic);

// "In."/"mm", "Lbf."/"N", "Lb."/"kg"; empty for TUnitKind::None.
AnsiString UnitText(TUnitKind unit, bool english);

struct TConfigEntry {
    size_t LineNumber = 0; // from 1
    AnsiString Line;       // as in the text, line end removed
    AnsiString Mnemonic;   // upper case; empty when the line is no command of the form above
    int Index = -1;        // explicit index, or the selected tool for "TT"; -1 for none
    AnsiString Value;      // the text after the mnemonic and index, unchanged
    const TParameterInfo* Info = nullptr;
    AnsiString Key;
};

// Whether two values of a parameter are the same to the controller: numbers compare by value at the
// three decimals the controller dumps ("12.5" and "12.500", "-0.000" and "0"), integers and flags by
// value ("07" and "7"), texts byte for byte. A number the controller could not read compares as text.
bool SameValue(const TParameterInfo* info, const AnsiString& a, const AnsiString& b);

class TConfigText {
public:
    static constexpr size_t MaxLines = 100000; // more lines than this are left out

    // Lines end in LF or CR LF; a text that does not end in a line end still has its last line.
    static TConfigText Parse(std::string_view text);
    static TConfigText FromLines(const std::vector<AnsiString>& lines);
    // The whole text of a configuration file; EConfig when it cannot be read, is no regular file or
    // is larger than MaxFileSize (no configuration comes near it).
    static constexpr std::uintmax_t MaxFileSize = 1024 * 1024;
    static AnsiString ReadFile(const std::filesystem::path& fileName);

    // The line that the controller ends up holding for key, or nullptr.
    const TConfigEntry* Find(const AnsiString& key) const;
    // The last "CU" line's flag: true English, false metric; none without a readable "CU" line.
    std::optional<bool> EnglishUnits() const;
    // A tool configuration (the "DTC" dump): tool lines ("TN", "TT", "TW") and no controller
    // parameter besides the units.
    bool IsToolConfiguration() const;
    std::vector<AnsiString> Lines() const;
    // Writes the lines, each ended by LF, replacing the file only once all of it is written.
    void SaveToFile(const std::filesystem::path& fileName) const;

    std::vector<TConfigEntry> Entries; // every line, in order

private:
    void Add(AnsiString line);
    int SelectedTool = -1;
};
