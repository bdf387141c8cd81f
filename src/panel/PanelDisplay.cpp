// The live display: the monitor's event handlers, the gauge and command-bar set-up and the
// change filters that keep polling from repainting unchanged values.

#include "panel/Panel.h"

#include "operations/DisplayRules.h" // GaugeTicks: live values count their steps as they come

#include "toolkit/Layout.h"
#include "toolkit/Text.h"

#include <cmath>
#include <limits>

namespace {
constexpr int PositionModeItem = 1;
constexpr int ContourModeItem = 2;

// Sets Updating for one scope; cleared on every path out, so a link error half-way cannot leave
// the command bar unable to send.
class TUpdatingScope {
public:
    explicit TUpdatingScope(bool& flag) : Flag(flag) { Flag = true; }
    ~TUpdatingScope() { Flag = false; }
    TUpdatingScope(const TUpdatingScope&) = delete;
    TUpdatingScope& operator=(const TUpdatingScope&) = delete;

private:
    bool& Flag;
};

// What a field shows for a value nobody knows.
const QString UnknownText = "?";
// What a readout shows while offline: no reading at all.
const QString NoReadingText = QString::fromUtf8("\u2014");

// A readout that shows a number (not "?" nor the offline dash): only then may the change filter
// skip a value whose step count equals the gauge's.
bool ShowsNumber(const TStaticText* readout) {
    return readout->text() != UnknownText && readout->text() != NoReadingText;
}

// One step of the online display: a failure (a controller error, a reply the link could not read,
// a value the gauges refuse) is shown by the step's own field, and the display goes on with its
// next step, so no single reply can leave the panel contradicting the link.
// A step after the line was lost in the middle of the display fails at once: waiting out the reply
// time limit again for each field would freeze the window for seconds, and the monitor's disconnect
// follows. The state is read under the link lock, so a handshake in progress is waited for.
template <typename TStep, typename TFailed>
void DisplayStep(TIxaInterface& link, TStep step, TFailed failed) {
    if (!link.ConnectedSettled()) {
        failed(QString::fromStdString(EIxaInterface(TLinkError::NotConnected).Message));
        return;
    }
    try {
        step();
    } catch (const std::exception& error) {
        failed(QString::fromLatin1(error.what()));
    }
}

void SetEnabled(std::initializer_list<QWidget*> controls, bool enabled) {
    for (QWidget* c : controls)
        c->setEnabled(enabled);
}
} // namespace

void TKorvaControlPanel::MonitorConnect() {
    TUpdatingScope updating(Updating);
    DisplayStep(
        *Link,
        [&] {
            Link->GetEnglishUnits();
            CommandBarUnits->setText(
                ToQString(ModeGroup->ItemIndex() == PositionModeItem ? Link->LengthUnits : Link->ForceUnits));
            ForceGaugeUnits->setText(ToQString(Link->ForceUnits));
            PositionGaugeUnits->setText(ToQString(Link->LengthUnits));
            ToolWeightUnits->setText(ToQString(Link->WeightUnits));
        },
        [&](const QString&) {
            for (TStaticText* units : {CommandBarUnits, ForceGaugeUnits, PositionGaugeUnits, ToolWeightUnits})
                units->setText(UnknownText);
        });
    // Online whatever the name's reply: the status field shows that reply's failure instead.
    DisplayStep(
        *Link, [&] { OnlineStatus->setText(ToQString(Link->GetControllerName())); },
        [&](const QString& failure) { OnlineStatus->setText(failure); });
    OnlineStatus->SetColor(clr::Green);
    OnlineStatus->setToolTip({});
    DisplayStep(
        *Link,
        [&] {
            SerialOverrideBox->setChecked(Link->GetSerialOverride());
            SerialOverrideBox->setToolTip({});
        },
        [&](const QString& failure) {
            SerialOverrideBox->setChecked(false);
            SerialOverrideBox->setToolTip(failure);
        });
    SetEnabled({ModeGroup, ActiveButton, WeighButton, ToolWeightValue, CommandValue, CommandBar,
                ToolNumberUpDown, SerialOverrideBox},
               true);
    ToolWeightValue->SetColor(clr::Olive);
    DisplayStep(
        *Link, [&] { UpdateModeGroup(); }, [&](const QString&) { ModeGroup->SetItemIndex(-1); });
}

void TKorvaControlPanel::MonitorDisconnect() {
    ToolShown = false;
    OnlineStatus->SetColor(clr::GrayText());
    OnlineStatus->setText("Offline");
    // Offline there are no readings: the readouts show a dash, the gauges stand empty and the tool
    // weight is blank and greyed (disabled below), never a last or zero value that looks measured.
    for (TCGauge* gauge : {CommandGauge, ForceGauge, PositionGauge})
        gauge->SetProgress(gauge->MinValue());
    for (TStaticText* readout :
         {CommandValue, ForceGaugeValue, PositionGaugeValue, OrientationValue, ToolWeightValue})
        readout->setText(NoReadingText);
    Horizon->SetLevel(0);
    ToolWeightValue->SetColor(clr::Silver);
    ShowToolNumber(0);
    // Nobody knows now whether the tool is out or in.
    ActiveLabel->setText("Unknown");
    ActiveLabel->SetColor(clr::GrayText());
    SetEnabled(
        {ModeGroup, ActiveButton, WeighButton, ToolNumberUpDown, ToolWeightValue, CommandBar, CommandValue},
        false);
    SerialOverrideBox->setChecked(false);
    SerialOverrideBox->setEnabled(false);
    UpdateStatusTip();
    // Maintenance windows
    ShowMaintenanceOffline();
}

void TKorvaControlPanel::MonitorToolConnect() {
    ToolShown = true;
    ToolTypeStatus->SetColor(clr::Green);
    ReadToolType();
    // Each set-up shows its own failure (a scale it cannot draw as unknown) and lets the others run.
    SetupCommandBar();
    SetupForceGauge();
    SetupPositionGauge();
}

void TKorvaControlPanel::MonitorToolDisconnect() {
    ToolShown = false;
    ToolTypeStatus->SetColor(clr::GrayText());
    ToolTypeStatus->setText("No Tool");
    CommandBar->setEnabled(false);
}

void TKorvaControlPanel::ReadToolType() {
    DisplayStep(
        *Link, [&] { ToolTypeStatus->setText(ToQString(Link->GetToolType())); },
        [&](const QString& failure) { ToolTypeStatus->setText(failure); });
}

void TKorvaControlPanel::UpdateModeGroup() {
    if (Link->GetPositionMode())
        ModeGroup->SetItemIndex(PositionModeItem);
    else if (Link->GetContourMode())
        ModeGroup->SetItemIndex(ContourModeItem);
    else
        ModeGroup->SetItemIndex(0);
}

void TKorvaControlPanel::ShowMode(int mode) {
    ModeGroup->SetItemIndex(mode);
    SetupCommandBar();
}

void TKorvaControlPanel::ShowActive(bool active) {
    const QString text = active ? "Active" : "Retracted";
    if (ActiveLabel->text() == text)
        return;
    ActiveLabel->setText(text);
    ActiveLabel->SetColor(active ? clr::Lime : clr::Grey);
    // The caption is rewritten only when its word changes: coming online (Unknown to Retracted) keeps
    // the window's first "&Activate" and with it Alt+A.
    const QString caption = active ? "Deactivate" : "Activate";
    if (QString(ActiveButton->text()).remove('&') != caption)
        ActiveButton->setText(caption);
}

void TKorvaControlPanel::ShowToolNumber(int number) {
    const bool changed = number != ToolNumberUpDown->Position();
    ToolNumberUpDown->SetPosition(number);
    if (!ToolWeightEdit->isHidden())
        ToolWeightEdit->PressKey(27);
    // The type shown belongs to the number: another number is another tool.
    if (changed && ToolShown && Link->Connected)
        ReadToolType();
}

void TKorvaControlPanel::ShowToolWeight(double weight) {
    ToolWeightValue->setText(KnownReading(weight) ? FormatFloat("0.00", weight) : UnknownText);
}

void TKorvaControlPanel::ShowActualForce(double value) {
    if (!KnownReading(value)) {
        ForceGauge->SetProgress(ForceGauge->MinValue());
        ForceGaugeValue->setText(UnknownText);
        return;
    }
    const int32_t g = GaugeTicks(value, 10);
    if (g == ForceGauge->Progress() && ShowsNumber(ForceGaugeValue))
        return;
    ForceGauge->SetProgress(g);
    ForceGaugeValue->setText(FormatFloat("0.0", value));
}

void TKorvaControlPanel::ShowCommandValue(double value) {
    const bool position = ModeGroup->ItemIndex() == PositionModeItem;
    if (!KnownReading(value)) {
        CommandGauge->SetProgress(CommandGauge->MinValue());
        CommandValue->setText(UnknownText);
        return;
    }
    const int32_t g = GaugeTicks(value, position ? 100 : 10);
    if (g == CommandGauge->Progress() && ShowsNumber(CommandValue))
        return;
    CommandGauge->SetProgress(g);
    CommandValue->setText(FormatFloat(position ? "0.00" : "0.0", value));
}

void TKorvaControlPanel::ShowPosition(double value) {
    if (!KnownReading(value)) {
        PositionGauge->SetProgress(PositionGauge->MinValue());
        PositionGaugeValue->setText(UnknownText);
        return;
    }
    const int32_t g = GaugeTicks(value, 100);
    if (g == PositionGauge->Progress() && ShowsNumber(PositionGaugeValue))
        return;
    PositionGauge->SetProgress(g);
    PositionGaugeValue->setText(FormatFloat("0.00", value));
    // The gauge's stored (clamped) progress decides, as it is what the operator sees.
    const int progress = PositionGauge->Progress();
    if (progress > PosLimitTicks) {
        PositionGauge->SetForeColor(clr::Lime);
        PosLimitLine->SetPenColor(clr::Black);
    } else if (progress < NegLimitTicks) {
        PositionGauge->SetForeColor(clr::Red);
        PosLimitLine->SetPenColor(clr::Lime);
    } else {
        PositionGauge->SetForeColor(clr::Green);
        PosLimitLine->SetPenColor(clr::Lime);
    }
}

void TKorvaControlPanel::ShowOrientation(double acceleration) {
    if (!KnownReading(acceleration)) {
        Horizon->SetLevel(0);
        OrientationValue->setText(UnknownText);
        return;
    }
    const int degrees = HorizonDegrees(acceleration);
    if (degrees == Horizon->Level() && ShowsNumber(OrientationValue))
        return;
    Horizon->SetLevel(degrees);
    OrientationValue->setText(QString::number(degrees));
}

namespace {
// Sets a gauge's ends in the order that never passes one end over the other (the gauge refuses that).
void SetGaugeRange(TCGauge* gauge, int low, int high) {
    if (low > gauge->MaxValue()) {
        gauge->SetMaxValue(high);
        gauge->SetMinValue(low);
    } else {
        gauge->SetMinValue(low);
        gauge->SetMaxValue(high);
    }
}

// The three marks of a scale: its ends and, in the middle, the value at the middle.
void ShowMarks(TStaticText* max, TStaticText* mid, TStaticText* min, const char* pattern,
               const TScaleEnds& ends) {
    max->setText(FormatFloat(pattern, ends.High));
    mid->setText(FormatFloat(pattern, ends.Middle()));
    min->setText(FormatFloat(pattern, ends.Low));
}

// A scale that cannot be drawn: the marks say so and the gauge shows nothing.
void ShowUnknownScale(TCGauge* gauge, std::initializer_list<TStaticText*> marks) {
    SetGaugeRange(gauge, 0, 0);
    for (TStaticText* mark : marks)
        mark->setText(UnknownText);
}
} // namespace

void TKorvaControlPanel::SetupForceGauge() {
    const auto unknown = [&] { ShowUnknownScale(ForceGauge, {ForceGaugeMax, ForceGaugeMid, ForceGaugeMin}); };
    DisplayStep(
        *Link,
        [&] {
            const TScaleEnds ends = ForceScaleEnds(*Link);
            if (!ends.Drawable()) {
                unknown();
                return;
            }
            SetGaugeRange(ForceGauge, GaugeTicks(ends.Low, 10), GaugeTicks(ends.High, 10));
            ShowMarks(ForceGaugeMax, ForceGaugeMid, ForceGaugeMin, "0.0", ends);
        },
        [&](const QString&) { unknown(); });
}

void TKorvaControlPanel::SetupPositionGauge() {
    double max = 0;
    bool known = false;
    DisplayStep(
        *Link,
        [&] {
            const TScaleEnds ends = PositionScaleEnds(*Link);
            max = ends.High;
            known = ends.Drawable();
            if (!known)
                return;
            SetGaugeRange(PositionGauge, 0, GaugeTicks(max, 100));
            ShowMarks(PositionGaugeMax, PositionGaugeMid, PositionGaugeMin, "0.00", ends);
        },
        [&](const QString&) { known = false; });
    if (!known) {
        ShowUnknownScale(PositionGauge, {PositionGaugeMax, PositionGaugeMid, PositionGaugeMin});
        PosLimitLine->hide();
        NegLimitLine->hide();
        return;
    }
    // Limits that cannot be read have no place on the scale: their lines are hidden.
    bool limits = false;
    DisplayStep(
        *Link,
        [&] {
            PosLimitTicks = GaugeTicks(Link->GetPosPositionLimit(), 100);
            NegLimitTicks = GaugeTicks(Link->GetNegPositionLimit(), 100);
            limits = true;
        },
        [&](const QString&) {});
    PosLimitLine->setVisible(limits);
    NegLimitLine->setVisible(limits);
    // A controller without travel (maximum 0) has no place for the lines: they stay where they were.
    const double span = max * 100;
    if (!limits || span == 0)
        return;
    const int top = PositionGauge->y();
    const int height = PositionGauge->height();
    const auto lineTop = [&](int32_t ticks) { return GaugeTicks((1 - ticks / span) * height + top, 1); };
    PosLimitLine->move(PosLimitLine->x(), lineTop(PosLimitTicks));
    NegLimitLine->move(NegLimitLine->x(), lineTop(NegLimitTicks));
}

void TKorvaControlPanel::SetupCommandBar() {
    const bool position = ModeGroup->ItemIndex() == PositionModeItem;
    bool known = false;
    {
        TUpdatingScope updating(Updating);
        CommandBarUnits->setText(ToQString(position ? Link->LengthUnits : Link->ForceUnits));
        CommandBarLabel2->setText(position ? "Position" : "Force");
        const char* pattern = position ? "0.00" : "0.0";
        const double factor = position ? 100 : 10;
        DisplayStep(
            *Link,
            [&] {
                const TScaleEnds ends = position ? PositionScaleEnds(*Link) : ForceScaleEnds(*Link);
                const double high = ends.High, low = ends.Low;
                known = ends.Drawable();
                if (!known)
                    return;
                // The bar runs top down, so its range is the scale's negated; the gauge that takes its
                // place under the same marks gets the same range.
                // Its ends count as a typed value does, so that the maximum shown is a step it reaches
                // (4.35 x 100 is a hair below 435 in binary).
                CommandBar->setRange(-GaugeTicks(TruncTicks(high, factor), 1),
                                     -GaugeTicks(TruncTicks(low, factor), 1));
                CommandLow = low;
                CommandHigh = high;
                CommandBar->setPageStep(10);
                CommandBar->setSingleStep(1);
                SetGaugeRange(CommandGauge, GaugeTicks(low, factor), GaugeTicks(high, factor));
                ShowMarks(CommandBarMax, CommandBarMid, CommandBarMin, pattern, ends);
            },
            [&](const QString&) { known = false; });
        if (!known) {
            CommandLow = CommandHigh = std::numeric_limits<double>::quiet_NaN();
            CommandBar->setRange(0, 0);
            ShowUnknownScale(CommandGauge, {CommandBarMax, CommandBarMid, CommandBarMin});
        }
        DisplayStep(
            *Link,
            [&] {
                const double command = position ? Link->GetCommandPosition() : Link->GetCommandForce();
                // Without a scale the bar stands at 0: the text shows the command itself.
                if (!known) {
                    CommandValue->setText(FormatFloat(pattern, command));
                    return;
                }
                // Position changes run the bar's change handler; it runs once more for an unchanged
                // position, so the command text is always refreshed (and, with Updating set, nothing
                // is sent).
                CommandBar->setValue(-GaugeTicks(command, factor));
                emit CommandBar->valueChanged(CommandBar->value());
            },
            [&](const QString& failure) { CommandValue->setText(failure); });
    }
    // The operator commands on a known scale only, and only online with a tool.
    CommandBar->setEnabled(known && ToolShown && Link->Connected);
    bool fromElsewhere = ModeGroup->ItemIndex() == ContourModeItem;
    DisplayStep(
        *Link, [&] { fromElsewhere = fromElsewhere || Link->GetCommandForceInterface() != 0; },
        [&](const QString&) {});
    const bool showGauge = fromElsewhere && !SerialOverrideBox->isChecked();
    CommandGauge->setVisible(showGauge);
    CommandBar->setVisible(!showGauge);
    CommandValue->SetColor(showGauge ? clr::Silver : clr::Olive);
}
