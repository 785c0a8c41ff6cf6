#include "export/ExportErrors.h"

#include <cerrno>
#include <cstring>

namespace Storage {

namespace {
thread_local int t_lastExportError = 0;
}

void SetLastExportError(int code) { t_lastExportError = code; }
int GetLastExportError() { return t_lastExportError; }

int ExportCodeFromErrno(int error)
{
    if (error == ENOSPC || error == EDQUOT)
        return kExportCodeDiskFull;
    return error;
}

int FailureCode(int code)
{
    return code != 0 ? code : kExportCodeFailed;
}

std::string ExportCodeText(int code)
{
    switch (code) {
    case 0: return "The operation completed successfully.";
    case kExportCodeNoDestination: return "The destination is not available.";
    case kExportCodeDiskFull: return "There is not enough space on the destination disk.";
    case kExportCodeHandleDiskFull: return "The destination disk is full.";
    case kExportCodeSameFolder: return "The destination lies on the source.";
    case kExportCodeBusy: return "The export is busy.";
    case kExportCodeCancelled: return "The export was cancelled.";
    case kExportCodeNoFiles: return "Nothing was found to export.";
    case kExportCodeFailed: return "The export failed.";
    default: break;
    }
    char buffer[256];
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text != nullptr ? text : std::string();
}

}  // namespace Storage
