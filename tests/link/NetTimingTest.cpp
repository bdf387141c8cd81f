// The exchange through a serial device server at the line's pace: a CF? exchange at 9600-baud
// pacing through ser2net takes about what it takes on the local pseudo-terminal. ser2net sends a
// reply in pieces and, after the first, waits for our acknowledgement (Nagle's algorithm); a
// delayed acknowledgement on our side (up to 40 ms) would double the exchange. Timing: label
// "timing", run by the default preset only (a sanitizer's slowness is no stall).

#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "sim/Simulator.h"
#include "support/Ser2net.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace {

// The best per-exchange time of a few rounds of a few exchanges: a loaded machine makes some rounds
// slow, a stall makes every one slow.
struct TPacedLine {
    explicit TPacedLine(bool network, bool telnet) : Sim(Options()) {
        std::string name = Sim.SlavePath();
        if (network) {
            Server = std::make_unique<TSer2net>(Sim.SlavePath(), telnet, "chardelay: false");
            EXPECT_TRUE(Server->Start());
            name = Server->PortName();
        }
        Port.Open(name);
        Link.Connect();
    }
    static sim::TSimOptions Options() {
        sim::TSimOptions options;
        options.Paced = true;
        return options;
    }
    double RoundMs() {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 4; ++i)
            Link.GetCommandForce();
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
               4;
    }
    sim::TSimulator Sim;
    std::unique_ptr<TSer2net> Server;
    TCommPort Port;
    TIxaInterface Link{&Port};
};

} // namespace

TEST(NetTiming, APacedExchangeThroughSer2netTakesAboutTheLocalTime) {
    if (!TSer2net::Installed())
        GTEST_SKIP() << "ser2net is not installed";
    for (bool telnet : {false, true}) {
        TPacedLine local(false, false), served(true, telnet);
        ASSERT_TRUE(local.Link.Connected);
        ASSERT_TRUE(served.Link.Connected) << served.Port.OpenFailure();
        double localMs = 1e9, servedMs = 1e9;
        for (int round = 0; round < 6; ++round) { // taking turns
            localMs = std::min(localMs, local.RoundMs());
            servedMs = std::min(servedMs, served.RoundMs());
        }
        EXPECT_LT(servedMs, 1.2 * localMs)
            << served.Server->PortName() << ": " << servedMs << " ms against " << localMs << " ms locally";
    }
}
