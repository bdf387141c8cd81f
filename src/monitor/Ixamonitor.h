#pragma once
// TIxaMonitor: the one background thread. While the link is down it tries one handshake per pass
// (every 1000 ms); when the link's Connected flag comes up (the pass after a good handshake, one full
// period later, handshakes again and) it delivers every value once and then
// polls every 200 ms, delivering only values that changed; when the flag drops it reports the tool
// and the link as gone. Every value goes to the windows through an event run on the main thread.
//
// Threads:
//   - The events run on the main thread (Synchronize); the monitor holds no link lock meanwhile, so
//     handlers may use the link. Slots may be assigned and emptied by the main thread at any time;
//     whether a slot is assigned is decided on the main thread when its event is dispatched.
//   - The monitor talks to the controller only through the link's operations, each one exchange
//     under the link lock, so the windows' own link calls interleave with the polling exchange by
//     exchange.
//   - Online, ToolPresent, Period, ForceRefresh and the last delivered values are atomics: read them
//     from any thread; a stale value is expected.
//   - ConnectAndRefresh and SetPolling belong to the main thread; the constructor and destructor too.
// Errors: every error inside a pass (link, controller, port, or a handler's, raised again by
// Synchronize) ends that pass silently; the next pass comes after Period. ConnectAndRefresh called
// on the main thread passes its errors to the caller.
// A lost port (the device vanished, TCommPort::Lost) is reopened by name before each offline
// handshake, so an unplugged adapter that comes back brings the panel online without a click; a port
// that was closed or never opened is left alone.
// Pausing: SetPolling(false) takes effect between two exchanges, never inside one, and returns only
// once the monitor is parked. Do not call it while holding the link lock.
// Stopping and pausing reach into the monitor's handshake too: it installs the link's
// BetweenExchanges for its life, so a handshake with a long list of names ends after the exchange in
// progress. The link must outlive the monitor, and carries no other such hook meanwhile.

#include "link/IxaInterface.h"
#include "monitor/BusPoller.h"
#include "platform/Thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class TIxaMonitor;

// An event slot: a handler that can be empty. The first argument of every handler is the monitor.
// Invoke takes a copy of the handler under the slot's mutex and runs it outside, so a handler may
// assign or empty slots itself.
template <typename... Args> class TMonitorEvent {
public:
    using THandler = std::function<void(TIxaMonitor&, Args...)>;

    TMonitorEvent& operator=(THandler handler) {
        std::lock_guard lock(Mutex);
        Handler = std::move(handler);
        return *this;
    }
    explicit operator bool() const {
        std::lock_guard lock(Mutex);
        return static_cast<bool>(Handler);
    }
    // Runs the handler if one is assigned; returns whether one was.
    bool Invoke(TIxaMonitor& sender, Args... args) const {
        THandler handler;
        {
            std::lock_guard lock(Mutex);
            handler = Handler;
        }
        if (!handler)
            return false;
        handler(sender, args...);
        return true;
    }

private:
    mutable std::mutex Mutex;
    THandler Handler;
};

class TIxaMonitor final : public TThread {
public:
    static constexpr uint32_t OfflinePeriod = 1000;
    static constexpr uint32_t OnlinePeriod = 200;
    static constexpr uint32_t SlowGroupEvery = 4; // passes

    // Starts polling at once; the events may be wired afterwards (they run on the main thread, which
    // is still busy here).
    explicit TIxaMonitor(TIxaInterface& link);
    // Stops the thread and waits for it, serving its pending main-thread calls meanwhile. Returns after
    // the exchange in progress and the event it delivers; the sleep is cut short. Leaves the link alone.
    ~TIxaMonitor() override;

    // Handshake, then every value delivered (forced). On the main thread its events run directly and
    // its errors reach the caller.
    void ConnectAndRefresh();
    // false: pause between two exchanges and wait until parked; true: the next pass delivers every
    // value it reads. Either way the port's buffers are then emptied after 100 ms, before polling
    // goes on.
    void SetPolling(bool enabled);

    TMonitorEvent<> OnConnect;
    TMonitorEvent<> OnDisconnect;
    TMonitorEvent<> OnToolConnect;
    TMonitorEvent<> OnToolDisconnect;
    TMonitorEvent<double> OnCommandForce;
    TMonitorEvent<double> OnActualForce;
    TMonitorEvent<double> OnPosition;
    TMonitorEvent<double> OnSlideAcceleration;
    TMonitorEvent<double> OnToolWeight;
    TMonitorEvent<bool> OnActive;
    TMonitorEvent<int32_t> OnToolNumber;
    TMonitorEvent<uint8_t> OnMode; // 0 force mode, 1 position mode, 2 contour mode
    // digital inputs, digital outputs, analogue input, analogue output 0, analogue output 1
    TMonitorEvent<int32_t, int32_t, double, double, double> OnIo;
    // The end of every online pass that read the unit's values, after their events; no exchange of
    // its own, so a front end may follow the passes without changing the wire traffic.
    TMonitorEvent<> OnPassEnd;
    // The other units of the line (SetBusPoller): a unit's values at the end of its turn.
    TMonitorEvent<TBusUnitValues> OnUnitValues;

    // The poller of the other units, given the idle time after each online pass (the pass itself and
    // its period do not change); nullptr: none. Any thread; a poller taken away may still finish the
    // exchange in progress, which its shared ownership allows.
    void SetBusPoller(std::shared_ptr<TBusPoller> poller);

    TIxaInterface& Link;
    std::atomic<bool> Online{false};      // lags Link.Connected by at most one pass
    std::atomic<bool> ToolPresent{false}; // last answer to the tool-connected query

    // Last delivered values (compared exactly). They start as zero/false; once the link is lost they
    // are unknown, because the offline display no longer shows them, and the next read of each one
    // delivers what it finds.
    template <typename T> struct TDelivered {
        std::atomic<T> Value{};
        std::atomic<bool> Known{true};
    };
    TDelivered<double> CommandForce, ActualForce, Position, SlideAcceleration, ToolWeight;
    TDelivered<bool> Active;
    TDelivered<int32_t> ToolNumber;
    TDelivered<uint8_t> Mode;
    // The I/O snapshot handed to OnIo; not change-filtered.
    std::atomic<int32_t> DigitalInputs{0}, DigitalOutputs{0};
    std::atomic<double> AnalogInput{0}, AnalogOutput0{0}, AnalogOutput1{0};

    std::atomic<uint32_t> Period{OfflinePeriod}; // ms between passes
    std::atomic<bool> ForceRefresh{false};       // the next pass delivers every value it reads
    // Paces the slow group; one count for the life of the monitor, not reset on reconnect.
    std::atomic<uint32_t> SlowPollCountdown{0};

private:
    void Execute() override;
    void Pass(bool forced);
    void CheckState();
    void Gate();
    void PurgePort();
    void ReopenPort();
    void PollBus(TBusPoller::TClock::time_point due);

    void ForgetDelivered();
    template <typename T, typename... Args>
    void Deliver(TDelivered<T>& last, T now, bool forced, const TMonitorEvent<Args...>& event);
    template <typename... Args, typename... Values>
    void Raise(const TMonitorEvent<Args...>& event, Values... values);

    void ReadActive(bool forced);
    void ReadMode(bool forced);
    void ReadToolNumber(bool forced);
    void ReadToolWeight(bool forced);
    void ReadCommandForce(bool forced);
    void ReadActualForce(bool forced);
    void ReadPosition(bool forced);
    void ReadSlideAcceleration(bool forced);
    void ReadToolPresence(bool forced);
    void ReadIo();

    std::mutex BusMutex;
    std::shared_ptr<TBusPoller> Bus;
};
