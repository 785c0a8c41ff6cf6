// Frames reader costs: opening a file with a large index, random reads by
// time, and scanning a file without index beside read() of the same file in
// 128 KiB chunks in this process (counters: both times and the ratio).

#include "archive/files/DynamicFramesReader.h"
#include "archive/files/FramesReaderCached.h"
#include "archive/files/FramesReaderIndexed.h"
#include "base/VideoFrame.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTss.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <vector>

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

// The reference: every byte of the file through read() in 128 KiB chunks.
int64_t ReadPlain(const std::string& path)
{
    static std::vector<char> chunk(128 * 1024);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int64_t bytes = 0;
    ssize_t n;
    while ((n = ::read(fd, chunk.data(), chunk.size())) > 0)
        bytes += n;
    ::close(fd);
    return bytes;
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// A fresh scanning reader reads every frame with its data once; then the
// same file is read plainly.
void BM_ScanWholeFile(benchmark::State& state)
{
    auto& samples = GetSamples();
    VideoFramePtr frame(new VideoFrame(), false);
    double ours = 0, reference = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        {
            FramesReaderCached reader(false);
            if (!reader.Open(samples.scan, 0)) {
                state.SkipWithError("open failed");
                return;
            }
            for (uint64_t n = 0; n < reader.GetFrameCount(); ++n)
                benchmark::DoNotOptimize(reader.ReadFrame(*frame, n, false, true, 1.0, false));
        }
        const auto t1 = std::chrono::steady_clock::now();
        if (ReadPlain(samples.scan) != static_cast<int64_t>(samples.scanBytes)) {
            state.SkipWithError("plain read failed");
            return;
        }
        const auto t2 = std::chrono::steady_clock::now();
        state.SetIterationTime(Seconds(t1 - t0));
        ours += Seconds(t1 - t0);
        reference += Seconds(t2 - t1);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * samples.scanBytes));
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = ours / n * 1000;
    state.counters["read_ms"] = reference / n * 1000;
    state.counters["ratio"] = reference > 0 ? ours / reference : 0;
}
BENCHMARK(BM_ScanWholeFile)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace
