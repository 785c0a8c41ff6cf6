// The file copier on its own: companions, markers and stale files, the
// space it asks for, and the flat copy of an exported folder.

#include "export/ExportHelper.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "NativeFixture.h"
#include "export/ExportTask.h"
#include "support/ArchiveFileWriter.h"
#include "support/TempDir.h"

namespace {

namespace fsys = std::filesystem;
using namespace exporttest;

TEST(ExportHelper, CopiesCompanionsCreatesMarkersRemovesStaleFilesAndKeepsChannels)
{
    gavex_test::TempDir dir("export-helper");
    gavex_test::WriteFileString(dir / "a._05", "video");
    gavex_test::WriteFileString(dir / "a.w05", "companion");
    gavex_test::WriteFileString(dir / "b._12", "lone video");
    gavex_test::WriteFileString(dir / "notes.txt", "text");
    fsys::create_directories(dir / "out");
    gavex_test::WriteFileString(dir / "out/stale.ndx", "stale");

    Storage::ExportHelper copier;
    std::vector<double> steps;
    copier.connect([&](double step, const Storage::ExportTask&) { steps.push_back(step); });
    copier.AddFile(dir / "a._05", dir / "out/x/a._05");
    copier.AddFile(dir / "b._12", dir / "out/x/b._12");
    copier.AddFile(dir / "notes.txt", dir / "out/notes.txt");
    ASSERT_EQ(copier.copyPairs.size(), 4u);
    copier.filesToCreate.push_back(dir / "out/.volumes");
    copier.filesToRemove.push_back(dir / "out/stale.ndx");
    copier.filesToRemove.push_back(dir / "out/missing.ndx");
    copier.Copy(Storage::ExportTask{});

    EXPECT_EQ(Listing(dir / "out"),
              (std::vector<std::string>{".volumes", "notes.txt", "x/", "x/a._05", "x/a.w05", "x/b._12"}));
    EXPECT_EQ(gavex_test::ReadFileString(dir / "out/x/a.w05"), "companion");
    EXPECT_EQ(copier.channelSet, (std::set<int>{5, 12}));
    EXPECT_EQ(steps, (std::vector<double>{17.5, 17.5, 17.5, 17.5, 2}));
    EXPECT_TRUE(copier.copyPairs.empty() && copier.filesToCreate.empty() && copier.filesToRemove.empty() &&
                copier.createdFolders.empty());
}

TEST(ExportHelper, RequiredSpaceCountsClustersAndOnlyTheDifferenceOverExistingFiles)
{
    gavex_test::TempDir dir("export-space");
    gavex_test::WriteFileString(dir / "one._01", std::string(5000, 'a'));
    gavex_test::WriteFileString(dir / "two._01", std::string(1, 'b'));
    Storage::ExportHelper copier;
    EXPECT_EQ(copier.RequiredSpace(), 0u);  // nothing to copy: no check
    const uint64_t cluster = Storage::ExportHelper::getClusterSize(dir.path());
    ASSERT_GT(cluster, 0u);
    const auto rounded = [&](uint64_t size) { return (size + cluster - 1) / cluster * cluster; };
    copier.AddFile(dir / "one._01", dir / "out/one._01");
    copier.AddFile(dir / "two._01", dir / "out/two._01");
    EXPECT_EQ(copier.RequiredSpace(), 0xA00000 + rounded(5000) + rounded(1));
    fsys::create_directories(dir / "out");
    gavex_test::WriteFileString(dir / "out/one._01", std::string(5000, 'c'));
    EXPECT_EQ(copier.RequiredSpace(), 0xA00000 + rounded(1));
}

TEST(ExportHelper, FolderAndFileSourcesAreCopiedFlat)
{
    gavex_test::TempDir dir("export-folder");
    const auto frames = testsupport::MakeSyntheticFrames(10, Base(), 200, 5, 64);
    fsys::create_directories(dir / "src/cam");
    testsupport::WriteBytes(dir / "src/cam/0001._02", testsupport::BuildArchiveFile(frames));
    // File times before the frames': the folder scan then reads the frames' own.
    const struct timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "src/cam/0001._02").c_str(), times, 0), 0);
    auto source = Open(dir / "src");
    ASSERT_TRUE(source);
    ASSERT_EQ(Channels(*source), std::vector<std::string>{"2"});
    const ExportRun run = RunExport(source, dir / "out", {Task({"2"}, Base(), Base() + 60'000)});
    EXPECT_EQ(run.report.code, 0) << run.report.reason;
    EXPECT_EQ(Listing(dir / "out"), std::vector<std::string>{"0001._02"});
    EXPECT_EQ(gavex_test::ReadFileBytes(dir / "out/0001._02"), gavex_test::ReadFileBytes(dir / "src/cam/0001._02"));

    // A single file: its own folder (or any above) would take the copy onto it.
    auto file = Open(dir / "src/cam/0001._02");
    ASSERT_TRUE(file);
    EXPECT_EQ(RunExport(file, dir / "src/cam", {Task({"2"}, Base(), Base() + 60'000)}).report.code, 143);
    EXPECT_EQ(RunExport(file, dir / "src", {Task({"2"}, Base(), Base() + 60'000)}).report.code, 143);
    const ExportRun single = RunExport(file, dir / "single", {Task({"2"}, Base(), Base() + 60'000)});
    EXPECT_EQ(single.report.code, 0) << single.report.reason;
    EXPECT_EQ(Listing(dir / "single"), std::vector<std::string>{"0001._02"});
}

}  // namespace
