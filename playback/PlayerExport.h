#pragma once
// The report of an export batch and the interface of every export engine
// (the task record is the application's own). Declared below the engines so
// that the players controller can drive one that the program makes for it.
//
// Threads: Start and Cancel run on the caller's thread. TaskProgress and
// Completed are emitted on the engine's worker thread, except the report of
// a refused start, which is emitted inside Start on the caller's thread.
// Completed comes exactly once per Start; its receiver may release the
// engine from within the signal.

#include <cstdint>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/signals2/signal.hpp>

#include "config/ExportTask.h"


namespace Storage {

enum ExportErrorKind : int32_t {
    ExportErrorNone = 0,
    ExportErrorCancelled = 1,
    ExportErrorNoSpace = 2,
    ExportErrorNoDestination = 3,
    ExportErrorCopy = 4,
    ExportErrorSameFolder = 5,
    ExportErrorNoVideo = 6,
    ExportErrorCreateFile = 7,
    ExportErrorOpenFile = 8,
    ExportErrorWriteHeader = 9,
    ExportErrorWriteFrame = 10,
};

struct ExportError {
    int32_t kind = 0;
    std::string reason;
    int64_t code = 0;  // system or FFmpeg error number, sign-extended; 0 on success
};

class IPlayerExport {
public:
    virtual ~IPlayerExport() = default;

    // Refused (Completed with kind 0, code 170) while a batch runs.
    virtual void Start(const std::string& destination, const std::vector<ExportTask>& tasks) = 0;
    // Asks the worker to stop; does not wait. The batch ends with kind 1.
    virtual void Cancel() = 0;

    boost::signals2::signal<void(const IPlayerExport&)> Started;
    // The current task's whole percent, each value once, rising; 100 ends a task.
    boost::signals2::signal<void(const IPlayerExport&, int, const ExportTask&)> TaskProgress;
    boost::signals2::signal<void(const IPlayerExport&, const ExportError&)> Completed;
};

}  // namespace Storage
