// The thread class alone: main-thread calls, the pause gate, stopping, and the waits that must not
// deadlock. The test's own thread is the main thread.

#include "platform/Thread.h"
#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

class TTestThread : public TThread {
public:
    explicit TTestThread(std::function<void(TTestThread&)> body) : Body(std::move(body)) {}
    ~TTestThread() override {
        Terminate();
        WaitFor();
    }
    using TThread::PauseGate;
    using TThread::Sleep;

protected:
    void Execute() override { Body(*this); }

private:
    std::function<void(TTestThread&)> Body;
};

class EProbe : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Counts queued calls through the wake hook, as the windows' event loop would see them.
class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMainThread();
        SetMainThreadWakeHook([this] { ++Wakes; });
    }
    void TearDown() override { SetMainThreadWakeHook(nullptr); }

    std::atomic<int> Wakes{0};
};

TEST_F(ThreadTest, SynchronizeRunsOnMainThreadAndRaisesItsErrorInTheCaller) {
    const auto mainId = std::this_thread::get_id();
    std::thread::id ranOn;
    std::string caught;
    bool sawProbeType = false;
    TTestThread thread([&](TTestThread& self) {
        self.Synchronize([&] { ranOn = std::this_thread::get_id(); });
        try {
            self.Synchronize([] { throw EProbe("handler failed"); });
        } catch (const EProbe& e) {
            sawProbeType = true;
            caught = e.what();
        }
    });
    thread.Start();
    ASSERT_TRUE(ServeUntil([&] { return thread.Finished(); }, 5000));
    thread.WaitFor();
    EXPECT_EQ(ranOn, mainId);
    EXPECT_TRUE(sawProbeType);
    EXPECT_EQ(caught, "handler failed");
    EXPECT_EQ(Wakes, 2);
    EXPECT_FALSE(thread.FatalException());
}

TEST_F(ThreadTest, SynchronizeOnTheMainThreadRunsAtOnce) {
    TTestThread thread([](TTestThread&) {});
    int runs = 0;
    thread.Synchronize([&] { ++runs; }); // never started: nothing could serve a queued call
    EXPECT_EQ(runs, 1);
    EXPECT_THROW(thread.Synchronize([] { throw EProbe("direct"); }), EProbe);
    EXPECT_EQ(Wakes, 0);
}

// A long sleep must not hold up a stop or a pause.
TEST_F(ThreadTest, RequestsCutALongSleepShort) {
    for (bool pause : {false, true}) {
        SCOPED_TRACE(pause ? "pause" : "terminate");
        std::atomic<bool> sleeping{false};
        TTestThread thread([&](TTestThread& self) {
            sleeping = true;
            self.Sleep(60000);
            self.PauseGate();
        });
        thread.Start();
        ASSERT_TRUE(ServeUntil([&] { return sleeping.load(); }, 5000));
        const auto start = TClock::now();
        if (pause) {
            thread.PauseAndWait();
            EXPECT_TRUE(thread.Parked());
        } else {
            thread.Terminate();
            thread.WaitFor();
        }
        EXPECT_LT(TClock::now() - start, 2s);
    }
}

// The main thread waits for the thread (stop or pause) while the thread waits in Synchronize for the
// main thread: the wait must serve the call.
TEST_F(ThreadTest, WaitsServeAPendingCall) {
    for (bool pause : {false, true}) {
        SCOPED_TRACE(pause ? "pause" : "stop");
        TWatchdog watchdog(10000, "waiting with a call pending");
        std::atomic<int> served{0};
        auto thread = std::make_unique<TTestThread>([&](TTestThread& self) {
            while (!self.Terminated()) {
                self.PauseGate();
                self.Synchronize([&] { ++served; });
            }
        });
        const int wakesBefore = Wakes;
        thread->Start();
        auto deadline = TClock::now() + 5s;
        while (Wakes == wakesBefore && TClock::now() < deadline)
            std::this_thread::yield();
        ASSERT_GT(Wakes, wakesBefore); // a call is queued and nobody has served it
        if (pause) {
            thread->PauseAndWait();
            EXPECT_TRUE(thread->Parked());
            EXPECT_GE(served, 1);
            EXPECT_FALSE(ServeMainThreadCalls()); // parked threads queue nothing
        }
        thread.reset();
        EXPECT_GE(served, 1);
    }
}

// A handler that pumps events (a message box) may run a command that pauses the thread whose call it
// is: that thread is held in Synchronize, outside any exchange, so the pause holds at once, and the
// thread parks at its next gate before doing anything else.
TEST_F(ThreadTest, PauseFromInsideTheThreadsOwnCall) {
    TWatchdog watchdog(10000, "pause inside the thread's own call");
    std::atomic<int> afterCall{0};
    std::atomic<bool> first{true};
    TTestThread* self = nullptr;
    TTestThread thread([&](TTestThread& t) {
        while (!t.Terminated()) {
            if (t.PauseGate())
                continue;
            t.Synchronize([&] {
                if (first.exchange(false)) {
                    self->PauseAndWait();
                    EXPECT_THROW(self->WaitFor(), std::logic_error);
                }
            });
            ++afterCall;
        }
    });
    self = &thread;
    thread.Start();
    ASSERT_TRUE(ServeUntil([&] { return thread.Parked(); }, 5000));
    EXPECT_EQ(afterCall, 1); // returned from the call, then parked before the next one
    thread.Resume();
    EXPECT_TRUE(ServeUntil([&] { return afterCall > 3; }, 5000));
}

} // namespace
