#pragma once
// TPositionLimitForm: the position limit setup dialog. Two horizontal bars hold the positive and the
// negative travel limit in hundredths of the length unit; the negative limit is never above the
// positive one (moving either bar past the other takes the other along). OK writes both limits.
//
// Errors: a controller error (EIxa) while reading or writing is shown ("Korva Windows Error") and
// ends that step; link failures (EIxaInterface) go to the application's error report. OK closes the
// dialog with the OK result whatever the outcome.
//
// Threads: main thread only; the link serialises the dialog's requests with the monitor's.

#include "link/IxaInterface.h"
#include "toolkit/Controls.h"

#include <QDialog>
#include <QFrame>
#include <QPushButton>
#include <QScrollBar>

class TPositionLimitForm : public QDialog {
public:
    TPositionLimitForm(QWidget* owner, TIxaInterface& link);

    void PosLimitBarChange();
    void NegLimitBarChange();
    void OkButtonClick();
    void HelpButtonClick();

    TIxaInterface& Link;
    QFrame* Panel1 = nullptr;
    TStaticText* PosLimitLabel = nullptr;
    TStaticText* PosLimitValue = nullptr;
    TStaticText* PosLimitUnits = nullptr;
    QScrollBar* PosLimitBar = nullptr;
    TStaticText* NegLimitLabel = nullptr;
    TStaticText* NegLimitValue = nullptr;
    TStaticText* NegLimitUnits = nullptr;
    QScrollBar* NegLimitBar = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;

private:
    void ReadLimits();
};
