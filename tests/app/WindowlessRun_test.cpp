// The built program in windowless mode saves the frames of the sample archive
// through the players controller, and ends with the controller's code.

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

// Runs the program with these arguments; its exit code, -1 when it did not
// end normally.
int RunProgram(const std::string& arguments, const std::string& log)
{
    const std::string command = std::string(GAVEX_PLAYER_PROGRAM) + " " + arguments + " > '" + log + "' 2>&1";
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

}  // namespace
