// The line's windows on the main window: the traffic log (what it shows, the polling filter, pause,
// clear, save, no listening while closed) and the network (scan with the monitor paused, cancel,
// "Use" switching the panel), and the offline hint naming the address.

#include "../support/HelpKey.h"
#include "WaitFor.h"
#include "maintenance/Network.h"
#include "maintenance/TrafficLog.h"
#include "support/PanelTestSupport.h"

#include <QDate>
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
    EXPECT_EQ(panel.MaintenanceMenu->actions().back(), panel.Maintenance.NetworkItem);
    panel.Maintenance.TrafficLogItem->trigger();
    auto* form = dynamic_cast<TTrafficLogForm*>(panel.Maintenance.TrafficLogWindow);
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
    // A header saying when, where and what, an empty line, then the lines shown with the date.
    const QStringList savedLines = QString::fromLatin1(saved.readAll()).split('\n');
    const int blank = static_cast<int>(savedLines.indexOf(""));
    ASSERT_GT(blank, 0);
    const QStringList header = savedLines.mid(0, blank);
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_EQ(header[0], "Korva Windows traffic log");
    EXPECT_TRUE(header.contains("Port:       " + QString::fromStdString(Sim->SlavePath())))
        << header.join('|').toStdString();
    EXPECT_TRUE(header.contains("Address:    0"));
    EXPECT_TRUE(header.contains("Controller: \"IXA Cell 1\", version 4.20"))
        << header.join('|').toStdString();
    EXPECT_TRUE(header.contains(QString("Console:    Korva Windows ") + TKorvaControlPanel::VersionText));
    EXPECT_TRUE(std::any_of(header.begin(), header.end(),
                            [&](const QString& l) { return l.startsWith("Saved:      " + today); }));
    QStringList body = savedLines.mid(blank + 1);
    ASSERT_EQ(body.takeLast(), ""); // the last line ends too
    const QStringList shown = form->ShownText().split('\n');
    ASSERT_EQ(body.size(), shown.size());
    for (int i = 0; i < shown.size(); ++i)
        EXPECT_EQ(body[i].mid(0, 11), today + " ");
    for (int i = 0; i < shown.size(); ++i)
        EXPECT_EQ(body[i].mid(11), shown[i]) << i;

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
    panel.Maintenance.TrafficLogItem->trigger();
    EXPECT_EQ(panel.Maintenance.TrafficLogWindow, form);
    EXPECT_EQ(form->ShownText().split('\n').size(), 4);
}

// The link lost and regained shows among the lines, with the reason, whatever the filter.
TEST_F(LineWindows, TrafficLogMarksTheLinkLostAndRegained) {
    TKorvaControlPanel& panel = Online();
    panel.Maintenance.TrafficLogItem->trigger();
    auto* form = dynamic_cast<TTrafficLogForm*>(panel.Maintenance.TrafficLogWindow);
    ASSERT_NE(form, nullptr);
    form->HidePollingBox->click();
    Sim->InjectFault(sim::TSimFault::Silent, -1);
    ASSERT_TRUE(WaitFor([&] { return panel.OnlineStatus->text() == "Offline"; }, 8000));
    ASSERT_TRUE(WaitFor([&] { return Has(form->ShownText(), "link lost"); }, 2000));
    EXPECT_TRUE(Has(form->ShownText(), "  link      *** link lost: time-out"))
        << form->ShownText().toStdString();
    EXPECT_FALSE(Has(form->ShownText(), "regained"));
    Sim->ClearFaults();
    ASSERT_TRUE(WaitOnline());
    ASSERT_TRUE(WaitFor([&] { return Has(form->ShownText(), "regained"); }, 2000));
    EXPECT_TRUE(Has(form->ShownText(), "  link      *** link regained: controller version 4.20, address 0"))
        << form->ShownText().toStdString();
    // Each once, in that order.
    const QString text = form->ShownText();
    EXPECT_EQ(text.count("link lost"), 1) << text.toStdString();
    EXPECT_EQ(text.count("link regained"), 1);
    EXPECT_LT(text.indexOf("link lost"), text.indexOf("link regained"));
    form->close();
}

TEST_F(LineWindows, F1InTheTrafficLogAndTheNetworkOpensTheirPages) {
    TKorvaControlPanel& panel = Online();
    panel.Maintenance.TrafficLogItem->trigger();
    ASSERT_NE(panel.Maintenance.TrafficLogWindow, nullptr);
    ExpectF1AsksFor(panel.Maintenance.TrafficLogWindow, TrafficLogHelpContext);
    panel.Maintenance.TrafficLogWindow->close();
    bool ran = false;
    QTimer::singleShot(0, [&] {
        ran = true;
        ASSERT_NE(panel.Maintenance.NetworkWindow, nullptr);
        ExpectF1AsksFor(panel.Maintenance.NetworkWindow, NetworkHelpContext);
        panel.Maintenance.NetworkWindow->reject();
    });
    panel.Maintenance.NetworkItem->trigger();
    EXPECT_TRUE(ran);
}

TEST_F(LineWindows, NetworkScanFindsTheUnitsAndUseSwitchesThePanel) {
    TKorvaControlPanel& panel = Online(Bus({0, 3, 7}));
    ASSERT_EQ(panel.OnlineStatus->text(), "IXA Cell 1");
    bool ran = false;
    QTimer::singleShot(0, [&] {
        ran = true;
        auto* form = dynamic_cast<TNetworkForm*>(panel.Maintenance.NetworkWindow);
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
        // The panel's unit (address 0) is marked.
        const char* rows[][4] = {{"0  (panel)", "IXA Cell 1", "4.2", "Deburring Spindle"},
                                 {"3", "IXA Cell 2", "4.2", "Gripper"},
                                 {"7", "IXA Cell 3", "4.2", "Sanding Head"}};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(form->UnitList->topLevelItem(r)->text(c), rows[r][c]) << r << "," << c;
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(form->UnitList->topLevelItem(r)->font(1).bold(), r == 0) << r;
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
    panel.Maintenance.NetworkItem->trigger();
    ASSERT_TRUE(ran);
    EXPECT_EQ(panel.Maintenance.NetworkWindow, nullptr);
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

    // Scanned again, the mark follows the panel to its new unit.
    bool again = false;
    QTimer::singleShot(0, [&] {
        again = true;
        auto* form = dynamic_cast<TNetworkForm*>(panel.Maintenance.NetworkWindow);
        ASSERT_NE(form, nullptr);
        form->ScanButton->click();
        ASSERT_TRUE(WaitFor([&] { return !form->Scanning(); }, 8000));
        ASSERT_EQ(form->UnitList->topLevelItemCount(), 3);
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(form->UnitList->topLevelItem(r)->font(1).bold(), r == 2) << r;
        EXPECT_EQ(form->UnitList->topLevelItem(2)->text(0), "7  (panel)");
        EXPECT_EQ(form->UnitList->topLevelItem(0)->text(0), "0");
        form->CloseButton->click();
    });
    panel.Maintenance.NetworkItem->trigger();
    EXPECT_TRUE(again);
}

TEST_F(LineWindows, NetworkScanCancelsAndClosingEndsIt) {
    TKorvaControlPanel& panel = Online(Bus({0, 3, 7}));
    bool ran = false;
    QTimer::singleShot(0, [&] {
        ran = true;
        auto* form = dynamic_cast<TNetworkForm*>(panel.Maintenance.NetworkWindow);
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
    panel.Maintenance.NetworkItem->trigger();
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
    panel.Maintenance.UseNetworkAddress(5);
    EXPECT_EQ(panel.OfflineReason(), "No answer at address 5 on " + QString::fromStdString(Sim->SlavePath()));
    panel.Maintenance.UseNetworkAddress(3);
    EXPECT_TRUE(WaitFor([&] { return panel.OfflineReason().isEmpty(); }, 5000)); // the monitor's next pass
}

} // namespace
