// Opening an archive: initialisation of the engine over a synthetic archive
// (16 cameras x 7 days x 24 hours x 6 files on two volumes) from its record
// index files, and from the fast index, beside the time `find` needs to list
// the same tree. The figure to watch is the ratio of Init to find.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "archive/fs/FileSystem.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

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

double FindSeconds() {
    const std::string command = "find '" + Archive().dir.Path() + "/vol1' '" + Archive().dir.Path() + "/vol2' > /dev/null";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return 0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void RunInit(benchmark::State& state, bool fastIndex) {
    SyntheticArchive& archive = Archive();
    archive.SetFastIndex(fastIndex);
    FileSystem engine;
    const std::set<std::string> drives{archive.drive1, archive.drive2};
    double initSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        engine.Init({});
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        if (!engine.Init(drives)) state.SkipWithError("Init failed");
        // Every record of camera 1 in memory, as the time line asks for them.
        std::vector<boost::gregorian::date> days;
        engine.GetRecordDays(1, days);
        for (const auto& day : days) {
            std::vector<FileSystem::DayEntry> entries;
            engine.GetDayEntries(1, day, entries);
            benchmark::DoNotOptimize(entries.data());
        }
        initSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    // The best of several runs: the tree is in the page cache for both.
    double findSeconds = FindSeconds();
    for (int i = 0; i < 4; ++i) findSeconds = std::min(findSeconds, FindSeconds());
    const double perInit = initSeconds / static_cast<double>(state.iterations());
    state.counters["records"] = static_cast<double>(archive.records);
    state.counters["find_ms"] = findSeconds * 1000;
    state.counters["init_ms"] = perInit * 1000;
    state.counters["init_per_find"] = findSeconds > 0 ? perInit / findSeconds : 0;
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

BENCHMARK(BM_InitFromIndexFiles)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_InitFromFastIndex)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
