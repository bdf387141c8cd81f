#include "link/IxaParameterTable.h"

#include "link/IxaInterface.h"
#include "link/WireFormat.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using K = TIxaValueKind;
using U = TIxaUnit;
using L = TIxaLimit;
constexpr TIxaAccess RW = TIxaAccess::ReadWrite, RO = TIxaAccess::ReadOnly, WO = TIxaAccess::WriteOnly;
constexpr double Inf = std::numeric_limits<double>::infinity();
// No range known.
constexpr double NoLow = 1, NoHigh = 0;
// The controller's network has sixteen addresses, a unit sixteen tools and force levels.
constexpr int Sixteen = 16;

} // namespace

const TIxaParameter IxaParameters[] = {
    {"VER", "GetVersion", "", K::Text, U::None, RO, 0, NoLow, NoHigh, L::None, "Controller version",
     "controller version text"},
    {"CN", "GetControllerName", "SetControllerName", K::Text, U::None, RW, 0, NoLow, NoHigh, L::None,
     "Controller name", "controller (network) name"},
    {"TT", "GetToolType", "SetToolType", K::Text, U::None, RW, 0, NoLow, NoHigh, L::None, "Tool type",
     "tool type text"},
    {"NA", "GetNetAddress", "SetNetAddress", K::Int, U::None, RW, 0, 0, Sixteen - 1, L::None,
     "Network address", "the controller's own network address"},
    {"TN", "GetToolNumber", "SetToolNumber", K::Int, U::None, RW, 0, 0, Sixteen - 1, L::None, "Selected tool",
     "selected tool"},
    {"LIM", "GetPositionLimit", "", K::Int, U::None, RO, 0, NoLow, NoHigh, L::None, "Position limit value",
     "position limit value"},
    {"CFI", "GetCommandForceInterface", "SetCommandForceInterface", K::Int, U::None, RW, 0, 0, 2, L::None,
     "Command force interface", "interface that supplies the command force"},
    {"ARI", "GetActiveRetractInterface", "SetActiveRetractInterface", K::Int, U::None, RW, 0, 0, 1, L::None,
     "Activate/retract interface", "interface that supplies activate/retract"},
    {"TNI", "GetToolNumberInterface", "SetToolNumberInterface", K::Int, U::None, RW, 0, 0, 1, L::None,
     "Tool number interface", "interface that supplies the tool number"},
    {"CFL", "", "SetCommandForceLevel", K::Int, U::None, WO, 0, 0, Sixteen - 1, L::None,
     "Command force level", "select a stored force level as command force"},
    {"DIF", "GetDinFunction", "SetDinFunction", K::Int, U::None, RW, 4, 0, Inf, L::DinFunctions,
     "Digital input function", "function of digital input I"},
    {"DOF", "GetDoutFunction", "SetDoutFunction", K::Int, U::None, RW, 4, 0, Inf, L::DoutFunctions,
     "Digital output function", "function of digital output I"},
    {"AOF", "GetAoutFunction", "SetAoutFunction", K::Int, U::None, RW, 2, 0, Inf, L::AoutFunctions,
     "Analogue output function", "function of analogue output I"},
    {"CF", "GetCommandForce", "SetCommandForce", K::Real, U::Force, RW, 0, NoLow, NoHigh, L::MaxForce,
     "Command force", "command force"},
    {"CP", "GetCommandPosition", "SetCommandPosition", K::Real, U::Length, RW, 0, 0, Inf, L::MaxPosition,
     "Command position", "command position"},
    {"MF", "GetMaxForce", "", K::Real, U::Force, RO, 0, NoLow, NoHigh, L::None, "Maximum force",
     "maximum force"},
    {"MW", "GetMaxWeight", "", K::Real, U::Weight, RO, 0, NoLow, NoHigh, L::None, "Maximum tool weight",
     "maximum tool weight"},
    {"MP", "GetMaxPosition", "", K::Real, U::Length, RO, 0, NoLow, NoHigh, L::None, "Maximum position",
     "maximum position"},
    {"AF", "GetActualForce", "", K::Real, U::Force, RO, 0, NoLow, NoHigh, L::None, "Measured force",
     "measured force"},
    {"POS", "GetPosition", "", K::Real, U::Length, RO, 0, NoLow, NoHigh, L::None, "Measured position",
     "measured position"},
    {"SA", "GetSlideAcceleration", "", K::Real, U::None, RO, 0, NoLow, NoHigh, L::None, "Slide acceleration",
     "slide acceleration"},
    {"CTW", "GetCurrentToolWeight", "", K::Real, U::Weight, RO, 0, NoLow, NoHigh, L::None,
     "Weight of the current tool", "weight of the current tool"},
    {"RLP", "GetNegPositionLimit", "SetNegPositionLimit", K::Real, U::Length, RW, 0, 0, Inf, L::MaxPosition,
     "Negative position limit", "negative position limit"},
    {"ELP", "GetPosPositionLimit", "SetPosPositionLimit", K::Real, U::Length, RW, 0, 0, Inf, L::MaxPosition,
     "Positive position limit", "positive position limit"},
    {"FS", "GetForceScale", "SetForceScale", K::Real, U::None, RW, 0, NoLow, NoHigh, L::None,
     "Force signal scale", "force signal scale"},
    {"FO", "GetForceOffset", "SetForceOffset", K::Real, U::Force, RW, 0, NoLow, NoHigh, L::None,
     "Force signal offset", "force signal offset"},
    {"AS", "GetAccScale", "SetAccScale", K::Real, U::None, RW, 0, NoLow, NoHigh, L::None,
     "Acceleration signal scale", "acceleration signal scale"},
    {"AO", "GetAccOffset", "SetAccOffset", K::Real, U::None, RW, 0, NoLow, NoHigh, L::None,
     "Acceleration signal offset", "acceleration signal offset"},
    {"PS", "GetPosScale", "SetPosScale", K::Real, U::None, RW, 0, NoLow, NoHigh, L::None,
     "Position signal scale", "position signal scale"},
    {"PO", "GetPosOffset", "SetPosOffset", K::Real, U::Length, RW, 0, NoLow, NoHigh, L::None,
     "Position signal offset", "position signal offset"},
    {"AIN", "GetAin", "", K::Real, U::None, RO, 0, NoLow, NoHigh, L::None, "Analogue input",
     "analogue input"},
    {"AOUT", "GetAout", "", K::Real, U::None, RO, 2, NoLow, NoHigh, L::None, "Analogue output",
     "analogue output I"},
    {"CMF", "GetContourForce", "SetContourForce", K::Real, U::Force, RW, 11, NoLow, NoHigh, L::MaxForce,
     "Contour mode force", "contour mode force at point I"},
    {"TW", "GetToolWeight", "SetToolWeight", K::Real, U::Weight, RW, Sixteen, 0, Inf, L::MaxWeight,
     "Tool weight", "stored weight of tool I"},
    {"FL", "GetForceLevel", "SetForceLevel", K::Real, U::Force, RW, Sixteen, NoLow, NoHigh, L::MaxForce,
     "Force level", "stored force level I"},
    {"TC", "GetToolConnected", "", K::Flag, U::None, RO, 0, 0, 1, L::None, "Tool connected",
     "a tool is connected"},
    {"ACT", "GetActive", "SetActive", K::Flag, U::None, RW, 0, 0, 1, L::None, "Active",
     "activated (1) or retracted (0)"},
    {"CM", "GetContourMode", "SetContourMode", K::Flag, U::None, RW, 0, 0, 1, L::None, "Contour mode",
     "contour mode on"},
    {"PM", "GetPositionMode", "SetPositionMode", K::Flag, U::None, RW, 0, 0, 1, L::None, "Position mode",
     "position mode on"},
    {"ES", "GetEstop", "SetEstop", K::Flag, U::None, RW, 0, 0, 1, L::None, "Emergency stop",
     "emergency stop"},
    {"SPO", "GetSerialOverride", "SetSerialOverride", K::Flag, U::None, RW, 0, 0, 1, L::None,
     "Serial port override", "serial port override"},
    {"CU", "GetEnglishUnits", "SetEnglishUnits", K::Flag, U::None, RW, 0, 0, 1, L::None, "English units",
     "English (1) or metric (0) units"},
    {"RDI", "GetAllDins", "", K::Int, U::None, RO, 0, NoLow, NoHigh, L::None, "Digital inputs",
     "all digital inputs as one bit set"},
    {"RDO", "GetAllDouts", "", K::Int, U::None, RO, 0, NoLow, NoHigh, L::None, "Digital outputs",
     "all digital outputs as one bit set"},
    // The function-name lists, read at the handshake: a count, then one name per index.
    {"NDIF", "", "", K::Int, U::None, RO, 0, NoLow, NoHigh, L::None, "Digital input functions",
     "number of digital input functions"},
    {"DIFD", "GetDinFunctions", "", K::Text, U::None, RO, -1, NoLow, NoHigh, L::None,
     "Digital input function name", "name of digital input function I"},
    {"NDOF", "", "", K::Int, U::None, RO, 0, NoLow, NoHigh, L::None, "Digital output functions",
     "number of digital output functions"},
    {"DOFD", "GetDoutFunctions", "", K::Text, U::None, RO, -1, NoLow, NoHigh, L::None,
     "Digital output function name", "name of digital output function I"},
    {"NAOF", "", "", K::Int, U::None, RO, 0, NoLow, NoHigh, L::None, "Analogue output functions",
     "number of analogue output functions"},
    {"AOFD", "GetAoutFunctions", "", K::Text, U::None, RO, -1, NoLow, NoHigh, L::None,
     "Analogue output function name", "name of analogue output function I"},
};
const size_t IxaParameterCount = sizeof(IxaParameters) / sizeof(IxaParameters[0]);

namespace {

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// "GetForceLevel" without its three-letter prefix.
std::string_view Stem(const char* method) {
    return std::strlen(method) > 3 ? std::string_view(method + 3) : std::string_view();
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A number as a message shows it: whole numbers without decimals, others with the line's three.
AnsiString Shown(double value) {
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return std::to_string(static_cast<long long>(value));
    return FormatReal3(value);
}

AnsiString Hex(char c) {
    const char* digits = "0123456789ABCDEF";
    const unsigned char b = static_cast<unsigned char>(c);
    return AnsiString("0x") + digits[b >> 4] + digits[b & 15];
}

// The refused text as a message may show it: control bytes as \xHH, never raw on a terminal.
AnsiString Quoted(std::string_view text) {
    AnsiString out = "'";
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F)
            out += "\\x" + Hex(c).substr(2);
        else
            out += c;
    }
    return out + "'";
}

[[noreturn]] void Refuse(const TIxaParameter& p, std::string_view text, const AnsiString& why) {
    throw EIxaValue(AnsiString(p.Mnemonic) + " (" + p.Name + ") takes " + why + ", not " + Quoted(text));
}

} // namespace

int TIxaParameter::LastIndex() const {
    if (IndexCount < 0)
        return TIxaInterface::MaxFunctionNames - 1;
    return IndexCount - 1;
}

const TIxaParameter* FindIxaParameter(std::string_view name) {
    if (name.empty())
        return nullptr;
    for (const TIxaParameter& p : IxaParameters) {
        if (SameText(name, p.Mnemonic) || SameText(name, p.GetMethod) || SameText(name, p.SetMethod))
            return &p;
        const std::string_view stem = *p.GetMethod ? Stem(p.GetMethod) : Stem(p.SetMethod);
        if (SameText(name, stem))
            return &p;
    }
    return nullptr;
}

const TIxaParameter* FindIxaMnemonic(std::string_view mnemonic) {
    for (const TIxaParameter& p : IxaParameters)
        if (mnemonic == p.Mnemonic)
            return &p;
    return nullptr;
}

AnsiString IxaUnitText(TIxaUnit unit, bool english) {
    switch (unit) {
    case TIxaUnit::Force:
        return english ? "Lbf." : "N";
    case TIxaUnit::Length:
        return english ? "In." : "mm";
    case TIxaUnit::Weight:
        return english ? "Lb." : "kg";
    case TIxaUnit::None:
        break;
    }
    return "";
}

TIxaValue ParseIxaValue(const TIxaParameter& p, std::string_view text, bool sentAsWritten) {
    TIxaValue value;
    if (p.Kind == TIxaValueKind::Text) {
        // A typed text is UTF-8; the controller holds its code page's bytes. A configuration line
        // holds those bytes already, as the dump wrote them.
        AnsiString bytes(text);
        if (!sentAsWritten) {
            AnsiString refused;
            const auto converted = Utf8ToControllerText(text, &refused);
            if (!converted && !refused.empty() && static_cast<unsigned char>(refused[0]) >= 0x80 &&
                refused.size() == 1)
                throw EIxaValue(AnsiString(p.Mnemonic) + " (" + p.Name + ") takes UTF-8 text; the byte " +
                                Hex(refused[0]) + " is none");
            if (!converted)
                throw EIxaValue(AnsiString(p.Mnemonic) + " (" + p.Name + ") cannot hold '" + refused +
                                "': the controller keeps its texts in the Windows-1252 code page");
            bytes = *converted;
        }
        // The C1 codes the code page leaves undefined are controls when typed, bytes in a dump.
        const auto control = [&](unsigned char c) {
            return c < 0x20 || c == 0x7F ||
                   (!sentAsWritten && (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D));
        };
        for (const char c : bytes)
            if (control(static_cast<unsigned char>(c)))
                throw EIxaValue(AnsiString(p.Mnemonic) + " (" + p.Name +
                                ") takes a text without control characters or line breaks");
        // "CN " and the text must fit one command line.
        const size_t room = TIxaInterface::MaxConfigLine - std::strlen(p.Mnemonic) - 1;
        if (bytes.size() > room)
            throw EIxaValue(AnsiString(p.Mnemonic) + " (" + p.Name + ") takes a text of at most " +
                            std::to_string(room) + " characters, not one of " + std::to_string(bytes.size()));
        value.Text = bytes;
        value.Wire = bytes;
        return value;
    }
    const std::string_view number = Trimmed(text);
    if (p.Kind == TIxaValueKind::Flag) {
        if (number == "1" || SameText(number, "on") || SameText(number, "true"))
            value.Number = 1;
        else if (number == "0" || SameText(number, "off") || SameText(number, "false"))
            value.Number = 0;
        else
            Refuse(p, text, "0 or 1 (on/off, true/false)");
        value.Wire.assign(1, value.Number != 0 ? '1' : '0');
        return value;
    }
    // from_chars reads no "+"; a person may type one.
    std::string_view digits = number;
    if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-')
        digits.remove_prefix(1);
    const char* end = digits.data() + digits.size();
    if (p.Kind == TIxaValueKind::Int) {
        int parsed = 0;
        const auto [ptr, ec] = std::from_chars(digits.data(), end, parsed, 10);
        if (digits.empty() || ec != std::errc() || ptr != end)
            Refuse(p, text, "a whole number");
        value.Number = parsed;
        value.Wire = std::to_string(parsed);
    } else {
        double parsed = 0;
        const auto [ptr, ec] = std::from_chars(digits.data(), end, parsed, std::chars_format::fixed);
        if (digits.empty() || ec != std::errc() || ptr != end || !std::isfinite(parsed))
            Refuse(p, text, "a number with '.' for the decimal point");
        // The line carries three decimals: a value with more would be written as another one.
        const double thousandths = parsed * 1000.0;
        if (!sentAsWritten &&
            (std::fabs(thousandths) > 1e15 || std::fabs(thousandths - std::round(thousandths)) > 1e-6))
            Refuse(p, text, "a number with at most three decimals (the controller's resolution is 0.001)");
        value.Number = parsed;
        value.Wire = FormatReal3(parsed);
    }
    if (p.HasRange())
        CheckIxaRange(p, value.Number, p.Low, p.High);
    return value;
}

void CheckIxaIndex(const TIxaParameter& p, int index) {
    if (!p.Indexed())
        throw EIxaValue(AnsiString(p.Mnemonic) + " (" + p.Name + ") takes no index");
    if (index < 0 || index > p.LastIndex())
        throw EIxaValue(AnsiString(p.Mnemonic) + " (" + p.Name + ") takes an index from 0 to " +
                        std::to_string(p.LastIndex()) + ", not " + std::to_string(index));
}

void CheckIxaRange(const TIxaParameter& p, double value, double low, double high, const AnsiString& units,
                   const AnsiString& what) {
    if (value >= low && value <= high)
        return;
    const AnsiString unit = units.empty() ? "" : " " + units;
    const AnsiString end = what.empty() ? "" : " (" + what + ")";
    AnsiString range;
    if (std::isinf(high))
        range = "a value of at least " + Shown(low) + unit;
    else if (std::isinf(low))
        range = "a value of at most " + Shown(high) + unit + end;
    else
        range = "a value from " + Shown(low) + " to " + Shown(high) + unit + end;
    throw EIxaValue(AnsiString(p.Mnemonic) + " (" + p.Name + ") takes " + range + ", not " + Shown(value));
}

AnsiString IxaLineRefusal(std::string_view line) {
    size_t length = 0;
    while (length < line.size() && std::isalpha(static_cast<unsigned char>(line[length])))
        ++length;
    if (length == 0 || length >= line.size() || line[length] != ' ')
        return "";
    AnsiString mnemonic(line.substr(0, length));
    for (char& c : mnemonic)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const TIxaParameter* p = FindIxaMnemonic(mnemonic);
    if (!p)
        return "";
    if (!p->Writable())
        return mnemonic + " (" + p->Name + ") can only be read";
    std::string_view value = line.substr(length + 1);
    try {
        if (p->Indexed()) {
            const size_t blank = value.find(' ');
            const std::string_view word = value.substr(0, blank);
            int index = 0;
            const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), index);
            if (word.empty() || ec != std::errc() || ptr != word.data() + word.size())
                return mnemonic + " (" + p->Name + ") needs an index first, not " + Quoted(word);
            if (blank == std::string_view::npos)
                return mnemonic + " (" + p->Name + ") needs a value after its index";
            CheckIxaIndex(*p, index);
            value = value.substr(blank + 1);
        }
        ParseIxaValue(*p, value, true);
    } catch (const EIxaValue& e) {
        return e.what();
    }
    return "";
}

std::optional<std::pair<double, AnsiString>> ControllerUpperEnd(TIxaInterface& link, const TIxaParameter& p) {
    switch (p.Limit) {
    case TIxaLimit::MaxForce:
        return std::pair(link.GetMaxForce(), AnsiString("the controller's maximum force"));
    case TIxaLimit::MaxPosition:
        return std::pair(link.GetMaxPosition(), AnsiString("the controller's maximum position"));
    case TIxaLimit::MaxWeight:
        return std::pair(link.GetMaxWeight(), AnsiString("the controller's maximum tool weight"));
    case TIxaLimit::DinFunctions:
        return std::pair(double(link.DinFunctionNames.size()) - 1,
                         AnsiString("the last digital input function"));
    case TIxaLimit::DoutFunctions:
        return std::pair(double(link.DoutFunctionNames.size()) - 1,
                         AnsiString("the last digital output function"));
    case TIxaLimit::AoutFunctions:
        return std::pair(double(link.AoutFunctionNames.size()) - 1,
                         AnsiString("the last analogue output function"));
    case TIxaLimit::None:
        break;
    }
    return std::nullopt;
}
