#include "toolkit/Settings.h"
#include "toolkit/SingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

TEST(Settings, ReadsTheDefaultUntilWrittenAndKeepsEveryByte) {
    QTemporaryDir dir;
    SetSettingsFolder(dir.path());
    EXPECT_EQ(ReadSetting("CommPort", "none"), "none");
    WriteSetting("CommPort", "/dev/ttyUSB0");
    EXPECT_EQ(ReadSetting("CommPort"), "/dev/ttyUSB0");
    WriteSetting("CommPort", "COM\xe9");
    EXPECT_EQ(ReadSetting("CommPort"), "COM\xe9");
    // The file lives where the organisation and application name put it.
    EXPECT_TRUE(QFile::exists(QDir(dir.path()).filePath("Halvane/KorvaWin 3.0.conf")));
}

TEST(SingleInstance, ASecondStartWakesTheFirstAndGivesWay) {
    const QString key = QString("korva-test-%1").arg(QCoreApplication::applicationPid());
    auto first = std::make_unique<TSingleInstance>(key);
    ASSERT_TRUE(first->Acquire());
    int wakes = 0;
    first->OnWake = [&] { ++wakes; };
    first->Listen();

    // The second start runs where it would: elsewhere, blocking, while the first serves its loop.
    std::atomic<int> second{-1};
    std::thread other([&] {
        TSingleInstance instance(key);
        second = instance.Acquire() ? 1 : 0;
    });
    QTRY_COMPARE_WITH_TIMEOUT(wakes, 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(second.load(), 0, 5000);
    other.join();

    // Once the first has gone, a new start is the first again.
    first.reset();
    TSingleInstance later(key);
    EXPECT_TRUE(later.Acquire());
}
