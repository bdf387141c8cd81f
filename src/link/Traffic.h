#pragma once
// The link's traffic as a technician chasing a flaky line wants to see it: every line the link
// sends or receives, with its time, its direction, who asked for the exchange (the monitor's
// polling or the operator), the time since the exchange's command line went out, and a mark for
// error replies, time-outs, wrong echoes and bad replies.
//
// TTrafficObserver is what the link calls (TIxaInterface::SetTrafficObserver). With no observer the
// link costs one atomic load per line. TTrafficLog is the observer the windows and tools use: a
// bounded ring of events, read by sequence number.
//
// Who asked: each thread carries an origin, the operator unless it says otherwise; the monitor's
// thread marks itself as polling when it starts (SetTrafficOrigin).
//
// Threads: OnTraffic runs on the thread of the exchange, under the link lock. TTrafficLog has a
// lock of its own: every member may be called from any thread. FormatTrafficLine may be called
// from any thread.

#include "platform/SysUtils.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

// Link: no line of the wire but the link's own state changing (lost or regained), noticed by whoever
// watches the link; its Line says what happened and why.
enum class TTrafficDirection : uint8_t { Sent, Received, Link };
// Plant: a write from the plant's broker (the bridge or the console's publisher).
enum class TTrafficOrigin : uint8_t { Operator, Polling, Plant };
enum class TTrafficMark : uint8_t {
    None,
    ErrorReply, // a line beginning "Error"
    Timeout,    // no whole line within the time limit (the line is empty)
    WrongEcho,  // the echo differs from the command line sent
    BadReply,   // a line that never ended
    PortFailed, // the port refused the read or write (the line is empty for a read); Detail says why
};

struct TTrafficEvent {
    std::chrono::system_clock::time_point Time;
    std::chrono::microseconds Elapsed{0}; // since the exchange's command line was sent
    TTrafficDirection Direction = TTrafficDirection::Sent;
    TTrafficOrigin Origin = TTrafficOrigin::Operator;
    TTrafficMark Mark = TTrafficMark::None;
    AnsiString Line;   // without the line end
    AnsiString Detail; // the port's reason for PortFailed, else empty
    bool Transfer = false; // a line of a configuration file being sent
};

class TTrafficObserver {
public:
    virtual ~TTrafficObserver() = default;
    // Must not throw and must not use the link.
    virtual void OnTraffic(const TTrafficEvent& event) noexcept = 0;
};

// The calling thread's origin for the exchanges it makes from now on.
void SetTrafficOrigin(TTrafficOrigin origin);
TTrafficOrigin CurrentTrafficOrigin();

// The calling thread's origin for one scope: what the monitor's events do on the main thread counts
// as the polling's, since the polling asked for it.
class TTrafficOriginScope {
public:
    explicit TTrafficOriginScope(TTrafficOrigin origin) : Saved(CurrentTrafficOrigin()) {
        SetTrafficOrigin(origin);
    }
    ~TTrafficOriginScope() { SetTrafficOrigin(Saved); }
    TTrafficOriginScope(const TTrafficOriginScope&) = delete;
    TTrafficOriginScope& operator=(const TTrafficOriginScope&) = delete;

private:
    TTrafficOrigin Saved;
};

// One line of plain text, local time to the millisecond (with the date before it when withDate), e.g.
//   "14:03:07.412  operator  sent      0.0 ms  0:CF 12.500"
//   "14:03:07.441  polling   recv     28.6 ms  Error 3  [error reply]"
//   "14:03:07.512  plant     sent      0.0 ms  0:ACT 1"
//   "14:03:08.002  polling   recv   1000.2 ms    [port failed: Error reading from serial port! ...]"
//   "2026-12-09 14:03:09.120  link      *** link lost: time-out"
AnsiString FormatTrafficLine(const TTrafficEvent& event, bool withDate = false);
const char* TrafficMarkText(TTrafficMark mark); // "" for None, else e.g. "time-out"
// Whether "Hide polling" hides the event: the polling's exchanges, not the link's state changes.
bool HiddenWithPolling(const TTrafficEvent& event);

class TTrafficLog final : public TTrafficObserver {
public:
    static constexpr size_t DefaultCapacity = 20000;

    explicit TTrafficLog(size_t capacity = DefaultCapacity);

    void OnTraffic(const TTrafficEvent& event) noexcept override;

    // While paused, events are dropped.
    void SetPaused(bool paused);
    bool Paused() const;
    // Forgets every kept event; sequence numbers go on.
    void Clear();

    size_t Capacity() const { return Ring.size(); }
    size_t Size() const;
    // Sequence number of the next event to come; the first event ever has number 0.
    uint64_t NextSequence() const;
    // Appends the kept events numbered from `from` on (older ones that the ring dropped are
    // skipped) and returns NextSequence().
    uint64_t CopySince(uint64_t from, std::vector<TTrafficEvent>& out) const;
    // Every kept event as formatted lines, each ended by LF; without the polling's exchanges when
    // hidePolling (the link's own state changes stay).
    AnsiString Text(bool hidePolling, bool withDate = false) const;

private:
    mutable std::mutex Mutex;
    std::vector<TTrafficEvent> Ring;
    uint64_t Next = 0; // sequence number of the next event
    size_t Count = 0;  // kept events, the newest at Next - 1
    bool IsPaused = false;
};
