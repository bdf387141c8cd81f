#pragma once
// TBusOverviewForm: every unit of the RS-485 line at once (Maintenance > Bus Overview...). Modeless,
// resizable, its place kept in the settings. A row per unit: address, name, tool, online, active,
// mode, command force, actual force, position and the age of the values. The panel's own unit comes
// from the monitor's deliveries and is marked; the others from the bus poller (monitor/BusPoller.h),
// which the window gives the monitor while it is visible, so a console with the window closed puts
// nothing more on the wire. A row whose values are older than StaleMs is marked stale, a unit that
// did not answer offline. A double click hands the row's address to OnUse (the panel switches to it
// as its address spinner does).
//
// The units: the list in Units (addresses such as "0,3,7,12"), kept per port; the Network window's
// last complete scan of the port fills it (KeepScannedUnits), and the technician may edit it.
//
// Threads: main thread only; the poller's values reach the window through the monitor's main-thread
// event. Lifetime: the monitor must outlive the window.

#include "monitor/Ixamonitor.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class TBusOverviewForm : public QDialog {
public:
    static constexpr int RefreshMs = 500;
    static constexpr int StaleMs = 3000;

    TBusOverviewForm(QWidget* owner, TIxaMonitor& monitor);
    ~TBusOverviewForm() override;

    // The units kept for a port, and keeping a scan's result for it.
    static std::vector<int> KeptUnits(const AnsiString& port);
    static void KeepScannedUnits(const AnsiString& port, const std::vector<int>& addresses);

    // Rebuilds the rows from what is known (the timer's handler; tests call it directly).
    void Refresh();
    // The text of a cell, for tests: the row of an address, a column by its heading.
    QString Cell(int address, const QString& column) const;

    std::function<void(int address)> OnUse;

    QLineEdit* UnitsEdit;
    QPushButton* ApplyButton;
    QTreeWidget* UnitList;
    QLabel* StatusText;
    QPushButton* CloseButton;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void ApplyButtonClick();
    void UnitListDoubleClick(QTreeWidgetItem* item);
    void UnitValues(const TBusUnitValues& values);
    void Listen(bool on);
    AnsiString PortName() const;

    TIxaMonitor& Monitor;
    std::shared_ptr<TBusPoller> Poller;
    std::vector<int> Units;
    std::map<int, TBusUnitValues> Known;
    QTimer RefreshTimer;
    bool Listening = false;
};
