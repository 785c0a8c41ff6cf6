#include <memory>

#include "app/GavexPlayer.h"
#include "app/windows/WindowedMode.h"
#include "base/ProcessValues.h"
#include "export/WindowlessExport.h"
#include "imaging/jpeg/Compressor.h"
#include "media/FrameCodecsInstall.h"
#include "playback/PlayersController.h"

int main(int argc, char** argv)
{
    // Process-wide values (crash handler first) come before anything else runs.
    InitProcessValues();
    // The archive writers decode through the media layer and encode through
    // the frame compressor.
    InstallMediaFrameCodecs();
    InstallFrameCompressor();
    // Exports made by the controller come from the export engines.
    Storage::InstallExportEngineFactory();
    // Windowless runs drive the players controller on headless GUI objects;
    // its renderer takes the device of the Render setting, which the
    // windowless start sets to the null device before the factory runs. The
    // windowed mode builds the main window with its own controller.
    GavexPlayer player(
        [] {
            return std::make_shared<playback::PlayersController>(
                playback::HeadlessGui::Bundle(std::make_shared<playback::HeadlessGui>()));
        },
        MakeMainWindow);
    return player.Run(argc, argv);
}
