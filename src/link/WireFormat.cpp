#include "link/WireFormat.h"

#include <charconv>
#include <limits>

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

AnsiString FormatReal3(double value) {
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    return AnsiString(buffer, result.ptr);
}

bool ScanReal(const AnsiString& text, double& value) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end && IsSpace(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == end || *p == '+' || *p == '-')
        return false;
    double parsed = 0;
    auto result = std::from_chars(p, end, parsed, std::chars_format::general);
    if (result.ec == std::errc::invalid_argument)
        return false;
    if (result.ec == std::errc::result_out_of_range) {
        // What "%lf" gives: infinity for too large, zero for too small (a negative exponent).
        AnsiString number(p, result.ptr);
        auto e = number.find_first_of("eE");
        bool tiny = e != AnsiString::npos && e + 1 < number.size() && number[e + 1] == '-';
        parsed = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    value = negative ? -parsed : parsed;
    return true;
}

int32_t ScanErrorNumber(const AnsiString& line) {
    if (line.compare(0, 5, "Error") != 0)
        return 0;
    const char* p = line.data() + 5;
    const char* end = line.data() + line.size();
    while (p < end && IsSpace(*p))
        ++p;
    if (p < end && *p == '+')
        ++p;
    long long number = 0;
    auto result = std::from_chars(p, end, number);
    if (result.ec != std::errc())
        return 0;
    return static_cast<int32_t>(number);
}
