#pragma once
// TPositionLimitForm: the position limit setup dialog. Two horizontal bars hold the positive and the
// negative travel limit in hundredths of the length unit; the negative limit is never above the
// positive one (moving either bar past the other takes the other along). OK writes both limits: a
// bar that stands where the reading left it writes the limit back as read (12.349 stays 12.349),
// a moved one the value it shows. OK writes only limits read in this opening, with the link still
// up; otherwise nothing, and it says why (MayWrite), and Written stays false.
//
// Errors: a controller error (EIxa) while reading or writing is shown ("Korva Windows Error") and
// ends that step; link failures (EIxaInterface) go to the application's error report. OK closes the
// dialog with the OK result whatever the outcome.
//
// Threads: main thread only; the link serialises the dialog's requests with the monitor's.

#include "dialogs/DialogFrame.h"
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
    TReadState ReadState = TReadState::Offline;
    bool Written = false; // OK sent the limits (even if the controller refused one)

private:
    void ReadLimits();
    // A limit as read and where its bar stood once the reading was done.
    struct TReadLimit {
        double Value = 0;
        int Ticks = 0;
    };
    // The value OK writes for bar.
    static double LimitToWrite(const QScrollBar* bar, const TReadLimit& read);
    TReadLimit PosRead, NegRead;
};
