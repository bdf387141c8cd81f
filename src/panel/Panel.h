#pragma once
// TKorvaControlPanel: the main window. It owns, for the life of the process, the serial port, the
// controller link on it and the monitor thread on that link, and mirrors the controller's live state
// (force, position, orientation, tool, mode, link status) in its controls.
//
// Threads: main thread only. The monitor's events reach the display handlers through its
// main-thread calls, so every handler below runs on the main thread; an error a handler raises goes
// back to the monitor, which drops it (the display stays partly updated until the next delivery).
//
// Lifetime: the destructor writes the "CommPort" setting, stops the monitor (serving its pending
// calls), then frees the link and closes the port, in that order.

#include "config/ConfigBackups.h"
#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "monitor/Ixamonitor.h"
#include "panel/AddressWait.h"
#include "panel/FileLauncher.h"
#include "panel/MaintenanceLauncher.h"
#include "panel/PlantBroker.h"
#include "panel/TrendLauncher.h"
#include "record/TrendHistory.h"
#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"
#include "widgets/Artificialhorizon.h"
#include "widgets/Cgauges.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <limits>
#include <memory>

class TKorvaControlPanel : public QMainWindow {
public:
    static constexpr const char* VersionText = KORVA_VERSION_TEXT;
    static constexpr int ClientWidth = 413;
    static constexpr int ClientHeight = 378;

    // portOverride: open this port instead of the stored one. The stored setting is kept as it was,
    // through Program Options OK too, until another port is chosen there.
    explicit TKorvaControlPanel(QWidget* owner = nullptr, const AnsiString& portOverride = "");
    ~TKorvaControlPanel() override;

    // Settings ("CommPort").
    void LoadSettings();
    void SaveSettings();

    // Monitor event handlers (all on the main thread).
    void MonitorConnect();
    void MonitorDisconnect();
    void MonitorToolConnect();
    void MonitorToolDisconnect();
    void ShowCommandValue(double value);
    void ShowActualForce(double value);
    void ShowPosition(double value);
    void ShowOrientation(double acceleration);
    void ShowToolWeight(double weight);
    void ShowActive(bool active);
    void ShowToolNumber(int number);
    void ShowMode(int mode);

    // Display helpers, also used by the commands and the setup dialogs.
    void SetupCommandBar();
    void SetupForceGauge();
    void SetupPositionGauge();
    void UpdateModeGroup();
    // The tool type into its status field (a failed read shows there as its message).
    void ReadToolType();

    // Why the panel is offline, as the status field's tooltip shows it; empty while online.
    QString OfflineReason() const;

    // The status bar: the link's state and why ("Online", or "Offline: " and the tooltip's reason), the
    // port and address, "Simulator" for a controller simulated in the process, and "Not saved" while
    // the controller holds writes of this console that are not saved. Refreshed by a timer too, since
    // the reason changes without an event of the monitor.
    void CreateStatusBar();
    void UpdateStatusBar();
    void SetSimulated(bool simulated);
    bool Simulated = false;
    QLabel* LinkStateText = nullptr;
    QLabel* PortText = nullptr;
    QLabel* SimulatorText = nullptr;
    QLabel* UnsavedText = nullptr;
    // File > Save to Controller: "SC", whatever the dialogs asked before.
    QAction* SaveToControllerItem = nullptr;

    // Brings the window back when a second start asked for it: restore if minimised, then raise.
    void WakeFromSecondInstance();
    // Keeps text and shows it with ShowError once the event in progress has returned.
    void PostToolNumberError(const QString& text);

    // Own members, in the order the window keeps them.
    AnsiString CommPortName;
    AnsiString PortOverride; // the port in use instead of CommPortName; empty when none
    std::unique_ptr<TCommPort> Port;
    std::unique_ptr<TIxaInterface> Link;
    std::unique_ptr<TIxaMonitor> Monitor;
    TArtificialHorizon* Horizon = nullptr;
    bool Updating = false;
    int32_t PosLimitTicks = 0;
    int32_t NegLimitTicks = 0;
    // The ends of the command bar's scale as read (not-a-number while unknown): a typed command is
    // checked against these, not against the bar's step counts.
    double CommandLow = std::numeric_limits<double>::quiet_NaN();
    double CommandHigh = std::numeric_limits<double>::quiet_NaN();
    bool ToolShown = false; // the display shows a tool (between tool connect and disconnect)
    QString ToolNumberErrorText;

    // Menus.
    QMenu* FileMenu = nullptr;
    QMenu* SetupMenu = nullptr;
    QMenu* MaintenanceMenu = nullptr;
    QMenu* HelpMenu = nullptr;

    // The configuration files' dialogs (their last name is offered again).
    TFileDialogSpec IxaUploadDialog;
    TFileDialogSpec IxaDownloadDialog;

    // Controls of the form.
    QWidget* Client = nullptr;
    TBevel* Bevel1 = nullptr;
    TStaticText* CommandBarLabel1 = nullptr;
    TStaticText* CommandBarLabel2 = nullptr;
    TStaticText* CommandBarMax = nullptr;
    TStaticText* CommandBarMid = nullptr;
    TStaticText* CommandBarMin = nullptr;
    TCGauge* CommandGauge = nullptr;
    QScrollBar* CommandBar = nullptr;
    TStaticText* CommandValue = nullptr;
    TEdit* CommandEdit = nullptr;
    TStaticText* CommandBarUnits = nullptr;
    TStaticText* ForceGaugeLabel1 = nullptr;
    TStaticText* ForceGaugeLabel2 = nullptr;
    TStaticText* ForceGaugeMax = nullptr;
    TStaticText* ForceGaugeMid = nullptr;
    TStaticText* ForceGaugeMin = nullptr;
    TCGauge* ForceGauge = nullptr;
    TStaticText* ForceGaugeValue = nullptr;
    TStaticText* ForceGaugeUnits = nullptr;
    TStaticText* PositionGaugeLabel1 = nullptr;
    TStaticText* PositionGaugeLabel2 = nullptr;
    TStaticText* PositionGaugeMax = nullptr;
    TStaticText* PositionGaugeMid = nullptr;
    TStaticText* PositionGaugeMin = nullptr;
    TCGauge* PositionGauge = nullptr;
    TLineShape* PosLimitLine = nullptr;
    TLineShape* NegLimitLine = nullptr;
    TStaticText* PositionGaugeValue = nullptr;
    TStaticText* PositionGaugeUnits = nullptr;
    TBevel* Bevel6 = nullptr;
    TStaticText* ActiveLabel = nullptr;
    QPushButton* ActiveButton = nullptr;
    TBevel* Bevel3 = nullptr;
    TStaticText* ToolNumberLabel1 = nullptr;
    TStaticText* ToolNumberLabel2 = nullptr;
    TStaticText* ToolNumberText = nullptr;
    TUpDown* ToolNumberUpDown = nullptr;
    TStaticText* ToolWeightLabel1 = nullptr;
    TStaticText* ToolWeightLabel2 = nullptr;
    TStaticText* ToolWeightValue = nullptr;
    TEdit* ToolWeightEdit = nullptr;
    TStaticText* ToolWeightUnits = nullptr;
    QPushButton* WeighButton = nullptr;
    TRadioGroup* ModeGroup = nullptr;
    QGroupBox* OrientationGroup = nullptr;
    TStaticText* OrientationValue = nullptr;
    TStaticText* StaticText6 = nullptr;
    TBevel* Bevel2 = nullptr;
    TStaticText* AddressLabel = nullptr;
    TStaticText* AddressText = nullptr;
    TUpDown* AddressUpDown = nullptr;
    QCheckBox* SerialOverrideBox = nullptr;
    TStaticText* OnlineStatus = nullptr;
    TStaticText* ToolTypeStatus = nullptr;

    // Operator commands
    void ActiveButtonClick();
    void WeighButtonClick();
    void ToolNumberUpDownChanging(bool& allowChange);
    void ToolNumberUpDownClick(TUDBtnType button);
    void CommandBarChange();
    void ModeGroupClick();
    void CommandValueClick();
    void CommandEditKeyPress(char& key);
    void CommandEditExit();
    void ToolWeightValueClick();
    void ToolWeightEditKeyPress(char& key);
    void ToolWeightEditExit();
    void SerialOverrideBoxClick();
    // A step of the address spinner: the switch waits until the steps stop (AddressWait).
    void AddressUpDownClick(TUDBtnType button);
    // The panel's unit is the one at address now: the spinner shows it, the link's Address is set
    // without sending anything to the old unit, then the handshake and the forced refresh. A step
    // still waiting is forgotten. Errors are not caught here.
    void SwitchToAddress(int address);
    std::unique_ptr<TAddressWait> AddressWait;
    // Saves the controller's configuration to non-volatile memory ("SC 1" when full, else "SC") behind
    // the busy window; does nothing while offline; a failed save is shown with ShowError.
    void SaveControllerConfig(bool full);
    void ConnectOperatorCommands();
    // (end of operator commands)

    // Configuration file commands
    void UploadIxaCfg();
    void UploadToolCfg();
    // Either upload into the file the operator names, behind the busy window, then says how many
    // lines went where.
    using TUploadToFile = void (TIxaInterface::*)(const AnsiString&, const TTransferProgress&);
    void UploadToFile(TUploadToFile upload);
    void DownloadToIxa();
    // The download after the file dialog: the whole file checked and the unit asked who it is (a
    // refused line is shown, nothing sent); a question for an active carriage and for each line
    // that would move or rename the unit (No leaves it out); the backup when the option asks for it;
    // the busy window with "line n of N", the save question (none after a move) and the refresh. A
    // line the controller refuses names what was applied and offers the backup back.
    void DownloadFile(const QString& fileName);
    void CreateFileCommandItems();
    QAction* IxaUploadIxaItem = nullptr;
    QAction* IxaUploadToolItem = nullptr;
    QAction* IxaDownloadItem = nullptr;
    // Compare and back up: File > Compare Configuration with File... and Back Up Controller, and the
    // backup before a download.
    TFileLauncher Files{*this};
    // (end of configuration file commands)

    // Setup dialogs (the menu items carry the form's item names as object names: "PositionLimitsItem",
    // "ContourModeItem", "ForceLevelsItem", "KorvaInterfaceItem" and "ProgramOptionsItem")
    void PositionLimitsItemClick();
    void ContourModeItemClick();
    void ForceLevelsItemClick();
    void KorvaInterfaceItemClick();
    void ProgramOptionsItemClick();
    // The Setup items, Maintenance > Program Options, File > Exit and the Help menu's items.
    void CreateDialogAndHelpItems();
    // (end of setup dialogs)

    // Maintenance windows
    QAction* TerminalItem = nullptr;
    QAction* DiagnosticsItem = nullptr;
    // The terminal, modal, with the monitor paused from before it shows until after it is destroyed.
    void TerminalItemClick();
    // Shows the one diagnostics window, or brings it to the front if it is already visible.
    void DiagnosticsItemClick();
    // The hidden diagnostics window, made at the end of construction and freed after the monitor.
    void CreateMaintenanceWindows();
    void DestroyMaintenanceWindows();
    // The link is gone: an open diagnostics window stops showing live lamps and values.
    void ShowMaintenanceOffline();
    // This window's diagnostics window (also the process-wide DiagnosticsForm).
    QWidget* DiagnosticsWindow = nullptr;
    // The line: Maintenance > Traffic Log... and Network...
    TMaintenanceLauncher Maintenance{*this};

    // Trend: Maintenance > Trend... and the monitor's deliveries to its window.
    TTrendLauncher Trend{*this};
    // (end of trend)

    // The plant broker (Program Options): its status field and the monitor's deliveries to it.
    TPlantBroker Broker{*this};

    // Help
    QAction* FileExitItem = nullptr;
    QAction* HelpContentsItem = nullptr;
    QAction* HelpSearchItem = nullptr;
    QAction* HelpHowToUseItem = nullptr;
    QAction* HelpAboutItem = nullptr;
    void HelpContents();
    void HelpSearch();
    void HelpHowToUse();
    void HelpAbout();
    void FileExit();
    // (end of help)

protected:
    void showEvent(QShowEvent* event) override;
    // The help viewer goes with the main window, so that the program ends.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateMenus();
    void CreateControls();
    void WireMonitor();
    void FormShow();
    void UpdateStatusTip();
};
