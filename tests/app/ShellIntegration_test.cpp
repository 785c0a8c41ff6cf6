// The desktop entry and the archive file type, written into XDG_DATA_HOME.

#include <gtest/gtest.h>

#include <cstdlib>

#include <QCoreApplication>

#include "app/ShellIntegration.h"
#include "support/TempDir.h"

using gavex_test::ReadFileString;
using gavex_test::TempDir;

namespace {

TEST(ShellIntegration, DesktopEntryAndFileTypes)
{
    TempDir data("xdg");
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);

    ASSERT_TRUE(IntegrateWithShell(false));
    const std::string desktop = ReadFileString(data / "applications/gavexplayer-play-with.desktop");
    const std::string program = QCoreApplication::applicationFilePath().toStdString();
    EXPECT_NE(desktop.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(desktop.find("Name=Play with Gavex Player\n"), std::string::npos) << desktop;
    EXPECT_NE(desktop.find("Exec=\"" + program + "\" --source \"%f\"\n"), std::string::npos) << desktop;
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

    // Quoting of programs with reserved characters.
    EXPECT_EQ(ShellCommand("/opt/a \"b\"$c"), "\"/opt/a \\\\\"b\\\\\"\\\\$c\" --source \"%f\"");
}

}  // namespace
