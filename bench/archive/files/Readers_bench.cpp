// Frames reader costs: opening a file with a large index, random reads by
// time, and scanning a file without index compared with reading the same file
// through `cat`.

#include "archive/files/DynamicFramesReader.h"
#include "archive/files/FramesReaderCached.h"
#include "archive/files/FramesReaderIndexed.h"
#include "base/VideoFrame.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTss.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

using namespace testsupport;

namespace {

constexpr int64_t kStartMs = 1700000000000;

// Sample files, written once per process.
struct Samples {
    ArchiveTempDir dir;
    std::string bigIndexPortable = dir.File("big._01");  // 100,000 entries
    std::string bigIndexBinary = dir.File("bigb._01");
    std::string scan = dir.File("scan._01");              // no index, ~64 MB
    uint64_t scanBytes = 0;

    Samples()
    {
        const auto small = MakeSyntheticFrames(100000, kStartMs, 40, 25, 16);
        WriteBytes(bigIndexPortable, BuildArchiveFile(small));
        ArchiveFileOptions binary;
        binary.index = IndexForm::Binary;
        WriteBytes(bigIndexBinary, BuildArchiveFile(small, binary));

        ArchiveFileOptions none;
        none.index = IndexForm::None;
        const auto large = MakeSyntheticFrames(3200, kStartMs, 40, 25, 20000);
        const auto bytes = BuildArchiveFile(large, none);
        scanBytes = bytes.size();
        WriteBytes(scan, bytes);
    }
};

Samples& GetSamples()
{
    static Samples samples;
    return samples;
}

void BM_OpenIndex100k(benchmark::State& state, bool portable)
{
    const std::string& path = portable ? GetSamples().bigIndexPortable : GetSamples().bigIndexBinary;
    for (auto _ : state) {
        DynamicFramesReader reader(false);
        if (!reader.Open(path, 0) || reader.GetFrameCount() != 100000)
            state.SkipWithError("open failed");
    }
}
BENCHMARK_CAPTURE(BM_OpenIndex100k, portable, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenIndex100k, binary, false)->Unit(benchmark::kMillisecond);

void BM_RandomReadByTime(benchmark::State& state, bool indexed)
{
    auto& samples = GetSamples();
    DynamicFramesReader reader(false);
    if (!reader.Open(indexed ? samples.bigIndexPortable : samples.scan, 0)) {
        state.SkipWithError("open failed");
        return;
    }
    const uint64_t count = reader.GetFrameCount();
    const int64_t step = 40;
    VideoFramePtr frame(new VideoFrame(), false);
    if (!indexed) // warm the scan cache once; the scan itself is measured below
        reader.ReadFrame(*frame, count - 1, false, false, 1.0, false);
    std::mt19937_64 rng(42);
    std::vector<TSS> times(4096);
    for (auto& t : times)
        t = LocalTss(kStartMs + static_cast<int64_t>(rng() % count) * step + 13);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(reader.ReadFrameAtTime(*frame, times[i++ % times.size()], false, true));
    }
}
BENCHMARK_CAPTURE(BM_RandomReadByTime, indexed, true);
BENCHMARK_CAPTURE(BM_RandomReadByTime, scan_cached, false);

// A fresh scanning reader reads every frame with its data once.
void BM_ScanWholeFile(benchmark::State& state)
{
    auto& samples = GetSamples();
    VideoFramePtr frame(new VideoFrame(), false);
    for (auto _ : state) {
        FramesReaderCached reader(false);
        if (!reader.Open(samples.scan, 0)) {
            state.SkipWithError("open failed");
            return;
        }
        for (uint64_t n = 0; n < reader.GetFrameCount(); ++n)
            benchmark::DoNotOptimize(reader.ReadFrame(*frame, n, false, true, 1.0, false));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * samples.scanBytes));
}
BENCHMARK(BM_ScanWholeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same file through `cat FILE > /dev/null` (a process start included).
void BM_CatWholeFile(benchmark::State& state)
{
    auto& samples = GetSamples();
    const std::string cmd = "cat '" + samples.scan + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0)
            state.SkipWithError("cat failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * samples.scanBytes));
}
BENCHMARK(BM_CatWholeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
