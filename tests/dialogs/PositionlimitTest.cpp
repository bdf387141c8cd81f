// Position limit dialog against the simulated controller.
#include "dialogs/Positionlimit.h"
#include "DialogRig.h"

#include <QTest>

namespace {
struct TLimits {
    const char* Max;
    const char* Neg;
    const char* Pos;
    int BarMax, PageStep, NegTicks, PosTicks;
    const char* NegText;
    const char* PosText;
};
} // namespace

TEST(PositionLimitForm, OfflineRunsToTwentyMillimetresAndWritesNothing) {
    TDialogRig rig(false);
    TPositionLimitForm form(nullptr, rig.Link.Link);
    EXPECT_EQ(form.windowTitle(), "Position Limit Setup");
    for (QScrollBar* bar : {form.PosLimitBar, form.NegLimitBar}) {
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 2000);
        EXPECT_EQ(bar->pageStep(), 200);
        EXPECT_EQ(bar->singleStep(), 1);
        EXPECT_EQ(bar->value(), 0);
    }
    EXPECT_EQ(form.PosLimitUnits->text(), "mm");
    EXPECT_EQ(form.NegLimitUnits->text(), "mm");
    EXPECT_EQ(form.PosLimitValue->text(), "0.00 ");
    form.OkButton->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(rig.Sent().empty());
    EXPECT_FALSE(form.Written);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    ExpectNothingWrittenBox(rig.Dialogs, NeverReadText);
}

TEST(PositionLimitForm, OpenedOfflineWritesNothingWhenTheControllerIsBackAtOk) {
    TDialogRig rig(false);
    rig.Link.Sim.SetParameter("RLP", "5.0");
    rig.Link.Sim.SetParameter("ELP", "145.0");
    TPositionLimitForm form(nullptr, rig.Link.Link);
    ControllerBack(rig);
    form.OkButton->click(); // both bars at 0.00: never written over the controller's limits
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
    EXPECT_FALSE(form.Written);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    ExpectNothingWrittenBox(rig.Dialogs, NeverReadText);
    EXPECT_EQ(rig.Link.Sim.Parameter("ELP"), "145.000");
    EXPECT_EQ(rig.Link.Sim.Parameter("RLP"), "5.000");
}

TEST(PositionLimitForm, OkAfterTheLinkDroppedSaysTheEditsAreLost) {
    TDialogRig rig;
    TPositionLimitForm form(nullptr, rig.Link.Link);
    form.PosLimitBar->setValue(100);
    LinkLost(rig);
    form.OkButton->click();
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
    EXPECT_FALSE(form.Written);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    ExpectNothingWrittenBox(rig.Dialogs, LinkLostText);
}

TEST(PositionLimitForm, ReadsRangeAndLimitsTruncatedToHundredths) {
    const TLimits cases[] = {
        {"50.0", "5.0", "45.0", 5000, 500, 500, 4500, "5.00 ", "45.00 "},
        {"50.0", "0.29", "12.349", 5000, 500, 29, 1234, "0.29 ", "12.34 "},
        // beyond the maximum: at the end of the bar
        {"20.0", "1.0", "25.0", 2000, 200, 100, 2000, "1.00 ", "20.00 "},
        // positive below negative: the positive bar pulls the negative one down
        {"100.0", "30.0", "10.0", 10000, 1000, 1000, 1000, "10.00 ", "10.00 "},
    };
    for (const TLimits& c : cases) {
        TDialogRig rig;
        rig.Link.Sim.SetParameter("MP", c.Max);
        rig.Link.Sim.SetParameter("RLP", c.Neg);
        rig.Link.Sim.SetParameter("ELP", c.Pos);
        TPositionLimitForm form(nullptr, rig.Link.Link);
        SCOPED_TRACE(c.Pos);
        EXPECT_EQ(form.PosLimitBar->maximum(), c.BarMax);
        EXPECT_EQ(form.NegLimitBar->maximum(), c.BarMax);
        EXPECT_EQ(form.PosLimitBar->pageStep(), c.PageStep);
        EXPECT_EQ(form.NegLimitBar->value(), c.NegTicks);
        EXPECT_EQ(form.PosLimitBar->value(), c.PosTicks);
        EXPECT_EQ(form.NegLimitValue->text(), c.NegText);
        EXPECT_EQ(form.PosLimitValue->text(), c.PosText);
        EXPECT_EQ(form.PosLimitUnits->text(), "mm");
    }
}

TEST(PositionLimitForm, BarsNotMovedWriteTheLimitsAsReadMovedOnesAsShown) {
    TDialogRig rig;
    rig.Link.Sim.SetParameter("MP", "50.0");
    rig.Link.Sim.SetParameter("RLP", "2.5");
    rig.Link.Sim.SetParameter("ELP", "12.349");
    {
        TPositionLimitForm form(nullptr, rig.Link.Link);
        EXPECT_EQ(form.PosLimitValue->text(), "12.34 ");
        rig.Sent();
        form.OkButton->click();
        EXPECT_EQ(TDialogRig::Writes(rig.Sent()), (std::vector<std::string>{"ELP 12.349", "RLP 2.500"}));
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_TRUE(form.Written);
    }
    {
        // Moved away and back is where the reading left it: still the value as read.
        TPositionLimitForm form(nullptr, rig.Link.Link);
        form.PosLimitBar->setValue(2000);
        form.PosLimitBar->setValue(1234);
        form.NegLimitBar->setValue(300);
        rig.Sent();
        form.OkButton->click();
        EXPECT_EQ(TDialogRig::Writes(rig.Sent()), (std::vector<std::string>{"ELP 12.349", "RLP 3.000"}));
    }
}

TEST(PositionLimitForm, OneBarDragsTheOtherAlong) {
    TDialogRig rig(false);
    TPositionLimitForm form(nullptr, rig.Link.Link);
    form.PosLimitBar->setValue(800);
    form.NegLimitBar->setValue(300);
    form.PosLimitBar->setValue(200); // below the negative limit
    EXPECT_EQ(form.NegLimitBar->value(), 200);
    EXPECT_EQ(form.NegLimitValue->text(), "2.00 ");
    form.NegLimitBar->setValue(1500); // above the positive limit
    EXPECT_EQ(form.PosLimitBar->value(), 1500);
    EXPECT_EQ(form.PosLimitValue->text(), "15.00 ");
    form.PosLimitBar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(form.PosLimitBar->value(), 1700);
    EXPECT_EQ(form.NegLimitBar->value(), 1500); // equal or below: stays
}

TEST(PositionLimitForm, AFailedLimitReadGivesOneMessageAndOkWritesNothing) {
    TDialogRig rig;
    rig.Link.Sim.SetParameter("MP", "50.0");
    rig.Link.Sim.ScriptReply("RLP?", {"Error 2", "OK"});
    TPositionLimitForm form(nullptr, rig.Link.Link);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(rig.Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_EQ(rig.Dialogs->Boxes[0].Text, "Error 2");
    EXPECT_EQ(form.PosLimitBar->maximum(), 5000); // read before the failure
    EXPECT_EQ(form.PosLimitBar->value(), 0);      // not read after it

    form.PosLimitBar->setValue(1000);
    rig.Sent();
    form.OkButton->click();
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
    EXPECT_FALSE(form.Written);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 2u);
    ExpectNothingWrittenBox(rig.Dialogs, ReadFailedText);
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST(PositionLimitForm, ARefusedFirstWriteSkipsTheSecond) {
    TDialogRig rig;
    rig.Link.Sim.SetParameter("MP", "50.0");
    TPositionLimitForm form(nullptr, rig.Link.Link);
    form.PosLimitBar->setValue(1000);
    rig.Sent();
    rig.Link.Sim.ScriptReply("ELP 10.000", {"Error 3", "OK"});
    form.OkButton->click();
    EXPECT_EQ(TDialogRig::Writes(rig.Sent()), std::vector<std::string>{"ELP 10.000"});
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(rig.Dialogs->Boxes[0].Text, "Error 3");
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST(PositionLimitForm, HelpButtonAsksForItsTopicAndStaysOpen) {
    TDialogRig rig(false);
    TPositionLimitForm form(nullptr, rig.Link.Link);
    form.show();
    QTest::mouseClick(form.HelpButton, Qt::LeftButton);
    ExpectHelpContext(rig.Help, 201);
    EXPECT_TRUE(form.isVisible());
}
