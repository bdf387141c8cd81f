#pragma once
// The bar gauge: a light-weight control that shows an integer within a range as a filled bar, a text
// percentage, a pie or a needle dial.
//
// Drawing: every paint composes the picture off-screen (a black image, the kind painted into a black
// overlay and combined by exclusive-or, then the optional text overlay, also by exclusive-or) and copies
// it to the screen in one go. No image is kept between paints. The picture is rendered at the widget's
// device pixel ratio; all coordinates below are logical pixels.
//
// Errors: only SetMinValue and SetMaxValue fail; they raise Exception ("Value must be between %d and
// %d") and leave the control unchanged.
//
// Threads: user-interface thread only.

#include <QColor>
#include <QImage>
#include <QRect>
#include <QRectF>
#include <QWidget>

#include <cstdint>

class QPainter;

// A rectangle as the drawing code counts it: Right and Bottom are exclusive.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    // The pixels a fill of this rectangle covers.
    QRect FillArea() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
    // The path box whose 1-pixel outline lies on the rectangle's outermost pixels.
    QRectF OutlineBox() const { return QRectF(Left + 0.5, Top + 0.5, Right - Left - 1, Bottom - Top - 1); }
};

enum TBorderStyle : uint8_t { bsNone = 0, bsSingle = 1 };

// The paint rectangle of a control: its client area, less the 1-pixel frame of a single border.
inline TRect PaintArea(const QWidget& control, TBorderStyle border) {
    const int inset = border == bsSingle ? 1 : 0;
    return TRect{inset, inset, control.width() - inset, control.height() - inset};
}

// A property setter of the drawn controls: a changed value is stored and shown at once, an
// unchanged one does nothing.
template <typename T> void SetAndRepaint(QWidget& control, T& field, const T& value) {
    if (field == value)
        return;
    field = value;
    control.repaint();
}

enum TCGaugeKind : uint8_t { gkText = 0, gkHorizontalBar = 1, gkVerticalBar = 2, gkPie = 3, gkNeedle = 4 };

// The overlay image of a paint.
class TBltBitmap : public QImage {
public:
    // Gives this bitmap the size, format and device pixel ratio of other (contents undefined).
    void MatchSize(const QImage& other);
};

// Drawing steps shared by the drawn controls.
// An image of the control's size at the given device pixel ratio.
QImage NewPicture(const QWidget& control, qreal ratio);
// Sets the rectangle (0, 0, width, height) of bitmap to black.
void ClearToBlack(QImage& bitmap, int width, int height);
// Combines overlay into image at (0, 0) by bitwise exclusive-or.
void CombineXor(QImage& image, const QImage& overlay);
// Copies a composed picture onto the control's surface at (0, 0) in one plain source copy.
void CopyToScreen(QWidget& control, const QImage& picture);

class TCGauge : public QWidget {
    Q_OBJECT

public:
    explicit TCGauge(QWidget* owner = nullptr);

    int MinValue() const { return FMinValue; }
    int MaxValue() const { return FMaxValue; }
    int Progress() const { return FProgress; }
    TCGaugeKind Kind() const { return FKind; }
    bool ShowText() const { return FShowText; }
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    QColor ForeColor() const { return FForeColor; }
    QColor BackColor() const { return FBackColor; }
    // Fills the area round a pie or needle dial; inherited from the parent unless set.
    QColor Color() const;

    // Raise Exception when the new end would pass the other one; pull Progress into the range.
    void SetMinValue(int value);
    void SetMaxValue(int value);
    // Clamps to the range; repaints only when the whole percentage changes.
    void SetProgress(int value);
    // SetProgress(Progress + delta), then always repaints.
    void AddProgress(int delta);
    void SetKind(TCGaugeKind value);
    void SetShowText(bool value);
    void SetBorderStyle(TBorderStyle value);
    void SetForeColor(const QColor& value);
    void SetBackColor(const QColor& value);
    void SetColor(const QColor& value);

    // 0..100: the share of the range below Progress, rounded down.
    int GetPercentDone() const;

    // The picture that a paint copies to the screen, composed at the given device pixel ratio.
    QImage Render(qreal ratio) const;

protected:
    void paintEvent(QPaintEvent* event) override;

    void PaintBackground(QImage& bitmap) const;
    void PaintAsNothing(QImage& bitmap, const TRect& r) const;
    void PaintAsBar(QImage& bitmap, const TRect& r) const;
    void PaintAsPie(QImage& bitmap, const TRect& r) const;
    void PaintAsNeedle(QImage& bitmap, const TRect& r) const;
    bool BeginDial(QPainter& painter, const TRect& r) const;
    void PaintAsText(QImage& image, const TRect& r) const;

private:
    int FMinValue = 0;
    int FMaxValue = 100;
    int FProgress = 0;
    TCGaugeKind FKind = gkHorizontalBar;
    bool FShowText = true;
    TBorderStyle FBorderStyle = bsSingle;
    QColor FForeColor = QColor(0, 0, 0);
    QColor FBackColor = QColor(255, 255, 255);
};
