#include "dialogs/DialogFrame.h"

#include "link/IxaInterface.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Layout.h"
#include "toolkit/Placement.h"

void SetupDialogFrame(QDialog* dialog, const char* caption, int width, int height) {
    dialog->setWindowTitle(caption);
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    dialog->setFont(FormFont(8));
    dialog->setFixedSize(width, height);
    PlaceOnScreen(dialog);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                        int height, bool isDefault) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    button->setDefault(isDefault);
    button->setGeometry(left, top, width, height);
    return button;
}

TStaticText* MakeLabel(QWidget* parent, int left, int top, const char* caption, bool bold, int points) {
    return MakeText(parent, {left, top, 0, 0, caption, taLeft, bold, points});
}

TStaticText* MakeBox(QWidget* parent, int left, int top, int width, int height, const char* caption,
                     TTextAlign align) {
    return MakeText(parent, {left, top, width, height, caption, align, false, 8, true});
}

bool MayWrite(const TIxaInterface& link, TReadState read) {
    const char* why = nullptr;
    if (read == TReadState::Offline)
        why = "The controller was offline when this window opened, so its settings were never read. "
              "Nothing was written.";
    else if (read == TReadState::Failed)
        why = "The controller's settings could not all be read when this window opened. Nothing was "
              "written.";
    else if (!link.Connected)
        why = "The link to the controller was lost. Nothing was written, and the changes made here are "
              "lost.";
    if (!why)
        return true;
    MessageBox("Korva Windows", why);
    return false;
}
