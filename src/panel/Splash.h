#pragma once
// TSplashForm: the borderless start-up window (laid out at 120 dpi): the program's icon and name,
// its version, the maker's logo band, location and copyright lines.

#include "toolkit/Controls.h"

#include <QWidget>

class TSplashForm : public QWidget {
public:
    explicit TSplashForm(QWidget* owner = nullptr);

    // Shows the window, paints it at once and keeps it up for ms milliseconds (painting, taking no
    // input), then hides it.
    void ShowFor(unsigned ms);

    QLabel* IconImage = nullptr;
    TStaticText* StaticText1 = nullptr;
    TStaticText* VersionText = nullptr;
    QLabel* LogoImage = nullptr;
    TStaticText* StaticText5 = nullptr;
    TStaticText* CopyrightText = nullptr;
    TStaticText* StaticText4 = nullptr;
};

// The program's icon and the maker's logo, drawn (no artwork files).
QPixmap ProgramIcon(int size);
QPixmap MakerLogo(int width, int height);
