// korva-console: one instance per user; the splash, then the control panel until it closes.
//   --port NAME  use this port instead of the stored one
//   --simulate   run a simulated controller inside the process and connect to it
//   -commlog     log the controller's error replies (read by the link)

#include "panel/Panel.h"
#include "panel/Splash.h"
#include "sim/Simulator.h"
#include "toolkit/Application.h"
#include "toolkit/MainThreadHook.h"
#include "toolkit/SingleInstance.h"

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
    const TOptions options = ParseOptions(argc, argv);

    // A second start only wakes the first one; it creates nothing else.
    TSingleInstance instance;
    if (!instance.Acquire())
        return 0;

    TApplication app(argc, argv);
    TMainThreadHook mainThreadHook;
    try {
        {
            TSplashForm splash;
            splash.ShowFor(2000);
        }
        std::optional<sim::TSimulator> simulator;
        AnsiString port = options.Port;
        if (options.Simulate) {
            sim::TSimOptions simulated;
            simulated.RecordReceived = false; // nobody reads it here, and the console runs for hours
            simulator.emplace(simulated);
            port = simulator->SlavePath();
        }
        TKorvaControlPanel panel(nullptr, port);
        instance.OnWake = [&panel] { panel.WakeFromSecondInstance(); };
        instance.Listen();
        panel.show();
        app.exec();
        instance.OnWake = nullptr;
    } catch (...) {
        TApplication::HandleCurrentException();
    }
    return 0;
}
