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

namespace Storage {

class BasePlayerExport;

// The code of a windowless run that had nothing to export.
inline constexpr int kWindowlessNothingToExport = 22;

// 22 without an engine, destination or task with channels; otherwise the
// final report's code. `progress` and `finished`, when given, see every
// percent and the final report on the worker thread.
int RunExportToCompletion(const boost::shared_ptr<BasePlayerExport>& engine, const std::string& destination,
                          const std::vector<ExportTask>& tasks,
                          const std::function<void(int, const ExportTask&)>& progress = {},
                          const std::function<void(const ExportError&)>& finished = {});

}  // namespace Storage
