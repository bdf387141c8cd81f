#include "bus/BusScan.h"

#include <algorithm>

namespace {

// The link as it was before a probe borrowed it, put back on every path.
class TBorrowedLink {
public:
    TBorrowedLink(TIxaInterface& link, int address, unsigned timeLimit)
        : Link(link), Lock(link), Address(link.Address), Timeout(link.Timeout), Connected(link.Connected) {
        Link.Address = address;
        Link.Timeout = static_cast<int>(timeLimit);
    }
    ~TBorrowedLink() {
        Link.Address = Address;
        Link.Timeout = Timeout;
        // A port lost during the probe leaves the link down, as any exchange on it would.
        Link.Connected = Connected && Link.Port && Link.Port->IsOpen();
    }
    TBorrowedLink(const TBorrowedLink&) = delete;
    TBorrowedLink& operator=(const TBorrowedLink&) = delete;

private:
    TIxaInterface& Link;
    TLinkLock Lock;
    const int Address, Timeout;
    const bool Connected;
};

// The answer to a query, or empty when the unit refused it ("Error") or gave no proper reply.
// Returns false when the unit did not answer at all (a time-out), so the probe can stop there.
bool Ask(TIxaInterface& link, AnsiString (TIxaInterface::*query)(), AnsiString& value) {
    try {
        value = (link.*query)();
        return true;
    } catch (const EIxa&) {
        return true;
    } catch (const EIxaInterface& e) {
        if (e.Code == 0)
            throw; // the port is gone: the scan cannot go on
        return e.Code != 2;
    }
}

// After an exchange that failed, listens up to listenMs for bytes still on their way (a late or
// garbled reply) and empties the input until the line has been quiet for QuietMs (or for
// DrainLimitMs at most, against a unit that streams). Returns whether anything came.
bool DrainLate(TCommPort& port, unsigned listenMs) {
    bool heard = port.InQueue() > 0;
    port.Purge();
    if (!heard && !port.WaitForInput(listenMs))
        return false;
    const uint32_t start = GetTickCount();
    do {
        port.Purge();
        if (!port.WaitForInput(TBusScan::QuietMs) || port.InQueue() == 0)
            break;
    } while (GetTickCount() - start < TBusScan::DrainLimitMs);
    port.Purge();
    return true;
}

} // namespace

TBusScan::TBusScan(TIxaInterface& link, TBusScanOptions options) : Options(options), Link(link) {}

std::optional<TBusUnit> TBusScan::Probe(int address) {
    TBorrowedLink borrowed(Link, address, Options.ProbeTimeLimit);
    Link.AssertOpen();
    Link.Port->Purge();
    // Heard but not understood at the short limit (a reply that came late, or a line that was no
    // echo of ours, perhaps the tail of the last address's): once more with the slow limit.
    for (const unsigned limit : {Options.ProbeTimeLimit, SlowLimit()}) {
        Link.Timeout = static_cast<int>(limit);
        TBusUnit unit;
        unit.Address = address;
        try {
            unit.Version = Link.GetVersion();
        } catch (const EIxa&) {
            // It answered, if only with an error: a unit is there.
        } catch (const EIxaInterface& e) {
            if (e.Code == 0)
                throw;
            // Silence, a late reply or a line that was no echo of ours: no unit yet. Whatever is
            // still on its way is emptied now, so that it cannot pass for the next probe's echo.
            const bool heard = DrainLate(*Link.Port, Options.ProbeTimeLimit);
            if (heard || e.Code != 2)
                continue;
            return std::nullopt;
        }
        bool answered = Ask(Link, &TIxaInterface::GetControllerName, unit.Name);
        if (answered)
            answered = Ask(Link, &TIxaInterface::GetToolType, unit.ToolType);
        if (!answered)
            DrainLate(*Link.Port, Options.ProbeTimeLimit);
        return unit;
    }
    return std::nullopt; // it never answered in step: a garbled reply is no unit
}

std::vector<TBusUnit> TBusScan::Run(std::stop_token stop, const TProgress& progress) {
    std::vector<TBusUnit> found;
    for (int address = Options.First; address <= Options.Last; ++address) {
        if (stop.stop_requested())
            break;
        std::optional<TBusUnit> unit = Probe(address);
        if (unit)
            found.push_back(*unit);
        if (progress)
            progress(address, unit ? &found.back() : nullptr);
    }
    return found;
}

unsigned TBusScan::SlowLimit() const {
    return std::max(Options.SlowProbeTimeLimit, 2 * Options.ProbeTimeLimit);
}

unsigned TBusScan::SilentLineMs() const {
    const int count = Options.Last >= Options.First ? Options.Last - Options.First + 1 : 0;
    return static_cast<unsigned>(count) * 2 * Options.ProbeTimeLimit;
}
