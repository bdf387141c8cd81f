#include "toolkit/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QWidget>

QString TSingleInstance::DefaultKey() {
    // KORVA_INSTANCE_KEY lets tests run their own instances beside a console in use.
    const QString forced = qEnvironmentVariable("KORVA_INSTANCE_KEY");
    if (!forced.isEmpty())
        return forced;
    QString user = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME", "user"));
    return "KorvaControlPanel-" + user;
}

TSingleInstance::TSingleInstance(QString key) : FKey(std::move(key)) {}

TSingleInstance::~TSingleInstance() {
    if (Server)
        Server->close();
}

bool TSingleInstance::Acquire() {
    Lock = std::make_unique<QLockFile>(QDir(QDir::tempPath()).filePath(FKey + ".lock"));
    if (!Lock->tryLock(0)) {
        QLocalSocket socket;
        socket.connectToServer(FKey);
        if (socket.waitForConnected(2000)) {
            socket.write("wake\n");
            socket.waitForBytesWritten(2000);
            socket.waitForReadyRead(2000); // the first answers once it has taken the wake
            socket.disconnectFromServer();
        }
        return false;
    }
    return true;
}

void TSingleInstance::Listen() {
    // A server name left by a crashed first instance would make listen fail.
    QLocalServer::removeServer(FKey);
    Server = std::make_unique<QLocalServer>();
    Server->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(Server.get(), &QLocalServer::newConnection, [this] {
        while (QLocalSocket* peer = Server->nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
                peer->readAll();
                peer->write("ok\n");
                peer->flush();
                if (OnWake)
                    OnWake();
            });
        }
    });
    Server->listen(FKey);
}

void RestoreAndRaise(QWidget* window) {
    if (!window)
        return;
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}
