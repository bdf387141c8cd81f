#include "bus/BusScan.h"

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

} // namespace

TBusScan::TBusScan(TIxaInterface& link, TBusScanOptions options) : Options(options), Link(link) {}

std::optional<TBusUnit> TBusScan::Probe(int address) {
    TBorrowedLink borrowed(Link, address, Options.ProbeTimeLimit);
    Link.AssertOpen();
    Link.Port->Purge();
    TBusUnit unit;
    unit.Address = address;
    try {
        unit.Version = Link.GetVersion();
    } catch (const EIxa&) {
        // It answered, if only with an error: a unit is there.
    } catch (const EIxaInterface& e) {
        if (e.Code == 0)
            throw;
        return std::nullopt; // silence, or a line that was no echo of ours
    }
    if (Ask(Link, &TIxaInterface::GetControllerName, unit.Name))
        Ask(Link, &TIxaInterface::GetToolType, unit.ToolType);
    return unit;
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

unsigned TBusScan::SilentLineMs() const {
    const int count = Options.Last >= Options.First ? Options.Last - Options.First + 1 : 0;
    return static_cast<unsigned>(count) * Options.ProbeTimeLimit;
}
