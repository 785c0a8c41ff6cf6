// Protecting, unprotecting and deleting records through the player interface
// over a small archive: where the files lie in each state, that frames stay
// readable, what the indexes say, and what a failed move leaves behind.

#include <filesystem>
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HousekeepingFixture.h"
#include "archive/files/FastIndex.h"

using namespace housekeeping;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Pair;

namespace {

class RecordCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(engine.Init(archive.Drives()));
        engine.ErrorReported.connect([this](int channel, const char* text, unsigned long) {
            errors.push_back(std::to_string(channel) + ": " + text);
        });
    }
    VindaraFileSystem::DirEntry EntryAt(int camera, int64_t beginMs) {
        return engine.FindCameraDir(camera)->FindEntry(static_cast<uint64_t>(beginMs));
    }

    Archive archive;
    FileSystem engine;
    std::vector<std::string> errors;
};

TEST_F(RecordCommandsTest, ProtectMovesTheRecordAndUnprotectBringsItBackReadableInBothStates) {
    const int64_t t = archive.Get(1).beginMs;
    ASSERT_EQ(ReadAt(engine, 1, t + 500), t + 500);  // the reader now has file 1 open

    std::string error;
    ASSERT_EQ(Command(engine, 1, QOR_FS::PROTECT, TimeText(t), &error), 1) << error;
    EXPECT_FALSE(Exists(archive.Path(1)));
    EXPECT_TRUE(Exists(archive.ProtectedPath(1)));
    EXPECT_TRUE(Exists(archive.Path(1) + ".protected"));
    EXPECT_EQ(EntryAt(1, t).isProtected, 1);
    EXPECT_TRUE(engine.GetReader("", 1)->IsCurrentFile(archive.ProtectedPath(1)));  // reopened at its new place
    EXPECT_EQ(ReadAt(engine, 1, t + 700), t + 700);
    EXPECT_EQ(ReadAt(engine, 1, t + 300, "other client"), t + 300);

    EXPECT_EQ(Command(engine, 1, QOR_FS::PROTECT, TimeText(t), &error), 0);
    EXPECT_EQ(error, "ProtectRecord QOR_FS::PROTECT error");

    {
        // A new engine over the same drives finds the record protected.
        FileSystem restarted;
        ASSERT_TRUE(restarted.Init(archive.Drives()));
        EXPECT_EQ(restarted.FindCameraDir(1)->FindEntry(t).isProtected, 1);
        EXPECT_EQ(ReadAt(restarted, 1, t + 900), t + 900);
    }

    ASSERT_EQ(Command(engine, 1, QOR_FS::UNPROTECT, TimeText(t), &error), 1) << error;
    EXPECT_TRUE(Exists(archive.Path(1)));
    EXPECT_FALSE(Exists(archive.ProtectedPath(1)));
    EXPECT_FALSE(Exists(archive.Path(1) + ".protected"));
    EXPECT_EQ(EntryAt(1, t).isProtected, 0);
    EXPECT_THAT(IndexRecords(engine, archive.IndexFile(t)), Contains(Pair(1, t / 1000)));
    EXPECT_EQ(ReadAt(engine, 1, t + 1200), t + 1200);

    EXPECT_EQ(Command(engine, 1, QOR_FS::UNPROTECT, TimeText(t), &error), 0);
    EXPECT_EQ(error, "ProtectRecord QOR_FS::UNPROTECT error");
}

TEST_F(RecordCommandsTest, ProtectTakesTheFirstRecordAtOrAfterTheTimeAndFailsForUnknownCameras) {
    // 10:00:03 lies inside file 1; the next record to begin is file 2.
    ASSERT_EQ(Command(engine, 1, QOR_FS::PROTECT, TimeText(At(10, 0, 3))), 1);
    EXPECT_TRUE(Exists(archive.ProtectedPath(2)));
    EXPECT_TRUE(Exists(archive.Path(1)));
    // After the last record there is nothing to protect; camera 9 has no directory.
    EXPECT_EQ(Command(engine, 1, QOR_FS::PROTECT, TimeText(At(23, 0, 0))), 0);
    EXPECT_EQ(Command(engine, 9, QOR_FS::PROTECT, TimeText(At(10, 0, 0))), 0);
    // A command without a readable time names no record.
    EXPECT_EQ(Command(engine, 1, QOR_FS::PROTECT, "time"), 0);
    EXPECT_TRUE(Exists(archive.Path(1)));
}

TEST(RecordCommandsLazyHourTest, TheAskedHourIsLoadedBeforeTheRecordIsLookedUp) {
    // The second engine starts from the fast index, so hour folders are known
    // but their records are read only when asked for.
    Archive archive;
    {
        FileSystem first;
        ASSERT_TRUE(first.Init(archive.Drives()));
    }
    FileSystem engine;
    ASSERT_TRUE(engine.Init(archive.Drives()));
    const int64_t t = archive.Get(3).beginMs;
    ASSERT_EQ(Command(engine, 1, QOR_FS::PROTECT, TimeText(t)), 1);
    EXPECT_TRUE(Exists(archive.ProtectedPath(3)));
}

// A move that cannot happen: the record stays where it was, readable, and the
// failure is reported.
struct FailedMoveCase {
    const char* what;
    unsigned code;
    bool protectFirst;
    // Makes the destination unusable; gets the archive.
    std::function<void(const Archive&)> block;
    // Where the video file must still be.
    std::function<std::string(const Archive&)> stays;
};

TEST_F(RecordCommandsTest, AFailedMoveLeavesTheRecordInPlaceAndReadable) {
    namespace fs = std::filesystem;
    const FailedMoveCase cases[] = {
        {"protect into a PROTECTED that is a file", QOR_FS::PROTECT, false,
         [](const Archive& a) {
             fs::remove_all(a.Folder() + "/PROTECTED");
             gavex_test::WriteFileString(a.Folder() + "/PROTECTED", "not a folder");
         },
         [](const Archive& a) { return a.Path(3); }},
        {"unprotect into an hour folder that is a file", QOR_FS::UNPROTECT, true,
         [](const Archive& a) {
             const std::string hour = a.HourFolder(a.Get(3).beginMs);
             fs::remove_all(hour);
             gavex_test::WriteFileString(hour, "not a folder");
         },
         [](const Archive& a) { return a.ProtectedPath(3); }},
    };
    for (const auto& c : cases) {
        Archive local;
        FileSystem fsEngine;
        ASSERT_TRUE(fsEngine.Init(local.Drives()));
        std::vector<std::string> reported;
        fsEngine.ErrorReported.connect(
            [&reported](int, const char* text, unsigned long) { reported.push_back(text); });
        const int64_t t = local.Get(3).beginMs;
        if (c.protectFirst) {
            ASSERT_EQ(Command(fsEngine, 1, QOR_FS::PROTECT, TimeText(t)), 1) << c.what;
        }
        const uint8_t before = fsEngine.FindCameraDir(1)->FindEntry(t).isProtected;
        ASSERT_EQ(ReadAt(fsEngine, 1, t + 100), t + 100) << c.what;
        c.block(local);
        reported.clear();

        std::string error;
        EXPECT_EQ(Command(fsEngine, 1, c.code, TimeText(t), &error), 0) << c.what;
        EXPECT_THAT(error, HasSubstr("ProtectRecord")) << c.what;
        EXPECT_TRUE(Exists(c.stays(local))) << c.what;
        EXPECT_EQ(fsEngine.FindCameraDir(1)->FindEntry(t).isProtected, before) << c.what;
        EXPECT_TRUE(fsEngine.GetReader("", 1)->IsCurrentFile(c.stays(local))) << c.what;
        EXPECT_THAT(reported, Contains(HasSubstr("is not renamed to"))) << c.what;
        EXPECT_THAT(reported, Contains(HasSubstr("failed; the record stays in place."))) << c.what;
        EXPECT_EQ(ReadAt(fsEngine, 1, t + 600), t + 600) << c.what;
        EXPECT_EQ(ReadAt(fsEngine, 1, t + 800, "fresh reader"), t + 800) << c.what;
    }
}

TEST_F(RecordCommandsTest, UnprotectWithoutItsMarkerStillMovesBackAndReportsTheMarker) {
    const int64_t t = archive.Get(2).beginMs;
    ASSERT_EQ(Command(engine, 1, QOR_FS::PROTECT, TimeText(t)), 1);
    std::filesystem::remove(archive.Path(2) + ".protected");
    errors.clear();
    ASSERT_EQ(Command(engine, 1, QOR_FS::UNPROTECT, TimeText(t)), 1);
    EXPECT_TRUE(Exists(archive.Path(2)));
    EXPECT_THAT(IndexRecords(engine, archive.IndexFile(t)), Contains(Pair(1, t / 1000)));
    EXPECT_THAT(errors, Contains(HasSubstr("Failed to set protected file")));
}

TEST_F(RecordCommandsTest, UpdateIndexFilesAddsWhatIsMissingAndRemovesWhatIsGiven) {
    const int64_t t = archive.Get(1).beginMs;
    const std::string idx = archive.IndexFile(t);
    const IndexEntry one{EntryAt(1, archive.Get(1).beginMs), 1};
    const IndexEntry two{EntryAt(1, archive.Get(2).beginMs), 1};
    const IndexEntry four{EntryAt(2, archive.Get(4).beginMs), 2};
    const auto all = IndexRecords(engine, idx);
    ASSERT_EQ(all.size(), 3u);

    engine.UpdateIndexFiles({one, four}, true);
    EXPECT_EQ(IndexRecords(engine, idx), (std::set<std::pair<int, int64_t>>{{1, archive.Get(2).beginMs / 1000}}));

    // Entry two is already there: the others are appended all the same.
    engine.UpdateIndexFiles({two, one, four}, false);
    EXPECT_EQ(IndexRecords(engine, idx), all);

    // Nothing missing: the file is left as it is.
    const auto bytes = gavex_test::ReadFileBytes(idx);
    engine.UpdateIndexFiles({one, two}, false);
    EXPECT_EQ(gavex_test::ReadFileBytes(idx), bytes);

    // A missing hour file is created with just the given records.
    std::filesystem::remove(idx);
    engine.UpdateIndexFiles({two}, false);
    EXPECT_EQ(IndexRecords(engine, idx), (std::set<std::pair<int, int64_t>>{{1, archive.Get(2).beginMs / 1000}}));
}

TEST_F(RecordCommandsTest, DeleteRecordRemovesItFromDiskIndexesAndDirectoryWhileNeighboursStay) {
    const Record& two = archive.Get(2);
    std::string error;
    ASSERT_EQ(Command(engine, 1, QOR_FS::DELETE_RECORD, TimeText(two.beginMs), &error), 1) << error;
    EXPECT_FALSE(Exists(archive.Path(2)));
    EXPECT_TRUE(Exists(archive.Path(1)));
    EXPECT_TRUE(Exists(archive.Path(4)));
    EXPECT_EQ(IndexRecords(engine, archive.IndexFile(two.beginMs)),
              (std::set<std::pair<int, int64_t>>{{1, archive.Get(1).beginMs / 1000}, {2, archive.Get(4).beginMs / 1000}}));
    EXPECT_THAT(RecordBegins(engine, 1), ElementsAre(archive.Get(1).beginMs, archive.Get(3).beginMs));

    // The last record of an hour takes the hour with it: folder, index file
    // and the fast index's line.
    const Record& three = archive.Get(3);
    ASSERT_EQ(Command(engine, 1, QOR_FS::DELETE_RECORD, TimeText(three.beginMs)), 1);
    EXPECT_FALSE(Exists(archive.HourFolder(three.beginMs)));
    EXPECT_FALSE(Exists(archive.IndexFile(three.beginMs)));
    uint64_t size = 0;
    FastIndexMap hours;
    ASSERT_TRUE(LoadFastIndex(archive.Folder(), size, hours));
    const int32_t hour10 = static_cast<int32_t>(archive.Get(1).beginMs / 3600000);
    const int32_t hour11 = static_cast<int32_t>(three.beginMs / 3600000);
    EXPECT_TRUE(hours[1].count(hour10));
    EXPECT_FALSE(hours[1].count(hour11));

    // A new engine over the same drives agrees.
    FileSystem restarted;
    ASSERT_TRUE(restarted.Init(archive.Drives()));
    EXPECT_THAT(RecordBegins(restarted, 1), ElementsAre(archive.Get(1).beginMs));
    EXPECT_EQ(ReadAt(restarted, 1, archive.Get(1).beginMs + 100), archive.Get(1).beginMs + 100);

    // Nothing left at that time: the command fails.
    EXPECT_EQ(Command(engine, 1, QOR_FS::DELETE_RECORD, TimeText(three.beginMs), &error), 0);
    EXPECT_EQ(error, "DeleteRecord error");
}

TEST_F(RecordCommandsTest, ADeletionWithoutATimeDeletesNothing) {
    for (const char* text : {"", "time", "time garbage"}) {
        EXPECT_EQ(Command(engine, 1, QOR_FS::DELETE_RECORD, text), 0) << text;
    }
    EXPECT_FALSE(engine.DeleteRecords(1, boost::posix_time::ptime(), boost::posix_time::ptime()));
    EXPECT_EQ(RecordBegins(engine, 1).size(), 3u);
    for (uint32_t id : {1u, 2u, 3u}) EXPECT_TRUE(Exists(archive.Path(id))) << id;
}

TEST_F(RecordCommandsTest, ProtectedRecordsAreNotDeleted) {
    const int64_t t = archive.Get(1).beginMs;
    ASSERT_EQ(Command(engine, 1, QOR_FS::PROTECT, TimeText(t)), 1);
    EXPECT_EQ(Command(engine, 1, QOR_FS::DELETE_RECORD, TimeText(t)), 0);
    EXPECT_TRUE(Exists(archive.ProtectedPath(1)));
    EXPECT_EQ(RecordBegins(engine, 1).front(), t);
}

TEST_F(RecordCommandsTest, DeleteRecordsOverARangeDeletesTheCamerasRecordsInItAndClosesItsReaders) {
    ASSERT_EQ(ReadAt(engine, 1, archive.Get(1).beginMs), archive.Get(1).beginMs);
    const size_t readers = engine.GetReaderCount();
    const auto local = [](int64_t unixMs) {
        const TSS t = TSS::FromUtc(static_cast<uint64_t>(unixMs) + kArchiveUnixOffsetMs);
        return boost::posix_time::ptime(boost::gregorian::date(t.wYear, t.wMonth, t.wDay),
                                        boost::posix_time::hours(t.wHour) + boost::posix_time::minutes(t.wMinute) +
                                            boost::posix_time::seconds(t.wSecond));
    };
    EXPECT_TRUE(engine.DeleteRecords(1, local(At(9, 0, 0)), local(At(10, 59, 0))));
    EXPECT_EQ(engine.GetReaderCount(), readers - 1);
    EXPECT_FALSE(Exists(archive.Path(1)));
    EXPECT_FALSE(Exists(archive.Path(2)));
    EXPECT_TRUE(Exists(archive.Path(3)));
    EXPECT_TRUE(Exists(archive.Path(4)));
    EXPECT_THAT(RecordBegins(engine, 1), ElementsAre(archive.Get(3).beginMs));
    EXPECT_FALSE(engine.DeleteRecords(1, local(At(9, 0, 0)), local(At(9, 30, 0))));
}

}  // namespace
