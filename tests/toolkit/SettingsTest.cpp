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

TEST(Settings, ReadsTheDefaultUntilWrittenAndKeepsTheName) {
    QTemporaryDir dir;
    SetSettingsFolder(dir.path());
    EXPECT_EQ(ReadSetting("CommPort", "none"), "none");
    WriteSetting("CommPort", "/dev/ttyUSB0");
    EXPECT_EQ(ReadSetting("CommPort"), "/dev/ttyUSB0");
    // The file lives where the organisation and application name put it.
    const QString path = QDir(dir.path()).filePath("Halvane/KorvaWin 3.0.conf");
    EXPECT_TRUE(QFile::exists(path));

    // Names as the file system spells them ("/dev/порт" in UTF-8), and names with ", " in them, both
    // written by us and stored by hand.
    const AnsiString cyrillic = "/dev/\xd0\xbf\xd0\xbe\xd1\x80\xd1\x82";
    for (const AnsiString& name :
         {cyrillic, AnsiString("/dev/serial/by-id/usb-Acme, Inc-if00"), AnsiString("/tmp/a, b, c")}) {
        SCOPED_TRACE(name);
        WriteSetting("CommPort", name);
        EXPECT_EQ(ReadSetting("CommPort"), name);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("[General]\nCommPort=") + QByteArray::fromStdString(name) + "\n");
        file.close();
        EXPECT_EQ(ReadSetting("CommPort"), name);
    }
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
