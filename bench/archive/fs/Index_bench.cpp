// Opening one synthetic archive three ways: from its fast index, by parsing
// its hour index files, and by rebuilding every index from the archive files
// (files written now, so each one's times come from its frames, as for an
// archive copied from a recorder). `cat` of the same files is the yardstick
// for the rebuild's throughput.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "archive/files/FastIndex.h"
#include "archive/fs/FileSystem.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

namespace fsys = std::filesystem;

namespace {

constexpr int kCameras = 4;
constexpr int kHours = 48;
constexpr int kFilesPerHour = 4;  // per camera
constexpr int kFramesPerFile = 25;
constexpr size_t kPayload = 3000;

// The archive and a private settings store, made once per process.
struct Archive {
    std::string root;
    std::string archive;
    uint64_t fileBytes = 0;
    size_t files = 0;
    std::vector<std::string> paths;

    Archive() {
        char pattern[] = "/tmp/gavex_index_bench_XXXXXX";
        root = ::mkdtemp(pattern);
        ::setenv("GAVEX_REGISTRY_DIR", root.c_str(), 1);
        archive = root + "/VIDEO";
        const int64_t start = testsupport::LocalUnixMs(2022, 3, 5, 0);
        std::map<std::string, std::vector<testsupport::IdxRecord>> hours;
        uint32_t id = 1;
        for (int h = 0; h < kHours; ++h) {
            for (int c = 1; c <= kCameras; ++c) {
                for (int f = 0; f < kFilesPerHour; ++f) {
                    const int64_t begin = start + int64_t(h) * 3600000 + f * (3600000 / kFilesPerHour) + c * 100;
                    const int64_t step = 1000;
                    const auto bytes = testsupport::BuildArchiveFile(
                        testsupport::MakeSyntheticFrames(kFramesPerFile, begin, step, 25, kPayload));
                    const std::string path = archive + "/" + testsupport::LocalHourFolder(begin) + "/" +
                                             testsupport::ArchiveFileName(c, id);
                    testsupport::WriteFileBytes(path, bytes);
                    paths.push_back(path);
                    fileBytes += bytes.size();
                    ++files;
                    testsupport::IdxRecord r;
                    r.beginS = uint32_t(begin / 1000);
                    r.beginMsPart = uint32_t(begin % 1000);
                    const int64_t end = begin + step * (kFramesPerFile - 1);
                    r.endS = uint32_t(end / 1000);
                    r.endMsPart = uint32_t(end % 1000);
                    r.fileId = id++;
                    r.camera = uint32_t(c);
                    hours[testsupport::LocalIndexName(begin)].push_back(r);
                }
            }
        }
        for (const auto& [name, records] : hours)
            testsupport::WriteFileBytes(archive + "/INDEX/" + name + ".idx",
                                        testsupport::EncodeIdxFile(0xAB01, records));
        testsupport::MakeFolders(archive + "/PROTECTED");
    }
    ~Archive() {
        std::error_code ec;
        fsys::remove_all(root, ec);
    }

    void SetRegistry(const std::string& videoValues) const {
        std::ofstream(root + "/machine.reg", std::ios::trunc)
            << "[SOFTWARE\\QOR\\Vindara\\Debug]\n\"Path\"=\"" << root << "\"\n"
            << "[SOFTWARE\\QOR\\Vindara\\Video]\n"
            << videoValues;
    }
};

Archive& GetArchive() {
    static Archive archive;
    return archive;
}

// One initialisation per iteration on a fresh engine (the engine's own
// start-up - logger, poll thread - is not timed).
void RunInit(benchmark::State& state, const std::string& registry, bool needFastIndex) {
    Archive& a = GetArchive();
    a.SetRegistry(registry);
    if (needFastIndex && !fsys::exists(FastIndexPath(a.archive))) {
        FileSystem warm;
        warm.Init({a.root});
    }
    for (auto _ : state) {
        state.PauseTiming();
        if (!needFastIndex) fsys::remove(FastIndexPath(a.archive));
        a.SetRegistry(registry);
        auto fs = std::make_unique<FileSystem>();
        state.ResumeTiming();
        if (!fs->Init({a.root})) state.SkipWithError("init failed");
        state.PauseTiming();
        std::vector<int> ids;
        fs->GetCameraIds(ids);
        if (ids.size() != kCameras) state.SkipWithError("cameras missing");
        fs.reset();
        state.ResumeTiming();
    }
    state.counters["files"] = double(a.files);
}

void BM_InitFastIndex(benchmark::State& state) { RunInit(state, "\"FastIndex\"=\"1\"\n", true); }

void BM_InitParseIndexFiles(benchmark::State& state) { RunInit(state, "\"FastIndex\"=\"0\"\n", false); }

void BM_InitFullRebuild(benchmark::State& state) {
    RunInit(state, "\"FastIndex\"=\"1\"\n\"IndexRebuilding\"=\"1\"\n", false);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(GetArchive().fileBytes));
}

// Reading every archive file whole, as `cat` does.
void BM_CatArchiveFiles(benchmark::State& state) {
    Archive& a = GetArchive();
    const std::string list = a.root + "/files.txt";
    {
        std::ofstream out(list);
        for (const auto& p : a.paths) out << p << '\0';
    }
    const std::string command = "xargs -0 cat < '" + list + "' > /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a.fileBytes));
}

BENCHMARK(BM_InitFastIndex)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InitParseIndexFiles)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InitFullRebuild)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CatArchiveFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
