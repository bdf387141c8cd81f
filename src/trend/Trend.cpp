// The trend window: its controls, the plot built from the history, the cursor, recording and export.
#include "trend/Trend.h"
#include "trend/TrendLegend.h"

#include "toolkit/Application.h"
#include "toolkit/Help.h"
#include "toolkit/Placement.h"
#include "toolkit/Settings.h"
#include "toolkit/Text.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLegend>
#include <QLegendMarker>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr const char* GeometryKey = "TrendWindow";
constexpr const char* SpanKey = "TrendSpan";
constexpr const char* RecordingsKey = "TrendRecordings";
constexpr std::array<const char*, 4> SeriesNames = {"Command force", "Actual force", "Position",
                                                    "Orientation"};
const std::array<QColor, 4> SeriesColors = {QColor(0, 90, 220), QColor(220, 40, 30), QColor(0, 150, 60),
                                            QColor(150, 80, 170)};
constexpr std::array<const char*, 5> BandNames = {"Active", "Retracted", "Force mode", "Position mode",
                                                  "Contour mode"};
const std::array<QColor, 5> BandColors = {QColor(0, 200, 0, 120), QColor(150, 150, 150, 90),
                                          QColor(30, 100, 220, 110), QColor(230, 140, 0, 120),
                                          QColor(150, 60, 200, 110)};
constexpr const char* ModeNames[] = {"Force mode", "Position mode", "Contour mode"};
// Band strips on their own hidden axis of 0..BandTop: active state 0..1, mode 1.2..2.2.
constexpr double BandTop = 22;
// Refresh interval for each span: the 1 h plot moves a pixel only every few seconds.
constexpr std::array<int, 4> RefreshMs = {200, 500, 1000, 2000};
constexpr int TickMs = 200;
// Paused, the mouse moves the view: redrawn at most this often, however fast the events come.
constexpr int RedrawMs = 100;
// The closest zoom; the widest is the longest span.
constexpr double MinViewSeconds = 2;
// A value axis shows this many ticks or a few more: its range is rounded out to whole steps.
constexpr int AxisTicks = 5;

QString Clock(double ms) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms)).toString("hh:mm:ss.zzz");
}

QString Elapsed(double seconds) {
    const auto s = static_cast<long long>(seconds);
    return QString("%1:%2:%3")
        .arg(s / 3600, 2, 10, QChar('0'))
        .arg(s / 60 % 60, 2, 10, QChar('0'))
        .arg(s % 60, 2, 10, QChar('0'));
}

QString RowsText(uint64_t rows) {
    return rows == 1 ? QString("1 row") : QString("%1 rows").arg(rows);
}

// "30 s", "2 min", "1 h", "4 min 10 s": a span as a person reads it.
QString SpanText(double seconds) {
    const auto s = std::max<long long>(1, std::llround(seconds));
    if (s % 3600 == 0)
        return QString("%1 h").arg(s / 3600);
    if (s >= 60 && s % 60 == 0)
        return QString("%1 min").arg(s / 60);
    if (s >= 60)
        return QString("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QString("%1 s").arg(s);
}

// lo..hi rounded out to whole steps of 1, 2 or 5 times a power of ten, about `ticks` of them. Worked
// out here rather than by the axis: the axis would redraw once for the raw range and again for this.
struct TNiceRange {
    double Min, Max;
    int Ticks;
};
double NiceNumber(double x, bool ceiling) {
    const double z = std::pow(10.0, std::floor(std::log10(x)));
    const double q = x / z;
    if (ceiling)
        return (q <= 1 ? 1 : q <= 2 ? 2 : q <= 5 ? 5 : 10) * z;
    return (q < 1.5 ? 1 : q < 3 ? 2 : q < 7 ? 5 : 10) * z;
}
TNiceRange NiceRange(double lo, double hi, int ticks) {
    const double step = NiceNumber(NiceNumber(hi - lo, true) / (ticks - 1), false);
    const double first = std::floor(lo / step);
    const double last = std::ceil(hi / step);
    return {first * step, last * step, int(last - first) + 1};
}

} // namespace

TTrendForm::TTrendForm(QWidget* owner, TIxaMonitor& monitor, const TTrendValues& held,
                       std::function<std::string()> controllerName, size_t capacity)
    : QWidget(owner, Qt::Window), Monitor(monitor), Log(capacity), ControllerName(std::move(controllerName)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Trend");
    SetHelpKey(this, TrendHelpContext);
    const TTrendTime now = Now();
    WallOffsetMs =
        std::chrono::duration<double, std::milli>(now.Wall.time_since_epoch()).count() - now.Seconds * 1000.0;

    RecordDialog.Title = "Record Trend";
    RecordDialog.DefaultExt = "csv";
    RecordDialog.Filter = "CSV File|*.csv|All Files|*.*";
    ExportDialog.Title = "Export Trend Picture";
    ExportDialog.DefaultExt = "png";
    ExportDialog.Filter = "PNG Picture|*.png|All Files|*.*";

    CreateControls();
    CreateChart();

    // What the panel shows already: the values delivered so far (no query).
    if (Monitor.Online) {
        Log.Connect(now);
        for (int c = 0; c < TrendChannelCount; ++c)
            if (!std::isnan(held[size_t(c)]))
                Log.Deliver(TTrendChannel(c), held[size_t(c)], now);
    }

    resize(900, 560);
    RestorePlaceBeside(this, GeometryKey, owner);

    // Paused or hidden, the view has nothing new to show; the controls redraw it when they change it.
    connect(&RefreshTimer, &QTimer::timeout, this, [this] {
        if (!Paused && isVisible())
            GuardedCall([this] { Refresh(); });
    });
    RedrawTimer.setSingleShot(true);
    RedrawTimer.setInterval(RedrawMs);
    connect(&RedrawTimer, &QTimer::timeout, this, [this] { GuardedCall([this] { Refresh(); }); });
    connect(&Ticker, &QTimer::timeout, this, [this] { GuardedCall([this] { TickTimer(); }); });
    Ticker.start(TickMs);
    SetSpan(std::atoi(ReadSetting(SpanKey, "0").c_str()));
    ShowRecordState();
}

TTrendForm::~TTrendForm() {
    Log.StopRecording();
}

void TTrendForm::CreateControls() {
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* spanLabel = new QLabel("&Span:", this);
    SpanBox = new QComboBox(this);
    SpanBox->addItems({"30 s", "2 min", "10 min", "1 h"});
    spanLabel->setBuddy(SpanBox);
    PauseButton = new QPushButton("&Pause", this);
    PauseButton->setCheckable(true);
    NowButton = new QPushButton("Back to &now", this);
    NowButton->setEnabled(false);
    RecordButton = new QPushButton("&Record...", this);
    ExportButton = new QPushButton("E&xport PNG...", this);
    top->addWidget(spanLabel);
    top->addWidget(SpanBox);
    top->addWidget(PauseButton);
    top->addWidget(NowButton);
    top->addSpacing(12);
    top->addWidget(RecordButton);
    top->addWidget(ExportButton);
    top->addStretch();
    StateText = new QLabel(this);
    top->addWidget(StateText);
    layout->addLayout(top);

    auto* shown = new QHBoxLayout;
    for (size_t i = 0; i < SeriesBoxes.size(); ++i) {
        SeriesBoxes[i] = new QCheckBox(SeriesNames[i], this);
        SeriesBoxes[i]->setChecked(true);
        SeriesBoxes[i]->setStyleSheet(QString("color: %1").arg(SeriesColors[i].name()));
        shown->addWidget(SeriesBoxes[i]);
        connect(SeriesBoxes[i], &QCheckBox::clicked, this,
                [this] { GuardedCall([this] { SeriesBoxClick(); }); });
    }
    BandBox = new QCheckBox("Active / mode band", this);
    BandBox->setChecked(true);
    shown->addWidget(BandBox);
    connect(BandBox, &QCheckBox::clicked, this, [this] { GuardedCall([this] { SeriesBoxClick(); }); });
    shown->addStretch();
    layout->addLayout(shown);

    auto* ranges = new QHBoxLayout;
    const auto addRange = [&](TRange& range, const QString& caption) {
        range.AutoBox = new QCheckBox(caption + " auto", this);
        range.AutoBox->setChecked(true);
        range.MinEdit = new QLineEdit(this);
        range.MaxEdit = new QLineEdit(this);
        for (QLineEdit* edit : {range.MinEdit, range.MaxEdit}) {
            edit->setMaximumWidth(70);
            edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance("max") + 14); // its hint whole
            edit->setEnabled(false);
            connect(edit, &QLineEdit::editingFinished, this,
                    [this] { GuardedCall([this] { RangeChange(); }); });
        }
        range.MinEdit->setPlaceholderText("min");
        range.MaxEdit->setPlaceholderText("max");
        connect(range.AutoBox, &QCheckBox::clicked, this, [this] { GuardedCall([this] { RangeChange(); }); });
        if (ranges->count() > 0)
            ranges->addSpacing(12);
        ranges->addWidget(range.AutoBox);
        ranges->addWidget(range.MinEdit);
        ranges->addWidget(range.MaxEdit);
    };
    addRange(ForceRange, "Force");
    addRange(PositionRange, "Position");
    // Two rows, narrow enough for the window to open beside the panel.
    ranges->addStretch();
    layout->addLayout(ranges);
    ranges = new QHBoxLayout;
    addRange(OrientationRange, "Orientation");
    ranges->addStretch();
    layout->addLayout(ranges);

    ChartView = new QChartView(this);
    ChartView->setMinimumSize(400, 250);
    layout->addWidget(ChartView, 1);

    auto* bottom = new QHBoxLayout;
    CursorText = new QLabel(this);
    CursorText->setTextFormat(Qt::PlainText);
    RecordText = new QLabel(this);
    RecordText->setTextFormat(Qt::PlainText);
    // A long path in the line must not widen the window: what does not fit is in the tool tip.
    RecordText->setMinimumWidth(80);
    bottom->addWidget(CursorText, 1);
    bottom->addWidget(RecordText);
    layout->addLayout(bottom);

    connect(SpanBox, &QComboBox::activated, this, [this] { GuardedCall([this] { SpanBoxChange(); }); });
    connect(PauseButton, &QPushButton::clicked, this,
            [this] { GuardedCall([this] { PauseButtonClick(); }); });
    connect(NowButton, &QPushButton::clicked, this, [this] { GuardedCall([this] { NowButtonClick(); }); });
    connect(RecordButton, &QPushButton::clicked, this,
            [this] { GuardedCall([this] { RecordButtonClick(); }); });
    connect(ExportButton, &QPushButton::clicked, this,
            [this] { GuardedCall([this] { ExportButtonClick(); }); });
}

void TTrendForm::CreateChart() {
    Chart = new QChart;
    Chart->legend()->setAlignment(Qt::AlignBottom);
    Chart->setMargins(QMargins(4, 4, 4, 4));
    ChartView->setChart(Chart); // the view owns the chart
    ChartView->setRenderHint(QPainter::Antialiasing, false);

    TimeAxis = new QDateTimeAxis;
    TimeAxis->setFormat("hh:mm:ss");
    TimeAxis->setTickCount(7);
    Chart->addAxis(TimeAxis, Qt::AlignBottom);
    const auto valueAxis = [&](TRange& range, Qt::Alignment side, const QColor& color) {
        range.Axis = new QValueAxis;
        range.Axis->setLabelsColor(color);
        range.Axis->setTitleBrush(color);
        range.Axis->setLabelFormat("%.4g");
        Chart->addAxis(range.Axis, side);
    };
    valueAxis(ForceRange, Qt::AlignLeft, SeriesColors[0]);
    valueAxis(PositionRange, Qt::AlignRight, SeriesColors[2]);
    valueAxis(OrientationRange, Qt::AlignRight, SeriesColors[3]);
    OrientationRange.Axis->setTitleText("Orientation [deg]");
    BandAxis = new QValueAxis;
    BandAxis->setRange(0, BandTop);
    BandAxis->setVisible(false);
    Chart->addAxis(BandAxis, Qt::AlignLeft);

    for (size_t b = 0; b < Band.size(); ++b) {
        auto* upper = new QLineSeries;
        auto* lower = new QLineSeries;
        Band[b] = new QAreaSeries(upper, lower);
        upper->setParent(Band[b]);
        lower->setParent(Band[b]);
        Band[b]->setName(BandNames[b]);
        Band[b]->setColor(BandColors[b]);
        Band[b]->setPen(Qt::NoPen);
        Chart->addSeries(Band[b]);
        Band[b]->attachAxis(TimeAxis);
        Band[b]->attachAxis(BandAxis);
    }
    for (size_t p = 0; p < Plotted.size(); ++p)
        SeriesAt(p, 0);      // the first one carries the legend entry
    new TTrendLegend(Chart); // the chart's child, wrapping its entries

    ChartView->setMouseTracking(true);
    ChartView->viewport()->setMouseTracking(true);
    ChartView->viewport()->installEventFilter(this);
    ChartView->setFocusPolicy(Qt::StrongFocus);
    ChartView->installEventFilter(this);
    CursorLine = new QGraphicsLineItem(Chart);
    CursorLine->setPen(QPen(QColor(80, 80, 80), 1, Qt::DashLine));
    CursorLine->setZValue(1000);
    CursorLine->hide();
}

QLineSeries* TTrendForm::SeriesAt(size_t plotted, size_t index) {
    auto& pool = Series[plotted];
    while (pool.size() <= index) {
        auto* s = new QLineSeries;
        s->setName(SeriesNames[plotted]);
        QPen pen(SeriesColors[plotted]);
        pen.setWidth(plotted == 0 ? 2 : 1);
        s->setPen(pen);
        Chart->addSeries(s);
        s->attachAxis(TimeAxis);
        TRange& range = plotted < 2 ? ForceRange : plotted == 2 ? PositionRange : OrientationRange;
        s->attachAxis(range.Axis);
        s->setVisible(SeriesBoxes[plotted]->isChecked());
        if (!pool.empty())
            for (QLegendMarker* marker : Chart->legend()->markers(s))
                marker->setVisible(false);
        pool.push_back(s);
    }
    return pool[index];
}

// The panel shows the controller's name only after the connect's delivery: the name comes with the
// first value.
void TTrendForm::Connect() {
    const TTrendTime now = Now();
    Log.SetUnit(CurrentUnit(false), now);
    Log.Connect(now);
}

void TTrendForm::Disconnect() {
    Log.Disconnect(Now());
}

void TTrendForm::Deliver(TTrendChannel channel, double value) {
    const TTrendTime now = Now();
    Log.SetUnit(CurrentUnit(true), now);
    Log.Deliver(channel, value, now);
}

TTrendUnit TTrendForm::CurrentUnit(bool named) const {
    TTrendUnit unit;
    // The port's name changes only on the main thread, in the setup dialog.
    unit.Port = Monitor.Link.Port ? Monitor.Link.Port->Name : std::string();
    unit.Address = Monitor.Link.Address;
    unit.Version = Monitor.Link.Version;
    if (named && Log.History.Online())
        unit.ControllerName = ControllerName();
    return unit;
}

double TTrendForm::ViewEnd() const {
    return Paused ? PausedAt : std::max(Now().Seconds, Log.History.LastTime());
}

void TTrendForm::SetSpan(int index) {
    index = std::clamp(index, 0, int(SpanSeconds.size()) - 1);
    SpanBox->setCurrentIndex(index);
    TimeAxis->setFormat(index == 0 ? "hh:mm:ss" : index == 3 ? "hh:mm" : "hh:mm:ss");
    RefreshTimer.start(RefreshMs[index]);
    if (Paused)
        SetView(PausedAt, SpanSeconds[size_t(index)]);
    Refresh();
}

void TTrendForm::SetPaused(bool paused) {
    if (paused && !Paused) {
        PausedAt = ViewEnd();
        PausedSpan = ViewSpan();
    }
    Paused = paused;
    Dragging = Dragging && paused;
    PauseButton->setChecked(paused);
    PauseButton->setText(paused ? "Resume" : "&Pause");
    NowButton->setEnabled(paused);
    Refresh();
}

void TTrendForm::SetView(double end, double span) {
    const double latest = std::max(Now().Seconds, Log.History.LastTime());
    span = std::clamp(span, MinViewSeconds, SpanSeconds.back());
    end = std::min(end, latest);
    end = std::max(end, std::min(Log.History.FirstTime() + span, latest));
    PausedAt = end;
    PausedSpan = span;
    RequestRedraw();
}

void TTrendForm::Zoom(double factor, double at) {
    if (!Paused)
        SetPaused(true);
    const double span = std::clamp(PausedSpan * factor, MinViewSeconds, SpanSeconds.back());
    // The time under the mouse stays under it.
    SetView(at + (PausedAt - at) * span / PausedSpan, span);
}

void TTrendForm::RequestRedraw() {
    if (!RedrawTimer.isActive())
        RedrawTimer.start();
}

void TTrendForm::Refresh() {
    ++Redraws;
    const double to = ViewEnd();
    const double from = to - ViewSpan();
    const int columns = std::max(100, int(Chart->plotArea().width()));
    constexpr double inf = std::numeric_limits<double>::infinity();
    std::array<double, 3> lo = {inf, inf, inf}, hi = {-inf, -inf, -inf};

    for (size_t p = 0; p < Plotted.size(); ++p) {
        const auto segments = Log.History.Steps(Plotted[p], from, to, columns);
        const size_t axis = p < 2 ? 0 : p - 1;
        for (size_t k = 0; k < segments.size(); ++k) {
            QList<QPointF> points;
            points.reserve(qsizetype(segments[k].size()));
            for (const TTrendPoint& point : segments[k]) {
                points.append({ToX(point.Time), point.Value});
                if (SeriesBoxes[p]->isChecked()) {
                    lo[axis] = std::min(lo[axis], point.Value);
                    hi[axis] = std::max(hi[axis], point.Value);
                }
            }
            SeriesAt(p, k)->replace(points);
        }
        for (size_t k = segments.size(); k < Series[p].size(); ++k)
            if (Series[p][k]->count() > 0)
                Series[p][k]->clear();
    }
    RefreshBand(from, to, columns);

    TimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(qint64(ToX(from))),
                       QDateTime::fromMSecsSinceEpoch(qint64(ToX(to))));
    const double room = BandBox->isChecked() ? 0.14 : 0.0;
    ApplyRange(ForceRange, lo[0], hi[0], room);
    ApplyRange(PositionRange, lo[1], hi[1], room);
    ApplyRange(OrientationRange, lo[2], hi[2], room);
    const QString force = ToQString(Monitor.Link.ForceUnits);
    const QString length = ToQString(Monitor.Link.LengthUnits);
    ForceRange.Axis->setTitleText("Force [" + force + "]");
    PositionRange.Axis->setTitleText("Position [" + length + "]");
    ShowLinkState();
}

void TTrendForm::RefreshBand(double from, double to, int columns) {
    const bool shown = BandBox->isChecked();
    for (QAreaSeries* band : Band)
        band->setVisible(shown);
    if (!shown)
        return;
    // Each strip is up where its state holds and flat (no area) elsewhere; offline it is flat throughout.
    const auto strip = [&](QAreaSeries* band, TTrendChannel channel, double state, double base, double top) {
        QList<QPointF> upper{{ToX(from), base}};
        for (const TTrendSegment& segment : Log.History.Steps(channel, from, to, columns)) {
            for (size_t i = 0; i + 1 < segment.size(); ++i) {
                const TTrendPoint& a = segment[i];
                const TTrendPoint& b = segment[i + 1];
                if (a.Value != state || b.Time <= a.Time)
                    continue;
                upper.append({ToX(a.Time), base});
                upper.append({ToX(a.Time), top});
                upper.append({ToX(b.Time), top});
                upper.append({ToX(b.Time), base});
            }
        }
        upper.append({ToX(to), base});
        band->upperSeries()->replace(upper);
        band->lowerSeries()->replace(QList<QPointF>{{ToX(from), base}, {ToX(to), base}});
    };
    strip(Band[0], TTrendChannel::Active, 1, 0, 1);
    strip(Band[1], TTrendChannel::Active, 0, 0, 1);
    for (int mode = 0; mode < 3; ++mode)
        strip(Band[size_t(2 + mode)], TTrendChannel::Mode, mode, 1.2, 2.2);
}

void TTrendForm::ApplyRange(TRange& range, double lo, double hi, double bottomRoom) {
    if (!range.AutoBox->isChecked()) {
        bool minOk = false, maxOk = false;
        const double min = QLocale().toDouble(range.MinEdit->text(), &minOk);
        const double max = QLocale().toDouble(range.MaxEdit->text(), &maxOk);
        if (minOk && maxOk && min < max) {
            range.Axis->setRange(min, max);
            return;
        }
    }
    if (!(lo <= hi)) { // nothing to show
        lo = 0;
        hi = 1;
    }
    if (hi - lo < 1e-9) {
        const double pad = std::max(std::fabs(hi) * 0.05, 1.0);
        lo -= pad;
        hi += pad;
    }
    const double span = hi - lo;
    // An axis that keeps its range is not laid out again: setRange and setTickCount do nothing then.
    const TNiceRange nice = NiceRange(lo - span * (0.05 + bottomRoom), hi + span * 0.05, AxisTicks);
    range.Axis->setRange(nice.Min, nice.Max);
    range.Axis->setTickCount(nice.Ticks);
}

void TTrendForm::SpanBoxChange() {
    SetSpan(SpanBox->currentIndex());
}

void TTrendForm::PauseButtonClick() {
    SetPaused(!Paused);
}

void TTrendForm::NowButtonClick() {
    SetPaused(false);
}

void TTrendForm::SeriesBoxClick() {
    for (size_t p = 0; p < Plotted.size(); ++p)
        for (QLineSeries* s : Series[p])
            s->setVisible(SeriesBoxes[p]->isChecked());
    Refresh();
}

void TTrendForm::RangeChange() {
    for (TRange* range : {&ForceRange, &PositionRange, &OrientationRange}) {
        const bool typed = !range->AutoBox->isChecked();
        range->MinEdit->setEnabled(typed);
        range->MaxEdit->setEnabled(typed);
        if (typed && range->MinEdit->text().isEmpty() && range->MaxEdit->text().isEmpty()) {
            // Start from what is shown.
            range->MinEdit->setText(QLocale().toString(range->Axis->min(), 'g', 6));
            range->MaxEdit->setText(QLocale().toString(range->Axis->max(), 'g', 6));
        }
    }
    Refresh();
}

void TTrendForm::RecordButtonClick() {
    if (Log.Recording()) {
        const uint64_t rows = Log.Recorded()->Rows();
        const double seconds = Log.Recorded()->Elapsed(Now());
        Log.StopRecording();
        if (Log.RecordError().empty())
            RecordSummary =
                QString("Recorded %1 in %2 to %3")
                    .arg(RowsText(rows), Elapsed(seconds), QDir::toNativeSeparators(RecordingName));
        ShowRecordState();
        return;
    }
    const TTrendUnit unit = CurrentUnit(true);
    // Offered: the controller and the minute, in the folder of the last recording.
    const QString folder = RecordingsFolder();
    QDir().mkpath(folder);
    const QDateTime local = QDateTime::currentDateTime();
    std::tm t{};
    t.tm_year = local.date().year() - 1900;
    t.tm_mon = local.date().month() - 1;
    t.tm_mday = local.date().day();
    t.tm_hour = local.time().hour();
    t.tm_min = local.time().minute();
    RecordDialog.InitialDir = folder;
    const std::string controller = ToQString(unit.ControllerName).toStdString(); // its name in UTF-8
    RecordDialog.FileName = QDir(folder).filePath(QString::fromStdString(TrendRecordingName(controller, t)));
    if (!Dialogs().SaveFile(RecordDialog))
        return;
    WriteSetting(RecordingsKey, ToSystemName(QFileInfo(RecordDialog.FileName).absolutePath()));
    TTrendRecordHeader header;
    header.ControllerName = unit.ControllerName;
    header.Version = unit.Version;
    header.ForceUnits = Monitor.Link.ForceUnits;
    header.LengthUnits = Monitor.Link.LengthUnits;
    header.Port = unit.Port;
    header.Address = unit.Address;
    try {
        // The name as the file system spells it: "Запись.csv" stays that, in any locale.
        RecordingName = RecordDialog.FileName;
        RecordSummary.clear();
        Log.StartRecording(QFileInfo(RecordDialog.FileName).filesystemFilePath(), header, Now());
    } catch (const ETrendRecord& error) {
        ShowError(
            QString("The recording could not be started:\n%1").arg(QString::fromStdString(error.what())));
    }
    ShowRecordState();
}

QString TTrendForm::RecordingsFolder() {
    const AnsiString chosen = ReadSetting(RecordingsKey, "");
    if (!chosen.empty())
        return FromSystemName(chosen);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return FromSystemName(TrendRecordingFolder(ToSystemName(data)).generic_string());
}

QString TTrendForm::ExportTitle() const {
    const std::string name = CurrentUnit(true).ControllerName;
    const double end = ViewEnd();
    const double span = ViewSpan();
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(qint64(ToX(end - span)));
    const QDateTime to = QDateTime::fromMSecsSinceEpoch(qint64(ToX(end)));
    return QString("%1, address %2, %3 to %4 (%5)")
        .arg(name.empty() ? QString("(offline)") : ToQString(name))
        .arg(Monitor.Link.Address)
        .arg(from.toString("yyyy-MM-dd hh:mm:ss"))
        .arg(to.toString(from.date() == to.date() ? "hh:mm:ss" : "yyyy-MM-dd hh:mm:ss"))
        .arg(SpanText(span));
}

// The plot as shown, under a title line that says what it is.
QImage TTrendForm::ExportImage() {
    CursorLine->hide();
    const QPixmap plot = ChartView->grab();
    const qreal ratio = plot.devicePixelRatio();
    const int width = int(plot.width() / ratio);
    QFont font = this->font();
    font.setBold(true);
    const QFontMetrics metrics(font);
    const int titleHeight = metrics.height() + 8;
    QImage image(plot.width(), plot.height() + int(titleHeight * ratio), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(8, 0, width - 16, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(ExportTitle(), Qt::ElideRight, width - 16));
    painter.drawPixmap(0, titleHeight, plot);
    return image;
}

void TTrendForm::ExportButtonClick() {
    if (!Dialogs().SaveFile(ExportDialog))
        return;
    if (!ExportImage().save(ExportDialog.FileName, "PNG"))
        ShowError(QString("The picture could not be saved as %1.").arg(ExportDialog.FileName));
}

void TTrendForm::TickTimer() {
    const TTrendTime now = Now();
    if (Log.Recording()) {
        Log.SetUnit(CurrentUnit(true), now);
        Log.SetUnits(Monitor.Link.ForceUnits, Monitor.Link.LengthUnits, now);
    }
    Log.Tick(now);
    ShowRecordState();
    ShowLinkState();
}

void TTrendForm::ShowLinkState() {
    StateText->setText(Log.History.Online() ? (Paused ? "Online, paused" : "Online")
                                            : (Paused ? "Offline, paused" : "Offline"));
}

void TTrendForm::ShowRecordState() {
    const TTrendRecorder* recorder = Log.Recorded();
    RecordButton->setText(recorder ? "Stop &Recording" : "&Record...");
    if (recorder) {
        RecordText->setText(QString("Recording %1: %2, %3")
                                .arg(QFileInfo(RecordingName).fileName(), RowsText(recorder->Rows()),
                                     Elapsed(recorder->Elapsed(Now()))));
    } else if (!Log.RecordError().empty()) {
        RecordText->setText("Recording stopped: " + QString::fromStdString(Log.RecordError()));
    } else {
        RecordText->setText(RecordSummary);
    }
    RecordText->setToolTip(RecordText->text());
}

QString TTrendForm::Readout(double seconds) const {
    const TTrendHistory& h = Log.History;
    const QLocale locale;
    const auto value = [&](TTrendChannel channel, int decimals, const QString& unit) {
        const double v = h.ValueAt(channel, seconds);
        return std::isnan(v) ? QString("-")
                             : locale.toString(v, 'f', decimals) + (unit.isEmpty() ? "" : " " + unit);
    };
    const QString force = ToQString(Monitor.Link.ForceUnits);
    QString text = Clock(ToX(seconds));
    text += "   Command " + value(TTrendChannel::CommandForce, 3, force);
    text += "   Actual " + value(TTrendChannel::ActualForce, 3, force);
    text += "   Position " + value(TTrendChannel::Position, 3, ToQString(Monitor.Link.LengthUnits));
    text += "   Orientation " + value(TTrendChannel::Orientation, 2, "deg");
    const double active = h.ValueAt(TTrendChannel::Active, seconds);
    const double mode = h.ValueAt(TTrendChannel::Mode, seconds);
    const double tool = h.ValueAt(TTrendChannel::ToolNumber, seconds);
    if (!std::isnan(active))
        text += active != 0 ? "   Active" : "   Retracted";
    if (!std::isnan(mode) && mode >= 0 && mode <= 2)
        text += QString("   ") + ModeNames[int(mode)];
    if (!std::isnan(tool))
        text += QString("   Tool %1").arg(static_cast<long long>(tool));
    if (std::isnan(active) && std::isnan(h.ValueAt(TTrendChannel::Position, seconds)))
        text += "   (offline)";
    return text;
}

void TTrendForm::ChartMouseMove(const QPoint& position) {
    const QPointF scene = ChartView->mapToScene(position);
    const QPointF inChart = Chart->mapFromScene(scene);
    const QRectF area = Chart->plotArea();
    if (!area.contains(inChart) || Series[0].empty()) {
        CursorLine->hide();
        CursorText->clear();
        return;
    }
    const QPointF value = Chart->mapToValue(inChart, Series[0][0]);
    CursorLine->setLine(inChart.x(), area.top(), inChart.x(), area.bottom());
    CursorLine->show();
    CursorText->setText(Readout(FromX(value.x())));
}

void TTrendForm::ChartWheel(const QWheelEvent& event) {
    const double steps = event.angleDelta().y() / 120.0;
    if (steps == 0)
        return;
    // The time under the mouse in the view as it is now (a redraw may be pending).
    const QPointF inChart = Chart->mapFromScene(ChartView->mapToScene(event.position().toPoint()));
    const QRectF area = Chart->plotArea();
    const double end = ViewEnd();
    const double share =
        area.width() > 0 ? std::clamp((inChart.x() - area.left()) / area.width(), 0.0, 1.0) : 0.5;
    const double at = end - ViewSpan() * (1 - share);
    Zoom(std::pow(0.8, steps), at); // away from the user: closer
}

// A drag with the left button moves the view: it starts paused from where the press was.
bool TTrendForm::ChartDrag(const QMouseEvent& event) {
    const double x = event.position().x();
    if (event.type() == QEvent::MouseButtonPress && event.button() == Qt::LeftButton) {
        Dragging = true;
        DragX = x;
        DragEnd = ViewEnd();
        return true;
    }
    if (event.type() == QEvent::MouseButtonRelease && event.button() == Qt::LeftButton) {
        Dragging = false;
        ChartView->viewport()->unsetCursor();
        return true;
    }
    if (event.type() != QEvent::MouseMove || !Dragging || !(event.buttons() & Qt::LeftButton))
        return false;
    const double width = Chart->plotArea().width();
    if (width <= 0 || (Following() && std::fabs(x - DragX) < 3))
        return false; // a click, not yet a drag
    if (Following())
        SetPaused(true);
    ChartView->viewport()->setCursor(Qt::ClosedHandCursor);
    SetView(DragEnd - (x - DragX) / width * PausedSpan, PausedSpan);
    return false; // the cursor still follows the mouse
}

// The keyboard's way: Left and Right move the view a tenth, + and - zoom about its middle.
bool TTrendForm::ChartKey(const QKeyEvent& event) {
    const double span = ViewSpan();
    const double middle = ViewEnd() - span / 2;
    switch (event.key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (Following())
            SetPaused(true);
        SetView(PausedAt + (event.key() == Qt::Key_Left ? -span : span) / 10, PausedSpan);
        return true;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        Zoom(0.8, middle);
        return true;
    case Qt::Key_Minus:
        Zoom(1.25, middle);
        return true;
    default:
        return false;
    }
}

bool TTrendForm::eventFilter(QObject* watched, QEvent* event) {
    if (ChartView && watched == ChartView && event->type() == QEvent::KeyPress) {
        bool used = false;
        GuardedCall([&] { used = ChartKey(*static_cast<QKeyEvent*>(event)); });
        if (used)
            return true;
    }
    if (ChartView && watched == ChartView->viewport()) {
        const QEvent::Type type = event->type();
        if (type == QEvent::Wheel) {
            GuardedCall([&] { ChartWheel(*static_cast<QWheelEvent*>(event)); });
            return true;
        }
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
            type == QEvent::MouseMove) {
            bool used = false;
            GuardedCall([&] { used = ChartDrag(*static_cast<QMouseEvent*>(event)); });
            if (used)
                return true;
        }
        if (type == QEvent::MouseMove)
            GuardedCall([&] { ChartMouseMove(static_cast<QMouseEvent*>(event)->position().toPoint()); });
        else if (type == QEvent::Leave) {
            CursorLine->hide();
            CursorText->clear();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TTrendForm::SaveGeometry() {
    SavePlace(this, GeometryKey);
    WriteSetting(SpanKey, std::to_string(SpanBox->currentIndex()));
}

void TTrendForm::closeEvent(QCloseEvent* event) {
    SaveGeometry();
    Log.StopRecording();
    QWidget::closeEvent(event);
}
