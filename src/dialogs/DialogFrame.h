#pragma once
// What the setup dialogs share: the dialog frame (caption, fixed client size, only the close box,
// the form font, centred on the screen), their push buttons, and the display scales' truncation.
// Threads: main thread only.

#include "operations/DisplayRules.h" // TruncTicks
#include "toolkit/Controls.h"
#include "toolkit/Layout.h"
#include "toolkit/Text.h"

#include <QDialog>
#include <QPushButton>

// Caption, client size (fixed), close box only, 8-point form font, centred on the screen.
void SetupDialogFrame(QDialog* dialog, const char* caption, int width, int height);

// A push button at its place; the default button answers Enter, the others never become default.
QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left, int top,
                        int width = 75, int height = 25, bool isDefault = false);

// An auto-sized static text (a label) with its left and top.
TStaticText* MakeLabel(QWidget* parent, int left, int top, const char* caption, bool bold = false,
                       int points = 8);
// A sunken value box of fixed size.
TStaticText* MakeBox(QWidget* parent, int left, int top, int width, int height, const char* caption,
                     TTextAlign align = taCenter);

class TIxaInterface;

// What a setup dialog holds of the controller's values: OK may write only what was read in this
// opening (and what the operator changed from there).
enum class TReadState { Offline, Failed, Read };

// Whether OK may write: the values were read and the link is still up. Otherwise the operator is
// told in one message box why nothing is written, and the answer is false.
bool MayWrite(const TIxaInterface& link, TReadState read);
