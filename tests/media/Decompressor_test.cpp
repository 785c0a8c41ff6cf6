// Decoding real streams through CDecompressor and the project's codec
// add-on. The streams are encoded by the ffmpeg tool at test time; every
// picture must equal, byte for byte, what `ffmpeg -f framemd5` decodes from
// the same stream.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "MediaTestSupport.h"
#include "base/frames/FormatTags.h"
#include "media/Decompressor.h"
#include "media/DecompressorBrastel.h"

using namespace mediatest;

namespace {

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kFrames = 12;

struct CodecCase {
    const char* name;
    const char* encoder;
    const char* encoderArgs;
    const char* file;        // the extension picks ffmpeg's raw muxer unless the args do
    const char* tag;
    bool keyFlag;            // a key-frame byte sits in front of the tag
    const char* pixelFormat; // the decoder's own picture format
    size_t heldBack;         // pictures a reordering decoder keeps at the end
};

std::ostream& operator<<(std::ostream& out, const CodecCase& c)
{
    return out << c.name;
}

const CodecCase kCodecs[] = {
    {"H264", "libx264", "-bf 0 -g 5 -pix_fmt yuv420p", "s.h264", "H264", true, "yuv420p", 0},
    {"H265", "libx265", "-x265-params bframes=0:keyint=5:log-level=error -pix_fmt yuv420p",
     "s.hevc", "H265", true, "yuv420p", 0},
    {"MPEG4", "mpeg4", "-g 5 -pix_fmt yuv420p -f m4v", "s.cmp", "MPG4", true, "yuv420p", 0},
    {"XVID", "mpeg4", "-g 5 -pix_fmt yuv420p -f m4v", "x.cmp", "XVID", false, "yuv420p", 0},
    {"MJPEG", "mjpeg", "-pix_fmt yuvj420p", "s.mjpeg", "JPEG", false, "yuvj420p", 0},
    {"MJPEG422", "mjpeg", "-pix_fmt yuvj422p", "t.mjpeg", "JPG1", false, "yuvj422p", 0},
    // MPEG-2 without the low-delay flag: the decoder cannot know that no
    // B-picture follows, so each picture comes out one frame late.
    {"MPEG2", "mpeg2video", "-g 5 -pix_fmt yuv420p", "s.m2v", "MPG2", true, "yuv420p", 1},
    {"H263", "h263", "-g 5 -pix_fmt yuv420p", "s.h263", "H263", true, "yuv420p", 0},
    {"JP2K", "jpeg2000", "-pix_fmt yuv420p -f image2pipe", "s.j2k", "JP2K", false, "yuv420p", 0},
};

// Encodes the test pattern once per case into the scratch folder.
std::string EncodeStream(const CodecCase& c)
{
    static std::map<std::string, std::string> made;
    const std::string path = ScratchDir() + "/" + c.name + "_" + c.file;
    if (made.count(path))
        return made[path];
    const bool ok = EncodeTestPattern(path, kWidth, kHeight, kFrames, c.encoder, c.encoderArgs);
    made[path] = ok ? path : "";
    return made[path];
}

struct Decoded {
    std::vector<std::string> md5s;
    size_t refused = 0;
};

Decoded DecodeAll(CDecompressor& decompressor, const std::vector<Packet>& packets,
                  const CodecCase& c)
{
    // Frames 40 ms apart; every picture must carry the time of its own frame,
    // also when the decoder hands it back later.
    constexpr int64_t kStart = 1600000000000;
    Decoded result;
    for (size_t i = 0; i < packets.size(); ++i) {
        const Packet& packet = packets[i];
        VideoFramePtr frame =
            MakeCompressedFrame(packet.data, c.tag, c.keyFlag, packet.key, kWidth, kHeight);
        frame->m_llTime = kStart + int64_t(i) * 40;
        VideoFramePtr picture = decompressor.Decompress(frame.get(), 0);
        if (!picture) {
            ++result.refused;
            continue;
        }
        EXPECT_EQ(picture->GetTimestamp(), kStart + int64_t(result.md5s.size()) * 40);
        EXPECT_EQ(picture->m_nWidth, kWidth);
        EXPECT_EQ(picture->m_nHeight, kHeight);
        EXPECT_EQ(picture->m_bColor, 1);
        EXPECT_EQ(picture->m_cbCompressed, frame->m_cbData);
        result.md5s.push_back(PictureMd5(*picture));
    }
    return result;
}

class CodecDecodeTest : public ::testing::TestWithParam<CodecCase>
{
protected:
    void SetUp() override
    {
        UseProjectAddon();
        if (!HasEncoder(GetParam().encoder))
            GTEST_SKIP() << "ffmpeg has no encoder " << GetParam().encoder;
        path = EncodeStream(GetParam());
        ASSERT_FALSE(path.empty()) << "ffmpeg could not encode " << GetParam().name;
    }
    std::string path;
};

} // namespace

TEST_P(CodecDecodeTest, EveryPictureEqualsFfmpegDecode)
{
    const CodecCase& c = GetParam();
    const std::vector<Packet> packets = ReadPackets(path);
    const std::vector<std::string> reference = ReferenceMd5s(path, c.pixelFormat);
    ASSERT_EQ(packets.size(), size_t(kFrames));
    ASSERT_EQ(reference.size(), size_t(kFrames));

    CDecompressor decompressor;
    Decoded decoded = DecodeAll(decompressor, packets, c);
    ASSERT_EQ(decoded.md5s.size() + c.heldBack, reference.size());
    // At the end of the stream the pictures held back come out too, in order.
    while (VideoFramePtr held = decompressor.Drain(0)) {
        EXPECT_EQ(held->GetTimestamp(), 1600000000000 + int64_t(decoded.md5s.size()) * 40);
        decoded.md5s.push_back(PictureMd5(*held));
    }
    ASSERT_EQ(decoded.md5s.size(), reference.size());
    for (size_t i = 0; i < decoded.md5s.size(); ++i)
        EXPECT_EQ(decoded.md5s[i], reference[i]) << "picture " << i;

    // The decoder starts afresh: the stream decodes again from its start.
    const Decoded again = DecodeAll(decompressor, packets, c);
    ASSERT_EQ(again.md5s.size() + c.heldBack, reference.size());
    for (size_t i = 0; i < again.md5s.size(); ++i)
        EXPECT_EQ(again.md5s[i], reference[i]) << "picture " << i << " of the second pass";
}

INSTANTIATE_TEST_SUITE_P(Codecs, CodecDecodeTest, ::testing::ValuesIn(kCodecs),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

const CodecCase& CaseNamed(const std::string& name)
{
    for (const CodecCase& c : kCodecs)
        if (name == c.name)
            return c;
    throw std::logic_error("no codec case " + name);
}

// Counts the decompressors the front makes.
class CountingDecompressor : public CDecompressor
{
public:
    std::vector<int> created;

protected:
    std::unique_ptr<DecompressFormat> CreateDecompressor(int code) override
    {
        created.push_back(code);
        return CDecompressor::CreateDecompressor(code);
    }
};

class StreamTest : public ::testing::Test
{
protected:
    void SetUp() override { UseProjectAddon(); }

    // Packets and reference pictures of a codec case; skips without its encoder.
    bool Load(const std::string& name, std::vector<Packet>& packets,
              std::vector<std::string>& reference)
    {
        const CodecCase& c = CaseNamed(name);
        if (!HasEncoder(c.encoder))
            return false;
        const std::string path = EncodeStream(c);
        if (path.empty())
            return false;
        packets = ReadPackets(path);
        reference = ReferenceMd5s(path, c.pixelFormat);
        return packets.size() == size_t(kFrames) && reference.size() == size_t(kFrames);
    }
};

} // namespace

TEST_F(StreamTest, CodecChangeMidStreamRecreatesTheDecompressor)
{
    std::vector<Packet> h264, mjpeg;
    std::vector<std::string> h264Ref, mjpegRef;
    if (!Load("H264", h264, h264Ref) || !Load("MJPEG", mjpeg, mjpegRef))
        GTEST_SKIP() << "libx264 or mjpeg encoding is not available";
    const CodecCase& h = CaseNamed("H264");
    const CodecCase& j = CaseNamed("MJPEG");

    // H.264 from its start, MJPEG, then H.264 from its start again: the second
    // H.264 run decodes only because the change threw the old decoder away.
    CountingDecompressor decompressor;
    const std::vector<Packet> firstRun(h264.begin(), h264.begin() + 7);
    const std::vector<Packet> jpegRun(mjpeg.begin(), mjpeg.begin() + 3);
    const Decoded a = DecodeAll(decompressor, firstRun, h);
    const Decoded b = DecodeAll(decompressor, jpegRun, j);
    const Decoded c = DecodeAll(decompressor, h264, h);

    EXPECT_EQ(decompressor.created, (std::vector<int>{'?', '7', '?'}));
    EXPECT_EQ(a.md5s, std::vector<std::string>(h264Ref.begin(), h264Ref.begin() + 7));
    EXPECT_EQ(b.md5s, std::vector<std::string>(mjpegRef.begin(), mjpegRef.begin() + 3));
    EXPECT_EQ(c.md5s, h264Ref);
}

TEST_F(StreamTest, SameCodeKeepsOneDecompressor)
{
    CountingDecompressor decompressor;
    VideoFramePtr frame = MakeCompressedFrame({1, 2, 3}, "JPEG", false, true, kWidth, kHeight);
    VideoFramePtr untagged = MakeCompressedFrame({1, 2, 3}, "none", false, true, kWidth, kHeight);
    decompressor.Decompress(frame.get(), 0);
    decompressor.Decompress(untagged.get(), 0); // no code: the decompressor stays
    decompressor.Decompress(frame.get(), 0);
    EXPECT_EQ(decompressor.created, std::vector<int>{'7'});
}

// Frames whose stated lengths do not hold are refused without reading past
// their end; the stream goes on decoding with the next frame.
TEST_F(StreamTest, FramesThatLieAboutTheirLengthsAreRefused)
{
    std::vector<Packet> mjpeg;
    std::vector<std::string> reference;
    if (!Load("MJPEG", mjpeg, reference))
        GTEST_SKIP() << "mjpeg encoding is not available";
    const CodecCase& j = CaseNamed("MJPEG");

    struct Corruption {
        const char* what;
        std::function<VideoFramePtr(const Packet&)> make;
    };
    const Corruption corruptions[] = {
        {"frame size leaves no payload in front of the tail",
         [](const Packet&) { return MakeCompressedFrame({}, "H264", true, true, kWidth, kHeight); }},
        {"frame size leaves no payload in front of the tag",
         [](const Packet&) { return MakeCompressedFrame({}, "JPEG", false, true, kWidth, kHeight); }},
        {"picture header length runs past the frame",
         [&](const Packet& p) {
             std::vector<uint8_t> bytes = p.data;
             for (size_t i = 0; i + 3 < bytes.size(); ++i)
                 if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) { // start of frame
                     bytes[i + 2] = 0xFF;
                     bytes[i + 3] = 0xF0;
                     break;
                 }
             return MakeCompressedFrame(bytes, j.tag, j.keyFlag, true, kWidth, kHeight);
         }},
        {"frame cut short inside its entropy-coded data",
         [&](const Packet& p) {
             std::vector<uint8_t> bytes(p.data.begin(), p.data.begin() + p.data.size() / 4);
             return MakeCompressedFrame(bytes, j.tag, j.keyFlag, true, kWidth, kHeight);
         }},
    };

    for (const Corruption& corruption : corruptions) {
        SCOPED_TRACE(corruption.what);
        CDecompressor decompressor;
        const Decoded before = DecodeAll(decompressor, {mjpeg[0]}, j);
        ASSERT_EQ(before.md5s, std::vector<std::string>{reference[0]});
        VideoFramePtr bad = corruption.make(mjpeg[1]);
        VideoFramePtr picture = decompressor.Decompress(bad.get(), 0);
        EXPECT_FALSE(picture && PictureMd5(*picture) == reference[1]);
        // A cut-short JPEG may still be shown concealed; a header that lies
        // must give nothing.
        if (std::string(corruption.what).find("cut short") == std::string::npos) {
            EXPECT_EQ(picture, nullptr);
        }
        const Decoded after = DecodeAll(decompressor, {mjpeg[2], mjpeg[3]}, j);
        EXPECT_EQ(after.md5s, (std::vector<std::string>{reference[2], reference[3]}));
    }
}

namespace {

// An SVC access unit from a plain H.264 one: every coded slice gets an SVC
// prefix unit in front and an enhancement slice behind, and a subset
// sequence parameter set leads the unit. A plain decoder must never see them.
std::vector<uint8_t> MakeScalable(const std::vector<uint8_t>& au)
{
    static const uint8_t kSubsetSps[] = {0, 0, 0, 1, 0x6F, 0x53, 0x00, 0x1E, 0xFF, 0xEE};
    static const uint8_t kPrefix[] = {0, 0, 0, 1, 0x6E, 0xC0, 0x80, 0x0F};
    static const uint8_t kEnhancement[] = {0, 0, 0, 1, 0x74, 0xC1, 0x80, 0x0F, 0x12, 0x34, 0x56};
    std::vector<uint8_t> out(std::begin(kSubsetSps), std::end(kSubsetSps));
    size_t i = 0;
    while (i + 3 <= au.size()) {
        // Find the next start code and its unit.
        size_t sc = i;
        while (sc + 3 <= au.size() && !(au[sc] == 0 && au[sc + 1] == 0 && au[sc + 2] == 1))
            ++sc;
        if (sc + 3 > au.size())
            break;
        size_t next = sc + 3;
        while (next + 3 <= au.size() && !(au[next] == 0 && au[next + 1] == 0 && au[next + 2] == 1))
            ++next;
        size_t end = next + 3 <= au.size() ? next : au.size();
        while (end > sc + 3 && end < au.size() && au[end - 1] == 0)
            --end;
        const uint8_t type = au[sc + 3] & 0x1F;
        const bool slice = type == 1 || type == 5;
        if (slice)
            out.insert(out.end(), std::begin(kPrefix), std::end(kPrefix));
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), au.begin() + long(sc + 3), au.begin() + long(end));
        if (slice)
            out.insert(out.end(), std::begin(kEnhancement), std::end(kEnhancement));
        i = end;
    }
    return out;
}

} // namespace

TEST_F(StreamTest, ScalableH264DecodesItsBaseLayer)
{
    std::vector<Packet> h264;
    std::vector<std::string> reference;
    if (!Load("H264", h264, reference))
        GTEST_SKIP() << "libx264 encoding is not available";
    for (const char* tag : {"S264", "T264"}) {
        SCOPED_TRACE(tag);
        CDecompressor decompressor;
        std::vector<std::string> md5s;
        for (const Packet& p : h264) {
            VideoFramePtr frame =
                MakeCompressedFrame(MakeScalable(p.data), tag, true, p.key, kWidth, kHeight);
            if (VideoFramePtr picture = decompressor.Decompress(frame.get(), 0))
                md5s.push_back(PictureMd5(*picture));
        }
        EXPECT_EQ(md5s, reference);
    }
}

// One decompressor fed both scalable kinds keeps a converter for each: the
// temporal kind is not served by the converter the spatial kind chose.
TEST_F(StreamTest, EachScalableKindHasItsOwnConverter)
{
    std::vector<Packet> h264;
    std::vector<std::string> reference;
    if (!Load("H264", h264, reference))
        GTEST_SKIP() << "libx264 encoding is not available";
    CDecompressorBrastel brastel("");
    LogCapture::Instance().Clear();
    std::vector<std::string> md5s;
    for (size_t i = 0; i < h264.size(); ++i) {
        const char* tag = i < 4 ? "S264" : "T264";
        VideoFramePtr frame =
            MakeCompressedFrame(MakeScalable(h264[i].data), tag, true, h264[i].key, kWidth, kHeight);
        int status = -1;
        if (VideoFramePtr picture = brastel.Decompress(frame.get(), 0, status)) {
            EXPECT_EQ(status, 0);
            md5s.push_back(PictureMd5(*picture));
        }
    }
    EXPECT_EQ(md5s, reference);
    EXPECT_TRUE(LogCapture::Instance().Contains("Trying to use codec: H264SvcEx"));
    EXPECT_TRUE(LogCapture::Instance().Contains("Trying to use codec: H264SvctEx"));

    // The conversion alone gives a compressed H.264 frame that decodes.
    VideoFramePtr svc = MakeCompressedFrame(MakeScalable(h264[0].data), "T264", true, true, kWidth, kHeight);
    VideoFramePtr plain = brastel.ConvertToH264(svc.get(), 0);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(GetVideoFrameFormat(plain.get()), '?');
    EXPECT_EQ(IsKeyFrame(plain.get()), 1);
    CDecompressor decompressor;
    VideoFramePtr picture = decompressor.Decompress(plain.get(), 0);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(PictureMd5(*picture), reference[0]);
}

// Decoding state is kept across frames and dropped by Reset: a predicted
// frame straight after a reset has no reference picture to match.
TEST_F(StreamTest, ResetForgetsTheDecoderState)
{
    std::vector<Packet> h264;
    std::vector<std::string> reference;
    if (!Load("H264", h264, reference))
        GTEST_SKIP() << "libx264 encoding is not available";
    const CodecCase& h = CaseNamed("H264");
    CDecompressor decompressor;
    DecodeAll(decompressor, {h264[0], h264[1]}, h);
    decompressor.Reset();
    EXPECT_EQ(decompressor.GetLastFrameNumber(), -1);
    const Decoded afterReset = DecodeAll(decompressor, {h264[2]}, h);
    EXPECT_TRUE(afterReset.md5s.empty() || afterReset.md5s[0] != reference[2]);
    // The next key frame (every fifth) decodes as ffmpeg does.
    const Decoded fromKey = DecodeAll(decompressor, {h264[5], h264[6]}, h);
    EXPECT_EQ(fromKey.md5s, (std::vector<std::string>{reference[5], reference[6]}));
}

// Without the add-on no frame decodes, the failure is logged, and the process
// goes on. Run in a helper program: the test program's own folder tree holds
// the add-on.
TEST_F(StreamTest, MissingAddonGivesNoPicturesAndALogLine)
{
    std::vector<Packet> h264;
    std::vector<std::string> reference;
    if (!Load("H264", h264, reference))
        GTEST_SKIP() << "libx264 encoding is not available";
    const std::string empty = ScratchDir() + "/no_addon_here";
    std::filesystem::create_directories(empty);
    const std::string registry = UseRegistry("noaddon", empty);
    UseProjectAddon();
    const std::string payload = ScratchDir() + "/key.h264";
    {
        std::ofstream out(payload, std::ios::binary);
        out.write(reinterpret_cast<const char*>(h264[0].data.data()), long(h264[0].data.size()));
    }
    std::string output;
    const std::string command = "GAVEX_REGISTRY_DIR='" + registry + "' '" GAVEX_TEST_TOOLS_DIR
                                "/decompress_noaddon' '" + payload + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, got);
    const int status = pclose(pipe);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("pictures=0"), std::string::npos) << output;
    EXPECT_NE(output.find("Couldn't load Brastel manager library "), std::string::npos)
        << output;
    EXPECT_NE(output.find("Failed to convert media buffer from \"H264\" to \"YUV4xx\", width(0), using Brastel."),
              std::string::npos)
        << output;
}

// Damaged frames in the middle of a stream give at most a damaged picture;
// from the next key frame on every picture is exact again.
TEST_P(CodecDecodeTest, StreamRecoversAtTheKeyFrameAfterDamage)
{
    const CodecCase& c = GetParam();
    if (c.heldBack != 0)
        GTEST_SKIP() << "pictures of a reordering decoder do not line up with its frames";
    const std::vector<Packet> packets = ReadPackets(path);
    const std::vector<std::string> reference = ReferenceMd5s(path, c.pixelFormat);
    ASSERT_EQ(packets.size(), size_t(kFrames));
    ASSERT_EQ(reference.size(), size_t(kFrames));

    // Frames 1 to 3: cut to a third, overwritten with noise, emptied to zeros.
    std::vector<Packet> damaged = packets;
    damaged[1].data.resize(damaged[1].data.size() / 3);
    uint32_t noise = 12345;
    for (uint8_t& b : damaged[2].data) {
        noise = noise * 1103515245u + 12345u;
        b = uint8_t(noise >> 24);
    }
    std::fill(damaged[3].data.begin(), damaged[3].data.end(), 0);

    CDecompressor decompressor;
    std::vector<std::string> got(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        VideoFramePtr frame =
            MakeCompressedFrame(damaged[size_t(i)].data, c.tag, c.keyFlag, packets[size_t(i)].key,
                                kWidth, kHeight);
        if (VideoFramePtr picture = decompressor.Decompress(frame.get(), 0))
            got[size_t(i)] = PictureMd5(*picture);
    }
    EXPECT_EQ(got[0], reference[0]);
    for (int i = 5; i < kFrames; ++i)
        EXPECT_EQ(got[size_t(i)], reference[size_t(i)]) << "picture " << i;
}

// One front shared by threads: selection and decoding are serialised, so
// every picture of an all-key-frame stream still comes out exact.
TEST_F(StreamTest, SharedByThreadsEveryPictureStaysExact)
{
    std::vector<Packet> mjpeg;
    std::vector<std::string> reference;
    if (!Load("MJPEG", mjpeg, reference))
        GTEST_SKIP() << "mjpeg encoding is not available";
    const CodecCase& j = CaseNamed("MJPEG");
    CDecompressor decompressor;
    std::vector<std::vector<std::string>> results(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < results.size(); ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round)
                for (const Packet& p : mjpeg) {
                    VideoFramePtr frame =
                        MakeCompressedFrame(p.data, j.tag, j.keyFlag, true, kWidth, kHeight);
                    VideoFramePtr picture = decompressor.Decompress(frame.get(), 0);
                    results[t].push_back(picture ? PictureMd5(*picture) : "");
                }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (const auto& got : results) {
        ASSERT_EQ(got.size(), 3 * reference.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i], reference[i % reference.size()]) << "picture " << i;
    }
}
