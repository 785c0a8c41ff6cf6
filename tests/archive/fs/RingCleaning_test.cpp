// Ring cleaning (the oldest hour of unprotected records across cameras) and
// the age-limited deletion by retention rules.

#include <algorithm>
#include <chrono>
#include <mutex>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HousekeepingFixture.h"
#include "ProcessLogCapture.h"
#include "archive/fs/RingCleaning.h"
#include "base/Log.h"
#include "platform/RegistryStore.h"

using namespace housekeeping;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

class RingCleaningTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine.Init(archive.Drives())); }

    ScopedVolumeThresholds thresholds{false};
    Archive archive;
    FileSystem engine;
};

TEST_F(RingCleaningTest, RemovesTheOldestHourOfEveryCamera) {
    ASSERT_EQ(engine.deleteOtherFile(), 0);
    for (uint32_t id : {1u, 2u, 4u}) EXPECT_FALSE(Exists(archive.Path(id))) << id;
    for (uint32_t id : {3u, 6u}) EXPECT_TRUE(Exists(archive.Path(id))) << id;
    EXPECT_FALSE(Exists(archive.HourFolder(archive.Get(1).beginMs)));
    EXPECT_FALSE(Exists(archive.IndexFile(archive.Get(1).beginMs)));
    EXPECT_THAT(RecordBegins(engine, 1), ElementsAre(archive.Get(3).beginMs));
    EXPECT_THAT(RecordBegins(engine, 2), ElementsAre(archive.Get(6).beginMs));
}

using enginetest::ProcessLogCapture;

TEST(RingCleaningLogTest, LogsItsStagesInOrderAndWhenThereIsNothingToDelete) {
    ProcessLogCapture log;
    if (!log.active) GTEST_SKIP() << "the process logger was set up earlier in this process";
    ScopedVolumeThresholds thresholds(false);
    Archive archive;
    FileSystem engine;
    ASSERT_TRUE(engine.Init(archive.Drives()));
    const std::string name = engine.GetName();
    ASSERT_EQ(engine.deleteOtherFile(), 0);
    int at = log.Find("[FS] " + name + "::deleteOtherFile[volume = -1] starting ...");
    ASSERT_GE(at, 0);
    for (const std::string& text : {
             "[FS] " + name + "::deleteOtherFile[volume = -1] stage 1 (search what to delete) ...",
             "[FS] " + name + "::deleteOtherFile stage 2[volume = -1] (delete from cache)...",
             "[FS] " + name + "::deleteOtherFile stage 3[volume = -1] (delete files from HDD )...",
             "[FS] " + name + "::deleteOtherFile[volume = -1] - delete 3 files during ",
         }) {
        const int next = log.Find(text, at);
        EXPECT_GT(next, at) << text;
        at = std::max(at, next);
    }
    EXPECT_GE(log.Find("searchToDeleteDuration = "), 0);

    // Protect what is left: the next runs find nothing.
    ASSERT_EQ(Command(engine, 1, QOR_FS::PROTECT, TimeText(archive.Get(3).beginMs)), 1);
    ASSERT_EQ(Command(engine, 2, QOR_FS::PROTECT, TimeText(archive.Get(6).beginMs)), 1);
    EXPECT_EQ(engine.deleteOtherFile(), -1);
    EXPECT_GE(log.Find("[FS] " + name + " nothing to delete. Exit."), 0);
}

TEST_F(RingCleaningTest, NeverRemovesAProtectedRecord) {
    const int64_t first = archive.Get(1).beginMs;
    ASSERT_EQ(Command(engine, 1, QOR_FS::PROTECT, TimeText(first)), 1);
    // Hour 10 (without the protected record), then hours 11 and 12, then nothing.
    EXPECT_EQ(engine.deleteOtherFile(), 0);
    EXPECT_FALSE(Exists(archive.Path(2)));
    EXPECT_FALSE(Exists(archive.Path(4)));
    EXPECT_TRUE(Exists(archive.Path(3)));
    EXPECT_EQ(engine.deleteOtherFile(), 0);
    EXPECT_FALSE(Exists(archive.Path(3)));
    EXPECT_EQ(engine.deleteOtherFile(), 0);
    EXPECT_FALSE(Exists(archive.Path(6)));
    EXPECT_EQ(engine.deleteOtherFile(), -1);

    EXPECT_TRUE(Exists(archive.ProtectedPath(1)));
    EXPECT_THAT(RecordBegins(engine, 1), ElementsAre(first));
    EXPECT_EQ(ReadAt(engine, 1, first + 200), first + 200);
}

TEST_F(RingCleaningTest, ACameraWithAMinimumKeepTimeKeepsItsHour) {
    engine.SetRetentionRule(2, RetentionRule{1000000, 0, false});
    ASSERT_EQ(engine.deleteOtherFile(), 0);
    EXPECT_FALSE(Exists(archive.Path(1)));
    EXPECT_FALSE(Exists(archive.Path(2)));
    EXPECT_TRUE(Exists(archive.Path(4)));
    EXPECT_THAT(RecordBegins(engine, 2), ElementsAre(archive.Get(4).beginMs, archive.Get(6).beginMs));
}

TEST(RingCleaningVolumesTest, AVolumeWithRoomTakesTheRecordingAndNothingIsDeleted) {
    ScopedVolumeThresholds thresholds(false);
    Archive archive(true);
    FileSystem engine;
    ASSERT_TRUE(engine.Init(archive.Drives()));
    engine.SetRecordVolume(1);
    EXPECT_EQ(engine.deleteOtherFile(), 0);
    for (uint32_t id : {1u, 2u, 3u, 4u, 5u, 6u}) EXPECT_TRUE(Exists(archive.Path(id))) << id;
}

TEST(RecordAgeTest, AgesAreWholeHoursInOneClock) {
    const uint64_t now = 1700000000000ull;
    EXPECT_EQ(RecordAgeHours(now, now - 3600000), 1);
    EXPECT_EQ(RecordAgeHours(now, now - 3599999), 0);
    EXPECT_EQ(RecordAgeHours(now, now - 10 * 3600000 - 1), 10);
    EXPECT_EQ(RecordAgeHours(now, now + 5000), 0);
}

TEST_F(RingCleaningTest, AgeLimitFromTheNewestRecordKeepsItsLastHour) {
    // Camera 1's newest record ends at 11:00:01.900: 10:00:00 is older than
    // an hour before that, 10:00:05 is not.
    engine.SetRetentionRule(1, RetentionRule{0, 1, false});
    engine.deleteNoMore();
    EXPECT_FALSE(Exists(archive.Path(1)));
    EXPECT_TRUE(Exists(archive.Path(2)));
    EXPECT_TRUE(Exists(archive.Path(3)));
    EXPECT_TRUE(Exists(archive.Path(4)));
    EXPECT_THAT(RecordBegins(engine, 1), ElementsAre(archive.Get(2).beginMs, archive.Get(3).beginMs));
}

TEST(RingCleaningAgeTest, AgeLimitFromNowComparesUtcTimes) {
    // Local time is two hours ahead of UTC: a record of 90 minutes ago is
    // older than one hour, one of 30 minutes ago is not.
    enginetest::ScopedTimeZone zone("GVX-2");
    gavex_test::TempDir tmp("housekeeping-age");
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    const int64_t older = now - 90 * 60 * 1000;
    const int64_t newer = now - 30 * 60 * 1000;
    testsupport::ArchiveTree tree(tmp.path() + "/d0");
    tree.Add({3, 7, older, older + 1000});
    tree.Add({3, 8, newer, newer + 1000});
    tree.WriteIndexes();

    FileSystem engine;
    ASSERT_TRUE(engine.Init({tmp.path() + "/d0"}));
    ASSERT_EQ(RecordBegins(engine, 3).size(), 2u);
    engine.SetRetentionRule(3, RetentionRule{0, 1, true});
    engine.deleteNoMore();
    EXPECT_THAT(RecordBegins(engine, 3), ElementsAre(newer));
    EXPECT_FALSE(Exists(tree.ArchiveFolder() + "/" + testsupport::LocalHourFolder(older) + "/7._03"));
    EXPECT_TRUE(Exists(tree.ArchiveFolder() + "/" + testsupport::LocalHourFolder(newer) + "/8._03"));
}

TEST_F(RingCleaningTest, WithoutAgeRulesTheAgeLimitedDeletionDoesNothing) {
    engine.deleteNoMore();
    for (uint32_t id : {1u, 2u, 3u, 4u, 6u}) EXPECT_TRUE(Exists(archive.Path(id))) << id;
}

}  // namespace
