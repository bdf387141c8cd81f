#pragma once
// The trend's CSV format, shared by the recording and `korva watch --csv` so that both name their
// columns alike: the clock time, the seconds since the start, the unit's address and the values.
//
//   "Time","Seconds [s]","Address","Command force [N]","Actual force [N]","Position [mm]",
//   ..."Orientation [deg]","Active","Mode","Tool number"
//   "2026-12-08T13:40:01.123+01:00",0.000,0,12.5,12.48,25,20.000,1,0,3
//
// Every text cell is quoted; one that starts with '=', '+', '-', '@' or a tab gets a leading "'"
// so that a spreadsheet shows it and never runs it. Numbers always use "."; forces and position in
// their shortest exact form, the orientation with three decimals, the rest as integers; a value not
// known is an empty cell. Header-only, plain C++.

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

// One text cell: quoted, inner quotes doubled, line breaks as blanks, a leading '=', '+', '-', '@'
// or tab behind a "'".
inline std::string CsvText(const std::string& text) {
    std::string cell = "\"";
    if (!text.empty() && std::strchr("=+-@\t\r", text[0]) != nullptr)
        cell += '\'';
    for (const char c : text) {
        if (c == '"')
            cell += "\"\"";
        else
            cell += c == '\r' || c == '\n' ? ' ' : c;
    }
    return cell + '"';
}

// Locale-free number texts: the C library's printf would write "12,5" on a comma-decimal desktop.
inline std::string CsvNumber(double value) {
    std::array<char, 64> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

inline std::string CsvFixed(double value, int decimals) {
    std::array<char, 64> text{};
    const auto result =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, decimals);
    return std::string(text.data(), result.ptr);
}

// Local time as ISO 8601 with milliseconds and the offset from UTC: "2026-12-08T13:40:01.123+01:00";
// empty outside the C library's calendar. Uses std::localtime: one thread at a time.
inline std::string IsoLocalTime(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    int millis = static_cast<int>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    const std::tm* converted = std::localtime(&seconds);
    if (!converted)
        return {};
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

// The column header line, line end included.
inline std::string TrendCsvHeader(const std::string& force, const std::string& length) {
    const auto unit = [](const char* name, const std::string& text) {
        return std::string(name).append(" [").append(text).append("]");
    };
    std::string line = CsvText("Time");
    for (const std::string& name :
         {std::string("Seconds [s]"), std::string("Address"), unit("Command force", force),
          unit("Actual force", force), unit("Position", length), std::string("Orientation [deg]"),
          std::string("Active"), std::string("Mode"), std::string("Tool number")})
        line.append(",").append(CsvText(name));
    return line.append("\n");
}

// One row, line end included. values: command force, actual force, position, orientation in
// degrees, active (0/1), mode (0 force, 1 position, 2 contour), tool number; NaN where not known.
inline std::string TrendCsvRow(std::chrono::system_clock::time_point wall, double seconds, int address,
                               const std::array<double, 7>& values) {
    std::string row =
        CsvText(IsoLocalTime(wall)) + ',' + CsvFixed(seconds, 3) + ',' + std::to_string(address);
    for (size_t c = 0; c < values.size(); ++c) {
        row += ',';
        const double v = values[c];
        if (std::isnan(v))
            continue;
        row += c < 3 ? CsvNumber(v) : c == 3 ? CsvFixed(v, 3) : std::to_string(static_cast<long long>(v));
    }
    return row + '\n';
}
