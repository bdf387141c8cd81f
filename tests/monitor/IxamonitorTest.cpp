// The monitor against the simulated controller on a pseudo-terminal, through the real port and link.
// The test's own thread is the main thread: it serves the monitor's events while it waits.

#include "monitor/Ixamonitor.h"
#include "sim/Simulator.h"
#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;
using TStrings = std::vector<std::string>;

class EProbe : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const TStrings SlowGroup = {"ACT?", "PM?", "CM?", "TN?", "CTW?", "TC?"};
const TStrings FastGroup = {"CF?", "AF?", "POS?", "SA?"};

sim::TSimOptions WithTool(bool tool) {
    sim::TSimOptions options;
    options.ToolConnected = tool;
    return options;
}

std::string Text(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override { SetMainThread(); }
    void TearDown() override {
        Monitor.reset();
        Link.reset();
        Port.reset();
        Sim.reset();
        EXPECT_FALSE(HandlerOffMainThread);
    }

    // With connected, the link's handshake is done first, so the monitor's first pass goes online.
    void Open(sim::TSimOptions options = {}, bool connected = true, bool silent = false) {
        Sim = std::make_unique<sim::TSimulator>(options);
        if (silent)
            Sim->InjectFault(sim::TSimFault::Silent, -1);
        Port = std::make_unique<TCommPort>();
        Port->Open(Sim->SlavePath());
        ASSERT_TRUE(Port->IsOpen()) << Port->OpenFailure();
        Link = std::make_unique<TIxaInterface>(Port.get());
        if (connected) {
            Link->Connect();
            ASSERT_TRUE(Link->Connected);
        }
        Sim->ClearReceived();
        Monitor = std::make_unique<TIxaMonitor>(*Link);
        Wire();
    }

    void Wire() {
        auto& m = *Monitor;
        m.OnConnect = [this](TIxaMonitor&) { Note("Connect"); };
        m.OnDisconnect = [this](TIxaMonitor&) { Note("Disconnect"); };
        m.OnToolConnect = [this](TIxaMonitor&) { Note("ToolConnect"); };
        m.OnToolDisconnect = [this](TIxaMonitor&) { Note("ToolDisconnect"); };
        m.OnCommandForce = [this](TIxaMonitor&, double v) { Note("CommandForce=" + Text(v)); };
        m.OnActualForce = [this](TIxaMonitor&, double v) { Note("ActualForce=" + Text(v)); };
        m.OnPosition = [this](TIxaMonitor&, double v) { Note("Position=" + Text(v)); };
        m.OnSlideAcceleration = [this](TIxaMonitor&, double v) { Note("SlideAcceleration=" + Text(v)); };
        m.OnToolWeight = [this](TIxaMonitor&, double v) { Note("ToolWeight=" + Text(v)); };
        m.OnActive = [this](TIxaMonitor&, bool v) { Note("Active=" + Text(v)); };
        m.OnToolNumber = [this](TIxaMonitor&, int32_t v) { Note("ToolNumber=" + Text(v)); };
        m.OnMode = [this](TIxaMonitor&, uint8_t v) { Note("Mode=" + Text(v)); };
    }
    void WireIo() {
        Monitor->OnIo = [this](TIxaMonitor&, int32_t, int32_t, double, double, double) { ++IoEvents; };
    }
    void Note(const std::string& event) {
        if (!IsMainThread())
            HandlerOffMainThread = true;
        Events.push_back(event);
    }

    // What the controller holds, as the monitor would deliver it.
    std::string Value(const std::string& name) { return Text(std::stod(Sim->Parameter(name))); }

    // A full refresh with a tool present, as delivered.
    TStrings RefreshEvents() {
        return {"Connect",
                "Active=0",
                "Mode=0",
                "ToolConnect",
                "CommandForce=" + Value("CF"),
                "ActualForce=" + Value("AF"),
                "Position=" + Value("POS"),
                "SlideAcceleration=" + Value("SA"),
                "Active=0",
                "ToolNumber=0",
                "ToolWeight=" + Value("CTW")};
    }

    // Commands received since the last ClearReceived, without the address prefix.
    TStrings Commands() const {
        TStrings out;
        for (auto& line : Sim->Received())
            out.push_back(line.substr(line.find(':') + 1));
        return out;
    }
    size_t Count(const std::string& command) const {
        auto c = Commands();
        return std::count(c.begin(), c.end(), command);
    }
    size_t CountEvents(const std::string& prefix) const {
        return std::count_if(Events.begin(), Events.end(),
                             [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    }
    bool WaitCommands(const std::string& command, size_t count, unsigned ms = 5000) {
        return ServeUntil([&] { return Count(command) >= count; }, ms);
    }
    bool WaitEvent(const std::string& prefix, unsigned ms = 5000) {
        return ServeUntil([&] { return CountEvents(prefix) > 0; }, ms);
    }

    std::unique_ptr<sim::TSimulator> Sim;
    std::unique_ptr<TCommPort> Port;
    std::unique_ptr<TIxaInterface> Link;
    std::unique_ptr<TIxaMonitor> Monitor;
    TStrings Events;
    int IoEvents = 0;
    bool HandlerOffMainThread = false;
};

TEST_F(MonitorTest, NoControllerMeansOneQuietHandshakeAttemptPerPeriod) {
    Open({}, false, true);
    std::vector<TClock::time_point> attempts;
    ServeUntil(
        [&] {
            while (attempts.size() < Sim->Received().size())
                attempts.push_back(TClock::now());
            return false;
        },
        3300);
    EXPECT_EQ(Commands(), TStrings(attempts.size(), "VER?"));
    ASSERT_GE(attempts.size(), 2u); // at 0 s, 1.5 s and 3 s (500 ms handshake limit + 1000 ms)
    EXPECT_LE(attempts.size(), 4u);
    for (size_t i = 1; i < attempts.size(); ++i)
        EXPECT_GE(attempts[i] - attempts[i - 1], 900ms);
    EXPECT_TRUE(Events.empty());
    EXPECT_FALSE(Monitor->Online);
}

// A good handshake offline is followed one full period later by the transition's own handshake.
TEST_F(MonitorTest, OfflineToOnlineHandshakesAreAPeriodApart) {
    Open({}, false);
    std::vector<TClock::time_point> handshakes;
    size_t seen = 0;
    ASSERT_TRUE(ServeUntil(
        [&] {
            const auto received = Sim->Received();
            for (; seen < received.size(); ++seen)
                if (received[seen] == "0:VER?")
                    handshakes.push_back(TClock::now());
            return CountEvents("Connect") > 0;
        },
        5000));
    ASSERT_EQ(handshakes.size(), 2u);
    EXPECT_GE(handshakes[1] - handshakes[0], 900ms);
}

// The transition's refresh, then the regular passes: the slow group on every fourth, the fast group
// only with a tool.
TEST_F(MonitorTest, FirstOnlinePassDeliversEverythingInOrderThenPollsBySchedule) {
    for (bool tool : {true, false}) {
        SCOPED_TRACE(tool ? "tool" : "no tool");
        Open(WithTool(tool));
        TStrings refresh = {"ACT?", "PM?", "CM?", "TC?", "CF?"};
        TStrings events = {"Connect", "Active=0", "Mode=0", tool ? "ToolConnect" : "ToolDisconnect",
                           "CommandForce=" + Value("CF")};
        if (tool) {
            refresh.insert(refresh.end(), {"AF?", "POS?", "SA?", "ACT?", "TN?", "CTW?"});
            events.insert(events.end(), {"ActualForce=" + Value("AF"), "Position=" + Value("POS"),
                                         "SlideAcceleration=" + Value("SA"), "Active=0", "ToolNumber=0",
                                         "ToolWeight=" + Value("CTW")});
        } else {
            events.push_back("ToolWeight=" + Value("CTW")); // the regular slow group: changed from 0
        }
        TStrings expected = refresh;
        const int passes = 9;
        for (int pass = 0; pass < passes; ++pass) {
            if (pass % 4 == 0)
                expected.insert(expected.end(), SlowGroup.begin(), SlowGroup.end());
            if (tool)
                expected.insert(expected.end(), FastGroup.begin(), FastGroup.end());
        }
        ASSERT_TRUE(WaitEvent("Connect"));
        const auto online = TClock::now();
        auto polled = [&] {
            auto c = Commands();
            auto first = std::find(c.begin(), c.end(), "ACT?"); // after the handshake's own commands
            return TStrings(first, c.end());
        };
        ASSERT_TRUE(ServeUntil([&] { return polled().size() >= expected.size(); }, 8000));
        const auto elapsed = TClock::now() - online;

        auto commands = polled();
        commands.resize(expected.size());
        EXPECT_EQ(commands, expected);
        EXPECT_EQ(Events, events); // the regular passes found nothing changed
        EXPECT_GE(elapsed, (passes - 1) * 180ms);
        EXPECT_TRUE(Monitor->Online);
        EXPECT_EQ(Monitor->ToolPresent, tool);
        TearDown();
        Events.clear();
    }
}

TEST_F(MonitorTest, UnpluggedToolStopsTheFastGroupButNotTheIoSnapshot) {
    Open();
    WireIo();
    ASSERT_TRUE(WaitEvent("ToolWeight"));
    Events.clear();
    Sim->SetToolConnected(false);
    ASSERT_TRUE(WaitEvent("ToolDisconnect"));
    Sim->ClearReceived();
    ASSERT_TRUE(WaitCommands("TC?", 2, 3000)); // two slow groups later
    for (auto& command : FastGroup)
        EXPECT_EQ(Count(command), 0u) << command;
    EXPECT_GE(Count("AIN?"), 5u);
    EXPECT_EQ(CountEvents("ToolDisconnect"), 1u);

    Sim->SetToolConnected(true);
    ASSERT_TRUE(WaitEvent("ToolConnect"));
    Sim->ClearReceived();
    ASSERT_TRUE(WaitCommands("TC?", 1, 3000));
    EXPECT_GE(Count("CF?"), 1u);
    EXPECT_EQ(CountEvents("ToolConnect"), 1u);
    EXPECT_EQ(CountEvents("ToolDisconnect"), 1u);
}

TEST_F(MonitorTest, LostLineReportsToolAndLinkGoneAndComesBack) {
    struct TRow {
        bool Tool;
        bool ToolHandlerFails;
        bool Recover;
    };
    for (auto row : {TRow{true, false, true}, TRow{false, false, false}, TRow{true, true, false}}) {
        SCOPED_TRACE(::testing::Message()
                     << "tool " << row.Tool << " failing handler " << row.ToolHandlerFails);
        Open(WithTool(row.Tool));
        if (row.ToolHandlerFails) {
            Monitor->OnToolDisconnect = [this](TIxaMonitor&) {
                Note("ToolDisconnect");
                throw EProbe("handler failed");
            };
        }
        // Without a tool the tool weight comes from the first regular pass, after the refresh.
        ASSERT_TRUE(WaitEvent("ToolWeight"));
        ASSERT_TRUE(ServeUntil([&] { return Monitor->Period == TIxaMonitor::OnlinePeriod; }, 5000));
        Events.clear();
        Sim->InjectFault(sim::TSimFault::Silent, -1);
        ASSERT_TRUE(WaitEvent("Disconnect", 5000));
        EXPECT_EQ(Events, (TStrings{"ToolDisconnect", "Disconnect"}));
        EXPECT_FALSE(Monitor->Online);
        EXPECT_EQ(Monitor->Period, TIxaMonitor::OfflinePeriod);
        if (row.Recover) {
            Events.clear();
            Sim->ClearFaults();
            ASSERT_TRUE(WaitEvent("ToolWeight", 6000));
            EXPECT_EQ(Events.front(), "Connect");
            EXPECT_TRUE(Monitor->Online);
        }
        TearDown();
        Events.clear();
    }
}

// Position mode is asked first and wins; contour mode is asked only outside it.
TEST_F(MonitorTest, ModeIsPositionThenContourThenForce) {
    Open();
    ASSERT_TRUE(WaitEvent("ToolWeight"));
    Sim->SetParameter("CM", "1");
    ASSERT_TRUE(WaitEvent("Mode=2"));
    Sim->SetParameter("PM", "1");
    ASSERT_TRUE(WaitEvent("Mode=1"));
    Sim->ClearReceived();
    ASSERT_TRUE(WaitCommands("PM?", 1));
    ASSERT_TRUE(WaitCommands("TC?", 1)); // the rest of that slow group
    EXPECT_EQ(Count("CM?"), 0u);
    TStrings modes;
    std::copy_if(Events.begin(), Events.end(), std::back_inserter(modes),
                 [](const std::string& e) { return e.rfind("Mode=", 0) == 0; });
    EXPECT_EQ(modes, (TStrings{"Mode=0", "Mode=2", "Mode=1"}));
}

// Up to version 4.1 the controller has no digital words to read: the snapshot carries 0 for both
// whatever the lines show; from 4.2 on it carries them.
TEST_F(MonitorTest, IoSnapshotHasNoDigitalWordsUpToVersion41) {
    for (double version : {4.1, 4.2}) {
        SCOPED_TRACE(version);
        sim::TSimOptions options;
        options.Version = version;
        Open(options);
        Sim->SetParameter("RDI", "30"); // CDF0-3 held on
        int32_t dins = -1, douts = -1;
        Monitor->OnIo = [&](TIxaMonitor&, int32_t i, int32_t o, double, double, double) {
            dins = i;
            douts = o;
            ++IoEvents;
        };
        ASSERT_TRUE(ServeUntil([&] { return IoEvents >= 2; }, 5000));
        EXPECT_GE(Count("AIN?"), 2u);
        if (version < 4.15) {
            EXPECT_EQ(dins, 0);
            EXPECT_EQ(douts, 0);
            EXPECT_EQ(Count("RDI?") + Count("RDO?"), 0u);
        } else {
            EXPECT_EQ(dins & 0x1E, 0x1E);
            EXPECT_EQ(douts & 0x210, 0x210); // both minus-limit outputs
        }
        TearDown();
        Events.clear();
        IoEvents = 0;
    }
}

// A refresh that fails on the way online leaves the monitor online at the offline pace; the passes
// after it poll and deliver as usual.
TEST_F(MonitorTest, AFailedRefreshKeepsTheOfflinePeriodAndPollingGoesOn) {
    Open();
    bool failed = false;
    Monitor->OnConnect = [&](TIxaMonitor&) {
        Note("Connect");
        if (!failed) {
            failed = true;
            throw EProbe("handler failed");
        }
    };
    std::vector<TClock::time_point> polls;
    ASSERT_TRUE(ServeUntil(
        [&] {
            while (polls.size() < Count("AF?"))
                polls.push_back(TClock::now());
            return polls.size() >= 3;
        },
        10000));
    EXPECT_TRUE(failed);
    EXPECT_TRUE(Monitor->Online);
    EXPECT_EQ(Monitor->Period, TIxaMonitor::OfflinePeriod);
    for (size_t i = 1; i < polls.size(); ++i)
        EXPECT_GE(polls[i] - polls[i - 1], 900ms);
    EXPECT_EQ(CountEvents("Connect"), 1u); // no second transition
    EXPECT_EQ(CountEvents("CommandForce=" + Value("CF")), 1u);
    EXPECT_EQ(CountEvents("Disconnect"), 0u);
}

// What the panel showed before the loss is gone from it (it shows 0 offline), so whatever the
// controller holds when the link returns is delivered, changed or not: tool 3 comes back without a
// tool, and a 20 degree mount and the position come back once the tool is plugged in again.
TEST_F(MonitorTest, ValuesAfterALossAreDeliveredEvenIfUnchanged) {
    Open(WithTool(true));
    Sim->SetParameter("TN", "3");
    Sim->SetMountingAngle(20);
    const std::string orientation = "SlideAcceleration=" + Value("SA");
    const std::string position = "Position=" + Value("POS");
    ASSERT_TRUE(WaitEvent("ToolNumber=3"));
    ASSERT_TRUE(WaitEvent(orientation));
    ASSERT_TRUE(ServeUntil([&] { return Monitor->Period == TIxaMonitor::OnlinePeriod; }, 5000));

    Sim->InjectFault(sim::TSimFault::Silent, -1);
    ASSERT_TRUE(WaitEvent("Disconnect"));
    Events.clear();
    Sim->SetToolConnected(false);
    Sim->ClearFaults();
    ASSERT_TRUE(WaitEvent("Connect", 6000));
    EXPECT_TRUE(WaitEvent("ToolNumber=3", 3000)) << "the tool number stayed as the offline display shows it";
    EXPECT_EQ(CountEvents("ToolConnect"), 0u);

    Events.clear();
    Sim->SetToolConnected(true);
    ASSERT_TRUE(WaitEvent("ToolConnect", 3000));
    EXPECT_TRUE(WaitEvent(orientation, 2000));
    EXPECT_TRUE(WaitEvent(position, 2000));
    // Known again: an unchanged value is not delivered twice.
    Sim->ClearReceived();
    ASSERT_TRUE(WaitCommands("SA?", 3, 3000));
    ServeUntil([] { return false; }, 50);
    EXPECT_EQ(CountEvents(orientation), 1u);
    EXPECT_EQ(CountEvents("ToolNumber"), 0u);
}

// Pausing waits for the exchange in progress and leaves the line to the main thread; resuming empties
// what the terminal left on the line before polling again and re-delivers what the next pass reads.
TEST_F(MonitorTest, PauseKeepsTheLineCleanAndResumeRedelivers) {
    Open();
    WireIo();
    ASSERT_TRUE(WaitEvent("ToolWeight"));
    Sim->InjectFault(sim::TSimFault::LateLine, 1, 300);
    Sim->ClearReceived();
    // The monitor may first need the main thread for an event, so wait serving it.
    ASSERT_TRUE(ServeUntil([&] { return !Sim->Received().empty(); }, 2000)); // now held 300 ms
    Monitor->SetPolling(false);
    EXPECT_TRUE(Monitor->Parked());
    EXPECT_TRUE(Link->Connected); // the held reply was read, not cut off
    ASSERT_TRUE(Link->Lock.try_lock());
    Link->Lock.unlock();

    Sim->ClearReceived();
    EXPECT_FALSE(ServeUntil([&] { return !Sim->Received().empty(); }, 300));
    // The terminal's command, its reply left unread.
    Port->PutString("0:VER?");
    Port->PutChar('\n');
    ASSERT_TRUE(Sim->WaitReceived(1, 2000));
    const int unread = int(std::string("0:VER?\n4.2\nOK\n").size());
    ASSERT_TRUE(ServeUntil([&] { return Port->InQueue() >= unread; }, 2000)); // all of it left on the line

    Events.clear();
    IoEvents = 0;
    Monitor->SetPolling(true);
    ASSERT_TRUE(WaitCommands("CF?", 3));
    for (auto value : {"CommandForce=", "ActualForce=", "Position=", "SlideAcceleration="})
        EXPECT_EQ(CountEvents(value), 1u) << value;
    EXPECT_GE(IoEvents, 1);
    EXPECT_EQ(CountEvents("Disconnect"), 0u);
    EXPECT_TRUE(Link->Connected);
}

// Paused inside the transition's refresh (here: while it waits to deliver OnConnect), the monitor
// makes the whole transition again once resumed, and then polls at the online pace.
TEST_F(MonitorTest, PauseInsideTheRefreshRedoesTheTransition) {
    std::atomic<int> queued{0};
    SetMainThreadWakeHook([&] { ++queued; });
    Open();
    const auto deadline = TClock::now() + 5s;
    while (queued == 0 && TClock::now() < deadline)
        std::this_thread::yield();
    ASSERT_GT(queued, 0);
    Monitor->SetPolling(false); // serves OnConnect; the monitor parks before its next query
    SetMainThreadWakeHook(nullptr);
    EXPECT_EQ(Events, TStrings{"Connect"});
    Monitor->SetPolling(true);
    TStrings expected = RefreshEvents();
    expected.insert(expected.begin(), "Connect");
    ASSERT_TRUE(ServeUntil([&] { return Events.size() >= expected.size(); }, 5000));
    Events.resize(expected.size()); // the forced pass that follows delivers everything once more
    EXPECT_EQ(Events, expected);
    EXPECT_TRUE(ServeUntil([&] { return Monitor->Period == TIxaMonitor::OnlinePeriod; }, 2000));
}

TEST_F(MonitorTest, FailingHandlerEndsOnlyItsPass) {
    Open();
    const double initial = std::stod(Sim->Parameter("CF"));
    std::vector<double> delivered;
    Monitor->OnCommandForce = [&](TIxaMonitor&, double v) {
        delivered.push_back(v);
        throw EProbe("handler failed");
    };
    ASSERT_TRUE(WaitEvent("Position", 5000)); // the refresh stopped at the command force; a pass went on
    Sim->SetParameter("CF", "60");
    ASSERT_TRUE(ServeUntil([&] { return delivered.size() >= 2; }, 5000));
    Sim->SetMountingAngle(30); // delivered by a pass after the failing one
    ASSERT_TRUE(WaitEvent("SlideAcceleration=" + Value("SA"), 5000));
    EXPECT_EQ(delivered, (std::vector<double>{initial, 60.0}));
    EXPECT_TRUE(Monitor->Online);
    EXPECT_EQ(CountEvents("Disconnect"), 0u);
}

TEST_F(MonitorTest, ConnectAndRefreshOnTheMainThreadRunsItsEventsDirectly) {
    Open();
    ASSERT_TRUE(WaitEvent("ToolWeight"));
    Events.clear();
    Monitor->ConnectAndRefresh(); // the monitor keeps polling meanwhile; its own events wait for us
    const TStrings expected = RefreshEvents();
    EXPECT_EQ(Events, expected);

    Monitor->OnConnect = [](TIxaMonitor&) { throw EProbe("handler failed"); };
    EXPECT_THROW(Monitor->ConnectAndRefresh(), EProbe);
}

// The windows' link calls and the monitor's polls share the line exchange by exchange.
TEST_F(MonitorTest, MainThreadCallsInterleaveWithPolling) {
    Open();
    WireIo();
    ASSERT_TRUE(WaitEvent("ToolWeight"));
    std::set<std::string> commandForces = {"CommandForce=" + Value("CF")};
    Link->Timeout = 10000; // a loaded machine must not look like a lost line
    Sim->ClearReceived();
    // Until the monitor has polled a few times among the main thread's calls.
    const auto end = TClock::now() + 30s;
    int rounds = 0;
    for (; (rounds < 50 || Count("AF?") < 5) && TClock::now() < end; ++rounds) {
        const double force = 100 + (rounds % 40) * 0.5;
        commandForces.insert("CommandForce=" + Text(force));
        Link->SetCommandForce(force);
        ASSERT_EQ(Link->GetCommandForce(), force);
        ASSERT_EQ(Link->GetToolNumber(), 0);
        ASSERT_DOUBLE_EQ(Link->GetPosition(), std::stod(Sim->Parameter("POS")));
        ServeMainThreadCalls();
    }
    EXPECT_GE(Count("AF?"), 5u); // the monitor kept polling throughout
    EXPECT_TRUE(Link->Connected);
    EXPECT_EQ(CountEvents("Disconnect"), 0u);
    for (auto& event : Events)
        if (event.rfind("CommandForce=", 0) == 0) {
            EXPECT_TRUE(commandForces.count(event)) << event;
        }
}

// A handshake on the main thread (after a download, a setup dialog) is no lost line to the monitor:
// it sees the link's state only when the handshake is over, so it neither goes offline nor
// handshakes again in the middle of what the main thread does next.
TEST_F(MonitorTest, AHandshakeOnTheMainThreadIsNoLossToTheMonitor) {
    Open();
    ASSERT_TRUE(WaitEvent("ToolWeight"));
    Link->Timeout = 10000; // a loaded machine must not look like a lost line
    Events.clear();
    Sim->ClearReceived();
    const auto end = TClock::now() + 20s;
    int rounds = 0;
    // Each handshake is a few exchanges long; the monitor passes every period among them.
    for (; (rounds < 15 || Count("AF?") < 5) && TClock::now() < end; ++rounds) {
        Monitor->ConnectAndRefresh();
        ASSERT_TRUE(Link->Connected);
        Link->GetCommandForce(); // what the main thread does next finds the link as it left it
        ServeUntil([] { return false; }, 30);
    }
    EXPECT_GE(Count("AF?"), 5u); // the monitor kept polling throughout
    EXPECT_EQ(CountEvents("Disconnect"), 0u);
    // Only the main thread's handshakes: none of the monitor's own.
    EXPECT_EQ(Count("VER?"), static_cast<size_t>(rounds));
}

// Closing waits for the exchange in progress, not for the sleep, and serves the event the monitor is
// waiting to deliver.
TEST_F(MonitorTest, DestroyingReturnsPromptlyEvenWithAnEventPending) {
    for (bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "offline" : "online, event pending");
        std::atomic<int> queued{0};
        SetMainThreadWakeHook([&] { ++queued; });
        Open({}, !silent, silent);
        if (silent) {
            ASSERT_TRUE(Sim->WaitReceived(1, 2000)); // inside a handshake, or sleeping after it
        } else {
            const auto deadline = TClock::now() + 5s;
            while (queued == 0 && TClock::now() < deadline)
                std::this_thread::yield();
            ASSERT_GT(queued, 0); // OnConnect waits for the main thread
        }
        TWatchdog watchdog(10000, "destroying the monitor");
        const auto start = TClock::now();
        Monitor.reset();
        EXPECT_LT(TClock::now() - start, 1000ms);
        if (!silent) {
            EXPECT_EQ(Events.front(), "Connect");
        }
        SetMainThreadWakeHook(nullptr);
        TearDown();
        Events.clear();
    }
}

// A controller with long name lists keeps the handshake busy for seconds (paced: 256 names a list,
// about 25 ms an exchange). A stop or a pause asked for meanwhile ends it after the exchange in
// progress, not after the last name.
TEST_F(MonitorTest, StopAndPauseEndALongHandshakeBetweenExchanges) {
    for (bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stop" : "pause");
        sim::TSimOptions options;
        options.Paced = true;
        Sim = std::make_unique<sim::TSimulator>(options);
        for (const char* count : {"NDIF", "NDOF", "NAOF"})
            Sim->SetParameter(count, std::to_string(TIxaInterface::MaxFunctionNames));
        Port = std::make_unique<TCommPort>();
        Port->Open(Sim->SlavePath());
        Link = std::make_unique<TIxaInterface>(Port.get());
        Monitor = std::make_unique<TIxaMonitor>(*Link);
        Wire();
        ASSERT_TRUE(WaitCommands("DIFD? 10", 1));
        TWatchdog watchdog(20000, "stopping the handshake");
        const auto start = TClock::now();
        if (stop)
            Monitor.reset();
        else
            Monitor->SetPolling(false);
        EXPECT_LT(TClock::now() - start, 1000ms);
        EXPECT_FALSE(Link->Connected);
        const size_t sent = Sim->Received().size();
        EXPECT_FALSE(Sim->WaitReceived(sent + 1, 300)) << "the handshake went on";
        if (!stop) {
            // Resumed, the monitor starts a whole handshake afresh and comes online.
            for (const char* count : {"NDIF", "NDOF", "NAOF"})
                Sim->SetParameter(count, "4");
            Monitor->SetPolling(true);
            EXPECT_TRUE(ServeUntil([&] { return Monitor->Online.load(); }, 10000));
        }
        TearDown();
        Events.clear();
    }
}

} // namespace

namespace {

// The traffic log tells the polling from the operator: the monitor's own exchanges and those its
// event handlers make on the main thread are the polling's; the main thread's own, and those of a
// refresh it asked for, the operator's.
TEST_F(MonitorTest, TrafficOriginFollowsWhoAsked) {
    Open(sim::TSimOptions{}, false);
    TTrafficLog log;
    Link->SetTrafficObserver(&log);
    int connects = 0;
    Monitor->OnConnect = [&](TIxaMonitor&) {
        ++connects;
        Link->GetControllerName();
    };
    ASSERT_TRUE(ServeUntil([&] { return connects == 1; }, 5000));
    Link->GetToolNumber();
    Monitor->ConnectAndRefresh();
    Link->SetTrafficObserver(nullptr);

    std::vector<TTrafficEvent> events;
    log.CopySince(0, events);
    TStrings polling, operatorSent;
    for (const auto& e : events)
        if (e.Direction == TTrafficDirection::Sent &&
            (e.Line == "0:CN?" || e.Line == "0:TN?" || e.Line == "0:VER?"))
            (e.Origin == TTrafficOrigin::Polling ? polling : operatorSent).push_back(e.Line);
    // The monitor's handshake (which may have begun before the observer was set), its connect
    // event's query, then its polls of the tool number.
    const auto name = std::find(polling.begin(), polling.end(), "0:CN?");
    ASSERT_NE(name, polling.end());
    EXPECT_EQ(std::count(polling.begin(), name, "0:VER?"), name - polling.begin());
    EXPECT_EQ(std::count(name + 1, polling.end(), "0:TN?"), polling.end() - name - 1);
    // The operator's own query, then the refresh it asked for: handshake, connect event, tool number.
    EXPECT_EQ(operatorSent, (TStrings{"0:TN?", "0:VER?", "0:CN?", "0:TN?"}));
}

} // namespace
