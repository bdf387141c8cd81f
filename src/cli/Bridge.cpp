#include "cli/Bridge.h"
#include "cli/Output.h"

#include "bus/BusScan.h"
#include "link/WireFormat.h"
#include "monitor/BusPoller.h"
#include "monitor/Ixamonitor.h"
#include "platform/StopSignal.h"
#include "platform/Thread.h"
#include "publish/Publisher.h"
#include "publish/StateFeed.h"
#include "publish/TrafficEvents.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <unistd.h>

const char* const BridgeSynopsis = "bridge --broker URL [--address N] [--root R] [--ca FILE] [--credentials "
                                   "FILE] [--allow-writes LIST] [--all]";
const char* const BridgeHelp =
    "usage: korva bridge --broker URL [--address N] [--root R] [--ca FILE] [--credentials FILE]\n"
    "                    [--allow-writes LIST] [--all [--units LIST]]\n\n"
    "Publishes the controller on an MQTT broker until stopped (SIGTERM, Ctrl+C): <root>/<unit>/status\n"
    "(online/offline, retained), info (retained), state (each pass), event, result.\n"
    "  --broker URL          mqtt://host[:port] or mqtts://host[:port] (TLS, verified)\n"
    "  --root R              the topic root (default korva/<host name>)\n"
    "  --ca FILE             the CA that signed the broker's certificate (default: the system's)\n"
    "  --credentials FILE    username=NAME and password=SECRET lines; no access for others\n"
    "  --allow-writes LIST   parameters the plant may set on <root>/<unit>/set/<mnemonic>, e.g. CF,ACT\n"
    "  --all                 every unit of the line (those a scan finds, or --units LIST)\n"
    "The port and the broker are reconnected by themselves. Exit 0 when stopped.\n";

namespace {

// The main thread's wake-up: the monitor's events and the plant's writes both knock here.
struct TWake {
    int Fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~TWake() { ::close(Fd); }
    void Knock() const {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(Fd, &one, sizeof one);
    }
    void Clear() const {
        uint64_t count;
        [[maybe_unused]] ssize_t n = ::read(Fd, &count, sizeof count);
    }
};

struct TPendingWrite {
    TPublisher* Publisher;
    TPlantWrite Write;
};

// The writes from the plant, handed from the publishers' threads to the main thread.
struct TWriteQueue {
    std::mutex Mutex;
    std::deque<TPendingWrite> Pending;
    const TWake& Wake;
    void Push(TPublisher* publisher, const TPlantWrite& write) {
        {
            std::lock_guard lock(Mutex);
            if (Pending.size() >= 64) { // a flood from the plant cannot grow the queue without end
                publisher->Complete(write, {false, "too many writes waiting; refused"});
                return;
            }
            Pending.push_back({publisher, write});
        }
        Wake.Knock();
    }
    void RunAll(TIxaInterface& link) {
        for (;;) {
            TPendingWrite next;
            {
                std::lock_guard lock(Mutex);
                if (Pending.empty())
                    return;
                next = Pending.front();
                Pending.pop_front();
            }
            const TPlantWriteResult result = ExecutePlantWrite(link, next.Write);
            if (!result.Ok)
                std::fprintf(stderr, "korva bridge: write of %s refused: %s\n",
                             next.Write.Parameter->Mnemonic, Shown(result.Error).c_str());
            next.Publisher->Complete(next.Write, result);
        }
    }
};

void Wire(TPublisher& publisher, TWriteQueue& writes) {
    publisher.OnLog = [topic = publisher.Topic()](const std::string& line) {
        std::fprintf(stderr, "korva bridge: %s: %s\n", topic.c_str(), Shown(line).c_str());
    };
    publisher.OnStatus = [topic = publisher.Topic()](const TPublisherStatus& status) {
        std::fprintf(stderr, "korva bridge: %s: broker %s%s%s\n", topic.c_str(),
                     PublisherStateName(status.State), status.Detail.empty() ? "" : ": ",
                     Shown(status.Detail).c_str());
    };
    publisher.OnWrite = [&writes, p = &publisher](const TPlantWrite& write) { writes.Push(p, write); };
}

struct TBridgeArgs {
    TPublisherOptions Publisher;
    bool All = false;
    std::string Units;
    int Address = 0;
};

TBridgeArgs ParseBridgeArgs(const TCliOptions& options, const std::vector<std::string>& args,
                            std::string& port) {
    TBridgeArgs b;
    b.Address = options.Address;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> std::string {
            if (i + 1 == args.size())
                throw EUsage(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--broker")
            b.Publisher.Broker = value();
        else if (arg == "--root")
            b.Publisher.Root = value();
        else if (arg == "--ca")
            b.Publisher.CaFile = value();
        else if (arg == "--credentials")
            b.Publisher.CredentialsFile = value();
        else if (arg == "--allow-writes")
            b.Publisher.AllowedWrites = ParseAllowedWrites(value());
        else if (arg == "--all")
            b.All = true;
        else if (arg == "--units")
            b.Units = value();
        else if (arg == "--port")
            port = value();
        else if (arg == "--address") {
            const std::string text = value();
            char* end = nullptr;
            const long n = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end || n < 0 || n > 15)
                throw EUsage("--address needs a number from 0 to 15");
            b.Address = int(n);
        } else if (arg == "--password" || arg == "--user")
            throw EUsage(arg + ": the broker's credentials come from a file (--credentials FILE), never from "
                               "the command line");
        else
            throw EUsage("unknown option '" + arg + "'");
    }
    if (b.Publisher.Broker.empty())
        throw EUsage("usage: korva " + std::string(BridgeSynopsis));
    if (!b.Units.empty() && !b.All)
        throw EUsage("--units goes with --all");
    b.Publisher.ConsoleVersion = KORVA_VERSION_TEXT;
    return b;
}

// Opens the port, 9600 8N1 as every command does; false while it cannot be opened.
bool OpenPort(TCommPort& port, const std::string& name) {
    port.SetBaudRate(9600);
    port.SetByteSize(8);
    port.SetParity(0);
    port.SetStopBits(0);
    port.Open(name);
    return port.IsOpen();
}

// Waits for the stop signal, a knock or the time-out; returns false when asked to stop.
bool Wait(int stopFd, const TWake& wake, int timeoutMs) {
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {wake.Fd, POLLIN, 0}};
    const int n = ::poll(fds, stopFd >= 0 ? 2 : 1, timeoutMs);
    if (n > 0 && (fds[1].revents & POLLIN))
        wake.Clear();
    return !(n > 0 && (fds[0].revents & POLLIN));
}

TUnitInfo ReadInfo(TIxaInterface& link, const std::string& port) {
    TUnitInfo info;
    info.Address = link.Address;
    info.Port = port;
    info.Version = link.Version;
    info.ControllerName = ControllerTextToUtf8(link.GetControllerName());
    info.ToolType = ControllerTextToUtf8(link.GetToolType());
    info.ToolNumber = link.GetToolNumber();
    info.EnglishUnits = link.GetEnglishUnits();
    return info;
}

int BridgeOne(const TBridgeArgs& b, const std::string& portName, int stopFd, TWake& wake) {
    TCommPort port;
    TIxaInterface link(&port);
    link.Address = b.Address;
    TWriteQueue writes{{}, {}, wake};
    TPublisher publisher(b.Publisher, UnitLevel(portName, b.Address));
    Wire(publisher, writes);
    TStateFeed feed(publisher);
    std::fprintf(stderr, "korva bridge: %s on %s at address %d, publishing on %s\n", Shown(portName).c_str(),
                 b.Publisher.Broker.c_str(), b.Address, publisher.Topic().c_str());
    publisher.Start();
    // The port may be missing at start (an adapter not yet plugged in): try again until it opens.
    while (!OpenPort(port, portName)) {
        std::fprintf(stderr, "korva bridge: %s\n", Shown(port.OpenFailure()).c_str());
        if (!Wait(stopFd, wake, 2000))
            return ExitOk;
    }
    bool everConnected = false;
    // Error replies (to the plant's writes) as events.
    TPlantTraffic traffic;
    traffic.Publisher = &publisher;
    link.AddTrafficObserver(&traffic);
    struct TRemove {
        TIxaInterface& Link;
        TPlantTraffic& Traffic;
        ~TRemove() { Link.RemoveTrafficObserver(&Traffic); }
    } remove{link, traffic};
    TIxaMonitor monitor(link);
    feed.Attach(monitor);
    monitor.OnConnect = [&](TIxaMonitor&) {
        TUnitInfo info;
        try {
            info = ReadInfo(link, portName);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "korva bridge: cannot read the unit's identity: %s\n",
                         Shown(e.what()).c_str());
            return;
        }
        feed.EnglishUnits(info.EnglishUnits);
        publisher.SetInfo(info);
        publisher.PublishEvent(TPlantEvent::LinkRegained,
                               everConnected ? "the controller answers again" : "the controller answers");
        everConnected = true;
    };
    monitor.OnDisconnect = [&](TIxaMonitor&) {
        feed.Forget();
        publisher.PublishEvent(TPlantEvent::LinkLost, port.Lost() ? "the port was lost: " + port.OpenFailure()
                                                                  : "the controller does not answer");
    };
    while (Wait(stopFd, wake, 1000)) {
        ServeMainThreadCalls();
        writes.RunAll(link);
    }
    std::fprintf(stderr, "korva bridge: stopping\n");
    return ExitOk;
}

bool Changed(const TUnitState& a, const TUnitState& b) {
    return a.CommandForce != b.CommandForce || a.ActualForce != b.ActualForce || a.Position != b.Position ||
           a.Active != b.Active || a.Mode != b.Mode || a.ToolPresent != b.ToolPresent ||
           a.ToolNumber != b.ToolNumber || a.EnglishUnits != b.EnglishUnits;
}

int BridgeAll(const TBridgeArgs& b, const std::string& portName, int stopFd, TWake& wake) {
    TCommPort port;
    TIxaInterface link(&port);
    TWriteQueue writes{{}, {}, wake};
    while (!OpenPort(port, portName)) {
        std::fprintf(stderr, "korva bridge: %s\n", Shown(port.OpenFailure()).c_str());
        if (!Wait(stopFd, wake, 2000))
            return ExitOk;
    }
    std::vector<int> addresses;
    std::map<int, TUnitInfo> infos;
    for (;;) {
        if (!b.Units.empty()) {
            addresses = UnitList(b.Units);
        } else {
            TBusScan scan(link);
            for (const TBusUnit& unit : scan.Run()) {
                addresses.push_back(unit.Address);
                TUnitInfo& info = infos[unit.Address];
                info.ControllerName = ControllerTextToUtf8(unit.Name);
                info.ToolType = ControllerTextToUtf8(unit.ToolType);
                // The version line is a reply line: the reply grammar's leading number.
                ScanReal(unit.Version, info.Version);
            }
        }
        if (!addresses.empty())
            break;
        std::fprintf(stderr, "korva bridge: no unit answers on %s; scanning again\n",
                     Shown(portName).c_str());
        if (!Wait(stopFd, wake, 5000))
            return ExitOk;
    }
    TBusPollerOptions pollerOptions;
    pollerOptions.TimeLimit = 250;
    TBusPoller poller(link, pollerOptions);
    poller.SetUnits(addresses);
    std::map<int, std::unique_ptr<TPublisher>> publishers;
    std::map<int, bool> online;
    std::map<int, TUnitState> published;
    for (int address : poller.Units()) {
        auto& p = publishers[address];
        p = std::make_unique<TPublisher>(b.Publisher, UnitLevel(portName, address));
        Wire(*p, writes);
        TUnitInfo& info = infos[address];
        info.Address = address;
        info.Port = portName;
        p->SetInfo(info);
        p->Start();
        std::fprintf(stderr, "korva bridge: unit %d publishing on %s\n", address, p->Topic().c_str());
    }
    constexpr auto round = std::chrono::milliseconds(TIxaMonitor::OnlinePeriod);
    for (;;) {
        const auto due = std::chrono::steady_clock::now() + round;
        std::set<int> done;
        try {
            if (!port.IsOpen() && !OpenPort(port, portName))
                throw EIxaInterface(TLinkError::PortNotOpen, port.OpenFailure());
            // One round: every unit due has its turn, as korva watch --all makes them.
            const auto far = std::chrono::steady_clock::now() + std::chrono::hours(1);
            while (poller.Poll(
                far, [&](int address) { return done.count(address) != 0; }, {},
                [&](const TBusUnitValues& v) {
                    done.insert(v.Address);
                    TPublisher& p = *publishers.at(v.Address);
                    const bool was = online.count(v.Address) ? online[v.Address] : !v.Online;
                    if (was != v.Online)
                        p.PublishEvent(v.Online ? TPlantEvent::LinkRegained : TPlantEvent::LinkLost,
                                       v.Online ? "the unit answers" : "the unit does not answer");
                    online[v.Address] = v.Online;
                    // A turn is the unit's pass: one message at most, and only for a change.
                    const TUnitState state = StateOf(v, infos[v.Address].EnglishUnits);
                    if (v.Online && (!was || Changed(published[v.Address], state))) {
                        p.PublishState(state);
                        published[v.Address] = state;
                    }
                })) {
            }
        } catch (const std::exception& e) {
            // The port is gone or refuses: every unit's link is lost until it opens again.
            for (auto& [address, p] : publishers)
                if (online[address]) {
                    p->PublishEvent(TPlantEvent::LinkLost, e.what());
                    online[address] = false;
                }
            port.Close();
        }
        writes.RunAll(link);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
        if (!Wait(stopFd, wake, int(std::max<long>(left.count(), port.IsOpen() ? 0 : 1000))))
            break;
        writes.RunAll(link);
    }
    std::fprintf(stderr, "korva bridge: stopping\n");
    return ExitOk;
}

} // namespace

int RunBridge(const TCliOptions& options, const std::string& resolvedPort,
              const std::vector<std::string>& args) {
    std::string portName = resolvedPort;
    const TBridgeArgs b = ParseBridgeArgs(options, args, portName);
    if (portName.empty())
        throw EUsage(
            "no port: give --port NAME, set KORVA_PORT, or choose one in the console's Program Options");
    SetMainThread();
    TWake wake;
    SetMainThreadWakeHook([&wake] { wake.Knock(); });
    struct TUnhook {
        ~TUnhook() { SetMainThreadWakeHook({}); }
    } unhook;
    const int stopFd = WatchStopSignals();
    // Unbuffered lines for the journal.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    try {
        return b.All ? BridgeAll(b, portName, stopFd, wake) : BridgeOne(b, portName, stopFd, wake);
    } catch (const EPublish& e) {
        // Options the publisher cannot use (the broker's URL, the credentials, the CA file).
        throw EUsage(e.what());
    }
}
