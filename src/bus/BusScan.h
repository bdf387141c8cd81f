#pragma once
// TBusScan: finds the units on the RS-485 network behind one port. Each address gets a short
// probe: the version query ("VER?"), and for a unit that answers, its controller name ("CN?") and
// tool type ("TT?"). Plain C++ on the link; the console's Network window and the command-line
// program share it.
//
// Time: every reply line of a probe has ProbeTimeLimit ms. After a time-out the scan listens one
// more limit for a reply still on its way, so a silent address costs two limits after its command
// line, and a scan of 16 addresses with nobody on the line ends within 32 limits and the
// commands' own time; a unit that answers costs its three exchanges. A unit that answers the
// version but not its name or tool type is listed with what it gave.
//
// Slow and noisy units: a reply that starts within those two limits, but too late for the first,
// is emptied from the line and the address is probed once more with SlowProbeTimeLimit for every
// line; so is one whose first line is not the echo of the probe (the tail of the last address's
// reply, or a garbled line). Only an exact echo and a reply make a unit: a unit that garbles its
// echo twice is not listed. The bytes of a failed exchange are emptied until the line has been
// quiet for QuietMs (at most DrainLimitMs) before the next probe is sent.
//
// The link: each probe holds the link lock for its exchanges only, so that the caller's other
// traffic interleaves probe by probe; the caller pauses the monitor's polling for the scan (a
// polling exchange on the panel's own address would not harm the scan, but its time-outs would
// wrongly take the panel offline while the address is borrowed). The link's Address, Timeout and
// Connected are the same after each probe as before it, on every path; the port's input is purged
// before each probe and drained after a failed one, so a late reply of the last address cannot be
// taken for this one's echo.
//
// Errors: a port that is not open raises EIxaInterface 0, and a failed write or a lost port
// ECommPort, from Probe and Run; they end the scan. A wrong echo or a time-out only means that no
// unit answered there.
// Threads: Run and Probe on any one thread at a time; the stop token and the progress callback are
// the way to follow and end a scan from another thread.

#include "link/IxaInterface.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

struct TBusUnit {
    int Address = 0;
    AnsiString Version;  // the version line as the unit sent it
    AnsiString Name;     // empty if the unit did not give it
    AnsiString ToolType; // empty if the unit did not give it
};

struct TBusScanOptions {
    static constexpr int MaxAddress = 15;
    int First = 0;
    int Last = MaxAddress;
    unsigned ProbeTimeLimit = 100; // ms for each reply line
    // ms for each reply line of the second probe of a slow unit (twice ProbeTimeLimit at least)
    unsigned SlowProbeTimeLimit = 500;
};

class TBusScan {
public:
    // Called after each address probed: the address and the unit found there, or nullptr.
    using TProgress = std::function<void(int address, const TBusUnit* unit)>;
    static constexpr unsigned QuietMs = 50;        // the line is done with a failed exchange
    static constexpr unsigned DrainLimitMs = 1000; // the most a drain waits for a streaming unit

    explicit TBusScan(TIxaInterface& link, TBusScanOptions options = {});

    // The unit at this address, if one answers the version query.
    std::optional<TBusUnit> Probe(int address);
    // Probes First..Last in order until done or stop is requested (checked before each address);
    // returns the units found, in address order.
    std::vector<TBusUnit> Run(std::stop_token stop = {}, const TProgress& progress = {});
    // The most a scan of a line with no unit on it waits, in ms (the commands' own time aside).
    unsigned SilentLineMs() const;

    const TBusScanOptions Options;

private:
    unsigned SlowLimit() const;
    TIxaInterface& Link;
};
