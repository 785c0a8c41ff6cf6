// The built program in windowless mode saves the frames of the sample archive
// and exports its channels or a media file's through the players controller,
// and ends with the status of the controller's code; and its start with a
// damaged settings file.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <QImage>
#include <QSize>
#include <QString>

#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// Runs the program with these arguments (and environment assignments before
// them); its exit code, -1 when it did not end normally.
int RunProgram(const std::string& arguments, const std::string& log, const std::string& environment = "")
{
    const std::string command =
        environment + " " + std::string(GAVEX_PLAYER_PROGRAM) + " " + arguments + " > '" + log + "' 2>&1";
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class WindowlessRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        archive = new gavex_test::TempDir("windowless-archive");
        const std::string tool = std::string(GAVEX_SAMPLE_ARCHIVE_TOOL) + " '" + Root() + "' > /dev/null";
        ASSERT_EQ(std::system(tool.c_str()), 0);
    }
    static void TearDownTestSuite()
    {
        delete archive;
        archive = nullptr;
    }
    static std::string Root() { return *archive / "archive"; }

    static gavex_test::TempDir* archive;
    gavex_test::TempDir out{"windowless-out"};
};

gavex_test::TempDir* WindowlessRun::archive = nullptr;

// The sample records its four cameras for two minutes from 10:00:00 local
// time on 2024-01-15, then again from 10:02:30 for a minute.
TEST_F(WindowlessRun, SavesEveryChannelsFrameInsideTheRecording)
{
    const struct {
        std::string destination;
        std::string folder;
        std::vector<std::string> files;
    } cases[] = {
        {"shots/frame.jpg", "shots", {"frame 1.jpg", "frame 2.jpg", "frame 3.jpg", "frame 4.jpg"}},
        {"folder",
         "folder",
         {"15-01-2024 10-00-30-400 1.jpg", "15-01-2024 10-00-30-400 2.jpg", "15-01-2024 10-00-30-400 3.jpg",
          "15-01-2024 10-00-30-400 4.jpg"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination);
        const std::string log = out / "log.txt";
        EXPECT_EQ(RunProgram("--source '" + Root() + "' --destination '" + (out / c.destination) +
                                 "' --time '2024-01-15 10:00:30.400'",
                             log),
                  0)
            << gavex_test::ReadFileString(log);
        EXPECT_EQ(FilesIn(out / c.folder), c.files);
        for (const std::string& file : c.files) {
            const QImage image(QString::fromStdString(out / (c.folder + "/" + file)));
            ASSERT_FALSE(image.isNull()) << file;
            // The recorded test picture at its size, not a blank one: its
            // colour bars give far more than a few colours.
            EXPECT_EQ(image.size(), QSize(1280, 720)) << file;
            std::set<QRgb> colours;
            for (int y = 0; y < image.height(); y += 4)
                for (int x = 0; x < image.width(); x += 4)
                    colours.insert(image.pixel(x, y));
            EXPECT_GT(colours.size(), 16u) << file;
        }
    }
}

TEST_F(WindowlessRun, RunsThatSaveNothingEndWith22AndWriteNothing)
{
    const std::string log = out / "log.txt";
    // After and before the recording; without a time the run is an export,
    // whose task has no channels without --channels.
    for (const std::string time : {"--time '2024-01-15 11:00:00.000'", "--time '2024-01-15 09:59:59.000'", ""}) {
        SCOPED_TRACE(time);
        EXPECT_EQ(RunProgram("--source '" + Root() + "' --destination '" + (out / "none") + "' " + time, log), 22)
            << gavex_test::ReadFileString(log);
        EXPECT_TRUE(FilesIn(out / "none").empty());
    }
}

// Started from a shell with "--executable <portable player>": the frame comes
// from the video the named file carries (the parent process is the shell or
// this test, neither of which carries any).
TEST_F(WindowlessRun, SavesAFrameOfTheVideoTheExecutableCarries)
{
    const std::string clip = out / "clip.mkv";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -t 2 -i "
                           "testsrc2=size=64x48:rate=10 -c:v mpeg4 '" + clip + "'")
                              .c_str()),
              0);
    // The launcher's bytes, the marker, a key of zeros (no password), the
    // video; the name gives the recording's start (local time).
    std::string player = "#!/bin/sh\nexit 0\n";
    player += "GAVEX_NEXT_VIDEO{8F804080-93E9-4EE5-B9DB-47127EB61F32}";
    player += std::string(16, '\0');
    player += gavex_test::ReadFileString(clip);
    gavex_test::WriteFileString(out / "Cam 2024-01-15 10-00-00_000.exe", player);
    const std::string log = out / "log.txt";
    ASSERT_EQ(RunProgram("--executable '" + (out / "Cam 2024-01-15 10-00-00_000.exe") + "' --destination '" +
                             (out / "shot.jpg") + "' --time '2024-01-15 10:00:01.000'",
                         log),
              0)
        << gavex_test::ReadFileString(log);
    const QImage image(QString::fromStdString(out / "shot.jpg"));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(64, 48));
}

// An export of two channels over five seconds copies their records in the
// archive's own layout and nothing of the other channels.
TEST_F(WindowlessRun, ExportsTheChosenChannelsAndEndsWith0)
{
    const std::string log = out / "log.txt";
    ASSERT_EQ(RunProgram("--source '" + Root() + "' --channels '1 2' --destination '" + (out / "copy") +
                             "' --from '2024-01-15 10:00:05.000' --to '2024-01-15 10:00:10.000'",
                         log),
              0)
        << gavex_test::ReadFileString(log);
    EXPECT_TRUE(fs::exists(out / "copy/.volumes"));
    std::set<std::string> extensions;
    int indexes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out / "copy")) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() == ".idx")
            ++indexes;
        else if (entry.is_regular_file() && name.size() > 4 && name.compare(name.size() - 4, 2, "._") == 0)
            extensions.insert(name.substr(name.size() - 3));
    }
    EXPECT_EQ(extensions, (std::set<std::string>{"_01", "_02"}));
    EXPECT_EQ(indexes, 1);
}

// An export of a media file's channel over two seconds re-muxes it into a
// file of the source's container.
TEST_F(WindowlessRun, ExportsAMediaFilesChannelAndEndsWith0)
{
    const std::string input = out / "Cam 2024-01-15 10-00-00_000.mp4";
    ASSERT_EQ(std::system(("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=160x120:rate=25 -t 6 "
                           "-c:v libx264 -g 25 -bf 2 -preset ultrafast '" + input + "'")
                              .c_str()),
              0);
    const std::string log = out / "log.txt";
    ASSERT_EQ(RunProgram("--source '" + input + "' --channels Cam --destination '" + (out / "media") +
                             "' --from '2024-01-15 10:00:01.000' --to '2024-01-15 10:00:03.000'",
                         log),
              0)
        << gavex_test::ReadFileString(log);
    const std::vector<std::string> written = FilesIn(out / "media");
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written.front().rfind("Exported 1 ", 0), 0u) << written.front();
    EXPECT_EQ(fs::path(written.front()).extension(), ".mp4");
    EXPECT_GT(fs::file_size(fs::path(out / "media") / written.front()), 0u);
}

// A settings file that lost its last line once ended every start with an
// abort until it was deleted by hand.
TEST(ProgramStart, ADamagedSettingsFileIsSetAsideAndLogged)
{
    // The file beside the program comes first; the test damages the one in
    // the data folder, which is read only when that one is missing.
    if (fs::exists(fs::path(GAVEX_PLAYER_PROGRAM).replace_extension(".xml")))
        GTEST_SKIP() << "a settings file lies beside the program";
    gavex_test::TempDir dir("damaged-settings");
    const std::string folder = dir / "data/GavexSoft/GavexPlayer";
    fs::create_directories(folder);
    fs::create_directories(dir / "registry");
    // Log lines to stderr.
    gavex_test::WriteFileString(dir / "registry/machine.reg",
                                "[SOFTWARE\\QOR\\Vindara\\Debug]\n\"DebugOptions\"=dword:000000f0\n");
    const std::string damaged =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<!DOCTYPE boost_serialization>\n"
        "<boost_serialization signature=\"serialization::archive\" version=\"18\">\n"
        "<Settings class_id=\"0\" tracking_level=\"0\" version=\"2\">\n";
    const std::string settings = folder + "/" + fs::path(GAVEX_PLAYER_PROGRAM).filename().string() + ".xml";
    gavex_test::WriteFileString(settings, damaged);
    const std::string log = dir / "log.txt";
    EXPECT_EQ(RunProgram("--help", log,
                         "XDG_DATA_HOME='" + (dir / "data") + "' GAVEX_REGISTRY_DIR='" + (dir / "registry") + "'"),
              0)
        << gavex_test::ReadFileString(log);
    EXPECT_FALSE(fs::exists(settings));
    EXPECT_EQ(gavex_test::ReadFileString(settings + ".bad"), damaged);
    // The data folder's path holds doubled separators (folders are joined
    // with one more "/").
    EXPECT_NE(gavex_test::ReadFileString(log).find("/Gavex_player.xml' does not load"), std::string::npos)
        << gavex_test::ReadFileString(log);
}

}  // namespace
