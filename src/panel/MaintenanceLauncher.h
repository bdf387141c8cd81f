#pragma once
// TMaintenanceLauncher: the main window's Maintenance menu items for the line, after the trend: the
// traffic log (modeless, one window, made at the first use and kept until the panel goes) and the
// RS-485 network (modal, one per use, whose Use switches the panel to a unit's address). Their items
// close the Maintenance menu.
//
// Threads: main thread only.
// Lifetime: lives as long as the panel; the panel frees the traffic log after its link
// (DestroyLineWindows).

class QAction;
class QDialog;
class TKorvaControlPanel;

class TMaintenanceLauncher {
public:
    explicit TMaintenanceLauncher(TKorvaControlPanel& panel) : Panel(panel) {}
    TMaintenanceLauncher(const TMaintenanceLauncher&) = delete;
    TMaintenanceLauncher& operator=(const TMaintenanceLauncher&) = delete;

    void CreateLineItems();
    void TrafficLogItemClick();
    void NetworkItemClick();
    // Switches the panel to a unit's address as the address spinner does.
    void UseNetworkAddress(int address);
    void DestroyLineWindows();

    QAction* TrafficLogItem = nullptr;
    QAction* NetworkItem = nullptr;
    QDialog* TrafficLogWindow = nullptr;
    QDialog* NetworkWindow = nullptr; // while it is open

private:
    TKorvaControlPanel& Panel;
};
