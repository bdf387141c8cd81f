#pragma once
// TStateFeed: the monitor's deliveries of one pass gathered into one state message. The monitor
// raises a value's event only when it changed, and OnPassEnd at the end of every online pass; the feed
// keeps the unit's whole state, takes each change, and publishes once at the pass's end when
// anything changed (or the first time).
//
// Threads: the thread that runs the monitor's events (the main thread); one feed per monitor.
// A front end that shares the monitor's slots with its windows (the console) calls the feed from its
// own handlers; one that does not (the bridge) lets Attach wire every slot.

#include "monitor/BusPoller.h"
#include "publish/Publisher.h"

class TIxaMonitor;

class TStateFeed {
public:
    explicit TStateFeed(TPublisher& publisher);

    void CommandForce(double value);
    void ActualForce(double value);
    void Position(double value);
    void SlideAcceleration(double value); // the orientation follows from it
    void Active(bool value);
    void Mode(uint8_t value);
    void ToolNumber(int32_t value);
    void ToolPresent(bool value);
    void EnglishUnits(bool value);
    // The end of a pass (the monitor's OnPassEnd): publishes when anything changed since the last message.
    void PassEnd();
    // The link was lost: the next pass after it comes back is published whole.
    void Forget();

    TUnitState State() const { return Now; }

    // Wires the monitor's value slots, the tool's presence and OnPassEnd to the feed, overwriting what
    // they held; the link's own events (OnConnect, OnDisconnect) stay the front end's.
    void Attach(TIxaMonitor& monitor);

private:
    template <typename T> void Take(T& field, T value);
    TPublisher& Publisher;
    TUnitState Now;
    bool Changed = true;
};

// Another unit's values from the bus poller, as a state message.
TUnitState StateOf(const TBusUnitValues& values, bool englishUnits);
