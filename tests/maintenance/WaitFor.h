#pragma once
// Waiting on a condition with a deadline while the event loop runs (the windows' timers, the
// monitor's main-thread calls).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

template <typename Pred> bool WaitFor(Pred pred, int timeoutMs = 3000) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}
