// What one online pass of the monitor costs against the simulated controller at 9600-baud pacing:
// queries and time per pass (passes with and without the slow group), and the CPU time the monitor
// thread and the whole process spend per second while online; then the display latency: from a
// change of the command force inside the controller to its delivery on the main thread, median and
// 95th percentile. Run: korva-monitor-bench [seconds] [latency samples]
//
// Passes are told apart on the controller's side: the simulator notes each command line when it has
// arrived, and a pause of more than half the polling period separates two passes. A pass lasts from
// its first command to the start of the next pass, less the period the monitor sleeps in between.

#include "monitor/Ixamonitor.h"
#include "sim/Simulator.h"

#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

std::set<int> Tasks() {
    std::set<int> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                ids.insert(std::atoi(entry->d_name));
        closedir(dir);
    }
    return ids;
}

// CPU time of one thread in ns (scheduler statistics), or of the process when tid is 0.
double CpuNs(int tid) {
    if (tid == 0) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e9 +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e3;
    }
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    double ns = 0;
    stat >> ns;
    return ns;
}

struct TPass {
    TClock::time_point Start;
    std::vector<std::string> Commands;
    bool Slow() const { return std::find(Commands.begin(), Commands.end(), "TN?") != Commands.end(); }
};

// The main thread serves the monitor's calls when woken, as the windows' event loop does.
class TMainLoop {
public:
    TMainLoop() {
        SetMainThreadWakeHook([this] {
            {
                std::lock_guard lock(Mutex);
                Wake = true;
            }
            Woken.notify_one();
        });
    }
    ~TMainLoop() { SetMainThreadWakeHook(nullptr); }
    // Serves until done() holds or the span has passed; returns done().
    template <typename F> bool ServeFor(TClock::duration span, F&& done) {
        const auto end = TClock::now() + span;
        for (;;) {
            ServeMainThreadCalls();
            if (done())
                return true;
            std::unique_lock lock(Mutex);
            if (!Woken.wait_until(lock, end, [&] { return Wake; }))
                return done();
            Wake = false;
        }
    }
    void ServeFor(TClock::duration span) {
        ServeFor(span, [] { return false; });
    }

private:
    std::mutex Mutex;
    std::condition_variable Woken;
    bool Wake = false;
};

void Latency(int samples) {
    sim::TSimOptions options;
    options.Paced = true;
    sim::TSimulator simulator(options);
    TCommPort port;
    port.Open(simulator.SlavePath());
    TIxaInterface link(&port);
    TMainLoop loop;
    TIxaMonitor monitor(link);
    double wanted = -1;
    TClock::time_point delivered{};
    monitor.OnCommandForce = [&](TIxaMonitor&, double value) {
        if (value == wanted)
            delivered = TClock::now();
    };
    if (!loop.ServeFor(std::chrono::seconds(10),
                       [&] { return monitor.Online && monitor.Period == TIxaMonitor::OnlinePeriod; })) {
        std::fprintf(stderr, "the monitor did not come online\n");
        std::exit(1);
    }
    std::minstd_rand random(7);
    std::vector<double> ms;
    for (int i = 0; i < samples; ++i) {
        // A change at a random moment of the polling cycle, as a person at the machine makes it.
        loop.ServeFor(std::chrono::milliseconds(50 + random() % 400));
        wanted = 10.0 + i;
        delivered = {};
        simulator.SetParameter("CF", std::to_string(int(wanted)));
        const auto changed = TClock::now();
        if (loop.ServeFor(std::chrono::seconds(5), [&] { return delivered != TClock::time_point{}; }))
            ms.push_back(std::chrono::duration<double, std::milli>(delivered - changed).count());
    }
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) {
        std::fprintf(stderr, "no change was delivered\n");
        std::exit(1);
    }
    std::printf("display latency, 9600-baud pacing, command force changed in the controller -> delivered "
                "on the main thread, %zu samples:\n  median %.1f ms, 95th percentile %.1f ms, max %.1f ms\n",
                ms.size(), ms[ms.size() / 2], ms[std::min(ms.size() - 1, size_t(ms.size() * 0.95))],
                ms.back());
}

void Run(bool withIo, double seconds) {
    sim::TSimOptions options;
    options.Paced = true;
    sim::TSimulator simulator(options);
    TCommPort port;
    port.Open(simulator.SlavePath());
    if (!port.IsOpen()) {
        std::fprintf(stderr, "cannot open %s: %s\n", simulator.SlavePath().c_str(),
                     port.OpenFailure().c_str());
        std::exit(1);
    }
    TIxaInterface link(&port);

    TMainLoop loop;
    auto serveFor = [&](TClock::duration span) { loop.ServeFor(span); };

    const auto before = Tasks();
    TIxaMonitor monitor(link);
    int monitorTid = 0;
    for (int id : Tasks())
        if (!before.count(id))
            monitorTid = id;
    if (withIo)
        monitor.OnIo = [](TIxaMonitor&, int32_t, int32_t, double, double, double) {};
    // Online: wait out the refresh, then measure whole passes.
    const auto onlineBy = TClock::now() + std::chrono::seconds(10);
    while (!(monitor.Online && monitor.Period == TIxaMonitor::OnlinePeriod) && TClock::now() < onlineBy)
        serveFor(std::chrono::milliseconds(50));
    if (!monitor.Online) {
        std::fprintf(stderr, "the monitor did not come online\n");
        std::exit(1);
    }
    serveFor(std::chrono::milliseconds(300));

    std::vector<TPass> passes;
    std::atomic<bool> observing{true};
    simulator.ClearReceived();
    std::thread observer([&] {
        size_t seen = 0;
        TClock::time_point last{};
        const auto gap = std::chrono::milliseconds(TIxaMonitor::OnlinePeriod / 2);
        while (observing) {
            if (!simulator.WaitReceived(seen + 1, 50))
                continue;
            const auto now = TClock::now();
            auto lines = simulator.Received();
            for (; seen < lines.size(); ++seen) {
                if (passes.empty() || now - last > gap)
                    passes.push_back({now, {}});
                passes.back().Commands.push_back(lines[seen].substr(lines[seen].find(':') + 1));
                last = now;
            }
        }
    });
    const double cpu0 = CpuNs(monitorTid), proc0 = CpuNs(0);
    const auto t0 = TClock::now();
    serveFor(std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds)));
    const double wall = std::chrono::duration<double>(TClock::now() - t0).count();
    const double cpu = CpuNs(monitorTid) - cpu0, proc = CpuNs(0) - proc0;
    observing = false;
    observer.join();

    // Whole passes only: the first and the last may be cut by the window.
    struct TSum {
        int Passes = 0;
        double Queries = 0, Ms = 0;
    } slow, plain;
    for (size_t i = 1; i + 1 < passes.size(); ++i) {
        auto& sum = passes[i].Slow() ? slow : plain;
        ++sum.Passes;
        sum.Queries += passes[i].Commands.size();
        sum.Ms += std::chrono::duration<double, std::milli>(passes[i + 1].Start - passes[i].Start).count() -
                  TIxaMonitor::OnlinePeriod;
    }
    std::printf("online, tool present, OnIo %s, 9600-baud pacing, %.1f s:\n", withIo ? "assigned" : "empty",
                wall);
    for (auto [name, sum] : {std::pair{"slow-group pass", slow}, std::pair{"plain pass", plain}}) {
        if (sum.Passes)
            std::printf("  %-16s %3d passes  %5.1f queries/pass  %6.1f ms/pass\n", name, sum.Passes,
                        sum.Queries / sum.Passes, sum.Ms / sum.Passes);
    }
    std::printf("  CPU: monitor thread %.2f ms/s (%.2f %%), whole process %.2f ms/s\n", cpu / 1e6 / wall,
                cpu / 1e7 / wall, proc / 1e6 / wall);
}

} // namespace

int main(int argc, char** argv) {
    SetMainThread();
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const int samples = argc > 2 ? std::atoi(argv[2]) : 40;
    Run(false, seconds);
    Run(true, seconds);
    Latency(samples);
}
