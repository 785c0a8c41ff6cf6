// The players controller's windowless export through the installed engine
// maker, over the native fixture archive: the stored tasks run, progress
// reaches the controller and the run completes with the engine's final code.

#include "playback/PlayersController.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

#include <QApplication>
#include <cstdlib>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "NativeFixture.h"
#include "config/QApplicationSettings.h"
#include "config/StartOptions.h"
#include "export/WindowlessExport.h"
#include "media/SourceConfiguration.h"
#include "playback/AudioPlayer.h"
#include "playback/AudioSink.h"
#include "playback/PlaybackGui.h"
#include "render/Renderer.h"
#include "support/RecordingDevice.h"
#include "support/SilentSink.h"

namespace {

using namespace exporttest;

using testsupport::SilentSink;

// The export control panel as the controller reports to it.
class ProgressRecorder final : public playback::IExportControlPanel {
public:
    explicit ProgressRecorder(std::function<void(int)> processed) : processed(std::move(processed)) {}
    void PostProcessed(int percent) override { processed(percent); }
    void PostComplete() override {}
    void PostMessage(const std::string&) override {}

private:
    std::function<void(int)> processed;
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
        int runningDuringExport = 0;
    };

    // The windowless start with `folder` as the export folder setting and
    // the stored `tasks`; waits (running the controller's thread) until the
    // run completes.
    Outcome Run(const std::string& folder, const std::vector<Storage::ExportTask>& tasks)
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
        options.source = archive.Source();
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
    const Outcome outcome = Run(out, {Task({"1", "2"}, Base(), Base() + 3'600'000, 0), Task({}, Base(), Base() + 1, 1),
                                      Task({"1", "2"}, Base() + 3'600'000, Base() + 7'200'000, 2)});
    EXPECT_EQ(outcome.code, 0);
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
