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

#include <boost/shared_ptr.hpp>

#include "media/TimeConversion.h"

namespace render {
class Titles;
}

namespace playback {

class IControlsLayer {
public:
    virtual ~IControlsLayer() = default;
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
};

class ITimeLineControl {
public:
    virtual ~ITimeLineControl() = default;
    virtual void SetIntervals(const utils::IntervalList& archivePeriods) = 0;
    virtual void ClearIntervals() = 0;
    // Archive ms.
    virtual void SetCursorTime(int64_t time) = 0;
};

class IPlayControlPanel {
public:
    virtual ~IPlayControlPanel() = default;
    virtual void SetPlaying(bool playing) = 0;
    virtual void SetVolume(int32_t volume) = 0;
    virtual void ResetSpeed() = 0;
};

class ICameraSelector {
public:
    virtual ~ICameraSelector() = default;
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

class IExportPanel {
public:
    virtual ~IExportPanel() = default;
    // Empties the list of export tasks.
    virtual void ResetTasks() = 0;
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
                          public IExportPanel {
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

    void SetIntervals(const utils::IntervalList& periods) override;
    void ClearIntervals() override { Record("ClearIntervals"); }
    void SetCursorTime(int64_t time) override;

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

    void ResetTasks() override { Record("ResetTasks"); }

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
};

}  // namespace playback
