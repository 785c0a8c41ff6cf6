// The file recorder on a real engine: files written from queued frames and
// read back by the archive readers, their index entries, rollover, file
// numbers, moves out of the temporary writing folder, reads of the file
// being written, and a full disk.

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "ProcessLogCapture.h"
#include "HousekeepingFixture.h"
#include "archive/files/DynamicFramesReader.h"
#include "archive/files/FastIndex.h"
#include "archive/files/FileRecorder.h"
#include "archive/files/FrameCodecs.h"
#include "archive/fs/ChangeMessages.h"
#include "archive/files/FramesIndex.h"
#include "archive/files/Volume.h"
#include "archive/fs/FileSystem.h"
#include "base/VideoFrame.h"
#include "base/frames/FormatTags.h"
#include "imaging/jpeg/Compressor.h"
#include "support/ArchiveFileWriter.h"
#include "support/FfmpegFrameCodecs.h"
#include "support/ScopedTmpfs.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using ::testing::ElementsAreArray;
using enginetest::ProcessLogCapture;

namespace {

// 2024-03-05 10:00:00 UTC.
constexpr int64_t kStartMs = 1709632800000;

VideoFramePtr MakeFrame(int camera, int64_t unixMs, const std::vector<uint8_t>& data, int format = 1, int width = 160,
                        int height = 120) {
    VideoFramePtr frame(new VideoFrame("cam", camera), false);
    frame->m_tssTime = TSS::FromUtc(static_cast<uint64_t>(unixMs) + kArchiveUnixOffsetMs);
    frame->m_nFormat = format;
    frame->m_nWidth = width;
    frame->m_nHeight = height;
    frame->m_bColor = 1;
    if (!data.empty()) {
        frame->AllocData(static_cast<uint32_t>(data.size()));
        std::memcpy(frame->m_pData, data.data(), data.size());
        frame->m_cbData = static_cast<uint32_t>(data.size());
    }
    return frame;
}

// An entry without data: ends the run (a source name finishes the file).
VideoFramePtr ControlEntry(int camera, bool finish = true) {
    VideoFramePtr frame(new VideoFrame(finish ? "cam" : "", camera), false);
    return frame;
}

// Runs the recording steps until only the newest frame with data (if any)
// is left in the queue.
bool Pump(FileRecorder& recorder) {
    for (;;) {
        const size_t n = recorder.QueueLength();
        if (n == 0) return true;
        if (!recorder.Run()) return false;
        if (recorder.QueueLength() == n) return true;  // a lone frame waits
    }
}

struct StoredFile {
    std::vector<uint8_t> bytes;
    FramesIndex index;
    uint32_t count = 0;
    uint8_t flag = 0;
};

StoredFile ReadStored(const std::string& path) {
    StoredFile file;
    file.bytes = gavex_test::ReadFileBytes(path);
    const size_t size = file.bytes.size();
    if (size < 21) return file;
    std::memcpy(&file.count, &file.bytes[size - 5], 4);
    file.flag = file.bytes[size - 1];
    int32_t length = 0;
    std::memcpy(&length, &file.bytes[size - 21], 4);
    if (length <= 0 || static_cast<size_t>(length) + 21 > size) return file;
    std::istringstream blob(std::string(file.bytes.end() - 21 - length, file.bytes.end() - 21));
    LoadFramesIndexPortable(blob, file.index);
    return file;
}

struct ReadBack {
    std::vector<std::vector<uint8_t>> data;
    std::vector<int64_t> times;
};

ReadBack ReadAll(const std::string& path) {
    ReadBack out;
    DynamicFramesReader reader(false);
    if (!reader.Open(path, 0)) return out;
    for (uint64_t n = 0; n < reader.GetFrameCount(); ++n) {
        VideoFrame frame;
        if (reader.ReadFrame(frame, n, false, true, 1.0, false) < 0) break;
        out.data.emplace_back(frame.m_pData, frame.m_pData + frame.m_cbData);
        out.times.push_back(static_cast<int64_t>(frame.m_tssTime.ToUtcMilliseconds() - kArchiveUnixOffsetMs));
    }
    return out;
}

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = GetVolumeSettings();
        VolumeSettings settings = m_saved;
        settings.freeMB = settings.archFreeMB = 0;
        settings.freeMBCritical = 0;
        settings.tempWritingDir.clear();
        SetVolumeSettings(settings);
        fs::create_directories(m_dir.path() + "/VIDEO");
        StartEngine();
    }
    void TearDown() override {
        m_engine.reset();
        SetVolumeSettings(m_saved);
    }
    void StartEngine() {
        m_engine.reset();
        m_engine = std::make_unique<FileSystem>();
        ASSERT_TRUE(m_engine->Init({m_dir.path()}));
    }
    std::string Archive() const { return m_engine->GetVolumePath(0); }
    std::string HourFolder(int64_t unixMs) const {
        return FormatHourFolderName(TSS::FromUtc(static_cast<uint64_t>(unixMs) + kArchiveUnixOffsetMs));
    }
    std::string FilePath(int64_t unixMs, uint32_t number, int camera) const {
        char name[32];
        std::snprintf(name, sizeof name, "%X.", number);
        return Archive() + "/" + HourFolder(unixMs) + "/" + name + FormatChannelExtension('_', camera);
    }
    std::shared_ptr<FileRecorder> Recorder(int camera) { return m_engine->GetRecorder(camera, true, ""); }

    // Queues frames (and a control entry) and runs them through.
    void Record(FileRecorder& recorder, const std::vector<VideoFramePtr>& frames, bool control = true) {
        for (const auto& f : frames) recorder.Enqueue(f.get());
        if (control) recorder.Enqueue(ControlEntry(recorder.GetChannel()).get());
        ASSERT_TRUE(Pump(recorder));
    }

    enginetest::ScopedTimeZone m_zone{"UTC"};
    gavex_test::TempDir m_dir{"recorder"};
    gavex_test::TempDir m_work{"recwork"};
    VolumeSettings m_saved;
    std::unique_ptr<FileSystem> m_engine;
};

std::vector<VideoFramePtr> FramesOf(int camera, const std::vector<testsupport::ArchiveFrame>& frames) {
    std::vector<VideoFramePtr> out;
    for (const auto& f : frames) out.push_back(MakeFrame(camera, f.unixMs, f.data));
    return out;
}

TEST_F(RecorderTest, RecordedFilesReadBackWithTheirIndexEntries) {
    // The product's frame compressor; ffmpeg decodes.
    testsupport::ScopedTestCodecs codecs(false, true);
    InstallFrameCompressor();
    const auto h264 = testsupport::GenerateH264Frames(m_work.path(), 60, kStartMs, 200, 25);
    const auto mjpeg = testsupport::GenerateMjpegFrames(m_work.path(), 10, kStartMs + 1000, 200);
    const auto raw = testsupport::GenerateYuv420Pictures(m_work.path(), 8, 160, 120);
    if (h264.empty() || mjpeg.empty() || raw.empty()) GTEST_SKIP() << "ffmpeg is not available";

    m_engine->SetChannelRecordSettings(3, 1, "MJPEG", 0);
    auto rec1 = Recorder(1), rec2 = Recorder(2), rec3 = Recorder(3);
    ASSERT_TRUE(rec1 && rec2 && rec3);
    EXPECT_EQ(rec3->GetCodecName(), "MJPEG");
    Record(*rec1, FramesOf(1, h264));
    Record(*rec2, FramesOf(2, mjpeg));
    std::vector<VideoFramePtr> rawFrames;
    for (size_t i = 0; i < raw.size(); ++i)
        rawFrames.push_back(MakeFrame(3, kStartMs + 2000 + static_cast<int64_t>(i) * 200, raw[i], FrameFormatYuv420));
    Record(*rec3, rawFrames);

    // H.264 and MJPEG frames come back as written, with their times and key flags.
    for (const auto& [camera, frames] : {std::pair{1, &h264}, std::pair{2, &mjpeg}}) {
        SCOPED_TRACE(camera);
        const std::string path = FilePath(kStartMs, 0, camera);
        const ReadBack back = ReadAll(path);
        ASSERT_EQ(back.data.size(), frames->size());
        const StoredFile stored = ReadStored(path);
        ASSERT_EQ(stored.index.size(), frames->size());
        EXPECT_EQ(stored.count, frames->size());
        EXPECT_EQ(stored.flag, 0);
        for (size_t i = 0; i < frames->size(); ++i) {
            EXPECT_EQ(back.data[i], (*frames)[i].data) << i;
            EXPECT_EQ(back.times[i], (*frames)[i].unixMs) << i;
            EXPECT_EQ(stored.index[i].time, static_cast<uint64_t>((*frames)[i].unixMs)) << i;
            EXPECT_EQ(stored.index[i].pFrame, (*frames)[i].key) << i;
        }
    }
    // Raw pictures were stored as JPEG key frames of the same pictures.
    {
        const std::string path = FilePath(kStartMs, 0, 3);
        const ReadBack back = ReadAll(path);
        ASSERT_EQ(back.data.size(), raw.size());
        const StoredFile stored = ReadStored(path);
        for (size_t i = 0; i < raw.size(); ++i) {
            ASSERT_GT(back.data[i].size(), 4u);
            EXPECT_EQ(ParseVideoFormatTag(back.data[i].data(), static_cast<uint32_t>(back.data[i].size())), '7');
            EXPECT_TRUE(stored.index[i].pFrame);
            int w = 0, h = 0;
            const auto planes = testsupport::DecodeJpegToYuv420(back.data[i].data(), back.data[i].size() - 4, w, h);
            ASSERT_EQ(planes.size(), raw[i].size());
            EXPECT_EQ(w, 160);
            EXPECT_EQ(h, 120);
            double diff = 0;
            for (size_t p = 0; p < planes.size(); ++p) diff += std::abs(int(planes[p]) - int(raw[i][p]));
            EXPECT_LT(diff / static_cast<double>(planes.size()), 6.0) << i;
            // Byte for byte the frame compressor's frame at the channel's codec setting.
            CCompressor reference(55);
            const int n = reference.Compress(raw[i].data(), 1, 160, 120, 1, 1, 1);
            EXPECT_EQ(back.data[i], std::vector<uint8_t>(reference.outputBuffer, reference.outputBuffer + n)) << i;
        }
    }

    // The hour's index file: version word, then one 25-byte entry per file.
    const std::string indexPath = Archive() + "/INDEX/05032410.idx";
    const auto idx = gavex_test::ReadFileBytes(indexPath);
    ASSERT_EQ(idx.size(), 4u + 3 * 25);
    EXPECT_EQ(std::vector<uint8_t>(idx.begin(), idx.begin() + 4), (std::vector<uint8_t>{0x01, 0xAB, 0x00, 0x00}));
    // The first entry, camera 1's file: begin and end seconds, file id,
    // volume, begin and end milliseconds, camera.
    std::vector<uint8_t> entry;
    auto put32 = [&entry](uint32_t v) {
        for (int b = 0; b < 4; ++b) entry.push_back(static_cast<uint8_t>(v >> (8 * b)));
    };
    const int64_t end = h264.back().unixMs;
    put32(static_cast<uint32_t>(kStartMs / 1000));
    put32(static_cast<uint32_t>(end / 1000));
    put32(0);
    entry.push_back(0);
    put32(static_cast<uint32_t>(kStartMs % 1000));
    put32(static_cast<uint32_t>(end % 1000));
    put32(1);
    EXPECT_EQ(std::vector<uint8_t>(idx.begin() + 4, idx.begin() + 29), entry);

    // The fast index names the hour of every camera.
    uint64_t size = 0;
    FastIndexMap hours;
    ASSERT_TRUE(LoadFastIndex(Archive(), size, hours));
    const int32_t hour = static_cast<int32_t>(kStartMs / 3600000);
    for (int c : {1, 2, 3}) EXPECT_THAT(hours[c], ::testing::ElementsAre(hour)) << c;

    // A new engine lists exactly the recorded files.
    rec1.reset();
    rec2.reset();
    rec3.reset();
    StartEngine();
    EXPECT_THAT(housekeeping::RecordBegins(*m_engine, 1), ::testing::ElementsAre(h264.front().unixMs));
    EXPECT_THAT(housekeeping::RecordBegins(*m_engine, 2), ::testing::ElementsAre(mjpeg.front().unixMs));
    EXPECT_THAT(housekeeping::RecordBegins(*m_engine, 3), ::testing::ElementsAre(kStartMs + 2000));
}

// One rollover scenario: the frames to queue and the files expected.
struct RolloverCase {
    const char* name;
    std::function<std::vector<VideoFramePtr>(int camera)> frames;
    bool control;
    std::vector<uint32_t> counts;  // frames per finished file
    std::vector<uint8_t> flags;    // close flag per finished file
    int32_t timeLimit = 0;         // FileSizeTimeLimit, with a tick of 1 s per frame
};

std::vector<VideoFramePtr> Synthetic(int camera, size_t count, size_t gop, int64_t start = kStartMs,
                                     const char* tag = "H264") {
    std::vector<VideoFramePtr> frames;
    for (size_t i = 0; i < count; ++i) {
        const bool key = i % gop == 0;
        frames.push_back(MakeFrame(camera, start + static_cast<int64_t>(i) * 40,
                                   testsupport::MakeTaggedFrame(std::vector<uint8_t>(64, uint8_t(i)), tag, key)));
    }
    return frames;
}

TEST_F(RecorderTest, RolloverRules) {
    const RolloverCase cases[] = {
        {"frame limit, more frames follow", [](int c) { return Synthetic(c, 502, 25); }, true, {500, 2}, {1, 0}},
        {"frame limit at the last frame", [](int c) { return Synthetic(c, 501, 25); }, true, {500, 1}, {0, 0}},
        {"clock stepped back",
         [](int c) {
             auto f = Synthetic(c, 10, 5);
             auto back = Synthetic(c, 5, 5, kStartMs + 100);
             f.insert(f.end(), back.begin(), back.end());
             return f;
         },
         true, {10, 5}, {1, 0}},
        {"format change waits for a key frame",
         [](int c) {
             auto f = Synthetic(c, 6, 3);
             auto mpeg4 = Synthetic(c, 6, 4, kStartMs + 1000, "MPG4");
             f.insert(f.end(), mpeg4.begin() + 1, mpeg4.end());  // P P P K P
             return f;
         },
         true, {6, 2}, {1, 0}},
        {"limit at a predicted frame splits at the next key frame", [](int c) { return Synthetic(c, 520, 30); }, true,
         {510, 10}, {1, 0}},
        {"file time limit",
         [](int c) { return Synthetic(c, 7, 1); }, true, {3, 3, 1}, {1, 1, 0}, 3},
    };
    int camera = 10;
    for (const RolloverCase& c : cases) {
        SCOPED_TRACE(c.name);
        ++camera;
        auto recorder = Recorder(camera);
        ASSERT_TRUE(recorder);
        if (c.timeLimit) {
            RecorderLimits limits = GetRecorderLimits();
            limits.fileSizeTimeLimit = c.timeLimit;
            recorder->SetLimits(limits);
            // One second per queued frame; a frame is written when the next
            // entry arrives.
            auto now = std::make_shared<uint32_t>(0);
            recorder->SetTickSource([now] { return *now; });
            for (const auto& f : c.frames(camera)) {
                *now += 1000;
                recorder->Enqueue(f.get());
                ASSERT_TRUE(Pump(*recorder));
            }
            *now += 1000;
            recorder->Enqueue(ControlEntry(camera).get());
            ASSERT_TRUE(Pump(*recorder));
        } else {
            Record(*recorder, c.frames(camera), c.control);
        }
        for (size_t i = 0; i < c.counts.size(); ++i) {
            const StoredFile stored = ReadStored(FilePath(kStartMs, static_cast<uint32_t>(i), camera));
            EXPECT_EQ(stored.count, c.counts[i]) << "file " << i;
            EXPECT_EQ(stored.index.size(), c.counts[i]) << "file " << i;
            EXPECT_EQ(stored.flag, c.flags[i]) << "file " << i;
        }
        EXPECT_FALSE(fs::exists(FilePath(kStartMs, static_cast<uint32_t>(c.counts.size()), camera)));
    }
}

TEST_F(RecorderTest, AnArchiveIdHeaderComesFirst) {
    m_engine->SetChannelRecordSettings(4, 0, "", 0x1234);
    auto recorder = Recorder(4);
    Record(*recorder, Synthetic(4, 3, 1));
    const StoredFile stored = ReadStored(FilePath(kStartMs, 0, 4));
    ASSERT_GE(stored.bytes.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(stored.bytes.begin(), stored.bytes.begin() + 8),
              (std::vector<uint8_t>{0xFF, 0xFF, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00}));
    ASSERT_EQ(stored.index.size(), 3u);
    EXPECT_EQ(stored.index[0].offset, 8u);
    DynamicFramesReader reader(false);
    ASSERT_TRUE(reader.Open(FilePath(kStartMs, 0, 4), 0x1234));
    EXPECT_EQ(reader.GetHeaderIdMatch(), 1);
}

TEST_F(RecorderTest, AWaveletRunEndsWithItsKeyFrameInFront) {
    // WL70 frames: 28-byte header, key bit in the word at 24, code '{'.
    auto wavelet = [](bool key, uint8_t fill) {
        std::vector<uint8_t> data(40, fill);
        const uint32_t length = 36;  // the key part, without the tag
        std::memcpy(&data[4], &length, 4);
        const uint32_t flags = key ? 0x1000000u : 0u;
        std::memcpy(&data[24], &flags, 4);
        data[36] = 'I';
        data[37] = '+';
        data[38] = 'v';
        data[39] = static_cast<uint8_t>('{' + 48);
        return data;
    };
    auto recorder = Recorder(5);
    std::vector<VideoFramePtr> frames;
    frames.push_back(MakeFrame(5, kStartMs, wavelet(true, 1)));
    frames.push_back(MakeFrame(5, kStartMs + 40, wavelet(false, 2)));
    frames.push_back(MakeFrame(5, kStartMs + 80, wavelet(false, 3)));
    ASSERT_EQ(ParseVideoFormatTag(frames[0]->m_pData, frames[0]->m_cbData), '{');
    ASSERT_TRUE(IsKeyFrame(frames[0].get()));
    Record(*recorder, frames);
    const ReadBack back = ReadAll(FilePath(kStartMs, 0, 5));
    ASSERT_EQ(back.data.size(), 3u);
    EXPECT_EQ(back.data[0], wavelet(true, 1));
    EXPECT_EQ(back.data[1], wavelet(false, 2));
    // The last frame of the run carries the key frame in front of it.
    const VideoFramePtr expected = MakeFrameWithKeyHeader(frames[0].get(), frames[2].get());
    ASSERT_TRUE(expected && expected->m_cbData > 40);
    EXPECT_EQ(back.data[2], std::vector<uint8_t>(expected->m_pData, expected->m_pData + expected->m_cbData));
}

TEST_F(RecorderTest, FileNumbersFollowTheHourFolder) {
    const std::string folder = Archive() + "/" + HourFolder(kStartMs);
    fs::create_directories(folder);
    gavex_test::WriteFileBytes(folder + "/1A2F._07", {1});
    gavex_test::WriteFileBytes(folder + "/1A31._07.protected", {});
    gavex_test::WriteFileBytes(folder + "/1A40._08", {1});
    auto recorder = Recorder(7);
    Record(*recorder, Synthetic(7, 2, 1));
    EXPECT_TRUE(fs::exists(FilePath(kStartMs, 0x1A32, 7)));
    EXPECT_EQ(ReadAll(FilePath(kStartMs, 0x1A32, 7)).data.size(), 2u);
}

TEST_F(RecorderTest, TakenDestinationNamesMoveTheNumberOnUntilTheyRunOut) {
    for (int taken : {11, 12}) {
        SCOPED_TRACE(taken);
        const int camera = 20 + taken;
        auto recorder = Recorder(camera);
        for (const auto& f : Synthetic(camera, 3, 1)) recorder->Enqueue(f.get());
        recorder->Enqueue(Synthetic(camera, 1, 1, kStartMs + 1000).front().get());
        ASSERT_TRUE(Pump(*recorder));
        // Another writer takes the names while the file is being written.
        for (int n = 0; n < taken; ++n) gavex_test::WriteFileBytes(FilePath(kStartMs, static_cast<uint32_t>(n), camera), {});
        recorder->Enqueue(ControlEntry(camera).get());
        ASSERT_TRUE(Pump(*recorder));
        const std::string writing = recorder->GetWritingPath();
        if (taken == 11) {
            EXPECT_EQ(ReadAll(FilePath(kStartMs, 11, camera)).data.size(), 4u);
            EXPECT_THAT(housekeeping::RecordBegins(*m_engine, camera), ::testing::ElementsAre(kStartMs));
        } else {
            // Nothing is indexed, and the recording is kept beside its
            // temporary name.
            EXPECT_FALSE(fs::exists(FilePath(kStartMs, 12, camera)));
            EXPECT_TRUE(housekeeping::RecordBegins(*m_engine, camera).empty());
            bool kept = false;
            for (const auto& e : fs::directory_iterator(fs::path(writing).parent_path()))
                if (e.path().string().rfind(writing + ".", 0) == 0) kept = ReadAll(e.path().string()).data.size() == 4;
            EXPECT_TRUE(kept);
        }
    }
}

TEST_F(RecorderTest, FilesOfTheTemporaryFolderAreMovedUnderNumberedNames) {
    gavex_test::TempDir temp{"rectemp"};
    VolumeSettings settings = GetVolumeSettings();
    settings.tempWritingDir = temp.path();
    SetVolumeSettings(settings);
    FileRecorder::ResetRenameCounterForTesting();
    auto recorder = Recorder(9);
    ASSERT_EQ(recorder->GetWritingPath(), temp.path() + "/writing._09");
    recorder->GetMoveThread().HoldForTesting(true);
    Record(*recorder, Synthetic(9, 3, 1));
    Record(*recorder, Synthetic(9, 2, 1, kStartMs + 5000));
    EXPECT_EQ(FileRecorder::NextRenameNumberForTesting(), 2u);
    // Both wait under numbered names, in the order they were finished.
    EXPECT_EQ(ReadAll(temp / "writing._09.0").data.size(), 3u);
    EXPECT_EQ(ReadAll(temp / "writing._09.1").data.size(), 2u);
    // Their places in the archive are taken meanwhile by empty placeholders.
    EXPECT_EQ(fs::file_size(FilePath(kStartMs, 0, 9)), 0u);
    recorder->GetMoveThread().HoldForTesting(false);
    for (int i = 0; i < 500 && recorder->GetMoveThread().Pending() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    recorder.reset();
    m_engine->ClearRecorders();
    EXPECT_EQ(ReadAll(FilePath(kStartMs, 0, 9)).data.size(), 3u);
    EXPECT_EQ(ReadAll(FilePath(kStartMs, 1, 9)).data.size(), 2u);
    // Once in place a file carries its last frame's time.
    struct stat st {};
    ASSERT_EQ(::stat(FilePath(kStartMs, 1, 9).c_str(), &st), 0);
    EXPECT_EQ(static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000, kStartMs + 5000 + 40);
    EXPECT_TRUE(fs::is_empty(temp.path()));
}

TEST_F(RecorderTest, ReadingTheFileBeingWritten) {
    // The product's frame compressor; ffmpeg decodes.
    testsupport::ScopedTestCodecs codecs(false, true);
    InstallFrameCompressor();
    const auto h264 = testsupport::GenerateH264Frames(m_work.path(), 12, kStartMs, 200, 25);
    const auto mjpeg = testsupport::GenerateMjpegFrames(m_work.path(), 4, kStartMs, 200);
    if (h264.empty() || mjpeg.empty()) GTEST_SKIP() << "ffmpeg is not available";
    auto request = [](int camera, int64_t unixMs) {
        VideoFramePtr frame(new VideoFrame("cam", camera), false);
        const TSS t = TSS::FromUtc(static_cast<uint64_t>(unixMs) + kArchiveUnixOffsetMs);
        frame->m_sFileId = "time " + t.ToString();
        return frame;
    };

    auto rec = Recorder(12);
    const auto frames = FramesOf(12, h264);
    // One frame written: the newest record is never read.
    rec->Enqueue(frames[0].get());
    rec->Enqueue(frames[1].get());
    ASSERT_TRUE(Pump(*rec));
    ASSERT_EQ(rec->GetFrameCount(), 1u);
    EXPECT_FALSE(rec->ReadFrameOfCurrentFile(request(12, kStartMs).get()));

    for (size_t i = 2; i < frames.size(); ++i) rec->Enqueue(frames[i].get());
    ASSERT_TRUE(Pump(*rec));
    ASSERT_EQ(rec->GetFrameCount(), frames.size() - 1);

    // Before the first frame: the first (key) frame, unchanged.
    auto before = request(12, kStartMs - 5000);
    ASSERT_TRUE(rec->ReadFrameOfCurrentFile(before.get()));
    EXPECT_EQ(std::vector<uint8_t>(before->m_pData, before->m_pData + before->m_cbData), h264[0].data);

    // A predicted frame comes back as a JPEG of the picture decoded up to it.
    const size_t n = 5;
    ASSERT_FALSE(h264[n].key);
    auto predicted = request(12, h264[n].unixMs);
    ASSERT_TRUE(rec->ReadFrameOfCurrentFile(predicted.get()));
    ASSERT_EQ(ParseVideoFormatTag(predicted->m_pData, predicted->m_cbData), '7');
    EXPECT_EQ(predicted->m_tssTime.ToUtcMilliseconds() - kArchiveUnixOffsetMs, static_cast<uint64_t>(h264[n].unixMs));
    EXPECT_EQ(predicted->m_nTotalFrames, static_cast<int32_t>(frames.size() - 1));
    auto decoder = testsupport::MakeFfmpegDecompressor();
    VideoFramePtr reference;
    for (size_t i = 0; i <= n; ++i) reference = decoder->Decompress(MakeFrame(1, 0, h264[i].data).get(), 0);
    ASSERT_TRUE(reference);
    int w = 0, h = 0;
    const auto planes = testsupport::DecodeJpegToYuv420(predicted->m_pData, predicted->m_cbData - 4, w, h);
    ASSERT_EQ(planes.size(), reference->m_cbData);
    double diff = 0;
    for (size_t p = 0; p < planes.size(); ++p) diff += std::abs(int(planes[p]) - int(reference->m_pData[p]));
    EXPECT_LT(diff / static_cast<double>(planes.size()), 6.0);

    // A key frame of an MJPEG file comes back as it is.
    auto mj = Recorder(13);
    for (const auto& f : FramesOf(13, mjpeg)) mj->Enqueue(f.get());
    ASSERT_TRUE(Pump(*mj));
    auto key = request(13, mjpeg[1].unixMs);
    ASSERT_TRUE(mj->ReadFrameOfCurrentFile(key.get()));
    EXPECT_EQ(std::vector<uint8_t>(key->m_pData, key->m_pData + key->m_cbData), mjpeg[1].data);
}

TEST_F(RecorderTest, WithoutACompressorRawFramesAreNotRecorded) {
    m_engine->SetChannelRecordSettings(14, 1, "MJPEG", 0);
    auto recorder = Recorder(14);
    const std::vector<uint8_t> picture(160 * 120 * 3 / 2, 128);
    std::vector<VideoFramePtr> frames{MakeFrame(14, kStartMs, picture, FrameFormatYuv420),
                                      MakeFrame(14, kStartMs + 40, picture, FrameFormatYuv420)};
    Record(*recorder, frames);
    EXPECT_EQ(recorder->GetFrameCount(), 0u);
    EXPECT_FALSE(fs::exists(FilePath(kStartMs, 0, 14)));
    EXPECT_TRUE(housekeeping::RecordBegins(*m_engine, 14).empty());
}

TEST_F(RecorderTest, TheEnginesRecorders) {
    EXPECT_FALSE(m_engine->GetRecorder(30, false, ""));
    auto recorder = m_engine->GetRecorder(30, true, "");
    ASSERT_TRUE(recorder);
    EXPECT_EQ(m_engine->GetRecorder(30, false, ""), recorder);
    EXPECT_NE(m_engine->GetRecorder(30, true, "sub"), recorder);
    EXPECT_EQ(MakeRecorderKey(30, ""), "recorder: channel = 30, id = (null)");
    EXPECT_EQ(m_engine->GetRecorderCount(), 2u);
    // Clearing the recorders finishes the file being written.
    for (const auto& f : Synthetic(30, 3, 1)) recorder->Enqueue(f.get());
    ASSERT_TRUE(Pump(*recorder));
    recorder.reset();
    m_engine->ClearRecorders();
    EXPECT_EQ(m_engine->GetRecorderCount(), 0u);
    EXPECT_EQ(ReadStored(FilePath(kStartMs, 0, 30)).count, 2u);
    EXPECT_THAT(housekeeping::RecordBegins(*m_engine, 30), ::testing::ElementsAre(kStartMs));
}

// A disk file whose disk holds `limit` bytes: a write past it puts what fits
// on the disk and reports the disk full.
class FullAtFile : public CFileBuffered {
public:
    FullAtFile(qormisc::SyncObject* lock, bool buffered, uint64_t limit)
        : CFileBuffered(lock, "1", buffered ? "" : "0"), m_limit(limit) {}

protected:
    void WriteToDisk(const void* data, std::size_t count) override {
        const uint64_t at = platform::File::GetPosition();
        if (at + count <= m_limit) {
            CFileBuffered::WriteToDisk(data, count);
            return;
        }
        if (at < m_limit) CFileBuffered::WriteToDisk(data, static_cast<size_t>(m_limit - at));
        platform::FileException::Throw(platform::FileException::diskFull, ENOSPC, m_path);
    }

private:
    uint64_t m_limit;
};

// Records 60 kB frames until the disk is full: the disk-full retries end the
// run, and every frame that reached the disk stays readable.
// exact: nothing else frees space meanwhile. On a real volume the engine's
// ring cleaning may delete the oldest files to make room once the free space
// reads 0 MB; what is left is then checked to be intact and in order, ending
// with the last frame reported written (without the block buffer).
void RecordUntilFull(FileSystem& engine, const std::function<std::unique_ptr<CFileBuffered>()>& makeFile,
                     bool buffered, bool exact) {
    auto recorder = engine.GetRecorder(40, true, "");
    ASSERT_TRUE(recorder);
    recorder->SetDiskFullAttempts(3);
    recorder->SetDiskFile(makeFile());
    std::vector<std::vector<uint8_t>> written;
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        auto data = testsupport::MakeMjpegFrame(std::vector<uint8_t>(60000, uint8_t(i)));
        auto frame = MakeFrame(40, kStartMs + i * 40, data);
        if (recorder->WriteFrame(frame.get(), false))
            written.push_back(data);
        else
            ended = true;
    }
    EXPECT_TRUE(ended);
    recorder.reset();
    engine.ClearRecorders();
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(engine.GetVolumePath(0)))
        if (e.is_regular_file() && e.path().extension() == "._40") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    std::vector<std::vector<uint8_t>> found;
    for (const auto& file : files) {
        const ReadBack back = ReadAll(file);
        found.insert(found.end(), back.data.begin(), back.data.end());
    }
    if (!exact) {
        ASSERT_FALSE(found.empty());
        size_t at = 0;
        for (const auto& frame : found) {
            while (at < written.size() && written[at] != frame) ++at;
            ASSERT_LT(at, written.size()) << "a frame that was not written, or out of order";
            ++at;
        }
        if (!buffered) {
            EXPECT_TRUE(found.back() == written.back());
        }
    } else if (!buffered) {
        EXPECT_EQ(found.size(), written.size());
        EXPECT_TRUE(found == written);
    } else {
        // What the last block could not put on the full disk is gone;
        // everything before it is there, intact and in order.
        ASSERT_LE(found.size(), written.size()) << files.size();
        EXPECT_GE(found.size() + 0x100000 / 60000 + 1, written.size());
        EXPECT_TRUE(std::equal(found.begin(), found.end(), written.begin()));
    }
}

TEST_F(RecorderTest, AFullDiskEndsTheRunWithoutLosingWhatWasWritten) {
    for (const bool buffered : {false, true}) {
        SCOPED_TRACE(buffered ? "block buffer" : "no block buffer");
        RecordUntilFull(
            *m_engine,
            [this, buffered] { return std::make_unique<FullAtFile>(&m_engine->GetRecordingLock(), buffered, 1500000); },
            buffered, true);
        std::error_code ec;
        fs::remove_all(Archive() + "/" + HourFolder(kStartMs), ec);
    }
}

// The same on a real small memory file system, where one can be mounted.
TEST_F(RecorderTest, AFullMemoryFileSystemEndsTheRunWithoutLosingWhatWasWritten) {
    for (const bool buffered : {false, true}) {
        SCOPED_TRACE(buffered ? "block buffer" : "no block buffer");
        gavex_test::ScopedTmpfs mountPoint{"rectmpfs", "2m"};
        if (!mountPoint.mounted())
            GTEST_SKIP() << "no tmpfs can be mounted here";
        fs::create_directories(mountPoint.path() + "/VIDEO");
        FileSystem engine;
        ASSERT_TRUE(engine.Init({mountPoint.path()}));
        RecordUntilFull(
            engine,
            [&engine, buffered] {
                return std::make_unique<CFileBuffered>(&engine.GetRecordingLock(), "1", buffered ? "" : "0");
            },
            buffered, false);
    }
}

TEST_F(RecorderTest, TheQueueAndItsControlEntries) {
    auto recorder = Recorder(16);
    // A lone frame waits for the next entry.
    const auto frames = Synthetic(16, 3, 1);
    recorder->Enqueue(frames[0].get());
    ASSERT_TRUE(recorder->Run());
    EXPECT_EQ(recorder->QueueLength(), 1u);
    EXPECT_EQ(recorder->GetFrameCount(), 0u);
    // A control entry releases it as the last frame of the run; the file is
    // finished with close flag 0.
    recorder->Enqueue(ControlEntry(16).get());
    ASSERT_TRUE(Pump(*recorder));
    EXPECT_EQ(recorder->QueueLength(), 0u);
    StoredFile stored = ReadStored(FilePath(kStartMs, 0, 16));
    EXPECT_EQ(stored.count, 1u);
    EXPECT_EQ(stored.flag, 0);

    // A stream header is kept, not written.
    VideoFramePtr header = MakeFrame(16, kStartMs + 1000, {1, 2, 3, 4, 5, 6, 7, 8});
    header->m_nExtra = 1;
    recorder->Enqueue(header.get());
    Record(*recorder, {frames[1], frames[2]});
    stored = ReadStored(FilePath(kStartMs, 1, 16));
    EXPECT_EQ(stored.count, 2u);

    // A control entry without a source name discards the run's file.
    auto discard = Synthetic(16, 2, 1, kStartMs + 5000);
    for (const auto& f : discard) recorder->Enqueue(f.get());
    recorder->Enqueue(ControlEntry(16, false).get());
    ASSERT_TRUE(Pump(*recorder));
    EXPECT_FALSE(fs::exists(recorder->GetWritingPath()));
    EXPECT_FALSE(fs::exists(FilePath(kStartMs, 2, 16)));
    EXPECT_THAT(housekeeping::RecordBegins(*m_engine, 16), ::testing::ElementsAre(kStartMs, kStartMs + 40));
}

// Records the key argument of every compression.
class RecordingCompressor final : public FrameCodecs::IFrameCompressor {
public:
    explicit RecordingCompressor(std::vector<int>* keys, bool periodic) : m_keys(keys), m_periodicDefault(periodic) {}
    void Init(int, int version) override {
        m_version = version;
        m_keyRequest = 1;
        m_periodic = m_periodicDefault ? 1 : 0;
    }
    int Compress(const uint8_t*, int, int, int, int, int key, int) override {
        m_keys->push_back(key);
        m_output = {0xFF, 0xD8, 0xFF, 0xD9, static_cast<uint8_t>(m_keys->size()), 'J', 'P', 'E', 'G'};
        return static_cast<int>(m_output.size());
    }
    const uint8_t* GetOutput() const override { return m_output.data(); }
    int GetKeyRequest() const override { return m_keyRequest; }
    void SetKeyRequest(int value) override { m_keyRequest = value; }
    int GetPeriodicKey() const override { return m_periodic; }
    int GetVersion() const override { return m_version; }

private:
    std::vector<int>* m_keys;
    bool m_periodicDefault;
    std::vector<uint8_t> m_output;
    int m_keyRequest = 0, m_periodic = 0, m_version = 0;
};

TEST_F(RecorderTest, RawFramesAreCompressedWithTheKeyRules) {
    const std::vector<uint8_t> picture(16 * 16 * 3 / 2, 100);
    auto raw = [&](int camera, int i) { return MakeFrame(camera, kStartMs + i * 40, picture, FrameFormatYuv420, 16, 16); };
    for (const bool periodic : {true, false}) {
        SCOPED_TRACE(periodic ? "periodic keys" : "no periodic keys");
        std::vector<int> keys;
        FrameCodecs::SetCompressorFactory([&keys, periodic] { return std::make_unique<RecordingCompressor>(&keys, periodic); });
        const int camera = periodic ? 17 : 18;
        m_engine->SetChannelRecordSettings(camera, 1, "MJPEG", 0);
        auto recorder = Recorder(camera);
        std::vector<VideoFramePtr> frames;
        for (int i = 0; i < 45; ++i) frames.push_back(raw(camera, i));
        // A frame that arrives compressed asks for a key frame next (and,
        // being of another format, ends the file).
        frames.push_back(MakeFrame(camera, kStartMs + 45 * 40, testsupport::MakeMjpegFrame({0xFF, 0xD8, 0xFF, 0xD9})));
        frames.push_back(raw(camera, 46));
        frames.push_back(raw(camera, 47));
        Record(*recorder, frames);
        FrameCodecs::SetCompressorFactory({});
        ASSERT_EQ(keys.size(), 47u);
        std::vector<int> expected(47, 0);
        if (periodic) {
            // Every 20th frame of a file, the first after the pass-through
            // frame and the last of the run.
            for (int i : {0, 20, 40, 45, 46}) expected[static_cast<size_t>(i)] = 1;
        } else {
            expected[0] = 1;    // the compressor's first frame
            expected[45] = 1;   // after the pass-through frame
            expected[46] = -1;  // the last frame of the run
        }
        EXPECT_THAT(keys, ElementsAreArray(expected));
        EXPECT_EQ(ReadStored(FilePath(kStartMs, 0, camera)).count, 46u);
        EXPECT_EQ(ReadStored(FilePath(kStartMs, 1, camera)).count, 2u);
    }
}

struct CapturingSink : public IArchiveMessageSink {
    void OnMessage(const Event& message, int kind) override {
        std::lock_guard<std::mutex> lock(mutex);
        std::string action = message.GetAction();
        if (action == "DO_REACT") action = message.GetParam("action");
        types.push_back(message.GetType());
        messages.push_back({action, message.GetParams(), kind});
    }
    void OnFileDeleted(int, const char*, const TSS&, const TSS&) override {}
    void OnFileRecorded(int channel, const char* path, const TSS&, const TSS&) override {
        std::lock_guard<std::mutex> lock(mutex);
        recorded.emplace_back(channel, path);
    }
    void OnRecorderQueue(int channel, size_t length) override {
        std::lock_guard<std::mutex> lock(mutex);
        queue.emplace_back(channel, length);
    }
    std::vector<std::pair<int, size_t>> queue;
    std::vector<std::string> types;
    struct Sent {
        std::string action;
        Msg::Params params;
        int kind;
    };
    std::mutex mutex;
    std::vector<Sent> messages;
    std::vector<std::pair<int, std::string>> recorded;
};

TEST_F(RecorderTest, AMessageSinkHearsOfAudioAndNewFiles) {
    auto sink = std::make_shared<CapturingSink>();
    m_engine->SetMessageSink(sink);
    m_engine->SetChannelAudioMics(19, {"mic-a", "mic-b"});
    auto recorder = Recorder(19);
    EXPECT_THAT(recorder->GetAudioMics(), ::testing::ElementsAre("mic-a", "mic-b"));
    Record(*recorder, Synthetic(19, 3, 1));
    std::vector<std::string> actions;
    for (const auto& m : sink->messages) actions.push_back(m.action);
    EXPECT_THAT(actions, ::testing::ElementsAre("RECORD_START", "RECORD_STOP", "ARCH_NEW"));
    const std::string destination = FilePath(kStartMs, 0, 19);
    ASSERT_EQ(sink->messages.size(), 3u);
    const auto& archNew = sink->messages[2];
    EXPECT_EQ(archNew.kind, 0);
    EXPECT_EQ(archNew.params.at("file"), destination);
    EXPECT_EQ(archNew.params.at("time1"), TSS::FromUtc(kStartMs + kArchiveUnixOffsetMs).ToString());
    EXPECT_EQ(sink->messages[0].kind, 1);
    ASSERT_EQ(sink->recorded.size(), 1u);
    EXPECT_EQ(sink->recorded[0], std::make_pair(19, destination));
    // Three frames and a control entry, taken one per pass.
    EXPECT_THAT(sink->queue, ::testing::ElementsAre(std::pair<int, size_t>{19, 4}, std::pair<int, size_t>{19, 3},
                                                    std::pair<int, size_t>{19, 2}, std::pair<int, size_t>{19, 1}));
}

TEST_F(RecorderTest, AChangedRecordDriveTakesTheNextFile) {
    gavex_test::TempDir second{"recorder2"};
    fs::create_directories(second.path() + "/VIDEO");
    m_engine.reset();
    m_engine = std::make_unique<FileSystem>();
    ASSERT_TRUE(m_engine->Init({m_dir.path(), second.path()}));
    ASSERT_EQ(m_engine->GetVolumeCount(), 2u);
    auto recorder = Recorder(21);
    const int first = recorder->GetVolumeIndex();
    Record(*recorder, Synthetic(21, 2, 1));
    m_engine->SetRecordVolume(1 - first);
    recorder->SetDriveChanged();
    Record(*recorder, Synthetic(21, 2, 1, kStartMs + 5000));
    EXPECT_FALSE(recorder->IsDriveChanged());
    EXPECT_EQ(recorder->GetVolumeIndex(), 1 - first);
    const std::string hour = HourFolder(kStartMs);
    EXPECT_TRUE(fs::exists(m_engine->GetVolumePath(first) + "/" + hour + "/0._21"));
    // The hour folder is looked up afresh on the new volume; the number goes
    // on from the last file of that hour.
    EXPECT_TRUE(fs::exists(m_engine->GetVolumePath(1 - first) + "/" + hour + "/1._21"));
}


TEST_F(RecorderTest, SplitFramesWriteTheirHeadOnceAndTheirTails) {
    auto recorder = Recorder(22);
    std::vector<VideoFramePtr> frames;
    const int32_t numbers[] = {7, 8, 20, 21};  // the sender's numbers: two runs
    for (int i = 0; i < 4; ++i) {
        std::vector<uint8_t> data{10, 11, 12, static_cast<uint8_t>(20 + i), 90, 91, static_cast<uint8_t>(i)};
        auto frame = MakeFrame(22, kStartMs + i * 40, data, 100);
        frame->m_nExtra = 3;  // the tail
        frame->m_nFrameNumber = numbers[i];
        frames.push_back(frame);
    }
    Record(*recorder, frames);
    const ReadBack back = ReadAll(FilePath(kStartMs, 0, 22));
    ASSERT_EQ(back.data.size(), 4u);
    EXPECT_EQ(back.data[0], (std::vector<uint8_t>{10, 11, 12, 20}));   // the head of a new run
    EXPECT_EQ(back.data[1], (std::vector<uint8_t>{90, 91, 1}));        // a continuing frame: its tail
    EXPECT_EQ(back.data[2], (std::vector<uint8_t>{10, 11, 12, 22}));   // a gap in the numbers: a new run
    EXPECT_EQ(back.data[3], (std::vector<uint8_t>{10, 11, 12, 'C'}));  // the run's end: the kept head, marked

    // A head larger than the kept buffer's 1,000,000 bytes is kept whole.
    auto large = Recorder(28);
    std::vector<uint8_t> head(1200000, 0x5A);
    std::vector<VideoFramePtr> run;
    for (int i = 0; i < 2; ++i) {
        std::vector<uint8_t> data = head;
        data.insert(data.end(), {1, 2, 3});
        auto frame = MakeFrame(28, kStartMs + i * 40, data, 100);
        frame->m_nExtra = 3;
        frame->m_nFrameNumber = i;
        run.push_back(frame);
    }
    Record(*large, run);
    const ReadBack big = ReadAll(FilePath(kStartMs, 0, 28));
    ASSERT_EQ(big.data.size(), 2u);
    EXPECT_EQ(big.data[0], head);
    head.back() = 'C';
    EXPECT_EQ(big.data[1], head);
}

TEST_F(RecorderTest, AMemoryFileIsWrittenToItsDestinationWhenItEnds) {
    enginetest::WriteMachineRegistry("[SOFTWARE\\QOR\\Vindara\\Video]\n\"MemFile\"=\"1\"\n");
    auto recorder = Recorder(23);
    const auto frames = Synthetic(23, 4, 1);
    for (const auto& f : frames) recorder->Enqueue(f.get());
    ASSERT_TRUE(Pump(*recorder));
    // Nothing is on disk yet; reads come from memory.
    EXPECT_FALSE(fs::exists(recorder->GetWritingPath()));
    VideoFramePtr request(new VideoFrame("cam", 23), false);
    request->m_sFileId = "time " + TSS::FromUtc(kStartMs + 40 + kArchiveUnixOffsetMs).ToString();
    ASSERT_TRUE(recorder->ReadFrameOfCurrentFile(request.get()));
    EXPECT_EQ(std::vector<uint8_t>(request->m_pData, request->m_pData + request->m_cbData),
              std::vector<uint8_t>(frames[1]->m_pData, frames[1]->m_pData + frames[1]->m_cbData));
    recorder->Enqueue(ControlEntry(23).get());
    ASSERT_TRUE(Pump(*recorder));
    enginetest::WriteMachineRegistry("");
    const StoredFile stored = ReadStored(FilePath(kStartMs, 0, 23));
    EXPECT_EQ(stored.count, 4u);
    EXPECT_EQ(ReadAll(FilePath(kStartMs, 0, 23)).data.size(), 4u);
    EXPECT_THAT(housekeeping::RecordBegins(*m_engine, 23), ::testing::ElementsAre(kStartMs));
}


TEST_F(RecorderTest, AFailedMoveKeepsTheVideoAndTakesItsRecordBack) {
    auto recorder = Recorder(24);
    const std::string folder = Archive() + "/" + HourFolder(kStartMs);
    // A destination that cannot be replaced: a folder with something in it.
    const std::string destination = folder + "/5._24";
    fs::create_directories(destination + "/busy");
    VindaraFileSystem::DirEntry entry;
    entry.begin = kStartMs;
    entry.end = kStartMs + 1000;
    entry.fileId = 5;
    m_engine->GetCameraDir(24, true)->AddEntry(entry);

    // Direct move: the error is raised, the source stays, and the folders'
    // users are listed into move_errors.log beside the source.
    const std::string source = m_work / "writing._24";
    gavex_test::WriteFileBytes(source, {1, 2, 3});
    EXPECT_THROW(recorder->MoveToArchive(source, destination, entry), platform::FileException);
    EXPECT_EQ(gavex_test::ReadFileBytes(source), (std::vector<uint8_t>{1, 2, 3}));
    if (::access("/usr/bin/lsof", X_OK) == 0) {
        const std::string log = gavex_test::ReadFileString(m_work / "move_errors.log");
        EXPECT_THAT(log, ::testing::HasSubstr("[FILESYSTEM][TEMP] Failed to move file: from \"" + source + "\""));
        EXPECT_THAT(log, ::testing::HasSubstr("Info for: " + m_work.path() + "\n"));
        EXPECT_THAT(log, ::testing::HasSubstr("Info for: " + folder + "\n"));
    }

    // Background move out of the temporary folder: the file stays under its
    // numbered name and the record naming the destination is taken back.
    std::vector<std::string> failures;
    m_engine->TempFileMoveFailed.connect([&failures](int, const char* temporary, const char*, unsigned long) {
        failures.push_back(temporary);
    });
    const std::string numbered = m_work / "writing._24.7";
    gavex_test::WriteFileBytes(numbered, {4, 5});
    recorder->GetMoveThread().Add(numbered, MoveFilesThread::Job{destination, entry});
    for (int i = 0; i < 500 && recorder->GetMoveThread().Pending() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    recorder.reset();
    m_engine->ClearRecorders();
    EXPECT_THAT(failures, ::testing::ElementsAre(numbered));
    EXPECT_EQ(gavex_test::ReadFileBytes(numbered), (std::vector<uint8_t>{4, 5}));
    EXPECT_TRUE(housekeeping::RecordBegins(*m_engine, 24).empty());
}


TEST_F(RecorderTest, TheRecordingThreadWorksThroughTheQueue) {
    auto recorder = Recorder(25);
    ASSERT_TRUE(recorder->Start());
    for (const auto& f : Synthetic(25, 30, 5)) recorder->Enqueue(f.get());
    recorder->Enqueue(ControlEntry(25).get());
    const std::string path = FilePath(kStartMs, 0, 25);
    for (int i = 0; i < 1000 && !(fs::exists(path) && fs::file_size(path) > 21); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    recorder.reset();
    m_engine->ClearRecorders();
    EXPECT_EQ(ReadAll(path).data.size(), 30u);
}


TEST_F(RecorderTest, AnIndexFileThatCannotBeWrittenLosesOnlyTheIndexEntry) {
    fs::create_directories(Archive() + "/" + HourFolder(kStartMs));
    fs::create_directories(Archive() + "/INDEX/05032410.idx");  // opens for nobody
    std::vector<std::string> errors;
    m_engine->ErrorReported.connect([&errors](int channel, const char* text, unsigned long) {
        if (channel == 26) errors.push_back(text);
    });
    auto recorder = Recorder(26);
    Record(*recorder, Synthetic(26, 2, 1));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_THAT(errors[0], ::testing::MatchesRegex(".*Entry \".*/0\\._26\" was lost cause of access error 21 to the "
                                                   "index file \".*/05032410\\.idx\"\\. Index update failed "
                                                   "[0-9][0-9][0-9]?\\.[0-9][0-9]%"));
    EXPECT_EQ(ReadAll(FilePath(kStartMs, 0, 26)).data.size(), 2u);
    EXPECT_THAT(housekeeping::RecordBegins(*m_engine, 26), ::testing::ElementsAre(kStartMs));
}


TEST_F(RecorderTest, NoFileOpensOnAVolumeThatStaysFull) {
    VolumeSettings settings = GetVolumeSettings();
    settings.freeMB = settings.archFreeMB = 4000000000u;
    SetVolumeSettings(settings);
    auto recorder = Recorder(27);
    const auto frames = Synthetic(27, 1, 1);
    EXPECT_FALSE(recorder->WriteFrame(frames[0].get(), false));
    EXPECT_EQ(recorder->GetFrameCount(), 0u);
    EXPECT_FALSE(fs::exists(recorder->GetWritingPath()));
}


TEST_F(RecorderTest, DeleteFileNamesTheRecordersFirstMicrophone) {
    const std::string folder = Archive() + "/" + HourFolder(kStartMs);
    fs::create_directories(folder);
    gavex_test::WriteFileBytes(folder + "/3._31", {1});
    gavex_test::WriteFileBytes(folder + "/4._31", {1});
    // Without a sink no recorder is looked up.
    EXPECT_TRUE(m_engine->RemoveFile((folder + "/3._31").c_str(), 0, 0));
    EXPECT_EQ(m_engine->GetRecorderCount(), 0u);

    auto sink = std::make_shared<CapturingSink>();
    m_engine->SetMessageSink(sink);
    m_engine->SetChannelAudioMics(31, {"line-7", "line-8"});
    EXPECT_TRUE(m_engine->RemoveFile((folder + "/4._31").c_str(), 0, 0));
    ASSERT_EQ(m_engine->GetRecorderCount(), 1u);
    ASSERT_EQ(sink->messages.size(), 1u);
    EXPECT_EQ(sink->messages[0].action, "DELETE_FILE");
    EXPECT_EQ(sink->messages[0].params.at("source_id"), "line-7");
    EXPECT_EQ(sink->messages[0].kind, 1);
}


TEST_F(RecorderTest, AMemoryFileThatDoesNotFitIndexesNoPlaceholder) {
    gavex_test::ScopedTmpfs mountPoint{"rectmpfs", "2m"};
    if (!mountPoint.mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here";
    fs::create_directories(mountPoint.path() + "/VIDEO");
    enginetest::WriteMachineRegistry("[SOFTWARE\\QOR\\Vindara\\Video]\n\"MemFile\"=\"1\"\n");
    FileSystem engine;
    ASSERT_TRUE(engine.Init({mountPoint.path()}));
    auto recorder = engine.GetRecorder(29, true, "");
    enginetest::WriteMachineRegistry("");
    recorder->SetDiskFullAttempts(2);
    // 3 MB in memory for a volume of 2 MB (whose free space, above 0 MB,
    // neither ends the file early nor refuses it).
    for (int i = 0; i < 50; ++i) {
        auto frame = MakeFrame(29, kStartMs + i * 40, testsupport::MakeMjpegFrame(std::vector<uint8_t>(60000, 1)));
        ASSERT_TRUE(recorder->WriteFrame(frame.get(), false));
    }
    recorder.reset();
    engine.ClearRecorders();
    const std::string folder = engine.GetVolumePath(0) + "/" + HourFolder(kStartMs);
    EXPECT_FALSE(fs::exists(folder + "/0._29"));
    EXPECT_TRUE(housekeeping::RecordBegins(engine, 29).empty());
}


// A memory file's whole size is reserved before its first byte is written:
// one that fits is written to exactly its size without a full-disk report;
// one that does not reports the full disk (and changes the record drive)
// before the writing starts.
// Not on the fixture: its engine would set the process logger up first.
TEST(RecorderLogTest, AMemoryFileIsReservedWholeBeforeItIsWritten) {
    ProcessLogCapture log;
    if (!log.active) GTEST_SKIP() << "the process logger was set up earlier in this process";
    enginetest::ScopedTimeZone zone{"UTC"};
    const VolumeSettings saved = GetVolumeSettings();
    VolumeSettings settings = saved;
    settings.freeMB = settings.archFreeMB = 0;
    settings.freeMBCritical = 0;
    settings.tempWritingDir.clear();
    SetVolumeSettings(settings);
    struct Restore {
        VolumeSettings settings;
        ~Restore() { SetVolumeSettings(settings); }
    } restore{saved};
    gavex_test::ScopedTmpfs mountPoint{"rectmpfs", "2m"};
    if (!mountPoint.mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here";
    fs::create_directories(mountPoint.path() + "/VIDEO");
    enginetest::WriteMachineRegistry("[SOFTWARE\\QOR\\Vindara\\Video]\n\"MemFile\"=\"1\"\n");
    FileSystem engine;
    ASSERT_TRUE(engine.Init({mountPoint.path()}));
    auto recorder = engine.GetRecorder(31, true, "");
    enginetest::WriteMachineRegistry("");
    recorder->SetDiskFullAttempts(2);
    const std::string folder =
        engine.GetVolumePath(0) + "/" +
        FormatHourFolderName(TSS::FromUtc(static_cast<uint64_t>(kStartMs) + kArchiveUnixOffsetMs));
    const std::string reserveFailed = "[WRITING] Camera 31 ERROR_DISK_FULL (memFile, SetFilePointerEx)";

    struct Case {
        int frames;
        bool fits;
    };
    // About 0.6 MB, then about 3 MB on the 1.4 MB left.
    const Case cases[] = {{10, true}, {50, false}};
    for (size_t c = 0; c < 2; ++c) {
        SCOPED_TRACE(cases[c].frames);
        const int from = static_cast<int>(log.Lines().size());
        for (int i = 0; i < cases[c].frames; ++i) {
            auto frame = MakeFrame(31, kStartMs + (static_cast<int64_t>(c) * 100 + i) * 40,
                                   testsupport::MakeMjpegFrame(std::vector<uint8_t>(60000, 1)));
            ASSERT_TRUE(recorder->WriteFrame(frame.get(), false));
        }
        recorder->Close(false);
        const std::string path = folder + "/" + std::to_string(c) + "._31";
        const int reserved = log.Find(reserveFailed, from);
        const int start = log.Find("[WRITING] Camera 31 start writing (" + path + ")", from);
        ASSERT_GE(start, 0);
        if (cases[c].fits) {
            EXPECT_EQ(reserved, -1);
            const StoredFile stored = ReadStored(path);
            EXPECT_EQ(stored.count, static_cast<uint32_t>(cases[c].frames));
            EXPECT_EQ(stored.index.size(), static_cast<size_t>(cases[c].frames));
            EXPECT_EQ(ReadAll(path).data.size(), static_cast<size_t>(cases[c].frames));
            EXPECT_THAT(housekeeping::RecordBegins(engine, 31), ::testing::ElementsAre(kStartMs));
        } else {
            ASSERT_GE(reserved, 0);
            EXPECT_LT(reserved, start);
            EXPECT_GT(log.Find("[WRITING] Camera 31 ERROR_DISK_FULL (memFile)", start), start);
            EXPECT_FALSE(fs::exists(path));
            // The forced drive change may clean the older file away; the
            // failed one is never indexed.
            EXPECT_THAT(housekeeping::RecordBegins(engine, 31),
                        ::testing::Not(::testing::Contains(kStartMs + 100 * 40)));
        }
    }
}


TEST_F(RecorderTest, TheFirstFaceCaptureChannelHasTheShortLimitButCameraEvents) {
    auto sink = std::make_shared<CapturingSink>();
    m_engine->SetMessageSink(sink);
    auto recorder = Recorder(50000);
    ASSERT_TRUE(recorder);
    EXPECT_EQ(recorder->SetCodecName(0, ""), 1);
    EXPECT_EQ(recorder->GetCodecName(), "Corvane");
    Record(*recorder, Synthetic(50000, 32, 1));
    const uint32_t limit = GetRecorderLimits().maxFramesFaceCapture;
    EXPECT_EQ(ReadStored(FilePath(kStartMs, 0, 50000)).count, limit);
    EXPECT_EQ(ReadStored(FilePath(kStartMs, 0, 50000)).flag, 1);
    EXPECT_EQ(ReadStored(FilePath(kStartMs, 1, 50000)).count, 32 - limit);
    ASSERT_FALSE(sink->messages.empty());
    EXPECT_EQ(sink->types.front(), "CAM");
}

}  // namespace
