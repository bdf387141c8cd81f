#include "support/PanelTestSupport.h"

#include "maintenance/Diagnostics.h"
#include "toolkit/Layout.h"
#include "toolkit/Text.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {
QString Shown(const sim::TSimulator& sim, const char* name) {
    return ToQString(sim.Parameter(name));
}
} // namespace

TEST_F(TPanelTest, WithTheSimulatorThePanelComesOnlineAndShowsTheLiveValues) {
    sim::TSimulator& sim = StartSimulator();
    sim.SetMountingAngle(20);
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    EXPECT_EQ(p.OnlineStatus->text(), Shown(sim, "CN"));
    EXPECT_EQ(p.OnlineStatus->Color(), clr::Green);
    EXPECT_EQ(p.ToolTypeStatus->text(), Shown(sim, "TT"));
    EXPECT_EQ(p.ToolTypeStatus->Color(), clr::Green);
    EXPECT_TRUE(p.OnlineStatus->toolTip().isEmpty());

    // MF 500, MW 25 kg: the lower end is the heaviest tool as a force.
    EXPECT_EQ(p.ForceGaugeMax->text(), "500.0");
    EXPECT_EQ(p.ForceGaugeMin->text(), "-245.0");
    EXPECT_EQ(p.ForceGauge->MinValue(), -2450);
    EXPECT_EQ(p.ForceGauge->MaxValue(), 5000);
    EXPECT_EQ(p.CommandBarMax->text(), "500.0");
    EXPECT_EQ(p.CommandBarMin->text(), "-245.0");
    EXPECT_EQ(p.CommandBar->minimum(), -5000);
    EXPECT_EQ(p.CommandBar->maximum(), 2450);
    EXPECT_EQ(p.PositionGaugeMax->text(), "150.00");
    EXPECT_EQ(p.PositionGaugeMid->text(), "75.00");
    EXPECT_EQ(p.CommandBarUnits->text(), "N");

    // The operator controls are live, the bar stands in for the gauge.
    for (QWidget* c : std::initializer_list<QWidget*>{p.ModeGroup, p.ActiveButton, p.WeighButton,
                                                      p.ToolNumberUpDown, p.ToolWeightValue, p.CommandValue,
                                                      p.CommandBar, p.SerialOverrideBox})
        EXPECT_TRUE(c->isEnabled()) << c->metaObject()->className();
    EXPECT_FALSE(p.CommandBar->isHidden());
    EXPECT_TRUE(p.CommandGauge->isHidden());
    EXPECT_EQ(p.CommandValue->Color(), clr::Olive);

    // What the controller reports: sin 20 degrees is 0.342 on the wire, 19.99 degrees, truncated;
    // the carriage at 5 mm, retracted, under a command of 50 N; tool 0 weighs 0.8 kg. None of it is
    // what the start-up display shows.
    ASSERT_EQ(sim.Parameter("SA"), "0.342");
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.Horizon->Level() == 19; }, 3000));
    EXPECT_EQ(p.OrientationValue->text(), "19");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return p.PositionGaugeValue->text() == "5.00" && p.CommandGauge->Progress() == 500; }, 3000));
    EXPECT_EQ(p.PositionGauge->Progress(), 500);
    EXPECT_EQ(p.CommandValue->text(), "50.0");
    EXPECT_EQ(p.CommandBar->value(), -500);
    // The actual force of a retracted carriage, 0.0, is also the start-up text: the gauge is seen to
    // follow a reported force away from it (a few polls long) and back.
    for (int poll = 0; poll < 25; ++poll)
        sim.ScriptReply("AF?", {"-3.5", "OK"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.ForceGaugeValue->text() == "-3.5"; }, 5000))
        << p.ForceGaugeValue->text().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.ForceGaugeValue->text() == "0.0"; }, 10000))
        << p.ForceGaugeValue->text().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.ToolWeightValue->text() == "0.80"; }, 3000));
    EXPECT_TRUE(Dialogs->Boxes.empty());
}

TEST_F(TPanelTest, ForceAndModeChangedInTheControllerReachTheDisplay) {
    TKorvaControlPanel& p = Online();
    QTest::mouseClick(p.ActiveButton, Qt::LeftButton);
    ASSERT_EQ(Commands(*Sim), TLines{"0:ACT 1"});
    Sim->ClearReceived();
    // Active, the force rises to the command of 50 N; the slide moves off its 5 mm.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return p.ForceGaugeValue->text() == "50.0" && p.ForceGauge->Progress() == 500; }, 8000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.PositionGaugeValue->text() == "90.00"; }, 8000));

    // A new command set at the controller (its inputs or another console).
    Sim->SetParameter("CF", "120.5");
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.CommandValue->text() == "120.5"; }, 5000));
    EXPECT_EQ(p.CommandGauge->Progress(), 1205);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return p.ForceGaugeValue->text() == "120.5" && p.ForceGauge->Progress() == 1205; }, 8000));

    // Position mode set at the controller: the bar is rescaled and the slide goes to the command of 75 mm.
    Sim->SetParameter("PM", "1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.ModeGroup->ItemIndex() == 1; }, 5000));
    EXPECT_EQ(p.CommandBarLabel2->text(), "Position");
    EXPECT_EQ(p.CommandBarUnits->text(), "mm");
    EXPECT_EQ(p.CommandBar->minimum(), -15000);
    EXPECT_EQ(p.CommandBar->maximum(), 0);
    EXPECT_EQ(p.CommandBarMax->text(), "150.00");
    EXPECT_EQ(p.CommandBar->value(), -7500);
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.PositionGaugeValue->text() == "75.00"; }, 8000));
    EXPECT_EQ(p.PositionGauge->Progress(), 7500);
    // Showing what the controller holds sends nothing back to it.
    EXPECT_EQ(Commands(*Sim), TLines{});
    EXPECT_TRUE(Dialogs->Boxes.empty());
}

TEST_F(TPanelTest, AnEnglishControllerGivesPoundRanges) {
    sim::TSimOptions english;
    english.EnglishUnits = true;
    sim::TSimulator& sim = StartSimulator(english);
    sim.SetParameter("MF", "500");
    sim.SetParameter("MW", "25");
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    EXPECT_EQ(p.ForceGaugeMin->text(), "-25.0");
    EXPECT_EQ(p.ForceGaugeMax->text(), "500.0");
    EXPECT_EQ(p.CommandBarMin->text(), "-25.0");
    EXPECT_EQ(p.CommandBar->maximum(), 250);
    EXPECT_EQ(p.ForceGaugeUnits->text(), "Lbf.");
    EXPECT_EQ(p.CommandBarUnits->text(), "Lbf.");
    EXPECT_EQ(p.PositionGaugeUnits->text(), "In.");
    EXPECT_EQ(p.ToolWeightUnits->text(), "Lb.");
}

TEST_F(TPanelTest, ASilentControllerGoesOfflineAndComesBackWithWhatChangedMeanwhile) {
    sim::TSimulator& sim = StartSimulator();
    sim.SetMountingAngle(30);
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return p.PositionGaugeValue->text() == "5.00" && p.OrientationValue->text() == "30"; }, 3000));
    ASSERT_EQ(p.Horizon->Level(), 30);
    ASSERT_EQ(p.CommandValue->text(), "50.0");

    sim.InjectFault(sim::TSimFault::Silent, -1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.OnlineStatus->text() == "Offline"; }, 8000));
    EXPECT_EQ(p.OnlineStatus->Color(), clr::GrayText());
    EXPECT_EQ(p.ToolTypeStatus->text(), "No Tool");
    EXPECT_FALSE(p.ActiveButton->isEnabled());
    EXPECT_FALSE(p.SerialOverrideBox->isEnabled());
    // Nothing of what was shown stays, and nothing looks like a reading: the readouts show a dash and
    // the gauges stand empty.
    const QString dash = QString::fromUtf8("\u2014");
    for (TStaticText* readout :
         {p.PositionGaugeValue, p.OrientationValue, p.CommandValue, p.ForceGaugeValue, p.ToolWeightValue})
        EXPECT_EQ(readout->text(), dash) << readout->objectName().toStdString();
    for (TCGauge* gauge : {p.PositionGauge, p.ForceGauge, p.CommandGauge})
        EXPECT_EQ(gauge->Progress(), gauge->MinValue());
    EXPECT_EQ(p.Horizon->Level(), 0);
    EXPECT_FALSE(p.ToolWeightValue->isEnabled());
    EXPECT_EQ(p.ToolWeightValue->Color(), clr::Silver);
    EXPECT_FALSE(p.OnlineStatus->toolTip().isEmpty());

    // Meanwhile the controller is set to inches and pounds, with another maximum force and tool.
    sim.SetParameter("CU", "1");
    sim.SetParameter("MF", "300");
    sim.SetParameter("MW", "20");
    sim.SetParameter("MP", "6");
    sim.SetParameter("TT", "Gripper");
    sim.ClearFaults();
    ASSERT_TRUE(WaitOnline());
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.PositionGaugeValue->text() != dash; }, 3000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.ForceGaugeValue->text() != dash; }, 3000));
    EXPECT_EQ(p.ToolWeightValue->Color(), clr::Olive);
    EXPECT_TRUE(p.ActiveButton->isEnabled());
    EXPECT_EQ(p.ToolTypeStatus->text(), "Gripper");
    EXPECT_TRUE(p.OnlineStatus->toolTip().isEmpty());
    EXPECT_EQ(p.ForceGaugeUnits->text(), "Lbf.");
    EXPECT_EQ(p.CommandBarUnits->text(), "Lbf.");
    EXPECT_EQ(p.PositionGaugeUnits->text(), "In.");
    EXPECT_EQ(p.ToolWeightUnits->text(), "Lb.");
    EXPECT_EQ(p.ForceGaugeMax->text(), "300.0");
    EXPECT_EQ(p.ForceGaugeMin->text(), "-20.0");
    EXPECT_EQ(p.ForceGauge->MaxValue(), 3000);
    EXPECT_EQ(p.ForceGauge->MinValue(), -200);
    EXPECT_EQ(p.CommandBarMax->text(), "300.0");
    EXPECT_EQ(p.CommandBar->minimum(), -3000);
    EXPECT_EQ(p.CommandBar->maximum(), 200);
    EXPECT_EQ(p.PositionGaugeMax->text(), "6.00");
    EXPECT_EQ(p.PositionGauge->MaxValue(), 600);
    EXPECT_TRUE(Dialogs->Boxes.empty());
}

// The line lost just as the tool's display is built (the tool's event was on its way): the first
// field waits out one reply limit, the others say at once that the link is down, so the window is not
// frozen for a limit per field.
TEST_F(TPanelTest, ALineLostInTheMiddleOfTheDisplayCostsOneReplyLimit) {
    TKorvaControlPanel& p = Online();
    p.Monitor->SetPolling(false); // the monitor must not find the loss first
    Sim->InjectFault(sim::TSimFault::Silent, -1);
    Sim->ClearReceived();
    const auto start = std::chrono::steady_clock::now();
    p.MonitorToolConnect();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(Sim->Received().size(), 1u); // one question, the rest not asked
    EXPECT_LT(took, std::chrono::milliseconds(2 * TIxaInterface::OrdinaryTimeLimit));
    EXPECT_FALSE(p.Link->Connected);
    EXPECT_EQ(p.CommandValue->text(), "IXA not connected!");
}

TEST_F(TPanelTest, CommandsFromElsewhereReplaceTheBarUnlessOverridden) {
    sim::TSimulator& sim = StartSimulator();
    sim.SetParameter("CFI", "1");
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    EXPECT_FALSE(p.CommandGauge->isHidden());
    EXPECT_TRUE(p.CommandBar->isHidden());
    EXPECT_EQ(p.CommandValue->Color(), clr::Silver);

    sim.SetParameter("SPO", "1");
    p.MonitorConnect(); // reads the override box from the controller
    EXPECT_TRUE(p.SerialOverrideBox->isChecked());
    p.SetupCommandBar();
    EXPECT_TRUE(p.CommandGauge->isHidden());
    EXPECT_FALSE(p.CommandBar->isHidden());
    EXPECT_EQ(p.CommandValue->Color(), clr::Olive);

    // Contour mode takes the command from the force table: the gauge again, without asking CFI.
    sim.SetParameter("SPO", "0");
    sim.SetParameter("CFI", "0");
    p.SerialOverrideBox->setChecked(false);
    p.ShowMode(2);
    EXPECT_EQ(p.ModeGroup->ItemIndex(), 2);
    EXPECT_FALSE(p.CommandGauge->isHidden());
    p.ShowMode(1); // position mode scales the bar in hundredths of the length unit
    EXPECT_EQ(p.CommandBar->minimum(), -15000);
    EXPECT_EQ(p.CommandBarLabel2->text(), "Position");
    EXPECT_EQ(p.CommandBarUnits->text(), "mm");
    EXPECT_FALSE(p.Updating);
}

TEST_F(TPanelTest, PositionColoursFollowTheLimits) {
    StartSimulator(); // RLP 5, ELP 145 of 150
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    EXPECT_EQ(p.PosLimitTicks, 14500);
    EXPECT_EQ(p.NegLimitTicks, 500);
    // Lines at 1/30 and 29/30 of the gauge's 217 pixels from its top at 48: 7.2 and 209.8 down.
    EXPECT_EQ(p.PosLimitLine->y(), 55);
    EXPECT_EQ(p.NegLimitLine->y(), 257);
    struct {
        double Position;
        QColor Gauge, Line;
    } rows[] = {
        {145.01, clr::Lime, clr::Black}, {145.0, clr::Green, clr::Lime}, {4.99, clr::Red, clr::Lime},
        {5.0, clr::Green, clr::Lime},    {200.0, clr::Lime, clr::Black}, // clamped to 15000, still above
    };
    for (const auto& row : rows) {
        p.ShowPosition(row.Position);
        EXPECT_EQ(p.PositionGauge->ForeColor(), row.Gauge) << row.Position;
        EXPECT_EQ(p.PosLimitLine->PenColor(), row.Line) << row.Position;
        EXPECT_EQ(p.NegLimitLine->PenColor(), clr::Red);
    }
}

TEST_F(TPanelTest, AControllerWithoutTravelKeepsTheLinesAndShowsAZeroScale) {
    sim::TSimulator& sim = StartSimulator();
    sim.SetParameter("MP", "0");
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    EXPECT_EQ(p.PositionGaugeMax->text(), "0.00");
    EXPECT_EQ(p.PositionGaugeMid->text(), "0.00");
    EXPECT_EQ(p.PositionGauge->MaxValue(), 0);
    EXPECT_EQ(p.PosLimitLine->y(), 96);
    EXPECT_EQ(p.NegLimitLine->y(), 216);
}

TEST_F(TPanelTest, DisplayHandlersFilterUnchangedValuesAndClamp) {
    TKorvaControlPanel& p = OpenPanel();
    p.ShowActualForce(12.34);
    p.ShowActualForce(12.36); // same tenth: nothing changes
    EXPECT_EQ(p.ForceGaugeValue->text(), "12.3");
    EXPECT_EQ(p.ForceGauge->Progress(), 123);
    p.ShowActualForce(-0.05); // truncates to 0 like the start value
    EXPECT_EQ(p.ForceGaugeValue->text(), "-0.1");

    struct {
        double Acceleration;
        int Degrees;
    } rows[] = {{1.5, 90}, {-2, -90}, {0.5, 30}, {0.2, 11}, {-0.2, -11}, {0, 0}};
    for (const auto& row : rows) {
        p.ShowOrientation(row.Acceleration);
        EXPECT_EQ(p.Horizon->Level(), row.Degrees) << row.Acceleration;
        EXPECT_EQ(p.OrientationValue->text(), QString::number(row.Degrees)) << row.Acceleration;
    }
    // Not a number is unknown, never an end of the scale; the next number shows again.
    p.ShowOrientation(std::nan(""));
    EXPECT_EQ(p.OrientationValue->text(), "?");
    p.ShowOrientation(0);
    EXPECT_EQ(p.OrientationValue->text(), "0");

    p.ShowActive(true);
    EXPECT_EQ(p.ActiveLabel->text(), "Active");
    EXPECT_EQ(p.ActiveLabel->Color(), clr::Lime);
    EXPECT_EQ(p.ActiveButton->text(), "Deactivate");
    p.ShowActive(false);
    EXPECT_EQ(p.ActiveButton->text(), "Activate");
    EXPECT_EQ(p.ActiveLabel->Color(), clr::Grey);

    // A tool number from the controller closes an open weight editor with an Escape press.
    std::vector<char> keys;
    p.ToolWeightEdit->OnKeyPress = [&](char& key) { keys.push_back(key); };
    p.ShowToolNumber(3);
    EXPECT_TRUE(keys.empty());
    p.ToolWeightEdit->show();
    p.ShowToolNumber(4);
    EXPECT_EQ(keys, std::vector<char>{27});
    EXPECT_EQ(p.ToolNumberText->text(), "4");
}

// ---- The display never claims what it does not know

TEST_F(TPanelTest, ToolPluggedInWhileOnlineEnablesTheCommandBar) {
    sim::TSimOptions options;
    options.ToolConnected = false;
    sim::TSimulator& sim = StartSimulator(options);
    TKorvaControlPanel& p = OpenPanel();
    // Online, and a second pass has asked for the tool: the first one's events have all run.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const TLines received = sim.Received();
            return p.OnlineStatus->text() != "Offline" &&
                   std::count(received.begin(), received.end(), "0:TC?") >= 2;
        },
        8000));
    EXPECT_FALSE(p.CommandBar->isEnabled());
    sim.SetToolConnected(true);
    ASSERT_TRUE(WaitOnline());
    EXPECT_TRUE(p.CommandBar->isEnabled());
    sim.SetToolConnected(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.ToolTypeStatus->text() == "No Tool"; }, 5000));
    EXPECT_FALSE(p.CommandBar->isEnabled());
}

TEST_F(TPanelTest, OfflineTheActiveStateIsUnknownAndTheDiagnosticsLampsGoGrey) {
    sim::TSimulator& sim = StartSimulator();
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    QTest::mouseClick(p.ActiveButton, Qt::LeftButton);
    ASSERT_EQ(p.ActiveLabel->text(), "Active");
    p.DiagnosticsItemClick();
    ASSERT_NE(DiagnosticsForm, nullptr);
    const QColor lit(0x00, 0xFF, 0x00), grey(0x80, 0x80, 0x80);
    ASSERT_TRUE(QTest::qWaitFor([&] { return DiagnosticsForm->Rs232Led->Color() == lit; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return DiagnosticsForm->ToolLed->Color() == lit; }, 5000));

    sim.InjectFault(sim::TSimFault::Silent, -1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.OnlineStatus->text() == "Offline"; }, 8000));
    EXPECT_EQ(p.ActiveLabel->text(), "Unknown");
    EXPECT_NE(p.ActiveLabel->Color(), clr::Lime);
    for (int i = 0; i < TDiagnosticsForm::LampCount; ++i)
        EXPECT_EQ(DiagnosticsForm->Lamp(i)->Color(), grey) << TDiagnosticsForm::LampName(i);
    for (TStaticText* value : {DiagnosticsForm->Aout0, DiagnosticsForm->Aout1, DiagnosticsForm->Ain0})
        EXPECT_EQ(value->text(), "0.00");

    // Back online, the controller says again.
    sim.ClearFaults();
    ASSERT_TRUE(WaitOnline());
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.ActiveLabel->text() != "Unknown"; }, 5000));
    EXPECT_EQ(p.ActiveLabel->text(), sim.Parameter("ACT") == "1" ? "Active" : "Retracted");
    EXPECT_TRUE(QTest::qWaitFor([&] { return DiagnosticsForm->Rs232Led->Color() == lit; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return DiagnosticsForm->ToolLed->Color() == lit; }, 5000));
    EXPECT_TRUE(DiagnosticsForm->isVisible());

    // Opened while the controller is silent, the window shows nothing lit, and comes alive with it.
    DiagnosticsForm->hide();
    sim.InjectFault(sim::TSimFault::Silent, -1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.OnlineStatus->text() == "Offline"; }, 8000));
    p.DiagnosticsItemClick();
    ASSERT_TRUE(DiagnosticsForm->isVisible());
    for (int i = 0; i < TDiagnosticsForm::LampCount; ++i)
        EXPECT_EQ(DiagnosticsForm->Lamp(i)->Color(), grey) << TDiagnosticsForm::LampName(i);
    sim.ClearFaults();
    ASSERT_TRUE(WaitOnline());
    EXPECT_TRUE(QTest::qWaitFor([&] { return DiagnosticsForm->Rs232Led->Color() == lit; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return DiagnosticsForm->ToolLed->Color() == lit; }, 5000));
    DiagnosticsForm->hide();
}

TEST_F(TPanelTest, TheCommandGaugeHasTheBarsRangeAndMiddleMarksShowTheMiddleValue) {
    // MF 500, MW 25 kg: -245.0 .. 500.0 N, whose middle is 127.5.
    sim::TSimulator& sim = StartSimulator();
    sim.SetParameter("CFI", "1"); // the command comes from the inputs: the gauge shows it
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    ASSERT_FALSE(p.CommandGauge->isHidden());
    EXPECT_EQ(p.CommandGauge->MinValue(), -2450);
    EXPECT_EQ(p.CommandGauge->MaxValue(), 5000);
    p.ShowCommandValue(120.5);
    EXPECT_EQ(p.CommandGauge->Progress(), 1205);
    EXPECT_EQ(p.CommandGauge->GetPercentDone(), 49); // (1205 + 2450) / 7450, not full scale
    EXPECT_EQ(p.ForceGaugeMid->text(), "127.5");
    EXPECT_EQ(p.CommandBarMid->text(), "127.5");
    EXPECT_EQ(p.PositionGaugeMid->text(), "75.00");

    p.ShowMode(1); // position mode: 0 .. 150.00 mm
    EXPECT_EQ(p.CommandGauge->MinValue(), 0);
    EXPECT_EQ(p.CommandGauge->MaxValue(), 15000);
    EXPECT_EQ(p.CommandBarMid->text(), "75.00");
}

TEST_F(TPanelTest, TheToolTypeFollowsTheToolNumber) {
    sim::TSimulator& sim = StartSimulator();
    sim.SetParameter("TN", "1");
    sim.SetParameter("TT", "Gripper");
    sim.SetParameter("TN", "0");
    sim.SetParameter("TT", "Deburring Spindle");
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    ASSERT_EQ(p.ToolTypeStatus->text(), "Deburring Spindle");
    // The controller's own change (its tool inputs).
    sim.SetParameter("TN", "1");
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.ToolTypeStatus->text() == "Gripper"; }, 5000));
    // The operator's spinner.
    ASSERT_EQ(p.ToolNumberUpDown->Position(), 1);
    QTest::mouseClick(p.ToolNumberUpDown->DownButton(), Qt::LeftButton);
    EXPECT_EQ(p.ToolTypeStatus->text(), "Deburring Spindle");
}

// ---- A value the panel cannot show never stops the live display

namespace {
// Polling goes on: a new mounting angle reaches the horizon.
bool LiveDisplayGoesOn(sim::TSimulator& sim, TKorvaControlPanel& p) {
    sim.SetMountingAngle(30);
    return QTest::qWaitFor([&] { return p.Horizon->Level() >= 29; }, 5000);
}
} // namespace

TEST_F(TPanelTest, AScaleThatCannotBeDrawnShowsAsUnknownAndPollingGoesOn) {
    const struct {
        const char* Name;
        const char* Value;
        bool Position; // the position scale is unknown (else the force scales)
    } rows[] = {
        {"MP", "-5", true},
        {"MP", "inf", true},
        {"MW", "-10", false},
        {"MF", "-300", false}, // the maximum force below the minimum (-245)
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.Name) + " " + row.Value);
        ClosePanel();
        sim::TSimulator& sim = StartSimulator();
        sim.SetParameter(row.Name, row.Value);
        TKorvaControlPanel& p = OpenPanel();
        ASSERT_TRUE(WaitOnline());
        EXPECT_EQ(p.OnlineStatus->Color(), clr::Green);
        if (row.Position) {
            for (TStaticText* mark : {p.PositionGaugeMax, p.PositionGaugeMid, p.PositionGaugeMin})
                EXPECT_EQ(mark->text(), "?");
            EXPECT_EQ(p.ForceGaugeMax->text(), "500.0");
            EXPECT_EQ(p.PositionGauge->MaxValue(), 0);
            EXPECT_TRUE(p.PosLimitLine->isHidden());
            EXPECT_TRUE(p.CommandBar->isEnabled()); // the force command is still the operator's
        } else {
            for (TStaticText* mark : {p.ForceGaugeMax, p.ForceGaugeMid, p.ForceGaugeMin, p.CommandBarMax,
                                      p.CommandBarMid, p.CommandBarMin})
                EXPECT_EQ(mark->text(), "?");
            EXPECT_EQ(p.PositionGaugeMax->text(), "150.00");
            EXPECT_FALSE(p.CommandBar->isEnabled());   // no command on a scale nobody knows
            EXPECT_EQ(p.CommandValue->text(), "50.0"); // the command itself, not the idle bar's 0
        }
        EXPECT_TRUE(LiveDisplayGoesOn(sim, p));
        EXPECT_TRUE(Dialogs->Boxes.empty());
    }
}

TEST_F(TPanelTest, AFailingStepOfTheOnlineDisplayShowsInItsOwnFieldAndThePanelStaysOnline) {
    sim::TSimulator& sim = StartSimulator();
    sim.ScriptReply("CN?", {"Error 2", "OK"});
    sim.ScriptReply("TT?", {"Error 4", "OK"});
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    EXPECT_EQ(p.OnlineStatus->text(), "Error 2");
    EXPECT_EQ(p.OnlineStatus->Color(), clr::Green);
    EXPECT_EQ(p.ToolTypeStatus->text(), "Error 4");
    for (QWidget* c : std::initializer_list<QWidget*>{p.ModeGroup, p.ActiveButton, p.WeighButton,
                                                      p.ToolNumberUpDown, p.CommandBar, p.SerialOverrideBox})
        EXPECT_TRUE(c->isEnabled()) << c->metaObject()->className();
    EXPECT_EQ(p.ForceGaugeMax->text(), "500.0");
    EXPECT_TRUE(LiveDisplayGoesOn(sim, p));
    EXPECT_TRUE(Dialogs->Boxes.empty());
}

TEST_F(TPanelTest, AControllerInPositionModeGivesPositionScalesAndTheTopMarkIsDrawnWhole) {
    StartSimulator().SetParameter("PM", "1"); // before the console starts; MP 150 mm, CP 75 mm
    TKorvaControlPanel& p = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    EXPECT_EQ(p.ModeGroup->ItemIndex(), 1);
    EXPECT_EQ(p.CommandBarLabel2->text(), "Position");
    EXPECT_EQ(p.CommandBarUnits->text(), "mm");
    EXPECT_EQ(p.CommandBar->minimum(), -15000);
    EXPECT_EQ(p.CommandBar->maximum(), 0);
    EXPECT_EQ(p.CommandBar->value(), -7500);
    EXPECT_EQ(p.CommandBarMid->text(), "75.00");
    EXPECT_EQ(p.CommandBarMin->text(), "0.00");
    EXPECT_EQ(p.ForceGaugeMax->text(), "500.0"); // the force scale stays in force
    EXPECT_TRUE(Dialogs->Boxes.empty());
    ASSERT_EQ(p.CommandBarMax->text(), "150.00");
    const QImage image = p.CommandBarMax->grab().toImage();
    // Right-aligned, the text keeps clear of the left edge: no part of its first digit is cut off.
    const int edge = static_cast<int>(image.devicePixelRatio()) + 1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < edge; ++x)
            EXPECT_GT(qGray(image.pixel(x, y)), 160) << x << "," << y;
}

TEST_F(TPanelTest, ReadingsThatAreNotNumbersShowAsUnknown) {
    TKorvaControlPanel& p = Online();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.ForceGaugeValue->text() != "?"; }, 3000));
    for (int i = 0; i < 400; ++i) {
        Sim->ScriptReply("AF?", {"nan", "OK"});
        Sim->ScriptReply("SA?", {"-inf", "OK"});
        Sim->ScriptReply("POS?", {"1e308", "OK"});
        Sim->ScriptReply("CF?", {"nan", "OK"});
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return p.ForceGaugeValue->text() == "?" && p.OrientationValue->text() == "?" &&
                   p.PositionGaugeValue->text() == "?" && p.CommandValue->text() == "?";
        },
        5000))
        << p.ForceGaugeValue->text().toStdString() << " " << p.OrientationValue->text().toStdString() << " "
        << p.PositionGaugeValue->text().toStdString() << " " << p.CommandValue->text().toStdString();
    // A few more polls: still unknown, and the gauges show nothing.
    QTest::qWait(300);
    EXPECT_EQ(p.ForceGaugeValue->text(), "?");
    EXPECT_EQ(p.PositionGaugeValue->text(), "?");
    EXPECT_EQ(p.ForceGauge->Progress(), p.ForceGauge->MinValue());
    EXPECT_EQ(p.PositionGauge->Progress(), p.PositionGauge->MinValue());
    EXPECT_TRUE(p.OnlineStatus->text() != "Offline");
}

TEST_F(TPanelTest, TheStatusBarShowsTheLinkPortAndUnsavedWrites) {
    {
        TKorvaControlPanel& p = OpenPanel("/dev/korva-no-such-port");
        QTest::qWait(100);
        EXPECT_EQ(p.LinkStateText->text(), "Offline: " + p.OfflineReason());
        EXPECT_TRUE(p.OfflineReason().contains("korva-no-such-port"));
        EXPECT_EQ(p.PortText->text(), "/dev/korva-no-such-port, address 0");
        EXPECT_TRUE(p.SimulatorText->isHidden());
        EXPECT_TRUE(p.UnsavedText->isHidden());
        EXPECT_FALSE(p.SaveToControllerItem->isEnabled());
        EXPECT_EQ(p.ForceGaugeValue->text(), QString::fromUtf8("\u2014"));
        p.SetSimulated(true);
        EXPECT_FALSE(p.SimulatorText->isHidden());
        EXPECT_EQ(p.SimulatorText->text(), "Simulator");
        ClosePanel();
    }
    sim::TSimOptions options;
    options.WeighMs = 1200; // past the ordinary reply limit, as a real weighing is
    TKorvaControlPanel& p = Online(options);
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.LinkStateText->text() == "Online"; }, 2000));
    EXPECT_EQ(p.PortText->text(), ToQString(Sim->SlavePath()) + ", address 0");
    EXPECT_TRUE(p.SaveToControllerItem->isEnabled());
    QTest::qWait(600); // the polling writes nothing
    EXPECT_TRUE(p.UnsavedText->isHidden());

    QTest::mouseClick(p.ActiveButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !p.UnsavedText->isHidden(); }, 2000));
    EXPECT_EQ(p.UnsavedText->text(), "Not saved");

    // File > Save to Controller, after the other file commands, before Exit.
    const QList<QAction*> items = p.FileMenu->actions();
    const auto at = items.indexOf(p.SaveToControllerItem);
    EXPECT_EQ(items.indexOf(p.FileExitItem), at + 2);
    EXPECT_TRUE(items[at - 1]->isSeparator());
    EXPECT_EQ(items.indexOf(p.Files.OpenBackupFolderItem), at - 2);
    EXPECT_EQ(items.indexOf(p.Files.BackupItem), at - 3);
    Sim->ClearReceived();
    p.SaveToControllerItem->trigger();
    EXPECT_EQ(Commands(*Sim), TLines{"0:SC"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return p.UnsavedText->isHidden(); }, 2000));
    EXPECT_TRUE(Dialogs->Boxes.empty());

    // A write whose save question is declined leaves the mark.
    Dialogs->AnswerNext(mrNo);
    QTest::mouseClick(p.WeighButton, Qt::LeftButton);
    ASSERT_EQ(Dialogs->Boxes.size(), 1u);
    EXPECT_TRUE(Dialogs->Boxes[0].Text.startsWith(
        "Auto Tool Weigh Successful! Do you want to save tool weight to non-volatile memory?\n\nWeighed: "));
    EXPECT_TRUE(Dialogs->Boxes[0].Text.endsWith(" kg"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !p.UnsavedText->isHidden(); }, 2000));

    Sim->InjectFault(sim::TSimFault::Silent, -1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.OnlineStatus->text() == "Offline"; }, 8000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return p.LinkStateText->text() ==
                   "Offline: No answer at address 0 on " + ToQString(Sim->SlavePath());
        },
        2000))
        << p.LinkStateText->text().toStdString();
    EXPECT_FALSE(p.SaveToControllerItem->isEnabled());
}
