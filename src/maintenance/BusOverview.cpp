#include "maintenance/BusOverview.h"

#include "toolkit/Application.h"
#include "toolkit/Help.h"
#include "toolkit/Layout.h"
#include "toolkit/Placement.h"
#include "toolkit/Settings.h"
#include "toolkit/Text.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace {

const char* const PlaceKey = "BusOverviewPlace";
const QStringList Columns = {"Address", "Name",          "Tool",         "Online",   "Active",
                             "Mode",    "Command Force", "Actual Force", "Position", "Age"};
enum TColumn {
    ccAddress,
    ccName,
    ccTool,
    ccOnline,
    ccActive,
    ccMode,
    ccCommandForce,
    ccActualForce,
    ccPosition,
    ccAge
};

// One key per port; the name is encoded, since a "/" would make setting groups.
QString UnitsKey(const AnsiString& port) {
    return "BusUnits " + QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(port)));
}

QString UnitsText(const std::vector<int>& units) {
    QStringList parts;
    for (int address : units)
        parts << QString::number(address);
    return parts.join(",");
}

// "0,3,7": the addresses 0..15 given, each once, in order; whatever else is left out.
std::vector<int> ParseUnits(const QString& text) {
    std::vector<int> units;
    for (const QString& part : text.split(',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int address = part.trimmed().toInt(&ok);
        if (ok && address >= 0 && address <= 15 &&
            std::find(units.begin(), units.end(), address) == units.end())
            units.push_back(address);
    }
    return units;
}

QString Real(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

const char* const Modes[] = {"Force", "Position", "Contour"};

} // namespace

TBusOverviewForm::TBusOverviewForm(QWidget* owner, TIxaMonitor& monitor)
    : QDialog(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      Monitor(monitor), Poller(std::make_shared<TBusPoller>(monitor.Link)) {
    setWindowTitle("Bus Overview");
    setFont(FormFont(8));
    setModal(false);
    setAttribute(Qt::WA_QuitOnClose, false);
    SetHelpKey(this, BusOverviewHelpContext);

    auto* unitsLabel = new QLabel("&Units:", this);
    UnitsEdit = new QLineEdit(this);
    UnitsEdit->setToolTip("Network addresses of the units on the line, such as 0,3,7,12");
    unitsLabel->setBuddy(UnitsEdit);
    ApplyButton = new QPushButton("&Apply", this);
    UnitList = new QTreeWidget(this);
    UnitList->setHeaderLabels(Columns);
    UnitList->setRootIsDecorated(false);
    UnitList->setAllColumnsShowFocus(true);
    UnitList->setSelectionMode(QAbstractItemView::SingleSelection);
    UnitList->setToolTip("Double-click a unit to switch the panel to it");
    UnitList->setColumnWidth(ccAddress, PointsToPixels(70));
    UnitList->setColumnWidth(ccName, PointsToPixels(90));
    for (int c = ccTool; c <= ccAge; ++c)
        UnitList->setColumnWidth(c, PointsToPixels(c >= ccCommandForce && c <= ccPosition ? 75 : 50));
    StatusText = new QLabel(this);
    CloseButton = new QPushButton("&Close", this);
    ApplyButton->setAutoDefault(false);
    CloseButton->setAutoDefault(false);

    auto* top = new QHBoxLayout;
    top->addWidget(unitsLabel);
    top->addWidget(UnitsEdit, 1);
    top->addWidget(ApplyButton);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(StatusText, 1);
    bottom->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(UnitList, 1);
    layout->addLayout(bottom);

    connect(ApplyButton, &QPushButton::clicked, this,
            [this] { GuardedCall([this] { ApplyButtonClick(); }); });
    connect(UnitsEdit, &QLineEdit::returnPressed, this,
            [this] { GuardedCall([this] { ApplyButtonClick(); }); });
    connect(UnitList, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { GuardedCall([this, item] { UnitListDoubleClick(item); }); });
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);
    RefreshTimer.setInterval(RefreshMs);
    connect(&RefreshTimer, &QTimer::timeout, this, [this] { GuardedCall([this] { Refresh(); }); });

    resize(PointsToPixels(700), PointsToPixels(260));
    RestorePlace(this, PlaceKey);
    Units = KeptUnits(PortName());
    UnitsEdit->setText(UnitsText(Units));
    Poller->SetUnits(Units);
}

TBusOverviewForm::~TBusOverviewForm() {
    RefreshTimer.stop();
    if (isVisible())
        SavePlace(this, PlaceKey);
    Listen(false);
}

std::vector<int> TBusOverviewForm::KeptUnits(const AnsiString& port) {
    return ParseUnits(QString::fromStdString(ReadSetting(UnitsKey(port))));
}

void TBusOverviewForm::KeepScannedUnits(const AnsiString& port, const std::vector<int>& addresses) {
    WriteSetting(UnitsKey(port), UnitsText(addresses).toStdString());
}

AnsiString TBusOverviewForm::PortName() const {
    return Monitor.Link.Port ? Monitor.Link.Port->Name : AnsiString();
}

void TBusOverviewForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Listen(true);
    Refresh();
    RefreshTimer.start();
}

void TBusOverviewForm::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (event->spontaneous())
        return; // minimised: still polling
    RefreshTimer.stop();
    Listen(false);
    SavePlace(this, PlaceKey);
}

// The poller works only while the window is shown: the idle wire stays idle otherwise.
void TBusOverviewForm::Listen(bool on) {
    if (on == Listening)
        return;
    Listening = on;
    if (on) {
        Monitor.OnUnitValues = [this](TIxaMonitor&, TBusUnitValues values) { UnitValues(values); };
        Monitor.SetBusPoller(Poller);
    } else {
        Monitor.SetBusPoller(nullptr);
        Monitor.OnUnitValues = nullptr;
    }
}

void TBusOverviewForm::ApplyButtonClick() {
    Units = ParseUnits(UnitsEdit->text());
    UnitsEdit->setText(UnitsText(Units));
    Poller->SetUnits(Units);
    for (auto it = Known.begin(); it != Known.end();)
        it =
            std::find(Units.begin(), Units.end(), it->first) == Units.end() ? Known.erase(it) : std::next(it);
    WriteSetting(UnitsKey(PortName()), UnitsText(Units).toStdString());
    Refresh();
}

void TBusOverviewForm::UnitListDoubleClick(QTreeWidgetItem* item) {
    if (item && OnUse)
        OnUse(item->data(ccAddress, Qt::UserRole).toInt());
}

void TBusOverviewForm::UnitValues(const TBusUnitValues& values) {
    TBusUnitValues& known = Known[values.Address];
    if (values.Online || known.At == TBusUnitValues::TClock::time_point{})
        known = values;
    else
        known.Online = false; // the last values stay, marked offline
}

void TBusOverviewForm::Refresh() {
    int panel = 0;
    {
        TLinkLock lock(Monitor.Link); // not while the poller has lent the address to another unit
        panel = Monitor.Link.Address;
    }
    std::vector<int> shown = Units;
    if (std::find(shown.begin(), shown.end(), panel) == shown.end())
        shown.insert(shown.begin(), panel);
    std::sort(shown.begin(), shown.end());
    const auto now = TBusUnitValues::TClock::now();
    const int selected =
        UnitList->currentItem() ? UnitList->currentItem()->data(ccAddress, Qt::UserRole).toInt() : -1;
    UnitList->clear();
    int online = 0, stale = 0, offline = 0;
    for (int address : shown) {
        QStringList cells;
        TBusUnitValues v;
        bool known = false;
        double age = -1;
        if (address == panel) {
            // The panel's own unit, from the monitor's deliveries.
            known = Monitor.Online;
            v.Online = known;
            v.Active = Monitor.Active.Value;
            v.Mode = Monitor.Mode.Value;
            v.ToolNumber = Monitor.ToolNumber.Value;
            v.SlowKnown = true;
            v.CommandForce = Monitor.CommandForce.Value;
            v.ActualForce = Monitor.ActualForce.Value;
            v.Position = Monitor.Position.Value;
            age = known ? 0 : -1;
        } else if (auto it = Known.find(address); it != Known.end()) {
            v = it->second;
            known = v.At != TBusUnitValues::TClock::time_point{};
            if (known)
                age = std::chrono::duration<double>(now - v.At).count();
        }
        const bool isStale = known && v.Online && age * 1000 > StaleMs;
        QString state = !known && address != panel && !Known.count(address) ? "..."
                        : !v.Online                                         ? "Offline"
                        : isStale                                           ? "Stale"
                                                                            : "Online";
        if (state == "Online")
            ++online;
        else if (state == "Stale")
            ++stale;
        else if (state == "Offline")
            ++offline;
        cells << QString::number(address) + (address == panel ? "  (panel)" : "")
              << (address == panel ? QString() : ToQString(v.Name))
              << (known && v.SlowKnown ? QString::number(v.ToolNumber) : "") << state
              << (known ? (v.Active ? "Active" : "Retracted") : "")
              << (known && v.SlowKnown ? Modes[v.Mode % 3] : "") << (known ? Real(v.CommandForce) : "")
              << (known ? Real(v.ActualForce) : "") << (known ? Real(v.Position) : "")
              << (known && address != panel ? QString::number(age, 'f', 1) + " s" : "");
        auto* item = new QTreeWidgetItem(UnitList, cells);
        item->setData(ccAddress, Qt::UserRole, address);
        if (address == panel) {
            QFont bold = item->font(ccAddress);
            bold.setBold(true);
            for (int c = 0; c < Columns.size(); ++c)
                item->setFont(c, bold);
        }
        if (state != "Online")
            for (int c = 0; c < Columns.size(); ++c)
                item->setForeground(c, state == "Offline" ? Qt::red : Qt::darkGray);
        if (address == selected)
            UnitList->setCurrentItem(item);
    }
    StatusText->setText(QString("%1 online, %2 stale, %3 offline").arg(online).arg(stale).arg(offline));
}

QString TBusOverviewForm::Cell(int address, const QString& column) const {
    const int c = static_cast<int>(Columns.indexOf(column));
    for (int i = 0; i < UnitList->topLevelItemCount(); ++i)
        if (UnitList->topLevelItem(i)->data(ccAddress, Qt::UserRole).toInt() == address)
            return UnitList->topLevelItem(i)->text(c);
    return {};
}
