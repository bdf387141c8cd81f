#pragma once
// The trend's memory: what the monitor delivered, per channel, with its time of arrival, in a ring
// that drops the oldest points; and the value each channel holds now. The monitor delivers a value
// only when it changes, so a value holds until the next delivery: the history is a step function.
// Offline, or online before its first delivery, a channel holds no value (NaN); going offline puts a
// NaN point into every channel, so a plot breaks there instead of drawing across the stretch.
//
// Times are seconds on a steady clock (TTrendTime::Seconds); they never run backwards within one
// history (an earlier time is taken as the last one).
// Threads: none of its own; one thread at a time (the main thread in the console).

#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class TTrendChannel : int { CommandForce, ActualForce, Position, Orientation, Active, Mode, ToolNumber };
constexpr int TrendChannelCount = 7;
// A value per channel, NaN where none is known.
using TTrendValues = std::array<double, TrendChannelCount>;
TTrendValues NoTrendValues();

// A moment on both clocks: the steady one orders and spaces the points, the wall clock names them.
struct TTrendTime {
    double Seconds = 0;
    std::chrono::system_clock::time_point Wall;
    static TTrendTime Now();
};

struct TTrendPoint {
    double Time = 0;
    double Value = 0; // NaN: no value from here on
};

// A fixed-capacity ring of points in time order; a push into a full ring drops the oldest.
class TTrendRing {
public:
    explicit TTrendRing(size_t capacity);
    void Push(const TTrendPoint& point);
    size_t Size() const { return Count; }
    size_t Capacity() const { return Points.size(); }
    uint64_t Dropped() const { return DroppedCount; }
    // 0 is the oldest point.
    const TTrendPoint& operator[](size_t index) const { return Points[(Head + index) % Points.size()]; }
    const TTrendPoint& Back() const { return (*this)[Count - 1]; }
    // Index of the first point later than time (Size() when none is).
    size_t UpperBound(double time) const;

private:
    std::vector<TTrendPoint> Points;
    size_t Head = 0;
    size_t Count = 0;
    uint64_t DroppedCount = 0;
};

// A step line for drawing: the points of one unbroken stretch, in time order.
using TTrendSegment = std::vector<TTrendPoint>;

class TTrendHistory {
public:
    // 1 h 49 min of one delivery per channel in every 200 ms polling pass, the most the monitor makes.
    static constexpr size_t DefaultCapacity = 32768;

    explicit TTrendHistory(size_t capacity = DefaultCapacity);

    // Online; the channels stay empty until their first delivery.
    void Connect(double time);
    // A value as delivered (also marks the history online). An unchanged value adds no point.
    void Deliver(TTrendChannel channel, double value, double time);
    // Offline: every channel holds nothing from here on.
    void Disconnect(double time);

    bool Online() const { return IsOnline; }
    double Held(TTrendChannel channel) const { return HeldValues[Index(channel)]; }
    const TTrendRing& Points(TTrendChannel channel) const { return Rings[Index(channel)]; }
    // The value held at time: the last point at or before it (NaN in a gap or before the history).
    double ValueAt(TTrendChannel channel, double time) const;
    double LastTime() const { return Latest; }
    // The time of the oldest point any channel still holds (LastTime() when none holds one): how far
    // back there is anything to show.
    double FirstTime() const;

    // The steps of [from, to] split at the gaps, thinned to at most four points per column of
    // (to - from) / columns: where a column holds more changes, it shows their range as one vertical
    // stroke at its first change, then the value it ends with.
    std::vector<TTrendSegment> Steps(TTrendChannel channel, double from, double to, int columns) const;

private:
    static size_t Index(TTrendChannel channel) { return static_cast<size_t>(channel); }
    double Clamp(double time);

    std::vector<TTrendRing> Rings;
    double HeldValues[TrendChannelCount];
    bool IsOnline = false;
    double Latest = 0;
};

// The mounting angle in degrees from the slide acceleration (a fraction of g), as the horizon shows
// it but not rounded to whole degrees. Inline: `korva watch` writes it without the history.
inline double OrientationDegrees(double acceleration) {
    double a = acceleration;
    if (a > 1)
        a = 1;
    if (!(a >= -1))
        a = -1;
    return std::asin(a) * 57.29577951308232;
}
