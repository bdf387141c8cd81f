#pragma once
// TThread: a worker thread with a terminate request, a pause gate and a blocking call into the main
// thread; plus the main thread's call queue that serves those calls.
//
// The main thread is the thread that first touches the call queue (constructing a TThread, or any
// function below) unless SetMainThread() names another one first. The program's entry point, or a
// test's own thread, is meant to be it.
//
// Main-thread calls: TThread::Synchronize(fn) queues fn, calls the wake hook and blocks until the main
// thread has run fn; an exception fn throws is raised again in the calling thread. Called on the main
// thread it runs fn at once. The main thread runs queued calls
//   - when its event loop asks (the wake hook, installed by the windows, posts ServeMainThreadCalls),
//   - while it waits for a thread: WaitFor and PauseAndWait keep serving until their condition holds,
//     so a worker blocked in Synchronize can always get on, and neither side can block the other.
//
// Pause gate: Pause asks the thread to stop at its next PauseGate() call; Execute decides where those
// are (between exchanges). Sleep ends early on a terminate or pause request. Terminate is a request;
// Execute looks at Terminated() and returns.
//
// Threads: Start, Pause, PauseAndWait, Resume, Terminate and WaitFor belong to the thread that owns the
// object (the main thread); PauseGate, Sleep and Synchronize to the worker. Terminated() and the state
// queries may be called from anywhere.
//
// Preconditions (a breach would wait forever): do not wait for a thread while holding a lock it needs
// to reach its gate, and do not WaitFor a thread from inside a call that thread queued (that throws
// std::logic_error instead of hanging).

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// Makes the calling thread the main thread.
void SetMainThread();
bool IsMainThread();

// Called (on the queuing thread, no lock held) each time a call is queued. The windows install one
// that makes their event loop call ServeMainThreadCalls; an empty hook is allowed.
void SetMainThreadWakeHook(std::function<void()> hook);

// Runs every queued call, and those queued meanwhile; returns whether any ran. Main thread only
// (std::logic_error elsewhere).
bool ServeMainThreadCalls();

// Serves queued calls until done() holds or timeoutMs have passed; returns done(). Main thread only.
bool ServeUntil(const std::function<bool()>& done, unsigned timeoutMs);

class TThread {
public:
    TThread(); // the thread runs from Start
    // Stops the thread (Terminate, WaitFor). A derived class stops it in its own destructor, since
    // Execute must not outlive the derived members it uses.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    void Terminate();
    bool Terminated() const { return TerminateRequested; }
    // Waits for Execute to return (serving main-thread calls on the main thread), then joins.
    void WaitFor();
    bool Finished() const { return Ended; }
    // What escaped Execute, if anything (the thread ended there).
    std::exception_ptr FatalException() const { return Fatal; }

    void Pause();
    // Pause, then wait until the thread is parked at its gate, has ended or was never started. Called
    // from inside a main-thread call of this thread (a handler that pumps events), the thread is
    // already held there, outside any exchange, and this returns at once.
    void PauseAndWait();
    void Resume();
    bool Parked() const { return AtGate; }

    bool IsCurrentThread() const { return WorkerId.load() == std::this_thread::get_id(); }

    // Runs fn on the main thread and waits for it; fn's exception is raised again here.
    void Synchronize(const std::function<void()>& fn);

protected:
    virtual void Execute() = 0;
    // Blocks while a pause is requested (until Resume or Terminate); returns whether it blocked.
    bool PauseGate();
    // Whether a terminate or pause request is pending; never blocks (usable with locks held).
    bool Interrupted();
    // Sleeps up to ms, ending early when a terminate or pause request comes.
    void Sleep(unsigned ms);

private:
    void Run();
    void WaitOnMain(const std::function<bool()>& condition);

    std::thread Worker;
    std::atomic<std::thread::id> WorkerId{};
    std::mutex GateMutex;
    std::condition_variable GateChanged;
    bool PauseRequested = false; // under GateMutex
    std::atomic<bool> TerminateRequested{false};
    std::atomic<bool> AtGate{false};
    std::atomic<bool> Ended{false};
    bool Started = false;
    int CallsRunning = 0; // this thread's calls being run by the main thread; main thread only
    std::exception_ptr Fatal;
};
