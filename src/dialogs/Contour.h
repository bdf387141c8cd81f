#pragma once
// TContourForm: the contour mode setup dialog. Eleven vertical sliders, one per point of the
// contour table (0 %, 10 %, ... 100 % of the stroke), hold the forces in tenths of the force unit
// with the sign inverted, so that the top of a slider is the highest force. The controls of point i
// are found by name ("ScrollBar<i>", "ForceValue<i>"); all sliders share one change handler. OK
// writes the eleven forces.
//
// Errors: none handled here. A failure while reading ends the construction (the constructor
// raises); a failure while writing stops at the failing point, goes to the application's error
// report, and the dialog still closes with the OK result.
//
// Threads: main thread only; the link serialises the dialog's requests with the monitor's.

#include "link/IxaInterface.h"
#include "toolkit/Controls.h"

#include <QDialog>
#include <QFrame>
#include <QPushButton>
#include <QScrollBar>

class TContourForm : public QDialog {
public:
    static constexpr int Points = 11;

    TContourForm(QWidget* owner, TIxaInterface& link);

    void ScrollBarChange(QObject* sender);
    void OkButtonClick();
    void HelpButtonClick();

    // The slider and value text of point i, found by their names.
    QScrollBar* ScrollBar(int point) const;
    TStaticText* ForceValue(int point) const;

    TIxaInterface& Link;
    QFrame* Panel1 = nullptr;
    TStaticText* ForceText = nullptr;
    TStaticText* ForceUnit = nullptr;
    TStaticText* PositionText = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;

private:
    void ReadTable();
};
