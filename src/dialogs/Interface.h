#pragma once
// TInterfaceForm: the interface setup dialog. Three radio groups choose where the controller takes
// the activate/retract command, the tool number and the command force from (the selected index is
// the controller's value, unchanged); the RS485 box holds the controller's network name and
// address. OK writes the five settings, only when they were all read in this opening and the link
// is still up; otherwise nothing, and it says why (MayWrite), and Written stays false.
//
// Errors: a controller error (EIxa) while reading or writing gives one message and ends that step;
// link failures (EIxaInterface) go to the application's error report. OK closes the dialog with the
// OK result whatever the outcome.
//
// Threads: main thread only; the link serialises the dialog's requests with the monitor's.

#include "dialogs/DialogFrame.h"
#include "link/IxaInterface.h"
#include "toolkit/Controls.h"

#include <QDialog>
#include <QGroupBox>
#include <QPushButton>

class TInterfaceForm : public QDialog {
public:
    TInterfaceForm(QWidget* owner, TIxaInterface& link);

    void OkButtonClick();
    void HelpButtonClick();

    // Selects index in group: at or beyond the item count the last item, below 0 none.
    static void SelectIndex(TRadioGroup* group, int index);

    TIxaInterface& Link;
    TRadioGroup* ActiveRetractGroup = nullptr;
    TRadioGroup* ToolNumberGroup = nullptr;
    TRadioGroup* CommandForceGroup = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    TStaticText* StaticText1 = nullptr;
    TEdit* NameEdit = nullptr;
    TStaticText* StaticText2 = nullptr;
    TStaticText* AddressText = nullptr;
    TUpDown* AddressUpDown = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;
    TReadState ReadState = TReadState::Offline;
    bool Written = false; // OK sent the settings (even if the controller refused one)

private:
    void ReadSettings();
};
