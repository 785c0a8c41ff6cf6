// Reading one channel of an archive source: frames per second through the
// channel reader across 100 archive files, and the latency of a seek (to a
// random time, then back to the key frame a decoder starts from), reported
// as median and 99th percentile.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "FSImplementation/VindaraFileSystemFactory.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

namespace {

namespace pt = boost::posix_time;

constexpr int kFiles = 100;
constexpr int kFramesPerFile = 50;
constexpr int64_t kStepMs = 40;         // 25 frames a second
constexpr int64_t kFileSpacingMs = 3000; // 2 s of frames, then a 1 s gap
constexpr int64_t kStartMs = 1'773'482'400'000;

pt::ptime At(int64_t unixMs)
{
    return pt::ptime(boost::gregorian::date(1970, 1, 1)) + pt::milliseconds(unixMs);
}

// 100 exported files of camera 5 in one folder, each file's last-write time
// set before its creation so that the folder scan reads the frames' times.
struct ExportedFolder {
    testsupport::ArchiveTempDir dir;

    ExportedFolder()
    {
        for (int i = 0; i < kFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "%04X._05", i + 1);
            const auto frames = testsupport::MakeSyntheticFrames(kFramesPerFile, kStartMs + i * kFileSpacingMs,
                                                                 kStepMs, 25, 4096);
            const std::string path = dir.File(name);
            testsupport::WriteBytes(path, testsupport::BuildArchiveFile(frames));
            struct timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
    }
};

// The same 100 files as records of the recorder's archive on one drive,
// read through the archive engine.
struct RecorderDrive {
    testsupport::ArchiveTempDir dir;

    RecorderDrive()
    {
        testsupport::ArchiveTree tree(dir.Path());
        for (int i = 0; i < kFiles; ++i) {
            const auto frames = testsupport::MakeSyntheticFrames(kFramesPerFile, kStartMs + i * kFileSpacingMs,
                                                                 kStepMs, 25, 4096);
            testsupport::TreeRecord record;
            record.camera = 5;
            record.fileId = static_cast<uint32_t>(i + 1);
            record.beginMs = frames.front().unixMs;
            record.endMs = frames.back().unixMs + kStepMs;
            tree.Add(record);
            testsupport::WriteBytes(tree.ArchiveFolder() + "/" + testsupport::LocalHourFolder(record.beginMs) + "/" +
                                        testsupport::ArchiveFileName(5, record.fileId),
                                    testsupport::BuildArchiveFile(frames));
        }
        tree.WriteIndexes();
    }
};

boost::shared_ptr<Storage::IVindaraFileSystem> OpenSource(bool drives)
{
    static ExportedFolder folder;
    static RecorderDrive drive;
    auto fs = Storage::CreateVindaraFileSystem(drives ? drive.dir.Path() : folder.dir.Path());
    fs->Initialize(false);
    return fs;
}

// Argument 0: exported folder; 1: recorder drive.
void BM_ReadChannelAcross100Files(benchmark::State& state)
{
    auto fs = OpenSource(state.range(0) == 1);
    int64_t frames = 0;
    for (auto _ : state) {
        auto reader = fs->CreateChannelReader("5");
        int64_t read = 1;
        while (!reader->IsAtEnd()) {
            benchmark::DoNotOptimize(reader->ReadNext(false).get());
            ++read;
        }
        if (read != kFiles * kFramesPerFile)
            state.SkipWithError("wrong frame count");
        frames += read;
    }
    state.SetItemsProcessed(frames);
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadChannelAcross100Files)->ArgName("drives")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReadChannelBackwardAcross100Files(benchmark::State& state)
{
    auto fs = OpenSource(state.range(0) == 1);
    auto reader = fs->CreateChannelReader("5");
    int64_t frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        reader->Seek(At(kStartMs + kFiles * kFileSpacingMs));
        state.ResumeTiming();
        int64_t read = 1;
        for (;;) {
            const VideoFramePtr before = reader->GetCurrentFrame();
            if (reader->ReadPrevious(false) == before)
                break;
            ++read;
        }
        frames += read;
    }
    state.SetItemsProcessed(frames);
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadChannelBackwardAcross100Files)->ArgName("drives")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_SeekLatency(benchmark::State& state)
{
    auto fs = OpenSource(state.range(0) == 1);
    auto reader = fs->CreateChannelReader("5");
    std::mt19937 random(12345);
    std::uniform_int_distribution<int64_t> offset(0, kFiles * kFileSpacingMs);
    std::vector<double> micros;
    for (auto _ : state) {
        const pt::ptime target = At(kStartMs + offset(random));
        const auto start = std::chrono::steady_clock::now();
        reader->Seek(target);
        benchmark::DoNotOptimize(reader->ReadPrevious(true).get());
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    }
}
BENCHMARK(BM_SeekLatency)->ArgName("drives")->Arg(0)->Arg(1)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace
