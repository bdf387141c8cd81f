// Test entry of the window layers: the application object of the program, offscreen, and the hook
// that lets monitor threads reach the main thread.
#include "toolkit/Application.h"
#include "toolkit/MainThreadHook.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Test discovery runs the binary at build time, where no display may exist.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    TMainThreadHook hook;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
