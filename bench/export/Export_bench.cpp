// Exports as whole programs beside the tools that do the same copy, in one
// run on the same data; each reports our time, the tool's and their ratio
// (ours / tool's, lower is better):
//   Export_Remux1080p   a 10 s window of a 1080p H.264 file with sound, re-muxed
//                       to MKV, beside `ffmpeg -ss A -to B -i FILE -c copy`
//   Export_Native       a recorder archive of 40 MB, every channel, beside
//                       `cp -r` of its volume
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

namespace {

namespace fsys = std::filesystem;

// Never destroyed, so that the clean-up at exit can still read it.
const std::string& WorkDir()
{
    static const std::string* const dir = [] {
        auto* path = new std::string(fsys::temp_directory_path() / ("gavex-export-bench-" + std::to_string(getpid())));
        fsys::create_directories(*path);
        std::atexit([] { fsys::remove_all(WorkDir()); });
        return path;
    }();
    return *dir;
}

double Seconds(const std::string& command)
{
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const std::string& MediaFile()
{
    static const std::string path = [] {
        const std::string file = WorkDir() + "/media/Cam 2019-03-04 03-06-00_000.mp4";
        fsys::create_directories(fsys::path(file).parent_path());
        const std::string command =
            "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi -i "
            "sine=sample_rate=48000 -t 30 -map 0 -map 1 -c:v libx264 -preset ultrafast -b:v 8M -g 50 -bf 2 "
            "-pix_fmt yuv420p -c:a aac '" + file + "'";
        return std::system(command.c_str()) == 0 ? file : std::string();
    }();
    return path;
}

void Compare(benchmark::State& state, const std::string& ours, const std::string& theirs, const std::string& clean)
{
    double oursTotal = 0, theirsTotal = 0;
    for (auto _ : state) {
        std::system(clean.c_str());
        const double a = Seconds(ours);
        std::system(clean.c_str());
        const double b = Seconds(theirs);
        if (a < 0 || b < 0) {
            state.SkipWithError("a program failed");
            return;
        }
        oursTotal += a;
        theirsTotal += b;
        state.SetIterationTime(a);
    }
    state.counters["ours_s"] = oursTotal / state.iterations();
    state.counters["tool_s"] = theirsTotal / state.iterations();
    state.counters["ratio"] = oursTotal / theirsTotal;
}

void Export_Remux1080p(benchmark::State& state)
{
    if (MediaFile().empty()) {
        state.SkipWithError("ffmpeg could not make the file");
        return;
    }
    const std::string out = WorkDir() + "/remux-out";
    Compare(state,
            std::string(GAVEX_EXPORT_RUN) + " remux '" + MediaFile() + "' '" + out + "' 10 20 mkv",
            "mkdir -p '" + out + "' && ffmpeg -hide_banner -loglevel error -y -ss 10 -to 20 -i '" + MediaFile() +
                "' -map 0 -c copy '" + out + "/reference.mkv'",
            "rm -rf '" + out + "'");
}
BENCHMARK(Export_Remux1080p)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void Export_Native(benchmark::State& state)
{
    const std::string volume = WorkDir() + "/archive/d1";
    const int64_t base = testsupport::LocalUnixMs(2026, 3, 14, 10);
    static const bool built = [&] {
        testsupport::ArchiveTree tree(volume);
        for (int camera = 1; camera <= 4; ++camera) {
            for (uint32_t file = 0; file < 5; ++file) {
                const int64_t start = base + file * 600'000 + camera * 1000;
                const auto frames = testsupport::MakeSyntheticFrames(100, start, 200, 25, 20'000);
                testsupport::TreeRecord record{camera, static_cast<uint32_t>(camera * 16 + file), start,
                                               frames.back().unixMs + 200};
                tree.Add(record);
                testsupport::WriteBytes(tree.ArchiveFolder() + "/" + testsupport::LocalHourFolder(start) + "/" +
                                            testsupport::ArchiveFileName(camera, record.fileId),
                                        testsupport::BuildArchiveFile(frames));
            }
        }
        tree.WriteIndexes();
        return true;
    }();
    (void)built;
    const std::string out = WorkDir() + "/native-out";
    Compare(state,
            std::string(GAVEX_EXPORT_RUN) + " native '" + volume + "' '" + out + "' 1,2,3,4 " + std::to_string(base) +
                " " + std::to_string(base + 3'600'000),
            "mkdir -p '" + out + "' && cp -r '" + volume + "' '" + out + "/'", "rm -rf '" + out + "'");
}
BENCHMARK(Export_Native)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
