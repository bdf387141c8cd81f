// The program itself: a second start wakes the first and ends at once with exit code 0. The test
// stands in for the first: it holds the lock and the wake server under the key the program uses,
// so it sees the wake arrive.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
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

    QLockFile lock(QDir(QDir::tempPath()).filePath(key + ".lock"));
    ASSERT_TRUE(lock.tryLock(0));
    QLocalServer::removeServer(key);
    QLocalServer first;
    ASSERT_TRUE(first.listen(key));
    QByteArray wake;
    QObject::connect(&first, &QLocalServer::newConnection, [&] {
        QLocalSocket* peer = first.nextPendingConnection();
        QObject::connect(peer, &QLocalSocket::readyRead, peer, [&, peer] {
            wake += peer->readAll();
            peer->write("ok\n");
        });
    });

    QProcess second;
    second.setProcessEnvironment(Environment(key, config.path()));
    second.start(KORVA_CONSOLE, {"--simulate"});
    ASSERT_TRUE(second.waitForStarted(10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return wake == "wake\n"; }, 20000)) << wake.toStdString();
    // It ends by itself: had it not found the first, it would have shown its window and run on.
    EXPECT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    if (second.state() != QProcess::NotRunning) {
        second.kill();
        second.waitForFinished(5000);
    }
}

TEST(Console, ATerminateClosesThePanelAndExitsWithZero) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    QTemporaryDir config;
    const QString key = QString("korva-console-stop-%1").arg(QCoreApplication::applicationPid());
    const QString lockPath = QDir(QDir::tempPath()).filePath(key + ".lock");

    for (const bool early : {true, false}) {
        QProcess console;
        console.setProcessEnvironment(Environment(key, config.path()));
        console.start(KORVA_CONSOLE, {"--simulate"});
        ASSERT_TRUE(console.waitForStarted(5000));
        const auto panelUp = [&] {
            QLocalSocket probe;
            probe.connectToServer(key);
            return probe.waitForConnected(100);
        };
        if (!early) {
            ASSERT_TRUE(QTest::qWaitFor(panelUp, 15000));
        } else {
            // The request comes during the splash and must still be honoured: the instance is
            // taken (its lock is there) and the panel is not up yet (nothing answers under the key).
            ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(lockPath); }, 15000)) << "never started";
            ASSERT_FALSE(panelUp()) << "the splash was over before the test could stop it";
        }
        console.terminate(); // SIGTERM, as a logout or a service manager sends it
        ASSERT_TRUE(console.waitForFinished(10000)) << (early ? "during the splash" : "with the panel up");
        EXPECT_EQ(console.exitStatus(), QProcess::NormalExit)
            << (early ? "during the splash" : "with the panel up");
        EXPECT_EQ(console.exitCode(), 0);
    }
}
