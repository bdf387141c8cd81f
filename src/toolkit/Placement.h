#pragma once
// Where a window opens. One rule for every window of the program, at any screen scale:
//  - it opens inside the available area of one screen (QScreen::availableGeometry: the desktop less
//    its panels), at its own size shrunk to that area, never below its minimum size;
//  - a place stored in the settings is used only when its title strip still lies on some screen's
//    available area (a screen unplugged, a resolution or scale lowered: such a place is dropped) and is
//    then fitted into that area;
//  - otherwise it opens centred on its owner's screen, or, for a window that belongs beside another
//    (the trend beside the panel), next to that one on the side with room, shrunk down to its minimum
//    width to stay beside it, and where it covers the least of it when neither side has room.
//
// All rectangles are in logical pixels, and the rules work on the window's frame (title bar and
// borders included): before the window system has framed a window, its frame is estimated from the
// style's title bar height.
//
// A place is stored as "left,top,width,height" (the frame's top-left, the client's size), followed by
// ",maximized" for a maximised window (the place then is the one it returns to).
//
// Threads: main thread only.

#include <QList>
#include <QMargins>
#include <QRect>
#include <QString>

#include <optional>

class QWidget;

// The rules on plain rectangles.
namespace placement {
// frame moved (and if need be shrunk, never below minimum) to lie inside area.
QRect FitInArea(const QRect& frame, const QRect& area, const QSize& minimum);
// The area that holds frame's title strip, if any does (the one holding most of it).
std::optional<QRect> AreaHolding(const QRect& frame, const QList<QRect>& areas);
// A frame of the given size beside anchor inside area: right of it, else left of it, else narrowed
// to the wider side's room when that is at least minimum's width; else at its minimum width against
// the area's edge on the wider side. Top-aligned with anchor, and fitted into area.
QRect Beside(const QRect& anchor, const QSize& frameSize, const QSize& minimum, const QRect& area);
// The text of a stored place, and back (nullopt for anything else, as an older program's value).
struct TStoredPlace {
    QRect Place; // frame top-left, client size
    bool Maximized = false;
};
QString PlaceText(const TStoredPlace& place);
std::optional<TStoredPlace> ParsePlace(const QString& text);
} // namespace placement

// Centres a window on its owner's screen (the primary screen without an owner) within the
// available area; a window larger than the area is shrunk to it where its minimum allows.
void PlaceOnScreen(QWidget* window);
// Gives a window the place stored under key when it is still on a screen, else its current size
// centred as PlaceOnScreen does; either way fitted into the screen's available area.
void RestorePlace(QWidget* window, const QString& key);
// As RestorePlace, but without a stored place the window goes beside anchor (a shown window).
void RestorePlaceBeside(QWidget* window, const QString& key, const QWidget* anchor);
// Stores the window's place under key.
void SavePlace(const QWidget* window, const QString& key);
// The frame margins assumed for a window: its real ones once it has been framed, else an estimate.
QMargins FrameAllowance(const QWidget* window);
