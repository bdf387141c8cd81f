#pragma once
// TTrendForm: the live trend of what the monitor delivers (command force, actual force, position and
// orientation as step lines, the active state and the mode as a band along the bottom), over the
// last 30 s, 2 min, 10 min or 1 h with the present at the right edge; a CSV recording of it and a
// PNG of the plot. Paused, the wheel zooms the time axis and a drag pans it, within the history held;
// the keys Left, Right, + and - do the same. "Back to now" follows the present again. Modeless; the panel
// keeps one and feeds it from the deliveries it receives, with their time of arrival. The data lives in the
// window: closed, nothing is stored (and a recording in progress ends).
//
// Threads: main thread only. Deliveries arrive through the panel's monitor event handlers; nothing
// here raises into them (a failing recording stops itself and says why in the window).

#include "monitor/Ixamonitor.h"
#include "record/TrendLog.h"
#include "toolkit/Dialogs.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QGraphicsLineItem>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QValueAxis>
#include <QWheelEvent>
#include <QWidget>

#include <array>
#include <functional>
#include <string>
#include <vector>

class TTrendForm : public QWidget {
public:
    static constexpr std::array<double, 4> SpanSeconds = {30, 120, 600, 3600};
    // The plotted channels, in the order of their series and check boxes.
    static constexpr std::array<TTrendChannel, 4> Plotted = {
        TTrendChannel::CommandForce, TTrendChannel::ActualForce, TTrendChannel::Position,
        TTrendChannel::Orientation};

    // held: the values delivered since the link came up, as the panel shows them (NaN: none yet); the
    // history starts from them. controllerName: the name the panel shows while online, read when a
    // recording starts.
    TTrendForm(QWidget* owner, TIxaMonitor& monitor, const TTrendValues& held,
               std::function<std::string()> controllerName, size_t capacity = TTrendHistory::DefaultCapacity);
    ~TTrendForm() override;

    // The feed, from the panel's monitor event handlers.
    void Connect();
    void Disconnect();
    void Deliver(TTrendChannel channel, double value);

    // Redraws the plot up to the present (or, paused, up to the end of the view).
    void Refresh();
    void SetSpan(int index);
    // Paused, the view stays where it is and can be moved; resumed, it follows the present again at
    // the chosen span.
    void SetPaused(bool paused);
    bool Following() const { return !Paused; }
    // The time (steady seconds) at the right edge of the plot, and the seconds it shows.
    double ViewEnd() const;
    double ViewSpan() const { return Paused ? PausedSpan : SpanSeconds[size_t(SpanBox->currentIndex())]; }
    // The view scaled by factor (< 1 closer) about the time at, within the history; it pauses the
    // view. Redrawn at the next redraw.
    void Zoom(double factor, double at);
    // The line above an exported picture: controller, address, date, times and span.
    QString ExportTitle() const;
    QImage ExportImage();
    // The folder recordings are offered in: the last one chosen, else TrendRecordingFolder.
    static QString RecordingsFolder();
    // The exact values held at a moment, as the cursor shows them.
    QString Readout(double seconds) const;
    // A plot x coordinate (ms since the epoch, local display) from a steady time and back.
    double ToX(double seconds) const { return WallOffsetMs + seconds * 1000.0; }
    double FromX(double x) const { return (x - WallOffsetMs) / 1000.0; }

    TIxaMonitor& Monitor;
    TTrendLog Log;

    // Controls.
    QComboBox* SpanBox = nullptr;
    QPushButton* PauseButton = nullptr;
    QPushButton* NowButton = nullptr;
    QPushButton* RecordButton = nullptr;
    QPushButton* ExportButton = nullptr;
    std::array<QCheckBox*, 4> SeriesBoxes{};
    QCheckBox* BandBox = nullptr;
    struct TRange {
        QValueAxis* Axis = nullptr;
        QCheckBox* AutoBox = nullptr;
        QLineEdit* MinEdit = nullptr;
        QLineEdit* MaxEdit = nullptr;
    };
    TRange ForceRange, PositionRange, OrientationRange;
    QChartView* ChartView = nullptr;
    QChart* Chart = nullptr;
    QDateTimeAxis* TimeAxis = nullptr;
    QValueAxis* BandAxis = nullptr;
    QLabel* CursorText = nullptr;
    QLabel* StateText = nullptr;
    QLabel* RecordText = nullptr;
    QGraphicsLineItem* CursorLine = nullptr;

    // One series per unbroken stretch of each plotted channel (a gap cannot be drawn inside one).
    std::array<std::vector<QLineSeries*>, 4> Series;
    // The band: active, retracted, then force, position and contour mode.
    std::array<QAreaSeries*, 5> Band{};

    // Plot redraws so far: the follow timer's, and those the controls and the mouse ask for.
    int Redraws = 0;

    TFileDialogSpec RecordDialog;
    TFileDialogSpec ExportDialog;

    // Handlers.
    void SpanBoxChange();
    void PauseButtonClick();
    void NowButtonClick();
    void RecordButtonClick();
    void ExportButtonClick();
    void SeriesBoxClick();
    void RangeChange();
    void TickTimer();
    void ChartMouseMove(const QPoint& position);
    void ChartWheel(const QWheelEvent& event);
    bool ChartDrag(const QMouseEvent& event); // true: the event is used up
    bool ChartKey(const QKeyEvent& event);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void CreateChart();
    QLineSeries* SeriesAt(size_t plotted, size_t index);
    void RefreshBand(double from, double to, int columns);
    void ApplyRange(TRange& range, double lo, double hi, double bottomRoom);
    // A redraw soon, at most one per RedrawTimer interval however often it is asked for.
    void RequestRedraw();
    // end and span moved into the history: never past the present, never before the oldest point.
    void SetView(double end, double span);
    void ShowRecordState();
    // The unit the link is set to; its name only when asked and online (the panel shows it then).
    TTrendUnit CurrentUnit(bool named) const;
    void ShowLinkState();
    void SaveGeometry();
    TTrendTime Now() const { return TTrendTime::Now(); }

    std::function<std::string()> ControllerName;
    QString RecordingName; // the recording's file name, as chosen
    QString RecordSummary; // what the last recording stopped by the user wrote
    double WallOffsetMs = 0;
    bool Paused = false;
    double PausedAt = 0;   // the view's end while paused
    double PausedSpan = 0; // and its span
    bool Dragging = false;
    double DragX = 0, DragEnd = 0;
    QTimer RefreshTimer;
    QTimer RedrawTimer;
    QTimer Ticker;
};
