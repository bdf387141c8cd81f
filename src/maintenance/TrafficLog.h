#pragma once
// TTrafficLogForm: every line the controller link sends and receives, from both threads, as it
// happens (Maintenance > Traffic Log...). Modeless, resizable, its place kept in the settings.
//
// The capture is the link's traffic observer (link/Traffic.h) feeding a ring of
// TTrafficLog::DefaultCapacity lines that lives as long as the window. The window listens only
// while it is visible, so a console with the window closed pays nothing for it; the lines kept
// stay for the next opening. A timer shows what came in since its last call.
//
//   Hide polling   the monitor's own exchanges are not shown (nor saved); they are still kept
//   Pause          new lines are not kept until Resume
//   Clear          forgets every kept line
//   Save...        writes the lines shown as plain text, one line each, their times with the date,
//                  after a header: when, the port, the address, the controller and this console
//
// While listening, the window marks the link lost (with the reason: the port's, or the last failed
// exchange's) and regained, as lines of the log among the exchanges; "Hide polling" keeps them.
//
// Threads: main thread only. Lifetime: the link must outlive every showing of the window; the
// window may outlive the link if it is not shown again (the main window frees it last).

#include "link/IxaInterface.h"
#include "link/Traffic.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

class TTrafficLogForm : public QDialog {
public:
    static constexpr int RefreshMs = 100;

    TTrafficLogForm(QWidget* owner, TIxaInterface& link);
    ~TTrafficLogForm() override;

    // Takes in what the ring got since the last call (the timer's handler; tests call it directly).
    void Refresh();
    // The text the view shows, one line each.
    QString ShownText() const { return LogText->toPlainText(); }
    // What a saved log begins with, one line each, then an empty line.
    AnsiString Header();

    TTrafficLog Log;
    QPlainTextEdit* LogText;
    QCheckBox* HidePollingBox;
    QPushButton* PauseButton;
    QPushButton* ClearButton;
    QPushButton* SaveButton;
    QPushButton* CloseButton;
    QLabel* StatusText;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void HidePollingBoxClick();
    void PauseButtonClick();
    void ClearButtonClick();
    void SaveButtonClick();
    void Rebuild();
    void ShowStatus();
    void NoteLinkState();
    AnsiString LostReason() const;

    TIxaInterface& Link;
    QTimer RefreshTimer;
    uint64_t Shown = 0; // sequence number of the next event to show
    bool Listening = false;
    bool LinkSeen = false;      // the link's state at the last look
    uint64_t LinkSeenSince = 0; // sequence number of the first event since that state began
};
