#include "toolkit/Text.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <cmath>

namespace {
class TLocaleScope {
public:
    explicit TLocaleScope(const QLocale& locale) : Previous(QLocale()) { QLocale::setDefault(locale); }
    ~TLocaleScope() { QLocale::setDefault(Previous); }

private:
    QLocale Previous;
};
} // namespace

TEST(FormatFloat, PatternsRoundToNearestLikeTheDisplay) {
    TLocaleScope c(QLocale::c());
    struct {
        const char* Pattern;
        double Value;
        const char* Text;
    } rows[] = {
        {"0.0", 0, "0.0"},
        {"0.0", 12.34, "12.3"},
        {"0.0", 12.36, "12.4"},
        {"0.0", -245, "-245.0"},
        {"0.00", 12.345, "12.35"}, // the decimal value, not the binary 12.34499...
        {"0.00", 1.005, "1.01"},
        {"0.00", 0.125, "0.13"}, // half away from zero
        {"0.00", -0.125, "-0.13"},
        {"0.0", 9.96, "10.0"}, // carry into a new digit
        {"0.0", 0.06, "0.1"},
        {"0.0", -0.04, "0.0"}, // rounds to zero: no sign
        {"0.00", -0.004, "0.00"},
        {"0.0", 0.0004, "0.0"},
        {"0.00", 1234567.891, "1234567.89"}, // no group separator
        {"0.00", 1e-300, "0.00"},
        {"0", 2.5, "3"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FormatFloat(row.Pattern, row.Value), row.Text) << row.Pattern << " " << row.Value;
}

TEST(FormatFloat, UsesTheUsersDecimalSeparator) {
    TLocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatFloat("0.00", 1234.5), "1234,50");
    EXPECT_EQ(FormatFloat("0.0", -0.25), "-0,3");
}

TEST(FormatFloat, NegativesAlwaysShowThePlainMinus) {
    // Swedish, Norwegian and Finnish have U+2212 as their own minus sign.
    for (const QLocale& locale :
         {QLocale(QLocale::Swedish, QLocale::Sweden), QLocale(QLocale::NorwegianBokmal, QLocale::Norway),
          QLocale(QLocale::Finnish, QLocale::Finland)}) {
        TLocaleScope scope(locale);
        EXPECT_EQ(FormatFloat("0.0", -245), "-245,0") << locale.name().toStdString();
        EXPECT_EQ(FormatFloat("0.00", -0.125), "-0,13") << locale.name().toStdString();
        // What is shown reads back, and so does what the locale's own keyboard habit types.
        EXPECT_DOUBLE_EQ(StrToFloat("-245,0"), -245.0);
        EXPECT_DOUBLE_EQ(StrToFloat(QString(QChar(0x2212)) + "1,5"), -1.5);
    }
}

TEST(StrToFloat, AcceptsTheLocaleNumberAndRejectsTheRest) {
    {
        TLocaleScope c(QLocale::c());
        EXPECT_DOUBLE_EQ(StrToFloat("12.5"), 12.5);
        EXPECT_DOUBLE_EQ(StrToFloat("  0.0"), 0.0); // the edit's design text
        EXPECT_DOUBLE_EQ(StrToFloat("-3 "), -3.0);
        EXPECT_DOUBLE_EQ(StrToFloat("1e2"), 100.0);
        for (const char* bad : {"", " ", "abc", "1,5", "1,000.5", "12.5x", "nan", "inf", "1e999"})
            EXPECT_THROW(StrToFloat(bad), EConvertError) << bad;
    }
    TLocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_DOUBLE_EQ(StrToFloat("1,5"), 1.5);
    EXPECT_THROW(StrToFloat("1.000,5"), EConvertError);
    try {
        StrToFloat("abc");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message, "'abc' is not a valid floating point value");
    }
}

TEST(AnsiText, EveryByteSurvivesTheRoundTrip) {
    AnsiString all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    const QString shown = ToQString(all);
    EXPECT_EQ(shown.size(), 255);
    EXPECT_EQ(shown[0xE9 - 1], QChar(0xE9));   // the controller's code page, not a UTF-8 guess
    EXPECT_EQ(shown[0x80 - 1], QChar(0x20AC)); // Windows-1252's euro sign, not a control code
    EXPECT_EQ(ToAnsi(shown), all);
    // A character the code page lacks: "?" in general, refused where it would go to the controller.
    const QString cyrillic = QString::fromUtf8("a\u0417b");
    EXPECT_EQ(ToAnsi(cyrillic), "a?b");
    QString refused;
    EXPECT_FALSE(ToController(cyrillic, &refused).has_value());
    EXPECT_EQ(refused, QString::fromUtf8("\u0417"));
}
