// Index start-up over archives on disk: the fast path, the parse path with
// re-index markers and broken or orphan index files, rebuilding volumes from
// their files, the IndexRebuilding switch, progress, copied and read-only
// archives.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "archive/files/ArchiveSettings.h"
#include "archive/files/FastIndex.h"
#include "archive/fs/FileSystem.h"
#include "archive/fs/IndexStartup.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"
#include "support/TempDir.h"

namespace fsys = std::filesystem;
using VindaraFileSystem::DirEntry;

namespace {

constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* kVideoKey = "[SOFTWARE\\QOR\\Vindara\\Video]\n";

struct Rec {
    int camera;
    uint32_t id;
    int64_t begin;  // Unix ms
    int64_t end;
};

std::string HourFolderOf(int64_t ms) { return testsupport::LocalHourFolder(ms); }

// Writes the records' archive files into their hour folders: real files whose
// frames run from begin to end, or one-byte placeholders that no frame
// reader accepts (so records taken from them cannot pass for indexed ones).
void WriteFiles(const std::string& archive, const std::vector<Rec>& recs, bool real) {
    for (const auto& r : recs) {
        const std::string path =
            archive + "/" + HourFolderOf(r.begin) + "/" + testsupport::ArchiveFileName(r.camera, r.id);
        if (real)
            testsupport::WriteFileBytes(path, testsupport::BuildArchiveFile(testsupport::MakeSyntheticFrames(
                                                  5, r.begin, (r.end - r.begin) / 4, 5, 32)));
        else
            testsupport::WriteFileBytes(path, {0x00});
    }
    testsupport::MakeFolders(archive + "/INDEX");
    testsupport::MakeFolders(archive + "/PROTECTED");
}

// The hour index files of the records (version 0xAB01).
void WriteIndexes(const std::string& archive, const std::vector<Rec>& recs) {
    std::map<std::string, std::vector<testsupport::IdxRecord>> hours;
    for (const auto& r : recs) {
        testsupport::IdxRecord idx;
        idx.beginS = uint32_t(r.begin / 1000);
        idx.endS = uint32_t(r.end / 1000);
        idx.beginMsPart = uint32_t(r.begin % 1000);
        idx.endMsPart = uint32_t(r.end % 1000);
        idx.fileId = r.id;
        idx.camera = uint32_t(r.camera);
        hours[testsupport::LocalIndexName(r.begin)].push_back(idx);
    }
    for (const auto& [name, records] : hours)
        testsupport::WriteFileBytes(archive + "/INDEX/" + name + ".idx", testsupport::EncodeIdxFile(0xAB01, records));
}

std::vector<std::pair<uint64_t, uint64_t>> Times(FileSystem& fs, int camera) {
    std::vector<std::pair<uint64_t, uint64_t>> out;
    if (auto dir = fs.GetCameraDir(camera, false))
        dir->ForEachEntry(0, 0, [&out](const DirEntry& e) {
            out.emplace_back(e.begin, e.end);
            return true;
        });
    return out;
}

std::vector<std::pair<uint64_t, uint64_t>> TimesOf(const std::vector<Rec>& recs, int camera) {
    std::vector<std::pair<uint64_t, uint64_t>> out;
    for (const auto& r : recs)
        if (r.camera == camera) out.emplace_back(uint64_t(r.begin), uint64_t(r.end));
    std::sort(out.begin(), out.end());
    return out;
}

// Every path below root with its size and modification time.
std::map<std::string, std::pair<uintmax_t, int64_t>> Snapshot(const std::string& root) {
    std::map<std::string, std::pair<uintmax_t, int64_t>> out;
    for (const auto& e : fsys::recursive_directory_iterator(root)) {
        struct stat st{};
        ::stat(e.path().c_str(), &st);
        out[e.path().string()] = {e.is_regular_file() ? e.file_size() : 0,
                                  int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    }
    return out;
}

std::set<std::string> IndexFolderNames(const std::string& archive) {
    std::set<std::string> names;
    for (const auto& e : fsys::directory_iterator(archive + "/INDEX")) names.insert(e.path().filename().string());
    return names;
}

FastIndexMap FastIndexHours(const std::string& archive) {
    uint64_t size = 0;
    FastIndexMap hours;
    LoadFastIndex(archive, size, hours);
    return hours;
}

int32_t HourOf(int64_t ms) { return int32_t(ms / 3600000); }

class IndexStartupTest : public ::testing::Test {
protected:
    void SetUp() override { enginetest::WriteMachineRegistry(""); }

    // An engine initialised over the given archive folders.
    std::unique_ptr<FileSystem> Open(const std::set<std::string>& folders) {
        auto fs = std::make_unique<FileSystem>();
        fs->RebuildProgressChanged.connect([this](uint64_t p) {
            std::lock_guard<std::mutex> lock(mutex);
            rebuildProgress.push_back(p);
        });
        fs->ErrorReported.connect([this](int, const char* text, unsigned long) {
            std::lock_guard<std::mutex> lock(mutex);
            errors.push_back(text);
        });
        enginetest::RunOrAbort("Init", [&] {
            initResult = fs->Init(folders, [this](int p) { initProgress.push_back(p); }, {}, 1);
        });
        return fs;
    }

    std::string Volume(const char* name) const { return dir.path() + "/" + name; }

    enginetest::ScopedTimeZone zone{kZone};
    gavex_test::TempDir dir{"indexstartup"};
    std::mutex mutex;
    std::vector<uint64_t> rebuildProgress;
    std::vector<int> initProgress;
    std::vector<std::string> errors;
    bool initResult = false;

    const int64_t t0 = testsupport::LocalUnixMs(2022, 3, 5, 14, 10, 0, 250);
    // Two cameras over three hours, one file per camera and hour.
    const std::vector<Rec> recs = {
        {1, 0x10, t0, t0 + 60000},
        {2, 0x11, t0 + 5000, t0 + 65000},
        {1, 0x12, t0 + 3600000, t0 + 3660000},
        {2, 0x13, t0 + 3605000, t0 + 3665000},
        {1, 0x14, t0 + 7200000, t0 + 7260500},
    };
};

TEST_F(IndexStartupTest, ParsePathLoadsIndexFilesAndWritesTheFastIndex) {
    const std::string a = Volume("a");
    WriteFiles(a, recs, false);
    WriteIndexes(a, recs);

    auto fs = Open({a});
    ASSERT_TRUE(initResult);
    EXPECT_EQ(Times(*fs, 1), TimesOf(recs, 1));
    EXPECT_EQ(Times(*fs, 2), TimesOf(recs, 2));
    EXPECT_TRUE(rebuildProgress.empty());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(FastIndexHours(a), (FastIndexMap{{1, {HourOf(t0), HourOf(t0) + 1, HourOf(t0) + 2}},
                                               {2, {HourOf(t0), HourOf(t0) + 1}}}));
    EXPECT_EQ(ReadIndexRebuilding(), 0);
}

// The volume counts as loaded when any of its index files gave records, not
// only when the last one read did; an index file without entries stays.
TEST_F(IndexStartupTest, AnyIndexFileWithRecordsLoadsTheVolume) {
    const std::string a = Volume("a");
    WriteFiles(a, recs, false);
    WriteIndexes(a, recs);
    const int64_t late = t0 + 6 * 3600000;
    testsupport::WriteFileBytes(a + "/" + HourFolderOf(late) + "/20._01", {0x00});
    const std::string emptyIdx = a + "/INDEX/" + testsupport::LocalIndexName(late) + ".idx";
    testsupport::WriteFileBytes(emptyIdx, testsupport::EncodeIdxFile(0xAB01, {}));

    auto fs = Open({a});
    ASSERT_TRUE(initResult);
    EXPECT_TRUE(rebuildProgress.empty());
    EXPECT_EQ(Times(*fs, 1), TimesOf(recs, 1));
    EXPECT_EQ(gavex_test::ReadFileBytes(emptyIdx).size(), 4u);
}

// With a fast index the INDEX folder is not scanned: a broken and an orphan
// index file stay, and the hours' records come from their index files when
// a query needs them.
TEST_F(IndexStartupTest, FastPathRegistersHoursWithoutScanning) {
    const std::string a = Volume("a");
    WriteFiles(a, recs, false);
    WriteIndexes(a, recs);
    Open({a});
    ASSERT_FALSE(FastIndexHours(a).empty());

    const std::string broken = a + "/INDEX/" + testsupport::LocalIndexName(t0 + 5 * 3600000) + ".idx";
    testsupport::WriteFileBytes(broken, {0xFF, 0xAA, 0x00, 0x00, 1, 2, 3});
    testsupport::MakeFolders(a + "/" + HourFolderOf(t0 + 5 * 3600000));
    testsupport::WriteFileBytes(a + "/" + HourFolderOf(t0 + 5 * 3600000) + "/5._01", {0x00});
    const std::string orphan = a + "/INDEX/" + testsupport::LocalIndexName(t0 + 9 * 3600000) + ".idx";
    testsupport::WriteFileBytes(orphan, testsupport::EncodeIdxFile(0xAB01, {}));

    auto fs = Open({a});
    ASSERT_TRUE(initResult);
    EXPECT_TRUE(fsys::exists(broken));
    EXPECT_TRUE(fsys::exists(orphan));
    auto dir = fs->GetCameraDir(1, false);
    ASSERT_TRUE(dir);
    EXPECT_EQ(dir->HourCount(), 3u);
    EXPECT_FALSE(dir->IsHourLoaded(HourOf(t0)));
    EXPECT_EQ(Times(*fs, 1), TimesOf(recs, 1));
    EXPECT_EQ(Times(*fs, 2), TimesOf(recs, 2));
}

// Without the fast index: an orphan index file is deleted, a broken one is
// deleted and its hour re-indexed from the files, and an hour under a
// re-index marker is re-indexed (the marker stays) and kept in the new fast
// index.
TEST_F(IndexStartupTest, ParsePathRepairsMarkedBrokenAndOrphanHours) {
    enginetest::WriteMachineRegistry(std::string(kVideoKey) + "\"FastIndex\"=\"0\"\n");
    const std::string a = Volume("a");
    const std::vector<Rec> indexed = {recs[0], recs[1]};
    const std::vector<Rec> marked = {recs[2], recs[3]};
    const std::vector<Rec> broken = {recs[4]};
    WriteFiles(a, indexed, false);
    WriteIndexes(a, indexed);
    WriteFiles(a, marked, true);
    const std::string marker = a + "/INDEX/" + testsupport::LocalIndexName(marked[0].begin) + ".ndx";
    testsupport::WriteFileBytes(marker, {});
    WriteFiles(a, broken, true);
    const std::string brokenIdx = a + "/INDEX/" + testsupport::LocalIndexName(broken[0].begin) + ".idx";
    testsupport::WriteFileBytes(brokenIdx, testsupport::EncodeIdxFile(0xAAFF, {{1, 2, 3, 0, 0, 0, 1}}));
    const std::string orphan = a + "/INDEX/" + testsupport::LocalIndexName(t0 + 9 * 3600000) + ".ndx";
    testsupport::WriteFileBytes(orphan, {});

    auto fs = Open({a});
    ASSERT_TRUE(initResult);
    EXPECT_TRUE(rebuildProgress.empty()) << "the volume loaded and is not rebuilt";
    EXPECT_EQ(Times(*fs, 1), TimesOf(recs, 1));
    EXPECT_EQ(Times(*fs, 2), TimesOf(recs, 2));
    EXPECT_TRUE(fsys::exists(marker));
    EXPECT_FALSE(fsys::exists(brokenIdx));
    EXPECT_FALSE(fsys::exists(orphan));
    // Loading keeps every hour in memory when the fast index is off...
    EXPECT_TRUE(fs->GetCameraDir(1, false)->IsHourLoaded(HourOf(t0)));
    // ...and still leaves a fast index that knows the re-indexed hours.
    EXPECT_EQ(FastIndexHours(a), (FastIndexMap{{1, {HourOf(t0), HourOf(t0) + 1, HourOf(t0) + 2}},
                                               {2, {HourOf(t0), HourOf(t0) + 1}}}));
}

// An index file that holds no entry empties its hour: the empty folder goes,
// and the hour's re-index marker, read after it, finds the folder gone and
// goes too, instead of re-indexing a folder that no longer exists.
TEST_F(IndexStartupTest, HourEmptiedByItsIndexFileLosesItsMarker) {
    enginetest::WriteMachineRegistry(std::string(kVideoKey) + "\"FastIndex\"=\"0\"\n");
    const std::string a = Volume("a");
    const std::vector<Rec> kept = {recs[0], recs[1]};
    WriteFiles(a, kept, false);
    WriteIndexes(a, kept);
    const int64_t emptyHour = t0 + 5 * 3600000;
    const std::string folder = a + "/" + HourFolderOf(emptyHour);
    testsupport::MakeFolders(folder);
    const std::string base = a + "/INDEX/" + testsupport::LocalIndexName(emptyHour);
    testsupport::WriteFileBytes(base + ".idx", testsupport::EncodeIdxFile(0xAB01, {}));
    testsupport::WriteFileBytes(base + ".ndx", {});

    auto fs = Open({a});
    ASSERT_TRUE(initResult);
    EXPECT_EQ(Times(*fs, 1), TimesOf(kept, 1));
    EXPECT_FALSE(fsys::exists(folder));
    EXPECT_TRUE(fsys::exists(base + ".idx")) << "a readable index file without entries stays";
    EXPECT_FALSE(fsys::exists(base + ".ndx"));
}

TEST_F(IndexStartupTest, VolumeWithoutIndexesIsRebuiltFromItsFiles) {
    const std::string a = Volume("a");
    WriteFiles(a, recs, true);
    const std::string empty = a + "/" + HourFolderOf(t0 + 20 * 3600000);
    testsupport::MakeFolders(empty);
    testsupport::MakeFolders(a + "/INDEX2");
    testsupport::MakeFolders(a + "/01-02-03 4");
    testsupport::WriteFileBytes(a + "/INDEX/settings.ini", {'x'});
    testsupport::WriteFileBytes(a + "/INDEX/stale.idx", {'y'});

    auto fs = Open({a});
    ASSERT_TRUE(initResult);
    EXPECT_EQ(Times(*fs, 1), TimesOf(recs, 1));
    EXPECT_EQ(Times(*fs, 2), TimesOf(recs, 2));
    EXPECT_FALSE(fsys::exists(empty));
    EXPECT_TRUE(fsys::exists(a + "/INDEX2"));
    EXPECT_TRUE(fsys::exists(a + "/01-02-03 4"));
    std::set<std::string> want = {"settings.ini", kFastIndexFileName,
                                  testsupport::LocalIndexName(t0 + 20 * 3600000) + ".idx"};
    for (int h = 0; h < 3; ++h) want.insert(testsupport::LocalIndexName(t0 + h * 3600000) + ".idx");
    EXPECT_EQ(IndexFolderNames(a), want);
    EXPECT_EQ(FastIndexHours(a), (FastIndexMap{{1, {HourOf(t0), HourOf(t0) + 1, HourOf(t0) + 2}},
                                               {2, {HourOf(t0), HourOf(t0) + 1}}}));
    EXPECT_EQ(ReadIndexRebuilding(), 0);

    // The rebuilt indexes open the archive by the fast path next time.
    auto again = Open({a});
    EXPECT_EQ(Times(*again, 1), TimesOf(recs, 1));
}

// A rebuild writes each hour's index file over the one it finds: what was
// there before leaves no trace (a longer stale file is cut to the new
// length), a link standing at an index name is removed rather than written
// through, and an index without its hour folder goes.
TEST_F(IndexStartupTest, RebuildLeavesOnlyTheNewIndexBytes) {
    const std::string a = Volume("a");
    WriteFiles(a, recs, true);
    const std::string hour0 = a + "/INDEX/" + testsupport::LocalIndexName(t0) + ".idx";
    const std::string hour1 = a + "/INDEX/" + testsupport::LocalIndexName(t0 + 3600000) + ".idx";
    const std::string orphan = a + "/INDEX/" + testsupport::LocalIndexName(t0 + 30 * 3600000) + ".idx";
    testsupport::WriteFileBytes(hour0, std::vector<uint8_t>(4096, 0xEE));
    const std::string outside = dir.path() + "/outside.idx";
    const std::vector<uint8_t> outsideBytes(100, 0x5A);
    testsupport::WriteFileBytes(outside, outsideBytes);
    fsys::create_symlink(outside, hour1);
    testsupport::WriteFileBytes(orphan, std::vector<uint8_t>(29, 0x01));
    enginetest::WriteMachineRegistry(std::string(kVideoKey) + "\"IndexRebuilding\"=\"1\"\n");

    auto fs = Open({a});
    ASSERT_TRUE(initResult);
    EXPECT_FALSE(rebuildProgress.empty());
    EXPECT_EQ(Times(*fs, 1), TimesOf(recs, 1));
    EXPECT_EQ(gavex_test::ReadFileBytes(outside), outsideBytes);
    EXPECT_FALSE(fsys::is_symlink(hour1));
    EXPECT_FALSE(fsys::exists(orphan));
    // Hour 0 holds one file of each camera, hour 1 likewise.
    for (const std::string& path : {hour0, hour1}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(gavex_test::ReadFileBytes(path).size(), 4u + 2 * 25);
        std::vector<IndexEntry> entries;
        EXPECT_TRUE(fs->LoadIndex(0, path, entries));
        ASSERT_EQ(entries.size(), 2u);
    }
    std::vector<IndexEntry> entries;
    ASSERT_TRUE(fs->LoadIndex(0, hour0, entries));
    EXPECT_EQ(entries[0].entry.begin, uint64_t(recs[0].begin));
    EXPECT_EQ(entries[1].entry.begin, uint64_t(recs[1].begin));
}

// The parse path reads every index file whole, however it stands in the
// INDEX folder: one larger than a first read, and one reached through a
// link.
TEST_F(IndexStartupTest, ParsePathReadsLargeAndLinkedIndexFilesWhole) {
    const std::string a = Volume("a");
    WriteFiles(a, {recs[0], recs[2]}, false);
    enginetest::WriteMachineRegistry(std::string(kVideoKey) + "\"FastIndex\"=\"0\"\n");
    // 4000 records of camera 3 in the first hour: about 100 KB.
    std::vector<testsupport::IdxRecord> many;
    for (uint32_t i = 0; i < 4000; ++i) {
        testsupport::IdxRecord r;
        r.beginS = uint32_t(t0 / 1000) + i / 2;
        r.beginMsPart = (i % 2) * 500;
        r.endS = r.beginS + 1;
        r.fileId = 0x1000 + i;
        r.camera = 3;
        many.push_back(r);
    }
    testsupport::WriteFileBytes(a + "/INDEX/" + testsupport::LocalIndexName(t0) + ".idx",
                                testsupport::EncodeIdxFile(0xAB01, many));
    testsupport::IdxRecord one;
    one.beginS = uint32_t(recs[2].begin / 1000);
    one.endS = uint32_t(recs[2].end / 1000);
    one.fileId = recs[2].id;
    one.camera = 1;
    const std::string target = dir.path() + "/elsewhere.idx";
    testsupport::WriteFileBytes(target, testsupport::EncodeIdxFile(0xAB01, {one}));
    fsys::create_symlink(target, a + "/INDEX/" + testsupport::LocalIndexName(recs[2].begin) + ".idx");

    auto fs = Open({a});
    ASSERT_TRUE(initResult);
    EXPECT_TRUE(rebuildProgress.empty());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Times(*fs, 3).size(), many.size());
    EXPECT_EQ(Times(*fs, 3).back().first, uint64_t(many.back().beginS) * 1000 + 500);
    ASSERT_EQ(Times(*fs, 1).size(), 1u);
    EXPECT_EQ(Times(*fs, 1)[0].first, uint64_t(one.beginS) * 1000);
}

// Of two volumes only the one that loaded no record is rebuilt; the other
// keeps what its index files say.
TEST_F(IndexStartupTest, OnlyTheVolumeThatLoadedNothingIsRebuilt) {
    const std::string a = Volume("a"), b = Volume("b");
    const std::vector<Rec> onA = {recs[0], recs[1]}, onB = {recs[2], recs[3], recs[4]};
    WriteFiles(a, onA, false);
    WriteIndexes(a, onA);
    WriteFiles(b, onB, true);
    const auto aBefore = Snapshot(a + "/INDEX");

    auto fs = Open({a, b});
    ASSERT_TRUE(initResult);
    EXPECT_EQ(Times(*fs, 1), TimesOf(recs, 1));
    EXPECT_EQ(Times(*fs, 2), TimesOf(recs, 2));
    EXPECT_FALSE(rebuildProgress.empty());
    EXPECT_EQ(IndexFolderNames(b).size(), 3u);  // two hours and the fast index
    // Volume a's index files stand as they were; it got its fast index.
    auto aAfter = Snapshot(a + "/INDEX");
    aAfter.erase(a + "/INDEX/" + kFastIndexFileName);
    EXPECT_EQ(aAfter, aBefore);
}

TEST_F(IndexStartupTest, IndexRebuildingSwitch) {
    const struct {
        const char* value;  // nullptr: missing
        bool rebuilds;
    } cases[] = {{nullptr, false}, {"0", false}, {"abc", false}, {"1", true}, {"7", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(missing)");
        const std::string a = Volume(c.value ? c.value : "missing");
        WriteFiles(a, recs, false);
        WriteIndexes(a, recs);
        std::string text = kVideoKey;
        if (c.value) text += std::string("\"IndexRebuilding\"=\"") + c.value + "\"\n";
        // A lost-folder finding would also rebuild; the switch goes first.
        text += "\"CheckLostFolders\"=\"1\"\n";
        enginetest::WriteMachineRegistry(text);
        rebuildProgress.clear();

        auto fs = Open({a});
        ASSERT_TRUE(initResult);
        EXPECT_EQ(!rebuildProgress.empty(), c.rebuilds);
        // Placeholders give no frame times: a rebuild shows in the records.
        EXPECT_EQ(Times(*fs, 1) == TimesOf(recs, 1), !c.rebuilds);
        EXPECT_EQ(Times(*fs, 1).size(), 3u);
        EXPECT_EQ(ReadIndexRebuilding(), 0);
    }
}

// The rebuild's percentages rise to 100 after the last hour folder; the
// initialisation's own progress rises to 100 without going back.
TEST_F(IndexStartupTest, ProgressIsReportedInOrder) {
    const struct {
        std::vector<int> foldersPerVolume;
        std::vector<uint64_t> rebuild;  // empty: only check the order
    } cases[] = {
        {{4}, {25, 50, 75, 100}},
        {{2, 3}, {}},
        {{0}, {0}},
        {{0, 0}, {0, 0}},
    };
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(run);
        std::set<std::string> volumes;
        for (size_t v = 0; v < c.foldersPerVolume.size(); ++v) {
            const std::string path = Volume(("p" + std::to_string(run) + "_" + std::to_string(v)).c_str());
            std::vector<Rec> files;
            for (int h = 0; h < c.foldersPerVolume[v]; ++h)
                files.push_back({1, uint32_t(h + 1), t0 + (int64_t(v) * 10 + h) * 3600000,
                                 t0 + (int64_t(v) * 10 + h) * 3600000 + 1000});
            WriteFiles(path, files, true);
            volumes.insert(path);
        }
        ++run;
        rebuildProgress.clear();
        initProgress.clear();
        auto fs = Open(volumes);

        if (!c.rebuild.empty()) {
            EXPECT_EQ(rebuildProgress, c.rebuild);
        }
        ASSERT_FALSE(rebuildProgress.empty());
        if (rebuildProgress.back() != 0) {
            EXPECT_EQ(rebuildProgress.back(), 100u);
            EXPECT_TRUE(std::adjacent_find(rebuildProgress.begin(), rebuildProgress.end(),
                                           [](uint64_t x, uint64_t y) { return x >= y; }) == rebuildProgress.end());
        }
        ASSERT_FALSE(initProgress.empty());
        EXPECT_TRUE(std::is_sorted(initProgress.begin(), initProgress.end()));
        EXPECT_EQ(initProgress.front(), 10);
        EXPECT_EQ(initProgress.back(), 100);
    }
}

// An archive copied with fresh file times is rebuilt from its frames and its
// files are left exactly as they were.
TEST_F(IndexStartupTest, CopiedArchiveWithFreshTimes) {
    const std::string a = Volume("a");
    WriteFiles(a, recs, true);
    std::map<std::string, std::pair<uintmax_t, int64_t>> files;
    for (const auto& [path, stamp] : Snapshot(a))
        if (fsys::is_regular_file(path)) files[path] = stamp;
    std::map<std::string, std::vector<uint8_t>> bytes;
    for (const auto& f : files) bytes[f.first] = gavex_test::ReadFileBytes(f.first);

    auto fs = Open({a});
    ASSERT_TRUE(initResult);
    EXPECT_EQ(Times(*fs, 1), TimesOf(recs, 1));
    EXPECT_EQ(Times(*fs, 2), TimesOf(recs, 2));
    for (const auto& f : files) {
        EXPECT_EQ(Snapshot(a)[f.first], f.second) << f.first;
        EXPECT_EQ(gavex_test::ReadFileBytes(f.first), bytes[f.first]) << f.first;
    }
    EXPECT_TRUE(errors.empty());
}

// A write-protected archive opens: its records are built in memory and
// nothing on it changes, neither with broken and orphan index files nor
// when it has no index at all.
TEST_F(IndexStartupTest, ReadOnlyArchiveInitialisesWithoutWriting) {
    const struct {
        const char* name;
        bool withIndexes;
    } cases[] = {{"indexed", true}, {"bare", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string a = Volume(c.name);
        WriteFiles(a, recs, true);
        if (c.withIndexes) {
            WriteIndexes(a, {recs[0], recs[1], recs[2], recs[3]});
            testsupport::WriteFileBytes(a + "/INDEX/" + testsupport::LocalIndexName(recs[4].begin) + ".idx",
                                        testsupport::EncodeIdxFile(0xAAFF, {}));
            testsupport::WriteFileBytes(a + "/INDEX/" + testsupport::LocalIndexName(t0 + 9 * 3600000) + ".idx",
                                        testsupport::EncodeIdxFile(0xAB01, {}));
        }
        testsupport::MakeFolders(a + "/" + HourFolderOf(t0 + 30 * 3600000));  // empty hour folder
        for (const auto& e : fsys::recursive_directory_iterator(a))
            if (e.is_directory()) fsys::permissions(e.path(), fsys::perms::all & ~fsys::perms::owner_write &
                                                                  ~fsys::perms::group_write & ~fsys::perms::others_write);
        fsys::permissions(a, fsys::perms::owner_read | fsys::perms::owner_exec | fsys::perms::group_read |
                                 fsys::perms::group_exec | fsys::perms::others_read | fsys::perms::others_exec);
        const auto before = Snapshot(a);

        auto fs = Open({a});
        ASSERT_TRUE(initResult);
        EXPECT_EQ(Times(*fs, 1), TimesOf(recs, 1));
        EXPECT_EQ(Times(*fs, 2), TimesOf(recs, 2));
        EXPECT_EQ(Snapshot(a), before);
    }
}

TEST_F(IndexStartupTest, ChannelsWithoutRecordsLeaveTheSettings) {
    const std::string a = Volume("a");
    WriteFiles(a, recs, false);
    WriteIndexes(a, recs);
    Settings settings;
    for (int id : {1, 2, 3, 50001}) settings.GetChannel(id);
    settings.Save(ArchiveSettingsPath(a));

    auto fs = Open({a});
    ASSERT_TRUE(initResult);
    EXPECT_EQ(fs->GetSettings().GetChannelIds(), (std::vector<int32_t>{1, 2}));
}

// An hour window that leaves out every index file of a volume does not make
// the volume count as broken.
TEST_F(IndexStartupTest, HourWindowOutsideTheVolumeDoesNotRebuildIt) {
    const std::string a = Volume("a");
    WriteFiles(a, recs, false);
    WriteIndexes(a, recs);
    const auto before = Snapshot(a);
    auto fs = std::make_unique<FileSystem>();
    fs->RebuildProgressChanged.connect([this](uint64_t p) { rebuildProgress.push_back(p); });
    const auto later = boost::posix_time::from_time_t(std::time_t(t0 / 1000 + 48 * 3600));
    fs->SetHourWindow({later, later + boost::posix_time::hours(24)});
    ASSERT_TRUE(fs->Init({a}, {}, {}, 1));
    EXPECT_TRUE(rebuildProgress.empty());
    EXPECT_TRUE(Times(*fs, 1).empty());
    EXPECT_EQ(Snapshot(a), before);
}

}  // namespace

// Zones whose offset is not a whole hour, and a change of offset: a UTC hour
// overlaps two local hours (two .idx files). The fast path loads the same
// records the parse path finds.
TEST(IndexStartupZonesTest, FastPathFindsWhatTheParsePathFinds) {
    struct Day {
        const char* zone;
        int year, month, day;  // UTC day around which records are made
    };
    const Day days[] = {
        {"Asia/Kolkata", 2022, 3, 5},       {"Australia/Adelaide", 2022, 4, 2},
        {"Australia/Adelaide", 2022, 10, 1}, {"Pacific/Chatham", 2022, 4, 2},
        {"Europe/Berlin", 2022, 3, 27},      {"Europe/Berlin", 2022, 10, 30},
    };
    for (const Day& d : days) {
        SCOPED_TRACE(std::string(d.zone) + " " + std::to_string(d.month) + "/" + std::to_string(d.day));
        enginetest::WriteMachineRegistry("");
        enginetest::ScopedTimeZone zone{d.zone};
        gavex_test::TempDir dir{"indexzones"};
        const std::string a = dir.path() + "/a";
        // A record every quarter hour from 12:05 UTC the day before for 36
        // hours, which covers the local change of the zone's offset.
        struct tm utc{};
        utc.tm_year = d.year - 1900;
        utc.tm_mon = d.month - 1;
        utc.tm_mday = d.day - 1;
        utc.tm_hour = 12;
        const int64_t start = int64_t(timegm(&utc)) * 1000 + 5 * 60000;
        std::vector<Rec> recs;
        for (int i = 0; i < 36 * 4; ++i) {
            const int64_t begin = start + int64_t(i) * 15 * 60000;
            recs.push_back({1, uint32_t(0x100 + i), begin, begin + 60000});
        }
        WriteFiles(a, recs, false);
        WriteIndexes(a, recs);

        std::vector<std::pair<uint64_t, uint64_t>> parsed, fast;
        {
            FileSystem fs;
            enginetest::RunOrAbort("Init", [&] { ASSERT_TRUE(fs.Init({a}, nullptr, {}, 1)); });
            parsed = Times(fs, 1);
        }
        ASSERT_FALSE(FastIndexHours(a).empty());
        {
            FileSystem fs;
            enginetest::RunOrAbort("Init", [&] { ASSERT_TRUE(fs.Init({a}, nullptr, {}, 1)); });
            fast = Times(fs, 1);
            // The newest record is found on the fast path too.
            auto camera = fs.GetCameraDir(1, false);
            ASSERT_TRUE(camera);
            EXPECT_EQ(camera->GetLastEntry().begin, uint64_t(recs.back().begin));
        }
        EXPECT_EQ(parsed, TimesOf(recs, 1));
        EXPECT_EQ(fast, parsed);
    }
}
