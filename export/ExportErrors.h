#pragma once
// The error numbers an export reports. They are the exit codes of a
// windowless export and the codes the export messages are chosen by, so
// they keep their fixed values on every platform; the failing code sets
// them as the worker thread's last export error before it throws, and the
// engine reads it back when it classifies a plain std::exception.

#include <string>

namespace Storage {

enum ExportCode : int {
    kExportCodeNoDestination = 55,  // the destination's parent folder is gone
    kExportCodeDiskFull = 112,
    kExportCodeHandleDiskFull = 39,
    kExportCodeSameFolder = 143,
    kExportCodeBusy = 170,
    kExportCodeCancelled = 240,
    kExportCodeNoFiles = 1168,
    // A failure that stored no code of its own: never reported as 0.
    kExportCodeFailed = 1359,
};

void SetLastExportError(int code);
int GetLastExportError();

// An errno value as an export code: ENOSPC and EDQUOT become 112, every
// other value stays.
int ExportCodeFromErrno(int error);

// The code a failure is reported with: `code` itself, or kExportCodeFailed
// when the failure left none (0).
int FailureCode(int code);

// The text of an export code: our own for 0 and the codes above, the
// system's for any other (an errno value).
std::string ExportCodeText(int code);

}  // namespace Storage
