#include "sim/SimDevice.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

namespace sim {

enum class TKind { Real, Int, Flag, Text };
enum class TAccess { ReadWrite, ReadOnly, WriteOnly };

struct TParamDef {
    std::string_view Name;
    TKind Kind;
    TSimUnit Unit;
    int Count; // 0: no index; -1: one per entry of a function-name list
    TAccess Access;
};

namespace {

using U = TSimUnit;
using K = TKind;
constexpr TAccess RW = TAccess::ReadWrite, RO = TAccess::ReadOnly, WO = TAccess::WriteOnly;

constexpr TParamDef ParamTable[] = {
    {"VER", K::Text, U::None, 0, RO},   {"CN", K::Text, U::None, 0, RW},
    {"TT", K::Text, U::None, 0, RW},    {"NA", K::Int, U::None, 0, RW},
    {"TN", K::Int, U::None, 0, RW},     {"LIM", K::Int, U::None, 0, RO},
    {"CFI", K::Int, U::None, 0, RW},    {"ARI", K::Int, U::None, 0, RW},
    {"TNI", K::Int, U::None, 0, RW},    {"CFL", K::Int, U::None, 0, WO},
    {"DIF", K::Int, U::None, 4, RW},    {"DOF", K::Int, U::None, 4, RW},
    {"AOF", K::Int, U::None, 2, RW},    {"CF", K::Real, U::Force, 0, RW},
    {"CP", K::Real, U::Length, 0, RW},  {"MF", K::Real, U::Force, 0, RO},
    {"MW", K::Real, U::Weight, 0, RO},  {"MP", K::Real, U::Length, 0, RO},
    {"AF", K::Real, U::Force, 0, RO},   {"POS", K::Real, U::Length, 0, RO},
    {"SA", K::Real, U::None, 0, RO},    {"CTW", K::Real, U::Weight, 0, RO},
    {"RLP", K::Real, U::Length, 0, RW}, {"ELP", K::Real, U::Length, 0, RW},
    {"FS", K::Real, U::None, 0, RW},    {"FO", K::Real, U::Force, 0, RW},
    {"AS", K::Real, U::None, 0, RW},    {"AO", K::Real, U::None, 0, RW},
    {"PS", K::Real, U::None, 0, RW},    {"PO", K::Real, U::Length, 0, RW},
    {"AIN", K::Real, U::None, 0, RO},   {"AOUT", K::Real, U::None, 2, RO},
    {"CMF", K::Real, U::Force, 11, RW}, {"TW", K::Real, U::Weight, TSimDevice::ToolCount, RW},
    {"FL", K::Real, U::Force, 16, RW},  {"TC", K::Flag, U::None, 0, RO},
    {"ACT", K::Flag, U::None, 0, RW},   {"CM", K::Flag, U::None, 0, RW},
    {"PM", K::Flag, U::None, 0, RW},    {"ES", K::Flag, U::None, 0, RW},
    {"SPO", K::Flag, U::None, 0, RW},   {"CU", K::Flag, U::None, 0, RW},
    {"RDI", K::Int, U::None, 0, RO},    {"RDO", K::Int, U::None, 0, RO},
    {"NDIF", K::Int, U::None, 0, RO},   {"DIFD", K::Text, U::None, -1, RO},
    {"NDOF", K::Int, U::None, 0, RO},   {"DOFD", K::Text, U::None, -1, RO},
    {"NAOF", K::Int, U::None, 0, RO},   {"AOFD", K::Text, U::None, -1, RO},
};

// The controller configuration dump, in the order it is sent back: units first, so that the values after
// them are read in the units they were written in; the address last, so that a dump from a unit
// at another address applies in full before the unit moves away.
constexpr std::string_view DumpOrder[] = {"CU", "CN", "CFI", "ARI", "TNI", "RLP", "ELP", "FS",  "FO", "AS",
                                          "AO", "PS", "PO",  "CMF", "FL",  "DIF", "DOF", "AOF", "NA"};

constexpr double MmPerInch = 25.4;
constexpr double NewtonPerPoundForce = 4.4482216152605;
constexpr double KgPerPound = 0.45359237;
constexpr double Gravity = 9.8;    // how the console turns a tool weight in kg into a force
constexpr double ForceLagS = 0.25; // time constant of the force loop
constexpr double SlideSpeed = 100; // mm/s
constexpr double ContactAt = 0.6;  // workpiece surface, as a fraction of the stroke
constexpr double Tolerance = 5e-4; // a value sent with three decimals may be rounded up
constexpr size_t MaxTextLength = 32;

const TParamDef* Find(std::string_view name) {
    for (const auto& def : ParamTable)
        if (def.Name == name)
            return &def;
    return nullptr;
}

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool ParseInt(std::string_view text, int& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

bool ParseReal(std::string_view text, double& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end && std::isfinite(value);
}

bool ParseInfinity(std::string_view text, double& value) {
    if (text != "inf" && text != "-inf")
        return false;
    value =
        text[0] == '-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
}

std::string FormatReal(double value) {
    if (std::fabs(value) < Tolerance)
        value = 0.0; // no "-0.000"
    char buf[64];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
    return ec == std::errc() ? std::string(buf, ptr) : std::string("0.000");
}

std::string FormatInt(long value) {
    char buf[24];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, ptr);
}

std::string FormatVersion(double version) {
    char buf[32];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, version);
    std::string text(buf, ptr);
    if (text.find('.') == std::string::npos)
        text += ".0";
    return text;
}

TSimReply ErrorReply(int number) {
    return {{"Error " + FormatInt(number), "OK"}, 0};
}

} // namespace

TSimDevice::TSimDevice(const TSimOptions& options, TSimClock::time_point now)
    : VersionText(options.VersionText.empty() ? FormatVersion(options.Version) : options.VersionText),
      DinNames{"None",       "Activate",   "Retract",    "Tool Bit 0",
               "Tool Bit 1", "Tool Bit 2", "Tool Bit 3", "Emergency Stop"},
      DoutNames{"None", "Active", "Tool Connected", "In Position", "Force Reached", "At Limit"},
      AoutNames{"None", "Actual Force", "Command Force", "Position"}, Start(now), Last(now),
      WeighMs(options.WeighMs) {
    const char* types[] = {"Deburring Spindle", "Gripper", "Sanding Head", "Polishing Pad"};
    std::vector<double> weights(ToolCount), levels(16), contour(11);
    for (int i = 0; i < ToolCount; ++i) {
        ToolTypes[i] = i < 4 ? types[i] : "Tool " + FormatInt(i);
        ToolMass[i] = 0.8 + 0.45 * ((i * 7) % 11) + 0.013 * i;
        weights[i] = std::round(ToolMass[i] * 10.0) / 10.0; // entered by hand, to 0.1 kg
        levels[i] = 25.0 * i;
    }
    for (int i = 0; i < 11; ++i)
        contour[i] = 20.0 + 8.0 * i;
    Values = {
        {"NA", {double(options.NetAddress)}},
        {"TN", {0}},
        {"CFI", {0}},
        {"ARI", {0}},
        {"TNI", {0}},
        {"DIF", {1, 2, 3, 4}},
        {"DOF", {1, 2, 3, 4}},
        {"AOF", {1, 3}},
        {"CF", {50}},
        {"CP", {75}},
        {"MF", {500}},
        {"MW", {25}},
        {"MP", {150}},
        {"AF", {0}},
        {"POS", {5}},
        {"SA", {0}},
        {"RLP", {5}},
        {"ELP", {145}},
        {"FS", {1}},
        {"FO", {0}},
        {"AS", {1}},
        {"AO", {0}},
        {"PS", {1}},
        {"PO", {0}},
        {"AIN", {0}},
        {"CMF", contour},
        {"TW", weights},
        {"FL", levels},
        {"TC", {options.ToolConnected ? 1.0 : 0.0}},
        {"ACT", {0}},
        {"CM", {0}},
        {"PM", {0}},
        {"ES", {0}},
        {"SPO", {0}},
        {"CU", {options.EnglishUnits ? 1.0 : 0.0}},
        {"RDI", {0}},
    };
}

double& TSimDevice::At(std::string_view name, int index) {
    return const_cast<double&>(std::as_const(*this).Slot(name, index));
}

double TSimDevice::At(std::string_view name, int index) const {
    return Slot(name, index);
}

const double& TSimDevice::Slot(std::string_view name, int index) const {
    const auto found = Values.find(name);
    if (found == Values.end())
        throw std::logic_error("the simulated controller holds no value " + std::string(name));
    return found->second.at(static_cast<size_t>(index));
}

std::vector<std::string> TSimDevice::ParameterNames() {
    std::vector<std::string> names;
    for (const TParamDef& def : ParamTable)
        names.emplace_back(def.Name);
    return names;
}

int TSimDevice::NetAddress() const {
    return static_cast<int>(At("NA"));
}

double TSimDevice::ToLine(TSimUnit unit, double metric) const {
    if (!Flag("CU"))
        return metric;
    switch (unit) {
    case TSimUnit::Length:
        return metric / MmPerInch;
    case TSimUnit::Force:
        return metric / NewtonPerPoundForce;
    case TSimUnit::Weight:
        return metric / KgPerPound;
    case TSimUnit::None:
        break;
    }
    return metric;
}

double TSimDevice::FromLine(TSimUnit unit, double value) const {
    if (!Flag("CU"))
        return value;
    switch (unit) {
    case TSimUnit::Length:
        return value * MmPerInch;
    case TSimUnit::Force:
        return value * NewtonPerPoundForce;
    case TSimUnit::Weight:
        return value * KgPerPound;
    case TSimUnit::None:
        break;
    }
    return value;
}

double TSimDevice::VersionNumber() const {
    double v = 0;
    auto [ptr, ec] = std::from_chars(VersionText.data(), VersionText.data() + VersionText.size(), v);
    return ec == std::errc() ? v : 0.0;
}

std::vector<std::string>* TSimDevice::NameList(std::string_view name) {
    if (name == "NDIF" || name == "DIFD")
        return &DinNames;
    if (name == "NDOF" || name == "DOFD")
        return &DoutNames;
    if (name == "NAOF" || name == "AOFD")
        return &AoutNames;
    return nullptr;
}

const std::vector<std::string>* TSimDevice::NameList(std::string_view name) const {
    return const_cast<TSimDevice*>(this)->NameList(name);
}

int TSimDevice::ListCount(const std::vector<std::string>* list) const {
    const auto reported = ReportedCounts.find(list);
    return reported != ReportedCounts.end() ? reported->second : static_cast<int>(list->size());
}

int TSimDevice::Count(const TParamDef& def) const {
    return def.Count >= 0 ? def.Count : ListCount(NameList(def.Name));
}

void TSimDevice::PositionRange(double& lo, double& hi) const {
    // A negative maximum (a fault set for tests) gives no travel rather than an empty clamp.
    const double rlp = At("RLP"), elp = At("ELP"), mp = std::max(At("MP"), 0.0);
    lo = std::clamp(std::min(rlp, elp), 0.0, mp);
    hi = std::clamp(std::max(rlp, elp), 0.0, mp);
}

double TSimDevice::ContourForce(double position) const {
    const double mp = At("MP");
    const double x = std::clamp(mp > 0 ? position / mp * 10.0 : 0.0, 0.0, 10.0);
    const int i = std::min(static_cast<int>(x), 9);
    return At("CMF", i) + (At("CMF", i + 1) - At("CMF", i)) * (x - i);
}

void TSimDevice::Advance(TSimClock::time_point now) {
    const double dt = std::chrono::duration<double>(now - Last).count();
    if (dt <= 0)
        return;
    Last = now;
    const bool active = Flag("ACT") && Flag("TC");
    double lo, hi;
    PositionRange(lo, hi);
    double target = lo;
    if (active)
        target = std::clamp(Flag("PM") ? At("CP") : ContactAt * At("MP"), lo, hi);
    double& pos = At("POS");
    const double step = SlideSpeed * dt;
    pos = std::fabs(target - pos) <= step ? target : pos + std::copysign(step, target - pos);

    double& af = At("AF");
    if (!active) {
        af = 0;
        return;
    }
    const double command = Flag("PM") ? 0.0 : Flag("CM") ? ContourForce(pos) : At("CF");
    af += (command - af) * (1.0 - std::exp(-dt / ForceLagS));
}

int TSimDevice::LimitBits() const {
    const double pos = At("POS");
    return (pos >= At("ELP") - 1e-3 ? 1 : 0) | (pos <= At("RLP") + 1e-3 ? 2 : 0);
}

bool TSimDevice::OutputOn(int function) const {
    const bool active = Flag("ACT") && Flag("TC");
    switch (function) {
    case 1:
        return active;
    case 2:
        return Flag("TC");
    case 3: {
        double lo, hi;
        PositionRange(lo, hi);
        return active && Flag("PM") && std::fabs(At("POS") - std::clamp(At("CP"), lo, hi)) < 0.01;
    }
    case 4:
        return active && !Flag("PM") && std::fabs(At("AF") - At("CF")) <= 0.01 * At("MF");
    case 5:
        return LimitBits() != 0;
    default:
        return false;
    }
}

int TSimDevice::OutputWord(TSimClock::time_point now) const {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - Start).count();
    int word = (ms / 500) % 2 ? 0x1 : 0; // CPU clock
    word |= 0x2;                         // RS232
    if (Flag("TC"))
        word |= 0x4;
    const int limits = LimitBits();
    if (limits & 1)
        word |= 0x8 | 0x100;
    if (limits & 2)
        word |= 0x10 | 0x200;
    for (int i = 0; i < 4; ++i)
        if (OutputOn(static_cast<int>(At("DOF", i))))
            word |= 1 << (10 + i);
    return word;
}

int TSimDevice::InputWord() const {
    // What the machine's wiring drives: the activate/retract line while the device is active, the
    // tool's coding pins with the tool number while a tool is plugged in, and each general input as
    // the line its function stands for. Bits stored in "RDI" are lines a test or a person holds on.
    const bool tool = Flag("TC");
    const bool active = Flag("ACT") && tool;
    const int toolNumber = static_cast<int>(At("TN"));
    int word = static_cast<int>(At("RDI"));
    if (active)
        word |= 0x1;
    if (tool)
        word |= (toolNumber & 0xF) << 5;
    for (int i = 0; i < 4; ++i) {
        const int function = static_cast<int>(At("DIF", i));
        bool on = false;
        if (function == 1)
            on = active;
        else if (function >= 3 && function <= 6)
            on = tool && (toolNumber >> (function - 3)) & 1;
        else if (function == 7)
            on = Flag("ES");
        if (on)
            word |= 1 << (9 + i);
    }
    return word;
}

double TSimDevice::AnalogueIn() const {
    // The force sensor's signal, 10 V at the maximum force.
    const double mf = At("MF");
    return std::clamp(mf > 0 ? At("AF") / mf * 10.0 : 0.0, -10.0, 10.0);
}

double TSimDevice::AnalogueOut(int channel) const {
    const double mf = At("MF"), mp = At("MP");
    double volts = 0;
    switch (static_cast<int>(At("AOF", channel))) {
    case 1:
        volts = mf > 0 ? At("AF") / mf * 10.0 : 0.0;
        break;
    case 2:
        volts = mf > 0 ? At("CF") / mf * 10.0 : 0.0;
        break;
    case 3:
        volts = mp > 0 ? At("POS") / mp * 10.0 : 0.0;
        break;
    default:
        break;
    }
    return std::clamp(volts, -10.0, 10.0);
}

double TSimDevice::Value(const TParamDef& def, int index, TSimClock::time_point now) const {
    const std::string_view name = def.Name;
    if (name == "LIM")
        return LimitBits();
    if (name == "CTW")
        return At("TW", static_cast<int>(At("TN")));
    if (name == "AOUT")
        return AnalogueOut(index);
    if (name == "RDO")
        return OutputWord(now);
    if (name == "RDI")
        return InputWord();
    if (name == "AIN")
        return AnalogueIn();
    if (name == "NDIF" || name == "NDOF" || name == "NAOF")
        return static_cast<double>(ListCount(NameList(name)));
    return At(name, def.Count ? index : 0);
}

std::string TSimDevice::Text(const TParamDef& def, int index, TSimClock::time_point now) const {
    const std::string_view name = def.Name;
    switch (def.Kind) {
    case TKind::Text:
        if (name == "VER")
            return VersionText;
        if (name == "CN")
            return ControllerName;
        if (name == "TT")
            return ToolTypes.at(static_cast<size_t>(At("TN")));
        if (const auto* list = NameList(name); static_cast<size_t>(index) < list->size())
            return list->at(static_cast<size_t>(index));
        return "Function " + FormatInt(index); // one of a reported count beyond the real list
    case TKind::Real:
        return FormatReal(ToLine(def.Unit, Value(def, index, now)));
    case TKind::Int:
    case TKind::Flag:
        break;
    }
    return FormatInt(std::lround(Value(def, index, now)));
}

bool TSimDevice::Bounds(const TParamDef& def, double& lo, double& hi) const {
    const std::string_view name = def.Name;
    if (name == "CF" || name == "CMF" || name == "FL") {
        // The heaviest tool hanging on the slide is the lowest force (the console's gauge range).
        const double mw = ToLine(TSimUnit::Weight, At("MW"));
        lo = Flag("CU") ? -mw : -mw * Gravity;
        hi = ToLine(TSimUnit::Force, At("MF"));
    } else if (name == "CP" || name == "RLP" || name == "ELP") {
        lo = 0;
        hi = ToLine(TSimUnit::Length, At("MP"));
    } else if (name == "TW") {
        lo = 0;
        hi = ToLine(TSimUnit::Weight, At("MW"));
    } else if (name == "FS" || name == "AS" || name == "PS" || name == "FO" || name == "AO" || name == "PO") {
        lo = -1000;
        hi = 1000;
    } else if (name == "NA" || name == "TN" || name == "CFL") {
        lo = 0;
        hi = 15;
    } else if (name == "CFI") {
        lo = 0;
        hi = 2;
    } else if (name == "ARI" || name == "TNI" || def.Kind == TKind::Flag) {
        lo = 0;
        hi = 1;
    } else if (name == "DIF" || name == "DOF" || name == "AOF") {
        lo = 0;
        hi = static_cast<double>((name == "DIF"   ? DinNames
                                  : name == "DOF" ? DoutNames
                                                  : AoutNames)
                                     .size()) -
             1;
    } else {
        return false;
    }
    return true;
}

int TSimDevice::Store(const TParamDef& def, int index, const std::string& text) {
    const std::string_view name = def.Name;
    if (def.Kind == TKind::Text) {
        if (text.size() > MaxTextLength)
            return 3;
        (name == "CN" ? ControllerName : ToolTypes.at(static_cast<size_t>(At("TN")))) = text;
        return 0;
    }
    double value = 0;
    if (def.Kind == TKind::Real) {
        if (!ParseReal(text, value))
            return 2;
    } else {
        int number = 0;
        if (!ParseInt(text, number))
            return 2;
        value = number;
    }
    double lo, hi;
    if (Bounds(def, lo, hi) && (value < lo - Tolerance || value > hi + Tolerance))
        return 3;
    if (name == "ACT" && value != 0 && Flag("ES"))
        return 5;
    if (name == "CFL") {
        At("CF") = At("FL", static_cast<int>(value));
        return 0;
    }
    At(name, def.Count ? index : 0) = FromLine(def.Unit, value);
    if (name == "ES" && value != 0)
        At("ACT") = 0;
    return 0;
}

std::string TSimDevice::SetLine(const TParamDef& def, int index) const {
    std::string line(def.Name);
    line += ' ';
    if (def.Count != 0) {
        line += FormatInt(index);
        line += ' ';
    }
    return line + Text(def, index, Last);
}

std::vector<std::string> TSimDevice::Dump(bool tools) const {
    std::vector<std::string> lines;
    if (tools) {
        // Tool weights are in the units of the dump, so the units go first here too.
        lines.push_back(SetLine(*Find("CU"), 0));
        const TParamDef& tn = *Find("TN");
        const TParamDef& tw = *Find("TW");
        for (int i = 0; i < ToolCount; ++i) {
            lines.push_back("TN " + FormatInt(i));
            lines.push_back("TT " + ToolTypes[static_cast<size_t>(i)]);
            lines.push_back(SetLine(tw, i));
        }
        lines.push_back(SetLine(tn, 0));
        return lines;
    }
    for (std::string_view name : DumpOrder) {
        const TParamDef& def = *Find(name);
        if (def.Count == 0)
            lines.push_back(SetLine(def, 0));
        for (int i = 0; i < def.Count; ++i)
            lines.push_back(SetLine(def, i));
    }
    return lines;
}

TSimReply TSimDevice::Execute(const std::string& command, TSimClock::time_point now) {
    Advance(now);
    if (command.empty())
        return {{"OK"}, 0};
    size_t length = 0;
    while (length < command.size() && IsLetter(command[length]))
        ++length;
    const std::string name = Upper(std::string_view(command).substr(0, length));
    const std::string_view rest = std::string_view(command).substr(length);
    int number = 0;

    if (name == "DCC" || name == "DTC") {
        if (!rest.empty())
            return ErrorReply(2);
        TSimReply reply{Dump(name == "DTC"), 0};
        reply.Lines.push_back("OK");
        return reply;
    }
    if (name == "SC") {
        if (rest.empty() || rest == " 0" || rest == " 1")
            return {{"OK"}, 500};
        return ErrorReply(rest.size() > 1 && rest[0] == ' ' && ParseInt(rest.substr(1), number) ? 3 : 2);
    }
    if (name == "ATW") {
        if (rest.size() < 2 || rest[0] != ' ' || !ParseInt(rest.substr(1), number))
            return ErrorReply(2);
        if (number < 0 || number >= ToolCount)
            return ErrorReply(3);
        if (!Flag("TC"))
            return ErrorReply(5);
        At("TW", number) = ToolMass[static_cast<size_t>(number)];
        return {{"OK"}, WeighMs};
    }

    const TParamDef* def = Find(name);
    if (!def)
        return ErrorReply(1);
    // The digital snapshots came after 4.1: taken exactly where the link starts to ask for them.
    if ((name == "RDI" || name == "RDO") && !(VersionNumber() > 4.1))
        return ErrorReply(1);

    if (!rest.empty() && rest[0] == '?') {
        const std::string_view arg = rest.substr(1);
        if (def->Access == TAccess::WriteOnly)
            return ErrorReply(2);
        if (def->Count == 0 && !arg.empty())
            return ErrorReply(2);
        if (def->Count != 0 && (arg.size() < 2 || arg[0] != ' ' || !ParseInt(arg.substr(1), number) ||
                                number < 0 || number >= Count(*def)))
            return ErrorReply(2);
        return {{Text(*def, number, now), "OK"}, 0};
    }
    if (!rest.empty() && rest[0] == ' ') {
        if (def->Access == TAccess::ReadOnly)
            return ErrorReply(4);
        std::string_view arg = rest.substr(1);
        if (def->Count != 0) {
            const size_t blank = arg.find(' ');
            if (blank == std::string_view::npos || !ParseInt(arg.substr(0, blank), number) || number < 0 ||
                number >= Count(*def))
                return ErrorReply(2);
            arg = arg.substr(blank + 1);
        }
        const int error = Store(*def, number, std::string(arg));
        return error ? ErrorReply(error) : TSimReply{{"OK"}, 0};
    }
    return ErrorReply(2);
}

namespace {

const TParamDef& Direct(const std::string& name, int index, int count) {
    const TParamDef* def = Find(name);
    if (!def || def->Access == TAccess::WriteOnly)
        throw std::invalid_argument("no such parameter: " + name);
    if (def->Count == 0 ? index >= 0 : (index < 0 || index >= count))
        throw std::invalid_argument("bad index for " + name);
    return *def;
}

} // namespace

std::string TSimDevice::Parameter(const std::string& name, int index, TSimClock::time_point now) {
    Advance(now);
    const TParamDef* def = Find(name);
    const TParamDef& d = Direct(name, index, def ? Count(*def) : 0);
    return Text(d, index, now);
}

void TSimDevice::SetParameter(const std::string& name, const std::string& value, int index,
                              TSimClock::time_point now) {
    Advance(now);
    const TParamDef* found = Find(name);
    const TParamDef& def = Direct(name, index, found ? Count(*found) : 0);
    if (name == "VER") {
        VersionText = value;
        return;
    }
    if (name == "CN" || name == "TT") {
        (name == "CN" ? ControllerName : ToolTypes.at(static_cast<size_t>(At("TN")))) = value;
        return;
    }
    if (auto* list = NameList(name)) {
        int count = 0;
        if (def.Kind == TKind::Text) {
            list->at(static_cast<size_t>(index)) = value;
        } else if (ParseInt(value, count) && count >= 0 && count < 64) {
            // a controller with fewer or more functions
            for (int i = static_cast<int>(list->size()); i < count; ++i)
                list->push_back("Function " + FormatInt(i));
            list->resize(static_cast<size_t>(count));
            ReportedCounts.erase(list);
        } else if (ParseInt(value, count) && count >= 64) {
            // A broken controller's count (two billion): reported, and every index answers a name.
            ReportedCounts[list] = count;
        } else {
            throw std::invalid_argument("bad count for " + name);
        }
        return;
    }
    if (name == "LIM" || name == "RDO" || name == "AOUT" || name == "AIN")
        throw std::invalid_argument(name + " follows from the device state");
    double v = 0;
    int n = 0;
    // Set directly, a real may also be "inf" or "-inf": a controller fault the protocol cannot cause.
    if (def.Kind == TKind::Real ? !ParseReal(value, v) && !ParseInfinity(value, v) : !ParseInt(value, n))
        throw std::invalid_argument("bad value for " + name + ": " + value);
    if (def.Kind != TKind::Real)
        v = n;
    if (name == "TC")
        SetToolConnected(v != 0, now);
    else if (name == "CTW")
        At("TW", static_cast<int>(At("TN"))) = FromLine(def.Unit, v);
    else
        At(name, def.Count ? index : 0) = FromLine(def.Unit, v);
}

void TSimDevice::SetToolConnected(bool connected, TSimClock::time_point now) {
    Advance(now);
    At("TC") = connected ? 1.0 : 0.0;
    if (!connected)
        At("ACT") = 0; // no tool, no force: the device retracts
}

void TSimDevice::SetMountingAngle(double degrees, TSimClock::time_point now) {
    Advance(now);
    At("SA") = std::sin(degrees * 3.14159265358979323846 / 180.0);
}

} // namespace sim
