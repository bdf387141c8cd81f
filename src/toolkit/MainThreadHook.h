#pragma once
// Makes the monitor's main-thread calls (platform/Thread.h) run from the Qt event loop: while an
// instance lives, each queued call posts one ServeMainThreadCalls to the application. Create it on
// the main thread after the application object and before any thread that synchronises; it removes
// the hook when destroyed.

class TMainThreadHook {
public:
    TMainThreadHook();
    ~TMainThreadHook();
    TMainThreadHook(const TMainThreadHook&) = delete;
    TMainThreadHook& operator=(const TMainThreadHook&) = delete;
};
