#pragma once
// TConfigCompare: a configuration file against the controller's dump, one row per parameter, as the
// controller would take both (TConfigText): the value each key ends up with on either side, compared
// by SameValue. Rows follow the file; parameters only in the dump follow at the end, in dump order.
//
// Units: the "CU" line of each side says in which units its numbers are. The file's numbers are taken
// in the file's units (its "CU" line comes first in a dump); when they differ from the controller's,
// every number is read in other units, which the caller shows as a warning. A side without a
// readable "CU" line takes the other side's units (the controller's may be given by the caller).
//
// Plain C++, no toolkit; no errors; no shared state.

#include "config/ConfigText.h"

enum class TCompareState { Same, Differs, FileOnly, ControllerOnly };

struct TCompareRow {
    AnsiString Key;       // "FL 3", "CN"; for a line that is no command, its text
    AnsiString Parameter; // what to show for the key
    AnsiString Name;      // plain name; empty for an unknown parameter
    AnsiString FileValue, ControllerValue;
    AnsiString FileUnits, ControllerUnits;   // each side's unit text (empty for plain numbers)
    size_t FileLine = 0, ControllerLine = 0; // line numbers from 1; 0 when not on that side
    TCompareState State = TCompareState::Same;
};

class TConfigCompare {
public:
    // controllerEnglish: the controller's units when its dump has no "CU" line.
    static TConfigCompare Compare(const TConfigText& file, const TConfigText& controller,
                                  std::optional<bool> controllerEnglish = std::nullopt);

    bool UnitsDiffer() const {
        return FileEnglish && ControllerEnglish && *FileEnglish != *ControllerEnglish;
    }
    // The warning to show at the top, or empty when the units agree.
    AnsiString UnitsWarning() const;
    // Rows that are not the same (different, or on one side only).
    size_t Differences() const;

    std::vector<TCompareRow> Rows;
    std::optional<bool> FileEnglish, ControllerEnglish;
};
