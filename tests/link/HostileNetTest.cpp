// A serial device server that misbehaves on purpose: one that never stops sending data, and one that
// floods confirmations and option requests. The port's operations keep their time limits, the
// process its memory, and the link lock comes free between exchanges.

#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "platform/net/NetSerialDevice.h"
#include "support/HostileServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

long Elapsed(std::chrono::steady_clock::time_point since) {
    return long(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
            .count());
}

// The process's peak resident memory in kB (each test runs in a process of its own).
long PeakResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

constexpr long MemoryBoundKb = 64 * 1024;

struct TCase {
    const char* Mode;
    bool Telnet;
};

void PrintTo(const TCase& row, std::ostream* out) {
    *out << row.Mode << (row.Telnet ? " over rfc2217://" : " over tcp://");
}

class HostileNet : public ::testing::TestWithParam<TCase> {
protected:
    // An operation that never returns fails the test by the alarm instead of hanging it.
    void SetUp() override {
        std::signal(SIGALRM, SIG_DFL);
        sigset_t alarmOnly;
        sigemptyset(&alarmOnly);
        sigaddset(&alarmOnly, SIGALRM);
        pthread_sigmask(SIG_UNBLOCK, &alarmOnly, nullptr);
        ::alarm(60);
    }
    void TearDown() override { ::alarm(0); }
};

std::string CaseName(const ::testing::TestParamInfo<TCase>& row) {
    return std::string(row.param.Mode) + (row.param.Telnet ? "Rfc2217" : "Tcp");
}

} // namespace

TEST_P(HostileNet, OperationsKeepTheirLimitsAndMemoryStaysBounded) {
    THostileServer server(GetParam().Mode, GetParam().Telnet);
    ASSERT_TRUE(server.Started());
    TCommPort port;
    auto start = std::chrono::steady_clock::now();
    port.Open(server.PortName());
    ASSERT_TRUE(port.Opened) << port.OpenFailure();
    EXPECT_LT(Elapsed(start), long(TNetSerialDevice::ConfirmMs) + 500);

    // Let the server fill every buffer between us, then ask again and again.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int round = 0; round < 20; ++round) {
        start = std::chrono::steady_clock::now();
        const int queued = port.InQueue();
        EXPECT_LT(Elapsed(start), 500) << "InQueue, round " << round;
        EXPECT_LE(queued, int(TNetSerialDevice::MaxPendingBytes) + 4096) << "round " << round;
        start = std::chrono::steady_clock::now();
        port.Purge();
        EXPECT_LT(Elapsed(start), 500) << "Purge, round " << round;
        // A line setting on the way: the confirmations of a flood are not taken for the answers.
        if (round % 5 == 0) {
            start = std::chrono::steady_clock::now();
            try {
                port.SetBaudRate(round % 10 == 0 ? 19200 : 9600);
            } catch (const ECommPort&) {
                // A flood's confirmations may well read as a refusal: only the time is at stake here.
            }
            EXPECT_LT(Elapsed(start), long(TNetSerialDevice::ConfirmMs) + 500) << "round " << round;
        }
    }

    // The handshake fails on such a line, within its limits, and lets go of the link lock.
    TIxaInterface link(&port);
    std::thread connecting([&] { link.Connect(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    start = std::chrono::steady_clock::now();
    {
        TLinkLock lock(link);
        EXPECT_LT(Elapsed(start), 5000) << "the link lock was held";
    }
    connecting.join();
    EXPECT_FALSE(link.Connected);
    EXPECT_FALSE(port.Lost()) << port.OpenFailure();
    EXPECT_LT(PeakResidentKb(), MemoryBoundKb);
}

INSTANTIATE_TEST_SUITE_P(Servers, HostileNet,
                         ::testing::Values(TCase{"stream", true}, TCase{"flood", true},
                                           TCase{"stream", false}, TCase{"flood", false}),
                         CaseName);
