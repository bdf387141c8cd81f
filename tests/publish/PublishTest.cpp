// The publisher and korva bridge against Debian's mosquitto, with mosquitto_sub and mosquitto_pub
// as the plant's own clients, and the simulated controller on a pseudo-terminal.
#include "publish/Publisher.h"
#include "publish/StateFeed.h"

#include "monitor/Ixamonitor.h"
#include "platform/Thread.h"

#include "publish/Broker.h"
#include "support/LinkRig.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>

namespace {

using broker::TBroker;
using broker::TChild;
using broker::WaitLine;

class Publish : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        SetMainThread();
        if (broker::Missing().empty())
            Shared = new TBroker;
    }
    static void TearDownTestSuite() {
        delete Shared;
        Shared = nullptr;
    }

protected:
    void SetUp() override {
        if (const std::string missing = broker::Missing(); !missing.empty())
            GTEST_SKIP() << missing;
        static int count = 0;
        Root = "korva/t" + std::to_string(getpid()) + "-" + std::to_string(++count);
    }
    TPublisherOptions Options() const {
        TPublisherOptions o;
        o.Broker = Shared->Url();
        o.Root = Root;
        o.CredentialsFile = Shared->Credentials();
        o.BackoffMinMs = 50;
        o.BackoffMaxMs = 300;
        o.KeepAliveSeconds = 5;
        return o;
    }
    static inline TBroker* Shared = nullptr;
    std::string Root;
};

// The console's part in miniature: the simulator, the monitor on its link, the publisher fed by
// the monitor's events, and the plant's writes run on this (the main) thread.
struct TUnitRig {
    explicit TUnitRig(TPublisherOptions options, sim::TSimOptions simOptions = {}) : Rig(simOptions) {
        Rig.Link.SetTrafficObserver(&Traffic);
        Publisher = std::make_unique<TPublisher>(options, UnitLevel(Rig.PortName, 0));
        Publisher->OnWrite = [this](const TPlantWrite& w) {
            std::lock_guard lock(Mutex);
            Writes.push_back(w);
        };
        Feed = std::make_unique<TStateFeed>(*Publisher);
        Publisher->Start();
        Monitor = std::make_unique<TIxaMonitor>(Rig.Link);
        Feed->Attach(*Monitor);
        Monitor->OnConnect = [this](TIxaMonitor&) {
            TUnitInfo info;
            info.ControllerName = Rig.Link.GetControllerName();
            info.Version = Rig.Link.Version;
            info.Address = Rig.Link.Address;
            info.Port = Rig.PortName;
            Publisher->SetInfo(info);
        };
        broker::ServeHook() = [this] { Serve(); };
    }
    ~TUnitRig() {
        broker::ServeHook() = nullptr;
        Monitor.reset();
        Rig.Link.SetTrafficObserver(nullptr);
    }
    void Serve() {
        ServeMainThreadCalls();
        for (;;) {
            TPlantWrite w;
            {
                std::lock_guard lock(Mutex);
                if (Writes.empty())
                    return;
                w = Writes.front();
                Writes.pop_front();
            }
            Publisher->Complete(w, ExecutePlantWrite(Rig.Link, w));
        }
    }
    std::string Topic() const { return Publisher->Topic(); }
    bool Connected() const { return Publisher->Status().State == TPublisherState::Connected; }

    TLinkRig Rig;
    TTrafficLog Traffic;
    std::unique_ptr<TPublisher> Publisher;
    std::unique_ptr<TStateFeed> Feed;
    std::unique_ptr<TIxaMonitor> Monitor;
    std::mutex Mutex;
    std::deque<TPlantWrite> Writes;
};

// The lines the controller received that set the parameter ("0:CF 12.500"), not those that ask.
std::vector<std::string> Sets(const std::vector<std::string>& received, const std::string& mnemonic) {
    std::vector<std::string> sets;
    for (const auto& line : received)
        if (line.rfind("0:" + mnemonic + " ", 0) == 0)
            sets.push_back(line);
    return sets;
}

TEST_F(Publish, RetainedStatusAndInfoThenAtMostOneStateMessagePerPass) {
    TUnitRig unit(Options());
    const std::string t = unit.Topic();
    ASSERT_TRUE(broker::WaitFor([&] { return unit.Connected() && unit.Publisher->Status().Published >= 3; }))
        << unit.Publisher->Status().Detail;
    // A subscriber that comes later still learns who is there: status and info are retained.
    TChild sub = Shared->Subscribe(Root + "/#", "sub-step");
    ASSERT_TRUE(Shared->Listening(sub, Root + "/marker")); // what is published next is not missed
    EXPECT_NE(WaitLine(sub, {"1 " + t + "/status online"}), "");
    EXPECT_NE(WaitLine(sub, {"1 " + t + "/info ", "\"controllerName\":\"IXA Cell 1\"", "\"address\":0"}), "");
    // Two values change after every pass for a while: each pass may send one message, no more, and
    // what changed after a pass's message is not lost but goes with a later one.
    int passes = 0, changing = 0;
    unit.Monitor->OnPassEnd = [&](TIxaMonitor&) {
        ++passes;
        unit.Feed->PassEnd();
        if (changing > 0) {
            --changing;
            unit.Rig.Sim.SetParameter("CF", std::to_string(60 + changing) + ".000");
            unit.Rig.Sim.SetMountingAngle(30 + 5 * changing);
        }
    };
    ASSERT_TRUE(broker::WaitFor([&] { return passes > 0; }));
    const size_t before = broker::Lines(sub).size();
    const int firstPass = passes;
    changing = 8;
    const std::string last =
        WaitLine(sub, {"0 " + t + "/state ", "\"commandForce\":60.0", "\"orientation\":30"}, 8000, before);
    ASSERT_NE(last, "") << sub.Text();
    const auto lines = broker::Lines(sub);
    const auto states = std::count_if(lines.begin() + long(before), lines.end(), [&](const std::string& l) {
        return l.find(t + "/state ") != std::string::npos;
    });
    EXPECT_GE(states, 8);
    EXPECT_LE(states, passes - firstPass) << sub.Text();
    EXPECT_NE(last.find("\"mode\":\"force\""), std::string::npos) << last;
    // A UTC time to the millisecond.
    EXPECT_EQ(last.find("\"time\":\"") + 8 + 23, last.find("Z\"")) << last;
}

TEST_F(Publish, TheBrokerStoppedAndStartedAgainGetsTheLatestState) {
    TUnitRig unit(Options());
    const std::string t = unit.Topic();
    ASSERT_TRUE(broker::WaitFor([&] { return unit.Connected(); }));
    Shared->Stop();
    ASSERT_TRUE(broker::WaitFor([&] { return !unit.Connected(); }));
    // The controller changes while the broker is away; the monitor goes on undisturbed.
    unit.Rig.Sim.SetParameter("CF", "33.250");
    ASSERT_TRUE(broker::WaitFor([&] { return unit.Feed->State().CommandForce == 33.25; }));
    unit.Rig.Sim.SetParameter("CF", "34.125");
    ASSERT_TRUE(broker::WaitFor([&] { return unit.Feed->State().CommandForce == 34.125; }));
    // The broker comes back; the bridge is let in only once the subscriber is known to listen.
    Shared->LetBridgeIn(false);
    Shared->Start();
    TChild sub = Shared->Subscribe(Root + "/#", "sub-restart");
    ASSERT_TRUE(Shared->Listening(sub, Root + "/marker"));
    ASSERT_TRUE(broker::WaitFor([&] { return unit.Publisher->Status().State == TPublisherState::Refused; }));
    Shared->LetBridgeIn(true);
    // The broker kept nothing (no persistence): what the subscriber sees was published again.
    EXPECT_NE(WaitLine(sub, {t + "/status online"}, 8000), "") << sub.Text();
    EXPECT_NE(WaitLine(sub, {t + "/info "}), "") << sub.Text();
    TChild late = Shared->Subscribe(Root + "/#", "sub-late");
    EXPECT_NE(WaitLine(late, {"1 " + t + "/status online"}), "") << late.Text();
    // Nothing changed since: the state the subscriber gets is the one kept while the broker was away.
    EXPECT_NE(WaitLine(sub, {t + "/state ", "\"commandForce\":34.125"}), "") << sub.Text();
    EXPECT_EQ(WaitLine(sub, {"\"commandForce\":33.25"}, 10), "")
        << "a stale state was sent after a newer one";
}

TEST_F(Publish, WritesNotAllowedOrRefusedByTheRegistrySendNothingToTheController) {
    TPublisherOptions o = Options();
    o.AllowedWrites = {"CF", "ACT"};
    TUnitRig unit(o);
    const std::string t = unit.Topic();
    ASSERT_TRUE(broker::WaitFor([&] { return unit.Connected(); }));
    TChild sub = Shared->Subscribe(t + "/result", "sub-refused");
    ASSERT_TRUE(broker::WaitFor([&] { return unit.Publisher->Status().Published >= 2; }));
    ASSERT_TRUE(Shared->Listening(sub, t + "/result"));
    const struct {
        std::string Mnemonic, Payload, Why;
    } rows[] = {
        {"FL", "{\"index\": 1, \"value\": 3}", "not allowed"},
        {"ACT", "2", ""},
        {"CF", "\"abc\"", "abc"},
        {"CF", "\"12.5abc\"", "12.5abc"},
        {"CF", "99999", "maximum force"}, // above what the controller takes: checked before the write
        {"CF", std::string(5000, '1'), "longer than"},
        {"CF", "12.5", "ok"}, // the last: once it is done, the others are too
    };
    for (const auto& row : rows)
        ASSERT_TRUE(Shared->Publish(t + "/set/" + row.Mnemonic, row.Payload));
    ASSERT_NE(WaitLine(sub, {"\"ok\":true", "\"parameter\":\"CF\""}), "") << sub.Text();
    const auto lines = broker::Lines(sub);
    for (const auto& row : rows) {
        if (row.Why == "ok")
            continue;
        EXPECT_NE(WaitLine(sub, {"\"ok\":false", "\"parameter\":\"" + row.Mnemonic + "\"", row.Why}, 10), "")
            << row.Mnemonic << " " << row.Payload << "\n"
            << sub.Text();
    }
    const auto received = unit.Rig.Sim.Received();
    EXPECT_EQ(Sets(received, "CF"), std::vector<std::string>{"0:CF 12.500"});
    EXPECT_TRUE(Sets(received, "FL").empty());
    EXPECT_TRUE(Sets(received, "ACT").empty());
    EXPECT_EQ(unit.Publisher->Status().RefusedWrites, 6u);
}

TEST_F(Publish, AnAllowedWriteIsAnsweredOnResultAndOnTheRequestsResponseTopic) {
    TPublisherOptions o = Options();
    o.AllowedWrites = {"CF"};
    TUnitRig unit(o);
    const std::string t = unit.Topic();
    ASSERT_TRUE(broker::WaitFor([&] { return unit.Connected(); }));
    TChild results = Shared->Subscribe(t + "/result", "sub-result");
    TChild replies({broker::Tool("mosquitto_sub"), "-h", "127.0.0.1", "-p", std::to_string(Shared->Port),
                    "-u", "plant", "-P", "secret", "-V", "mqttv5", "-F", "%t %D|%p", "-t", "replies/" + Root},
                   (Shared->Dir / "sub-replies").string());
    ASSERT_TRUE(Shared->Listening(results, t + "/result"));
    ASSERT_TRUE(Shared->Listening(replies, "replies/" + Root));
    ASSERT_TRUE(Shared->Publish(t + "/set/CF", "{\"value\": 42.5}",
                                {"-D", "publish", "response-topic", "replies/" + Root, "-D", "publish",
                                 "correlation-data", "req-17"}));
    EXPECT_NE(WaitLine(results, {"\"ok\":true", "\"value\":\"42.500\""}), "") << results.Text();
    EXPECT_NE(WaitLine(replies, {"req-17|", "\"ok\":true"}), "") << replies.Text();
    EXPECT_EQ(Sets(unit.Rig.Sim.Received(), "CF"), std::vector<std::string>{"0:CF 42.500"});
    EXPECT_EQ(unit.Rig.Sim.Parameter("CF"), "42.500");
    // The traffic log tells the plant's write from the operator's and the polling's.
    std::vector<TTrafficEvent> events;
    unit.Traffic.CopySince(0, events);
    const auto plant = std::find_if(events.begin(), events.end(), [](const TTrafficEvent& e) {
        return e.Direction == TTrafficDirection::Sent && e.Line == "0:CF 42.500";
    });
    ASSERT_NE(plant, events.end());
    EXPECT_EQ(plant->Origin, TTrafficOrigin::Plant);
    EXPECT_NE(FormatTrafficLine(*plant).find("plant"), std::string::npos);
}

TEST_F(Publish, TlsVerifiesTheBrokersCertificateAndHostName) {
    const auto attempt = [&](const std::string& url, const std::string& ca) {
        TPublisherOptions o = Options();
        o.Broker = url;
        o.CaFile = (Shared->Dir / ca).string();
        auto p = std::make_unique<TPublisher>(o, "tls");
        p->Start();
        broker::WaitFor([&] {
            const auto s = p->Status().State;
            return s == TPublisherState::Connected || s == TPublisherState::Refused;
        });
        return p;
    };
    {
        auto p = attempt(Shared->TlsUrl("localhost"), "ca.crt");
        EXPECT_EQ(p->Status().State, TPublisherState::Connected) << p->Status().Detail;
    }
    for (const auto& [url, ca] : {std::pair{Shared->TlsUrl("localhost"), std::string("other-ca.crt")},
                                  std::pair{Shared->TlsUrl("127.0.0.1"), std::string("ca.crt")}}) {
        auto p = attempt(url, ca);
        EXPECT_EQ(p->Status().State, TPublisherState::Refused) << url << " " << ca;
        EXPECT_NE(p->Status().Detail.find("certificate verify failed"), std::string::npos)
            << p->Status().Detail;
        EXPECT_EQ(p->Status().Published, 0u);
    }
}

TEST_F(Publish, AWrongPasswordIsRefusedWithTheBrokersReason) {
    TPublisherOptions o = Options();
    const auto file = Shared->Dir / "wrong-password";
    std::ofstream(file) << "username=bridge\npassword=guess\n";
    chmod(file.c_str(), 0600);
    o.CredentialsFile = file.string();
    TPublisher p(o, "wrong");
    p.Start();
    ASSERT_TRUE(broker::WaitFor([&] { return p.Status().State == TPublisherState::Refused; }));
    EXPECT_NE(p.Status().Detail.find("refused"), std::string::npos) << p.Status().Detail;
}

// korva bridge as a process: its will marks it offline when it is killed.
TEST_F(Publish, TheBrokersLastWillMarksAKilledBridgeOffline) {
    sim::TSimulator sim;
    TChild sub = Shared->Subscribe(Root + "/#", "sub-will");
    ASSERT_TRUE(Shared->Listening(sub, Root + "/marker")); // what is published next is not missed
    TChild bridge({KORVA_PROGRAM, "--port", sim.SlavePath(), "bridge", "--broker", Shared->Url(), "--root",
                   Root, "--credentials", Shared->Credentials()},
                  (Shared->Dir / "bridge-will.log").string());
    const std::string unit = Root + "/" + UnitLevel(sim.SlavePath(), 0);
    ASSERT_NE(WaitLine(sub, {unit + "/status online"}, 8000), "") << sub.Text() << bridge.Errors();
    ASSERT_NE(WaitLine(sub, {unit + "/state "}, 8000), "") << sub.Text() << bridge.Errors();
    const size_t before = broker::Lines(sub).size();
    bridge.Stop(SIGKILL);
    EXPECT_NE(WaitLine(sub, {unit + "/status offline"}, 8000, before), "") << sub.Text();
}

TEST_F(Publish, TheBridgeTellsThePlantWhenTheControllerStopsAnsweringAndWhenItIsBack) {
    sim::TSimulator sim;
    TChild sub = Shared->Subscribe(Root + "/#", "sub-link");
    ASSERT_TRUE(Shared->Listening(sub, Root + "/marker")); // what is published next is not missed
    TChild bridge({KORVA_PROGRAM, "--port", sim.SlavePath(), "bridge", "--broker", Shared->Url(), "--root",
                   Root, "--credentials", Shared->Credentials()},
                  (Shared->Dir / "bridge-link.log").string());
    const std::string unit = Root + "/" + UnitLevel(sim.SlavePath(), 0);
    ASSERT_NE(WaitLine(sub, {unit + "/event ", "\"link-regained\""}, 8000), "")
        << sub.Text() << bridge.Errors();
    const size_t before = broker::Lines(sub).size();
    sim.InjectFault(sim::TSimFault::Silent, -1);
    EXPECT_NE(WaitLine(sub,
                       {unit + "/event ", "\"link-lost\"", "\"reason\":\"the controller does not answer\""},
                       8000, before),
              "")
        << sub.Text();
    sim.ClearFaults();
    EXPECT_NE(WaitLine(sub, {unit + "/event ", "\"link-regained\"", "answers again"}, 8000, before), "")
        << sub.Text();
    // The bridge itself stays: its status is still online.
    EXPECT_EQ(WaitLine(sub, {unit + "/status offline"}, 10, before), "") << sub.Text();
}

// A write the registry passes but the controller refuses: the result says so, and the event topic
// carries the controller's error reply with the command it refused.
TEST_F(Publish, TheBridgeTellsThePlantOfAnErrorReply) {
    sim::TSimulator sim;
    sim.ScriptReply("CF 42.500", {"Error 3", "OK"});
    TChild sub = Shared->Subscribe(Root + "/#", "sub-error");
    ASSERT_TRUE(Shared->Listening(sub, Root + "/marker")); // what is published next is not missed
    TChild bridge({KORVA_PROGRAM, "--port", sim.SlavePath(), "bridge", "--broker", Shared->Url(), "--root",
                   Root, "--credentials", Shared->Credentials(), "--allow-writes", "CF"},
                  (Shared->Dir / "bridge-error.log").string());
    const std::string unit = Root + "/" + UnitLevel(sim.SlavePath(), 0);
    ASSERT_NE(WaitLine(sub, {unit + "/event ", "\"link-regained\""}, 8000), "")
        << sub.Text() << bridge.Errors();
    ASSERT_TRUE(Shared->Publish(unit + "/set/CF", "42.5"));
    EXPECT_NE(WaitLine(sub, {unit + "/result ", "\"ok\":false"}, 8000), "") << sub.Text() << bridge.Errors();
    EXPECT_NE(WaitLine(sub, {unit + "/event ", "\"error-reply\"", "0:CF 42.500"}, 8000), "")
        << sub.Text() << bridge.Errors();
}

TEST_F(Publish, TheBridgeForTheWholeLinePublishesEachUnitAndWritesToTheOneNamed) {
    sim::TSimOptions options;
    options.Units = {0, 3};
    sim::TSimulator sim(options);
    TChild sub = Shared->Subscribe(Root + "/#", "sub-all");
    ASSERT_TRUE(Shared->Listening(sub, Root + "/marker")); // what is published next is not missed
    TChild bridge({KORVA_PROGRAM, "--port", sim.SlavePath(), "bridge", "--all", "--units", "0,3", "--broker",
                   Shared->Url(), "--root", Root, "--credentials", Shared->Credentials(), "--allow-writes",
                   "CF"},
                  (Shared->Dir / "bridge-all.log").string());
    const std::string unit0 = Root + "/" + UnitLevel(sim.SlavePath(), 0);
    const std::string unit3 = Root + "/" + UnitLevel(sim.SlavePath(), 3);
    for (const auto& unit : {unit0, unit3}) {
        EXPECT_NE(WaitLine(sub, {unit + "/status online"}, 8000), "") << sub.Text() << bridge.Errors();
        EXPECT_NE(WaitLine(sub, {unit + "/state ", "\"commandForce\":50.0"}, 8000), "") << sub.Text();
    }
    sim.SetUnitParameter(3, "CF", "71.000");
    EXPECT_NE(WaitLine(sub, {unit3 + "/state ", "\"commandForce\":71.0"}), "") << sub.Text();
    ASSERT_TRUE(Shared->Publish(unit3 + "/set/CF", "12.5"));
    EXPECT_NE(WaitLine(sub, {unit3 + "/result ", "\"ok\":true"}), "") << sub.Text() << bridge.Errors();
    EXPECT_EQ(sim.UnitParameter(3, "CF"), "12.500");
    EXPECT_EQ(sim.UnitParameter(0, "CF"), "50.000");
    // Stopped by the system, it says goodbye for every unit and ends well.
    const size_t before = broker::Lines(sub).size();
    bridge.Signal(SIGTERM);
    ASSERT_TRUE(broker::WaitFor([&] { return bridge.Exited().has_value(); }, 8000));
    EXPECT_TRUE(WIFEXITED(bridge.Status) && WEXITSTATUS(bridge.Status) == 0) << bridge.Errors();
    for (const auto& unit : {unit0, unit3})
        EXPECT_NE(WaitLine(sub, {unit + "/status offline"}, 3000, before), "") << sub.Text();
}

TEST_F(Publish, TheBridgeRefusesACredentialsFileOthersMayRead) {
    sim::TSimulator sim;
    TChild bridge({KORVA_PROGRAM, "--port", sim.SlavePath(), "bridge", "--broker", Shared->Url(), "--root",
                   Root, "--credentials", Shared->Credentials("bridge", 0644)},
                  (Shared->Dir / "bridge-cred.log").string());
    ASSERT_TRUE(broker::WaitFor([&] { return bridge.Exited().has_value(); }, 8000));
    EXPECT_EQ(WEXITSTATUS(bridge.Status), 2);
    EXPECT_NE(bridge.Errors().find("may be read or changed by others"), std::string::npos) << bridge.Errors();
}

// The monitor's exchanges with the controller, timed as they arrive.
struct TWireRecord {
    std::mutex Mutex;
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>> Lines;
    sim::TSimOptions Options() {
        sim::TSimOptions o;
        o.OnReceived = [this](const std::string& line) {
            std::lock_guard lock(Mutex);
            Lines.emplace_back(std::chrono::steady_clock::now(), line);
        };
        return o;
    }
    size_t Count(const std::string& line) {
        std::lock_guard lock(Mutex);
        return size_t(
            std::count_if(Lines.begin(), Lines.end(), [&](const auto& l) { return l.second == line; }));
    }
    // The commands from the first "0:CF?" on, count of them; and the median time between passes.
    std::vector<std::string> Commands(size_t count) {
        std::lock_guard lock(Mutex);
        std::vector<std::string> out;
        bool started = false;
        for (const auto& [at, line] : Lines) {
            started = started || line == "0:CF?";
            if (started && out.size() < count)
                out.push_back(line);
        }
        return out;
    }
    double MedianPeriodMs() {
        std::lock_guard lock(Mutex);
        std::vector<double> gaps;
        std::optional<std::chrono::steady_clock::time_point> last;
        for (const auto& [at, line] : Lines)
            if (line == "0:CF?") {
                if (last)
                    gaps.push_back(std::chrono::duration<double, std::milli>(at - *last).count());
                last = at;
            }
        std::sort(gaps.begin(), gaps.end());
        return gaps.empty() ? 0 : gaps[gaps.size() / 2];
    }
};

TEST_F(Publish, TheMonitorsWireTrafficIsTheSameWithThePublisherOnAndOff) {
    constexpr size_t passes = 9;
    TWireRecord off;
    {
        TLinkRig rig(off.Options());
        TIxaMonitor monitor(rig.Link);
        ASSERT_TRUE(ServeUntil([&] { return off.Count("0:CF?") >= passes; }, 10000));
    }
    TWireRecord on;
    {
        TUnitRig unit(Options(), on.Options());
        ASSERT_TRUE(broker::WaitFor([&] { return on.Count("0:CF?") >= passes; }, 10000));
        EXPECT_TRUE(unit.Connected());
        EXPECT_GE(unit.Publisher->Status().Published, 3u); // status, info, state: it did publish
    }
    const size_t n = std::min(off.Commands(1000).size(), on.Commands(1000).size());
    ASSERT_GE(n, 4 * passes);
    EXPECT_EQ(off.Commands(n), on.Commands(n));
#ifdef KORVA_SANITIZED
    constexpr double spread = 40; // a sanitizer's cost falls unevenly on the two runs
#else
    constexpr double spread = 20;
#endif
    EXPECT_NEAR(on.MedianPeriodMs(), off.MedianPeriodMs(), spread);
    EXPECT_NEAR(on.MedianPeriodMs(), double(TIxaMonitor::OnlinePeriod), 60.0);
}

} // namespace
