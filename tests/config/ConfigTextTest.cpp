// Reading configuration texts and comparing them as the controller would take them.

#include "config/ConfigCompare.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

namespace {

TEST(ConfigTextTest, LinesBecomeKeyedParameters) {
    const TConfigText config = TConfigText::Parse("CU 0\r\nCN Cell 4\nfl 3 12.500\nTN 2\nTT Gripper\n"
                                                  "TW 2 1.500\nCF?\n\nFL x 1\nCN");
    ASSERT_EQ(config.Entries.size(), 10u);
    struct TRow {
        const char* Key;
        const char* Mnemonic;
        int Index;
        const char* Value;
    };
    const TRow rows[] = {
        {"CU", "CU", -1, "0"},
        {"CN", "CN", -1, "Cell 4"},  // the value keeps its blanks
        {"FL 3", "FL", 3, "12.500"}, // lower case is the controller's upper case
        {"TN", "TN", -1, "2"},
        {"TT 2", "TT", 2, "Gripper"}, // the tool type of the tool selected before it
        {"TW 2", "TW", 2, "1.500"},
        {"\nCF?", "", -1, ""},    // a query writes nothing
        {"\n", "", -1, ""},       // a blank line
        {"\nFL x 1", "", -1, ""}, // an index that is no number
        {"\nCN", "", -1, ""},     // no value: never the key of "CN <name>"
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        const TConfigEntry& e = config.Entries[i];
        EXPECT_EQ(e.LineNumber, i + 1);
        EXPECT_EQ(e.Key, rows[i].Key);
        EXPECT_EQ(e.Mnemonic, rows[i].Mnemonic);
        EXPECT_EQ(e.Index, rows[i].Index);
        EXPECT_EQ(e.Value, rows[i].Value);
    }
    EXPECT_EQ(config.Entries[0].Line, "CU 0"); // CR LF ends a line like LF
    EXPECT_EQ(config.Entries[9].Line, "CN");   // the last line needs no line end
    EXPECT_EQ(config.Find("CN")->Value, "Cell 4");
    EXPECT_EQ(config.EnglishUnits(), false);
    EXPECT_FALSE(config.IsToolConfiguration());
}

TEST(ConfigTextTest, TheLastLineOfAKeyIsWhatTheControllerHolds) {
    const TConfigText config = TConfigText::Parse("TN 0\nTT Probe\nTN 1\nTT Gripper\nTN 0\nCU 1\nCU 0\n");
    EXPECT_EQ(config.Find("TN")->Value, "0");
    EXPECT_EQ(config.Find("TN")->LineNumber, 5u);
    EXPECT_EQ(config.Find("TT 0")->Value, "Probe");
    EXPECT_EQ(config.Find("TT 1")->Value, "Gripper");
    EXPECT_EQ(config.EnglishUnits(), false);
    EXPECT_TRUE(config.IsToolConfiguration()); // tool lines and the units only
    EXPECT_FALSE(TConfigText::Parse("CU 1\nTW 0 1.0\nFL 0 1.0\n").IsToolConfiguration());
    EXPECT_FALSE(TConfigText::Parse("CU 1\n").IsToolConfiguration());
    EXPECT_EQ(TConfigText::Parse("CU x\n").EnglishUnits(), std::nullopt);
    EXPECT_EQ(TConfigText::Parse("CN A\n").EnglishUnits(), std::nullopt);
}

TEST(ConfigTextTest, ValuesCompareAsTheControllerTakesThem) {
    const TParameterInfo* real = FindParameter("FL");
    const TParameterInfo* integer = FindParameter("DIF");
    const TParameterInfo* flag = FindParameter("CU");
    const TParameterInfo* text = FindParameter("CN");
    struct TRow {
        const TParameterInfo* Info;
        const char* A;
        const char* B;
        bool Same;
    };
    const TRow rows[] = {
        {real, "12.5", "12.500", true},
        {real, "12.5000", "1.25e1", true},
        {real, "-0.000", "0", true},
        {real, "12.5004", "12.500", true}, // the dump's three decimals cannot tell them apart
        {real, "12.501", "12.500", false},
        {real, "-2.5", "2.500", false},
        {real, "+12.5", "12.500", false}, // the controller cannot read "+12.5"
        {real, "12,5", "12.500", false},  // nor a decimal comma
        {real, "nan", "nan", true},       // the same text is the same line
        {real, "inf", "1e400", false},
        {integer, "07", "7", true},
        {integer, "7.0", "7", false},
        {integer, "2", "3", false},
        {flag, "1", "01", true},
        {flag, "1", "2", false},
        {text, "Cell 4", "Cell 4", true},
        {text, "Cell 4", "Cell 4 ", false},
        {text, "1.0", "1", false},
        {nullptr, "1.0", "1", true}, // an unknown parameter's numbers compare by value
        {nullptr, "abc", "abd", false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(std::string(row.A) + " / " + row.B);
        EXPECT_EQ(SameValue(row.Info, row.A, row.B), row.Same);
        EXPECT_EQ(SameValue(row.Info, row.B, row.A), row.Same);
    }
}

TEST(ConfigCompareTest, MarksExactlyTheDifferencesAndTheOneSidedLines) {
    const TConfigText controller = TConfigText::Parse("CU 0\nCN Cell 4\nFS 1.000\nFL 0 10.000\nFL 1 20.000\n"
                                                      "CMF 0 5.000\nNA 0\n");
    const TConfigText file = TConfigText::Parse("CU 0\nCN Cell 5\nFS 1.0\nFL 0 10\nFL 1 25.000\nXYZ 1\n"
                                                "NA 0\nCN Cell 5\n");
    const TConfigCompare result = TConfigCompare::Compare(file, controller);
    std::vector<std::pair<std::string, TCompareState>> states;
    for (const TCompareRow& row : result.Rows)
        states.emplace_back(row.Key, row.State);
    using S = TCompareState;
    const std::vector<std::pair<std::string, TCompareState>> expected = {
        {"CU", S::Same},      {"CN", S::Differs},   {"FS", S::Same}, {"FL 0", S::Same},
        {"FL 1", S::Differs}, {"XYZ", S::FileOnly}, {"NA", S::Same}, {"CMF 0", S::ControllerOnly}};
    EXPECT_EQ(states, expected);
    EXPECT_EQ(result.Differences(), 4u);
    EXPECT_FALSE(result.UnitsDiffer());
    EXPECT_EQ(result.UnitsWarning(), "");

    const TCompareRow& fl = result.Rows[4];
    EXPECT_EQ(fl.Parameter, "FL 1");
    EXPECT_EQ(fl.Name, "Force level");
    EXPECT_EQ(fl.FileValue, "25.000");
    EXPECT_EQ(fl.ControllerValue, "20.000");
    EXPECT_EQ(fl.FileUnits, "N");
    EXPECT_EQ(fl.ControllerUnits, "N");
    EXPECT_EQ(fl.FileLine, 5u);
    EXPECT_EQ(fl.ControllerLine, 5u);
    const TCompareRow& cn = result.Rows[1];
    EXPECT_EQ(cn.FileLine, 8u); // the later of the two "CN" lines
    EXPECT_EQ(cn.FileUnits, "");
    const TCompareRow& cmf = result.Rows[7];
    EXPECT_EQ(cmf.FileLine, 0u);
    EXPECT_EQ(cmf.FileValue, "");
    EXPECT_EQ(cmf.ControllerValue, "5.000");
    EXPECT_EQ(result.Rows[5].Name, "");
}

// A file of 100,000 distinct keys against a dump of as many: linear in the keys (it took half a
// minute when each key was looked up by a search through the lines). The rows stay exact and follow
// the file.
TEST(ConfigCompareTest, AHundredThousandKeysCompareWithinASecond) {
    constexpr int Keys = 100000;
    // "QAAAA", "QAAAB"...: mnemonics no parameter has, one key each.
    const auto key = [](int k) {
        std::string text = "Q";
        for (int digit = 0; digit < 4; ++digit, k /= 26)
            text += static_cast<char>('A' + k % 26);
        return text;
    };
    std::string fileText, controllerText;
    fileText.reserve(Keys * 12);
    controllerText.reserve(Keys * 12);
    for (int k = 0; k < Keys; ++k) {
        const int j = Keys - 1 - k;
        fileText.append(key(k)).append(" ").append(std::to_string(k % 7)).append("\n");
        controllerText.append(key(j)).append(" ").append(std::to_string(j % 5)).append("\n");
    }
    const TConfigText file = TConfigText::Parse(fileText);
    const TConfigText controller = TConfigText::Parse(controllerText);
    ASSERT_EQ(file.Entries.size(), size_t(Keys));

    // Processor time, not wall time: a loaded build machine stretches the one, not the other.
    const std::clock_t start = std::clock();
    const TConfigCompare result = TConfigCompare::Compare(file, controller);
    const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
#ifdef KORVA_SANITIZED
    EXPECT_LT(seconds, 10.0); // the sanitizers' own cost; a quadratic compare takes minutes there
#else
    EXPECT_LT(seconds, 1.0);
#endif

    ASSERT_EQ(result.Rows.size(), size_t(Keys));
    size_t differs = 0;
    for (size_t k = 0; k < result.Rows.size(); ++k) {
        const TCompareRow& row = result.Rows[k];
        ASSERT_EQ(row.Key, key(int(k)));
        ASSERT_EQ(row.ControllerLine, size_t(Keys - k)) << row.Key;
        differs += row.State == TCompareState::Differs;
    }
    EXPECT_EQ(result.Rows[12].FileValue, "5");
    EXPECT_EQ(result.Rows[12].ControllerValue, std::to_string(12 % 5));
    EXPECT_EQ(result.Differences(), differs);
    EXPECT_GT(differs, 0u);
    std::printf("100,000 keys compared in %.3f s\n", seconds);
}

// A key written twice with two values, on either side: the last line is what counts.
TEST(ConfigCompareTest, AKeyWrittenTwiceComparesByItsLastLine) {
    const TConfigText controller = TConfigText::Parse("FL 0 10.000\nFL 1 20.000\nCN Old\nCN Cell 4\n");
    const TConfigText file =
        TConfigText::Parse("FL 0 99.000\nFL 0 10.000\nFL 1 20.000\nFL 1 21.000\nCN Cell 4\n");
    const TConfigCompare result = TConfigCompare::Compare(file, controller);
    std::vector<std::pair<std::string, TCompareState>> states;
    for (const TCompareRow& row : result.Rows)
        states.emplace_back(row.Key, row.State);
    using S = TCompareState;
    EXPECT_EQ(states, (std::vector<std::pair<std::string, TCompareState>>{
                          {"FL 0", S::Same}, {"FL 1", S::Differs}, {"CN", S::Same}}));
    ASSERT_EQ(result.Rows.size(), 3u);
    EXPECT_EQ(result.Rows[1].FileValue, "21.000");
    EXPECT_EQ(result.Rows[1].FileLine, 4u);
}

TEST(ConfigCompareTest, OtherUnitsAreAWarning) {
    const TConfigText controller = TConfigText::Parse("CU 0\nFL 0 44.482\nTW 0 0.454\n");
    const TConfigText file = TConfigText::Parse("CU 1\nFL 0 10.000\nTW 0 1.000\n");
    const TConfigCompare result = TConfigCompare::Compare(file, controller);
    EXPECT_TRUE(result.UnitsDiffer());
    EXPECT_NE(result.UnitsWarning().find("English"), std::string::npos);
    EXPECT_EQ(result.Rows[1].FileUnits, "Lbf.");
    EXPECT_EQ(result.Rows[1].ControllerUnits, "N");
    EXPECT_EQ(result.Rows[2].FileUnits, "Lb.");
    EXPECT_EQ(result.Rows[2].ControllerUnits, "kg");

    // A file without "CU" is read in the controller's units; a dump without it in the given ones.
    const TConfigCompare noCu =
        TConfigCompare::Compare(TConfigText::Parse("FL 0 1\n"), TConfigText::Parse("FL 0 1\n"), true);
    EXPECT_FALSE(noCu.UnitsDiffer());
    EXPECT_EQ(noCu.Rows[0].FileUnits, "Lbf.");
    const TConfigCompare given = TConfigCompare::Compare(file, TConfigText::Parse("FL 0 1\n"), false);
    EXPECT_TRUE(given.UnitsDiffer());
}

} // namespace
