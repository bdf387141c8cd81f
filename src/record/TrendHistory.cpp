#include "record/TrendHistory.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double NoValue = std::numeric_limits<double>::quiet_NaN();
}

TTrendValues NoTrendValues() {
    TTrendValues values;
    values.fill(NoValue);
    return values;
}

TTrendTime TTrendTime::Now() {
    TTrendTime now;
    now.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    now.Wall = std::chrono::system_clock::now();
    return now;
}

TTrendRing::TTrendRing(size_t capacity) : Points(std::max<size_t>(capacity, 1)) {}

void TTrendRing::Push(const TTrendPoint& point) {
    if (Count == Points.size()) {
        Points[Head] = point;
        Head = (Head + 1) % Points.size();
        ++DroppedCount;
        return;
    }
    Points[(Head + Count) % Points.size()] = point;
    ++Count;
}

size_t TTrendRing::UpperBound(double time) const {
    size_t lo = 0, hi = Count;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if ((*this)[mid].Time <= time)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

TTrendHistory::TTrendHistory(size_t capacity) : Rings(TrendChannelCount, TTrendRing(capacity)) {
    std::fill(std::begin(HeldValues), std::end(HeldValues), NoValue);
}

double TTrendHistory::Clamp(double time) {
    Latest = std::max(Latest, time);
    return Latest;
}

void TTrendHistory::Connect(double time) {
    Clamp(time);
    IsOnline = true;
}

void TTrendHistory::Deliver(TTrendChannel channel, double value, double time) {
    const double t = Clamp(time);
    IsOnline = true;
    double& held = HeldValues[Index(channel)];
    // Compared as bits of meaning: an unchanged value, or still no value, adds nothing to a step line.
    if (held == value || (std::isnan(held) && std::isnan(value)))
        return;
    held = value;
    Rings[Index(channel)].Push({t, value});
}

void TTrendHistory::Disconnect(double time) {
    const double t = Clamp(time);
    IsOnline = false;
    for (int c = 0; c < TrendChannelCount; ++c) {
        if (std::isnan(HeldValues[c]))
            continue;
        HeldValues[c] = NoValue;
        Rings[c].Push({t, NoValue});
    }
}

double TTrendHistory::ValueAt(TTrendChannel channel, double time) const {
    const TTrendRing& ring = Rings[Index(channel)];
    const size_t after = ring.UpperBound(time);
    return after == 0 ? NoValue : ring[after - 1].Value;
}

double TTrendHistory::FirstTime() const {
    double first = Latest;
    for (const TTrendRing& ring : Rings)
        if (ring.Size() > 0)
            first = std::min(first, ring[0].Time);
    return first;
}

std::vector<TTrendSegment> TTrendHistory::Steps(TTrendChannel channel, double from, double to,
                                                int columns) const {
    std::vector<TTrendSegment> segments;
    if (!(to > from))
        return segments;
    const TTrendRing& ring = Rings[Index(channel)];
    const double width = (to - from) / std::max(columns, 1);
    TTrendSegment current;
    double held = ValueAt(channel, from);
    if (!std::isnan(held))
        current.push_back({from, held});

    const auto step = [&](const TTrendPoint& p) {
        if (!std::isnan(held))
            current.push_back({p.Time, held});
        if (std::isnan(p.Value)) {
            if (!current.empty())
                segments.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(p);
        }
        held = p.Value;
    };

    size_t i = ring.UpperBound(from);
    const size_t end = ring.UpperBound(to);
    while (i < end) {
        // The points that fall into the same column as ring[i].
        const double columnEnd = from + (std::floor((ring[i].Time - from) / width) + 1) * width;
        size_t j = i;
        bool gap = false;
        double lo = std::numeric_limits<double>::infinity();
        double hi = -lo;
        while (j < end && ring[j].Time < columnEnd) {
            gap = gap || std::isnan(ring[j].Value);
            lo = std::min(lo, ring[j].Value);
            hi = std::max(hi, ring[j].Value);
            ++j;
        }
        if (j - i <= 2 || gap) {
            for (; i < j; ++i)
                step(ring[i]);
            continue;
        }
        const double t = ring[i].Time;
        if (!std::isnan(held))
            current.push_back({t, held});
        current.push_back({t, lo});
        current.push_back({t, hi});
        held = ring[j - 1].Value;
        current.push_back({t, held});
        i = j;
    }
    if (!std::isnan(held))
        current.push_back({to, held});
    if (!current.empty())
        segments.push_back(std::move(current));
    return segments;
}
