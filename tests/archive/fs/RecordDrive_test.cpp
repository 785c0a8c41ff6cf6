// Record drive checks: nothing to do while the record volume has room, ring
// cleaning when it is full or the check is forced, switching to another
// volume, and the refusals.

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HousekeepingFixture.h"

using namespace housekeeping;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

struct RecordDriveTest : public ::testing::Test {
    void Start(FileSystem& engine, const Archive& archive) {
        ASSERT_TRUE(engine.Init(archive.Drives()));
        engine.RecordDriveChanged.connect([this](const std::string& text) { changes.push_back(text); });
    }
    std::vector<std::string> changes;
};

TEST_F(RecordDriveTest, AVolumeWithRoomNeedsNothingUnlessTheCheckIsForced) {
    ScopedVolumeThresholds thresholds(false);
    Archive archive;
    FileSystem engine;
    Start(engine, archive);
    EXPECT_TRUE(engine.ChangeRecordDrive(false));
    for (uint32_t id : {1u, 2u, 3u, 4u, 6u}) EXPECT_TRUE(Exists(archive.Path(id))) << id;

    // Forced: one ring cleaning pass takes the oldest hour.
    EXPECT_TRUE(engine.ChangeRecordDrive(true));
    for (uint32_t id : {1u, 2u, 4u}) EXPECT_FALSE(Exists(archive.Path(id))) << id;
    for (uint32_t id : {3u, 6u}) EXPECT_TRUE(Exists(archive.Path(id))) << id;
    EXPECT_THAT(changes, IsEmpty());
}

TEST_F(RecordDriveTest, AFullVolumeIsCleanedHourByHourUntilOnlyProtectedRecordsAreLeft) {
    ScopedVolumeThresholds thresholds(true);
    Archive archive;
    FileSystem engine;
    Start(engine, archive);
    ASSERT_EQ(Command(engine, 2, QOR_FS::PROTECT, TimeText(archive.Get(6).beginMs)), 1);
    // The volume stays full: once nothing is left to delete the check gives up.
    EXPECT_FALSE(engine.ChangeRecordDrive(false));
    for (uint32_t id : {1u, 2u, 3u, 4u}) EXPECT_FALSE(Exists(archive.Path(id))) << id;
    EXPECT_TRUE(Exists(archive.ProtectedPath(6)));
    EXPECT_THAT(RecordBegins(engine, 1), IsEmpty());
    EXPECT_THAT(RecordBegins(engine, 2), ElementsAre(archive.Get(6).beginMs));
    EXPECT_THAT(changes, IsEmpty());
}

TEST_F(RecordDriveTest, RecordingMovesToTheVolumeThatLostTheNewestRecords) {
    ScopedVolumeThresholds thresholds(true);
    Archive archive(true);
    FileSystem engine;
    Start(engine, archive);
    engine.SetRecordVolume(1);
    engine.ChangeRecordDrive(false);
    ASSERT_FALSE(changes.empty());
    EXPECT_THAT(changes.front(), StartsWith(*archive.Drives().begin() + " ("));
    EXPECT_THAT(changes.front(), EndsWith("GB free)"));
}

TEST_F(RecordDriveTest, AMissingArchiveFolderRefusesTheForcedCheck) {
    ScopedVolumeThresholds thresholds(false);
    Archive archive;
    FileSystem engine;
    Start(engine, archive);
    const std::string moved = archive.Root() + "/moved";
    std::filesystem::rename(archive.Folder(), moved);
    EXPECT_FALSE(engine.ChangeRecordDrive(true));
    std::filesystem::rename(moved, archive.Folder());
    for (uint32_t id : {1u, 2u, 3u, 4u, 6u}) EXPECT_TRUE(Exists(archive.Path(id))) << id;
}

TEST_F(RecordDriveTest, FindRecordVolumePrefersAVolumeWithRecordsAndRoomThenAnEmptyOne) {
    Archive archive(true);
    FileSystem engine;
    Start(engine, archive);
    uint8_t volume = 9;
    {
        ScopedVolumeThresholds thresholds(false);
        ASSERT_TRUE(engine.FindRecordVolume(volume));
        EXPECT_EQ(volume, 0);
    }
    ScopedVolumeThresholds thresholds(true);
    EXPECT_FALSE(engine.FindRecordVolume(volume));
    // Volume 1 loses its only record: it becomes the volume without records.
    ASSERT_TRUE(engine.DeleteCameraRecords(1, static_cast<uint64_t>(archive.Get(5).beginMs), 0));
    ASSERT_TRUE(engine.FindRecordVolume(volume));
    EXPECT_EQ(volume, 1);
}

}  // namespace
