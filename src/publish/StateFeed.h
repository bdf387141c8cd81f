#pragma once
// TStateFeed: the monitor's deliveries as state messages, at most one per pass. The monitor raises a
// value's event only when it changed, and OnPassEnd at the end of every online pass; the feed keeps
// the unit's whole state. The first change of a pass goes out at once, so that the plant sees it
// as soon as the panel shows it (on a 9600-baud line the rest of a pass takes tens of ms); changes
// after it in the same pass go with the next pass's message, or at the next pass's end when that
// pass changes nothing. The first message after a connection waits for a whole pass, so that no
// value still unread goes out as zero.
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
    // The end of a pass (the monitor's OnPassEnd): publishes what changed after the last message when
    // this pass sent none; the next pass may send again.
    void PassEnd();
    // The link was lost: the next pass after it comes back is published whole.
    void Forget();

    TUnitState State() const { return Now; }

    // Wires the monitor's value slots, the tool's presence and OnPassEnd to the feed, overwriting what
    // they held; the link's own events (OnConnect, OnDisconnect) stay the front end's.
    void Attach(TIxaMonitor& monitor);

private:
    template <typename T> void Take(T& field, T value);
    void Send();
    TPublisher& Publisher;
    TUnitState Now;
    bool Changed = true;     // a change not yet published
    bool SentInPass = false; // this pass has had its message
    bool Whole = true;       // the next message waits for a whole pass (none yet, or the link was lost)
};

// Another unit's values from the bus poller, as a state message.
TUnitState StateOf(const TBusUnitValues& values, bool englishUnits);
