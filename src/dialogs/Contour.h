#pragma once
// TContourForm: the contour mode setup dialog. Eleven vertical sliders, one per point of the
// contour table (0 %, 10 %, ... 100 % of the stroke), hold the forces in tenths of the force unit
// with the sign inverted, so that the top of a slider is the highest force. The controls of point i
// are found by name ("ScrollBar<i>", "ForceValue<i>"); all sliders share one change handler. OK
// writes the eleven forces: a slider that stands where the reading left it writes its force back as
// read, a moved one the force it shows. OK writes only a table read in this opening, with the link
// still up; otherwise nothing, and it says why (MayWrite), and Written stays false.
//
// Errors: none handled here. A failure while reading ends the construction (the constructor
// raises); a failure while writing stops at the failing point, goes to the application's error
// report, and the dialog still closes with the OK result.
//
// Threads: main thread only; the link serialises the dialog's requests with the monitor's.

#include "dialogs/DialogFrame.h"
#include "link/IxaInterface.h"
#include "toolkit/Controls.h"

#include <QDialog>
#include <QFrame>
#include <QPushButton>
#include <QScrollBar>
#include <array>

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
    TReadState ReadState = TReadState::Offline;
    bool Written = false; // OK sent the table (even if it stopped at a failing point)

private:
    void ReadTable();
    // Each point's force as read and where its slider stood once the reading was done.
    std::array<double, Points> ForceRead{};
    std::array<int, Points> TicksRead{};
};
