// Opening one synthetic archive three ways: from its fast index, by parsing
// its hour index files, and by rebuilding every index from the archive files
// (files written now, so each one's times come from its frames, as for an
// archive copied from a recorder). Each is measured beside a reference in
// this process on the same tree: a plain readdir walk of the archive for the
// two index forms, read() of every archive file in 128 KiB chunks for the
// rebuild; the counters give both times, the ratio of their means and the
// minimum and median of the ratios of the alternating pairs. The
// rebuild also reports what removing and making its index files again costs
// on the same file system ("remake_idx_ms"), part of its own time.

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "archive/files/FastIndex.h"
#include "archive/fs/FileSystem.h"
#include "base/Registry.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"
#include "bench/support/BenchFiles.h"
#include "bench/support/PairRatios.h"

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

using benchfiles::WalkTree;

// Reference for the rebuild: every byte of the archive files through read()
// in 128 KiB chunks.
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

// What the rebuild's own writes cost on this file system: as many small
// files as it writes index files, each removed and made again (as the
// rebuild removes every index file before writing it anew).
int64_t RemakeFiles(const std::string& folder, int count) {
    static const std::vector<char> bytes(400, 1);
    int64_t made = 0;
    for (int i = 0; i < count; ++i) {
        const std::string path = folder + "/" + std::to_string(i) + ".idx";
        ::unlink(path.c_str());
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return -1;
        if (::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size())) ++made;
        ::close(fd);
    }
    return made;
}

enum class Reference { Walk, ReadFiles };

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// One initialisation per iteration on a fresh engine (the engine's own
// start-up - logger, poll thread - is not timed), then the reference.
void RunInit(benchmark::State& state, const std::string& registry, bool needFastIndex, Reference reference) {
    Archive& a = GetArchive();
    a.SetRegistry(registry);
    if (needFastIndex && !fsys::exists(FastIndexPath(a.archive))) {
        FileSystem warm;
        warm.Init({a.root});
    }
    double ours = 0, theirs = 0, remake = 0;
    const std::string scratch = a.root + "/scratch";
    fsys::create_directories(scratch);
    int64_t turn = 0;
    benchfiles::PairRatios pairs;
    // The settings are written once: written again in every iteration they
    // would lose the values each engine adds to them, which the engine then
    // writes back, each write replacing the store's file. The files freed
    // that way pile up on file systems that skip recently freed inodes when
    // they make a file, and make the engine's own file making (the fast
    // index, the rebuilt index files) slower from run to run, while the
    // reference makes no file. Only a rebuild's switch, which the rebuild
    // clears, is set again. A fast index left by the previous iteration stays,
    // as it does for a player started again.
    const bool rebuilds = registry.find("IndexRebuilding") != std::string::npos;
    for (auto _ : state) {
        if (rebuilds) {
            RegistryKey key("SOFTWARE\\QOR\\Vindara\\Video", true);
            key.WriteInt("IndexRebuilding", 1);
        }
        auto fs = std::make_unique<FileSystem>();
        bool ok = false;
        int64_t done = 0;
        const auto [oursSeconds, theirSeconds] = benchfiles::TimeBothInTurn(
            turn++, [&] { ok = fs->Init({a.root}); },
            [&] { done = reference == Reference::Walk ? WalkTree(a.archive) : ReadPlain(a.paths); });
        std::vector<int> ids;
        fs->GetCameraIds(ids);
        if (!ok || ids.size() != kCameras || done <= 0) {
            state.SkipWithError("init failed, cameras missing or reference failed");
            return;
        }
        fs.reset();
        state.SetIterationTime(oursSeconds);
        ours += oursSeconds;
        theirs += theirSeconds;
        pairs.Add(oursSeconds, theirSeconds);
    }
    // Measured once, after the loop: remaking files in every iteration would
    // add its own deletions to those the kernel skips over when it next
    // makes a file (see remake_idx_ms above).
    if (reference == Reference::ReadFiles) {
        const auto t3 = std::chrono::steady_clock::now();
        if (RemakeFiles(scratch, kHours) != kHours) {
            state.SkipWithError("scratch files could not be made");
            return;
        }
        remake = Seconds(std::chrono::steady_clock::now() - t3) * double(state.iterations());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["files"] = double(a.files);
    state.counters["ours_ms"] = ours / n * 1000;
    state.counters[reference == Reference::Walk ? "walk_ms" : "read_ms"] = theirs / n * 1000;
    state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
    pairs.Report(state);
    if (reference == Reference::ReadFiles) state.counters["remake_idx_ms"] = remake / n * 1000;
}

void BM_InitFastIndex(benchmark::State& state) {
    RunInit(state, "\"FastIndex\"=\"1\"\n", true, Reference::Walk);
}

void BM_InitParseIndexFiles(benchmark::State& state) {
    RunInit(state, "\"FastIndex\"=\"0\"\n", false, Reference::Walk);
}

void BM_InitFullRebuild(benchmark::State& state) {
    RunInit(state, "\"FastIndex\"=\"1\"\n\"IndexRebuilding\"=\"1\"\n", false, Reference::ReadFiles);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(GetArchive().fileBytes));
}

BENCHMARK(BM_InitFastIndex)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_InitParseIndexFiles)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_InitFullRebuild)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
