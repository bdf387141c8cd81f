#pragma once
// TApplication: the program's application object. Its notify is the last net for exceptions: one
// that escapes an event handler is shown with the standard error display and the program goes on
// (an exception must never cross the Qt event loop).
//
// The standard error display: the exception's message with a full stop appended unless the message
// already ends in a character that sorts at or before '.', caption "Korva Windows", an error icon and
// one OK button, through the dialog service (Dialogs.h), so tests see it in their recorder.
//
// Threads: main thread only.

#include <QApplication>
#include <QString>
#include <exception>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // The text the standard error display shows for message (the full-stop rule).
    static QString ErrorDisplayText(const QString& message);
    // Shows the exception with the standard error display. Call from inside a catch block.
    static void ShowException(const std::exception& error);
    // Shows whatever is being handled (std::current_exception) with the standard error display.
    static void HandleCurrentException();

    // The application's help file (the help viewer opens it); set by the main window at start-up.
    static void SetHelpFile(const QString& path);
    static QString HelpFile();
};

// Runs fn and shows any exception it raises with the standard error display; returns whether fn
// finished. For handlers run outside Qt's event delivery (monitor events, queued calls).
template <typename F> bool GuardedCall(F&& fn) {
    try {
        fn();
        return true;
    } catch (...) {
        TApplication::HandleCurrentException();
        return false;
    }
}
