// Where windows open: the rules on rectangles (an 800 x 500 desktop is a 1600 x 1000 screen at
// scale 2), and a window given a stored place, on the offscreen screen.
#include "toolkit/Placement.h"
#include "toolkit/Settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

using namespace placement;

namespace {

const QRect Desktop(0, 0, 800, 500);
const QSize Minimum(300, 200);

bool Inside(const QRect& frame, const QRect& area) {
    return area.contains(frame);
}

} // namespace

TEST(Placement, AFrameIsShrunkAndMovedIntoTheAreaButNotBelowItsMinimum) {
    struct TCase {
        QRect Frame, Expected;
    };
    const TCase cases[] = {
        {{100, 50, 400, 300}, {100, 50, 400, 300}},   // inside: left alone
        {{0, 0, 1800, 1120}, {0, 0, 800, 500}},       // the trend's 900 x 560 at scale 2, shrunk to the area
        {{600, 400, 400, 300}, {400, 200, 400, 300}}, // hanging over the right and bottom: moved in
        {{-300, -40, 400, 300}, {0, 0, 400, 300}},    // over the left and top
        {{500, 300, 900, 200}, {0, 300, 800, 200}},   // too wide and too far right
    };
    for (const TCase& c : cases) {
        const QRect fitted = FitInArea(c.Frame, Desktop, Minimum);
        EXPECT_EQ(fitted, c.Expected) << c.Frame.x() << "," << c.Frame.y();
        EXPECT_TRUE(Inside(fitted, Desktop));
    }
    // A minimum larger than the area wins, and the top-left (the title bar) stays on it.
    EXPECT_EQ(FitInArea({300, 300, 900, 600}, Desktop, {850, 550}), QRect(0, 0, 850, 550));
}

TEST(Placement, AStoredPlaceCountsOnlyWhenItsTitleStripIsOnAScreen) {
    const QRect left(0, 0, 1600, 970), right(1600, 0, 1280, 1024);
    const QList<QRect> two{left, right};
    // On the second screen, and straddling both (the one holding more of the strip wins).
    EXPECT_EQ(AreaHolding({2000, 100, 600, 400}, two), right);
    EXPECT_EQ(AreaHolding({1500, 100, 400, 300}, two), right);
    EXPECT_EQ(AreaHolding({1300, 100, 400, 300}, two), left);
    // The second screen unplugged: the place is on no screen.
    EXPECT_EQ(AreaHolding({2000, 100, 600, 400}, {left}), std::nullopt);
    // Below the taskbar, above the top, a sliver at the edge: none can be grabbed.
    EXPECT_EQ(AreaHolding({100, 980, 600, 400}, two), std::nullopt);
    EXPECT_EQ(AreaHolding({100, -200, 600, 400}, two), std::nullopt);
    EXPECT_EQ(AreaHolding({-560, 100, 600, 400}, {left}), std::nullopt);
    // A stored place from scale 1, now at scale 2 (the desktop is 800 x 500).
    EXPECT_EQ(AreaHolding({900, 300, 900, 560}, {Desktop}), std::nullopt);
    EXPECT_EQ(AreaHolding({700, 300, 900, 560}, {Desktop}), Desktop);
}

TEST(Placement, BesideTheAnchorOnTheSideWithRoomElseWhereItCoversItLeast) {
    const QRect screen(0, 0, 1600, 1000);
    const QRect panel(593, 285, 413, 430); // centred
    // Room for the whole width on the right.
    EXPECT_EQ(Beside({100, 200, 413, 430}, {900, 560}, Minimum, screen), QRect(521, 200, 900, 560));
    // Only on the left.
    EXPECT_EQ(Beside({1100, 200, 413, 430}, {900, 560}, Minimum, screen), QRect(192, 200, 900, 560));
    // Neither side holds 900, but the right holds the minimum: narrowed to stay beside.
    const QRect narrowed = Beside(panel, {900, 560}, {560, 374}, screen);
    EXPECT_EQ(narrowed, QRect(1014, 285, 586, 560));
    EXPECT_FALSE(narrowed.intersects(panel));
    // Not even the minimum: at the minimum against the screen's edge on the wider side, on the screen.
    const QRect desktop800(0, 0, 800, 500), smallPanel(193, 35, 413, 430);
    const QRect covering = Beside(smallPanel, {900, 560}, {590, 374}, desktop800);
    EXPECT_EQ(covering, QRect(210, 0, 590, 500));
    EXPECT_EQ(Beside({0, 35, 413, 430}, {700, 450}, {590, 374}, desktop800), QRect(210, 35, 590, 450));
    // Below the anchor's top when the window is taller than the room under it.
    EXPECT_EQ(Beside({100, 700, 413, 200}, {900, 560}, Minimum, screen).bottom(), screen.bottom());
}

TEST(Placement, StoredPlacesReadBackAndAnythingElseIsNone) {
    const TStoredPlace place{QRect(-1200, 35, 900, 560), true};
    const std::optional<TStoredPlace> back = ParsePlace(PlaceText(place));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Place, place.Place);
    EXPECT_TRUE(back->Maximized);
    EXPECT_EQ(ParsePlace("10, 20, 300, 200")->Place,
              QRect(10, 20, 300, 200)); // as a settings list reads back
    for (const char* text : {"", "AdnQywADAAAAAAAA", "10,20,300", "10,20,0,200", "10,20,300,200,big",
                             "10,20,3x0,200", "10,20,300,200,maximized,1"})
        EXPECT_EQ(ParsePlace(text), std::nullopt) << text;
}

// The offscreen screen: a place saved on a screen since gone, and one larger than this screen.
TEST(Placement, AWindowKeepsOnlyAStoredPlaceThatIsOnAScreenAndFitsIt) {
    QTemporaryDir dir;
    SetSettingsFolder(dir.path());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const auto opened = [&](const char* stored) {
        auto window = std::make_unique<QWidget>();
        window->setMinimumSize(200, 150);
        window->resize(500, 400);
        WriteSetting("WindowPlace", stored);
        RestorePlace(window.get(), "WindowPlace");
        return window;
    };
    const auto frameOf = [](const QWidget& w) {
        return QRect(w.pos(), w.size().grownBy(FrameAllowance(&w)));
    };

    // Off every screen: not used; the window opens centred at its own size.
    auto gone = opened(QString("%1,100,500,400").arg(area.right() + 300).toLatin1().constData());
    EXPECT_EQ(gone->size(), QSize(500, 400));
    EXPECT_EQ(frameOf(*gone).center(), area.center());
    // On the screen, but larger than it: shrunk to the area, its top-left kept on it.
    auto large =
        opened(QString("20,10,%1,%2").arg(area.width() * 2).arg(area.height() * 2).toLatin1().constData());
    EXPECT_TRUE(Inside(frameOf(*large), area)) << frameOf(*large).width() << "x" << frameOf(*large).height();
    EXPECT_EQ(frameOf(*large).size(), area.size());
    // On the screen and fitting: used as stored, and saved back the same.
    auto kept = opened("30,40,300,250");
    EXPECT_EQ(kept->pos(), QPoint(30, 40));
    EXPECT_EQ(kept->size(), QSize(300, 250));
    kept->move(60, 70);
    SavePlace(kept.get(), "WindowPlace");
    auto again = opened(ReadSetting("WindowPlace").c_str());
    EXPECT_EQ(again->geometry(), QRect(60, 70, 300, 250));
}
