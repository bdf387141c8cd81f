#include "WidgetTestSupport.h"
#include "platform/SysUtils.h"
#include "widgets/Cgauges.h"

#include <QFontMetrics>
#include <QPainter>

#include <climits>
#include <functional>
#include <string>

namespace {

// The panel's gauges: vertical, no text, green on white, single border.
void MakePanelGauge(TCGauge& gauge) {
    gauge.resize(25, 217);
    gauge.SetKind(gkVerticalBar);
    gauge.SetShowText(false);
    gauge.SetForeColor(QColor(Green));
}

// Pixels of the rectangle (left..right, top..bottom inclusive) that are not the colour.
int CountNot(const QImage& image, int left, int top, int right, int bottom, QRgb colour) {
    int count = 0;
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x)
            count += image.pixel(x, y) != colour;
    return count;
}

int CountOf(const QImage& image, int left, int top, int right, int bottom, QRgb colour) {
    return (right - left + 1) * (bottom - top + 1) - CountNot(image, left, top, right, bottom, colour);
}

} // namespace

TEST(TCGaugeBar, PanelGaugeFillsRowsFromTheBottom) {
    // 25 x 217; with border the paint rectangle is (1, 1, 24, 216).
    const struct {
        TBorderStyle Border;
        int Min, Max, Progress;
        int FirstFilledRow; // 216 or more: nothing filled
    } rows[] = {
        {bsSingle, 0, 100, 0, 216},  {bsSingle, 0, 100, 50, 108},         {bsSingle, 0, 100, 100, 1},
        {bsSingle, 0, 1000, 999, 3}, {bsSingle, -1000, 1000, -1000, 216}, {bsSingle, -1000, 1000, 0, 108},
        {bsSingle, 0, 0, 0, 216}, // equal ends: 0 %
        {bsNone, 0, 100, 100, 1}, // the cap at H - 1 leaves row 0 empty
        {bsNone, 0, 100, 50, 109},
    };
    for (const auto& row : rows) {
        TCGauge gauge;
        MakePanelGauge(gauge);
        gauge.SetBorderStyle(row.Border);
        gauge.SetMaxValue(row.Max);
        gauge.SetMinValue(row.Min);
        gauge.SetProgress(row.Progress);
        const QImage picture = Picture(gauge);
        const bool framed = row.Border == bsSingle;
        for (int y = 0; y < 217; ++y)
            for (int x = 0; x < 25; ++x) {
                QRgb expected = y >= row.FirstFilledRow ? Green : White;
                if (framed && (x == 0 || x == 24 || y == 0 || y == 216))
                    expected = Black;
                ASSERT_EQ(picture.pixel(x, y), expected)
                    << row.Progress << " of " << row.Min << ".." << row.Max << " at " << x << "," << y;
            }
    }
}

TEST(TCGaugeBar, HorizontalFillsColumnsFromTheLeft) {
    const struct {
        int Width, Percent;
        int LastFilledColumn; // 0 = nothing filled
    } rows[] = {
        {100, 0, 0},    {100, 1, 0}, // 1 % of 99 columns is less than one
        {100, 50, 48},               // fill runs from column 1 to 49 (exclusive)
        {101, 29, 28},               // 29 % of 100 is exactly 29, not 28.999...
        {100, 100, 98},              // the whole paint rectangle
    };
    for (const auto& row : rows) {
        TCGauge gauge;
        gauge.resize(row.Width, 20);
        gauge.SetShowText(false);
        gauge.SetForeColor(QColor(Green));
        gauge.SetProgress(row.Percent);
        const QImage picture = Picture(gauge);
        const int right = row.Width - 2;
        EXPECT_EQ(CountOf(picture, 1, 1, row.LastFilledColumn, 18, Green), row.LastFilledColumn * 18)
            << row.Percent << " %";
        EXPECT_EQ(CountOf(picture, row.LastFilledColumn + 1, 1, right, 18, White),
                  (right - row.LastFilledColumn) * 18)
            << row.Percent << " %";
        EXPECT_EQ(CountNot(picture, 0, 0, row.Width - 1, 0, Black), 0) << "frame stays black";
    }
}

TEST(TCGaugeBar, RendersAtTheDevicePixelRatio) {
    TCGauge gauge;
    MakePanelGauge(gauge);
    gauge.SetProgress(50);
    const QImage picture = gauge.Render(2.0).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), QSize(50, 434));
    EXPECT_EQ(picture.devicePixelRatio(), 2.0);
    // Logical rows 108..215 are device rows 216..431; the frame is two device pixels wide.
    EXPECT_EQ(CountOf(picture, 2, 216, 47, 431, Green), 46 * 216);
    EXPECT_EQ(CountOf(picture, 2, 2, 47, 215, White), 46 * 214);
    EXPECT_EQ(CountOf(picture, 0, 0, 49, 1, Black), 100);
    EXPECT_EQ(CountOf(picture, 48, 0, 49, 433, Black), 2 * 434);
}

TEST(TCGaugeKinds, PieFillsClockwiseFromTwelve) {
    const struct {
        int Percent;
        bool UpperRight, LowerRight, LowerLeft, UpperLeft;
    } rows[] = {
        {0, false, false, false, false}, {25, true, false, false, false}, {50, true, true, false, false},
        {75, true, true, true, false},   {100, true, true, true, true},
    };
    for (const auto& row : rows) {
        TCGauge gauge;
        gauge.SetKind(gkPie);
        gauge.SetShowText(false);
        gauge.SetForeColor(QColor(Green));
        gauge.SetColor(QColor(Silver));
        gauge.SetProgress(row.Percent);
        const QImage picture = Picture(gauge);
        // Centre (50, 50); one probe well inside each quadrant.
        auto expect = [](bool filled) { return filled ? Green : White; };
        EXPECT_EQ(picture.pixel(70, 30), expect(row.UpperRight)) << row.Percent;
        EXPECT_EQ(picture.pixel(70, 70), expect(row.LowerRight)) << row.Percent;
        EXPECT_EQ(picture.pixel(30, 70), expect(row.LowerLeft)) << row.Percent;
        EXPECT_EQ(picture.pixel(30, 30), expect(row.UpperLeft)) << row.Percent;
        EXPECT_EQ(picture.pixel(3, 3), Silver) << "outside the disc";
        EXPECT_EQ(picture.pixel(0, 0), Black) << "frame";
    }
}

TEST(TCGaugeKinds, NeedleTurnsFromLeftOverTopToRight) {
    // 100 x 60 with border: the dial stands on row 58 with its centre at column 50. Rows 25..50 between
    // columns 20 and 80 lie inside the dial, where only the needle can bring ForeColor.
    const struct {
        int Percent;
        bool Left, Middle, Right;
    } rows[] = {{0, false, false, false},
                {25, true, false, false},
                {50, false, true, false},
                {75, false, false, true},
                {100, false, false, false}};
    for (const auto& row : rows) {
        TCGauge gauge;
        gauge.resize(100, 60);
        gauge.SetKind(gkNeedle);
        gauge.SetShowText(false);
        gauge.SetForeColor(QColor(Green));
        gauge.SetProgress(row.Percent);
        const QImage picture = Picture(gauge);
        EXPECT_EQ(CountOf(picture, 20, 25, 48, 50, Green) > 0, row.Left) << row.Percent << " %";
        EXPECT_EQ(CountOf(picture, 49, 25, 50, 50, Green) > 20, row.Middle) << row.Percent << " %";
        EXPECT_EQ(CountOf(picture, 51, 25, 80, 50, Green) > 0, row.Right) << row.Percent << " %";
        EXPECT_GT(CountOf(picture, 10, 58, 90, 58, Green), 70) << "line along the bottom edge";
    }
}

TEST(TCGaugeText, PercentageIsCentredAndInvertedOverFillAndBack) {
    QFont font("DejaVu Sans");
    font.setPixelSize(14);
    font.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics metrics(font);
    const int textWidth = metrics.horizontalAdvance("37%");
    // Wide enough for the text, narrow enough that the 37 % fill edge runs through it.
    const int width = 2 * textWidth + 1;
    const int height = metrics.height() + 10;

    TCGauge plain;
    TCGauge withText;
    for (TCGauge* gauge : {&plain, &withText}) {
        gauge->resize(width, height);
        gauge->setFont(font);
        gauge->SetForeColor(QColor(Green));
        gauge->SetProgress(37);
    }
    plain.SetShowText(false);
    const QImage base = Picture(plain);
    const QImage shown = Picture(withText);

    // The glyphs of "37%" in the control's font, the text cell at ((W - text width) / 2, (H - text
    // height) / 2) with W and H counted from the paint rectangle (1, 1, width - 1, height - 1) plus one.
    QImage glyphs(width, height, QImage::Format_RGB32);
    glyphs.fill(Qt::black);
    {
        QPainter painter(&glyphs);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText((width - 1 - textWidth) / 2, (height - 1 - metrics.height()) / 2 + metrics.ascent(),
                         "37%");
    }
    int overFill = 0;
    int overBack = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const QRgb under = base.pixel(x, y);
            const bool glyph = glyphs.pixel(x, y) == White;
            ASSERT_EQ(shown.pixel(x, y), glyph ? Inverted(under) : under) << x << "," << y;
            overFill += glyph && under == Green;
            overBack += glyph && under == White;
        }
    EXPECT_GT(overFill, 0);
    EXPECT_GT(overBack, 0);
}

TEST(TCGaugeRange, RefusedEndsNameTheAllowedRangeAndChangeNothing) {
    const struct {
        int Min, Max;
        bool SetsMin;
        int Value;
        const char* Message;
    } rows[] = {
        {0, 100, true, 150, "Value must be between -2147483647 and 99"},
        {0, 100, true, 101, "Value must be between -2147483647 and 99"},
        {0, 0, true, 1, "Value must be between -2147483647 and -1"},
        {0, 100, false, -5, "Value must be between 1 and 2147483647"},
        {-1000, 1000, false, -1001, "Value must be between -999 and 2147483647"},
    };
    for (const auto& row : rows) {
        TCounting<TCGauge> gauge;
        gauge.SetMinValue(row.Min);
        gauge.SetMaxValue(row.Max);
        gauge.SetMinValue(row.Min);
        gauge.SetProgress(row.Min / 2 + row.Max / 2);
        const int progress = gauge.Progress();
        gauge.Show();
        try {
            row.SetsMin ? gauge.SetMinValue(row.Value) : gauge.SetMaxValue(row.Value);
            ADD_FAILURE() << "no exception for " << row.Value;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message, row.Message);
            EXPECT_STREQ(e.what(), row.Message);
        }
        EXPECT_EQ(gauge.MinValue(), row.Min);
        EXPECT_EQ(gauge.MaxValue(), row.Max);
        EXPECT_EQ(gauge.Progress(), progress);
        EXPECT_EQ(gauge.Paints, 0);
    }
}

TEST(TCGaugeRange, AcceptedEndsPullProgressAlong) {
    TCounting<TCGauge> gauge;
    gauge.SetProgress(50);
    gauge.Show();

    gauge.SetMinValue(60);
    EXPECT_EQ(gauge.Progress(), 60);
    gauge.SetMaxValue(60); // minimum equal to maximum is accepted
    EXPECT_EQ(gauge.Progress(), 60);
    gauge.SetMinValue(-1000);
    gauge.SetMaxValue(0);
    EXPECT_EQ(gauge.MaxValue(), 0);
    EXPECT_EQ(gauge.Progress(), 0);
    EXPECT_EQ(gauge.Paints, 4);
}

TEST(TCGaugeRange, PercentDone) {
    const struct {
        int Min, Max, Progress, Percent;
    } rows[] = {
        {0, 100, 37, 37},
        {0, 1000, 105, 10},
        {0, 1000, 110, 11},
        {0, 3, 2, 66},
        {-1000, 1000, 0, 50},
        {-1000, 1000, -1001, 0},          // clamped to the minimum
        {-1000, 1000, 5000, 100},         // clamped to the maximum
        {-2000000000, 2000000000, 0, 50}, // a range wider than 2^31 must not wrap
        {INT_MIN, INT_MAX, INT_MAX, 100},
        {INT_MIN, INT_MAX, INT_MIN, 0},
    };
    for (const auto& row : rows) {
        TCGauge gauge;
        gauge.SetMaxValue(row.Max);
        gauge.SetMinValue(row.Min);
        gauge.SetProgress(row.Progress);
        EXPECT_EQ(gauge.GetPercentDone(), row.Percent)
            << row.Progress << " in " << row.Min << ".." << row.Max;
        EXPECT_EQ(gauge.Progress(), std::clamp(row.Progress, row.Min, row.Max));
    }
}

TEST(TCGaugeRepaint, OnlyWhenThePictureChanges) {
    const struct {
        const char* Name;
        std::function<void(TCGauge&)> Act;
        int Paints;
        int Progress;
    } rows[] = {
        {"within the same percent", [](TCGauge& g) { g.SetProgress(105); }, 0, 105},
        {"100 -> 105 -> 110",
         [](TCGauge& g) {
             g.SetProgress(105);
             g.SetProgress(110);
         },
         1, 110},
        {"same value", [](TCGauge& g) { g.SetProgress(100); }, 0, 100},
        {"add nothing", [](TCGauge& g) { g.AddProgress(0); }, 1, 100},
        {"add past the maximum", [](TCGauge& g) { g.AddProgress(INT_MAX); }, 2, 1000},
        {"same kind", [](TCGauge& g) { g.SetKind(gkHorizontalBar); }, 0, 100},
        {"other kind", [](TCGauge& g) { g.SetKind(gkPie); }, 1, 100},
        {"same colour", [](TCGauge& g) { g.SetForeColor(QColor(0, 0, 0)); }, 0, 100},
        {"same minimum", [](TCGauge& g) { g.SetMinValue(0); }, 0, 100},
    };
    for (const auto& row : rows) {
        TCounting<TCGauge> gauge;
        gauge.SetMaxValue(1000);
        gauge.SetProgress(100);
        gauge.Show();
        row.Act(gauge);
        EXPECT_EQ(gauge.Paints, row.Paints) << row.Name;
        EXPECT_EQ(gauge.Progress(), row.Progress) << row.Name;
    }
}
