#pragma once
// Small services of the run-time that every layer uses: the 8-bit text type, the base exception
// with its message, the conversion error, the millisecond clock and the program's command line.
// Plain C++, no toolkit.

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

using AnsiString = std::string; // 8-bit bytes, no encoding conversion

// The base exception: carries the message that the error display shows.
class Exception : public std::exception {
public:
    explicit Exception(AnsiString message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    AnsiString Message;
};

// Raised by the text-to-number conversions below.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// String to integer as the console accepts it: optional blanks, an optional sign, decimal digits,
// optional trailing blanks, within 32 bits. Anything else raises EConvertError
// ("'abc' is not a valid integer value"). Independent of the locale.
int StrToInt(const AnsiString& text);

// Milliseconds since an arbitrary start, GetTickCount(); wraps like a 32-bit tick counter (compare
// by unsigned difference). Declared by the system's own header (posix/ or win32/TickCount.h), which
// the build chooses for this one name.
#include "platform/TickCount.h"

// Pauses the calling thread for about ms milliseconds.
void SleepMs(unsigned ms);

// The program's command line, program path first. The entry point records it once.
void SetCommandLine(int argc, const char* const* argv);
void SetCommandLine(std::vector<AnsiString> args);
const std::vector<AnsiString>& CommandLine();

// Where the controller-error log lives: COMMLOG.LOG in the home folder ("C:\COMMLOG.LOG" on Windows).
AnsiString CommLogPath();

// A program started with standard input, output or error closed would hand that small number to
// the first file it opens (a serial port, say), so that its output went there: each closed one is
// taken by the null device. Nothing to do on Windows, which hands out no such numbers.
void GuardStandardStreams();
