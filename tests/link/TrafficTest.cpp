// The traffic observer on the link and the traffic log's ring: the lines and marks of a normal
// exchange, an error reply, a time-out and a wrong echo; who asked; the filter; the ring's bound.

#include "support/LinkRig.h"

#include "link/Traffic.h"
#include "sim/PtyLine.h"

#include <ctime>
#include <regex>
#include <thread>

using sim::TSimFault;

namespace {

std::vector<TTrafficEvent> Events(const TTrafficLog& log) {
    std::vector<TTrafficEvent> events;
    log.CopySince(0, events);
    return events;
}

// Each event as "<origin> <direction> <line> [<mark>]", the parts that do not depend on the clock.
std::vector<std::string> Shape(const std::vector<TTrafficEvent>& events) {
    std::vector<std::string> lines;
    for (const auto& e : events) {
        std::string s = e.Origin == TTrafficOrigin::Polling ? "polling " : "operator ";
        s += e.Direction == TTrafficDirection::Sent ? "sent " : "recv ";
        s += e.Line;
        if (e.Mark != TTrafficMark::None)
            s += std::string(" [") + TrafficMarkText(e.Mark) + "]";
        lines.push_back(s);
    }
    return lines;
}

// The elapsed time starts at 0 with the command line and only grows within an exchange.
void ExpectElapsedGrows(const std::vector<TTrafficEvent>& events) {
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].Direction == TTrafficDirection::Sent) {
            EXPECT_EQ(events[i].Elapsed.count(), 0) << i;
        } else if (i > 0) {
            EXPECT_GE(events[i].Elapsed, events[i - 1].Elapsed) << i;
        }
    }
}

TTrafficEvent At(int hour, int minute, int second, int millis, std::chrono::microseconds elapsed,
                 TTrafficDirection direction, TTrafficOrigin origin, TTrafficMark mark, std::string line) {
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 8;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const auto time =
        std::chrono::system_clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(millis);
    return {time, elapsed, direction, origin, mark, std::move(line), {}};
}

class TrafficTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Rig.Link.Connected);
        Rig.Link.SetTrafficObserver(&Log);
    }
    void TearDown() override { Rig.Link.SetTrafficObserver(nullptr); }
    TLinkRig Rig;
    TTrafficLog Log;
};

} // namespace

TEST(TrafficFormat, ExactLines) {
    using std::chrono::microseconds;
    using D = TTrafficDirection;
    using O = TTrafficOrigin;
    using M = TTrafficMark;
    struct {
        TTrafficEvent Event;
        const char* Expect;
    } rows[] = {
        {At(14, 3, 7, 412, microseconds(0), D::Sent, O::Operator, M::None, "0:CF 12.500"),
         "14:03:07.412  operator  sent      0.0 ms  0:CF 12.500"},
        {At(14, 3, 7, 441, microseconds(28649), D::Received, O::Polling, M::ErrorReply, "Error 3"),
         "14:03:07.441  polling   recv     28.6 ms  Error 3  [error reply]"},
        {At(9, 0, 0, 5, microseconds(1000400), D::Received, O::Operator, M::Timeout, ""),
         "09:00:00.005  operator  recv   1000.4 ms    [time-out]"},
        {At(23, 59, 59, 999, microseconds(15000), D::Received, O::Operator, M::WrongEcho, "0:CF"),
         "23:59:59.999  operator  recv     15.0 ms  0:CF  [wrong echo]"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FormatTrafficLine(row.Event), row.Expect);

    // A saved log's times carry the date; the port's reason follows its mark; the link's own lines.
    TTrafficEvent failed = At(8, 5, 1, 7, microseconds(2500), D::Received, O::Polling, M::PortFailed, "");
    failed.Detail = "Error reading from serial port! (Input/output error)";
    EXPECT_EQ(FormatTrafficLine(failed, true),
              "2026-12-08 08:05:01.007  polling   recv      2.5 ms    "
              "[port failed: Error reading from serial port! (Input/output error)]");
    EXPECT_EQ(
        FormatTrafficLine(At(8, 5, 2, 0, microseconds(0), D::Link, O::Polling, M::None, "*** link lost: x")),
        "08:05:02.000  link      *** link lost: x");
}

// The port refusing a write: the line is marked with the port's reason, not only "port failed".
TEST(TrafficPort, AFailedWriteCarriesThePortsReason) {
    sim::TPtyLine line;
    TCommPort port;
    port.Open(line.SlavePath());
    ASSERT_TRUE(port.IsOpen());
    TIxaInterface link(&port);
    TTrafficLog log;
    link.SetTrafficObserver(&log);
    line.Close();
    EXPECT_THROW(link.SendString("VER?"), ECommPort);
    const auto events = Events(log);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Mark, TTrafficMark::PortFailed);
    EXPECT_EQ(events[0].Detail.rfind("Error writing to serial port!", 0), 0u) << events[0].Detail;
    EXPECT_NE(FormatTrafficLine(events[0]).find("0:VER?  [port failed: Error writing to serial port!"),
              std::string::npos)
        << FormatTrafficLine(events[0]);
    link.SetTrafficObserver(nullptr);
}

TEST(TrafficLog, HidePollingKeepsTheLinksOwnLines) {
    TTrafficLog log;
    TTrafficEvent event;
    event.Origin = TTrafficOrigin::Polling;
    event.Line = "0:ACT?";
    log.OnTraffic(event);
    event.Direction = TTrafficDirection::Link;
    event.Line = "*** link lost: time-out";
    log.OnTraffic(event);
    const std::string shown = log.Text(true);
    EXPECT_EQ(shown.find("0:ACT?"), std::string::npos);
    EXPECT_NE(shown.find("link      *** link lost: time-out\n"), std::string::npos) << shown;
    EXPECT_TRUE(std::regex_match(log.Text(true, true),
                                 std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  link .*\n)")))
        << log.Text(true, true);
}

TEST_F(TrafficTest, NormalExchange) {
    Rig.Sim.SetParameter("CF", "37.25");
    EXPECT_EQ(Rig.Link.GetCommandForce(), 37.25);
    const auto events = Events(Log);
    EXPECT_EQ(Shape(events), (std::vector<std::string>{"operator sent 0:CF?", "operator recv 0:CF?",
                                                       "operator recv 37.250", "operator recv OK"}));
    ExpectElapsedGrows(events);
    const std::regex line(R"(\d\d:\d\d:\d\d\.\d\d\d  operator  (sent|recv) +\d+\.\d ms  \S+)");
    for (const auto& e : events)
        EXPECT_TRUE(std::regex_match(FormatTrafficLine(e), line)) << FormatTrafficLine(e);
}

TEST_F(TrafficTest, ErrorReplyTimeOutAndWrongEchoAreMarked) {
    // Out of range: "Error 3".
    EXPECT_THROW(Rig.Link.SetIntProp("TN", 99), EIxa);
    EXPECT_EQ(Shape(Events(Log)),
              (std::vector<std::string>{"operator sent 0:TN 99", "operator recv 0:TN 99",
                                        "operator recv Error 3 [error reply]", "operator recv OK"}));

    Log.Clear();
    Rig.Link.Timeout = 150;
    Rig.Sim.InjectFault(TSimFault::Silent, 1);
    ExpectLinkError([&] { Rig.Link.GetCommandForce(); }, 2, "silent");
    auto events = Events(Log);
    EXPECT_EQ(Shape(events), (std::vector<std::string>{"operator sent 0:CF?", "operator recv  [time-out]"}));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_GE(events[1].Elapsed, std::chrono::milliseconds(140)); // about the whole time limit

    Log.Clear();
    Rig.Link.Timeout = 1000;
    Rig.Sim.InjectFault(TSimFault::WrongEcho, 1);
    ExpectLinkError([&] { Rig.Link.GetCommandForce(); }, 3, "wrong echo");
    events = Events(Log);
    EXPECT_EQ(Shape(events),
              (std::vector<std::string>{"operator sent 0:CF?", "operator recv 0:CF [wrong echo]"}));
    ExpectElapsedGrows(events);

    // A reply that never ends is kept by its start only.
    Rig.Link.Connect();
    ASSERT_TRUE(Rig.Link.Connected);
    Log.Clear();
    Rig.Sim.InjectFault(TSimFault::Noise, 1, 0, 6000);
    ExpectLinkError([&] { Rig.Link.GetCommandForce(); }, 3, "endless reply");
    events = Events(Log);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].Mark, TTrafficMark::BadReply);
    EXPECT_EQ(events[2].Line.size(), 83u);
}

TEST_F(TrafficTest, PollingIsToldApartAndFiltered) {
    std::thread poller([&] {
        SetTrafficOrigin(TTrafficOrigin::Polling);
        Rig.Link.GetActive();
    });
    poller.join();
    Rig.Link.GetToolNumber();
    EXPECT_EQ(Shape(Events(Log)),
              (std::vector<std::string>{"polling sent 0:ACT?", "polling recv 0:ACT?", "polling recv 0",
                                        "polling recv OK", "operator sent 0:TN?", "operator recv 0:TN?",
                                        "operator recv 0", "operator recv OK"}));
    const std::string all = Log.Text(false), operatorOnly = Log.Text(true);
    EXPECT_NE(all.find("0:ACT?"), std::string::npos);
    EXPECT_EQ(operatorOnly.find("0:ACT?"), std::string::npos);
    EXPECT_NE(operatorOnly.find("0:TN?"), std::string::npos);
    EXPECT_EQ(std::count(operatorOnly.begin(), operatorOnly.end(), '\n'), 4);

    // Nobody listening: nothing more arrives.
    Rig.Link.SetTrafficObserver(nullptr);
    Rig.Link.GetToolNumber();
    EXPECT_EQ(Log.Size(), 8u);
}

TEST(TrafficLog, RingKeepsTheNewestAndPauseDropsEvents) {
    TTrafficLog log;
    ASSERT_EQ(log.Capacity(), 20000u);
    const size_t extra = 7;
    TTrafficEvent event;
    for (size_t i = 0; i < log.Capacity() + extra; ++i) {
        event.Line = "line " + std::to_string(i);
        log.OnTraffic(event);
    }
    EXPECT_EQ(log.Size(), log.Capacity());
    std::vector<TTrafficEvent> events;
    EXPECT_EQ(log.CopySince(0, events), log.Capacity() + extra);
    ASSERT_EQ(events.size(), log.Capacity());
    EXPECT_EQ(events.front().Line, "line 7");
    EXPECT_EQ(events.back().Line, "line " + std::to_string(log.Capacity() + extra - 1));

    // Reading on from a sequence number gives only what came after it.
    events.clear();
    const uint64_t next = log.NextSequence();
    event.Line = "after";
    log.OnTraffic(event);
    EXPECT_EQ(log.CopySince(next, events), next + 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Line, "after");

    log.SetPaused(true);
    log.OnTraffic(event);
    EXPECT_EQ(log.NextSequence(), next + 1);
    log.SetPaused(false);

    log.Clear();
    EXPECT_EQ(log.Size(), 0u);
    EXPECT_EQ(log.Text(false), "");
    log.OnTraffic(event);
    events.clear();
    log.CopySince(0, events);
    ASSERT_EQ(events.size(), 1u);
}

TEST_F(TrafficTest, ObserversBesideTheLogSeeEveryLineUntilRemoved) {
    TTrafficLog beside, other;
    ASSERT_TRUE(Rig.Link.AddTrafficObserver(&beside));
    ASSERT_TRUE(Rig.Link.AddTrafficObserver(&other));
    Rig.Link.GetCommandForce();
    EXPECT_EQ(Log.Size(), 4u); // the log's own slot still has it all: the line, its echo, value, OK
    EXPECT_EQ(beside.Text(false), Log.Text(false));
    EXPECT_EQ(other.Text(false), Log.Text(false));

    // Taking the log's slot away leaves the others listening; a removed one hears nothing more.
    Rig.Link.SetTrafficObserver(nullptr);
    Rig.Link.RemoveTrafficObserver(&other);
    Rig.Link.GetCommandForce();
    EXPECT_EQ(Log.Size(), 4u);
    EXPECT_EQ(beside.Size(), 8u);
    EXPECT_EQ(other.Size(), 4u);

    // A bounded number of listeners: the one past it is refused, not dropped silently.
    std::vector<TTrafficLog> more(TIxaInterface::MaxTrafficObservers);
    size_t added = 0;
    for (TTrafficLog& log : more)
        added += Rig.Link.AddTrafficObserver(&log) ? 1 : 0;
    EXPECT_EQ(added, TIxaInterface::MaxTrafficObservers - 2); // "beside" holds one of the slots
    Rig.Link.RemoveTrafficObserver(&beside);
    for (TTrafficLog& log : more)
        Rig.Link.RemoveTrafficObserver(&log);
}
