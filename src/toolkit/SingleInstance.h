#pragma once
// One running console per user: a lock file held for the life of the process, and a local server
// that a second start connects to, to wake the first (which then restores and raises its window).
//
//     TSingleInstance instance;           // key defaults to "KorvaControlPanel-<user>"
//     if (!instance.Acquire()) return 0;  // another one runs: it has been woken (no application needed)
//     TApplication app(argc, argv);
//     instance.OnWake = [&] { ... };      // runs on the main thread from the event loop
//     instance.Listen();
//
// A stale lock left by a crashed process is taken over (QLockFile's stale detection).
// Threads: main thread only.

#include <QLocalServer>
#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>

class TSingleInstance {
public:
    explicit TSingleInstance(QString key = DefaultKey());
    ~TSingleInstance();
    // true: this process is the first (the lock is held until destruction). false: another holds the
    // lock; it has been sent a wake (waits up to 2 s for its answer).
    bool Acquire();
    // Starts answering wakes; needs the application object. Only after a successful Acquire.
    void Listen();
    std::function<void()> OnWake;
    static QString DefaultKey();
    QString Key() const { return FKey; }

private:
    QString FKey;
    std::unique_ptr<QLockFile> Lock;
    std::unique_ptr<QLocalServer> Server;
};

// Restores a minimised window and brings it to the front.
void RestoreAndRaise(QWidget* window);
