#include "toolkit/Placement.h"

#include "toolkit/Settings.h"
#include "toolkit/Text.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QStyle>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

// The height of the strip along a frame's top that must lie on a screen (where the title bar is
// grabbed), and how much of its width at least.
constexpr int TitleStrip = 24;
constexpr int TitleGrip = 64;
// Between a window and the one it opens beside.
constexpr int BesideGap = 8;
// The frame's sides and bottom where the window system has not told them yet.
constexpr int BorderAllowance = 4;

QSize Bounded(QSize size, const QSize& area, const QSize& minimum) {
    return size.boundedTo(area).expandedTo(minimum);
}

QRect FrameOf(const QWidget* window, const QMargins& margins) {
    return QRect(window->pos(), window->size().grownBy(margins));
}

QSize MinimumFrame(const QWidget* window, const QMargins& margins) {
    return window->minimumSize().expandedTo(window->minimumSizeHint()).grownBy(margins);
}

void Apply(QWidget* window, const QRect& frame, const QMargins& margins) {
    window->move(frame.topLeft());
    window->resize(frame.size().shrunkBy(margins));
}

QScreen* OwnerScreen(const QWidget* window) {
    const QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (owner && owner->screen())
        return owner->screen();
    return QGuiApplication::primaryScreen();
}

QList<QRect> AvailableAreas() {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.push_back(screen->availableGeometry());
    return areas;
}

void Centre(QWidget* window, const QMargins& margins) {
    const QScreen* screen = OwnerScreen(window);
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect frame = FrameOf(window, margins);
    frame.setSize(Bounded(frame.size(), area.size(), MinimumFrame(window, margins)));
    frame.moveCenter(area.center());
    Apply(window, placement::FitInArea(frame, area, MinimumFrame(window, margins)), margins);
}

// The stored place, when it is still on a screen: applied, with true.
bool ApplyStored(QWidget* window, const QString& key, const QMargins& margins) {
    const std::optional<placement::TStoredPlace> stored = placement::ParsePlace(ToQString(ReadSetting(key)));
    if (!stored)
        return false;
    const QRect frame(stored->Place.topLeft(), stored->Place.size().grownBy(margins));
    const std::optional<QRect> area = placement::AreaHolding(frame, AvailableAreas());
    if (!area)
        return false;
    Apply(window, placement::FitInArea(frame, *area, MinimumFrame(window, margins)), margins);
    if (stored->Maximized)
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
    return true;
}

} // namespace

QRect placement::FitInArea(const QRect& frame, const QRect& area, const QSize& minimum) {
    QRect fitted(frame.topLeft(), Bounded(frame.size(), area.size(), minimum));
    // Right and bottom edges first, so that a frame larger than the area keeps its top-left on it.
    if (fitted.right() > area.right())
        fitted.moveRight(area.right());
    if (fitted.bottom() > area.bottom())
        fitted.moveBottom(area.bottom());
    if (fitted.left() < area.left())
        fitted.moveLeft(area.left());
    if (fitted.top() < area.top())
        fitted.moveTop(area.top());
    return fitted;
}

std::optional<QRect> placement::AreaHolding(const QRect& frame, const QList<QRect>& areas) {
    const QRect strip(frame.left(), frame.top(), frame.width(), std::min(frame.height(), TitleStrip));
    std::optional<QRect> best;
    int bestWidth = 0;
    for (const QRect& area : areas) {
        const QRect held = strip.intersected(area);
        // Half the strip's height at least: a title bar above the area's top cannot be grabbed.
        if (held.width() >= std::min(strip.width(), TitleGrip) && held.height() * 2 >= strip.height() &&
            held.width() > bestWidth) {
            best = area;
            bestWidth = held.width();
        }
    }
    return best;
}

QRect placement::Beside(const QRect& anchor, const QSize& frameSize, const QSize& minimum,
                        const QRect& area) {
    QSize size = Bounded(frameSize, area.size(), minimum);
    const int roomRight = area.x() + area.width() - (anchor.x() + anchor.width() + BesideGap);
    const int roomLeft = anchor.x() - BesideGap - area.x();
    const bool rightWider = roomRight >= roomLeft;
    int left = 0;
    if (size.width() <= roomRight)
        left = anchor.x() + anchor.width() + BesideGap;
    else if (size.width() <= roomLeft)
        left = anchor.x() - BesideGap - size.width();
    else if (std::max(roomRight, roomLeft) >= minimum.width()) {
        size.setWidth(std::max(roomRight, roomLeft));
        left = rightWider ? anchor.x() + anchor.width() + BesideGap : area.x();
    } else {
        // Covering the anchor anyway: as little of it as the minimum allows.
        size.setWidth(std::min(minimum.width(), size.width()));
        left = rightWider ? area.x() + area.width() - size.width() : area.x();
    }
    return FitInArea(QRect(QPoint(left, anchor.y()), size), area, minimum);
}

QString placement::PlaceText(const TStoredPlace& place) {
    QString text = QString("%1,%2,%3,%4")
                       .arg(place.Place.x())
                       .arg(place.Place.y())
                       .arg(place.Place.width())
                       .arg(place.Place.height());
    if (place.Maximized)
        text += ",maximized";
    return text;
}

std::optional<placement::TStoredPlace> placement::ParsePlace(const QString& text) {
    const QStringList parts = text.split(',');
    if (parts.size() != 4 && !(parts.size() == 5 && parts[4].trimmed() == "maximized"))
        return std::nullopt;
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (numbers[2] <= 0 || numbers[3] <= 0)
        return std::nullopt;
    return TStoredPlace{QRect(numbers[0], numbers[1], numbers[2], numbers[3]), parts.size() == 5};
}

QMargins FrameAllowance(const QWidget* window) {
    if (window->windowFlags().testFlag(Qt::FramelessWindowHint))
        return {};
    if (window->isVisible() && window->windowHandle())
        return window->windowHandle()->frameMargins();
    const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    return QMargins(BorderAllowance, title + BorderAllowance, BorderAllowance, BorderAllowance);
}

void PlaceOnScreen(QWidget* window) {
    Centre(window, FrameAllowance(window));
}

void RestorePlace(QWidget* window, const QString& key) {
    const QMargins margins = FrameAllowance(window);
    if (!ApplyStored(window, key, margins))
        Centre(window, margins);
}

void RestorePlaceBeside(QWidget* window, const QString& key, const QWidget* anchor) {
    const QMargins margins = FrameAllowance(window);
    if (ApplyStored(window, key, margins))
        return;
    if (!anchor || !anchor->isVisible() || !anchor->screen()) {
        Centre(window, margins);
        return;
    }
    const QRect frame =
        placement::Beside(anchor->frameGeometry(), FrameOf(window, margins).size(),
                          MinimumFrame(window, margins), anchor->screen()->availableGeometry());
    Apply(window, frame, margins);
}

void SavePlace(const QWidget* window, const QString& key) {
    placement::TStoredPlace place;
    place.Maximized = window->isMaximized();
    if (place.Maximized) {
        // The place it returns to: the normal client rectangle, less the frame's top and left.
        const QMargins margins = FrameAllowance(window);
        const QRect normal = window->normalGeometry();
        place.Place = QRect(normal.topLeft() - QPoint(margins.left(), margins.top()), normal.size());
    } else
        place.Place = QRect(window->pos(), window->size());
    WriteSetting(key, ToAnsi(placement::PlaceText(place)));
}
