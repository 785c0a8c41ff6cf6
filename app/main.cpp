#include "app/GavexPlayer.h"
#include "base/ProcessValues.h"
#include "export/WindowlessExport.h"
#include "imaging/jpeg/Compressor.h"
#include "media/FrameCodecsInstall.h"

int main(int argc, char** argv)
{
    // Process-wide values (crash handler first) come before anything else runs.
    InitProcessValues();
    // The archive writers decode through the media layer and encode through
    // the frame compressor.
    InstallMediaFrameCodecs();
    InstallFrameCompressor();
    Storage::InstallExportEngineFactory();
    GavexPlayer player;
    return player.Run(argc, argv);
}
