#pragma once
// Numbers as they travel on the controller's line: always with ".", whatever the user's locale
// (the C library's printf/scanf follow the locale a desktop program runs in).

#include "platform/SysUtils.h"

#include <cstdint>
#include <optional>
#include <string_view>

// The value with exactly three decimals, as "%0.3lf" in the "C" locale: 12.5 -> "12.500".
AnsiString FormatReal3(double value);

// The leading decimal number of the text, as "%lf" reads it in the "C" locale (leading blanks
// skipped, an optional sign, an optional exponent). False when the text does not begin with one.
bool ScanReal(const AnsiString& text, double& value);

// The number of a controller error line, as "Error %ld" reads it; 0 when the line does not match.
int32_t ScanErrorNumber(const AnsiString& line);

// Controller texts (names, tool types, function names, error lines) are bytes of one single-byte code
// page, Windows-1252: the controller comes from Windows tools, and 1252 holds what Latin-1 holds
// plus the euro sign and the typographic marks of the 0x80-0x9F row, which Latin-1 spends on
// control codes. The five bytes 1252 leaves undefined map to U+0081, U+008D, U+008F, U+0090 and
// U+009D, as Windows maps them, so that every byte survives the round trip.
//
// The controller's bytes as UTF-8, for every front end.
AnsiString ControllerTextToUtf8(std::string_view bytes);
// UTF-8 as the controller's bytes; nothing when the text is no valid UTF-8 or holds a character
// the code page lacks, with that character (or the invalid bytes) in refused.
std::optional<AnsiString> Utf8ToControllerText(std::string_view utf8, AnsiString* refused = nullptr);
