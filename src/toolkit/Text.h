#pragma once
// Text conversions of the windows.
//   - AnsiString <-> QString: the controller's code page (Windows-1252, WireFormat.h) both ways, so
//     every byte from the controller is shown as the controller's tools show it and sent back
//     unchanged. Every conversion of controller text goes through these. ToAnsi writes "?" for a
//     character the code page lacks; a field whose text goes to the controller asks ToController
//     first and refuses such a character before anything is sent.
//   - Port and file names are the system's, not the controller's: they go through the file system's
//     encoding (QFile::encodeName/decodeName), so "/dev/порт" is the same name typed, stored and opened.
//   - Number patterns "0.0" / "0.00" in the user's locale (QLocale()): at least one integer digit, fixed
//     decimals rounded to nearest, a leading minus for negatives, no group separators.
//   - StrToFloat: the user's decimal separator, blanks around allowed, a leading "-" or the locale's
//     own minus, no group separators; anything
//     else raises EConvertError ("'abc' is not a valid floating point value").
// Threads: any (QLocale() is read at each call).

#include "platform/SysUtils.h"

#include <QString>

#include <optional>

QString ToQString(const AnsiString& text);
AnsiString ToAnsi(const QString& text);
// The controller's bytes for text; nothing when it holds a character the controller's code page
// lacks, which is then in refused.
std::optional<AnsiString> ToController(const QString& text, QString* refused = nullptr);
QString FromSystemName(const AnsiString& name);
AnsiString ToSystemName(const QString& name);

// pattern is "0", "0.0", "0.00", "0.000" ...: the count of decimals after the point.
QString FormatFloat(const char* pattern, double value);
double StrToFloat(const QString& text);
// Integer text as the console accepts it (StrToInt of SysUtils.h on the Latin-1 bytes).
int StrToInt(const QString& text);
