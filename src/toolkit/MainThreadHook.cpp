#include "toolkit/MainThreadHook.h"

#include "platform/Thread.h"

#include <QCoreApplication>
#include <QMetaObject>

TMainThreadHook::TMainThreadHook() {
    SetMainThread();
    // Runs on the monitor thread: post, never run; the queued call reaches notify like any event.
    SetMainThreadWakeHook([] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { ServeMainThreadCalls(); }, Qt::QueuedConnection);
    });
}

TMainThreadHook::~TMainThreadHook() {
    SetMainThreadWakeHook({});
    ServeMainThreadCalls(); // nobody would run what is still queued
}
