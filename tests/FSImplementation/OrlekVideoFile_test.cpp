// The single archive file: camera numbers from file extensions, stepping to
// both ends, seeking by time, bounds and play information.

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include <gtest/gtest.h>

#include "FSImplementation/OrlekVideoFile.h"
#include "base/Tss.h"
#include "support/ArchiveFileWriter.h"

namespace {

TEST(ArchiveFileCameraIdTest, ExtensionTable) {
    struct Case {
        const char* path;
        int32_t camera;
    } const cases[] = {
        {"/x/1A2B._05", 5},      {"/x/1A2B._99", 99},   {"/x/1A2B._A0", 100}, {"/x/1A2B._FF", 195},
        {"/x/1A2B._100", 196},   {"/x/1A2B._7", 7},     {"/x/1A2B._G1", -1},  {"/x/clip.avi", -1},
        {"/x/1A2B", -1},         {"/x.d/1A2B", -1},     {"/x/1A2B._", -1},    {"C:\\v\\1._12", 12},
        {"/x/1A2B._a0", 100},
        // Short hexadecimal names below A0 are no camera's: they would be
        // negative (0A - 60) or collide with decimal names (5F - 60 = 35).
        {"/x/1A2B._0A", -1},     {"/x/1A2B._5F", -1},   {"/x/1A2B._9F", -1},  {"/x/1A2B._A", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(GetArchiveFileCameraId(c.path), c.camera) << c.path;
}

class OrlekVideoFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("TZ")) oldZone = old, hadZone = true;
        setenv("TZ", "GVX-2", 1);
        tzset();
        TssTimeZone::Reset();
        begin = 1709632800000;  // 2024-03-05 10:00:00 UTC
        path = dir.File("1A2B._07");
        testsupport::WriteBytes(path, testsupport::BuildArchiveFile(testsupport::MakeSyntheticFrames(5, begin, 100, 2, 16)));
    }
    void TearDown() override {
        if (hadZone)
            setenv("TZ", oldZone.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        TssTimeZone::Reset();
    }
    static TSS Local(int64_t unixMs) { return TSS::FromUtc(static_cast<uint64_t>(unixMs) + kArchiveUnixOffsetMs); }
    static int64_t UnixOf(const VideoFrame& f) {
        return static_cast<int64_t>(f.m_tssTime.ToUtcMilliseconds() - kArchiveUnixOffsetMs);
    }

    bool hadZone = false;
    std::string oldZone;
    testsupport::ArchiveTempDir dir;
    std::string path;
    int64_t begin = 0;
};

TEST_F(OrlekVideoFileTest, StepsToBothEndsAndBack) {
    OrlekVideoFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_EQ(file.GetCameraId(), 7);
    VideoFramePtr f = file.ReadCurrentFrame();
    ASSERT_TRUE(f);
    EXPECT_EQ(UnixOf(*f), begin);

    EXPECT_FALSE(file.Step(false));
    EXPECT_EQ(file.GetStopState(), OrlekVideoFile::StoppedAtFirst);
    EXPECT_FALSE(file.ReadCurrentFrame());

    for (int i = 1; i < 5; ++i) {
        f = file.Step(true);
        ASSERT_TRUE(f) << i;
        EXPECT_EQ(UnixOf(*f), begin + 100 * i);
        EXPECT_EQ(file.GetCurrentFrame(), static_cast<uint64_t>(i));
    }
    EXPECT_FALSE(file.Step(true));
    EXPECT_EQ(file.GetStopState(), OrlekVideoFile::StoppedAtLast);
    f = file.Step(false);
    ASSERT_TRUE(f);
    EXPECT_EQ(UnixOf(*f), begin + 300);
    EXPECT_EQ(file.GetStopState(), OrlekVideoFile::NotStopped);
}

TEST_F(OrlekVideoFileTest, SeeksClampToTheFile) {
    OrlekVideoFile file;
    ASSERT_TRUE(file.Open(path));
    struct Case {
        int64_t request;
        int64_t expected;
    } const cases[] = {{begin - 60000, begin}, {begin + 200, begin + 200}, {begin + 150, begin + 200},
                       {begin + 60000, begin + 400}};
    for (const Case& c : cases) {
        VideoFramePtr f = file.SeekTime(Local(c.request));
        ASSERT_TRUE(f);
        EXPECT_EQ(UnixOf(*f), c.expected) << c.request - begin;
    }
    EXPECT_EQ(file.GetCurrentFrame(), 4u);
}

TEST_F(OrlekVideoFileTest, BoundsAndPlayInformation) {
    OrlekVideoFile file;
    ASSERT_TRUE(file.Open(path));
    TSS first, last;
    EXPECT_TRUE(file.GetTimeBounds(first, last));
    EXPECT_EQ(first, Local(begin));
    EXPECT_EQ(last, Local(begin + 400));
    EXPECT_FALSE(file.GetFileTimes().end.IsEmpty());

    Storage::PlayFileInfo info = file.GetCurrentFileInfo(0);
    EXPECT_EQ(info.videoPath, path);
    EXPECT_EQ(info.audioPath, "");
    const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
    EXPECT_EQ(info.period.begin(), epoch + boost::posix_time::milliseconds(begin));
    EXPECT_FALSE(file.GetCurrentFileInfo(1).HasFile());
    EXPECT_TRUE(file.GetCurrentFileInfo(1).period.begin().is_not_a_date_time());

    testsupport::WriteBytes(dir.File("1A2B.w07"), {0});
    EXPECT_EQ(file.GetCurrentFileInfo(0).audioPath, dir.File("1A2B.w07"));
}

TEST_F(OrlekVideoFileTest, OtherNamesAndMissingFiles) {
    const std::string plain = dir.File("export.bin");
    std::filesystem::copy_file(path, plain);
    OrlekVideoFile file;
    ASSERT_TRUE(file.Open(plain));
    EXPECT_EQ(file.GetCameraId(), 0);
    EXPECT_TRUE(file.ReadCurrentFrame());

    EXPECT_FALSE(file.Open(dir.File("missing._01")));
    EXPECT_EQ(file.GetCameraId(), 0);
    EXPECT_TRUE(file.GetFileTimes().begin.IsEmpty());
    EXPECT_FALSE(file.ReadCurrentFrame());
    EXPECT_TRUE(GetFileTimes(dir.File("missing._01")).begin.IsEmpty());
}

}  // namespace
