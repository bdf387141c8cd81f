// The Maintenance menu's line windows: the traffic log, the bus overview and the network.
#include "panel/MaintenanceLauncher.h"
#include "maintenance/BusOverview.h"
#include "maintenance/Network.h"
#include "maintenance/TrafficLog.h"
#include "panel/Panel.h"
#include "toolkit/Application.h"

#include <memory>

void TMaintenanceLauncher::DestroyLineWindows() {
    delete TrafficLogWindow; // after the link: it leaves the link alone when freed
    TrafficLogWindow = nullptr;
}

void TMaintenanceLauncher::DestroyBusOverview() {
    delete BusOverviewWindow;
    BusOverviewWindow = nullptr;
}

void TMaintenanceLauncher::CreateLineItems() {
    TrafficLogItem = Panel.MaintenanceMenu->addAction(
        "Traffic &Log...", &Panel, [this] { GuardedCall([this] { TrafficLogItemClick(); }); });
    BusOverviewItem = Panel.MaintenanceMenu->addAction(
        "&Bus Overview...", &Panel, [this] { GuardedCall([this] { BusOverviewItemClick(); }); });
    BusOverviewItem->setObjectName("BusOverviewItem");
    NetworkItem = Panel.MaintenanceMenu->addAction("&Network...", &Panel,
                                                   [this] { GuardedCall([this] { NetworkItemClick(); }); });
}

void TMaintenanceLauncher::BusOverviewItemClick() {
    if (!BusOverviewWindow) {
        auto* form = new TBusOverviewForm(nullptr, *Panel.Monitor);
        form->OnUse = [this](int address) { UseNetworkAddress(address); };
        BusOverviewWindow = form;
    }
    BusOverviewWindow->show();
    BusOverviewWindow->raise();
    BusOverviewWindow->activateWindow();
}

void TMaintenanceLauncher::TrafficLogItemClick() {
    // A top-level window of its own, so that the network window, modal to the panel, leaves it usable
    // during a scan; freed with the maintenance windows.
    if (!TrafficLogWindow)
        TrafficLogWindow = new TTrafficLogForm(nullptr, *Panel.Link);
    TrafficLogWindow->show();
    TrafficLogWindow->raise();
    TrafficLogWindow->activateWindow();
}

void TMaintenanceLauncher::NetworkItemClick() {
    auto form = std::make_unique<TNetworkForm>(&Panel, *Panel.Link, *Panel.Monitor);
    form->OnUse = [this](int address) { UseNetworkAddress(address); };
    NetworkWindow = form.get();
    struct TForget {
        QDialog*& Window;
        ~TForget() { Window = nullptr; }
    } forget{NetworkWindow};
    form->exec();
}

void TMaintenanceLauncher::UseNetworkAddress(int address) {
    // One deliberate choice, not a run of steps: no wait.
    Panel.SwitchToAddress(address);
}
