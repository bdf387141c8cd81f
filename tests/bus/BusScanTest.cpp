// The network scan against three simulated units on one line: what it finds, that the link is
// left as it was, cancelling, a silent line's time bound and a closed port.

#include "support/LinkRig.h"

#include "bus/BusScan.h"

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
    TBusScan scan(rig.Link);
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
    scanner.join();
    EXPECT_LT(count, 16);
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
    EXPECT_GE(ms, long(scan.SilentLineMs()) - 8); // every address waited for (tick granularity)
    EXPECT_LT(ms, long(scan.SilentLineMs()) * 3); // and no more than that, with room for a busy machine
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
