// The compare window.

#include "panel/Compareconfig.h"

#include "toolkit/Help.h"
#include "toolkit/Placement.h"
#include "toolkit/Settings.h"
#include "toolkit/Text.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTime>
#include <QVBoxLayout>

namespace {

const char* const PlaceKey = "CompareWindowGeometry";
const char* const FilterKey = "CompareDifferencesOnly";

const QColor DiffersColour(255, 214, 214);
const QColor OneSideColour(255, 238, 186);

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

QString Units(const TCompareRow& row) {
    const QString file = ToQString(row.FileUnits), controller = ToQString(row.ControllerUnits);
    if (!row.FileLine || file == controller)
        return controller.isEmpty() ? file : controller;
    if (!row.ControllerLine)
        return file;
    return file + " / " + controller; // the file's, then the controller's
}

} // namespace

QString TCompareConfigForm::StateText(TCompareState state) {
    switch (state) {
    case TCompareState::Differs:
        return "Differs";
    case TCompareState::FileOnly:
        return "Only in the file";
    case TCompareState::ControllerOnly:
        return "Only in the controller";
    case TCompareState::Same:
        break;
    }
    return "";
}

TCompareConfigForm::TCompareConfigForm(QWidget* owner, const QString& fileName,
                                       const TControllerCompare& compared)
    : QDialog(owner), FileName(fileName), Controller(compared.Controller), Result(compared.Result) {
    setObjectName("CompareConfigForm");
    setWindowTitle("Compare Configuration - " + QDir::toNativeSeparators(fileName));
    SetHelpKey(this, CompareHelpContext);
    setAttribute(Qt::WA_DeleteOnClose);
    setSizeGripEnabled(true);
    SaveDialog.DefaultExt = "cfg";
    SaveDialog.Filter = "Configuration File|*.cfg|All Files|*.*";

    auto* layout = new QVBoxLayout(this);
    UnitsWarning = new QLabel(ToQString(Result.UnitsWarning()), this);
    UnitsWarning->setObjectName("UnitsWarning");
    UnitsWarning->setTextFormat(Qt::PlainText);
    UnitsWarning->setWordWrap(true);
    UnitsWarning->setStyleSheet("QLabel { background: #fff3b0; color: #5a3b00; border: 1px solid #d0a000;"
                                " padding: 6px; font-weight: bold; }");
    UnitsWarning->setVisible(Result.UnitsDiffer());
    layout->addWidget(UnitsWarning);

    const size_t differences = Result.Differences();
    Summary = new QLabel(this);
    Summary->setObjectName("Summary");
    Summary->setTextFormat(Qt::PlainText);
    Summary->setWordWrap(true);
    Summary->setText(
        QString("File: %1 (%2 lines)\nController: the %3 configuration (%4 lines) uploaded at %5\n%6")
            .arg(QDir::toNativeSeparators(fileName))
            .arg(compared.File.Entries.size())
            .arg(compared.DumpName())
            .arg(compared.Controller.Entries.size())
            .arg(QTime::currentTime().toString("HH:mm:ss"))
            .arg(differences == 0   ? QString("No differences.")
                 : differences == 1 ? QString("1 difference.")
                                    : QString("%1 differences.").arg(differences)));
    layout->addWidget(Summary);

    FilterBox = new QCheckBox("Show &differences only", this);
    FilterBox->setObjectName("FilterBox");
    FilterBox->setChecked(differences > 0 && ReadSetting(FilterKey, "1") != "0");
    FilterBox->setEnabled(differences > 0);
    connect(FilterBox, &QCheckBox::clicked, this, [this] { FilterBoxClick(); });
    layout->addWidget(FilterBox);

    Table = new QTableWidget(static_cast<int>(Result.Rows.size()), 6, this);
    Table->setObjectName("Table");
    Table->setHorizontalHeaderLabels({"Parameter", "Name", "File", "Controller", "Units", "Difference"});
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setWordWrap(false);
    // Hundreds of thousands of cells for a large file: the view learns of them once, not cell by cell.
    QSignalBlocker quiet(Table->model());
    for (int r = 0; r < Table->rowCount(); ++r) {
        const TCompareRow& row = Result.Rows[static_cast<size_t>(r)];
        const QString missing = "-";
        Table->setItem(r, ParameterColumn, Cell(ToQString(row.Parameter)));
        Table->setItem(r, NameColumn, Cell(ToQString(row.Name)));
        Table->setItem(r, FileColumn, Cell(row.FileLine ? ToQString(row.FileValue) : missing));
        Table->setItem(r, ControllerColumn,
                       Cell(row.ControllerLine ? ToQString(row.ControllerValue) : missing));
        Table->setItem(r, UnitsColumn, Cell(Units(row)));
        Table->setItem(r, StateColumn, Cell(StateText(row.State)));
        if (row.State != TCompareState::Same) {
            if (FirstDifference < 0)
                FirstDifference = r;
            const QColor colour = row.State == TCompareState::Differs ? DiffersColour : OneSideColour;
            for (int c = 0; c < Table->columnCount(); ++c) {
                Table->item(r, c)->setBackground(colour);
                Table->item(r, c)->setForeground(Qt::black);
            }
            QFont bold = Table->item(r, StateColumn)->font();
            bold.setBold(true);
            Table->item(r, StateColumn)->setFont(bold);
        }
    }
    quiet.unblock();
    ApplyFilter();
    if (FirstDifference >= 0)
        Table->setCurrentCell(FirstDifference, ParameterColumn);
    Table->resizeColumnsToContents();
    Table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(Table, 1);

    auto* buttons = new QHBoxLayout;
    DownloadButton = new QPushButton("Do&wnload This File...", this);
    DownloadButton->setObjectName("DownloadButton");
    SaveButton = new QPushButton("&Save Controller Configuration As...", this);
    SaveButton->setObjectName("SaveButton");
    CloseButton = new QPushButton("Close", this);
    CloseButton->setObjectName("CloseButton");
    buttons->addWidget(DownloadButton);
    buttons->addWidget(SaveButton);
    buttons->addStretch(1);
    buttons->addWidget(CloseButton);
    layout->addLayout(buttons);
    connect(DownloadButton, &QPushButton::clicked, this, [this] { DownloadButtonClick(); });
    connect(SaveButton, &QPushButton::clicked, this, [this] { SaveButtonClick(); });
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);
    CloseButton->setDefault(true);

    resize(760, 560);
    RestorePlace(this, PlaceKey);
    Table->setFocus();
}

TCompareConfigForm::~TCompareConfigForm() {
    SavePlace(this, PlaceKey);
}

void TCompareConfigForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!Opened)
        ShowCurrentRow();
    Opened = true;
}

void TCompareConfigForm::ShowCurrentRow() {
    if (!Table->currentItem())
        return;
    // The view sets its scroll range only later, after a show or rows hidden or shown: now.
    Table->doItemsLayout();
    Table->scrollToItem(Table->currentItem(), QAbstractItemView::PositionAtCenter);
}

void TCompareConfigForm::FilterBoxClick() {
    WriteSetting(FilterKey, FilterBox->isChecked() ? "1" : "0");
    ApplyFilter();
    ShowCurrentRow();
}

void TCompareConfigForm::ApplyFilter() {
    const bool only = FilterBox->isChecked();
    for (int r = 0; r < Table->rowCount(); ++r)
        Table->setRowHidden(r, only && Result.Rows[static_cast<size_t>(r)].State == TCompareState::Same);
}

void TCompareConfigForm::DownloadButtonClick() {
    // The comparison is old once the file is in the controller; the download starts after the close.
    const auto download = OnDownload;
    const QString fileName = FileName;
    close();
    if (download)
        download(fileName);
}

void TCompareConfigForm::SaveButtonClick() {
    if (!Dialogs().SaveFile(SaveDialog))
        return;
    try {
        Controller.SaveToFile(QFile::encodeName(SaveDialog.FileName).toStdString());
    } catch (const EConfig& error) {
        ShowError(ToQString(error.Message));
    }
}
