// An unplugged adapter that comes back: the simulated controller goes away and a new one appears
// under the same stable name (a symbolic link, as udev gives a USB adapter), and the console (port,
// link and monitor) comes back online by itself. Once with simulators in this process, once with
// the korva-sim program killed and started again; and a serial device server (ser2net) that is
// killed and started again.

#include "monitor/Ixamonitor.h"
#include "sim/Simulator.h"
#include "support/Ser2net.h"
#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A simulator, in this process or as the korva-sim program, behind a stable link path.
class TController {
public:
    TController(std::string link, bool program) : Link(std::move(link)), Program(program) {}
    ~TController() { Stop(); }

    void Start() {
        if (!Program) {
            sim::TSimOptions options;
            options.LinkPath = Link;
            InProcess = std::make_unique<sim::TSimulator>(options);
            return;
        }
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        Child = fork();
        ASSERT_GE(Child, 0);
        if (Child == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execl(KORVA_SIM_PROGRAM, KORVA_SIM_PROGRAM, "--link", Link.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        // The program prints its path once the link is in place.
        FILE* from = fdopen(out[0], "r");
        char line[512] = {};
        ASSERT_NE(fgets(line, sizeof line, from), nullptr);
        fclose(from);
        EXPECT_EQ(std::string(line), Link + "\n");
    }
    // The controller vanishes: its line hangs up and its name goes. (Terminated, not killed: a
    // dangling link may meet another program's new pseudo-terminal under the freed number.)
    void Stop() {
        InProcess.reset();
        if (Child > 0) {
            kill(Child, SIGTERM);
            waitpid(Child, nullptr, 0);
            Child = -1;
        }
    }

private:
    std::string Link;
    bool Program;
    std::unique_ptr<sim::TSimulator> InProcess;
    pid_t Child = -1;
};

class Reconnect : public ::testing::TestWithParam<bool> {};

TEST_P(Reconnect, AControllerThatComesBackUnderItsNameIsOnlineWithoutAClick) {
    SetMainThread();
    TWatchdog watchdog(50'000, "the reconnect");
    const std::string link = ::testing::TempDir() + "korva-reconnect-" + std::to_string(getpid());
    TController controller(link, GetParam());
    controller.Start();

    TCommPort port;
    port.Open(link);
    ASSERT_TRUE(port.IsOpen()) << port.OpenFailure();
    TIxaInterface ixa(&port);
    TIxaMonitor monitor(ixa);
    int connects = 0, disconnects = 0;
    monitor.OnConnect = [&](TIxaMonitor&) { ++connects; };
    monitor.OnDisconnect = [&](TIxaMonitor&) { ++disconnects; };
    ASSERT_TRUE(ServeUntil([&] { return connects == 1; }, 8000));

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        controller.Stop();
        ASSERT_TRUE(ServeUntil([&] { return disconnects == round; }, 8000))
            << "open " << port.IsOpen() << " lost " << port.Lost() << " online " << monitor.Online
            << " connected " << ixa.Connected << " " << port.OpenFailure();
        EXPECT_TRUE(port.Lost());
        EXPECT_EQ(port.Name, link);
        // Unplugged for a while: the monitor keeps trying the name without a message.
        ServeUntil([] { return false; }, 1200);
        EXPECT_FALSE(monitor.Online);
        controller.Start();
        // One offline period until the next attempt, then the handshake (time to spare for a busy machine).
        ASSERT_TRUE(ServeUntil([&] { return connects == round + 1 && monitor.Online; }, 6000))
            << "open " << port.IsOpen() << " lost " << port.Lost() << " connected " << ixa.Connected << " "
            << port.OpenFailure();
        EXPECT_TRUE(port.IsOpen());
    }
    EXPECT_EQ(port.Name, link);
}

INSTANTIATE_TEST_SUITE_P(Simulator, Reconnect, ::testing::Values(false, true),
                         [](const auto& row) { return row.param ? "Program" : "InProcess"; });

std::string LinkTarget(const std::string& link) {
    char target[4096];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, size_t(n)) : std::string();
}

// A controller behind a serial device server that is killed and started again (a power cut of the
// server): the port is lost with the connection, and the monitor takes it up again by its name once
// the server listens again.
class ServerRestart : public ::testing::TestWithParam<bool> {};

TEST_P(ServerRestart, BringsThePanelBackWithoutAClick) {
    if (!TSer2net::Installed())
        GTEST_SKIP() << "ser2net is not installed (scripts/deps.sh installs it)";
    SetMainThread();
    TWatchdog watchdog(50'000, "the server restart");
    sim::TSimulator sim;
    TSer2net server(sim.SlavePath(), GetParam());
    ASSERT_TRUE(server.Start());
    const std::string name = server.PortName();

    TCommPort port;
    port.Open(name);
    ASSERT_TRUE(port.IsOpen()) << port.OpenFailure();
    TIxaInterface ixa(&port);
    TIxaMonitor monitor(ixa);
    int connects = 0, disconnects = 0;
    monitor.OnConnect = [&](TIxaMonitor&) { ++connects; };
    monitor.OnDisconnect = [&](TIxaMonitor&) { ++disconnects; };
    ASSERT_TRUE(ServeUntil([&] { return connects == 1; }, 8000));

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        server.Kill();
        ASSERT_TRUE(ServeUntil([&] { return disconnects == round; }, 8000))
            << "open " << port.IsOpen() << " lost " << port.Lost() << " " << port.OpenFailure();
        EXPECT_TRUE(port.Lost());
        EXPECT_EQ(port.Name, name);
        ServeUntil([] { return false; }, 1200); // the server is down for a while
        EXPECT_FALSE(monitor.Online);
        EXPECT_EQ(port.OpenFailure(), "Connection refused: " + name);
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(ServeUntil([&] { return connects == round + 1 && monitor.Online; }, 6000))
            << "open " << port.IsOpen() << " lost " << port.Lost() << " connected " << ixa.Connected << " "
            << port.OpenFailure();
        EXPECT_TRUE(port.IsOpen());
    }
    EXPECT_EQ(port.Name, name);
}

INSTANTIATE_TEST_SUITE_P(Ser2net, ServerRestart, ::testing::Values(false, true),
                         [](const auto& row) { return row.param ? "Rfc2217" : "Tcp"; });

// The stable name follows the newest simulator; one that ends takes away only its own name.
TEST(SimulatorLink, PointsAtTheNewestLineAndOnlyItsOwnerRemovesIt) {
    const std::string link = ::testing::TempDir() + "korva-simlink-" + std::to_string(getpid());
    sim::TSimOptions options;
    options.LinkPath = link;
    auto first = std::make_unique<sim::TSimulator>(options);
    EXPECT_EQ(LinkTarget(link), first->SlavePath());
    auto second = std::make_unique<sim::TSimulator>(options);
    EXPECT_EQ(LinkTarget(link), second->SlavePath());
    first.reset();
    EXPECT_EQ(LinkTarget(link), second->SlavePath());
    second.reset();
    EXPECT_NE(access(link.c_str(), F_OK), 0);
    EXPECT_EQ(LinkTarget(link), "");
}

// A port the user closed stays closed however long the monitor runs; the monitor never opens it.
TEST(Reconnect, APortTheUserClosedStaysClosed) {
    SetMainThread();
    sim::TSimulator sim;
    TCommPort port;
    port.Open(sim.SlavePath());
    ASSERT_TRUE(port.IsOpen());
    port.Close();
    TIxaInterface ixa(&port);
    TIxaMonitor monitor(ixa);
    ServeUntil([] { return false; }, 2500); // two offline passes
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(monitor.Online);
    EXPECT_TRUE(sim.Received().empty());
}

} // namespace
