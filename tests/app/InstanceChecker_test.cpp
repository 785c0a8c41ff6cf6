// One instance per user: hand-off of a command line by a second process,
// "shutdown", silent clients and stale sockets.

#include <gtest/gtest.h>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QStringList>

#include "app/InstanceChecker.h"

namespace {

QString UniqueName(const char* tag)
{
    return QStringLiteral("gavex-test-%1-%2").arg(tag).arg(::getpid());
}

class InstanceCheckerTest : public ::testing::Test {
protected:
    // Runs the second instance while this one serves its events.
    QString RunTool(const QStringList& arguments, int* exitCode)
    {
        QProcess tool;
        tool.start(GAVEX_TEST_TOOLS_DIR "/instance_tool", arguments);
        EXPECT_TRUE(tool.waitForStarted(10000));
        QElapsedTimer elapsed;
        elapsed.start();
        while (tool.state() != QProcess::NotRunning && elapsed.elapsed() < 60000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            tool.waitForFinished(20);
        }
        *exitCode = tool.exitCode();
        return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    }

    // Serves events until the condition holds or the time is up.
    template <class Condition>
    bool ServeUntil(Condition condition, int ms = 10000)
    {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!condition() && elapsed.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return condition();
    }

    int m_argc = 1;
    char m_name[5] = "test";
    char* m_argv[2] = {m_name, nullptr};
    QCoreApplication m_application{m_argc, m_argv};
};

TEST_F(InstanceCheckerTest, SecondProcessHandsOverItsCommandLine)
{
    const QString name = UniqueName("handoff");
    QInstanceChecker first(nullptr, name);
    QStringList received;
    QObject::connect(&first, &QInstanceChecker::OnCommand, [&](const QString& text) { received << text; });
    ASSERT_TRUE(first.Start("first", true, false));
    ASSERT_TRUE(first.IsListening());

    int exitCode = -1;
    const QString line = QStringLiteral("\"/opt/p\" --source \"/media/Überwachung 1\"");
    EXPECT_EQ(RunTool({name, "send", line}, &exitCode), "handed-off");
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(ServeUntil([&] { return !received.isEmpty(); }));
    EXPECT_EQ(received, QStringList{line});

    // With single-instance mode off no connection is tried.
    QInstanceChecker independent(nullptr, name);
    EXPECT_TRUE(independent.Start("other", false, false));
    ServeUntil([] { return false; }, 200);
    EXPECT_EQ(received.size(), 1);
}

TEST_F(InstanceCheckerTest, ShutdownReplacesTheRunningInstance)
{
    const QString name = UniqueName("shutdown");
    auto* first = new QInstanceChecker(nullptr, name);
    ASSERT_TRUE(first->Start("first", true, false));
    // The running instance closes when told (as its main window does).
    QObject::connect(first, &QInstanceChecker::OnCommand, [&](const QString& text) {
        if (text == "shutdown")
            first->deleteLater();
    });
    int exitCode = -1;
    EXPECT_EQ(RunTool({name, "shutdown"}, &exitCode), "listening");
    EXPECT_EQ(exitCode, 0);
}

TEST_F(InstanceCheckerTest, SilentClientBlocksNothing)
{
    const QString name = UniqueName("silent");
    QInstanceChecker first(nullptr, name);
    QStringList received;
    QObject::connect(&first, &QInstanceChecker::OnCommand, [&](const QString& text) { received << text; });
    ASSERT_TRUE(first.Start("first", true, false));

    QLocalSocket silent;
    silent.connectToServer(name);
    ASSERT_TRUE(silent.waitForConnected(5000));
    ServeUntil([] { return false; }, 200);

    // A message in two parts is taken once it is whole.
    QLocalSocket slow;
    slow.connectToServer(name);
    ASSERT_TRUE(slow.waitForConnected(5000));
    QByteArray message;
    QDataStream stream(&message, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_5_0);
    stream << QStringLiteral("--source /x");
    slow.write(message.left(6));
    slow.flush();
    ServeUntil([] { return false; }, 200);
    EXPECT_TRUE(received.isEmpty());
    slow.write(message.mid(6));
    slow.flush();
    ASSERT_TRUE(ServeUntil([&] { return !received.isEmpty(); }, 5000)) << "the silent client held the thread";
    EXPECT_EQ(received, QStringList{"--source /x"});

    // An empty string is no command.
    QLocalSocket empty;
    empty.connectToServer(name);
    ASSERT_TRUE(empty.waitForConnected(5000));
    QByteArray nothing;
    QDataStream emptyStream(&nothing, QIODevice::WriteOnly);
    emptyStream.setVersion(QDataStream::Qt_5_0);
    emptyStream << QString("");
    empty.write(nothing);
    empty.flush();
    ServeUntil([] { return false; }, 300);
    EXPECT_EQ(received.size(), 1);
}

TEST_F(InstanceCheckerTest, StaleSocketIsRemoved)
{
    const QString name = UniqueName("stale");
    const QByteArray path = (QDir::tempPath() + "/" + name).toLocal8Bit();
    // A socket file that nobody serves, as a process that was killed leaves.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(QString::fromLocal8Bit(path)));

    QInstanceChecker checker(nullptr, name);
    EXPECT_TRUE(checker.Start("line", true, false)) << "nobody took the line";
    EXPECT_TRUE(checker.IsListening());
}

}  // namespace
