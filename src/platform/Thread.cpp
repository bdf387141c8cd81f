#include "platform/Thread.h"

#include <chrono>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

using TClock = std::chrono::steady_clock;

struct TMainCall {
    const std::function<void()>* Fn;
    int* RunningCount; // the owner's count of its calls being run, or null
    std::exception_ptr Error;
    bool Done = false;
};

// One queue per process. Its condition variable carries every change a main-thread wait looks for:
// a call queued, a call done, a thread parked or ended.
struct TMainThreadQueue {
    TMainThreadQueue() : MainId(std::this_thread::get_id()) {}

    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<TMainCall*> Pending;
    std::function<void()> WakeHook;
    std::atomic<std::thread::id> MainId;
};

TMainThreadQueue& Queue() {
    static TMainThreadQueue queue;
    return queue;
}

void NotifyMain() {
    auto& queue = Queue();
    // Taking the mutex orders this change before a waiter's next look at its condition.
    { std::lock_guard lock(queue.Mutex); }
    queue.Changed.notify_all();
}

void RequireMainThread(const char* what) {
    if (!IsMainThread())
        throw std::logic_error(std::string(what) + " called outside the main thread");
}

// Runs the oldest queued call; false when none was queued.
bool ServeOne() {
    auto& queue = Queue();
    TMainCall* call;
    {
        std::lock_guard lock(queue.Mutex);
        if (queue.Pending.empty())
            return false;
        call = queue.Pending.front();
        queue.Pending.pop_front();
    }
    if (call->RunningCount)
        ++*call->RunningCount;
    try {
        (*call->Fn)();
    } catch (...) {
        call->Error = std::current_exception();
    }
    if (call->RunningCount)
        --*call->RunningCount;
    {
        std::lock_guard lock(queue.Mutex);
        call->Done = true;
    }
    queue.Changed.notify_all();
    return true;
}

// The one main-thread wait: serve what is queued, then sleep on the queue until the condition holds,
// a call arrives or the deadline passes. The condition is evaluated under the queue's mutex, so it
// may only read state whose changes are announced with NotifyMain.
bool ServeWhile(const std::function<bool()>& done, std::optional<TClock::time_point> deadline) {
    auto& queue = Queue();
    for (;;) {
        while (ServeOne()) {
        }
        std::unique_lock lock(queue.Mutex);
        if (done())
            return true;
        if (!queue.Pending.empty())
            continue;
        if (!deadline)
            queue.Changed.wait(lock);
        else if (TClock::now() >= *deadline)
            return false;
        else
            queue.Changed.wait_until(lock, *deadline);
    }
}

} // namespace

void SetMainThread() {
    Queue().MainId = std::this_thread::get_id();
}

bool IsMainThread() {
    return Queue().MainId.load() == std::this_thread::get_id();
}

void SetMainThreadWakeHook(std::function<void()> hook) {
    auto& queue = Queue();
    std::lock_guard lock(queue.Mutex);
    queue.WakeHook = std::move(hook);
}

bool ServeMainThreadCalls() {
    RequireMainThread("ServeMainThreadCalls");
    bool any = false;
    while (ServeOne())
        any = true;
    return any;
}

bool ServeUntil(const std::function<bool()>& done, unsigned timeoutMs) {
    RequireMainThread("ServeUntil");
    auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    // done() is the caller's and may read anything, so it is polled outside the queue's mutex.
    for (;;) {
        if (done())
            return true;
        if (TClock::now() >= deadline)
            return false;
        ServeWhile([] { return false; }, std::min(deadline, TClock::now() + std::chrono::milliseconds(2)));
    }
}

TThread::TThread() {
    Queue(); // the first thread object pins the main thread
}

TThread::~TThread() {
    Terminate();
    WaitFor();
}

void TThread::Start() {
    if (Started)
        return;
    Started = true;
    Worker = std::thread([this] { Run(); });
}

void TThread::Run() {
    WorkerId = std::this_thread::get_id();
    try {
        if (!Terminated())
            Execute();
    } catch (...) {
        Fatal = std::current_exception();
    }
    Ended = true;
    NotifyMain();
}

void TThread::Terminate() {
    {
        std::lock_guard lock(GateMutex);
        TerminateRequested = true;
    }
    GateChanged.notify_all();
}

void TThread::WaitOnMain(const std::function<bool()>& condition) {
    if (IsMainThread()) {
        ServeWhile(condition, std::nullopt);
        return;
    }
    auto& queue = Queue();
    std::unique_lock lock(queue.Mutex);
    queue.Changed.wait(lock, condition);
}

void TThread::WaitFor() {
    if (!Started || !Worker.joinable())
        return;
    if (IsCurrentThread())
        throw std::logic_error("a thread cannot wait for its own end");
    if (CallsRunning > 0)
        throw std::logic_error("a thread cannot be waited for inside its own main-thread call");
    WaitOnMain([this] { return Ended.load(); });
    Worker.join();
}

void TThread::Pause() {
    {
        std::lock_guard lock(GateMutex);
        PauseRequested = true;
    }
    GateChanged.notify_all();
}

void TThread::PauseAndWait() {
    Pause();
    if (!Started || IsCurrentThread())
        return;
    WaitOnMain([this] { return AtGate.load() || Ended.load() || CallsRunning > 0; });
}

void TThread::Resume() {
    {
        std::lock_guard lock(GateMutex);
        PauseRequested = false;
    }
    GateChanged.notify_all();
}

bool TThread::PauseGate() {
    std::unique_lock lock(GateMutex);
    if (!PauseRequested || TerminateRequested)
        return false;
    AtGate = true;
    lock.unlock();
    NotifyMain();
    lock.lock();
    GateChanged.wait(lock, [this] { return !PauseRequested || TerminateRequested; });
    AtGate = false;
    return true;
}

bool TThread::Interrupted() {
    std::lock_guard lock(GateMutex);
    return PauseRequested || TerminateRequested;
}

void TThread::Sleep(unsigned ms) {
    std::unique_lock lock(GateMutex);
    GateChanged.wait_for(lock, std::chrono::milliseconds(ms),
                         [this] { return PauseRequested || TerminateRequested.load(); });
}

void TThread::Synchronize(const std::function<void()>& fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    auto& queue = Queue();
    TMainCall call{&fn, IsCurrentThread() ? &CallsRunning : nullptr, nullptr};
    std::function<void()> hook;
    {
        std::lock_guard lock(queue.Mutex);
        queue.Pending.push_back(&call);
        hook = queue.WakeHook;
    }
    queue.Changed.notify_all();
    if (hook) {
        try {
            hook();
        } catch (...) {
            // The call stays queued; the main thread's next wait or serve runs it.
        }
    }
    std::unique_lock lock(queue.Mutex);
    queue.Changed.wait(lock, [&call] { return call.Done; });
    if (call.Error)
        std::rethrow_exception(call.Error);
}
