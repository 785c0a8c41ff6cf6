// A source that gives no channel is reported with its path and the reason,
// as a warning message (without a display: on stderr), and the controller
// then opens the sample archive as if nothing had happened.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <boost/make_shared.hpp>

#include "app/CommandLine.h"
#include "app/MessageBox.h"
#include "config/QApplicationSettings.h"
#include "media/SourceConfiguration.h"
#include "playback/PlaybackGui.h"
#include "playback/PlayersController.h"
#include "render/NullRendererDevice.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// What the code under test writes to stderr while `step` runs.
template <class Step>
std::string CaptureStderr(const fs::path& file, Step&& step)
{
    std::fflush(stderr);
    const int saved = ::dup(2);
    std::FILE* sink = std::fopen(file.c_str(), "w");
    ::dup2(::fileno(sink), 2);
    step();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::fclose(sink);
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class EmptySourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        application = std::make_unique<QApplication>(argc, argv);
        saved = QApplicationSettings::Instance().Live;
        savedFiles = QApplicationSettings::Instance().CandidateFiles;
        QApplicationSettings::Instance().CandidateFiles = {};
        controller = std::make_unique<playback::PlayersController>(
            playback::HeadlessGui::Bundle(gui),
            playback::MakePlaybackRenderer(boost::make_shared<render::NullRendererDevice>()));
        // As the main window shows it.
        connection = controller->NothingToPlay.connect([this](const std::string& text) {
            messages.push_back(text);
            ShowMessageBox(QMessageBox::Warning, QString::fromStdString(text));
        });
    }
    void TearDown() override
    {
        connection.disconnect();
        controller.reset();
        QApplicationSettings::Instance().Live = saved;
        QApplicationSettings::Instance().CandidateFiles = savedFiles;
        application.reset();
    }

    // Opens `path` as a forwarded command line does; returns stderr.
    std::string Open(const std::string& path)
    {
        const CommandLineResult parsed = ParseCommandLine("Gavex_player --source \"" + path + "\"");
        EXPECT_FALSE(parsed.rejected) << parsed.error;
        return CaptureStderr(dir / "stderr.txt", [&] { controller->OpenSource(parsed.options); });
    }

    int argc = 1;
    char name[8] = "test";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> application;
    gavex_test::TempDir dir{"emptysource"};
    SettingsProfile saved;
    std::vector<std::wstring> savedFiles;
    std::shared_ptr<playback::HeadlessGui> gui = std::make_shared<playback::HeadlessGui>();
    std::unique_ptr<playback::PlayersController> controller;
    boost::signals2::scoped_connection connection;
    std::vector<std::string> messages;
};

TEST_F(EmptySourceTest, EachBadSourceSaysWhyAndTheSampleStillOpens)
{
    const fs::path root = dir.path();
    fs::create_directories(root / "notes");
    WriteFile(root / "notes" / "readme.txt", "not video");
    // The first bytes of an MP4: a file type box, then the file stops.
    WriteFile(root / "cut.mp4", std::string("\0\0\0\x18" "ftypmp42\0\0\0\0mp42isom\0\0\x10\0moov", 32));
    WriteFile(root / "plain", "a file");

    const struct {
        const char* what;
        fs::path path;
        const char* reason;
    } cases[] = {
        {"a folder that is not an archive", root / "notes", "no archive was found in the folder"},
        {"a truncated MP4", root / "cut.mp4", "the media file cannot be opened"},
        {"a missing path", root / "missing", "the path does not exist"},
        // Tests run as root, who reads every folder: a path below a file
        // cannot be read by anyone.
        {"an unreadable path", root / "plain" / "inside", "the path cannot be read"},
    };
    for (const auto& c : cases) {
        messages.clear();
        const std::string printed = Open(c.path.string());
        ASSERT_EQ(messages.size(), 1u) << c.what;
        const std::string& text = messages.front();
        EXPECT_NE(text.find("\"" + c.path.string() + "\""), std::string::npos) << c.what << ": " << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << c.what << ": " << text;
        EXPECT_NE(printed.find(text), std::string::npos) << c.what << ": without a display the text is on stderr";
        EXPECT_TRUE(QApplicationSettings::Instance().Live.Channels.empty()) << c.what;
        EXPECT_FALSE(gui->LastEnabledState().playback) << c.what << ": nothing to play";
    }

    const std::string sample = (root / "sample").string();
    ASSERT_EQ(std::system((std::string(GAVEX_SAMPLE_ARCHIVE_TOOL) + " '" + sample + "' > /dev/null").c_str()), 0);
    messages.clear();
    gui->ClearCalls();
    Open(sample);
    EXPECT_TRUE(messages.empty()) << (messages.empty() ? std::string() : messages.front());
    EXPECT_EQ(QApplicationSettings::Instance().Live.Channels.size(), 4u) << "the sample's four cameras";
    EXPECT_EQ(gui->Calls("CreateItems"), (std::vector<std::string>{"CreateItems 4"}));
    EXPECT_TRUE(gui->LastEnabledState().playback) << "the controls take the new source";
}

TEST(EmptySource, ReasonsOfThePathsAsTheUserChoseThem)
{
    gavex_test::TempDir dir("emptyreasons");
    const fs::path root = dir.path();
    fs::create_directories(root / "clips" / "day1");
    WriteFile(root / "clips" / "day1" / "gate.mkv", "no matroska here");
    fs::create_directories(root / "empty");
    WriteFile(root / "list.txt", "text");
    using Mode = ISourceConfiguration::ESourceMode;
    const struct {
        const char* what;
        std::string paths;
        Mode mode;
        std::string expected;
    } cases[] = {
        {"nothing chosen", "", Mode::AVI_FILES, ""},
        {"a folder of media files none of which opens", (root / "clips").string(), Mode::AVI_FILES,
         "No video from \"" + (root / "clips").string() + "\": no media file in the folder can be opened."},
        {"an empty folder of media files", (root / "empty").string(), Mode::AVI_FILES,
         "No video from \"" + (root / "empty").string() + "\": no archive or media file was found in the folder."},
        {"the same folder as an archive", (root / "clips").string(), Mode::FOLDER,
         "No video from \"" + (root / "clips").string() + "\": no archive was found in the folder."},
        {"a file of another kind", (root / "list.txt").string(), Mode::SINGLE_FILE,
         "No video from \"" + (root / "list.txt").string() + "\": the file is neither an archive file nor a media file."},
        {"the first path at fault is named", (root / "gone").string() + "|" + (root / "empty").string(),
         Mode::AVI_FILES, "No video from \"" + (root / "gone").string() + "\": the path does not exist."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribeEmptySource(c.paths, c.mode), c.expected) << c.what;
}

}  // namespace
