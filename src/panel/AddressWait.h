#pragma once
// TAddressWait: the address spinner's steps settle before the panel talks to the new unit. Each step
// starts the wait again; WaitMs after the last one, the settle handler runs once (the handshake with
// the unit at the final address). The addresses stepped through are never asked, so the display
// keeps the old unit's values meanwhile instead of going offline for each of them.
//
// A click or key anywhere in the program except on the spinner settles a waiting step at once,
// before that input is handled: whatever the operator does next goes to the unit the address field
// shows, never to the one it showed before.
//
// Threads: main thread only. Errors: the settle handler's pass to whoever settles (guard it).

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

class TAddressWait : public QObject {
public:
    static constexpr int WaitMs = 500;

    // spinner: the control whose own input steps rather than settles.
    TAddressWait(QWidget* spinner, std::function<void()> settle);
    ~TAddressWait() override;
    TAddressWait(const TAddressWait&) = delete;
    TAddressWait& operator=(const TAddressWait&) = delete;

    // A step: the wait starts again.
    void Step();
    // A waiting step settles now.
    void Flush();
    // A waiting step is forgotten (the address was chosen another way).
    void Cancel();
    bool Waiting() const { return Timer.isActive(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Listen(bool on);
    QPointer<QWidget> Spinner;
    std::function<void()> Settle;
    QTimer Timer;
    bool Listening = false;
};
