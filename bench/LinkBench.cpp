// What controller exchanges cost through the real port and link, against the simulated controller:
//  - at 9600-baud pacing, as a ratio to the wire time of the bytes exchanged (10 bits a byte), the
//    line's physical limit;
//  - unpaced (pseudo-terminal speed): exchanges per second and CPU time per exchange, beside the
//    same three-line exchange done by a minimal blocking termios loop in C (the reference for block
//    reading) and by a python3-serial script, against the same simulator;
//  - the same exchange through ser2net (raw TCP and RFC 2217) against the local pseudo-terminal;
//  - a 300-line configuration download and a configuration upload, in lines per second against
//    the wire limit;
//  - the traffic log's cost: unpaced exchanges with nobody listening and with a TTrafficLog on the
//    link, in alternating rounds of one run;
//  - a network scan of addresses 0-15 with three units on the line at 9600-baud pacing, against
//    the wire time of its bytes plus the time limits of the silent addresses.
// Run: korva-link-bench [exchanges]   (python3-serial needed for the side-by-side figure)
//      korva-link-bench [exchanges] line   only the traffic log's cost and the scan
//      korva-link-bench [exchanges] network  only the exchange through ser2net, best of 5 rounds
//      korva-link-bench [exchanges] paired [rounds]  the link against the termios loop, in alternating
//                                      rounds against a simulator in a process of its own
//      korva-link-bench --help         the usage
//      korva-link-bench --check        a few seconds; fails (exit 1) when the paced exchange takes
//                                      more than 1.10 x its wire time, or the unpaced rate falls
//                                      below python3-serial's: each the best of a few short rounds,
//                                      so that a loaded machine does not fail it, a regression does

#include "bus/BusScan.h"
#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "link/Traffic.h"
#include "sim/Simulator.h"
#include "support/Ser2net.h"
#include "termios-loop.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;
constexpr double ByteMs = 10.0 / 9600 * 1000; // one byte on the wire, start and stop bits included

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double MsSince(TClock::time_point start) {
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

struct TCost {
    double WallMs, CpuMs; // per exchange
};

template <typename F> TCost Measure(int count, F&& exchange) {
    const auto start = TClock::now();
    const double cpu = ThreadCpuMs();
    for (int i = 0; i < count; ++i)
        exchange(i);
    return {MsSince(start) / count, (ThreadCpuMs() - cpu) / count};
}

// Bytes on the wire for one exchange: the command line and its echo ("<address>:" + text + LF each),
// the reply lines with their LF.
size_t WireBytes(const std::string& command, const std::vector<std::string>& reply) {
    size_t bytes = 2 * (2 + command.size() + 1);
    for (const auto& line : reply)
        bytes += line.size() + 1;
    return bytes;
}

struct TRig {
    explicit TRig(bool paced) : Sim(Options(paced)) {
        Port.Open(Sim.SlavePath());
        Link.Connect();
        if (!Link.Connected) {
            std::fprintf(stderr, "no connection to the simulator: %s\n", Port.OpenFailure().c_str());
            std::exit(1);
        }
    }
    static sim::TSimOptions Options(bool paced) {
        sim::TSimOptions options;
        options.Paced = paced;
        return options;
    }
    sim::TSimulator Sim;
    TCommPort Port;
    TIxaInterface Link{&Port};
};

void Paced(int count) {
    TRig rig(true);
    std::printf("9600-baud pacing, %d exchanges each (wire time = bytes x 10 bits / 9600):\n", count);
    std::printf("  %-22s %9s %9s %7s %10s\n", "exchange", "ms", "wire ms", "ratio", "CPU ms");
    auto row = [](const char* what, TCost cost, size_t bytes) {
        const double wire = double(bytes) * ByteMs;
        std::printf("  %-22s %9.2f %9.2f %7.3f %10.3f\n", what, cost.WallMs, wire, cost.WallMs / wire,
                    cost.CpuMs);
    };
    const std::string cf = rig.Sim.Parameter("CF");
    row("GetCommandForce", Measure(count, [&](int) { rig.Link.GetCommandForce(); }),
        WireBytes("CF?", {cf, "OK"}));
    row("SetCommandForce", Measure(count, [&](int) { rig.Link.SetCommandForce(12.5); }),
        WireBytes("CF 12.500", {"OK"}));
    const std::string fl = rig.Sim.Parameter("FL", 3);
    row("GetForceLevel(3)", Measure(count, [&](int) { rig.Link.GetForceLevel(3); }),
        WireBytes("FL? 3", {fl, "OK"}));
}

// The python3-serial script's exchanges per second on the rig's simulator (whose line the rig must
// have closed), 0 when it could not run; cpu: its CPU ms per exchange.
double PyserialRate(TRig& rig, int count, double& cpu) {
    // Debian's interpreter, the one python3-serial is installed for (not whatever python3 is first on PATH).
    const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3 " : "python3 ";
    const std::string command = std::string(python) + KORVA_BENCH_DIR + "/pyserial-exchange.py " +
                                rig.Sim.SlavePath() + " " + std::to_string(count);
    double rate = 0;
    if (FILE* script = popen(command.c_str(), "r")) {
        if (std::fscanf(script, "%lf %lf", &rate, &cpu) != 2)
            rate = 0;
        pclose(script);
    }
    return rate;
}

// Runs a side program that prints "<exchanges/s> <CPU ms per exchange>"; false when it did not.
bool RunSide(const std::string& command, double& rate, double& cpu) {
    rate = cpu = 0;
    if (FILE* side = popen(command.c_str(), "r")) {
        if (std::fscanf(side, "%lf %lf", &rate, &cpu) != 2)
            rate = 0;
        pclose(side);
    }
    return rate > 0;
}

// The link and the side programs take turns, and each keeps its best round, so that a busy
// machine's worst moments do not decide the comparison.
void Unpaced(int count) {
    constexpr int Rounds = 3;
    TRig rig(false);
    std::printf(
        "unpaced (pseudo-terminal speed), %d exchanges of CF? (echo, value, OK), best of %d rounds:\n", count,
        Rounds);
    // Debian's interpreter, the one python3-serial is installed for (not whatever python3 is first on PATH).
    const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3 " : "python3 ";
    const std::string path = " " + rig.Sim.SlavePath() + " " + std::to_string(count);
    struct TSide {
        const char* Name;
        std::string Command; // empty: the korva link in this process
        double Rate = 0, Cpu = 0;
    } sides[] = {{"korva link", ""},
                 {"termios loop (C)", KORVA_TERMIOS_EXCHANGE + path},
                 {"python3-serial", python + std::string(KORVA_BENCH_DIR) + "/pyserial-exchange.py" + path}};
    for (int round = 0; round < Rounds; ++round)
        for (TSide& side : sides) {
            double rate = 0, cpu = 0;
            if (side.Command.empty()) {
                rig.Port.Open(rig.Sim.SlavePath());
                rig.Link.Connect();
                const TCost cost = Measure(count, [&](int) { rig.Link.GetCommandForce(); });
                rate = 1000.0 / cost.WallMs;
                cpu = cost.CpuMs;
                rig.Port.Close(); // the side programs open the same simulator's line next
            } else if (!RunSide(side.Command, rate, cpu)) {
                continue;
            }
            if (rate > side.Rate) {
                side.Rate = rate;
                side.Cpu = cpu;
            }
        }
    for (const TSide& side : sides) {
        if (side.Rate == 0) {
            std::printf("  %s: did not run\n", side.Name);
            continue;
        }
        std::printf("  %-18s %9.0f exchanges/s   CPU %7.4f ms/exchange (%s)\n", side.Name, side.Rate,
                    side.Cpu, side.Command.empty() ? "calling thread" : "whole process");
    }
    for (const TSide& side : sides)
        if (!side.Command.empty() && side.Rate > 0)
            std::printf("  ratio korva / %s: %.2f exchanges/s, %.2f CPU per exchange\n", side.Name,
                        sides[0].Rate / side.Rate, sides[0].Cpu / side.Cpu);
}

// One exchange through ser2net (raw TCP, RFC 2217) beside the same exchange on the local
// pseudo-terminal, unpaced and at 9600-baud pacing: the best of rounds rounds for each column, the
// columns taking turns, so that a loaded machine does not pass for a slow link.
void Network(int count, int rounds) {
    if (!TSer2net::Installed()) {
        std::printf("ser2net: not run (is ser2net installed?)\n");
        return;
    }
    std::printf("CF? exchange through ser2net against the local pseudo-terminal, ms per exchange, best of %d "
                "rounds (no delay: ser2net's chardelay false):\n",
                rounds);
    constexpr int Ways = 5;
    static const char* const heads[Ways] = {"local", "tcp://", "rfc2217://", "tcp://, no delay",
                                            "rfc2217://, no delay"};
    std::printf("  %-10s", "");
    for (const char* head : heads)
        std::printf(" %*s", head == heads[0] ? 8 : 20, head);
    std::printf("\n");
    for (bool paced : {false, true}) {
        const int n = paced ? std::max(10, count / 40) : count;
        double ms[Ways] = {1e9, 1e9, 1e9, 1e9, 1e9};
        for (int round = 0; round < rounds; ++round) {
            for (int via = 0; via < Ways; ++via) {
                sim::TSimulator sim(TRig::Options(paced));
                std::unique_ptr<TSer2net> server;
                std::string name = sim.SlavePath();
                if (via > 0) {
                    // The last two without ser2net's wait for more serial bytes before it sends.
                    server = std::make_unique<TSer2net>(sim.SlavePath(), via % 2 == 0,
                                                        via >= 3 ? "chardelay: false" : "");
                    if (!server->Start()) {
                        std::fprintf(stderr, "ser2net did not start\n");
                        return;
                    }
                    name = server->PortName();
                }
                TCommPort port;
                port.Open(name);
                TIxaInterface link(&port);
                link.Connect();
                if (!link.Connected) {
                    std::fprintf(stderr, "no connection through %s: %s\n", name.c_str(),
                                 port.OpenFailure().c_str());
                    return;
                }
                link.GetCommandForce();
                ms[via] = std::min(ms[via], Measure(n, [&](int) { link.GetCommandForce(); }).WallMs);
            }
        }
        std::printf("  %-10s %8.3f", paced ? "paced" : "unpaced", ms[0]);
        for (int via = 1; via < Ways; ++via)
            std::printf(" %20.3f", ms[via]);
        std::printf("\n  %-10s %8s", "", "");
        for (int via = 1; via < Ways; ++via)
            std::printf(" %12.3fx %+5.2f", ms[via] / ms[0], ms[via] - ms[0]);
        std::printf("\n");
    }
    std::printf("  (second row: the ratio to local and the difference in ms)\n");
}

void Transfers(bool paced) {
    TRig rig(paced);
    const std::string upload = "/tmp/korva-bench-upload-" + std::to_string(getpid()) + ".cfg";
    const std::string download = "/tmp/korva-bench-download-" + std::to_string(getpid()) + ".cfg";

    // Upload: the controller's dump, one command out, every line back.
    auto start = TClock::now();
    rig.Link.UploadIxaCfg(upload);
    const double upMs = MsSince(start);
    std::vector<std::string> dump;
    {
        std::ifstream in(upload);
        for (std::string line; std::getline(in, line);)
            if (!line.empty())
                dump.push_back(line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
    }
    if (dump.empty()) {
        std::fprintf(stderr, "empty upload\n");
        std::exit(1);
    }
    size_t upBytes = 2 * (2 + 3 + 1) + 3; // "0:DCC" and its echo, the closing "OK"
    for (const auto& line : dump)
        upBytes += line.size() + 1;

    // Download: 300 lines taken round the dump (each a command the controller takes).
    std::vector<std::string> lines;
    while (lines.size() < 300)
        lines.push_back(dump[lines.size() % dump.size()]);
    {
        std::ofstream out(download);
        for (const auto& line : lines)
            out << line << "\n";
    }
    size_t downBytes = 0;
    for (const auto& line : lines)
        downBytes += WireBytes(line, {"OK"});
    start = TClock::now();
    rig.Link.DownloadCfg(download);
    const double downMs = MsSince(start);
    std::remove(upload.c_str());
    std::remove(download.c_str());

    auto row = [paced](const char* what, size_t count, double ms, size_t bytes) {
        const double rate = count / (ms / 1000);
        if (paced) {
            const double limit = count / (double(bytes) * ByteMs / 1000);
            std::printf("  %-26s %4zu lines %8.0f ms %8.1f lines/s   wire limit %6.1f lines/s (%.1f %%)\n",
                        what, count, ms, rate, limit, 100 * rate / limit);
        } else {
            std::printf("  %-26s %4zu lines %8.1f ms %8.0f lines/s\n", what, count, ms, rate);
        }
    };
    std::printf("configuration transfers, %s:\n", paced ? "9600-baud pacing" : "unpaced");
    row("download (DownloadCfg)", lines.size(), downMs, downBytes);
    row("upload (UploadIxaCfg, DCC)", dump.size(), upMs, upBytes);
}

// Rounds of `count` exchanges, alternately unobserved and observed, so that both see the same machine
// load; the median round of each is compared.
void TrafficOverhead(int count) {
    TRig rig(false);
    TTrafficLog log;
    rig.Link.GetCommandForce();
    constexpr int Rounds = 21;
    std::vector<double> off, on, offCpu, onCpu;
    for (int round = 0; round < Rounds; ++round) {
        for (bool observed : {false, true}) {
            rig.Link.SetTrafficObserver(observed ? &log : nullptr);
            const TCost cost = Measure(count, [&](int) { rig.Link.GetCommandForce(); });
            (observed ? on : off).push_back(cost.WallMs);
            (observed ? onCpu : offCpu).push_back(cost.CpuMs);
        }
    }
    rig.Link.SetTrafficObserver(nullptr);
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto least = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    // What the link does per line for an observer, alone (two clock readings, the event with its
    // text, the ring's insertion): the cost whatever the machine's load does to the rounds above.
    TTrafficLog alone;
    const std::string text = "50.000";
    const auto since = TClock::now();
    const int lines = 200000;
    const TCost perLine = Measure(lines, [&](int) {
        const auto now = TClock::now();
        alone.OnTraffic({std::chrono::system_clock::now(),
                         std::chrono::duration_cast<std::chrono::microseconds>(now - since),
                         TTrafficDirection::Received,
                         TTrafficOrigin::Operator,
                         TTrafficMark::None,
                         text,
                         {}});
    });
    const double offMs = median(off), onMs = median(on);
    std::printf("traffic log, unpaced CF? exchanges, %d alternating rounds of %d each way:\n", Rounds, count);
    std::printf("  %-22s median %7.4f ms/exchange, best round %7.4f ms, CPU %7.4f ms\n", "nobody listening",
                offMs, least(off), median(offCpu));
    std::printf("  %-22s median %7.4f ms/exchange, best round %7.4f ms, CPU %7.4f ms\n",
                "TTrafficLog listening", onMs, least(on), median(onCpu));
    std::printf("  overhead: medians %+.2f %%, best rounds %+.2f %%; per line alone %.3f us, so 4 lines add "
                "%.2f %% to the best unobserved exchange\n",
                100 * (onMs - offMs) / offMs, 100 * (least(on) - least(off)) / least(off),
                perLine.CpuMs * 1000, 100 * 4 * perLine.CpuMs / least(off));
}

void Scan() {
    sim::TSimOptions options;
    options.Paced = true;
    options.Units = {0, 3, 7};
    sim::TSimulator sim(options);
    TCommPort port;
    port.Open(sim.SlavePath());
    TIxaInterface link(&port);
    TBusScan scan(link);
    std::vector<TBusUnit> units;
    const auto start = TClock::now();
    units = scan.Run();
    const double ms = MsSince(start);
    // Bytes of the units' exchanges (VER?, CN?, TT?: command, echo, reply). A silent address costs
    // its time limit and the listening for a late reply after it (SilentLineMs for each address);
    // its own command line's time falls within the limit (which runs from the write).
    size_t bytes = 0;
    for (const TBusUnit& unit : units) {
        const size_t prefix = std::to_string(unit.Address).size() - 1; // WireBytes counts one digit
        bytes += WireBytes("VER?", {unit.Version, "OK"}) + 2 * prefix;
        bytes += WireBytes("CN?", {unit.Name, "OK"}) + 2 * prefix;
        bytes += WireBytes("TT?", {unit.ToolType, "OK"}) + 2 * prefix;
    }
    const int silent = scan.Options.Last - scan.Options.First + 1 - static_cast<int>(units.size());
    const double wire = double(bytes) * ByteMs;
    const unsigned perSilent = scan.SilentLineMs() / unsigned(scan.Options.Last - scan.Options.First + 1);
    const double limits = silent * double(perSilent);
    std::printf("network scan, addresses %d-%d, units at 0, 3, 7, 9600-baud pacing, %u ms time limit:\n",
                scan.Options.First, scan.Options.Last, scan.Options.ProbeTimeLimit);
    std::printf("  found %zu units in %.0f ms; their exchanges' wire time %.0f ms (%zu bytes) + %d silent x "
                "%u ms = %.0f ms (ratio %.3f)\n",
                units.size(), ms, wire, bytes, silent, perSilent, wire + limits, ms / (wire + limits));
}

// The unpaced simulator in a process of its own (forked before this process starts any thread),
// so that the link and the termios loop each have the machine's cores on the same terms and their CPU
// times count their own process alone. Ended with the object.
class TSimProcess {
public:
    TSimProcess() {
        int ends[2];
        if (pipe(ends) != 0)
            return;
        Pid = fork();
        if (Pid == 0) {
            close(ends[0]);
            {
                sim::TSimulator sim(TRig::Options(false));
                const std::string path = sim.SlavePath() + "\n";
                if (write(ends[1], path.data(), path.size()) != ssize_t(path.size()))
                    _exit(1);
                close(ends[1]);
                for (;;)
                    pause(); // until the bench ends it
            }
        }
        close(ends[1]);
        char buffer[256] = {};
        ssize_t n = Pid > 0 ? read(ends[0], buffer, sizeof buffer - 1) : 0;
        close(ends[0]);
        if (n > 1)
            Path.assign(buffer, size_t(n) - 1);
    }
    ~TSimProcess() {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            waitpid(Pid, nullptr, 0);
        }
    }
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;
    pid_t Pid = -1;
    std::string Path; // empty when the simulator did not start
};

struct TSpread {
    double Median, Low, High; // median, least and greatest
};

TSpread SpreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

// The link against the termios loop in the same conditions: both in this process, against one
// unpaced simulator in a process of its own, the process's CPU counted for each, in alternating
// rounds (link, loop, link, loop...) on the same line, all kept open, so that a round of each follows
// the other within milliseconds. Each pair of rounds gives a ratio; the median ratio is what a loaded
// machine moves least, and its least and greatest show how far single pairs stray. A third side takes
// its turn after the loop: the loop waiting with a time limit (poll, then read) as the link must.
int Paired(int count, int rounds) {
    // One core for the simulator and every side: every exchange is then the same task switches on
    // it, and never a wake-up of another core from idle, which costs more than the exchange and
    // comes and goes with the machine's other load.
    const int core = sched_getcpu();
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(core, &one);
    const bool pinned = core >= 0 && sched_setaffinity(0, sizeof one, &one) == 0;
    TSimProcess sim;
    if (sim.Path.empty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    // The loops' descriptors first: the link's open bars later ones (when not root). The link's reads
    // do not block, so the loop's blocking settings, made after the link's, serve all three.
    const int loopFd = open(sim.Path.c_str(), O_RDWR | O_NOCTTY);
    const int pollFd = open(sim.Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    TCommPort port;
    port.Open(sim.Path);
    TIxaInterface link(&port);
    link.Connect();
    const int limitMs = int(link.Timeout.load());
    if (loopFd < 0 || pollFd < 0 || !link.Connected || TermiosLoopSetup(loopFd) != 0 ||
        TermiosLoopExchange(loopFd) != 0 || TermiosPollExchange(pollFd, limitMs) != 0) {
        std::fprintf(stderr, "no connection to the simulator: %s\n", port.OpenFailure().c_str());
        return 1;
    }
    link.GetCommandForce();
    enum { Link, Loop, Poll, Sides };
    // A round's rate is taken from its median exchange time: the machine's other load takes the core
    // in bursts, which lengthen a few exchanges by whole time slices and move a mean far more than
    // the median. Its throughput (exchanges over the round's time) is shown beside it.
    std::vector<double> rate[Sides], throughput[Sides], cpu[Sides];
    std::vector<double> rateRatio, throughputRatio, cpuRatio, pollRateRatio, pollCpuRatio;
    std::vector<double> times(size_t(count), 0.0);
    bool failed = false;
    auto round = [&](int side) {
        const auto start = TClock::now();
        const double used = ProcessCpuMs();
        auto last = start;
        for (int i = 0; i < count; ++i) {
            if (side == Link)
                link.GetCommandForce();
            else if (side == Loop)
                failed |= TermiosLoopExchange(loopFd) != 0;
            else
                failed |= TermiosPollExchange(pollFd, limitMs) != 0;
            const auto now = TClock::now();
            times[size_t(i)] = std::chrono::duration<double, std::milli>(now - last).count();
            last = now;
        }
        cpu[side].push_back((ProcessCpuMs() - used) / count);
        throughput[side].push_back(count / (MsSince(start) / 1000));
        rate[side].push_back(1000 / SpreadOf(times).Median);
    };
    for (int i = 0; i < rounds && !failed; ++i) {
        for (int side : {Link, Loop, Poll})
            round(side);
        rateRatio.push_back(rate[Link].back() / rate[Loop].back());
        throughputRatio.push_back(throughput[Link].back() / throughput[Loop].back());
        cpuRatio.push_back(cpu[Link].back() / cpu[Loop].back());
        pollRateRatio.push_back(rate[Link].back() / rate[Poll].back());
        pollCpuRatio.push_back(cpu[Link].back() / cpu[Poll].back());
    }
    close(loopFd);
    close(pollFd);
    if (failed) {
        std::fprintf(stderr, "a loop's exchange failed\n");
        return 1;
    }
    std::printf(
        "unpaced CF? (echo, value, OK), the link against the termios loop (C), %d alternating rounds of "
        "%d exchanges each, all in this process, the simulator in a process of its own, %s; median "
        "(least-greatest):\n",
        rounds, count, pinned ? ("all on core " + std::to_string(core)).c_str() : "on any core");
    static const char* const names[Sides] = {"link", "termios loop", "loop with poll"};
    for (int side : {Link, Loop, Poll}) {
        const TSpread r = SpreadOf(rate[side]), t = SpreadOf(throughput[side]), c = SpreadOf(cpu[side]);
        std::printf(
            "  %-15s %7.0f exchanges/s (%.0f-%.0f), throughput %.0f (%.0f-%.0f)   CPU %.5f ms/exchange "
            "(%.5f-%.5f)\n",
            names[side], r.Median, r.Low, r.High, t.Median, t.Low, t.High, c.Median, c.Low, c.High);
    }
    auto ratios = [](const char* what, const std::vector<double>& rates, const std::vector<double>& cpus) {
        const TSpread r = SpreadOf(rates), c = SpreadOf(cpus);
        std::printf("  %-28s rate %.3f (%.3f-%.3f)   CPU per exchange %.3f (%.3f-%.3f)\n", what, r.Median,
                    r.Low, r.High, c.Median, c.Low, c.High);
    };
    ratios("link / termios loop:", rateRatio, cpuRatio);
    const TSpread t = SpreadOf(throughputRatio);
    std::printf("  %-28s throughput %.3f (%.3f-%.3f)\n", "", t.Median, t.Low, t.High);
    ratios("link / loop with poll:", pollRateRatio, pollCpuRatio);
    return 0;
}

// The guard of the figures above, in a few seconds: each ratio is the best of several short rounds;
// one that misses its bound is measured again (up to three times), since a loaded machine only ever
// makes the figures worse, and a regression misses every time.
int Check() {
    constexpr int Attempts = 3, PacedRounds = 12, UnpacedRounds = 3;
    bool pacedOk = false, unpacedOk = false;
    for (int attempt = 1; attempt <= Attempts && !(pacedOk && unpacedOk); ++attempt) {
        if (!pacedOk) {
            TRig rig(true);
            const double wire = double(WireBytes("CF?", {rig.Sim.Parameter("CF"), "OK"})) * ByteMs;
            double best = 1e9;
            for (int round = 0; round < PacedRounds; ++round) // 5 exchanges a round
                best = std::min(best, Measure(5, [&](int) { rig.Link.GetCommandForce(); }).WallMs / wire);
            pacedOk = best <= 1.10;
            std::printf("link bench check %d: paced CF? %.3f x wire time (at most 1.10)%s\n", attempt, best,
                        pacedOk ? "" : " missed");
        }
        if (!unpacedOk) {
            double best = 0;
            for (int round = 0; round < UnpacedRounds; ++round) { // 1000 exchanges a round
                double ours = 0, cpu = 0;
                {
                    TRig rig(false);
                    ours = 1000.0 / Measure(1000, [&](int) { rig.Link.GetCommandForce(); }).WallMs;
                }
                TRig fresh(false); // the script on a simulator of its own
                fresh.Port.Close();
                const double theirs = PyserialRate(fresh, 1000, cpu);
                if (theirs <= 0) {
                    std::printf(
                        "link bench check: python3-serial did not run (is python3-serial installed?)\n");
                    return 1;
                }
                best = std::max(best, ours / theirs);
            }
            unpacedOk = best >= 1.0;
            std::printf("link bench check %d: unpaced %.2f x python3-serial's rate (at least 1.00)%s\n",
                        attempt, best, unpacedOk ? "" : " missed");
        }
    }
    std::printf("link bench check: %s\n", pacedOk && unpacedOk ? "ok" : "FAILED");
    return pacedOk && unpacedOk ? 0 : 1;
}

} // namespace

constexpr const char* Usage =
    "Usage: korva-link-bench [EXCHANGES]          everything (EXCHANGES unpaced, 2000 when not given)\n"
    "       korva-link-bench [EXCHANGES] line     only the traffic log's cost and the scan\n"
    "       korva-link-bench [EXCHANGES] network  only the CF? exchange through ser2net (raw TCP, RFC 2217,\n"
    "                                             each with ser2net's defaults and with chardelay: false)\n"
    "                                             beside the local one, unpaced and paced, best of 5 rounds\n"
    "       korva-link-bench [EXCHANGES] paired [ROUNDS]\n"
    "                                             the unpaced link against the termios loop in the same\n"
    "                                             conditions: both in this process on one line to a\n"
    "                                             simulator in a process of its own, ROUNDS alternating\n"
    "                                             rounds of EXCHANGES each way (ROUNDS at least 7, 21 when\n"
    "                                             not given); the median of the per-pair ratios (rate,\n"
    "                                             from each round's median exchange time; throughput;\n"
    "                                             CPU per exchange) with their least and greatest; and\n"
    "                                             beside them the loop waiting with poll, as the link does\n"
    "       korva-link-bench --check              a few seconds; exit 1 when the paced exchange or the\n"
    "                                             unpaced rate falls short\n"
    "       korva-link-bench --help               this text\n";

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "-h") {
        std::printf("%s", Usage);
        return 0;
    }
    if (first == "--check" && argc == 2)
        return Check();
    const std::string part = argc > 2 ? argv[2] : "";
    int count = 2000;
    if (argc > 1) {
        char* end = nullptr;
        const long asked = std::strtol(argv[1], &end, 10);
        count = *end == '\0' && asked >= 40 && asked <= 10000000 ? int(asked) : 0;
    }
    int rounds = 21;
    if (part == "paired" && argc == 4) {
        char* end = nullptr;
        const long asked = std::strtol(argv[3], &end, 10);
        rounds = *end == '\0' && asked >= 7 && asked <= 1000 ? int(asked) : 0;
    }
    if (count == 0 || rounds == 0 || argc > (part == "paired" ? 4 : 3) ||
        (argc >= 3 && part != "line" && part != "network" && part != "paired")) {
        std::fprintf(stderr, "korva-link-bench: EXCHANGES is a number from 40 to 10000000\n%s", Usage);
        return 2;
    }
    if (part == "line") {
        TrafficOverhead(count / 4 > 100 ? count / 4 : 100);
        Scan();
        return 0;
    }
    if (part == "paired")
        return Paired(count, rounds);
    if (part == "network") {
        Network(count / 4, 5);
        return 0;
    }
    Unpaced(count);
    Network(count / 4, 1);
    Paced(count / 40 > 10 ? count / 40 : 10);
    Transfers(false);
    Transfers(true);
    TrafficOverhead(count / 4 > 100 ? count / 4 : 100);
    Scan();
    return 0;
}
