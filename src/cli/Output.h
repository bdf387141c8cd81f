#pragma once
// What korva writes: results on standard output, errors on standard error, and the exit code of a
// failure. Plain C++, no toolkit.
//
// Texts from outside (the controller, a file, the command line, the system) are shown so that a
// terminal never acts on them: in text output, control characters (C0, DEL, C1, and a lone byte
// 0x80-0x9F that is no part of a UTF-8 character) are written as \xNN, byte by byte; other bytes
// pass unchanged. In JSON, a byte that is no part of a UTF-8 character becomes U+FFFD, so the
// output is always valid JSON (which escapes control characters itself).
//
// Errors: a wrong call, an unopenable port, a failed output, a link or controller failure; each
// goes to standard error as "korva: MESSAGE" (a wrong call adds "Try '...'."), or with --json as
// one object {"error": MESSAGE, "exit": CODE} (a wrong call adds "help": "..."). Writing standard
// output is checked after every result: a failure raises EOutput (exit 4, the system's reason).

#include "cli/Commands.h"
#include "platform/SysUtils.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

using Json = nlohmann::ordered_json;

// A wrong call of a command: exit code 2.
class EUsage : public Exception {
public:
    using Exception::Exception;
};

// A port that cannot be opened: exit code 3, with the system's reason.
class EPortOpen : public Exception {
public:
    using Exception::Exception;
};

// Standard output could not be written: exit code 4, with the system's reason.
class EOutput : public Exception {
public:
    using Exception::Exception;
};

// text with its control characters written as \xNN; line breaks kept when keepLineBreaks.
std::string Shown(std::string_view text, bool keepLineBreaks = false);

// value as one line of JSON, bytes that are no UTF-8 replaced.
std::string JsonText(const Json& value);

// Writes text to standard output and checks it (EOutput).
void WriteOut(const std::string& text);
// Flushes standard output and checks every write since the last check (EOutput).
void CheckOutput();

// One result: the JSON line with --json, else the text with its control characters shown.
void Print(const TCliOptions& options, const Json& json, const std::string& text);

// Writes one error to standard error (see above) and returns code. help names the command line
// that explains a wrong call ("korva help get"); empty for other errors.
int ReportError(bool json, int code, const std::string& message, const std::string& help = {});

// Reports the exception being handled and returns its exit code; call it inside a catch block.
// port is the port once it is known (empty before); options.Address the unit spoken to.
int ReportFailure(const TCliOptions& options, const std::string& command, const std::string& port);
