// Bookmark files: their name and stored line, the BOOKMARK and UNBOOKMARK
// commands with the protection of the bookmarked records, and the listing of
// a channel's bookmarks, also by a new engine over the same folders.

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "HousekeepingFixture.h"
#include "archive/fs/Bookmarks.h"

using namespace housekeeping;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

namespace {

TSS Local(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
    TSS t{};
    t.wYear = static_cast<uint16_t>(year);
    t.wMonth = static_cast<uint16_t>(month);
    t.wDay = static_cast<uint16_t>(day);
    t.wHour = static_cast<uint16_t>(hour);
    t.wMinute = static_cast<uint16_t>(minute);
    t.wSecond = static_cast<uint16_t>(second);
    t.dwMilliseconds = static_cast<uint32_t>(ms);
    return t;
}

Bookmark DoorBookmark() {
    Bookmark b;
    b.comment = "Door";
    b.created = "05-03-22 14:31:07";
    b.color = 255;
    b.timeBegin = Local(2022, 3, 5, 14, 30, 0);
    b.timeEnd = Local(2022, 3, 5, 14, 35, 0);
    return b;
}

TEST(BookmarkFormatTest, FileNameAndStoredLine) {
    EXPECT_EQ(BookmarkFileName(3, Local(2022, 3, 5, 14, 30, 0)), "05-03-22 14-30-00_03.bkm");
    EXPECT_EQ(BookmarkFileName(120, Local(2022, 3, 5, 14, 30, 0)), "05-03-22 14-30-00_B4.bkm");
    EXPECT_EQ(FormatBookmarkLine(3, DoorBookmark()),
              "chan<3>,time_begin<05-03-22 14:30:00.000>,time_end<05-03-22 14:35:00.000>,created<05-03-22 14:31:07>,"
              "color<255>,datetime_exported<>,comment<Door>");
}

TEST(BookmarkFormatTest, ParamsRoundTripWithSuffixAndNestedBrackets) {
    Bookmark written = DoorBookmark();
    written.comment = "Gate <a<b>> left";
    written.timeEnd = Local(2022, 3, 5, 14, 35, 0, 250);
    Msg message;
    written.WriteParams(message, "4");
    Msg read;
    read.ParseParams(message.FormatParams());
    Bookmark back;
    back.ReadParams(read, "4");
    EXPECT_EQ(back.comment, written.comment);
    EXPECT_EQ(back.created, written.created);
    EXPECT_EQ(back.color, 255);
    EXPECT_EQ(back.timeBegin, written.timeBegin);
    EXPECT_EQ(back.timeEnd, written.timeEnd);

    // Missing keys read as empty texts, empty times and colour 0.
    Bookmark empty;
    empty.ReadParams(Msg(), "");
    EXPECT_EQ(empty.color, 0);
    EXPECT_TRUE(empty.timeBegin.IsEmpty());

    ChannelsBookmark channels;
    static_cast<Bookmark&>(channels) = DoorBookmark();
    channels.channels->push_back(2);
    channels.channels->push_back(7);
    Msg listed;
    channels.WriteParams(listed, "0");
    EXPECT_EQ(listed.GetParam("chans0"), "2;7;");
    EXPECT_EQ(listed.GetParam("comment0"), "Door");
}

class BookmarksTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine.Init(archive.Drives())); }
    std::string Protected(const std::string& name) const { return archive.Folder() + "/PROTECTED/" + name; }

    Archive archive;
    FileSystem engine;
};

TEST_F(BookmarksTest, BookmarkProtectsTheRangeWritesTheFileAndSurvivesARestart) {
    const std::string command =
        "CAM|1|BOOKMARK|time1<05-03-24 10:00:00>,time2<05-03-24 10:00:09>,comment<Door <left>>,color<255>";
    ASSERT_EQ(Command(engine, 1, QOR_FS::BOOKMARK, command), 1);
    EXPECT_TRUE(Exists(archive.ProtectedPath(1)));
    EXPECT_TRUE(Exists(archive.ProtectedPath(2)));
    EXPECT_TRUE(Exists(archive.Path(3)));
    EXPECT_TRUE(Exists(archive.Path(4)));  // another camera's record of the same hour

    const std::string file = Protected("05-03-24 10-00-00_01.bkm");
    const std::string line = gavex_test::ReadFileString(file);
    EXPECT_THAT(line, MatchesRegex("chan<1>,time_begin<05-03-24 10:00:00\\.000>,time_end<05-03-24 10:00:09\\.000>,"
                                   "created<[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}>,color<255>,"
                                   "datetime_exported<>,comment<Door <left>>\r\n"));

    const std::string listed = engine.GetBookmarks(1);
    Msg message;
    message.ParseParams(listed);
    EXPECT_EQ(message.GetParam("count"), "1");
    EXPECT_EQ(message.GetParam("chans0"), "1;");
    EXPECT_EQ(message.GetParam("comment0"), "Door <left>");
    EXPECT_EQ(message.GetParam("time_begin0"), "05-03-24 10:00:00.000");
    EXPECT_EQ(message.GetParam("color0"), "255");

    FileSystem restarted;
    ASSERT_TRUE(restarted.Init(archive.Drives()));
    EXPECT_EQ(restarted.GetBookmarks(1), listed);
    EXPECT_EQ(restarted.GetBookmarks(2), "count<0>");
    EXPECT_EQ(restarted.FindCameraDir(1)->FindEntry(archive.Get(2).beginMs).isProtected, 1);

    ASSERT_EQ(Command(restarted, 1, QOR_FS::UNBOOKMARK,
                      "CAM|1|UNBOOKMARK|time1<05-03-24 10:00:00>,time2<05-03-24 10:00:09>"),
              1);
    EXPECT_FALSE(Exists(file));
    EXPECT_TRUE(Exists(archive.Path(1)));
    EXPECT_TRUE(Exists(archive.Path(2)));
    EXPECT_EQ(restarted.GetBookmarks(1), "count<0>");
}

TEST_F(BookmarksTest, TheFileIsInTheLegacyCodePage) {
    ::setenv("GAVEX_LEGACY_CODEPAGE", "CP1251", 1);
    const std::string command = "CAM|1|BOOKMARK|time1<05-03-24 10:00:00>,time2<05-03-24 10:00:09>,"
                                "comment<\xD0\x94\xD0\xB2\xD0\xB5\xD1\x80\xD1\x8C>,color<1>";  // "Дверь"
    const int result = Command(engine, 1, QOR_FS::BOOKMARK, command);
    const std::string line = gavex_test::ReadFileString(Protected("05-03-24 10-00-00_01.bkm"));
    Msg message;
    message.ParseParams(engine.GetBookmarks(1));
    ::unsetenv("GAVEX_LEGACY_CODEPAGE");
    ASSERT_EQ(result, 1);
    EXPECT_NE(line.find("comment<\xC4\xE2\xE5\xF0\xFC>\r\n"), std::string::npos) << line;
    EXPECT_EQ(message.GetParam("comment0"), "\xD0\x94\xD0\xB2\xD0\xB5\xD1\x80\xD1\x8C");
}

TEST_F(BookmarksTest, BookmarkOfAnUnknownCameraFailsAndAnEmptyRangeStillWritesItsFile) {
    std::string error;
    EXPECT_EQ(Command(engine, 9, QOR_FS::BOOKMARK, "CAM|9|BOOKMARK|time1<05-03-24 10:00:00>", &error), 0);
    EXPECT_EQ(error, "BookmarkRecords QOR_FS::BOOKMARK error");

    ASSERT_EQ(Command(engine, 2, QOR_FS::BOOKMARK, "CAM|2|BOOKMARK|time1<05-03-24 03:00:00>,time2<05-03-24 03:10:00>"),
              1);
    EXPECT_TRUE(Exists(Protected("05-03-24 03-00-00_02.bkm")));
    EXPECT_TRUE(Exists(archive.Path(4)));
}

TEST_F(BookmarksTest, WithoutABeginNoRecordChangesItsProtection) {
    ASSERT_EQ(Command(engine, 1, QOR_FS::PROTECT, TimeText(archive.Get(2).beginMs)), 1);
    ASSERT_EQ(Command(engine, 1, QOR_FS::UNBOOKMARK, "CAM|1|UNBOOKMARK|comment<x>"), 1);
    EXPECT_TRUE(Exists(archive.ProtectedPath(2)));
    ASSERT_EQ(Command(engine, 1, QOR_FS::BOOKMARK, "CAM|1|BOOKMARK|time2<05-03-24 23:00:00>"), 1);
    EXPECT_TRUE(Exists(archive.Path(1)));
    EXPECT_TRUE(Exists(archive.Path(3)));
}

TEST_F(BookmarksTest, ListingGroupsFilesByCreatedTextAndSkipsOtherFiles) {
    const std::string same = "created<01-02-24 08:00:00>,color<3>,comment<Yard>";
    gavex_test::WriteFileString(Protected("05-03-24 10-00-00_03.bkm"),
                                "chan<3>,time_begin<05-03-24 10:00:00.000>,time_end<05-03-24 10:01:00.000>," + same +
                                    "\r\n");
    gavex_test::WriteFileString(Protected("05-03-24 10-00-00_05.bkm"),
                                "time_begin<05-03-24 10:00:00.000>,chan<5>," + same + "\r\n");
    gavex_test::WriteFileString(Protected("05-03-24 11-00-00_05.bkm"),
                                "chan<5>,time_begin<05-03-24 11:00:00.000>,created<other>\r\n");
    gavex_test::WriteFileString(Protected("short_05.bkm"), "chan<5>,created<short>\r\n");
    gavex_test::WriteFileString(Protected("05-03-24 12-00-00_05.BKM"), "chan<5>,created<upper>\r\n");

    Msg three;
    three.ParseParams(engine.GetBookmarks(3));
    EXPECT_EQ(three.GetParam("count"), "1");
    EXPECT_EQ(three.GetParam("chans0"), "3;5;");
    EXPECT_EQ(three.GetParam("comment0"), "Yard");

    Msg five;
    five.ParseParams(engine.GetBookmarks(5));
    EXPECT_EQ(five.GetParam("count"), "2");
    EXPECT_EQ(five.GetParam("chans0"), "3;5;");
    EXPECT_EQ(five.GetParam("created1"), "other");

    // The cache is read again only after this engine writes a bookmark file.
    std::filesystem::remove(Protected("05-03-24 11-00-00_05.bkm"));
    Msg cached;
    cached.ParseParams(engine.GetBookmarks(5));
    EXPECT_EQ(cached.GetParam("count"), "2");
    ASSERT_EQ(Command(engine, 1, QOR_FS::UNBOOKMARK, "CAM|1|UNBOOKMARK|time1<01-01-24 00:00:00>"), 1);
    Msg reread;
    reread.ParseParams(engine.GetBookmarks(5));
    EXPECT_EQ(reread.GetParam("count"), "1");
}

TEST_F(BookmarksTest, TwoBookmarksOfAChannelInTheSameSecondShareTheirFile) {
    ASSERT_EQ(Command(engine, 1, QOR_FS::BOOKMARK, "CAM|1|BOOKMARK|time1<05-03-24 11:00:00.100>,comment<first>"), 1);
    ASSERT_EQ(Command(engine, 1, QOR_FS::BOOKMARK, "CAM|1|BOOKMARK|time1<05-03-24 11:00:00.900>,comment<second>"), 1);
    const std::string line = gavex_test::ReadFileString(Protected("05-03-24 11-00-00_01.bkm"));
    EXPECT_THAT(line, HasSubstr("comment<second>"));
    EXPECT_THAT(line, ::testing::Not(HasSubstr("first")));
}

}  // namespace
