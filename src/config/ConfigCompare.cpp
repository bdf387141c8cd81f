// Comparing a configuration file with the controller's dump.

#include "config/ConfigCompare.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace {

AnsiString UnitsName(bool english) {
    return english ? "English (inches, pounds)" : "metric (millimetres, newtons, kilograms)";
}

TCompareRow Row(const TConfigEntry& entry) {
    TCompareRow row;
    row.Key = entry.Key;
    row.Parameter = entry.Mnemonic.empty() ? entry.Line : entry.Key;
    if (entry.Info)
        row.Name = AnsiString(entry.Info->Name);
    return row;
}

// Each key's last line: the one the controller ends up with. One pass, so that a file of many
// thousand keys compares in linear time.
std::unordered_map<AnsiString, const TConfigEntry*> LastLines(const TConfigText& text) {
    std::unordered_map<AnsiString, const TConfigEntry*> last;
    last.reserve(text.Entries.size());
    for (const TConfigEntry& entry : text.Entries)
        last[entry.Key] = &entry;
    return last;
}

const TConfigEntry* Lookup(const std::unordered_map<AnsiString, const TConfigEntry*>& last,
                           const AnsiString& key) {
    const auto it = last.find(key);
    return it == last.end() ? nullptr : it->second;
}

} // namespace

TConfigCompare TConfigCompare::Compare(const TConfigText& file, const TConfigText& controller,
                                       std::optional<bool> controllerEnglish) {
    TConfigCompare result;
    result.ControllerEnglish = controller.EnglishUnits();
    if (!result.ControllerEnglish)
        result.ControllerEnglish = controllerEnglish;
    result.FileEnglish = file.EnglishUnits();
    if (!result.FileEnglish)
        result.FileEnglish = result.ControllerEnglish;
    const bool fileEnglish = result.FileEnglish.value_or(false);
    const bool controllerUnits = result.ControllerEnglish.value_or(fileEnglish);

    const auto fileLast = LastLines(file);
    const auto controllerLast = LastLines(controller);
    std::unordered_set<AnsiString> seen;
    seen.reserve(fileLast.size() + controllerLast.size());
    for (const TConfigEntry& first : file.Entries) {
        if (!seen.insert(first.Key).second)
            continue;
        const TConfigEntry& mine = *Lookup(fileLast, first.Key); // the last line with the key counts
        TCompareRow row = Row(mine);
        row.FileLine = mine.LineNumber;
        row.FileValue = mine.Value;
        const TConfigEntry* theirs = Lookup(controllerLast, first.Key);
        if (!theirs) {
            row.State = TCompareState::FileOnly;
        } else {
            row.ControllerLine = theirs->LineNumber;
            row.ControllerValue = theirs->Value;
            row.State = SameValue(mine.Info, mine.Value, theirs->Value) ? TCompareState::Same
                                                                        : TCompareState::Differs;
        }
        result.Rows.push_back(std::move(row));
    }
    for (const TConfigEntry& first : controller.Entries) {
        if (!seen.insert(first.Key).second)
            continue;
        const TConfigEntry& theirs = *Lookup(controllerLast, first.Key);
        TCompareRow row = Row(theirs);
        row.ControllerLine = theirs.LineNumber;
        row.ControllerValue = theirs.Value;
        row.State = TCompareState::ControllerOnly;
        result.Rows.push_back(std::move(row));
    }
    for (TCompareRow& row : result.Rows) {
        const TParameterInfo* info = FindParameter(row.Key.substr(0, row.Key.find(' ')));
        const TUnitKind unit = info && row.Key.front() != '\n' ? info->Unit : TUnitKind::None;
        if (row.FileLine)
            row.FileUnits = UnitText(unit, fileEnglish);
        if (row.ControllerLine)
            row.ControllerUnits = UnitText(unit, controllerUnits);
    }
    return result;
}

AnsiString TConfigCompare::UnitsWarning() const {
    if (!UnitsDiffer())
        return "";
    return "The file is in " + UnitsName(*FileEnglish) + " units, the controller in " +
           UnitsName(*ControllerEnglish) +
           " units: downloading it switches the controller's units, and every number below is read in "
           "the file's units.";
}

size_t TConfigCompare::Differences() const {
    return static_cast<size_t>(std::count_if(
        Rows.begin(), Rows.end(), [](const TCompareRow& row) { return row.State != TCompareState::Same; }));
}
