#include "dialogs/Forcelevel.h"

#include "dialogs/DialogFrame.h"
#include "toolkit/Application.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Help.h"
#include "toolkit/Layout.h"
#include "toolkit/Text.h"

#include <QShowEvent>

TForceLevelForm::TForceLevelForm(QWidget* owner, TIxaInterface& link) : QDialog(owner), Link(link) {
    SetupDialogFrame(this, "Force Level Setup", 283, 179);

    SignalsGroupBox = new QGroupBox("IXA Digital Input Signal Pattern", this);
    Place(SignalsGroupBox, 8, 4, 267, 64);
    for (int bit = 3; bit >= 0; --bit) {
        const int left = 16 + (3 - bit) * 62;
        const QByteArray caption = "CDF" + QByteArray::number(bit);
        CdfLabel[bit] = MakeText(SignalsGroupBox, {left, 18, 50, 14, caption.constData(), taCenter});
        CdfLabel[bit]->setObjectName("CdfLabel" + QString::number(bit));
        CdfInd[bit] = MakeBox(SignalsGroupBox, left, 36, 50, 19, "Off");
        CdfInd[bit]->setObjectName("CdfInd" + QString::number(bit));
        CdfInd[bit]->SetColor(clr::Silver);
    }

    PositionText = MakeLabel(this, 16, 80, "Force Level", true);
    ForceLevelText = MakeBox(this, 16, 98, 57, 21, "0");
    ForceLevelUpDown = new TUpDown(this);
    Place(ForceLevelUpDown, 73, 98, 16, 21);
    ForceLevelUpDown->SetRange(0, 15);
    ForceLevelUpDown->SetPosition(0);
    ForceLevelUpDown->SetWrap(false);
    ForceLevelUpDown->SetAssociate(ForceLevelText);

    ForceText = MakeLabel(this, 120, 80, "Command Force", true);
    ForceEdit = new TEdit(this);
    ForceEdit->setText("-000.00");
    Place(ForceEdit, 120, 98, 89, 21);
    ForceUnitText = MakeLabel(this, 216, 102, "Lbf.");

    OkButton = MakeButton(this, "OkButton", "OK", 16, 140, 75, 25, true);
    CancelButton = MakeButton(this, "CancelButton", "Cancel", 104, 140, 75, 25);
    HelpButton = MakeButton(this, "HelpButton", "Help", 192, 140, 75, 25);

    ForceLevelUpDown->OnChanging = [this](bool& allowChange) { ForceLevelUpDownChanging(allowChange); };
    ForceLevelUpDown->OnClick = [this](TUDBtnType) { ForceLevelUpDownClick(); };
    ForceEdit->OnExit = [this] { ForceEditExit(); };
    connect(OkButton, &QPushButton::clicked, this, [this] {
        bool confirmed = true;
        GuardedCall([&] { confirmed = OkButtonClick(); });
        if (confirmed)
            accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(HelpButton, &QPushButton::clicked, this, [this] { HelpButtonClick(); });

    ReadLevels();
}

void TForceLevelForm::ReadLevels() {
    ForceUnitText->setText(ToQString(Link.ForceUnits));
    if (Link.Connected) {
        try {
            for (int level = 0; level < Levels; ++level)
                LevelValues[level] = Link.GetForceLevel(level);
            ReadState = TReadState::Read;
        } catch (const EIxa& error) {
            ReadState = TReadState::Failed;
            ShowError(ToQString(error.Message));
            LevelValues.fill(0.0);
        }
    } else {
        ForceUnitText->setText("N");
        LevelValues.fill(0.0);
    }
    FitText(ForceUnitText, taLeft);
}

void TForceLevelForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TForceLevelForm::FormShow() {
    ShowLevel(0);
}

void TForceLevelForm::ShowLevel(int level) {
    ShownText = FormatFloat("0.0", LevelValues[level]);
    ForceEdit->setText(ShownText);
}

bool TForceLevelForm::StoreEditText() {
    if (Storing)
        return false;
    const int level = ForceLevelUpDown->Position();
    // Only looked at: the level keeps its value as read, not the rounded text.
    if (ForceEdit->text() == ShownText)
        return true;
    try {
        LevelValues[level] = StrToFloat(ForceEdit->text());
        ShownText = ForceEdit->text(); // what the level now holds
        return true;
    } catch (const EConvertError&) {
        Storing = true;
        ShowError("Bad Value for force!");
        Storing = false;
        ForceEdit->setFocus();
        return false;
    }
}

void TForceLevelForm::ForceLevelUpDownChanging(bool& allowChange) {
    allowChange = StoreEditText();
}

void TForceLevelForm::ForceLevelUpDownClick() {
    const int level = ForceLevelUpDown->Position();
    ShowLevel(level);
    for (int bit = 0; bit < 4; ++bit) {
        const bool on = (level & (1 << bit)) != 0;
        CdfInd[bit]->setText(on ? "On" : "Off");
        CdfInd[bit]->SetColor(on ? clr::Lime : clr::Silver);
    }
}

void TForceLevelForm::ForceEditExit() {
    StoreEditText();
}

bool TForceLevelForm::OkButtonClick() {
    if (!MayWrite(Link, ReadState))
        return true;
    if (!StoreEditText())
        return false;
    Written = true;
    try {
        for (int level = 0; level < Levels; ++level)
            Link.SetForceLevel(level, LevelValues[level]);
    } catch (const EIxa& error) {
        ShowError(ToQString(error.Message));
    }
    return true;
}

void TForceLevelForm::HelpButtonClick() {
    HelpRequest(HELP_CONTEXT, 203);
}
