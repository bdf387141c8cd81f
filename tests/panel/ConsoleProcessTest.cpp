// The program itself: a second start wakes the first and ends at once with exit code 0.
#include <QCoreApplication>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {
QProcessEnvironment Environment(const QString& key, const QString& config) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("KORVA_INSTANCE_KEY", key);
    env.insert("XDG_CONFIG_HOME", config);
    return env;
}
} // namespace

TEST(Console, ASecondStartWakesTheFirstAndExitsWithZero) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    QTemporaryDir config;
    const QString key = QString("korva-console-test-%1").arg(QCoreApplication::applicationPid());

    QProcess first;
    first.setProcessEnvironment(Environment(key, config.path()));
    first.start(KORVA_CONSOLE, {"--simulate"});
    ASSERT_TRUE(first.waitForStarted(5000));
    // The first listens once its splash is over and its window is up.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QLocalSocket probe;
            probe.connectToServer(key);
            return probe.waitForConnected(100);
        },
        15000));

    QProcess second;
    second.setProcessEnvironment(Environment(key, config.path()));
    QElapsedTimer took;
    took.start();
    second.start(KORVA_CONSOLE, {"--simulate"});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_LT(took.elapsed(), 1900); // no splash: it created nothing
    EXPECT_EQ(first.state(), QProcess::Running);

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(10000));
}

TEST(Console, ATerminateClosesThePanelAndExitsWithZero) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    QTemporaryDir config;
    const QString key = QString("korva-console-stop-%1").arg(QCoreApplication::applicationPid());

    for (const bool early : {true, false}) {
        QProcess console;
        console.setProcessEnvironment(Environment(key, config.path()));
        console.start(KORVA_CONSOLE, {"--simulate"});
        ASSERT_TRUE(console.waitForStarted(5000));
        if (!early) // else the request comes during the splash and must still be honoured
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    QLocalSocket probe;
                    probe.connectToServer(key);
                    return probe.waitForConnected(100);
                },
                15000));
        else
            QTest::qWait(1000); // the splash shows for 2 s
        console.terminate();    // SIGTERM, as a logout or a service manager sends it
        ASSERT_TRUE(console.waitForFinished(10000)) << (early ? "during the splash" : "with the panel up");
        EXPECT_EQ(console.exitStatus(), QProcess::NormalExit)
            << (early ? "during the splash" : "with the panel up");
        EXPECT_EQ(console.exitCode(), 0);
    }
}
