#include "sim/Simulator.h"

#include "sim/PtyLine.h"
#include "sim/SimDevice.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

using TClock = TSimClock;
using std::chrono::milliseconds;

constexpr std::chrono::nanoseconds ByteTime{1'041'667}; // 10 bits at 9600 baud
constexpr std::chrono::milliseconds IdleWait{100};
constexpr size_t MaxLineLength = 4096; // longer without a line end is noise, not a command

struct TInLine {
    std::string Text;
    TClock::time_point ReadyAt; // when its last byte has arrived at the line's speed
};

struct TOutChunk {
    std::string Bytes;
    TClock::time_point NotBefore;
    size_t Sent = 0;
    bool Started = false;
    TClock::time_point Clock{}; // paced: byte j is on the line at Clock + (j + 1) byte times
};

bool ParseAddress(const std::string& line, int& address, std::string& command) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 6)
        return false;
    address = 0;
    for (size_t i = 0; i < colon; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return false;
        address = address * 10 + (line[i] - '0');
    }
    command = line.substr(colon + 1);
    return true;
}

std::vector<TSimDevice> MakeUnits(const TSimOptions& options) {
    std::vector<TSimDevice> units;
    if (options.Units.empty()) {
        units.emplace_back(options);
        return units;
    }
    for (size_t k = 0; k < options.Units.size(); ++k) {
        const int address = options.Units[k];
        if (address < 0 || address > 15)
            throw std::invalid_argument("unit address " + std::to_string(address) + " is not 0..15");
        if (std::count(options.Units.begin(), options.Units.end(), address) > 1)
            throw std::invalid_argument("unit address " + std::to_string(address) + " given twice");
        TSimOptions own = options;
        own.NetAddress = address;
        TSimDevice& unit = units.emplace_back(own);
        const auto now = TClock::now();
        unit.SetParameter("CN", "IXA Cell " + std::to_string(k + 1), -1, now);
        unit.SetParameter("TN", std::to_string(k % TSimDevice::ToolCount), -1, now);
    }
    return units;
}

} // namespace

struct TSimulator::TImpl {
    explicit TImpl(TSimOptions options);
    ~TImpl();

    void Serve();
    void TakeInput(const char* data, size_t size, TClock::time_point now);
    void Handle(const std::string& line, TClock::time_point now);
    void Respond(TSimDevice& device, const std::string& line, const std::string& command,
                 TClock::time_point now);
    TSimDevice* Unit(int address);
    bool WriteDue(TClock::time_point now, TClock::time_point& next);

    const TSimOptions Options;
    TPtyLine Line;
    const std::string Path;

    // Shared with the callers, under Mutex.
    mutable std::mutex Mutex;
    mutable std::condition_variable ReceivedChanged;
    std::vector<TSimDevice> Devices; // one, or one per address in bus mode
    TSimFault Fault = TSimFault::None;
    int FaultCount = 0;
    unsigned FaultDelayMs = 0;
    size_t NoiseBytes = 0;
    std::set<int> SilentUnits; // addresses whose unit answers nothing
    struct TUnitFault {
        TSimFault Fault = TSimFault::None;
        int Count = 0;
        unsigned DelayMs = 0;
    };
    std::map<int, TUnitFault> UnitFaults; // by address
    std::deque<std::pair<std::string, std::vector<std::string>>> Scripts;
    std::vector<std::string> ReceivedLines;
    std::minstd_rand NoiseSource;

    // The serving thread's own.
    std::string Partial;
    std::deque<TInLine> Pending;
    std::deque<TOutChunk> Out;
    TClock::time_point InClock{}, OutClock{};
    bool Closed = false;
    std::string Endless; // the dump lines sent over and over while an endless dump lasts

    int Wake[2] = {-1, -1};
    std::atomic<bool> Stop{false};
    std::thread Thread; // last: it starts once everything above exists
};

TSimulator::TImpl::TImpl(TSimOptions options)
    : Options(std::move(options)), Path(Line.SlavePath()), Devices(MakeUnits(Options)) {
    if (pipe2(Wake, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    if (!Options.LinkPath.empty()) {
        // Only a link (an earlier simulator's) is replaced: a file or a folder of that name is not ours.
        struct stat existing {};
        if (lstat(Options.LinkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
            close(Wake[0]);
            close(Wake[1]);
            throw std::runtime_error("--link " + Options.LinkPath +
                                     " exists and is not a symbolic link; it is left as it is");
        }
        // Made beside the target name and renamed over it, so the name never points nowhere.
        const std::string fresh = Options.LinkPath + ".new-" + std::to_string(getpid());
        unlink(fresh.c_str());
        if (symlink(Path.c_str(), fresh.c_str()) != 0 ||
            rename(fresh.c_str(), Options.LinkPath.c_str()) != 0) {
            const int error = errno;
            unlink(fresh.c_str());
            close(Wake[0]);
            close(Wake[1]);
            throw std::system_error(error, std::generic_category(), "link " + Options.LinkPath);
        }
    }
    Thread = std::thread([this] { Serve(); });
}

TSimulator::TImpl::~TImpl() {
    Stop = true;
    const char byte = 0;
    (void)!write(Wake[1], &byte, 1);
    Thread.join();
    close(Wake[0]);
    close(Wake[1]);
    if (!Options.LinkPath.empty()) {
        char target[4096];
        const ssize_t n = readlink(Options.LinkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == Path)
            unlink(Options.LinkPath.c_str()); // a newer simulator's link is left alone
    }
}

void TSimulator::TImpl::Serve() {
    char buf[512];
    while (!Stop) {
        TClock::time_point now = TClock::now();
        if (!Endless.empty() && Out.empty()) {
            if (Pending.empty())
                Out.push_back({Endless, now});
            else
                Endless.clear(); // a new command ends the endless dump
        }
        // One command at a time, as the controller does: the next is taken only when the whole
        // reply to the last one is on the line.
        while (!Closed && Out.empty() && !Pending.empty() && Pending.front().ReadyAt <= now) {
            const TInLine in = std::move(Pending.front());
            Pending.pop_front();
            {
                std::lock_guard lock(Mutex);
                Handle(in.Text, now);
            }
            ReceivedChanged.notify_all();
        }
        if (Closed)
            return;

        TClock::time_point next = TClock::time_point::max();
        const bool blocked = WriteDue(now, next);
        if (Out.empty() && !Pending.empty())
            next = std::min(next, Pending.front().ReadyAt);
        if (Out.empty() && !Endless.empty())
            next = now; // an endless dump streams on without a pause

        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(IdleWait);
        if (next != TClock::time_point::max())
            wait = std::clamp(std::chrono::duration_cast<std::chrono::nanoseconds>(next - now),
                              std::chrono::nanoseconds(0), wait);
        timespec ts{static_cast<time_t>(wait.count() / 1'000'000'000),
                    static_cast<long>(wait.count() % 1'000'000'000)};
        pollfd fds[2] = {{Line.MasterFd(), static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0},
                         {Wake[0], POLLIN, 0}};
        if (ppoll(fds, 2, &ts, nullptr) < 0)
            continue;
        if (fds[1].revents & POLLIN)
            while (read(Wake[0], buf, sizeof buf) > 0) {
            }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n;
            while ((n = Line.Read(buf, sizeof buf)) > 0)
                TakeInput(buf, static_cast<size_t>(n), TClock::now());
            if (n < 0 && errno != EAGAIN && !(fds[0].revents & POLLIN)) {
                // Not expected while our own slave descriptor is open; do not spin on it.
                pollfd wake{Wake[0], POLLIN, 0};
                poll(&wake, 1, 10);
            }
        }
    }
}

void TSimulator::TImpl::TakeInput(const char* data, size_t size, TClock::time_point now) {
    for (size_t i = 0; i < size; ++i) {
        InClock = Options.Paced ? std::max(InClock, now) + ByteTime : now;
        const char c = data[i];
        if (c == '\n') {
            if (!Partial.empty() && Partial.back() == '\r')
                Partial.pop_back();
            Pending.push_back({std::move(Partial), InClock});
            Partial.clear();
        } else {
            if (Partial.size() >= MaxLineLength)
                Partial.clear();
            Partial += c;
        }
    }
}

// Called with Mutex held.
void TSimulator::TImpl::Handle(const std::string& line, TClock::time_point now) {
    int address = -1;
    std::string command;
    // Lines for other units, and lines that are no command at all, get no answer.
    if (ParseAddress(line, address, command))
        if (TSimDevice* unit = Unit(address); unit && !SilentUnits.count(address))
            Respond(*unit, line, command, now);
    if (Options.RecordReceived)
        ReceivedLines.push_back(line);
    if (Options.OnReceived)
        Options.OnReceived(line);
}

// Called with Mutex held. The unit that answers the address now (its "NA" may have been changed).
TSimDevice* TSimulator::TImpl::Unit(int address) {
    for (TSimDevice& unit : Devices)
        if (unit.NetAddress() == address)
            return &unit;
    return nullptr;
}

// Called with Mutex held.
void TSimulator::TImpl::Respond(TSimDevice& device, const std::string& line, const std::string& command,
                                TClock::time_point now) {
    const bool dump = command == "DCC" || command == "DTC";
    TSimFault fault = Fault;
    unsigned delayMs = FaultDelayMs;
    if (auto own = UnitFaults.find(device.NetAddress()); own != UnitFaults.end()) {
        fault = own->second.Fault;
        delayMs = own->second.DelayMs;
        if (own->second.Count > 0 && --own->second.Count == 0)
            UnitFaults.erase(own);
    } else if (fault == TSimFault::EndlessDump && !dump) {
        fault = TSimFault::None; // waits for a dump command
    } else if (Fault != TSimFault::None && FaultCount > 0 && --FaultCount == 0) {
        Fault = TSimFault::None;
    }
    if (fault == TSimFault::Silent)
        return;
    if (fault == TSimFault::CloseLine) {
        Line.Close();
        Closed = true;
        Out.clear();
        return;
    }

    TSimReply reply;
    auto script =
        std::find_if(Scripts.begin(), Scripts.end(), [&](const auto& s) { return s.first == command; });
    if (script != Scripts.end()) {
        reply.Lines = std::move(script->second);
        Scripts.erase(script);
    } else {
        reply = device.Execute(command, now);
    }

    auto noise = [this] {
        std::uniform_int_distribution<int> printable(0x20, 0x7e);
        std::string bytes(NoiseBytes, ' ');
        for (char& c : bytes)
            c = static_cast<char>(printable(NoiseSource));
        return bytes;
    };
    const std::string eol = Options.CrLf ? "\r\n" : "\n";
    std::string echo = line;
    if (fault == TSimFault::WrongEcho && !echo.empty())
        echo.pop_back();
    if (fault == TSimFault::NoisyEcho) {
        Out.push_back({noise(), now});
        return;
    }
    const auto held = fault == TSimFault::LateEcho ? now + milliseconds(delayMs) : now;
    Out.push_back({echo + eol, held});

    if (fault == TSimFault::DropLine && !reply.Lines.empty())
        reply.Lines.erase(reply.Lines.begin());
    if ((fault == TSimFault::MissingOk || fault == TSimFault::EndlessDump) && !reply.Lines.empty() &&
        reply.Lines.back() == "OK")
        reply.Lines.pop_back();
    std::string bytes;
    if (fault == TSimFault::Noise) {
        bytes = noise();
    } else {
        for (const auto& l : reply.Lines)
            bytes += l + eol;
    }
    auto at = held + milliseconds(reply.DelayMs);
    if (fault == TSimFault::LateLine)
        at += milliseconds(delayMs);
    if (fault == TSimFault::EndlessDump)
        Endless = bytes;
    if (!bytes.empty())
        Out.push_back({std::move(bytes), at});
}

// Writes every byte that is due; returns true when the line would block (the console is not
// reading and the pseudo-terminal's buffer is full).
bool TSimulator::TImpl::WriteDue(TClock::time_point now, TClock::time_point& next) {
    while (!Out.empty()) {
        TOutChunk& chunk = Out.front();
        if (chunk.NotBefore > now) {
            next = std::min(next, chunk.NotBefore);
            return false;
        }
        size_t want = chunk.Bytes.size() - chunk.Sent;
        if (Options.Paced) {
            if (!chunk.Started) {
                chunk.Started = true;
                chunk.Clock = std::max(chunk.NotBefore, OutClock);
            }
            const auto onLine = static_cast<size_t>((now - chunk.Clock) / ByteTime);
            want = std::min(onLine, chunk.Bytes.size()) - std::min(onLine, chunk.Sent);
            if (want == 0) {
                next = std::min(next, chunk.Clock + static_cast<long>(chunk.Sent + 1) * ByteTime);
                return false;
            }
        }
        const ssize_t n = Line.Write(chunk.Bytes.data() + chunk.Sent, want);
        if (n < 0) {
            if (errno == EAGAIN)
                return true;
            Out.clear(); // the line is gone; nothing more can be sent
            return false;
        }
        chunk.Sent += static_cast<size_t>(n);
        if (chunk.Sent < chunk.Bytes.size()) {
            if (static_cast<size_t>(n) < want)
                return true;
            continue;
        }
        if (Options.Paced)
            OutClock = chunk.Clock + static_cast<long>(chunk.Bytes.size()) * ByteTime;
        Out.pop_front();
    }
    return false;
}

TSimulator::TSimulator(TSimOptions options) : Impl(std::make_unique<TImpl>(std::move(options))) {}

TSimulator::~TSimulator() = default;

std::string TSimulator::SlavePath() const {
    return Impl->Path;
}

void TSimulator::InjectFault(TSimFault fault, int count, unsigned delayMs, size_t noiseBytes) {
    std::lock_guard lock(Impl->Mutex);
    Impl->Fault = count == 0 ? TSimFault::None : fault;
    Impl->FaultCount = count;
    Impl->FaultDelayMs = delayMs;
    Impl->NoiseBytes = noiseBytes;
}

void TSimulator::InjectUnitFault(int address, TSimFault fault, int count, unsigned delayMs) {
    std::lock_guard lock(Impl->Mutex);
    if (count == 0 || fault == TSimFault::None)
        Impl->UnitFaults.erase(address);
    else
        Impl->UnitFaults[address] = {fault, count, delayMs};
}

void TSimulator::ClearFaults() {
    std::lock_guard lock(Impl->Mutex);
    Impl->Fault = TSimFault::None;
    Impl->FaultCount = 0;
    Impl->UnitFaults.clear();
}

void TSimulator::SetUnitSilent(int address, bool silent) {
    std::lock_guard lock(Impl->Mutex);
    if (!Impl->Unit(address))
        throw std::invalid_argument("no unit at address " + std::to_string(address));
    if (silent)
        Impl->SilentUnits.insert(address);
    else
        Impl->SilentUnits.erase(address);
}

void TSimulator::ScriptReply(const std::string& command, std::vector<std::string> lines) {
    std::lock_guard lock(Impl->Mutex);
    Impl->Scripts.emplace_back(command, std::move(lines));
}

std::vector<std::string> TSimulator::Received() const {
    std::lock_guard lock(Impl->Mutex);
    return Impl->ReceivedLines;
}

void TSimulator::ClearReceived() {
    std::lock_guard lock(Impl->Mutex);
    Impl->ReceivedLines.clear();
}

bool TSimulator::WaitReceived(size_t count, unsigned timeoutMs) const {
    std::unique_lock lock(Impl->Mutex);
    return Impl->ReceivedChanged.wait_for(lock, milliseconds(timeoutMs),
                                          [&] { return Impl->ReceivedLines.size() >= count; });
}

void TSimulator::SetToolConnected(bool connected) {
    std::lock_guard lock(Impl->Mutex);
    Impl->Devices.front().SetToolConnected(connected, TClock::now());
}

void TSimulator::SetMountingAngle(double degrees) {
    std::lock_guard lock(Impl->Mutex);
    Impl->Devices.front().SetMountingAngle(degrees, TClock::now());
}

std::string TSimulator::Parameter(const std::string& name, int index) const {
    std::lock_guard lock(Impl->Mutex);
    return Impl->Devices.front().Parameter(name, index, TClock::now());
}

void TSimulator::SetParameter(const std::string& name, const std::string& value, int index) {
    std::lock_guard lock(Impl->Mutex);
    Impl->Devices.front().SetParameter(name, value, index, TClock::now());
}

} // namespace sim

namespace sim {

std::string TSimulator::UnitParameter(int address, const std::string& name, int index) const {
    std::lock_guard lock(Impl->Mutex);
    TSimDevice* unit = Impl->Unit(address);
    if (!unit)
        throw std::invalid_argument("no unit at address " + std::to_string(address));
    return unit->Parameter(name, index, TClock::now());
}

void TSimulator::SetUnitParameter(int address, const std::string& name, const std::string& value, int index) {
    std::lock_guard lock(Impl->Mutex);
    TSimDevice* unit = Impl->Unit(address);
    if (!unit)
        throw std::invalid_argument("no unit at address " + std::to_string(address));
    unit->SetParameter(name, value, index, TClock::now());
}

} // namespace sim
