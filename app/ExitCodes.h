#pragma once
// The statuses the process hands to its caller. A status is one byte, and
// shells read 128 + n as "ended by signal n" (143 is SIGTERM), so every
// result of the program has its own small status below 126; the log keeps
// the full result code of a windowless run.

inline constexpr int kExitOk = 0;                    // help, a finished run
inline constexpr int kExitFailed = 1;                // extraction failed, no display for the window
inline constexpr int kExitBadCommandLine = 2;        // the command line was rejected
inline constexpr int kExitPasswordRefused = 3;       // password dialog cancelled, empty or wrong
inline constexpr int kExitNothingSaved = 22;         // no frame saved, or no export task has channels
inline constexpr int kExitNoDestination = 30;        // the destination's parent folder is gone
inline constexpr int kExitDiskFull = 31;             // the destination is full
inline constexpr int kExitDestinationOnSource = 33;  // the destination lies inside the source
inline constexpr int kExitBusy = 34;                 // another export is running
inline constexpr int kExitCancelled = 35;            // the export was cancelled
inline constexpr int kExitNothingToExport = 36;      // nothing recorded in the chosen time
inline constexpr int kExitFailedWithoutCode = 37;   // a failure that stored no code of its own
inline constexpr int kExitExportFailed = 40;         // any other failure (a file-system error, ...)

// The exit status of a windowless run that ended with the controller's or
// the export engine's result code: 0 for 0, a status of the table above for
// every other code, never above 125.
int ExitStatusForResult(int code);
