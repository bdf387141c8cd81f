// The Maintenance menu's trend window and the panel's deliveries to it.
#include "panel/Panel.h"
#include "toolkit/Application.h"
#include "toolkit/SingleInstance.h"
#include "toolkit/Text.h"
#include "trend/Trend.h"

void TKorvaControlPanel::CreateTrendItem() {
    // At the end of the menu it joins.
    TrendItem =
        MaintenanceMenu->addAction("T&rend...", this, [this] { GuardedCall([this] { TrendItemClick(); }); });
    TrendItem->setObjectName("TrendItem");
}

void TKorvaControlPanel::TrendItemClick() {
    if (!TrendWindow) {
        // The name the status field shows online is the controller's, read at the connect.
        TrendWindow =
            new TTrendForm(this, *Monitor, TrendHeld, [this] { return ToAnsi(OnlineStatus->text()); });
    }
    RestoreAndRaise(TrendWindow);
}

void TKorvaControlPanel::TrendFeed(TTrendChannel channel, double value) {
    TrendHeld[static_cast<size_t>(channel)] = value;
    if (TrendWindow)
        TrendWindow->Deliver(channel, value);
}

void TKorvaControlPanel::TrendOnline(bool online) {
    TrendHeld = NoTrendValues();
    if (!TrendWindow)
        return;
    if (online)
        TrendWindow->Connect();
    else
        TrendWindow->Disconnect();
}
