// The simulator's line: the pseudo-terminal, addresses, faults, scripts, line ends and pacing.

#include "TestLine.h"
#include "sim/Simulator.h"

#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>

namespace {

using Lines = std::vector<std::string>;
using std::chrono::milliseconds;
using TClock = TTestLine::TClock;

TEST(SimLine, SlaveIsRawBeforeAnyoneOpensIt) {
    sim::TSimulator sim;
    TTestLine line(sim.SlavePath());
    ASSERT_GE(line.Fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(line.Fd, &tio), 0);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IXON), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
}

TEST(SimLine, ReopeningThePortKeepsTheLine) {
    sim::TSimulator sim;
    TTestLine line(sim.SlavePath());
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(line.Exchange("0:VER?"), (Lines{"0:VER?", "4.2", "OK"})) << round;
        line.Close();
        // A command sent while nobody has the port open is still answered into the void and
        // must not wedge the line.
        std::this_thread::yield();
        line.Open(sim.SlavePath());
        ASSERT_GE(line.Fd, 0);
    }
}

TEST(SimLine, OnlyItsOwnAddressIsAnswered) {
    sim::TSimulator sim(With([](sim::TSimOptions& o) { o.NetAddress = 3; }));
    TTestLine line(sim.SlavePath());
    ASSERT_TRUE(line.Send("0:VER?"));
    ASSERT_TRUE(line.Send("garbage without address"));
    ASSERT_TRUE(sim.WaitReceived(2, 1000));
    EXPECT_TRUE(line.Quiet(100));
    EXPECT_EQ(line.Exchange("3:VER?"), (Lines{"3:VER?", "4.2", "OK"}));
    // A new address takes effect after the reply, which still comes from the old one.
    EXPECT_EQ(line.Exchange("3:NA 5"), (Lines{"3:NA 5", "OK"}));
    ASSERT_TRUE(line.Send("3:VER?"));
    EXPECT_TRUE(line.Quiet(100));
    EXPECT_EQ(line.Exchange("5:VER?"), (Lines{"5:VER?", "4.2", "OK"}));
    EXPECT_EQ(sim.Received(),
              (Lines{"0:VER?", "garbage without address", "3:VER?", "3:NA 5", "3:VER?", "5:VER?"}));
}

TEST(SimLine, ReceivedAndWaitReceived) {
    sim::TSimulator sim;
    TTestLine line(sim.SlavePath());
    EXPECT_FALSE(sim.WaitReceived(1, 50));
    ASSERT_TRUE(line.SendRaw("0:CF 12.500\r\n"));
    ASSERT_TRUE(sim.WaitReceived(1, 1000));
    EXPECT_EQ(sim.Received(), Lines{"0:CF 12.500"}); // CR LF both taken as the line end
    EXPECT_EQ(sim.Parameter("CF"), "12.500");        // handled by the time it counts as received
    EXPECT_EQ(line.ReadLine(500), "0:CF 12.500");
    sim.ClearReceived();
    EXPECT_TRUE(sim.Received().empty());
    EXPECT_FALSE(sim.WaitReceived(1, 20));
}

struct TFaultCase {
    const char* Name;
    sim::TSimFault Fault;
    unsigned DelayMs;
    size_t NoiseBytes;
};

class SimFault : public ::testing::TestWithParam<TFaultCase> {};

// Each fault spoils exactly the next command, in its own way, and the one after is sound again.
TEST_P(SimFault, SpoilsOneExchange) {
    const TFaultCase& c = GetParam();
    sim::TSimulator sim;
    TTestLine line(sim.SlavePath());
    sim.InjectFault(c.Fault, 1, c.DelayMs, c.NoiseBytes);
    const auto start = TClock::now();
    ASSERT_TRUE(line.Send("0:CF?"));
    switch (c.Fault) {
    case sim::TSimFault::Silent:
        EXPECT_TRUE(line.Quiet(150));
        break;
    case sim::TSimFault::WrongEcho:
        EXPECT_EQ(line.ReadLine(500), "0:CF");
        EXPECT_EQ(line.ReadLine(500), "50.000");
        EXPECT_EQ(line.ReadLine(500), "OK");
        break;
    case sim::TSimFault::DropLine:
        EXPECT_EQ(line.ReadLine(500), "0:CF?");
        EXPECT_EQ(line.ReadLine(500), "OK");
        break;
    case sim::TSimFault::LateLine:
        EXPECT_EQ(line.ReadLine(500), "0:CF?");
        EXPECT_LT(TClock::now() - start, milliseconds(c.DelayMs - 50));
        EXPECT_EQ(line.ReadLine(c.DelayMs + 500), "50.000");
        EXPECT_GE(TClock::now() - start, milliseconds(c.DelayMs));
        EXPECT_EQ(line.ReadLine(500), "OK");
        break;
    case sim::TSimFault::MissingOk:
        EXPECT_EQ(line.ReadLine(500), "0:CF?");
        EXPECT_EQ(line.ReadLine(500), "50.000");
        break;
    case sim::TSimFault::Noise: {
        EXPECT_EQ(line.ReadLine(500), "0:CF?");
        const std::string noise = line.ReadRaw(c.NoiseBytes + 1, 300);
        EXPECT_EQ(noise.size(), c.NoiseBytes);
        EXPECT_EQ(noise.find_first_of("\r\n"), std::string::npos);
        break;
    }
    default:
        FAIL();
    }
    EXPECT_TRUE(line.Quiet(50)) << "nothing more";
    EXPECT_EQ(line.Exchange("0:CF?"), (Lines{"0:CF?", "50.000", "OK"}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, SimFault,
                         ::testing::Values(TFaultCase{"Silent", sim::TSimFault::Silent, 0, 0},
                                           TFaultCase{"WrongEcho", sim::TSimFault::WrongEcho, 0, 0},
                                           TFaultCase{"DropLine", sim::TSimFault::DropLine, 0, 0},
                                           TFaultCase{"LateLine", sim::TSimFault::LateLine, 300, 0},
                                           TFaultCase{"MissingOk", sim::TSimFault::MissingOk, 0, 0},
                                           TFaultCase{"Noise", sim::TSimFault::Noise, 0, 5000}),
                         [](const auto& p) { return std::string(p.param.Name); });

TEST(SimFaults, CountsAndClearing) {
    sim::TSimulator sim;
    TTestLine line(sim.SlavePath());
    sim.InjectFault(sim::TSimFault::Silent, -1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(line.Send("0:VER?"));
        EXPECT_TRUE(line.Quiet(60)) << i;
    }
    sim.ClearFaults();
    EXPECT_EQ(line.Exchange("0:VER?").size(), 3u);

    sim.InjectFault(sim::TSimFault::DropLine, 2);
    EXPECT_EQ(line.Exchange("0:VER?"), (Lines{"0:VER?", "OK"}));
    ASSERT_TRUE(line.Send("5:VER?")); // another unit's command does not use one up
    EXPECT_TRUE(line.Quiet(60));
    EXPECT_EQ(line.Exchange("0:VER?"), (Lines{"0:VER?", "OK"}));
    EXPECT_EQ(line.Exchange("0:VER?"), (Lines{"0:VER?", "4.2", "OK"}));
}

TEST(SimFaults, CloseLineFailsTheConsoleSide) {
    sim::TSimulator sim;
    TTestLine line(sim.SlavePath());
    sim.InjectFault(sim::TSimFault::CloseLine);
    ASSERT_TRUE(line.Send("0:VER?"));
    ASSERT_TRUE(sim.WaitReceived(1, 1000));
    // The console sees the line hang up: its poll reports it and its writes fail.
    pollfd p{line.Fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0);
    EXPECT_EQ(write(line.Fd, "0:VER?\n", 7), -1);
    EXPECT_EQ(errno, EIO);
}

TEST(SimScript, RepliesOnceInstead) {
    sim::TSimulator sim;
    TTestLine line(sim.SlavePath());
    sim.ScriptReply("VER?", {"3.9", "OK"});
    sim.ScriptReply("CF 12.500", {"Error 12", "OK"});
    sim.ScriptReply("VER?", {"12.5", "Error"});
    EXPECT_EQ(line.Exchange("0:VER?"), (Lines{"0:VER?", "3.9", "OK"}));
    EXPECT_EQ(line.Exchange("0:CF 12.500"), (Lines{"0:CF 12.500", "Error 12", "OK"}));
    EXPECT_EQ(sim.Parameter("CF"), "50.000"); // the script stood in for the controller
    ASSERT_TRUE(line.Send("0:VER?"));
    EXPECT_EQ(line.ReadLine(500), "0:VER?");
    EXPECT_EQ(line.ReadLine(500), "12.5");
    EXPECT_EQ(line.ReadLine(500), "Error");
    EXPECT_EQ(line.Exchange("0:VER?"), (Lines{"0:VER?", "4.2", "OK"}));
}

TEST(SimLineEnds, CrLfOption) {
    sim::TSimulator sim(With([](sim::TSimOptions& o) { o.CrLf = true; }));
    TTestLine line(sim.SlavePath());
    ASSERT_TRUE(line.Send("0:VER?"));
    EXPECT_EQ(line.ReadRaw(18, 500), "0:VER?\r\n4.2\r\nOK\r\n");
    EXPECT_TRUE(line.Quiet(50));
}

TEST(SimPacing, BytesTakeTheirTimeAt9600Baud) {
    sim::TSimulator sim(With([](sim::TSimOptions& o) { o.Paced = true; }));
    TTestLine line(sim.SlavePath());
    const auto start = TClock::now();
    // 10 bytes in, 10 + 15 + 3 out: 38 byte times of 1.04 ms
    EXPECT_EQ(line.Exchange("0:DIFD? 7"), (Lines{"0:DIFD? 7", "Emergency Stop", "OK"}));
    const auto took = TClock::now() - start;
    EXPECT_GE(took, milliseconds(39));
    EXPECT_LT(took, milliseconds(500));
}

TEST(SimThreads, CallsFromAnotherThreadDuringTraffic) {
    sim::TSimulator sim;
    TTestLine line(sim.SlavePath());
    std::atomic<bool> done{false};
    std::thread other([&] {
        for (int i = 0; !done; ++i) {
            sim.SetMountingAngle(i % 90);
            (void)sim.Parameter("AF");
            sim.SetParameter("FL", std::to_string(i % 100), 5);
            (void)sim.Received();
            sim.ClearFaults();
        }
    });
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(line.Exchange("0:CF?"), (Lines{"0:CF?", "50.000", "OK"})) << i;
    done = true;
    other.join();
}

TEST(SimThreads, DestructionDoesNotWaitForAReply) {
    auto sim = std::make_unique<sim::TSimulator>();
    TTestLine line(sim->SlavePath());
    ASSERT_TRUE(line.Send("0:ATW 0")); // three seconds of weighing
    ASSERT_TRUE(sim->WaitReceived(1, 1000));
    const auto start = TClock::now();
    sim.reset();
    EXPECT_LT(TClock::now() - start, milliseconds(500));
}

} // namespace

namespace {

TEST(SimBus, EachUnitAnswersOnlyItsAddressWithItsOwnParameters) {
    sim::TSimulator sim(With([](sim::TSimOptions& o) { o.Units = {0, 3, 7}; }));
    TTestLine line(sim.SlavePath());
    EXPECT_EQ(line.Exchange("0:CN?"), (Lines{"0:CN?", "IXA Cell 1", "OK"}));
    EXPECT_EQ(line.Exchange("3:CN?"), (Lines{"3:CN?", "IXA Cell 2", "OK"}));
    EXPECT_EQ(line.Exchange("7:CN?"), (Lines{"7:CN?", "IXA Cell 3", "OK"}));
    EXPECT_EQ(line.Exchange("7:TT?"), (Lines{"7:TT?", "Sanding Head", "OK"}));
    for (const char* silent : {"1:VER?", "4:VER?", "15:VER?"}) {
        ASSERT_TRUE(line.Send(silent));
        EXPECT_TRUE(line.Quiet(100)) << silent;
    }

    // A change reaches one unit only.
    EXPECT_EQ(line.Exchange("3:CF 12.500"), (Lines{"3:CF 12.500", "OK"}));
    EXPECT_EQ(sim.UnitParameter(3, "CF"), "12.500");
    EXPECT_EQ(sim.UnitParameter(0, "CF"), sim.UnitParameter(7, "CF"));
    EXPECT_NE(sim.UnitParameter(0, "CF"), "12.500");
    sim.SetUnitParameter(7, "CN", "Press 7");
    EXPECT_EQ(line.Exchange("7:CN?"), (Lines{"7:CN?", "Press 7", "OK"}));
    EXPECT_THROW(sim.UnitParameter(5, "CN"), std::invalid_argument);

    // A unit moved to a free address answers there, and no longer at the old one.
    EXPECT_EQ(line.Exchange("3:NA 9"), (Lines{"3:NA 9", "OK"}));
    EXPECT_EQ(line.Exchange("9:CN?"), (Lines{"9:CN?", "IXA Cell 2", "OK"}));
    ASSERT_TRUE(line.Send("3:CN?"));
    EXPECT_TRUE(line.Quiet(100));
}

TEST(SimBus, OneUnitGoesSilentAndComesBack) {
    sim::TSimulator sim(With([](sim::TSimOptions& o) { o.Units = {0, 3, 7}; }));
    TTestLine line(sim.SlavePath());
    sim.SetUnitSilent(3, true);
    sim.ClearFaults(); // the line's faults are another matter
    ASSERT_TRUE(line.Send("3:CN?"));
    EXPECT_TRUE(line.Quiet(150));
    EXPECT_EQ(line.Exchange("7:CN?"), (Lines{"7:CN?", "IXA Cell 3", "OK"}));
    EXPECT_EQ(line.Exchange("0:CN?"), (Lines{"0:CN?", "IXA Cell 1", "OK"}));
    sim.SetUnitSilent(3, false);
    EXPECT_EQ(line.Exchange("3:CN?"), (Lines{"3:CN?", "IXA Cell 2", "OK"}));
    EXPECT_THROW(sim.SetUnitSilent(5, true), std::invalid_argument);
}

TEST(SimBus, RefusesBadUnitLists) {
    for (std::vector<int> units : {std::vector<int>{0, 16}, {-1}, {3, 3}}) {
        EXPECT_THROW(sim::TSimulator(With([&](sim::TSimOptions& o) { o.Units = units; })),
                     std::invalid_argument);
    }
}

} // namespace

// --link replaces an earlier simulator's link, and nothing else: a file or a folder of that name
// stays as it is and the simulator refuses to start.
TEST(SimLink, ReplacesOnlyASymbolicLink) {
    const std::string base = "/tmp/korva-sim-link-" + std::to_string(getpid());
    const std::string link = base + "-link", file = base + "-file", folder = base + "-dir";
    ASSERT_EQ(symlink("/nonexistent", link.c_str()), 0);
    {
        sim::TSimOptions options;
        options.LinkPath = link;
        sim::TSimulator sim(options);
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), sim.SlavePath());
    }
    EXPECT_NE(access(link.c_str(), F_OK), 0); // its own link goes with it

    FILE* out = fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    fputs("precious", out);
    fclose(out);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    for (const std::string& path : {file, folder}) {
        sim::TSimOptions options;
        options.LinkPath = path;
        try {
            sim::TSimulator sim(options);
            ADD_FAILURE() << path << " was taken";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()),
                      "--link " + path + " exists and is not a symbolic link; it is left as it is");
        }
    }
    char kept[16] = {};
    FILE* in = fopen(file.c_str(), "r");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(fread(kept, 1, sizeof kept, in), 8u);
    fclose(in);
    EXPECT_STREQ(kept, "precious");
    struct stat folderState {};
    EXPECT_EQ(lstat(folder.c_str(), &folderState), 0);
    EXPECT_TRUE(S_ISDIR(folderState.st_mode));
    unlink(file.c_str());
    rmdir(folder.c_str());
}
