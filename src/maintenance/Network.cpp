#include "maintenance/Network.h"

#include "maintenance/BusOverview.h"

#include "toolkit/Application.h"
#include "toolkit/Help.h"
#include "toolkit/Layout.h"
#include "toolkit/Placement.h"
#include "toolkit/Settings.h"
#include "toolkit/Text.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMetaObject>
#include <QPointer>
#include <QVBoxLayout>

namespace {

const char* const PlaceKey = "NetworkPlace";
enum TColumn { ccAddress, ccName, ccVersion, ccToolType };

QString Units(int count) {
    return QString::number(count) + (count == 1 ? " unit" : " units");
}

} // namespace

TNetworkForm::TNetworkForm(QWidget* owner, TIxaInterface& link, TIxaMonitor& monitor, TBusScanOptions options)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Link(link), Monitor(monitor), Options(options) {
    setWindowTitle("Network");
    SetHelpKey(this, NetworkHelpContext);
    setFont(FormFont(8));
    // Modal to the main window only: the traffic log stays usable while a scan runs.
    setWindowModality(Qt::WindowModal);

    UnitList = new QTreeWidget(this);
    UnitList->setHeaderLabels({"Address", "Controller Name", "Version", "Tool Type"});
    UnitList->setRootIsDecorated(false);
    UnitList->setAllColumnsShowFocus(true);
    UnitList->setSelectionMode(QAbstractItemView::SingleSelection);
    UnitList->header()->setStretchLastSection(true);
    UnitList->setColumnWidth(ccAddress, PointsToPixels(55));
    UnitList->setColumnWidth(ccName, PointsToPixels(150));
    UnitList->setColumnWidth(ccVersion, PointsToPixels(55));

    Progress = new QProgressBar(this);
    Progress->setRange(0, Options.Last - Options.First + 1);
    Progress->setValue(0);
    Progress->setFormat("%v of %m addresses");
    StatusText = new QLabel(this);
    StatusText->setText("Scan looks for units at network addresses " + QString::number(Options.First) +
                        " to " + QString::number(Options.Last) + ".");

    ScanButton = new QPushButton("&Scan", this);
    CancelButton = new QPushButton("&Cancel", this);
    UseButton = new QPushButton("&Use", this);
    CloseButton = new QPushButton("Close", this);
    ScanButton->setDefault(true);
    for (QPushButton* button : {CancelButton, UseButton, CloseButton})
        button->setAutoDefault(false);
    UseButton->setToolTip("Switch the panel to the chosen unit's address");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ScanButton);
    buttons->addWidget(CancelButton);
    buttons->addWidget(UseButton);
    buttons->addStretch(1);
    buttons->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(UnitList, 1);
    layout->addWidget(Progress);
    layout->addWidget(StatusText);
    layout->addLayout(buttons);

    connect(ScanButton, &QPushButton::clicked, this, [this] { GuardedCall([this] { ScanButtonClick(); }); });
    connect(CancelButton, &QPushButton::clicked, this,
            [this] { GuardedCall([this] { CancelButtonClick(); }); });
    connect(UseButton, &QPushButton::clicked, this, [this] { GuardedCall([this] { UseButtonClick(); }); });
    connect(CloseButton, &QPushButton::clicked, this, &TNetworkForm::reject);
    connect(UnitList, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(UnitList, &QTreeWidget::itemDoubleClicked, this,
            [this] { GuardedCall([this] { UseButtonClick(); }); });

    resize(PointsToPixels(430), PointsToPixels(300));
    RestorePlace(this, PlaceKey);
    UpdateButtons();
}

TNetworkForm::~TNetworkForm() {
    EndScan();
}

int TNetworkForm::ChosenAddress() const {
    const QList<QTreeWidgetItem*> chosen = UnitList->selectedItems();
    return chosen.isEmpty() ? -1 : chosen.front()->data(ccAddress, Qt::UserRole).toInt();
}

void TNetworkForm::reject() {
    EndScan();
    SavePlace(this, PlaceKey);
    QDialog::reject();
}

void TNetworkForm::ScanButtonClick() {
    if (Scanning())
        return;
    UnitList->clear();
    Progress->setValue(0);
    Found = 0;
    LastProbed = -1;
    Cancelled = false;
    StatusText->setText("Scanning...");
    PanelAddress = Link.Address; // before the probes borrow it
    // The probes borrow the link's address: no polling meanwhile (returns once the monitor is parked).
    Monitor.SetPolling(false);
    QPointer<TNetworkForm> self(this);
    Scan = std::jthread([this, self](std::stop_token stop) {
        QString failure;
        try {
            TBusScan(Link, Options).Run(stop, [&](int address, const TBusUnit* unit) {
                std::optional<TBusUnit> copy;
                if (unit)
                    copy = *unit;
                QMetaObject::invokeMethod(
                    self, [this, address, copy] { Probed(address, copy ? &*copy : nullptr); },
                    Qt::QueuedConnection);
            });
        } catch (const std::exception& e) {
            failure = ToQString(e.what());
        }
        QMetaObject::invokeMethod(
            self, [this, failure] { Finished(failure); }, Qt::QueuedConnection);
    });
    UpdateButtons();
}

void TNetworkForm::CancelButtonClick() {
    if (!Scanning())
        return;
    Cancelled = true;
    Scan.request_stop();
    StatusText->setText("Cancelling...");
}

void TNetworkForm::UseButtonClick() {
    const int address = ChosenAddress();
    if (address < 0 || Scanning())
        return;
    SavePlace(this, PlaceKey);
    accept();
    if (OnUse)
        OnUse(address);
}

void TNetworkForm::Probed(int address, const TBusUnit* unit) {
    LastProbed = address;
    Progress->setValue(address - Options.First + 1);
    if (unit) {
        ++Found;
        auto* item = new QTreeWidgetItem(UnitList);
        item->setText(ccAddress, QString::number(unit->Address));
        item->setData(ccAddress, Qt::UserRole, unit->Address);
        item->setText(ccName, ToQString(unit->Name));
        item->setText(ccVersion, ToQString(unit->Version));
        item->setText(ccToolType, ToQString(unit->ToolType));
        if (unit->Address == PanelAddress) {
            // The unit the control panel shows: bold, and said so when pointed at.
            QFont bold = item->font(ccAddress);
            bold.setBold(true);
            for (int column = ccAddress; column <= ccToolType; ++column) {
                item->setFont(column, bold);
                item->setToolTip(column, "The unit the control panel shows");
            }
            item->setText(ccAddress, QString::number(unit->Address) + "  (panel)");
        }
        if (!UnitList->currentItem())
            UnitList->setCurrentItem(item);
    }
    if (Scanning() && !Cancelled)
        StatusText->setText("Scanning: " + Units(Found) + " found up to address " + QString::number(address) +
                            ".");
}

void TNetworkForm::Finished(const QString& failure) {
    EndScan();
    if (!failure.isEmpty())
        StatusText->setText("Scan failed: " + failure);
    else if (Cancelled)
        StatusText->setText("Cancelled after address " + QString::number(LastProbed) + ": " + Units(Found) +
                            " found.");
    else if (Found == 0)
        StatusText->setText("No unit answered.");
    else
        StatusText->setText(Units(Found) + " found.");
    if (failure.isEmpty() && !Cancelled && Link.Port) {
        // A whole scan is the line's list of units for the bus overview.
        std::vector<int> found;
        for (int i = 0; i < UnitList->topLevelItemCount(); ++i)
            found.push_back(UnitList->topLevelItem(i)->data(ccAddress, Qt::UserRole).toInt());
        TBusOverviewForm::KeepScannedUnits(Link.Port->Name, found);
    }
    UpdateButtons();
}

void TNetworkForm::EndScan() {
    if (!Scanning())
        return;
    Scan.request_stop();
    Scan.join();
    Monitor.SetPolling(true);
    UpdateButtons();
}

void TNetworkForm::UpdateButtons() {
    const bool scanning = Scanning();
    ScanButton->setEnabled(!scanning);
    CancelButton->setEnabled(scanning);
    UseButton->setEnabled(!scanning && ChosenAddress() >= 0);
}
