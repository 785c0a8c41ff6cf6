// Reading a camera's archive through the engine the way the drives front end
// does: initialise, list cameras and names, days and intervals, then frames
// first, next, previous and at a time across files, hours, drives, a gap and
// an overlap; entry lists; the play thread and the command failures.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include <boost/lexical_cast.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ReadsTestSupport.h"
#include "base/Messages.h"
#include "base/Tss.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using readstest::CommandFrame;
using readstest::FrameUnixMs;
using readstest::ReadsArchive;
using readstest::TimeText;

namespace {

class ReadsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine.Init(archive.Drives())); }

    // One command; the frame's time (Unix ms) or -1 with the error text kept.
    int64_t Read(int camera, unsigned code, const std::string& text, std::string* path = nullptr) {
        VideoFramePtr frame = CommandFrame(camera, text);
        error.clear();
        if (!engine.ExecuteCommand("", frame.get(), code, {}, -1, 0, &error)) return -1;
        if (path) *path = frame->m_sFileId;
        lastNumber = frame->m_nFrameNumber;
        lastTotal = frame->m_nTotalFrames;
        return FrameUnixMs(*frame);
    }
    // The front end's forward step: code 3, and when no frame came, code 0
    // with "next". Its backward step: code 1, then code 4 with "prev".
    int64_t StepForward(int camera) {
        const int64_t t = Read(camera, 3, "");
        return t >= 0 ? t : Read(camera, 0, "next");
    }
    int64_t StepBackward(int camera) {
        const int64_t t = Read(camera, 1, "");
        return t >= 0 ? t : Read(camera, 4, "prev");
    }

    ReadsArchive archive;
    FileSystem engine;
    std::string error;
    int lastNumber = -1;
    int lastTotal = 0;
};

TEST(ReadsNoVolumeTest, EveryCommandFailsWithNoMountedVolumes) {
    FileSystem engine;
    for (unsigned code = 0; code <= 16; ++code) {
        VideoFramePtr frame = CommandFrame(1, "first");
        std::string error;
        EXPECT_EQ(engine.ExecuteCommand("", frame.get(), code, {}, -1, 0, &error), 0) << code;
        EXPECT_EQ(error, "No mounted volumes") << code;
    }
    std::string time = "05-03-24 10:00:00";
    EXPECT_EQ(engine.StartPlay("", 1, {}, 1, 0, 0, 0, 0), 0);
    EXPECT_EQ(engine.StopPlay("", 1), 0);
    EXPECT_EQ(engine.SetReaderEvent("", 1), 0);
    EXPECT_EQ(engine.ResetReaderEvent("", 1), 0);
    EXPECT_EQ(engine.DeleteCurrentFile("", 1), 0);
    EXPECT_EQ(engine.GetFilePath("", 1, time), "");
    EXPECT_EQ(time, "05-03-24 10:00:00");
    EXPECT_EQ(engine.GetReaderCount(), 0u);
}

TEST_F(ReadsTest, CamerasNamesDaysAndIntervals) {
    std::vector<int> ids;
    engine.GetCameraIds(ids);
    EXPECT_THAT(ids, ElementsAre(1, 2));
    EXPECT_EQ(engine.GetChannelName(1), "1");
    EXPECT_EQ(engine.GetChannelName(2), "Gate");

    std::vector<boost::gregorian::date> days;
    engine.GetRecordDays(1, days);
    EXPECT_THAT(days, ElementsAre(boost::gregorian::date(2024, 3, 5)));

    std::vector<FileSystem::DayEntry> periods;
    engine.GetDayEntries(1, boost::gregorian::date(2024, 3, 5), periods);
    ASSERT_EQ(periods.size(), 3u);
    const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
    EXPECT_EQ(periods[0].first, epoch + boost::posix_time::milliseconds(ReadsArchive::At(10, 0, 0)));
    EXPECT_EQ(periods[2].first, epoch + boost::posix_time::milliseconds(ReadsArchive::At(11, 0, 0)));
}

TEST_F(ReadsTest, ForwardStepsCrossFilesTheGapHoursAndDrives) {
    std::string path;
    std::vector<int64_t> times{Read(1, 0, "first", &path)};
    EXPECT_EQ(path, archive.File(1, 1).path);
    EXPECT_EQ(lastNumber, 0);
    EXPECT_EQ(lastTotal, 30);
    for (int64_t t; (t = StepForward(1)) >= 0;) times.push_back(t);
    EXPECT_EQ(times, archive.FrameTimes(1));
    EXPECT_EQ(error, "FileReader::ReadFrame(1) error, cam = 1, slave_id = , ret = false, fileid = 'next', dir = 0.");
}

TEST_F(ReadsTest, BackwardStepsFromTheNewestFrame) {
    std::string path;
    std::vector<int64_t> times{Read(1, 8, TimeText(ReadsArchive::At(11, 0, 1, 900)), &path)};
    EXPECT_EQ(path, archive.File(1, 3).path);
    for (int64_t t; (t = StepBackward(1)) >= 0;) times.push_back(t);
    std::vector<int64_t> expected = archive.FrameTimes(1);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(times, expected);
    EXPECT_THAT(error, HasSubstr("fileid = 'prev', dir = 4."));
}

TEST_F(ReadsTest, ReadsAtATime) {
    struct Case {
        const char* what;
        int64_t request;
        int64_t expected;
        uint32_t file;
    };
    const Case cases[] = {
        {"exact frame", ReadsArchive::At(10, 0, 6, 300), ReadsArchive::At(10, 0, 6, 300), 2},
        {"between frames", ReadsArchive::At(10, 0, 1, 250), ReadsArchive::At(10, 0, 1, 300), 1},
        {"before the first record", ReadsArchive::At(9, 0, 0), ReadsArchive::At(10, 0, 0), 1},
        {"in the gap, nearer the earlier file", ReadsArchive::At(10, 20, 0), ReadsArchive::At(10, 0, 7, 900), 2},
        {"in the gap, nearer the later file", ReadsArchive::At(10, 50, 0), ReadsArchive::At(11, 0, 0), 3},
        {"after the last record", ReadsArchive::At(13, 0, 0), ReadsArchive::At(11, 0, 1, 900), 3},
    };
    for (const Case& c : cases) {
        std::string path;
        EXPECT_EQ(Read(1, 8, TimeText(c.request), &path), c.expected) << c.what << ": " << error;
        EXPECT_EQ(path, archive.File(1, c.file).path) << c.what;
    }
    // After a read by time the next step goes on from there.
    Read(1, 8, TimeText(ReadsArchive::At(10, 0, 7, 900)));
    EXPECT_EQ(StepForward(1), ReadsArchive::At(11, 0, 0));
}

TEST_F(ReadsTest, MidnightIsRefusedOnlyByTheStrictTimeCodes) {
    // The exact read at a time (code 9) refuses a request of exactly
    // 00:00:00; code 8 takes it. (Code 10 of the engine is the nearest-frame
    // read.)
    const std::string midnight = "time 05-03-24 00:00:00.000";
    EXPECT_EQ(Read(1, 8, midnight), ReadsArchive::At(10, 0, 0));
    EXPECT_EQ(Read(1, 9, TimeText(ReadsArchive::At(10, 0, 1))), ReadsArchive::At(10, 0, 1)) << error;
    EXPECT_EQ(Read(1, 9, midnight), -1);
}

TEST_F(ReadsTest, OverlappingRecordsAreEachPlayedWhole) {
    std::vector<int64_t> times{Read(2, 0, "first")};
    for (int64_t t; (t = StepForward(2)) >= 0;) times.push_back(t);
    EXPECT_EQ(times, archive.FrameTimes(2));
}

TEST_F(ReadsTest, FirstAndLastWordsAndAPath) {
    std::string path;
    EXPECT_EQ(Read(1, 0, "last", &path), ReadsArchive::At(11, 0, 0));
    EXPECT_EQ(path, archive.File(1, 3).path);
    EXPECT_EQ(Read(1, 4, "first", &path), ReadsArchive::At(10, 0, 2, 900));
    EXPECT_EQ(path, archive.File(1, 1).path);
    // A file path opens that file.
    EXPECT_EQ(Read(1, 3, archive.File(1, 2).path, &path), ReadsArchive::At(10, 0, 5));
    EXPECT_EQ(path, archive.File(1, 2).path);
    // "prev!" always goes to the preceding file's last frame.
    EXPECT_EQ(Read(1, 4, "prev!", &path), ReadsArchive::At(10, 0, 2, 900));
    // "prev" with code 4 inside a file is the previous frame.
    Read(1, 8, TimeText(ReadsArchive::At(10, 0, 6)));
    EXPECT_EQ(Read(1, 4, "prev"), ReadsArchive::At(10, 0, 5, 900));
    // "find" opens nothing; an unknown camera has nothing.
    EXPECT_EQ(Read(1, 0, "find 05-03-24"), -1);
    EXPECT_EQ(Read(9, 0, "first"), -1);
    EXPECT_THAT(error, HasSubstr("cam = 9"));
}

TEST_F(ReadsTest, ALastReadThatEndsOnTheFrameShownStepsIntoTheNextFile) {
    // File 1 without its index claims 40 frames but holds 30: its last frame
    // cannot be read, and the reader falls back to the first frame, the one
    // already shown. Codec frames with predicted frames: the engine steps on
    // with "next" and code 0.
    const auto& first = archive.File(1, 1);
    testsupport::ArchiveFileOptions options;
    options.index = testsupport::IndexForm::None;
    options.frameCount = 40;
    testsupport::WriteBytes(first.path, testsupport::BuildArchiveFile(
                                            testsupport::MakeSyntheticFrames(30, first.beginMs, 100, 10, 64), options));
    std::string path;
    ASSERT_EQ(Read(1, 0, first.path, &path), ReadsArchive::At(10, 0, 0));
    ASSERT_EQ(path, first.path);
    EXPECT_EQ(Read(1, 4, first.path, &path), ReadsArchive::At(10, 0, 5)) << error;
    EXPECT_EQ(path, archive.File(1, 2).path);
    EXPECT_EQ(lastNumber, 0);
}

TEST_F(ReadsTest, MissingFileIsDroppedFromTheDirectoryAndSkipped) {
    std::filesystem::remove(archive.File(1, 2).path);
    std::vector<int64_t> times{Read(1, 0, "first")};
    for (int64_t t; (t = StepForward(1)) >= 0;) times.push_back(t);
    std::vector<int64_t> expected;
    for (int64_t t : archive.FrameTimes(1))
        if (t < ReadsArchive::At(10, 0, 5) || t >= ReadsArchive::At(11, 0, 0)) expected.push_back(t);
    EXPECT_EQ(times, expected);
    std::vector<FileSystem::DayEntry> periods;
    engine.GetDayEntries(1, boost::gregorian::date(2024, 3, 5), periods);
    EXPECT_EQ(periods.size(), 2u);
}

TEST_F(ReadsTest, ReadersAreKeyedBySlaveAndDroppedOnClose) {
    auto a = engine.GetReader("name!sub", 3);
    EXPECT_EQ(a, engine.GetReader("name!sub", 3));
    EXPECT_EQ(a->GetSubSlaveId(), "sub");
    EXPECT_EQ(engine.GetReader("x|y", 3)->GetSubSlaveId(), "x|y");
    EXPECT_EQ(engine.GetReader("A", 3)->GetSubSlaveId(), "");
    engine.GetReader("A!2", 5);
    engine.GetReader("AB", 3);
    EXPECT_EQ(engine.GetReaderCount(), 5u);
    EXPECT_EQ(engine.StopPlay("A", -1), 1);  // A\3 and A!2\5
    EXPECT_EQ(engine.GetReaderCount(), 3u);

    // Code 16 closes and drops the reader; the next command makes a new one.
    Read(1, 0, "first");
    auto before = engine.GetReader("", 1);
    VideoFramePtr frame = CommandFrame(1, "");
    EXPECT_EQ(engine.ExecuteCommand("", frame.get(), 16, {}, -1, 0, &error), 1);
    EXPECT_NE(engine.GetReader("", 1), before);
}

TEST_F(ReadsTest, NearestFrameIsNeverDeliveredWithoutAFrameSink) {
    VideoFramePtr frame = CommandFrame(1, "time 05-03-24 10:00:01.000 param 0");
    EXPECT_EQ(engine.ExecuteCommand("", frame.get(), 10, {}, -1, 0, &error), 0);
    EXPECT_EQ(error, "");  // no receiver: not found without a text

    struct Receiver : IPlayReceiver {
        int GetQueueLength(int) override { return 0; }
        void Deliver(const std::string&, VideoFrame*, int) override {}
        void SendMessage(const Event&, int) override {}
        void FillSubSlaveId(int, std::string&) override {}
        void SetClientInfo(int, int) override {}
        void Detached(const std::string&, int) override {}
        void Release() override {}
    };
    EXPECT_EQ(engine.ExecuteCommand("", frame.get(), 10, std::make_shared<Receiver>(), -1, 0, &error), 0);
    EXPECT_EQ(error, "ReadFrameNearest(ARCH_FRAME_TIME_NEAREST): Not found frame for cam: '1', time: "
                     "'2024-03-05T10:00:01.000', request param: 'param'.");
}

TEST_F(ReadsTest, PlayInformationFollowsTheReader) {
    Storage::IPlayInfo* info = engine.GetPlayInfo(1);
    ASSERT_NE(info, nullptr);
    EXPECT_FALSE(info->GetCurrentFileInfo(0).HasFile());
    int changes = 0;
    info->ChangeSignal.connect([&changes] { ++changes; });
    Read(1, 0, "first");
    EXPECT_EQ(changes, 1);
    Storage::PlayFileInfo current = info->GetCurrentFileInfo(0);
    EXPECT_EQ(current.videoPath, archive.File(1, 1).path);
    EXPECT_EQ(current.audioPath, "");
    EXPECT_EQ(info->GetCurrentFileInfo(1).videoPath, archive.File(1, 2).path);
    // The period runs to the next record's begin (local times).
    const boost::posix_time::ptime localTen(boost::gregorian::date(2024, 3, 5), boost::posix_time::hours(10));
    EXPECT_EQ(current.period.begin(), localTen);
    EXPECT_EQ(current.period.end(), localTen + boost::posix_time::seconds(5));

    // A companion sound file is found beside the video file.
    std::string companion = archive.File(1, 3).path;
    companion.replace(companion.rfind("._"), 2, ".w");
    testsupport::WriteBytes(companion, {1, 2, 3});
    Read(1, 0, "last");
    EXPECT_EQ(info->GetCurrentFileInfo(0).audioPath, companion);
    EXPECT_FALSE(info->GetCurrentFileInfo(1).HasFile());
}

TEST_F(ReadsTest, FilePathForATime) {
    // The record that begins at or after the time.
    std::string time = "05-03-24 10:00:03";
    EXPECT_EQ(engine.GetFilePath("", 1, time), archive.File(1, 2).path);
    EXPECT_NE(time, "05-03-24 10:00:03");  // now the file's creation time
    time = "05-03-24 14:00:00";
    EXPECT_EQ(engine.GetFilePath("", 1, time), "");
}

// A receiver that records what the play thread hands it.
class RecordingReceiver : public IPlayReceiver {
public:
    int GetQueueLength(int) override { return queue.load(); }
    void Deliver(const std::string&, VideoFrame* frame, int) override {
        std::lock_guard<std::mutex> lock(mutex);
        times.push_back(FrameUnixMs(*frame));
        totals.push_back(frame->m_nTotalFrames);
    }
    void SendMessage(const Event& event, int) override {
        std::lock_guard<std::mutex> lock(mutex);
        actions.push_back(event.GetAction());
        cv.notify_all();
    }
    void FillSubSlaveId(int, std::string&) override {}
    void SetClientInfo(int, int) override {}
    void Detached(const std::string&, int) override {}
    void Release() override {}

    bool WaitFor(const std::string& action) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(60), [&] {
            return std::find(actions.begin(), actions.end(), action) != actions.end();
        });
    }

    std::atomic<int> queue{0};
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<int64_t> times;
    std::vector<int> totals;
    std::vector<std::string> actions;
};

TEST_F(ReadsTest, PlayThreadDeliversEveryFrameForwardsAndBackwards) {
    for (int direction : {0, 1}) {
        Read(1, 0, direction == 0 ? "first" : "last");
        if (direction) Read(1, 4, "");  // the newest frame
        auto receiver = std::make_shared<RecordingReceiver>();
        engine.SetReaderToken("", "", 1, "tok");
        ASSERT_EQ(engine.StartPlay("", 1, receiver, 1, 0, 0, 1, direction), 1);
        ASSERT_TRUE(receiver->WaitFor("PLAY_STOP"));
        std::vector<int64_t> expected = archive.FrameTimes(1);
        if (direction) std::reverse(expected.begin(), expected.end());
        expected.erase(expected.begin());  // the frame the single read stood on
        std::lock_guard<std::mutex> lock(receiver->mutex);
        EXPECT_EQ(receiver->times, expected) << direction;
        EXPECT_TRUE(std::all_of(receiver->totals.begin(), receiver->totals.end(), [](int t) { return t < 0; }));
        EXPECT_EQ(receiver->actions.front(), "NEW_TOKEN");
    }
}

TEST_F(ReadsTest, PlayWaitsWhileTheReceiverIsFullAndStopsOnRequest) {
    Read(1, 0, "first");
    auto receiver = std::make_shared<RecordingReceiver>();
    receiver->queue = 101;
    ASSERT_EQ(engine.StartPlay("", 1, receiver, 1, 0, 0, 1, 0), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard<std::mutex> lock(receiver->mutex);
        EXPECT_TRUE(receiver->times.empty());
    }
    EXPECT_EQ(engine.SetReaderEvent("", 1), 1);
    EXPECT_EQ(engine.ResetReaderEvent("", 1), 1);
    EXPECT_EQ(engine.StopPlay("", 1), 1);
    EXPECT_TRUE(receiver->WaitFor("PLAY_STOPPED"));
    EXPECT_EQ(engine.StopPlay("", 1), 0);
}

TEST_F(ReadsTest, DeleteCurrentFileRemovesTheFileThatWasCurrent) {
    Read(1, 8, TimeText(ReadsArchive::At(10, 0, 2, 900)));  // last frame of file 1
    ASSERT_EQ(engine.DeleteCurrentFile("", 1), 1);
    EXPECT_FALSE(std::filesystem::exists(archive.File(1, 1).path));
    EXPECT_TRUE(std::filesystem::exists(archive.File(1, 2).path));
    std::vector<FileSystem::DayEntry> periods;
    engine.GetDayEntries(1, boost::gregorian::date(2024, 3, 5), periods);
    ASSERT_EQ(periods.size(), 2u);
    EXPECT_EQ(Read(1, 0, "first"), ReadsArchive::At(10, 0, 5));
}

TEST_F(ReadsTest, EntryListsOfOneCameraAndOfSeveralChannels) {
    auto dir = engine.GetCameraDir(2, false);
    ASSERT_TRUE(dir);
    // A protected record of camera 2, kept in the PROTECTED folder.
    VindaraFileSystem::DirEntry prot;
    prot.begin = static_cast<uint64_t>(ReadsArchive::At(12, 30, 0));
    prot.end = prot.begin + 1000;
    prot.fileId = 0x1B;
    prot.isProtected = 1;
    prot.date = static_cast<uint64_t>(ReadsArchive::At(12, 0, 0));
    ASSERT_TRUE(dir->AddEntry(prot));

    std::vector<std::string> paths;
    TSS from = TSS::FromUtc(ReadsArchive::At(11, 0, 0) + kArchiveUnixOffsetMs);
    TSS to = TSS::FromUtc(ReadsArchive::At(13, 0, 0) + kArchiveUnixOffsetMs);
    engine.GetEntries(2, from, to, paths);
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0], archive.File(2, 4).path);
    EXPECT_EQ(paths[1], archive.File(2, 5).path);
    EXPECT_EQ(paths[2], archive.Root() + "/d0/VIDEO/PROTECTED/05-03-24 12 1B._02");
    paths.clear();
    engine.GetEntries(5, from, to, paths);
    EXPECT_TRUE(paths.empty());

    std::map<std::string, std::vector<IndexEntry>> entries;
    TSS dayStart = TSS::FromUtc(ReadsArchive::At(0, 0, 0) + kArchiveUnixOffsetMs);
    TSS dayEnd = TSS::FromUtc(ReadsArchive::At(23, 0, 0) + kArchiveUnixOffsetMs);
    engine.CollectIndexEntries({"1", "+2", "7"}, dayStart, dayEnd, entries);
    // Keys name the volume and hour folder: hour 10 and 12 on drive 0, hour 11 on drive 1.
    ASSERT_EQ(entries.size(), 3u);
    const std::string hour10 = archive.Root() + "/d0/VIDEO/05-03-24 10/0._01";
    ASSERT_EQ(entries.count(hour10), 1u);
    EXPECT_EQ(entries[hour10].size(), 2u);
    const std::string hour12 = archive.Root() + "/d0/VIDEO/05-03-24 12/0._01";
    ASSERT_EQ(entries.count(hour12), 1u);
    EXPECT_EQ(entries[hour12].size(), 3u);
    EXPECT_EQ(entries[hour12][0].cameraId, 2);

    // A channel text that is not a number ends the call; earlier ones stay.
    entries.clear();
    EXPECT_THROW(engine.CollectIndexEntries({"1", "abc", "2"}, dayStart, dayEnd, entries), boost::bad_lexical_cast);
    EXPECT_EQ(entries.size(), 2u);
}

}  // namespace
