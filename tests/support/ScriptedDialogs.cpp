#include "support/ScriptedDialogs.h"

TModalResult TScriptedDialogs::MessageBox(const QString& caption, const QString& text, TMsgButtons buttons,
                                          TMsgIcon icon) {
    return MessageBox(caption, text, buttons, icon, TMsgBoxExtras{});
}

TModalResult TScriptedDialogs::MessageBox(const QString& caption, const QString& text, TMsgButtons buttons,
                                          TMsgIcon icon, const TMsgBoxExtras& extras) {
    Boxes.push_back({caption, text, buttons, icon, extras});
    if (OnBox)
        OnBox(Boxes.back());
    if (!BoxAnswers.empty()) {
        const TModalResult answer = BoxAnswers.front();
        BoxAnswers.pop_front();
        return answer;
    }
    switch (buttons) {
    case TMsgButtons::Ok:
        return mrOk;
    case TMsgButtons::YesNo:
        return mrNo;
    default:
        return mrCancel;
    }
}

bool TScriptedDialogs::File(bool save, TFileDialogSpec& form) {
    Files.push_back({save, form});
    if (FileAnswers.empty())
        return false;
    const QString answer = FileAnswers.front();
    FileAnswers.pop_front();
    if (answer.isEmpty())
        return false;
    form.FileName = save ? WithDefaultExt(answer, form.DefaultExt) : answer;
    return true;
}

bool TScriptedDialogs::OpenFile(TFileDialogSpec& form) {
    return File(false, form);
}
bool TScriptedDialogs::SaveFile(TFileDialogSpec& form) {
    return File(true, form);
}

bool TScriptedDialogs::OpenUrl(const QUrl& url) {
    Urls.push_back(url);
    return OpenUrlResult;
}

TScriptedDialogsScope::TScriptedDialogsScope() {
    auto service = std::make_unique<TScriptedDialogs>();
    Service = service.get();
    Previous = SetDialogService(std::move(service));
}

TScriptedDialogsScope::~TScriptedDialogsScope() {
    SetDialogService(std::move(Previous));
}
