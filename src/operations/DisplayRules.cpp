#include "operations/DisplayRules.h"

#include "link/IxaInterface.h"

#include <algorithm>
#include <cmath>
#include <limits>

double LowestForce(double maxWeight, const AnsiString& weightUnits) {
    if (maxWeight < 0)
        return std::numeric_limits<double>::quiet_NaN();
    return weightUnits == "kg" ? -(maxWeight * 9.8) : -maxWeight;
}

double LowestForce(TIxaInterface& link) {
    const double maxWeight = link.GetMaxWeight();
    return LowestForce(maxWeight, link.WeightUnits);
}

bool Drawable(double low, double high) {
    return std::isfinite(low) && std::isfinite(high) && low <= high;
}

TScaleEnds ForceScaleEnds(TIxaInterface& link) {
    TScaleEnds ends;
    ends.High = link.GetMaxForce();
    ends.Low = LowestForce(link);
    return ends;
}

TScaleEnds PositionScaleEnds(TIxaInterface& link) {
    TScaleEnds ends;
    ends.High = link.GetMaxPosition();
    return ends;
}

int32_t GaugeTicks(double value, double factor) {
    const double scaled = std::trunc(value * factor);
    if (std::isnan(scaled))
        return 0;
    if (scaled >= std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (scaled <= -std::numeric_limits<int32_t>::max())
        return -std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(scaled);
}

int TruncTicks(double value, double scale) {
    const double ticks = value * scale;
    if (std::isnan(ticks))
        return 0;
    const double nearest = std::round(ticks);
    const double t = std::fabs(ticks - nearest) < 1e-6 ? nearest : std::trunc(ticks);
    if (t >= std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (t <= std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(t);
}

bool OnWireSteps(double value) {
    if (!std::isfinite(value))
        return false;
    const double steps = value / WireResolution;
    // 12.59 is 12589.999999999998 thousandths in binary: far below a step off is on the step.
    return std::fabs(steps - std::round(steps)) <= std::max(1e-6, std::fabs(steps) * 1e-12);
}

int32_t NearestTicks(double value, double factor) {
    return GaugeTicks(std::round(value * factor), 1);
}

bool KnownReading(double value) {
    return std::isfinite(value) && std::fabs(value) < ReadingBound;
}

double OrientationAngle(double acceleration) {
    double a = acceleration;
    if (a > 1)
        a = 1;
    if (!(a >= -1)) // also not-a-number
        a = -1;
    return std::asin(a) * 57.29577951308232;
}

int HorizonDegrees(double acceleration) {
    return static_cast<int>(std::trunc(OrientationAngle(acceleration)));
}
