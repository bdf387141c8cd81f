#include "WidgetTestSupport.h"
#include "widgets/Artificialhorizon.h"

#include <cmath>
#include <numbers>

namespace {

// The panel's horizon: 34 x 34, no border, green ground on white sky, grey around.
void MakePanelHorizon(TArtificialHorizon& horizon, int level) {
    horizon.resize(34, 34);
    horizon.SetBorderStyle(bsNone);
    horizon.SetForeColor(QColor(Green));
    horizon.SetColor(QColor(Silver));
    horizon.SetLevel(level);
}

} // namespace

TEST(TArtificialHorizon, LinePointsOnThePanelHorizon) {
    const struct {
        int Level;
        QPoint S, E;
    } rows[] = {
        {0, {0, 17}, {34, 17}},  {10, {0, 19}, {33, 14}},  {30, {2, 25}, {31, 8}},    {90, {17, 33}, {16, 0}},
        {-45, {4, 4}, {29, 29}}, {180, {33, 16}, {0, 17}}, {-180, {33, 17}, {0, 16}},
    };
    for (const auto& row : rows) {
        TArtificialHorizon horizon;
        MakePanelHorizon(horizon, row.Level);
        const auto [s, e] = horizon.HorizonPoints();
        EXPECT_EQ(s, row.S) << "level " << row.Level;
        EXPECT_EQ(e, row.E) << "level " << row.Level;
    }
}

TEST(TArtificialHorizon, GroundHalfTurnsWithLevel) {
    // Positive levels turn the line counterclockwise; the ground lies on the side that starts below.
    for (int level : {0, 10, 30, 45, 90, 135, 180, -10, -45, -90, -135, -180}) {
        TArtificialHorizon horizon;
        MakePanelHorizon(horizon, level);
        const QImage picture = Picture(horizon);
        const double a = level * std::numbers::pi / 180.0;
        const QPoint down(static_cast<int>(std::lround(17 + 9 * std::sin(a))),
                          static_cast<int>(std::lround(17 + 9 * std::cos(a))));
        const QPoint up(static_cast<int>(std::lround(17 - 9 * std::sin(a))),
                        static_cast<int>(std::lround(17 - 9 * std::cos(a))));
        EXPECT_EQ(picture.pixel(down), Green) << "level " << level << " at " << down.x() << "," << down.y();
        EXPECT_EQ(picture.pixel(up), White) << "level " << level << " at " << up.x() << "," << up.y();
    }
}

TEST(TArtificialHorizon, LevelZeroPicture) {
    TArtificialHorizon horizon;
    MakePanelHorizon(horizon, 0);
    const QImage picture = Picture(horizon);
    for (QPoint corner : {QPoint(0, 0), QPoint(33, 0), QPoint(0, 33), QPoint(33, 33)})
        EXPECT_EQ(picture.pixel(corner), Silver) << corner.x() << "," << corner.y();
    // The outline touches the box on all four sides.
    for (QPoint edge : {QPoint(17, 0), QPoint(17, 33), QPoint(0, 17), QPoint(33, 17)})
        EXPECT_EQ(picture.pixel(edge), Black) << edge.x() << "," << edge.y();
    for (int x = 0; x < 34; ++x)
        EXPECT_EQ(picture.pixel(x, 17), Black) << "horizon line at " << x;
    EXPECT_EQ(picture.pixel(17, 16), White);
    EXPECT_EQ(picture.pixel(17, 18), Green);
}

TEST(TArtificialHorizon, SingleBorderFramesTheDisc) {
    TArtificialHorizon horizon;
    horizon.SetColor(QColor(Silver));
    const QImage picture = Picture(horizon); // 100 x 100, single border, black ground
    ASSERT_EQ(picture.size(), QSize(100, 100));
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(picture.pixel(i, 0), Black);
        EXPECT_EQ(picture.pixel(i, 99), Black);
        EXPECT_EQ(picture.pixel(0, i), Black);
        EXPECT_EQ(picture.pixel(99, i), Black);
    }
    EXPECT_EQ(picture.pixel(2, 2), Silver);
    EXPECT_EQ(picture.pixel(97, 97), Silver);
    EXPECT_EQ(picture.pixel(50, 25), White);
    EXPECT_EQ(picture.pixel(50, 75), Black);
}

TEST(TArtificialHorizon, RendersAtTheDevicePixelRatio) {
    TArtificialHorizon horizon;
    MakePanelHorizon(horizon, 90);
    const QImage picture = horizon.Render(2.0).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), QSize(68, 68));
    EXPECT_EQ(picture.pixel(50, 34), Green);
    EXPECT_EQ(picture.pixel(18, 34), White);
    EXPECT_EQ(picture.pixel(1, 1), Silver);
}

TEST(TArtificialHorizon, SetLevelClampsAndRepaintsOnChangeOnly) {
    const struct {
        int Start, Value, Stored, Paints;
    } rows[] = {
        {0, 200, 180, 1},      {0, -500, -180, 1}, {180, 200, 180, 0},
        {-180, -181, -180, 0}, {0, 0, 0, 0},       {10, 11, 11, 1},
    };
    for (const auto& row : rows) {
        TCounting<TArtificialHorizon> horizon;
        horizon.SetLevel(row.Start);
        horizon.Show();
        horizon.SetLevel(row.Value);
        EXPECT_EQ(horizon.Level(), row.Stored) << row.Value;
        EXPECT_EQ(horizon.Paints, row.Paints) << row.Value;
    }
}
