// The bus overview on the main window, against four simulated units on one line: every unit's
// values, the panel's unit marked, a silenced unit offline and back, stale rows while the polling is
// paused, a double click switching the panel, and no polling of the others once it is closed.

#include "maintenance/BusOverview.h"
#include "WaitFor.h"
#include "support/HelpKey.h"
#include "support/PanelTestSupport.h"

#include <QTest>

namespace {

using BusOverview = TPanelTest;

TEST_F(BusOverview, EveryUnitLiveSilencedMarkedAndBack) {
    sim::TSimOptions options;
    options.Units = {0, 3, 7, 12};
    StartSimulator(options);
    TBusOverviewForm::KeepScannedUnits(Sim->SlavePath(), {0, 3, 7, 12});
    Sim->SetUnitParameter(7, "CF", "17.000");
    TKorvaControlPanel& panel = OpenPanel();
    ASSERT_TRUE(WaitOnline());
    auto* item = panel.MaintenanceMenu->findChild<QAction*>("BusOverviewItem");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "&Bus Overview...");
    item->trigger();
    auto* form = dynamic_cast<TBusOverviewForm*>(panel.Maintenance.BusOverviewWindow);
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isModal());
    EXPECT_EQ(form->UnitsEdit->text(), "0,3,7,12");
    ExpectF1AsksFor(form, BusOverviewHelpContext);

    auto cell = [&](int address, const char* column) { return form->Cell(address, column).toStdString(); };
    ASSERT_TRUE(WaitFor(
        [&] {
            return cell(3, "Online") == "Online" && cell(7, "Online") == "Online" &&
                   cell(12, "Online") == "Online";
        },
        8000));
    EXPECT_EQ(cell(0, "Address"), "0  (panel)");
    EXPECT_EQ(cell(7, "Command Force"), "17.000");
    EXPECT_EQ(cell(7, "Name"), "IXA Cell 3");
    EXPECT_EQ(cell(12, "Tool"), "3");
    EXPECT_EQ(cell(3, "Mode"), "Force");
    EXPECT_EQ(cell(3, "Active"), "Retracted");

    // Silenced: offline within a few seconds, the others go on; answering again: back.
    Sim->SetUnitSilent(7, true);
    EXPECT_TRUE(WaitFor([&] { return cell(7, "Online") == "Offline"; }, 5000));
    EXPECT_EQ(cell(7, "Command Force"), "17.000"); // the last values stay
    EXPECT_EQ(cell(3, "Online"), "Online");
    Sim->SetUnitSilent(7, false);
    EXPECT_TRUE(WaitFor([&] { return cell(7, "Online") == "Online"; }, 7000));

    // No answers for a while: stale.
    panel.Monitor->SetPolling(false);
    EXPECT_TRUE(WaitFor([&] { return cell(3, "Online") == "Stale"; }, 6000));
    panel.Monitor->SetPolling(true);
    EXPECT_TRUE(WaitFor([&] { return cell(3, "Online") == "Online"; }, 5000));

    // The technician's list: what is no address is left out, and it is kept for the port.
    form->UnitsEdit->setText("3, 12,x,3,99");
    form->ApplyButton->click();
    EXPECT_EQ(form->UnitsEdit->text(), "3,12");
    EXPECT_EQ(TBusOverviewForm::KeptUnits(Sim->SlavePath()), (std::vector<int>{3, 12}));
    EXPECT_EQ(cell(7, "Address"), "");

    // A double click switches the panel to the unit.
    form->Refresh();
    QTreeWidgetItem* row = nullptr;
    for (int i = 0; i < form->UnitList->topLevelItemCount(); ++i)
        if (form->UnitList->topLevelItem(i)->data(0, Qt::UserRole).toInt() == 12)
            row = form->UnitList->topLevelItem(i);
    ASSERT_NE(row, nullptr);
    emit form->UnitList->itemDoubleClicked(row, 0);
    EXPECT_EQ(panel.Link->Address, 12);
    EXPECT_EQ(panel.AddressUpDown->Position(), 12);
    EXPECT_TRUE(WaitFor([&] { return panel.OnlineStatus->text() == "IXA Cell 4"; }, 8000));

    // Closed: the others are no longer asked.
    form->close();
    WaitFor([] { return false; }, 600); // an exchange in progress ends
    Sim->ClearReceived();
    WaitFor([] { return false; }, 1500);
    for (const std::string& line : Sim->Received())
        EXPECT_EQ(line.rfind("12:", 0), 0u) << line;
}

} // namespace
