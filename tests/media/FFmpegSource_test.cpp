// The FFmpeg file sources over media files made by the ffmpeg tool: the
// picture at a time equals what ffmpeg decodes there, appended video behind
// an executable plays, a file cut short ends at the cut, stream choice by
// title, pass-through of our own codec tag, and the time arithmetic.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

extern "C" {
#include <libavutil/frame.h>
}

#include "MediaTestSupport.h"
#include "base/ProcessValues.h"
#include "SourceSupport_test.h"
#include "media/Decoder.h"
#include "config/QApplicationSettings.h"
#include "media/FFmpegSource.h"
#include "media/MediaSample.h"

using namespace sourcetest;

namespace {

struct ContainerCase {
    const char* name;
    const char* file;
    const char* args;
    // Whether ffmpeg's own seek gives the picture shown at a time: in an AVI
    // with B-frames it takes the decoder's guessed stamps, two frames late.
    bool ffmpegSeeksExactly = true;
};

std::ostream& operator<<(std::ostream& out, const ContainerCase& c)
{
    return out << c.name;
}

const ContainerCase kContainers[] = {
    // B-frames: pictures leave the decoder in another order than packets.
    {"MKV", "p.mkv", "-c:v libx264 -g 25 -bf 2 -pix_fmt yuv420p"},
    {"MP4", "p.mp4", "-c:v libx264 -g 25 -bf 2 -pix_fmt yuv420p"},
    {"AVI", "p.avi", "-c:v mpeg4 -g 25 -pix_fmt yuv420p"},
    // AVI stores no presentation times: B-frames there come with decoding
    // times only.
    {"AVIWithBFrames", "pb.avi", "-c:v libx264 -g 25 -bf 2 -pix_fmt yuv420p", false},
};

// The picture now current in the source, as an I420 md5 through the decoder's
// planar path.
std::string CurrentPictureMd5(filters::FFmpegVideoSource& source)
{
    VideoFramePtr frame(new VideoFrame("", 0), false);
    frame->m_nFormat = FrameFormatFFmpegPicture;
    frame->m_pData = reinterpret_cast<uint8_t*>(source.GetPictureHolder());
    frame->m_cbData = sizeof(filters::FFmpegPictureHolder);
    filters::Decoder decoder;
    render::ImageMediaSample sample(true);
    decoder.Decode(frame.get(), &sample, false, {});
    frame->m_pData = nullptr;
    return SampleI420Md5(sample);
}

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class FFmpegContainerTest : public ::testing::TestWithParam<ContainerCase> {};

// The files run at 25 pictures a second from time 0: the picture at a time
// is the one of that index in decoding order.
constexpr int64_t kPictureMs = 40;

TEST_P(FFmpegContainerTest, PictureAtTimeEqualsFfmpeg)
{
    const std::string path = MakeMediaFile(GetParam().file, GetParam().args);
    ASSERT_FALSE(path.empty());
    const std::vector<std::string> pictures = mediatest::ReferenceMd5s(path, "yuv420p");
    filters::FFmpegVideoSource source;
    ASSERT_TRUE(source.Open(path, ""));
    EXPECT_EQ(source.GetMediaType(), 0);
    EXPECT_NEAR(source.PtsToMilliseconds(source.GetEndPts()), 3000, 80);

    // Out of order on purpose: backward seeks restart at a key frame.
    for (int64_t ms : {1520, 0, 2960, 1000, 40}) {
        SCOPED_TRACE(ms);
        source.Seek(static_cast<double>(ms));
        ASSERT_TRUE(source.IsFrameReady());
        EXPECT_EQ(source.PtsToMilliseconds(source.GetCurrentPts()), ms);
        const std::string md5 = CurrentPictureMd5(source);
        ASSERT_LT(static_cast<size_t>(ms / kPictureMs), pictures.size());
        EXPECT_EQ(md5, pictures[ms / kPictureMs]);
        if (GetParam().ffmpegSeeksExactly) {
            EXPECT_EQ(md5, ReferencePictureMd5(path, ms));
        }
    }
}

TEST_P(FFmpegContainerTest, ReadsEveryFrameInOrderThenEnds)
{
    const std::string path = MakeMediaFile(GetParam().file, GetParam().args);
    ASSERT_FALSE(path.empty());
    const std::vector<std::string> reference = mediatest::ReferenceMd5s(path, "yuv420p");
    filters::FFmpegVideoSource source;
    ASSERT_TRUE(source.Open(path, ""));
    std::vector<std::string> md5s;
    int64_t last = -1;
    while (source.ReadNextFrame()) {
        const int64_t ms = source.PtsToMilliseconds(source.GetCurrentPts());
        EXPECT_GT(ms, last);
        last = ms;
        md5s.push_back(CurrentPictureMd5(source));
    }
    EXPECT_TRUE(source.IsAtEnd());
    EXPECT_EQ(md5s, reference);
    // The last picture stays current at the end.
    EXPECT_TRUE(source.IsFrameReady());
    EXPECT_EQ(CurrentPictureMd5(source), reference.back());
}

TEST_P(FFmpegContainerTest, FrameThreadedDecoderDeliversTheSamePictures)
{
    const std::string path = MakeMediaFile(GetParam().file, GetParam().args);
    ASSERT_FALSE(path.empty());
    const std::vector<std::string> reference = mediatest::ReferenceMd5s(path, "yuv420p");
    const int32_t saved = g_ffmpegThreadCount;
    g_ffmpegThreadCount = 4;
    filters::FFmpegVideoSource source;
    const bool opened = source.Open(path, "");
    g_ffmpegThreadCount = saved;
    ASSERT_TRUE(opened);
    std::vector<std::string> md5s;
    while (source.ReadNextFrame())
        md5s.push_back(CurrentPictureMd5(source));
    EXPECT_EQ(md5s, reference);
    source.Seek(1520);
    ASSERT_LT(static_cast<size_t>(1520 / kPictureMs), reference.size());
    EXPECT_EQ(CurrentPictureMd5(source), reference[1520 / kPictureMs]);
}

INSTANTIATE_TEST_SUITE_P(Containers, FFmpegContainerTest, ::testing::ValuesIn(kContainers),
                         [](const auto& info) { return std::string(info.param.name); });

struct AppendedCase {
    const char* name;
    const char* file;
    const char* args;
    const char* exeName;
};

class FFmpegAppendedTest : public ::testing::TestWithParam<AppendedCase> {};

// A dummy program, the marker, a digest and the video; AVI opens on the
// first probe, Matroska on the second.
TEST_P(FFmpegAppendedTest, VideoBehindExecutablePlays)
{
    const std::string video = MakeMediaFile(GetParam().file, GetParam().args, 1);
    ASSERT_FALSE(video.empty());
    std::vector<uint8_t> bytes(100000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    // A broken-off start of the marker must not hide the real one.
    bytes.insert(bytes.end(), kEmbeddedVideoMarker, kEmbeddedVideoMarker + 10);
    bytes.push_back('x');
    bytes.insert(bytes.end(), kEmbeddedVideoMarker,
                 kEmbeddedVideoMarker + kEmbeddedVideoMarkerSize);
    for (int i = 0; i < 16; ++i)
        bytes.push_back(static_cast<uint8_t>(0xA0 + i));
    const int64_t offset = static_cast<int64_t>(bytes.size());
    const std::vector<uint8_t> payload = ReadAll(video);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    const std::string exe = mediatest::ScratchDir() + "/" + GetParam().exeName;
    WriteAll(exe, bytes);

    int64_t found = 0;
    EmbeddedVideoKey digest{};
    ASSERT_TRUE(QApplicationSettings::FileContainVideo(exe, found, digest, false));
    EXPECT_EQ(found, offset);
    EXPECT_EQ(digest[0], 0xA0);
    EXPECT_EQ(digest[15], 0xAF);

    filters::FFmpegVideoSource source;
    ASSERT_TRUE(source.Open(exe, ""));
    EXPECT_EQ(source.GetAttachedOffset(), offset);
    const std::vector<std::string> reference = mediatest::ReferenceMd5s(video, "yuv420p");
    std::vector<std::string> md5s;
    while (source.ReadNextFrame())
        md5s.push_back(CurrentPictureMd5(source));
    EXPECT_EQ(md5s, reference);
    source.Seek(480);
    EXPECT_EQ(CurrentPictureMd5(source), reference[12]);
    source.Close();
    EXPECT_EQ(source.GetAttachedOffset(), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, FFmpegAppendedTest,
                         ::testing::Values(AppendedCase{"Avi", "a.avi", "-c:v mpeg4 -g 10", "player.exe"},
                                           AppendedCase{"Matroska", "a.mkv", "-c:v libx264 -g 10 -pix_fmt yuv420p",
                                                        "PLAYER.Exe"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FFmpegSourceTest, ExecutableWithoutVideoAndLongerExtensionDoNotOpen)
{
    const std::string dir = mediatest::ScratchDir();
    WriteAll(dir + "/empty.exe", std::vector<uint8_t>(5000, 0x90));
    int64_t offset = 7;
    EmbeddedVideoKey digest{};
    EXPECT_FALSE(QApplicationSettings::FileContainVideo(dir + "/empty.exe", offset, digest, false));
    EXPECT_EQ(offset, 0);
    filters::FFmpegVideoSource source;
    EXPECT_FALSE(source.Open(dir + "/empty.exe", ""));
    EXPECT_FALSE(source.IsOpen());

    // A marker with its digest and nothing after it carries no video.
    std::vector<uint8_t> bytes(kEmbeddedVideoMarker,
                               kEmbeddedVideoMarker + kEmbeddedVideoMarkerSize);
    bytes.resize(bytes.size() + 16, 1);
    WriteAll(dir + "/bare.exe", bytes);
    EXPECT_FALSE(QApplicationSettings::FileContainVideo(dir + "/bare.exe", offset, digest, false));

    // ".exe1" is an ordinary file name: an AVI under it opens directly.
    const std::string video = MakeMediaFile("e.avi", "-c:v mpeg4", 1);
    ASSERT_FALSE(video.empty());
    std::filesystem::copy_file(video, dir + "/movie.exe1", std::filesystem::copy_options::overwrite_existing);
    EXPECT_TRUE(source.Open(dir + "/movie.exe1", ""));
    EXPECT_EQ(source.GetAttachedOffset(), 0);
}

TEST(FFmpegSourceTest, FileCutShortPlaysUpToTheCutAndEnds)
{
    const std::string path = MakeMediaFile("cut.mkv", "-c:v libx264 -g 25 -bf 2 -pix_fmt yuv420p", 4);
    ASSERT_FALSE(path.empty());
    std::vector<uint8_t> bytes = ReadAll(path);
    bytes.resize(bytes.size() * 55 / 100);
    const std::string cut = mediatest::ScratchDir() + "/cut-short.mkv";
    WriteAll(cut, bytes);

    filters::FFmpegVideoSource source;
    ASSERT_TRUE(source.Open(cut, ""));
    int frames = 0;
    int64_t last = -1;
    while (source.ReadNextFrame()) {
        ++frames;
        last = source.PtsToMilliseconds(source.GetCurrentPts());
    }
    EXPECT_TRUE(source.IsAtEnd());
    EXPECT_GT(frames, 10);
    EXPECT_LT(frames, 100);
    EXPECT_LT(last, 4000);
    // A seek beyond the cut ends on the last frame that is there.
    source.Seek(3900);
    EXPECT_TRUE(source.IsAtEnd());
    EXPECT_LE(source.PtsToMilliseconds(source.GetCurrentPts()), last);
}

TEST(FFmpegSourceTest, StreamChosenByTitle)
{
    const std::string path = MakeMediaFile(
        "two.mkv",
        "-f lavfi -i testsrc=size=160x120:rate=25 -map 0:v -map 1:v -c:v libx264 -pix_fmt yuv420p "
        "-metadata:s:v:0 title=front -metadata:s:v:1 title=back -t 1",
        1);
    ASSERT_FALSE(path.empty());
    filters::FFmpegVideoSource source;
    ASSERT_TRUE(source.Open(path, "back"));
    EXPECT_EQ(source.GetStreamIndex(), 1);
    EXPECT_EQ(source.GetCodecName(), "H264");
    ASSERT_TRUE(source.ReadNextFrame());
    EXPECT_EQ(source.GetPictureHolder()->picture->width, 160);

    ASSERT_TRUE(source.Open(path, "front"));
    EXPECT_EQ(source.GetStreamIndex(), 0);
    EXPECT_FALSE(source.Open(path, "side"));
    EXPECT_FALSE(source.IsOpen());
    EXPECT_EQ(source.PtsToMilliseconds(1000), 0);
    EXPECT_EQ(source.MillisecondsToPts(1000), 0);
}

TEST(FFmpegSourceTest, OurOwnCodecTagPassesThroughUndecoded)
{
    const std::string plain = MakeMediaFile("vl.avi", "-c:v mpeg4 -g 5", 1);
    ASSERT_FALSE(plain.empty());
    const std::string tagged = mediatest::ScratchDir() + "/vlmr.avi";
    ASSERT_TRUE(mediatest::Run("ffmpeg -hide_banner -loglevel error -y -i '" + plain +
                               "' -c:v copy -strict unofficial -tag:v VLMR '" + tagged + "'"));
    const std::vector<mediatest::Packet> packets = mediatest::ReadPackets(plain);

    filters::FFmpegVideoSource source;
    ASSERT_TRUE(source.Open(tagged, ""));
    EXPECT_TRUE(source.IsPassThrough());
    EXPECT_EQ(source.GetCodecName(), "VLMR");
    ASSERT_TRUE(source.ReadNextFrame());
    EXPECT_TRUE(source.IsFrameReady());
    EXPECT_EQ(source.GetWidth(), 320);
    EXPECT_EQ(source.GetHeight(), 240);
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(source.GetRawPacket(), packets[0].data);
    int count = 1;
    while (source.ReadNextFrame())
        ++count;
    EXPECT_EQ(count, static_cast<int>(packets.size()));
}

TEST(FFmpegSourceTest, LimitDurationAndReopenRestoreTheEnd)
{
    const std::string path = MakeMediaFile("p.mkv", kContainers[0].args);
    ASSERT_FALSE(path.empty());
    filters::FFmpegVideoSource source;
    ASSERT_TRUE(source.Open(path, ""));
    const int64_t fullEnd = source.GetEndPts();
    source.LimitDuration(5000);  // at or above what remains: no change
    EXPECT_EQ(source.GetEndPts(), fullEnd);
    source.Seek(1000);
    source.LimitDuration(500);
    EXPECT_EQ(source.PtsToMilliseconds(source.GetEndPts()), 1500);
    ASSERT_TRUE(source.Open(path, ""));  // same file and title: only the end comes back
    EXPECT_EQ(source.GetEndPts(), fullEnd);
    EXPECT_EQ(source.PtsToMilliseconds(source.GetCurrentPts()), 1000);
}

TEST(FFmpegSourceTest, StreamWithoutDurationIsMeasuredFromItsPackets)
{
    // A raw elementary stream has no duration in its container.
    const std::string path = MakeMediaFile("raw.h264", "-c:v libx264 -bf 0 -pix_fmt yuv420p -f h264", 1);
    ASSERT_FALSE(path.empty());
    filters::FFmpegVideoSource source;
    ASSERT_TRUE(source.Open(path, ""));
    int frames = 0;
    while (source.ReadNextFrame())
        ++frames;
    EXPECT_EQ(frames, 25);
}

TEST(FFmpegSourceTest, DamagedFilesOpenOrFailAndAlwaysEnd)
{
    const std::string path = MakeMediaFile("p.mkv", kContainers[0].args);
    ASSERT_FALSE(path.empty());
    const std::vector<uint8_t> original = ReadAll(path);
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        std::vector<uint8_t> bytes = original;
        // Overwrite scattered runs of bytes past the header.
        unsigned state = seed;
        for (int run = 0; run < 40; ++run) {
            state = state * 1103515245u + 12345u;
            const size_t at = 400 + state % (bytes.size() - 500);
            for (size_t k = 0; k < 16; ++k)
                bytes[at + k] = static_cast<uint8_t>(state >> (k % 24));
        }
        const std::string damaged = mediatest::ScratchDir() + "/damaged" + std::to_string(seed) + ".mkv";
        WriteAll(damaged, bytes);
        filters::FFmpegVideoSource source;
        if (!source.Open(damaged, ""))
            continue;
        int frames = 0;
        while (source.ReadNextFrame() && frames < 1000)
            ++frames;
        EXPECT_LT(frames, 1000);
        source.Seek(1500);
        source.Seek(100);
    }
    std::vector<uint8_t> noise(20000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    WriteAll(mediatest::ScratchDir() + "/noise.mp4", noise);
    filters::FFmpegVideoSource source;
    EXPECT_FALSE(source.Open(mediatest::ScratchDir() + "/noise.mp4", ""));
    EXPECT_FALSE(source.ReadNextFrame());
}

}  // namespace
