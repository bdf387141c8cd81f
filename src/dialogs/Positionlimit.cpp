#include "dialogs/Positionlimit.h"

#include "dialogs/DialogFrame.h"
#include "toolkit/Application.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Help.h"
#include "toolkit/Layout.h"
#include "toolkit/Text.h"

namespace {
QScrollBar* MakeBar(QWidget* parent, const char* name, int maximum, int pageStep, int left, int top) {
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setObjectName(name);
    bar->setRange(0, maximum);
    bar->setSingleStep(1);
    bar->setPageStep(pageStep);
    Place(bar, left, top, Scale120(281), Scale120(17));
    return bar;
}
} // namespace

TPositionLimitForm::TPositionLimitForm(QWidget* owner, TIxaInterface& link) : QDialog(owner), Link(link) {
    // The form is laid out at 120 pixels per inch.
    SetupDialogFrame(this, "Position Limit Setup", Scale120(463), Scale120(186));

    Panel1 = new QFrame(this);
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Place(Panel1, Scale120(8), Scale120(8), Scale120(337), Scale120(169));

    PosLimitLabel = MakeLabel(Panel1, Scale120(16), Scale120(20), "Positive Limit ");
    PosLimitValue =
        MakeBox(Panel1, Scale120(136), Scale120(16), Scale120(89), Scale120(21), "0.00 ", taRight);
    PosLimitUnits = MakeLabel(Panel1, Scale120(236), Scale120(20), "In.");
    PosLimitBar = MakeBar(Panel1, "PosLimitBar", 1000, 100, Scale120(16), Scale120(48));

    NegLimitLabel = MakeLabel(Panel1, Scale120(16), Scale120(96), "Negative Limit ");
    NegLimitValue =
        MakeBox(Panel1, Scale120(136), Scale120(92), Scale120(89), Scale120(21), "0.00 ", taRight);
    NegLimitUnits = MakeLabel(Panel1, Scale120(236), Scale120(96), "In.");
    NegLimitBar = MakeBar(Panel1, "NegLimitBar", 100, 1, Scale120(16), Scale120(124));

    OkButton =
        MakeButton(this, "OkButton", "OK", Scale120(360), Scale120(16), Scale120(92), Scale120(31), true);
    CancelButton =
        MakeButton(this, "CancelButton", "Cancel", Scale120(360), Scale120(64), Scale120(92), Scale120(31));
    HelpButton =
        MakeButton(this, "HelpButton", "Help", Scale120(360), Scale120(112), Scale120(92), Scale120(31));

    // The change handlers run for every change of position, by the operator or by the code below.
    connect(PosLimitBar, &QScrollBar::valueChanged, this, [this] { PosLimitBarChange(); });
    connect(NegLimitBar, &QScrollBar::valueChanged, this, [this] { NegLimitBarChange(); });
    connect(OkButton, &QPushButton::clicked, this, [this] {
        GuardedCall([this] { OkButtonClick(); });
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(HelpButton, &QPushButton::clicked, this, [this] { HelpButtonClick(); });

    ReadLimits();
}

void TPositionLimitForm::ReadLimits() {
    PosLimitUnits->setText(ToQString(Link.LengthUnits));
    NegLimitUnits->setText(ToQString(Link.LengthUnits));
    if (Link.Connected) {
        try {
            const int maximum = TruncTicks(Link.GetMaxPosition(), 100);
            PosLimitBar->setMaximum(maximum);
            NegLimitBar->setMaximum(maximum);
            NegRead.Value = Link.GetNegPositionLimit();
            NegLimitBar->setValue(TruncTicks(NegRead.Value, 100));
            PosRead.Value = Link.GetPosPositionLimit();
            PosLimitBar->setValue(TruncTicks(PosRead.Value, 100));
            // After both: setting the positive limit may have pulled the negative bar along.
            NegRead.Ticks = NegLimitBar->value();
            PosRead.Ticks = PosLimitBar->value();
            ReadState = TReadState::Read;
        } catch (const EIxa& error) {
            ReadState = TReadState::Failed;
            ShowError(ToQString(error.Message));
        }
    } else {
        PosLimitBar->setMaximum(2000);
        NegLimitBar->setMaximum(2000);
        PosLimitBar->setValue(0);
        NegLimitBar->setValue(0);
        PosLimitUnits->setText("mm");
        NegLimitUnits->setText("mm");
    }
    FitText(PosLimitUnits, taLeft);
    FitText(NegLimitUnits, taLeft);
    const int pageStep = NegLimitBar->maximum() / 10;
    PosLimitBar->setPageStep(pageStep);
    NegLimitBar->setPageStep(pageStep);
}

void TPositionLimitForm::PosLimitBarChange() {
    PosLimitValue->setText(FormatFloat("0.00", PosLimitBar->value() * 0.01) + " ");
    if (PosLimitBar->value() < NegLimitBar->value())
        NegLimitBar->setValue(PosLimitBar->value());
}

void TPositionLimitForm::NegLimitBarChange() {
    NegLimitValue->setText(FormatFloat("0.00", NegLimitBar->value() * 0.01) + " ");
    if (NegLimitBar->value() > PosLimitBar->value())
        PosLimitBar->setValue(NegLimitBar->value());
}

double TPositionLimitForm::LimitToWrite(const QScrollBar* bar, const TReadLimit& read) {
    return bar->value() == read.Ticks ? read.Value : bar->value() * 0.01;
}

void TPositionLimitForm::OkButtonClick() {
    if (!MayWrite(Link, ReadState))
        return;
    Written = true;
    try {
        Link.SetPosPositionLimit(LimitToWrite(PosLimitBar, PosRead));
        Link.SetNegPositionLimit(LimitToWrite(NegLimitBar, NegRead));
    } catch (const EIxa& error) {
        ShowError(ToQString(error.Message));
    }
}

void TPositionLimitForm::HelpButtonClick() {
    HelpRequest(HELP_CONTEXT, 201);
}
