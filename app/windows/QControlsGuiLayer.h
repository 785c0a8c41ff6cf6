#pragma once
// The player's scene: the channel grid, the panels below it (the play page
// and the export page, switched by mode), the time line row and the sliding
// configuration panels over the video area. It repaints itself every 16 ms
// into the renderer's overlay texture and reports the user's actions to the
// playback controller through the signals of playback::IControlsLayer.
//
// Without a controls factory the layer makes the player's panels; a slot a
// given factory leaves empty gets a plain skinned strip.

#include <array>
#include <functional>
#include <memory>

#include <QGraphicsGridLayout>
#include <QPropertyAnimation>

#include "widgets/QGuiLayer.h"
#include "widgets/QImageItem.h"
#include "widgets/QPanelSwitcher.h"
#include "gui/grid/QChannelsGrid.h"
#include "playback/PlaybackGui.h"
#include "render/Renderer.h"

class QCustomButton;
class QGraphicsProxyWidget;
class QGraphicsWidget;

// The enabled state the controller asks for, in order: [0] playback
// controls, [1] settings and source browser buttons, [2] time inputs and
// "Current task", [3] "All tasks", [4] snapshot and print, [5] export mode
// allowed.
using EnabledGuiFlags = std::array<bool, 6>;

class QControlsGuiLayer;

// What the playback controller holds of the layer: its signals and the calls
// it makes. It may outlive the layer, after which its calls do nothing.
class ControlsLayerInterface : public playback::IControlsLayer,
                               public playback::IEnabledGui,
                               public IExportDropTarget {
public:
    explicit ControlsLayerInterface(QControlsGuiLayer* layer) : m_layer(layer) {}
    void Detach() { m_layer = nullptr; }

    void StartPrevFrameAlpha() override;
    void StopPrevFrameAlpha() override;
    void StopPrevFrameFade() override;
    void SetPrevFrameAlpha(int32_t alpha) override;
    void InvalidateAll() override;
    void RenderDirty() override;
    void PostNewFile(int32_t channel) override;
    void PrepareCapture() override;
    // The preview over the application's active window.
    void PrintImage(const QString& title, const QImage& image) override;
    // Slides the source browser in and opens the shown page's chooser.
    void BrowseSources() override;
    // The controller's six flags, applied on the GUI thread.
    void SetEnabledState(const playback::EnabledGui& state) override;
    // A dropped snapshot is an export source.
    QRectF ExportDropArea() override;
    void ExportSourceDropped(int channel) override;

private:
    QControlsGuiLayer* m_layer;
};

class QControlsGuiLayer : public QGuiLayer, public render::ISceneLayer {
    Q_OBJECT
    Q_PROPERTY(int PrevFrameAlpha READ GetPrevFrameAlpha WRITE SetPrevFrameAlphaProperty)

public:
    enum class Slot {
        ExportPanel,
        TimeInput1,
        TimeInput2,
        ExportControlPanel,
        CameraSelector,
        SelectedTimeLine,
        PlayControlPanel,
        SettingsControlPanel,
        TimeSelector,
        UnitedTimeLine,
        SourceBrowser,
        SettingsPanel,
        ExportTaskSettings,
    };
    // Makes the widget of a slot (owned by the scene once added); null for
    // a plain strip. Without a factory the layer makes the player's panels.
    using ControlsFactory = std::function<QWidget*(Slot slot, QControlsGuiLayer& layer)>;
    // Makes the half-transparent snapshot of a channel that the user drags
    // onto the export panel (added to the scene by the caller).
    using DragImageFactory = std::function<QGraphicsItem*(const QImage& image, int channel)>;

    // The layer keeps the renderer; it is the renderer's scene layer and,
    // through its channel grid, its titles processor until destroyed.
    explicit QControlsGuiLayer(std::shared_ptr<render::Renderer> renderer, ControlsFactory factory = {});
    ~QControlsGuiLayer() override;

    // The scene follows the output's size and lays its panels out.
    void Resize(const QSize& size) override;
    bool RenderDirty() override;
    void CreateControls() override;
    // A channel's video item dragged in export mode: its picture becomes a
    // snapshot that takes over the drag.
    void OnItemMoved(QGraphicsItem* item, const QPointF& offset) override;
    void SetDragImageFactory(DragImageFactory factory) { m_dragImageFactory = std::move(factory); }

    QChannelsGrid& Grid() { return m_grid; }
    // The export panel in scene coordinates: where snapshots land.
    QRectF ExportDropArea() const;

    // Play page, channel grid out of export mode; no time input active.
    void SwitchToPlayMode();
    // Export page, time input 1 active unless one already is.
    void SwitchToExportMode();
    // index 0 or 1; -1 for none. Unmarks the other input.
    void SetActiveTimeInput(int index);
    bool IsTimeInputActive(int index) const { return m_timeInputActive[index]; }
    int CurrentPage() const { return m_pages.CurrentPage(); }

    // Before a snapshot or print: no popup in the picture.
    void PrepareCapture();
    void ApplyEnabledState(const EnabledGuiFlags& enabled);

    QWidget* Control(Slot slot) const;
    render::Renderer* GetRenderer() const { return m_renderer.get(); }
    QCustomButton* ShotButton() const { return m_shotButton; }
    QCustomButton* PrintButton() const { return m_printButton; }
    // The video area: where the channel grid lies after the last layout.
    QRect VideoArea() const { return m_videoArea; }

    // The signals and calls of the playback controller's side.
    const std::shared_ptr<ControlsLayerInterface>& Interface() const { return m_interface; }
    playback::IControlsLayer& Signals() { return *m_interface; }

    void StopPrevFrameFade();
    void StartPrevFrameFade();
    void StopPrevFrameAnimation();
    void InvalidateAll();

    int GetPrevFrameAlpha() const { return 0; }
    void SetPrevFrameAlphaProperty(int alpha);

public slots:
    void NewFile(int channel);

private slots:
    void sceneChanged(const QList<QRectF>& rects);
    void onScreenshot();
    void onPrint();
    void onShowSettingsPanel();
    void onHideSettingsPanel();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    QWidget* Make(Slot slot);
    QWidget* MakePanel(Slot slot);
    void ToggleConfigurationPanel(Slot slot);
    QGraphicsProxyWidget* AddControl(Slot slot, QWidget* widget);
    void BuildModePanels();
    void BuildTimeLineRow();
    void RepaintControl(Slot slot);
    void UnmarkTimeInput(int index);

    std::shared_ptr<render::Renderer> m_renderer;
    ControlsFactory m_factory;
    DragImageFactory m_dragImageFactory;
    std::shared_ptr<ControlsLayerInterface> m_interface;
    QChannelsGrid m_grid;
    QGraphicsGridLayout* m_mainGrid = nullptr;
    QGraphicsGridLayout* m_timeLineRow = nullptr;  // floats over the United time line
    QPanelSwitcher m_pages;
    std::array<QWidget*, 13> m_controls{};
    QCustomButton* m_shotButton = nullptr;
    QCustomButton* m_printButton = nullptr;
    std::array<bool, 2> m_timeInputActive{false, false};
    QRect m_videoArea;
    QPropertyAnimation m_fade;
    int m_timer = 0;
};
