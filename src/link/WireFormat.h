#pragma once
// Numbers as they travel on the controller's line: always with ".", whatever the user's locale
// (the C library's printf/scanf follow the locale a desktop program runs in).

#include "platform/SysUtils.h"

#include <cstdint>

// The value with exactly three decimals, as "%0.3lf" in the "C" locale: 12.5 -> "12.500".
AnsiString FormatReal3(double value);

// The leading decimal number of the text, as "%lf" reads it in the "C" locale (leading blanks
// skipped, an optional sign, an optional exponent). False when the text does not begin with one.
bool ScanReal(const AnsiString& text, double& value);

// The number of a controller error line, as "Error %ld" reads it; 0 when the line does not match.
int32_t ScanErrorNumber(const AnsiString& line);
