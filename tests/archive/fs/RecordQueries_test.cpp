// Record queries of a channel around local midnight and the summer-time
// changes, answered from directories whose hours load on demand.

#include <filesystem>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "archive/fs/FileSystem.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

using ::testing::ElementsAre;
using testsupport::ArchiveTempDir;
using testsupport::ArchiveTree;
using testsupport::LocalUnixMs;
namespace pt = boost::posix_time;
namespace gr = boost::gregorian;

namespace {

class RecordQueriesTest : public ::testing::Test {
protected:
    RecordQueriesTest() : zone("Europe/Berlin") {
        enginetest::WriteMachineRegistry("");
        drive = dir.File("d");
        ArchiveTree tree(drive);
        for (const auto& r : Records()) tree.Add(r);
        tree.WriteIndexes();
        // The first engine writes the volume's fast index; the engine under
        // test starts from it, so every hour's records are read from the
        // hour index files when a query first reaches that hour.
        {
            FileSystem first;
            first.Init({drive});
        }
        EXPECT_TRUE(std::filesystem::exists(drive + "/VIDEO/INDEX/fastIndex.index"));
        EXPECT_TRUE(engine.Init({drive}));
    }

    static std::vector<testsupport::TreeRecord> Records() {
        return {
            // Camera 1 around midnight of 24/25 and 25/26 May 2022 (UTC+2).
            {1, 0x01, LocalUnixMs(2022, 5, 24, 23, 50), LocalUnixMs(2022, 5, 25, 0, 10)},
            {1, 0x02, LocalUnixMs(2022, 5, 25, 10, 0), LocalUnixMs(2022, 5, 25, 10, 15)},
            {1, 0x03, LocalUnixMs(2022, 5, 25, 13, 45, 10, 250), LocalUnixMs(2022, 5, 25, 13, 50, 0, 500)},
            {1, 0x04, LocalUnixMs(2022, 5, 25, 23, 59, 59), LocalUnixMs(2022, 5, 26, 0, 5)},
            {1, 0x05, LocalUnixMs(2022, 5, 26, 0, 0), LocalUnixMs(2022, 5, 26, 0, 1)},
            // Camera 2: one record.
            {2, 0x06, LocalUnixMs(2022, 5, 25, 13, 45, 10, 250), LocalUnixMs(2022, 5, 25, 13, 50)},
            // Camera 3 on the days summer time ends (30 Oct 2022, 25 hours:
            // 02:30 comes twice, 00:30 and 01:30 UTC) and begins (27 Mar
            // 2022, 23 hours).
            {3, 0x07, Utc0(2022, 10, 30, 0, 30), Utc0(2022, 10, 30, 0, 40)},
            {3, 0x08, Utc0(2022, 10, 30, 1, 30), Utc0(2022, 10, 30, 1, 40)},
            {3, 0x09, LocalUnixMs(2022, 10, 30, 23, 30), LocalUnixMs(2022, 10, 30, 23, 40)},
            {3, 0x0A, LocalUnixMs(2022, 3, 27, 23, 30), LocalUnixMs(2022, 3, 27, 23, 40)},
            {3, 0x0B, LocalUnixMs(2022, 3, 28, 0, 30), LocalUnixMs(2022, 3, 28, 0, 40)},
        };
    }
    static int64_t Utc0(int y, int mo, int d, int h, int mi) {
        return (pt::ptime(gr::date(y, mo, d), pt::hours(h) + pt::minutes(mi)) - pt::ptime(gr::date(1970, 1, 1)))
            .total_milliseconds();
    }

    enginetest::ScopedTimeZone zone;
    ArchiveTempDir dir;
    std::string drive;
    FileSystem engine;
};

TEST_F(RecordQueriesTest, FindRecordTimeTexts) {
    struct Case {
        int camera;
        const char* request;
        int withMs;
        const char* expected;
    };
    const Case cases[] = {
        {2, "last", 0, "25-05-22 13:45:10"},
        {2, "last", 1, "25-05-22 13:45:10.250"},
        {1, "last", 0, "26-05-22 00:00:00"},
        // A record that begins the evening before is not part of the day; one
        // that begins a second before midnight is, and ends the next day.
        {1, "25-05-22", 0, "10:00:00 10:15:00 -\n13:45:10 13:50:00 -\n23:59:59 00:05:00 -\n"},
        {1, "25-05-22", 1, "10:00:00.000 10:15:00.000 -\n13:45:10.250 13:50:00.500 -\n23:59:59.000 00:05:00.000 -\n"},
        {1, "24.05.2022", 0, "23:50:00 00:10:00 -\n"},
        {1, "26-05-22", 0, "00:00:00 00:01:00 -\n"},
        {1, "27-05-22", 0, ""},
        {1, "", 0, "24-05-22\n25-05-22\n26-05-22\n"},
        {1, nullptr, 0, "24-05-22\n25-05-22\n26-05-22\n"},
        {9, "", 0, ""},
        {9, "last", 0, ""},
        // The day of 25 hours keeps its last hour; the day of 23 hours does
        // not take the next day's first hour.
        {3, "30-10-22", 0, "02:30:00 02:40:00 -\n02:30:00 02:40:00 -\n23:30:00 23:40:00 -\n"},
        {3, "31-10-22", 0, ""},
        {3, "27-03-22", 0, "23:30:00 23:40:00 -\n"},
        {3, "28-03-22", 0, "00:30:00 00:40:00 -\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.camera) + " " + (c.request ? c.request : "(null)"));
        EXPECT_EQ(engine.FindRecordTime("", c.camera, c.request, c.withMs), c.expected);
    }
}

TEST_F(RecordQueriesTest, ProtectedRecordsAreMarked) {
    auto cameraDir = engine.GetCameraDir(1, false);
    ASSERT_TRUE(cameraDir);
    auto entry = cameraDir->FindEntry(LocalUnixMs(2022, 5, 25, 13, 0));
    ASSERT_EQ(entry.fileId, 3u);
    cameraDir->RemoveEntry(entry);
    entry.isProtected = 1;
    cameraDir->AddEntry(entry);
    EXPECT_EQ(engine.FindRecordTime("", 1, "25-05-22", 0),
              "10:00:00 10:15:00 -\n13:45:10 13:50:00 +\n23:59:59 00:05:00 -\n");
}

TEST_F(RecordQueriesTest, DaysAndDayEntries) {
    std::vector<gr::date> days;
    engine.GetRecordDays(1, days);
    EXPECT_THAT(days, ElementsAre(gr::date(2022, 5, 24), gr::date(2022, 5, 25), gr::date(2022, 5, 26)));
    days.clear();
    engine.GetRecordHours(9, days);
    EXPECT_TRUE(days.empty());

    std::vector<FileSystem::DayEntry> entries;
    engine.GetDayEntries(1, gr::date(2022, 5, 25), entries);
    const pt::ptime day(gr::date(2022, 5, 25));
    EXPECT_THAT(entries,
                ElementsAre(FileSystem::DayEntry(day + pt::hours(8), day + pt::hours(8) + pt::minutes(15) - pt::microsec(1)),
                            FileSystem::DayEntry(day + pt::hours(11) + pt::minutes(45) + pt::millisec(10250),
                                                 day + pt::hours(11) + pt::minutes(50) + pt::millisec(500) - pt::microsec(1)),
                            FileSystem::DayEntry(day + pt::hours(21) + pt::minutes(59) + pt::seconds(59),
                                                 day + pt::hours(22) + pt::minutes(5) - pt::microsec(1))));

    // The two records of the repeated hour keep their own instants.
    entries.clear();
    engine.GetDayEntries(3, gr::date(2022, 10, 30), entries);
    const pt::ptime oct(gr::date(2022, 10, 30));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].first, oct + pt::minutes(30));
    EXPECT_EQ(entries[1].first, oct + pt::minutes(90));
    EXPECT_EQ(entries[2].first, oct + pt::hours(22) + pt::minutes(30));

    entries.clear();
    engine.GetDayEntries(9, gr::date(2022, 5, 25), entries);
    EXPECT_TRUE(entries.empty());
}

TEST_F(RecordQueriesTest, EntryFilePaths) {
    auto cameraDir = engine.GetCameraDir(1, false);
    ASSERT_TRUE(cameraDir);
    auto entry = cameraDir->FindEntry(LocalUnixMs(2022, 5, 25, 10, 0));
    ASSERT_EQ(entry.fileId, 2u);
    EXPECT_EQ(engine.GetEntryFilePath(1, entry, '_'), drive + "/VIDEO/25-05-22 10/2._01");
    EXPECT_EQ(engine.GetEntryFilePath(1, entry, 't'), drive + "/VIDEO/25-05-22 10/2.t01");
    entry.isProtected = 1;
    EXPECT_EQ(engine.GetEntryFilePath(1, entry, '_'), drive + "/VIDEO/PROTECTED/25-05-22 10 2._01");
    entry.volumeIndex = 5;
    EXPECT_EQ(engine.GetEntryFilePath(1, entry, '_'), "");
    EXPECT_FALSE(engine.GetCameraDir(9, false));
}

TEST_F(RecordQueriesTest, DirectoryKeptBeyondTheEngineLoadsNothing) {
    auto other = std::make_unique<FileSystem>();
    ASSERT_TRUE(other->Init({drive}));
    auto cameraDir = other->GetCameraDir(1, false);
    ASSERT_TRUE(cameraDir);
    // Started from the fast index: only the newest hour was read (to choose
    // the record volume).
    const size_t loaded = cameraDir->EntryCount();
    EXPECT_LT(loaded, 5u);
    other.reset();
    // The other hours can no longer be read, and nothing reaches the
    // destroyed engine.
    size_t walked = 0;
    cameraDir->ForEachEntry(0, 0, [&](const VindaraFileSystem::DirEntry&) {
        ++walked;
        return true;
    });
    EXPECT_EQ(walked, loaded);
    EXPECT_EQ(cameraDir->EntryCount(), loaded);
}

}  // namespace
