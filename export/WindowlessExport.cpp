#include "export/WindowlessExport.h"

#include <condition_variable>
#include <mutex>

#include <boost/make_shared.hpp>

#include "export/BasePlayerExport.h"
#include "export/FFmpegExport.h"
#include "export/NativeExport.h"
#include "playback/PlayersController.h"

namespace Storage {

int RunExportToCompletion(const boost::shared_ptr<BasePlayerExport>& engine, const std::string& destination,
                          const std::vector<ExportTask>& tasks,
                          const std::function<void(int, const ExportTask&)>& progress,
                          const std::function<void(const ExportError&)>& finished)
{
    std::vector<ExportTask> kept;
    for (const ExportTask& task : tasks)
        if (!task.ChannelIds.empty())
            kept.push_back(task);
    if (!engine || destination.empty() || kept.empty())
        return kWindowlessNothingToExport;

    std::mutex mutex;
    std::condition_variable done;
    bool reported = false;
    int64_t code = 0;
    boost::signals2::scoped_connection onProgress = engine->TaskProgress.connect(
        [&](const IPlayerExport&, int percent, const ExportTask& task) {
            if (progress)
                progress(percent, task);
        });
    boost::signals2::scoped_connection onCompleted =
        engine->Completed.connect([&](const IPlayerExport&, const ExportError& error) {
            if (finished)
                finished(error);
            std::lock_guard<std::mutex> lock(mutex);
            code = error.code;
            reported = true;
            done.notify_all();
        });
    engine->Start(destination, kept);
    {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return reported; });
    }
    // The report may still be on its way out of the worker's signal call.
    engine->Join();
    return static_cast<int>(code);
}

boost::shared_ptr<IPlayerExport> MakeExportEngine(
    const boost::shared_ptr<IVindaraFileSystem>& fileSystem,
    const std::vector<boost::shared_ptr<filters::IVideoSource>>& channels)
{
    boost::shared_ptr<BasePlayerExport> engine;
    if (fileSystem)
        engine = CreateNativeExport(fileSystem);
    else if (!channels.empty())
        engine = boost::make_shared<FFmpegExport>(channels);
    if (!engine)
        return {};
    // The report reaches its receiver from inside the worker: the engine
    // goes only once the worker has left it.
    return boost::shared_ptr<IPlayerExport>(engine.get(), [engine](IPlayerExport*) mutable {
        engine->Join();
        engine.reset();
    });
}

void InstallExportEngineFactory()
{
    playback::SetExportEngineFactory(&MakeExportEngine);
}

}  // namespace Storage
