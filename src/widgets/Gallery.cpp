// korva-gallery: shows every gauge kind and the artificial horizon at a few values, and a slider that
// drives one of each, so that the drawing can be judged by eye. Not installed.

#include "widgets/Artificialhorizon.h"
#include "widgets/Cgauges.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>
#include <QWidget>

namespace {

const QColor Green(0x00, 0x80, 0x00);
const QColor Navy(0x00, 0x00, 0x80);
const QColor Silver(0xC0, 0xC0, 0xC0);

// A control with a caption under it.
QWidget* Captioned(QWidget* control, const QString& caption) {
    auto* cell = new QWidget;
    auto* layout = new QVBoxLayout(cell);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(control, 0, Qt::AlignHCenter | Qt::AlignBottom);
    auto* label = new QLabel(caption);
    label->setAlignment(Qt::AlignHCenter);
    layout->addWidget(label);
    return cell;
}

TCGauge* Gauge(TCGaugeKind kind, QSize size, int progress, bool showText = true) {
    auto* gauge = new TCGauge;
    gauge->setFixedSize(size);
    gauge->SetKind(kind);
    gauge->SetShowText(showText);
    gauge->SetForeColor(kind == gkPie || kind == gkNeedle ? Navy : Green);
    gauge->SetColor(Silver);
    gauge->SetProgress(progress);
    return gauge;
}

TArtificialHorizon* Horizon(int size, TBorderStyle border, int level) {
    auto* horizon = new TArtificialHorizon;
    horizon->setFixedSize(size, size);
    horizon->SetBorderStyle(border);
    horizon->SetForeColor(Green);
    horizon->SetLevel(level);
    return horizon;
}

QGroupBox* KindsGroup() {
    struct Row {
        TCGaugeKind Kind;
        const char* Name;
        QSize Size;
    };
    const Row rows[] = {
        {gkText, "Text", {90, 28}},
        {gkHorizontalBar, "Horizontal bar", {120, 28}},
        {gkVerticalBar, "Vertical bar", {40, 90}},
        {gkPie, "Pie", {80, 80}},
        {gkNeedle, "Needle", {110, 60}},
    };
    const int values[] = {0, 37, 75, 100};

    auto* group = new QGroupBox("Gauge kinds (text on, values 0, 37, 75, 100 %)");
    auto* grid = new QGridLayout(group);
    int column = 0;
    for (const Row& row : rows) {
        grid->addWidget(new QLabel(row.Name), 0, column, Qt::AlignHCenter);
        for (int i = 0; i < 4; ++i)
            grid->addWidget(Captioned(Gauge(row.Kind, row.Size, values[i]), QString("%1 %").arg(values[i])),
                            i + 1, column);
        ++column;
    }
    return group;
}

QGroupBox* PanelGroup() {
    auto* group = new QGroupBox("Panel gauges (25 x 217, no text)");
    auto* layout = new QHBoxLayout(group);
    const struct {
        int Progress;
        TBorderStyle Border;
        const char* Caption;
    } gauges[] = {{-1000, bsSingle, "0 %"},
                  {0, bsSingle, "50 %"},
                  {1000, bsSingle, "100 %"},
                  {1000, bsNone, "100 %\nno border"}};
    for (const auto& g : gauges) {
        auto* gauge = Gauge(gkVerticalBar, {25, 217}, 0, false);
        gauge->SetMinValue(-1000);
        gauge->SetMaxValue(1000);
        gauge->SetBorderStyle(g.Border);
        gauge->SetProgress(g.Progress);
        layout->addWidget(Captioned(gauge, g.Caption));
    }
    return group;
}

QGroupBox* HorizonGroup() {
    auto* group = new QGroupBox("Artificial horizon");
    auto* layout = new QVBoxLayout(group);
    auto* smallRow = new QHBoxLayout;
    for (int level : {-90, -45, 0, 10, 30, 90, 180})
        smallRow->addWidget(Captioned(Horizon(34, bsNone, level), QString("%1°").arg(level)));
    auto* largeRow = new QHBoxLayout;
    for (int level : {0, 30, -45})
        largeRow->addWidget(Captioned(Horizon(100, bsSingle, level), QString("%1°, border").arg(level)));
    layout->addWidget(new QLabel("34 x 34, no border, green (as on the panel):"));
    layout->addLayout(smallRow);
    layout->addWidget(new QLabel("100 x 100, single border:"));
    layout->addLayout(largeRow);
    return group;
}

QGroupBox* LiveGroup() {
    auto* group = new QGroupBox("Live (drag the slider)");
    auto* layout = new QHBoxLayout(group);
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, 1000);
    slider->setValue(370);
    slider->setMinimumWidth(160);

    auto* bar = Gauge(gkHorizontalBar, {140, 28}, 0);
    bar->SetMaxValue(1000);
    auto* pie = Gauge(gkPie, {60, 60}, 0);
    pie->SetMaxValue(1000);
    auto* needle = Gauge(gkNeedle, {90, 50}, 0, false);
    needle->SetMaxValue(1000);
    auto* horizon = Horizon(60, bsSingle, 0);

    auto apply = [=](int value) {
        bar->SetProgress(value);
        pie->SetProgress(value);
        needle->SetProgress(value);
        horizon->SetLevel(value * 360 / 1000 - 180);
    };
    QObject::connect(slider, &QSlider::valueChanged, group, apply);
    apply(slider->value());

    layout->addWidget(slider);
    for (QWidget* w : {static_cast<QWidget*>(bar), static_cast<QWidget*>(pie), static_cast<QWidget*>(needle),
                       static_cast<QWidget*>(horizon)})
        layout->addWidget(w);
    return group;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("Korva widgets gallery");
    auto* layout = new QHBoxLayout(&window);
    auto* left = new QVBoxLayout;
    left->addWidget(KindsGroup());
    left->addWidget(LiveGroup());
    left->addStretch();
    auto* right = new QVBoxLayout;
    right->addWidget(PanelGroup());
    right->addWidget(HorizonGroup());
    right->addStretch();
    layout->addLayout(left);
    layout->addLayout(right);
    window.show();
    return app.exec();
}
