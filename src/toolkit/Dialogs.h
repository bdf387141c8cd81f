#pragma once
// The one message-box, file-dialog and desktop service that every window calls. The program runs
// with the Qt service (real dialogs and the desktop's own programs, the default); tests install a
// TScriptedDialogs (tests/support) that records every request and returns a chosen answer, so no
// window ever blocks a test and nothing is opened on the desktop.
//
// Threads: main thread only.

#include <QString>
#include <QUrl>
#include <QWidget>
#include <memory>

enum class TMsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class TMsgIcon { None, Error, Warning, Question, Information };
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7, mrExtra = 100 };

// What a message box may offer beyond its standard buttons.
struct TMsgBoxExtras {
    QString ExtraButton;  // one more button, before the standard ones; it closes the box with mrExtra
    long HelpContext = 0; // F1 in the box asks for this help topic; 0: none
};

// What a file dialog is asked: the dialog's remembered state lives in the window that owns it
// (FileName is both the proposal and, on acceptance, the answer).
struct TFileDialogSpec {
    QString Title;
    QString DefaultExt; // "cfg": appended when the chosen name has no extension
    QString Filter;     // "Configuration File|*.cfg|All Files|*.*"
    QString InitialDir;
    QString FileName;
};

class TDialogService {
public:
    virtual ~TDialogService() = default;
    virtual TModalResult MessageBox(const QString& caption, const QString& text, TMsgButtons buttons,
                                    TMsgIcon icon) = 0;
    // The box with its extras; a service that has none shows the plain box.
    virtual TModalResult MessageBox(const QString& caption, const QString& text, TMsgButtons buttons,
                                    TMsgIcon icon, const TMsgBoxExtras& extras) {
        (void)extras;
        return MessageBox(caption, text, buttons, icon);
    }
    // true when the user chose a file; form.FileName then holds it.
    virtual bool OpenFile(TFileDialogSpec& form) = 0;
    virtual bool SaveFile(TFileDialogSpec& form) = 0;
    // Hands the address to the desktop (a folder's file URL opens the file manager there); false when
    // the desktop could not. The service that has no desktop opens nothing.
    virtual bool OpenUrl(const QUrl& url) {
        (void)url;
        return false;
    }
};

// The installed service (the Qt one unless a test installed another).
TDialogService& Dialogs();
// Installs service (nullptr: back to the Qt service); returns the previous one.
std::unique_ptr<TDialogService> SetDialogService(std::unique_ptr<TDialogService> service);

// The shared error box: caption "Korva Windows Error", the text (may be empty), one OK button.
void ShowError(const QString& text);
// A message box in one call: Dialogs().MessageBox(caption, text, buttons, icon).
TModalResult MessageBox(const QString& caption, const QString& text, TMsgButtons buttons = TMsgButtons::Ok,
                        TMsgIcon icon = TMsgIcon::None);
TModalResult MessageBox(const QString& caption, const QString& text, TMsgButtons buttons, TMsgIcon icon,
                        const TMsgBoxExtras& extras);
// Shows the folder in the desktop's file manager: Dialogs().OpenUrl of its file URL.
bool OpenFolder(const QString& folder);

// The "Configuration File|*.cfg|All Files|*.*" filter in Qt's form ("Configuration File (*.cfg);;...");
// "*.*" becomes "*", so that "All Files" also shows the files without an extension.
QString QtFilter(const QString& filter);
// The chosen name with DefaultExt appended when it has no extension.
QString WithDefaultExt(const QString& fileName, const QString& defaultExt);
// The file that a name chosen to open stands for: itself when it is a file, else with DefaultExt
// appended when that is one; empty when neither exists.
QString ExistingFileName(const QString& fileName, const QString& defaultExt);

// The real service: QMessageBox and QFileDialog, parented to the active window, and
// QDesktopServices for addresses. A name chosen to
// save gets DefaultExt before the question whether to replace an existing file; a name chosen to
// open that names no file is tried with DefaultExt ("ixa" finds "ixa.cfg"). A refused answer goes
// back to the file dialog.
class TQtDialogs : public TDialogService {
public:
    TModalResult MessageBox(const QString& caption, const QString& text, TMsgButtons buttons,
                            TMsgIcon icon) override;
    TModalResult MessageBox(const QString& caption, const QString& text, TMsgButtons buttons, TMsgIcon icon,
                            const TMsgBoxExtras& extras) override;
    bool OpenFile(TFileDialogSpec& form) override;
    bool SaveFile(TFileDialogSpec& form) override;
    bool OpenUrl(const QUrl& url) override;
};
