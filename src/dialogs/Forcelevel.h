#pragma once
// TForceLevelForm: the force level setup dialog. It reads the sixteen preset forces once into
// LevelValues, shows and edits one level at a time (the spinner chooses it, the four indicators show
// the CDF0..CDF3 input pattern that selects it), and writes the whole table on OK.
//
// The edit text reaches LevelValues when the spinner is about to move, when the focus moves to
// another control of the dialog, and when OK is pressed (so a value typed and confirmed with Enter is
// kept). A text the operator left as shown keeps the level's value as read (12.345, shown as 12.3,
// is written back as 12.345). A text that is no number gives "Bad Value for force!": the level keeps
// its value, the focus goes back to the field, and the spinner move or the OK is refused.
//
// OK writes only a table read in this opening, with the link still up; otherwise it writes nothing
// and says why (MayWrite), and Written stays false.
//
// Errors: a controller error (EIxa) while reading gives one message and a table of zeros that is
// never written; while writing, one message and the remaining levels are not written. Link failures
// (EIxaInterface) go to the application's error report. A confirmed OK closes with the OK result
// whatever the outcome.
//
// Threads: main thread only; the link serialises the dialog's requests with the monitor's.

#include "dialogs/DialogFrame.h"
#include "link/IxaInterface.h"
#include "toolkit/Controls.h"

#include <QDialog>
#include <QGroupBox>
#include <QPushButton>
#include <array>

class TForceLevelForm : public QDialog {
public:
    static constexpr int Levels = 16;

    TForceLevelForm(QWidget* owner, TIxaInterface& link);

    void FormShow();
    void ForceLevelUpDownChanging(bool& allowChange);
    void ForceLevelUpDownClick();
    void ForceEditExit();
    // Writes the table; false when the edit text was refused (the dialog then stays open).
    bool OkButtonClick();
    void HelpButtonClick();

    TIxaInterface& Link;
    std::array<double, Levels> LevelValues{};
    TReadState ReadState = TReadState::Offline;
    bool Written = false; // OK sent the table (even if the controller refused part of it)

    QGroupBox* SignalsGroupBox = nullptr;
    std::array<TStaticText*, 4> CdfLabel{};
    std::array<TStaticText*, 4> CdfInd{};
    TStaticText* PositionText = nullptr;
    TStaticText* ForceLevelText = nullptr;
    TUpDown* ForceLevelUpDown = nullptr;
    TStaticText* ForceText = nullptr;
    TEdit* ForceEdit = nullptr;
    TStaticText* ForceUnitText = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ReadLevels();
    bool StoreEditText();
    void ShowLevel(int level);
    QString ShownText;    // the edit text as last filled from LevelValues
    bool Storing = false; // a message box of the check takes the focus: no second check for that
};
