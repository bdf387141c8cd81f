#pragma once
// TSavingConfig: the busy window shown while the controller saves its configuration to non-volatile
// memory. The save blocks the user-interface thread, so the window is painted once when it is shown
// and then stands still until its owner destroys it.
//
// The form (a raised bevel filling a frameless window, a lowered bevel inside it around one bold line
// of text, centred on the screen) is shared with the download busy window, which gives its own size
// and text through the protected constructor.
//
// Threads: main thread only. Created and destroyed by the code that shows it.

#include <QDialog>
#include <QString>

class TBevel;
class TStaticText;

class TSavingConfig : public QDialog {
public:
    explicit TSavingConfig(QWidget* owner);

    // Shows the window without making it modal and paints it at once.
    void ShowAndPaint();
    // A second, smaller line under the text ("line 3 of 51"); the window grows for it the first time.
    // Painted at once, since the transfer that calls it between lines blocks the event loop.
    void ShowProgress(const QString& text);

    TBevel* OuterBevel = nullptr;
    TBevel* InnerBevel = nullptr;
    TStaticText* Message = nullptr;
    TStaticText* Progress = nullptr; // made by the first ShowProgress

protected:
    // clientWidth, clientHeight and fontPixels in device-independent pixels.
    TSavingConfig(QWidget* owner, int clientWidth, int clientHeight, int fontPixels, const QString& text);
};
