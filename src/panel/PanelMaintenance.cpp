// The Maintenance menu's windows: the terminal, the diagnostics window, the traffic log and the
// network.
#include "maintenance/BusOverview.h"
#include "maintenance/Diagnostics.h"
#include "maintenance/Network.h"
#include "maintenance/Terminal.h"
#include "maintenance/TrafficLog.h"
#include "panel/Panel.h"
#include "toolkit/Application.h"

#include <memory>

void TKorvaControlPanel::TerminalItemClick() {
    auto form = std::make_unique<TTerminalForm>(this, Port.get());
    TerminalForm = form.get();
    // The terminal talks to the port directly: no polling may share the line meanwhile.
    Monitor->SetPolling(false);
    try {
        form->exec();
    } catch (...) {
        form.reset();
        Monitor->SetPolling(true);
        throw;
    }
    form.reset();
    Monitor->SetPolling(true);
}

void TKorvaControlPanel::DiagnosticsItemClick() {
    if (!DiagnosticsWindow)
        return;
    DiagnosticsWindow->show(); // a visible window is not shown again: its selectors stay as they are
    DiagnosticsWindow->raise();
    DiagnosticsWindow->activateWindow();
}

void TKorvaControlPanel::CreateMaintenanceWindows() {
    DiagnosticsForm = new TDiagnosticsForm(this, *Monitor);
    DiagnosticsWindow = DiagnosticsForm;
}

void TKorvaControlPanel::DestroyMaintenanceWindows() {
    delete DiagnosticsWindow; // also clears DiagnosticsForm
    DiagnosticsWindow = nullptr;
    delete TrafficLogWindow; // after the link: it leaves the link alone when freed
    TrafficLogWindow = nullptr;
}

void TKorvaControlPanel::CreateLineItems() {
    TrafficLogItem = MaintenanceMenu->addAction("Traffic &Log...", this,
                                                [this] { GuardedCall([this] { TrafficLogItemClick(); }); });
    QAction* busOverview = MaintenanceMenu->addAction("&Bus Overview...", this, [this] {
        GuardedCall([this] {
            if (!BusOverviewWindow) {
                auto* form = new TBusOverviewForm(nullptr, *Monitor);
                form->OnUse = [this](int address) { UseNetworkAddress(address); };
                BusOverviewWindow = form;
            }
            BusOverviewWindow->show();
            BusOverviewWindow->raise();
            BusOverviewWindow->activateWindow();
        });
    });
    busOverview->setObjectName("BusOverviewItem");
    NetworkItem = MaintenanceMenu->addAction("&Network...", this,
                                             [this] { GuardedCall([this] { NetworkItemClick(); }); });
}

void TKorvaControlPanel::TrafficLogItemClick() {
    // A top-level window of its own, so that the network window, modal to this one, leaves it usable
    // during a scan; freed with the maintenance windows.
    if (!TrafficLogWindow)
        TrafficLogWindow = new TTrafficLogForm(nullptr, *Link);
    TrafficLogWindow->show();
    TrafficLogWindow->raise();
    TrafficLogWindow->activateWindow();
}

void TKorvaControlPanel::NetworkItemClick() {
    auto form = std::make_unique<TNetworkForm>(this, *Link, *Monitor);
    form->OnUse = [this](int address) { UseNetworkAddress(address); };
    NetworkWindow = form.get();
    struct TForget {
        QDialog*& Window;
        ~TForget() { Window = nullptr; }
    } forget{NetworkWindow};
    form->exec();
}

void TKorvaControlPanel::UseNetworkAddress(int address) {
    AddressUpDown->SetPosition(address);
    AddressUpDownClick(btNext);
}

void TKorvaControlPanel::ShowMaintenanceOffline() {
    if (DiagnosticsForm && DiagnosticsForm->isVisible())
        DiagnosticsForm->ShowLinkLost();
}
