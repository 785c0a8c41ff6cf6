#include "platform/Dir.h"

#include <chrono>
#include <fstream>

#include <gtest/gtest.h>

#include "support/TempDir.h"

using namespace platform;

namespace {

TEST(Paths, JoinAndSplitWithSlashes) {
    struct Case {
        const char* a;
        const char* b;
        const char* joined;
    } cases[] = {
        {"/data", "VIDEO", "/data/VIDEO"},
        {"/data/", "VIDEO", "/data/VIDEO"},
        {"/data/", "/VIDEO", "/data/VIDEO"},
        {"", "VIDEO", "VIDEO"},
        {"/data", "", "/data"},
        {"Mixed Case", "05-03-22 14", "Mixed Case/05-03-22 14"},
    };
    for (const Case& c : cases) EXPECT_EQ(JoinPath(c.a, c.b), c.joined) << c.a << " + " << c.b;
    EXPECT_EQ(FileNamePart("/a/b/C.txt"), "C.txt");
    EXPECT_EQ(FileNamePart("/a/b/"), "b");
    EXPECT_EQ(FileNamePart("name"), "name");
    EXPECT_EQ(ParentPath("/a/b/C.txt"), "/a/b");
    EXPECT_EQ(ParentPath("/a"), "/");
    EXPECT_EQ(ParentPath("name"), "");
    std::string longPath(1000, 'x');
    EXPECT_EQ(JoinPath(longPath, longPath).size(), 2001u);  // no length limit
}

TEST(Paths, WindowsNameOrder) {
    // Upper-cased comparison puts '_' after the letters; names equal without
    // case are ordered by their bytes.
    EXPECT_LT(CompareNamesWindowsOrder("A", "a"), 0);
    EXPECT_LT(CompareNamesWindowsOrder("a", "B"), 0);
    EXPECT_LT(CompareNamesWindowsOrder("Z10", "z2"), 0);
    EXPECT_LT(CompareNamesWindowsOrder("z2", "_x"), 0);
    EXPECT_LT(CompareNamesWindowsOrder("_x", "\xC3\xA4"), 0);  // U+00E4 upper-cases to U+00C4
    EXPECT_EQ(CompareNamesWindowsOrder("same", "same"), 0);
    EXPECT_TRUE(EqualsNoCase("\xC3\xA4rger", "\xC3\x84RGER"));
    EXPECT_FALSE(EqualsNoCase("video", "videos"));
}

TEST(Dir, ListsEntriesSortedAndFindsChildrenWithoutCase) {
    gavex_test::TempDir dir{"platform"};
    for (const char* name : {"b", "A", "a", "_x", "z2", "\xC3\xA4"}) std::ofstream(dir / name) << "12345";
    ASSERT_TRUE(CreateDirectories(dir / "Z10/deeper/still"));
    bool ok = false;
    std::vector<DirEntry> entries = ListDirectory(dir.path(), &ok);
    ASSERT_TRUE(ok);
    std::vector<std::string> names;
    for (const DirEntry& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "a", "b", "Z10", "z2", "_x", "\xC3\xA4"}));
    EXPECT_TRUE(entries[3].isDirectory);
    EXPECT_FALSE(entries[0].isDirectory);
    EXPECT_EQ(entries[0].size, 5u);
    EXPECT_GT(entries[0].modifiedUnixMs, 0);

    EXPECT_EQ(FindChildNoCase(dir.path(), "z10"), "Z10");
    EXPECT_EQ(FindChildNoCase(dir.path(), "a"), "a");   // exact match first
    EXPECT_EQ(FindChildNoCase(dir.path(), "B"), "b");
    EXPECT_EQ(FindChildNoCase(dir.path(), "\xC3\x84"), "\xC3\xA4");
    EXPECT_EQ(FindChildNoCase(dir.path(), "missing"), std::nullopt);
    EXPECT_EQ(FindChildNoCase(dir / "nowhere", "x"), std::nullopt);

    ListDirectory(dir / "nowhere", &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(IsDirectory(dir / "Z10/deeper"));
    EXPECT_TRUE(PathExists(dir / "b"));
    EXPECT_FALSE(IsDirectory(dir / "b"));
    EXPECT_FALSE(CreateDirectories(dir / "b/sub"));  // a file is in the way
}

// The listing carries each file's creation time where the file system keeps
// one (0 where it does not), so callers need not ask for it file by file.
TEST(Dir, ListingCarriesCreationTimes) {
    gavex_test::TempDir dir{"platform"};
    const auto now = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const int64_t before = now() - 1000;  // file system clocks tick coarsely
    std::ofstream(dir / "made") << "x";
    const int64_t after = now() + 1000;
    const std::vector<DirEntry> entries = ListDirectory(dir.path());
    ASSERT_EQ(entries.size(), 1u);
    if (entries[0].createdUnixMs == 0) GTEST_SKIP() << "the file system keeps no creation time";
    EXPECT_GE(entries[0].createdUnixMs, before);
    EXPECT_LE(entries[0].createdUnixMs, after);
    EXPECT_LE(entries[0].createdUnixMs, entries[0].modifiedUnixMs);
}

}  // namespace
