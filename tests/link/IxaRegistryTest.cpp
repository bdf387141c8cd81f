// The parameter registry: values read whole or refused, known ranges, and the registry held
// against the simulated controller, which keeps a model of its own.

#include "link/IxaInterface.h"
#include "link/IxaParameterTable.h"
#include "sim/SimDevice.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <set>

namespace {

const TIxaParameter& Param(const char* mnemonic) {
    const TIxaParameter* p = FindIxaMnemonic(mnemonic);
    if (!p)
        throw std::logic_error(std::string("no parameter ") + mnemonic);
    return *p;
}

// What a person may type for a number, and what is refused. Blanks around a value are taken, as the
// console's fields take them; anything else that is not the whole number is refused.
TEST(IxaRegistry, NumbersAreReadWholeOrRefused) {
    const TIxaParameter& cf = Param("CF");
    for (const char* text :
         {"1,5", "0x10", "12.5abc", "12.5 7",  "1e309",  "nan",   "inf", "-inf", "",     " ",
          "-",   "+",    "1e3",     "12.5999", "1.0005", "12..5", "--1", "+-1",  "\xff", "12\n"}) {
        EXPECT_THROW(ParseIxaValue(cf, text), EIxaValue) << "'" << text << "'";
    }
    const struct {
        const char* Text;
        double Number;
        const char* Wire;
    } taken[] = {
        {"12.5", 12.5, "12.500"},
        {" 12", 12, "12.000"},
        {"12 ", 12, "12.000"},
        {"\t12.59", 12.59, "12.590"},
        {"-2.5", -2.5, "-2.500"},
        {"+3", 3, "3.000"},
        {".5", 0.5, "0.500"},
        {"7.", 7, "7.000"},
        {"0.001", 0.001, "0.001"},
        {"-0", 0, "-0.000"},
        {"123456.789", 123456.789, "123456.789"},
    };
    for (const auto& row : taken) {
        const TIxaValue value = ParseIxaValue(cf, row.Text);
        EXPECT_DOUBLE_EQ(value.Number, row.Number) << row.Text;
        EXPECT_EQ(value.Wire, row.Wire) << row.Text;
    }
}

TEST(IxaRegistry, IntegersFlagsAndTextsByTheirKind) {
    const TIxaParameter& tn = Param("TN");
    for (const char* text : {"2.5", "0x3", "3abc", "1 2", "99999999999", "", "3.0"})
        EXPECT_THROW(ParseIxaValue(tn, text), EIxaValue) << text;
    EXPECT_EQ(ParseIxaValue(tn, " 7 ").Wire, "7");
    EXPECT_EQ(ParseIxaValue(tn, "+7").Wire, "7");

    const TIxaParameter& act = Param("ACT");
    EXPECT_EQ(ParseIxaValue(act, "on").Wire, "1");
    EXPECT_EQ(ParseIxaValue(act, "FALSE").Wire, "0");
    for (const char* text : {"2", "-1", "yes", "0.5", "01x"})
        EXPECT_THROW(ParseIxaValue(act, text), EIxaValue) << text;

    const TIxaParameter& cn = Param("CN");
    EXPECT_EQ(ParseIxaValue(cn, " Cell 4 ").Text, " Cell 4 "); // a text is taken as typed
    for (const char* text : {"a\nb", "a\rb", "\x1b]0;T\a", "a\x7f"})
        EXPECT_THROW(ParseIxaValue(cn, text), EIxaValue);
    // "CN " and the text fill one command line at most.
    const std::string longest(TIxaInterface::MaxConfigLine - 3, 'x');
    EXPECT_EQ(ParseIxaValue(cn, longest).Text, longest);
    EXPECT_THROW(ParseIxaValue(cn, longest + "x"), EIxaValue);
}

TEST(IxaRegistry, KnownRangesAreRefusedWithTheRangeNamed) {
    try {
        ParseIxaValue(Param("NA"), "16");
        ADD_FAILURE() << "address 16 taken";
    } catch (const EIxaValue& e) {
        EXPECT_STREQ(e.what(), "NA (Network address) takes a value from 0 to 15, not 16");
    }
    EXPECT_THROW(ParseIxaValue(Param("NA"), "-1"), EIxaValue);
    EXPECT_EQ(ParseIxaValue(Param("NA"), "15").Wire, "15");
    EXPECT_THROW(ParseIxaValue(Param("CFI"), "3"), EIxaValue);
    EXPECT_THROW(ParseIxaValue(Param("TW"), "-0.5"), EIxaValue);

    try {
        CheckIxaIndex(Param("FL"), 16);
        ADD_FAILURE() << "force level 16 taken";
    } catch (const EIxaValue& e) {
        EXPECT_STREQ(e.what(), "FL (Force level) takes an index from 0 to 15, not 16");
    }
    EXPECT_NO_THROW(CheckIxaIndex(Param("FL"), 15));
    EXPECT_THROW(CheckIxaIndex(Param("FL"), -1), EIxaValue);
    EXPECT_THROW(CheckIxaIndex(Param("CMF"), 11), EIxaValue);
    EXPECT_THROW(CheckIxaIndex(Param("CF"), 0), EIxaValue);

    try {
        CheckIxaRange(Param("CF"), 500.5, -245, 500, "N", "the controller's maximum force");
        ADD_FAILURE() << "a force above the maximum taken";
    } catch (const EIxaValue& e) {
        EXPECT_STREQ(e.what(), "CF (Command force) takes a value from -245 to 500 N (the controller's "
                               "maximum force), not 500.500");
    }
    EXPECT_NO_THROW(CheckIxaRange(Param("CF"), 500, -245, 500));
}

TEST(IxaRegistry, NamesAndMnemonicsFindTheirParameter) {
    EXPECT_EQ(FindIxaParameter("fl"), &Param("FL"));
    EXPECT_EQ(FindIxaParameter("GetForceLevel"), &Param("FL"));
    EXPECT_EQ(FindIxaParameter("forcelevel"), &Param("FL"));
    EXPECT_EQ(FindIxaParameter("SetCommandForceLevel"), &Param("CFL"));
    EXPECT_EQ(FindIxaParameter("XYZ"), nullptr);
    EXPECT_EQ(FindIxaParameter(""), nullptr);
    EXPECT_EQ(FindIxaMnemonic("fl"), nullptr); // a configuration line's mnemonic is upper case
    std::set<std::string> seen;
    for (size_t i = 0; i < IxaParameterCount; ++i)
        EXPECT_TRUE(seen.insert(IxaParameters[i].Mnemonic).second) << IxaParameters[i].Mnemonic;
}

TEST(IxaRegistry, ControllerErrorsInWords) {
    EXPECT_EQ(IxaErrorText("Error 3"), "Error 3: value out of range");
    EXPECT_EQ(IxaErrorText("Error 2"), "Error 2: malformed command or no such index");
    EXPECT_EQ(IxaErrorText("Error 12"), "Error 12"); // no known meaning: the line as it came
    EXPECT_EQ(IxaErrorText("Error"), "Error");
    EXPECT_EQ(EIxa("Error 4").Described(), "Error 4: the parameter can only be read");
}

// --- the registry against the simulated controller ---

class RegistryAgainstSimulator : public ::testing::Test {
protected:
    sim::TSimDevice Device{sim::TSimOptions{}};
    sim::TSimClock::time_point Now = sim::TSimClock::now();

    std::vector<std::string> Ask(const std::string& command) { return Device.Execute(command, Now).Lines; }

    // How many indices the device answers for p: the registry's count, or the device's function count.
    int Indices(const TIxaParameter& p) {
        if (p.IndexCount >= 0)
            return p.IndexCount;
        const std::string count = std::string("N") + std::string(p.Mnemonic).substr(0, 3);
        return std::stoi(Ask(count + "?").at(0));
    }
};

// A reply line that is a whole value of the kind: the reply grammar's own shapes.
bool OfKind(TIxaValueKind kind, const std::string& line) {
    const char* end = line.data() + line.size();
    switch (kind) {
    case TIxaValueKind::Text:
        return line.compare(0, 5, "Error") != 0;
    case TIxaValueKind::Flag:
        return line == "0" || line == "1";
    case TIxaValueKind::Int: {
        long long v = 0;
        const auto [ptr, ec] = std::from_chars(line.data(), end, v);
        return !line.empty() && ec == std::errc() && ptr == end;
    }
    case TIxaValueKind::Real: {
        double v = 0;
        const auto [ptr, ec] = std::from_chars(line.data(), end, v, std::chars_format::fixed);
        const size_t point = line.find('.');
        return !line.empty() && ec == std::errc() && ptr == end && point != std::string::npos &&
               line.size() - point == 4;
    }
    }
    return false;
}

TEST_F(RegistryAgainstSimulator, EveryEntryIsAnsweredWithItsKindAccessAndIndexRange) {
    for (size_t i = 0; i < IxaParameterCount; ++i) {
        const TIxaParameter& p = IxaParameters[i];
        SCOPED_TRACE(p.Mnemonic);
        const std::string name = p.Mnemonic;
        const int count = Indices(p);
        std::string value; // one value the device holds, to write back
        if (p.Readable()) {
            for (int index = 0; index < std::max(count, 1); ++index) {
                const auto reply = Ask(name + "?" + (p.Indexed() ? " " + std::to_string(index) : ""));
                ASSERT_EQ(reply.size(), 2u) << reply.at(0);
                EXPECT_EQ(reply[1], "OK");
                EXPECT_TRUE(OfKind(p.Kind, reply[0])) << index << ": " << reply[0];
                if (index == 0)
                    value = reply[0];
            }
            if (p.Indexed()) { // one past the last index is the controller's own refusal
                EXPECT_EQ(Ask(name + "? " + std::to_string(count)).at(0), "Error 2");
            } else {
                EXPECT_EQ(Ask(name + "? 0").at(0), "Error 2");
            }
        } else {
            EXPECT_EQ(Ask(name + "?").at(0), "Error 2"); // write-only
            value = "0";
        }
        const std::string set = name + " " + (p.Indexed() ? "0 " : "") + value;
        if (p.Writable()) {
            EXPECT_EQ(Ask(set), std::vector<std::string>{"OK"}) << set;
        } else {
            EXPECT_EQ(Ask(set).at(0), "Error 4") << set;
        }
    }
}

TEST_F(RegistryAgainstSimulator, TheSimulatorHasNoParameterTheRegistryLacks) {
    const auto names = sim::TSimDevice::ParameterNames();
    EXPECT_EQ(names.size(), IxaParameterCount);
    for (const std::string& name : names)
        EXPECT_NE(FindIxaMnemonic(name), nullptr) << name;
    EXPECT_EQ(Ask("XYZ?").at(0), "Error 1");
    EXPECT_THROW(Device.Parameter("XYZ", -1, Now), std::invalid_argument);
    EXPECT_THROW(Device.SetParameter("CFX", "1", -1, Now), std::invalid_argument);
}

// The ends the registry knows are the device's own: a value just past one is refused by both.
TEST_F(RegistryAgainstSimulator, KnownRangesAgreeWithTheDevice) {
    for (size_t i = 0; i < IxaParameterCount; ++i) {
        const TIxaParameter& p = IxaParameters[i];
        if (!p.Writable() || !p.HasRange() || p.Kind == TIxaValueKind::Flag)
            continue;
        SCOPED_TRACE(p.Mnemonic);
        const std::string prefix = std::string(p.Mnemonic) + " " + (p.Indexed() ? "0 " : "");
        EXPECT_EQ(Ask(prefix + ParseIxaValue(p, std::to_string(int(p.Low))).Wire).at(0), "OK");
        EXPECT_EQ(Ask(prefix + std::to_string(int(p.Low) - 1)).at(0), "Error 3");
        if (!std::isinf(p.High)) {
            EXPECT_EQ(Ask(prefix + ParseIxaValue(p, std::to_string(int(p.High))).Wire).at(0), "OK");
            EXPECT_EQ(Ask(prefix + std::to_string(int(p.High) + 1)).at(0), "Error 3");
            EXPECT_THROW(ParseIxaValue(p, std::to_string(int(p.High) + 1)), EIxaValue);
        }
        EXPECT_THROW(ParseIxaValue(p, std::to_string(int(p.Low) - 1)), EIxaValue);
    }
}

} // namespace
