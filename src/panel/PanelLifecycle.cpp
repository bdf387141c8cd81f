// The main window from construction to destruction: settings, port, link, monitor, menus, the
// placing done when it shows, the second-start wake and the offline reason.

#include "panel/Panel.h"

#include <QStatusBar>
#include <QTimer>

#include "toolkit/Application.h"
#include "toolkit/HelpViewer.h"
#include "toolkit/Layout.h"
#include "toolkit/Placement.h"
#include "toolkit/Settings.h"
#include "toolkit/SingleInstance.h"
#include "toolkit/Text.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QHelpEvent>
#include <QLayout>
#include <QMenuBar>
#include <QToolTip>

TKorvaControlPanel::TKorvaControlPanel(QWidget* owner, const AnsiString& portOverride)
    : QMainWindow(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                             Qt::WindowCloseButtonHint) {
    setWindowTitle("Korva Windows Control Panel ");
    setFont(FormFont(8));
    CreateMenus();
    CreateControls();

    CommPortName.clear();
    Updating = false;

    Horizon = new TArtificialHorizon(OrientationGroup);
    Horizon->SetBorderStyle(bsNone);
    Horizon->SetForeColor(clr::Green);

    setWindowTitle(windowTitle() + VersionText);
    LoadSettings();
    TApplication::SetHelpFile(QDir(QCoreApplication::applicationDirPath()).filePath("KorvaWIN.HLP"));

    try {
        Port = std::make_unique<TCommPort>();
        Port->SetBaudRate(9600);
        Port->SetByteSize(8);
        Port->SetParity(0);
        Port->SetStopBits(0);
        PortOverride = portOverride;
        const AnsiString portName = portOverride.empty() ? CommPortName : portOverride;
        if (!portName.empty())
            Port->Open(portName); // a port that cannot be opened stays closed, silently
        Link = std::make_unique<TIxaInterface>(Port.get());
        Monitor = std::make_unique<TIxaMonitor>(*Link);
        WireMonitor();
    } catch (const ECommPort& error) {
        ShowError(ToQString(error.what()));
        // The commands assume a link and a monitor: go on with a closed port rather than none.
        if (!Port)
            Port = std::make_unique<TCommPort>();
        if (!Link)
            Link = std::make_unique<TIxaInterface>(Port.get());
        if (!Monitor) {
            Monitor = std::make_unique<TIxaMonitor>(*Link);
            WireMonitor();
        }
    }

    MonitorDisconnect();
    CommandBarUnits->setText(ToQString(Link->ForceUnits));
    ForceGaugeUnits->setText(ToQString(Link->ForceUnits));
    PositionGaugeUnits->setText(ToQString(Link->LengthUnits));
    ToolWeightUnits->setText(ToQString(Link->WeightUnits));

    // Maintenance windows
    CreateMaintenanceWindows();

    CreateStatusBar();
    Broker.Apply(false); // as the settings say; a refused setting shows in its status field
    Client->setFixedSize(ClientWidth, ClientHeight);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    PlaceOnScreen(this);
}

TKorvaControlPanel::~TKorvaControlPanel() {
    SaveSettings();
    Broker.Stop();                    // it listens to the monitor and the link
    Maintenance.DestroyBusOverview(); // it polls through the monitor
    Monitor.reset();
    Link.reset();
    Port.reset();
    // Maintenance windows
    DestroyMaintenanceWindows();
}

void TKorvaControlPanel::LoadSettings() {
    CommPortName = ReadSetting("CommPort", "");
}

void TKorvaControlPanel::SaveSettings() {
    WriteSetting("CommPort", CommPortName);
}

void TKorvaControlPanel::CreateMenus() {
    FileMenu = menuBar()->addMenu("&File");
    // Configuration file commands
    CreateFileCommandItems();
    FileMenu->addSeparator();
    SaveToControllerItem = FileMenu->addAction(
        "&Save to Controller", this, [this] { GuardedCall([this] { SaveControllerConfig(false); }); });
    SaveToControllerItem->setObjectName("SaveToControllerItem");
    SaveToControllerItem->setStatusTip("Save the controller's configuration to its non-volatile memory");
    SetupMenu = menuBar()->addMenu("&Setup");
    // Setup dialogs
    MaintenanceMenu = menuBar()->addMenu("&Maintenance");
    // Maintenance windows
    TerminalItem = MaintenanceMenu->addAction("&Terminal", this, [this] { TerminalItemClick(); });
    DiagnosticsItem =
        MaintenanceMenu->addAction("IXA &Diagnostics", this, [this] { DiagnosticsItemClick(); });
    HelpMenu = menuBar()->addMenu("&Help");
    // Help
    CreateDialogAndHelpItems();
    // Trend
    Trend.CreateTrendItem();
    // The line
    Maintenance.CreateLineItems();

    for (TFileDialogSpec* dialog : {&IxaUploadDialog, &IxaDownloadDialog}) {
        dialog->DefaultExt = "cfg";
        dialog->Filter = "Configuration File|*.cfg|All Files|*.*";
    }
}

void TKorvaControlPanel::WireMonitor() {
    TIxaMonitor& m = *Monitor;
    // Each delivery goes to the trend first, so a display handler's error cannot keep it from there.
    using enum TTrendChannel;
    // The broker's feed takes the value before the display too; the link's events after it, so that
    // what it tells (the controller's name, the offline reason) is what the panel shows.
    m.OnConnect = [this](TIxaMonitor&) {
        Trend.TrendOnline(true);
        MonitorConnect();
        Broker.LinkChanged(true);
    };
    m.OnDisconnect = [this](TIxaMonitor&) {
        Trend.TrendOnline(false);
        MonitorDisconnect();
        Broker.LinkChanged(false);
    };
    m.OnToolConnect = [this](TIxaMonitor&) {
        MonitorToolConnect();
        Broker.ToolChanged(true);
    };
    m.OnToolDisconnect = [this](TIxaMonitor&) {
        MonitorToolDisconnect();
        Broker.ToolChanged(false);
    };
    m.OnCommandForce = [this](TIxaMonitor&, double v) {
        Trend.TrendFeed(CommandForce, v);
        Broker.Deliver(&TStateFeed::CommandForce, v);
        ShowCommandValue(v);
    };
    m.OnActualForce = [this](TIxaMonitor&, double v) {
        Trend.TrendFeed(ActualForce, v);
        Broker.Deliver(&TStateFeed::ActualForce, v);
        ShowActualForce(v);
    };
    m.OnPosition = [this](TIxaMonitor&, double v) {
        Trend.TrendFeed(Position, v);
        Broker.Deliver(&TStateFeed::Position, v);
        ShowPosition(v);
    };
    m.OnSlideAcceleration = [this](TIxaMonitor&, double v) {
        Trend.TrendFeed(Orientation, OrientationDegrees(v));
        Broker.Deliver(&TStateFeed::SlideAcceleration, v);
        ShowOrientation(v);
    };
    m.OnToolWeight = [this](TIxaMonitor&, double v) { ShowToolWeight(v); };
    m.OnActive = [this](TIxaMonitor&, bool v) {
        Trend.TrendFeed(Active, v);
        Broker.Deliver(&TStateFeed::Active, v);
        ShowActive(v);
    };
    m.OnToolNumber = [this](TIxaMonitor&, int32_t v) {
        Trend.TrendFeed(ToolNumber, v);
        Broker.Deliver(&TStateFeed::ToolNumber, v);
        ShowToolNumber(v);
    };
    m.OnMode = [this](TIxaMonitor&, uint8_t v) {
        Trend.TrendFeed(Mode, v);
        Broker.Deliver(&TStateFeed::Mode, v);
        ShowMode(v);
    };
    // OnIo belongs to the diagnostics window.
}

void TKorvaControlPanel::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    FormShow();
}

void TKorvaControlPanel::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    // A viewer left open would keep the program, its port and its polling alive with no window.
    if (THelpViewer* viewer = THelpViewer::Instance())
        viewer->close();
}

void TKorvaControlPanel::FormShow() {
    // The bar takes the place of the gauge it stands in for.
    CommandBar->setGeometry(CommandGauge->x(), CommandBar->y(), CommandGauge->width(), CommandBar->height());
    const int side = static_cast<int>(OrientationGroup->height() * 0.6);
    Horizon->setGeometry(static_cast<int>(OrientationGroup->width() * 0.6),
                         (OrientationGroup->height() - side) / 2, side, side);
    Horizon->show();
}

void TKorvaControlPanel::WakeFromSecondInstance() {
    RestoreAndRaise(this);
}

void TKorvaControlPanel::PostToolNumberError(const QString& text) {
    ToolNumberErrorText = text;
    QMetaObject::invokeMethod(
        this, [this] { ShowError(ToolNumberErrorText); }, Qt::QueuedConnection);
}

QString TKorvaControlPanel::OfflineReason() const {
    if (Monitor && Monitor->Online)
        return {};
    if (!Port || !Port->IsOpen()) {
        if (!Port || Port->OpenFailure().empty())
            return "No serial port chosen (Maintenance, Program Options)";
        return FromSystemName(Port->OpenFailure());
    }
    if (Link && Link->Refused())
        return ToQString(IxaInterfaceErrorText[5]);
    return "No answer at address " + QString::number(Link ? Link->Address.load() : 0) + " on " +
           FromSystemName(Port->Name);
}

void TKorvaControlPanel::UpdateStatusTip() {
    OnlineStatus->setToolTip(OfflineReason());
    UpdateStatusBar();
}

void TKorvaControlPanel::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(false);
    LinkStateText = new QLabel(bar);
    LinkStateText->setObjectName("LinkStateText");
    // A long reason is cut at the window's edge; the whole of it is the label's tooltip.
    LinkStateText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    PortText = new QLabel(bar);
    PortText->setObjectName("PortText");
    SimulatorText = new QLabel("Simulator", bar);
    SimulatorText->setObjectName("SimulatorText");
    SimulatorText->hide();
    UnsavedText = new QLabel("Not saved", bar);
    UnsavedText->setObjectName("UnsavedText");
    UnsavedText->setToolTip("The controller holds changes that are not saved to its non-volatile memory "
                            "(File, Save to Controller)");
    UnsavedText->hide();
    bar->addWidget(LinkStateText, 1);
    bar->addWidget(PortText);
    bar->addWidget(SimulatorText);
    bar->addWidget(UnsavedText);
    Broker.CreateStatusField(bar);
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { UpdateStatusBar(); });
    timer->start(500);
    UpdateStatusBar();
}

void TKorvaControlPanel::SetSimulated(bool simulated) {
    Simulated = simulated;
    UpdateStatusBar();
}

void TKorvaControlPanel::UpdateStatusBar() {
    if (!LinkStateText)
        return;
    const bool online = Monitor && Monitor->Online;
    const QString state = online ? QString("Online") : "Offline: " + OfflineReason();
    if (LinkStateText->text() != state) {
        LinkStateText->setText(state);
        LinkStateText->setToolTip(state);
    }
    const AnsiString name = Port && !Port->Name.empty() ? Port->Name
                            : !PortOverride.empty()     ? PortOverride
                                                        : CommPortName;
    const QString port =
        name.empty() ? QString("No port")
                     : FromSystemName(name) + ", address " + QString::number(Link ? Link->Address.load() : 0);
    if (PortText->text() != port)
        PortText->setText(port);
    SimulatorText->setVisible(Simulated);
    UnsavedText->setVisible(Link && Link->Unsaved);
    if (SaveToControllerItem)
        SaveToControllerItem->setEnabled(online);
}

bool TKorvaControlPanel::eventFilter(QObject* watched, QEvent* event) {
    // The reason can change without any event of the monitor (a refused controller stays offline),
    // so it is looked up again whenever the tooltip is asked for.
    if (watched == OnlineStatus && event->type() == QEvent::ToolTip)
        UpdateStatusTip();
    if (watched == CommandBar && event->type() == QEvent::Wheel && !CommandBar->hasFocus())
        return true;
    return QMainWindow::eventFilter(watched, event);
}
