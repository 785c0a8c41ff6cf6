// Removal of deleted records from disk: single files with their companions,
// hour folders (only the files the archive names go), index files and the
// deletion runs over several volumes.

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HousekeepingFixture.h"
#include "archive/fs/RemoveRecords.h"

using namespace housekeeping;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TEST(ArchiveFileNameTest, OnlyNamesTheArchiveGivesAreArchiveFiles) {
    const struct {
        const char* name;
        bool archive;
    } cases[] = {
        {"1A2B._03", true},          {"1A2B.w03", true},       {"1A2B.t03", true},
        {"1A2B._03.protected", true}, {"1A2B._A0", true},      {"FF._1F4", true},
        {"1a2b._03", false},         {"01A2B._03", false},     {"1A2B._03.bak", false},
        {"1A2B.x03", false},         {"notes.txt", false},     {"1A2B._3", false},
        {"1A2B._05.protected.old", false}, {"label.iss", false}, {"._03", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsArchiveFileName(c.name, "05-03-24 10"), c.archive) << c.name;
}

class RemoveRecordsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine.Init(archive.Drives())); }

    Archive archive;
    FileSystem engine;
};

TEST_F(RemoveRecordsTest, RemoveFileTakesTheCompanionsAndReportsFailure) {
    const std::string video = archive.Path(1);
    const std::string sound = archive.HourFolder(archive.Get(1).beginMs) + "/1.w01";
    const std::string titles = archive.HourFolder(archive.Get(1).beginMs) + "/1.t01";
    gavex_test::WriteFileString(sound, "s");
    gavex_test::WriteFileString(titles, "t");
    EXPECT_TRUE(engine.RemoveFile(video.c_str(), 0, 0));
    EXPECT_FALSE(Exists(video));
    EXPECT_FALSE(Exists(sound));
    EXPECT_FALSE(Exists(titles));

    EXPECT_FALSE(engine.RemoveFile(video.c_str(), 0, 0));
    const std::string plain = archive.Root() + "/plain.bin";
    EXPECT_FALSE(engine.RemoveFile(plain.c_str(), 0, 0));
    gavex_test::WriteFileString(plain, "x");
    EXPECT_TRUE(engine.RemoveFile(plain.c_str(), 0, 0));
    EXPECT_FALSE(Exists(plain));
}

TEST_F(RemoveRecordsTest, RemoveFileClosesTheFileInEveryReaderFirst) {
    ASSERT_EQ(ReadAt(engine, 1, archive.Get(2).beginMs), archive.Get(2).beginMs);
    ASSERT_EQ(ReadAt(engine, 1, archive.Get(2).beginMs, "second"), archive.Get(2).beginMs);
    ASSERT_TRUE(engine.RemoveFile(archive.Path(2).c_str(), 0, 0));
    EXPECT_FALSE(engine.GetReader("", 1)->IsCurrentFile(archive.Path(2)));
    EXPECT_FALSE(engine.GetReader("second", 1)->IsCurrentFile(archive.Path(2)));
}

TEST_F(RemoveRecordsTest, UnknownFilesInAnHourFolderSurviveTheRemovalOfItsLastRecord) {
    const int64_t t = archive.Get(3).beginMs;
    const std::string hour = archive.HourFolder(t);
    gavex_test::WriteFileString(hour + "/notes.txt", "keep me");
    gavex_test::WriteFileString(hour + "/3._01.bak", "keep me too");
    gavex_test::WriteFileString(hour + "/3.w01", "sound");
    const std::string ndx = archive.Folder() + "/INDEX/" + testsupport::LocalIndexName(t) + ".ndx";
    gavex_test::WriteFileString(ndx, "");

    ASSERT_EQ(Command(engine, 1, QOR_FS::DELETE_RECORD, TimeText(t)), 1);
    EXPECT_FALSE(Exists(archive.Path(3)));
    EXPECT_FALSE(Exists(hour + "/3.w01"));
    EXPECT_FALSE(Exists(archive.IndexFile(t)));
    EXPECT_FALSE(Exists(ndx));
    EXPECT_EQ(gavex_test::ReadFileString(hour + "/notes.txt"), "keep me");
    EXPECT_EQ(gavex_test::ReadFileString(hour + "/3._01.bak"), "keep me too");

    // Called directly on an hour that still has records, only archive files go.
    engine.RemoveHour(0, testsupport::LocalHourFolder(archive.Get(6).beginMs));
    EXPECT_FALSE(Exists(archive.Path(6)));
    EXPECT_FALSE(Exists(archive.IndexFile(archive.Get(6).beginMs)));
    EXPECT_FALSE(Exists(archive.HourFolder(archive.Get(6).beginMs)));
}

TEST_F(RemoveRecordsTest, ProtectionMarkersOfAnEmptiedHourGoWithIt) {
    const int64_t t = archive.Get(6).beginMs;
    ASSERT_EQ(Command(engine, 2, QOR_FS::PROTECT, TimeText(t)), 1);
    ASSERT_TRUE(Exists(archive.Path(6) + ".protected"));
    engine.RemoveHour(0, testsupport::LocalHourFolder(t));
    EXPECT_FALSE(Exists(archive.HourFolder(t)));
    EXPECT_TRUE(Exists(archive.ProtectedPath(6)));
    // Unprotecting later makes the hour folder again.
    ASSERT_EQ(Command(engine, 2, QOR_FS::UNPROTECT, TimeText(t)), 1);
    EXPECT_TRUE(Exists(archive.Path(6)));
}

TEST(RemoveRecordsVolumesTest, ADeletionOverTwoVolumesRemovesFromBoth) {
    Archive archive(true);
    FileSystem engine;
    ASSERT_TRUE(engine.Init(archive.Drives()));
    ASSERT_EQ(RecordBegins(engine, 1).size(), 4u);
    EXPECT_TRUE(engine.DeleteCameraRecords(1, static_cast<uint64_t>(At(0, 0, 0)), 24ull * 3600 * 1000));
    for (uint32_t id : {1u, 2u, 3u, 5u}) EXPECT_FALSE(Exists(archive.Path(id))) << id;
    EXPECT_TRUE(Exists(archive.Path(4)));
    EXPECT_TRUE(Exists(archive.Path(6)));
    EXPECT_THAT(RecordBegins(engine, 1), IsEmpty());
    EXPECT_FALSE(Exists(archive.HourFolder(archive.Get(5).beginMs, 1)));

    FileSystem restarted;
    ASSERT_TRUE(restarted.Init(archive.Drives()));
    EXPECT_THAT(RecordBegins(restarted, 1), IsEmpty());
    EXPECT_THAT(RecordBegins(restarted, 2), ElementsAre(archive.Get(4).beginMs, archive.Get(6).beginMs));
}

}  // namespace
