// The link against the simulated controller: framing, echo, reply grammar, handshake, lock, log.

#include "support/LinkRig.h"

#include "link/WireFormat.h"

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

using sim::TSimFault;
using sim::TSimOptions;

namespace {

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Rig.Port.Opened) << Rig.Port.OpenFailure();
        ASSERT_TRUE(Rig.Link.Connected);
        Rig.Sim.ClearReceived();
    }
    TLinkRig Rig;
    TIxaInterface& Link = Rig.Link;
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

} // namespace

TEST(LinkFraming, AddressPrefixAndEcho) {
    TSimOptions options;
    options.NetAddress = 3;
    TLinkRig rig(options, false);
    rig.Link.Address = 3;
    rig.Link.Connect();
    ASSERT_TRUE(rig.Link.Connected);
    rig.Sim.ClearReceived();
    rig.Sim.SetParameter("CF", "37.25");
    EXPECT_EQ(rig.Link.GetCommandForce(), 37.25);
    EXPECT_EQ(rig.Sent(), std::vector<std::string>{"3:CF?"});
    EXPECT_EQ(TIxaInterface::LastCommand(), "3:CF?");

    // Another unit's address: nobody answers, the link goes down.
    rig.Link.Address = 4;
    rig.Link.Timeout = 200;
    ExpectLinkError([&] { rig.Link.GetCommandForce(); }, 2, "silent address");
    EXPECT_FALSE(rig.Link.Connected);
}

TEST_F(LinkTest, WrongEchoClearsConnected) {
    for (auto fault : {TSimFault::WrongEcho, TSimFault::NoisyEcho}) {
        SCOPED_TRACE(fault == TSimFault::WrongEcho ? "wrong echo" : "endless echo");
        TLinkRig rig;
        ASSERT_TRUE(rig.Link.Connected);
        rig.Sim.InjectFault(fault, 1, 0, 6000);
        ExpectLinkError([&] { rig.Link.GetCommandForce(); }, 3, "bad echo");
        EXPECT_FALSE(rig.Link.Connected);
    }
}

TEST_F(LinkTest, ReplyGrammar) {
    struct {
        const char* Name;
        std::vector<std::string> Lines;
        const char* Expect; // "value:<v>", "ixa:<n>", "link:<code>", "convert"
    } rows[] = {
        {"error line", {"Error 12", "OK"}, "ixa:12"},
        {"bare error", {"Error", "OK"}, "ixa:0"},
        {"value then no OK", {"12.5", "Error"}, "link:3"},
        {"error then no OK", {"Error 4", "Busy"}, "link:3"},
        {"Error later in a value", {"12.5 Error", "OK"}, "value:12.5"},
        {"CR LF line ends", {"12.5\r", "OK\r"}, "value:12.5"},
        {"lower-case error is a value", {"error 3", "OK"}, "convert"},
        {"not a number", {"abc", "OK"}, "convert"},
        {"OK alone where a value is due", {"OK"}, "convert"},
    };
    for (const auto& row : rows) {
        Rig.Sim.ScriptReply("CF?", row.Lines);
        std::string got;
        try {
            std::ostringstream value;
            value << Link.GetCommandForce();
            got = "value:" + value.str();
        } catch (const EIxa& e) {
            got = "ixa:" + std::to_string(e.ErrorNumber);
            EXPECT_EQ(e.Message, row.Lines[0]) << row.Name;
        } catch (const EIxaInterface& e) {
            got = "link:" + std::to_string(e.Code);
        } catch (const EConvertError&) {
            got = "convert";
        }
        EXPECT_EQ(got, row.Expect) << row.Name;
        EXPECT_TRUE(Link.Connected) << row.Name << ": only a timeout or a wrong echo drops the link";
    }
}

TEST_F(LinkTest, StringAndIntegerReplies) {
    Rig.Sim.ScriptReply("CN?", {"", "OK"});
    EXPECT_EQ(Link.GetControllerName(), "");
    Rig.Sim.ScriptReply("CN?", {"Cell 4 Error", "OK"});
    EXPECT_EQ(Link.GetControllerName(), "Cell 4 Error");
    Rig.Sim.ScriptReply("TN?", {"12.5", "OK"});
    EXPECT_THROW(Link.GetToolNumber(), EConvertError);
    Rig.Sim.ScriptReply("TN?", {"7", "OK"});
    EXPECT_EQ(Link.GetToolNumber(), 7);
}

TEST_F(LinkTest, MissingOrLateLines) {
    // Only the link's own time limits, the same over every transport: the local line tests them.
    if (!LocalTransport())
        GTEST_SKIP() << "time limits only, tested on the local line";
    Rig.Sim.InjectFault(TSimFault::LateLine, 1, 100); // well inside the 1000 ms limit
    EXPECT_NO_THROW(Link.GetCommandForce());

    Link.Timeout = 300;
    Rig.Sim.InjectFault(TSimFault::MissingOk);
    auto start = std::chrono::steady_clock::now();
    ExpectLinkError([&] { Link.GetCommandForce(); }, 2, "missing OK");
    EXPECT_GE(MillisecondsSince(start), 290);
    EXPECT_FALSE(Link.Connected);

    Link.Connect(); // purges what is left and comes back
    ASSERT_TRUE(Link.Connected);
    EXPECT_EQ(Link.Timeout, 1000);
    Link.Timeout = 300;
    Rig.Sim.InjectFault(TSimFault::DropLine);
    ExpectLinkError([&] { Link.SetActive(false); }, 2, "dropped OK");
}

TEST_F(LinkTest, EndlessLineIsABadReplyNotAFreeze) {
    Link.Timeout = 20000;
    Rig.Sim.InjectFault(TSimFault::Noise, 1, 0, 20000);
    auto start = std::chrono::steady_clock::now();
    ExpectLinkError([&] { Link.GetCommandForce(); }, 3, "noise");
    EXPECT_LT(MillisecondsSince(start), 10000) << "must stop at the length cap, not run to the time limit";
}

TEST_F(LinkTest, LineBreakInATextIsRefusedBeforeSending) {
    for (const char* name : {"Cell 4\nSC", "Cell 4\r", "\n"}) {
        ExpectLinkError([&] { Link.SetControllerName(name); }, 6, "line break");
        EXPECT_TRUE(Link.Connected);
    }
    Link.SetControllerName("Cell 4");
    EXPECT_EQ(Rig.Sent(), std::vector<std::string>{"0:CN Cell 4"});
    EXPECT_EQ(Rig.Sim.Parameter("CN"), "Cell 4");
}

TEST_F(LinkTest, PortClosedOrMissing) {
    Rig.Port.Close();
    ExpectLinkError([&] { Link.GetCommandForce(); }, 0, "closed port");
    TIxaInterface noPort;
    ExpectLinkError([&] { noPort.GetActive(); }, 0, "no port");
    ExpectLinkError([&] { noPort.AssertConnected(); }, 1, "not connected");
    noPort.Timeout = 300;
    EXPECT_NO_THROW(noPort.Connect());
    EXPECT_FALSE(noPort.Connected);
    EXPECT_EQ(noPort.Timeout, 1000);
}

TEST_F(LinkTest, LockIsReleasedAfterEveryKindOfFailure) {
    Link.Timeout = 200;
    struct {
        const char* Name;
        std::function<void()> Fail;
    } rows[] = {
        {"timeout",
         [&] {
             Rig.Sim.InjectFault(TSimFault::Silent, 1);
             Link.GetActive();
         }},
        {"wrong echo",
         [&] {
             Rig.Sim.InjectFault(TSimFault::WrongEcho);
             Link.GetActive();
         }},
        {"device error",
         [&] {
             Rig.Sim.ScriptReply("ACT?", {"Error 5", "OK"});
             Link.GetActive();
         }},
        {"bad reply",
         [&] {
             Rig.Sim.ScriptReply("ACT?", {"1", "Error"});
             Link.GetActive();
         }},
        {"not an integer",
         [&] {
             Rig.Sim.ScriptReply("ACT?", {"x", "OK"});
             Link.GetActive();
         }},
        {"line break", [&] { Link.SetToolType("a\nb"); }},
        {"handshake error",
         [&] {
             Rig.Sim.ScriptReply("NDIF?", {"Error 1", "OK"});
             Link.Connect();
         }},
    };
    for (auto& row : rows) {
        EXPECT_ANY_THROW(row.Fail()) << row.Name;
        Rig.Sim.ClearFaults();
        auto other = std::async(std::launch::async, [&] {
            TLinkLock lock(Link); // waits forever if the failed operation kept the lock
            return true;
        });
        ASSERT_EQ(other.wait_for(std::chrono::seconds(2)), std::future_status::ready) << row.Name;
        // Reply lines of the failed exchange that were still on their way may spoil one handshake.
        for (int attempt = 0; attempt < 3 && !Link.Connected; ++attempt)
            Link.Connect();
        ASSERT_TRUE(Link.Connected) << row.Name;
        Link.Timeout = 200;
    }
    // And a real exchange from the other thread goes through.
    auto other = std::async(std::launch::async, [&] { return Link.GetActive(); });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_NO_THROW(other.get());
}

TEST(LinkHandshake, VersionRule) {
    {
        TSimOptions options;
        options.Version = 3.9;
        TLinkRig rig(options);
        EXPECT_FALSE(rig.Link.Connected);
        EXPECT_EQ(rig.Link.Version, 0.0);
        EXPECT_TRUE(rig.Link.Refused());
        EXPECT_TRUE(rig.Link.DinFunctionNames.empty());
        EXPECT_EQ(rig.Link.Timeout, 1000);
        EXPECT_STREQ(EIxaInterface(TLinkError::Incompatible).what(),
                     "This software is not compatible with an IXA40 Controller!");
    }
    {
        TSimOptions options;
        options.Version = 4.0;
        TLinkRig rig(options);
        ASSERT_TRUE(rig.Link.Connected);
        EXPECT_EQ(rig.Link.Version, 4.0);
        EXPECT_FALSE(rig.Link.Refused());
        ASSERT_FALSE(rig.Link.DinFunctionNames.empty());
        for (size_t i = 0; i < rig.Link.DinFunctionNames.size(); ++i)
            EXPECT_EQ(rig.Link.DinFunctionNames[i], rig.Sim.Parameter("DIFD", int(i)));
        EXPECT_EQ(rig.Link.DoutFunctionNames.size(), size_t(std::stoi(rig.Sim.Parameter("NDOF"))));
        EXPECT_EQ(rig.Link.AoutFunctionNames.size(), size_t(std::stoi(rig.Sim.Parameter("NAOF"))));
        EXPECT_EQ(rig.Link.Timeout, 1000);
    }
}

TEST(LinkHandshake, ExchangesOfAGoodHandshake) {
    TLinkRig rig({}, false);
    rig.Link.Connect();
    ASSERT_TRUE(rig.Link.Connected);
    auto sent = rig.Sim.Received();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent[0], "0:VER?");
    EXPECT_EQ(sent[1], "0:NDIF?");
    EXPECT_EQ(sent[2], "0:DIFD? 0");
    EXPECT_EQ(sent.back(), "0:AOFD? " + std::to_string(std::stoi(rig.Sim.Parameter("NAOF")) - 1));
}

TEST(LinkHandshake, FailuresLeaveTheLinkDown) {
    TLinkRig rig({}, false);
    // No controller: about 500 ms, no exception.
    rig.Sim.InjectFault(TSimFault::Silent, -1);
    auto start = std::chrono::steady_clock::now();
    std::atomic<int> limitInUse{0};
    auto watch = std::async(std::launch::async, [&] { // the limit the unanswered query waits under
        rig.Sim.WaitReceived(1, 5000);
        limitInUse = rig.Link.Timeout.load();
    });
    EXPECT_NO_THROW(rig.Link.Connect());
    watch.wait();
    EXPECT_FALSE(rig.Link.Connected);
    EXPECT_EQ(limitInUse, 500);
    EXPECT_GE(MillisecondsSince(start), 480);
    EXPECT_LT(MillisecondsSince(start), 3000); // one query, not a retry
    EXPECT_EQ(rig.Link.Timeout, 1000);
    rig.Sim.ClearFaults();

    // A status line other than "OK".
    rig.Sim.ScriptReply("VER?", {"4.2", "Error"});
    rig.Link.Connect();
    EXPECT_FALSE(rig.Link.Connected);

    // An empty function list is fine.
    rig.Sim.ScriptReply("NDIF?", {"0", "OK"});
    rig.Link.Connect();
    EXPECT_TRUE(rig.Link.Connected);
    EXPECT_TRUE(rig.Link.DinFunctionNames.empty());

    // A device error while loading the lists reaches the caller, with the link down.
    rig.Sim.ScriptReply("NDOF?", {"Error 1", "OK"});
    EXPECT_THROW(rig.Link.Connect(), EIxa);
    EXPECT_FALSE(rig.Link.Connected);
    EXPECT_EQ(rig.Link.Timeout, 1000);
}

TEST(LinkCommLog, LogsControllerErrorsOnlyWhenAsked) {
    auto dir = std::filesystem::temp_directory_path() / ("korva-commlog-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ::setenv("HOME", dir.c_str(), 1);
    auto log = dir / "COMMLOG.LOG";
    {
        SetCommandLine({"korva"});
        TLinkRig rig;
        ASSERT_TRUE(rig.Link.Connected);
        EXPECT_THROW(rig.Link.SetCommandForce(900), EIxa);
        EXPECT_FALSE(std::filesystem::exists(log));
    }
    {
        SetCommandLine({"korva", "-commlog"});
        TLinkRig rig;
        ASSERT_TRUE(rig.Link.Connected);
        ASSERT_TRUE(std::filesystem::exists(log));
        EXPECT_EQ(ReadFile(log), "");
        rig.Link.SetCommandForce(12.5);
        try {
            rig.Link.SetCommandForce(900);
            ADD_FAILURE() << "the controller must refuse 900";
        } catch (const EIxa& e) {
            EXPECT_EQ(e.Message, "Error 3");
            EXPECT_EQ(e.ErrorNumber, 3);
        }
        EXPECT_EQ(ReadFile(log), "0:CF 900.000 --> Error 3\n");
    }
    SetCommandLine({"korva"});
    std::filesystem::remove_all(dir);
}

TEST(LinkLocale, CommaDecimalLocaleDoesNotReachTheWire) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/deps.sh generates it)";
    TLinkRig rig;
    ASSERT_TRUE(rig.Link.Connected);
    EXPECT_EQ(rig.Link.Version, 4.2);
    rig.Sim.ClearReceived();
    rig.Link.SetCommandForce(12.5);
    EXPECT_EQ(rig.Sent(), std::vector<std::string>{"0:CF 12.500"});
    EXPECT_EQ(rig.Link.GetCommandForce(), 12.5);
    rig.Link.SetForceLevel(3, -2.25);
    EXPECT_EQ(rig.Sent(2), (std::vector<std::string>{"0:CF?", "0:FL 3 -2.250"}));
    std::setlocale(LC_ALL, "C");
}

TEST(LinkHandshake, FunctionNameCountsBeyondTheBoundAreBadReplies) {
    TLinkRig rig({}, false);
    // Two billion names would keep the handshake asking for good: refused at the count.
    rig.Sim.SetParameter("NDIF", "2000000000");
    auto start = std::chrono::steady_clock::now();
    rig.Link.Connect();
    EXPECT_FALSE(rig.Link.Connected);
    EXPECT_LT(MillisecondsSince(start), 2000);
    EXPECT_TRUE(rig.Link.DinFunctionNames.empty());
    for (const std::string& line : rig.Sent(2))
        EXPECT_EQ(line.find("DIFD"), std::string::npos) << line;

    rig.Sim.SetParameter("NDIF", "8");
    for (const char* count : {"-1", "257"}) {
        rig.Sim.ScriptReply("NDOF?", {count, "OK"});
        rig.Link.Connect();
        EXPECT_FALSE(rig.Link.Connected) << count;
    }
    // The bound itself is a controller's count like any other.
    rig.Sim.SetParameter("NAOF", std::to_string(TIxaInterface::MaxFunctionNames));
    rig.Link.Connect();
    ASSERT_TRUE(rig.Link.Connected);
    ASSERT_EQ(rig.Link.AoutFunctionNames.size(), size_t(TIxaInterface::MaxFunctionNames));
    EXPECT_EQ(rig.Link.AoutFunctionNames.back(),
              rig.Sim.Parameter("AOFD", TIxaInterface::MaxFunctionNames - 1));
}

TEST(LinkHandshake, TheStopCheckEndsAHandshakeBetweenExchanges) {
    TLinkRig rig({}, false);
    rig.Sim.SetParameter("NDOF", "200");
    struct TStop {};
    int checks = 0;
    rig.Link.BetweenExchanges = [&] {
        if (++checks == 20)
            throw TStop{};
    };
    EXPECT_THROW(rig.Link.Connect(), TStop);
    EXPECT_FALSE(rig.Link.Connected);
    EXPECT_EQ(rig.Link.Timeout, 1000);
    // Nothing more went out after the check that stopped it (one before each list, one between two
    // names: the 20th comes after the 8 input names and "DOFD? 10"), and the lock is free again.
    const auto sent = rig.Sent(1);
    EXPECT_EQ(sent.back(), "0:DOFD? 10") << sent.size();
    auto other = std::async(std::launch::async, [&] {
        const bool free = rig.Link.Lock.try_lock();
        if (free)
            rig.Link.Lock.unlock();
        return free;
    });
    EXPECT_TRUE(other.get());

    rig.Link.BetweenExchanges = nullptr;
    rig.Sim.SetParameter("NDOF", "6");
    rig.Link.Connect();
    EXPECT_TRUE(rig.Link.Connected);
}

TEST(LinkHandshake, AVersionThatIsNoFiniteNumberIsRefused) {
    for (const char* text : {"nan", "NaN", "inf", "-inf", "infinity", "1e999", "abc"}) {
        TSimOptions options;
        options.VersionText = text;
        TLinkRig rig(options);
        EXPECT_FALSE(rig.Link.Connected) << text;
        EXPECT_TRUE(rig.Link.Refused()) << text;
        EXPECT_EQ(rig.Link.Version, 0.0) << text;
    }
}

TEST(LinkHandshake, RepliesStillOnTheirWayAreNotTakenForTheHandshakes) {
    // A serial server forwards the stream in bursts with pauses of its own, longer than the quiet
    // the handshake waits for: there the handshake after the noise may fail once, and the next one
    // a period later finds the line quiet.
    if (!LocalTransport())
        GTEST_SKIP() << "a local line's behaviour";
    TLinkRig rig;
    ASSERT_TRUE(rig.Link.Connected);
    // A reply that streams far more than the line's buffers hold: the link gives up on it, and
    // the handshake right after meets the rest still arriving after its purge. It waits for the
    // line to go quiet before it asks, so its "VER?" gets its own echo and reply.
    rig.Sim.ClearReceived();
    rig.Sim.InjectFault(TSimFault::Noise, 1, 0, 120'000);
    EXPECT_THROW(rig.Link.GetActualForce(), EIxaInterface);
    const auto start = std::chrono::steady_clock::now();
    rig.Link.Connect();
    EXPECT_TRUE(rig.Link.Connected);
    EXPECT_EQ(rig.Link.Version, 4.2);
    EXPECT_LT(MillisecondsSince(start), long(TIxaInterface::DrainLimitMs) + 1500);
    const auto sent = rig.Sent(2);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "0:VER?"), 1) << "one handshake did it";
}
