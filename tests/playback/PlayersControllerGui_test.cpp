// The players controller driven through its GUI objects: the headless GUI's
// signals stand for the user's clicks and drags, its recorded calls for what
// the widgets were told. Two scripted channels on simulated time:
// "first" records 2 s from kT0, "second" the last 800 ms of them.

#include "playback/PlayersController.h"

#include <memory>
#include <stdexcept>

#include <QCoreApplication>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "PlaybackTestSupport.h"
#include "config/QApplicationSettings.h"
#include "base/PtimeConversion.h"
#include "media/SourceConfiguration.h"
#include "playback/SourcePin.h"
#include "render/BasicRenderer.h"
#include "render/Renderer.h"
#include "render/RendererPin.h"
#include "render/Titles.h"
#include "support/RecordingDevice.h"

using playbacktest::ClockDriver;
using playbacktest::Eventually;
using playbacktest::ScriptedSource;
using playbacktest::SimTicks;

namespace {

constexpr int64_t kT0 = 1'700'000'000'000;
constexpr int64_t kStep = 40;
constexpr int64_t kEnd = kT0 + 2000;

std::vector<int64_t> Times(int count, int64_t start)
{
    std::vector<int64_t> t;
    for (int i = 0; i < count; ++i)
        t.push_back(start + i * kStep);
    return t;
}

boost::posix_time::ptime At(int64_t ms)
{
    return utils::PtimeFromMilliseconds(ms);
}

const boost::posix_time::ptime kNoTime{boost::posix_time::not_a_date_time};

class ControllerGuiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        playbacktest::Application();
        saved = QApplicationSettings::Instance().Live;
        savedVolume = QApplicationSettings::Instance().SoundVolume;
        savedTitles = QApplicationSettings::Instance().GetTitlesSettings();
        QApplicationSettings::Instance().Live.ExportVideo = false;
        QApplicationSettings::Instance().Live.SourceNativeVideo = false;
        audio = std::make_shared<filters::AudioPlayer>(std::make_unique<playbacktest::SilentSink>(), ticks.Source(),
                                                       false);
        driver = std::make_unique<ClockDriver>(ticks, audio->GetClock());
        first->SetName(L"first");
        second->SetName(L"second");
        controller = Make(playback::HeadlessGui::Bundle(gui));
        controller->BuildPlayers({first, second});
        gui->ClearCalls();
    }

    void TearDown() override
    {
        controller.reset();
        driver.reset();
        QApplicationSettings::Instance().Live = saved;
        QApplicationSettings::Instance().SoundVolume = savedVolume;
        QApplicationSettings::Instance().SetTitlesSettings(savedTitles);
    }

    std::unique_ptr<playback::PlayersController> Make(playback::PlaybackGui bundle)
    {
        return std::make_unique<playback::PlayersController>(
            std::move(bundle), playback::MakePlaybackRenderer(boost::make_shared<testsupport::RecordingDevice>()),
            audio);
    }

    // The export panel's current task holds these channels and times.
    void MakeTask(const std::vector<std::wstring>& channels, boost::posix_time::ptime from,
                  boost::posix_time::ptime to)
    {
        gui->ResetTasks();
        for (const std::wstring& channel : channels)
            gui->AddChannel(channel, channel);
        gui->SelectItem(0, false);
        gui->SetTaskInterval(from, to);
    }

    // Export mode over the current task, with `input` the active time line.
    void EnterExportMode(playback::HeadlessTimeInput& input)
    {
        gui->ExportModeChanged(true);
        input.Activate();
        ASSERT_EQ(controller->GetActiveTimeLine(), &input.Selector());
    }

    std::string LastEnabled()
    {
        const auto calls = gui->Calls("SetEnabledState");
        return calls.empty() ? std::string() : calls.back();
    }

    SimTicks ticks;
    SettingsProfile saved;
    int32_t savedVolume = 0;
    std::vector<std::vector<TitleSetting>> savedTitles;
    std::shared_ptr<playback::HeadlessGui> gui = std::make_shared<playback::HeadlessGui>();
    std::shared_ptr<filters::AudioPlayer> audio;
    std::unique_ptr<ClockDriver> driver;
    std::unique_ptr<playback::PlayersController> controller;
    boost::shared_ptr<ScriptedSource> first =
        boost::make_shared<ScriptedSource>(Times(50, kT0), std::vector<filters::RecordPeriod>{{kT0, 2000}});
    boost::shared_ptr<ScriptedSource> second =
        boost::make_shared<ScriptedSource>(Times(20, kT0 + 1200), std::vector<filters::RecordPeriod>{{kT0 + 1200, 800}});
};

TEST_F(ControllerGuiTest, PlayPanelAndCameraSelectorDriveTheCommands)
{
    gui->calendar.TimeSelected(kT0 + 400);
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 400);
    gui->channelTimeLine.TimeSelected(kT0 + 800);
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 800);
    gui->StepForwardClicked();
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 840);
    gui->StepBackwardClicked();
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 800);

    gui->PlayClicked();
    EXPECT_TRUE(controller->IsPlaying());
    gui->SpeedChanged(2.0);
    EXPECT_EQ(controller->GetSpeed(), 2.0);
    gui->PauseClicked();
    EXPECT_FALSE(controller->IsPlaying());

    // Cameras are chosen by name; an unknown name changes nothing.
    gui->CameraChanged(L"second");
    EXPECT_EQ(controller->GetCurrentPlayer(), controller->GetPlayers()[1]);
    EXPECT_EQ(gui->Calls("SelectChannel"), std::vector<std::string>{"SelectChannel 1"});
    EXPECT_EQ(gui->channelTimeLine.Intervals(), controller->GetPlayers()[1]->converter);
    gui->CameraChanged(L"nobody");
    EXPECT_EQ(controller->GetCurrentPlayer(), controller->GetPlayers()[1]);

    // A controller that is gone no longer answers the GUI.
    controller.reset();
    EXPECT_NO_THROW(gui->PlayClicked());
}

TEST_F(ControllerGuiTest, CaptureAndExportButtonsReachTheirCommands)
{
    // Without an export folder a snapshot is only prepared, then refused.
    QApplicationSettings::Instance().Live.ExportFolder = L"";
    gui->ScreenshotRequested();
    EXPECT_EQ(gui->Calls("PrepareCapture").size(), 1u);
    gui->PrintRequested();
    EXPECT_EQ(gui->Calls("PrepareCapture").size(), 2u);
    EXPECT_EQ(gui->Calls("PrintImage").size(), 1u);

    // Exporting every task starts from the first row; with nothing to export
    // the run ends at once.
    gui->ClearCalls();
    gui->ExportAllTasksClicked();
    EXPECT_EQ(gui->Calls("SelectItem"), std::vector<std::string>{"SelectItem 0"});
    EXPECT_EQ(gui->Calls("Complete").size(), 1u);
    gui->ExportCurrentTaskClicked();
    EXPECT_EQ(gui->Calls("Complete").size(), 2u);
}

TEST_F(ControllerGuiTest, SettingsPanelAndExportModePauseAndSwitchTheTimeLines)
{
    controller->Play();
    gui->SettingsPanelShown();
    EXPECT_FALSE(controller->IsPlaying());
    EXPECT_EQ(gui->Calls("SetPlaying"), std::vector<std::string>{"SetPlaying 0"});
    EXPECT_EQ(LastEnabled(), "SetEnabledState 0 1 0 0 0 0");
    gui->SettingsPanelHidden();
    EXPECT_EQ(LastEnabled(), "SetEnabledState 1 1 0 0 1 0");

    // The main time line and the calendar show every channel's periods, in
    // export mode those of the selected task's channels, which the inputs
    // show as well.
    EXPECT_EQ(gui->mainTimeLine.Intervals(), controller->GetPlayConverter());
    controller->Play();
    gui->ExportModeChanged(true);
    EXPECT_TRUE(controller->IsExportMode());
    EXPECT_FALSE(controller->IsPlaying());
    EXPECT_EQ(gui->mainTimeLine.Intervals(), controller->GetExportConverter());
    EXPECT_EQ(gui->calendar.Intervals(), controller->GetExportConverter());
    EXPECT_EQ(gui->beginInput.GetSelector().Intervals(), controller->GetExportConverter());
    EXPECT_EQ(gui->endInput.GetSelector().Intervals(), controller->GetExportConverter());
    gui->ExportModeChanged(false);
    EXPECT_EQ(gui->mainTimeLine.Intervals(), controller->GetPlayConverter());
    EXPECT_EQ(gui->calendar.Intervals(), controller->GetPlayConverter());
}

// A drag moves every cursor to the clamped time and seeks nothing; the
// release seeks and ends the drag.
TEST_F(ControllerGuiTest, DragsMoveTheCursorsWithoutSeeking)
{
    controller->Seek(kT0 + 100);
    const int seeks = first->seeks;
    for (playback::HeadlessTimeLine* line : {&gui->mainTimeLine, &gui->channelTimeLine}) {
        line->PositionDragged(kT0 + 1500);
        EXPECT_TRUE(controller->IsDragging());
        EXPECT_EQ(gui->mainTimeLine.Position(), kT0 + 1500);
        EXPECT_EQ(gui->channelTimeLine.Position(), kT0 + 1500);
        EXPECT_EQ(gui->calendar.Position(), kT0 + 1500);
        // Past the recording: its end.
        line->PositionDragged(kT0 + 9000);
        EXPECT_EQ(gui->calendar.Position(), kEnd);
        // The tick leaves the cursors alone while dragging.
        controller->Tick();
        EXPECT_EQ(gui->mainTimeLine.Position(), kEnd);
        EXPECT_EQ(controller->CurrentPosition(), kT0 + 100);
        EXPECT_EQ(first->seeks, seeks);
    }
    gui->mainTimeLine.TimeSelected(kT0 + 1500);
    EXPECT_FALSE(controller->IsDragging());
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 1500);
    controller->Tick();
    EXPECT_EQ(gui->calendar.Position(), kT0 + 1500);
}

// An engine whose run ends when the test says so.
class ManualExport final : public Storage::IPlayerExport {
public:
    void Start(const std::string&, const std::vector<Storage::ExportTask>&) override { started = true; }
    void Cancel() override {}
    void Finish() { Completed(*this, Storage::ExportError{}); }
    bool started = false;
};

// After a media export the player goes back to the edge being edited, which
// may have moved while the export ran.
TEST_F(ControllerGuiTest, AFinishedMediaExportSeeksToTheActiveInput)
{
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    live.SourceMode = ISourceConfiguration::FOLDER;
    live.VideoFolders[ISourceConfiguration::FOLDER] = {L"/videos"};
    live.ExportFolder = L"/tmp/exports";
    auto engine = boost::make_shared<ManualExport>();
    playback::SetExportEngineFactory(
        [engine](const boost::shared_ptr<Storage::IVindaraFileSystem>&,
                 const std::vector<boost::shared_ptr<filters::IVideoSource>>&) {
            return boost::shared_ptr<Storage::IPlayerExport>(engine);
        });
    MakeTask({L"second"}, At(kT0 + 1300), At(kT0 + 1700));
    EnterExportMode(gui->endInput);
    controller->Seek(kT0 + 1300);

    controller->ExportCurrentTask();
    playback::SetExportEngineFactory({});
    ASSERT_TRUE(engine->started);
    EXPECT_EQ(controller->RunningExportTasks(), 1);
    gui->endInput.GetSelector().SetPosition(kT0 + 1700);
    engine->Finish();
    QCoreApplication::processEvents();

    EXPECT_EQ(controller->RunningExportTasks(), 0);
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 1700);
}

// The first activation of a time input loads the selected task; a cut edge
// set on the main time line puts both inputs to its time and activates its
// input; the release seeks, and the next tick copies the inputs into the
// task.
TEST_F(ControllerGuiTest, CutEdgeActivatesItsInputAndTheTaskFollows)
{
    MakeTask({L"second"}, kNoTime, kNoTime);
    EnterExportMode(gui->endInput);
    // The task had no interval: the whole recording of its channel.
    EXPECT_EQ(gui->beginInput.CurrentTime(), kT0 + 1200);
    EXPECT_EQ(gui->endInput.CurrentTime(), kEnd);
    EXPECT_EQ(gui->Calls("main SetSelection"),
              (std::vector<std::string>{"main SetSelectionBegin " + std::to_string(kT0 + 1200),
                                        "main SetSelectionEnd " + std::to_string(kEnd)}));
    EXPECT_EQ(gui->mainTimeLine.CutMode(), playback::CutSelectionEnd);
    EXPECT_GE(controller->CurrentPosition(), kEnd - kStep);

    gui->mainTimeLine.CutSelectionChanged(playback::CutSelectionBegin, kT0 + 1500);
    EXPECT_EQ(gui->beginInput.CurrentTime(), kT0 + 1500);
    EXPECT_EQ(gui->endInput.CurrentTime(), kT0 + 1500);
    EXPECT_TRUE(gui->beginInput.IsActive());
    EXPECT_FALSE(gui->endInput.IsActive());
    EXPECT_EQ(controller->GetActiveTimeLine(), &gui->beginInput.Selector());
    EXPECT_EQ(gui->mainTimeLine.CutMode(), playback::CutSelectionBegin);
    EXPECT_TRUE(controller->IsDragging()) << "the edge is still being dragged";
    EXPECT_GE(controller->CurrentPosition(), kEnd - kStep);

    // Setting the same edge again activates nothing more.
    gui->mainTimeLine.CutSelectionChanged(playback::CutSelectionBegin, kT0 + 1500);
    EXPECT_EQ(gui->Calls("begin Activate").size(), 1u);

    gui->mainTimeLine.TimeSelected(kT0 + 1500);
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 1500);
    gui->endInput.GetSelector().SetPosition(kT0 + 1900);
    controller->Tick();
    const Storage::ExportTask task = gui->CurrentTask();
    EXPECT_EQ(task.FromTime, At(kT0 + 1500));
    EXPECT_EQ(task.ToTime, At(kT0 + 1900));

    // No input active: no cut mode, no selection.
    gui->ActiveTimeLineChanged(nullptr);
    EXPECT_EQ(gui->mainTimeLine.CutMode(), playback::CutSelectionNone);
    EXPECT_EQ(gui->Calls("main ClearSelection").size(), 1u);
}

// An edited input whose end comes before its begin: the inactive edge moves
// onto the active one; both are clamped to the recording first.
TEST_F(ControllerGuiTest, EndBeforeBeginMovesTheInactiveEdge)
{
    struct Case {
        const char* name;
        bool beginActive;
        int64_t begin;
        int64_t end;
        int64_t expectedBegin;
        int64_t expectedEnd;
    };
    const Case cases[] = {
        {"begin edited past the end", true, kT0 + 1500, kT0 + 500, kT0 + 1500, kT0 + 1500},
        {"end edited before the begin", false, kT0 + 1500, kT0 + 500, kT0 + 500, kT0 + 500},
        {"in order", false, kT0 + 500, kT0 + 1500, kT0 + 500, kT0 + 1500},
        {"outside the recording", true, kT0 - 5000, kT0 + 9000, kT0, kEnd},
    };
    MakeTask({L"first"}, At(kT0), At(kEnd));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        playback::HeadlessTimeInput& active = c.beginActive ? gui->beginInput : gui->endInput;
        if (controller->GetActiveTimeLine() == nullptr)
            EnterExportMode(active);
        else
            active.Activate();
        gui->beginInput.GetSelector().SetPosition(c.begin);
        gui->endInput.GetSelector().SetPosition(c.end);
        gui->ClearCalls();
        active.Selector().TimeSelected(0);
        EXPECT_EQ(gui->beginInput.CurrentTime(), c.expectedBegin);
        EXPECT_EQ(gui->endInput.CurrentTime(), c.expectedEnd);
        EXPECT_EQ(gui->Calls("main SetSelection"),
                  (std::vector<std::string>{"main SetSelectionBegin " + std::to_string(c.expectedBegin),
                                            "main SetSelectionEnd " + std::to_string(c.expectedEnd)}));
        const int64_t seekTo = c.beginActive ? c.expectedBegin : c.expectedEnd;
        EXPECT_GE(controller->CurrentPosition(), std::min(seekTo, kEnd - kStep));
        EXPECT_LE(controller->CurrentPosition(), seekTo);
    }
}

// A task without a usable interval takes the whole recording of the active
// converter; with no recording at all, both edges take the play position.
TEST_F(ControllerGuiTest, TaskIntervalsWithoutOrderTakeTheWholeRange)
{
    struct Case {
        const char* name;
        std::vector<std::wstring> channels;
        boost::posix_time::ptime from;
        boost::posix_time::ptime to;
        int64_t begin;
        int64_t end;
    };
    // Inside every channel's recording, so that no clamp moves it.
    const int64_t here = kT0 + 1700;
    const Case cases[] = {
        {"no times", {L"first", L"second"}, kNoTime, kNoTime, kT0, kEnd},
        {"reversed", {L"second"}, At(kT0 + 1800), At(kT0 + 1300), kT0 + 1200, kEnd},
        {"empty", {L"second"}, At(kT0 + 1300), At(kT0 + 1300), kT0 + 1200, kEnd},
        {"in order", {L"second"}, At(kT0 + 1300), At(kT0 + 1800), kT0 + 1300, kT0 + 1800},
        {"only an open end", {L"second"}, At(kT0 + 1300), boost::posix_time::ptime(boost::posix_time::pos_infin),
         kT0 + 1200, kEnd},
        {"channels not in the source", {L"elsewhere"}, kNoTime, kNoTime, here, here},
    };
    gui->ExportModeChanged(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller->Seek(here);
        MakeTask(c.channels, c.from, c.to);
        controller->SyncExportTask();
        EXPECT_EQ(gui->beginInput.CurrentTime(), c.begin);
        EXPECT_EQ(gui->endInput.CurrentTime(), c.end);
    }
}

TEST_F(ControllerGuiTest, EnabledStateFlags)
{
    struct Case {
        const char* name;
        bool enabled;
        bool configuring;
        bool exportVideo;
        int taskRow;  // -1: no task with channels
        std::string expected;
    };
    const Case cases[] = {
        {"controls enabled, no task", true, false, false, -1, "1 1 0 0 1 0"},
        {"current task with channels", true, false, false, 0, "1 1 1 1 1 0"},
        {"current row empty, a task elsewhere", true, false, false, 1, "1 1 0 1 1 0"},
        {"settings panel shown", false, true, false, 0, "0 1 0 0 0 0"},
        {"all disabled", false, false, false, 0, "0 0 0 0 0 0"},
        {"the sixth flag follows ExportVideo", false, false, true, 0, "0 0 0 0 0 1"},
        {"ExportVideo with the controls", true, false, true, -1, "1 1 0 0 1 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QApplicationSettings::Instance().Live.ExportVideo = c.exportVideo;
        gui->ResetTasks();
        if (c.taskRow >= 0) {
            gui->AddChannel(L"first", L"first");
            gui->SelectItem(c.taskRow, false);
        }
        controller->SetEnabledState(c.enabled, c.configuring);
        EXPECT_EQ(LastEnabled(), "SetEnabledState " + c.expected);
    }

    // A source without channels enables nothing but the configuration.
    QApplicationSettings::Instance().Live.ExportVideo = false;
    controller->BuildPlayers({});
    controller->SetEnabledState(true, false);
    EXPECT_EQ(LastEnabled(), "SetEnabledState 0 1 0 0 0 0");
}

TEST(GetMediaFileExtension, ThreeLettersOfTheSingleFileSourceElseAvi)
{
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    const auto saved = live.VideoFolders;
    const struct {
        std::vector<std::wstring> paths;
        std::string expected;
    } cases[] = {
        {{L"/video/gate.mkv", L"/video/yard.mp4"}, "mkv"},
        {{L"/video/gate.MP4"}, "MP4"},
        {{L"/video/gate.mpeg"}, "avi"},
        {{L"/video/gate.ts"}, "avi"},
        {{L"/video/gate"}, "avi"},
        {{L"/video.dir/gate"}, "avi"},
        {{}, "avi"},
    };
    for (const auto& c : cases) {
        live.VideoFolders[2] = c.paths;
        EXPECT_EQ(playback::GetMediaFileExtension(), c.expected) << (c.paths.empty() ? "none" : "first path");
    }
    live.VideoFolders.erase(2);
    EXPECT_EQ(playback::GetMediaFileExtension(), "avi");
    live.VideoFolders = saved;
}

TEST_F(ControllerGuiTest, ExportPanelSignals)
{
    MakeTask({L"first"}, At(kT0), At(kT0 + 500));
    // A task's settings button shows that task in the settings panel.
    gui->TaskSelected(0);
    EXPECT_EQ(gui->Calls("SetTask "), std::vector<std::string>{"SetTask 0"});
    EXPECT_EQ(gui->Calls("ToggleSlide").size(), 1u);
    EXPECT_EQ(gui->EditedTask().ChannelIds, std::vector<std::string>{"first"});
    // The edited task goes back into the list.
    Storage::ExportTask edited = gui->EditedTask();
    edited.OutputContainer = "mkv";
    gui->TaskEdited(edited);
    EXPECT_EQ(gui->CurrentTask().OutputContainer, "mkv");
    // A channel picked for export joins the selected task; other rows do
    // nothing.
    gui->ExportSourceSelected(1);
    gui->ExportSourceSelected(2);
    EXPECT_EQ(gui->CurrentTask().ChannelIds, (std::vector<std::string>{"first", "second"}));
    // Cancel without a running export does nothing.
    EXPECT_NO_THROW(gui->CancelExportClicked());
}

TEST_F(ControllerGuiTest, MediaExportTasksTakeTheSourceContainer)
{
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    live.VideoFolders[2] = {L"/video/gate.mkv"};
    live.ExportVideo = true;
    MakeTask({L"first", L"second"}, kNoTime, kNoTime);
    controller->OnExportTasksChanged();
    EXPECT_EQ(gui->Calls("SetCurrentTask"), std::vector<std::string>{"SetCurrentTask mkv Exported 2"});
    EXPECT_EQ(gui->CurrentTask().ChannelIds.size(), 2u);
    // Already prepared: not set again (a panel reporting its own change
    // would otherwise never stop).
    controller->OnExportTasksChanged();
    EXPECT_EQ(gui->Calls("SetCurrentTask").size(), 1u);
    EXPECT_EQ(LastEnabled(), "SetEnabledState 1 1 1 1 1 1");

    // A native export, or an empty task, is left as it is.
    gui->ClearCalls();
    live.SourceNativeVideo = true;
    MakeTask({L"first"}, kNoTime, kNoTime);
    controller->OnExportTasksChanged();
    live.SourceNativeVideo = false;
    gui->ResetTasks();
    controller->OnExportTasksChanged();
    EXPECT_TRUE(gui->Calls("SetCurrentTask").empty());
}

TEST_F(ControllerGuiTest, RestoresTheStoredTasksOfLoadedChannels)
{
    auto task = [](std::vector<std::string> ids, int64_t from, int64_t to) {
        Storage::ExportTask t;
        t.ChannelIds = std::move(ids);
        t.FromTime = At(from);
        t.ToTime = At(to);
        return t;
    };
    QApplicationSettings::Instance().Live.ExportTasks = {task({"second", "first"}, kT0 + 100, kT0 + 900),
                                                         task({"gone"}, kT0, kT0 + 1),
                                                         task({"second"}, kT0 + 1300, kT0 + 1400)};
    gui->ResetTasks();
    controller->RestoreExportTasks();
    // Channels in source order; a task of channels no longer there keeps
    // nothing.
    EXPECT_EQ(gui->Calls("AddChannel"), (std::vector<std::string>{"AddChannel first first", "AddChannel second second",
                                                                  "AddChannel second second"}));
    EXPECT_EQ(gui->Calls("SelectItem").back(), "SelectItem 0");
    std::vector<Storage::ExportTask> tasks;
    gui->GetTasks(tasks);
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[0].ChannelIds, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(tasks[0].FromTime, At(kT0 + 100));
    EXPECT_EQ(tasks[0].ToTime, At(kT0 + 900));
    EXPECT_EQ(tasks[1].ChannelIds, std::vector<std::string>{"second"});
    EXPECT_EQ(gui->CurrentIndex(), 0);
}

// A grid that cannot say where a channel is.
class BrokenGrid final : public playback::IChannelsGrid {
public:
    void CreateItems(const std::vector<int32_t>&, const std::vector<boost::shared_ptr<render::Titles>>&) override {}
    void RemoveItems() override {}
    void SelectChannel(int32_t) override {}
    bool FadeItem(int32_t, int32_t, int32_t) override { return false; }
    std::vector<int32_t> GetLayout() override { throw std::logic_error("No such item"); }
};

TEST_F(ControllerGuiTest, SaveStateStoresPositionTasksLayoutVolumeAndTitles)
{
    QApplicationSettings& settings = QApplicationSettings::Instance();
    controller->Seek(kT0 + 1300);
    MakeTask({L"second"}, At(kT0 + 1300), At(kT0 + 1500));
    gui->SetLayout({1, 0});
    controller->OnVolumeChanged(57);
    // Title switches: channel 0 hides its first user title; channel 1 has
    // two titles but one stored switch.
    controller->GetPlayers()[0]->titles->GetTitle(3)->SetVisible(false);
    controller->GetPlayers()[1]->titles->GetTitle(3)->SetVisible(false);
    controller->GetPlayers()[1]->titles->GetTitle(4)->SetVisible(false);
    const TitleSetting on{true};
    const TitleSetting off{false};
    settings.SetTitlesSettings({{on, on}, {on}});
    controller->SaveState();

    EXPECT_EQ(settings.Live.LastPosition.load(), static_cast<uint64_t>(kT0 + 1300));
    ASSERT_EQ(settings.Live.ExportTasks.size(), 1u);
    EXPECT_EQ(settings.Live.ExportTasks[0].ChannelIds, std::vector<std::string>{"second"});
    EXPECT_EQ(settings.Live.Layout, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(settings.SoundVolume.load(), 57);
    const std::vector<std::vector<TitleSetting>> expected = {{off, on}, {off}};
    EXPECT_EQ(settings.GetTitlesSettings(), expected);

    // A grid without an item for a channel keeps the stored layout and
    // does not break the close.
    playback::PlaybackGui bundle = playback::HeadlessGui::Bundle(gui);
    bundle.grid = std::make_shared<BrokenGrid>();
    controller = Make(bundle);
    controller->BuildPlayers({first});
    controller->OnVolumeChanged(20);
    EXPECT_NO_THROW(controller->SaveState());
    EXPECT_EQ(settings.Live.Layout, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(settings.SoundVolume.load(), 20);
}

TEST_F(ControllerGuiTest, RecreatedDeviceRefreshesTheFrames)
{
    controller->Seek(kT0 + 400);
    const int seeks = first->seeks;
    controller->GetRenderer()->DeviceCreated();
    ASSERT_TRUE(Eventually([&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return first->seeks > seeks;
    }));
    EXPECT_EQ(controller->CurrentPosition(), kT0 + 400);
}

}  // namespace
