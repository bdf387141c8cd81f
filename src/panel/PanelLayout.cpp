// The form layout of the main window: places, captions, fonts, colours and initial states.

#include "panel/Panel.h"

#include "toolkit/Layout.h"

#include <QVBoxLayout>

namespace {
// Scale texts are right-aligned against their gauge: they span from their left edge to just short of
// the gauge, so a longer value grows to the left of the same right edge.
constexpr int ScaleGap = 3;
// The two-line gauge captions, centred on the gauge column; a little wider than the form's own
// (which held "Command" in the narrower classic font), reaching 4 pixels further on each side.
constexpr int LabelWidth = 65;
constexpr int LabelWiden = 4;
constexpr int TextHeight = 15;

struct TTextRow {
    TStaticText* TKorvaControlPanel::*Field;
    TTextSpec Form;
};

TCGauge* MakeGauge(QWidget* parent, int left, int top, int minimum, int maximum) {
    auto* gauge = new TCGauge(parent);
    gauge->SetKind(gkVerticalBar);
    gauge->SetShowText(false);
    gauge->SetForeColor(clr::Green);
    gauge->SetMinValue(minimum); // within the default 0..100 first, then the real ends
    gauge->SetMaxValue(maximum);
    gauge->SetMinValue(minimum);
    gauge->setGeometry(left, top, 25, 217);
    return gauge;
}

QPushButton* MakeButton(QWidget* parent, const char* caption, int left, int top) {
    auto* button = new QPushButton(caption, parent);
    button->setFont(FormFont(9, true));
    button->setGeometry(left, top, 89, 33);
    return button;
}

TLineShape* MakeLine(QWidget* parent, int top, const QColor& pen) {
    auto* line = new TLineShape(parent);
    line->setGeometry(216, top, 23, 1);
    line->SetPenColor(pen);
    return line;
}
} // namespace

void TKorvaControlPanel::CreateControls() {
    Client = new QWidget(this);
    setCentralWidget(Client);
    QWidget* c = Client;

    // Frames first, so that everything inside them lies above.
    Bevel1 = new TBevel(c);
    Bevel1->setGeometry(8, 8, 257, 297);
    Bevel6 = new TBevel(c);
    Bevel6->setGeometry(272, 8, 131, 81);
    Bevel3 = new TBevel(c);
    Bevel3->setGeometry(272, 103, 131, 113);
    Bevel2 = new TBevel(c);
    Bevel2->setGeometry(8, 312, 145, 57);

    using P = TKorvaControlPanel;
    const auto scale = [](int left, int gaugeLeft, int top, const char* caption) {
        return TTextSpec{left, top, gaugeLeft - ScaleGap - left, TextHeight, caption, taRight, false, 9};
    };
    const auto caption = [](int left, int top, const char* text) {
        return TTextSpec{left - LabelWiden, top, LabelWidth, TextHeight, text, taCenter, true, 9};
    };
    const auto value = [](int left, int top, int width, int height, const char* text, int points = 9) {
        return TTextSpec{left, top, width, height, text, taCenter, false, points, true};
    };
    const auto units = [](int left, int top, const char* text) {
        return TTextSpec{left, top, 41, TextHeight, text, taCenter, false, 9};
    };
    const TTextRow rows[] = {
        {&P::CommandBarLabel1, caption(33, 16, "Command")},
        {&P::CommandBarLabel2, caption(33, 30, "Force")},
        {&P::CommandBarMax, scale(10, 49, 48, "0.0")},
        {&P::CommandBarMid, scale(10, 49, 152, "0.0")},
        {&P::CommandBarMin, scale(10, 49, 251, "0.0")},
        {&P::CommandValue, value(41, 270, 41, 17, "0.0")},
        {&P::CommandBarUnits, units(41, 289, "Lb.")},
        {&P::ForceGaugeLabel1, caption(118, 16, "Actual")},
        {&P::ForceGaugeLabel2, caption(118, 30, "Force")},
        {&P::ForceGaugeMax, scale(94, 134, 48, "0.0")},
        {&P::ForceGaugeMid, scale(94, 134, 152, "0.0")},
        {&P::ForceGaugeMin, scale(94, 134, 251, "0.0")},
        {&P::ForceGaugeValue, value(126, 270, 41, 17, "0.0")},
        {&P::ForceGaugeUnits, units(126, 289, "Lb.")},
        {&P::PositionGaugeLabel1, caption(199, 16, "Carriage")},
        {&P::PositionGaugeLabel2, caption(199, 30, "Position")},
        {&P::PositionGaugeMax, scale(175, 215, 48, "0.00")},
        {&P::PositionGaugeMid, scale(179, 215, 152, "0.00")},
        {&P::PositionGaugeMin, scale(175, 215, 251, "0.00")},
        {&P::PositionGaugeValue, value(207, 270, 41, 17, "0.00")},
        {&P::PositionGaugeUnits, units(207, 289, "In.")},
        {&P::ActiveLabel, {293, 18, 89, 21, "Retracted", taCenter, true, 11, true, clr::Grey}},
        {&P::ToolNumberLabel1, {286, 110, 0, 0, "Tool", taLeft, true, 9}},
        {&P::ToolNumberLabel2, {284, 123, 0, 0, "Number", taLeft, true, 9}},
        {&P::ToolNumberText, value(285, 142, 26, 22, "0", 11)},
        {&P::ToolWeightLabel1, {342, 110, 0, 0, "Tool", taLeft, true, 9}},
        {&P::ToolWeightLabel2, {342, 123, 0, 0, "Weight", taLeft, true, 9}},
        {&P::ToolWeightValue, value(340, 141, 41, 24, "0.00", 11)},
        {&P::ToolWeightUnits, {382, 144, 19, 15, "Lb.", taLeft, false, 9}},
        {&P::AddressLabel, {13, 320, 92, 19, "Network Address:", taLeft, false, 9}},
        {&P::AddressText, value(104, 318, 26, 22, "0", 11)},
        {&P::OnlineStatus, {162, 312, 103, 26, "Offline", taCenter, true, 12, true}},
        {&P::ToolTypeStatus, {164, 348, 101, 24, "No Tool", taCenter, true, 12, true}},
    };
    for (const TTextRow& row : rows)
        this->*row.Field = MakeText(c, row.Form);
    CommandValue->SetColor(clr::Olive);
    ToolWeightValue->SetColor(clr::Olive);
    OnlineStatus->SetColor(clr::GrayText());
    ToolTypeStatus->SetColor(clr::GrayText());
    OnlineStatus->installEventFilter(this);
    // Controller names and tool types come in any length.
    for (TStaticText* t : {OnlineStatus, ToolTypeStatus, AddressLabel})
        t->SetShrinkToFit(true);
    // So do scale ends: a mark wider than its room ("150.00" in position mode) is drawn smaller,
    // never clipped.
    for (TStaticText* t : {CommandBarMax, CommandBarMid, CommandBarMin, ForceGaugeMax, ForceGaugeMid,
                           ForceGaugeMin, PositionGaugeMax, PositionGaugeMid, PositionGaugeMin})
        t->SetShrinkToFit(true);

    CommandGauge = MakeGauge(c, 49, 48, -1000, 1000);
    CommandGauge->hide();
    ForceGauge = MakeGauge(c, 134, 48, -1000, 1000);
    PositionGauge = MakeGauge(c, 215, 48, 0, 1000);
    // The lines lie on the position gauge.
    PosLimitLine = MakeLine(c, 96, clr::Lime);
    NegLimitLine = MakeLine(c, 216, clr::Red);

    CommandBar = new QScrollBar(Qt::Vertical, c);
    CommandBar->setGeometry(57, 48, 17, 217);
    CommandBar->setRange(-500, 400);
    CommandBar->setPageStep(100);
    CommandBar->setSingleStep(10);
    CommandBar->setValue(-500);
    CommandBar->setEnabled(false);

    CommandEdit = new TEdit(c);
    CommandEdit->setFont(FormFont(9));
    CommandEdit->setGeometry(42, 270, 39, 17);
    CommandEdit->setText("  0.0");
    CommandEdit->setFrame(false);
    CommandEdit->hide();

    ToolWeightEdit = new TEdit(c);
    ToolWeightEdit->setFont(FormFont(11));
    ToolWeightEdit->setGeometry(339, 141, 39, 24);
    ToolWeightEdit->setText("0.0");
    ToolWeightEdit->setFrame(false);
    ToolWeightEdit->hide();
    for (TEdit* edit : {CommandEdit, ToolWeightEdit}) {
        QPalette p = edit->palette();
        p.setColor(QPalette::Base, clr::White);
        edit->setPalette(p);
    }

    ActiveButton = MakeButton(c, "&Activate", 293, 46);
    WeighButton = MakeButton(c, "&Weigh Tool", 293, 171);

    ToolNumberUpDown = new TUpDown(c);
    ToolNumberUpDown->setGeometry(311, 142, 22, 22);
    ToolNumberUpDown->SetRange(0, 15);
    ToolNumberUpDown->SetAssociate(ToolNumberText);
    AddressUpDown = new TUpDown(c);
    AddressUpDown->setGeometry(130, 318, 15, 22);
    AddressUpDown->SetRange(0, 15);
    AddressUpDown->SetAssociate(AddressText);

    ModeGroup = new TRadioGroup(c);
    ModeGroup->setFont(FormFont(9, true));
    ModeGroup->setTitle("Operation Mode");
    ModeGroup->setGeometry(272, 225, 131, 80);
    ModeGroup->SetItems({"Force Mode", "Position Mode", "Contour Mode"});
    ModeGroup->SetItemIndex(0);

    OrientationGroup = new QGroupBox("Orientation", c);
    OrientationGroup->setFont(FormFont(9, true));
    OrientationGroup->setGeometry(272, 311, 131, 58);
    OrientationValue = MakeText(OrientationGroup, value(23, 20, 37, 17, "0 "));
    StaticText6 = MakeText(OrientationGroup, {21, 39, 0, 0, "Degrees", taLeft, false, 9});

    SerialOverrideBox = new QCheckBox("Serial Override", c);
    SerialOverrideBox->setFont(FormFont(9));
    // Caption on the left of the box.
    SerialOverrideBox->setLayoutDirection(Qt::RightToLeft);
    SerialOverrideBox->setGeometry(12, 348, 104, 17);
    SerialOverrideBox->setEnabled(false);

    // Operator commands
    ConnectOperatorCommands();
}
