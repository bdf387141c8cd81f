#pragma once
// The display rules every front end draws by: the ends of the force scales, counts of display
// steps, the orientation. Plain C++, no toolkit; pure functions.
//
// Two step counts, for two uses:
// - GaugeTicks: a live value on a gauge or a scale end, truncated toward zero as it comes. The
//   panel's gauges, scales, limit lines and command bar use it.
// - TruncTicks: a value as typed or read for editing, where 0.29 means 29 hundredths even though
//   it is a hair below in binary. The setup dialogs' scroll bars and the panel's typed command use
//   it.

#include "platform/SysUtils.h"

#include <cstdint>

class TIxaInterface;

// The lower end of the force scales: the heaviest tool's weight as a force (kilograms become
// newtons, pounds are taken as pounds of force). A negative heaviest weight is no weight at all:
// the scale then has no lower end (not-a-number).
double LowestForce(double maxWeight, const AnsiString& weightUnits);
// The same from the controller ("MW" read, the link's weight unit).
double LowestForce(TIxaInterface& link);

// A scale can be drawn when both ends are numbers and the low end is not above the high end.
bool Drawable(double low, double high);

// The ends of a scale and the value its middle mark shows.
struct TScaleEnds {
    double Low = 0, High = 0;
    bool Drawable() const { return ::Drawable(Low, High); }
    double Middle() const { return Low + (High - Low) * 0.5; }
};
// The force scale: from the lowest force up to the maximum force ("MF" read first, then "MW").
TScaleEnds ForceScaleEnds(TIxaInterface& link);
// The position scale: from 0 up to the maximum position ("MP").
TScaleEnds PositionScaleEnds(TIxaInterface& link);

// value x factor truncated toward zero, held within 32 bits (not-a-number counts 0) and symmetric,
// so that a count can always be negated (the command bar runs top down).
int32_t GaugeTicks(double value, double factor);

// value x scale truncated toward zero: the count of display steps (hundredths, tenths) in value, as
// typed or read. A value that stands for a whole count (0.29 for 29 hundredths) lands a hair below
// it in binary (28.999999999999996), so a difference far below one step is forgiven before
// truncating. Not-a-number counts 0; the count is held within int.
int TruncTicks(double value, double scale);

// The wire carries three decimals: a value is a whole count of thousandths, or is not sent as it is.
constexpr double WireResolution = 0.001;
bool OnWireSteps(double value);
// The nearest count of display steps (value x factor rounded), held within 32 bits and symmetric
// like GaugeTicks; not-a-number counts 0. A typed command stands on the bar's nearest step.
int32_t NearestTicks(double value, double factor);

// A reading the display shows as a number: finite and within a million units, far beyond any force,
// position or acceleration of an actuator. Anything else (nan, inf, 1e308) is shown as unknown, never
// as a plausible value such as 0 or a clamped end.
constexpr double ReadingBound = 1e6;
bool KnownReading(double value);

// The mounting angle in degrees for a slide acceleration in g: asin of it, the acceleration held
// to -1..1 (not-a-number counts -1).
double OrientationAngle(double acceleration);
// The same in whole degrees, truncated toward zero, as the horizon shows it.
int HorizonDegrees(double acceleration);
