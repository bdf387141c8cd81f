#include "toolkit/Application.h"

#include "toolkit/Dialogs.h"
#include "toolkit/Text.h"

#include "link/IxaInterface.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("Korva Windows");
}

TApplication::~TApplication() = default;

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleCurrentException();
        return false;
    }
}

QString TApplication::ErrorDisplayText(const QString& message) {
    // The classic rule compares the last byte: anything above '.' (letters, digits, '!' is below) gets one.
    if (!message.isEmpty() && message.back() > QChar('.'))
        return message + '.';
    return message;
}

void TApplication::ShowException(const std::exception& error) {
    // Messages are 8-bit texts, often from the controller: through its code page, like every one shown.
    QString text = ErrorDisplayText(ToQString(error.what()));
    // A controller's refusal in words, and what it refused, so that the operator can act on it.
    const auto* refusal = dynamic_cast<const EIxa*>(&error);
    if (refusal && QString::fromLatin1(error.what()).startsWith("Error ")) {
        text = ErrorDisplayText(ToQString(refusal->Described()));
        if (!refusal->Command.empty())
            text += "\n\nRefused: " + ToQString(refusal->Command);
    }
    Dialogs().MessageBox("Korva Windows", text, TMsgButtons::Ok, TMsgIcon::Error);
}

void TApplication::HandleCurrentException() {
    try {
        throw;
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        Dialogs().MessageBox("Korva Windows", "Unknown error.", TMsgButtons::Ok, TMsgIcon::Error);
    }
}

namespace {
QString& HelpFilePath() {
    static QString path;
    return path;
}
} // namespace

void TApplication::SetHelpFile(const QString& path) {
    HelpFilePath() = path;
}
QString TApplication::HelpFile() {
    return HelpFilePath();
}
