// Opening an archive: initialisation of the engine over a synthetic archive
// (16 cameras x 7 days x 24 hours x 6 files on two volumes) from its record
// index files, and from the fast index, beside a plain readdir walk of the
// same tree in this process in the same iterations, the two sides going first
// by turns. The figure to watch is the ratio of Init to the walk.

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "archive/fs/FileSystem.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"
#include "bench/support/BenchFiles.h"
#include "bench/support/PairRatios.h"

namespace {

struct SyntheticArchive {
    testsupport::ArchiveTempDir dir;
    std::string registry = dir.File("registry");
    std::string drive1 = dir.File("vol1");
    std::string drive2 = dir.File("vol2");
    size_t records = 0;

    SyntheticArchive() {
        testsupport::MakeFolders(registry);
        setenv("GAVEX_REGISTRY_DIR", registry.c_str(), 1);
        records = testsupport::BuildSyntheticArchive({drive1, drive2}, 16, 7, 6, 2024, 3, 4);
    }
    void SetFastIndex(bool on) {
        std::ofstream(registry + "/machine.reg", std::ios::trunc)
            << "[SOFTWARE\\QOR\\Vindara\\Debug]\n\"Path\"=\"" << registry << "\"\n"
            << "[SOFTWARE\\QOR\\Vindara\\Video]\n\"FastIndex\"=\"" << (on ? 1 : 0) << "\"\n";
    }
};

SyntheticArchive& Archive() {
    static SyntheticArchive archive;
    return archive;
}

using benchfiles::WalkTree;

void RunInit(benchmark::State& state, bool fastIndex) {
    SyntheticArchive& archive = Archive();
    archive.SetFastIndex(fastIndex);
    FileSystem engine;
    const std::set<std::string> drives{archive.drive1, archive.drive2};
    double initSeconds = 0, walkSeconds = 0;
    int64_t turn = 0;
    benchfiles::PairRatios pairs;
    for (auto _ : state) {
        state.PauseTiming();
        engine.Init({});
        state.ResumeTiming();
        bool ok = true;
        int64_t walked = 0;
        const auto [init, walk] = benchfiles::TimeBothInTurn(
            turn++,
            [&] {
                ok = engine.Init(drives);
                // Every record of camera 1 in memory, as the time line asks for them.
                std::vector<boost::gregorian::date> days;
                engine.GetRecordDays(1, days);
                for (const auto& day : days) {
                    std::vector<FileSystem::DayEntry> entries;
                    engine.GetDayEntries(1, day, entries);
                    benchmark::DoNotOptimize(entries.data());
                }
            },
            [&] { walked = WalkTree(archive.drive1) + WalkTree(archive.drive2); });
        if (!ok) state.SkipWithError("Init failed");
        if (walked == 0) state.SkipWithError("walk found nothing");
        state.SetIterationTime(init);
        initSeconds += init;
        walkSeconds += walk;
        pairs.Add(init, walk);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["records"] = static_cast<double>(archive.records);
    state.counters["walk_ms"] = walkSeconds / n * 1000;
    state.counters["init_ms"] = initSeconds / n * 1000;
    state.counters["ratio"] = walkSeconds > 0 ? initSeconds / walkSeconds : 0;
    pairs.Report(state);
}

void BM_InitFromIndexFiles(benchmark::State& state) { RunInit(state, false); }
void BM_InitFromFastIndex(benchmark::State& state) {
    // The first run writes the fast index; it is not timed.
    Archive().SetFastIndex(true);
    {
        FileSystem engine;
        engine.Init({Archive().drive1, Archive().drive2});
    }
    RunInit(state, true);
}

BENCHMARK(BM_InitFromIndexFiles)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);
BENCHMARK(BM_InitFromFastIndex)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

}  // namespace
