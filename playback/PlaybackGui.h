#pragma once
// The GUI objects the players controller drives, as interfaces: the controls
// layer (fades, repaint), the time lines, the play panel, the camera
// selector, the channel grid and the enabled state of the panels. The
// windows implement them; HeadlessGui records the calls, for runs without a
// window and for tests.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QMetaType>
#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/signals2/signal.hpp>

#include "config/ExportTask.h"
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
    // The cell index of each channel, in channel order. Throws
    // std::logic_error when a channel has no item.
    virtual std::vector<int32_t> GetLayout() = 0;
    // Fades the video item of the channel from one alpha to another; false
    // when the grid has no item for it.
    virtual bool FadeItem(int32_t channel, int32_t from, int32_t to) = 0;
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
    void GetTasks(std::vector<Storage::ExportTask>& tasks);
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
    // Shows the source browser panel and clicks its browse button.
    virtual void BrowseSources() = 0;
};

// Which panels and buttons take input; the controls layer decides which
// widgets each flag enables.
struct EnabledGui {
    bool playback = false;           // a source with channels is open and nothing blocks the controls
    bool configuration = false;      // the settings and source panels
    bool exportCurrentTask = false;  // the selected export task has channels
    bool exportAllTasks = false;     // some export task has channels
    bool capture = false;            // snapshots and prints: there is a player
    bool exportVideo = false;        // the ExportVideo setting

    bool operator==(const EnabledGui&) const = default;
};

class IEnabledGui {
public:
    virtual ~IEnabledGui() = default;
    // May be called from any thread: the implementation queues it to the
    // GUI thread.
    virtual void SetEnabledState(const EnabledGui& state) = 0;
};

struct PlaybackGui {
    std::shared_ptr<IControlsLayer> controls;
    // The channel time line: the current channel's own periods.
    std::shared_ptr<ITimeLineControl> playTimeLine;
    // The main time line: the periods of every channel (of the selected
    // export task's channels in export mode) and the cut selection.
    std::shared_ptr<ITimeLineControl> exportTimeLine;
    std::shared_ptr<IPlayControlPanel> playPanel;
    std::shared_ptr<ICameraSelector> cameras;
    std::shared_ptr<IChannelsGrid> grid;
    std::shared_ptr<IEnabledGui> enabled;
    std::shared_ptr<IExportPanel> exportPanel;
    std::shared_ptr<ITimeLineControl> calendar;
    // The export interval's edges.
    std::shared_ptr<ITimeInputPanel> beginInput;
    std::shared_ptr<ITimeInputPanel> endInput;
    std::shared_ptr<IExportControlPanel> exportControl;
    std::shared_ptr<IExportTaskSettingsPanel> taskSettings;
};

class HeadlessGui;

// A time line or time selector that keeps its cursor, cut mode and selection
// and records every other call, prefixed with its name, in the GUI's list.
class HeadlessTimeLine final : public ITimeLineControl {
public:
    HeadlessTimeLine(HeadlessGui& gui, std::string name) : m_gui(gui), m_name(std::move(name)) {}

    void SetIntervals(const std::shared_ptr<utils::TimeConverter>& intervals) override;
    void ClearIntervals() override;
    void SetPosition(int64_t time) override;
    void SetCutSelectionMode(ECutSelectionMode mode) override;
    void SetSelectionBegin(int64_t time) override;
    void SetSelectionEnd(int64_t time) override;
    void ClearSelection() override;

    int64_t Position() const { return m_position; }
    ECutSelectionMode CutMode() const { return m_mode; }
    // The converter of the last SetIntervals; null after ClearIntervals.
    std::shared_ptr<utils::TimeConverter> Intervals() const { return m_intervals; }

private:
    HeadlessGui& m_gui;
    const std::string m_name;
    std::atomic<int64_t> m_position{0};
    ECutSelectionMode m_mode = CutSelectionNone;
    std::shared_ptr<utils::TimeConverter> m_intervals;
};

// A time input whose selector's current time is its cursor; activating it
// records "<name> Activate" and emits Activated.
class HeadlessTimeInput final : public ITimeInputPanel {
public:
    HeadlessTimeInput(HeadlessGui& gui, std::string name) : m_gui(gui), m_name(name), m_selector(gui, std::move(name)) {}

    ITimeLineControl& Selector() override { return m_selector; }
    int64_t CurrentTime() const override { return m_selector.Position(); }
    bool IsActive() const override { return m_active; }
    void Activate() override;
    // The controls layer's part: another input became active.
    void Deactivate() { m_active = false; }

    HeadlessTimeLine& GetSelector() { return m_selector; }

private:
    HeadlessGui& m_gui;
    const std::string m_name;
    HeadlessTimeLine m_selector;
    bool m_active = false;
};

// Every GUI object at once, recording each call as one line of text
// ("SetPlaying 0", "FadeItem 1 0 150", "main SetCutSelectionMode 1" ...).
// Its grid has the items made by CreateItems, in cell order. Like the
// controls layer, it answers an input's activation with ActiveTimeLineChanged
// and makes the other input inactive.
class HeadlessGui final : public IControlsLayer,
                          public IPlayControlPanel,
                          public ICameraSelector,
                          public IChannelsGrid,
                          public IEnabledGui,
                          public IExportPanel,
                          public IExportControlPanel,
                          public IExportTaskSettingsPanel {
public:
    HeadlessGui();

    // All interfaces of the bundle on one shared object.
    static PlaybackGui Bundle(const std::shared_ptr<HeadlessGui>& gui);

    HeadlessTimeLine channelTimeLine{*this, "channel"};
    HeadlessTimeLine mainTimeLine{*this, "main"};
    HeadlessTimeLine calendar{*this, "calendar"};
    HeadlessTimeInput beginInput{*this, "begin"};
    HeadlessTimeInput endInput{*this, "end"};

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

    void BrowseSources() override { Record("BrowseSources"); }

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
    // The cell order given by SetLayout, else channel order.
    std::vector<int32_t> GetLayout() override;
    void SetLayout(std::vector<int32_t> cells);

    // Recorded as "SetEnabledState" and the six flags as 0 or 1.
    void SetEnabledState(const EnabledGui& state) override;
    EnabledGui LastEnabledState();

    // A plain list of tasks, always ending with an empty one.
    void AddChannel(const std::wstring& id, const std::wstring& name) override;
    void SetTaskInterval(const boost::posix_time::ptime& from, const boost::posix_time::ptime& to) override;
    void SetCurrentTask(const Storage::ExportTask& task) override;
    void GetTask(int row, Storage::ExportTask& task) override;
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

    void SetTask(const Storage::ExportTask& task) override;
    void ToggleSlide() override { Record("ToggleSlide"); }
    Storage::ExportTask EditedTask();

    // The task of the current row (channels or not).
    Storage::ExportTask CurrentTask();

    std::vector<std::string> Calls();
    // Calls that begin with `prefix`.
    std::vector<std::string> Calls(const std::string& prefix);
    void ClearCalls();
    // The main time line's cursor.
    int64_t CursorTime() { return mainTimeLine.Position(); }

    void Record(const std::string& call);

private:
    std::mutex m_lock;
    std::vector<std::string> m_calls;
    int32_t m_items = 0;
    std::vector<int32_t> m_layout;
    EnabledGui m_enabled;
    std::vector<Storage::ExportTask> m_tasks;
    int m_currentTask = 0;
    Storage::ExportTask m_editedTask;
};

}  // namespace playback

Q_DECLARE_METATYPE(playback::EnabledGui)
