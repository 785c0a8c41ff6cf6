#pragma once
// The GUI objects the players controller drives, as interfaces: the controls
// layer (fades, repaint), the time lines, the play panel, the camera
// selector, the channel grid and the enabled state of the panels. The
// windows implement them; HeadlessGui records the calls, for runs without a
// window and for tests.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/signals2/signal.hpp>

#include "app/core/ExportTask.h"
#include "media/TimeConversion.h"

class QImage;
class QString;

class ISourceConfiguration;

namespace render {
class Titles;
}

namespace playback {

// Which edge of the cut selection the time line's cursor drives.
enum ECutSelectionMode : int {
    CutSelectionNone = 0,
    CutSelectionBegin = 1,
    CutSelectionEnd = 2,
};

// Every time is archive ms: milliseconds since 1970-01-01 00:00 UTC.
class ITimeLineControl {
public:
    virtual ~ITimeLineControl() = default;

    // The user chose a time: end of a drag, a click, a flick, a jump.
    boost::signals2::signal<void(int64_t time)> TimeSelected;
    // The cursor moves during a drag or an animation.
    boost::signals2::signal<void(int64_t time)> PositionDragged;
    // The moving selection edge crossed the fixed one: the roles swapped and
    // `time` is the edge left behind.
    boost::signals2::signal<void(ECutSelectionMode mode, int64_t time)> CutSelectionChanged;

    // The converter is shared with the controller and never null inside.
    virtual void SetIntervals(const std::shared_ptr<utils::TimeConverter>& intervals) = 0;
    virtual void ClearIntervals() = 0;
    // Moves the cursor without a signal; ignored while the user drags.
    virtual void SetPosition(int64_t time) = 0;
    virtual void SetCutSelectionMode(ECutSelectionMode mode) = 0;
    virtual void SetSelectionBegin(int64_t time) = 0;
    virtual void SetSelectionEnd(int64_t time) = 0;
    virtual void ClearSelection() = 0;
};

// One of the two export time inputs: a time selector (begin or end edge)
// that the controls layer marks active.
class ITimeInputPanel {
public:
    virtual ~ITimeInputPanel() = default;

    boost::signals2::signal<void()> Activated;

    virtual ITimeLineControl& Selector() = 0;
    // The last time set by SetPosition or chosen by the user.
    virtual int64_t CurrentTime() const = 0;
    virtual bool IsActive() const = 0;
    // When not active yet: marks it active, emits Activated, repaints.
    virtual void Activate() = 0;
};

class IPlayControlPanel {
public:
    virtual ~IPlayControlPanel() = default;

    boost::signals2::signal<void()> PlayClicked;
    boost::signals2::signal<void()> PauseClicked;
    boost::signals2::signal<void()> StepBackwardClicked;
    boost::signals2::signal<void()> StepForwardClicked;
    boost::signals2::signal<void(double speed)> SpeedChanged;
    // 0 to 100.
    boost::signals2::signal<void(int volume)> VolumeChanged;

    // A change of state emits PlayClicked or PauseClicked as a click does.
    virtual void SetPlaying(bool playing) = 0;
    // Speed 1, with SpeedChanged.
    virtual void ResetSpeed() = 0;
    virtual void SetVolume(int32_t volume) = 0;
};

class ICameraSelector {
public:
    virtual ~ICameraSelector() = default;

    // The camera the user chose, by name.
    boost::signals2::signal<void(const std::wstring& name)> CameraChanged;

    virtual void SetCameras(const std::vector<std::wstring>& names) = 0;
    virtual void SelectCamera(const std::wstring& name) = 0;
};

class IChannelsGrid {
public:
    virtual ~IChannelsGrid() = default;
    // One item per channel: channel i in cell order[i] when the stored order
    // fits the channels, titles[i] its titles set.
    virtual void CreateItems(const std::vector<int32_t>& order,
                             const std::vector<boost::shared_ptr<render::Titles>>& titles) = 0;
    virtual void RemoveItems() = 0;
    virtual void SelectChannel(int32_t channel) = 0;
    // Fades the video item of the channel from one alpha to another; false
    // when the grid has no item for it.
    virtual bool FadeItem(int32_t channel, int32_t from, int32_t to) = 0;
    // The cell index of each channel (the order CreateItems takes).
    virtual std::vector<int32_t> GetLayout() = 0;
};

// The list of export tasks. The current task is the row selector's current
// row clamped to the last row; with no row, operations on it do nothing.
class IExportPanel {
public:
    virtual ~IExportPanel() = default;

    // The current row changed.
    boost::signals2::signal<void()> CurrentTaskChanged;
    // A task's settings button was clicked.
    boost::signals2::signal<void(int row)> TaskSelected;

    virtual void AddChannel(const std::wstring& id, const std::wstring& name) = 0;
    virtual void SetTaskInterval(const boost::posix_time::ptime& from, const boost::posix_time::ptime& to) = 0;
    virtual void SetCurrentTask(const Storage::ExportTask& task) = 0;
    // Leaves `task` as it is when the row has no channel.
    virtual void GetTask(int row, Storage::ExportTask& task) = 0;
    // The tasks that have channels, in row order.
    virtual void GetTasks(std::vector<Storage::ExportTask>& tasks) = 0;
    virtual int CountTasks() = 0;
    // Empties the list: one empty task, selected.
    virtual void ResetTasks() = 0;

    // The row selector: current row (-1: none), rows, selecting one.
    virtual int CurrentIndex() = 0;
    virtual int ItemCount() = 0;
    virtual void SelectItem(int row, bool animate) = 0;

    // Safe from any thread: queued to the GUI thread.
    virtual void PostProgressItem(int row, int percent) = 0;
    virtual void PostSelectTask(int row) = 0;
};

class IExportControlPanel {
public:
    virtual ~IExportControlPanel() = default;

    boost::signals2::signal<void()> ExportAllTasksClicked;
    boost::signals2::signal<void()> ExportCurrentTaskClicked;
    boost::signals2::signal<void()> CancelExportClicked;

    // Safe from any thread: overall percent, the end of a run, a message
    // that replaces the progress bar (local 8-bit text).
    virtual void PostProcessed(int percent) = 0;
    virtual void PostComplete() = 0;
    virtual void PostMessage(const std::string& text) = 0;
};

// Edits the selected task's settings.
class IExportTaskSettingsPanel {
public:
    virtual ~IExportTaskSettingsPanel() = default;

    boost::signals2::signal<void(Storage::ExportTask& task)> TaskEdited;

    virtual void SetTask(const Storage::ExportTask& task) = 0;
    // Slides the panel opposite to its animation's current direction.
    virtual void ToggleSlide() = 0;
};

class IControlsLayer {
public:
    virtual ~IControlsLayer() = default;

    // The user's requests, in the order the controller connects them.
    boost::signals2::signal<void()> ScreenshotRequested;
    boost::signals2::signal<void()> PrintRequested;
    boost::signals2::signal<void(ISourceConfiguration& configuration)> SourcesChosen;
    boost::signals2::signal<void()> SettingsPanelShown;
    boost::signals2::signal<void()> SettingsPanelHidden;
    boost::signals2::signal<void(int channel)> ExportSourceSelected;
    boost::signals2::signal<void(bool exportMode)> ExportModeChanged;
    // Null: none of the time inputs is active.
    boost::signals2::signal<void(ITimeLineControl* timeLine)> ActiveTimeLineChanged;
    // Answers PostNewFile on the GUI thread.
    boost::signals2::signal<void(int channel)> FileOpened;

    // The "PrevFrameAlpha" animation: the previous frame fading out.
    virtual void StartPrevFrameAlpha() = 0;
    virtual void StopPrevFrameAlpha() = 0;
    virtual void StopPrevFrameFade() = 0;
    virtual void SetPrevFrameAlpha(int32_t alpha) = 0;
    // Invalidates the whole layer; RenderDirty repaints what is invalid now.
    virtual void InvalidateAll() = 0;
    virtual void RenderDirty() = 0;
    // Channel `channel` moved to another file (posted to the GUI thread).
    virtual void PostNewFile(int32_t channel) = 0;
    // Before a snapshot or print: closes pop-ups, delivers posted events and
    // repaints, so the captured scene shows the layer as the user sees it.
    virtual void PrepareCapture() = 0;
    // The print preview of `image` under `title`; returns when it closes.
    virtual void PrintImage(const QString& title, const QImage& image) = 0;
};

class IEnabledGui {
public:
    virtual ~IEnabledGui() = default;
    // Whether the playback controls take commands, and whether an export runs.
    virtual void SetEnabledState(bool enabled, bool exporting) = 0;
};

struct PlaybackGui {
    std::shared_ptr<IControlsLayer> controls;
    std::shared_ptr<ITimeLineControl> playTimeLine;
    std::shared_ptr<ITimeLineControl> exportTimeLine;
    std::shared_ptr<IPlayControlPanel> playPanel;
    std::shared_ptr<ICameraSelector> cameras;
    std::shared_ptr<IChannelsGrid> grid;
    std::shared_ptr<IEnabledGui> enabled;
    std::shared_ptr<IExportPanel> exportPanel;
    std::shared_ptr<IExportControlPanel> exportControl;
};

// Every GUI object at once, recording each call as one line of text
// ("SetPlaying 0", "FadeItem 1 0 150" ...). Its grid has the items made by
// CreateItems.
class HeadlessGui final : public IControlsLayer,
                          public ITimeLineControl,
                          public IPlayControlPanel,
                          public ICameraSelector,
                          public IChannelsGrid,
                          public IEnabledGui,
                          public IExportPanel,
                          public IExportControlPanel {
public:
    // All interfaces of the bundle on one shared object.
    static PlaybackGui Bundle(const std::shared_ptr<HeadlessGui>& gui);

    void StartPrevFrameAlpha() override { Record("StartPrevFrameAlpha"); }
    void StopPrevFrameAlpha() override { Record("StopPrevFrameAlpha"); }
    void StopPrevFrameFade() override { Record("StopPrevFrameFade"); }
    void SetPrevFrameAlpha(int32_t alpha) override { Record("SetPrevFrameAlpha " + std::to_string(alpha)); }
    void InvalidateAll() override { Record("InvalidateAll"); }
    void RenderDirty() override { Record("RenderDirty"); }
    void PostNewFile(int32_t channel) override { Record("NewFile " + std::to_string(channel)); }
    void PrepareCapture() override { Record("PrepareCapture"); }
    // "PrintImage <width>x<height>".
    void PrintImage(const QString& title, const QImage& image) override;

    void SetIntervals(const std::shared_ptr<utils::TimeConverter>& intervals) override;
    void ClearIntervals() override { Record("ClearIntervals"); }
    void SetPosition(int64_t time) override;
    void SetCutSelectionMode(ECutSelectionMode mode) override { Record("SetCutSelectionMode " + std::to_string(mode)); }
    void SetSelectionBegin(int64_t time) override { Record("SetSelectionBegin " + std::to_string(time)); }
    void SetSelectionEnd(int64_t time) override { Record("SetSelectionEnd " + std::to_string(time)); }
    void ClearSelection() override { Record("ClearSelection"); }

    void SetPlaying(bool playing) override { Record(std::string("SetPlaying ") + (playing ? "1" : "0")); }
    void SetVolume(int32_t volume) override { Record("SetVolume " + std::to_string(volume)); }
    void ResetSpeed() override { Record("ResetSpeed"); }

    void SetCameras(const std::vector<std::wstring>& names) override;
    void SelectCamera(const std::wstring& name) override;

    void CreateItems(const std::vector<int32_t>& order,
                     const std::vector<boost::shared_ptr<render::Titles>>& titles) override;
    void RemoveItems() override;
    void SelectChannel(int32_t channel) override { Record("SelectChannel " + std::to_string(channel)); }
    bool FadeItem(int32_t channel, int32_t from, int32_t to) override;
    std::vector<int32_t> GetLayout() override;

    void SetEnabledState(bool enabled, bool exporting) override;

    // A plain list of tasks, always ending with an empty one.
    void AddChannel(const std::wstring& id, const std::wstring& name) override;
    void SetTaskInterval(const boost::posix_time::ptime& from, const boost::posix_time::ptime& to) override;
    void SetCurrentTask(const Storage::ExportTask& task) override;
    void GetTask(int row, Storage::ExportTask& task) override;
    void GetTasks(std::vector<Storage::ExportTask>& tasks) override;
    int CountTasks() override;
    void ResetTasks() override;
    int CurrentIndex() override;
    int ItemCount() override;
    void SelectItem(int row, bool animate) override;
    void PostProgressItem(int row, int percent) override;
    void PostSelectTask(int row) override;

    void PostProcessed(int percent) override { Record("Processed " + std::to_string(percent)); }
    void PostComplete() override { Record("Complete"); }
    void PostMessage(const std::string& text) override { Record("Message " + text); }

    std::vector<std::string> Calls();
    // Calls that begin with `prefix`.
    std::vector<std::string> Calls(const std::string& prefix);
    void ClearCalls();
    int64_t CursorTime();

private:
    void Record(const std::string& call);

    std::mutex m_lock;
    std::vector<std::string> m_calls;
    int32_t m_items = 0;
    std::vector<int32_t> m_layout;
    int64_t m_cursor = 0;
    std::vector<Storage::ExportTask> m_tasks;
    int m_currentTask = 0;
};

}  // namespace playback
