// The simulated controller's I/O, as the diagnostics window shows it: the words and analogue values
// must follow the device, or the window has nothing worth watching.

#include "sim/Simulator.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

int Word(const sim::TSimulator& s, const char* name) {
    return std::atoi(s.Parameter(name).c_str());
}
double Real(const sim::TSimulator& s, const char* name, int index = -1) {
    return std::atof(s.Parameter(name, index).c_str());
}

// Polls until pred holds or the deadline passes; returns whether it held.
template <typename Pred> bool Eventually(Pred pred, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(SimIo, CpuClockOutputTogglesAndTheStartIsAtTheRetractLimit) {
    sim::TSimulator s;
    EXPECT_EQ(Word(s, "RDO") & 0x318, 0x210); // both minus-limit outputs
    const int first = Word(s, "RDO") & 0x1;
    EXPECT_TRUE(Eventually([&] { return (Word(s, "RDO") & 0x1) != first; }, 1500));
    EXPECT_TRUE(Eventually([&] { return (Word(s, "RDO") & 0x1) == first; }, 1500));
}

TEST(SimIo, ToolOutputAndCodingInputsFollowTheTool) {
    sim::TSimulator s;
    s.SetParameter("TN", "5");
    EXPECT_NE(Word(s, "RDO") & 0x4, 0);
    EXPECT_EQ(Word(s, "RDI") & 0x1E0, 5 << 5); // TOOL0 and TOOL2
    // DIN2 and DIN3 carry tool bits 0 and 1 by their default functions.
    EXPECT_EQ(Word(s, "RDI") & 0x1E00, 0x0800);
    s.SetToolConnected(false);
    EXPECT_EQ(Word(s, "RDO") & 0x4, 0);
    EXPECT_EQ(Word(s, "RDI") & 0x1FE0, 0);
}

TEST(SimIo, InputsFollowTheirFunctionsAndHeldLines) {
    sim::TSimulator s;
    EXPECT_EQ(Word(s, "RDI"), 0); // retracted, tool 0
    s.SetParameter("ACT", "1");
    EXPECT_EQ(Word(s, "RDI") & 0x1, 0x1);       // ACT/RET
    EXPECT_EQ(Word(s, "RDI") & 0x0200, 0x0200); // DIN0: Activate
    s.SetParameter("DIF", "7", 1);              // DIN1: Emergency Stop
    s.SetParameter("ACT", "0");
    s.SetParameter("ES", "1");
    EXPECT_EQ(Word(s, "RDI") & 0x0601, 0x0400);  // stopped: retracted, the stop line on
    s.SetParameter("RDI", std::to_string(0x1E)); // CDF0-3 held on from outside
    EXPECT_EQ(Word(s, "RDI") & 0x1E, 0x1E);
}

TEST(SimIo, AnalogueValuesFollowForceAndPosition) {
    sim::TSimulator s; // AOUT0: actual force, AOUT1: position; MF 500 N, MP 150 mm
    EXPECT_EQ(Real(s, "AIN"), 0.0);
    EXPECT_NEAR(Real(s, "AOUT", 1), 5.0 / 150 * 10, 1e-3);
    s.SetParameter("CF", "250.0");
    s.SetParameter("ACT", "1");
    EXPECT_TRUE(Eventually([&] { return Real(s, "AIN") > 4.9; }, 3000));
    // The force is still rising: the output read between two force reads lies between their volts
    // (10 V at 500 N; the texts carry three decimals).
    const double before = Real(s, "AF"), volts = Real(s, "AOUT", 0), after = Real(s, "AF");
    EXPECT_GE(volts, before / 50.0 - 6e-4);
    EXPECT_LE(volts, after / 50.0 + 6e-4);
    EXPECT_TRUE(Eventually([&] { return Real(s, "AOUT", 1) > 5.9; }, 3000)); // at the workpiece, 90 mm
    EXPECT_THROW(s.SetParameter("AIN", "1.0"), std::invalid_argument);
}

} // namespace
