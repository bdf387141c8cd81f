// Force level dialog against the simulated controller.
#include "dialogs/Forcelevel.h"
#include "DialogRig.h"
#include "toolkit/Layout.h"

#include <QLocale>
#include <QTest>

namespace {
void SetLevels(TDialogRig& rig, double value) {
    for (int level = 0; level < TForceLevelForm::Levels; ++level)
        rig.Link.Sim.SetParameter("FL", std::to_string(value), level);
}
} // namespace

TEST(ForceLevelForm, OfflineShowsZerosInNewtonsAndWritesNothing) {
    TDialogRig rig(false);
    TForceLevelForm form(nullptr, rig.Link.Link);
    form.show();
    EXPECT_EQ(form.windowTitle(), "Force Level Setup");
    EXPECT_EQ(form.ForceUnitText->text(), "N");
    EXPECT_EQ(form.ForceEdit->text(), "0.0");
    form.ForceLevelUpDown->Click(btNext);
    EXPECT_EQ(form.ForceEdit->text(), "0.0");
    form.OkButton->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(rig.Sent().empty());
    EXPECT_FALSE(form.Written);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    ExpectNothingWrittenBox(rig.Dialogs, NeverReadText);
}

TEST(ForceLevelForm, OpenedOfflineWritesNothingWhenTheControllerIsBackAtOk) {
    TDialogRig rig(false);
    SetLevels(rig, 7.777);
    TForceLevelForm form(nullptr, rig.Link.Link);
    form.show();
    ControllerBack(rig);
    form.ForceEdit->setText("5");
    form.OkButton->click();
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
    EXPECT_FALSE(form.Written);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    ExpectNothingWrittenBox(rig.Dialogs, NeverReadText);
    EXPECT_EQ(rig.Link.Sim.Parameter("FL", 0), "7.777");
}

TEST(ForceLevelForm, OkAfterTheLinkDroppedSaysTheEditsAreLost) {
    TDialogRig rig;
    SetLevels(rig, 2.0);
    TForceLevelForm form(nullptr, rig.Link.Link);
    form.show();
    form.ForceEdit->setText("9");
    LinkLost(rig);
    form.OkButton->click();
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
    EXPECT_FALSE(form.Written);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    ExpectNothingWrittenBox(rig.Dialogs, LinkLostText);
}

TEST(ForceLevelForm, IndicatorsShowTheInputPatternOfEveryLevel) {
    TDialogRig rig(false);
    TForceLevelForm form(nullptr, rig.Link.Link);
    form.show();
    const QString labels[4] = {"CDF0", "CDF1", "CDF2", "CDF3"};
    for (int bit = 0; bit < 4; ++bit)
        EXPECT_EQ(form.CdfLabel[bit]->text(), labels[bit]);
    EXPECT_LT(form.CdfLabel[3]->x(), form.CdfLabel[0]->x()); // CDF3 leftmost
    form.ForceLevelUpDown->Click(btPrev);                    // at 0: nothing
    EXPECT_EQ(form.ForceLevelUpDown->Position(), 0);
    for (int level = 1; level < TForceLevelForm::Levels; ++level) {
        form.ForceLevelUpDown->Click(btNext);
        ASSERT_EQ(form.ForceLevelUpDown->Position(), level);
        EXPECT_EQ(form.ForceLevelText->text(), QString::number(level));
        for (int bit = 0; bit < 4; ++bit) {
            const bool on = (level >> bit) & 1;
            EXPECT_EQ(form.CdfInd[bit]->text(), on ? "On" : "Off") << "level " << level << " bit " << bit;
            EXPECT_EQ(form.CdfInd[bit]->Color(), on ? clr::Lime : clr::Silver);
        }
    }
    form.ForceLevelUpDown->Click(btNext); // at 15: no wrap-around
    EXPECT_EQ(form.ForceLevelUpDown->Position(), 15);
}

TEST(ForceLevelForm, LevelsOnlyLookedAtKeepTheirValueAsRead) {
    TDialogRig rig;
    SetLevels(rig, 7.777);
    rig.Link.Sim.SetParameter("FL", "12.345", 0);
    TForceLevelForm form(nullptr, rig.Link.Link);
    form.show();
    EXPECT_EQ(form.ForceUnitText->text(), "N");
    EXPECT_EQ(form.ForceEdit->text(), "12.3");
    form.ForceLevelUpDown->Click(btNext); // the spinner passes level 0, its text untouched
    EXPECT_DOUBLE_EQ(form.LevelValues[0], 12.345);
    form.ForceEdit->clear();
    QTest::keyClicks(form.ForceEdit, "33" + QString(QLocale().decimalPoint()) + "5");
    rig.Sent();
    QTest::keyClick(form.ForceEdit, Qt::Key_Return); // the default button, the focus stays in the field
    const auto writes = TDialogRig::Writes(rig.Sent());
    ASSERT_EQ(writes.size(), 16u);
    EXPECT_EQ(writes[0], "FL 0 12.345");
    EXPECT_EQ(writes[1], "FL 1 33.500"); // typed, OK without leaving the field
    EXPECT_EQ(writes[2], "FL 2 7.777");
    EXPECT_EQ(writes[15], "FL 15 7.777");
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(form.Written);
}

TEST(ForceLevelForm, ATypedTextIsTakenEvenWhenItLooksLikeTheRoundedOne) {
    TDialogRig rig;
    SetLevels(rig, 1.0);
    rig.Link.Sim.SetParameter("FL", "12.345", 0);
    TForceLevelForm form(nullptr, rig.Link.Link);
    form.show();
    const QString point(QLocale().decimalPoint());
    form.ForceEdit->setText("20");
    form.ForceLevelUpDown->Click(btNext);
    form.ForceLevelUpDown->Click(btPrev);
    EXPECT_EQ(form.ForceEdit->text(), "20" + point + "0");
    form.ForceEdit->setText("12" + point + "3"); // typed back: the operator's 12.3 now
    rig.Sent();
    form.OkButton->click();
    const auto writes = TDialogRig::Writes(rig.Sent());
    ASSERT_EQ(writes.size(), 16u);
    EXPECT_EQ(writes[0], "FL 0 12.300");
}

TEST(ForceLevelForm, BadValueKeepsTheSpinnerAndRefusesOk) {
    TDialogRig rig;
    SetLevels(rig, 3.0);
    TForceLevelForm form(nullptr, rig.Link.Link);
    form.show();
    form.ForceLevelUpDown->Click(btNext);
    form.ForceEdit->setText("abc");
    form.ForceLevelUpDown->Click(btNext);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(rig.Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_EQ(rig.Dialogs->Boxes[0].Text, "Bad Value for force!");
    EXPECT_EQ(form.ForceLevelUpDown->Position(), 1);
    EXPECT_DOUBLE_EQ(form.LevelValues[1], 3.0);

    rig.Sent();
    form.OkButton->click();
    EXPECT_EQ(rig.Dialogs->Boxes.size(), 2u);
    EXPECT_NE(form.result(), QDialog::Accepted);
    EXPECT_TRUE(rig.Sent().empty());

    // Leaving the field checks the text too.
    form.ForceEdit->setText("4,5x");
    form.ForceEditExit();
    EXPECT_EQ(rig.Dialogs->Boxes.size(), 3u);
    EXPECT_DOUBLE_EQ(form.LevelValues[1], 3.0);
}

TEST(ForceLevelForm, OnlyAFocusMoveInsideTheDialogChecksTheField) {
    TDialogRig rig;
    TForceLevelForm form(nullptr, rig.Link.Link);
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.ForceEdit->setFocus();
    form.ForceEdit->setText("abc");
    // Another window takes the focus: no check.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    elsewhere.close();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_TRUE(rig.Dialogs->Boxes.empty());
    // Escape cancels without a word.
    form.ForceEdit->setFocus();
    QTest::keyClick(form.ForceEdit, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(rig.Dialogs->Boxes.empty());
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
}

TEST(ForceLevelForm, ReadFailureGivesOneMessageAndZerosThatAreNeverWritten) {
    TDialogRig rig;
    SetLevels(rig, 9.0);
    rig.Link.Sim.ScriptReply("FL? 7", {"Error 2", "OK"});
    TForceLevelForm form(nullptr, rig.Link.Link);
    form.show();
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(rig.Dialogs->Boxes[0].Text, "Error 2");
    for (double value : form.LevelValues)
        EXPECT_EQ(value, 0.0);
    // Levels 8 to 15 were not asked for.
    for (const std::string& line : rig.Sent())
        EXPECT_EQ(line.find("FL? 8"), std::string::npos);

    form.OkButton->click();
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
    EXPECT_FALSE(form.Written);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 2u);
    ExpectNothingWrittenBox(rig.Dialogs, ReadFailedText);
    EXPECT_EQ(rig.Link.Sim.Parameter("FL", 0), "9.000");
}

TEST(ForceLevelForm, WriteFailureStopsTheWriting) {
    TDialogRig rig;
    SetLevels(rig, 1.0);
    TForceLevelForm form(nullptr, rig.Link.Link);
    form.show();
    rig.Link.Sim.ScriptReply("FL 4 1.000", {"Error 3", "OK"});
    rig.Sent();
    form.OkButton->click();
    EXPECT_EQ(TDialogRig::Writes(rig.Sent()).size(), 5u);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(rig.Dialogs->Boxes[0].Text, "Error 3");
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST(ForceLevelForm, HelpButtonAsksForItsTopicAndStaysOpen) {
    TDialogRig rig(false);
    TForceLevelForm form(nullptr, rig.Link.Link);
    form.show();
    form.HelpButton->click();
    ExpectHelpContext(rig.Help, 203);
    EXPECT_TRUE(form.isVisible());
}
