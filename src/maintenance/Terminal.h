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
// Errors: a send that fails shows "Halvane Terminal Error" (the port's message, OK only); one while
// sending the opening CR LF also closes the window. A failure while polling goes to the standard
// error display and the next call polls again.
// Threads: main thread only.

#include "link/CommPort.h"

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <functional>

// The terminal's text area. Every typed character goes to OnKeyPress first, which may swallow it by
// setting the key to 0; what is left is inserted at the caret as an edit control does (CR or LF a
// line break, BS deletes backwards). Keys with no character (arrows, Delete) act only on the local
// text.
class TTerminalText : public QPlainTextEdit {
public:
    explicit TTerminalText(QWidget* parent = nullptr);
    std::function<void(char& key)> OnKeyPress;
    // Lines as the text area counts them (no wrapping: one per line break, plus one).
    int LineCount() const { return blockCount(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void InsertChar(char c);
};

class TTerminalForm : public QDialog {
public:
    // port may be nullptr; it is not owned.
    TTerminalForm(QWidget* owner, TCommPort* port);
    ~TTerminalForm() override;

    TTerminalText* TerminalText;
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
    void ShowPortError(const ECommPort& error);
    void ShowReceived(const AnsiString& bytes);
    void IdleTick();

    TCommPort* Port;
    QTimer Idle; // the idle handler, installed from FormShow to FormHide
};

// The open terminal, if any (the menu command sets it for the window's life).
extern TTerminalForm* TerminalForm;
// The last byte any terminal took from the port; carried from one opening to the next.
extern uint8_t LastReceived;
