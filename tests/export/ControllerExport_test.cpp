// The players controller's windowless export through the installed engine
// maker, over the native fixture archive: the stored tasks run, progress
// reaches the controller and the run completes with the engine's final code;
// a failure has a code, a message and a log line of its own, a success reads
// as one; a media file is exported by the media-file engine.

#include "playback/PlayersController.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>

#include <QApplication>
#include <cstdlib>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "NativeFixture.h"
#include "base/Log.h"
#include "config/QApplicationSettings.h"
#include "config/StartOptions.h"
#include "export/WindowlessExport.h"
#include "media/MediaFileVideoSource.h"
#include "media/SourceConfiguration.h"
#include "playback/AudioPlayer.h"
#include "playback/AudioSink.h"
#include "playback/PlaybackGui.h"
#include "render/Renderer.h"
#include "support/MediaFiles.h"
#include "support/RecordingDevice.h"
#include "support/SilentSink.h"

namespace {

using namespace exporttest;

using testsupport::SilentSink;

// The export control panel as the controller reports to it.
class ProgressRecorder final : public playback::IExportControlPanel {
public:
    ProgressRecorder(std::function<void(int)> processed, std::function<void(const std::string&)> message)
        : processed(std::move(processed)), message(std::move(message))
    {
    }
    void PostProcessed(int percent) override { processed(percent); }
    void PostComplete() override {}
    void PostMessage(const std::string& text) override { message(text); }

private:
    std::function<void(int)> processed;
    std::function<void(const std::string&)> message;
};

// The process log's lines from its construction on, read back from the log
// file; the level is raised to messages for the while.
class LogLines {
public:
    LogLines() : m_logger(getDefaultDebugInstance()), m_level(m_logger->GetLevel())
    {
        if (m_level < 2)
            m_logger->SetLevel(2);
        m_mark = "export log test " + std::to_string(::getpid()) + " " +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        m_logger->Message("%s", m_mark.c_str());
    }
    ~LogLines() { m_logger->SetLevel(m_level); }

    std::string Text(const std::string& copy)
    {
        EXPECT_TRUE(m_logger->FlushAndCopy(copy.c_str())) << m_logger->GetLogPath();
        const std::string text = gavex_test::ReadFileString(copy);
        const size_t at = text.rfind(m_mark);
        return at == std::string::npos ? std::string() : text.substr(at + m_mark.size());
    }

private:
    QorLog::CDebug* m_logger;
    int m_level;
    std::string m_mark;
};

class ControllerExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        Storage::InstallExportEngineFactory();
        SettingsProfile& live = QApplicationSettings::Instance().Live;
        saved = live;
        live.SourceMode = ISourceConfiguration::DRIVES;
        live.VideoFolders[ISourceConfiguration::DRIVES] = {Wide(archive.first), Wide(archive.second)};
        live.Channels.clear();
        live.SourceNativeVideo = false;
    }
    void TearDown() override
    {
        playback::SetExportEngineFactory({});
        QApplicationSettings::Instance().Live = saved;
    }

    struct Outcome {
        int code = -1;
        std::vector<int> overall;  // every batch percent the controller reported
        std::vector<std::string> enabled;
        std::vector<std::string> messages;  // the control panel's, one a run
        int runningDuringExport = 0;
    };

    // The windowless start with `folder` as the export folder setting and
    // the stored `tasks`; waits (running the controller's thread) until the
    // run completes.
    Outcome Run(const std::string& folder, const std::vector<Storage::ExportTask>& tasks,
                const std::string& source = {})
    {
        SettingsProfile& live = QApplicationSettings::Instance().Live;
        live.ExportFolder = Wide(folder);
        live.ExportTasks = tasks;
        auto gui = std::make_shared<playback::HeadlessGui>();
        Outcome outcome;
        std::mutex lock;
        std::atomic<bool> completed{false};
        playback::PlayersController* running = nullptr;
        playback::PlaybackGui bundle = playback::HeadlessGui::Bundle(gui);
        bundle.exportControl = std::make_shared<ProgressRecorder>([&](int percent) {
            std::lock_guard<std::mutex> guard(lock);
            outcome.overall.push_back(percent);
            if (running)
                outcome.runningDuringExport = std::max(outcome.runningDuringExport, running->RunningExportTasks());
        }, [&](const std::string& text) {
            std::lock_guard<std::mutex> guard(lock);
            outcome.messages.push_back(text);
        });
        playback::PlayersController controller(
            bundle,
            playback::MakePlaybackRenderer(boost::make_shared<testsupport::RecordingDevice>()),
            std::make_shared<filters::AudioPlayer>(std::make_unique<SilentSink>()));
        running = &controller;
        controller.Completed.connect([&](int code) {
            outcome.code = code;
            completed = true;
        });
        StartOptions options;
        options.source = source.empty() ? archive.Source() : source;
        options.destination = folder.empty() ? archive.dir / "command-line" : folder;
        controller.Initialize(options, nullptr, QRect(0, 0, 320, 240));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!completed && std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_TRUE(completed) << "the run never completed";
        EXPECT_EQ(controller.RunningExportTasks(), 0);
        outcome.enabled = gui->Calls("SetEnabledState");
        return outcome;
    }

    TwoVolumeArchive archive;
    SettingsProfile saved;
};

TEST_F(ControllerExportTest, WindowlessRunExportsTheStoredTasksAndCompletesWithZero)
{
    const std::string out = archive.dir / "out";
    LogLines log;
    const Outcome outcome = Run(out, {Task({"1", "2"}, Base(), Base() + 3'600'000, 0), Task({}, Base(), Base() + 1, 1),
                                      Task({"1", "2"}, Base() + 3'600'000, Base() + 7'200'000, 2)});
    EXPECT_EQ(outcome.code, 0);
    // A success reads as one, in the log and on the panel (no message).
    const std::string lines = log.Text(archive.dir / "log.txt");
    EXPECT_NE(lines.find("Export completed."), std::string::npos) << lines;
    EXPECT_EQ(lines.find("Export error"), std::string::npos) << lines;
    EXPECT_EQ(outcome.messages, std::vector<std::string>{""});
    // Two tasks kept: the first ends at half of the batch, the second at all.
    ASSERT_FALSE(outcome.overall.empty());
    EXPECT_EQ(outcome.overall.front(), 0);
    EXPECT_TRUE(std::is_sorted(outcome.overall.begin(), outcome.overall.end()));
    EXPECT_EQ(std::count(outcome.overall.begin(), outcome.overall.end(), 50), 1);
    EXPECT_EQ(outcome.overall.back(), 100);
    EXPECT_EQ(outcome.runningDuringExport, 2);
    EXPECT_EQ(outcome.enabled.size(), 2u);

    auto copy = Open(out);
    ASSERT_TRUE(copy);
    EXPECT_EQ(Channels(*copy), (std::vector<std::string>{"1", "2"}));
    auto source = Open(archive.Source());
    for (const char* channel : {"1", "2"})
        EXPECT_TRUE(ReadChannel(*copy, channel) == ReadChannel(*source, channel)) << channel;
}

TEST_F(ControllerExportTest, RefusedOrEmptyRunsCompleteWithTheirCode)
{
    struct Case {
        const char* name;
        std::string destination;
        std::vector<Storage::ExportTask> tasks;
        int code;
    };
    const std::vector<Case> cases = {
        // The engine refuses a destination on its source: its code.
        {"destination on the source", archive.first, {Task({"1"}, Base(), Base() + 1000)}, 143},
        {"no destination", "", {Task({"1"}, Base(), Base() + 1000)}, 22},
        {"no task with channels", archive.dir / "none", {Task({}, Base(), Base() + 1000)}, 22},
    };
    // Opening the archive writes its fast index: the source as opened.
    ASSERT_TRUE(Open(archive.Source()));
    const auto before = Snapshot(archive.dir.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = Run(c.destination, c.tasks);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(Snapshot(archive.dir.path()), before);
    }
}

TEST_F(ControllerExportTest, ChannelListsThatDoNotParseFailWithACodeAMessageAndALogLine)
{
    const std::string out = archive.dir / "out";
    for (const std::vector<std::string>& channels :
         {std::vector<std::string>{"abc"}, std::vector<std::string>{"1", "abc"}, std::vector<std::string>{"-1"}}) {
        SCOPED_TRACE(channels.back());
        LogLines log;
        const Outcome outcome = Run(out, {Task(channels, Base(), Base() + 3'600'000)});
        EXPECT_NE(outcome.code, 0);
        ASSERT_EQ(outcome.messages.size(), 1u);
        EXPECT_FALSE(outcome.messages.front().empty());
        const std::string lines = log.Text(archive.dir / "log.txt");
        EXPECT_NE(lines.find("Export error. Reason: "), std::string::npos) << lines;
        EXPECT_EQ(lines.find("Code: 0."), std::string::npos) << lines;
        EXPECT_TRUE(Listing(out).empty());
    }
}

// A windowless run over a media file: its channel is exported by the
// media-file engine, in the file's own container, whatever the stored
// native-export setting says.
TEST_F(ControllerExportTest, WindowlessRunOverAMediaFileExportsItsWindow)
{
    const std::string input = archive.dir / "media/Cam 2019-03-04 03-06-00_000.mkv";
    std::filesystem::create_directories(archive.dir / "media");
    std::vector<std::string> args = gavex_test::TestVideoInput(6, 25, "160x120");
    args.insert(args.end(), {"-c:v", "libx264", "-g", "25", "-preset", "ultrafast", input});
    ASSERT_TRUE(gavex_test::RunFfmpeg(args));
    std::vector<MediaFileRecord> records;
    {
        filters::VideoSource reader;
        MediaFileRecord file;
        file.path = input;
        file.name = L"Cam 2019-03-04 03-06-00_000";
        reader.ReadMediaFile(file, records);
    }
    ASSERT_EQ(records.size(), 1u);
    const int64_t start = records.front().start;

    SettingsProfile& live = QApplicationSettings::Instance().Live;
    live.SourceMode = ISourceConfiguration::SINGLE_FILE;
    live.VideoFolders[ISourceConfiguration::SINGLE_FILE] = {Wide(input)};
    live.SourceNativeVideo = true;
    const std::string out = archive.dir / "out";
    const Outcome outcome = Run(out, {Task({"Cam"}, start + 1000, start + 3000)}, input);
    EXPECT_EQ(outcome.code, 0);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{""});
    ASSERT_FALSE(outcome.overall.empty());
    EXPECT_EQ(outcome.overall.back(), 100);

    const std::vector<std::string> written = Listing(out);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written.front().rfind("Exported 1 ", 0), 0u) << written.front();
    EXPECT_EQ(std::filesystem::path(written.front()).extension(), ".mkv");
    std::vector<MediaFileRecord> exported;
    filters::VideoSource reader;
    MediaFileRecord file;
    file.path = out + "/" + written.front();
    file.name = L"copy";
    reader.ReadMediaFile(file, exported);
    ASSERT_EQ(exported.size(), 1u);
    // Two seconds, and up to a key-frame interval more at either end.
    EXPECT_GE(exported.front().length, 2000);
    EXPECT_LE(exported.front().length, 4000);
}

TEST_F(ControllerExportTest, WithoutAnEngineMakerTheRunCompletesWith22)
{
    playback::SetExportEngineFactory({});
    const std::string out = archive.dir / "out";
    const Outcome outcome = Run(out, {Task({"1"}, Base(), Base() + 3'600'000)});
    EXPECT_EQ(outcome.code, 22);
    // The controls are given back (a windowless export loads no channel,
    // so only the configuration flag is on).
    ASSERT_FALSE(outcome.enabled.empty());
    EXPECT_EQ(outcome.enabled.back(), "SetEnabledState 0 1 0 0 0 0");
    EXPECT_TRUE(Listing(archive.dir / "out").empty());
}

}  // namespace
