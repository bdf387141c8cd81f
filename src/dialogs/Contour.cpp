#include "dialogs/Contour.h"

#include "dialogs/DialogFrame.h"
#include "toolkit/Application.h"
#include "toolkit/Help.h"
#include "toolkit/Layout.h"
#include "toolkit/Text.h"

#include <cmath>

namespace {
constexpr int ColumnLeft = 24;
constexpr int ColumnPitch = 40;
} // namespace

TContourForm::TContourForm(QWidget* owner, TIxaInterface& link) : QDialog(owner), Link(link) {
    SetupDialogFrame(this, "Contour Mode Setup", 571, 272);

    Panel1 = new QFrame(this);
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Place(Panel1, 8, 8, 465, 256);

    ForceText = MakeLabel(Panel1, 200, 6, "Force", true);
    ForceUnit = MakeLabel(Panel1, 240, 6, "Lbf.", true);

    for (int i = 0; i < Points; ++i) {
        const int left = ColumnLeft + i * ColumnPitch;
        TStaticText* value = MakeBox(Panel1, left - 6, 24, 36, 17, "0.0");
        value->setObjectName(QString("ForceValue%1").arg(i));
        auto* bar = new QScrollBar(Qt::Vertical, Panel1);
        bar->setObjectName(QString("ScrollBar%1").arg(i));
        bar->setRange(-1000, 1000);
        bar->setPageStep(10);
        bar->setSingleStep(1);
        bar->setValue(0);
        Place(bar, left + 4, 46, 16, 160);
        TStaticText* position = MakeText(Panel1, {left - 6, 210, 36, 14, "", taCenter});
        position->setObjectName(QString("PositionValue%1").arg(i));
        position->setText(QString::number(i * 10));
        connect(bar, &QScrollBar::valueChanged, this, [this, bar] { ScrollBarChange(bar); });
    }
    PositionText = MakeLabel(Panel1, 160, 232, "Position (% Extended)", true);

    OkButton = MakeButton(this, "OkButton", "OK", 484, 16, 75, 25, true);
    CancelButton = MakeButton(this, "CancelButton", "Cancel", 484, 52, 75, 25);
    HelpButton = MakeButton(this, "HelpButton", "Help", 484, 88, 75, 25);
    connect(OkButton, &QPushButton::clicked, this, [this] {
        GuardedCall([this] { OkButtonClick(); });
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(HelpButton, &QPushButton::clicked, this, [this] { HelpButtonClick(); });

    ReadTable();
}

QScrollBar* TContourForm::ScrollBar(int point) const {
    return findChild<QScrollBar*>(QString("ScrollBar%1").arg(point));
}

TStaticText* TContourForm::ForceValue(int point) const {
    return findChild<TStaticText*>(QString("ForceValue%1").arg(point));
}

void TContourForm::ReadTable() {
    ForceUnit->setText(ToQString(Link.ForceUnits));
    FitText(ForceUnit, taLeft);
    if (!Link.Connected)
        return;
    const double maxForce = Link.GetMaxForce();
    // The lowest force is the heaviest tool's weight as a force; without one (a negative maximum
    // weight) the sliders end at no force at all.
    const double lowest = LowestForce(Link);
    const double minForce = std::isnan(lowest) ? 0.0 : lowest;
    for (int i = 0; i < Points; ++i) {
        QScrollBar* bar = ScrollBar(i);
        bar->setMinimum(-TruncTicks(maxForce, 10));
        bar->setMaximum(-TruncTicks(minForce, 10));
        ForceRead[i] = Link.GetContourForce(i);
        bar->setValue(-TruncTicks(ForceRead[i], 10));
        TicksRead[i] = bar->value();
    }
    ReadState = TReadState::Read;
}

void TContourForm::ScrollBarChange(QObject* sender) {
    const auto* bar = qobject_cast<QScrollBar*>(sender);
    const QString name = sender->objectName();
    bool ok = false;
    const int point = name.startsWith("ScrollBar") ? name.mid(9).toInt(&ok) : -1;
    if (!bar || !ok)
        return;
    if (TStaticText* value = ForceValue(point))
        value->setText(FormatFloat("0.0", -bar->value() * 0.1));
}

void TContourForm::OkButtonClick() {
    if (!MayWrite(Link, ReadState))
        return;
    Written = true;
    for (int i = 0; i < Points; ++i) {
        const int ticks = ScrollBar(i)->value();
        Link.SetContourForce(i, ticks == TicksRead[i] ? ForceRead[i] : -ticks * 0.1);
    }
}

void TContourForm::HelpButtonClick() {
    HelpRequest(HELP_CONTEXT, 202);
}
