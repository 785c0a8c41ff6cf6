#include "playback/PlayersController.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <future>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QTimerEvent>
#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include "archive/files/PlayInfo.h"
#include "base/Log.h"
#include "base/StringConv.h"
#include "config/QApplicationSettings.h"
#include "config/StartOptions.h"
#include "media/SourceConfiguration.h"
#include "media/TimeConversion.h"
#include "media/VideoSourceInterfaces.h"
#include "base/PtimeConversion.h"
#include "playback/QtMediaSample.h"
#include "playback/SourcePin.h"
#include "playback/TimeConverterSource.h"
#include "playback/TimeSynchronizer.h"
#include "render/BasicRenderer.h"
#include "render/Renderer.h"
#include "render/RendererPin.h"
#include "render/Titles.h"

namespace playback {

namespace {

constexpr int32_t kOutOfRecordAlpha = 150;

QorLog::CDebug* Log()
{
    return getDefaultDebugInstance();
}

// A value that is not a multiple of 1000 becomes the next multiple of 1000.
int64_t RoundUpToSecond(int64_t ms)
{
    const int64_t rest = ((ms % 1000) + 1000) % 1000;
    return rest == 0 ? ms : ms - rest + 1000;
}

// Archive ms of a record end, one microsecond after its last; special
// values unchanged.
int64_t EndAfter(const boost::posix_time::ptime& last)
{
    if (last.is_special())
        return utils::MillisecondsFromPtime(last);
    return utils::MillisecondsFromPtime(last + boost::posix_time::microseconds(1));
}

}  // namespace

std::shared_ptr<render::Renderer> MakePlaybackRenderer(const render::DevicePtr& device)
{
    return device ? std::make_shared<render::Renderer>(device) : std::make_shared<render::Renderer>();
}

Player::Player()
    : pin(std::make_shared<filters::VindaraSourcePin>())
    , pinThread(std::make_unique<filters::SourcePin>(pin))
{
}

Player::~Player()
{
    titles.reset();
    converter.reset();
    pinThread.reset();
    pin.reset();
}

void Player::Init(const boost::shared_ptr<filters::IVideoSource>& source,
                  const std::shared_ptr<filters::TimeSynchronizer>& synchronizer,
                  const std::shared_ptr<render::BasicRenderer>& renderer)
{
    if (!renderer)
        throw std::runtime_error("renderer cannot be NULL");
    pin->SetSource(source, synchronizer, renderer->GetDeviceDescription());
    rendererPin = boost::dynamic_pointer_cast<render::MediaSamplePin>(renderer->AddPin());
    if (!rendererPin)
        throw std::runtime_error("The renderer made no picture pin");
    rendererPin->SetRotation(source->GetCameraSettings().rotation);
    titles = rendererPin->GetTitles();
    pin->SetTitles(titles);
    pinThread->SetRendererPin(rendererPin);

    boost::shared_ptr<filters::IVideoSource> inner = source;
    if (auto* converting = dynamic_cast<filters::TimeConverterSource*>(source.get()))
        inner = converting->GetInner();
    converter = std::make_shared<utils::TimeConverter>();
    utils::MergeCloseIntervals(inner->GetPeriods(), *converter, utils::kJoinGapMs);
    converter->SetTimeZoneOffset(inner->GetTimeShift());
    converter->RebuildContinuous();
}

PlayersController::PlayersController(PlaybackGui gui, std::shared_ptr<render::Renderer> renderer,
                                     std::shared_ptr<filters::AudioPlayer> audio)
    : m_gui(std::move(gui))
    , m_renderer(renderer ? std::move(renderer) : MakePlaybackRenderer(nullptr))
    , m_playConverter(std::make_shared<utils::TimeConverter>())
    , m_exportConverter(std::make_shared<utils::TimeConverter>())
{
    const QApplicationSettings& settings = QApplicationSettings::Instance();
    m_settings.skipFrames = settings.SkipFrames;
    m_settings.playCycle = settings.PlayCycle;
    m_settings.soundVolume = settings.SoundVolume;
    m_settings.lastPosition = static_cast<int64_t>(settings.Live.LastPosition.load());
    ConnectGui();
    m_timer = startTimer(kTimerIntervalMs, Qt::CoarseTimer);
    m_audioPlayer = audio ? std::move(audio) : std::make_shared<filters::AudioPlayer>();
}

PlayersController::~PlayersController()
{
    m_guiConnections.clear();
    if (m_timer != 0)
        killTimer(m_timer);
    if (m_export) {
        // A running engine must not call back into a controller that is
        // gone: it is cut off and stopped before it is released.
        m_export->TaskProgress.disconnect_all_slots();
        m_export->Completed.disconnect_all_slots();
        m_export->Cancel();
        m_export.reset();
    }
    m_fileConnections.clear();
    m_audioPlayer.reset();
    m_channels.clear();
    m_channelStates.clear();
    m_currentPlayer.reset();
    m_players.clear();
    m_synchronizer.reset();
    m_renderer.reset();
}

int64_t PlayersController::PinTime(const std::shared_ptr<Player>& player)
{
    return player && player->pin->HasSource() ? player->pin->GetCurrentTime() : 0;
}

void PlayersController::Play()
{
    if (m_playing)
        return;
    m_playing = true;
    m_gui.controls->StopPrevFrameAlpha();
    m_gui.controls->SetPrevFrameAlpha(0);
    m_gui.controls->InvalidateAll();
    m_renderer->SetPrevFrameAlpha(0);
    m_renderer->InvalidateAll();
    UpdateAudio(true);
    for (const auto& player : m_players)
        if (player->pin->HasSource())
            player->pinThread->Resume();
}

void PlayersController::Pause()
{
    ClearPlaying();
    // The clients pause in channel order (the first one stops the clock);
    // then every pin thread takes its command.
    for (const auto& player : m_players)
        if (player->pin->HasSource())
            player->pin->Pause();
    ForEachPlayer(true, [](Player& player) { player.pinThread->SetState(filters::SourcePin::kRun, true); });
}

void PlayersController::ClearPlaying()
{
    m_playing = false;
    UpdateAudio(true);
}

void PlayersController::StepFrame(bool forward, int64_t position, bool keepFade)
{
    if (m_players.empty())
        return;
    const bool wasPlaying = m_playing;
    const bool fade = !wasPlaying && position >= 0 && !keepFade;
    Pause();
    if (fade)
        m_gui.controls->StopPrevFrameFade();
    if (position < 0) {
        if (m_currentPlayer && m_currentPlayer->pin->HasSource())
            position = m_currentPlayer->pinThread->GetAdjacentFrameTime(forward);
        for (const auto& player : m_players) {
            if (position >= 0)
                break;
            if (player == m_currentPlayer || !player->pin->HasSource())
                continue;
            position = player->pinThread->GetAdjacentFrameTime(forward);
        }
    }
    // No frame in that direction: every channel stays where it is.
    if (position >= 0) {
        // The master client's seek moves the common time line, and every
        // other pin times its frames from it: they seek once it has moved,
        // or a pin could report its frame against the old start position.
        Player* master = nullptr;
        for (const auto& player : m_players)
            if (player->pin->HasSource() && player->pin->GetClientIndex() == 0)
                master = player.get();
        if (master)
            master->pinThread->Seek(position);
        ForEachPlayer(true, [position, master](Player& player) {
            if (&player != master)
                player.pinThread->Seek(position);
        });
    }
    for (const auto& player : m_players)
        player->pin->Pause();
    ForEachPlayer(false, [](Player& player) { player.pinThread->SetState(filters::SourcePin::kRun, true); });
    Tick();
    QCoreApplication::sendPostedEvents();
    m_gui.controls->RenderDirty();
    if (wasPlaying)
        Play();
    if (fade)
        m_gui.controls->StartPrevFrameAlpha();
}

void PlayersController::ForEachPlayer(bool withSourceOnly, const std::function<void(Player&)>& work)
{
    std::vector<Player*> players;
    for (const auto& player : m_players)
        if (!withSourceOnly || player->pin->HasSource())
            players.push_back(player.get());
    if (players.size() <= 1) {
        for (Player* player : players)
            work(*player);
        return;
    }
    // Seeks decode up to their target and pauses wait for a frame in
    // progress, each on the calling thread; the channels are independent of
    // each other, so they do it at the same time.
    std::vector<std::future<void>> others;
    others.reserve(players.size() - 1);
    for (size_t i = 1; i < players.size(); ++i)
        others.push_back(std::async(std::launch::async, [&work, player = players[i]] { work(*player); }));
    std::exception_ptr failure;
    try {
        work(*players[0]);
    } catch (...) {
        failure = std::current_exception();
    }
    for (std::future<void>& other : others) {
        try {
            other.get();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void PlayersController::SeekAll(int64_t time, bool keepFade)
{
    const auto started = std::chrono::steady_clock::now();
    StepFrame(true, time, keepFade);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    Log()->Trace(boost::format("%1% : %2% ms\n") % "SeekAll" % (static_cast<double>(elapsed) / 1000.0));
}

void PlayersController::Seek(int64_t time)
{
    const utils::IntervalList& continuous = m_playConverter->GetContinuousPeriods();
    if (continuous.empty() || utils::IntervalEnd(continuous.back()) - continuous.front().start <= 0)
        return;
    if (m_exportMode) {
        time = ClampToRecorded(time);
        // The next cursor update copies the time inputs into the task.
        m_taskIntervalDirty = true;
    }
    SeekAll(utils::MapTimeBetweenIntervals(time, m_playConverter->GetArchivePeriods(), continuous, 1), false);
    m_dragging = false;
}

void PlayersController::SetSpeed(double rate)
{
    if (m_synchronizer)
        m_synchronizer->GetClock()->SetRate(rate);
    UpdateAudio(true);
}

double PlayersController::GetSpeed()
{
    return m_synchronizer ? m_synchronizer->GetClock()->GetRate() : 1.0;
}

void PlayersController::ApplySettings()
{
    m_settings.skipFrames = QApplicationSettings::Instance().SkipFrames;
    const bool wasPlaying = m_playing;
    Pause();
    for (const auto& player : m_players)
        player->pin->SetSkipFrames(m_settings.skipFrames);
    ApplyCameraSettings();
    if (wasPlaying)
        Play();
}

void PlayersController::SetPlayCycle(bool cycle)
{
    m_settings.playCycle = cycle;
    QApplicationSettings::Instance().PlayCycle = cycle;
}

bool IsSameSecond(const boost::posix_time::ptime& a, const boost::posix_time::ptime& b)
{
    if (a.is_special() || b.is_special())
        return false;
    return a.date() == b.date() &&
           a.time_of_day().total_microseconds() / 1000000 == b.time_of_day().total_microseconds() / 1000000;
}

void LogSupportedImageFormats()
{
    Log()->Message("LogSupportedImageFormats");
    for (const QByteArray& format : QImageWriter::supportedImageFormats())
        Log()->Message("%s", format.constData());
}

void PlayersController::Initialize(const StartOptions& options, QWidget* widget, const QRect& rect)
{
    m_renderer->Start(widget, rect);
    bool created = false;
    if (const auto device = m_renderer->GetDevice()) {
        boost::mutex::scoped_lock lock(m_renderer->GetLock());
        created = device->IsReady();
    }
    if (!created) {
        // A windowless run still completes.
        if (!options.destination.empty())
            Completed(kCompletedFailed);
        return;
    }
    m_windowlessExport = !options.destination.empty() && options.time.is_special();
    OpenSource(options);
    if (!options.destination.empty()) {
        if (m_windowlessExport) {
            StartExport(QApplicationSettings::Instance().Live.ExportTasks);
        } else {
            Completed(SaveFrames(options));
        }
        return;
    }
    RestoreExportTasks();
    m_guiConnections.emplace_back(m_gui.exportPanel->CurrentTaskChanged.connect([this] { OnExportTasksChanged(); }));
    OnExportTasksChanged();
    m_gui.playPanel->SetVolume(m_settings.soundVolume);
    if (options.portable)
        OpenParentFolder();
}

int PlayersController::SaveFrames(const StartOptions& options)
{
    const QString destination = QString::fromLocal8Bit(options.destination.c_str());
    const QFileInfo info(destination);
    QString suffix = info.suffix();
    const bool named = !suffix.isEmpty();
    QString folder;
    if (!named) {
        suffix = "jpg";
        folder = destination;
    } else {
        folder = info.absolutePath();
    }
    if (!QDir().mkpath(folder)) {
        Log()->Message("Error creating folder");
        return kCompletedFailed;
    }
    LogSupportedImageFormats();
    const QString base =
        named ? info.completeBaseName()
              : utils::QDateTimeFromPtime(options.time).toLocalTime().toString("dd-MM-yyyy hh-mm-ss-zzz");
    int saved = 0;
    for (size_t i = 0; i < m_players.size(); ++i) {
        const auto source = m_players[i]->pin->GetSource();
        if (!source)
            continue;
        const QString part = named && m_players.size() == 1
                                 ? QString()
                                 : QString(" ") + QString::fromStdWString(source->GetId());
        const QString path = QString("%1/%2%3.%4").arg(folder, base, part, suffix);
        QImage image;
        try {
            image = GetFrameImage(i, options.time, source->GetCameraSettings().rotation);
        } catch (const std::exception& e) {
            Log()->Message("Frame not decoded: %s", e.what());
        }
        if (image.isNull()) {
            Log()->Message("No frame to save");
            continue;
        }
        if (!image.save(path)) {
            Log()->Message("Error saving image");
            return kCompletedFailed;
        }
        ++saved;
    }
    // A save that saved nothing did not succeed.
    return saved > 0 ? kCompletedOk : kCompletedFailed;
}

QImage PlayersController::GetFrameImage(size_t index, const boost::posix_time::ptime& time, int rotation)
{
    if (index >= m_players.size() || time.is_special())
        return QImage();
    QtMediaSample first;
    QtMediaSample second;
    const int64_t t = utils::MapTimeBetweenIntervals(utils::MillisecondsFromPtime(time),
                                                     m_playConverter->GetArchivePeriods(),
                                                     m_playConverter->GetContinuousPeriods(), 1);
    m_players[index]->pinThread->RenderFrameAt(&first, &second, t);
    const boost::posix_time::ptime t1 = utils::PtimeFromMilliseconds(first.GetTime());
    const boost::posix_time::ptime t2 = utils::PtimeFromMilliseconds(second.GetTime());
    bool useFirst = false;
    if (!second.HasImage())
        useFirst = IsSameSecond(time, t1);
    else if (time - t1 < t2 - time)
        useFirst = IsSameSecond(time, t1);
    if (useFirst && first.HasImage())
        return first.ComposeImage(rotation);
    if (!useFirst && second.HasImage() && IsSameSecond(time, t2))
        return second.ComposeImage(rotation);
    return QImage();
}

void PlayersController::OpenSource(const StartOptions& options)
{
    SourceConfiguration configuration(options);
    LoadSources(configuration, m_settings.lastPosition, false);
}

void PlayersController::LoadSources(ISourceConfiguration& configuration, int64_t startTime, bool takeCameraView)
{
    m_fileSystem = configuration.GetFileSystem();
    if (m_windowlessExport) {
        // A windowless run plays nothing; the channels of media files are
        // kept for the engine that exports them.
        if (!m_fileSystem)
            m_channels = configuration.GetVideoSources();
        return;
    }
    const std::vector<boost::shared_ptr<filters::IVideoSource>> channels = configuration.GetVideoSources();
    std::vector<std::wstring> ids;
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    for (const auto& channel : channels) {
        if (!channel)
            continue;
        ids.push_back(channel->GetId());
        CameraSettings& stored = live.CamSettings[channel->GetId()];
        const filters::CameraViewSettings& own = channel->GetCameraSettings();
        if (takeCameraView) {
            stored.Lens = own.lens;
            stored.Pos = own.position;
            stored.Display = own.display;
            stored.Rotation = own.rotation;
        }
        stored.Circle = QRectF(own.x, own.y, own.w, own.h);
    }
    live.SourceMode = static_cast<int>(configuration.GetSourceMode());
    live.SetChannels(ids);
    Log()->Message("Init complete. %d sources found.", static_cast<int>(ids.size()));
    m_gui.playPanel->ResetSpeed();
    BuildPlayers(channels);
    if (ids.empty()) {
        // An empty window is no answer: the user is told what was wrong.
        const std::string reason = configuration.DescribeNoVideo();
        if (!reason.empty()) {
            Log()->Warning("%s", reason.c_str());
            NothingToPlay(reason);
        }
        return;
    }
    SeekAll(utils::MapTimeBetweenIntervals(startTime, m_playConverter->GetArchivePeriods(),
                                           m_playConverter->GetContinuousPeriods(), 1),
            true);
    std::vector<std::wstring> names;
    for (const auto& channel : channels)
        if (channel)
            names.push_back(channel->GetName());
    m_gui.cameras->SetCameras(names);
    m_gui.exportPanel->ResetTasks();
}

void PlayersController::BuildPlayers(const std::vector<boost::shared_ptr<filters::IVideoSource>>& channels)
{
    ClearPlaying();
    m_gui.playPanel->SetPlaying(false);
    m_fileConnections.clear();
    m_channelStates.clear();
    m_currentPlayer.reset();
    m_players.clear();
    m_channels = channels;
    m_renderer->RemoveAllPins();
    m_gui.grid->RemoveItems();
    m_gui.playTimeLine->ClearIntervals();
    m_gui.exportTimeLine->ClearIntervals();
    SetEnabledState(false, false);
    try {
        m_playConverter = std::make_shared<utils::TimeConverter>();
        std::vector<const utils::IntervalList*> lists;
        for (const auto& channel : m_channels)
            if (channel)
                lists.push_back(&channel->GetPeriods());
        m_playConverter->BuildArchivePeriods(lists);
        m_playConverter->RebuildContinuous();
        m_synchronizer = std::make_shared<filters::TimeSynchronizer>(m_audioPlayer->GetClock());
        for (const auto& channel : m_channels) {
            if (!channel)
                continue;
            auto player = std::make_shared<Player>();
            auto converting = boost::make_shared<filters::TimeConverterSource>(channel, m_playConverter);
            m_playConverter->SetTimeZoneOffset(channel->GetTimeShift());
            player->Init(converting, m_synchronizer, m_renderer);
            m_players.push_back(player);
            player->titles->SetTitleText(0, player->pin->GetSource()->GetName());
            converting->SetTitles(player->titles);
            Storage::IPlayInfo* playInfo = channel->GetPlayInfo();
            if (playInfo != nullptr) {
                const int32_t index = static_cast<int32_t>(m_players.size() - 1);
                // Raised on a reader thread: it only posts, through the layer
                // (which may outlive the controller).
                std::weak_ptr<IControlsLayer> controls = m_gui.controls;
                m_fileConnections.emplace_back(playInfo->ChangeSignal.connect([controls, index] {
                    if (auto layer = controls.lock())
                        layer->PostNewFile(index);
                }));
            }
            m_channelStates.push_back(ChannelState{false, playInfo});
        }
        SetEnabledState(true, false);
        std::vector<render::TitlesPtr> titles;
        for (const auto& player : m_players)
            titles.push_back(player->titles);
        m_gui.grid->CreateItems(QApplicationSettings::Instance().Live.Layout, titles);
        OnSelectionModeChanged();
        if (!m_players.empty())
            SelectPlayer(0);
    } catch (const std::exception& e) {
        Log()->Trace("%s", e.what());
        // Nothing half built plays; the GUI stays usable for another source.
        m_fileConnections.clear();
        m_channelStates.clear();
        m_currentPlayer.reset();
        m_players.clear();
        m_renderer->RemoveAllPins();
        m_playConverter = std::make_shared<utils::TimeConverter>();
        SetEnabledState(true, false);
    }
    ApplySettings();
}

void PlayersController::SelectPlayer(size_t index)
{
    if (index >= m_players.size() || m_players[index] == m_currentPlayer)
        return;
    m_currentPlayer = m_players[index];
    m_gui.playTimeLine->SetIntervals(m_currentPlayer->converter);
    if (m_currentPlayer->pin->HasSource())
        m_gui.cameras->SelectCamera(m_currentPlayer->pin->GetSource()->GetName());
    m_gui.grid->SelectChannel(static_cast<int32_t>(index));
}

int64_t PlayersController::CurrentPosition()
{
    if (!m_currentPlayer)
        return 0;
    return utils::MapTimeBetweenIntervals(PinTime(m_currentPlayer), m_playConverter->GetContinuousPeriods(),
                                          m_playConverter->GetArchivePeriods(), 0);
}

int64_t PlayersController::ClampToRecorded(int64_t time)
{
    const utils::TimeConverter& converter =
        m_exportMode && !m_exportConverter->GetArchivePeriods().empty() ? *m_exportConverter : *m_playConverter;
    if (converter.GetArchivePeriods().empty())
        return time;
    return utils::ClampToPeriods(time, converter.GetArchivePeriods());
}

void PlayersController::timerEvent(QTimerEvent*)
{
    // Nothing may leave a Qt event handler.
    try {
        if (m_refreshPending && m_currentPlayer) {
            SeekAll(PinTime(m_currentPlayer), true);
            m_gui.controls->InvalidateAll();
            m_refreshPending = false;
        }
        Tick();
    } catch (const std::exception& e) {
        Log()->Warning("The playback tick failed: %s", e.what());
    }
}

void PlayersController::Tick()
{
    if (m_dragging || !m_currentPlayer)
        return;
    if (m_playing) {
        const int64_t t = PinTime(m_currentPlayer);
        if (m_audioStartTime != 0 && t >= m_audioStartTime)
            UpdateAudio(true);
        if (m_currentPlayer->pin->HasSource() && t >= m_currentPlayer->pin->GetDuration())
            OnFinishedPlay();
    }
    SetCursorTime(CurrentPosition());
    UpdateOutOfRecordFade();
}

void PlayersController::OnFinishedPlay()
{
    Log()->Message("PlayersController::onFinishedPlay");
    if (m_settings.playCycle) {
        SeekAll(0, false);
        Play();
    } else {
        Pause();
        m_gui.playPanel->SetPlaying(false);
    }
}

void PlayersController::UpdateOutOfRecordFade()
{
    for (size_t i = 0; i < m_players.size() && i < m_channelStates.size(); ++i) {
        const Player& player = *m_players[i];
        const utils::IntervalList& own = player.converter->GetArchivePeriods();
        if (own.empty())
            continue;
        const int64_t t = utils::MapTimeBetweenIntervals(PinTime(m_players[i]), m_playConverter->GetContinuousPeriods(),
                                                         m_playConverter->GetArchivePeriods(), 0);
        const auto& period = own[static_cast<size_t>(utils::FindIntervalIndex(t, own))];
        const int64_t rounded = RoundUpToSecond(t);
        const bool outOfRecord =
            rounded < RoundUpToSecond(period.start) || rounded > RoundUpToSecond(utils::IntervalEnd(period));
        if (outOfRecord == m_channelStates[i].outOfRecord)
            continue;
        // A channel the grid shows no item for is left as it is.
        const bool faded = outOfRecord ? m_gui.grid->FadeItem(static_cast<int32_t>(i), 0, kOutOfRecordAlpha)
                                       : m_gui.grid->FadeItem(static_cast<int32_t>(i), kOutOfRecordAlpha, 0);
        if (faded)
            m_channelStates[i].outOfRecord = outOfRecord;
    }
}

void PlayersController::UpdateAudio(bool restart)
{
    m_audioStartTime = 0;
    if (!m_playing || GetSpeed() != 1.0 || m_audioPlayer->GetVolume() <= 0.0 || !m_currentPlayer) {
        m_audioPlayer->Stop();
        return;
    }
    size_t index = 0;
    while (index < m_players.size() && m_players[index] != m_currentPlayer)
        ++index;
    Storage::IPlayInfo* playInfo = index < m_channelStates.size() ? m_channelStates[index].playInfo : nullptr;
    if (playInfo == nullptr) {
        m_audioPlayer->Stop();
        return;
    }
    const filters::AudioRequest current = BuildAudioRequest(playInfo->GetCurrentFileInfo(0), true);
    const filters::AudioRequest next = BuildAudioRequest(playInfo->GetCurrentFileInfo(1), false);
    m_audioPlayer->Play(current, next, restart);
}

filters::AudioRequest PlayersController::BuildAudioRequest(const Storage::PlayFileInfo& record, bool current)
{
    // No file, or a file without sound.
    if (record.audioPath.empty())
        return {};
    const int64_t b = PinTime(m_currentPlayer);
    const utils::IntervalList& archive = m_playConverter->GetArchivePeriods();
    const utils::IntervalList& continuous = m_playConverter->GetContinuousPeriods();
    const int64_t c = utils::MapTimeBetweenIntervals(utils::MillisecondsFromPtime(record.period.begin()), archive,
                                                     continuous, 1);
    const int64_t e = utils::MapTimeBetweenIntervals(EndAfter(record.period.last()), archive, continuous, 1);
    const int64_t f = record.startOffset / 1000;
    if (!current)
        return {record.audioPath, record.streamTitle, f, e - c};
    if (b < c) {
        m_audioStartTime = c;
        return {};
    }
    if (b < e)
        return {record.audioPath, record.streamTitle, f + (b - c), e - c};
    return {};
}

}  // namespace playback
