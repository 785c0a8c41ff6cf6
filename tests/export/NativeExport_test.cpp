// Native exports of a recorder archive on two volumes: the copy opens as an
// archive and gives the source's frames; its layout, indexes and settings;
// re-exporting into an earlier export; channel ids that are not numbers; the
// destination check; and that a cancel, a write failure or too little space
// leaves the destination as it was.

#include "export/NativeExport.h"


#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "NativeFixture.h"
#include "support/ScopedTmpfs.h"
#include "archive/files/ArchiveSettings.h"
#include "support/ArchiveTree.h"
#include "support/MediaFiles.h"

namespace {

using namespace exporttest;
namespace fsys = std::filesystem;

std::vector<int32_t> SettingsChannels(const std::string& path)
{
    Settings settings;
    settings.Load(path);
    return settings.GetChannelIds();
}

// Camera ids listed in an index file (version 0xAB01, 25-byte entries).
std::vector<uint32_t> IndexCameras(const std::string& path)
{
    const auto bytes = gavex_test::ReadFileBytes(path);
    std::vector<uint32_t> cameras;
    if (bytes.size() < 4 || bytes[0] != 0x01 || bytes[1] != 0xAB)
        return cameras;
    for (size_t at = 4; at + 25 <= bytes.size(); at += 25)
        cameras.push_back(bytes[at + 21] | bytes[at + 22] << 8 | bytes[at + 23] << 16 | uint32_t(bytes[at + 24]) << 24);
    return cameras;
}

std::string Hour(int64_t ms) { return testsupport::LocalHourFolder(ms); }
std::string Idx(int64_t ms) { return testsupport::LocalIndexName(ms) + ".idx"; }

TEST(NativeExport, DrivesCopyOpensAsAnArchiveWithTheSourcesFramesLayoutIndexesAndSettings)
{
    TwoVolumeArchive archive;
    ASSERT_FALSE(::testing::Test::HasFailure());
    auto source = Open(archive.Source());
    const std::string out = archive.dir / "out";
    const ExportRun run = RunExport(source, out,
                              {Task({"1", "2"}, Base(), Base() + 3'600'000, 0),
                               Task({"1", "2"}, Base() + 3'600'000, Base() + 7'200'000, 1)});
    EXPECT_EQ(run.report.kind, 0) << run.report.reason;
    EXPECT_EQ(run.report.code, 0);
    for (int row : {0, 1}) {
        const auto& percents = run.percents.at(row);
        EXPECT_EQ(std::count(percents.begin(), percents.end(), 100), 1) << row;
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << row;
    }

    const std::vector<std::string> expected = {
        ".volumes",
        "d1/",
        "d1/VIDEO/",
        "d1/VIDEO/" + Hour(Base()) + "/",
        "d1/VIDEO/" + Hour(Base()) + "/10._01",
        "d1/VIDEO/" + Hour(Base()) + "/11._02",
        "d1/VIDEO/INDEX/",
        "d1/VIDEO/INDEX/" + Idx(Base()),
        "d1/VIDEO/Settings.xml",
        "d2/",
        "d2/VIDEO/",
        "d2/VIDEO/" + Hour(Base() + 3'600'000) + "/",
        "d2/VIDEO/" + Hour(Base() + 3'600'000) + "/20._01",
        "d2/VIDEO/" + Hour(Base() + 3'600'000) + "/21._02",
        "d2/VIDEO/INDEX/",
        "d2/VIDEO/INDEX/" + Idx(Base() + 3'600'000),
        "d2/VIDEO/Settings.xml",
    };
    EXPECT_EQ(Listing(out), expected);
    EXPECT_EQ(SettingsChannels(out + "/d1/VIDEO/Settings.xml"), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(SettingsChannels(out + "/d2/VIDEO/Settings.xml"), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(IndexCameras(out + "/d1/VIDEO/INDEX/" + Idx(Base())), (std::vector<uint32_t>{1, 2}));

    auto copy = Open(out);
    ASSERT_TRUE(copy);
    EXPECT_EQ(Channels(*copy), (std::vector<std::string>{"1", "2"}));
    for (const char* channel : {"1", "2"}) {
        const auto frames = ReadChannel(*copy, channel);
        EXPECT_EQ(frames.size(), 40u) << channel;
        EXPECT_TRUE(frames == ReadChannel(*source, channel)) << channel;
    }
}

TEST(NativeExport, TaskWithoutFilesInItsWindowIsNoVideoAndWritesNothing)
{
    TwoVolumeArchive archive;
    auto source = Open(archive.Source());
    const std::string out = archive.dir / "out";
    const ExportRun run = RunExport(source, out, {Task({"1", "2"}, Base() - 7'200'000, Base() - 3'600'000)});
    EXPECT_EQ(run.report.kind, 6);
    EXPECT_EQ(run.report.code, 1168);
    EXPECT_EQ(run.report.reason.rfind("No video files to export: ", 0), 0u) << run.report.reason;
    EXPECT_FALSE(fsys::exists(out));
}

TEST(NativeExport, ChannelListsThatDoNotParseFailWithACodeAndWriteNothing)
{
    struct Case {
        std::vector<std::string> channels;
        std::string reasonStart;
    };
    const std::vector<Case> cases = {
        {{"abc"}, "Channel abc is not a channel number: "},
        // A good channel before a bad one is not exported alone.
        {{"1", "abc"}, "Channel abc is not a channel number: "},
        {{"1", ""}, "Channel  is not a channel number: "},
        {{"-1"}, ""},
    };
    TwoVolumeArchive archive;
    auto source = Open(archive.Source());
    const std::string out = archive.dir / "out";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channels.back());
        const ExportRun run = RunExport(source, out, {Task(c.channels, Base(), Base() + 3'600'000)});
        EXPECT_NE(run.report.code, 0);
        EXPECT_FALSE(run.report.reason.empty());
        EXPECT_EQ(run.report.reason.rfind(c.reasonStart, 0), 0u) << run.report.reason;
        EXPECT_FALSE(fsys::exists(out));
    }
}

TEST(NativeExport, SecondExportIntoTheSameFolderKeepsTheFirstReadable)
{
    TwoVolumeArchive archive;
    auto source = Open(archive.Source());
    const std::string out = archive.dir / "out";
    ASSERT_EQ(RunExport(source, out, {Task({"1", "2"}, Base(), Base() + 3'600'000)}).report.code, 0);
    // A fast index of the day would hide the new files from a reader.
    const std::string ndx = out + "/d1/VIDEO/INDEX/" + testsupport::LocalIndexName(Base()) + ".ndx";
    gavex_test::WriteFileString(ndx, "stale");
    const ExportRun second = RunExport(source, out, {Task({"3"}, Base(), Base() + 3'600'000)});
    ASSERT_EQ(second.report.code, 0) << second.report.reason;

    EXPECT_FALSE(fsys::exists(ndx));
    EXPECT_EQ(SettingsChannels(out + "/d1/VIDEO/Settings.xml"), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(IndexCameras(out + "/d1/VIDEO/INDEX/" + Idx(Base())), (std::vector<uint32_t>{1, 2, 3}));
    auto copy = Open(out);
    ASSERT_TRUE(copy);
    EXPECT_EQ(Channels(*copy), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(ReadChannel(*copy, "1").size(), 20u);
    EXPECT_EQ(ReadChannel(*copy, "3").size(), 60u);
}

TEST(NativeExport, DestinationEqualToInsideOrAboveASourceIsRefused)
{
    TwoVolumeArchive archive;
    auto source = Open(archive.Source());
    struct Case {
        std::string destination;
        bool refused;
    };
    const std::vector<Case> cases = {
        {archive.first, true},
        {archive.first + "/", true},
        {archive.second + "/VIDEO/sub", true},
        {archive.dir.path(), true},            // above: the copy would land on the source
        {archive.first + "/../d2/x", true},
        {archive.first + "x", false},         // a sibling sharing the name's start
        {archive.dir / "elsewhere", false},
    };
    for (const Case& c : cases) {
        // A channel the archive lacks: an accepted start fails in the worker.
        const ExportRun run = RunExport(source, c.destination, {Task({"7"}, Base(), Base() + 1000)});
        if (c.refused) {
            EXPECT_EQ(run.report.kind, 5) << c.destination;
            EXPECT_EQ(run.report.code, 143) << c.destination;
            EXPECT_EQ(run.report.reason.rfind("Destination and source paths are the same: ", 0), 0u);
        } else {
            EXPECT_NE(run.report.code, 143) << c.destination;
        }
    }
    // An empty destination is refused by the engine itself (the windowless
    // runner would not even start it).
    auto engine = Storage::CreateNativeExport(source);
    Storage::ExportError report;
    engine->Completed.connect([&](const Storage::IPlayerExport&, const Storage::ExportError& e) { report = e; });
    engine->Start("", {Task({"1"}, Base(), Base() + 1000)});
    EXPECT_EQ(report.kind, 5);
    EXPECT_EQ(report.code, 143);
}

TEST(NativeExport, DayIndexNameAndPathComparison)
{
    EXPECT_EQ(Storage::DayIndexName("/a/VIDEO/14-03-26 10"), "14032610");
    EXPECT_EQ(Storage::DayIndexName("14-03-26 10.old"), "14032610");
    EXPECT_TRUE(Storage::PathWithin("/a/b/c", "/a/b"));
    EXPECT_TRUE(Storage::PathWithin("/a/b/", "/a/b"));
    EXPECT_TRUE(Storage::PathWithin("/a/x/../b", "/a/b"));
    EXPECT_FALSE(Storage::PathWithin("/a/bc", "/a/b"));
    EXPECT_FALSE(Storage::PathWithin("/a", "/a/b"));
}

// An earlier export in the destination, and the snapshot of it.
struct EarlierExport {
    TwoVolumeArchive archive;
    boost::shared_ptr<Storage::IVindaraFileSystem> source = Open(archive.Source());
    std::string out = archive.dir / "out";
    std::map<std::string, std::vector<uint8_t>> before;

    EarlierExport()
    {
        EXPECT_EQ(RunExport(source, out, {Task({"1"}, Base(), Base() + 3'600'000)}).report.code, 0);
        before = Snapshot(out);
    }
};

TEST(NativeExport, CancelMidCopyLeavesTheDestinationAsItWas)
{
    EarlierExport earlier;
    // Five files in the task: the cancel comes after the first copy.
    const ExportRun run = RunExport(earlier.source, earlier.out, {Task({"1", "2", "3"}, Base(), Base() + 7'200'000)}, 20);
    EXPECT_EQ(run.report.kind, 1);
    EXPECT_EQ(run.report.code, 240);
    ASSERT_FALSE(run.percents.at(0).empty());
    EXPECT_LT(run.percents.at(0).back(), 85);
    EXPECT_TRUE(Snapshot(earlier.out) == earlier.before);
}

TEST(NativeExport, WriteFailureLeavesTheDestinationAsItWas)
{
    EarlierExport earlier;
    // The third camera's file is the largest: the limit lets the others
    // through and stops that one part way.
    const std::string result = earlier.archive.dir / "result.txt";
    EXPECT_FALSE(gavex_test::RunProgram({GAVEX_TEST_TOOLS_DIR "/export_run", earlier.archive.Source(), earlier.out,
                                        "1,2,3", std::to_string(Base()), std::to_string(Base() + 7'200'000), result,
                                        "60000"}));
    const std::string report = gavex_test::ReadFileString(result);
    EXPECT_EQ(report.substr(0, report.find(' ', 2)), "4 " + std::to_string(EFBIG)) << report;
    EXPECT_NE(report.find("12._03"), std::string::npos) << report;
    EXPECT_TRUE(Snapshot(earlier.out) == earlier.before);
}

TEST(NativeExport, TooLittleSpaceIsNoSpaceBeforeAnyWrite)
{
    TwoVolumeArchive archive;
    auto source = Open(archive.Source());
    const gavex_test::ScopedTmpfs small{"export-small", "8m"};
    if (!small.mounted())
        GTEST_SKIP() << "a small tmpfs cannot be mounted here";
    const std::string& mount = small.path();
    // Room for the files, not for the margin of 10 MiB on top.
    const ExportRun run = RunExport(source, mount + "/out", {Task({"1", "2"}, Base(), Base() + 7'200'000)});
    EXPECT_EQ(run.report.kind, 2);
    EXPECT_EQ(run.report.code, 112);
    EXPECT_EQ(run.report.reason.rfind("disk is full: ", 0), 0u) << run.report.reason;
    EXPECT_TRUE(Listing(mount).empty());
}

TEST(NativeExport, WindowlessRunOverAnArchiveExportsAndExitsZero)
{
    TwoVolumeArchive archive;
    const std::string out = archive.dir / "out";
    const std::string result = archive.dir / "result.txt";
    EXPECT_TRUE(gavex_test::RunProgram({GAVEX_TEST_TOOLS_DIR "/export_run", archive.Source(), out, "1,2",
                                        std::to_string(Base()), std::to_string(Base() + 7'200'000), result}));
    EXPECT_EQ(gavex_test::ReadFileString(result).substr(0, 4), "0 0 ");
    auto copy = Open(out);
    ASSERT_TRUE(copy);
    EXPECT_EQ(Channels(*copy), (std::vector<std::string>{"1", "2"}));
}

}  // namespace
