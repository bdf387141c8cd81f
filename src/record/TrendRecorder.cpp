#include "record/TrendRecorder.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

namespace {

// Locale-free number texts: the C library's printf would write "12,5" on a comma-decimal desktop.
std::string Number(double value) {
    std::array<char, 64> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

std::string Fixed(double value, int decimals) {
    std::array<char, 64> text{};
    const auto result =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, decimals);
    return std::string(text.data(), result.ptr);
}

std::string Integer(double value) {
    return std::to_string(static_cast<long long>(value));
}

// A controller name on one line of the comment.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '"')
            c = ' ';
    return text;
}

std::string HeaderLine(const std::string& force, const std::string& length) {
    return "Time,Seconds [s],Command force [" + force + "],Actual force [" + force + "],Position [" + length +
           "],Orientation [deg],Active,Mode,Tool number\n";
}

} // namespace

std::string IsoLocalTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    int millis = static_cast<int>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    // std::localtime shares one buffer: the recorder is used by one thread (the main thread).
    const std::tm* converted = std::localtime(&seconds);
    if (!converted)
        return {}; // outside the C library's calendar: an empty cell rather than a crash
    const std::tm local = *converted;
    char stamp[32];
    char zone[8];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);
    std::string text = stamp;
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", millis);
    text += fraction;
    const std::string z = zone; // "+0100"
    if (z.size() == 5)
        text += z.substr(0, 3) + ":" + z.substr(3);
    return text;
}

TTrendRecorder::TTrendRecorder(const std::string& path, const TTrendRecordHeader& header,
                               const TTrendTime& start)
    : FilePath(path), Start(start), ForceUnits(header.ForceUnits), LengthUnits(header.LengthUnits) {
    File = std::fopen(path.c_str(), "wb");
    if (!File)
        throw ETrendRecord(path + ": " + std::strerror(errno));
    std::string comment = "# Korva trend recording; controller ";
    if (header.ControllerName.empty()) {
        comment += "(offline)";
    } else {
        comment += '"';
        comment += OneLine(header.ControllerName);
        comment += "\", version ";
        comment += Number(header.Version);
    }
    comment += "; started " + IsoLocalTime(start.Wall) +
               "; Active: 1 active, 0 retracted; Mode: 0 force, 1 position, 2 contour\n";
    Write(comment);
    Write(HeaderLine(ForceUnits, LengthUnits));
    Flush();
}

TTrendRecorder::~TTrendRecorder() {
    try {
        Close();
    } catch (const ETrendRecord&) {
        // Closing on the way out: nobody is left to tell.
    }
}

void TTrendRecorder::Close() {
    if (!File)
        return;
    std::FILE* file = File;
    File = nullptr;
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!flushed || !closed)
        throw ETrendRecord(FilePath + ": " + std::strerror(errno));
}

void TTrendRecorder::Fail(const char* what) {
    const std::string reason = FilePath + ": " + what + std::strerror(errno);
    if (File) {
        std::fclose(File);
        File = nullptr;
    }
    throw ETrendRecord(reason);
}

void TTrendRecorder::Write(const std::string& text) {
    if (!File)
        return;
    if (std::fwrite(text.data(), 1, text.size(), File) != text.size())
        Fail("");
    Dirty = true;
}

void TTrendRecorder::Flush() {
    if (!File || !Dirty)
        return;
    if (std::fflush(File) != 0)
        Fail("");
    Dirty = false;
}

void TTrendRecorder::Row(const TTrendHistory& history, const TTrendTime& now) {
    if (!File)
        return;
    const auto cell = [&](TTrendChannel channel, std::string (*format)(double)) {
        const double value = history.Held(channel);
        return std::isnan(value) ? std::string() : format(value);
    };
    std::string row = IsoLocalTime(now.Wall);
    row += ',' + Fixed(Elapsed(now), 3);
    row += ',' + cell(TTrendChannel::CommandForce, Number);
    row += ',' + cell(TTrendChannel::ActualForce, Number);
    row += ',' + cell(TTrendChannel::Position, Number);
    row += ',' + cell(TTrendChannel::Orientation, [](double v) { return Fixed(v, 3); });
    row += ',' + cell(TTrendChannel::Active, Integer);
    row += ',' + cell(TTrendChannel::Mode, Integer);
    row += ',' + cell(TTrendChannel::ToolNumber, Integer);
    row += '\n';
    Write(row);
    ++RowCount;
    LastRowSecond = static_cast<int64_t>(std::floor(Elapsed(now)));
}

void TTrendRecorder::Tick(const TTrendHistory& history, const TTrendTime& now) {
    if (!File)
        return;
    if (static_cast<int64_t>(std::floor(Elapsed(now))) > LastRowSecond)
        Row(history, now);
    Flush();
}

void TTrendRecorder::SetUnits(const std::string& forceUnits, const std::string& lengthUnits,
                              const TTrendTime& now) {
    if (forceUnits == ForceUnits && lengthUnits == LengthUnits)
        return;
    ForceUnits = forceUnits;
    LengthUnits = lengthUnits;
    Write("# " + IsoLocalTime(now.Wall) + ": units changed; from here on " +
          HeaderLine(forceUnits, lengthUnits));
}
