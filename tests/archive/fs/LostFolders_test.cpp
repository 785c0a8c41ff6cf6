// Start-up checks for empty hour folders and hour folders without an index
// file.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "EngineTestSupport.h"
#include "archive/fs/FileSystem.h"
#include "support/ArchiveTree.h"
#include "support/TempDir.h"

namespace fsys = std::filesystem;

namespace {

constexpr const char* kVideoKey = "[SOFTWARE\\QOR\\Vindara\\Video]\n";

class LostFoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        enginetest::WriteMachineRegistry("");
        fs = std::make_unique<FileSystem>();
        ASSERT_TRUE(fs->Init({dir.path()}, {}, {}, 1));
        // Kept for every case: an indexed hour, and empty INDEX and PROTECTED.
        testsupport::WriteFileBytes(Hour("05-03-22 10") + "/1._01", {0});
        testsupport::WriteFileBytes(dir.path() + "/INDEX/05032210.idx",
                                    testsupport::EncodeIdxFile(0xAB01, {{1646474460, 1646474520, 1, 0, 0, 0, 1}}));
    }
    void SetCheck(const char* value) {
        std::string text = kVideoKey;
        if (value) text += std::string("\"CheckLostFolders\"=\"") + value + "\"\n";
        enginetest::WriteMachineRegistry(text);
    }
    std::string Hour(const std::string& name) const { return dir.path() + "/" + name; }

    enginetest::ScopedTimeZone zone{"UTC0"};
    gavex_test::TempDir dir{"lostfolders"};
    std::unique_ptr<FileSystem> fs;
};

TEST_F(LostFoldersTest, ChecksRunOnlyWhenSwitchedOnWithOne) {
    const struct {
        const char* value;
        bool on;
    } cases[] = {{nullptr, false}, {"0", false}, {"2", false}, {"x", false}, {"1", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(missing)");
        testsupport::MakeFolders(Hour("06-03-22 11"));                   // empty
        testsupport::WriteFileBytes(Hour("06-03-22 12") + "/2._01", {0});  // no index file
        SetCheck(c.value);
        EXPECT_EQ(fs->CheckEmptyFolders(), c.on);
        EXPECT_EQ(fsys::exists(Hour("06-03-22 11")), !c.on);
        EXPECT_EQ(fs->CheckLostIndexFiles(), !c.on);
        EXPECT_TRUE(fsys::exists(Hour("06-03-22 12")));
        fsys::remove_all(Hour("06-03-22 12"));
    }
}

TEST_F(LostFoldersTest, EmptyHourFoldersAreRemovedOthersStay) {
    SetCheck("1");
    testsupport::MakeFolders(Hour("06-03-22 11"));
    testsupport::MakeFolders(Hour("06-03-22 13/sub"));  // holds only a folder: not empty
    testsupport::MakeFolders(Hour("INDEX2"));
    testsupport::MakeFolders(Hour("01-02-03 4"));
    testsupport::MakeFolders(Hour(".07-03-22 11"));
    fsys::remove_all(Hour("PROTECTED"));
    testsupport::MakeFolders(Hour("PROTECTED"));
    ASSERT_TRUE(fs->CheckEmptyFolders());
    EXPECT_FALSE(fsys::exists(Hour("06-03-22 11")));
    for (const char* kept : {"06-03-22 13", "INDEX2", "01-02-03 4", ".07-03-22 11", "PROTECTED", "INDEX", "05-03-22 10"})
        EXPECT_TRUE(fsys::exists(Hour(kept))) << kept;
    // Nothing left to find.
    EXPECT_FALSE(fs->CheckEmptyFolders());
}

TEST_F(LostFoldersTest, HourWithoutIndexFileIsLost) {
    SetCheck("1");
    EXPECT_TRUE(fs->CheckLostIndexFiles());

    // A re-index marker is no index file.
    testsupport::WriteFileBytes(Hour("06-03-22 12") + "/2._01", {0});
    testsupport::WriteFileBytes(dir.path() + "/INDEX/06032212.ndx", {});
    testsupport::MakeFolders(Hour("06-03-22 14"));  // empty and unindexed: removed on the way
    EXPECT_FALSE(fs->CheckLostIndexFiles());
    EXPECT_FALSE(fsys::exists(Hour("06-03-22 14")));
    EXPECT_TRUE(fsys::exists(Hour("06-03-22 12")));

    testsupport::WriteFileBytes(dir.path() + "/INDEX/06032212.idx", testsupport::EncodeIdxFile(0xAB01, {}));
    EXPECT_TRUE(fs->CheckLostIndexFiles());
}

// A finding makes the start-up rebuild every volume from its files; without
// the check the loaded index files are taken as they are.
TEST_F(LostFoldersTest, FindingRebuildsAtStartUp) {
    testsupport::WriteFileBytes(Hour("06-03-22 12") + "/2._01", {0});
    for (const char* value : {"0", "1"}) {
        SCOPED_TRACE(value);
        SetCheck(value);
        FileSystem engine;
        bool rebuilt = false;
        engine.RebuildProgressChanged.connect([&rebuilt](uint64_t) { rebuilt = true; });
        ASSERT_TRUE(engine.Init({dir.path()}, {}, {}, 1));
        const bool on = value[0] == '1';
        EXPECT_EQ(rebuilt, on);
        EXPECT_EQ(fsys::exists(dir.path() + "/INDEX/06032212.idx"), on);
    }
}

}  // namespace
