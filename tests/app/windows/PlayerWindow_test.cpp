// The whole program in its window on a private X server: it opens the sample
// archive, shows it, and closes when a later instance asks it to shut down,
// saving its settings file. A screenshot of the screen is kept as a test
// artifact.

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <QApplication>
#include <QDataStream>
#include <QLocalSocket>
#include <QProcess>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include "config/QApplicationSettings.h"
#include "config/ResourcePaths.h"
#include "support/TempDir.h"
#include "app/windows/XvfbDisplay.h"

namespace {

namespace fs = std::filesystem;
using gavex_test::TempDir;
using gavex_test::XvfbDisplay;

// The program under its own name in dir: its settings file and its instance
// channel are its own.
fs::path PlaceProgram(const fs::path& dir, const std::string& name)
{
    const fs::path target = dir / name;
    std::error_code ec;
    fs::create_hard_link(GAVEX_PLAYER_PROGRAM, target, ec);
    if (ec)
        fs::copy_file(GAVEX_PLAYER_PROGRAM, target, ec);
    EXPECT_FALSE(ec) << ec.message();
    // What the program finds beside itself: its skin and its libraries.
    for (const auto& entry : fs::directory_iterator(fs::path(GAVEX_PLAYER_PROGRAM).parent_path())) {
        const fs::path& path = entry.path();
        if (path.filename() == "Resources" || path.extension() == ".so")
            fs::create_symlink(path, dir / path.filename(), ec);
    }
    return target;
}

bool SendToInstance(const QString& channel, const QString& message)
{
    QLocalSocket socket;
    socket.connectToServer(channel, QIODevice::WriteOnly);
    if (!socket.waitForConnected(1000))
        return false;
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_5_0);
    stream << message;
    socket.write(bytes);
    socket.waitForBytesWritten(5000);
    socket.disconnectFromServer();
    return true;
}

// The shell and the program it started.
void KillWithChildren(QProcess& shell)
{
    const std::string pid = std::to_string(shell.processId());
    std::ifstream children("/proc/" + pid + "/task/" + pid + "/children");
    for (pid_t child = 0; children >> child;)
        ::kill(child, SIGKILL);
    shell.kill();
    shell.waitForFinished(5000);
}

bool WaitForListener(const QString& channel, QProcess& program, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && program.state() != QProcess::NotRunning) {
        QLocalSocket probe;
        probe.connectToServer(channel, QIODevice::ReadOnly);
        if (probe.waitForConnected(200)) {
            probe.disconnectFromServer();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// render: the stored Render setting the program starts with; withGL: the
// program may use the X server's GLX.
void ShowsTheSampleAndShutsDown(int render, bool withGL, const std::string& shotName)
{
    XvfbDisplay x;
    ASSERT_TRUE(x.Running());
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);

    TempDir dir("playerwindow");
    const std::string programName = "GavexWindow" + std::to_string(::getpid());
    const fs::path program = PlaceProgram(dir.path(), programName);
    {
        QApplicationSettings stored;
        stored.Render = render;
        ASSERT_TRUE(stored.SaveToFile(fs::path(dir / (programName + ".xml")).wstring()));
    }
    const std::string sample = dir / "sample";
    ASSERT_EQ(std::system((std::string(GAVEX_SAMPLE_ARCHIVE_TOOL) + " '" + sample + "' > /dev/null").c_str()), 0);

    // Started through a shell: a program whose parent carries the portable
    // player's marker (as this test binary does) would ask for a password.
    QProcess player;
    player.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (withGL) {
        environment.remove("QT_XCB_GL_INTEGRATION");
        // Mesa unloads its GLX driver when the window's display closes, before
        // a sanitizer's leak check at exit, and the driver's one-time
        // allocations then read as leaks of no known code. The player's own
        // leaks are checked in the runs without OpenGL.
        const QString leakOptions = environment.value("LSAN_OPTIONS");
        environment.insert("LSAN_OPTIONS", leakOptions + (leakOptions.isEmpty() ? "" : ":") + "detect_leaks=0");
    }
    player.setProcessEnvironment(environment);
    player.start("/bin/sh", {"-c", "\"$0\" \"$@\"; exit $?", QString::fromStdString(program.string()), "--source",
                             QString::fromStdString(sample)});
    ASSERT_TRUE(player.waitForStarted(5000));
    const QString channel = QString::fromStdString(programName) + "." + QString::number(::getuid());
    if (!WaitForListener(channel, player, 20000)) {
        KillWithChildren(player);
        FAIL() << "the program did not come up";
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));

    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    fs::create_directories(fs::path(GAVEX_TEST_BINARY_DIR) / "artifacts");
    const fs::path shot = fs::path(GAVEX_TEST_BINARY_DIR) / "artifacts" / shotName;
    EXPECT_TRUE(screen.save(QString::fromStdString(shot.string())));

    ASSERT_TRUE(SendToInstance(channel, "shutdown"));
    const bool ended = player.waitForFinished(20000);
    if (!ended)
        KillWithChildren(player);
    ASSERT_TRUE(ended) << "\"shutdown\" closes the window and ends the program";
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.exitCode(), 0);

    const fs::path settingsFile = dir / (programName + ".xml");
    ASSERT_TRUE(fs::exists(settingsFile));
    QApplicationSettings read;
    read.ReadFile(settingsFile.wstring());
    EXPECT_EQ(read.WindowWidth, 1024) << "the default size, saved at close";
    EXPECT_EQ(read.WindowHeight, 768);
    EXPECT_EQ(read.State, 0);
    EXPECT_EQ(read.Render, render) << "the device setting is kept";

    // What the screen showed: the window where it was saved, its upper part
    // a 2 x 2 grid whose every cell holds the sample's bars, the selection
    // colour round the first channel, the skinned panels below.
    const QRect window(read.WindowLeft, read.WindowTop, read.WindowWidth, read.WindowHeight);
    ASSERT_TRUE(screen.rect().contains(window)) << "see " << shot;
    const auto count = [&](const QRect& area, auto&& wanted) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); y += 2)
            for (int x = area.left(); x <= area.right(); x += 2)
                n += wanted(QColor(screen.pixel(x, y)));
        return n;
    };
    const auto yellow = [](const QColor& c) { return c.red() > 200 && c.green() > 200 && c.blue() < 60; };
    const auto blue = [](const QColor& c) { return c.blue() > 200 && c.red() < 60 && c.green() < 60; };
    const auto selection = [](const QColor& c) {
        return std::abs(c.red() - 98) < 8 && std::abs(c.green() - 167) < 8 && std::abs(c.blue() - 254) < 8;
    };
    const int cellWidth = window.width() / 2;
    const int videoHeight = window.height() * 3 / 4;  // the panels take less than a quarter
    for (int cell = 0; cell < 4; ++cell) {
        const QRect area(window.left() + (cell % 2) * cellWidth, window.top() + (cell / 2) * (videoHeight / 2), cellWidth,
                         videoHeight / 2);
        EXPECT_GT(count(area, yellow), 200) << "cell " << cell << " holds the sample's yellow bar; see " << shot;
        EXPECT_GT(count(area, blue), 200) << "cell " << cell << " holds the sample's blue bar";
        if (cell == 0)
            EXPECT_GT(count(area, selection), 200) << "the selected channel is ringed";
        else  // clear of the edges the selected cell's ring may reach
            EXPECT_LT(count(area.adjusted(40, 40, -40, -40), selection), 20) << "cell " << cell << " is not selected";
    }
    const QRect panels(window.left(), window.top() + videoHeight + 40, window.width(), window.height() - videoHeight - 40);
    EXPECT_LT(count(panels, [](const QColor& c) { return c.value() < 8; }), panels.width() * panels.height() / 8)
        << "the panels below the grid are painted";
    // The united time line's snapshot and print buttons show their skin:
    // the opaque pixels of each normal look appear unscaled on the screen.
    for (const char* look : {"shot_normal", "print_normal"}) {
        const QImage image = QImage(ResourcePath(ApplicationDirectory(), QString(look) + ".png"))
                                 .convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(image.isNull()) << look;
        const auto matchesAt = [&](int left, int top) {
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb want = image.pixel(x, y);
                    if (qAlpha(want) != 255)
                        continue;
                    const QRgb got = screen.pixel(left + x, top + y);
                    if (std::abs(qRed(got) - qRed(want)) > 6 || std::abs(qGreen(got) - qGreen(want)) > 6 ||
                        std::abs(qBlue(got) - qBlue(want)) > 6)
                        return false;
                }
            return true;
        };
        bool found = false;
        for (int y = panels.top(); !found && y + image.height() <= panels.bottom(); ++y)
            for (int x = panels.left(); !found && x + image.width() <= panels.right(); ++x)
                found = matchesAt(x, y);
        EXPECT_TRUE(found) << "the " << look << " button is painted; see " << shot;
    }
}

// Started on a path that holds nothing, the program shows its warning over
// an empty window and still opens the sample that a later instance sends.
TEST(PlayerWindow, OpensTheSampleAfterASourceThatHeldNothing)
{
    XvfbDisplay x;
    ASSERT_TRUE(x.Running());
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);

    TempDir dir("emptythensample");
    const std::string programName = "GavexEmpty" + std::to_string(::getpid());
    const fs::path program = PlaceProgram(dir.path(), programName);
    {
        QApplicationSettings stored;
        stored.Render = 1;
        ASSERT_TRUE(stored.SaveToFile(fs::path(dir / (programName + ".xml")).wstring()));
    }
    const std::string sample = dir / "sample";
    ASSERT_EQ(std::system((std::string(GAVEX_SAMPLE_ARCHIVE_TOOL) + " '" + sample + "' > /dev/null").c_str()), 0);

    QProcess player;
    player.setProcessChannelMode(QProcess::ForwardedChannels);
    player.start("/bin/sh", {"-c", "\"$0\" \"$@\"; exit $?", QString::fromStdString(program.string()), "--source",
                             QString::fromStdString(dir / "missing")});
    ASSERT_TRUE(player.waitForStarted(5000));
    const QString channel = QString::fromStdString(programName) + "." + QString::number(::getuid());
    if (!WaitForListener(channel, player, 20000)) {
        KillWithChildren(player);
        FAIL() << "the program did not come up";
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto barPixels = [] {
        const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        int yellow = 0;
        int blue = 0;
        for (int y = 0; y < screen.height(); y += 2)
            for (int x = 0; x < screen.width(); x += 2) {
                const QColor c(screen.pixel(x, y));
                yellow += c.red() > 200 && c.green() > 200 && c.blue() < 60;
                blue += c.blue() > 200 && c.red() < 60 && c.green() < 60;
            }
        return std::min(yellow, blue);
    };
    EXPECT_LT(barPixels(), 50) << "nothing plays";
    {
        // The message box: a light grey sheet over the dark window.
        const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        int sheet = 0;
        for (int y = 0; y < screen.height(); y += 2)
            for (int x = 0; x < screen.width(); x += 2) {
                const QColor c(screen.pixel(x, y));
                sheet += c.value() > 225 && c.saturation() < 20;
            }
        EXPECT_GT(sheet, 3000) << "the warning box is shown";
    }
    EXPECT_EQ(player.state(), QProcess::Running) << "the warning does not end the program";

    // The warning box is still up: the window takes the next source anyway.
    ASSERT_TRUE(SendToInstance(channel, QString("\"%1\" --source \"%2\"")
                                            .arg(QString::fromStdString(program.string()), QString::fromStdString(sample))));
    int bars = 0;
    for (int wait = 0; wait < 20 && bars < 800; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        bars = barPixels();
    }
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    fs::create_directories(fs::path(GAVEX_TEST_BINARY_DIR) / "artifacts");
    const fs::path shot = fs::path(GAVEX_TEST_BINARY_DIR) / "artifacts" / "player-window-after-empty.png";
    screen.save(QString::fromStdString(shot.string()));
    EXPECT_GE(bars, 800) << "the sample's four cameras show; see " << shot;
    KillWithChildren(player);
}

TEST(PlayerWindow, ShowsTheSampleAndShutsDownForALaterInstance)
{
    ShowsTheSampleAndShutsDown(1, false, "player-window.png");
}

// The OpenGL device draws into the window's own surface through GLX.
TEST(PlayerWindow, ShowsTheSampleThroughOpenGL)
{
    ShowsTheSampleAndShutsDown(0, true, "player-window-opengl.png");
}

}  // namespace
