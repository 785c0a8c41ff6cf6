// Record index files: the three stored versions read from hand-built bytes,
// the bytes we write, appends, damaged files and the hour-detail cache.

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AllocationWatch.h"
#include "EngineTestSupport.h"
#include "archive/fs/FileSystem.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

using testsupport::ArchiveTempDir;
using testsupport::ReadBytes;
using testsupport::WriteFileBytes;

namespace {

// 2022-05-25 11:45:10.250 UTC to 11:55:10.999 UTC, file 0x1A2B, stored
// volume byte 7, camera 5 (300 in the 0xAAFF fixture, which has no ms).
const std::vector<uint8_t> kV3 = {0x01, 0xAB, 0x00, 0x00, 0xC6, 0x16, 0x8E, 0x62, 0x1E, 0x19, 0x8E, 0x62, 0x2B, 0x1A, 0x00,
                                  0x00, 0x07, 0xFA, 0x00, 0x00, 0x00, 0xE7, 0x03, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
const std::vector<uint8_t> kV2 = {0x00, 0xAB, 0x00, 0x00, 0xC6, 0x16, 0x8E, 0x62, 0x1E, 0x19, 0x8E, 0x62, 0x2B, 0x1A,
                                  0x00, 0x00, 0x07, 0xFA, 0x00, 0x00, 0x00, 0xE7, 0x03, 0x00, 0x00, 0x05, 0x00};
const std::vector<uint8_t> kV1 = {0xFF, 0xAA, 0x00, 0x00, 0xC6, 0x16, 0x8E, 0x62, 0x1E,
                                  0x19, 0x8E, 0x62, 0x2B, 0x1A, 0x00, 0x00, 0x07, 0x2C, 0x01};

constexpr uint64_t kBeginS = 1653479110;

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        s += buf;
        s += (i % 16 == 15) ? '\n' : ' ';
    }
    return s;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b, size_t skip = 0) {
    a.insert(a.end(), b.begin() + static_cast<long>(skip), b.end());
    return a;
}

class IdxFileTest : public ::testing::Test {
protected:
    IdxFileTest() : zone("Europe/Berlin") {
        engine.ErrorReported.connect([this](int channel, const char* text, unsigned long) {
            errors.push_back(std::to_string(channel) + ":" + text);
        });
    }
    std::string Path(const std::string& name) { return dir.File(name); }

    enginetest::ScopedTimeZone zone;
    ArchiveTempDir dir;
    FileSystem engine;
    std::vector<std::string> errors;
};

TEST_F(IdxFileTest, ReadsEachStoredVersion) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        uint64_t begin, end;
        int camera;
    };
    const Case cases[] = {
        {"v3", kV3, kBeginS * 1000 + 250, (kBeginS + 600) * 1000 + 999, 5},
        {"v2", kV2, kBeginS * 1000 + 250, (kBeginS + 600) * 1000 + 999, 5},
        {"v1", kV1, kBeginS * 1000, (kBeginS + 600) * 1000, 300},
    };
    engine.SetMinIndexVersion(INDEX_VERSION_1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path("25052213.idx");
        WriteFileBytes(path, c.bytes);
        std::vector<IndexEntry> out;
        ASSERT_TRUE(engine.LoadIndex(3, path, out));
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].entry.begin, c.begin);
        EXPECT_EQ(out[0].entry.end, c.end);
        EXPECT_EQ(out[0].entry.fileId, 0x1A2Bu);
        EXPECT_EQ(out[0].entry.volumeIndex, 3) << "the reading volume replaces the stored byte";
        EXPECT_EQ(out[0].entry.isProtected, 0);
        EXPECT_EQ(out[0].entry.date, testsupport::LocalUnixMs(2022, 5, 25, 13)) << "13 h local of the name";
        EXPECT_EQ(out[0].cameraId, c.camera);
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(IdxFileTest, OldestVersionIsRefusedAfterInit) {
    const std::string path = Path("25052213.idx");
    WriteFileBytes(path, kV1);
    engine.Init({}, {}, {}, 0);
    EXPECT_EQ(engine.GetMinIndexVersion(), static_cast<int>(INDEX_VERSION_2));
    std::vector<IndexEntry> out;
    EXPECT_FALSE(engine.LoadIndex(0, path, out));
    EXPECT_TRUE(out.empty());
}

TEST_F(IdxFileTest, DamagedAndUnusualFiles) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool result;
        size_t entries;
        std::vector<std::string> errors;
    };
    std::vector<uint8_t> topBit = kV3;
    topBit[0] = topBit[1] = topBit[2] = topBit[3] = 0xFF;
    std::vector<uint8_t> later = kV3;
    later[0] = 0x02;
    std::vector<uint8_t> unsignedBegin = kV3;
    unsignedBegin[4] = 0x00, unsignedBegin[5] = 0x00, unsignedBegin[6] = 0x00, unsignedBegin[7] = 0x80;
    unsignedBegin[8] = 0x10, unsignedBegin[9] = 0x00, unsignedBegin[10] = 0x00, unsignedBegin[11] = 0x80;
    const auto twoEntries = Concat(kV3, kV3, 4);
    std::vector<uint8_t> beginMs1000 = kV3;
    beginMs1000[17] = 0xE8, beginMs1000[18] = 0x03;
    std::vector<uint8_t> endMsHuge = kV3;
    endMsHuge[21] = endMsHuge[22] = endMsHuge[23] = endMsHuge[24] = 0xFF;
    const char* const kInvalid = "-1:Index entry time is INVALID. time1=1653479110, time2=1653479710.";
    const Case cases[] = {
        {"version word only", {0x01, 0xAB, 0x00, 0x00}, true, 0, {}},
        {"empty file", {}, false, 0, {}},
        {"shorter than the version", {0x01, 0xAB}, false, 0, {}},
        {"later version word", later, true, 0, {}},
        {"version with the top bit set", topBit, false, 0, {}},
        {"body cut short", std::vector<uint8_t>(twoEntries.begin(), twoEntries.end() - 10), true, 1, {}},
        {"v3 camera id cut short",
         std::vector<uint8_t>(twoEntries.begin(), twoEntries.end() - 2),
         false,
         1,
         {"-1:Failed to read index (INDEX_VERSION_3) (camera id)."}},
        {"v2 camera id cut short",
         std::vector<uint8_t>(kV2.begin(), kV2.end() - 1),
         false,
         0,
         {"-1:Failed to read index (camera id)."}},
        {"begin seconds above 2^31", unsignedBegin, true, 1, {}},
        // Read back they carried into the seconds, and written back wrapped.
        {"begin milliseconds of 1000", beginMs1000, false, 0, {kInvalid}},
        {"end milliseconds of 2^32 - 1", endMsHuge, false, 0, {kInvalid}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        const std::string path = Path("25052213.idx");
        WriteFileBytes(path, c.bytes);
        std::vector<IndexEntry> out;
        EXPECT_EQ(engine.LoadIndex(0, path, out), c.result);
        EXPECT_EQ(out.size(), c.entries);
        EXPECT_EQ(errors, c.errors);
    }
    std::vector<IndexEntry> out;
    WriteFileBytes(Path("25052213.idx"), unsignedBegin);
    ASSERT_TRUE(engine.LoadIndex(0, Path("25052213.idx"), out));
    EXPECT_EQ(out[0].entry.begin, 2147483648ULL * 1000 + 250);

    out.clear();
    EXPECT_FALSE(engine.LoadIndex(0, Path("missing.idx"), out));
}

// Whatever stands at an index path that is not a regular file of an
// index's size reads as a damaged index: nothing added, no error, and no
// buffer sized from anything but the file's own size (a folder used to
// "seek" to LONG_MAX and ask for that much memory; a FIFO used to block the
// open until a writer came).
TEST_F(IdxFileTest, AnythingButARegularFileOfIndexSizeIsDamaged) {
    namespace fs = std::filesystem;
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
    };
    const Case cases[] = {
        {"folder", [](const std::string& path) { fs::create_directory(path); }},
        {"FIFO", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
        {"0-byte file", [](const std::string& path) { WriteFileBytes(path, {}); }},
        {"sparse file of 4 GiB",
         [](const std::string& path) {
             WriteFileBytes(path, kV3);
             ASSERT_EQ(::truncate(path.c_str(), off_t(4) << 30), 0);
         }},
    };
    const std::string path = Path("25052213.idx");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(path);
        c.make(path);
        errors.clear();
        std::vector<IndexEntry> out;
        bool loaded = true;
        size_t largest = 0;
        {
            enginetest::AllocationWatch watch;
            loaded = engine.LoadIndex(0, path, out);
            largest = watch.Largest();
        }
        EXPECT_FALSE(loaded);
        EXPECT_TRUE(out.empty());
        EXPECT_THAT(errors, ::testing::IsEmpty());
        // Paths and log text only: none of these has index bytes to hold.
        EXPECT_LT(largest, 4096u);
    }
    // The same path holding an index again reads it, through the same buffer
    // sizing.
    fs::remove_all(path);
    WriteFileBytes(path, kV3);
    std::vector<IndexEntry> out;
    EXPECT_TRUE(engine.LoadIndex(0, path, out));
    EXPECT_EQ(out.size(), 1u);
}

// In a zone that counts leap seconds the broken-down local time of a leap
// second reads :60; the entry time is still a valid one, as it is in every
// other zone.
TEST(IdxFileLeapSecond, EntryAtALeapSecondIsValid) {
    enginetest::ScopedTimeZone zone("right/UTC");
    ArchiveTempDir dir;
    FileSystem engine;
    std::vector<std::string> errors;
    engine.ErrorReported.connect(
        [&errors](int, const char* text, unsigned long) { errors.push_back(text); });
    // 2016-12-31 23:59:60 in right/UTC, ten seconds long.
    constexpr uint32_t kLeap = 1483228826;
    std::vector<uint8_t> bytes = kV3;
    for (int i = 0; i < 4; ++i) {
        bytes[4 + i] = static_cast<uint8_t>(kLeap >> (8 * i));
        bytes[8 + i] = static_cast<uint8_t>((kLeap + 10) >> (8 * i));
    }
    const std::string path = dir.File("31121623.idx");
    WriteFileBytes(path, bytes);
    std::vector<IndexEntry> out;
    EXPECT_TRUE(engine.LoadIndex(0, path, out));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].entry.begin, uint64_t(kLeap) * 1000 + 250);
    EXPECT_TRUE(errors.empty());
}

TEST_F(IdxFileTest, SavesTheNewestVersionByteForByte) {
    const std::string path = Path("25052213.idx");
    ASSERT_TRUE(engine.SaveIndexFile(path, {}));
    EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{0x01, 0xAB, 0x00, 0x00}));

    IndexEntry e;
    e.entry.begin = kBeginS * 1000 + 250;
    e.entry.end = (kBeginS + 600) * 1000 + 999;
    e.entry.fileId = 0x1A2B;
    e.entry.volumeIndex = 7;
    e.cameraId = 5;
    ASSERT_TRUE(engine.SaveIndexFile(path, {e, e}));
    const auto expected = Concat(kV3, kV3, 4);
    const auto written = ReadBytes(path);
    EXPECT_EQ(written, expected) << "written:\n" << Hex(written) << "\nexpected:\n" << Hex(expected);

    std::vector<IndexEntry> back;
    ASSERT_TRUE(engine.LoadIndex(7, path, back));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].entry.begin, e.entry.begin);
    EXPECT_EQ(back[1].entry.end, e.entry.end);

    // Written over a longer file, only the new bytes are left.
    ASSERT_TRUE(engine.SaveIndexFile(path, {e}));
    EXPECT_EQ(ReadBytes(path), kV3);

    // A folder that does not exist: false without a message.
    EXPECT_FALSE(engine.SaveIndexFile(Path("no/such/folder/01010100.idx"), {e}));
    EXPECT_TRUE(errors.empty());
}

TEST_F(IdxFileTest, AppendsOnlyToAnExistingFileWithoutMarker) {
    IndexEntry e;
    e.entry.begin = kBeginS * 1000 + 250;
    e.entry.end = (kBeginS + 600) * 1000 + 999;
    e.entry.fileId = 0x1A2B;
    e.entry.volumeIndex = 7;
    e.cameraId = 5;

    const std::string path = Path("25052213.idx");
    // The recorder creates the hour's file empty; the first append writes the
    // version word, later ones only entries.
    WriteFileBytes(path, {});
    ASSERT_TRUE(engine.AppendIndexEntry(path, e));
    EXPECT_EQ(ReadBytes(path), kV3);
    ASSERT_TRUE(engine.AppendIndexEntry(path, e));
    EXPECT_EQ(ReadBytes(path), Concat(kV3, kV3, 4));

    // A re-index marker beside it: the hour is not trusted, nothing is added.
    WriteFileBytes(Path("25052213.ndx"), {});
    EXPECT_FALSE(engine.AppendIndexEntry(path, e));
    EXPECT_EQ(ReadBytes(path).size(), 4u + 2 * 25);

    // A missing file is not created.
    EXPECT_FALSE(engine.AppendIndexEntry(Path("26052213.idx"), e));
    EXPECT_FALSE(std::filesystem::exists(Path("26052213.idx")));
}

TEST_F(IdxFileTest, HourDetailIsReadOnceAndFiltersTheCamera) {
    // Volume 0 with an index file for the hour, volume 1 without one.
    const std::string vol0 = Path("v0"), vol1 = Path("v1");
    const int64_t begin = testsupport::LocalUnixMs(2022, 5, 25, 13, 10);
    const int hour = static_cast<int>(begin / 3600000);
    testsupport::IdxRecord cam5{static_cast<uint32_t>(begin / 1000), static_cast<uint32_t>(begin / 1000 + 60), 1, 0,
                                0, 0, 5};
    testsupport::IdxRecord cam6 = cam5;
    cam6.beginS += 100;
    cam6.camera = 6;
    WriteFileBytes(vol0 + "/INDEX/25052213.idx", testsupport::EncodeIdxFile(0xAB01, {cam5, cam6}));
    testsupport::MakeFolders(vol1 + "/INDEX");
    EXPECT_EQ(engine.HourIndexNames(hour), std::vector<std::string>{"25052213"});

    VindaraFileSystem::DirEntrySet entries;
    VindaraFileSystem::VolumeCounts counts;
    engine.LoadHourDetail(5, hour, {{0, vol0}, {1, vol1}}, entries, counts);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.begin()->begin, uint64_t(cam5.beginS) * 1000);
    EXPECT_EQ(counts, (VindaraFileSystem::VolumeCounts{{0, 1}, {1, 0}}));

    // Both files are cached now, the missing one as empty: files written
    // afterwards are not seen until the cache is cleared.
    WriteFileBytes(vol1 + "/INDEX/25052213.idx", testsupport::EncodeIdxFile(0xAB01, {cam6}));
    std::filesystem::remove(vol0 + "/INDEX/25052213.idx");
    entries.clear();
    counts.clear();
    engine.LoadHourDetail(6, hour, {{0, vol0}, {1, vol1}}, entries, counts);
    EXPECT_EQ(counts, (VindaraFileSystem::VolumeCounts{{0, 1}, {1, 0}}));

    engine.ClearCameraDirs();
    entries.clear();
    counts.clear();
    engine.LoadHourDetail(6, hour, {{0, vol0}, {1, vol1}}, entries, counts);
    EXPECT_EQ(counts, (VindaraFileSystem::VolumeCounts{{0, 0}, {1, 1}}));
}

TEST(IdxFileNames, HourFolderAndIndexName) {
    EXPECT_EQ(IndexNameToHourFolder("01010100"), "01-01-01 00");
    EXPECT_EQ(IndexNameToHourFolder("25052213.idx"), "25-05-22 13");
    EXPECT_EQ(IndexNameToHourFolder("2505"), "");
    EXPECT_EQ(HourFolderToIndexName("25-05-22 13"), "25052213.idx");
}

}  // namespace
