// The export engine over a scripted engine: one report per start, the busy
// refusal, the destination check of the worker, cancellation, the progress
// rounding and how each kind of failure becomes a report.

#include "export/BasePlayerExport.h"

#include <cerrno>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include <boost/filesystem/exception.hpp>
#include <gtest/gtest.h>

#include "export/ExportErrors.h"
#include "export/FFmpegException.h"
#include "export/WindowlessExport.h"
#include "support/TempDir.h"

namespace {

using Storage::ExportError;
using Task = Storage::ExportTask;

// Runs a script per task; records what ran and every report.
class ScriptedExport : public Storage::BasePlayerExport {
public:
    std::function<void(ScriptedExport&, const Task&)> script;
    std::function<bool(const std::string&)> check;
    std::vector<std::string> calls;
    std::vector<int> percents;
    std::vector<ExportError> reports;
    std::vector<std::thread::id> reportThreads;
    std::mutex mutex;
    std::condition_variable done;

    ScriptedExport()
    {
        TaskProgress.connect([this](const IPlayerExport&, int percent, const Task&) { percents.push_back(percent); });
        Completed.connect([this](const IPlayerExport&, const ExportError& error) {
            std::lock_guard<std::mutex> lock(mutex);
            reports.push_back(error);
            reportThreads.push_back(std::this_thread::get_id());
            done.notify_all();
        });
    }

    ExportError WaitReport(size_t count = 1)
    {
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_TRUE(done.wait_for(lock, std::chrono::seconds(30), [&] { return reports.size() >= count; }));
        lock.unlock();
        Join();
        return reports.empty() ? ExportError{} : reports.back();
    }

    void Step(double step, const Task& task) { AddProgressStep(step, task); }

protected:
    void ExportTask(const Storage::ExportTask& task, const boost::filesystem::path&) override
    {
        calls.push_back("task " + std::to_string(task.row));
        ResetProgress();
        if (script)
            script(*this, task);
    }
    void Prepare(const boost::filesystem::path&) override { calls.push_back("prepare"); }
    void Finish(const boost::filesystem::path&) override { calls.push_back("finish"); }
    bool CheckDestination(const std::string& destination, const std::vector<Storage::ExportTask>&) override
    {
        if (check && !check(destination)) {
            ReportError(Storage::ExportErrorSameFolder, Storage::kExportCodeSameFolder, "refused");
            return false;
        }
        return true;
    }
};

std::vector<Task> Tasks(int count)
{
    std::vector<Task> tasks(count);
    for (int i = 0; i < count; ++i) {
        tasks[i].row = i;
        tasks[i].ChannelIds = {"1"};
    }
    return tasks;
}

TEST(ExportEngine, BatchRunsPrepareTasksAndFinishAndReportsSuccessOnce)
{
    gavex_test::TempDir dir("export-engine");
    for (int count : {0, 2}) {
        ScriptedExport engine;
        engine.script = [](ScriptedExport& e, const Task& task) { e.Step(100, task); };
        engine.Start(dir / "out/", Tasks(count));  // made by the export; its parent exists
        const ExportError error = engine.WaitReport();
        EXPECT_EQ(error.kind, 0);
        EXPECT_EQ(error.code, 0);
        EXPECT_EQ(engine.reports.size(), 1u);
        std::vector<std::string> expected = {"prepare"};
        for (int i = 0; i < count; ++i)
            expected.push_back("task " + std::to_string(i));
        expected.push_back("finish");
        EXPECT_EQ(engine.calls, expected);
        EXPECT_EQ(engine.percents, std::vector<int>(count, 100));
        EXPECT_NE(engine.reportThreads.front(), std::this_thread::get_id());
    }
}

TEST(ExportEngine, SecondStartWhileBusyIsRefusedOnTheCallersThread)
{
    gavex_test::TempDir dir("export-busy");
    ScriptedExport engine;
    std::mutex gate;
    gate.lock();
    engine.script = [&](ScriptedExport& e, const Task& task) {
        std::lock_guard<std::mutex> wait(gate);
        e.Step(100, task);
    };
    engine.Start(dir / "out", Tasks(1));
    engine.Start(dir / "out", Tasks(1));
    {
        std::lock_guard<std::mutex> lock(engine.mutex);
        ASSERT_EQ(engine.reports.size(), 1u);
        EXPECT_EQ(engine.reports[0].kind, 0);
        EXPECT_EQ(engine.reports[0].code, 170);
        EXPECT_EQ(engine.reports[0].reason.rfind("Cannot start new export: previous tasks are not finished yet: ", 0),
                  0u);
        EXPECT_EQ(engine.reportThreads[0], std::this_thread::get_id());
    }
    gate.unlock();
    const ExportError error = engine.WaitReport(2);
    EXPECT_EQ(error.code, 0);
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"prepare", "task 0", "finish"}));
    // Idle again: a new batch starts.
    engine.Start(dir / "out", Tasks(1));
    EXPECT_EQ(engine.WaitReport(3).code, 0);
}

TEST(ExportEngine, StartRefusedByTheDestinationCheckLeavesTheEngineUsable)
{
    gavex_test::TempDir dir("export-refused");
    ScriptedExport engine;
    engine.check = [&](const std::string& destination) { return destination != dir.path(); };
    engine.Start(dir.path(), Tasks(1));
    ASSERT_EQ(engine.reports.size(), 1u);
    EXPECT_EQ(engine.reports[0].kind, 5);
    EXPECT_EQ(engine.reports[0].code, 143);
    EXPECT_TRUE(engine.calls.empty());
    engine.Start(dir / "out", Tasks(1));
    EXPECT_EQ(engine.WaitReport(2).code, 0);
}

TEST(ExportEngine, MissingDestinationParentIsNoDestinationAndRunsNoTask)
{
    gavex_test::TempDir dir("export-nodest");
    ScriptedExport engine;
    engine.Start(dir / "unplugged/drive/out", Tasks(2));
    const ExportError error = engine.WaitReport();
    EXPECT_EQ(error.kind, 3);
    EXPECT_EQ(error.code, 55);
    EXPECT_EQ(error.reason.rfind("Destination path doesn't exists: ", 0), 0u);
    EXPECT_TRUE(engine.calls.empty());
}

TEST(ExportEngine, CancelStopsAtTheNextStepAndRunsNoLaterTask)
{
    gavex_test::TempDir dir("export-cancel");
    ScriptedExport engine;
    engine.script = [](ScriptedExport& e, const Task& task) {
        e.Step(30, task);
        e.Cancel();  // as the GUI would, between two steps
        e.Step(30, task);
        ADD_FAILURE() << "the step after a cancel returned";
    };
    engine.Start(dir / "out", Tasks(3));
    const ExportError error = engine.WaitReport();
    EXPECT_EQ(error.kind, 1);
    EXPECT_EQ(error.code, 240);
    EXPECT_EQ(error.reason.rfind("Export interrupted: ", 0), 0u);
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"prepare", "task 0"}));
    EXPECT_EQ(engine.percents, (std::vector<int>{30, 60}));
}

TEST(ExportEngine, ProgressEmitsEachRoundedPercentOnceAndNeverAbove100)
{
    struct Case {
        std::vector<double> steps;
        std::vector<int> emitted;
    };
    const std::vector<Case> cases = {
        {{0.2, 0.2, 0.2}, {1}},               // 0.2 rounds to 0, 0.6 to 1
        {{33.3, 33.3, 33.4}, {33, 67, 100}},
        {{70.0 / 3, 70.0 / 3, 70.0 / 3, 2, 28}, {23, 47, 70, 72, 100}},
        {{60, 60}, {60}},                     // 120 is never emitted
        {{6, 10, 24, 60}, {6, 16, 40, 100}},
        {{50, -10, 20}, {50, 60}},            // a fall emits nothing
    };
    gavex_test::TempDir dir("export-progress");
    for (const Case& c : cases) {
        ScriptedExport engine;
        engine.script = [&](ScriptedExport& e, const Task& task) {
            for (double step : c.steps)
                e.Step(step, task);
        };
        engine.Start(dir / "out", Tasks(1));
        engine.WaitReport();
        EXPECT_EQ(engine.percents, c.emitted) << ::testing::PrintToString(c.steps);
    }
}

TEST(ExportEngine, FailuresBecomeKindsAndCodes)
{
    struct Case {
        const char* name;
        std::function<void()> fail;
        int kind;
        int64_t code;
        std::string reasonStart;
    };
    const std::vector<Case> cases = {
        {"disk full while copying",
         [] {
             throw boost::filesystem::filesystem_error(
                 "copy", boost::system::error_code(ENOSPC, boost::system::system_category()));
         },
         4, 112, "copy"},
        {"other filesystem error",
         [] {
             throw boost::filesystem::filesystem_error(
                 "copy", boost::system::error_code(EACCES, boost::system::system_category()));
         },
         4, EACCES, "copy"},
        {"ffmpeg stage 1", [] { throw utils::FFmpegException("a", -2, 1); }, 7, -2, "a"},
        {"ffmpeg stage 2", [] { throw utils::FFmpegException("b", -5, 2); }, 8, -5, "b"},
        {"ffmpeg stage 3", [] { throw utils::FFmpegException("c", -22, 3); }, 9, -22, "c"},
        {"ffmpeg stage 4", [] { throw utils::FFmpegException("d", -28, 4); }, 10, -28, "d"},
        {"ffmpeg stage 0", [] { throw utils::FFmpegException("e", -1, 0); }, 0, -1, "e"},
        {"no space",
         [] {
             Storage::SetLastExportError(112);
             throw std::runtime_error("disk is full");
         },
         2, 112, "disk is full"},
        {"handle disk full",
         [] {
             Storage::SetLastExportError(39);
             throw std::runtime_error("full");
         },
         2, 39, "full"},
        {"no files",
         [] {
             Storage::SetLastExportError(1168);
             throw std::runtime_error("No video files to export");
         },
         6, 1168, "No video files to export"},
        {"no destination",
         [] {
             Storage::SetLastExportError(55);
             throw std::runtime_error("gone");
         },
         3, 55, "gone"},
        // Failures that stored no code still fail with a code of their own.
        {"unclassified",
         [] {
             Storage::SetLastExportError(0);
             throw std::logic_error("odd");
         },
         0, Storage::kExportCodeFailed, "odd: The export failed."},
        {"ffmpeg stage without an error number", [] { throw utils::FFmpegException("f", 0, 1); }, 7,
         Storage::kExportCodeFailed, "f"},
        {"filesystem error without a value",
         [] { throw boost::filesystem::filesystem_error("copy", boost::system::error_code()); }, 4,
         Storage::kExportCodeFailed, "copy"},
        {"not a std::exception", [] { throw 42; }, 0, Storage::kExportCodeFailed, "Unknown export failure"},
    };
    gavex_test::TempDir dir("export-failures");
    for (const Case& c : cases) {
        ScriptedExport engine;
        engine.script = [&](ScriptedExport&, const Task&) { c.fail(); };
        engine.Start(dir / "out", Tasks(2));
        const ExportError error = engine.WaitReport();
        EXPECT_EQ(error.kind, c.kind) << c.name;
        EXPECT_EQ(error.code, c.code) << c.name;
        EXPECT_EQ(error.reason.rfind(c.reasonStart, 0), 0u) << c.name << ": " << error.reason;
        EXPECT_EQ(engine.calls, (std::vector<std::string>{"prepare", "task 0"})) << c.name;
    }
}

TEST(ExportEngine, ReportTextsAreOurOwnForTheFixedCodes)
{
    EXPECT_EQ(Storage::ExportCodeText(112), "There is not enough space on the destination disk.");
    EXPECT_EQ(Storage::ExportCodeText(0), "The operation completed successfully.");
    EXPECT_EQ(Storage::ExportCodeText(ENOENT), std::string(strerror(ENOENT)));
    EXPECT_EQ(Storage::ExportCodeFromErrno(ENOSPC), 112);
    EXPECT_EQ(Storage::ExportCodeFromErrno(EFBIG), EFBIG);
}

TEST(ExportEngine, WindowlessRunReturnsTheReportCodeOr22WhenNothingToExport)
{
    gavex_test::TempDir dir("export-windowless");
    auto engine = boost::shared_ptr<ScriptedExport>(new ScriptedExport);
    engine->script = [](ScriptedExport& e, const Task& task) {
        e.Step(100, task);
        Storage::SetLastExportError(1168);
        throw std::runtime_error("none");
    };
    std::vector<int> seen;
    EXPECT_EQ(Storage::RunExportToCompletion(engine, dir / "out", Tasks(1),
                                             [&](int percent, const Task&) { seen.push_back(percent); }),
              1168);
    EXPECT_EQ(seen, std::vector<int>{100});
    std::vector<Task> noChannels(2);
    EXPECT_EQ(Storage::RunExportToCompletion(engine, dir / "out", noChannels), 22);
    EXPECT_EQ(Storage::RunExportToCompletion(engine, "", Tasks(1)), 22);
    EXPECT_EQ(Storage::RunExportToCompletion(nullptr, dir / "out", Tasks(1)), 22);
}

}  // namespace
