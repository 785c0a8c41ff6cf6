// The players controller over real sources on simulated time: an archive
// folder of two cameras with H.264 frames (25 and 30 frames a second, the
// second starting 10 ms later), and a folder of two ffmpeg-made Matroska
// files with pictures (10 a second) and sound. The commands of the play
// panel are checked against the frame times the renderer pins show.

#include "playback/PlayersController.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <QCoreApplication>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "PlaybackTestSupport.h"
#include "config/QApplicationSettings.h"
#include "media/SourceConfiguration.h"
#include "playback/SourcePin.h"
#include "playback/TimeSynchronizer.h"
#include "render/Renderer.h"
#include "render/RendererPin.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"
#include "support/MediaFiles.h"
#include "support/RecordingDevice.h"

using playbacktest::ClockDriver;
using playbacktest::Eventually;
using playbacktest::SimTicks;

namespace {

struct SourceKind {
    const char* name;
    bool archive;
};

std::ostream& operator<<(std::ostream& out, const SourceKind& kind)
{
    return out << kind.name;
}

// The codec add-on's folder in a registry of the test's own.
void UseProjectAddon(const std::string& folder)
{
    testsupport::MakeFolders(folder);
    std::ofstream out(folder + "/machine.reg", std::ios::trunc);
    out << "[SOFTWARE\\GavexSoft\\Addons\\Brastel1]\n"
        << "\"Modules\"=\"" << GAVEX_ADDON_DIR << "\"\n";
    out.close();
    setenv("GAVEX_REGISTRY_DIR", folder.c_str(), 1);
}

class SourcesTest : public ::testing::TestWithParam<SourceKind> {
protected:
    void SetUp() override
    {
        if (std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "no ffmpeg";
        playbacktest::Application();
        saved = QApplicationSettings::Instance().Live;
        SourceConfiguration configuration;
        if (GetParam().archive) {
            UseProjectAddon(dir.Path() + "/registry");
            const int64_t t0 = testsupport::LocalUnixMs(2024, 3, 5, 10, 0, 0);
            WriteChannel(1, t0, 50, 40);
            WriteChannel(2, t0 + 10, 45, 33);
            // The remembered source, all of its channels.
            SettingsProfile& live = QApplicationSettings::Instance().Live;
            live.SourceMode = ISourceConfiguration::FOLDER;
            live.VideoFolders[ISourceConfiguration::FOLDER] = {QString::fromStdString(dir.Path() + "/archive").toStdWString()};
            live.Channels.clear();
            configuration.SetupWithDefaults(dir.Path() + "/archive", ISourceConfiguration::FOLDER);
        } else {
            for (const char* name : {"Gate 2019-03-04 05-06-00_000.mkv", "Yard 2019-03-04 05-06-01_000.mkv"}) {
                std::vector<std::string> args = gavex_test::TestVideoInput(3.0);
                const auto sound = gavex_test::TestAudioInput(3.0);
                args.insert(args.end(), sound.begin(), sound.end());
                args.insert(args.end(), {"-c:v", "mpeg4", "-g", "5", "-c:a", "aac", dir.File(name)});
                ASSERT_TRUE(gavex_test::RunFfmpeg(args)) << name;
            }
            configuration.SetupWithDefaults(dir.Path(), ISourceConfiguration::AVI_FILES);
        }
        audio = std::make_shared<filters::AudioPlayer>(std::make_unique<playbacktest::SilentSink>(), ticks.Source(),
                                                       false);
        // The clock moves on only after its waiters have kept still for 50
        // polls, so that a pin still decoding is rarely overtaken.
        driver = std::make_unique<ClockDriver>(ticks, audio->GetClock(), 50);
        controller = std::make_unique<playback::PlayersController>(
            playback::HeadlessGui::Bundle(gui),
            playback::MakePlaybackRenderer(boost::make_shared<testsupport::RecordingDevice>()), audio);
        // As the source browser does: the source is asked for video first.
        ASSERT_TRUE(configuration.HasVideo());
        controller->LoadSources(configuration, 0, false);
        ASSERT_EQ(controller->GetPlayers().size(), 2u);
        for (const auto& player : controller->GetPlayers()) {
            const auto& periods = player->converter->GetArchivePeriods();
            ASSERT_FALSE(periods.empty());
            starts.push_back(periods.front().start);
            ends.push_back(utils::IntervalEnd(periods.back()));
        }
        ASSERT_TRUE(Eventually([&] { return AllIdle(); }));
        for (size_t c = 0; c < 2; ++c)
            firstFrames.push_back(Shown(c));
    }

    void TearDown() override
    {
        controller.reset();
        driver.reset();
        QApplicationSettings::Instance().Live = saved;
    }

    void WriteChannel(int camera, int64_t start, int count, int64_t step)
    {
        const std::string work = dir.Path() + "/work" + std::to_string(camera);
        testsupport::MakeFolders(work);
        auto frames = testsupport::GenerateH264Frames(work, count, start, step, 10);
        ASSERT_EQ(frames.size(), size_t(count));
        // File 000N of camera N, named as the recorder names them.
        const std::string path = dir.Path() + "/archive/000" + std::to_string(camera) + "._0" + std::to_string(camera);
        testsupport::WriteFileBytes(path, testsupport::BuildArchiveFile(frames));
        // An old write time: the folder reads the file's period from its
        // frames, as for a copied file.
        std::filesystem::last_write_time(path,
                                         std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 365));
    }

    bool AllIdle()
    {
        for (const auto& player : controller->GetPlayers())
            if (player->pinThread->GetState() != filters::SourcePin::kIdle)
                return false;
        return true;
    }

    // Archive time of the picture channel c shows.
    int64_t Shown(size_t c) { return controller->GetPlayers()[c]->rendererPin->GetSample().GetTime(); }

    // Every channel shows its last frame not after t (its first when t is
    // before it): at most one frame period before t.
    void ExpectShownAt(int64_t t)
    {
        ASSERT_TRUE(Eventually([&] { return AllIdle(); }));
        const int64_t period = GetParam().archive ? 40 : 100;
        for (size_t c = 0; c < 2; ++c) {
            SCOPED_TRACE(c);
            if (t < firstFrames[c]) {
                EXPECT_EQ(Shown(c), firstFrames[c]);
                continue;
            }
            EXPECT_LE(Shown(c), t);
            EXPECT_GT(Shown(c), std::min(t, ends[c]) - period - 1);
        }
    }

    // After a pause the current channel shows the frame of the position or
    // one that was due next: a pause presents the frame its pin was waiting
    // for, which at twice the speed may come after a skipped one. A pin
    // whose thread got no processor while the simulated clock moved on (a
    // loaded machine) can be one frame behind: it declines the frame it
    // takes after the pause, as every paused pin does.
    void ExpectPausedAt(int64_t t)
    {
        ASSERT_TRUE(Eventually([&] { return AllIdle(); }));
        const int64_t period = GetParam().archive ? 40 : 100;
        EXPECT_GE(Shown(0), t - period);
        EXPECT_LE(Shown(0), t + 2 * period);
        EXPECT_GE(Shown(1), firstFrames[1]);
        EXPECT_LE(Shown(1), ends[1]);
    }

    testsupport::ArchiveTempDir dir;
    SettingsProfile saved;
    SimTicks ticks;
    std::shared_ptr<playback::HeadlessGui> gui = std::make_shared<playback::HeadlessGui>();
    std::shared_ptr<filters::AudioPlayer> audio;
    std::unique_ptr<ClockDriver> driver;
    std::unique_ptr<playback::PlayersController> controller;
    std::vector<int64_t> starts;
    std::vector<int64_t> ends;
    std::vector<int64_t> firstFrames;  // shown after loading, at the start
};

TEST_P(SourcesTest, SeekAndStepsShowTheFramesOfThatTime)
{
    const int64_t start = starts[0];
    EXPECT_EQ(controller->CurrentPosition(), start);
    ExpectShownAt(start);

    const int64_t t = start + 1250;
    gui->calendar.TimeSelected(t);
    EXPECT_EQ(controller->CurrentPosition(), t);
    ExpectShownAt(t);

    // A step goes to the current channel's next frame, every channel
    // following it; back again to the one before.
    const int64_t before = Shown(0);
    gui->StepForwardClicked();
    const int64_t next = controller->CurrentPosition();
    EXPECT_GT(next, before);
    ExpectShownAt(next);
    EXPECT_EQ(Shown(0), next);
    gui->StepForwardClicked();
    EXPECT_GT(controller->CurrentPosition(), next);
    gui->StepBackwardClicked();
    EXPECT_EQ(controller->CurrentPosition(), next);
    ExpectShownAt(next);
    EXPECT_FALSE(controller->IsPlaying());
}

TEST_P(SourcesTest, PlayPauseAndSpeedMoveOnTheClock)
{
    const int64_t start = starts[0];
    gui->PlayClicked();
    EXPECT_TRUE(controller->IsPlaying());
    ASSERT_TRUE(Eventually([&] { return controller->CurrentPosition() >= start + 800; }));
    gui->PauseClicked();
    EXPECT_FALSE(controller->IsPlaying());
    const int64_t paused = controller->CurrentPosition();
    ExpectPausedAt(paused);
    // Paused: the clock may run, the pictures stay.
    ticks.Advance(500);
    audio->GetClock()->Poke();
    EXPECT_EQ(controller->CurrentPosition(), paused);
    const int64_t shown = Shown(0);
    EXPECT_EQ(Shown(0), shown);

    // Twice the speed: the clock's rate; the same simulated time plays
    // twice the recording.
    gui->SpeedChanged(2.0);
    EXPECT_EQ(audio->GetClock()->GetRate(), 2.0);
    const uint32_t ticksBefore = ticks.now;
    gui->PlayClicked();
    ASSERT_TRUE(Eventually([&] { return controller->CurrentPosition() >= paused + 600; }));
    gui->PauseClicked();
    const int64_t played = controller->CurrentPosition() - paused;
    const int64_t simulated = static_cast<int64_t>(ticks.now - ticksBefore);
    EXPECT_GE(played, 600);
    EXPECT_NEAR(static_cast<double>(played), 2.0 * static_cast<double>(simulated), 250.0)
        << "twice the recording in the same time";
    ExpectPausedAt(controller->CurrentPosition());
}

TEST_P(SourcesTest, TheEndPausesOrPlaysAgain)
{
    for (bool cycle : {false, true}) {
        SCOPED_TRACE(cycle);
        controller->SetPlayCycle(cycle);
        gui->ClearCalls();
        const int64_t from = ends[0] - 300;
        controller->Seek(from);
        controller->Play();
        bool restarted = false;
        int64_t after = 0;
        ASSERT_TRUE(Eventually([&] {
            // Past the last frame nobody waits for the clock: move it on.
            ticks.Advance(5);
            controller->Tick();
            after = controller->CurrentPosition();
            // A late frame pulls the position back to its own time, never
            // before the time play started from: only a restart goes there.
            restarted = cycle && after < from;
            return cycle ? restarted : !controller->IsPlaying();
        })) << [&] {
            // Where a player that never ends stands: the time line and each pin.
            std::string text = controller->GetSynchronizer()->Describe();
            for (const auto& player : controller->GetPlayers()) {
                const auto& source = player->pin->GetSource();
                text += "\nthread " + std::string(player->pinThread->GetState() == filters::SourcePin::kRun ? "run" : "idle") +
                        ", time " + std::to_string(player->pin->GetCurrentTime()) + " of " +
                        std::to_string(player->pin->GetDuration()) + ", source at " +
                        std::to_string(source->GetCurrentTime()) + " next " + std::to_string(source->GetNextTime()) +
                        (source->IsAtEnd() ? " at end" : "");
            }
            return text;
        }();
        if (cycle) {
            EXPECT_TRUE(controller->IsPlaying());
            EXPECT_TRUE(gui->Calls("SetPlaying 0").empty());
            EXPECT_LT(after, starts[0] + 1000) << "played again from the start";
            controller->Pause();
        } else {
            EXPECT_EQ(gui->Calls("SetPlaying 0").size(), 1u);
            EXPECT_GE(controller->CurrentPosition(), ends[0] - (GetParam().archive ? 40 : 100));
            ExpectShownAt(controller->CurrentPosition());
        }
    }
    controller->SetPlayCycle(false);
}

INSTANTIATE_TEST_SUITE_P(Controller, SourcesTest,
                         ::testing::Values(SourceKind{"ArchiveFolder", true}, SourceKind{"MediaFiles", false}),
                         [](const ::testing::TestParamInfo<SourceKind>& info) { return std::string(info.param.name); });

}  // namespace
