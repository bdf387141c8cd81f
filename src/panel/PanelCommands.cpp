// The operator's commands on the main window: activate, weigh, tool selection, the command bar and
// its typed value, the operation mode, the tool weight, the serial override, the unit address, and
// the configuration save that several windows share.
//
// Errors: each handler catches the controller's own error (EIxa) and shows it; protocol failures
// (EIxaInterface) go to the application's standard error display through the guarded connections
// made in CreateControls, and the monitor then shows the offline state.

#include "panel/Panel.h"
#include "panel/Saveconfig.h"
#include "panel/Weighingtool.h"

#include "operations/ConfigOperations.h"
#include "operations/DisplayRules.h"
#include "toolkit/Application.h"
#include "toolkit/Layout.h"
#include "toolkit/Text.h"

#include <cmath>

namespace {
constexpr int PositionModeIndex = 1;
constexpr int ContourModeIndex = 2;

const QString DataEntryCaption = "Data Entry Error";

// The controller's refusal as the operator needs it: its own line, then the command and value it
// refused, so that an "Error 3" box says what was out of range.
QString Refusal(const EIxa& error) {
    QString text = ToQString(error.Described());
    if (!error.Command.empty())
        text += "\n\nRefused: " + ToQString(error.Command);
    return text;
}

// The in-place editor takes the place of its value box, starting from the value shown.
void OpenEditor(TStaticText* value, TEdit* edit) {
    value->hide();
    edit->setText(value->text());
    edit->show();
    edit->setFocus();
}

// The keys the in-place editors act on: Escape closes the editor, Enter asks for the value to be
// taken (true); both are consumed. Other keys go on to the editor.
template <typename TExit> bool EditorEnter(char& key, TExit exit) {
    if (key == 27) {
        exit();
        key = 0;
        return false;
    }
    if (key != 13)
        return false;
    key = 0;
    return true;
}
} // namespace

void TKorvaControlPanel::SaveControllerConfig(bool full) {
    // The operator asked for the save while the unit was online; a line lost since is no silent skip.
    if (!Link->ConnectedSettled()) {
        ShowError(ToQString(EIxaInterface(TLinkError::NotConnected).Message) +
                  "\n\nThe configuration was not saved to non-volatile memory.");
        return;
    }
    auto busy = std::make_unique<TSavingConfig>(this);
    busy->ShowAndPaint();
    bool failed = true;
    QString failure;
    try {
        SaveControllerConfiguration(*Link, full);
        failed = false;
    } catch (const EIxa& error) {
        failure = Refusal(error);
    } catch (const EIxaInterface& error) {
        failure = ToQString(error.Message);
    } catch (const ECommPort& error) {
        // A refused write is a failed save like any other: the operator must learn of it.
        failure = ToQString(error.what());
    } catch (...) {
        busy.reset();
        repaint();
        throw;
    }
    // The busy window goes first, so that it never stands over the news that the save failed.
    busy.reset();
    repaint();
    if (failed)
        ShowError(failure);
}

void TKorvaControlPanel::ActiveButtonClick() {
    const bool want = ActiveLabel->text() == "Retracted";
    try {
        Link->SetActive(want);
        ShowActive(want);
    } catch (const EIxa& error) {
        ShowError(Refusal(error));
    }
}

void TKorvaControlPanel::WeighButtonClick() {
    try {
        {
            // The weighing takes seconds with the window waiting: show that something is going on. The
            // busy window goes before the question (and before any error).
            auto busy = std::make_unique<TWeighingTool>(this);
            busy->ShowAndPaint();
            Link->AutoWeigh();
        }
        repaint();
        // The question shows what was weighed, so that a wrong weight is not saved unseen.
        const double weighed = Link->GetCurrentToolWeight();
        ShowToolWeight(weighed);
        const QString value = KnownReading(weighed) ? FormatFloat("0.00", weighed) : QString("?");
        if (MessageBox(
                "Korva Windows",
                "Auto Tool Weigh Successful! Do you want to save tool weight to non-volatile memory?\n\n"
                "Weighed: " +
                    value + " " + ToQString(Link->WeightUnits),
                TMsgButtons::YesNo) == mrYes)
            SaveControllerConfig(true);
    } catch (const EIxa& error) {
        ShowError(Refusal(error));
    }
}

void TKorvaControlPanel::ToolNumberUpDownChanging(bool& allowChange) {
    allowChange = false;
    try {
        Link->SetToolNumber(ToolNumberUpDown->Position());
        allowChange = true;
    } catch (const EIxa& error) {
        PostToolNumberError(Refusal(error));
    }
}

void TKorvaControlPanel::ToolNumberUpDownClick(TUDBtnType) {
    try {
        Link->SetToolNumber(ToolNumberUpDown->Position());
        if (!ToolWeightEdit->isHidden())
            ToolWeightEdit->PressKey(27);
        ShowToolWeight(Link->GetCurrentToolWeight());
        // Another number is another tool: its type, not the last one's.
        if (ToolShown)
            ReadToolType();
    } catch (const EIxa& error) {
        PostToolNumberError(Refusal(error));
    }
}

void TKorvaControlPanel::CommandBarChange() {
    const bool position = ModeGroup->ItemIndex() == PositionModeIndex;
    const double factor = position ? -0.01 : -0.1;
    const double value = CommandBar->value() * factor;
    CommandValue->setText(FormatFloat(position ? "0.00" : "0.0", value));
    CommandValue->repaint();
    if (Updating)
        return;
    try {
        if (position)
            Link->SetCommandPosition(value);
        else
            Link->SetCommandForce(value);
    } catch (const EIxa& error) {
        ShowError(Refusal(error));
    }
}

void TKorvaControlPanel::ModeGroupClick() {
    try {
        const int item = ModeGroup->ItemIndex();
        // A mode change moves an active carriage at once (in position mode, to the commanded position):
        // the operator says so first; a "No" leaves the controller's mode on show.
        if (ActiveLabel->text() == "Active") {
            const int current = Link->GetPositionMode()  ? PositionModeIndex
                                : Link->GetContourMode() ? ContourModeIndex
                                                         : 0;
            if (item != current) {
                QString text = "The carriage is active.";
                if (item == PositionModeIndex)
                    text += " In Position Mode it moves at once to " +
                            FormatFloat("0.00", Link->GetCommandPosition()) + " " +
                            ToQString(Link->LengthUnits) + ".";
                text += " Change to " + ModeGroup->Button(item)->text() + "?";
                if (MessageBox("Korva Windows", text, TMsgButtons::YesNo) != mrYes) {
                    ModeGroup->SetItemIndex(current);
                    return;
                }
            }
        }
        Link->SetPositionMode(item == PositionModeIndex);
        Link->SetContourMode(item == ContourModeIndex);
        SetupCommandBar();
    } catch (const EIxa& error) {
        ShowError(Refusal(error));
    }
}

void TKorvaControlPanel::CommandValueClick() {
    // Olive means the bar is shown: only then is the command this panel's to type.
    if (CommandValue->Color() != clr::Olive)
        return;
    OpenEditor(CommandValue, CommandEdit);
}

void TKorvaControlPanel::CommandEditKeyPress(char& key) {
    if (!EditorEnter(key, [this] { CommandEditExit(); }))
        return;
    const bool position = ModeGroup->ItemIndex() == PositionModeIndex;
    const char* pattern = position ? "0.00" : "0.0";
    const QString units = CommandBarUnits->text();
    const auto refuse = [&](const QString& text) {
        MessageBox(DataEntryCaption, text);
        CommandEdit->setFocus();
    };
    double v = 0;
    try {
        v = StrToFloat(CommandEdit->text());
    } catch (const EConvertError&) {
        refuse("Bad value for Command!");
        return;
    }
    // Checked against the scale's ends as read and shown, not against the bar's step counts. A huge
    // number is too large like any other.
    if (!(v <= CommandHigh)) {
        refuse("Command value is too large! The largest is " + FormatFloat(pattern, CommandHigh) + " " +
               units + ".");
        return;
    }
    if (!(v >= CommandLow)) {
        refuse("Command value is too small! The smallest is " + FormatFloat(pattern, CommandLow) + " " +
               units + ".");
        return;
    }
    // Sent as typed: what the wire cannot carry is refused rather than cut.
    if (!OnWireSteps(v)) {
        refuse("Command value has more decimals than the controller takes! The resolution is " +
               FormatFloat("0.000", WireResolution) + " " + units + ".");
        return;
    }
    CommandEditExit();
    {
        // The bar stands on the nearest step without sending it; the value typed is what is sent.
        const bool wasUpdating = Updating;
        Updating = true;
        CommandBar->setValue(-NearestTicks(v, position ? 100 : 10));
        Updating = wasUpdating;
    }
    CommandValue->setText(FormatFloat(pattern, v));
    try {
        if (position)
            Link->SetCommandPosition(v);
        else
            Link->SetCommandForce(v);
    } catch (const EIxa& error) {
        ShowError(Refusal(error));
    }
}

void TKorvaControlPanel::CommandEditExit() {
    CommandEdit->hide();
    CommandValue->show();
}

void TKorvaControlPanel::ToolWeightValueClick() {
    OpenEditor(ToolWeightValue, ToolWeightEdit);
}

void TKorvaControlPanel::ToolWeightEditKeyPress(char& key) {
    if (!EditorEnter(key, [this] { ToolWeightEditExit(); }))
        return;
    try {
        const double w = StrToFloat(ToolWeightEdit->text());
        Link->SetToolWeight(ToolNumberUpDown->Position(), w);
        SaveControllerConfig(false);
        ToolWeightValue->setText(FormatFloat("0.00", w));
        ToolWeightEditExit();
    } catch (const EIxa& error) {
        ToolWeightEditExit();
        ShowError(Refusal(error));
    } catch (const EConvertError&) {
        MessageBox(DataEntryCaption, "Bad value for Tool Weight!");
        ToolWeightEdit->setFocus();
    }
}

void TKorvaControlPanel::ToolWeightEditExit() {
    ToolWeightEdit->hide();
    ToolWeightValue->show();
    ToolWeightValue->repaint();
}

void TKorvaControlPanel::SerialOverrideBoxClick() {
    try {
        Link->SetSerialOverride(SerialOverrideBox->isChecked());
        SetupCommandBar();
    } catch (const EIxa& error) {
        ShowError(Refusal(error));
    }
}

void TKorvaControlPanel::AddressUpDownClick(TUDBtnType) {
    // Stepping from 2 to 9 asks none of the units between, and the panel does not go offline for
    // each address that has none: the switch waits until the steps stop.
    AddressWait->Step();
}

void TKorvaControlPanel::SwitchToAddress(int address) {
    AddressWait->Cancel();
    AddressUpDown->SetPosition(address);
    // Nothing is sent to the old unit: the new address takes effect with the handshake.
    Link->Address = AddressUpDown->Position();
    Monitor->ConnectAndRefresh();
}

void TKorvaControlPanel::ConnectOperatorCommands() {
    // Every connection is guarded: an error a handler does not catch itself is shown with the
    // standard error display here and never crosses the event loop.
    // The bar takes the focus from a click or Tab, and the wheel only while it has it (see eventFilter):
    // a wheel turned over the window on its way elsewhere must not command the actuator.
    CommandBar->setFocusPolicy(Qt::StrongFocus);
    CommandBar->installEventFilter(this);
    connect(CommandBar, &QScrollBar::valueChanged, this,
            [this](int) { GuardedCall([this] { CommandBarChange(); }); });
    connect(ActiveButton, &QPushButton::clicked, this,
            [this] { GuardedCall([this] { ActiveButtonClick(); }); });
    connect(WeighButton, &QPushButton::clicked, this,
            [this] { GuardedCall([this] { WeighButtonClick(); }); });
    connect(SerialOverrideBox, &QCheckBox::clicked, this,
            [this] { GuardedCall([this] { SerialOverrideBoxClick(); }); });
    ToolNumberUpDown->OnChanging = [this](bool& allowChange) {
        allowChange = false; // also when a protocol failure ends the handler
        GuardedCall([&] { ToolNumberUpDownChanging(allowChange); });
    };
    ToolNumberUpDown->OnClick = [this](TUDBtnType button) {
        GuardedCall([&] { ToolNumberUpDownClick(button); });
    };
    AddressUpDown->OnClick = [this](TUDBtnType button) { GuardedCall([&] { AddressUpDownClick(button); }); };
    AddressWait = std::make_unique<TAddressWait>(
        AddressUpDown, [this] { GuardedCall([this] { SwitchToAddress(AddressUpDown->Position()); }); });
    ModeGroup->OnClick = [this] { GuardedCall([this] { ModeGroupClick(); }); };
    CommandValue->OnClick = [this] { GuardedCall([this] { CommandValueClick(); }); };
    ToolWeightValue->OnClick = [this] { GuardedCall([this] { ToolWeightValueClick(); }); };
    CommandEdit->OnKeyPress = [this](char& key) { GuardedCall([&] { CommandEditKeyPress(key); }); };
    ToolWeightEdit->OnKeyPress = [this](char& key) { GuardedCall([&] { ToolWeightEditKeyPress(key); }); };
    // Only a move of the focus inside the window closes an editor (TEdit::OnExit): a message box, another
    // program or the editor's context menu leave its text for the operator to go on with.
    CommandEdit->OnExit = [this] { CommandEditExit(); };
    ToolWeightEdit->OnExit = [this] { ToolWeightEditExit(); };
}
