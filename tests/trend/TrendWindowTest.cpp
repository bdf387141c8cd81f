// The trend window as the operator reaches it (Maintenance > Trend...), on the panel online with the
// simulated controller: what it plots, records and exports, and that it stores nothing once closed.

#include "support/PanelTestSupport.h"
#include "trend/Trend.h"

#include <QFile>
#include <QImage>
#include <QMenu>
#include <QTemporaryDir>

#include <cmath>
#include <fstream>
#include <sstream>

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
    TTrendForm& OpenTrend() {
        QAction* item = Panel->MaintenanceMenu->findChild<QAction*>("TrendItem");
        EXPECT_NE(item, nullptr);
        item->trigger();
        EXPECT_NE(Panel->TrendWindow, nullptr);
        return *Panel->TrendWindow;
    }
    bool WaitFor(const std::function<bool()>& done, int ms = 8000) { return QTest::qWaitFor(done, ms); }
    // Online, with every value of the connect delivered (the last is the tool number).
    void OnlineWithValues() {
        Online();
        EXPECT_TRUE(WaitFor([&] { return !std::isnan(Panel->TrendHeld[size_t(ToolNumber)]); }));
    }
    QTemporaryDir Files;
};

} // namespace

// The items' order in the menu is the menu test's; here the item is there and opens one window.
TEST_F(TrendWindowTest, OneModelessWindowFromTheMaintenanceMenu) {
    OnlineWithValues();
    const auto actions = Panel->MaintenanceMenu->actions();
    ASSERT_TRUE(actions.contains(Panel->TrendItem));
    EXPECT_EQ(Panel->TrendItem->text(), "T&rend...");
    TTrendForm& form = OpenTrend();
    EXPECT_FALSE(form.isModal());
    EXPECT_TRUE(form.isVisible());
    OpenTrend();
    EXPECT_EQ(Panel->TrendWindow.data(), &form);
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
    EXPECT_NE(lines[0].find("controller \"IXA"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("Command force [N],Actual force [N],Position [mm]"), std::string::npos)
        << lines[1];
    std::ostringstream text;
    text << step;
    EXPECT_EQ(Cells(lines.back())[2], text.str());
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
    QTest::qWait(1300); // an offline row
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
    size_t empty = 0;
    for (const std::string& line : FileLines(csv)) {
        const auto cells = Cells(line);
        if (line[0] != '#' && cells.size() == 9 && cells[2].empty() && cells[3].empty() && cells[8].empty())
            ++empty;
    }
    EXPECT_GE(empty, 2u);
}

TEST_F(TrendWindowTest, PauseCursorSeriesAndRanges) {
    OnlineWithValues();
    TTrendForm& form = OpenTrend();
    form.PauseButton->click();
    const double frozen = form.ViewEnd();
    const size_t pointsBefore = form.Log.History.Points(CommandForce).Size();
    Panel->Link->SetCommandForce(form.Log.History.Held(CommandForce) == 44 ? 55 : 44);
    ASSERT_TRUE(WaitFor([&] { return form.Log.History.Points(CommandForce).Size() > pointsBefore; }));
    EXPECT_EQ(form.ViewEnd(), frozen); // data came in, the view stayed
    form.PauseButton->click();
    EXPECT_GT(form.ViewEnd(), frozen);

    // The cursor reads the exact held values at its time.
    const double now = form.ViewEnd();
    const QString readout = form.Readout(now);
    EXPECT_NE(
        readout.indexOf("Command " + QLocale().toString(form.Log.History.Held(CommandForce), 'f', 3) + " N"),
        -1)
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
    EXPECT_NE(form.ForceRange.Axis->max(), 250.5);

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
    ASSERT_TRUE(WaitFor([&] { return Panel->TrendWindow.isNull(); }));
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

TEST_F(TrendWindowTest, ExportsThePlotAsPng) {
    OnlineWithValues();
    TTrendForm& form = OpenTrend();
    const QString png = Files.filePath("plot");
    Dialogs->AnswerNextFile(png);
    form.ExportButton->click();
    ASSERT_EQ(Dialogs->Files.back().Form.DefaultExt, "png");
    const QImage image(WithDefaultExt(png, "png"));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), form.ChartView->grab().size());
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
