// The diagnostics window against the simulated controller and the real monitor: the lamps and
// values it shows, the selectors it loads, what it sends and when, and the I/O polling it starts
// and stops.

#include "maintenance/Diagnostics.h"
#include "WaitFor.h"
#include "sim/Simulator.h"
#include "support/ScriptedDialogs.h"
#include "toolkit/Controls.h"
#include "toolkit/Help.h"

#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>

namespace {

using Lines = std::vector<std::string>;

const QColor Lit(0x00, 0xFF, 0x00), Unlit(0x80, 0x80, 0x80);

// The lamps that are lit, by name.
std::set<std::string> LitLamps(const TDiagnosticsForm& form) {
    std::set<std::string> lit;
    for (int i = 0; i < TDiagnosticsForm::LampCount; ++i) {
        const QColor c = form.Lamp(i)->Color();
        EXPECT_TRUE(c == Lit || c == Unlit) << TDiagnosticsForm::LampName(i);
        if (c == Lit)
            lit.insert(TDiagnosticsForm::LampName(i));
    }
    return lit;
}

// The lines received since the last clear that start with one of the prefixes.
Lines Matching(const sim::TSimulator& sim, std::initializer_list<const char*> prefixes) {
    Lines out;
    for (const auto& line : sim.Received())
        for (const char* p : prefixes)
            if (line.rfind(p, 0) == 0)
                out.push_back(line);
    return out;
}

TEST(DiagnosticsDisplay, LampsShowExactlyTheirBitsAndValuesTwoDecimals) {
    TCommPort port; // never opened: the monitor stays offline
    TIxaInterface link(&port);
    TIxaMonitor monitor(link);
    TDiagnosticsForm form(nullptr, monitor);
    const std::set<std::string> all = [] {
        std::set<std::string> names;
        for (int i = 0; i < TDiagnosticsForm::LampCount; ++i)
            names.insert(TDiagnosticsForm::LampName(i));
        return names;
    }();
    const struct {
        uint32_t Outputs, Inputs;
        std::set<std::string> Lit;
    } rows[] = {
        {0x2401, 0x1101, {"CpuClockLed", "Dout0", "Dout3", "ActRet", "Tool3", "Din3"}},
        {0xFFFFC0E0, 0xFFFFE000, {}}, // bits without a lamp
        {0x3F1F, 0x1FFF, all},
        {0x0318, 0x0000, {"PlusLimitLed", "MinusLimitLed", "PlusLimit", "MinusLimit"}},
        {0x0000, 0x0000, {}}, // every delivery applies in full
    };
    for (const auto& row : rows) {
        form.MonitorIo(monitor, int32_t(row.Inputs), int32_t(row.Outputs), 12, 2.346, -1.25);
        EXPECT_EQ(LitLamps(form), row.Lit) << std::hex << row.Outputs << " " << row.Inputs;
    }
    EXPECT_EQ(form.Aout0->text(), "2.35");
    EXPECT_EQ(form.Aout1->text(), "-1.25");
    EXPECT_EQ(form.Ain0->text(), "12.00");
    EXPECT_EQ(form.Caption(4)->text(), "-  LIMIT");
}

class Diagnostics : public ::testing::Test {
protected:
    Diagnostics() {
        Port.Open(Sim.SlavePath());
        Monitor = std::make_unique<TIxaMonitor>(Link);
        Form = std::make_unique<TDiagnosticsForm>(nullptr, *Monitor);
    }
    ~Diagnostics() override {
        Monitor.reset(); // the monitor ends before the window goes, as in the program
        Form.reset();
    }
    void WaitOnline() {
        ASSERT_TRUE(WaitFor([&] { return Monitor->Online.load(); }, 5000));
    }
    void ShowOnline() {
        WaitOnline();
        // The refresh after the handshake has run once its fast group has been read.
        ASSERT_TRUE(WaitFor([&] { return !Matching(Sim, {"0:SA?"}).empty(); }, 3000));
        Sim.ClearReceived();
        Form->show();
    }

    TScriptedDialogsScope Dialogs;
    sim::TSimulator Sim;
    TCommPort Port;
    TIxaInterface Link{&Port};
    std::unique_ptr<TIxaMonitor> Monitor;
    std::unique_ptr<TDiagnosticsForm> Form;
};

TEST_F(Diagnostics, ShowingLoadsNamesAndAssignmentsAndSendsNone) {
    Sim.SetParameter("DIF", "5", 2);
    Sim.SetParameter("AOF", "2", 1);
    ShowOnline();
    EXPECT_EQ(Matching(Sim, {"0:DIF", "0:DOF", "0:AOF", "0:NDIF", "0:NDOF", "0:NAOF"}),
              (Lines{"0:DIF? 0", "0:DIF? 1", "0:DIF? 2", "0:DIF? 3", "0:DOF? 0", "0:DOF? 1", "0:DOF? 2",
                     "0:DOF? 3", "0:AOF? 0", "0:AOF? 1"}));
    EXPECT_EQ(Form->Din2Function->count(), 8);
    EXPECT_EQ(Form->Din2Function->currentText(), "Tool Bit 2");
    EXPECT_EQ(Form->Din0Function->currentIndex(), 1);
    EXPECT_EQ(Form->Dout3Function->itemText(0), "None");
    EXPECT_EQ(Form->Dout3Function->currentIndex(), 4);
    EXPECT_EQ(Form->Aout0Function->currentText(), "Actual Force");
    EXPECT_EQ(Form->Aout1Function->currentText(), "Command Force");
    EXPECT_TRUE(Dialogs->Boxes.empty());
}

TEST_F(Diagnostics, PickingSendsAtOnceAndCancelKeepsIt) {
    ShowOnline();
    Sim.ClearReceived();
    QTest::keyClick(Form->Dout1Function, Qt::Key_Down);
    EXPECT_EQ(Form->Dout1Function->currentIndex(), 3);
    EXPECT_EQ(Matching(Sim, {"0:DOF", "0:SC"}), (Lines{"0:DOF 1 3"}));
    QTest::mouseClick(Form->CancelButton, Qt::LeftButton);
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(Sim.Parameter("DOF", 1), "3");
    EXPECT_EQ(Matching(Sim, {"0:SC"}), Lines{});
}

TEST_F(Diagnostics, OkSavesAndClosesAndAFailedSaveIsShownFirst) {
    ShowOnline();
    QTest::mouseClick(Form->OKButton, Qt::LeftButton);
    EXPECT_EQ(Matching(Sim, {"0:SC"}), Lines{"0:SC"});
    EXPECT_FALSE(Form->isVisible());
    EXPECT_TRUE(Dialogs->Boxes.empty());

    Sim.ScriptReply("SC", {"Error 5", "OK"});
    Form->show();
    bool visibleAtBox = false;
    Dialogs->OnBox = [&](const TScriptedDialogs::TBox&) { visibleAtBox = Form->isVisible(); };
    QTest::mouseClick(Form->OKButton, Qt::LeftButton);
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_EQ(Dialogs->Boxes[0].Text, "Error 5");
    EXPECT_TRUE(visibleAtBox);
    EXPECT_FALSE(Form->isVisible());
}

TEST_F(Diagnostics, HelpOpensItsTopicAndSendsNothing) {
    THelpRecorderScope help;
    ShowOnline();
    Sim.ClearReceived();
    QTest::mouseClick(Form->HelpButton, Qt::LeftButton);
    ASSERT_EQ(help.Requests.size(), 1u);
    EXPECT_EQ(help.Requests[0].Command, HELP_CONTEXT);
    EXPECT_EQ(help.Requests[0].Data, 302);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Matching(Sim, {"0:DIF", "0:DOF", "0:AOF", "0:SC"}), Lines{});
    Form->hide();
}

TEST_F(Diagnostics, ControllerErrorWhileLoadingIsShownAndRefreshStillStarts) {
    Sim.ScriptReply("DIF? 1", {"Error 2", "OK"});
    ShowOnline();
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_EQ(Dialogs->Boxes[0].Caption, "Korva Windows Error");
    EXPECT_EQ(Dialogs->Boxes[0].Text, "Error 2");
    EXPECT_EQ(Matching(Sim, {"0:DOF?", "0:AOF?"}), Lines{}); // the rest of the queries skipped
    // Only what the controller reported is selected; the selectors never asked select nothing.
    EXPECT_EQ(Form->Din0Function->currentIndex(), 1);
    for (QComboBox* box : {Form->Din1Function, Form->Din2Function, Form->Din3Function, Form->Dout0Function,
                           Form->Dout1Function, Form->Dout2Function, Form->Dout3Function, Form->Aout0Function,
                           Form->Aout1Function}) {
        EXPECT_EQ(box->currentIndex(), -1);
        EXPECT_TRUE(box->currentText().isEmpty());
    }
    EXPECT_TRUE(WaitFor([&] { return !Matching(Sim, {"0:RDI?"}).empty(); }));
    Form->hide();
}

TEST_F(Diagnostics, LampsMoveWhileVisibleAndQueriesStopWhenHidden) {
    ShowOnline();
    // The CPU clock blinks, and the tool's coding inputs follow a new tool number.
    EXPECT_TRUE(WaitFor([&] { return Form->CpuClockLed->Color() == Lit; }));
    EXPECT_TRUE(WaitFor([&] { return Form->CpuClockLed->Color() == Unlit; }));
    EXPECT_EQ(Form->Rs232Led->Color(), Lit);
    Sim.SetParameter("TN", "5");
    EXPECT_TRUE(WaitFor([&] {
        const auto lit = LitLamps(*Form);
        return lit.count("Tool0") && !lit.count("Tool1") && lit.count("Tool2") && !lit.count("Tool3");
    }));

    Form->hide();
    Sim.ClearReceived();
    // Two more passes: nothing of the I/O after the first pass's tool-present group.
    ASSERT_TRUE(WaitFor([&] { return Matching(Sim, {"0:SA?"}).size() >= 2; }));
    const Lines lines = Sim.Received();
    const auto first = std::find(lines.begin(), lines.end(), "0:SA?");
    for (auto it = first; it != lines.end(); ++it)
        EXPECT_TRUE(*it != "0:RDI?" && *it != "0:RDO?" && *it != "0:AIN?" && it->rfind("0:AOUT", 0) != 0)
            << *it;
}

TEST_F(Diagnostics, OfflineShowingGreysAndPickingSendsNothing) {
    ShowOnline();
    Form->hide();
    Sim.InjectFault(sim::TSimFault::Silent, -1);
    ASSERT_TRUE(WaitFor([&] { return !Monitor->Online.load(); }, 5000));
    Form->MonitorIo(*Monitor, 0x1FFF, 0x3F1F, 1, 2, 3); // everything lit before the showing
    Form->show();
    EXPECT_TRUE(LitLamps(*Form).empty());
    for (auto* value : {Form->Aout0, Form->Aout1, Form->Ain0})
        EXPECT_EQ(value->text(), "0.00");
    EXPECT_EQ(Form->Aout0Function->count(), 0);
    EXPECT_EQ(Form->Aout1Function->count(), 0);
    EXPECT_EQ(Form->Din0Function->count(), 8); // the digital selectors keep what they had
    EXPECT_EQ(Form->Din0Function->currentIndex(), 1);

    Sim.ClearReceived();
    QTest::keyClick(Form->Din0Function, Qt::Key_Down);
    EXPECT_EQ(Form->Din0Function->currentIndex(), 2);
    EXPECT_EQ(Matching(Sim, {"0:DIF"}), Lines{});
    EXPECT_TRUE(Dialogs->Boxes.empty());
    Form->hide();
}

} // namespace
