#pragma once
// TBusPoller: the other units of the RS-485 line, polled in the wire's idle time. The panel's unit
// keeps its own polling untouched; after each of its passes the monitor hands the poller the time
// left before the next pass, and the poller asks one other unit, round-robin, for its fast values
// ("CF?", "AF?", "POS?", "ACT?") and, every SlowEvery turns of that unit, the slower ones ("PM?",
// "CM?", "TN?", and "CN?" on first contact). An exchange is started only if it fits before the next
// pass: an answering unit's exchange is estimated from the measured durations of earlier ones; a unit
// not known to answer must leave room for one time-limit as well. A turn that does not fit whole goes
// on in the next idle time. A unit that does not answer costs one time-limit, is reported offline and
// is asked again only after Backoff.
//
// The link: each exchange holds the link lock and borrows it for the unit (its Address, the
// poller's TimeLimit) and gives back Address, Timeout and Connected as they were, so the panel's
// unit is never taken offline by another unit's silence and the main thread's link calls interleave
// exchange by exchange. Read the link's Address under the lock while a poller runs. An address the
// main thread sets meanwhile without the lock (the panel's spinner) is kept, and that exchange's
// answer is dropped. The port's input is purged before each exchange, so a late reply of a unit
// cannot be taken for the next echo.
//
// Errors: a port that is not open (EIxaInterface 0) and a failed write or lost port (ECommPort) pass
// out of Poll; a time-out or wrong echo marks the unit offline; an "Error" line leaves that value
// unknown.
// Threads: Poll on one thread at a time; SetUnits, Units and Stats from any thread.

#include "link/IxaInterface.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

struct TBusUnitValues {
    using TClock = std::chrono::steady_clock;
    int Address = 0;
    bool Online = false; // false: the unit did not answer its last turn; the values are its last known
    double CommandForce = 0, ActualForce = 0, Position = 0;
    bool Active = false;
    bool SlowKnown = false; // Mode and ToolNumber have been read
    uint8_t Mode = 0;       // 0 force mode, 1 position mode, 2 contour mode
    int32_t ToolNumber = 0;
    AnsiString Name;         // from "CN?", empty until read
    TClock::time_point At{}; // when the values were read (the end of the turn)
};

struct TBusPollerOptions {
    unsigned TimeLimit = 100;  // ms for each reply line of another unit
    unsigned BackoffMs = 3000; // a silent unit is asked again after this
    unsigned SlowEvery = 5;    // turns of a unit between reads of its slow values
    unsigned MarginMs = 3;     // kept free before the next pass
};

struct TBusPollerStats {
    uint64_t Exchanges = 0;       // exchanges made (answered or not)
    uint64_t TimeLimitsSpent = 0; // exchanges that ended in a time-out
    uint64_t Turns = 0;           // completed turns (values delivered)
    double BusyMs = 0;            // wire time of the poller's exchanges
    uint64_t Late = 0;            // exchanges that ended after the next pass was due
    double EstimateMs = 0;        // the present estimate of an answered exchange
};

class TBusPoller {
public:
    using TClock = std::chrono::steady_clock;
    using TDeliver = std::function<void(const TBusUnitValues&)>;

    explicit TBusPoller(TIxaInterface& link, TBusPollerOptions options = {});

    // The known units (addresses 0..15; others and repeats are dropped). Units no longer listed are
    // forgotten.
    void SetUnits(const std::vector<int>& addresses);
    std::vector<int> Units() const;
    TBusPollerStats Stats() const;

    // Uses the time up to `due` for the turn of the next unit due (one unit per call), passing over
    // the units `skip` names (the panel's own; for a round, those done) and those waiting out their
    // backoff. `interrupted` is asked between exchanges; when it holds, Poll returns and the turn goes
    // on next time. `deliver` gets a unit's values at the end of its turn, and once when it goes
    // silent. Returns false when no unit was due.
    bool Poll(TClock::time_point due, const std::function<bool(int address)>& skip,
              const std::function<bool()>& interrupted, const TDeliver& deliver);

    const TBusPollerOptions Options;

private:
    struct TUnit {
        TBusUnitValues Values;
        bool Answering = false; // answered its last exchange
        bool EverAnswered = false;
        unsigned TurnsToSlow = 0; // 0: this turn reads the slow values
        TClock::time_point NextTry{};
        std::vector<int> Plan; // the queries of the turn in progress (TQuery)
        size_t Step = 0;       // the next of them
    };
    enum class TAsk { Answered, Refused, Silent };
    TAsk Exchange(TUnit& unit, int query, TClock::time_point due);
    bool Fits(const TUnit& unit, TClock::time_point due) const;
    void Measured(double ms, bool answered, bool late);

    TIxaInterface& Link;
    mutable std::mutex Mutex; // Units, Next, the statistics
    std::vector<TUnit> UnitList;
    size_t Next = 0; // index of the unit whose turn is due or in progress
    TBusPollerStats Counters;
    double EstimateMs = 50; // before any measurement: a slow exchange at 9600 baud
};
