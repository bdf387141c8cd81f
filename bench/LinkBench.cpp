// What controller exchanges cost through the real port and link, against the simulated controller:
//  - at 9600-baud pacing, as a ratio to the wire time of the bytes exchanged (10 bits a byte), the
//    line's physical limit;
//  - unpaced (pseudo-terminal speed): exchanges per second and CPU time per exchange, beside the
//    same three-line exchange done by a minimal blocking termios loop in C (the reference for block
//    reading) and by a python3-serial script, against the same simulator;
//  - the same exchange through ser2net (raw TCP and RFC 2217) against the local pseudo-terminal;
//  - a 300-line configuration download and a configuration upload, in lines per second against
//    the wire limit.
// Run: korva-link-bench [exchanges]   (python3-serial needed for the side-by-side figure)

#include "Ser2net.h"
#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "sim/Simulator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
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
// pseudo-terminal, unpaced and at 9600-baud pacing.
void Network(int count) {
    if (!TSer2net::Installed()) {
        std::printf("ser2net: not run (is ser2net installed?)\n");
        return;
    }
    std::printf("CF? exchange through ser2net against the local pseudo-terminal, ms per exchange:\n");
    std::printf("  %-10s %10s %10s %10s %16s\n", "", "local", "tcp://", "rfc2217://", "tcp://, no delay");
    for (bool paced : {false, true}) {
        const int n = paced ? std::max(10, count / 40) : count;
        double ms[4] = {};
        for (int via = 0; via < 4; ++via) {
            sim::TSimulator sim(TRig::Options(paced));
            std::unique_ptr<TSer2net> server;
            std::string name = sim.SlavePath();
            if (via > 0) {
                // The last one without ser2net's wait for more serial bytes before it sends.
                server =
                    std::make_unique<TSer2net>(sim.SlavePath(), via == 2, via == 3 ? "chardelay: false" : "");
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
            ms[via] = Measure(n, [&](int) { link.GetCommandForce(); }).WallMs;
        }
        std::printf("  %-10s %10.3f %10.3f %10.3f %16.3f\n", paced ? "paced" : "unpaced", ms[0], ms[1], ms[2],
                    ms[3]);
    }
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

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    Unpaced(count);
    Network(count / 4);
    Paced(count / 40 > 10 ? count / 40 : 10);
    Transfers(false);
    Transfers(true);
    return 0;
}
