// The trend window as the operator reaches it (Maintenance > Trend...), on the panel online with the
// simulated controller: what it plots, records and exports, and that it stores nothing once closed.

#include "support/HelpKey.h"
#include "support/PanelTestSupport.h"
#include "trend/Trend.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QWheelEvent>
#include <sys/resource.h>

namespace {

using enum TTrendChannel;

std::vector<std::string> FileLines(const QString& path) {
    std::vector<std::string> lines;
    std::ifstream in(path.toStdString());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, ','))
        cells.push_back(cell);
    if (!line.empty() && line.back() == ',')
        cells.emplace_back();
    return cells;
}

// Rows recorded while offline: a time and nothing else.
size_t OfflineRows(const std::vector<std::string>& lines) {
    size_t rows = 0;
    for (const std::string& line : lines) {
        const auto cells = Cells(line);
        if (line.empty() || line[0] == '#' || cells.size() != 10 || cells[1].empty())
            continue;
        if (std::all_of(cells.begin() + 3, cells.end(), [](const std::string& c) { return c.empty(); }))
            ++rows;
    }
    return rows;
}

// The stretches of a plotted channel that have points after a refresh.
std::vector<QLineSeries*> Drawn(TTrendForm& form, size_t plotted) {
    std::vector<QLineSeries*> drawn;
    for (QLineSeries* s : form.Series[plotted])
        if (s->count() > 0)
            drawn.push_back(s);
    return drawn;
}

class TrendWindowTest : public TPanelTest {
protected:
    // Recordings are offered under the user's data folder: the test's own.
    TrendWindowTest() { qputenv("XDG_DATA_HOME", Data.path().toLocal8Bit()); }
    ~TrendWindowTest() override { qunsetenv("XDG_DATA_HOME"); }
    TTrendForm& OpenTrend() {
        QAction* item = Panel->MaintenanceMenu->findChild<QAction*>("TrendItem");
        EXPECT_NE(item, nullptr);
        item->trigger();
        EXPECT_NE(Panel->Trend.TrendWindow, nullptr);
        return *Panel->Trend.TrendWindow;
    }
    bool WaitFor(const std::function<bool()>& done, int ms = 8000) { return QTest::qWaitFor(done, ms); }
    // Online, with every value of the connect delivered (the last is the tool number).
    void OnlineWithValues(sim::TSimOptions options = {}) {
        Online(options);
        EXPECT_TRUE(WaitFor([&] { return !std::isnan(Panel->Trend.TrendHeld[size_t(ToolNumber)]); }));
    }
    QTemporaryDir Data;
    QTemporaryDir Files;
};

} // namespace

// The items' order in the menu is the menu test's; here the item is there and opens one window.
TEST_F(TrendWindowTest, OneModelessWindowFromTheMaintenanceMenu) {
    OnlineWithValues();
    const auto actions = Panel->MaintenanceMenu->actions();
    ASSERT_TRUE(actions.contains(Panel->Trend.TrendItem));
    EXPECT_EQ(Panel->Trend.TrendItem->text(), "T&rend...");
    TTrendForm& form = OpenTrend();
    EXPECT_FALSE(form.isModal());
    EXPECT_TRUE(form.isVisible());
    ExpectF1AsksFor(&form, TrendHelpContext);
    OpenTrend();
    EXPECT_EQ(Panel->Trend.TrendWindow.data(), &form);
    int windows = 0;
    for (QWidget* child : Panel->findChildren<QWidget*>())
        windows += dynamic_cast<TTrendForm*>(child) != nullptr;
    EXPECT_EQ(windows, 1);
    // Opened online, it starts from the values delivered so far.
    EXPECT_EQ(form.Log.History.Held(CommandForce), Panel->Monitor->CommandForce.Value.load());
    EXPECT_EQ(form.Log.History.Held(ToolNumber), Panel->Monitor->ToolNumber.Value.load());
}

TEST_F(TrendWindowTest, ForceStepThroughTheLinkIsPlottedAsAStepAndRecorded) {
    OnlineWithValues();
    TTrendForm& form = OpenTrend();
    const QString csv = Files.filePath("step.csv");
    Dialogs->AnswerNextFile(csv);
    form.RecordButton->click();
    ASSERT_TRUE(form.Log.Recording());
    EXPECT_EQ(form.RecordButton->text(), "Stop &Recording");

    const double before = form.Log.History.Held(CommandForce);
    const double step = before == 87.5 ? 12.5 : 87.5;
    Panel->Link->SetCommandForce(step);
    ASSERT_TRUE(WaitFor([&] { return form.Log.History.Held(CommandForce) == step; }));
    form.SetPaused(true); // draws up to this moment and keeps it
    const auto drawn = Drawn(form, 0);
    ASSERT_EQ(drawn.size(), 1u);
    const auto points = drawn[0]->points();
    ASSERT_GE(points.size(), 4);
    // ... before, then a vertical step at one time to the new value, held to the right edge.
    EXPECT_EQ(points.back().y(), step);
    EXPECT_DOUBLE_EQ(points.back().x(), form.ToX(form.ViewEnd()));
    const auto at =
        std::find_if(points.begin(), points.end(), [&](const QPointF& p) { return p.y() == step; });
    ASSERT_NE(at, points.begin());
    EXPECT_EQ((at - 1)->x(), at->x());
    EXPECT_EQ((at - 1)->y(), before);
    EXPECT_NE(form.RecordText->text().indexOf("step.csv"), -1);

    form.RecordButton->click();
    EXPECT_FALSE(form.Log.Recording());
    const auto lines = FileLines(csv);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_NE(lines[0].find("\"controller\",\"IXA"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("\"Command force [N]\",\"Actual force [N]\",\"Position [mm]\""),
              std::string::npos)
        << lines[1];
    std::ostringstream text;
    text << step;
    EXPECT_EQ(Cells(lines.back())[3], text.str());
}

TEST_F(TrendWindowTest, OfflineStretchIsAGapInThePlotAndEmptyCells) {
    OnlineWithValues();
    TTrendForm& form = OpenTrend();
    const QString csv = Files.filePath("gap.csv");
    Dialogs->AnswerNextFile(csv);
    form.RecordButton->click();
    Sim->InjectFault(sim::TSimFault::Silent, -1);
    ASSERT_TRUE(WaitFor([&] { return Panel->OnlineStatus->text() == "Offline"; }));
    EXPECT_FALSE(form.Log.History.Online());
    // The row of the loss and one more of the stretch on the next whole second, in the file.
    size_t offlineLines = 0;
    ASSERT_TRUE(WaitFor([&] {
        const auto lines = FileLines(csv);
        offlineLines = lines.size();
        return OfflineRows(lines) >= 2;
    })) << "no offline rows recorded";
    Sim->ClearFaults();
    ASSERT_TRUE(WaitOnline(12000));
    ASSERT_TRUE(WaitFor([&] { return !std::isnan(form.Log.History.Held(Orientation)); }));
    form.RecordButton->click();
    form.Refresh();

    for (size_t p = 0; p < TTrendForm::Plotted.size(); ++p) {
        const auto drawn = Drawn(form, p);
        ASSERT_EQ(drawn.size(), 2u) << p;
        // Nothing drawn from the loss to the return.
        EXPECT_LT(drawn[0]->points().back().x(), drawn[1]->points().front().x()) << p;
    }
    // The offline rows stay where they were written, and the recording goes on with values after them.
    auto lines = FileLines(csv);
    ASSERT_GT(lines.size(), offlineLines);
    const auto after = Cells(lines.back());
    ASSERT_EQ(after.size(), 10u) << lines.back();
    EXPECT_FALSE(after[6].empty()) << lines.back(); // the orientation, waited for above
    lines.resize(offlineLines);
    EXPECT_GE(OfflineRows(lines), 2u);
}

TEST_F(TrendWindowTest, PauseCursorSeriesAndRanges) {
    OnlineWithValues();
    TTrendForm& form = OpenTrend();
    form.PauseButton->click();
    const double frozen = form.ViewEnd();
    const size_t pointsBefore = form.Log.History.Points(CommandForce).Size();
    ASSERT_EQ(form.Log.History.Held(CommandForce), 50); // a fresh controller's command
    Panel->Link->SetCommandForce(44);
    ASSERT_TRUE(WaitFor([&] { return form.Log.History.Points(CommandForce).Size() > pointsBefore; }));
    EXPECT_EQ(form.ViewEnd(), frozen); // data came in, the view stayed
    form.PauseButton->click();
    EXPECT_GT(form.ViewEnd(), frozen);

    // The cursor reads the exact held values at its time.
    const double now = form.ViewEnd();
    const QString readout = form.Readout(now);
    EXPECT_NE(readout.indexOf("Command " + QLocale().toString(44.0, 'f', 3) + " N"), -1)
        << readout.toStdString();
    EXPECT_NE(readout.indexOf("Tool "), -1);
    form.resize(900, 560);
    form.Refresh();
    QApplication::processEvents();
    const QRectF area = form.Chart->plotArea();
    const QPoint inside = form.ChartView->mapFromScene(form.Chart->mapToScene(area.center()));
    QMouseEvent move(QEvent::MouseMove, inside, form.ChartView->viewport()->mapToGlobal(inside), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form.ChartView->viewport(), &move);
    EXPECT_NE(form.CursorText->text().indexOf("Position"), -1);
    EXPECT_TRUE(form.CursorLine->isVisible());

    // Hidden series, then a typed range.
    form.SeriesBoxes[1]->click();
    for (QLineSeries* s : form.Series[1])
        EXPECT_FALSE(s->isVisible());
    form.ForceRange.AutoBox->click();
    form.ForceRange.MinEdit->setText(QLocale().toString(-50.0));
    form.ForceRange.MaxEdit->setText(QLocale().toString(250.5));
    form.RangeChange();
    EXPECT_EQ(form.ForceRange.Axis->min(), -50);
    EXPECT_EQ(form.ForceRange.Axis->max(), 250.5);
    form.ForceRange.AutoBox->click();
    // Back to the data: forces from 0 (retracted) to the command's 50 N, a little room, nice numbers.
    EXPECT_GE(form.ForceRange.Axis->max(), 50);
    EXPECT_LE(form.ForceRange.Axis->max(), 60);
    EXPECT_GT(form.ForceRange.Axis->min(), -50);

    form.SpanBox->setCurrentIndex(3);
    form.SpanBoxChange();
    EXPECT_NEAR(double(form.TimeAxis->min().msecsTo(form.TimeAxis->max())), 3600e3, 1);
}

TEST_F(TrendWindowTest, ClosingStopsTheStoringAndTheRecording) {
    OnlineWithValues();
    TTrendForm* form = &OpenTrend();
    const QString csv = Files.filePath("closed.csv");
    Dialogs->AnswerNextFile(csv);
    form->RecordButton->click();
    form->move(40, 50);
    form->resize(777, 444);
    form->SetSpan(2);
    const QRect geometry = form->geometry();
    form->close();
    ASSERT_TRUE(WaitFor([&] { return Panel->Trend.TrendWindow.isNull(); }));
    const auto size = QFileInfo(csv).size();
    EXPECT_GT(size, 0);

    // Deliveries go on for the panel, and nothing takes them.
    const double step = Panel->Monitor->CommandForce.Value == 66 ? 77 : 66;
    Panel->Link->SetCommandForce(step);
    ASSERT_TRUE(WaitFor([&] { return Panel->Monitor->CommandForce.Value == step; }));
    QTest::qWait(1200);
    EXPECT_EQ(QFileInfo(csv).size(), size);

    // Opened again: a fresh history, where it was left.
    form = &OpenTrend();
    EXPECT_LE(form->Log.History.Points(CommandForce).Size(), 1u);
    EXPECT_FALSE(form->Log.Recording());
    EXPECT_EQ(form->size(), geometry.size());
    EXPECT_EQ(form->SpanBox->currentIndex(), 2);
}

// A recording lands under exactly the name chosen, in any script; deleted while it runs, it stops
// and the window says why.
TEST_F(TrendWindowTest, ARecordingKeepsItsNameAndStopsWhenItsFileIsDeleted) {
    OnlineWithValues();
    TTrendForm& form = OpenTrend();
    const QString folder = Files.filePath(QString::fromUtf8("Prüfstand é"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString csv = folder + QString::fromUtf8("/ü.csv");
    Dialogs->AnswerNextFile(csv);
    form.RecordButton->click();
    ASSERT_TRUE(form.Log.Recording());
    // The bytes on disk are the name's UTF-8, and nothing else was made.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(QFile::encodeName(folder).toStdString()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"\xC3\xBC.csv"});
    EXPECT_NE(form.RecordText->text().indexOf(QString::fromUtf8("ü.csv")), -1)
        << form.RecordText->text().toStdString();

    ASSERT_TRUE(QFile::remove(csv));
    ASSERT_TRUE(WaitFor([&] { return !form.Log.Recording(); }, 3000));
    EXPECT_TRUE(form.RecordText->text().startsWith("Recording stopped: "))
        << form.RecordText->text().toStdString();
    EXPECT_NE(form.RecordText->text().indexOf("deleted"), -1) << form.RecordText->text().toStdString();
    EXPECT_EQ(form.RecordButton->text(), "&Record...");
}

// Three units on one line: recording at address 0, the spinner stepped to 3. A comment line marks
// the switch with the new unit's name, and the rows after it carry address 3.
TEST_F(TrendWindowTest, ARecordingFollowsTheUnitAcrossAnAddressSwitch) {
    sim::TSimOptions options;
    options.Units = {0, 3, 7};
    OnlineWithValues(options);
    TTrendForm& form = OpenTrend();
    const QString csv = Files.filePath("switch.csv");
    Dialogs->AnswerNextFile(csv);
    form.RecordButton->click();
    ASSERT_TRUE(form.Log.Recording());
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(Panel->AddressUpDown->UpButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return Panel->Link->Address == 3; })); // once the steps have stopped
    ASSERT_TRUE(WaitOnline(12000));
    ASSERT_TRUE(WaitFor([&] { return Panel->OnlineStatus->text() == "IXA Cell 2"; }));
    const uint64_t rows = form.Log.Recorded()->Rows();
    ASSERT_TRUE(WaitFor([&] {
        form.TickTimer();
        return form.Log.Recorded()->Rows() >= rows + 2;
    }));
    form.RecordButton->click();

    const auto lines = FileLines(csv);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(lines[0].find("\"controller\",\"IXA Cell 1\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"address\",0,"), std::string::npos) << lines[0];
    size_t marker = 0;
    for (size_t i = 2; i < lines.size(); ++i)
        if (lines[i].find("\"controller\",\"IXA Cell 2\"") != std::string::npos) {
            EXPECT_EQ(lines[i].rfind("# unit changed,", 0), 0u) << lines[i];
            EXPECT_NE(lines[i].find("\"address\",3,"), std::string::npos) << lines[i];
            marker = i;
        }
    ASSERT_GT(marker, 0u);
    // Every comment names a unit as it was: a controller's name, or "(unknown)" before it is read
    // (never the status field's other texts).
    for (size_t i = 2; i < lines.size(); ++i)
        if (lines[i][0] == '#') {
            const bool known = lines[i].find("\"controller\",\"(unknown)\"") != std::string::npos ||
                               lines[i].find("\"controller\",\"IXA Cell 2\"") != std::string::npos;
            EXPECT_TRUE(known) << lines[i];
        }
    if (::testing::Test::HasFailure() || std::getenv("KORVA_SHOW_RECORDING"))
        for (const std::string& line : lines)
            std::printf("%s\n", line.c_str());
    // Before the marker, unit 3's name never shows; after it, every row is at address 3.
    for (size_t i = 2; i < lines.size(); ++i) {
        if (lines[i][0] == '#')
            continue;
        const auto cells = Cells(lines[i]);
        ASSERT_EQ(cells.size(), 10u) << lines[i];
        if (i > marker) {
            EXPECT_EQ(cells[2], "3") << lines[i];
        } else if (cells[2] == "3") {
            EXPECT_TRUE(cells[3].empty()) << "a value of unit 3 before its marker: " << lines[i];
        }
    }
    // Unit 3's values follow the marker (the line may drop again later: the switch's old passes).
    size_t valued = 0;
    for (size_t i = marker + 1; i < lines.size(); ++i)
        valued += lines[i][0] != '#' && !Cells(lines[i])[3].empty();
    EXPECT_GT(valued, 0u);
}

TEST_F(TrendWindowTest, ExportsThePlotAsPng) {
    OnlineWithValues();
    TTrendForm& form = OpenTrend();
    const QString png = Files.filePath("plot");
    Dialogs->AnswerNextFile(png);
    form.ExportButton->click();
    ASSERT_EQ(Dialogs->Files.back().Form.DefaultExt, "png");
    const QImage image(WithDefaultExt(png, "png"));
    ASSERT_FALSE(image.isNull());
    // The plot under a line that says what it is.
    const QSize plot = form.ChartView->grab().size();
    EXPECT_EQ(image.width(), plot.width());
    EXPECT_GT(image.height(), plot.height() + 8);
    const QString title = form.ExportTitle();
    EXPECT_TRUE(title.startsWith(Panel->OnlineStatus->text() + ", address 0, ")) << title.toStdString();
    const QDateTime end = QDateTime::fromMSecsSinceEpoch(qint64(form.ToX(form.ViewEnd())));
    EXPECT_NE(title.indexOf(end.toString("yyyy-MM-dd")), -1) << title.toStdString();
    EXPECT_TRUE(title.endsWith(" (30 s)")) << title.toStdString();
    form.SetSpan(3);
    EXPECT_TRUE(form.ExportTitle().endsWith(" (1 h)")) << form.ExportTitle().toStdString();
    // The title's band differs from the plot's first rows: text was drawn into it.
    const QImage top = image.copy(0, 0, image.width(), image.height() - plot.height());
    int dark = 0;
    for (int y = 0; y < top.height(); ++y)
        for (int x = 0; x < top.width(); ++x)
            dark += qGray(top.pixel(x, y)) < 128;
    EXPECT_GT(dark, 20);
}

TEST_F(TrendWindowTest, OpenedOfflineItHoldsNothing) {
    OnlineWithValues();
    Sim->InjectFault(sim::TSimFault::Silent, -1);
    ASSERT_TRUE(WaitFor([&] { return Panel->OnlineStatus->text() == "Offline"; }));
    // The panel shows zeros offline; none of them is a delivered value.
    TTrendForm& form = OpenTrend();
    for (int c = 0; c < TrendChannelCount; ++c) {
        EXPECT_TRUE(std::isnan(form.Log.History.Held(TTrendChannel(c)))) << c;
        EXPECT_EQ(form.Log.History.Points(TTrendChannel(c)).Size(), 0u) << c;
    }
    form.Refresh();
    EXPECT_EQ(form.StateText->text(), "Offline");
    for (size_t p = 0; p < TTrendForm::Plotted.size(); ++p)
        EXPECT_TRUE(Drawn(form, p).empty()) << p;
}

// A recording is offered under the controller's name and the minute, in the recordings folder beside
// the backups, then in the folder last chosen; its rows are counted in words and Stop sums it up.
TEST_F(TrendWindowTest, ARecordingIsOfferedANameAndSummedUpOnStop) {
    OnlineWithValues();
    TTrendForm& form = OpenTrend();
    const QString controller = Panel->OnlineStatus->text();
    const QDate today = QDate::currentDate();
    form.RecordButton->click(); // cancelled
    ASSERT_FALSE(form.Log.Recording());
    const QString folder = Data.filePath("Halvane/KorvaWin 3.0/Recordings");
    EXPECT_TRUE(QFileInfo(folder).isDir());
    const TFileDialogSpec offered = Dialogs->Files.back().Form;
    EXPECT_EQ(offered.InitialDir, folder);
    const QRegularExpression name("^" + QRegularExpression::escape(folder + "/" + controller + " ") +
                                  R"((\d{4}-\d\d-\d\d) \d{4}\.csv$)");
    const auto match = name.match(offered.FileName);
    ASSERT_TRUE(match.hasMatch()) << offered.FileName.toStdString();
    EXPECT_GE(QDate::fromString(match.captured(1), "yyyy-MM-dd"), today);

    // In a folder with a long name: the summary names it without widening the window.
    const QString deep = Files.filePath(QString(150, 'd'));
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString csv = deep + "/mine.csv";
    const int narrowest = form.minimumSizeHint().width();
    Dialogs->AnswerNextFile(csv);
    form.RecordButton->click();
    ASSERT_TRUE(form.Log.Recording());
    ASSERT_EQ(form.Log.Recorded()->Rows(), 1u); // the values held at the start
    EXPECT_TRUE(form.RecordText->text().startsWith("Recording mine.csv: 1 row, "))
        << form.RecordText->text().toStdString();
    ASSERT_TRUE(WaitFor([&] {
        form.TickTimer();
        return form.Log.Recorded()->Rows() >= 2;
    }));
    const uint64_t rows = form.Log.Recorded()->Rows();
    EXPECT_TRUE(form.RecordText->text().startsWith(QString("Recording mine.csv: %1 rows, ").arg(rows)))
        << form.RecordText->text().toStdString();

    form.RecordButton->click();
    ASSERT_FALSE(form.Log.Recording());
    const QRegularExpression summary(QString("^Recorded %1 rows in 00:00:0\\d to ").arg(rows) +
                                     QRegularExpression::escape(QDir::toNativeSeparators(csv)) + "$");
    EXPECT_TRUE(summary.match(form.RecordText->text()).hasMatch()) << form.RecordText->text().toStdString();
    QApplication::processEvents();
    EXPECT_LE(form.minimumSizeHint().width(), narrowest);
    EXPECT_EQ(form.RecordButton->text(), "&Record...");

    // The next one is offered where this one went, also in a window opened later.
    form.close();
    ASSERT_TRUE(WaitFor([&] { return Panel->Trend.TrendWindow.isNull(); }));
    OpenTrend().RecordButton->click();
    EXPECT_EQ(Dialogs->Files.back().Form.InitialDir, QFileInfo(csv).absolutePath());
    EXPECT_TRUE(
        Dialogs->Files.back().Form.FileName.startsWith(QFileInfo(csv).absolutePath() + "/" + controller))
        << Dialogs->Files.back().Form.FileName.toStdString();
}

// Paused, the wheel zooms the time axis about the mouse and a drag pans it, within the history;
// "Back to now" follows the present again at the chosen span.
TEST_F(TrendWindowTest, PausedTheViewPansAndZoomsWithinTheHistory) {
    OnlineWithValues();
    TTrendForm& form = OpenTrend();
    form.resize(900, 560);
    QApplication::processEvents();
    QWidget* plot = form.ChartView->viewport();
    const auto at = [&](double fx) {
        const QRectF area = form.Chart->plotArea();
        return form.ChartView->mapFromScene(
            form.Chart->mapToScene(QPointF(area.left() + area.width() * fx, area.center().y())));
    };
    const auto wheel = [&](int notches) {
        QWheelEvent event(at(0.5), plot->mapToGlobal(at(0.5)), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(plot, &event);
    };
    const auto mouse = [&](QEvent::Type type, QPoint position, Qt::MouseButtons buttons) {
        QMouseEvent event(type, position, plot->mapToGlobal(position), Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(plot, &event);
    };
    const auto drag = [&](double fromX, double toX) {
        mouse(QEvent::MouseButtonPress, at(fromX), Qt::LeftButton);
        mouse(QEvent::MouseMove, at((fromX + toX) / 2), Qt::LeftButton);
        mouse(QEvent::MouseMove, at(toX), Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, at(toX), Qt::NoButton);
    };
    const auto shown = [&] { return double(form.TimeAxis->min().msecsTo(form.TimeAxis->max())); };
    const auto axisEnd = [&] { return double(form.TimeAxis->max().toMSecsSinceEpoch()); };
    ASSERT_TRUE(form.Following());
    EXPECT_FALSE(form.NowButton->isEnabled());

    // A few seconds of history to move in, then the closest zoom: it pauses the view.
    ASSERT_TRUE(WaitFor([&] { return TTrendTime::Now().Seconds - form.Log.History.FirstTime() > 4; }));
    wheel(20);
    EXPECT_FALSE(form.Following());
    EXPECT_TRUE(form.NowButton->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return shown() == 2000; })) << shown();
    const double oldest = form.ToX(form.Log.History.FirstTime());

    // Dragged to the right: back in time, but not before the oldest point.
    drag(0.9, 0.4);
    const double end = form.ViewEnd();
    drag(0.1, 0.6);
    EXPECT_NEAR(form.ViewEnd(), end - 1, 0.05);
    ASSERT_TRUE(WaitFor([&] { return std::fabs(axisEnd() - form.ToX(form.ViewEnd())) <= 1; }));
    drag(0.0, 1.0);
    drag(0.0, 1.0);
    drag(0.0, 1.0);
    ASSERT_TRUE(WaitFor([&] { return std::fabs(axisEnd() - form.ToX(form.ViewEnd())) <= 1; }));
    EXPECT_NEAR(double(form.TimeAxis->min().toMSecsSinceEpoch()), oldest, 1);
    // The time under the mouse stays there as it zooms out (away from the bounds).
    drag(0.5, 0.25);
    const double anchor = form.ViewEnd() - form.ViewSpan() / 2;
    wheel(-1);
    EXPECT_NEAR(form.ViewSpan(), 2.5, 1e-9);
    EXPECT_NEAR(form.ViewEnd() - form.ViewSpan() / 2, anchor, 0.005); // a pixel or two
    // Never past the present, nor wider than the widest span.
    drag(1.0, 0.0);
    drag(1.0, 0.0);
    drag(1.0, 0.0);
    EXPECT_LE(form.ViewEnd(), TTrendTime::Now().Seconds);
    EXPECT_GE(form.ViewEnd(), form.Log.History.LastTime());
    // The keyboard's way: a tenth back, then closer about the middle.
    const double keyEnd = form.ViewEnd();
    QTest::keyClick(form.ChartView, Qt::Key_Left);
    EXPECT_NEAR(form.ViewEnd(), keyEnd - form.ViewSpan() / 10, 1e-9);
    QTest::keyClick(form.ChartView, Qt::Key_Plus);
    EXPECT_NEAR(form.ViewSpan(), 2, 1e-9);
    wheel(-40);
    EXPECT_EQ(form.ViewSpan(), 3600);

    // Data coming in leaves the paused view alone; "Back to now" follows again at the span chosen.
    const double paused = form.ViewEnd();
    ASSERT_TRUE(WaitFor([&] { return TTrendTime::Now().Seconds > paused + 0.5; }));
    EXPECT_EQ(form.ViewEnd(), paused);
    form.NowButton->click();
    EXPECT_TRUE(form.Following());
    EXPECT_FALSE(form.NowButton->isEnabled());
    EXPECT_EQ(form.PauseButton->text(), "&Pause");
    EXPECT_EQ(shown(), 30000);
    EXPECT_GT(form.ViewEnd(), paused + 0.5);

    // A click in the plot is no drag: the view keeps following.
    mouse(QEvent::MouseButtonPress, at(0.5), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, at(0.5), Qt::NoButton);
    EXPECT_TRUE(form.Following());
}

// The plot is redrawn on the follow timer, never per delivery, and a redraw that changes no value
// range leaves the value axes alone: their layout is the costly part of a redraw.
TEST_F(TrendWindowTest, RedrawsFollowTheTimerNotTheDeliveries) {
    OnlineWithValues();
    TTrendForm& form = OpenTrend();
    // A burst far beyond the monitor's rate: not one redraw comes of it by itself.
    int redraws = form.Redraws;
    for (int i = 0; i < 2000; ++i)
        form.Deliver(ActualForce, 40 + i % 20);
    EXPECT_EQ(form.Redraws, redraws);

    // Steady deliveries for a while: at most one redraw per 200 ms, and some.
    QElapsedTimer clock;
    clock.start();
    redraws = form.Redraws;
    int delivered = 0;
    ASSERT_TRUE(WaitFor([&] {
        form.Deliver(ActualForce, 40 + ++delivered % 20);
        return clock.elapsed() >= 1500;
    }));
    const int made = form.Redraws - redraws;
    EXPECT_GE(made, 1);
    EXPECT_LE(made, clock.elapsed() / 200 + 1) << delivered << " deliveries";

    // Values that stay: redraws leave the value axes as they are.
    form.Deliver(ActualForce, 45);
    form.Refresh();
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (QValueAxis* axis : {form.ForceRange.Axis, form.PositionRange.Axis, form.OrientationRange.Axis}) {
        spies.push_back(std::make_unique<QSignalSpy>(axis, &QValueAxis::rangeChanged));
        spies.push_back(std::make_unique<QSignalSpy>(axis, &QValueAxis::tickCountChanged));
    }
    redraws = form.Redraws;
    ASSERT_TRUE(WaitFor([&] { return form.Redraws >= redraws + 3; }));
    for (const auto& spy : spies)
        EXPECT_EQ(spy->count(), 0);
}

// The window's cost in processor time per span, against the same run with the window closed, on a
// quiet controller (the monitor polling, delivering what changes). Slow: run on demand with
// KORVA_TREND_CPU=<seconds per measurement>.
TEST_F(TrendWindowTest, CostPerSpan) {
    const char* seconds = std::getenv("KORVA_TREND_CPU");
    if (!seconds)
        GTEST_SKIP() << "set KORVA_TREND_CPU=<seconds> to measure";
    const int ms = std::atoi(seconds) * 1000;
    const auto cpu = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    const auto share = [&] {
        const double c0 = cpu();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(ms);
        return (cpu() - c0) / (double(wall.elapsed()) / 1000.0) * 100.0;
    };
    OnlineWithValues();
    const double closed = share(); // the monitor and the simulator
    std::printf("closed: %.2f %% of a core\n", closed);
    TTrendForm& form = OpenTrend();
    form.resize(900, 560);
    // KORVA_TREND_BUSY: a machine at work, every plotted value changing in every 200 ms polling pass.
    QTimer busy;
    int pass = 0;
    QObject::connect(&busy, &QTimer::timeout, [&] {
        ++pass;
        form.Deliver(CommandForce, 50 + 40 * std::sin(pass * 0.1));
        form.Deliver(ActualForce, 49 + 40 * std::sin(pass * 0.1 - 0.2));
        form.Deliver(Position, 20 + 5 * std::cos(pass * 0.05));
        form.Deliver(Orientation, pass % 7);
    });
    if (std::getenv("KORVA_TREND_BUSY"))
        busy.start(200);
    for (int span = 0; span < 4; ++span) {
        form.SetSpan(span);
        const double open = share();
        std::printf("span %d: %.2f %% (window alone %.2f %%)\n", span, open, open - closed);
        EXPECT_LE(open - closed, 3.0) << span;
    }
}
