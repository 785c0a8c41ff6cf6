#include "app/windows/WindowedMode.h"

#include "app/windows/QControlsGuiLayer.h"
#include "app/windows/QMainWnd.h"
#include "playback/PlayersController.h"

std::unique_ptr<QWidget> MakeMainWindow(const StartOptions& options)
{
    auto renderer = playback::MakePlaybackRenderer(nullptr);
    auto layer = std::make_shared<QControlsGuiLayer>(renderer);
    // The layer and its channel grid stand in for the headless objects; the
    // panels it does not hold yet stay headless.
    playback::PlaybackGui gui = playback::HeadlessGui::Bundle(std::make_shared<playback::HeadlessGui>());
    gui.controls = layer->Interface();
    gui.enabled = layer->Interface();
    gui.grid = std::shared_ptr<playback::IChannelsGrid>(layer, &layer->Grid());
    QControlsGuiLayer* scene = layer.get();
    auto controller = std::make_shared<playback::PlayersController>(gui, renderer);
    return std::make_unique<QMainWnd>(controller, scene, options);
}
