// Where the windows open on a 1600 x 1000 screen, run at scale 1 and at scale 2 (an 800 x 500
// desktop): inside the screen's available area, the trend beside the panel when there is room, and
// the trend's legend whole at its smallest size. The panel is online with the simulated controller.

#include "support/PanelTestSupport.h"

#include "maintenance/Diagnostics.h"
#include "maintenance/Terminal.h"
#include "panel/Compareconfig.h"
#include "toolkit/Text.h"
#include "trend/Trend.h"

#include <QApplication>
#include <QDir>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QLayout>
#include <QScreen>
#include <QTimer>

#include <fstream>

namespace {

class TWindowPlacementTest : public TPanelTest {
protected:
    QRect Area() const { return Panel->screen()->availableGeometry(); }
    // The window is shown, inside the area, and could be made no smaller than fits it.
    void ExpectInside(QWidget* window, const char* name) {
        SCOPED_TRACE(name);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        const QRect frame = window->frameGeometry();
        EXPECT_TRUE(Area().contains(frame)) << name << " at " << frame.x() << "," << frame.y() << " "
                                            << frame.width() << "x" << frame.height();
        const QSize least = window->minimumSize().expandedTo(window->minimumSizeHint());
        EXPECT_LE(least.width(), Area().width()) << name;
        EXPECT_LE(least.height(), Area().height()) << name;
    }
    TTrendForm& OpenTrend() {
        Panel->Trend.TrendItem->trigger();
        EXPECT_NE(Panel->Trend.TrendWindow, nullptr);
        QTest::qWait(50);
        return *Panel->Trend.TrendWindow;
    }
    // Runs check inside the modal loop that item opens, then closes the modal window.
    void WhileModal(QAction* item, const std::function<void(QWidget*)>& check) {
        bool ran = false;
        QTimer::singleShot(50, [&] {
            ran = true;
            QWidget* modal = QApplication::activeModalWidget();
            check(modal);
            if (modal)
                modal->close();
        });
        item->trigger();
        EXPECT_TRUE(ran);
    }
    QTemporaryDir Files;
};

} // namespace

TEST_F(TWindowPlacementTest, EveryWindowOpensInsideTheAvailableArea) {
    Online();
    ExpectInside(Panel.get(), "panel");
    ExpectInside(&OpenTrend(), "trend");

    // A file that differs in its name from the controller.
    const QString file = QDir(Files.path()).filePath("name.cfg");
    std::ofstream(file.toStdString()) << "CN Another\n";
    Dialogs->AnswerNextFile(file);
    Panel->Files.CompareItem->trigger();
    ExpectInside(Panel->Files.CompareWindow, "compare");

    Panel->Maintenance.TrafficLogItem->trigger();
    ExpectInside(Panel->Maintenance.TrafficLogWindow, "traffic log");
    Panel->Maintenance.BusOverviewItem->trigger();
    ExpectInside(Panel->Maintenance.BusOverviewWindow, "bus overview");
    Panel->DiagnosticsItem->trigger();
    ExpectInside(DiagnosticsForm, "diagnostics");
    WhileModal(Panel->Maintenance.NetworkItem, [&](QWidget* modal) { ExpectInside(modal, "network"); });
    WhileModal(Panel->TerminalItem, [&](QWidget* modal) { ExpectInside(modal, "terminal"); });
    for (const char* item : {"PositionLimitsItem", "ContourModeItem", "ForceLevelsItem", "KorvaInterfaceItem",
                             "ProgramOptionsItem"})
        WhileModal(Panel->findChild<QAction*>(item), [&](QWidget* modal) { ExpectInside(modal, item); });
}

// The panel against the screen's left edge: room on its right for the whole trend at scale 1, too
// little at scale 2, where the trend opens against the right edge, as wide as it can be made.
TEST_F(TWindowPlacementTest, TheTrendOpensBesideThePanelWhenThereIsRoom) {
    Online();
    Panel->move(Area().topLeft());
    QTest::qWait(20);
    const QRect panel = Panel->frameGeometry();
    TTrendForm& trend = OpenTrend();
    ExpectInside(&trend, "trend");
    const QRect frame = trend.frameGeometry();
    const int room = Area().right() - panel.right();
    const int least = trend.minimumSizeHint().width() + (frame.width() - trend.width());
    if (room >= least) {
        EXPECT_FALSE(frame.intersects(panel));
        EXPECT_GT(frame.left(), panel.right());
        EXPECT_EQ(frame.top(), panel.top());
    } else
        EXPECT_NEAR(frame.right(), Area().right(), 8); // the frame as first estimated

    // Closed and opened again, it keeps the place the operator gave it.
    trend.move(Area().left() + 40, Area().top() + 30);
    trend.resize(trend.minimumSizeHint());
    const QRect moved = trend.frameGeometry();
    trend.close();
    QTest::qWait(0);
    EXPECT_EQ(OpenTrend().frameGeometry(), moved);
}

// The centred panel on this screen: beside it when the minimum width fits next to it.
TEST_F(TWindowPlacementTest, TheTrendBesideTheCentredPanelCoversNoneOfIt) {
    Online();
    const QRect panel = Panel->frameGeometry();
    TTrendForm& trend = OpenTrend();
    const QRect frame = trend.frameGeometry();
    const int room = std::max(Area().right() - panel.right(), panel.left() - Area().left());
    if (room < trend.minimumSizeHint().width() + (frame.width() - trend.width()) + 8)
        GTEST_SKIP() << "no room beside the panel at this scale";
    EXPECT_FALSE(frame.intersects(panel));
}

TEST_F(TWindowPlacementTest, TheTrendsLegendIsWholeAtItsSmallestSize) {
    Online();
    TTrendForm& trend = OpenTrend();
    trend.resize(trend.minimumSizeHint());
    QTest::qWait(50);
    const QRectF shown = trend.ChartView->mapToScene(trend.ChartView->viewport()->rect()).boundingRect();
    QStringList texts;
    for (QGraphicsItem* item : trend.ChartView->scene()->items()) {
        QString text;
        if (auto* simple = dynamic_cast<QGraphicsSimpleTextItem*>(item))
            text = simple->text();
        else if (auto* rich = dynamic_cast<QGraphicsTextItem*>(item))
            text = rich->toPlainText();
        if (item->isVisible() && shown.contains(item->sceneBoundingRect()))
            texts << text;
    }
    for (const char* name : {"Command force", "Actual force", "Position", "Orientation", "Active",
                             "Retracted", "Force mode", "Position mode", "Contour mode"})
        EXPECT_TRUE(texts.contains(name)) << name << " in " << ToAnsi(texts.join(" | "));
}
