#include "app/InstanceChecker.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

namespace {

constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_5_0;

// Whether some process accepts connections under the name.
bool SomeoneListens(const QString& name)
{
    QLocalSocket probe;
    probe.connectToServer(name, QIODevice::WriteOnly);
    const bool connected = probe.waitForConnected(1000);
    probe.abort();
    return connected;
}

}  // namespace

QInstanceChecker::QInstanceChecker(QObject* parent, QString name)
    : QObject(parent), m_name(name.isEmpty() ? ChannelName() : std::move(name))
{
}

QString QInstanceChecker::ChannelName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName() + "." + QString::number(::getuid());
}

bool QInstanceChecker::IsListening() const
{
    return m_server != nullptr && m_server->isListening();
}

bool QInstanceChecker::Start(const QString& commandLine, bool singleInstance, bool sendShutdown)
{
    const QString& name = m_name;
    bool askedToShutDown = false;
    if (singleInstance) {
        QLocalSocket socket;
        socket.connectToServer(name, QIODevice::WriteOnly);
        if (socket.waitForConnected(kTimeoutMs)) {
            QByteArray message;
            QDataStream stream(&message, QIODevice::WriteOnly);
            stream.setVersion(kStreamVersion);
            stream << (sendShutdown ? QStringLiteral("shutdown") : commandLine);
            socket.write(message);
            bool written = true;
            while (written && socket.bytesToWrite() > 0)
                written = socket.waitForBytesWritten(kTimeoutMs);
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState)
                socket.waitForDisconnected(kTimeoutMs);
            if (written && !sendShutdown)
                return false;
            askedToShutDown = written && sendShutdown;
        }
    }
    m_server = new QLocalServer(this);
    connect(m_server, &QLocalServer::newConnection, this, &QInstanceChecker::onConnected);
    Listen(name, askedToShutDown ? kTimeoutMs : 0);
    return true;
}

bool QInstanceChecker::Listen(const QString& name, int waitMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        if (m_server->listen(name))
            return true;
        // A socket file nobody serves is left from a process that ended
        // without closing it; one that is served belongs to an instance
        // that is still closing after "shutdown".
        if (!SomeoneListens(name)) {
            QLocalServer::removeServer(name);
            return m_server->listen(name);
        }
        if (elapsed.elapsed() >= waitMs)
            return false;
        QThread::msleep(100);
    }
}

void QInstanceChecker::onConnected()
{
    auto* server = qobject_cast<QLocalServer*>(sender());
    if (server == nullptr)
        return;
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        // Read as data arrives: a client that sends nothing never holds the
        // GUI thread, and is dropped after the time-out.
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, &QObject::deleteLater);
        timer->start(kTimeoutMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadMessage(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            ReadMessage(socket);
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            ReadMessage(socket);
    }
}

void QInstanceChecker::ReadMessage(QLocalSocket* socket)
{
    QDataStream stream(socket);
    stream.setVersion(kStreamVersion);
    stream.startTransaction();
    QString text;
    stream >> text;
    if (!stream.commitTransaction())
        return;  // not whole yet
    socket->disconnect(this);
    socket->deleteLater();
    if (!text.isEmpty())
        emit OnCommand(text);
}
