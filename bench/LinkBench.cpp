// What one controller exchange costs through the real port and link: wall time per read and per
// write, and the CPU time the calling thread spends on it, against the simulated controller
// unpaced (the software's own cost) and at 9600-baud pacing (the line's cost).
// Run: korva-link-bench [exchanges]

#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "sim/Simulator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

template <typename F> void Measure(const char* what, int count, F&& exchange) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu = ThreadCpuMs();
    for (int i = 0; i < count; ++i)
        exchange(i);
    const double wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("  %-28s %8.2f ms/exchange   CPU %6.3f ms/exchange\n", what, wallMs / count,
                (ThreadCpuMs() - cpu) / count);
}

void Run(bool paced, int count) {
    sim::TSimOptions options;
    options.Paced = paced;
    sim::TSimulator simulator(options);
    TCommPort port;
    port.Open(simulator.SlavePath());
    TIxaInterface link(&port);
    link.Connect();
    if (!link.Connected) {
        std::printf("no connection to the simulator\n");
        std::exit(1);
    }
    std::printf("%s, %d exchanges each:\n", paced ? "9600-baud pacing" : "unpaced", count);
    Measure("read (CF?)", count, [&](int) { link.GetCommandForce(); });
    Measure("write (CF 12.500)", count, [&](int) { link.SetCommandForce(12.5); });
    Measure("indexed read (FL? i)", count, [&](int i) { link.GetForceLevel(i % 16); });
    const auto start = std::chrono::steady_clock::now();
    link.Connect();
    std::printf("  %-28s %8.2f ms\n", "handshake with lists",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    Run(false, count);
    Run(true, count / 4 > 0 ? count / 4 : 1);
    return 0;
}
