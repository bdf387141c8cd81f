#pragma once
// The controller's parameters as data, the one registry every front end and the configuration
// texts read: mnemonic, accessor names, value kind, units, access, index range, known value range
// and plain name. The simulator keeps a model of its own on purpose; a test holds the two together.
//
// Values from outside the link (what a person types, a configuration line that is checked, a
// payload from elsewhere) are read here, whole or refused: "1,5", "0x10", "12.5abc", "12.5 7",
// "1e309" and "nan" are no numbers. Blanks and tabs around a value are taken, as the console's
// fields take them; a blank inside is not. The leading-number rule of WireFormat's ScanReal is the
// reply grammar's alone.
//
// Plain C++, no toolkit. Errors: ParseIxaValue, CheckIxaIndex and CheckIxaRange raise EIxaValue,
// whose message names the parameter, what was refused and why (the range where there is one).

#include "platform/SysUtils.h"

#include <optional>
#include <string_view>

class TIxaInterface;

enum class TIxaValueKind { Text, Int, Real, Flag };
enum class TIxaUnit { None, Force, Length, Weight };
enum class TIxaAccess { ReadWrite, ReadOnly, WriteOnly };

// Where the upper end of a value comes from when the connected controller sets it.
enum class TIxaLimit { None, MaxForce, MaxPosition, MaxWeight, DinFunctions, DoutFunctions, AoutFunctions };

struct TIxaParameter {
    const char* Mnemonic;  // "FL"
    const char* GetMethod; // "GetForceLevel", or "" when it has no accessor of its own
    const char* SetMethod; // "SetForceLevel", or ""
    TIxaValueKind Kind;
    TIxaUnit Unit;
    TIxaAccess Access;
    // 0: takes no index; n > 0: indices 0 .. n-1; -1: as many as the controller's function count
    // (at most TIxaInterface::MaxFunctionNames).
    int IndexCount;
    // The known range of a number, whatever controller answers; Low > High: none known.
    double Low, High;
    TIxaLimit Limit;     // an upper end the connected controller sets
    const char* Name;    // "Force level": plain name for people
    const char* Meaning; // "stored force level I"

    bool Indexed() const { return IndexCount != 0; }
    bool Readable() const { return Access != TIxaAccess::WriteOnly; }
    bool Writable() const { return Access != TIxaAccess::ReadOnly; }
    bool HasRange() const { return Low <= High; }
    int LastIndex() const; // the highest index taken; -1 without an index
};

// A value refused before anything is sent.
class EIxaValue : public Exception {
public:
    using Exception::Exception;
};

extern const TIxaParameter IxaParameters[];
extern const size_t IxaParameterCount;

// The parameter named by its mnemonic ("fl" too) or by an accessor name with or without its
// Get/Set prefix ("GetForceLevel", "ForceLevel"); nothing when no parameter has that name.
const TIxaParameter* FindIxaParameter(std::string_view name);
// The parameter of exactly this mnemonic (upper case, as a configuration line holds it), or nullptr.
const TIxaParameter* FindIxaMnemonic(std::string_view mnemonic);

// "In."/"mm", "Lbf."/"N", "Lb."/"kg"; empty for TIxaUnit::None.
AnsiString IxaUnitText(TIxaUnit unit, bool english);

// A value read whole: Number for numbers and flags (0 or 1), Text for texts; Wire is what a set
// sends ("12.500", "7", "1", the text).
struct TIxaValue {
    double Number = 0;
    AnsiString Text;
    AnsiString Wire;
};

// Reads text as a value of the parameter, whole or refused (EIxaValue): integers in decimal, numbers
// with "." and at most the three decimals the line carries, flags as 0/1/on/off/true/false, texts
// without control characters and short enough for one command line. A number is held to the known
// range (CheckIxaRange).
// A value sent as written (a configuration line) is not held to three decimals: the controller
// gets the very text.
TIxaValue ParseIxaValue(const TIxaParameter& p, std::string_view text, bool sentAsWritten = false);
// An index out of the parameter's index range (or one given to a parameter without) is refused.
void CheckIxaIndex(const TIxaParameter& p, int index);
// A number outside low .. high is refused; what names the end ("the controller's maximum force").
void CheckIxaRange(const TIxaParameter& p, double value, double low, double high,
                   const AnsiString& units = {}, const AnsiString& what = {});
// Why a configuration line ("FL 3 12.500", as a dump writes it) cannot go to the controller: a
// parameter of the registry that can only be read, an index out of its range, a value that is not
// whole or out of its known range. Empty for a line that may go, and for a line of another shape or
// an unknown mnemonic, which only the controller can judge.
AnsiString IxaLineRefusal(std::string_view line);

// The upper end the connected controller sets for the parameter (its maximum force, position or
// tool weight read from it; the count of its function names less one), and what to call it in a
// message; nothing for a parameter without one. Raises what the link raises.
std::optional<std::pair<double, AnsiString>> ControllerUpperEnd(TIxaInterface& link, const TIxaParameter& p);
