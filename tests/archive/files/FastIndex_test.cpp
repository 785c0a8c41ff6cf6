#include "archive/files/FastIndex.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::ostringstream out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02X", bytes[i]);
        out << b << ((i % 16 == 15) ? "\n" : " ");
    }
    return out.str();
}

// An archive folder with its INDEX sub-folder.
struct Archive {
    gavex_test::TempDir dir{"fastindex"};
    Archive() { ::mkdir((dir.path() + "/INDEX").c_str(), 0755); }
    std::string file() const { return dir.path() + "/INDEX/fastIndex.index"; }
};

TEST(FastIndexTest, HeaderAndEntryBytes) {
    // 10 magic bytes, version 2, the creation time 0x0123456789ABCDEF, 80 zeros.
    std::vector<uint8_t> expected = {'F', 'A', 'S', 'T', '_', 'I', 'N', 'D', 'E', 'X', 2, 0, 0, 0, 0, 0, 0, 0,
                                     0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
    expected.resize(106, 0);
    const auto header = BuildFastIndexHeader(0x0123456789ABCDEFULL);
    EXPECT_EQ(header, expected) << Hex(header);

    std::vector<uint8_t> entries;
    AppendFastIndexEntryBytes(entries, FastIndexHourEntry{0, 5, 460000});
    AppendFastIndexEntryBytes(entries, FastIndexHourEntry{7, -1, 0x01020304});
    const std::vector<uint8_t> expectedEntries = {0, 5, 0, 0, 0, 0xE0, 0x04, 0x07, 0x00,
                                                  0, 0xFF, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1};
    EXPECT_EQ(entries, expectedEntries) << Hex(entries);
}

TEST(FastIndexTest, SaveLoadRoundTrip) {
    Archive archive;
    const std::vector<FastIndexHourEntry> entries = {{0, 5, 460000}, {0, 5, 460001}, {0, 5, 460000},
                                                     {0, 12, 470000}, {0, -3, 1}};
    SaveFastIndex(archive.dir.path(), entries, 0);
    const auto bytes = gavex_test::ReadFileBytes(archive.file());
    ASSERT_EQ(bytes.size(), 106u + 5 * 9);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 10), "FAST_INDEX");
    const std::vector<uint8_t> firstEntry(bytes.begin() + 106, bytes.begin() + 115);
    EXPECT_EQ(firstEntry, (std::vector<uint8_t>{0, 5, 0, 0, 0, 0xE0, 0x04, 0x07, 0x00})) << Hex(firstEntry);

    uint64_t size = 0;
    FastIndexMap hours;
    ASSERT_TRUE(LoadFastIndex(archive.dir.path(), size, hours));
    EXPECT_EQ(size, bytes.size());
    const FastIndexMap expected = {{5, {460000, 460001}}, {12, {470000}}, {-3, {1}}};
    EXPECT_EQ(hours, expected);
}

// Saved over a longer fast index, the file holds the new entries only.
TEST(FastIndexTest, SaveOverALongerFileLeavesOnlyTheNewEntries) {
    Archive archive;
    std::vector<FastIndexHourEntry> many;
    for (int32_t h = 0; h < 50; ++h) many.push_back(FastIndexHourEntry{0, 9, 460000 + h});
    SaveFastIndex(archive.dir.path(), many, 0);
    ASSERT_EQ(gavex_test::ReadFileBytes(archive.file()).size(), 106u + 50 * 9);

    SaveFastIndex(archive.dir.path(), {{0, 5, 460000}}, 0);
    EXPECT_EQ(gavex_test::ReadFileBytes(archive.file()).size(), 106u + 9);
    uint64_t size = 0;
    FastIndexMap hours;
    ASSERT_TRUE(LoadFastIndex(archive.dir.path(), size, hours));
    EXPECT_EQ(hours, (FastIndexMap{{5, {460000}}}));
}

TEST(FastIndexTest, AppendCreatesTheFileWithAHeader) {
    Archive archive;
    ASSERT_TRUE(AppendFastIndexEntry(archive.dir.path(), FastIndexHourEntry{0, 5, 460000}));
    EXPECT_EQ(gavex_test::ReadFileBytes(archive.file()).size(), 115u);
    ASSERT_TRUE(AppendFastIndexEntry(archive.dir.path(), FastIndexHourEntry{0, 5, 460000}));
    ASSERT_TRUE(AppendFastIndexEntry(archive.dir.path(), FastIndexHourEntry{0, 6, 460002}));
    EXPECT_EQ(gavex_test::ReadFileBytes(archive.file()).size(), 133u);

    uint64_t size = 0;
    FastIndexMap hours;
    ASSERT_TRUE(LoadFastIndex(archive.dir.path(), size, hours));
    EXPECT_EQ(hours, (FastIndexMap{{5, {460000}}, {6, {460002}}}));
}

TEST(FastIndexTest, AppendOfSeveralEntriesWritesThemAllAfterOneHeader) {
    Archive archive;
    const std::vector<FastIndexHourEntry> entries = {{0, 5, 460000}, {0, 6, 460002}, {0, 5, 460001}};
    ASSERT_TRUE(AppendFastIndexEntries(archive.dir.path(), entries));
    ASSERT_TRUE(AppendFastIndexEntries(archive.dir.path(), {{0, 7, 1}}));
    EXPECT_EQ(gavex_test::ReadFileBytes(archive.file()).size(), 106u + 4 * 9u);

    uint64_t size = 0;
    FastIndexMap hours;
    ASSERT_TRUE(LoadFastIndex(archive.dir.path(), size, hours));
    EXPECT_EQ(hours, (FastIndexMap{{5, {460000, 460001}}, {6, {460002}}, {7, {1}}}));
}

TEST(FastIndexTest, AppendFailsWhenTheFileCannotBeOpened) {
    gavex_test::TempDir dir{"fastindex"};  // no INDEX folder
    EXPECT_FALSE(AppendFastIndexEntry(dir.path() + "/missing", FastIndexHourEntry{0, 1, 1}));
}

TEST(FastIndexTest, AppendReportsAFailedWrite) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    gavex_test::TempDir dir{"fastindex"};
    ::mkdir((dir.path() + "/INDEX").c_str(), 0755);
    ASSERT_EQ(::symlink("/dev/full", (dir.path() + "/INDEX/fastIndex.index").c_str()), 0);
    EXPECT_FALSE(AppendFastIndexEntry(dir.path(), FastIndexHourEntry{0, 1, 1}));
}

TEST(FastIndexTest, LoadRejectsForeignFilesAndSkipsAPartialEntry) {
    Archive archive;
    uint64_t size = 1;
    FastIndexMap hours;
    EXPECT_FALSE(LoadFastIndex(archive.dir.path(), size, hours));  // missing
    EXPECT_EQ(size, 0u);

    std::vector<uint8_t> bytes = BuildFastIndexHeader(0);
    bytes[10] = 1;  // version 1
    AppendFastIndexEntryBytes(bytes, FastIndexHourEntry{0, 5, 9});
    gavex_test::WriteFileBytes(archive.file(), bytes);
    EXPECT_FALSE(LoadFastIndex(archive.dir.path(), size, hours));
    EXPECT_TRUE(hours.empty());

    gavex_test::WriteFileBytes(archive.file(), std::vector<uint8_t>{'F', 'A', 'S', 'T'});
    EXPECT_FALSE(LoadFastIndex(archive.dir.path(), size, hours));

    // An append cut short leaves 4 bytes of a last entry: they are not read.
    bytes = BuildFastIndexHeader(0);
    AppendFastIndexEntryBytes(bytes, FastIndexHourEntry{0, 5, 9});
    AppendFastIndexEntryBytes(bytes, FastIndexHourEntry{0, 6, 10});
    bytes.resize(bytes.size() - 5);
    gavex_test::WriteFileBytes(archive.file(), bytes);
    ASSERT_TRUE(LoadFastIndex(archive.dir.path(), size, hours));
    EXPECT_EQ(size, 106u + 9 + 4);
    EXPECT_EQ(hours, (FastIndexMap{{5, {9}}}));

    // A header alone is a valid, empty index.
    gavex_test::WriteFileBytes(archive.file(), BuildFastIndexHeader(0));
    hours.clear();
    ASSERT_TRUE(LoadFastIndex(archive.dir.path(), size, hours));
    EXPECT_TRUE(hours.empty());
}

TEST(FastIndexTest, SavingNothingDeletesTheFile) {
    Archive archive;
    SaveFastIndex(archive.dir.path(), {{0, 1, 2}}, 0);
    ASSERT_EQ(::access(archive.file().c_str(), F_OK), 0);
    SaveFastIndex(archive.dir.path(), {}, 0);
    EXPECT_NE(::access(archive.file().c_str(), F_OK), 0);
    EXPECT_FALSE(DeleteFastIndex(archive.dir.path()));
}

TEST(FastIndexTest, ChunkedSave) {
    struct Case {
        size_t total;
        int chunkMb;
        std::vector<size_t> pieces;
    } cases[] = {
        {1800000, 1, {1048576, 751424}},
        {1800000, 0, {1800000}},
        {1800000, -4, {1800000}},
        {1048575, 1, {1048575}},
        {2097152, 1, {1048576, 1048576}},
    };
    for (const auto& c : cases) EXPECT_EQ(FastIndexChunkSizes(c.total, c.chunkMb), c.pieces) << c.total;

    Archive archive;
    std::vector<FastIndexHourEntry> entries(200000);
    for (size_t i = 0; i < entries.size(); ++i) entries[i] = {0, static_cast<int32_t>(i % 7), static_cast<int32_t>(i)};
    SaveFastIndex(archive.dir.path(), entries, 1);
    EXPECT_EQ(gavex_test::ReadFileBytes(archive.file()).size(), 106u + 1800000u);
    uint64_t size = 0;
    FastIndexMap hours;
    ASSERT_TRUE(LoadFastIndex(archive.dir.path(), size, hours));
    size_t total = 0;
    for (const auto& camera : hours) total += camera.second.size();
    EXPECT_EQ(total, 200000u);
}

TEST(FastIndexTest, IndexFolderIsFoundInAnyCase) {
    gavex_test::TempDir dir{"fastindex"};
    ::mkdir((dir.path() + "/index").c_str(), 0755);
    SaveFastIndex(dir.path(), {{0, 3, 4}}, 0);
    EXPECT_EQ(::access((dir.path() + "/index/fastIndex.index").c_str(), F_OK), 0);
    EXPECT_EQ(FastIndexPath(dir.path()), dir.path() + "/index/fastIndex.index");
}

}  // namespace
