#pragma once
// TForceLevelForm: the force level setup dialog. It reads the sixteen preset forces once into
// LevelValues, shows and edits one level at a time (the spinner chooses it, the four indicators show
// the CDF0..CDF3 input pattern that selects it), and writes the whole table on OK.
//
// The edit text reaches LevelValues when the spinner is about to move, when the field loses the
// focus, and when OK is pressed (so a value typed and confirmed with Enter is kept). A text that is
// no number gives "Bad Value for force!": the level keeps its value, the focus goes back to the field,
// and the spinner move or the OK is refused.
//
// Errors: a controller error (EIxa) while reading gives one message and a table of zeros; while
// writing, one message and the remaining levels are not written. Link failures (EIxaInterface) go to
// the application's error report. A confirmed OK closes with the OK result whatever the outcome.
//
// Threads: main thread only; the link serialises the dialog's requests with the monitor's.

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
    bool Storing = false; // a message box of the check takes the focus: no second check for that
};
