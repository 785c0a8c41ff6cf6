#pragma once
// A whole export batch run to its end on the calling thread, as a windowless
// run needs it: the tasks that have channels are started on the engine, the
// call waits for its one final report and returns the report's code, which
// becomes the program's exit code.

#include <functional>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "export/ExportTask.h"

namespace filters {
class IVideoSource;
}

namespace Storage {

class BasePlayerExport;
class IVindaraFileSystem;

// The code of a windowless run that had nothing to export.
inline constexpr int kWindowlessNothingToExport = 22;

// 22 without an engine, destination or task with channels; otherwise the
// final report's code. `progress` and `finished`, when given, see every
// percent and the final report on the worker thread.
int RunExportToCompletion(const boost::shared_ptr<BasePlayerExport>& engine, const std::string& destination,
                          const std::vector<ExportTask>& tasks,
                          const std::function<void(int, const ExportTask&)>& progress = {},
                          const std::function<void(const ExportError&)>& finished = {});

// The players controller's engine maker: the native export over `fileSystem`
// when given, otherwise an FFmpeg re-mux of the channels; empty with neither.
// Dropping the last reference waits for the worker, so it must not happen
// on the engine's own worker thread.
boost::shared_ptr<IPlayerExport> MakeExportEngine(
    const boost::shared_ptr<IVindaraFileSystem>& fileSystem,
    const std::vector<boost::shared_ptr<filters::IVideoSource>>& channels);

// Installs MakeExportEngine as the players controller's engine maker.
void InstallExportEngineFactory();

}  // namespace Storage
