// The Maintenance menu on the main window: the terminal with the monitor paused around it, and the
// one diagnostics window.

#include "WaitFor.h"
#include "maintenance/Diagnostics.h"
#include "maintenance/Terminal.h"
#include "support/PanelTestSupport.h"

#include <QTimer>
#include <algorithm>
#include <map>

namespace {

using PanelMaintenance = TPanelTest;

TEST_F(PanelMaintenance, TerminalPausesTheMonitorAndResumingRedeliversEverything) {
    StartSimulator();
    OpenPanel();
    ASSERT_TRUE(WaitOnline());
    // Past the first refresh: a pause inside it would make the whole transition again instead.
    ASSERT_TRUE(WaitFor([&] { return Panel->Monitor->Period == TIxaMonitor::OnlinePeriod; }));
    bool ran = false;
    std::map<std::string, int> delivered;
    QTimer::singleShot(0, [&] {
        ran = true;
        ASSERT_NE(TerminalForm, nullptr);
        TTerminalForm& form = *TerminalForm;
        // Nothing moves (not active): every value comes again only because of the pause.
        TIxaMonitor& m = *Panel->Monitor;
        m.OnConnect = [&](TIxaMonitor&) { ++delivered["Connect"]; };
        m.OnCommandForce = [&](TIxaMonitor&, double) { ++delivered["CommandForce"]; };
        m.OnActualForce = [&](TIxaMonitor&, double) { ++delivered["ActualForce"]; };
        m.OnPosition = [&](TIxaMonitor&, double) { ++delivered["Position"]; };
        m.OnSlideAcceleration = [&](TIxaMonitor&, double) { ++delivered["SlideAcceleration"]; };
        ASSERT_TRUE(WaitFor([&] { // the opening CR LF, an empty line
            const auto lines = Sim->Received();
            return std::find(lines.begin(), lines.end(), "") != lines.end();
        }));
        Sim->ClearReceived();
        QTest::keyClicks(form.TerminalText, "0:TN?");
        QTest::keyClick(form.TerminalText, Qt::Key_Return);
        EXPECT_TRUE(WaitFor([&] { return form.TerminalText->toPlainText().endsWith("0:TN?\n0\nOK\n"); }))
            << form.TerminalText->toPlainText().toStdString();
        // Several polling periods: nobody but the terminal talks.
        EXPECT_FALSE(WaitFor([&] { return Sim->Received().size() > 1; }, 600));
        EXPECT_EQ(Sim->Received(), std::vector<std::string>{"0:TN?"});
        QTest::mouseClick(form.CloseButton, Qt::LeftButton);
    });
    Panel->TerminalItem->trigger();
    EXPECT_TRUE(ran);
    EXPECT_EQ(TerminalForm, nullptr);
    EXPECT_TRUE(WaitFor([&] { return delivered.size() >= 4; }));
    EXPECT_EQ(delivered.count("Connect"), 0u); // the resumed polling, not a new transition
    for (const char* value : {"CommandForce", "ActualForce", "Position", "SlideAcceleration"})
        EXPECT_EQ(delivered[value], 1) << value; // once: the passes after it find nothing changed
    EXPECT_TRUE(WaitFor([&] { return Sim->Received().size() >= 2; }, 2000)); // polling again
}

TEST_F(PanelMaintenance, DiagnosticsIsOneWindowShownByTheMenu) {
    StartSimulator();
    OpenPanel();
    ASSERT_NE(DiagnosticsForm, nullptr);
    EXPECT_FALSE(DiagnosticsForm->isVisible());
    ASSERT_TRUE(WaitOnline());
    Panel->DiagnosticsItem->trigger();
    EXPECT_TRUE(DiagnosticsForm->isVisible());
    EXPECT_GT(DiagnosticsForm->Din0Function->count(), 0);
    EXPECT_TRUE(WaitFor([&] {
        const auto lines = Sim->Received();
        return std::find(lines.begin(), lines.end(), "0:RDI?") != lines.end();
    }));

    // Again while visible: to the front, nothing reloaded.
    Sim->ClearReceived();
    DiagnosticsForm->Din0Function->setCurrentIndex(0);
    Panel->DiagnosticsItem->trigger();
    EXPECT_EQ(DiagnosticsForm->Din0Function->currentIndex(), 0);
    for (const auto& line : Sim->Received())
        EXPECT_EQ(line.rfind("0:DIF?", 0), std::string::npos) << line;

    // Closing the program with the window open: the monitor ends before the window goes.
    ClosePanel();
    EXPECT_EQ(DiagnosticsForm, nullptr);
}

} // namespace
