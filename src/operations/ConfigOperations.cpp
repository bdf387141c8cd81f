#include "operations/ConfigOperations.h"
#include "operations/OperationNotices.h"

#include "bus/BusScan.h"
#include "link/IxaParameterTable.h"
#include "platform/StoredSetting.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

std::filesystem::path BackupFolder(const std::filesystem::path& userDataFolder) {
    return userDataFolder / SettingsOrganization / SettingsApplication / "Backups";
}

TBackupResult BackUpController(TIxaInterface& link, const TConfigBackups& backups, std::time_t now,
                               const TTransferProgress& progress) {
    TLinkLock lock(link); // the address is ours, not lent to another unit's poll, for the whole run
    link.AssertConnected();
    // The unit is the name and the address together: a renamed unit, or two of one name on the line,
    // keep backups of their own.
    const AnsiString name = link.GetControllerName();
    const int address = link.Address;
    TBackupResult result;
    result.Backup = backups.NewBackup(name, address, now);
    try {
        link.UploadIxaCfg(result.Backup.Controller.string(), progress);
        link.UploadToolCfg(result.Backup.Tool.string(), progress);
    } catch (...) {
        TConfigBackups::Discard(result.Backup);
        throw;
    }
    // The backup is made; a folder that cannot be tidied is worth a word, not a failure.
    TConfigBackups::TPruneResult pruned = backups.Prune(name, address);
    result.Pruned = std::move(pruned.Removed);
    result.Warnings = std::move(pruned.Warnings);
    NotifyOperation(link, TOperationNotice::BackupTaken, result.Backup.Stem);
    return result;
}

TConfigText ReadConfigurationFile(const std::filesystem::path& file) {
    const AnsiString text = TConfigText::ReadFile(file);
    TIxaInterface::CheckConfigText(text);
    return TConfigText::Parse(text);
}

TControllerCompare CompareWithController(TIxaInterface& link, TConfigText file,
                                         const TTransferProgress& progress) {
    TControllerCompare out;
    out.File = std::move(file);
    out.Tools = out.File.IsToolConfiguration();
    link.AssertConnected();
    out.Controller = TConfigText::FromLines(link.UploadCfgLines(out.Dump(), progress));
    if (!out.Controller.EnglishUnits())
        out.ControllerEnglish = link.GetEnglishUnits();
    out.Result = TConfigCompare::Compare(out.File, out.Controller, out.ControllerEnglish);
    return out;
}

namespace {

constexpr double NewtonPerPoundForce = 4.4482216152605;
constexpr double KgPerPound = 0.45359237;
constexpr double MmPerInch = 25.4;
constexpr double Gravity = 9.8;    // a tool weight in kg as a force, as the gauges take it
constexpr double Tolerance = 5e-4; // a limit read with three decimals may be rounded

// The whole number or flag of a line that passed the check, as the registry reads it ("on" is 1).
std::optional<long> WholeValue(const TConfigEntry& e) {
    const TIxaParameter* p = FindIxaMnemonic(e.Mnemonic);
    if (!p)
        return std::nullopt;
    try {
        return std::lround(ParseIxaValue(*p, e.Value, true).Number);
    } catch (const EIxaValue&) {
        return std::nullopt;
    }
}

std::string Fixed3(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

bool Blank(const AnsiString& line) {
    return line.find_first_not_of(" \t") == AnsiString::npos;
}

// The limits in metric units, whatever the controller's are.
struct TMetricLimits {
    double MaxForce, MaxWeight, MaxPosition;
};

struct TRange {
    double Low, High;
    std::string Unit;
};

// The ends the connected controller sets for the parameter, in the units in force: forces from
// the heaviest tool hanging on the slide up to the maximum force (as the gauges take them),
// positions up to the maximum position, tool weights up to the maximum weight.
std::optional<TRange> ControllerRange(const TIxaParameter& p, const TMetricLimits& l, bool english) {
    const double force = english ? l.MaxForce / NewtonPerPoundForce : l.MaxForce;
    const double weight = english ? l.MaxWeight / KgPerPound : l.MaxWeight;
    const double position = english ? l.MaxPosition / MmPerInch : l.MaxPosition;
    const std::string unit = IxaUnitText(p.Unit, english);
    switch (p.Limit) {
    case TIxaLimit::MaxForce:
        return TRange{english ? -weight : -weight * Gravity, force, unit};
    case TIxaLimit::MaxPosition:
        return TRange{p.HasRange() ? p.Low : 0, position, unit};
    case TIxaLimit::MaxWeight:
        return TRange{p.HasRange() ? p.Low : 0, weight, unit};
    default:
        return std::nullopt;
    }
}

std::string Lower(std::string_view name) {
    std::string text(name);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// Why the controller could not take this line; empty when it can.
std::string LineProblem(const TConfigEntry& e, const TMetricLimits& limits, bool english) {
    // Kind, access, index and the ranges every controller has: the registry's own check.
    const AnsiString refusal = IxaLineRefusal(e.Line);
    if (!refusal.empty())
        return refusal;
    // A line of no parameter cannot be in a configuration the controller wrote: it is refused
    // here rather than half way through the file.
    if (e.Mnemonic.empty())
        return "it is no parameter setting (a mnemonic, a blank and the value)";
    const TIxaParameter* p = FindIxaMnemonic(e.Mnemonic);
    if (!p)
        return "\"" + e.Mnemonic + "\" is no parameter of the controller";
    const std::optional<TRange> range = ControllerRange(*p, limits, english);
    if (!range)
        return {};
    double value = 0;
    try {
        value = ParseIxaValue(*p, e.Value, true).Number;
    } catch (const EIxaValue& error) {
        return error.what();
    }
    if (value < range->Low - Tolerance || value > range->High + Tolerance)
        return e.Value + " is out of range: the " + Lower(p->Name) + " runs from " + Fixed3(range->Low) +
               " to " + Fixed3(range->High) + (range->Unit.empty() ? "" : " " + range->Unit);
    return {};
}

std::string RefusedText(const std::vector<TRefusedLine>& refused) {
    std::string text = refused.size() == 1
                           ? "The file was not downloaded: one line cannot be taken by the controller."
                           : "The file was not downloaded: " + std::to_string(refused.size()) +
                                 " lines cannot be taken by the controller.";
    constexpr size_t shown = 20;
    for (size_t i = 0; i < refused.size() && i < shown; ++i)
        text += "\nLine " + std::to_string(refused[i].LineNumber) + " (\"" + refused[i].Line +
                "\"): " + refused[i].Reason + (refused[i].Reason.ends_with('.') ? "" : ".");
    if (refused.size() > shown)
        text += "\n... and " + std::to_string(refused.size() - shown) + " more.";
    return text;
}

std::string EnglishList(const std::vector<size_t>& numbers) {
    // Runs of consecutive numbers as "a to b".
    std::vector<std::string> parts;
    for (size_t i = 0; i < numbers.size();) {
        size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        parts.push_back(j == i ? std::to_string(numbers[i])
                               : std::to_string(numbers[i]) + (j == i + 1 ? " and " : " to ") +
                                     std::to_string(numbers[j]));
        i = j + 1;
    }
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text;
}

} // namespace

TKnownLimits ReadKnownLimits(TIxaInterface& link) {
    TKnownLimits limits;
    limits.English = link.GetEnglishUnits();
    limits.MaxForce = link.GetMaxForce();
    limits.MaxWeight = link.GetMaxWeight();
    limits.MaxPosition = link.GetMaxPosition();
    return limits;
}

std::vector<TRefusedLine> CheckConfigValues(const TConfigText& file, const TKnownLimits& limits) {
    const TMetricLimits metric =
        limits.English ? TMetricLimits{limits.MaxForce * NewtonPerPoundForce, limits.MaxWeight * KgPerPound,
                                       limits.MaxPosition * MmPerInch}
                       : TMetricLimits{limits.MaxForce, limits.MaxWeight, limits.MaxPosition};
    bool english = limits.English;
    std::vector<TRefusedLine> refused;
    for (const TConfigEntry& e : file.Entries) {
        if (Blank(e.Line))
            continue;
        const std::string problem = LineProblem(e, metric, english);
        if (!problem.empty())
            refused.push_back({e.LineNumber, e.Line, problem});
        else if (e.Mnemonic == "CU")
            english = WholeValue(e) == 1; // the values after it are in these units
    }
    return refused;
}

EConfigRefused::EConfigRefused(std::vector<TRefusedLine> refused)
    : EConfig(RefusedText(refused)), Refused(std::move(refused)) {}

TDownloadPlan PlanDownload(TIxaInterface& link, const std::filesystem::path& file) {
    TDownloadPlan plan;
    plan.Source = file;
    try {
        plan.File = ReadConfigurationFile(file);
    } catch (const EConfig& error) {
        // A download's file that cannot be read is the link's file error, as the transfer has it.
        throw EIxaInterface(TLinkError::File, AnsiString(IxaInterfaceErrorText[size_t(TLinkError::File)]) +
                                                  " " + error.Message);
    }
    link.AssertOpen();
    link.AssertConnected();
    TLinkLock lock(link); // the probe borrows the link's address
    std::vector<TRefusedLine> refused = CheckConfigValues(plan.File, ReadKnownLimits(link));
    if (!refused.empty())
        throw EConfigRefused(std::move(refused));
    const int address = link.Address;
    AnsiString name;
    bool nameRead = false;
    for (const TConfigEntry& e : plan.File.Entries) {
        if (e.Mnemonic == "NA" && WholeValue(e) != address) {
            TIdentityChange change{e.LineNumber, "NA", std::to_string(address),
                                   std::to_string(*WholeValue(e))};
            TBusScanOptions probe;
            probe.First = probe.Last = int(*WholeValue(e));
            change.Taken = TBusScan(link, probe).Probe(probe.First).has_value();
            plan.Changes.push_back(std::move(change));
        } else if (e.Mnemonic == "CN") {
            if (!nameRead) {
                name = link.GetControllerName();
                nameRead = true;
            }
            if (e.Value != name)
                plan.Changes.push_back({e.LineNumber, "CN", name, e.Value});
        }
    }
    plan.Active = link.GetActive();
    return plan;
}

std::vector<size_t> IdentityLinesLeftOut(const TDownloadPlan& plan, bool move, bool rename) {
    std::vector<size_t> lines;
    for (const TIdentityChange& change : plan.Changes)
        if (change.Move() ? !move : !rename)
            lines.push_back(change.LineNumber);
    return lines;
}

ERestoreRefused::ERestoreRefused(const EIxa& refusal, size_t lineNumber, size_t lineCount, AnsiString line,
                                 std::vector<size_t> applied)
    : EIxa(refusal), LineNumber(lineNumber), Line(std::move(line)), Applied(std::move(applied)) {
    Message = "Line " + std::to_string(LineNumber) + " of " + std::to_string(lineCount) + " (\"" + Line +
              "\") was refused by the controller: " + refusal.Message + ". " +
              (Applied.empty() ? std::string("Nothing was applied.")
                               : "The controller took " + AppliedText() + "; the rest was not sent.");
}

std::string ERestoreRefused::AppliedText() const {
    if (Applied.empty())
        return "no line";
    return (Applied.size() == 1 ? "line " : "lines ") + EnglishList(Applied);
}

TRestoreResult DownloadPlanned(TIxaInterface& link, const TDownloadPlan& plan,
                               const std::vector<size_t>& leaveOut, const TTransferProgress& progress) {
    TLinkLock lock(link);
    link.AssertConnected();
    TConfigTransferScope transfer(link);
    TRestoreResult result;
    const size_t total = plan.File.Entries.size();
    std::vector<size_t> applied;
    const int address = link.Address;
    // The link's address is put back on every way out: the caller's address is the caller's.
    struct TAddressBack {
        TIxaInterface& Link;
        int Address;
        ~TAddressBack() { Link.Address = Address; }
    } back{link, address};
    for (const TConfigEntry& e : plan.File.Entries) {
        if (Blank(e.Line) || std::find(leaveOut.begin(), leaveOut.end(), e.LineNumber) != leaveOut.end()) {
            result.LeftOut.push_back(e.LineNumber);
            continue;
        }
        if (!applied.empty() && link.BetweenExchanges)
            link.BetweenExchanges();
        if (progress)
            progress(e.LineNumber, total, e.Line);
        try {
            link.SendString(e.Line);
            link.VoidReply();
        } catch (const EIxa& refusal) {
            throw ERestoreRefused(refusal, e.LineNumber, total, e.Line, applied);
        }
        applied.push_back(e.LineNumber);
        ++result.Lines;
        if (e.Mnemonic == "NA") {
            const int now = int(WholeValue(e).value_or(link.Address));
            if (now != address) {
                link.Address = now; // the rest of the file goes to the unit where it answers now
                result.MovedTo = now;
            } else {
                result.MovedTo.reset();
                link.Address = address;
            }
        }
    }
    NotifyOperation(link, TOperationNotice::ConfigurationDownloaded,
                    plan.Source.filename().string() + " (" + std::to_string(result.Lines) + " lines)");
    return result;
}

TRestoreResult RestoreFile(TIxaInterface& link, const std::filesystem::path& file, bool save,
                           const TTransferProgress& progress, bool move, bool rename) {
    const TDownloadPlan plan = PlanDownload(link, file);
    TRestoreResult result = DownloadPlanned(link, plan, IdentityLinesLeftOut(plan, move, rename), progress);
    if (save && !result.MovedTo) {
        SaveControllerConfiguration(link, true);
        result.Saved = true;
    }
    return result;
}

TWeighResult WeighTool(TIxaInterface& link, bool save) {
    TWeighResult result;
    link.AutoWeigh();
    result.Weight = link.GetCurrentToolWeight();
    if (save) {
        SaveControllerConfiguration(link, true);
        result.Saved = true;
    }
    link.GetEnglishUnits();
    result.Units = link.WeightUnits;
    return result;
}

void SaveControllerConfiguration(TIxaInterface& link, bool full) {
    link.SaveConfiguration(full);
    NotifyOperation(link, TOperationNotice::SavedToController, full ? "full" : "");
}
