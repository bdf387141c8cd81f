#pragma once
// TAboutForm: the modal about window of Help > About: the program's icon, name and version, the
// maker's logo band, location line and copyright notice (the same texts as the splash window).
// Threads: main thread only.

#include "toolkit/Controls.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>

class TAboutForm : public QDialog {
public:
    explicit TAboutForm(QWidget* owner = nullptr);

    TBevel* Bevel1 = nullptr;
    QLabel* IconImage = nullptr;
    TStaticText* StaticText1 = nullptr;
    TStaticText* VersionText = nullptr;
    QLabel* LogoImage = nullptr;
    TStaticText* StaticText5 = nullptr;
    TStaticText* CopyrightText = nullptr;
    TStaticText* StaticText4 = nullptr;
    QPushButton* OkButton = nullptr;
};
