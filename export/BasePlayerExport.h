#pragma once
// The export engine: runs a batch of tasks on a worker thread of its own,
// turns every failure into one ExportError, and reports progress as whole
// percents of the current task. Derived engines supply the work of a task
// and the optional prepare, destination-check and finish steps; their
// workers report progress as steps through AddProgressStep.
//
// Cancellation is boost thread interruption: it takes effect at the next
// progress step or interruptible wait of the worker.

#include <atomic>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <boost/thread/thread.hpp>

#include "export/ExportTask.h"

namespace Storage {

class BasePlayerExport : public IPlayerExport {
public:
    BasePlayerExport();
    // Detaches a running worker; the owner keeps the engine alive until
    // Completed has been delivered.
    ~BasePlayerExport() override;
    BasePlayerExport(const BasePlayerExport&) = delete;
    BasePlayerExport& operator=(const BasePlayerExport&) = delete;

    void Start(const std::string& destination, const std::vector<Storage::ExportTask>& tasks) override;
    void Cancel() override;
    // Waits until the worker has ended (never call it on the worker).
    void Join();

    // Adds a step to the current task's progress and emits the rounded
    // percent when it rose and is at most 100; then an interruption point.
    void AddProgressStep(double step, const Storage::ExportTask& task);

    boost::signals2::signal<void(int, const Storage::ExportTask&)> Progress;

protected:
    // The work of one task, on the worker thread; throws on failure.
    virtual void ExportTask(const Storage::ExportTask& task, const boost::filesystem::path& destination) = 0;
    virtual void Prepare(const boost::filesystem::path& destination);
    // On the caller's thread; a refusal reports through ReportError itself.
    virtual bool CheckDestination(const std::string& destination, const std::vector<Storage::ExportTask>& tasks);
    virtual void Finish(const boost::filesystem::path& destination);
    // Builds the report (the message, ": " and the code's text) and emits
    // Completed.
    virtual void ReportError(int kind, int code, const char* message);

    // Progress of the current task; each task resets both.
    void ResetProgress();
    void SetProgress(double percent, const Storage::ExportTask& task);

    const std::vector<Storage::ExportTask>& Tasks() const { return m_tasks; }

private:
    void Run(std::string destination);

    double m_progress = 0;
    int m_lastPercent = 0;
    std::vector<Storage::ExportTask> m_tasks;
    // Set by a successful Start, cleared by the worker before it reports.
    std::atomic<bool> m_busy{false};
    boost::thread m_worker;
};

}  // namespace Storage
