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

namespace {

// Windows-1252's 0x80-0x9F row; the undefined bytes stand for the C1 code of the same number.
constexpr char16_t Row80[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(AnsiString& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The next code point of valid UTF-8 at text[i], advancing i; nothing for an invalid sequence
// (over-long forms, surrogates and values past U+10FFFF included).
std::optional<char32_t> NextCodePoint(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xE  ? 3
                    : (lead >> 3) == 0x1E ? 4
                                          : 0;
    if (length == 0 || i + length > text.size())
        return std::nullopt;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return std::nullopt;
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < Least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return std::nullopt;
    i += length;
    return c;
}

} // namespace

AnsiString ControllerTextToUtf8(std::string_view bytes) {
    AnsiString out;
    out.reserve(bytes.size());
    for (const char b : bytes) {
        const unsigned char c = static_cast<unsigned char>(b);
        AppendUtf8(out, c >= 0x80 && c < 0xA0 ? Row80[c - 0x80] : char32_t(c));
    }
    return out;
}

std::optional<AnsiString> Utf8ToControllerText(std::string_view utf8, AnsiString* refused) {
    AnsiString out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const size_t start = i;
        const std::optional<char32_t> c = NextCodePoint(utf8, i);
        if (!c) {
            if (refused)
                *refused = AnsiString(utf8.substr(start, 1));
            return std::nullopt;
        }
        int byte = -1;
        if (*c < 0x80 || (*c >= 0xA0 && *c < 0x100)) {
            byte = static_cast<int>(*c);
        } else {
            for (int k = 0; k < 32; ++k)
                if (Row80[k] == *c)
                    byte = 0x80 + k;
        }
        if (byte < 0) {
            if (refused)
                *refused = AnsiString(utf8.substr(start, i - start));
            return std::nullopt;
        }
        out += static_cast<char>(byte);
    }
    return out;
}
