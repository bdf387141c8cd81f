// The monitor polls and a second thread writes and reads parameters while the simulated controller
// suffers random faults. Afterwards: nothing hung, the lock is free, the monitor is back online
// within one handshake cycle and one period (2.7 s; 4 s allowed), every write that reported success is what
// the controller holds, and reads agree with it once the line is clean. KORVA_SOAK_SECONDS sets the length of
// the fault phase (default 12 s).

#include "monitor/Ixamonitor.h"
#include "sim/Simulator.h"
#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr int Levels = 16; // force levels "FL 0".."FL 15": plain stored values, the write targets

// Longest a single link call may take: its three lines at the 1000 ms limit, plus the lock held by
// the monitor's longest exchange (a handshake with its name lists, each line at most 500 ms late).
constexpr auto CallLimit = 12s;

// Back online after the line is clean: the offline handshake in progress may still fail (500 ms) and
// is followed by the period (1000 ms); then the good handshake, one more period and the transition's
// own handshake. About 2.7 s at worst on an idle machine. The bound leaves 1.3 s (about half again)
// for a loaded machine and the sanitizers' slower exchanges, and still fails a monitor that wastes
// one more offline cycle (a failed handshake and a period, 1.5 s more: 4.2 s).
constexpr unsigned BackOnlineMs = 4000;

double SoakSeconds() {
    const char* text = std::getenv("KORVA_SOAK_SECONDS");
    const double seconds = text ? std::atof(text) : 0;
    return seconds > 0 ? seconds : 12;
}

// What one parameter was sent: every value in order, and the index of the last write that reported
// success (-1 for none).
struct THistory {
    std::vector<double> Attempts;
    int LastSuccess = -1;
};

struct TWriter {
    explicit TWriter(TIxaInterface& link, unsigned seed) : Link(link), Random(seed) {}

    void Run(const std::atomic<bool>& stop) {
        std::uniform_int_distribution<int> level(0, Levels - 1);
        long lastFailed = 0;
        while (!stop) {
            const int index = level(Random);
            if (Random() % 3 != 0) {
                // Unique values: a stale echo of an earlier write can never pass for this one's.
                const double value = -200.0 + 0.001 * double(Serial++ % 600'000);
                auto& history = Histories[index];
                history.Attempts.push_back(value);
                if (Timed([&] { Link.SetForceLevel(index, value); }))
                    history.LastSuccess = int(history.Attempts.size()) - 1;
            } else {
                double value = 0;
                if (Timed([&] { value = Link.GetForceLevel(index); }))
                    CheckRead(index, value);
            }
            ++Calls;
            // A person at the panel clicks again soon after a good answer and more slowly after an
            // error. (Retrying at once after every failure keeps the line full of answers to failed
            // commands, and the handshake's purge cannot empty what the controller has yet to send.)
            const bool failed = Failed > lastFailed;
            lastFailed = Failed;
            std::this_thread::sleep_for(
                std::chrono::milliseconds(failed ? 20 + Random() % 80 : Random() % 4));
        }
    }

    // A value read is one the controller held: the level as it started, or one written to it before.
    void CheckRead(int index, double value) {
        ++Reads;
        const THistory& history = Histories[index];
        const auto held = [&](double v) { return std::fabs(v - value) < 5e-4; };
        if (held(Initial.at(index)) || std::any_of(history.Attempts.begin(), history.Attempts.end(), held))
            return;
        if (WrongReads.size() < 10)
            WrongReads.push_back("FL " + std::to_string(index) + " read as " + std::to_string(value));
    }

    template <typename F> bool Timed(F&& call) {
        const auto start = TClock::now();
        bool ok = true;
        try {
            call();
        } catch (const std::exception&) {
            ok = false; // link, controller and port errors are what faults are for
        }
        LongestCall = std::max(LongestCall, TClock::now() - start);
        ok ? ++Succeeded : ++Failed;
        return ok;
    }

    TIxaInterface& Link;
    std::minstd_rand Random;
    long Serial = 0;
    std::map<int, THistory> Histories;
    std::map<int, double> Initial;
    std::vector<std::string> WrongReads;
    TClock::duration LongestCall{};
    long Calls = 0, Succeeded = 0, Failed = 0, Reads = 0;
};

void InjectRandomFault(sim::TSimulator& sim, std::minstd_rand& random) {
    static const sim::TSimFault kinds[] = {sim::TSimFault::Silent,    sim::TSimFault::WrongEcho,
                                           sim::TSimFault::DropLine,  sim::TSimFault::LateLine,
                                           sim::TSimFault::MissingOk, sim::TSimFault::Noise};
    const auto kind = kinds[random() % std::size(kinds)];
    const int count = 1 + int(random() % 3);
    const unsigned delayMs = 100 + unsigned(random() % 1000); // late lines: some beyond the limit
    const size_t noise = 16 + random() % 6000;                // some past the longest reply line
    sim.InjectFault(kind, count, delayMs, noise);
}

TEST(Soak, RandomFaultsWhileTheMonitorPollsAndAThreadWrites) {
    SetMainThread();
    const double seconds = SoakSeconds();
    TWatchdog watchdog(unsigned(seconds * 1000) + 60'000, "the soak");
    const unsigned seed = unsigned(TClock::now().time_since_epoch().count());
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    std::minstd_rand random(seed);

    sim::TSimulator sim;
    TCommPort port;
    port.Open(sim.SlavePath());
    ASSERT_TRUE(port.IsOpen()) << port.OpenFailure();
    TIxaInterface link(&port);
    std::map<int, double> initial;
    for (int i = 0; i < Levels; ++i)
        initial[i] = std::stod(sim.Parameter("FL", i));

    auto monitor = std::make_unique<TIxaMonitor>(link);
    std::atomic<long> connects{0}, disconnects{0}, values{0};
    monitor->OnConnect = [&](TIxaMonitor&) { ++connects; };
    monitor->OnDisconnect = [&](TIxaMonitor&) { ++disconnects; };
    monitor->OnCommandForce = [&](TIxaMonitor&, double) { ++values; };
    monitor->OnPosition = [&](TIxaMonitor&, double) { ++values; };
    monitor->OnIo = [&](TIxaMonitor&, int32_t, int32_t, double, double, double) { ++values; };
    ASSERT_TRUE(
        ServeUntil([&] { return connects > 0 && monitor->Period == TIxaMonitor::OnlinePeriod; }, 5000));

    TWriter writer(link, seed + 1);
    writer.Initial = initial;
    std::atomic<bool> stopWriter{false};
    std::thread writerThread([&] { writer.Run(stopWriter); });

    const auto faultsEnd =
        TClock::now() + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
    long injected = 0;
    while (TClock::now() < faultsEnd) {
        InjectRandomFault(sim, random);
        ++injected;
        const unsigned gap = 20 + unsigned(random() % 300);
        ServeUntil([] { return false; }, gap); // the main thread keeps serving the monitor meanwhile
    }
    sim.ClearFaults();
    // The faults are over once the controller has taken one more command: it takes the next only
    // when the last answer, a late one too, is on the line.
    sim.ClearReceived();
    ASSERT_TRUE(ServeUntil([&] { return !sim.Received().empty(); }, 5000));
    const auto cleared = TClock::now();
    // The writer goes on: the recovery has to happen under traffic too.
    const bool online = ServeUntil([&] { return monitor->Online && link.Connected; }, BackOnlineMs);
    const auto recovery = TClock::now() - cleared;
    EXPECT_TRUE(online) << "offline " << std::chrono::duration<double>(recovery).count()
                        << " s after the faults stopped";
    ServeUntil([] { return false; }, 300);
    stopWriter = true;
    // The writer's last call finishes within its limit, while the monitor's events keep being served.
    std::atomic<bool> joined{false};
    std::thread joiner([&] {
        writerThread.join();
        joined = true;
    });
    EXPECT_TRUE(ServeUntil([&] { return joined.load(); }, 15000));
    joiner.join();

    // Parked between exchanges: the monitor holds no lock, and neither does anyone else.
    monitor->SetPolling(false);
    EXPECT_TRUE(link.Lock.try_lock()) << "link lock still held";
    link.Lock.unlock();
    monitor.reset();

    EXPECT_LT(writer.LongestCall, CallLimit);
    EXPECT_GT(writer.Succeeded, 0);
    EXPECT_GT(writer.Reads, 0);
    for (const std::string& wrong : writer.WrongReads)
        ADD_FAILURE() << "a value the controller never held: " << wrong;
    EXPECT_GT(writer.Failed, 0) << "the faults never reached the writer";
    EXPECT_GT(disconnects.load(), 0) << "the faults never took the link down";
    EXPECT_GT(connects.load(), 1);

    // Nothing lost or torn: the controller holds the last successful write, or a value attempted
    // after it (a failed write may still have reached the controller); never anything else.
    for (int i = 0; i < Levels; ++i) {
        const double held = std::stod(sim.Parameter("FL", i));
        const THistory& history = writer.Histories[i];
        std::vector<double> allowed;
        if (history.LastSuccess < 0)
            allowed.push_back(initial[i]);
        for (size_t a = size_t(std::max(history.LastSuccess, 0)); a < history.Attempts.size(); ++a)
            allowed.push_back(history.Attempts[a]);
        const bool ok =
            std::any_of(allowed.begin(), allowed.end(), [&](double v) { return std::fabs(v - held) < 5e-4; });
        EXPECT_TRUE(ok) << "FL " << i << " holds " << held << " after " << history.Attempts.size()
                        << " writes, the last good one #" << history.LastSuccess;
    }
    // Once the line is clean, reads agree with the controller exactly (a read may still fail while the
    // last late lines drain).
    for (int i = 0; i < Levels; ++i) {
        const double held = std::stod(sim.Parameter("FL", i));
        bool read = false;
        for (int attempt = 0; attempt < 3 && !read; ++attempt) {
            try {
                EXPECT_NEAR(link.GetForceLevel(i), held, 5e-4) << "FL " << i;
                read = true;
            } catch (const std::exception&) {
                link.Connect(); // empties the line, as the monitor would
            }
        }
        EXPECT_TRUE(read) << "FL " << i << " could not be read after the faults";
    }
    std::printf("soak %.0f s: %ld faults, %ld calls (%ld failed, %ld good reads), %ld monitor events, "
                "%ld links lost, "
                "longest call %.0f ms, online %.0f ms after the faults stopped\n",
                seconds, injected, writer.Calls, writer.Failed, writer.Reads, values.load(),
                disconnects.load(), std::chrono::duration<double, std::milli>(writer.LongestCall).count(),
                std::chrono::duration<double, std::milli>(recovery).count());
}

} // namespace
