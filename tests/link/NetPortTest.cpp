// The port on a serial device server: Debian's ser2net in front of the simulator's pseudo-terminal,
// as raw TCP and as RFC 2217. The link suite's exchanges run over both schemes as link_tests_tcp
// and link_tests_rfc2217; here are what only a network port has: names, open failures, the remote
// line settings, and a server that goes away and comes back.

#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "platform/net/NetSerialDevice.h"
#include "sim/Simulator.h"
#include "support/Ser2net.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

long Elapsed(std::chrono::steady_clock::time_point since) {
    return long(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
            .count());
}

// The simulator, ser2net in front of it and the console's port on the server.
struct TServedLine {
    explicit TServedLine(bool telnet) : Server(Sim.SlavePath(), telnet) {
        EXPECT_TRUE(Server.Start()) << "ser2net did not start";
        Port.Open(Server.PortName());
    }
    // The remote port's line settings, as the simulator's pseudo-terminal has them.
    termios RemoteSettings() const {
        termios t{};
        const int fd = ::open(Sim.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::tcgetattr(fd, &t);
        ::close(fd);
        return t;
    }
    sim::TSimulator Sim;
    TSer2net Server;
    TCommPort Port;
};

class NetPort : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!TSer2net::Installed())
            GTEST_SKIP() << "ser2net is not installed (scripts/deps.sh installs it)";
    }
};

std::string SchemeName(const ::testing::TestParamInfo<bool>& row) {
    return row.param ? "Rfc2217" : "Tcp";
}

} // namespace

TEST(NetPortNames, OnlyHostAndPortAfterAKnownScheme) {
    struct {
        const char* Name;
        bool Good, Telnet;
        const char *Host, *Port;
    } rows[] = {
        {"tcp://127.0.0.1:4000", true, false, "127.0.0.1", "4000"},
        {"rfc2217://plant-gw:7001", true, true, "plant-gw", "7001"},
        {"tcp://[::1]:2217", true, false, "::1", "2217"},
        {"tcp://host", false, false, "", ""},
        {"tcp://:4000", false, false, "", ""},
        {"tcp://host:0", false, false, "", ""},
        {"tcp://host:65536", false, false, "", ""},
        {"tcp://host:40a", false, false, "", ""},
        {"tcp://fe80::1:4000", false, false, "", ""}, // an IPv6 address needs its brackets
        {"udp://host:4000", false, false, "", ""},
        {"TCP://host:4000", false, false, "", ""},
    };
    for (const auto& row : rows) {
        bool telnet = !row.Telnet;
        std::string host, port;
        EXPECT_EQ(TNetSerialDevice::ParseName(row.Name, telnet, host, port), row.Good) << row.Name;
        if (row.Good) {
            EXPECT_EQ(telnet, row.Telnet) << row.Name;
            EXPECT_EQ(host, row.Host) << row.Name;
            EXPECT_EQ(port, row.Port) << row.Name;
        }
    }
    EXPECT_TRUE(TSerialDevice::IsNetworkName("rfc2217://gw:1"));
    EXPECT_FALSE(TSerialDevice::IsNetworkName("/dev/ttyUSB0"));
    EXPECT_EQ(TSerialDevice::DevicePath("tcp://gw:4000"), "tcp://gw:4000");
}

TEST(NetPortOpen, FailuresAreWordedLikeALocalPortsAndForgetTheName) {
    // A port nobody listens on: the number of a socket that was just closed.
    const std::string closed = "127.0.0.1:" + std::to_string(TSer2net::FreePort());
    struct {
        std::string Name;
        int Error;
        std::string Text; // the whole text, or its end when it starts with "..."
    } rows[] = {
        {"tcp://" + closed, ECONNREFUSED, "Connection refused: tcp://" + closed},
        {"rfc2217://" + closed, ECONNREFUSED, "Connection refused: rfc2217://" + closed},
        {"tcp://nowhere", EINVAL,
         "Not a network port name: tcp://nowhere (tcp://HOST:PORT or rfc2217://HOST:PORT)"},
        {"tcp://korva-no-such-host.invalid:4000", EHOSTUNREACH, "...: tcp://korva-no-such-host.invalid:4000"},
    };
    for (const auto& row : rows) {
        TCommPort port;
        port.Open(row.Name);
        EXPECT_FALSE(port.Opened) << row.Name;
        EXPECT_EQ(port.Name, "") << row.Name;
        EXPECT_FALSE(port.Lost()) << row.Name;
        EXPECT_EQ(port.OpenError(), row.Error) << row.Name;
        if (row.Text.rfind("...", 0) == 0) {
            const std::string tail = row.Text.substr(3);
            const std::string text = port.OpenFailure();
            EXPECT_TRUE(text.size() > tail.size() &&
                        text.compare(text.size() - tail.size(), tail.size(), tail) == 0)
                << text;
        } else {
            EXPECT_EQ(port.OpenFailure(), row.Text);
        }
    }
}

TEST(NetPortOpen, ARawServerIsNoRfc2217Server) {
    if (!TSer2net::Installed())
        GTEST_SKIP() << "ser2net is not installed";
    sim::TSimulator sim;
    TSer2net raw(sim.SlavePath(), false);
    ASSERT_TRUE(raw.Start());
    const std::string name = "rfc2217://" + raw.PortName().substr(6);
    TCommPort port;
    port.Open(name);
    EXPECT_FALSE(port.Opened);
    EXPECT_EQ(port.OpenError(), EPROTO);
    EXPECT_EQ(port.OpenFailure(), "No com-port option (RFC 2217) at " + name);
}

// RFC 2217: the server sets the remote line as the port asks and confirms it; in front of a
// pseudo-terminal it leaves DTR unconfirmed, which the port lets pass with a note.
TEST(NetPortRfc2217, LineSettingsReachTheRemotePortAndAnUnconfirmedModemLineIsNoted) {
    if (!TSer2net::Installed())
        GTEST_SKIP() << "ser2net is not installed";
    TServedLine line(true);
    ASSERT_TRUE(line.Port.Opened) << line.Port.OpenFailure();
    EXPECT_EQ(line.Port.SettingNote(), "DTR not confirmed by the server");
    termios t = line.RemoteSettings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);

    line.Port.SetBaudRate(19200);
    t = line.RemoteSettings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    line.Port.SetBaudRate(9600);
    t = line.RemoteSettings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    line.Port.SetStopBits(TDcb::TwoStopBits);
    EXPECT_NE(line.RemoteSettings().c_cflag & CSTOPB, 0u);
    line.Port.SetStopBits(TDcb::OneStopBit);
    EXPECT_EQ(line.RemoteSettings().c_cflag & CSTOPB, 0u);

    // Settings survive a close and reopen, and the line works after them.
    line.Port.Close();
    line.Port.Open(line.Server.PortName());
    ASSERT_TRUE(line.Port.Opened) << line.Port.OpenFailure();
    TIxaInterface link(&line.Port);
    link.Connect();
    EXPECT_TRUE(link.Connected);
}

TEST_P(NetPort, TimeLimitsPurgeAndTheQueueCountHoldAsOnALocalPort) {
    TServedLine line(GetParam());
    TCommPort& port = line.Port;
    ASSERT_TRUE(port.Opened) << port.OpenFailure();

    // Nothing comes: a byte within the read time-outs, a line within its limit.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.GetChar(), -1);
    EXPECT_GE(Elapsed(start), 240);
    EXPECT_LT(Elapsed(start), 1500);
    start = std::chrono::steady_clock::now();
    try {
        port.ReadUntil('\n', 150);
        ADD_FAILURE() << "nothing was sent";
    } catch (const ECommPort& e) {
        EXPECT_EQ(e.Code, 12);
    }
    EXPECT_GE(Elapsed(start), 145);

    // A byte 255 goes out and comes back as it is (doubled on RFC 2217's wire, single on the line).
    const std::string odd = "0:\xff?";
    port.PutString(odd + "\n");
    EXPECT_EQ(port.ReadUntil('\n', 2000), odd);
    EXPECT_EQ(line.Sim.Received().back(), odd);
    // What a block read brought beyond the line waits in the port and counts in the queue.
    EXPECT_EQ(port.ReadUntil('\n', 2000), "Error 1");
    start = std::chrono::steady_clock::now();
    while (port.InQueue() < 3 && Elapsed(start) < 2000)
        ::usleep(1000);
    EXPECT_EQ(port.InQueue(), 3);
    EXPECT_EQ(port.GetChar(), 'O');
    EXPECT_EQ(port.InQueue(), 2);

    // Purge empties what came in: the reply of a command is gone, the next exchange is clean.
    port.PutString("0:VER?\n");
    start = std::chrono::steady_clock::now();
    while (port.InQueue() < 14 && Elapsed(start) < 2000)
        ::usleep(1000);
    EXPECT_EQ(port.InQueue(), 2 + 14);
    port.Purge();
    EXPECT_EQ(port.InQueue(), 0);
    port.PutString("0:CF?\n");
    EXPECT_EQ(port.ReadUntil('\n', 2000), "0:CF?");
}

// A server that goes away is a lost port; once it is back, Reopen takes the port up again by name.
TEST_P(NetPort, AServerThatGoesAwayIsALostPortThatReopensByName) {
    TServedLine line(GetParam());
    const std::string name = line.Server.PortName();
    ASSERT_TRUE(line.Port.Opened) << line.Port.OpenFailure();
    TIxaInterface link(&line.Port);
    link.Connect();
    ASSERT_TRUE(link.Connected);

    line.Server.Kill();
    EXPECT_ANY_THROW(link.GetCommandForce());
    EXPECT_FALSE(link.Connected);
    EXPECT_TRUE(line.Port.Lost());
    EXPECT_EQ(line.Port.Name, name);
    EXPECT_EQ(line.Port.OpenFailure(), "Connection closed by the server: " + name);

    EXPECT_FALSE(line.Port.Reopen());
    EXPECT_TRUE(line.Port.Lost());
    EXPECT_EQ(line.Port.OpenFailure(), "Connection refused: " + name);

    ASSERT_TRUE(line.Server.Start());
    ASSERT_TRUE(line.Port.Reopen()) << line.Port.OpenFailure();
    link.Connect();
    EXPECT_TRUE(link.Connected);
    line.Sim.SetParameter("CF", "12.5");
    EXPECT_EQ(link.GetCommandForce(), 12.5);
}

INSTANTIATE_TEST_SUITE_P(Ser2net, NetPort, ::testing::Values(false, true), SchemeName);
