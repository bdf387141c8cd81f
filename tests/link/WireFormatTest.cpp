// Numbers on the wire and typed integers, under the "C" locale and under a comma-decimal one.

#include "link/WireFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

namespace {

// Runs the body under the C library's German locale, as a Qt program on a German desktop does.
class CommaLocale {
public:
    CommaLocale() : Active(std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {}
    ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
    bool Active;
};

void ExpectWireFormats() {
    struct {
        double Value;
        const char* Text;
    } reals[] = {{12.5, "12.500"}, {0.0004, "0.000"}, {-2.5, "-2.500"},     {0.0005, "0.001"},
                 {900, "900.000"}, {-0.0, "-0.000"},  {1e6, "1000000.000"}, {2.0005, "2.001"}};
    for (const auto& row : reals)
        EXPECT_EQ(FormatReal3(row.Value), row.Text) << row.Value;

    struct {
        const char* Text;
        bool Ok;
        double Value;
    } scans[] = {{"12.5", true, 12.5},      {"  -3.25 N", true, -3.25},
                 {"+4.2", true, 4.2},       {".5", true, 0.5},
                 {"4.2.1", true, 4.2},      {"1e3", true, 1000},
                 {"7e", true, 7},           {"12,5", true, 12},
                 {"abc", false, 0},         {"", false, 0},
                 {"-", false, 0},           {"+-1", false, 0},
                 {"1e999", true, INFINITY}, {"-1e-999", true, -0.0}};
    for (const auto& row : scans) {
        double value = -99;
        EXPECT_EQ(ScanReal(row.Text, value), row.Ok) << row.Text;
        if (row.Ok) {
            EXPECT_EQ(value, row.Value) << row.Text;
        }
    }
}

} // namespace

TEST(WireFormat, RealsUnderTheCLocale) {
    ExpectWireFormats();
}

TEST(WireFormat, RealsUnderACommaDecimalLocale) {
    CommaLocale german;
    if (!german.Active)
        GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/deps.sh generates it)";
    char probe[32];
    std::snprintf(probe, sizeof probe, "%0.3f", 12.5);
    ASSERT_STREQ(probe, "12,500") << "the locale must really be in force for this test to mean anything";
    ExpectWireFormats();
    EXPECT_EQ(StrToInt("-42"), -42);
}

TEST(WireFormat, ErrorNumbers) {
    struct {
        const char* Line;
        int32_t Number;
    } rows[] = {{"Error 12", 12}, {"Error", 0},   {"Error -3", -3},   {"Error12", 12},
                {"Error x", 0},   {"error 5", 0}, {"Error 7 bad", 7}, {" Error 5", 0}};
    for (const auto& row : rows)
        EXPECT_EQ(ScanErrorNumber(row.Line), row.Number) << row.Line;
}

TEST(WireFormat, StrToIntAcceptsOnlyWholeIntegers) {
    EXPECT_EQ(StrToInt("12"), 12);
    EXPECT_EQ(StrToInt(" -7 "), -7);
    EXPECT_EQ(StrToInt("+3"), 3);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    for (const char* bad : {"", " ", "12.5", "1x", "x1", "2147483648", "+-1", "--1", "0x10"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message, std::string("'") + bad + "' is not a valid integer value");
        }
    }
}

// Controller texts are Windows-1252 bytes; the front ends see UTF-8.
TEST(ControllerText, EveryByteSurvivesAndTheCodePageIsWindows1252) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string utf8 = ControllerTextToUtf8(all);
    EXPECT_EQ(Utf8ToControllerText(utf8), all);
    EXPECT_EQ(ControllerTextToUtf8("Z\xfcrich \x80"
                                   "1"),
              "Z\u00fcrich \u20ac1");
    EXPECT_EQ(ControllerTextToUtf8("\x93"
                                   "Cell\x94 \x8a"),
              "\u201cCell\u201d \u0160");
    EXPECT_EQ(Utf8ToControllerText("Caf\u00e9 \u2122"), "Caf\xe9 \x99");
}

TEST(ControllerText, WhatTheCodePageLacksOrNoUtf8IsRefused) {
    const struct {
        const char* Text;
        const char* Refused;
    } rows[] = {
        {"\u0417\u0430\u043f", "\u0417"}, // Cyrillic
        {"ok \u2212 1", "\u2212"},        // the minus sign, not "-"
        {"\U0001F600", "\U0001F600"},     // outside the BMP
        {"Caf\xe9", "\xe9"},              // Latin-1 bytes, no UTF-8
        {"\xc0\xaf", "\xc0"},             // an over-long "/"
        {"\xed\xa0\x80", "\xed"},         // a surrogate
        {"ab\xe2\x82", "\xe2"},           // cut short
    };
    for (const auto& row : rows) {
        std::string refused;
        EXPECT_FALSE(Utf8ToControllerText(row.Text, &refused).has_value()) << row.Text;
        EXPECT_EQ(refused, row.Refused) << row.Text;
    }
}
