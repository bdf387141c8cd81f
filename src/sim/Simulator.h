#pragma once
// TSimulator: a simulated IXA controller on the master side of a pseudo-terminal. The console (or
// a test) opens SlavePath() like any serial device. The simulator answers the controller's
// plain-text protocol: it echoes each command line "<address>:<command>" as received, then sends
// "OK", or one value line and "OK", or "Error N" and "OK". It answers only its own network
// address (parameter "NA"); commands for other addresses get no answer at all, like a unit that
// is not on the line; so do lines without an address prefix. In bus mode (TSimOptions::Units) it is
// several units on one multi-drop line, each with its own parameters, answering its own address.
//
// Errors it answers: "Error 1" unknown command, "Error 2" malformed command or bad index,
// "Error 3" value out of range, "Error 4" read-only parameter, "Error 5" refused in the present
// state (activating during an emergency stop, weighing with no tool). SetParameter and Parameter
// throw std::invalid_argument for an unknown name, a bad index or a value they cannot read.
//
// Threads: the simulator serves the line on a thread of its own. Every public operation may be
// called from any thread at any time.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sim {

struct TSimOptions {
    double Version = 4.2;      // answered to "VER?" (as "4.2"; VersionText overrides the line)
    std::string VersionText;   // if not empty, the exact version line
    bool EnglishUnits = false; // "CU" at start; values in inches / pounds instead of mm / N / kg
    int NetAddress = 0;        // "NA" at start
    // Bus mode: one unit at each of these addresses (0..15, no repeats; std::invalid_argument
    // otherwise), instead of the one unit at NetAddress. The k-th unit (from 0) is named
    // "IXA Cell k+1" and holds tool number k; everything else starts as the one unit would.
    std::vector<int> Units;
    bool ToolConnected = true; // a tool is plugged in at start
    bool Paced = false;        // every byte (both ways) takes the 9600-baud byte time
    unsigned WeighMs = 3000;   // how long "ATW" weighs before its "OK"
    bool CrLf = false;         // end the simulator's lines with CR LF instead of LF
    // If not empty, a symbolic link made to point at the pseudo-terminal, replacing what is there,
    // and removed again at the end (if it still points here): a stable name for the console while
    // simulators come and go, as a USB adapter keeps its name when it is plugged in again.
    std::string LinkPath;
    // Keep every line received for Received() and WaitReceived() (tests). A simulator that runs
    // for hours beside a console turns it off, so the record cannot grow without end.
    bool RecordReceived = true;
    // If set, called with every line received (as Received() would hold it), on the serving
    // thread, after the line has been handled. It must not call the simulator.
    std::function<void(const std::string&)> OnReceived;
};

// Faults that the next exchanges suffer (tests and demonstrations).
enum class TSimFault {
    None,
    Silent,    // read commands, answer nothing (controller unplugged / powered off)
    WrongEcho, // echo the line with its last byte missing
    DropLine,  // leave out the first line after the echo (the value, or the lone "OK")
    LateLine,  // hold the reply (after the echo) for DelayMs before sending it
    MissingOk, // send the value or error line but not the "OK" after it
    Noise,     // instead of the reply, stream NoiseBytes bytes with no line end
    NoisyEcho, // instead of the echo, stream NoiseBytes bytes with no line end
    CloseLine, // close the line: the console's reads and writes then fail (not undone)
    // A configuration dump ("DCC", "DTC") that never ends: its lines over and over, with no "OK",
    // until the next command line arrives. Other commands neither suffer nor use up this fault.
    EndlessDump,
    LateEcho, // hold the echo and the reply for DelayMs: a unit that answers, but slowly
};

class TSimulator {
public:
    explicit TSimulator(TSimOptions options = {});
    ~TSimulator();
    TSimulator(const TSimulator&) = delete;
    TSimulator& operator=(const TSimulator&) = delete;

    // The device path the console opens, e.g. "/dev/pts/7".
    std::string SlavePath() const;

    // Fault injection: the fault applies to the next `count` commands addressed to a unit on the
    // line (count < 0: until cleared). Silent applies to every command while it lasts.
    void InjectFault(TSimFault fault, int count = 1, unsigned delayMs = 0, size_t noiseBytes = 8192);
    // A fault of one unit on the line: the commands for `address` suffer it (count as above; it
    // is used up by that unit's commands only), the other units answer as usual. It comes before
    // a fault injected for the whole line. ClearFaults clears it too.
    void InjectUnitFault(int address, TSimFault fault, int count = -1, unsigned delayMs = 0);
    void ClearFaults();
    // One unit of the line goes silent (reads its commands, answers nothing, as if unplugged) or
    // answers again; the others go on answering. Keyed by the address the unit answers now
    // (std::invalid_argument if none does). ClearFaults leaves it alone.
    void SetUnitSilent(int address, bool silent);

    // The next command whose text (without address prefix) equals `command` is echoed as usual
    // and then answered with exactly these lines (each followed by the line end) instead of the
    // controller's own reply. Scripts queue up and are used once each, in order.
    void ScriptReply(const std::string& command, std::vector<std::string> lines);

    // Every line received from the console, as received (address prefix included, no line end).
    // A line counts as received once it has been handled, so its effect is already visible.
    std::vector<std::string> Received() const;
    void ClearReceived();
    // Waits (up to timeoutMs) until at least `count` lines have been received since the last
    // ClearReceived; returns whether they arrived.
    bool WaitReceived(size_t count, unsigned timeoutMs) const;

    // The device model, as a person at the machine would change it.
    void SetToolConnected(bool connected);
    void SetMountingAngle(double degrees); // slide acceleration = sin(angle), as a fraction of g

    // Direct access to a parameter's value as the controller would answer "NAME?" (or
    // "NAME? I" with index), and setting it without the range checks of the protocol (so a fault
    // such as a negative maximum, or a real of "inf" or "-inf", can be set). A function-name count
    // ("NDIF", "NDOF", "NAOF") of 64 or more plays a broken controller: it is reported as set, and
    // every index below it answers a made-up name. In bus mode these reach the first unit.
    std::string Parameter(const std::string& name, int index = -1) const;
    void SetParameter(const std::string& name, const std::string& value, int index = -1);
    // The same for the unit that answers `address` now (std::invalid_argument if none does).
    std::string UnitParameter(int address, const std::string& name, int index = -1) const;
    void SetUnitParameter(int address, const std::string& name, const std::string& value, int index = -1);

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};

} // namespace sim
