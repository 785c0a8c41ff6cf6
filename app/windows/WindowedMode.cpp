#include "app/windows/WindowedMode.h"

#include "app/windows/QMainWnd.h"
#include "playback/PlayersController.h"

std::unique_ptr<QWidget> MakeMainWindow(const StartOptions& options)
{
    auto renderer = playback::MakePlaybackRenderer(nullptr);
    auto controller = std::make_shared<playback::PlayersController>(
        playback::HeadlessGui::Bundle(std::make_shared<playback::HeadlessGui>()), renderer);
    return std::make_unique<QMainWnd>(controller, nullptr, options);
}
