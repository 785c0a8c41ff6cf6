// The players controller over two scripted channels on simulated time: the
// audio player's clock runs on a tick counter that a driver thread moves to
// the earliest sleeper's wake time, so frames come exactly when due.

#include "playback/PlayersController.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <cmath>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "PlaybackTestSupport.h"
#include "archive/files/PlayInfo.h"
#include "base/PtimeConversion.h"
#include "media/TimeConversion.h"
#include "playback/SourcePin.h"
#include "playback/TimeSynchronizer.h"
#include "media/SourceConfiguration.h"
#include "config/QApplicationSettings.h"
#include "config/StartOptions.h"
#include "render/BasicRenderer.h"
#include "render/Renderer.h"
#include "render/RendererPin.h"
#include "support/MediaFiles.h"
#include "support/RecordingDevice.h"
#include "support/TempDir.h"

using playbacktest::Application;
using playbacktest::ClockDriver;
using playbacktest::Eventually;
using playbacktest::SilentSink;
using playbacktest::ScriptedSource;
using playbacktest::SimTicks;

namespace {

constexpr int64_t kT0 = 1'700'000'000'000;
constexpr int64_t kStep = 40;

std::vector<int64_t> Times(int count, int64_t start, int64_t step = kStep)
{
    std::vector<int64_t> t;
    for (int i = 0; i < count; ++i)
        t.push_back(start + i * step);
    return t;
}

class PlayersControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();
        audio = std::make_shared<filters::AudioPlayer>(std::make_unique<SilentSink>(), ticks.Source(), false);
        controller = std::make_unique<playback::PlayersController>(
            playback::HeadlessGui::Bundle(gui),
            playback::MakePlaybackRenderer(boost::make_shared<testsupport::RecordingDevice>()), audio);
        // Channel 0: 2 s at 25 fps; channel 1: its last 800 ms.
        first = boost::make_shared<ScriptedSource>(Times(50, kT0),
                                                   std::vector<filters::RecordPeriod>{{kT0, 50 * kStep}});
        second = boost::make_shared<ScriptedSource>(Times(20, kT0 + 1200),
                                                    std::vector<filters::RecordPeriod>{{kT0 + 1200, 20 * kStep}});
        controller->BuildPlayers({first, nullptr, second});
        driver = std::make_unique<ClockDriver>(ticks, audio->GetClock());
    }

    void TearDown() override
    {
        controller.reset();
        driver.reset();
    }

    bool AllIdle()
    {
        for (const auto& player : controller->GetPlayers())
            if (player->pinThread->GetState() != filters::SourcePin::kIdle)
                return false;
        return true;
    }

    // Archive time of the frame in a channel's renderer sample.
    int64_t Shown(size_t channel)
    {
        return controller->GetPlayers()[channel]->rendererPin->GetSample().GetTime();
    }

    SimTicks ticks;
    std::shared_ptr<playback::HeadlessGui> gui = std::make_shared<playback::HeadlessGui>();
    std::shared_ptr<filters::AudioPlayer> audio;
    std::unique_ptr<playback::PlayersController> controller;
    boost::shared_ptr<ScriptedSource> first;
    boost::shared_ptr<ScriptedSource> second;
    std::unique_ptr<ClockDriver> driver;
};

TEST_F(PlayersControllerTest, BuildsOnePlayerPerChannel)
{
    ASSERT_EQ(controller->GetPlayers().size(), 2u);
    EXPECT_EQ(controller->GetCurrentPlayer(), controller->GetPlayers()[0]);
    const auto& archive = controller->GetPlayConverter()->GetArchivePeriods();
    ASSERT_EQ(archive.size(), 1u);
    EXPECT_EQ(archive[0].start, kT0);
    EXPECT_EQ(archive[0].length, 2000);
    EXPECT_EQ(controller->GetSynchronizer()->GetClock(), audio->GetClock());
    EXPECT_EQ(controller->GetRenderer()->GetCount(), 2);
    const auto calls = gui->Calls();
    const auto at = [&](const std::string& call) { return std::find(calls.begin(), calls.end(), call) - calls.begin(); };
    EXPECT_LT(at("SetEnabledState 0 0 0 0 0 0"), at("SetEnabledState 1 1 0 0 1 0"));
    EXPECT_LT(at("SetEnabledState 1 1 0 0 1 0"), at("CreateItems 2"));
    EXPECT_LT(at("CreateItems 2"), at("SelectChannel 0"));
    EXPECT_EQ(gui->Calls("SelectCamera").size(), 1u);
}

TEST_F(PlayersControllerTest, SeekAndStepsMoveEveryChannel)
{
    controller->Seek(kT0 + 1310);
    EXPECT_FALSE(controller->IsPlaying());
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 1310);
    ASSERT_TRUE(Eventually([&] { return AllIdle(); }));
    EXPECT_EQ(Shown(0), kT0 + 1280);
    EXPECT_EQ(Shown(1), kT0 + 1280);
    EXPECT_EQ(gui->CursorTime(), kT0 + 1310);

    controller->StepForward();
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 1320);
    controller->StepForward();
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 1360);
    controller->StepBackward();
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 1320);
    ASSERT_TRUE(Eventually([&] { return AllIdle() && Shown(0) == kT0 + 1320 && Shown(1) == kT0 + 1320; }));
    EXPECT_FALSE(controller->IsPlaying());
    // A seek while paused fades the previous frame out.
    EXPECT_EQ(gui->Calls("StartPrevFrameAlpha").size(), 1u);

    // Before the recording: the first frame.
    controller->Seek(kT0 - 5000);
    EXPECT_EQ(controller->CurrentPosition(), kT0);
}

TEST_F(PlayersControllerTest, PlayPauseAndSpeed)
{
    controller->Seek(kT0);
    controller->Play();
    controller->Play();
    EXPECT_TRUE(controller->IsPlaying());
    EXPECT_EQ(gui->Calls("SetPrevFrameAlpha 0").size(), 1u) << "a second Play acts again";
    ASSERT_TRUE(Eventually([&] { return controller->CurrentPosition() >= kT0 + 1300; }));
    EXPECT_GE(Shown(1), kT0 + 1200) << "the second channel plays along";

    controller->Pause();
    EXPECT_FALSE(controller->IsPlaying());
    const int64_t paused = controller->CurrentPosition();
    ticks.Advance(500);
    audio->GetClock()->Poke();
    EXPECT_EQ(controller->CurrentPosition(), paused);

    // A step while playing plays on.
    controller->Play();
    controller->StepForward();
    EXPECT_TRUE(controller->IsPlaying());

    controller->SetSpeed(2.0);
    EXPECT_EQ(controller->GetSpeed(), 2.0);
    EXPECT_EQ(audio->GetClock()->GetRate(), 2.0);
    controller->Pause();
}

TEST_F(PlayersControllerTest, EndOfPlayPausesOrCycles)
{
    for (bool cycle : {false, true}) {
        SCOPED_TRACE(cycle);
        controller->SetPlayCycle(cycle);
        gui->ClearCalls();
        controller->Seek(kT0 + 1800);
        controller->Play();
        bool restarted = false;
        ASSERT_TRUE(Eventually([&] {
            // Past the last frame nobody waits for the clock: move it on.
            ticks.Advance(5);
            const int64_t before = controller->CurrentPosition();
            controller->Tick();
            restarted = cycle && controller->CurrentPosition() < before;
            return cycle ? restarted : !controller->IsPlaying();
        }));
        if (cycle) {
            EXPECT_TRUE(controller->IsPlaying());
            EXPECT_TRUE(gui->Calls("SetPlaying 0").empty());
            controller->Pause();
        } else {
            EXPECT_EQ(gui->Calls("SetPlaying 0").size(), 1u);
            EXPECT_GE(controller->CurrentPosition(), kT0 + 1960);
        }
    }
    controller->SetPlayCycle(false);
}

// The channel without a recording at the playing time fades out and back.
TEST_F(PlayersControllerTest, ChannelOutOfRecordFades)
{
    controller->Seek(kT0 + 200);
    controller->Tick();
    EXPECT_EQ(gui->Calls("FadeItem"), std::vector<std::string>{"FadeItem 1 0 150"});
    controller->Seek(kT0 + 1900);
    controller->Tick();
    EXPECT_EQ(gui->Calls("FadeItem"), (std::vector<std::string>{"FadeItem 1 0 150", "FadeItem 1 150 0"}));
    // Without grid items nothing throws and nothing fades.
    gui->RemoveItems();
    controller->Seek(kT0 + 200);
    EXPECT_NO_THROW(controller->Tick());
    EXPECT_EQ(gui->Calls("FadeItem").size(), 2u);
}

// The files a channel plays: the current one and the one after it.
class FilesPlayInfo : public Storage::IPlayInfo {
public:
    Storage::PlayFileInfo GetCurrentFileInfo(int which) override { return records[which == 1 ? 1 : 0]; }
    Storage::PlayFileInfo records[2];
};

class SoundSource : public ScriptedSource {
public:
    using ScriptedSource::ScriptedSource;
    Storage::IPlayInfo* GetPlayInfo() override { return &info; }
    FilesPlayInfo info;
};

Storage::PlayFileInfo Record(const std::string& path, int64_t begin, int64_t end, int64_t offsetUs)
{
    Storage::PlayFileInfo record;
    record.videoPath = path;
    record.audioPath = path;
    record.streamTitle = "voice";
    record.period = boost::posix_time::time_period(utils::PtimeFromMilliseconds(begin), utils::PtimeFromMilliseconds(end));
    record.startOffset = offsetUs;
    return record;
}

// Sound requests follow the current channel's files on the play time line,
// and sound plays only while playing at speed 1 with the volume up.
TEST_F(PlayersControllerTest, SoundFollowsTheCurrentFile)
{
    auto channel = boost::make_shared<SoundSource>(Times(50, kT0), std::vector<filters::RecordPeriod>{{kT0, 2000}});
    channel->info.records[0] = Record("/media/a.mkv", kT0 + 500, kT0 + 1500, 2'000'000);
    channel->info.records[1] = Record("/media/b.mkv", kT0 + 1500, kT0 + 2000, 0);
    controller->BuildPlayers({channel});

    struct Case {
        int64_t at;  // archive ms
        int64_t start;
        int64_t duration;
        int64_t audioStart;
    };
    // Inside the file: from where the play position is; before it: nothing
    // yet, sound starts when the position gets there; after it: nothing.
    for (const Case& c : {Case{kT0 + 1000, 2500, 1000, 0}, Case{kT0 + 200, 0, 0, 500}, Case{kT0 + 1600, 0, 0, 0}}) {
        SCOPED_TRACE(c.at - kT0);
        controller->Seek(c.at);
        controller->UpdateAudio(false);
        const filters::AudioRequest current = controller->BuildAudioRequest(channel->info.records[0], true);
        EXPECT_EQ(current.path, c.duration != 0 ? "/media/a.mkv" : "");
        EXPECT_EQ(current.start, c.start);
        EXPECT_EQ(current.duration, c.duration);
        EXPECT_EQ(controller->GetAudioStartTime(), c.audioStart);
        const filters::AudioRequest next = controller->BuildAudioRequest(channel->info.records[1], false);
        EXPECT_EQ(next.path, "/media/b.mkv");
        EXPECT_EQ(next.streamTitle, "voice");
        EXPECT_EQ(next.start, 0);
        // The recording's end maps to its last millisecond.
        EXPECT_EQ(next.duration, 499);
    }

    controller->Seek(kT0 + 1000);
    controller->Play();
    EXPECT_EQ(audio->QueuedRequests(), 0u) << "sound at volume 0";
    controller->OnVolumeChanged(50);
    EXPECT_EQ(audio->QueuedRequests(), 2u);
    controller->SetSpeed(2.0);
    EXPECT_EQ(audio->QueuedRequests(), 0u) << "sound at speed 2";
    controller->SetSpeed(1.0);
    EXPECT_EQ(audio->QueuedRequests(), 2u);
    controller->Pause();
    EXPECT_EQ(audio->QueuedRequests(), 0u) << "sound while paused";
}

// Volume 0 stops the sound at once and leaving 0 restarts it; a move between
// two levels keeps it. A channel's new file reaches the controls
// layer, whose answer moves the sound only for the current channel.
TEST_F(PlayersControllerTest, VolumeAndNewFilesDriveTheSound)
{
    auto channel = boost::make_shared<SoundSource>(Times(50, kT0), std::vector<filters::RecordPeriod>{{kT0, 2000}});
    channel->info.records[0] = Record("/media/a.mkv", kT0 + 500, kT0 + 1500, 0);
    channel->info.records[1] = Record("/media/b.mkv", kT0 + 1500, kT0 + 2000, 0);
    auto other = boost::make_shared<SoundSource>(Times(50, kT0), std::vector<filters::RecordPeriod>{{kT0, 2000}});
    other->info.records[0] = channel->info.records[0];
    controller->BuildPlayers({channel, other});
    controller->Seek(kT0 + 1000);
    controller->OnVolumeChanged(50);
    controller->Play();
    EXPECT_EQ(audio->QueuedRequests(), 2u);

    controller->OnVolumeChanged(0);
    EXPECT_EQ(audio->GetVolume(), 0.0);
    EXPECT_EQ(audio->QueuedRequests(), 0u);
    controller->OnVolumeChanged(30);
    EXPECT_DOUBLE_EQ(audio->GetVolume(), 0.3);
    EXPECT_EQ(audio->QueuedRequests(), 2u);
    controller->OnVolumeChanged(60);
    EXPECT_DOUBLE_EQ(audio->GetVolume(), 0.6);
    EXPECT_EQ(audio->QueuedRequests(), 2u);

    gui->ClearCalls();
    other->info.ChangeSignal();
    channel->info.ChangeSignal();
    EXPECT_EQ(gui->Calls("NewFile"), (std::vector<std::string>{"NewFile 1", "NewFile 0"}));
    audio->Stop();  // as if the queue had been played
    gui->FileOpened(1);
    EXPECT_EQ(audio->QueuedRequests(), 0u);
    gui->FileOpened(0);
    EXPECT_EQ(audio->QueuedRequests(), 2u);
    controller->Pause();
}

// A channel whose camera view cannot be read.
class BrokenSource : public ScriptedSource {
public:
    using ScriptedSource::ScriptedSource;
    const filters::CameraViewSettings& GetCameraSettings() const override
    {
        throw std::runtime_error("camera view unreadable");
    }
};

TEST_F(PlayersControllerTest, FailedBuildLeavesNoPlayerAndTheGuiEnabled)
{
    auto broken = boost::make_shared<BrokenSource>(Times(5, kT0), std::vector<filters::RecordPeriod>{{kT0, 200}});
    gui->ClearCalls();
    controller->BuildPlayers({first, broken});
    EXPECT_TRUE(controller->GetPlayers().empty());
    EXPECT_FALSE(controller->GetCurrentPlayer());
    EXPECT_EQ(controller->GetRenderer()->GetCount(), 0);
    const auto enabled = gui->Calls("SetEnabledState");
    ASSERT_FALSE(enabled.empty());
    EXPECT_EQ(enabled.back(), "SetEnabledState 1 1 0 0 0 0");
    // Commands without players do nothing.
    controller->Play();
    controller->StepForward();
    controller->Seek(kT0);
    controller->Tick();
    EXPECT_EQ(controller->CurrentPosition(), 0);

    controller->BuildPlayers({second});
    EXPECT_EQ(controller->GetPlayers().size(), 1u);
}

// Two channels of ffmpeg-made Matroska files with pictures and sound, loaded
// from a source configuration, on the machine's clock.
class SourceLoadingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();
        for (const char* name : {"Gate 2019-03-04 05-06-00_000.mkv", "Yard 2019-03-04 05-06-01_000.mkv"}) {
            std::vector<std::string> args = gavex_test::TestVideoInput(3.0);
            const auto sound = gavex_test::TestAudioInput(3.0);
            args.insert(args.end(), sound.begin(), sound.end());
            args.insert(args.end(), {"-c:v", "mpeg4", "-c:a", "aac", dir / name});
            ASSERT_TRUE(gavex_test::RunFfmpeg(args)) << name;
        }
        saved = QApplicationSettings::Instance().Live;
        audio = std::make_shared<filters::AudioPlayer>(std::make_unique<SilentSink>(), utils::MonotonicTick, false);
        controller = std::make_unique<playback::PlayersController>(
            playback::HeadlessGui::Bundle(gui),
            playback::MakePlaybackRenderer(boost::make_shared<testsupport::RecordingDevice>()), audio);
    }
    void TearDown() override
    {
        controller.reset();
        QApplicationSettings::Instance().Live = saved;
    }

    bool AllShowAFrame()
    {
        for (const auto& player : controller->GetPlayers())
            if (!player->rendererPin->HasFrame())
                return false;
        return true;
    }

    gavex_test::TempDir dir{"source-loading"};
    SettingsProfile saved;
    std::shared_ptr<playback::HeadlessGui> gui = std::make_shared<playback::HeadlessGui>();
    std::shared_ptr<filters::AudioPlayer> audio;
    std::unique_ptr<playback::PlayersController> controller;
};

TEST_F(SourceLoadingTest, LoadsOnePlayerPerChannelAndShowsTheirFrames)
{
    SourceConfiguration configuration;
    configuration.SetupWithDefaults(dir.path(), ISourceConfiguration::AVI_FILES);
    QApplicationSettings::Instance().Live.SourceMode = ISourceConfiguration::AVI_FILES;
    QApplicationSettings::Instance().Live.CamSettings[L"Gone"] = {};
    controller->LoadSources(configuration, 0, true);

    ASSERT_EQ(controller->GetPlayers().size(), 2u);
    EXPECT_EQ(QApplicationSettings::Instance().Live.Channels, (std::vector<std::wstring>{L"Gate", L"Yard"}));
    EXPECT_EQ(QApplicationSettings::Instance().Live.CamSettings.size(), 2u) << "views of channels no longer listed stay";
    EXPECT_EQ(gui->Calls("SetCameras"), std::vector<std::string>{"SetCameras Gate Yard"});
    EXPECT_EQ(gui->Calls("ResetTasks").size(), 1u);
    EXPECT_EQ(gui->Calls("ResetSpeed").size(), 1u);
    // Yard starts a second later: the time line starts with Gate.
    const auto& archive = controller->GetPlayConverter()->GetArchivePeriods();
    ASSERT_FALSE(archive.empty());
    EXPECT_EQ(controller->CurrentPosition(), archive.front().start);
    EXPECT_TRUE(Eventually([&] { return AllShowAFrame(); }));

    // The current channel's sound is asked for while playing at speed 1.
    controller->OnVolumeChanged(50);
    controller->Play();
    EXPECT_EQ(audio->QueuedRequests(), 1u);
    controller->Pause();
    EXPECT_EQ(audio->QueuedRequests(), 0u);
}

TEST_F(SourceLoadingTest, OpenSourceTakesTheSettingsSource)
{
    SettingsProfile& selection = QApplicationSettings::Instance().Live;
    selection.SourceMode = ISourceConfiguration::AVI_FILES;
    selection.VideoFolders[ISourceConfiguration::AVI_FILES] = {std::wstring(dir.path().begin(), dir.path().end())};
    selection.Channels.clear();
    controller->OpenSource(StartOptions{});
    EXPECT_EQ(controller->GetPlayers().size(), 2u);
    EXPECT_TRUE(Eventually([&] { return AllShowAFrame(); }));
}

// A windowed start restores the stored export tasks of the loaded channels,
// follows the task list from then on and sets the volume slider.
TEST_F(SourceLoadingTest, WindowedStartRestoresTasksAndVolume)
{
    QApplicationSettings& settings = QApplicationSettings::Instance();
    const int32_t savedVolume = settings.SoundVolume;
    SettingsProfile& selection = settings.Live;
    selection.SourceMode = ISourceConfiguration::AVI_FILES;
    selection.VideoFolders[ISourceConfiguration::AVI_FILES] = {std::wstring(dir.path().begin(), dir.path().end())};
    selection.Channels.clear();
    Storage::ExportTask stored;
    stored.ChannelIds = {"Yard", "Gone"};
    selection.ExportTasks = {stored};
    settings.SoundVolume = 40;
    playback::PlayersController windowed(
        playback::HeadlessGui::Bundle(gui),
        playback::MakePlaybackRenderer(boost::make_shared<testsupport::RecordingDevice>()), audio);
    windowed.Initialize(StartOptions{}, nullptr, QRect(0, 0, 320, 240));
    settings.SoundVolume = savedVolume;

    ASSERT_EQ(windowed.GetPlayers().size(), 2u);
    std::vector<Storage::ExportTask> tasks;
    gui->GetTasks(tasks);
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].ChannelIds, std::vector<std::string>{"Yard"});
    EXPECT_EQ(gui->Calls("SetVolume"), std::vector<std::string>{"SetVolume 40"});
    // The task's channel is the export time line's.
    ASSERT_EQ(windowed.GetExportConverter()->GetArchivePeriods().size(), 1u);
    EXPECT_EQ(windowed.GetExportConverter()->GetArchivePeriods()[0].start,
              windowed.GetPlayers()[1]->converter->GetArchivePeriods()[0].start);

    gui->ClearCalls();
    gui->AddChannel(L"Gate", L"Gate");
    gui->CurrentTaskChanged();
    EXPECT_EQ(gui->Calls("SetEnabledState"), std::vector<std::string>{"SetEnabledState 1 1 1 1 1 0"});
    EXPECT_EQ(windowed.GetExportConverter()->GetArchivePeriods()[0].start,
              windowed.GetPlayers()[0]->converter->GetArchivePeriods()[0].start);
}

// Each channel's picture pin takes the dewarping of its stored camera view,
// again whenever the settings are applied.
TEST_F(SourceLoadingTest, CameraSettingsReachThePicturePins)
{
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    live.CamSettings[L"Gate"] = CameraSettings{3, 1, 1, 0, {}};
    live.CamSettings[L"Yard"] = CameraSettings{};
    SourceConfiguration configuration;
    configuration.SetupWithDefaults(dir.path(), ISourceConfiguration::AVI_FILES);
    controller->LoadSources(configuration, 0, false);
    ASSERT_EQ(controller->GetPlayers().size(), 2u);
    const auto dewarping = [&](size_t channel) {
        boost::mutex::scoped_lock lock(controller->GetRenderer()->GetLock());
        return controller->GetPlayers()[channel]->rendererPin->GetDewarper() != nullptr;
    };
    EXPECT_TRUE(dewarping(0));
    EXPECT_EQ(controller->GetPlayers()[0]->rendererPin->GetDisplayMode(), 1);
    EXPECT_FALSE(dewarping(1));

    live.CamSettings[L"Gate"].Lens = 0;
    live.CamSettings[L"Yard"].Lens = 2;
    gui->SettingsPanelHidden();
    EXPECT_FALSE(dewarping(0));
    EXPECT_TRUE(dewarping(1));
}

// A portable start without a source opens the folder of the executable:
// it shows the source browser when the executable carries no video.
TEST_F(SourceLoadingTest, PortableStartOpensTheExecutablesFolder)
{
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    live.VideoFolders.erase(ISourceConfiguration::AVI_FILES);
    live.SourceMode = ISourceConfiguration::DRIVES;
    gavex_test::TempDir empty("no-video");
    controller->OpenFolderOf("");
    controller->OpenFolderOf(empty / "player");
    EXPECT_TRUE(gui->Calls("BrowseSources").empty());
    EXPECT_EQ(live.VideoFolders.count(ISourceConfiguration::AVI_FILES), 0u);

    live.Channels = {L"Old"};
    controller->OpenFolderOf(dir / "player");
    EXPECT_EQ(gui->Calls("BrowseSources").size(), 1u);
    const std::wstring folder = QFileInfo(QString::fromStdString(dir / "player")).absolutePath().toStdWString();
    EXPECT_EQ(live.VideoFolders[ISourceConfiguration::AVI_FILES], std::vector<std::wstring>{folder});
    EXPECT_EQ(live.SourceMode.load(), static_cast<int>(ISourceConfiguration::AVI_FILES));
    EXPECT_TRUE(live.Channels.empty());

    // With a source loaded it does nothing.
    SourceConfiguration configuration;
    configuration.SetupWithDefaults(dir.path(), ISourceConfiguration::AVI_FILES);
    controller->LoadSources(configuration, 0, false);
    controller->OpenFolderOf(dir / "player");
    EXPECT_EQ(gui->Calls("BrowseSources").size(), 1u);
}

TEST_F(SourceLoadingTest, ASourceWithoutChannelsBuildsNothing)
{
    gavex_test::TempDir empty("empty-source");
    SourceConfiguration configuration;
    configuration.SetupWithDefaults(empty.path(), ISourceConfiguration::AVI_FILES);
    controller->LoadSources(configuration, 0, false);
    EXPECT_TRUE(controller->GetPlayers().empty());
    EXPECT_TRUE(gui->Calls("SetCameras").empty());
    EXPECT_TRUE(gui->Calls("ResetTasks").empty());
    EXPECT_EQ(QApplicationSettings::Instance().Live.Channels, std::vector<std::wstring>{});
}

// Peak signal-to-noise ratio of two pictures of one size over R, G and B.
double Psnr(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    if (x.size() != y.size() || x.isNull())
        return 0.0;
    double sum = 0.0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row);
            const QRgb q = y.pixel(col, row);
            const double dr = qRed(p) - qRed(q), dg = qGreen(p) - qGreen(q), db = qBlue(p) - qBlue(q);
            sum += dr * dr + dg * dg + db * db;
        }
    const double mse = sum / (3.0 * x.width() * x.height());
    return mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

class FrameSaveTest : public SourceLoadingTest {
protected:
    void UseDirAsSource()
    {
        SettingsProfile& selection = QApplicationSettings::Instance().Live;
        selection.SourceMode = ISourceConfiguration::AVI_FILES;
        selection.VideoFolders[ISourceConfiguration::AVI_FILES] = {std::wstring(dir.path().begin(), dir.path().end())};
        selection.Channels.clear();
    }
    // Runs the windowless start with these options; the completion code.
    int Run(playback::PlayersController& target, const StartOptions& options)
    {
        int code = -1;
        target.Completed.connect([&code](int c) { code = c; });
        target.Initialize(options, nullptr, QRect(0, 0, 320, 240));
        return code;
    }
    // Archive ms of the Gate recording's start (the first on the time line).
    int64_t GateStart()
    {
        SourceConfiguration configuration;
        configuration.SetupWithDefaults(dir / "Gate 2019-03-04 05-06-00_000.mkv", ISourceConfiguration::AVI_FILES);
        const auto sources = configuration.GetVideoSources();
        return sources.empty() || sources[0]->GetPeriods().empty() ? 0 : sources[0]->GetPeriods().front().start;
    }
    gavex_test::TempDir out{"frame-save"};
};

TEST_F(FrameSaveTest, SavesEachChannelsFrameAsFfmpegShowsIt)
{
    UseDirAsSource();
    const int64_t start = GateStart();
    StartOptions options;
    options.destination = out / "shot.png";
    options.time = utils::PtimeFromMilliseconds(start + 1500);
    EXPECT_EQ(Run(*controller, options), 0);

    const QImage gate(QString::fromStdString(out / "shot Gate.png"));
    const QImage yard(QString::fromStdString(out / "shot Yard.png"));
    ASSERT_FALSE(gate.isNull());
    ASSERT_FALSE(yard.isNull());
    EXPECT_EQ(gate.size(), QSize(64, 48));
    // The same moment from ffmpeg: 1.5 s into Gate, 0.5 s into Yard, with
    // the same colours (a blank, shifted or channel-swapped picture scores
    // below 10 dB).
    const struct {
        const QImage& saved;
        std::string file;
        std::string at;
    } checks[] = {{gate, "Gate 2019-03-04 05-06-00_000.mkv", "1.5"}, {yard, "Yard 2019-03-04 05-06-01_000.mkv", "0.5"}};
    for (const auto& check : checks) {
        SCOPED_TRACE(check.file);
        const std::string reference = out / (check.file + ".png");
        ASSERT_TRUE(gavex_test::RunFfmpeg({"-ss", check.at, "-i", dir / check.file, "-frames:v", "1", reference}));
        const QImage picture(QString::fromStdString(reference));
        EXPECT_GT(Psnr(check.saved, picture), 40.0);
        EXPECT_LT(Psnr(check.saved.rgbSwapped(), picture), 10.0);
    }
}

TEST_F(FrameSaveTest, NamesForOneChannelAndForAFolder)
{
    const int64_t start = GateStart();
    StartOptions options;
    options.time = utils::PtimeFromMilliseconds(start + 700);
    {
        SourceConfiguration configuration;
        configuration.SetupWithDefaults(dir / "Gate 2019-03-04 05-06-00_000.mkv", ISourceConfiguration::AVI_FILES);
        controller->LoadSources(configuration, 0, false);
        options.destination = out / "one/single.jpg";
        EXPECT_EQ(controller->SaveFrames(options), 0);
        EXPECT_TRUE(QFile::exists(QString::fromStdString(out / "one/single.jpg")));
    }
    SourceConfiguration both;
    both.SetupWithDefaults(dir.path(), ISourceConfiguration::AVI_FILES);
    controller->LoadSources(both, 0, false);
    options.destination = out / "folder";
    // Only Yard has no frame in that second (it starts a second later).
    EXPECT_EQ(controller->SaveFrames(options), 0);
    const QString base =
        QDateTime::fromMSecsSinceEpoch(start + 700, Qt::UTC).toLocalTime().toString("dd-MM-yyyy hh-mm-ss-zzz");
    EXPECT_TRUE(QFile::exists(QString::fromStdString(out / "folder/") + base + " Gate.jpg")) << base.toStdString();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(out / "folder/") + base + " Yard.jpg"));
}

TEST_F(FrameSaveTest, RunsThatSaveNothingEndWith22)
{
    UseDirAsSource();
    const int64_t start = GateStart();
    struct Case {
        std::string name;
        std::string destination;
        int64_t at;
    };
    gavex_test::WriteFileString(out / "a-file", "x");
    const std::vector<Case> cases = {
        {"no frame in that second", out / "late.png", start + 60'000},
        {"unwritable folder", out / "a-file/sub/shot.png", start + 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        playback::PlayersController target(
            playback::HeadlessGui::Bundle(gui),
            playback::MakePlaybackRenderer(boost::make_shared<testsupport::RecordingDevice>()), audio);
        StartOptions options;
        options.destination = c.destination;
        options.time = utils::PtimeFromMilliseconds(c.at);
        EXPECT_EQ(Run(target, options), 22);
        EXPECT_FALSE(QFile::exists(QString::fromStdString(c.destination)));
    }

    // A render device that cannot be made: nothing opens, the run ends.
    {
        auto failing = boost::make_shared<testsupport::RecordingDevice>();
        failing->createMode = testsupport::RecordingDevice::CreateMode::Throw;
        playback::PlayersController target(playback::HeadlessGui::Bundle(gui), playback::MakePlaybackRenderer(failing),
                                           audio);
        StartOptions options;
        options.destination = out / "no-device.png";
        options.time = utils::PtimeFromMilliseconds(start + 1500);
        EXPECT_EQ(Run(target, options), 22);
        EXPECT_TRUE(target.GetPlayers().empty());
        EXPECT_FALSE(QFile::exists(QString::fromStdString(options.destination)));
    }

    // An export without a window: no export engine runs it, and no player
    // is built for it.
    playback::PlayersController target(
        playback::HeadlessGui::Bundle(gui),
        playback::MakePlaybackRenderer(boost::make_shared<testsupport::RecordingDevice>()), audio);
    StartOptions options;
    options.destination = out / "never.png";
    EXPECT_EQ(Run(target, options), 22);
    EXPECT_TRUE(target.GetPlayers().empty());
}

TEST(IsSameSecond, ComparesDateAndWholeSecond)
{
    using boost::posix_time::ptime;
    using boost::posix_time::time_from_string;
    const ptime a = time_from_string("2019-03-04 05:06:07.000");
    EXPECT_TRUE(playback::IsSameSecond(a, time_from_string("2019-03-04 05:06:07.999999")));
    EXPECT_FALSE(playback::IsSameSecond(a, time_from_string("2019-03-04 05:06:06.999999")));
    EXPECT_FALSE(playback::IsSameSecond(a, time_from_string("2019-03-05 05:06:07.000")));
    EXPECT_FALSE(playback::IsSameSecond(a, ptime(boost::posix_time::not_a_date_time)));
}

}  // namespace
