// The live display: the monitor's event handlers, the gauge and command-bar set-up and the
// change filters that keep polling from repainting unchanged values.

#include "panel/Panel.h"

#include "toolkit/Layout.h"
#include "toolkit/Text.h"

#include <cmath>
#include <limits>

namespace {
// A display count: value x factor truncated toward zero, held within 32 bits (not-a-number counts 0).
int32_t Ticks(double value, double factor) {
    const double scaled = std::trunc(value * factor);
    if (std::isnan(scaled))
        return 0;
    if (scaled >= std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (scaled <= std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(scaled);
}

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

void SetEnabled(std::initializer_list<QWidget*> controls, bool enabled) {
    for (QWidget* c : controls)
        c->setEnabled(enabled);
}
} // namespace

void TKorvaControlPanel::MonitorConnect() {
    TUpdatingScope updating(Updating);
    Link->GetEnglishUnits();
    CommandBarUnits->setText(
        ToQString(ModeGroup->ItemIndex() == PositionModeItem ? Link->LengthUnits : Link->ForceUnits));
    ForceGaugeUnits->setText(ToQString(Link->ForceUnits));
    PositionGaugeUnits->setText(ToQString(Link->LengthUnits));
    ToolWeightUnits->setText(ToQString(Link->WeightUnits));
    OnlineStatus->setText(ToQString(Link->GetControllerName()));
    OnlineStatus->SetColor(clr::Green);
    OnlineStatus->setToolTip({});
    SerialOverrideBox->setChecked(Link->GetSerialOverride());
    SetEnabled({ModeGroup, ActiveButton, WeighButton, ToolWeightValue, CommandValue, CommandBar,
                ToolNumberUpDown, SerialOverrideBox},
               true);
    UpdateModeGroup();
}

void TKorvaControlPanel::MonitorDisconnect() {
    OnlineStatus->SetColor(clr::GrayText());
    OnlineStatus->setText("Offline");
    ShowCommandValue(0);
    ShowActualForce(0);
    ShowPosition(0);
    ShowOrientation(0);
    ShowToolNumber(0);
    SetEnabled(
        {ModeGroup, ActiveButton, WeighButton, ToolNumberUpDown, ToolWeightValue, CommandBar, CommandValue},
        false);
    SerialOverrideBox->setChecked(false);
    SerialOverrideBox->setEnabled(false);
    UpdateStatusTip();
}

void TKorvaControlPanel::MonitorToolConnect() {
    ToolTypeStatus->SetColor(clr::Green);
    ToolTypeStatus->setText(ToQString(Link->GetToolType()));
    SetupCommandBar();
    SetupForceGauge();
    SetupPositionGauge();
}

void TKorvaControlPanel::MonitorToolDisconnect() {
    ToolTypeStatus->SetColor(clr::GrayText());
    ToolTypeStatus->setText("No Tool");
    CommandBar->setEnabled(false);
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
    ActiveButton->setText(active ? "Deactivate" : "Activate");
}

void TKorvaControlPanel::ShowToolNumber(int number) {
    ToolNumberUpDown->SetPosition(number);
    if (!ToolWeightEdit->isHidden())
        ToolWeightEdit->PressKey(27);
}

void TKorvaControlPanel::ShowToolWeight(double weight) {
    ToolWeightValue->setText(FormatFloat("0.00", weight));
}

void TKorvaControlPanel::ShowActualForce(double value) {
    const int32_t g = Ticks(value, 10);
    if (g == ForceGauge->Progress())
        return;
    ForceGauge->SetProgress(g);
    ForceGaugeValue->setText(FormatFloat("0.0", value));
}

void TKorvaControlPanel::ShowCommandValue(double value) {
    const bool position = ModeGroup->ItemIndex() == PositionModeItem;
    const int32_t g = Ticks(value, position ? 100 : 10);
    if (g == CommandGauge->Progress())
        return;
    CommandGauge->SetProgress(g);
    CommandValue->setText(FormatFloat(position ? "0.00" : "0.0", value));
}

void TKorvaControlPanel::ShowPosition(double value) {
    const int32_t g = Ticks(value, 100);
    if (g == PositionGauge->Progress())
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
    double a = acceleration;
    if (a > 1)
        a = 1;
    if (!(a >= -1)) // also not-a-number
        a = -1;
    const int degrees = static_cast<int>(std::trunc(std::asin(a) * 57.29577951308232));
    if (degrees == Horizon->Level())
        return;
    Horizon->SetLevel(degrees);
    OrientationValue->setText(QString::number(degrees));
}

namespace {
// The lower end of the force scales: the heaviest tool's weight as a force.
double MinForce(TIxaInterface& link) {
    const double maxWeight = link.GetMaxWeight();
    return link.WeightUnits == "kg" ? -(maxWeight * 9.8) : -maxWeight;
}
} // namespace

void TKorvaControlPanel::SetupForceGauge() {
    const double max = Link->GetMaxForce();
    const double min = MinForce(*Link);
    ForceGauge->SetMaxValue(Ticks(max, 10));
    ForceGauge->SetMinValue(Ticks(min, 10));
    ForceGaugeMax->setText(FormatFloat("0.0", max));
    ForceGaugeMin->setText(FormatFloat("0.0", min));
}

void TKorvaControlPanel::SetupPositionGauge() {
    const double max = Link->GetMaxPosition();
    PositionGauge->SetMaxValue(Ticks(max, 100));
    PositionGauge->SetMinValue(0);
    PositionGaugeMax->setText(FormatFloat("0.00", max));
    PositionGaugeMid->setText(FormatFloat("0.00", max * 0.5));
    PositionGaugeMin->setText(FormatFloat("0.00", 0));
    PosLimitTicks = Ticks(Link->GetPosPositionLimit(), 100);
    NegLimitTicks = Ticks(Link->GetNegPositionLimit(), 100);
    // A controller without travel (maximum 0) has no place for the lines: they stay where they were.
    const double span = max * 100;
    if (span == 0 || !std::isfinite(span))
        return;
    const int top = PositionGauge->y();
    const int height = PositionGauge->height();
    const auto lineTop = [&](int32_t ticks) { return Ticks((1 - ticks / span) * height + top, 1); };
    PosLimitLine->move(PosLimitLine->x(), lineTop(PosLimitTicks));
    NegLimitLine->move(NegLimitLine->x(), lineTop(NegLimitTicks));
}

void TKorvaControlPanel::SetupCommandBar() {
    int32_t a = 0;
    {
        TUpdatingScope updating(Updating);
        if (ModeGroup->ItemIndex() == PositionModeItem) {
            const double mp = Link->GetMaxPosition();
            CommandBar->setRange(-Ticks(mp, 100), 0);
            CommandBar->setPageStep(10);
            CommandBar->setSingleStep(1);
            a = Ticks(Link->GetCommandPosition(), 100);
            CommandBarMax->setText(FormatFloat("0.00", mp));
            CommandBarMid->setText(FormatFloat("0.00", mp * 0.5));
            CommandBarMin->setText("0.00");
            CommandBarUnits->setText(ToQString(Link->LengthUnits));
            CommandBarLabel2->setText("Position");
        } else {
            const double max = Link->GetMaxForce();
            const double min = MinForce(*Link);
            CommandBar->setRange(-Ticks(max, 10), -Ticks(min, 10));
            CommandBar->setPageStep(10);
            CommandBar->setSingleStep(1);
            a = Ticks(Link->GetCommandForce(), 10);
            CommandBarMax->setText(FormatFloat("0.0", max));
            CommandBarMid->setText("0.0");
            CommandBarMin->setText(FormatFloat("0.0", min));
            CommandBarUnits->setText(ToQString(Link->ForceUnits));
            CommandBarLabel2->setText("Force");
        }
        // Position changes run the bar's change handler; it runs once more for an unchanged position,
        // so the command text is always refreshed (and, with Updating set, nothing is sent).
        CommandBar->setValue(-a);
        emit CommandBar->valueChanged(CommandBar->value());
    }
    const bool fromElsewhere =
        ModeGroup->ItemIndex() == ContourModeItem || Link->GetCommandForceInterface() != 0;
    const bool showGauge = fromElsewhere && !SerialOverrideBox->isChecked();
    CommandGauge->setVisible(showGauge);
    CommandBar->setVisible(!showGauge);
    CommandValue->SetColor(showGauge ? clr::Silver : clr::Olive);
}
