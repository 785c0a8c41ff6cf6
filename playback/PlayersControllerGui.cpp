// The players controller's side of the GUI: the connections to the GUI's
// signals, their handlers, the enabled state of the panels, the cursors and
// the cut selection of the time lines, the camera choice, the selected
// export task and the state saved when the main window closes.

#include <cmath>
#include <exception>
#include <functional>

#include <QFileInfo>
#include <QMetaType>
#include <boost/make_shared.hpp>

#include "config/QApplicationSettings.h"
#include "config/StartOptions.h"
#include "base/Log.h"
#include "base/ParentProcess.h"
#include "base/PtimeConversion.h"
#include "base/StringConv.h"
#include "media/SourceConfiguration.h"
#include "media/TimeConversion.h"
#include "playback/PlayersController.h"
#include "playback/SourcePin.h"
#include "render/BasicRenderer.h"
#include "render/Renderer.h"
#include "render/RendererPin.h"
#include "render/Titles.h"

namespace playback {

namespace {

QorLog::CDebug* Log()
{
    return getDefaultDebugInstance();
}

// Gaps of at most this many ms between a task's periods are joined.
constexpr int64_t kTaskJoinGapMs = 100;

}  // namespace

void PlayersController::ConnectGui()
{
    qRegisterMetaType<EnabledGui>("EnabledGui");
    auto keep = [this](boost::signals2::connection connection) { m_guiConnections.emplace_back(connection); };
    const PlaybackGui& gui = m_gui;

    // A drag moves every cursor but seeks only when the user lets go.
    const auto dragged = [this](int64_t time) {
        m_dragging = true;
        SetCursorTime(ClampToRecorded(time));
    };
    if (gui.calendar)
        keep(gui.calendar->TimeSelected.connect([this](int64_t time) { Seek(time); }));
    if (gui.beginInput)
        keep(gui.beginInput->Selector().TimeSelected.connect([this](int64_t) { OnTimeInputChanged(); }));
    if (gui.endInput)
        keep(gui.endInput->Selector().TimeSelected.connect([this](int64_t) { OnTimeInputChanged(); }));
    if (gui.playTimeLine)
        keep(gui.playTimeLine->TimeSelected.connect([this](int64_t time) { Seek(time); }));
    if (gui.exportTimeLine)
        keep(gui.exportTimeLine->TimeSelected.connect([this](int64_t time) { Seek(time); }));
    if (gui.playTimeLine)
        keep(gui.playTimeLine->PositionDragged.connect(dragged));
    if (gui.exportTimeLine) {
        keep(gui.exportTimeLine->PositionDragged.connect(dragged));
        keep(gui.exportTimeLine->CutSelectionChanged.connect(
            [this](ECutSelectionMode mode, int64_t time) { SetCutSelection(mode, time); }));
    }
    if (gui.playPanel) {
        keep(gui.playPanel->PlayClicked.connect([this] { Play(); }));
        keep(gui.playPanel->PauseClicked.connect([this] { Pause(); }));
        keep(gui.playPanel->StepBackwardClicked.connect([this] { StepBackward(); }));
        keep(gui.playPanel->StepForwardClicked.connect([this] { StepForward(); }));
        keep(gui.playPanel->SpeedChanged.connect([this](double rate) { SetSpeed(rate); }));
        keep(gui.playPanel->VolumeChanged.connect([this](int volume) { OnVolumeChanged(volume); }));
    }
    if (gui.cameras)
        keep(gui.cameras->CameraChanged.connect([this](const std::wstring& name) { SelectCamera(name); }));
    // On the render thread: only a flag for the next tick.
    keep(m_renderer->DeviceCreated.connect([this] { m_refreshPending = true; }));
    if (gui.controls) {
        IControlsLayer& layer = *gui.controls;
        keep(layer.ScreenshotRequested.connect([this] { SaveScreenshot(); }));
        keep(layer.PrintRequested.connect([this] { PrintFrame(); }));
        keep(layer.SourcesChosen.connect(
            [this](ISourceConfiguration& configuration) { LoadSources(configuration, 0, true); }));
        keep(layer.SettingsPanelShown.connect([this] {
            Pause();
            m_gui.playPanel->SetPlaying(false);
            SetEnabledState(false, true);
        }));
        keep(layer.SettingsPanelHidden.connect([this] {
            SetEnabledState(true, false);
            ApplySettings();
            m_refreshPending = true;
        }));
        keep(layer.ExportSourceSelected.connect([this](int channel) { SelectExportSource(channel); }));
        keep(layer.ExportModeChanged.connect([this](bool exportMode) {
            Pause();
            m_gui.playPanel->SetPlaying(false);
            m_exportMode = exportMode;
            OnSelectionModeChanged();
        }));
        keep(layer.ActiveTimeLineChanged.connect([this](ITimeLineControl* timeLine) { SetActiveTimeLine(timeLine); }));
        keep(layer.FileOpened.connect([this](int channel) { OnFileOpened(channel); }));
    }
    if (gui.exportControl) {
        keep(gui.exportControl->ExportCurrentTaskClicked.connect([this] { ExportCurrentTask(); }));
        keep(gui.exportControl->ExportAllTasksClicked.connect([this] { ExportAllTasks(); }));
        keep(gui.exportControl->CancelExportClicked.connect([this] {
            if (m_export)
                m_export->Cancel();
        }));
    }
    if (gui.exportPanel)
        keep(gui.exportPanel->TaskSelected.connect([this](int row) { SelectExportTask(row); }));
    if (gui.taskSettings && gui.exportPanel) {
        keep(gui.taskSettings->TaskEdited.connect(
            [this](Storage::ExportTask& task) { m_gui.exportPanel->SetCurrentTask(task); }));
    }
}

void PlayersController::OnVolumeChanged(int volume)
{
    const double old = m_audioPlayer->GetVolume();
    m_audioPlayer->SetVolume(volume / 100.0);
    if (m_audioPlayer->GetVolume() == 0.0)
        m_audioPlayer->Stop();
    else if (old == 0.0)
        UpdateAudio(true);
}

EnabledGui PlayersController::ComputeEnabledState(bool enabled, bool configuring)
{
    bool hasChannel = false;
    for (const auto& channel : m_channels)
        hasChannel = hasChannel || channel != nullptr;
    EnabledGui state;
    state.playback = enabled && hasChannel;
    state.configuration = enabled || configuring;
    if (state.playback && m_gui.exportPanel) {
        Storage::ExportTask task;
        m_gui.exportPanel->GetTask(m_gui.exportPanel->CurrentIndex(), task);
        state.exportCurrentTask = !task.ChannelIds.empty();
        state.exportAllTasks = m_gui.exportPanel->CountTasks() > 0;
    }
    state.capture = state.playback && !m_players.empty();
    state.exportVideo = QApplicationSettings::Instance().Live.ExportVideo;
    return state;
}

void PlayersController::SetEnabledState(bool enabled, bool configuring)
{
    if (m_gui.enabled)
        m_gui.enabled->SetEnabledState(ComputeEnabledState(enabled, configuring));
}

void PlayersController::NotifyNewFile(int32_t channel)
{
    m_gui.controls->PostNewFile(channel);
}

void PlayersController::OnFileOpened(int channel)
{
    if (channel < 0 || static_cast<size_t>(channel) >= m_players.size() || !m_currentPlayer)
        return;
    if (m_players[static_cast<size_t>(channel)] == m_currentPlayer)
        UpdateAudio(false);
}

void PlayersController::SetCursorTime(int64_t time)
{
    m_gui.playTimeLine->SetPosition(time);
    m_gui.exportTimeLine->SetPosition(time);
    if (m_gui.calendar)
        m_gui.calendar->SetPosition(time);
    SyncCutCursor(time);
}

void PlayersController::SyncCutCursor(int64_t time)
{
    if (m_activeTimeLine != nullptr) {
        if (m_gui.beginInput && m_activeTimeLine == &m_gui.beginInput->Selector())
            m_gui.beginInput->Selector().SetPosition(time);
        if (m_gui.endInput && m_activeTimeLine == &m_gui.endInput->Selector())
            m_gui.endInput->Selector().SetPosition(time);
    }
    if (m_taskIntervalDirty) {
        SyncTaskInterval();
        m_taskIntervalDirty = false;
    }
}

std::shared_ptr<utils::TimeConverter> PlayersController::ActiveConverter()
{
    return m_exportMode ? m_exportConverter : m_playConverter;
}

void PlayersController::OnSelectionModeChanged()
{
    const std::shared_ptr<utils::TimeConverter> converter = ActiveConverter();
    m_gui.exportTimeLine->SetIntervals(converter);
    if (m_gui.calendar)
        m_gui.calendar->SetIntervals(converter);
    if (m_exportMode && m_gui.beginInput && m_gui.endInput) {
        m_gui.beginInput->Selector().SetIntervals(converter);
        m_gui.endInput->Selector().SetIntervals(converter);
    }
}

void PlayersController::SelectCamera(const std::wstring& name)
{
    for (size_t i = 0; i < m_players.size(); ++i) {
        const auto source = m_players[i]->pin->GetSource();
        if (source && source->GetName() == name) {
            SelectPlayer(i);
            UpdateAudio(true);
            return;
        }
    }
}

void PlayersController::SetActiveTimeLine(ITimeLineControl* timeLine)
{
    const bool firstActivation = m_activeTimeLine == nullptr && timeLine != nullptr;
    m_activeTimeLine = timeLine;
    if (firstActivation)
        SyncExportTask();
    if (timeLine != nullptr) {
        const bool begin = m_gui.beginInput && timeLine == &m_gui.beginInput->Selector();
        m_gui.exportTimeLine->SetCutSelectionMode(begin ? CutSelectionBegin : CutSelectionEnd);
        const std::shared_ptr<ITimeInputPanel>& input = begin ? m_gui.beginInput : m_gui.endInput;
        if (!m_dragging && input)
            Seek(ClampToRecorded(input->CurrentTime()));
    } else {
        m_gui.exportTimeLine->SetCutSelectionMode(CutSelectionNone);
        m_gui.exportTimeLine->ClearSelection();
    }
}

void PlayersController::SetCutSelection(ECutSelectionMode mode, int64_t time)
{
    m_dragging = true;
    if (!m_gui.beginInput || !m_gui.endInput)
        return;
    m_gui.beginInput->Selector().SetPosition(time);
    m_gui.endInput->Selector().SetPosition(time);
    ITimeInputPanel& input = mode == CutSelectionBegin ? *m_gui.beginInput : *m_gui.endInput;
    // Activating it makes the controls layer report it as the active time
    // line.
    if (!input.IsActive())
        input.Activate();
}

void PlayersController::OnTimeInputChanged()
{
    if (!m_gui.beginInput || !m_gui.endInput)
        return;
    int64_t begin = ClampToRecorded(m_gui.beginInput->CurrentTime());
    int64_t end = ClampToRecorded(m_gui.endInput->CurrentTime());
    // The edge being edited wins: the other one gives way.
    if (end < begin) {
        if (m_activeTimeLine == &m_gui.beginInput->Selector())
            end = begin;
        else
            begin = end;
    }
    ApplyCutInterval(begin, end);
}

void PlayersController::ApplyCutInterval(int64_t begin, int64_t end)
{
    if (!m_gui.beginInput || !m_gui.endInput)
        return;
    m_gui.beginInput->Selector().SetPosition(begin);
    m_gui.endInput->Selector().SetPosition(end);
    if (m_activeTimeLine == nullptr)
        return;
    m_gui.exportTimeLine->SetSelectionBegin(begin);
    m_gui.exportTimeLine->SetSelectionEnd(end);
    Seek(m_activeTimeLine == &m_gui.beginInput->Selector() ? begin : end);
}

void PlayersController::SyncTaskInterval()
{
    if (!m_gui.beginInput || !m_gui.endInput || !m_gui.exportPanel)
        return;
    const int64_t begin = ClampToRecorded(m_gui.beginInput->CurrentTime());
    const int64_t end = ClampToRecorded(m_gui.endInput->CurrentTime());
    m_gui.exportPanel->SetTaskInterval(utils::PtimeFromMilliseconds(begin), utils::PtimeFromMilliseconds(end));
}

std::vector<boost::shared_ptr<filters::IVideoSource>> PlayersController::FindTaskChannels(
    const std::vector<std::string>& ids)
{
    std::vector<boost::shared_ptr<filters::IVideoSource>> found;
    for (const auto& channel : m_channels) {
        if (!channel)
            continue;
        const std::string id = ToNarrowString(channel->GetId());
        for (const std::string& wanted : ids) {
            if (wanted == id) {
                found.push_back(channel);
                break;
            }
        }
    }
    return found;
}

void PlayersController::SyncExportTask()
{
    if (!m_gui.exportPanel)
        return;
    Storage::ExportTask task;
    m_gui.exportPanel->GetTask(m_gui.exportPanel->CurrentIndex(), task);

    m_exportConverter->Clear();
    for (const auto& channel : FindTaskChannels(task.ChannelIds))
        utils::MergeCloseIntervals(channel->GetPeriods(), *m_exportConverter, kTaskJoinGapMs);
    m_exportConverter->RebuildContinuous();
    OnSelectionModeChanged();

    // Special times (not-a-date-time, the infinities) and an empty or
    // reversed interval take the whole recording of the active converter.
    int64_t from = task.FromTime.is_special() ? 0 : utils::MillisecondsFromPtime(task.FromTime);
    int64_t to = task.ToTime.is_special() ? 0 : utils::MillisecondsFromPtime(task.ToTime);
    if (task.FromTime.is_special() || task.ToTime.is_special() || to <= from) {
        const utils::IntervalList& periods = ActiveConverter()->GetArchivePeriods();
        from = periods.empty() ? 0 : periods.front().start;
        to = periods.empty() ? 0 : utils::IntervalEnd(periods.back());
    }
    ApplyCutInterval(from != 0 ? from : CurrentPosition(), to != 0 ? to : CurrentPosition());
}

void PlayersController::OnExportTasksChanged()
{
    if (m_taskCount == 0)
        SetEnabledState(true, false);
    SyncExportTask();
    const SettingsProfile& live = QApplicationSettings::Instance().Live;
    if (!live.SourceNativeVideo && live.ExportVideo)
        PrepareMediaExportTask();
}

void PlayersController::PrepareMediaExportTask()
{
    if (!m_gui.exportPanel)
        return;
    const int row = std::min(m_gui.exportPanel->CurrentIndex(), m_gui.exportPanel->ItemCount() - 1);
    Storage::ExportTask task;
    m_gui.exportPanel->GetTask(row, task);
    if (task.ChannelIds.empty())
        return;
    const std::string container = GetMediaFileExtension();
    const std::string prefix = "Exported " + std::to_string(task.ChannelIds.size());
    // A panel may report its own edit as a change of the task list: setting
    // what is already there would come back here without end.
    if (task.OutputContainer == container && task.PrefixFileName == prefix)
        return;
    task.OutputContainer = container;
    task.PrefixFileName = prefix;
    m_gui.exportPanel->SetCurrentTask(task);
}

std::string GetMediaFileExtension()
{
    try {
        const SettingsProfile& live = QApplicationSettings::Instance().Live;
        const auto files = live.VideoFolders.find(2);  // one exported or media file
        if (files != live.VideoFolders.end() && !files->second.empty()) {
            const std::wstring& path = files->second.front();
            const size_t separator = path.find_last_of(L"/\\");
            const size_t dot = path.rfind(L'.');
            if (dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator) &&
                path.size() - dot == 4)
                return ToNarrowString(path.substr(dot + 1));
        }
    } catch (const std::exception&) {
        Log()->Trace("Failed get extension file");
    }
    return "avi";
}

void PlayersController::RestoreExportTasks()
{
    if (!m_gui.exportPanel)
        return;
    const std::vector<Storage::ExportTask> tasks = QApplicationSettings::Instance().Live.ExportTasks;
    for (size_t i = 0; i < tasks.size(); ++i) {
        for (const auto& channel : FindTaskChannels(tasks[i].ChannelIds))
            m_gui.exportPanel->AddChannel(channel->GetId(), channel->GetName());
        m_gui.exportPanel->SetTaskInterval(tasks[i].FromTime, tasks[i].ToTime);
        m_gui.exportPanel->SelectItem(static_cast<int>(i) + 1, false);
    }
    m_gui.exportPanel->SelectItem(0, false);
}

void PlayersController::SelectExportTask(int row)
{
    if (!m_gui.exportPanel || !m_gui.taskSettings)
        return;
    Storage::ExportTask task;
    m_gui.exportPanel->GetTask(row, task);
    m_gui.taskSettings->SetTask(task);
    m_gui.taskSettings->ToggleSlide();
}

void PlayersController::SelectExportSource(int channel)
{
    if (channel < 0 || static_cast<size_t>(channel) >= m_players.size() || !m_gui.exportPanel)
        return;
    const auto source = m_players[static_cast<size_t>(channel)]->pin->GetSource();
    if (source)
        m_gui.exportPanel->AddChannel(source->GetId(), source->GetName());
}

void PlayersController::OpenParentFolder()
{
    OpenFolderOf(GetParentProcessPath());
}

void PlayersController::OpenFolderOf(const std::string& executable)
{
    if (executable.empty())
        return;
    for (const auto& channel : m_channels)
        if (channel)
            return;  // a source is loaded already
    const QString folder = QFileInfo(QString::fromLocal8Bit(executable.c_str())).absolutePath();
    for (const ISourceConfiguration::ESourceMode mode : {ISourceConfiguration::AVI_FILES, ISourceConfiguration::FOLDER}) {
        SourceConfiguration configuration;
        try {
            configuration.Setup(folder.toLocal8Bit().toStdString(), mode, StartOptions{});
            if (!configuration.HasVideo())
                continue;
        } catch (const std::exception& e) {
            Log()->Trace("%s", e.what());
            continue;
        }
        QApplicationSettings& settings = QApplicationSettings::Instance();
        settings.Live.VideoFolders[mode] = {folder.toStdWString()};
        settings.Live.SourceMode = static_cast<int>(mode);
        settings.Live.SetChannels({});
        int64_t offset = 0;
        EmbeddedVideoKey key{};
        if (settings.GetEmbeddedVideo(offset, key, std::string()))
            LoadSources(configuration, 0, true);
        else if (m_gui.controls)
            m_gui.controls->BrowseSources();
        return;
    }
}

void PlayersController::SaveState()
{
    // The window is closing: a value that cannot be read (a grid without an
    // item for a channel, a panel that fails) keeps its stored value rather
    // than break the close.
    QApplicationSettings& settings = QApplicationSettings::Instance();
    const auto save = [](const char* what, const std::function<void()>& step) {
        try {
            step();
        } catch (const std::exception& e) {
            Log()->Warning("The %s was not saved: %s", what, e.what());
        }
    };
    save("position", [&] { settings.Live.LastPosition = static_cast<uint64_t>(CurrentPosition()); });
    save("export task list", [&] {
        if (!m_gui.exportPanel)
            return;
        std::vector<Storage::ExportTask> tasks;
        m_gui.exportPanel->GetTasks(tasks);
        settings.Live.ExportTasks = tasks;
    });
    save("channel layout", [&] { settings.Live.Layout = m_gui.grid->GetLayout(); });
    settings.SoundVolume = static_cast<int32_t>(std::floor(m_audioPlayer->GetVolume() * 100.0 + 0.5));
    save("title switches", [&] { SaveTitlesSettings(); });
}

void PlayersController::SaveTitlesSettings()
{
    QApplicationSettings& settings = QApplicationSettings::Instance();
    std::vector<std::vector<TitleSetting>> switches = settings.GetTitlesSettings();
    if (switches.empty())
        return;
    for (size_t i = 0; i < m_players.size() && i < switches.size(); ++i) {
        if (!m_players[i]->titles)
            continue;
        const std::vector<render::TitlePtr> titles = m_players[i]->titles->GetTitles();
        for (size_t j = 3; j < titles.size(); ++j) {
            if (j - 3 >= switches[i].size())
                break;
            if (titles[j])
                switches[i][j - 3].Enabled = titles[j]->IsVisible();
        }
    }
    settings.SetTitlesSettings(std::move(switches));
}

void PlayersController::ApplyCameraSettings()
{
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    for (int i = 0; i < m_renderer->GetCount(); ++i) {
        // The Channels setting lists one identifier per loaded channel; pins
        // beyond it (players built without a source) keep their view.
        if (static_cast<size_t>(i) >= live.Channels.size())
            break;
        const auto pin = boost::dynamic_pointer_cast<render::MediaSamplePin>(m_renderer->GetPin(i));
        if (!pin)
            continue;
        const CameraSettings& camera = live.CamSettings[live.Channels[static_cast<size_t>(i)]];
        pin->SetDewarping(camera.Lens, camera.Pos, camera.Display, camera.Circle);
    }
}

}  // namespace playback
