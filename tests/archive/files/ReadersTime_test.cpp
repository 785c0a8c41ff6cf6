#include "ReadersTestSupport.h"

#include "archive/files/FramesReaderIndexed.h"
#include "archive/files/Titles.h"

#include <boost/date_time/posix_time/conversion.hpp>
#include "base/frames/FormatTags.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

using namespace testsupport;
using namespace readers_test;

namespace {

ArchiveFileOptions Index(IndexForm form)
{
    ArchiveFileOptions o;
    o.index = form;
    return o;
}

// Unix milliseconds of the local midnight that starts the day after unixMs.
int64_t NextLocalMidnight(int64_t unixMs)
{
    const time_t s = static_cast<time_t>(unixMs / 1000);
    std::tm tm{};
    localtime_r(&s, &tm);
    tm.tm_mday += 1;
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm)) * 1000;
}

TSS DayOf(int64_t unixMs)
{
    return LocalTss(unixMs).DateOnly();
}

// Frames every 10 minutes from 40 minutes before a local midnight to 30
// minutes after it, then a gap of two days and one more frame.
std::vector<ArchiveFrame> FramesAroundMidnight(int64_t& midnight)
{
    midnight = NextLocalMidnight(kStartMs);
    std::vector<int64_t> times;
    for (int64_t t = midnight - 40 * 60000; t <= midnight + 30 * 60000; t += 10 * 60000)
        times.push_back(t);
    times.push_back(midnight + 2 * 86400000LL + 3600000);
    std::vector<ArchiveFrame> frames;
    for (size_t i = 0; i < times.size(); ++i) {
        ArchiveFrame f;
        f.unixMs = times[i];
        f.key = true;
        f.data = MakeH264Frame({uint8_t(i), 1, 2, 3}, true);
        frames.push_back(f);
    }
    return frames;
}

TEST(ReadersIntervalTest, DayIntervalsAcrossMidnightAndEmptyDays)
{
    int64_t midnight = 0;
    const auto frames = FramesAroundMidnight(midnight);
    ASSERT_EQ(frames.size(), 9u);
    ArchiveTempDir dir;
    for (IndexForm form : {IndexForm::Portable, IndexForm::None}) {
        const std::string path = dir.File("m._01");
        WriteBytes(path, BuildArchiveFile(frames, Index(form)));
        DynamicFramesReader reader(false);
        ASSERT_TRUE(reader.Open(path, 0));
        const std::string kind = form == IndexForm::None ? "scanning" : "indexed";

        const struct {
            const char* name;
            TSS day;
            int first; // -1: no frames that day
            int last;
        } cases[] = {
            {"day before midnight", DayOf(midnight - 1), 0, 3},
            {"day after midnight", DayOf(midnight), 4, 7},
            {"day without frames", DayOf(midnight + 86400000LL + 3600000), -1, -1},
            {"last day", DayOf(midnight + 2 * 86400000LL + 3600000), 8, 8},
            {"day before the file", DayOf(midnight - 3 * 86400000LL), -1, -1},
            {"day after the file", DayOf(midnight + 5 * 86400000LL), -1, -1},
        };
        for (const auto& c : cases) {
            const RecordInterval interval = reader.GetRecordInterval(c.day, false);
            if (c.first < 0) {
                EXPECT_EQ(interval.begin, TSS{}) << kind << ": " << c.name;
                EXPECT_EQ(interval.end, TSS{}) << kind << ": " << c.name;
                continue;
            }
            EXPECT_EQ(interval.begin, LocalTss(frames[c.first].unixMs)) << kind << ": " << c.name;
            EXPECT_EQ(interval.end, LocalTss(frames[c.last].unixMs)) << kind << ": " << c.name;
            EXPECT_EQ(reader.GetRecordInterval(c.day, true).begin, LocalTss(frames[c.first].unixMs))
                << kind << ": " << c.name;
        }
        const RecordInterval whole = reader.GetRecordInterval(TSS{}, false);
        EXPECT_EQ(whole.begin, LocalTss(frames.front().unixMs)) << kind;
        EXPECT_EQ(whole.end, LocalTss(frames.back().unixMs)) << kind;
    }
}

TEST(ReadersIntervalTest, SingleFrameFile)
{
    const auto frames = SampleFrames(1);
    ArchiveTempDir dir;
    for (IndexForm form : {IndexForm::Portable, IndexForm::Binary, IndexForm::None}) {
        const std::string path = dir.File("one._01");
        WriteBytes(path, BuildArchiveFile(frames, Index(form)));
        DynamicFramesReader reader(false);
        ASSERT_TRUE(reader.Open(path, 0));
        const TSS t = LocalTss(frames[0].unixMs);
        const RecordInterval whole = reader.GetRecordInterval(TSS{}, false);
        EXPECT_EQ(whole.begin, t);
        EXPECT_EQ(whole.end, t);
        const RecordInterval day = reader.GetRecordInterval(t.DateOnly(), false);
        EXPECT_EQ(day.begin, t);
        EXPECT_EQ(day.end, t);
        auto frame = NewFrame();
        EXPECT_EQ(reader.ReadFrame(*frame, 7, false, true, 1.0, false), 0);
        EXPECT_TRUE(SameFrame(*frame, frames[0]));
    }
}

TEST(ReadersIndexTest, PortableIndexIsRebasedOntoTheFirstFrame)
{
    const auto frames = SampleFrames(8);
    ArchiveTempDir dir;
    const std::string path = dir.File("r._01");
    const struct {
        const char* name;
        int64_t shift;
        bool idHeader;
        bool breakFirstRecord;
        int64_t expectedShift; // of the entries after opening
    } cases[] = {
        {"index one hour behind", -3600000, false, false, 0},
        {"index one hour ahead, with id header", 3600000, true, false, 0},
        {"index in step", 0, true, false, 0},
        {"first record unreadable: kept as stored", -3600000, false, true, -3600000},
    };
    for (const auto& c : cases) {
        ArchiveFileOptions o;
        o.indexTimeShiftMs = c.shift;
        if (c.idHeader)
            o.archiveId = 5;
        std::vector<StoredEntry> entries;
        auto bytes = BuildArchiveFile(frames, o, &entries);
        if (c.breakFirstRecord)
            bytes[entries[0].offset] = 5;
        WriteBytes(path, bytes);
        FramesReaderIndexedPortable reader;
        ASSERT_TRUE(reader.Open(path, 0)) << c.name;
        ASSERT_EQ(reader.GetIndex().size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(reader.GetIndex()[i].time, static_cast<uint64_t>(frames[i].unixMs + c.expectedShift))
                << c.name << " " << i;
            EXPECT_EQ(reader.GetFrameTime(i), LocalTss(frames[i].unixMs + c.expectedShift)) << c.name;
        }
    }
}

TEST(ReadersIndexTest, FastPlayJumpsToKeyFrames)
{
    // 50 frames 100 ms apart, a key frame every 5.
    const auto frames = MakeSyntheticFrames(50, kStartMs, 100, 5, 8);
    ArchiveTempDir dir;
    const std::string path = dir.File("f._01");
    WriteBytes(path, BuildArchiveFile(frames));
    FramesReaderIndexedPortable reader;
    ASSERT_TRUE(reader.Open(path, 0));
    auto frame = NewFrame();

    // At 2.0 there is no fast play.
    ASSERT_EQ(reader.ReadFrame(*frame, 0, false, true, 1.0, false), 0);
    EXPECT_EQ(reader.ReadFrame(*frame, 1, false, true, 2.0, false), 1);

    // Backward from the last frame right after the clock was reset: the
    // nearest earlier key frame before the target (the last frame's time).
    reader.ResetPlayClock();
    EXPECT_EQ(reader.ReadFrame(*frame, 49, false, true, 3.0, true), 45);
    EXPECT_EQ(frame->m_tssTime, LocalTss(frames[45].unixMs));

    // Forward, on frames 10 ms apart: once the play clock has run 300 ms
    // (750 ms of video at 2.5, more than the file holds) the last key frame
    // before the target is read; with no key frame after it the reader
    // reports the end of the file.
    const auto dense = MakeSyntheticFrames(50, kStartMs, 10, 5, 8);
    const std::string densePath = dir.File("fd._01");
    WriteBytes(densePath, BuildArchiveFile(dense));
    FramesReaderIndexedPortable forward;
    ASSERT_TRUE(forward.Open(densePath, 0));
    ASSERT_EQ(forward.ReadFrame(*frame, 0, false, true, 1.0, false), 0);
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(300))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(forward.ReadFrame(*frame, 1, false, true, 2.5, false), 49);
    EXPECT_EQ(frame->m_tssTime, LocalTss(dense[45].unixMs));
}

TEST(ReadersTitlesTest, TitlesFileBesideTheVideoReplacesRecordTexts)
{
    const auto frames = SampleFrames(8);
    ArchiveTempDir dir;
    auto at = [](int64_t unixMs) {
        return boost::posix_time::from_time_t(static_cast<time_t>(unixMs / 1000))
            + boost::posix_time::milliseconds(unixMs % 1000);
    };
    VindaraFileSystem::ChannelTitles titles;
    titles.AddText(L"1", at(frames[5].unixMs), L"gate open");
    ASSERT_TRUE(VindaraFileSystem::SaveTitlesFile(titles, dir.File("5.t1F"), at(frames[0].unixMs),
                                                  at(frames.back().unixMs)));
    WriteBytes(dir.File("5._1F"), BuildArchiveFile(frames));
    WriteBytes(dir.File("5.dat"), BuildArchiveFile(frames));

    for (IndexForm form : {IndexForm::Portable, IndexForm::None}) {
        WriteBytes(dir.File("5._1F"), BuildArchiveFile(frames, Index(form)));
        DynamicFramesReader reader(false);
        ASSERT_TRUE(reader.Open(dir.File("5._1F"), 0));
        auto frame = NewFrame();
        for (uint64_t n = 0; n < frames.size(); ++n) {
            ASSERT_EQ(reader.ReadFrame(*frame, n, false, true, 1.0, false), int64_t(n));
            EXPECT_EQ(frame->m_strSubtitles, n >= 5 ? "gate open" : frames[n].subtitles) << n;
        }
        // A file without a titles name shows its record texts only.
        ASSERT_TRUE(reader.Open(dir.File("5.dat"), 0));
        ASSERT_EQ(reader.ReadFrame(*frame, 6, false, true, 1.0, false), 6);
        EXPECT_EQ(frame->m_strSubtitles, frames[6].subtitles);
    }
}

TEST(ReadersRealVideoTest, H264AndMjpegFramesFromFfmpeg)
{
    ArchiveTempDir dir;
    const auto h264 = GenerateH264Frames(dir.Path(), 24, kStartMs, 200, 8);
    const auto mjpeg = GenerateMjpegFrames(dir.Path(), 12, kStartMs, 200);
    if (h264.empty() || mjpeg.empty())
        GTEST_SKIP() << "ffmpeg with libx264 and mjpeg is not available";
    ASSERT_EQ(h264.size(), 24u);
    EXPECT_TRUE(h264[0].key);
    EXPECT_TRUE(h264[8].key);
    EXPECT_FALSE(h264[1].key);

    for (const auto* frames : {&h264, &mjpeg}) {
        for (IndexForm form : {IndexForm::Portable, IndexForm::None}) {
            const std::string path = dir.File("real._03");
            WriteBytes(path, BuildArchiveFile(*frames, Index(form)));
            DynamicFramesReader reader(true);
            ASSERT_TRUE(reader.Open(path, 0));
            auto frame = NewFrame();
            for (uint64_t n = 0; n < frames->size(); ++n) {
                ASSERT_EQ(reader.ReadFrame(*frame, n, false, true, 1.0, false), int64_t(n));
                EXPECT_TRUE(SameFrame(*frame, (*frames)[n])) << n;
                EXPECT_EQ(IsKeyFrame(frame.get()) != 0, (*frames)[n].key) << n;
            }
            const int64_t keyOf11 = frames == &h264 ? 8 : 11;
            EXPECT_EQ(reader.ReadFrame(*frame, 11, true, true, 1.0, false), keyOf11);
        }
    }
}

} // namespace
