#include "monitor/BusPoller.h"

#include <algorithm>

namespace {

enum TQuery { CommandForce, ActualForce, Position, Active, PositionMode, ContourMode, ToolNumber, Name };

// The link as it was before an exchange borrowed it for another unit, put back on every path. The
// main thread may set the panel's address without the lock (the address spinner) while it is
// borrowed: that address is then kept, and the exchange's answer is not trusted.
class TBorrowedLink {
public:
    TBorrowedLink(TIxaInterface& link, int address, unsigned timeLimit)
        : Link(link), Lock(link), Address(link.Address), Borrowed(address), Timeout(link.Timeout),
          Connected(link.Connected) {
        Link.Address = address;
        Link.Timeout = static_cast<int>(timeLimit);
    }
    ~TBorrowedLink() {
        int expected = Borrowed;
        Link.Address.compare_exchange_strong(expected, Address);
        Link.Timeout = Timeout;
        Link.Connected = Connected && Link.Port && Link.Port->IsOpen();
    }
    bool Intact() const { return Link.Address == Borrowed; }
    TBorrowedLink(const TBorrowedLink&) = delete;
    TBorrowedLink& operator=(const TBorrowedLink&) = delete;

private:
    TIxaInterface& Link;
    TLinkLock Lock;
    const int Address, Borrowed, Timeout;
    const bool Connected;
};

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

TBusPoller::TBusPoller(TIxaInterface& link, TBusPollerOptions options) : Options(options), Link(link) {}

void TBusPoller::SetUnits(const std::vector<int>& addresses) {
    std::lock_guard lock(Mutex);
    std::vector<TUnit> units;
    for (int address : addresses) {
        if (address < 0 || address > 15)
            continue;
        if (std::any_of(units.begin(), units.end(),
                        [&](const TUnit& u) { return u.Values.Address == address; }))
            continue;
        auto known = std::find_if(UnitList.begin(), UnitList.end(),
                                  [&](const TUnit& u) { return u.Values.Address == address; });
        if (known != UnitList.end()) {
            units.push_back(*known);
        } else {
            units.emplace_back();
            units.back().Values.Address = address;
        }
    }
    UnitList = std::move(units);
    if (Next >= UnitList.size())
        Next = 0;
}

std::vector<int> TBusPoller::Units() const {
    std::lock_guard lock(Mutex);
    std::vector<int> addresses;
    for (const TUnit& unit : UnitList)
        addresses.push_back(unit.Values.Address);
    return addresses;
}

TBusPollerStats TBusPoller::Stats() const {
    std::lock_guard lock(Mutex);
    TBusPollerStats stats = Counters;
    stats.EstimateMs = EstimateMs;
    return stats;
}

bool TBusPoller::Fits(const TUnit& unit, TClock::time_point due) const {
    double cost = EstimateMs + Options.MarginMs;
    if (!unit.Answering)
        cost += Options.TimeLimit; // it may not answer: room for the time-limit too
    return TClock::now() + std::chrono::microseconds(static_cast<int64_t>(cost * 1000)) <= due;
}

void TBusPoller::Measured(double ms, bool answered, bool late) {
    std::lock_guard lock(Mutex);
    ++Counters.Exchanges;
    Counters.Late += late;
    Counters.BusyMs += ms;
    if (!answered) {
        ++Counters.TimeLimitsSpent;
        return;
    }
    // Up at once, down slowly: a slow exchange is not forgotten after one quick one.
    EstimateMs = std::max(ms, EstimateMs * 7 / 8 + ms / 8);
}

TBusPoller::TAsk TBusPoller::Exchange(TUnit& unit, int query, TClock::time_point due) {
    TBusUnitValues& v = unit.Values;
    const auto start = TClock::now();
    TAsk result = TAsk::Answered;
    const TBusUnitValues before = v;
    {
        TBorrowedLink borrowed(Link, v.Address, Options.TimeLimit);
        Link.AssertOpen();
        Link.Port->Purge();
        try {
            switch (query) {
            case CommandForce:
                v.CommandForce = Link.GetCommandForce();
                break;
            case ActualForce:
                v.ActualForce = Link.GetActualForce();
                break;
            case Position:
                v.Position = Link.GetPosition();
                break;
            case Active:
                v.Active = Link.GetActive();
                break;
            case PositionMode:
                v.Mode = Link.GetPositionMode() ? 1 : 0;
                break;
            case ContourMode:
                v.Mode = Link.GetContourMode() ? 2 : 0;
                break;
            case ToolNumber:
                v.ToolNumber = static_cast<int32_t>(Link.GetToolNumber());
                v.SlowKnown = true;
                break;
            case Name:
                v.Name = Link.GetControllerName();
                break;
            }
        } catch (const EIxa&) {
            result = TAsk::Refused;
        } catch (const EConvertError&) {
            result = TAsk::Refused;
        } catch (const EIxaInterface& e) {
            if (e.Code == 0)
                throw; // no port: nothing to poll
            result = TAsk::Silent;
            // What a late unit still sends must not meet the next exchange.
            Link.Port->Purge();
        }
        if (!borrowed.Intact()) { // the panel moved meanwhile: the answer may be another unit's
            v = before;
            result = TAsk::Refused;
        }
    }
    Measured(MsSince(start), result != TAsk::Silent, TClock::now() > due);
    return result;
}

bool TBusPoller::Poll(TClock::time_point due, const std::function<bool(int address)>& skip,
                      const std::function<bool()>& interrupted, const TDeliver& deliver) {
    TUnit unit;
    {
        std::lock_guard lock(Mutex);
        const auto now = TClock::now();
        // The next unit due: not the panel's own, not one waiting out its backoff.
        size_t tried = 0;
        for (; tried < UnitList.size(); ++tried, Next = (Next + 1) % UnitList.size()) {
            const TUnit& u = UnitList[Next];
            if (!(skip && skip(u.Values.Address)) && (u.Answering || u.Step > 0 || u.NextTry <= now))
                break;
        }
        if (tried == UnitList.size())
            return false;
        unit = UnitList[Next];
    }
    if (unit.Step == 0) {
        unit.Plan = {CommandForce, ActualForce, Position, Active};
        if (unit.TurnsToSlow == 0 || !unit.Values.SlowKnown) {
            unit.Plan.insert(unit.Plan.end(), {PositionMode, ContourMode, ToolNumber});
            if (unit.Values.Name.empty())
                unit.Plan.push_back(Name);
        }
    }
    bool ended = false, silent = false;
    while (unit.Step < unit.Plan.size()) {
        if ((interrupted && interrupted()) || !Fits(unit, due))
            break;
        const int query = unit.Plan[unit.Step];
        if (query == ContourMode && unit.Values.Mode == 1) { // position mode rules out contour mode
            ++unit.Step;
            continue;
        }
        const TAsk ask = Exchange(unit, query, due);
        if (ask == TAsk::Silent) {
            silent = true;
            break;
        }
        unit.Answering = true;
        unit.EverAnswered = true;
        ++unit.Step;
    }
    if (silent) {
        const bool wasOnline = unit.Answering || !unit.EverAnswered;
        unit.Answering = false;
        unit.Step = 0;
        unit.NextTry = TClock::now() + std::chrono::milliseconds(Options.BackoffMs);
        unit.Values.Online = false;
        ended = wasOnline; // reported once, when it goes (or is first found) silent
    } else if (unit.Step == unit.Plan.size()) {
        if (unit.TurnsToSlow == 0 || unit.Plan.size() > 4)
            unit.TurnsToSlow = Options.SlowEvery;
        --unit.TurnsToSlow;
        unit.Step = 0;
        unit.Values.Online = true;
        unit.Values.At = TClock::now();
        ended = true;
    }
    {
        std::lock_guard lock(Mutex);
        auto it = std::find_if(UnitList.begin(), UnitList.end(),
                               [&](const TUnit& u) { return u.Values.Address == unit.Values.Address; });
        if (it == UnitList.end())
            return true; // dropped from the list meanwhile
        *it = unit;
        if (unit.Step == 0) {
            Next = (static_cast<size_t>(it - UnitList.begin()) + 1) % UnitList.size();
            if (ended && unit.Values.Online)
                ++Counters.Turns;
        }
    }
    if (ended && deliver)
        deliver(unit.Values);
    return true;
}
