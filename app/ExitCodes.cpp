#include "app/ExitCodes.h"

#include "export/ExportErrors.h"
#include "playback/PlayersController.h"

int ExitStatusForResult(int code)
{
    switch (code) {
    case playback::kCompletedOk:
        return kExitOk;
    case playback::kCompletedFailed:
        return kExitNothingSaved;
    case Storage::kExportCodeNoDestination:
        return kExitNoDestination;
    case Storage::kExportCodeDiskFull:
    case Storage::kExportCodeHandleDiskFull:
        return kExitDiskFull;
    case Storage::kExportCodeSameFolder:
        return kExitDestinationOnSource;
    case Storage::kExportCodeBusy:
        return kExitBusy;
    case Storage::kExportCodeCancelled:
        return kExitCancelled;
    case Storage::kExportCodeNoFiles:
        return kExitNothingToExport;
    case Storage::kExportCodeFailed:
        return kExitFailedWithoutCode;
    default:
        return kExitExportFailed;
    }
}
