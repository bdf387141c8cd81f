#pragma once
// TSimDevice: the simulated controller itself, without the line: its parameter store, the small
// device model (activate/retract, force/position/contour modes, tool, mounting angle) and the
// command interpreter. Execute takes one command text (no address prefix, no line end) and gives
// the lines the controller sends after its echo.
//
// Values are kept in metric units (mm, N, kg); "CU" only changes the units in which they are
// read and written on the line, so switching converts every value at once.
//
// I/O ("RDO", "RDI", "AIN", "AOUT") follows the model: the CPU clock output toggles every 500 ms, the
// tool output and the tool-coding inputs follow the tool, the limit outputs the position against
// the limits, the digital outputs and inputs their assigned functions, the analogue input the
// actual force and each analogue output its function. "RDI" set directly holds extra input lines on.
//
// Errors on the line: "Error 1" unknown command, "Error 2" malformed command or bad index,
// "Error 3" value out of range, "Error 4" parameter is read-only, "Error 5" refused in the present
// state (activating during an emergency stop, weighing with no tool).
// Parameter/SetParameter throw std::invalid_argument for a name, index or value they cannot take; a
// stored value looked up under a name the model does not hold throws std::logic_error (a fault of
// the model itself, never undefined behaviour).
// Threads: none of its own and no lock; TSimulator serialises every call.

#include "sim/Simulator.h"

#include <array>
#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using TSimClock = std::chrono::steady_clock;

struct TSimReply {
    std::vector<std::string> Lines; // every line after the echo, the closing "OK" included
    unsigned DelayMs = 0;           // the controller works this long before it sends them
};

enum class TSimUnit { None, Length, Force, Weight };
struct TParamDef;

class TSimDevice {
public:
    static constexpr int ToolCount = 16;

    explicit TSimDevice(const TSimOptions& options, TSimClock::time_point now = TSimClock::now());

    TSimReply Execute(const std::string& command, TSimClock::time_point now);

    // Every mnemonic the device answers as a parameter (not the commands DCC, DTC, SC, ATW).
    static std::vector<std::string> ParameterNames();

    int NetAddress() const;
    std::string Parameter(const std::string& name, int index, TSimClock::time_point now);
    void SetParameter(const std::string& name, const std::string& value, int index,
                      TSimClock::time_point now);
    void SetToolConnected(bool connected, TSimClock::time_point now);
    void SetMountingAngle(double degrees, TSimClock::time_point now);

private:
    void Advance(TSimClock::time_point now);
    double Value(const TParamDef& def, int index, TSimClock::time_point now) const;
    std::string Text(const TParamDef& def, int index, TSimClock::time_point now) const;
    int Count(const TParamDef& def) const;
    int ListCount(const std::vector<std::string>* list) const;
    std::vector<std::string>* NameList(std::string_view name);
    const std::vector<std::string>* NameList(std::string_view name) const;
    bool Bounds(const TParamDef& def, double& lo, double& hi) const;
    int Store(const TParamDef& def, int index, const std::string& text);
    std::vector<std::string> Dump(bool tools) const;
    std::string SetLine(const TParamDef& def, int index) const;

    double ToLine(TSimUnit unit, double metric) const;
    double FromLine(TSimUnit unit, double value) const;
    double& At(std::string_view name, int index = 0);
    double At(std::string_view name, int index = 0) const;
    const double& Slot(std::string_view name, int index) const;
    bool Flag(std::string_view name) const { return At(name) != 0.0; }
    double VersionNumber() const;
    void PositionRange(double& lo, double& hi) const;
    int LimitBits() const;
    bool OutputOn(int function) const;
    int OutputWord(TSimClock::time_point now) const;
    int InputWord() const;
    double AnalogueIn() const;
    double AnalogueOut(int channel) const;
    double ContourForce(double position) const;

    std::string VersionText;
    std::string ControllerName = "IXA Cell 1";
    std::array<std::string, ToolCount> ToolTypes;
    std::array<double, ToolCount> ToolMass{}; // what a weighing finds, kg
    std::map<std::string, std::vector<double>, std::less<>> Values;
    std::vector<std::string> DinNames, DoutNames, AoutNames;
    // Name counts reported beyond the real lists (a broken controller); their extra names are made up.
    std::map<const std::vector<std::string>*, int> ReportedCounts;
    TSimClock::time_point Start, Last;
    unsigned WeighMs;
};

} // namespace sim
