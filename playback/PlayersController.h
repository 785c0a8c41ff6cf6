#pragma once
// The one object that turns the channels of a source into playing players
// and carries every playback command: play, pause, steps, seeks, speed, the
// end of play, the sound of the current channel and the fading of channels
// that have no recording at the playing time.
//
// Per channel: source -> time-converting source over the play converter ->
// source pin (a client of the shared synchronizer, whose clock is the audio
// player's) -> pin thread -> renderer pin. Source pins and seeks work in
// continuous time (the gapless time line), time lines and sound in archive
// time. Everything here runs on the GUI thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QRect>
#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/signals2/signal.hpp>

#include "media/VideoSourceInterfaces.h"
#include "playback/AudioPlayer.h"
#include "playback/IPlayersController.h"
#include "playback/PlaybackGui.h"
#include "playback/PlayerExport.h"

class ISourceConfiguration;

namespace Storage {
class IVindaraFileSystem;
class IPlayInfo;
struct PlayFileInfo;
}  // namespace Storage

namespace render {
class BasicRenderer;
class IRendererDevice;
class Renderer;
class MediaSamplePin;
class Titles;
}  // namespace render

namespace utils {
class TimeConverter;
}

namespace filters {
class IVideoSource;
class SourcePin;
class TimeSynchronizer;
class VindaraSourcePin;
}  // namespace filters

class QImage;

namespace playback {

// Windowless completion codes.
inline constexpr int kCompletedOk = 0;
inline constexpr int kCompletedFailed = 22;

// Makes the export engine of a source: the native copy over the archive
// front end when `fileSystem` is given, otherwise a re-mux of `channels`;
// empty when neither can be exported. The engines sit above this library, so
// the program (and a test) installs the maker; without one no export runs.
using ExportEngineFactory = std::function<boost::shared_ptr<Storage::IPlayerExport>(
    const boost::shared_ptr<Storage::IVindaraFileSystem>& fileSystem,
    const std::vector<boost::shared_ptr<filters::IVideoSource>>& channels)>;
// Not thread-safe: install before any controller exports.
void SetExportEngineFactory(ExportEngineFactory factory);

// Same date and same whole second of the day.
bool IsSameSecond(const boost::posix_time::ptime& a, const boost::posix_time::ptime& b);
// Logs "LogSupportedImageFormats", then each format Qt can write.
void LogSupportedImageFormats();

// The playback commands of the GUI.
class IPlaybackCommands {
public:
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void ClearPlaying() = 0;
    virtual void StepBackward() = 0;
    virtual void StepForward() = 0;
    // Archive ms.
    virtual void Seek(int64_t time) = 0;
    virtual void SetSpeed(double rate) = 0;
    virtual double GetSpeed() = 0;
    virtual void ApplySettings() = 0;
    virtual void SetPlayCycle(bool cycle) = 0;

protected:
    ~IPlaybackCommands() = default;
};

// The player's renderer on the device; on the device of the Render setting
// when null.
std::shared_ptr<render::Renderer> MakePlaybackRenderer(const boost::shared_ptr<render::IRendererDevice>& device);

// One channel's chain from the pin on.
class Player {
public:
    Player();
    // Titles and converter first, then the pin thread (stopped and joined),
    // then the pin.
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Attaches the converting source, adds the channel's pin to the renderer
    // and builds the channel's own converter (its periods, gaps of up to
    // 100 ms joined). Throws std::runtime_error "renderer cannot be NULL".
    void Init(const boost::shared_ptr<filters::IVideoSource>& source,
              const std::shared_ptr<filters::TimeSynchronizer>& synchronizer,
              const std::shared_ptr<render::BasicRenderer>& renderer);

    std::shared_ptr<filters::VindaraSourcePin> pin;
    std::unique_ptr<filters::SourcePin> pinThread;
    boost::shared_ptr<render::MediaSamplePin> rendererPin;
    std::shared_ptr<utils::TimeConverter> converter;
    boost::shared_ptr<render::Titles> titles;
};

struct ChannelState {
    bool outOfRecord = false;
    Storage::IPlayInfo* playInfo = nullptr;  // not owned
};

// The application settings the controller uses, read once when it is made
// (the source mode, channels and camera views are written straight to the
// application settings by LoadSources).
struct PlaybackSettings {
    bool skipFrames = false;
    bool playCycle = false;
    int64_t lastPosition = 0;  // archive ms
    int32_t soundVolume = 0;  // 0 to 100
};

class PlayersController : public IPlayersController, public IPlaybackCommands, public QObject {
public:
    static constexpr int kTimerIntervalMs = 16;

    // Without an audio player the controller makes one on the system's
    // sound output; without a renderer, one on the Render setting's device.
    explicit PlayersController(PlaybackGui gui, std::shared_ptr<render::Renderer> renderer = nullptr,
                               std::shared_ptr<filters::AudioPlayer> audio = nullptr);
    ~PlayersController() override;

    void Play() override;
    void Pause() override;
    void ClearPlaying() override;
    void StepBackward() override { StepFrame(false, -1, false); }
    void StepForward() override { StepFrame(true, -1, false); }
    void Seek(int64_t time) override;
    void SetSpeed(double rate) override;
    double GetSpeed() override;
    void ApplySettings() override;
    void SetPlayCycle(bool cycle) override;

    // Starts rendering and opens the source of the options; with a
    // destination, saves its frames and emits Completed, or (without a time)
    // starts the stored export tasks, whose end emits Completed. Without a
    // render device nothing opens and a windowless run completes with 22.
    void Initialize(const StartOptions& options, QWidget* widget, const QRect& rect) override;
    // Stores the position into the application settings.
    void SaveState() override;
    // The tasks of the running export; 0 when none runs.
    int RunningExportTasks() const override { return m_taskCount; }

    // Exports, snapshots and prints. GUI thread, except the two reports.
    //
    // Selects the first task row, then exports every task that has channels.
    void ExportAllTasks();
    // Exports the task of the current row.
    void ExportCurrentTask();
    // Starts the tasks that have channels into the ExportFolder setting when
    // a source is set, no export runs and there is something to export;
    // otherwise the run ends at once: the export control panel completes
    // (with the GUI given back when no engine could be made), and a
    // windowless run completes with 22.
    void StartExport(const std::vector<Storage::ExportTask>& tasks);
    // The engine for the source: empty without an installed maker, or with
    // neither a native source nor a channel.
    boost::shared_ptr<Storage::IPlayerExport> CreateExport();
    // Every task row back to 0 %, and the overall progress.
    void ResetExportProgress();
    // On the engine's worker thread: the task's row, the next row when a
    // task of a batch ends, the overall percent.
    void OnExportProgress(const Storage::IPlayerExport& engine, int percent, const Storage::ExportTask& task);
    // On the engine's worker thread (or in Start for a refused start): logs
    // and shows the report; the controller's own work (the engine released,
    // the GUI given back, a windowless completion) is queued to its thread.
    void OnExportFinished(const Storage::IPlayerExport& engine, const Storage::ExportError& error);
    // The scene as the user sees it, saved as "<stamp>.jpg" (then
    // "<stamp> 1.jpg" ...) in the ExportFolder setting; a failed save is
    // only logged.
    void SaveScreenshot();
    // The scene in the print preview.
    void PrintFrame();
    // The time that names snapshots; the local clock unless set (tests).
    void SetSnapshotClock(std::function<QDateTime()> clock) { m_snapshotClock = std::move(clock); }
    // Saves the frame of every channel at the options' time into the
    // destination (a file name, or a folder); 0, or 22 when nothing could
    // be saved.
    int SaveFrames(const StartOptions& options);
    // The picture of player `index` in the second of `time`; null when no
    // frame of that second is there.
    QImage GetFrameImage(size_t index, const boost::posix_time::ptime& time, int rotation);
    // Builds a source configuration from the options and loads it at the
    // last position, keeping the stored camera views.
    void OpenSource(const StartOptions& options) override;
    // Takes the source's channels, records their identifiers and camera
    // views, builds their players and seeks them to `startTime` (archive ms).
    void LoadSources(ISourceConfiguration& configuration, int64_t startTime, bool takeCameraView);
    // Replaces every player by one per non-null channel. A failure leaves
    // no player and the GUI enabled for another source.
    void BuildPlayers(const std::vector<boost::shared_ptr<filters::IVideoSource>>& channels);
    void SelectPlayer(size_t index);
    // Archive ms of the current player's position; 0 without one.
    int64_t CurrentPosition();
    int64_t ClampToRecorded(int64_t time);
    // Continuous ms.
    void SeekAll(int64_t time, bool keepFade);
    // One frame in a direction when `position` is negative, else to it.
    void StepFrame(bool forward, int64_t position, bool keepFade);
    void UpdateAudio(bool restart);
    filters::AudioRequest BuildAudioRequest(const Storage::PlayFileInfo& record, bool current);
    // The body of the 16 ms tick.
    void Tick();
    // 0.0 to 1.0, the play panel's volume slider / 100.
    void SetVolume(double volume);

    bool IsPlaying() const { return m_playing; }
    const std::vector<std::shared_ptr<Player>>& GetPlayers() const { return m_players; }
    const std::shared_ptr<Player>& GetCurrentPlayer() const { return m_currentPlayer; }
    const std::shared_ptr<utils::TimeConverter>& GetPlayConverter() const { return m_playConverter; }
    const std::shared_ptr<filters::TimeSynchronizer>& GetSynchronizer() const { return m_synchronizer; }
    const std::shared_ptr<filters::AudioPlayer>& GetAudioPlayer() const { return m_audioPlayer; }
    const std::shared_ptr<render::Renderer>& GetRenderer() const { return m_renderer; }
    PlaybackSettings& Settings() { return m_settings; }
    const boost::shared_ptr<Storage::IVindaraFileSystem>& GetFileSystem() const { return m_fileSystem; }
    void SetWindowlessExport(bool windowless) { m_windowlessExport = windowless; }
    void SetDragging(bool dragging) { m_dragging = dragging; }
    void RequestRefresh() { m_refreshPending = true; }
    int64_t GetAudioStartTime() const { return m_audioStartTime; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void OnFinishedPlay();
    void UpdateOutOfRecordFade();
    int64_t PinTime(const std::shared_ptr<Player>& player);
    QImage CaptureScene();

    PlaybackGui m_gui;
    std::shared_ptr<render::Renderer> m_renderer;
    bool m_playing = false;
    std::vector<std::shared_ptr<Player>> m_players;
    std::shared_ptr<Player> m_currentPlayer;
    std::shared_ptr<utils::TimeConverter> m_playConverter;
    std::shared_ptr<utils::TimeConverter> m_exportConverter;
    std::shared_ptr<filters::TimeSynchronizer> m_synchronizer;
    std::vector<ChannelState> m_channelStates;
    bool m_dragging = false;
    bool m_refreshPending = false;
    bool m_exportMode = false;
    std::vector<boost::shared_ptr<filters::IVideoSource>> m_channels;
    std::vector<boost::signals2::scoped_connection> m_fileConnections;
    boost::shared_ptr<Storage::IVindaraFileSystem> m_fileSystem;
    bool m_windowlessExport = false;
    boost::shared_ptr<Storage::IPlayerExport> m_export;
    std::atomic<int> m_taskCount{0};
    std::atomic<int> m_tasksDone{0};
    std::function<QDateTime()> m_snapshotClock;
    PlaybackSettings m_settings;
    std::shared_ptr<filters::AudioPlayer> m_audioPlayer;
    int64_t m_audioStartTime = 0;
    int m_timer = 0;
};

}  // namespace playback
