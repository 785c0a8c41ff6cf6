// Cost of a logging call below the level threshold, and of queueing lines
// from many threads at once while the writer empties the queue.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/Log.h"

namespace {

// One logger per level for the whole run, in a folder and registry store of
// its own (removed at exit).
struct BenchLogger {
    std::string dir;
    std::unique_ptr<QorLog::CDebug> log;

    explicit BenchLogger(int level) {
        char pattern[] = "/tmp/gavex-logbench-XXXXXX";
        dir = mkdtemp(pattern);
        setenv("GAVEX_REGISTRY_DIR", (dir + "/reg").c_str(), 1);
        const QorLog::DebugSettings settings{48, 100, 2, 1, level, 8192, 4096};
        log = std::make_unique<QorLog::CDebug>(dir, "SOFTWARE\\LogBench", "", &settings);
    }
    ~BenchLogger() {
        log.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

QorLog::CDebug& Logger(int level) {
    static BenchLogger quiet(1);
    static BenchLogger busy(2);
    return *(level == 1 ? quiet : busy).log;
}

void BM_LogCallBelowThreshold(benchmark::State& state) {
    QorLog::CDebug& log = Logger(1);
    int i = 0;
    for (auto _ : state) {
        log.Trace("[BENCH] frame %d of channel %s", i++, "7");
    }
}
BENCHMARK(BM_LogCallBelowThreshold);

void BM_EnqueueFromThreads(benchmark::State& state) {
    QorLog::CDebug& log = Logger(2);
    int i = 0;
    for (auto _ : state) {
        log.Message("[BENCH] thread %d line %d of a typical length for the archive engine's messages",
                    state.thread_index(), i++);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EnqueueFromThreads)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace
