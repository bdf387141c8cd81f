#pragma once
// TTerminalForm: raw access to the controller's command line over the serial port. Every typed
// character goes out at once (Enter as CR LF) with no local echo; what the controller sends back is
// shown as it arrives, so the screen holds the controller's own echo and its reply.
//
// The window uses the port directly, without the link lock: whoever shows it pauses the monitor
// for its whole life (TIxaMonitor::SetPolling). With no port, or a closed one, nothing is sent or
// received and typed characters simply go into the text area.
//
// Receiving: while the window is visible an idle-time poll (a zero-interval timer) takes the bytes
// waiting (at most 256 per call), or pauses 1 ms when nothing waits, and appends them at the end of
// the text, each run of plain characters with one insert. CR LF shows as one line break (the LF
// after a CR is dropped, across openings too: LastReceived), BEL beeps, BS deletes backwards, a
// received line goes on on the next line after 256 characters (so every byte costs the same), and
// the text keeps its last 18 lines.
//
// The command line under the text is the other way to type: Enter there sends its line exactly as
// typing the line into the text and pressing Enter would (each character, then CR LF), and clears it.
// Up and Down recall the lines sent from it before (TCommandHistory), which are kept in the settings
// from one start to the next. The raw typing in the text stays as it is.
//
// Errors: a send that fails shows "Halvane Terminal Error" (the port's message, OK only); one while
// sending the opening CR LF also closes the window. A failure while polling goes to the standard
// error display and the next call polls again.
// Threads: main thread only.

#include "link/CommPort.h"

#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <vector>

// The terminal's text area. Every typed character goes to OnKeyPress first, which may swallow it by
// setting the key to 0; what is left is inserted at the caret as an edit control does (CR or LF a
// line break, BS deletes backwards). Keys with no character (arrows, Delete) act only on the local
// text.
class TTerminalText : public QPlainTextEdit {
public:
    explicit TTerminalText(QWidget* parent = nullptr);
    std::function<void(char& key)> OnKeyPress;
    // One character as if typed: OnKeyPress, then the text area's own handling of what is left.
    void Type(char key);
    // Lines as the text area counts them (no wrapping: one per line break, plus one).
    int LineCount() const { return blockCount(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void InsertChar(char c);
};

// The lines sent from the terminal's command line, oldest first, at most MaxLines of them, each
// different from the one before. Browsing walks back from the newest (Older) and forward again
// (Newer); past the newest it gives back the line that was being typed when browsing began.
// Stored as one setting ("TerminalHistory"), the lines separated by LF (a sent line holds none).
class TCommandHistory {
public:
    static constexpr size_t MaxLines = 100;

    void Load();
    void Store() const;
    // A line just sent: appended (unless it repeats the newest or is empty) and browsing starts over.
    void Add(const QString& line);
    // The line before the one shown (the oldest stays); typed is what the line holds now.
    QString Older(const QString& typed);
    // The line after the one shown; past the newest, the line typed before browsing began.
    QString Newer(const QString& typed);
    const std::vector<QString>& Lines() const { return FLines; }

private:
    std::vector<QString> FLines;
    size_t FAt = 0; // the line shown while browsing; FLines.size() when not browsing
    QString FDraft; // what was typed when browsing began
};

// The command line: Up and Down recall from History, Enter hands the line to OnEnter.
class TCommandLine : public QLineEdit {
public:
    explicit TCommandLine(QWidget* parent = nullptr);
    TCommandHistory History;
    std::function<void(const QString& line)> OnEnter;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class TTerminalForm : public QDialog {
public:
    // port may be nullptr; it is not owned.
    TTerminalForm(QWidget* owner, TCommPort* port);
    ~TTerminalForm() override;

    TTerminalText* TerminalText;
    TCommandLine* CommandLine;
    QPushButton* CloseButton;

    // One call of the idle poll; clears done so that the poll goes on at once.
    void TerminalIdle(bool& done);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void FormShow();
    void FormHide();
    void TerminalTextKeyPress(char& key);
    void SendLine(const QString& line);
    void ShowPortError(const ECommPort& error);
    void ShowReceived(const AnsiString& bytes);
    void IdleTick();

    TCommPort* Port;
    bool SendFailed = false; // the last character typed could not be sent
    QTimer Idle;             // the idle handler, installed from FormShow to FormHide
};

// The open terminal, if any (the menu command sets it for the window's life).
extern TTerminalForm* TerminalForm;
// The last byte any terminal took from the port; carried from one opening to the next.
extern uint8_t LastReceived;
