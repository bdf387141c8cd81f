#pragma once
// Form layout as data: the windows give each control's place, caption, font and colour as they
// stand in the form description, at 96 pixels per inch in device-independent pixels, and these
// helpers apply them. Forms laid out at 120 dpi pass their numbers through Scale120.
//
// The form font: a sans metric-similar to the classic one (Liberation Sans, else DejaVu Sans) at the
// pixel size of the point size at 96 dpi (8 pt = 11 px, 9 pt = 12 px).
//
// Threads: main thread only.

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

class TStaticText;

// The colours the forms name.
namespace clr {
inline const QColor Green(0, 128, 0);
inline const QColor Lime(0, 255, 0);
inline const QColor Red(255, 0, 0);
inline const QColor Grey(128, 128, 128);
inline const QColor Olive(128, 128, 0);
inline const QColor Silver(192, 192, 192);
inline const QColor Black(0, 0, 0);
inline const QColor White(255, 255, 255);
// The system's grey-text (disabled text) colour.
QColor GrayText();
// The face colour of buttons.
QColor BtnFace();
} // namespace clr

int PointsToPixels(int points); // at 96 dpi, rounded
QFont FormFont(int points = 8, bool bold = false);
inline int Scale120(int v) {
    return v * 96 / 120;
}

// Sets geometry (left, top, width, height); a width or height of 0 keeps the widget's size hint in
// that direction (auto-size).
void Place(QWidget* control, int left, int top, int width = 0, int height = 0);

enum TTextAlign { taLeft, taCenter, taRight };

// A static text as a form describes it. For an auto-sized text (Width 0) the place is its left and
// top for taLeft and taCenter (the classic auto-size grows to the right), and its right edge stays
// put for taRight when RightAnchored is set.
struct TTextSpec {
    TTextSpec(int left, int top, int width, int height, const char* caption, TTextAlign align = taLeft,
              bool bold = false, int points = 8, bool sunken = false, QColor color = {},
              QColor fontColor = {})
        : Left(left), Top(top), Width(width), Height(height), Caption(caption), Align(align), Bold(bold),
          Points(points), Sunken(sunken), Color(color), FontColor(fontColor) {}
    int Left, Top, Width, Height;
    const char* Caption;
    TTextAlign Align;
    bool Bold;
    int Points;
    bool Sunken;
    QColor Color;     // background; invalid: transparent
    QColor FontColor; // invalid: window text
};
TStaticText* MakeText(QWidget* parent, const TTextSpec& form);
// Re-sizes an auto-sized text to its caption, keeping its left (or, for taRight, its right) edge.
void FitText(TStaticText* text, TTextAlign align);
