#include "tray/SingleInstance.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace tray {

namespace {

constexpr char kCheckNow[] = "check\n";
constexpr int kAnswerWaitMs = 2000;

} // namespace

SingleInstance::SingleInstance(const QString &storePath, QObject *parent)
    : QObject(parent)
{
    // The same file reached by another spelling of its path is the same store.
    QString canonical = QFileInfo(storePath).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QFileInfo(storePath).absoluteFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    m_name = QStringLiteral("ostrove-tray-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
}

bool SingleInstance::askRunningToCheck()
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kAnswerWaitMs))
        return false;
    socket.write(kCheckNow);
    if (!socket.waitForBytesWritten(kAnswerWaitMs))
        return false;
    // The answer says the request was read, not only queued by the system.
    return socket.waitForReadyRead(kAnswerWaitMs) && socket.readAll().startsWith("ok");
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // A socket file left by a program that crashed: nobody answered on it, so take it over.
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name))
            return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            const QByteArray line = socket->readLine();
            if (line == kCheckNow) {
                socket->write("ok\n");
                emit checkRequested();
            }
            socket->disconnectFromServer();
        });
    }
}

} // namespace tray
