#pragma once
// The artificial horizon: a small round attitude display. A disc is cut in two by a line through its
// centre that turns with Level (degrees, counterclockwise on the screen); the ground half is ForeColor,
// the sky half BackColor, both outlined in black. Color fills the corners outside the disc.
//
// Drawing works as for the bar gauge (Cgauges.h): composed off-screen at the device pixel ratio, combined
// by exclusive-or, copied to the screen in one go, nothing kept between paints.
//
// Threads: user-interface thread only.

#include "widgets/Cgauges.h"

#include <QPoint>
#include <utility>

class TArtificialHorizon : public QWidget {
    Q_OBJECT

public:
    explicit TArtificialHorizon(QWidget* owner = nullptr);

    int Level() const { return FLevel; }
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    QColor ForeColor() const { return FForeColor; }
    QColor BackColor() const { return FBackColor; }
    QColor Color() const;

    // Clamps to -180..180; repaints only when the stored value changes.
    void SetLevel(int value);
    void SetBorderStyle(TBorderStyle value);
    void SetForeColor(const QColor& value);
    void SetBackColor(const QColor& value);
    void SetColor(const QColor& value);

    // The points S and E through which the pie's radials run for the current level and size.
    std::pair<QPoint, QPoint> HorizonPoints() const;

    // The picture that a paint copies to the screen, composed at the given device pixel ratio.
    QImage Render(qreal ratio) const;

protected:
    void paintEvent(QPaintEvent* event) override;

    void PaintBackground(QImage& bitmap) const;
    void PaintHorizon(QImage& bitmap, const TRect& r) const;

private:
    TRect PaintRect() const;
    // The ellipse's bounding box: from R's top-left to (W, H) as absolute coordinates.
    TRect DiscBox(const TRect& r) const;

    int FLevel = 0;
    TBorderStyle FBorderStyle = bsSingle;
    QColor FForeColor = QColor(0, 0, 0);
    QColor FBackColor = QColor(255, 255, 255);
};
