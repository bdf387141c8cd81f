#pragma once
// The controller's parameters as data: mnemonic, accessor names, value kind and index, for the
// programs that reach a parameter by name (the command-line program's get and set).
// Plain C++, no toolkit.

#include "link/IxaInterface.h"

#include <optional>
#include <string_view>

enum class TIxaValueKind { String, Int, Real, Flag };

struct TIxaParameter {
    const char* Mnemonic;  // "FL"
    const char* GetMethod; // "GetForceLevel", or "" when it cannot be read
    const char* SetMethod; // "SetForceLevel", or "" when it cannot be written
    TIxaValueKind Kind;
    bool Indexed;        // takes an index (the link passes any index through)
    const char* Meaning; // "stored force level I"
};

// Every parameter with a get or set accessor; the function-name lists are not single values and
// are left out.
extern const TIxaParameter IxaParameters[];
extern const size_t IxaParameterCount;

// The parameter named by its mnemonic ("fl" too) or by an accessor name with or without its
// Get/Set prefix ("GetForceLevel", "ForceLevel"); nothing when no parameter has that name.
const TIxaParameter* FindIxaParameter(std::string_view name);
