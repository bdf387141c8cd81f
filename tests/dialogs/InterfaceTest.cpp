// Interface setup dialog against the simulated controller.
#include "dialogs/Interface.h"
#include "DialogRig.h"

TEST(InterfaceForm, OfflineShowsTheDesignValuesAndWritesNothing) {
    TDialogRig rig(false);
    TInterfaceForm form(nullptr, rig.Link.Link);
    EXPECT_EQ(form.windowTitle(), "IXA90 Interface Setup");
    EXPECT_EQ(form.OkButton->text(), "Ok");
    for (TRadioGroup* group : {form.ActiveRetractGroup, form.ToolNumberGroup, form.CommandForceGroup}) {
        EXPECT_EQ(group->ItemIndex(), 0);
        EXPECT_EQ(group->Button(0)->text(), "Serial Port Interface");
    }
    EXPECT_EQ(form.CommandForceGroup->Button(2)->text(), "+/-10 VDC Analog Interface");
    EXPECT_TRUE(form.NameEdit->text().isEmpty());
    EXPECT_EQ(form.AddressText->text(), "0");
    form.OkButton->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(rig.Sent().empty());
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    ExpectNothingWrittenBox(rig.Dialogs, NeverReadText);
}

TEST(InterfaceForm, OpenedOfflineWritesNothingWhenTheControllerIsBackAtOk) {
    TDialogRig rig(false);
    rig.Link.Sim.SetParameter("CFI", "2");
    rig.Link.Sim.SetParameter("CN", "Press 4");
    TInterfaceForm form(nullptr, rig.Link.Link);
    ControllerBack(rig);
    form.OkButton->click();
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
    EXPECT_FALSE(form.Written);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    ExpectNothingWrittenBox(rig.Dialogs, NeverReadText);
    EXPECT_EQ(rig.Link.Sim.Parameter("CN"), "Press 4");
}

TEST(InterfaceForm, IndexBeyondTheListSelectsTheLastItem) {
    TDialogRig rig;
    rig.Link.Sim.SetParameter("ARI", "1");
    rig.Link.Sim.SetParameter("TNI", "2");
    rig.Link.Sim.SetParameter("CFI", "2");
    rig.Link.Sim.SetParameter("CN", "Press 4");
    rig.Link.Sim.SetParameter("NA", "0");
    TInterfaceForm form(nullptr, rig.Link.Link);
    EXPECT_EQ(form.ActiveRetractGroup->ItemIndex(), 1);
    EXPECT_EQ(form.ToolNumberGroup->ItemIndex(), 1); // "24V Digital Interface", the last
    EXPECT_EQ(form.CommandForceGroup->ItemIndex(), 2);
    EXPECT_EQ(form.NameEdit->text(), "Press 4");

    TInterfaceForm::SelectIndex(form.ActiveRetractGroup, -1);
    EXPECT_EQ(form.ActiveRetractGroup->ItemIndex(), -1);
}

TEST(InterfaceForm, OkWritesTheFiveSettingsInOrder) {
    TDialogRig rig;
    TInterfaceForm form(nullptr, rig.Link.Link);
    form.ActiveRetractGroup->SetItemIndex(1);
    form.CommandForceGroup->SetItemIndex(2);
    form.NameEdit->setText("Line 2");
    form.AddressUpDown->Click(btNext);
    rig.Sent();
    form.OkButton->click();
    EXPECT_EQ(TDialogRig::Writes(rig.Sent()),
              (std::vector<std::string>{"ARI 1", "TNI 0", "CFI 2", "CN Line 2", "NA 1"}));
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

// The name travels in the controller's code page: what it holds goes as its bytes, what it lacks is
// refused before any setting is written.
TEST(InterfaceForm, TheNameGoesInTheControllersCodePageOrNotAtAll) {
    TDialogRig rig;
    TInterfaceForm form(nullptr, rig.Link.Link);
    form.NameEdit->setText(QString::fromUtf8("Z\u00fcrich \u20ac1"));
    form.OkButton->click();
    EXPECT_EQ(rig.Link.Sim.Parameter("CN"), "Z\xfcrich \x80"
                                            "1");
    EXPECT_TRUE(rig.Dialogs->Boxes.empty());

    TInterfaceForm again(nullptr, rig.Link.Link);
    EXPECT_EQ(again.NameEdit->text(), QString::fromUtf8("Z\u00fcrich \u20ac1")); // shown as it was typed
    again.NameEdit->setText(QString::fromUtf8("\u0417\u0430\u043f\u0438\u0441\u044c"));
    rig.Sent();
    again.OkButton->click();
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
    EXPECT_FALSE(again.Written);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    EXPECT_TRUE(rig.Dialogs->Boxes[0].Text.contains(QString::fromUtf8("\"\u0417\"")))
        << rig.Dialogs->Boxes[0].Text.toStdString();
    EXPECT_TRUE(rig.Dialogs->Boxes[0].Text.endsWith("Nothing was written."))
        << rig.Dialogs->Boxes[0].Text.toStdString();
    EXPECT_EQ(rig.Link.Sim.Parameter("CN"), "Z\xfcrich \x80"
                                            "1");
}

TEST(InterfaceForm, ControllerErrorEndsTheStepWithOneMessage) {
    TDialogRig rig;
    rig.Link.Sim.SetParameter("CFI", "1");
    rig.Link.Sim.ScriptReply("TNI?", {"Error 1", "OK"});
    TInterfaceForm form(nullptr, rig.Link.Link);
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(rig.Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_EQ(form.CommandForceGroup->ItemIndex(), 0); // not read after the failure

    // Not all read: nothing is written.
    rig.Sent();
    form.OkButton->click();
    EXPECT_TRUE(TDialogRig::Writes(rig.Sent()).empty());
    ASSERT_EQ(rig.Dialogs->Boxes.size(), 2u);
    ExpectNothingWrittenBox(rig.Dialogs, ReadFailedText);
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST(InterfaceForm, ARefusedWriteEndsTheStepWithOneMessage) {
    TDialogRig rig;
    TInterfaceForm form(nullptr, rig.Link.Link);
    rig.Link.Sim.ScriptReply("CFI 0", {"Error 3", "OK"});
    rig.Sent();
    form.OkButton->click();
    EXPECT_EQ(TDialogRig::Writes(rig.Sent()), (std::vector<std::string>{"ARI 0", "TNI 0", "CFI 0"}));
    EXPECT_EQ(rig.Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST(InterfaceForm, HelpButtonAsksForItsTopicAndStaysOpen) {
    TDialogRig rig(false);
    TInterfaceForm form(nullptr, rig.Link.Link);
    form.show();
    form.HelpButton->click();
    ExpectHelpContext(rig.Help, 204);
    EXPECT_TRUE(form.isVisible());
}
