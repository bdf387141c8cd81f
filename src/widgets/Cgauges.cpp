#include "widgets/Cgauges.h"

#include "platform/SysUtils.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QtMath>

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>
#include <string>

void TBltBitmap::MatchSize(const QImage& other) {
    QImage::operator=(QImage(other.size(), other.format()));
    setDevicePixelRatio(other.devicePixelRatio());
}

void CombineXor(QImage& image, const QImage& overlay) {
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.drawImage(0, 0, overlay);
}

void CopyToScreen(QWidget& control, const QImage& picture) {
    if (picture.isNull())
        return;
    QPainter screen(&control);
    screen.setCompositionMode(QPainter::CompositionMode_Source);
    screen.drawImage(0, 0, picture);
}

QImage NewPicture(const QWidget& control, qreal ratio) {
    QImage image(QSize(qCeil(control.width() * ratio), qCeil(control.height() * ratio)),
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    return image;
}

void ClearToBlack(QImage& bitmap, int width, int height) {
    QPainter painter(&bitmap);
    painter.fillRect(QRect(0, 0, width, height), Qt::black);
}

TCGauge::TCGauge(QWidget* owner) : QWidget(owner) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
}

QColor TCGauge::Color() const {
    return palette().color(QPalette::Window);
}

void TCGauge::SetColor(const QColor& value) {
    QPalette colours = palette();
    colours.setColor(QPalette::Window, value);
    setPalette(colours); // the palette change schedules the repaint
}

void TCGauge::SetMinValue(int value) {
    if (value == FMinValue)
        return;
    if (value > FMaxValue)
        // 64-bit so that a maximum of INT_MIN cannot overflow the message
        throw Exception("Value must be between -2147483647 and " +
                        std::to_string(static_cast<int64_t>(FMaxValue) - 1));
    FMinValue = value;
    if (FProgress < value)
        FProgress = value;
    repaint();
}

void TCGauge::SetMaxValue(int value) {
    if (value == FMaxValue)
        return;
    if (value < FMinValue)
        throw Exception("Value must be between " + std::to_string(static_cast<int64_t>(FMinValue) + 1) +
                        " and 2147483647");
    FMaxValue = value;
    if (FProgress > value)
        FProgress = value;
    repaint();
}

void TCGauge::SetProgress(int value) {
    const int oldPercent = GetPercentDone();
    const int clamped = std::clamp(value, FMinValue, FMaxValue);
    if (clamped == FProgress)
        return;
    FProgress = clamped;
    // Fine-grained feeds change the value far more often than the picture.
    if (GetPercentDone() != oldPercent)
        repaint();
}

void TCGauge::AddProgress(int delta) {
    const int64_t sum = static_cast<int64_t>(FProgress) + delta;
    SetProgress(static_cast<int>(std::clamp<int64_t>(sum, INT_MIN, INT_MAX)));
    repaint();
}

void TCGauge::SetKind(TCGaugeKind value) {
    SetAndRepaint(*this, FKind, value);
}

void TCGauge::SetShowText(bool value) {
    SetAndRepaint(*this, FShowText, value);
}

void TCGauge::SetBorderStyle(TBorderStyle value) {
    SetAndRepaint(*this, FBorderStyle, value);
}

void TCGauge::SetForeColor(const QColor& value) {
    SetAndRepaint(*this, FForeColor, value);
}

void TCGauge::SetBackColor(const QColor& value) {
    SetAndRepaint(*this, FBackColor, value);
}

int TCGauge::GetPercentDone() const {
    // 64-bit differences: a range wider than 2^31 must not wrap.
    const int64_t span = static_cast<int64_t>(FMaxValue) - FMinValue;
    if (span == 0)
        return 0;
    return static_cast<int>((static_cast<int64_t>(FProgress) - FMinValue) * 100 / span);
}

QImage TCGauge::Render(qreal ratio) const {
    if (width() <= 0 || height() <= 0)
        return QImage();
    QImage image = NewPicture(*this, ratio);
    PaintBackground(image);

    const TRect r = PaintArea(*this, FBorderStyle);

    TBltBitmap overlay;
    overlay.MatchSize(image);
    PaintBackground(overlay);
    switch (FKind) {
    case gkText:
        PaintAsNothing(overlay, r);
        break;
    case gkHorizontalBar:
    case gkVerticalBar:
        PaintAsBar(overlay, r);
        break;
    case gkPie:
        PaintAsPie(overlay, r);
        break;
    case gkNeedle:
        PaintAsNeedle(overlay, r);
        break;
    }
    CombineXor(image, overlay);

    if (FShowText)
        PaintAsText(image, r);
    return image;
}

void TCGauge::paintEvent(QPaintEvent*) {
    CopyToScreen(*this, Render(devicePixelRatioF()));
}

void TCGauge::PaintBackground(QImage& bitmap) const {
    ClearToBlack(bitmap, width(), height());
}

void TCGauge::PaintAsNothing(QImage& bitmap, const TRect& r) const {
    QPainter painter(&bitmap);
    painter.fillRect(r.FillArea(), FBackColor);
}

void TCGauge::PaintAsBar(QImage& bitmap, const TRect& r) const {
    // W and H double as absolute right and bottom edges of the fill, as the picture has always had it.
    const int w = r.Right - r.Left + 1;
    const int h = r.Bottom - r.Top + 1;
    const int percent = GetPercentDone();
    QPainter painter(&bitmap);
    painter.fillRect(r.FillArea(), FBackColor);
    if (FKind == gkHorizontalBar) {
        // Integer arithmetic: percent x 0.01 x w in doubles loses a pixel at e.g. 29 % of 100.
        int fillSize = w > 0 ? percent * w / 100 : 0;
        if (fillSize > w)
            fillSize = w;
        if (fillSize > 0)
            painter.fillRect(TRect{r.Left, r.Top, fillSize, h}.FillArea(), FForeColor);
    } else {
        int fillSize = h > 0 ? percent * h / 100 : 0;
        if (fillSize >= h)
            fillSize = h - 1;
        const TRect fill{r.Left, h - fillSize, w, h};
        if (fill.Right > fill.Left && fill.Bottom > fill.Top)
            painter.fillRect(fill.FillArea(), FForeColor);
    }
}

// The pie and the needle start alike: the background, then (when there is room for a dial) the
// outline pen and the dial's face colour, clipped to the paint rectangle.
bool TCGauge::BeginDial(QPainter& painter, const TRect& r) const {
    painter.fillRect(r.FillArea(), Color());
    if (r.Right - r.Left < 2 || r.Bottom - r.Top < 2)
        return false;
    painter.setClipRect(r.FillArea());
    painter.setPen(QPen(FForeColor, 1));
    painter.setBrush(FBackColor);
    return true;
}

void TCGauge::PaintAsPie(QImage& bitmap, const TRect& r) const {
    QPainter painter(&bitmap);
    if (!BeginDial(painter, r))
        return;
    // The disc and the sector go through the same path code so that their edges meet exactly.
    const QRectF box = r.OutlineBox();
    QPainterPath disc;
    disc.addEllipse(box);
    painter.drawPath(disc);

    const int percent = GetPercentDone();
    if (percent >= 1) {
        QPainterPath sector;
        sector.moveTo(box.center());
        sector.arcTo(box, 90.0, -3.6 * percent); // from 12 o'clock, clockwise
        sector.closeSubpath();
        painter.setBrush(FForeColor);
        painter.drawPath(sector);
    }
}

void TCGauge::PaintAsNeedle(QImage& bitmap, const TRect& r) const {
    QPainter painter(&bitmap);
    if (!BeginDial(painter, r))
        return;

    // The dial's centre sits on the bottom row of the paint rectangle.
    const QRectF outline = r.OutlineBox();
    const double rx = outline.width() / 2.0;
    const double ry = outline.height();
    const QPointF centre(outline.center().x(), outline.bottom());
    const QRectF box(centre.x() - rx, centre.y() - ry, 2 * rx, 2 * ry);

    QPainterPath dial;
    dial.moveTo(centre.x() + rx, centre.y());
    dial.arcTo(box, 0.0, 180.0);
    dial.closeSubpath(); // the line along the bottom edge
    painter.drawPath(dial);

    const int percent = GetPercentDone();
    if (percent > 0) {
        const double angle = std::numbers::pi * (1.0 - percent / 100.0);
        painter.drawLine(centre,
                         QPointF(centre.x() + rx * std::cos(angle), centre.y() - ry * std::sin(angle)));
    }
}

void TCGauge::PaintAsText(QImage& image, const TRect& r) const {
    TBltBitmap overlay;
    overlay.MatchSize(image);
    PaintBackground(overlay);
    {
        QPainter painter(&overlay);
        // Antialiased edges would come out in odd colours after the exclusive-or.
        QFont textFont = font();
        textFont.setStyleStrategy(QFont::NoAntialias);
        painter.setFont(textFont);
        painter.setPen(Qt::white);
        painter.setClipRect(r.FillArea());

        const QString text = QString::number(GetPercentDone()) + QLatin1Char('%');
        const QFontMetrics metrics = painter.fontMetrics();
        const int x = (r.Right - r.Left + 1 - metrics.horizontalAdvance(text)) / 2;
        const int y = (r.Bottom - r.Top + 1 - metrics.height()) / 2;
        painter.drawText(x, y + metrics.ascent(), text);
    }
    CombineXor(image, overlay);
}
