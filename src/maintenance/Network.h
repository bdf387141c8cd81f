#pragma once
// TNetworkForm: the units on the RS-485 network behind the port (Maintenance > Network...). Scan
// probes addresses 0 to 15 (bus/BusScan.h) on a thread of its own and lists each unit that answers
// with its address, controller name, version and tool type, as it is found; the unit at the
// address the control panel shows (the link's address when the scan began) is marked, in bold with
// "(panel)" after its address. Cancel ends the scan
// after the probe in progress. Use hands the chosen unit's address to OnUse and closes the window.
//
// The monitor's polling is paused from the start of a scan until its thread has ended, as the
// terminal pauses it; closing the window during a scan cancels it first.
//
// Threads: main thread only; the scan's thread reaches the window only through queued calls.

#include "bus/BusScan.h"
#include "monitor/Ixamonitor.h"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>
#include <thread>

class TNetworkForm : public QDialog {
public:
    TNetworkForm(QWidget* owner, TIxaInterface& link, TIxaMonitor& monitor, TBusScanOptions options = {});
    ~TNetworkForm() override;

    bool Scanning() const { return Scan.joinable(); }
    // The address of the unit chosen in the list, or -1.
    int ChosenAddress() const;

    std::function<void(int address)> OnUse;

    QTreeWidget* UnitList;
    QProgressBar* Progress;
    QLabel* StatusText;
    QPushButton* ScanButton;
    QPushButton* CancelButton;
    QPushButton* UseButton;
    QPushButton* CloseButton;

protected:
    void reject() override;

private:
    void ScanButtonClick();
    void CancelButtonClick();
    void UseButtonClick();
    void Probed(int address, const TBusUnit* unit);
    void Finished(const QString& failure);
    void EndScan();
    void UpdateButtons();

    TIxaInterface& Link;
    TIxaMonitor& Monitor;
    const TBusScanOptions Options;
    std::jthread Scan;
    int Found = 0;
    int LastProbed = -1;
    int PanelAddress = -1; // the link's address when the scan began
    bool Cancelled = false;
};
