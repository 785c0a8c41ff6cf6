#pragma once
// One window per executable and user: a new instance hands its command line
// to the running one over a local socket and ends, or (started by a portable
// player) asks it to shut down and takes its place.
//
// Message: one QString in a version-13 QDataStream per connection, the
// command line or "shutdown".

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

class QInstanceChecker : public QObject {
    Q_OBJECT
public:
    // Waits for a connection and for a written message; the running
    // instance drops a client that sends nothing within this time.
    static constexpr int kTimeoutMs = 30000;

    // name: the socket name; ChannelName() when empty.
    explicit QInstanceChecker(QObject* parent = nullptr, QString name = {});

    // The socket name: the executable's file name and the user id.
    static QString ChannelName();

    // True when this instance goes on (and now listens); false when a
    // running instance took the command line. A message that could not be
    // written whole counts as no hand-off. With sendShutdown the running
    // instance is asked to close and this one listens once it is gone.
    bool Start(const QString& commandLine, bool singleInstance, bool sendShutdown);
    bool IsListening() const;

signals:
    void OnCommand(QString command);

private slots:
    void onConnected();

private:
    bool Listen(const QString& name, int waitMs);
    void ReadMessage(QLocalSocket* socket);

    QString m_name;
    QLocalServer* m_server = nullptr;
};
