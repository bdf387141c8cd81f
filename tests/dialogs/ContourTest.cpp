// Contour mode dialog against the simulated controller.
#include "dialogs/Contour.h"
#include "DialogRig.h"

TEST(ContourForm, OfflineKeepsTheDesignTableAndWritesNothing) {
    TDialogRig rig(false);
    TContourForm form(nullptr, rig.Link.Link);
    EXPECT_EQ(form.windowTitle(), "Contour Mode Setup");
    for (int i = 0; i < TContourForm::Points; ++i) {
        ASSERT_NE(form.ScrollBar(i), nullptr);
        EXPECT_EQ(form.ScrollBar(i)->minimum(), -1000);
        EXPECT_EQ(form.ScrollBar(i)->maximum(), 1000);
        EXPECT_EQ(form.ScrollBar(i)->value(), 0);
        EXPECT_EQ(form.ScrollBar(i)->pageStep(), 10);
        EXPECT_EQ(form.ForceValue(i)->text(), "0.0");
        auto* position = form.findChild<TStaticText*>(QString("PositionValue%1").arg(i));
        ASSERT_NE(position, nullptr);
        EXPECT_EQ(position->text(), QString::number(i * 10));
    }
    form.OkButton->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(rig.Sent().empty());
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    ExpectNothingWrittenBox(rig.Dialogs, NeverReadText);
}

TEST(ContourForm, OpenedOfflineWritesNothingWhenTheControllerIsBackAtOk) {
    TDialogRig rig(false);
    rig.Link.Sim.SetParameter("CMF", "40.0", 5);
    TContourForm form(nullptr, rig.Link.Link);
    ControllerBack(rig);
    form.ScrollBar(2)->setValue(-100);
    form.OkButton->click();
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
    EXPECT_FALSE(form.Written);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    ExpectNothingWrittenBox(rig.Dialogs, NeverReadText);
    EXPECT_EQ(rig.Link.Sim.Parameter("CMF", 5), "40.000");
}

TEST(ContourForm, OkAfterTheLinkDroppedSaysTheEditsAreLost) {
    TDialogRig rig;
    TContourForm form(nullptr, rig.Link.Link);
    form.ScrollBar(2)->setValue(-100);
    LinkLost(rig);
    form.OkButton->click();
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    ExpectNothingWrittenBox(rig.Dialogs, LinkLostText);
}

TEST(ContourForm, RangeFromMaximumForceAndHeaviestTool) {
    struct TCase {
        bool English;
        const char* MaxForce;
        const char* MaxWeight;
        int Top, Bottom;
        const char* Unit;
    };
    const TCase cases[] = {
        {false, "100.0", "5.0", -1000, 490, "N"}, // 5 kg is 49 N
        {true, "25.0", "10.0", -250, 100, "Lbf."},
    };
    for (const TCase& c : cases) {
        sim::TSimOptions options;
        options.EnglishUnits = c.English;
        TDialogRig rig(true, options);
        rig.Link.Sim.SetParameter("MF", c.MaxForce);
        rig.Link.Sim.SetParameter("MW", c.MaxWeight);
        for (int i = 0; i < TContourForm::Points; ++i)
            rig.Link.Sim.SetParameter("CMF", "5.0", i);
        rig.Link.Sim.SetParameter("CMF", "999.0", 9); // beyond the top: clamped
        TContourForm form(nullptr, rig.Link.Link);
        SCOPED_TRACE(c.Unit);
        EXPECT_EQ(form.ForceUnit->text(), c.Unit);
        for (int i = 0; i < TContourForm::Points; ++i) {
            EXPECT_EQ(form.ScrollBar(i)->minimum(), c.Top);
            EXPECT_EQ(form.ScrollBar(i)->maximum(), c.Bottom);
        }
        EXPECT_EQ(form.ScrollBar(0)->value(), -50);
        EXPECT_EQ(form.ForceValue(0)->text(), "5.0");
        EXPECT_EQ(form.ScrollBar(9)->value(), c.Top);
    }
}

// A negative heaviest weight is no tool weight at all: the sliders end at no force instead of
// pushing their lower end above zero and clamping every force read below it.
TEST(ContourForm, NegativeMaximumWeightEndsTheSlidersAtZero) {
    for (const char* weight : {"-5.0", "-0.5"}) {
        SCOPED_TRACE(weight);
        TDialogRig rig;
        rig.Link.Sim.SetParameter("MF", "100.0");
        rig.Link.Sim.SetParameter("MW", weight);
        for (int i = 0; i < TContourForm::Points; ++i)
            rig.Link.Sim.SetParameter("CMF", "5.0", i);
        rig.Link.Sim.SetParameter("CMF", "-3.0", 1);
        TContourForm form(nullptr, rig.Link.Link);
        for (int i = 0; i < TContourForm::Points; ++i) {
            EXPECT_EQ(form.ScrollBar(i)->minimum(), -1000);
            EXPECT_EQ(form.ScrollBar(i)->maximum(), 0);
        }
        EXPECT_EQ(form.ScrollBar(0)->value(), -50);
        EXPECT_EQ(form.ForceValue(0)->text(), "5.0");
        EXPECT_EQ(form.ScrollBar(1)->value(), 0); // below the lowest end: held there
        EXPECT_EQ(form.ForceValue(1)->text(), "0.0");
    }
}

TEST(ContourForm, ForcesShownTruncatedToTenthsAndWrittenBackAsReadUnlessMoved) {
    TDialogRig rig;
    rig.Link.Sim.SetParameter("MF", "100.0");
    rig.Link.Sim.SetParameter("MW", "5.0");
    for (int i = 0; i < TContourForm::Points; ++i)
        rig.Link.Sim.SetParameter("CMF", "0.0", i);
    rig.Link.Sim.SetParameter("CMF", "12.37", 2);
    rig.Link.Sim.SetParameter("CMF", "-20.0", 10);
    TContourForm form(nullptr, rig.Link.Link);
    EXPECT_EQ(form.ForceValue(2)->text(), "12.3");
    EXPECT_EQ(form.ForceValue(10)->text(), "-20.0");

    // Moving one slider changes only its own value text.
    form.ScrollBar(4)->setValue(-155);
    for (int i = 0; i < TContourForm::Points; ++i)
        EXPECT_EQ(form.ForceValue(i)->text(), i == 2 ? "12.3" : i == 4 ? "15.5" : i == 10 ? "-20.0" : "0.0");

    rig.Sent();
    form.OkButton->click();
    const auto writes = TDialogRig::Writes(rig.Sent());
    ASSERT_EQ(writes.size(), 11u);
    EXPECT_EQ(writes[0], "CMF 0 0.000");
    EXPECT_EQ(writes[2], "CMF 2 12.370"); // only looked at
    EXPECT_EQ(writes[4], "CMF 4 15.500");
    EXPECT_EQ(writes[10], "CMF 10 -20.000");
}

TEST(ContourForm, ReadFailureEndsTheConstruction) {
    TDialogRig rig;
    rig.Link.Sim.ScriptReply("CMF? 3", {"Error 2", "OK"});
    EXPECT_THROW(TContourForm(nullptr, rig.Link.Link), EIxa);
}

TEST(ContourForm, WriteFailureStopsAtThePointAndStillCloses) {
    TDialogRig rig;
    TContourForm form(nullptr, rig.Link.Link);
    form.ScrollBar(3)->setValue(-40);
    rig.Link.Sim.ScriptReply("CMF 3 4.000", {"Error 3", "OK"});
    rig.Sent();
    form.OkButton->click();
    EXPECT_EQ(TDialogRig::Writes(rig.Sent()).size(), 4u); // points 0 to 3, none after the failure
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(rig.Dialogs->Boxes[0].Caption, "Korva Windows"); // the application's error report
    // In words, with the command and value refused.
    EXPECT_EQ(rig.Dialogs->Boxes[0].Text, "Error 3: value out of range.\n\nRefused: CMF 3 4.000");
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST(ContourForm, HelpButtonAsksForItsTopicAndStaysOpen) {
    TDialogRig rig(false);
    TContourForm form(nullptr, rig.Link.Link);
    form.show();
    form.HelpButton->click();
    ExpectHelpContext(rig.Help, 202);
    EXPECT_TRUE(form.isVisible());
}
