// Every typed accessor spells its command as the controller expects and reads the reply back.

#include "support/LinkRig.h"

using sim::TSimOptions;

namespace {

using TCall = std::function<void(TIxaInterface&)>;

struct TAccessor {
    const char* Sent;
    TCall Call;
};

// Each accessor, and the exact command line it sends at address 0.
const TAccessor accessors[] = {
    {"0:VER?", [](TIxaInterface& l) { EXPECT_EQ(l.GetVersion(), "4.2"); }},
    {"0:CN?", [](TIxaInterface& l) { l.GetControllerName(); }},
    {"0:CN Cell 4", [](TIxaInterface& l) { l.SetControllerName("Cell 4"); }},
    {"0:TT?", [](TIxaInterface& l) { l.GetToolType(); }},
    {"0:TT Gripper A", [](TIxaInterface& l) { l.SetToolType("Gripper A"); }},
    {"0:NA?", [](TIxaInterface& l) { EXPECT_EQ(l.GetNetAddress(), 0); }},
    {"0:NA 0", [](TIxaInterface& l) { l.SetNetAddress(0); }},
    {"0:TN?", [](TIxaInterface& l) { l.GetToolNumber(); }},
    {"0:TN 2", [](TIxaInterface& l) { l.SetToolNumber(2); }},
    {"0:LIM?", [](TIxaInterface& l) { l.GetPositionLimit(); }},
    {"0:CFI?", [](TIxaInterface& l) { l.GetCommandForceInterface(); }},
    {"0:CFI 1", [](TIxaInterface& l) { l.SetCommandForceInterface(1); }},
    {"0:ARI?", [](TIxaInterface& l) { l.GetActiveRetractInterface(); }},
    {"0:ARI 0", [](TIxaInterface& l) { l.SetActiveRetractInterface(0); }},
    {"0:TNI?", [](TIxaInterface& l) { l.GetToolNumberInterface(); }},
    {"0:TNI 0", [](TIxaInterface& l) { l.SetToolNumberInterface(0); }},
    {"0:CFL 3", [](TIxaInterface& l) { l.SetCommandForceLevel(3); }},
    {"0:DIF? 2", [](TIxaInterface& l) { l.GetDinFunction(2); }},
    {"0:DIF 2 1", [](TIxaInterface& l) { l.SetDinFunction(2, 1); }},
    {"0:DOF? 3", [](TIxaInterface& l) { l.GetDoutFunction(3); }},
    {"0:DOF 3 1", [](TIxaInterface& l) { l.SetDoutFunction(3, 1); }},
    {"0:AOF? 1", [](TIxaInterface& l) { l.GetAoutFunction(1); }},
    {"0:AOF 1 1", [](TIxaInterface& l) { l.SetAoutFunction(1, 1); }},
    {"0:CF?", [](TIxaInterface& l) { l.GetCommandForce(); }},
    {"0:CF 0.000", [](TIxaInterface& l) { l.SetCommandForce(0.0004); }},
    {"0:CF -2.500", [](TIxaInterface& l) { l.SetCommandForce(-2.5); }},
    {"0:CP?", [](TIxaInterface& l) { l.GetCommandPosition(); }},
    {"0:CP 12.340", [](TIxaInterface& l) { l.SetCommandPosition(12.34); }},
    {"0:MF?", [](TIxaInterface& l) { EXPECT_GT(l.GetMaxForce(), 0); }},
    {"0:MW?", [](TIxaInterface& l) { EXPECT_GT(l.GetMaxWeight(), 0); }},
    {"0:MP?", [](TIxaInterface& l) { EXPECT_GT(l.GetMaxPosition(), 0); }},
    {"0:AF?", [](TIxaInterface& l) { l.GetActualForce(); }},
    {"0:POS?", [](TIxaInterface& l) { l.GetPosition(); }},
    {"0:SA?", [](TIxaInterface& l) { l.GetSlideAcceleration(); }},
    {"0:CTW?", [](TIxaInterface& l) { l.GetCurrentToolWeight(); }},
    {"0:RLP?", [](TIxaInterface& l) { l.GetNegPositionLimit(); }},
    {"0:RLP 5.000", [](TIxaInterface& l) { l.SetNegPositionLimit(5); }},
    {"0:ELP?", [](TIxaInterface& l) { l.GetPosPositionLimit(); }},
    {"0:ELP 80.000", [](TIxaInterface& l) { l.SetPosPositionLimit(80); }},
    {"0:FS?", [](TIxaInterface& l) { l.GetForceScale(); }},
    {"0:FS 1.000", [](TIxaInterface& l) { l.SetForceScale(1); }},
    {"0:FO?", [](TIxaInterface& l) { l.GetForceOffset(); }},
    {"0:FO 0.125", [](TIxaInterface& l) { l.SetForceOffset(0.125); }},
    {"0:AS?", [](TIxaInterface& l) { l.GetAccScale(); }},
    {"0:AS 1.000", [](TIxaInterface& l) { l.SetAccScale(1); }},
    {"0:AO?", [](TIxaInterface& l) { l.GetAccOffset(); }},
    {"0:AO 0.000", [](TIxaInterface& l) { l.SetAccOffset(0); }},
    {"0:PS?", [](TIxaInterface& l) { l.GetPosScale(); }},
    {"0:PS 1.000", [](TIxaInterface& l) { l.SetPosScale(1); }},
    {"0:PO?", [](TIxaInterface& l) { l.GetPosOffset(); }},
    {"0:PO -0.500", [](TIxaInterface& l) { l.SetPosOffset(-0.5); }},
    {"0:AIN?", [](TIxaInterface& l) { l.GetAin(); }},
    {"0:AOUT? 1", [](TIxaInterface& l) { l.GetAout(1); }},
    {"0:CMF? 10", [](TIxaInterface& l) { l.GetContourForce(10); }},
    {"0:CMF 10 20.000", [](TIxaInterface& l) { l.SetContourForce(10, 20); }},
    {"0:TW? 2", [](TIxaInterface& l) { l.GetToolWeight(2); }},
    {"0:TW 2 1.250", [](TIxaInterface& l) { l.SetToolWeight(2, 1.25); }},
    {"0:FL? 3", [](TIxaInterface& l) { l.GetForceLevel(3); }},
    {"0:FL 3 12.500", [](TIxaInterface& l) { l.SetForceLevel(3, 12.5); }},
    {"0:TC?", [](TIxaInterface& l) { EXPECT_TRUE(l.GetToolConnected()); }},
    {"0:ACT?", [](TIxaInterface& l) { l.GetActive(); }},
    {"0:ACT 1", [](TIxaInterface& l) { l.SetActive(true); }},
    {"0:ACT 0", [](TIxaInterface& l) { l.SetActive(false); }},
    {"0:CM?", [](TIxaInterface& l) { l.GetContourMode(); }},
    {"0:CM 0", [](TIxaInterface& l) { l.SetContourMode(false); }},
    {"0:PM?", [](TIxaInterface& l) { l.GetPositionMode(); }},
    {"0:PM 0", [](TIxaInterface& l) { l.SetPositionMode(false); }},
    {"0:ES?", [](TIxaInterface& l) { l.GetEstop(); }},
    {"0:ES 0", [](TIxaInterface& l) { l.SetEstop(false); }},
    {"0:SPO?", [](TIxaInterface& l) { l.GetSerialOverride(); }},
    {"0:SPO 1", [](TIxaInterface& l) { l.SetSerialOverride(true); }},
    {"0:CU?", [](TIxaInterface& l) { EXPECT_FALSE(l.GetEnglishUnits()); }},
    {"0:CU 0", [](TIxaInterface& l) { l.SetEnglishUnits(false); }},
    {"0:RDI?", [](TIxaInterface& l) { l.GetAllDins(); }},
    {"0:RDO?", [](TIxaInterface& l) { l.GetAllDouts(); }},
};

class ParametersTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Rig.Link.Connected);
        Rig.Sim.ClearReceived();
    }
    TLinkRig Rig;
};

} // namespace

TEST_F(ParametersTest, EveryAccessorSendsItsCommand) {
    for (const auto& row : accessors) {
        try {
            row.Call(Rig.Link);
        } catch (const std::exception& e) {
            ADD_FAILURE() << row.Sent << ": " << e.what();
        }
        EXPECT_EQ(Rig.Sent(), std::vector<std::string>{row.Sent});
    }
    EXPECT_TRUE(Rig.Link.Connected);
}

TEST_F(ParametersTest, SetValuesReachTheController) {
    Rig.Link.SetForceLevel(3, 12.5);
    EXPECT_EQ(Rig.Link.GetForceLevel(3), 12.5);
    Rig.Link.SetControllerName("Line 2");
    EXPECT_EQ(Rig.Link.GetControllerName(), "Line 2");
    Rig.Link.SetToolNumber(3);
    EXPECT_EQ(Rig.Link.GetToolNumber(), 3);
}

TEST_F(ParametersTest, FlagsAreTrueOnlyForOne) {
    for (auto [reply, expected] : {std::pair{"1", true}, {"0", false}, {"2", false}, {"-1", false}}) {
        Rig.Sim.ScriptReply("ACT?", {reply, "OK"});
        EXPECT_EQ(Rig.Link.GetActive(), expected) << reply;
    }
}

TEST_F(ParametersTest, UnitsFollowTheController) {
    EXPECT_EQ(Rig.Link.LengthUnits, "mm");
    Rig.Link.SetEnglishUnits(true);
    EXPECT_EQ(Rig.Sent(), std::vector<std::string>{"0:CU 1"});
    EXPECT_EQ(Rig.Link.LengthUnits, "In.");
    EXPECT_EQ(Rig.Link.ForceUnits, "Lbf.");
    EXPECT_EQ(Rig.Link.WeightUnits, "Lb.");
    Rig.Sim.ScriptReply("CU?", {"0", "OK"});
    EXPECT_FALSE(Rig.Link.GetEnglishUnits()); // the controller's answer wins over the remembered choice
    EXPECT_EQ(Rig.Link.ForceUnits, "N");
    EXPECT_TRUE(Rig.Link.EnglishUnits);
}

TEST(ParametersOffline, UnitsWhileDisconnectedAreOnlyRemembered) {
    TLinkRig rig({}, false);
    rig.Link.SetEnglishUnits(true);
    EXPECT_TRUE(rig.Link.GetEnglishUnits());
    EXPECT_EQ(rig.Link.WeightUnits, "Lb.");
    EXPECT_FALSE(rig.Sim.WaitReceived(1, 100)) << "nothing may be sent while disconnected";
}

TEST(ParametersVersions, DigitalSnapshotsNeedVersionAbove41) {
    TSimOptions options;
    options.Version = 4.1;
    TLinkRig old(options);
    ASSERT_TRUE(old.Link.Connected);
    old.Sim.ClearReceived();
    EXPECT_EQ(old.Link.GetAllDins(), 0);
    EXPECT_EQ(old.Link.GetAllDouts(), 0);
    EXPECT_FALSE(old.Sim.WaitReceived(1, 100));

    TLinkRig current;
    ASSERT_TRUE(current.Link.Connected);
    current.Sim.ClearReceived();
    current.Sim.ScriptReply("RDI?", {"5", "OK"});
    EXPECT_EQ(current.Link.GetAllDins(), 5);
    EXPECT_EQ(current.Sent(), std::vector<std::string>{"0:RDI?"});
}

TEST(ParametersVersions, ControllerUnitsLabelValuesOnly) {
    TSimOptions options;
    options.EnglishUnits = true;
    TLinkRig rig(options);
    ASSERT_TRUE(rig.Link.Connected);
    EXPECT_TRUE(rig.Link.GetEnglishUnits());
    EXPECT_EQ(rig.Link.LengthUnits, "In.");
}
