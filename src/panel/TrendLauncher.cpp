// The Maintenance menu's trend window and the panel's deliveries to it.
#include "panel/TrendLauncher.h"
#include "panel/Panel.h"
#include "toolkit/Application.h"
#include "toolkit/SingleInstance.h"
#include "toolkit/Text.h"
#include "trend/Trend.h"

void TTrendLauncher::CreateTrendItem() {
    // At the end of the menu it joins.
    TrendItem = Panel.MaintenanceMenu->addAction("T&rend...", &Panel,
                                                 [this] { GuardedCall([this] { TrendItemClick(); }); });
    TrendItem->setObjectName("TrendItem");
}

void TTrendLauncher::TrendItemClick() {
    if (!TrendWindow) {
        // The name the status field shows online is the controller's, read at the connect.
        TrendWindow = new TTrendForm(&Panel, *Panel.Monitor, TrendHeld,
                                     [&panel = Panel] { return ToAnsi(panel.OnlineStatus->text()); });
    }
    RestoreAndRaise(TrendWindow);
}

void TTrendLauncher::TrendFeed(TTrendChannel channel, double value) {
    TrendHeld[static_cast<size_t>(channel)] = value;
    if (TrendWindow)
        TrendWindow->Deliver(channel, value);
}

void TTrendLauncher::TrendOnline(bool online) {
    TrendHeld = NoTrendValues();
    if (!TrendWindow)
        return;
    if (online)
        TrendWindow->Connect();
    else
        TrendWindow->Disconnect();
}
