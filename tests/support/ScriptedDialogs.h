#pragma once
// The dialog service of the tests: records every message box and file dialog and answers from a
// script. Install it for the life of a test with TScriptedDialogsScope:
//
//     TScriptedDialogsScope dialogs;            // installs, restores the previous service at scope end
//     dialogs->AnswerNext(mrYes);               // the next message box returns mrYes
//     dialogs->AnswerNextFile("/tmp/a.cfg");    // the next file dialog returns this name
//     ... click ...
//     ASSERT_EQ(dialogs->Boxes.size(), 1u);
//     EXPECT_EQ(dialogs->Boxes[0].Caption, "Korva Windows Error");
//
// Unscripted message boxes answer mrOk for Ok, else the first button's negative (mrCancel, mrNo);
// unscripted file dialogs are cancelled. A request never blocks. Addresses handed to the desktop are
// recorded in Urls and opened nowhere; OpenUrlResult says what the desktop answers.

#include "toolkit/Dialogs.h"

#include <deque>
#include <functional>
#include <optional>
#include <vector>

class TScriptedDialogs : public TDialogService {
public:
    struct TBox {
        QString Caption;
        QString Text;
        TMsgButtons Buttons;
        TMsgIcon Icon;
        TMsgBoxExtras Extras;
    };
    struct TFileRequest {
        bool Save;            // save dialog (else open dialog)
        TFileDialogSpec Form; // as asked
    };

    void AnswerNext(TModalResult answer) { BoxAnswers.push_back(answer); }
    // An empty name cancels the dialog.
    void AnswerNextFile(const QString& fileName) { FileAnswers.push_back(fileName); }
    // Called with each box as it is shown (e.g. to check the window state at that moment).
    std::function<void(const TBox&)> OnBox;

    TModalResult MessageBox(const QString& caption, const QString& text, TMsgButtons buttons,
                            TMsgIcon icon) override;
    TModalResult MessageBox(const QString& caption, const QString& text, TMsgButtons buttons, TMsgIcon icon,
                            const TMsgBoxExtras& extras) override;
    bool OpenFile(TFileDialogSpec& form) override;
    bool SaveFile(TFileDialogSpec& form) override;
    bool OpenUrl(const QUrl& url) override;

    std::vector<TBox> Boxes;
    std::vector<TFileRequest> Files;
    std::vector<QUrl> Urls;
    bool OpenUrlResult = true;

private:
    bool File(bool save, TFileDialogSpec& form);
    std::deque<TModalResult> BoxAnswers;
    std::deque<QString> FileAnswers;
};

class TScriptedDialogsScope {
public:
    TScriptedDialogsScope();
    ~TScriptedDialogsScope();
    TScriptedDialogsScope(const TScriptedDialogsScope&) = delete;
    TScriptedDialogsScope& operator=(const TScriptedDialogsScope&) = delete;
    TScriptedDialogs* operator->() const { return Service; }
    TScriptedDialogs& operator*() const { return *Service; }

private:
    TScriptedDialogs* Service;
    std::unique_ptr<TDialogService> Previous;
};
