#include "widgets/Artificialhorizon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Angle of p seen from the centre of box, in degrees counterclockwise from 3 o'clock, as the ellipse's
// parameter (what QPainterPath::arcTo expects), so that the radial passes through p on any box.
double RadialAngle(const TRect& box, const QPoint& p) {
    const double cx = (box.Left + box.Right) / 2.0;
    const double cy = (box.Top + box.Bottom) / 2.0;
    const double rx = std::max((box.Right - box.Left) / 2.0, 1.0);
    const double ry = std::max((box.Bottom - box.Top) / 2.0, 1.0);
    return std::atan2(-(p.y() - cy) / ry, (p.x() - cx) / rx) * 180.0 / std::numbers::pi;
}

} // namespace

TArtificialHorizon::TArtificialHorizon(QWidget* owner) : QWidget(owner) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
}

QColor TArtificialHorizon::Color() const {
    return palette().color(QPalette::Window);
}

void TArtificialHorizon::SetColor(const QColor& value) {
    QPalette colours = palette();
    colours.setColor(QPalette::Window, value);
    setPalette(colours); // the palette change schedules the repaint
}

void TArtificialHorizon::SetLevel(int value) {
    const int clamped = std::clamp(value, -180, 180);
    if (clamped == FLevel)
        return;
    FLevel = clamped;
    repaint();
}

void TArtificialHorizon::SetBorderStyle(TBorderStyle value) {
    SetAndRepaint(*this, FBorderStyle, value);
}

void TArtificialHorizon::SetForeColor(const QColor& value) {
    SetAndRepaint(*this, FForeColor, value);
}

void TArtificialHorizon::SetBackColor(const QColor& value) {
    SetAndRepaint(*this, FBackColor, value);
}

TRect TArtificialHorizon::PaintRect() const {
    const TRect r = PaintArea(*this, FBorderStyle);
    return r;
}

TRect TArtificialHorizon::DiscBox(const TRect& r) const {
    int w = r.Right - r.Left;
    int h = r.Bottom - r.Top;
    if (FBorderStyle == bsSingle) {
        ++w;
        ++h;
    }
    return TRect{r.Left, r.Top, w, h};
}

std::pair<QPoint, QPoint> TArtificialHorizon::HorizonPoints() const {
    const TRect box = DiscBox(PaintRect());
    const int mx = box.Right / 2;
    const int my = box.Bottom / 2;
    // 3.1416 rather than pi, and truncation: the picture's points are defined by exactly these.
    const double a = -(FLevel * (1.0 / 180.0) * 3.1416);
    const QPoint s(static_cast<int>((1 - std::cos(a)) * mx), static_cast<int>((1 - std::sin(a)) * my));
    const QPoint e(static_cast<int>((1 + std::cos(a)) * mx), static_cast<int>((1 + std::sin(a)) * my));
    return {s, e};
}

QImage TArtificialHorizon::Render(qreal ratio) const {
    if (width() <= 0 || height() <= 0)
        return QImage();
    QImage image = NewPicture(*this, ratio);
    PaintBackground(image);
    TBltBitmap overlay;
    overlay.MatchSize(image);
    PaintBackground(overlay);
    PaintHorizon(overlay, PaintRect());
    CombineXor(image, overlay);
    return image;
}

void TArtificialHorizon::paintEvent(QPaintEvent*) {
    CopyToScreen(*this, Render(devicePixelRatioF()));
}

void TArtificialHorizon::PaintBackground(QImage& bitmap) const {
    ClearToBlack(bitmap, width(), height());
}

void TArtificialHorizon::PaintHorizon(QImage& bitmap, const TRect& r) const {
    QPainter painter(&bitmap);
    painter.fillRect(r.FillArea(), Color());
    const TRect disc = DiscBox(r);
    if (disc.Right - disc.Left < 2 || disc.Bottom - disc.Top < 2)
        return;

    // Disc and sector go through the same path code so that their outlines coincide.
    const QRectF box = disc.OutlineBox();
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(FBackColor);
    QPainterPath outline;
    outline.addEllipse(box);
    painter.drawPath(outline);

    // The sector runs counterclockwise from the radial through S to the radial through E; its two radials
    // form the horizon line.
    const auto [s, e] = HorizonPoints();
    const double start = RadialAngle(disc, s);
    double sweep = std::fmod(RadialAngle(disc, e) - start + 720.0, 360.0);
    if (sweep == 0.0)
        sweep = 360.0;
    QPainterPath sector;
    sector.moveTo(box.center());
    sector.arcTo(box, start, sweep);
    sector.closeSubpath();
    painter.setBrush(FForeColor);
    painter.drawPath(sector);
}
