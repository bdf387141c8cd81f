// The simulated controller's answers: grammar, handshake, units, device model, dumps.

#include "TestLine.h"
#include "sim/Simulator.h"

#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

class SimProtocol : public ::testing::Test {
protected:
    explicit SimProtocol(sim::TSimOptions options = {}) : Sim(options), Line(Sim.SlavePath()) {}

    // Polls a get until pred holds for its value; returns the last value.
    template <typename Pred> double PollUntil(const std::string& get, unsigned ms, Pred pred) {
        const auto deadline = TTestLine::TClock::now() + std::chrono::milliseconds(ms);
        double v = 0;
        do
            v = std::atof(Line.Value(get).c_str());
        while (!pred(v) && TTestLine::TClock::now() < deadline);
        return v;
    }

    sim::TSimulator Sim;
    TTestLine Line;
};

TEST_F(SimProtocol, HandshakeAndFunctionLists) {
    EXPECT_EQ(Line.Exchange("0:VER?"), (Lines{"0:VER?", "4.2", "OK"}));
    for (const char* kind : {"DIF", "DOF", "AOF"}) {
        const std::string count = Line.Value(std::string("0:N") + kind + "?");
        ASSERT_GE(std::atoi(count.c_str()), 3) << kind;
        Lines names;
        for (int i = 0; i < std::atoi(count.c_str()); ++i)
            names.push_back(Line.Value("0:" + std::string(kind) + "D? " + std::to_string(i)));
        EXPECT_EQ(names.front(), "None") << kind;
        for (const auto& name : names)
            EXPECT_TRUE(!name.empty() && name != "<bad reply>") << kind;
        // one past the last name is a bad index
        EXPECT_EQ(Line.Reply("0:" + std::string(kind) + "D? " + count), "Error 2");
    }
}

// One session, in order: each row is a command and the exact lines that come back.
TEST_F(SimProtocol, CommandGrammar) {
    const struct {
        std::string Command;
        Lines Reply; // after the echo
    } rows[] = {
        {"FL? 3", {"75.000", "OK"}},
        {"FL 3 12.500", {"OK"}},
        {"FL? 3", {"12.500", "OK"}},
        {"FL? 4", {"100.000", "OK"}}, // the neighbour is untouched
        {"CF 900.000", {"Error 3", "OK"}},
        {"CF 500.000", {"OK"}},
        {"CF -245.000", {"OK"}}, // -(MW 25 kg x 9.8)
        {"CF -245.100", {"Error 3", "OK"}},
        {"CF?", {"-245.000", "OK"}},
        {"CF 12", {"OK"}},
        {"CF 12,500", {"Error 2", "OK"}},
        {"CF nan", {"Error 2", "OK"}},
        {"CF", {"Error 2", "OK"}},
        {"CF? 1", {"Error 2", "OK"}},
        {"FL?", {"Error 2", "OK"}},
        {"FL? 16", {"Error 2", "OK"}},
        {"FL 16 1.000", {"Error 2", "OK"}},
        {"XYZ?", {"Error 1", "OK"}},
        {"MF 400.000", {"Error 4", "OK"}},
        {"MF?", {"500.000", "OK"}},
        {"ACT 2", {"Error 3", "OK"}},
        {"ACT 1.0", {"Error 2", "OK"}},
        {"CFL?", {"Error 2", "OK"}},
        {"CFL 3", {"OK"}},
        {"CF?", {"12.500", "OK"}}, // level 3 became the command
        {"CN Cell 4", {"OK"}},
        {"CN?", {"Cell 4", "OK"}},
        {"CN  two  blanks ", {"OK"}},
        {"CN?", {" two  blanks ", "OK"}},
        {"TN 16", {"Error 3", "OK"}},
        {"RDI?", {"0", "OK"}},
        {"SPO?", {"0", "OK"}},
        {"", {"OK"}}, // a blank line of a configuration file
    };
    for (const auto& row : rows) {
        Lines expected{"0:" + row.Command};
        expected.insert(expected.end(), row.Reply.begin(), row.Reply.end());
        EXPECT_EQ(Line.Exchange("0:" + row.Command), expected) << row.Command;
    }
}

TEST_F(SimProtocol, NumbersIgnoreTheDecimalCommaLocale) {
    const std::string old = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.utf8"))
        GTEST_SKIP() << "no comma-decimal locale here";
    EXPECT_EQ(Line.Exchange("0:CF 12.500"), (Lines{"0:CF 12.500", "OK"}));
    EXPECT_EQ(Line.Value("0:CF?"), "12.500");
    EXPECT_EQ(Sim.Parameter("ELP"), "145.000");
    std::setlocale(LC_ALL, old.c_str());
}

TEST_F(SimProtocol, UnitsSwitchConvertsStoredValues) {
    EXPECT_EQ(Line.Exchange("0:CU 1"), (Lines{"0:CU 1", "OK"}));
    EXPECT_EQ(Line.Value("0:MF?"), "112.404");
    EXPECT_EQ(Line.Value("0:MW?"), "55.116");
    EXPECT_EQ(Line.Value("0:MP?"), "5.906");
    EXPECT_EQ(Line.Value("0:ELP?"), "5.709");
    // The English force range is -MW..MF in pounds; the rounded maximum is still accepted.
    EXPECT_EQ(Line.Reply("0:CF 112.404"), "OK");
    EXPECT_EQ(Line.Reply("0:CF 112.500"), "Error 3");
    EXPECT_EQ(Line.Reply("0:CF -55.116"), "OK");
    EXPECT_EQ(Line.Reply("0:CF 12.500"), "OK");
    EXPECT_EQ(Line.Reply("0:CU 0"), "OK");
    EXPECT_EQ(Line.Value("0:CF?"), "55.603");
    EXPECT_EQ(Line.Value("0:ELP?"), "145.000");
}

TEST_F(SimProtocol, ActualForceLagsBehindCommand) {
    ASSERT_EQ(Line.Reply("0:CF 200.000"), "OK");
    EXPECT_EQ(Line.Value("0:AF?"), "0.000"); // retracted
    ASSERT_EQ(Line.Reply("0:ACT 1"), "OK");
    const double first = std::atof(Line.Value("0:AF?").c_str());
    EXPECT_GT(first, 0.0);
    EXPECT_LT(first, 150.0); // a lag, not a jump
    double last = first;
    bool rising = true;
    const double final = PollUntil("0:AF?", 3000, [&](double v) {
        rising = rising && v >= last;
        last = v;
        return v > 195.0;
    });
    EXPECT_TRUE(rising);
    EXPECT_GT(final, 195.0);
    EXPECT_LE(final, 200.0);
    ASSERT_EQ(Line.Reply("0:ACT 0"), "OK");
    EXPECT_EQ(Line.Value("0:AF?"), "0.000");
}

TEST_F(SimProtocol, PositionModeStopsAtTheLimit) {
    ASSERT_EQ(Line.Reply("0:ELP 20.000"), "OK");
    EXPECT_EQ(Line.Reply("0:CP 151.000"), "Error 3"); // beyond MP
    ASSERT_EQ(Line.Reply("0:CP 100.000"), "OK");      // beyond ELP, within MP
    ASSERT_EQ(Line.Reply("0:PM 1"), "OK");
    ASSERT_EQ(Line.Reply("0:ACT 1"), "OK");
    double highest = 0;
    PollUntil("0:POS?", 2000, [&](double v) {
        highest = std::max(highest, v);
        return v >= 20.0;
    });
    EXPECT_EQ(highest, 20.0);
    EXPECT_EQ(Line.Value("0:LIM?"), "1");
    EXPECT_NE(std::atoi(Line.Value("0:RDO?").c_str()) & 0x8, 0);    // + LIMIT lamp
    EXPECT_NE(std::atoi(Line.Value("0:RDO?").c_str()) & 0x1000, 0); // DOUT2: In Position
    ASSERT_EQ(Line.Reply("0:ACT 0"), "OK");
    PollUntil("0:POS?", 2000, [](double v) { return v <= 5.0; }); // back to the retract limit
    EXPECT_EQ(Line.Value("0:POS?"), "5.000");
}

TEST_F(SimProtocol, ToolAndOrientation) {
    ASSERT_EQ(Line.Reply("0:TN 2"), "OK");
    EXPECT_EQ(Line.Value("0:CTW?"), Line.Value("0:TW? 2"));
    EXPECT_EQ(Line.Value("0:TT?"), "Sanding Head");
    EXPECT_EQ(Line.Value("0:TC?"), "1");
    EXPECT_NE(std::atoi(Line.Value("0:RDO?").c_str()) & 0x4, 0);
    ASSERT_EQ(Line.Reply("0:ACT 1"), "OK");
    Sim.SetToolConnected(false);
    EXPECT_EQ(Line.Value("0:TC?"), "0");
    EXPECT_EQ(Line.Value("0:ACT?"), "0"); // unplugging retracts
    EXPECT_EQ(std::atoi(Line.Value("0:RDO?").c_str()) & 0x4, 0);
    EXPECT_EQ(Line.Reply("0:ATW 2"), "Error 5");
    Sim.SetMountingAngle(30);
    EXPECT_EQ(Line.Value("0:SA?"), "0.500");
    Sim.SetMountingAngle(-90);
    EXPECT_EQ(Line.Value("0:SA?"), "-1.000");
}

TEST_F(SimProtocol, ConfigurationDumpDownloadsBack) {
    for (const std::string dump : {"DCC", "DTC"}) {
        ASSERT_EQ(Line.Reply("0:CU 1"), "OK"); // dumped in English units
        Lines lines = Line.Exchange("0:" + dump);
        ASSERT_GE(lines.size(), 20u);
        ASSERT_EQ(lines.front(), "0:" + dump);
        ASSERT_EQ(lines.back(), "OK");
        lines = Lines(lines.begin() + 1, lines.end() - 1);
        const std::string fl3 = Line.Value("0:FL? 3"), tw5 = Line.Value("0:TW? 5");
        const std::string cn = Sim.Parameter("CN"), tn = Sim.Parameter("TN"), tt = Sim.Parameter("TT");
        for (const auto& l : lines)
            EXPECT_EQ(l.find("Error"), std::string::npos) << l;

        // Change what the dump holds, in the other unit system, then send it back.
        ASSERT_EQ(Line.Reply("0:CU 0"), "OK");
        Sim.SetParameter("FL", "1.5", 3);
        Sim.SetParameter("TW", "9.0", 5);
        Sim.SetParameter("CN", "Other");
        Sim.SetParameter("TN", "7");
        for (const auto& l : lines)
            EXPECT_EQ(Line.Exchange("0:" + l), (Lines{"0:" + l, "OK"}));
        EXPECT_EQ(Sim.Parameter("CU"), "1");
        if (dump == "DCC") {
            EXPECT_EQ(Line.Value("0:FL? 3"), fl3);
            EXPECT_EQ(Sim.Parameter("CN"), cn);
        } else {
            EXPECT_EQ(Line.Value("0:TW? 5"), tw5);
            EXPECT_EQ(Sim.Parameter("TN"), tn);
            EXPECT_EQ(Line.Value("0:TT?"), tt);
        }
    }
}

TEST(SimVersion, OlderControllerRefusesDigitalSnapshots) {
    sim::TSimulator sim(With([](sim::TSimOptions& o) { o.Version = 4.1; }));
    TTestLine line(sim.SlavePath());
    EXPECT_EQ(line.Exchange("0:VER?"), (Lines{"0:VER?", "4.1", "OK"}));
    EXPECT_EQ(line.Exchange("0:RDI?"), (Lines{"0:RDI?", "Error 1", "OK"}));
    EXPECT_EQ(line.Exchange("0:RDO?"), (Lines{"0:RDO?", "Error 1", "OK"}));
    EXPECT_EQ(line.Value("0:AIN?"), "0.000");

    // Just above 4.1 the link asks for the snapshots, and they are there.
    sim::TSimulator newer(With([](sim::TSimOptions& o) { o.Version = 4.15; }));
    TTestLine newerLine(newer.SlavePath());
    for (const char* query : {"0:RDI?", "0:RDO?"}) {
        const Lines reply = newerLine.Exchange(query);
        ASSERT_EQ(reply.size(), 3u) << query;
        EXPECT_EQ(reply[1].find_first_not_of("0123456789"), std::string::npos) << query << ": " << reply[1];
        EXPECT_EQ(reply[2], "OK");
    }

    sim::TSimulator text(With([](sim::TSimOptions& o) { o.VersionText = "4.20 (build 7)"; }));
    TTestLine other(text.SlavePath());
    EXPECT_EQ(other.Value("0:VER?"), "4.20 (build 7)");
}

TEST(SimTiming, WeighingAndSavingTakeTheirTime) {
    sim::TSimulator sim;
    TTestLine line(sim.SlavePath());
    const std::string before = sim.Parameter("TW", 1);
    const auto start = TTestLine::TClock::now();
    ASSERT_TRUE(line.Send("0:ATW 1"));
    EXPECT_EQ(line.ReadLine(500), "0:ATW 1");
    EXPECT_EQ(line.ReadLine(1500), std::nullopt); // still weighing
    EXPECT_EQ(line.ReadLine(3000), "OK");
    EXPECT_GE(TTestLine::TClock::now() - start, std::chrono::milliseconds(2900));
    EXPECT_NE(sim.Parameter("TW", 1), before);

    for (const std::string save : {"SC", "SC 1"}) {
        const auto t0 = TTestLine::TClock::now();
        EXPECT_EQ(line.Exchange("0:" + save), (Lines{"0:" + save, "OK"}));
        EXPECT_GE(TTestLine::TClock::now() - t0, std::chrono::milliseconds(450));
    }
    EXPECT_EQ(line.Reply("0:SC 2"), "Error 3");
}

} // namespace

// A simulator left running beside a console keeps no record of what it was sent.
TEST(SimRecord, CanBeSwitchedOffForLongRuns) {
    sim::TSimOptions options;
    options.RecordReceived = false;
    sim::TSimulator sim(options);
    TTestLine line(sim.SlavePath());
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(line.Exchange("0:CF?").size(), 3u);
    EXPECT_TRUE(sim.Received().empty());
}

// Maxima a controller should never hold, set directly for the console's tests: answered as set, and
// the device model keeps going (no travel for a negative maximum position).
TEST_F(SimProtocol, FaultyMaximaAreAnsweredAsSet) {
    Sim.SetParameter("MP", "-5");
    EXPECT_EQ(Line.Value("0:MP?"), "-5.000");
    EXPECT_LE(std::atof(Line.Value("0:POS?").c_str()), 5.0); // heading for 0, never beyond its start
    Sim.SetParameter("MP", "inf");
    EXPECT_EQ(Line.Value("0:MP?"), "inf");
    Sim.SetParameter("MW", "-10");
    EXPECT_EQ(Line.Value("0:MW?"), "-10.000");
    EXPECT_EQ(Line.Reply("0:ACT 1"), "OK");
    EXPECT_EQ(Line.Value("0:AF?").find("Error"), std::string::npos);
    EXPECT_THROW(Sim.SetParameter("MP", "infinity"), std::invalid_argument);
}
