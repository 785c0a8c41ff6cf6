// Reading one camera's day through the engine the way the drives front end
// does (first, then forward steps), from files with their frame index and
// from files without one (the reader scans them), each beside a plain read()
// of the same files in 128 KiB chunks in this process (the ratio is ours over
// that); and the latency of reads at random times of the day.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/fs/FileSystem.h"
#include "base/VideoFrame.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

namespace {

constexpr int kHours = 24;
constexpr int kFilesPerHour = 2;
constexpr int kFramesPerFile = 250;  // 40 ms apart: 10 s per file
constexpr size_t kPayload = 4000;

// One camera's day in two archives, indexed files and files without an
// index; made once per process.
struct Day {
    std::string root;
    std::string drive[2];
    std::vector<std::string> paths[2];
    uint64_t bytes[2] = {0, 0};
    int64_t start = 0;

    Day() {
        char pattern[] = "/tmp/gavex_reads_bench_XXXXXX";
        root = ::mkdtemp(pattern);
        ::setenv("GAVEX_REGISTRY_DIR", root.c_str(), 1);
        start = testsupport::LocalUnixMs(2022, 3, 5, 0);
        for (int kind = 0; kind < 2; ++kind) {
            drive[kind] = root + (kind == 0 ? "/indexed" : "/scanned");
            testsupport::ArchiveTree tree(drive[kind]);
            testsupport::ArchiveFileOptions options;
            options.index = kind == 0 ? testsupport::IndexForm::Portable : testsupport::IndexForm::None;
            uint32_t id = 1;
            for (int h = 0; h < kHours; ++h) {
                for (int f = 0; f < kFilesPerHour; ++f, ++id) {
                    const int64_t begin = start + int64_t(h) * 3600000 + f * (3600000 / kFilesPerHour);
                    const int64_t end = begin + (kFramesPerFile - 1) * 40;
                    tree.Add({1, id, begin, end});
                    const std::string path = tree.ArchiveFolder() + "/" + testsupport::LocalHourFolder(begin) + "/" +
                                             testsupport::ArchiveFileName(1, id);
                    const auto data = testsupport::BuildArchiveFile(
                        testsupport::MakeSyntheticFrames(kFramesPerFile, begin, 40, 25, kPayload), options);
                    testsupport::WriteFileBytes(path, data);
                    paths[kind].push_back(path);
                    bytes[kind] += data.size();
                }
            }
            tree.WriteIndexes();
        }
    }
    ~Day() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

Day& TheDay() {
    static Day day;
    return day;
}

std::unique_ptr<FileSystem> OpenEngine(int kind) {
    auto engine = std::make_unique<FileSystem>();
    if (!engine->Init({TheDay().drive[kind]})) return nullptr;
    return engine;
}

// first, then the front end's forward step (code 3, else code 0 "next")
// until the day ends; the number of frames and their bytes.
std::pair<int64_t, int64_t> ReadDay(FileSystem& engine) {
    std::string error;
    int64_t frames = 0, bytes = 0;
    VideoFramePtr frame(new VideoFrame("", 1), false);
    frame->m_sFileId = "first";
    bool ok = engine.ExecuteCommand("", frame.get(), 0, {}, -1, 0, &error) != 0;
    while (ok) {
        ++frames;
        bytes += frame->m_cbData;
        frame.reset(new VideoFrame("", 1), false);
        ok = engine.ExecuteCommand("", frame.get(), 3, {}, -1, 0, &error) != 0;
        if (!ok) {
            frame->m_sFileId = "next";
            ok = engine.ExecuteCommand("", frame.get(), 0, {}, -1, 0, &error) != 0;
        }
    }
    return {frames, bytes};
}

// The reference: every byte of the files through read() in 128 KiB chunks.
int64_t ReadPlain(const std::vector<std::string>& paths) {
    static std::vector<char> chunk(128 * 1024);
    int64_t bytes = 0;
    for (const auto& path : paths) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return -1;
        ssize_t n;
        while ((n = ::read(fd, chunk.data(), chunk.size())) > 0) bytes += n;
        ::close(fd);
    }
    return bytes;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Each iteration reads the day through the engine and then the same files
// plainly; the time reported is ours, the counters give both and the ratio.
void ReadDayForward(benchmark::State& state, int kind) {
    auto engine = OpenEngine(kind);
    if (!engine) {
        state.SkipWithError("engine did not open the archive");
        return;
    }
    int64_t frames = 0, bytes = 0;
    double ours = 0, reference = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const auto read = ReadDay(*engine);
        const auto t1 = std::chrono::steady_clock::now();
        const int64_t plain = ReadPlain(TheDay().paths[kind]);
        const auto t2 = std::chrono::steady_clock::now();
        if (read.first != int64_t(kHours) * kFilesPerHour * kFramesPerFile ||
            plain != int64_t(TheDay().bytes[kind])) {
            state.SkipWithError("not every frame or byte was read");
            return;
        }
        state.SetIterationTime(Seconds(t1 - t0));
        ours += Seconds(t1 - t0);
        reference += Seconds(t2 - t1);
        frames += read.first;
        bytes += read.second;
    }
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(bytes);
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = ours / n * 1000;
    state.counters["read_ms"] = reference / n * 1000;
    state.counters["ratio"] = reference > 0 ? ours / reference : 0;
}

void BM_ReadDayForwardIndexed(benchmark::State& state) { ReadDayForward(state, 0); }
void BM_ReadDayForwardScanning(benchmark::State& state) { ReadDayForward(state, 1); }

// Reads at random times of the day, each a fresh seek (code 8 "time ...");
// reports the median and the 99th percentile of the latency.
void BM_ReadAtRandomTime(benchmark::State& state) {
    auto engine = OpenEngine(0);
    if (!engine) {
        state.SkipWithError("engine did not open the archive");
        return;
    }
    std::mt19937_64 random(42);
    std::uniform_int_distribution<int64_t> offset(0, int64_t(kHours) * 3600000 - 1);
    std::vector<double> micros;
    std::string error;
    for (auto _ : state) {
        const int64_t unixMs = TheDay().start + offset(random);
        const TSS t = TSS::FromUtc(static_cast<uint64_t>(unixMs) + kArchiveUnixOffsetMs);
        char text[64];
        std::snprintf(text, sizeof text, "time %02u-%02u-%02u %02u:%02u:%02u.%03u", t.wDay, t.wMonth, t.wYear % 100,
                      t.wHour, t.wMinute, t.wSecond, t.dwMilliseconds);
        VideoFramePtr frame(new VideoFrame("", 1), false);
        frame->m_sFileId = text;
        const auto begin = std::chrono::steady_clock::now();
        const int ok = engine->ExecuteCommand("", frame.get(), 8, {}, -1, 0, &error);
        const auto end = std::chrono::steady_clock::now();
        if (!ok) {
            state.SkipWithError("a read at a time failed");
            return;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
    }
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    }
}

BENCHMARK(BM_ReadDayForwardIndexed)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ReadDayForwardScanning)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ReadAtRandomTime)->Unit(benchmark::kMicrosecond)->Iterations(2000);

}  // namespace
