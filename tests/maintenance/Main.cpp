// Test entry: the program's application object, offscreen; the monitor's main-thread calls are
// served from the event loop as in the program.
#include "toolkit/Application.h"
#include "toolkit/MainThreadHook.h"
#include "toolkit/Settings.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Test discovery runs the binary at build time, where no display may exist.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    TMainThreadHook hook;
    // The windows' settings (the terminal's history) in a folder of the tests' own.
    QTemporaryDir settings;
    SetSettingsFolder(settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
