// The archive reader's exact reads over an H.264 file made by ffmpeg, with an
// engine in P-frame mode: an inter-coded target is rebuilt from its key frame
// through the media decompressor and comes back as a JPEG archive frame of the
// frame compressor.

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "archive/files/FileReader.h"
#include "archive/files/FrameCodecs.h"
#include "archive/files/Volume.h"
#include "base/VideoFrame.h"
#include "base/frames/FormatTags.h"
#include "imaging/jpeg/Compressor.h"
#include "media/Decompressor.h"
#include "media/FrameCodecsInstall.h"
#include "support/ArchiveFileWriter.h"
#include "support/FfmpegFrameCodecs.h"

namespace {

constexpr int kCamera = 7;
constexpr int kFrames = 20;
constexpr int kGop = 10;
constexpr int kWidth = 160;
constexpr int kHeight = 120;

// An engine that aligns single reads to key frames, which the player's
// engine never does.
class PFrameOwner : public IFileReaderOwner {
public:
    explicit PFrameOwner(const std::string& folder) : volume(false, folder, true) {}
    std::string GetName() const override { return ""; }
    std::shared_ptr<VindaraFileSystem::Dir> GetCameraDir(int camera) override
    {
        return camera == kCamera ? dir : nullptr;
    }
    std::string GetEntryFilePath(int camera, const VindaraFileSystem::DirEntry& e, char letter) override
    {
        return volume.GetFilePath(camera, e.fileId, FormatEntryDate(e.date), letter);
    }
    bool RemoveFile(const char*, int64_t, int64_t) override { return false; }
    int GetFirstFaceCaptureId() const override { return 50000; }
    bool GetPFrameMode() const override { return true; }

    Volume volume;
    std::shared_ptr<VindaraFileSystem::Dir> dir = std::make_shared<VindaraFileSystem::Dir>();
};

class NullReceiver : public IPlayReceiver {
public:
    int GetQueueLength(int) override { return 0; }
    void Deliver(const std::string&, VideoFrame*, int) override {}
    void SendMessage(const Event&, int) override {}
    void FillSubSlaveId(int, std::string&) override {}
    void SetClientInfo(int, int) override {}
    void Detached(const std::string&, int) override {}
    void Release() override {}
};

double PsnrOfLuma(const uint8_t* a, const uint8_t* b, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

// The luma rows of a decoded picture, packed (pictures by reference have
// their decoder's pitch).
std::vector<uint8_t> Luma(const VideoFrame& picture)
{
    PicturePlanes planes;
    std::vector<uint8_t> luma;
    if (!picture.GetPicturePlanes(planes))
        return luma;
    for (int32_t y = 0; y < planes.rows[0]; ++y)
        luma.insert(luma.end(), planes.data[0] + ptrdiff_t(y) * planes.pitch[0],
                    planes.data[0] + ptrdiff_t(y) * planes.pitch[0] + planes.width[0]);
    return luma;
}

class ExactReadsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mediatest::UseProjectAddon();
        m_frames = testsupport::GenerateH264Frames(m_tmp.Path(), kFrames, m_t0, 200, kGop);
        if (m_frames.size() != size_t(kFrames))
            GTEST_SKIP() << "ffmpeg could not make the H.264 stream";
        // ffmpeg's own pictures of the stream, decoded in order.
        auto reference = testsupport::MakeFfmpegDecompressor();
        for (auto& f : m_frames) {
            VideoFramePtr frame(new VideoFrame("", kCamera), false);
            frame->AllocData(uint32_t(f.data.size()));
            std::memcpy(frame->m_pData, f.data.data(), f.data.size());
            frame->m_cbData = uint32_t(f.data.size());
            frame->m_nFormat = FrameFormatCompressed;
            VideoFramePtr picture = reference->Decompress(frame.get(), 0);
            ASSERT_TRUE(picture);
            m_luma.push_back(Luma(*picture));
        }
        InstallMediaFrameCodecs();
        InstallFrameCompressor();
    }
    void TearDown() override
    {
        FrameCodecs::SetCompressorFactory({});
        FrameCodecs::SetDecompressorFactory({});
    }

    void AddFile(uint32_t fileId, const std::vector<testsupport::ArchiveFrame>& frames)
    {
        const uint64_t hourStart = uint64_t(m_t0) / 3600000 * 3600000;
        const std::string folder = FormatEntryDate(hourStart);
        mkdir((m_tmp.Path() + "/" + folder).c_str(), 0755);
        testsupport::WriteBytes(m_owner.volume.GetFilePath(kCamera, fileId, folder),
                                testsupport::BuildArchiveFile(frames));
        VindaraFileSystem::DirEntry e;
        e.begin = uint64_t(frames.front().unixMs);
        e.end = uint64_t(frames.back().unixMs);
        e.fileId = fileId;
        e.date = hourStart;
        m_owner.dir->AddEntry(e);
    }

    // The frame is a JPEG archive frame of the whole picture, and our
    // decompressor's picture of it is close to ffmpeg's picture of the target.
    void ExpectRebuilt(VideoFrame* frame, int target)
    {
        ASSERT_EQ(frame->m_nFormat, FrameFormatCompressed);
        EXPECT_EQ(frame->m_nFrameNumber, target);
        EXPECT_EQ(GetVideoFrameFormat(frame), '7');
        EXPECT_EQ(frame->m_nWidth, kWidth);
        EXPECT_EQ(frame->m_nHeight, kHeight);
        CDecompressor decompressor;
        VideoFramePtr picture = decompressor.Decompress(frame, 0);
        ASSERT_TRUE(picture && picture->m_pData);
        ASSERT_EQ(picture->m_nWidth, kWidth);
        const std::vector<uint8_t> luma = Luma(*picture);
        const double psnr = PsnrOfLuma(luma.data(), m_luma[size_t(target)].data(), size_t(kWidth * kHeight));
        EXPECT_GT(psnr, 32.0) << "frame " << target;
        // Each frame of the stream differs from its neighbours.
        if (target > 0) {
            EXPECT_GT(psnr, PsnrOfLuma(luma.data(), m_luma[size_t(target - 1)].data(),
                                       size_t(kWidth * kHeight)) + 1.0);
        }
    }

    testsupport::ArchiveTempDir m_tmp;
    PFrameOwner m_owner{m_tmp.Path()};
    const int64_t m_t0 = 1709632800000;  // 10:00 UTC
    std::vector<testsupport::ArchiveFrame> m_frames;
    std::vector<std::vector<uint8_t>> m_luma;
    NullReceiver m_requester;
};

TEST_F(ExactReadsTest, EveryExactCodeRebuildsAnInterFrameAsJpeg)
{
    AddFile(1, m_frames);
    FileReader reader(nullptr, kCamera, &m_owner, {m_owner.volume});
    ASSERT_EQ(reader.OpenEntryFile(m_owner.dir->GetFirstEntry()), 1);
    VideoFramePtr frame(new VideoFrame("", kCamera), false);

    // 7: by number.
    frame->m_nFrameNumber = 6;
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadNumberExact, &m_requester, 0), 1);
    ExpectRebuilt(frame.get(), 6);
    // 3 after a rebuilt frame: the next frame is rebuilt too.
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadNext, &m_requester, 0), 1);
    ExpectRebuilt(frame.get(), 7);
    // 2: the frame before the current one.
    frame->m_nFrameNumber = 14;
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadNumber, nullptr, 0), 1);
    EXPECT_EQ(GetVideoFrameFormat(frame.get()), '?');
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadPrevExact, &m_requester, 0), 1);
    ExpectRebuilt(frame.get(), 13);
    // 9: by time.
    frame->m_nFrameNumber = 17;
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadNumber, nullptr, 0), 1);
    const TSS time = frame->m_tssTime;
    frame->m_nFrameNumber = 0;
    frame->m_tssTime = time;
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadTimeExact, &m_requester, 0), 1);
    ExpectRebuilt(frame.get(), 17);
    // 5: the last frame, rebuilt up to the frame the caller names.
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadFirst, nullptr, 0), 1);
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadLastExact, &m_requester, kFrames - 1), 1);
    ExpectRebuilt(frame.get(), kFrames - 1);

    // A key frame comes back as stored.
    frame->m_nFrameNumber = kGop;
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadNumberExact, &m_requester, 0), 1);
    EXPECT_EQ(GetVideoFrameFormat(frame.get()), '?');
    EXPECT_EQ(std::vector<uint8_t>(frame->m_pData, frame->m_pData + frame->m_cbData), m_frames[kGop].data);
}

TEST_F(ExactReadsTest, ADamagedInterFrameFailsTheRebuild)
{
    std::vector<testsupport::ArchiveFrame> frames = m_frames;
    frames[3].data = testsupport::MakeH264Frame({}, false);  // nothing to decode
    AddFile(1, frames);
    FileReader reader(nullptr, kCamera, &m_owner, {m_owner.volume});
    ASSERT_EQ(reader.OpenEntryFile(m_owner.dir->GetFirstEntry()), 1);
    VideoFramePtr frame(new VideoFrame("", kCamera), false);
    frame->m_nFrameNumber = 6;
    // The failed rebuild falls back to the first frame of the file.
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadNumberExact, &m_requester, 0), 1);
    EXPECT_EQ(frame->m_nFrameNumber, 0);
    EXPECT_EQ(std::vector<uint8_t>(frame->m_pData, frame->m_pData + frame->m_cbData), m_frames[0].data);
    // Frames after the damage rebuild again from the next key frame.
    frame->m_nFrameNumber = 12;
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadNumberExact, &m_requester, 0), 1);
    ExpectRebuilt(frame.get(), 12);
}

TEST_F(ExactReadsTest, WithoutInstalledCodecsTheRebuildFails)
{
    FrameCodecs::SetCompressorFactory({});
    AddFile(1, m_frames);
    FileReader reader(nullptr, kCamera, &m_owner, {m_owner.volume});
    ASSERT_EQ(reader.OpenEntryFile(m_owner.dir->GetFirstEntry()), 1);
    VideoFramePtr frame(new VideoFrame("", kCamera), false);
    frame->m_nFrameNumber = 6;
    ASSERT_EQ(reader.ReadFrame(frame.get(), FileReader::ReadNumberExact, &m_requester, 0), 1);
    EXPECT_EQ(frame->m_nFrameNumber, 0);
    EXPECT_TRUE(mediatest::LogCapture::Instance().Contains("no frame compressor is installed"));
}

}  // namespace
