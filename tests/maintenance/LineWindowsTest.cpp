// The line's windows on the main window: the traffic log (what it shows, the polling filter, pause,
// clear, save, no listening while closed) and the network (scan with the monitor paused, cancel,
// "Use" switching the panel), and the offline hint naming the address.

#include "WaitFor.h"
#include "maintenance/Network.h"
#include "maintenance/TrafficLog.h"
#include "support/PanelTestSupport.h"

#include <QFile>
#include <QTimer>
#include <algorithm>

namespace {

using LineWindows = TPanelTest;

sim::TSimOptions Bus(std::vector<int> units) {
    sim::TSimOptions options;
    options.Units = std::move(units);
    return options;
}

bool Has(const QString& text, const char* part) {
    return text.contains(QString::fromLatin1(part));
}

TEST_F(LineWindows, TrafficLogShowsBothThreadsAndFiltersPolling) {
    TKorvaControlPanel& panel = Online();
    EXPECT_EQ(panel.MaintenanceMenu->actions().back(), panel.NetworkItem);
    panel.TrafficLogItem->trigger();
    auto* form = dynamic_cast<TTrafficLogForm*>(panel.TrafficLogWindow);
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isModal());

    // The monitor's polling and one exchange of the operator's.
    ASSERT_TRUE(WaitFor([&] { return Has(form->ShownText(), "polling   recv"); }));
    EXPECT_EQ(panel.Link->GetControllerName(), "IXA Cell 1");
    ASSERT_TRUE(WaitFor([&] { return Has(form->ShownText(), "operator  recv"); }));
    EXPECT_TRUE(Has(form->ShownText(), "operator  sent      0.0 ms  0:CN?"));

    form->HidePollingBox->click();
    QStringList lines = form->ShownText().split('\n');
    ASSERT_EQ(lines.size(), 4) << form->ShownText().toStdString();
    EXPECT_TRUE(lines[0].endsWith("  operator  sent      0.0 ms  0:CN?")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("ms  0:CN?")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].endsWith("ms  IXA Cell 1")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].endsWith("ms  OK")) << lines[3].toStdString();
    // Polling goes on behind the filter, and an error reply shows marked.
    EXPECT_THROW(panel.Link->SetIntProp("TN", 99), EIxa);
    ASSERT_TRUE(WaitFor([&] { return Has(form->ShownText(), "Error 3  [error reply]"); }));
    EXPECT_FALSE(Has(form->ShownText(), "polling"));
    form->HidePollingBox->click();
    EXPECT_TRUE(Has(form->ShownText(), "polling"));

    // Save writes what is shown.
    const QString file = SettingsDir.filePath("traffic.txt");
    Dialogs->AnswerNextFile(file);
    form->HidePollingBox->click();
    form->SaveButton->click();
    ASSERT_EQ(Dialogs->Files.size(), 1u);
    EXPECT_TRUE(Dialogs->Files[0].Save);
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLatin1(saved.readAll()), form->ShownText() + "\n");

    // Pause keeps nothing new; Clear empties; Resume takes lines again.
    form->PauseButton->click();
    EXPECT_EQ(form->PauseButton->text(), "&Resume");
    form->ClearButton->click();
    EXPECT_EQ(form->ShownText(), "");
    panel.Link->GetControllerName();
    form->Refresh();
    EXPECT_EQ(form->ShownText(), "");
    EXPECT_EQ(form->StatusText->text(), "0 lines, paused");
    form->PauseButton->click();
    panel.Link->GetControllerName();
    form->Refresh();
    EXPECT_EQ(form->ShownText().split('\n').size(), 4);

    // Closed, the window no longer listens; its lines stay for the next opening.
    form->CloseButton->click();
    EXPECT_FALSE(form->isVisible());
    const uint64_t kept = form->Log.NextSequence();
    panel.Link->GetControllerName();
    EXPECT_EQ(form->Log.NextSequence(), kept);
    panel.TrafficLogItem->trigger();
    EXPECT_EQ(panel.TrafficLogWindow, form);
    EXPECT_EQ(form->ShownText().split('\n').size(), 4);
}

TEST_F(LineWindows, NetworkScanFindsTheUnitsAndUseSwitchesThePanel) {
    TKorvaControlPanel& panel = Online(Bus({0, 3, 7}));
    ASSERT_EQ(panel.OnlineStatus->text(), "IXA Cell 1");
    bool ran = false;
    QTimer::singleShot(0, [&] {
        ran = true;
        auto* form = dynamic_cast<TNetworkForm*>(panel.NetworkWindow);
        ASSERT_NE(form, nullptr);
        EXPECT_FALSE(form->UseButton->isEnabled());
        Sim->ClearReceived();
        form->ScanButton->click();
        EXPECT_TRUE(form->Scanning());
        EXPECT_FALSE(form->ScanButton->isEnabled());
        ASSERT_TRUE(WaitFor([&] { return !form->Scanning(); }, 8000));
        EXPECT_EQ(form->StatusText->text(), "3 units found.");
        EXPECT_EQ(form->Progress->value(), 16);
        ASSERT_EQ(form->UnitList->topLevelItemCount(), 3);
        const char* rows[][4] = {{"0", "IXA Cell 1", "4.2", "Deburring Spindle"},
                                 {"3", "IXA Cell 2", "4.2", "Gripper"},
                                 {"7", "IXA Cell 3", "4.2", "Sanding Head"}};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(form->UnitList->topLevelItem(r)->text(c), rows[r][c]) << r << "," << c;
        // Nothing but the probes went out: the monitor was paused for the whole scan (it may have
        // polled again since it ended).
        std::vector<std::string> probes;
        for (int address = 0; address < 16; ++address) {
            probes.push_back(std::to_string(address) + ":VER?");
            if (address == 0 || address == 3 || address == 7) {
                probes.push_back(std::to_string(address) + ":CN?");
                probes.push_back(std::to_string(address) + ":TT?");
            }
        }
        // (A poll already on the line when the scan asked for the pause is answered first.)
        auto sent = Sim->Received();
        const auto first = std::find(sent.begin(), sent.end(), "0:VER?");
        ASSERT_GE(sent.end() - first, std::ptrdiff_t(probes.size()));
        EXPECT_EQ(std::vector<std::string>(first, first + std::ptrdiff_t(probes.size())), probes);

        form->UnitList->setCurrentItem(form->UnitList->topLevelItem(2));
        ASSERT_TRUE(form->UseButton->isEnabled());
        form->UseButton->click();
    });
    panel.NetworkItem->trigger();
    ASSERT_TRUE(ran);
    EXPECT_EQ(panel.NetworkWindow, nullptr);
    EXPECT_EQ(panel.Link->Address, 7);
    EXPECT_EQ(panel.AddressUpDown->Position(), 7);
    EXPECT_EQ(panel.AddressText->text(), "7");
    EXPECT_TRUE(WaitFor([&] { return panel.OnlineStatus->text() == "IXA Cell 3"; }));
    // Polling goes on, at the new address.
    Sim->ClearReceived();
    EXPECT_TRUE(WaitFor([&] {
        const auto lines = Sim->Received();
        return std::any_of(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("7:", 0) == 0; });
    }));
}

TEST_F(LineWindows, NetworkScanCancelsAndClosingEndsIt) {
    TKorvaControlPanel& panel = Online(Bus({0, 3, 7}));
    bool ran = false;
    QTimer::singleShot(0, [&] {
        ran = true;
        auto* form = dynamic_cast<TNetworkForm*>(panel.NetworkWindow);
        ASSERT_NE(form, nullptr);
        form->ScanButton->click();
        ASSERT_TRUE(WaitFor([&] { return form->Progress->value() >= 2; }, 5000));
        form->CancelButton->click();
        ASSERT_TRUE(WaitFor([&] { return !form->Scanning(); }, 3000));
        EXPECT_TRUE(form->StatusText->text().startsWith("Cancelled after address "))
            << form->StatusText->text().toStdString();
        EXPECT_LT(form->Progress->value(), 16);
        EXPECT_TRUE(form->ScanButton->isEnabled());

        // Closing in the middle of a scan ends it and lets the monitor go on.
        form->ScanButton->click();
        ASSERT_TRUE(form->Scanning());
        form->CloseButton->click();
        EXPECT_FALSE(form->Scanning());
    });
    panel.NetworkItem->trigger();
    ASSERT_TRUE(ran);
    EXPECT_EQ(panel.Link->Address, 0);
    Sim->ClearReceived();
    EXPECT_TRUE(WaitFor([&] { return !Sim->Received().empty(); }, 2000)); // polling again
    // Online at the old address: a pause that fell inside the monitor's refresh makes it shake hands
    // again once resumed, and the link is down for that handshake.
    EXPECT_TRUE(
        WaitFor([&] { return panel.Link->Connected && panel.OnlineStatus->text() == "IXA Cell 1"; }, 5000));
}

TEST_F(LineWindows, OfflineHintNamesTheAddress) {
    StartSimulator(Bus({3}));
    TKorvaControlPanel& panel = OpenPanel();
    EXPECT_EQ(panel.OfflineReason(), "No answer at address 0 on " + QString::fromStdString(Sim->SlavePath()));
    panel.UseNetworkAddress(5);
    EXPECT_EQ(panel.OfflineReason(), "No answer at address 5 on " + QString::fromStdString(Sim->SlavePath()));
    panel.UseNetworkAddress(3);
    EXPECT_TRUE(WaitFor([&] { return panel.OfflineReason().isEmpty(); }, 5000)); // the monitor's next pass
}

} // namespace
