// What the trend window costs: the monitor online against the simulated controller at 9600-baud
// pacing, the command force stepping inside the controller every 2 s (so that the forces change and
// are delivered), first with the trend window closed, then open at the 1 h span with its history
// ring full. Reports the whole process's CPU (main thread with the window, monitor, simulator) over
// each phase and its resident memory, and, with --record, writes the CSV recording over the open
// phase and reports its rows and size.
// Run (a display or QT_QPA_PLATFORM=offscreen):
//     korva-trend-bench [seconds open, default 60] [--closed seconds, default as open] [--record FILE]

#include "monitor/Ixamonitor.h"
#include "sim/Simulator.h"
#include "toolkit/Application.h"
#include "toolkit/MainThreadHook.h"
#include "trend/Trend.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ResidentMb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void Serve(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU share of one core over a phase of the given length.
double Measure(int seconds) {
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    Serve(seconds * 1000);
    return (CpuSeconds() - cpu0) / (double(wall.nsecsElapsed()) / 1e9) * 100.0;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    int closedSeconds = -1;
    std::string record;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--record") == 0 && i + 1 < argc)
            record = argv[++i];
        else if (std::strcmp(argv[i], "--closed") == 0 && i + 1 < argc)
            closedSeconds = std::max(5, std::atoi(argv[++i]));
        else
            seconds = std::max(5, std::atoi(argv[i]));
    }
    if (closedSeconds < 0)
        closedSeconds = seconds;
    TApplication app(argc, argv);
    TMainThreadHook hook;

    sim::TSimOptions options;
    options.Paced = true;
    options.RecordReceived = false;
    sim::TSimulator simulator(options);
    TCommPort port;
    port.Open(simulator.SlavePath());
    TIxaInterface link(&port);
    TIxaMonitor monitor(link);
    TTrendForm* form = nullptr;
    const auto feed = [&](TTrendChannel channel, double value) {
        if (form)
            form->Deliver(channel, value);
    };
    using enum TTrendChannel;
    monitor.OnConnect = [&](TIxaMonitor&) {
        link.GetEnglishUnits();
        if (form)
            form->Connect();
    };
    monitor.OnDisconnect = [&](TIxaMonitor&) {
        if (form)
            form->Disconnect();
    };
    monitor.OnCommandForce = [&](TIxaMonitor&, double v) { feed(CommandForce, v); };
    monitor.OnActualForce = [&](TIxaMonitor&, double v) { feed(ActualForce, v); };
    monitor.OnPosition = [&](TIxaMonitor&, double v) { feed(Position, v); };
    monitor.OnSlideAcceleration = [&](TIxaMonitor&, double v) { feed(Orientation, OrientationDegrees(v)); };
    monitor.OnActive = [&](TIxaMonitor&, bool v) { feed(Active, v); };
    monitor.OnMode = [&](TIxaMonitor&, uint8_t v) { feed(Mode, v); };
    monitor.OnToolNumber = [&](TIxaMonitor&, int32_t v) { feed(ToolNumber, v); };

    QElapsedTimer waited;
    waited.start();
    while (!monitor.Online && waited.elapsed() < 10000)
        Serve(50);
    if (!monitor.Online) {
        std::fprintf(stderr, "the monitor did not come online\n");
        return 1;
    }
    simulator.SetParameter("ACT", "1");
    // Steps inside the controller: no extra traffic on the line.
    QTimer stepper;
    int step = 0;
    QObject::connect(&stepper, &QTimer::timeout,
                     [&] { simulator.SetParameter("CF", ++step % 2 ? "120.5" : "35"); });
    stepper.start(2000);
    Serve(3000);

    const double rssClosed = ResidentMb();
    const double cpuClosed = Measure(closedSeconds);
    std::printf("window closed: CPU %.2f %% of one core over %d s, RSS %.1f MB\n", cpuClosed, closedSeconds,
                ResidentMb());

    form =
        new TTrendForm(nullptr, monitor, NoTrendValues(), [] { return std::string("Simulated controller"); });
    // A full ring: as many points as it holds, spread over the last hour, in every channel.
    {
        const TTrendTime now = TTrendTime::Now();
        const size_t n = TTrendHistory::DefaultCapacity;
        for (size_t i = 0; i < n; ++i) {
            TTrendTime t = now;
            const double back = 3600.0 * double(n - i) / double(n) + 1.0;
            t.Seconds -= back;
            t.Wall -= std::chrono::milliseconds(static_cast<long long>(back * 1000));
            for (int c = 0; c < TrendChannelCount; ++c) {
                const double v =
                    c >= 4 ? double((i / 500 + size_t(c)) % 3 % (c == 4 ? 2 : 3)) : double(i % 97) + c * 10.0;
                form->Log.Deliver(TTrendChannel(c), v, t);
            }
        }
        // Then what the controller holds now, as the window takes it when it opens.
        form->Log.Deliver(CommandForce, monitor.CommandForce.Value, now);
        form->Log.Deliver(ActualForce, monitor.ActualForce.Value, now);
        form->Log.Deliver(Position, monitor.Position.Value, now);
        form->Log.Deliver(Orientation, OrientationDegrees(monitor.SlideAcceleration.Value), now);
        form->Log.Deliver(Active, monitor.Active.Value ? 1 : 0, now);
        form->Log.Deliver(Mode, monitor.Mode.Value, now);
        form->Log.Deliver(ToolNumber, monitor.ToolNumber.Value, now);
    }
    form->resize(1000, 600);
    form->show();
    form->SetSpan(3);
    if (!record.empty()) {
        TTrendRecordHeader header{"Simulated controller", link.Version, link.ForceUnits, link.LengthUnits};
        form->Log.StartRecording(record, header, TTrendTime::Now());
    }
    Serve(3000);
    const double cpuOpen = Measure(seconds);
    const double rssOpen = ResidentMb();
    size_t full = 0;
    for (int c = 0; c < TrendChannelCount; ++c)
        full += form->Log.History.Points(TTrendChannel(c)).Size();
    std::printf(
        "window open, 1 h span, %zu points in the ring: CPU %.2f %% of one core over %d s, RSS %.1f MB "
        "(+%.1f MB over closed)\n",
        full, cpuOpen, seconds, rssOpen, rssOpen - rssClosed);
    if (!record.empty()) {
        const uint64_t rows = form->Log.Recorded() ? form->Log.Recorded()->Rows() : 0;
        form->Log.StopRecording();
        std::printf("recording %s: %llu rows, %llu bytes%s\n", record.c_str(), (unsigned long long)rows,
                    (unsigned long long)std::filesystem::file_size(record),
                    form->Log.RecordError().empty() ? "" : (" (" + form->Log.RecordError() + ")").c_str());
    }
    delete form;
    form = nullptr;
    return 0;
}
