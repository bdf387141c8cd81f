// korva-console: one instance per user; the splash, then the control panel until it closes.
//   --port NAME  use this port instead of the stored one
//   --simulate   run a simulated controller inside the process and connect to it
//   -commlog     log the controller's error replies (read by the link)

#include "panel/Panel.h"
#include "panel/Splash.h"
#include "platform/StopSignal.h"
#include "sim/Simulator.h"
#include "toolkit/Application.h"
#include "toolkit/MainThreadHook.h"
#include "toolkit/SingleInstance.h"

#include <QSocketNotifier>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {
struct TOptions {
    AnsiString Port;
    bool Simulate = false;
};

TOptions ParseOptions(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc)
            options.Port = argv[++i];
        else if (std::strcmp(argv[i], "--simulate") == 0)
            options.Simulate = true;
        else if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: korva-console [--port NAME | --simulate] [-commlog]\n");
            std::exit(0);
        }
    }
    return options;
}
} // namespace

int main(int argc, char** argv) {
    SetCommandLine(argc, argv);
    // Caught from the start, so that a stop during the splash is honoured too.
    const int stopDescriptor = WatchStopSignals();
    const TOptions options = ParseOptions(argc, argv);

    // A second start only wakes the first one; it creates nothing else.
    TSingleInstance instance;
    if (!instance.Acquire())
        return 0;

    TApplication app(argc, argv);
    TMainThreadHook mainThreadHook;
    // Ctrl+C, a terminate or a closed terminal closes the panel as File > Exit does: the settings
    // are written and the port is given back.
    bool stopRequested = false;
    std::optional<QSocketNotifier> stopSignal;
    if (stopDescriptor >= 0) {
        stopSignal.emplace(stopDescriptor, QSocketNotifier::Read);
        QObject::connect(&*stopSignal, &QSocketNotifier::activated, [&stopRequested, &stopSignal] {
            stopSignal->setEnabled(false); // once is enough; the byte stays unread
            stopRequested = true;
            QCoreApplication::exit(0);
        });
    }
    try {
        {
            TSplashForm splash;
            splash.ShowFor(2000);
        }
        if (stopRequested)
            return 0;
        std::optional<sim::TSimulator> simulator;
        AnsiString port = options.Port;
        if (options.Simulate) {
            sim::TSimOptions simulated;
            simulated.RecordReceived = false; // nobody reads it here, and the console runs for hours
            simulator.emplace(simulated);
            port = simulator->SlavePath();
        }
        TKorvaControlPanel panel(nullptr, port);
        panel.SetSimulated(options.Simulate);
        instance.OnWake = [&panel] { panel.WakeFromSecondInstance(); };
        instance.Listen();
        panel.show();
        if (!stopRequested)
            app.exec();
        instance.OnWake = nullptr;
    } catch (...) {
        TApplication::HandleCurrentException();
    }
    return 0;
}
