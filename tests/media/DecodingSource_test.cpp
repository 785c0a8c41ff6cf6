// The decode-ahead source over a scripted inner source of real H.264 frames
// (decoded through the project's codec add-on) and over a channel of an
// archive file: restart at the key frame before a seek, delivery in order,
// queue trimming, the end of the stream (also when it ends in frames that do
// not decode or when the inner source fails), passive mode, and titles that
// travel with the presented frame.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>

#include <boost/make_shared.hpp>

#include "FSImplementation/VindaraFileSystemFactory.h"
#include "MediaTestSupport.h"
#include "media/DecompressedVideoSource.h"
#include "render/Titles.h"
#include "support/ArchiveFileWriter.h"

using namespace mediatest;

namespace {

constexpr int64_t kStart = 1700000000000;  // ms since 1970
constexpr int64_t kStep = 40;
constexpr int kFrames = 20;
constexpr int kGop = 5;

int64_t TimeOf(int i)
{
    return kStart + i * kStep;
}

void Stamp(VideoFrame& frame, int64_t unixMs)
{
    frame.m_tssTime = TSS::FromUtc(static_cast<uint64_t>(unixMs) + kArchiveUnixOffsetMs);
}

// H.264 access units of the test pattern, a key frame every kGop.
const std::vector<Packet>& H264Packets()
{
    static std::vector<Packet> packets = [] {
        const std::string path = ScratchDir() + "/ds.h264";
        EncodeTestPattern(path, 176, 144, kFrames, "libx264",
                          "-bf 0 -g " + std::to_string(kGop) + " -x264-params scenecut=0 -pix_fmt yuv420p -f h264");
        return ReadPackets(path);
    }();
    return packets;
}

// A source moved by index over a list of frames, as the channel readers
// move: Seek makes the last frame at or before the time current, the moves
// stay on the last / first frame at the ends.
class ScriptedSource : public filters::IVideoSource {
public:
    explicit ScriptedSource(std::vector<VideoFramePtr> frames) : m_frames(std::move(frames))
    {
        const int64_t first = filters::FrameTimeMs(*m_frames.front());
        const int64_t last = filters::FrameTimeMs(*m_frames.back());
        m_periods.push_back({first, last - first + kStep});
    }

    const std::wstring& GetName() const override { return m_name; }
    const std::wstring& GetId() const override { return m_name; }
    const std::vector<filters::RecordPeriod>& GetPeriods() const override { return m_periods; }
    int64_t GetCurrentTime() override { return filters::FrameTimeMs(*m_frames[m_index]); }
    int64_t GetNextTime() override
    {
        return filters::FrameTimeMs(*m_frames[std::min(m_index + 1, m_frames.size() - 1)]);
    }
    VideoFrame* GetCurrentFrame() override { return m_frames[m_index].get(); }
    VideoFrame* NextFrame() override
    {
        if (m_failAt >= 0 && static_cast<int>(m_index) + 1 >= m_failAt)
            throw std::runtime_error("read error");
        if (m_index + 1 < m_frames.size())
            ++m_index;
        return m_frames[m_index].get();
    }
    VideoFrame* PreviousFrame() override
    {
        if (m_index > 0)
            --m_index;
        return m_frames[m_index].get();
    }
    void Seek(int64_t timeMs) override
    {
        ++seeks;
        m_index = 0;
        while (m_index + 1 < m_frames.size() && filters::FrameTimeMs(*m_frames[m_index + 1]) <= timeMs)
            ++m_index;
    }
    bool IsAtEnd() override { return m_index + 1 == m_frames.size(); }
    Storage::IPlayInfo* GetPlayInfo() override { return nullptr; }
    bool GetSampleFlag() override { return false; }
    void SetTitles(const boost::shared_ptr<render::Titles>&) override {}
    void UpdateTitles() override {}
    const filters::CameraViewSettings& GetCameraSettings() const override { return m_camera; }
    const filters::FrameInfo* GetFrameInfo() override { return nullptr; }
    int32_t GetTimeShift() override { return 0; }

    void FailFrom(int index) { m_failAt = index; }
    std::atomic<int> seeks{0};

private:
    std::vector<VideoFramePtr> m_frames;
    size_t m_index = 0;
    int m_failAt = -1;
    std::wstring m_name = L"1";
    std::vector<filters::RecordPeriod> m_periods;
    filters::CameraViewSettings m_camera;
};

// The H.264 frames; `undecodable` trailing frames carry no format tag.
std::vector<VideoFramePtr> MakeFrames(int undecodable = 0)
{
    std::vector<VideoFramePtr> frames;
    const auto& packets = H264Packets();
    for (size_t i = 0; i < packets.size(); ++i) {
        const bool broken = static_cast<int>(i) >= static_cast<int>(packets.size()) - undecodable;
        VideoFramePtr frame =
            MakeCompressedFrame(packets[i].data, broken ? "none" : "H264", true, packets[i].key, 176, 144);
        Stamp(*frame, TimeOf(static_cast<int>(i)));
        frames.push_back(frame);
    }
    return frames;
}

class DecodingSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseProjectAddon();
        ASSERT_EQ(H264Packets().size(), static_cast<size_t>(kFrames));
        reference = ReferenceMd5s(ScratchDir() + "/ds.h264", "yuv420p");
        ASSERT_EQ(reference.size(), static_cast<size_t>(kFrames));
    }
    std::vector<std::string> reference;
};

TEST_F(DecodingSourceTest, PassiveUntilTheFirstSeek)
{
    auto inner = boost::make_shared<ScriptedSource>(MakeFrames());
    filters::DecompressedVideoSource source(inner, 4);
    EXPECT_EQ(source.GetCurrentFrame(), nullptr);
    EXPECT_EQ(source.GetCurrentTime(), TimeOf(0));
    EXPECT_EQ(source.GetNextTime(), 0);
    EXPECT_EQ(source.NextFrame(), nullptr);
    EXPECT_FALSE(source.IsAtEnd());
    EXPECT_EQ(source.GetQueuedCount(), 0u);
}

TEST_F(DecodingSourceTest, SeekBetweenKeyFramesDeliversFromTheTargetInOrder)
{
    auto inner = boost::make_shared<ScriptedSource>(MakeFrames());
    filters::DecompressedVideoSource source(inner, 4);
    source.Seek(TimeOf(7) + 10);
    VideoFrame* frame = source.GetCurrentFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(source.GetCurrentTime(), TimeOf(7));
    EXPECT_EQ(PictureMd5(*frame), reference[7]);
    const filters::FrameInfo* info = source.GetFrameInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->codec, "H264");
    EXPECT_FALSE(info->keyFrame);

    for (int i = 8; i < kFrames; ++i) {
        EXPECT_EQ(source.GetNextTime(), TimeOf(i));
        frame = source.NextFrame();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(filters::FrameTimeMs(*frame), TimeOf(i));
        EXPECT_EQ(PictureMd5(*frame), reference[i]) << i;
    }
    // The last frame stays current.
    EXPECT_TRUE(source.IsAtEnd());
    EXPECT_EQ(source.GetNextTime(), TimeOf(kFrames - 1));
    EXPECT_EQ(source.NextFrame(), frame);
}

// MPEG-2 without the low-delay flag: its decoder holds each picture until
// the next frame comes. The last picture comes out when the stream ends.
TEST_F(DecodingSourceTest, ALastPictureHeldByTheDecoderIsShown)
{
    if (!HasEncoder("mpeg2video"))
        GTEST_SKIP() << "ffmpeg has no MPEG-2 encoder";
    const std::string path = ScratchDir() + "/ds.m2v";
    ASSERT_TRUE(EncodeTestPattern(path, 176, 144, kFrames, "mpeg2video", "-g 5 -pix_fmt yuv420p"));
    const std::vector<Packet> packets = ReadPackets(path);
    const std::vector<std::string> mpeg2Reference = ReferenceMd5s(path, "yuv420p");
    ASSERT_EQ(packets.size(), static_cast<size_t>(kFrames));
    ASSERT_EQ(mpeg2Reference.size(), static_cast<size_t>(kFrames));
    std::vector<VideoFramePtr> frames;
    for (size_t i = 0; i < packets.size(); ++i) {
        VideoFramePtr frame = MakeCompressedFrame(packets[i].data, "MPG2", true, packets[i].key, 176, 144);
        Stamp(*frame, TimeOf(static_cast<int>(i)));
        frames.push_back(frame);
    }

    auto inner = boost::make_shared<ScriptedSource>(frames);
    filters::DecompressedVideoSource source(inner, 4);
    source.Seek(TimeOf(0));
    std::vector<int64_t> times;
    for (VideoFrame* frame = source.GetCurrentFrame(); frame != nullptr;) {
        const int64_t t = filters::FrameTimeMs(*frame);
        if (!times.empty() && t == times.back())
            break;  // the last frame stays current
        const size_t i = times.size();
        ASSERT_LT(i, mpeg2Reference.size());
        EXPECT_EQ(t, TimeOf(static_cast<int>(i)));
        EXPECT_EQ(PictureMd5(*frame), mpeg2Reference[i]) << i;
        times.push_back(t);
        frame = source.NextFrame();
    }
    ASSERT_EQ(times.size(), static_cast<size_t>(kFrames));
    EXPECT_TRUE(source.IsAtEnd());

    // Back to the start and forward again: nothing the codec held of the
    // old position comes out after the new one.
    for (const int target : {12, 3}) {
        source.Seek(TimeOf(target));
        VideoFrame* frame = source.GetCurrentFrame();
        for (int i = target; i < target + 6; ++i) {
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(filters::FrameTimeMs(*frame), TimeOf(i)) << "after a seek to " << target;
            EXPECT_EQ(PictureMd5(*frame), mpeg2Reference[i]) << i << " after a seek to " << target;
            frame = source.NextFrame();
        }
    }
}

TEST_F(DecodingSourceTest, SeekInsideAFullQueueLeavesTheInnerSourceAlone)
{
    auto inner = boost::make_shared<ScriptedSource>(MakeFrames());
    filters::DecompressedVideoSource source(inner, 6);
    source.Seek(TimeOf(5));
    ASSERT_NE(source.GetCurrentFrame(), nullptr);
    const int seeks = inner->seeks;
    source.Seek(TimeOf(8) + 5);
    EXPECT_EQ(inner->seeks, seeks);
    EXPECT_EQ(source.GetCurrentTime(), TimeOf(8));
    EXPECT_EQ(PictureMd5(*source.GetCurrentFrame()), reference[8]);
    // Outside the queue: a real restart.
    source.Seek(TimeOf(17));
    EXPECT_EQ(inner->seeks, seeks + 1);
    EXPECT_EQ(PictureMd5(*source.GetCurrentFrame()), reference[17]);
}

TEST_F(DecodingSourceTest, SeeksClampToTheRecording)
{
    auto inner = boost::make_shared<ScriptedSource>(MakeFrames());
    filters::DecompressedVideoSource source(inner, 3);
    source.Seek(TimeOf(-100));
    EXPECT_EQ(source.GetCurrentTime(), TimeOf(0));
    source.Seek(TimeOf(1000));
    EXPECT_EQ(source.GetCurrentTime(), TimeOf(kFrames - 1));
    EXPECT_TRUE(source.IsAtEnd());
}

TEST_F(DecodingSourceTest, StreamEndingInUndecodableFramesReachesItsEnd)
{
    auto inner = boost::make_shared<ScriptedSource>(MakeFrames(4));
    filters::DecompressedVideoSource source(inner, 3);
    source.Seek(TimeOf(12));
    std::vector<int64_t> times{source.GetCurrentTime()};
    for (int guard = 0; guard < 50; ++guard) {
        // At the end the last frame stays current.
        const int64_t time = filters::FrameTimeMs(*source.NextFrame());
        if (time == times.back())
            break;
        times.push_back(time);
    }
    EXPECT_TRUE(source.IsAtEnd());
    EXPECT_EQ(times, (std::vector<int64_t>{TimeOf(12), TimeOf(13), TimeOf(14), TimeOf(15)}));
}

TEST_F(DecodingSourceTest, NothingDecodableEndsWithoutAFrame)
{
    auto inner = boost::make_shared<ScriptedSource>(MakeFrames(kFrames));
    filters::DecompressedVideoSource source(inner, 3);
    source.Seek(TimeOf(3));
    EXPECT_EQ(source.GetCurrentFrame(), nullptr);
    EXPECT_EQ(source.NextFrame(), nullptr);
    EXPECT_TRUE(source.IsAtEnd());
}

TEST_F(DecodingSourceTest, FailingInnerSourceEndsTheStream)
{
    auto inner = boost::make_shared<ScriptedSource>(MakeFrames());
    inner->FailFrom(9);
    filters::DecompressedVideoSource source(inner, 4);
    source.Seek(TimeOf(5));
    int delivered = 1;
    for (int guard = 0; guard < 50 && !source.IsAtEnd(); ++guard) {
        ASSERT_NE(source.NextFrame(), nullptr);
        ++delivered;
    }
    EXPECT_EQ(delivered, 4);  // frames 5 to 8
}

TEST_F(DecodingSourceTest, PreviousFrameTurnsPassiveAndStepsThroughTheInnerSource)
{
    auto inner = boost::make_shared<ScriptedSource>(MakeFrames());
    filters::DecompressedVideoSource source(inner, 4);
    source.Seek(TimeOf(10));
    ASSERT_NE(source.GetCurrentFrame(), nullptr);
    VideoFrame* previous = source.PreviousFrame();
    ASSERT_NE(previous, nullptr);
    EXPECT_EQ(filters::FrameTimeMs(*previous), TimeOf(9));
    EXPECT_EQ(source.GetCurrentFrame(), nullptr);  // passive
    EXPECT_EQ(source.GetCurrentTime(), TimeOf(9));
    source.Seek(TimeOf(9));
    EXPECT_EQ(PictureMd5(*source.GetCurrentFrame()), reference[9]);
}

// A channel of an exported archive file: the whole chain from the file.
TEST_F(DecodingSourceTest, ArchiveChannelSeeksToKeyFrameAndCarriesTitlesWithFrames)
{
    testsupport::ArchiveTempDir dir;
    std::vector<testsupport::ArchiveFrame> frames =
        testsupport::GenerateH264Frames(dir.Path(), kFrames, kStart, kStep, kGop);
    ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i)
        frames[i].subtitles = "frame " + std::to_string(i);
    const std::string path = dir.File("1A2B._01");
    testsupport::WriteBytes(path, testsupport::BuildArchiveFile(frames));

    auto frontEnd = boost::make_shared<Storage::VindaraFileFS>(path);
    frontEnd->Open(false);
    std::vector<std::string> ids;
    frontEnd->GetChannels(ids);
    ASSERT_EQ(ids, std::vector<std::string>{"1"});
    boost::shared_ptr<filters::IVideoSource> source = filters::CreateArchiveChannelSource(frontEnd, L"1");
    ASSERT_TRUE(source);
    ASSERT_EQ(source->GetPeriods().size(), 1u);
    EXPECT_EQ(source->GetPeriods()[0].start, kStart);

    auto titles = boost::make_shared<render::Titles>();
    source->SetTitles(titles);
    source->Seek(TimeOf(12) + 20);
    ASSERT_NE(source->GetCurrentFrame(), nullptr);
    EXPECT_EQ(source->GetCurrentTime(), TimeOf(12));
    for (int i = 12; i < kFrames; ++i) {
        if (i > 12) {
            VideoFrame* frame = source->NextFrame();
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(filters::FrameTimeMs(*frame), TimeOf(i));
        }
        // The decoding thread runs ahead; the title is the presented frame's.
        source->UpdateTitles();
        EXPECT_EQ(titles->GetTitle(3)->GetText(), L"frame " + std::to_wstring(i));
    }
    EXPECT_TRUE(source->IsAtEnd());
}

TEST(DecodingSourceFactoryTest, UnknownChannelIsAnError)
{
    testsupport::ArchiveTempDir dir;
    const std::string path = dir.File("1A2B._01");
    testsupport::WriteBytes(path, testsupport::BuildArchiveFile(testsupport::MakeSyntheticFrames(5, kStart, kStep, 5, 64)));
    auto frontEnd = boost::make_shared<Storage::VindaraFileFS>(path);
    frontEnd->Open(false);
    EXPECT_THROW(filters::CreateArchiveChannelSource(frontEnd, L"7"), std::runtime_error);
}

}  // namespace
