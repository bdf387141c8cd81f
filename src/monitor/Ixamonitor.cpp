#include "monitor/Ixamonitor.h"

#include "platform/SysUtils.h"

#include <exception>

namespace {

// Thrown at the gate to end the pass: a stop was requested, or the monitor was paused, in which case
// the pass starts over afresh (and forced) once it is resumed.
struct TPassEnd {};

constexpr unsigned SettleMs = 100; // lets the last bytes of the line arrive before a purge

} // namespace

TIxaMonitor::TIxaMonitor(TIxaInterface& link) : Link(link) {
    // A long sequence of the monitor's own (a handshake with its name lists) ends between two
    // exchanges when a stop or a pause is asked for. It holds the link lock there, so it must not
    // park: the pass ends and the gate is met outside the lock.
    Link.BetweenExchanges = [this] {
        if (IsCurrentThread() && Interrupted())
            throw TPassEnd{};
    };
    Start();
}

TIxaMonitor::~TIxaMonitor() {
    Terminate();
    WaitFor();
    Link.BetweenExchanges = nullptr;
}

void TIxaMonitor::Execute() {
    SetTrafficOrigin(TTrafficOrigin::Polling); // what this thread sends, the traffic log shows as polling
    while (!Terminated()) {
        if (PauseGate())
            continue; // look at the stop request again before a pass
        const bool forced = ForceRefresh.exchange(false);
        try {
            Pass(forced);
        } catch (const TPassEnd&) {
            continue; // no sleep: either stopping, or resumed and due for a forced pass
        } catch (...) {
            // Every error ends the pass silently; the next pass tries again.
        }
        const auto due = TBusPoller::TClock::now() + std::chrono::milliseconds(Period.load());
        if (Online)
            PollBus(due);
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(due - TBusPoller::TClock::now()).count();
        if (left > 0)
            Sleep(static_cast<unsigned>(left));
    }
}

void TIxaMonitor::SetBusPoller(std::shared_ptr<TBusPoller> poller) {
    std::lock_guard lock(BusMutex);
    Bus = std::move(poller);
}

// The idle wire time before the next pass goes to the other units; the pass's timing stays its own.
void TIxaMonitor::PollBus(TBusPoller::TClock::time_point due) {
    std::shared_ptr<TBusPoller> bus;
    {
        std::lock_guard lock(BusMutex);
        bus = Bus;
    }
    if (!bus)
        return;
    try {
        bus->Poll(
            due, [this](int address) { return address == Link.Address; }, [this] { return Interrupted(); },
            [this](const TBusUnitValues& values) { Raise(OnUnitValues, values); });
    } catch (...) {
        // The port's failure is met by the next pass; a handler's error ends this idle time only.
    }
}

void TIxaMonitor::Pass(bool forced) {
    CheckState();
    if (!Online) {
        Gate();
        ReopenPort();
        // A good handshake is taken up by the next pass, one full period later, whose transition
        // handshakes again.
        Link.Connect();
        return;
    }
    if (SlowPollCountdown == 0) {
        ReadActive(forced);
        ReadMode(forced);
        ReadToolNumber(forced);
        ReadToolWeight(forced);
        ReadToolPresence(forced);
        SlowPollCountdown = SlowGroupEvery;
    }
    --SlowPollCountdown;
    if (ToolPresent) {
        ReadCommandForce(forced);
        ReadActualForce(forced);
        ReadPosition(forced);
        ReadSlideAcceleration(forced);
    }
    ReadIo();
    if (OnPassEnd)
        Raise(OnPassEnd);
}

void TIxaMonitor::CheckState() {
    bool connected = Link.ConnectedSettled();
    if (!Online && connected) {
        Online = true;
        try {
            ConnectAndRefresh();
        } catch (const TPassEnd&) {
            Online = false; // paused or stopped inside the refresh: the transition is made again
            throw;
        }
        Period = OnlinePeriod;
        connected = Link.ConnectedSettled(); // the refresh's own outcome, or the handshake after it
    }
    if (Online && !connected) {
        Online = false;
        ForgetDelivered();
        // Set before the events so that a failing handler cannot leave the offline monitor polling
        // at the online pace.
        Period = OfflinePeriod;
        Synchronize([this] {
            TTrafficOriginScope origin(TTrafficOrigin::Polling);
            // The panel must go offline even when the tool handler fails.
            std::exception_ptr toolError;
            try {
                OnToolDisconnect.Invoke(*this);
            } catch (...) {
                toolError = std::current_exception();
            }
            OnDisconnect.Invoke(*this);
            if (toolError)
                std::rethrow_exception(toolError);
        });
    }
}

void TIxaMonitor::ConnectAndRefresh() {
    Gate();
    {
        // The outcome of this handshake, not of one the other thread starts right after it.
        TLinkLock lock(Link);
        Link.Connect();
        if (!Link.Connected)
            return;
    }
    Raise(OnConnect);
    ReadActive(true);
    ReadMode(true);
    ReadToolPresence(true);
    ReadCommandForce(true);
    if (!ToolPresent)
        return;
    ReadActualForce(true);
    ReadPosition(true);
    ReadSlideAcceleration(true);
    ReadActive(true);
    ReadToolNumber(true);
    ReadToolWeight(true);
}

void TIxaMonitor::SetPolling(bool enabled) {
    if (enabled) {
        ForceRefresh = true;
        // The line is emptied before the monitor talks again, so that what the terminal left behind
        // cannot meet the monitor's first exchange, and no purge can cut into one of its exchanges.
        SleepMs(SettleMs);
        PurgePort();
        Resume();
    } else {
        PauseAndWait();
        SleepMs(SettleMs);
        PurgePort();
    }
}

void TIxaMonitor::ReopenPort() {
    if (!Link.Port)
        return;
    // Under the lock, like every other use of the port by the link's two threads.
    TLinkLock lock(Link);
    Link.Port->Reopen();
}

void TIxaMonitor::PurgePort() {
    if (!Link.Port || !Link.Port->IsOpen())
        return;
    // Paused, the monitor holds no lock and the lock costs nothing; resumed without a pause, it keeps
    // the purge out of the monitor's exchange in progress.
    TLinkLock lock(Link);
    try {
        Link.Port->Purge();
    } catch (const ECommPort&) {
        // A port that cannot purge fails its next exchange, which the link reports.
    }
}

// Between two exchanges of the monitor's own thread: stop or park here. Never called with the link
// lock held, so a parked monitor leaves the line to the main thread.
void TIxaMonitor::Gate() {
    if (!IsCurrentThread())
        return;
    if (Terminated() || PauseGate() || Terminated())
        throw TPassEnd{};
}

template <typename... Args, typename... Values>
void TIxaMonitor::Raise(const TMonitorEvent<Args...>& event, Values... values) {
    // The handler's own exchanges count as made by whoever raised the event.
    const TTrafficOrigin origin = CurrentTrafficOrigin();
    Synchronize([&] {
        TTrafficOriginScope scope(origin);
        event.Invoke(*this, values...);
    });
}

void TIxaMonitor::ForgetDelivered() {
    for (auto* known : {&CommandForce.Known, &ActualForce.Known, &Position.Known, &SlideAcceleration.Known,
                        &ToolWeight.Known, &Active.Known, &ToolNumber.Known, &Mode.Known})
        *known = false;
}

template <typename T, typename... Args>
void TIxaMonitor::Deliver(TDelivered<T>& last, T now, bool forced, const TMonitorEvent<Args...>& event) {
    if (!forced && last.Known && now == last.Value.load())
        return;
    last.Value = now;
    last.Known = true;
    Raise(event, now);
}

void TIxaMonitor::ReadActive(bool forced) {
    Gate();
    Deliver(Active, Link.GetActive(), forced, OnActive);
}

void TIxaMonitor::ReadMode(bool forced) {
    Gate();
    uint8_t mode = 0;
    if (Link.GetPositionMode()) {
        mode = 1;
    } else {
        Gate();
        mode = Link.GetContourMode() ? 2 : 0;
    }
    Deliver(Mode, mode, forced, OnMode);
}

void TIxaMonitor::ReadToolNumber(bool forced) {
    Gate();
    Deliver(ToolNumber, static_cast<int32_t>(Link.GetToolNumber()), forced, OnToolNumber);
}

void TIxaMonitor::ReadToolWeight(bool forced) {
    Gate();
    Deliver(ToolWeight, Link.GetCurrentToolWeight(), forced, OnToolWeight);
}

void TIxaMonitor::ReadCommandForce(bool forced) {
    Gate();
    Deliver(CommandForce, Link.GetCommandForce(), forced, OnCommandForce);
}

void TIxaMonitor::ReadActualForce(bool forced) {
    Gate();
    Deliver(ActualForce, Link.GetActualForce(), forced, OnActualForce);
}

void TIxaMonitor::ReadPosition(bool forced) {
    Gate();
    Deliver(Position, Link.GetPosition(), forced, OnPosition);
}

void TIxaMonitor::ReadSlideAcceleration(bool forced) {
    Gate();
    Deliver(SlideAcceleration, Link.GetSlideAcceleration(), forced, OnSlideAcceleration);
}

void TIxaMonitor::ReadToolPresence(bool forced) {
    Gate();
    const bool now = Link.GetToolConnected();
    if (forced)
        ToolPresent = !now; // a forced read always sees a transition
    if (!ToolPresent && now)
        Raise(OnToolConnect);
    else if (ToolPresent && !now)
        Raise(OnToolDisconnect);
    ToolPresent = now;
}

void TIxaMonitor::ReadIo() {
    if (!OnIo)
        return;
    int32_t dins = 0, douts = 0;
    if (Link.Version > 4.1) {
        Gate();
        dins = Link.GetAllDins();
        Gate();
        douts = Link.GetAllDouts();
    }
    Gate();
    const double ain = Link.GetAin();
    Gate();
    const double aout0 = Link.GetAout(0);
    Gate();
    const double aout1 = Link.GetAout(1);
    DigitalInputs = dins;
    DigitalOutputs = douts;
    AnalogInput = ain;
    AnalogOutput0 = aout0;
    AnalogOutput1 = aout1;
    Raise(OnIo, dins, douts, ain, aout0, aout1);
}
