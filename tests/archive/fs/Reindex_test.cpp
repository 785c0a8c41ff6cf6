// Re-indexing an hour folder from the names and frames of its archive files.

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "archive/files/DynamicFramesReader.h"
#include "archive/files/FastIndex.h"
#include "archive/fs/FileSystem.h"
#include "archive/fs/Reindex.h"
#include "base/Tss.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"
#include "support/TempDir.h"

using VindaraFileSystem::DirEntry;

namespace {

constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";

// A closed archive file of five frames from beginMs to endMs.
void WriteArchiveFile(const std::string& path, int64_t beginMs, int64_t endMs) {
    const auto frames = testsupport::MakeSyntheticFrames(5, beginMs, (endMs - beginMs) / 4, 5, 32);
    testsupport::WriteFileBytes(path, testsupport::BuildArchiveFile(frames));
}

std::vector<DirEntry> Records(FileSystem& fs, int camera) {
    std::vector<DirEntry> out;
    if (auto dir = fs.GetCameraDir(camera, false))
        dir->ForEachEntry(0, 0, [&out](const DirEntry& e) {
            out.push_back(e);
            return true;
        });
    return out;
}

struct FileStamp {
    int64_t mtimeNs = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
    struct stat st{};
    ::stat(path.c_str(), &st);
    return {int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, gavex_test::ReadFileBytes(path)};
}

class ReindexTest : public ::testing::Test {
protected:
    void SetUp() override {
        enginetest::WriteMachineRegistry("");
        // An empty archive: the start-up finds nothing to index.
        fs = std::make_unique<FileSystem>();
        ASSERT_TRUE(fs->Init({dir.path()}, {}, {}, 1));
        fs->ErrorReported.connect([this](int, const char* text, unsigned long) { errors.push_back(text); });
    }

    std::string Folder(const std::string& hourFolder) const { return dir.path() + "/" + hourFolder; }
    std::string IndexFile(const std::string& hourFolder) const {
        return dir.path() + "/INDEX/" + HourFolderToIndexName(hourFolder);
    }
    std::vector<IndexEntry> ReadIndex(const std::string& hourFolder) {
        std::vector<IndexEntry> entries;
        fs->LoadIndex(0, IndexFile(hourFolder), entries);
        return entries;
    }

    enginetest::ScopedTimeZone zone{kZone};
    gavex_test::TempDir dir{"reindex"};
    std::unique_ptr<FileSystem> fs;
    std::vector<std::string> errors;
    const int64_t hourStart = testsupport::LocalUnixMs(2022, 3, 5, 14);
    const std::string hourFolder = testsupport::LocalHourFolder(testsupport::LocalUnixMs(2022, 3, 5, 14));
};

TEST(ParseChannelSuffixTest, DecimalPairsAndHexAboveNinetyNine) {
    const struct {
        const char* text;
        int camera;
    } cases[] = {{"05", 5}, {"99", 99}, {"00", 0}, {"A0", 100}, {"FF", 195}, {"100", 196}, {"5", -55}, {"0A", -50}};
    for (const auto& c : cases) EXPECT_EQ(ParseChannelSuffix(c.text), c.camera) << c.text;
}

TEST_F(ReindexTest, OnlyCanonicalNamesAreTaken) {
    ASSERT_EQ(hourFolder, "05-03-22 14");
    const struct {
        const char* name;
        bool taken;
        int camera;
        uint32_t fileId;
    } cases[] = {
        {"1A2B._05", true, 5, 0x1A2B},  {"1A2C._A0", true, 100, 0x1A2C}, {"001A2D._05", false, 0, 0},
        {"1a2e._05", false, 0, 0},      {"1A2F._00", false, 0, 0},       {"1A30._5", false, 0, 0},
        {"1A31._05x", false, 0, 0},     {"1A32.t05", false, 0, 0},
    };
    int minute = 1;
    for (const auto& c : cases) {
        const int64_t begin = hourStart + minute++ * 60000;
        WriteArchiveFile(Folder(hourFolder) + "/" + c.name, begin, begin + 20000);
    }
    uint64_t counter = 7;
    ASSERT_TRUE(fs->ReindexFolder(0, hourFolder, true, &counter, false));
    EXPECT_EQ(counter, 7u + 2u);

    std::vector<std::pair<int, uint32_t>> got;
    for (const auto& e : ReadIndex(hourFolder)) got.emplace_back(e.cameraId, e.entry.fileId);
    std::vector<std::pair<int, uint32_t>> want;
    for (const auto& c : cases)
        if (c.taken) want.emplace_back(c.camera, c.fileId);
    EXPECT_EQ(got, want);
    EXPECT_EQ(Records(*fs, 5).size(), 1u);
    EXPECT_EQ(Records(*fs, 100).size(), 1u);
}

// A copied file carries the copy's times: its record times come from its
// frames, and the file itself is left exactly as it was.
TEST_F(ReindexTest, CopiedFileTakesItsFrameTimesAndStaysUntouched) {
    const int64_t begin = hourStart + 10 * 60000 + 123;
    const int64_t end = begin + 40000;
    const std::string path = Folder(hourFolder) + "/1A2B._05";
    WriteArchiveFile(path, begin, end);
    const FileStamp before = StampOf(path);

    ASSERT_TRUE(fs->ReindexFolder(0, hourFolder, true, nullptr, false));

    const auto records = Records(*fs, 5);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].begin, uint64_t(begin));
    EXPECT_EQ(records[0].end, uint64_t(end));
    EXPECT_EQ(records[0].fileId, 0x1A2Bu);
    EXPECT_EQ(records[0].date, uint64_t(hourStart));
    EXPECT_EQ(records[0].fileSize, before.bytes.size());
    EXPECT_FALSE(records[0].isProtected);
    const auto indexed = ReadIndex(hourFolder);
    ASSERT_EQ(indexed.size(), 1u);
    EXPECT_EQ(indexed[0].entry.begin, uint64_t(begin));
    EXPECT_EQ(indexed[0].entry.end, uint64_t(end));
    EXPECT_TRUE(StampOf(path) == before);
    EXPECT_TRUE(errors.empty());
}

// A file created within the hour its folder names is indexed from the
// listing alone: its contents are never read.
TEST_F(ReindexTest, FileCreatedInItsHourIsNotOpened) {
    const std::string staged = dir.path() + "/staged";
    testsupport::WriteFileBytes(staged, std::vector<uint8_t>(64, 0xEE));
    struct statx stx{};
    ASSERT_EQ(::statx(AT_FDCWD, staged.c_str(), 0, STATX_BTIME | STATX_MTIME, &stx), 0);
    if (!(stx.stx_mask & STATX_BTIME)) GTEST_SKIP() << "the file system keeps no creation time";
    const uint64_t birth = uint64_t(stx.stx_btime.tv_sec) * 1000 + stx.stx_btime.tv_nsec / 1000000;
    const uint64_t modified = uint64_t(stx.stx_mtime.tv_sec) * 1000 + stx.stx_mtime.tv_nsec / 1000000;
    // The folder of the hour the file was made in; renaming keeps the time.
    const std::string folder = testsupport::LocalHourFolder(int64_t(birth));
    testsupport::MakeFolders(Folder(folder));
    ASSERT_EQ(std::rename(staged.c_str(), (Folder(folder) + "/2F._07").c_str()), 0);

    ASSERT_TRUE(fs->ReindexFolder(0, folder, false, nullptr, false));
    const auto records = Records(*fs, 7);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].begin, birth);
    EXPECT_EQ(records[0].end, modified);
    EXPECT_TRUE(errors.empty());
}

// A damaged file whose times cannot be repaired stays in the records with
// its folder's hour, and the failure is reported.
TEST_F(ReindexTest, UnreadableFileKeepsItsRecord) {
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* kind;
    } cases[] = {
        {"10._03", std::vector<uint8_t>(10, 0xFF), "::FILE File: "},
        {"11._04", std::vector<uint8_t>(4096, 0x7F), "::FORMAT File: "},
    };
    for (const auto& c : cases) testsupport::WriteFileBytes(Folder(hourFolder) + "/" + c.name, c.bytes);

    ASSERT_TRUE(fs->ReindexFolder(0, hourFolder, true, nullptr, false));
    EXPECT_EQ(ReadIndex(hourFolder).size(), 2u);
    ASSERT_EQ(errors.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const auto records = Records(*fs, 3 + int(i));
        ASSERT_EQ(records.size(), 1u) << cases[i].name;
        EXPECT_EQ(records[0].begin, uint64_t(hourStart));
        EXPECT_NE(errors[i].find(cases[i].kind), std::string::npos) << errors[i];
        EXPECT_NE(errors[i].find(std::string(cases[i].name) + " not read, exception: "), std::string::npos);
    }
}

TEST_F(ReindexTest, ProtectedCopyReplacesTheStoredRecord) {
    const int64_t begin = hourStart + 5 * 60000;
    WriteArchiveFile(Folder(hourFolder) + "/1A2B._05", begin, begin + 30000);
    WriteArchiveFile(dir.path() + "/PROTECTED/" + hourFolder + " 1A2B._05", begin, begin + 30000);
    ASSERT_TRUE(fs->ReindexFolder(0, hourFolder, false, nullptr, false));
    ASSERT_EQ(Records(*fs, 5).size(), 1u);
    EXPECT_FALSE(Records(*fs, 5)[0].isProtected);

    uint64_t counter = 0;
    ASSERT_TRUE(fs->ReindexFolder(0, "PROTECTED", false, &counter, false));
    EXPECT_EQ(counter, 1u);
    const auto records = Records(*fs, 5);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].isProtected);
    EXPECT_EQ(records[0].fileId, 0x1A2Bu);
    EXPECT_EQ(records[0].date, uint64_t(hourStart));
    // The protected folder writes no index file.
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/INDEX/PROTECTED.idx"));
}

TEST_F(ReindexTest, EmptyFolderWritesTheVersionWordOnly) {
    testsupport::MakeFolders(Folder(hourFolder));
    uint64_t counter = 0;
    ASSERT_TRUE(fs->ReindexFolder(0, hourFolder, true, &counter, false));
    EXPECT_EQ(counter, 0u);
    EXPECT_EQ(gavex_test::ReadFileBytes(IndexFile(hourFolder)), (std::vector<uint8_t>{0x01, 0xAB, 0x00, 0x00}));
}

// New hours of a camera are appended to the fast index once; an index-only
// run touches neither the directories nor the fast index.
TEST_F(ReindexTest, NewHoursGoToTheFastIndexOnce) {
    for (uint32_t id = 1; id <= 3; ++id)
        WriteArchiveFile(Folder(hourFolder) + "/" + testsupport::ArchiveFileName(2, id), hourStart + id * 60000,
                         hourStart + id * 60000 + 1000);
    ASSERT_TRUE(fs->ReindexFolder(0, hourFolder, false, nullptr, true));
    EXPECT_TRUE(Records(*fs, 2).empty());
    EXPECT_FALSE(std::filesystem::exists(FastIndexPath(dir.path())));

    ASSERT_TRUE(fs->ReindexFolder(0, hourFolder, false, nullptr, false));
    EXPECT_EQ(Records(*fs, 2).size(), 3u);
    const auto bytes = gavex_test::ReadFileBytes(FastIndexPath(dir.path()));
    EXPECT_EQ(bytes.size(), kFastIndexHeaderSize + kFastIndexEntrySize);
    uint64_t size = 0;
    FastIndexMap hours;
    ASSERT_TRUE(LoadFastIndex(dir.path(), size, hours));
    EXPECT_EQ(hours, (FastIndexMap{{2, {int32_t(hourStart / 3600000)}}}));
}

TEST_F(ReindexTest, NewHoursOfSeveralCamerasAllReachTheFastIndex) {
    for (int camera = 1; camera <= 3; ++camera)
        WriteArchiveFile(Folder(hourFolder) + "/" + testsupport::ArchiveFileName(camera, uint32_t(camera)),
                         hourStart + camera * 60000, hourStart + camera * 60000 + 1000);
    ASSERT_TRUE(fs->ReindexFolder(0, hourFolder, false, nullptr, false));
    EXPECT_EQ(gavex_test::ReadFileBytes(FastIndexPath(dir.path())).size(),
              kFastIndexHeaderSize + 3 * kFastIndexEntrySize);
    uint64_t size = 0;
    FastIndexMap hours;
    ASSERT_TRUE(LoadFastIndex(dir.path(), size, hours));
    const int32_t hour = int32_t(hourStart / 3600000);
    EXPECT_EQ(hours, (FastIndexMap{{1, {hour}}, {2, {hour}}, {3, {hour}}}));
}

// Times given by a folder listing are taken as they are: a creation time
// inside the hour needs no look at the file (here there is none to look
// at); any other falls back to the frames, and then to the hour.
TEST(ListedFileTimesTest, CreationInsideTheHourIsTrusted) {
    const uint64_t hour = 1646438400000;  // an hour's start, UTC ms
    struct Case {
        int64_t created, modified;
        ArchiveTimeSource source;
        uint64_t begin, end;
    };
    const Case cases[] = {
        {int64_t(hour + 5000), int64_t(hour + 9000), ArchiveTimeSource::FileTimes, hour + 5000, hour + 9000},
        {0, int64_t(hour + 9000), ArchiveTimeSource::Fallback, hour + 9000, hour + 9000},
        {int64_t(hour + 3600000), int64_t(hour - 1), ArchiveTimeSource::Fallback, hour, hour},
    };
    for (const Case& c : cases) {
        const ArchiveFileTimes times =
            ResolveArchiveFileTimes("/nonexistent/gavex/1._01", hour, c.created, c.modified);
        EXPECT_EQ(times.source, c.source) << c.created;
        EXPECT_EQ(times.begin, c.begin) << c.created;
        EXPECT_EQ(times.end, c.end) << c.created;
    }
}

TEST_F(ReindexTest, ReadOnlyIndexFolderIsNotWritten) {
    WriteArchiveFile(Folder(hourFolder) + "/1A2B._05", hourStart + 60000, hourStart + 90000);
    const std::string index = dir.path() + "/INDEX";
    ASSERT_EQ(::chmod(index.c_str(), 0555), 0);
    EXPECT_FALSE(IsFolderWritable(index));
    EXPECT_TRUE(IsFolderWritable(dir.path()));

    EXPECT_FALSE(fs->ReindexFolder(0, hourFolder, true, nullptr, false));
    EXPECT_FALSE(std::filesystem::exists(IndexFile(hourFolder)));
    EXPECT_FALSE(std::filesystem::exists(FastIndexPath(dir.path())));
    // The records are there all the same.
    EXPECT_EQ(Records(*fs, 5).size(), 1u);
}

}  // namespace

// The last frame time the rebuild reads from a file's end must be the one a
// full reader gives, for every index form and every damage that sends the
// reader down another path.
TEST(LastFrameTimeTest, MatchesTheFullReader) {
    enginetest::ScopedTimeZone zone{kZone};
    gavex_test::TempDir dir{"lasttime"};
    const int64_t begin = testsupport::LocalUnixMs(2022, 3, 5, 14) + 1234;
    struct Case {
        const char* name;
        size_t frames;
        std::function<void(testsupport::ArchiveFileOptions&)> options;
    };
    const Case cases[] = {
        {"portable", 5, [](auto&) {}},
        {"portable with id header", 5, [](auto& o) { o.archiveId = 7; }},
        {"portable index an hour off", 5, [](auto& o) { o.indexTimeShiftMs = 3600000; }},
        {"binary index off, not rebased", 5,
         [](auto& o) {
             o.index = testsupport::IndexForm::Binary;
             o.indexTimeShiftMs = 5000;
         }},
        {"trailer counts fewer frames", 5, [](auto& o) { o.frameCount = 3; }},
        {"index larger than one tail read", 3000, [](auto&) {}},
        {"no index", 5, [](auto& o) { o.index = testsupport::IndexForm::None; }},
        {"bad close flag", 5, [](auto& o) { o.closeFlag = 2; }},
        {"bad trailer checksum", 5, [](auto& o) { o.badChecksum = true; }},
        {"unknown stored type", 5, [](auto& o) { o.storedType = 9; }},
        {"index cut short", 5,
         [](auto& o) { o.editBlob = [](std::vector<uint8_t>& blob) { blob.resize(blob.size() - 20); }; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ArchiveFileOptions options;
        c.options(options);
        const std::string path = dir.path() + "/1._01";
        testsupport::WriteFileBytes(
            path, testsupport::BuildArchiveFile(testsupport::MakeSyntheticFrames(c.frames, begin, 40, 5, 64), options));

        uint64_t expected = 0;
        bool expectedOk = false;
        try {
            DynamicFramesReader reader(false);
            if (reader.Open(path, 0) && reader.GetFrameCount() > 0) {
                const TSS last = reader.GetFrameTime(reader.GetFrameCount() - 1);
                expectedOk = last.IsValidDate() && last.ToUtcMilliseconds() > kArchiveUnixOffsetMs;
                if (expectedOk) expected = last.ToUtcMilliseconds() - kArchiveUnixOffsetMs;
            }
        } catch (...) {
            // A reader that cannot tell gives no last time.
        }
        uint64_t got = 0;
        EXPECT_EQ(ReadLastFrameTime(path, got), expectedOk);
        if (expectedOk) {
            EXPECT_EQ(got, expected);
        }

        const ArchiveFileTimes times = ResolveArchiveFileTimes(path, 0);
        EXPECT_EQ(times.source, ArchiveTimeSource::Frames);
        if (expectedOk && expected >= times.begin) {
            EXPECT_EQ(times.end, expected);
        }
    }
    // The cases above must reach the reader's own answers, not a default.
    uint64_t last = 0;
    testsupport::WriteFileBytes(dir.path() + "/2._01", testsupport::BuildArchiveFile(
                                                          testsupport::MakeSyntheticFrames(5, begin, 40, 5, 64)));
    ASSERT_TRUE(ReadLastFrameTime(dir.path() + "/2._01", last));
    EXPECT_EQ(last, uint64_t(begin + 4 * 40));
}
