#include "toolkit/Text.h"

#include "link/WireFormat.h"

#include <QFile>
#include <QLocale>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

QString ToQString(const AnsiString& text) {
    const AnsiString utf8 = ControllerTextToUtf8(text);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::optional<AnsiString> ToController(const QString& text, QString* refused) {
    const QByteArray utf8 = text.toUtf8();
    AnsiString character;
    auto bytes = Utf8ToControllerText(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())),
                                      &character);
    if (!bytes && refused)
        *refused = QString::fromUtf8(character.data(), static_cast<qsizetype>(character.size()));
    return bytes;
}

AnsiString ToAnsi(const QString& text) {
    if (auto bytes = ToController(text))
        return *bytes;
    // One character at a time, each the code page lacks as "?".
    AnsiString out;
    for (const char32_t c : text.toUcs4()) {
        const auto one = ToController(QString::fromUcs4(&c, 1));
        out += one ? *one : AnsiString("?");
    }
    return out;
}

QString FromSystemName(const AnsiString& name) {
    return QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

AnsiString ToSystemName(const QString& name) {
    const QByteArray bytes = QFile::encodeName(name);
    return AnsiString(bytes.constData(), static_cast<size_t>(bytes.size()));
}

namespace {
// Fixed-point digits of |value| with `decimals` places: first to 15 significant digits (what a double
// can carry), then rounded half away from zero, so 12.345 shows as 12.35 and not as the binary 12.344999.
std::string FixedDigits(double value, int decimals) {
    char buf[64];
    const auto result =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
    *result.ptr = '\0';
    // buf: "d.ddddddddddddddde[+-]XX"
    std::string mantissa;
    mantissa += buf[0];
    const char* e = std::strchr(buf, 'e');
    mantissa.append(static_cast<const char*>(buf + 2), e);
    const int exponent = std::atoi(e + 1);
    // mantissa digits m0 m1 ... stand for m0.m1m2... x 10^exponent; the digit of weight 10^-k sits at
    // index exponent + k.
    int keep = exponent + 1 + decimals; // digits that stay (those of weight >= 10^-decimals)
    std::string digits;
    if (keep < 0)
        keep = 0; // below the last place: only the rounding digit (none) matters
    digits = mantissa.substr(0, static_cast<size_t>(std::min<int>(keep, static_cast<int>(mantissa.size()))));
    while (static_cast<int>(digits.size()) < keep)
        digits += '0';
    // Below the last place entirely (keep was negative): the value rounds to zero.
    const bool roundUp = exponent + 1 + decimals >= 0 && keep < static_cast<int>(mantissa.size()) &&
                         mantissa[static_cast<size_t>(keep)] >= '5';
    if (roundUp) {
        int i = static_cast<int>(digits.size()) - 1;
        for (; i >= 0 && digits[static_cast<size_t>(i)] == '9'; --i)
            digits[static_cast<size_t>(i)] = '0';
        if (i >= 0)
            ++digits[static_cast<size_t>(i)];
        else
            digits = std::string(1, '1').append(digits);
    }
    // digits now holds the value x 10^decimals as an integer.
    const size_t places = static_cast<size_t>(decimals);
    if (digits.size() <= places)
        digits = std::string(places + 1 - digits.size(), '0').append(digits);
    const size_t whole = digits.size() - places;
    if (places == 0)
        return digits;
    std::string out = digits.substr(0, whole);
    out += '.';
    out.append(digits, whole, std::string::npos);
    return out;
}
} // namespace

QString FormatFloat(const char* pattern, double value) {
    const char* point = std::strchr(pattern, '.');
    const int decimals = point ? static_cast<int>(std::strlen(point + 1)) : 0;
    if (!std::isfinite(value))
        return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
    const std::string digits = FixedDigits(value, decimals);
    const QLocale locale;
    QString text = QString::fromLatin1(digits.c_str());
    text.replace('.', locale.decimalPoint());
    // A value that rounds to zero shows without its sign.
    const bool zero = digits.find_first_not_of("0.") == std::string::npos;
    // Always the plain "-": some locales' own sign (U+2212) is a character the fields and the
    // controller's texts never use elsewhere.
    if (value < 0 && !zero)
        text.prepend('-');
    return text;
}

double StrToFloat(const QString& text) {
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    QString number = text.trimmed();
    // What FormatFloat shows must read back, whatever sign the locale has for its own.
    if (number.startsWith('-') && locale.negativeSign() != "-")
        number.replace(0, 1, locale.negativeSign());
    const double value = locale.toDouble(number, &ok);
    if (!ok || !std::isfinite(value))
        throw EConvertError("'" + ToAnsi(text) + "' is not a valid floating point value");
    return value;
}

int StrToInt(const QString& text) {
    return StrToInt(ToAnsi(text));
}
