// The network scan against three simulated units on one line: what it finds, that the link is
// left as it was, cancelling, a silent line's time bound and a closed port.

#include "support/LinkRig.h"

#include "bus/BusScan.h"

#include <algorithm>
#include <thread>

namespace {

sim::TSimOptions Bus(std::vector<int> units) {
    sim::TSimOptions options;
    options.Units = std::move(units);
    return options;
}

std::vector<int> Addresses(const std::vector<TBusUnit>& units) {
    std::vector<int> addresses;
    for (const auto& unit : units)
        addresses.push_back(unit.Address);
    return addresses;
}

} // namespace

TEST(BusScan, FindsEveryUnitWithItsNameAndLeavesTheLinkAsItWas) {
    TLinkRig rig(Bus({0, 3, 7}));
    ASSERT_TRUE(rig.Link.Connected);
    rig.Sim.SetUnitParameter(7, "VER", "4.1");
    std::vector<int> probed, reported;
    // Half the usual probe limit: thirteen silent addresses cost two limits each, and a unit late
    // for it is probed again with the slow limit.
    TBusScanOptions options;
    options.ProbeTimeLimit = 50;
    TBusScan scan(rig.Link, options);
    const auto units = scan.Run({}, [&](int address, const TBusUnit* unit) {
        probed.push_back(address);
        if (unit)
            reported.push_back(unit->Address);
    });
    ASSERT_EQ(Addresses(units), (std::vector<int>{0, 3, 7}));
    EXPECT_EQ(reported, (std::vector<int>{0, 3, 7}));
    ASSERT_EQ(probed.size(), 16u);
    EXPECT_EQ(probed.front(), 0);
    EXPECT_EQ(probed.back(), 15);

    const std::pair<const char*, const char*> expected[] = {
        {"IXA Cell 1", "Deburring Spindle"}, {"IXA Cell 2", "Gripper"}, {"IXA Cell 3", "Sanding Head"}};
    for (size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(units[i].Name, expected[i].first);
        EXPECT_EQ(units[i].ToolType, expected[i].second);
    }
    EXPECT_EQ(units[0].Version, "4.2");
    EXPECT_EQ(units[2].Version, "4.1");

    // The time-outs at the empty addresses did not take the link down, nor move it.
    EXPECT_TRUE(rig.Link.Connected);
    EXPECT_EQ(rig.Link.Address, 0);
    EXPECT_EQ(rig.Link.Timeout, 1000);
    rig.Sim.ClearReceived();
    EXPECT_EQ(rig.Link.GetControllerName(), "IXA Cell 1");

    // Probing alone: a unit, and a silent address.
    EXPECT_EQ(scan.Probe(3)->Name, "IXA Cell 2");
    EXPECT_FALSE(scan.Probe(4).has_value());
}

TEST(BusScan, AUnitThatRefusesItsNameIsStillListed) {
    TLinkRig rig(Bus({2}), false);
    rig.Sim.ScriptReply("CN?", {"Error 1", "OK"});
    const auto unit = TBusScan(rig.Link).Probe(2);
    ASSERT_TRUE(unit.has_value());
    EXPECT_EQ(unit->Version, "4.2");
    EXPECT_EQ(unit->Name, "");
    EXPECT_EQ(unit->ToolType, "Deburring Spindle");
}

TEST(BusScan, CancelStopsBeforeTheNextAddress) {
    TLinkRig rig(Bus({0, 3, 7}));
    std::stop_source stop;
    int probed = 0;
    const auto units = TBusScan(rig.Link).Run(stop.get_token(), [&](int address, const TBusUnit*) {
        ++probed;
        if (address == 4)
            stop.request_stop();
    });
    EXPECT_EQ(probed, 5);
    EXPECT_EQ(Addresses(units), (std::vector<int>{0, 3}));

    // From another thread, while the scan waits on silent addresses.
    std::stop_source other;
    std::atomic<int> count{0};
    std::thread scanner(
        [&] { TBusScan(rig.Link).Run(other.get_token(), [&](int, const TBusUnit*) { ++count; }); });
    while (count < 2)
        std::this_thread::yield();
    other.request_stop();
    const int atStop = count; // the probe in progress may still finish, and no other starts
    scanner.join();
    EXPECT_LE(count, atStop + 1);
}

TEST(BusScan, ASilentLineTakesNoLongerThanItsTimeLimits) {
    TLinkRig rig(Bus({9}), false);
    TBusScanOptions options;
    options.Last = 7; // the unit at 9 is not asked
    options.ProbeTimeLimit = 60;
    TBusScan scan(rig.Link, options);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(scan.Run().empty());
    const long ms = MillisecondsSince(start);
    // Each of the 8 addresses: the limit, then one more for a late reply (tick granularity aside).
    EXPECT_GE(ms, 8 * 2 * 60 - 8);
    EXPECT_LT(ms, 8 * 2 * 60 * 3); // and no more than that, with room for a busy machine
    EXPECT_EQ(scan.SilentLineMs(), 8u * 2 * 60);
}

// A unit that answers after the probe's limit, but within the time the scan listens on, is asked
// again with the slow limit and listed in full; the unit after it is not disturbed.
TEST(BusScan, ASlowUnitIsProbedAgainWithTheSlowLimit) {
    TLinkRig rig(Bus({2, 3}), false);
    rig.Sim.InjectUnitFault(2, sim::TSimFault::LateEcho, -1, 300); // between 200 and 2 x 200 ms
    TBusScanOptions options;
    options.First = 1;
    options.Last = 4;
    options.ProbeTimeLimit = 200;
    const auto units = TBusScan(rig.Link, options).Run();
    ASSERT_EQ(Addresses(units), (std::vector<int>{2, 3}));
    EXPECT_EQ(units[0].Version, "4.2");
    EXPECT_EQ(units[0].Name, "IXA Cell 1");
    EXPECT_EQ(units[0].ToolType, "Deburring Spindle");
    EXPECT_EQ(units[1].Name, "IXA Cell 2");
}

// A reply later than the scan listens for arrives during the next address's probe: it is drained,
// and the next unit, probed again, is found as itself.
TEST(BusScan, AReplyTooLateForItsAddressDoesNotSpoilTheNext) {
    TLinkRig rig(Bus({4, 5}), false);
    rig.Sim.InjectUnitFault(4, sim::TSimFault::LateEcho, -1, 260);
    TBusScanOptions options;
    options.First = 4;
    options.Last = 6;
    const auto units = TBusScan(rig.Link, options).Run();
    ASSERT_FALSE(units.empty());
    EXPECT_EQ(units.back().Address, 5);
    EXPECT_EQ(units.back().Version, "4.2");
    EXPECT_EQ(units.back().Name, "IXA Cell 2");
    EXPECT_EQ(units.back().ToolType, "Gripper");
}

// A unit whose echo is not the probe's line is no unit, however well it answers after it.
TEST(BusScan, AGarbledEchoIsNeverAUnit) {
    TLinkRig rig(Bus({1, 2}), false);
    rig.Sim.InjectUnitFault(1, sim::TSimFault::WrongEcho);
    TBusScanOptions options;
    options.Last = 3;
    TBusScan scan(rig.Link, options);
    EXPECT_EQ(Addresses(scan.Run()), (std::vector<int>{2})); // once garbled, then asked again
    rig.Sim.InjectUnitFault(1, sim::TSimFault::WrongEcho, -1);
    EXPECT_FALSE(scan.Probe(1).has_value());
    EXPECT_EQ(scan.Probe(2)->Name, "IXA Cell 2");
}

// Bytes already waiting when a probe starts (the rest of an earlier exchange) are emptied first:
// the probe's first line read is its own echo, and it is sent once.
TEST(BusScan, WaitingInputIsEmptiedBeforeTheProbe) {
    TLinkRig rig(Bus({2}), false);
    rig.Link.WriteString("2:CN?");
    const std::string waiting = "2:CN?\nIXA Cell 1\nOK\n"; // all of it, so none comes during the probe
    const auto start = std::chrono::steady_clock::now();
    while (rig.Port.InQueue() < int(waiting.size()) && MillisecondsSince(start) < 2000)
        rig.Port.WaitForInput(10);
    ASSERT_EQ(rig.Port.InQueue(), int(waiting.size()));
    struct TLines : TTrafficObserver {
        std::vector<std::string> Sent, Read;
        void OnTraffic(const TTrafficEvent& event) noexcept override {
            (event.Direction == TTrafficDirection::Sent ? Sent : Read).push_back(event.Line);
        }
    } traffic;
    rig.Link.SetTrafficObserver(&traffic);
    const auto unit = TBusScan(rig.Link).Probe(2);
    rig.Link.SetTrafficObserver(nullptr);
    ASSERT_TRUE(unit.has_value());
    EXPECT_EQ(unit->Name, "IXA Cell 1");
    EXPECT_EQ(traffic.Sent, (std::vector<std::string>{"2:VER?", "2:CN?", "2:TT?"}));
    ASSERT_FALSE(traffic.Read.empty());
    EXPECT_EQ(traffic.Read.front(), "2:VER?");
}

TEST(BusScan, AClosedPortEndsTheScanAndLeavesTheAddress) {
    TLinkRig rig(Bus({0, 3}));
    rig.Link.Address = 3;
    rig.Port.Close();
    int probed = 0;
    ExpectLinkError([&] { TBusScan(rig.Link).Run({}, [&](int, const TBusUnit*) { ++probed; }); }, 0,
                    "closed port");
    EXPECT_EQ(probed, 0);
    EXPECT_EQ(rig.Link.Address, 3);
}
