// The desktop entry and the archive file type, written into XDG_DATA_HOME.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include "app/ShellIntegration.h"
#include "support/TempDir.h"

using gavex_test::ReadFileString;
using gavex_test::TempDir;
using gavex_test::WriteFileString;

namespace {

// The arguments a launcher runs for an Exec value and one file, read as the
// desktop-entry rules say: the string escapes (\s \n \t \r \\) are undone
// first; then blanks separate arguments, a double-quoted argument takes a
// backslash before '"', '`', '$' and '\' as an escape, "%%" is a '%', and
// the field code "%f" (the file) may stand only outside quotes. nullopt
// for a value the rules refuse.
std::optional<std::vector<std::string>> LaunchArguments(const std::string& exec, const std::string& file)
{
    std::string value;
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] != '\\') {
            value += exec[i];
            continue;
        }
        if (++i == exec.size())
            return std::nullopt;
        const std::string from = "sntr\\", to = " \n\t\r\\";
        const size_t escape = from.find(exec[i]);
        if (escape == std::string::npos)
            return std::nullopt;
        value += to[escape];
    }
    std::vector<std::string> arguments;
    std::optional<std::string> current;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == ' ') {
            if (current)
                arguments.push_back(*current);
            current.reset();
        } else if (c == '"') {
            if (!current)
                current.emplace();
            for (++i;; ++i) {
                if (i >= value.size())
                    return std::nullopt;
                const char q = value[i];
                if (q == '"')
                    break;
                if (q == '\\') {
                    if (++i >= value.size() || std::string("\"`$\\").find(value[i]) == std::string::npos)
                        return std::nullopt;
                    *current += value[i];
                } else if (q == '%') {
                    if (++i >= value.size() || value[i] != '%')
                        return std::nullopt;  // a field code inside quotes
                    *current += '%';
                } else {
                    *current += q;
                }
            }
        } else if (c == '%') {
            if (!current)
                current.emplace();
            if (++i >= value.size() || (value[i] != '%' && value[i] != 'f'))
                return std::nullopt;
            *current += value[i] == 'f' ? file : "%";
        } else if (std::string("\t\n'\\><~|&;$*?#()`").find(c) != std::string::npos) {
            return std::nullopt;  // reserved outside quotes
        } else {
            if (!current)
                current.emplace();
            *current += c;
        }
    }
    if (current)
        arguments.push_back(*current);
    return arguments;
}

class ShellIntegration : public ::testing::Test {
protected:
    int m_argc = 1;
    char m_name[5] = "test";
    char* m_argv[2] = {m_name, nullptr};
    QCoreApplication m_application{m_argc, m_argv};
};

TEST_F(ShellIntegration, DesktopEntryAndFileTypes)
{
    TempDir data("xdg");
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);

    ASSERT_TRUE(IntegrateWithShell(false));
    const std::string desktop = ReadFileString(data / "applications/gavexplayer-play-with.desktop");
    const std::string program = QCoreApplication::applicationFilePath().toStdString();
    EXPECT_NE(desktop.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(desktop.find("Name=Play with Gavex Player\n"), std::string::npos) << desktop;
    EXPECT_NE(desktop.find("Exec=\"" + program + "\" --source %f\n"), std::string::npos) << desktop;
    EXPECT_NE(desktop.find("MimeType=inode/directory;application/x-gavex-archive;\n"), std::string::npos);

    const std::string mime = ReadFileString(data / "mime/packages/gavexplayer-archive.xml");
    EXPECT_NE(mime.find("<comment>Gavex Player video file</comment>"), std::string::npos);
    EXPECT_NE(mime.find("<glob pattern=\"*._01\"/>"), std::string::npos);
    EXPECT_NE(mime.find("<glob pattern=\"*._99\"/>"), std::string::npos);
    EXPECT_EQ(mime.find("*._00"), std::string::npos);
    EXPECT_EQ(mime.find("*._100"), std::string::npos);
    size_t globs = 0;
    for (size_t at = mime.find("<glob "); at != std::string::npos; at = mime.find("<glob ", at + 1))
        ++globs;
    EXPECT_EQ(globs, 99u);
}

// The launcher must hand the program the chosen path as it is, as one
// argument, whatever the program's path and the chosen path hold.
TEST_F(ShellIntegration, LaunchersRunTheProgramWithTheChosenPath)
{
    const std::string file = "/media/my archive/it's \"here\" at 50% $HOME";
    for (const std::string program :
         {"/opt/gavex/Gavex_player", "/opt/my player/a \"b\"$c`d", "/opt/100%/p", "/opt/back\\slash/p"}) {
        const std::string exec = ShellCommand(QString::fromStdString(program)).toStdString();
        EXPECT_EQ(LaunchArguments(exec, file), (std::vector<std::string>{program, "--source", file})) << exec;
    }
}

// The same through GLib's own launcher, where it is installed.
TEST_F(ShellIntegration, GioLaunchHandsOverThePath)
{
    const QString gio = QStandardPaths::findExecutable("gio");
    if (gio.isEmpty())
        GTEST_SKIP() << "gio is not installed";
    TempDir dir("launch");
    std::filesystem::create_directories(dir / "my programs");
    std::filesystem::create_directories(dir / "chosen folder 1");
    const std::string program = dir / "my programs/print args";
    const std::string out = dir / "args.txt";
    WriteFileString(program, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > '" + out +
                                 ".part'\nmv '" + out + ".part' '" + out + "'\n");
    ::chmod(program.c_str(), 0755);
    const std::string entry = dir / "play-with.desktop";
    WriteFileString(entry, "[Desktop Entry]\nType=Application\nName=Play with\nExec=" +
                               ShellCommand(QString::fromStdString(program)).toStdString() + "\n");
    QProcess launch;
    launch.start(gio, {"launch", QString::fromStdString(entry), QString::fromStdString(dir / "chosen folder 1")});
    ASSERT_TRUE(launch.waitForFinished(20000));
    ASSERT_EQ(launch.exitCode(), 0) << launch.readAllStandardError().toStdString();
    for (int i = 0; i < 200 && !std::filesystem::exists(out); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ReadFileString(out), "[--source]\n[" + (dir / "chosen folder 1") + "]\n");
}

}  // namespace
