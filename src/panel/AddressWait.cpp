#include "panel/AddressWait.h"

#include <QCoreApplication>
#include <QEvent>

TAddressWait::TAddressWait(QWidget* spinner, std::function<void()> settle)
    : Spinner(spinner), Settle(std::move(settle)) {
    Timer.setSingleShot(true);
    Timer.setInterval(WaitMs);
    connect(&Timer, &QTimer::timeout, this, [this] { Flush(); });
}

TAddressWait::~TAddressWait() {
    Listen(false);
}

void TAddressWait::Step() {
    Timer.start();
    Listen(true);
}

void TAddressWait::Flush() {
    const bool waiting = Timer.isActive() || Listening;
    Cancel();
    // Forgotten before it runs: a box the handler shows cannot settle it a second time.
    if (waiting && Settle)
        Settle();
}

void TAddressWait::Cancel() {
    Timer.stop();
    Listen(false);
}

void TAddressWait::Listen(bool on) {
    if (on == Listening || !QCoreApplication::instance())
        return;
    Listening = on;
    if (on)
        QCoreApplication::instance()->installEventFilter(this);
    else
        QCoreApplication::instance()->removeEventFilter(this);
}

bool TAddressWait::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::Wheel:
        break;
    default:
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || (Spinner && (widget == Spinner || Spinner->isAncestorOf(widget))))
        return false;
    Flush();
    return false; // the input itself goes on, now to the new unit
}
