#pragma once
// TTrendLauncher: the main window's Maintenance > Trend... item and the one trend window it shows.
// The panel owns it and hands it the monitor's deliveries (TrendFeed) and the link's coming and
// going (TrendOnline); it keeps the values delivered since the link came up, so that a window opened
// later starts from them. Closed, the window is freed and no history is kept.
//
// Threads: main thread only, like the panel's monitor event handlers that call it.
// Lifetime: lives as long as the panel; the trend window is the panel's child.

#include "record/TrendHistory.h"

#include <QPointer>

class QAction;
class TKorvaControlPanel;
class TTrendForm;

class TTrendLauncher {
public:
    explicit TTrendLauncher(TKorvaControlPanel& panel) : Panel(panel) {}
    TTrendLauncher(const TTrendLauncher&) = delete;
    TTrendLauncher& operator=(const TTrendLauncher&) = delete;

    // At the end of the panel's Maintenance menu.
    void CreateTrendItem();
    void TrendItemClick();
    void TrendFeed(TTrendChannel channel, double value);
    void TrendOnline(bool online);

    QAction* TrendItem = nullptr;
    QPointer<TTrendForm> TrendWindow;
    // The values delivered since the link came up: the window starts from them when it opens.
    TTrendValues TrendHeld = NoTrendValues();

private:
    TKorvaControlPanel& Panel;
};
