#include "app/windows/WindowedMode.h"

#include "app/windows/QControlsGuiLayer.h"
#include "app/windows/QMainWnd.h"
#include "playback/PlayersController.h"

std::unique_ptr<QWidget> MakeMainWindow(const StartOptions& options)
{
    auto renderer = playback::MakePlaybackRenderer(nullptr);
    auto layer = std::make_shared<QControlsGuiLayer>(renderer);
    // The layer, its channel grid and its panels stand in for the headless
    // objects; a panel a factory left out stays headless.
    playback::PlaybackGui gui = playback::HeadlessGui::Bundle(std::make_shared<playback::HeadlessGui>());
    gui.controls = layer->Interface();
    gui.enabled = layer->Interface();
    gui.grid = std::shared_ptr<playback::IChannelsGrid>(layer, &layer->Grid());
    // The scene owns the panels; the layer's share keeps them.
    auto panel = [&layer]<class T>(QControlsGuiLayer::Slot slot, std::shared_ptr<T>& target) {
        if (auto* object = dynamic_cast<T*>(layer->Control(slot)))
            target = std::shared_ptr<T>(layer, object);
    };
    using Slot = QControlsGuiLayer::Slot;
    panel(Slot::SelectedTimeLine, gui.playTimeLine);
    panel(Slot::UnitedTimeLine, gui.exportTimeLine);
    panel(Slot::PlayControlPanel, gui.playPanel);
    panel(Slot::CameraSelector, gui.cameras);
    panel(Slot::ExportPanel, gui.exportPanel);
    panel(Slot::ExportControlPanel, gui.exportControl);
    panel(Slot::TimeSelector, gui.calendar);
    panel(Slot::TimeInput1, gui.beginInput);
    panel(Slot::TimeInput2, gui.endInput);
    panel(Slot::ExportTaskSettings, gui.taskSettings);
    QControlsGuiLayer* scene = layer.get();
    auto controller = std::make_shared<playback::PlayersController>(gui, renderer);
    return std::make_unique<QMainWnd>(controller, scene, options);
}
