// The wavelet wrappers and decompressors on their own: frame layouts, the
// checksum, levels, sizes, compressed-domain reduction, damaged frames and
// the debug switches.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <type_traits>

#include "MediaTestSupport.h"
#include "WaveletSupport.h"
#include "base/frames/FormatTags.h"
#include "imaging/jpeg/WaveletEncoderFactory.h"
#include "media/Decompressor.h"
#include "media/DecompressorWavelet.h"
#include "media/FerrowenContract.h"
#include "media/Wavelet.h"

using namespace mediatest;
using namespace wavelettest;

namespace {

uint32_t Word(const uint8_t* p, size_t at)
{
    return uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 | uint32_t(p[at + 2]) << 16 |
           uint32_t(p[at + 3]) << 24;
}
uint16_t Half(const uint8_t* p, size_t at) { return uint16_t(p[at] | p[at + 1] << 8); }
void PutWord(uint8_t* p, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[at + size_t(i)] = uint8_t(v >> (8 * i));
}

class WaveletTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UseRegistry(std::string("codec_") +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                    "");
        LogCapture::Instance().Clear();
    }
    static bool Logged(const std::string& text) { return LogCapture::Instance().Contains(text); }

    // Encodes `count` frames of the pattern (the first a key frame).
    static std::vector<std::vector<uint8_t>> EncodeFrames(wavelet::Wavelet& codec,
                                                          const char* pixelFormat, int colour,
                                                          int count, int quality = 3)
    {
        std::vector<std::vector<uint8_t>> frames;
        std::vector<uint8_t> out(size_t(codec.GetWidth()) * codec.GetHeight() * 2 + 64);
        for (int i = 0; i < count; ++i) {
            std::vector<uint8_t> picture =
                TestPicture(pixelFormat, codec.GetWidth(), codec.GetHeight(), i);
            if (picture.empty())
                return {};
            const int n = codec.Compress(picture.data(), out.data(), quality, colour, i == 0, 5);
            if (n <= 0)
                return {};
            frames.emplace_back(out.begin(), out.begin() + n);
        }
        return frames;
    }
    static VideoFramePtr Frame(const std::vector<uint8_t>& data, int width, int height, int colour = 1)
    {
        return CompressedFrame(data.data(), data.size(), width, height, colour);
    }
    static bool HaveFfmpeg() { return !TestPicture("yuv420p", 352, 288, 0).empty(); }
};

} // namespace

TEST_F(WaveletTest, HeadersOfEachGenerationFollowTheFrameLayout)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not available";
    {
        SCOPED_TRACE("3.5");
        std::unique_ptr<wavelet::Wavelet3> codec(wavelet::CreateWavelet3(352, 288, -3, 10));
        ASSERT_NE(codec, nullptr);
        EXPECT_EQ(Word(codec->StreamRecord(), 0), 0x20CAEC0Du);
        // Four levels below 640 pixels; height over half the width; 4:2:0.
        EXPECT_EQ(Half(codec->StreamRecord(), 4), 0x114);
        EXPECT_EQ(codec->GetLevels(), 4);
        const auto frames = EncodeFrames(*codec, "yuv420p", 1, 2);
        ASSERT_EQ(frames.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            const uint8_t* f = frames[i].data();
            const uint32_t length = Word(f, 4);
            EXPECT_EQ(Word(f, 0), 0xFFFFFFFFu);
            EXPECT_EQ(length + 4, frames[i].size());
            EXPECT_EQ(Half(f, 20), i == 0 ? 1 : 0);
            EXPECT_EQ(std::memcmp(f + length, "I+v\x9e", 4), 0);
            EXPECT_TRUE(wavelet::Wavelet3::CheckCRC(f, uint32_t(frames[i].size())));
        }
        std::unique_ptr<wavelet::Wavelet3> grey(wavelet::CreateWavelet3(352, 288, 0, 11));
        ASSERT_NE(grey, nullptr);
        EXPECT_EQ(Half(grey->StreamRecord(), 4), 0x104);
        const auto greyFrames = EncodeFrames(*grey, "gray", 0, 1);
        ASSERT_EQ(greyFrames.size(), 1u);
        EXPECT_EQ(Half(greyFrames[0].data(), 20), 5);
        EXPECT_EQ(greyFrames[0].back(), 0x9F);
    }
    {
        SCOPED_TRACE("6.5");
        wavelet::WxWl3 codec(352, 288, -3);
        ASSERT_NE(codec.StreamDescription(), nullptr);
        EXPECT_EQ(Word(codec.StreamDescription(), 4), 0x40000000u);
        EXPECT_EQ(codec.StreamDescription()[12], 36);
        EXPECT_EQ(Word(codec.StreamDescription(), 24), 0x814u);
        const auto frames = EncodeFrames(codec, "yuv420p", 1, 3);
        ASSERT_EQ(frames.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            const uint8_t* f = frames[i].data();
            EXPECT_EQ(f[7], 0x40);
            EXPECT_EQ((Word(f, 4) & 0xFFFFFF) + 4, frames[i].size());
            EXPECT_EQ(Word(f, 20), i);
            EXPECT_EQ(Word(f, 24), i == 0 ? 0x1000814u : 0x814u);
            EXPECT_EQ(Half(f, 28), 352);
            EXPECT_EQ(Half(f, 30), 288);
            EXPECT_EQ(frames[i].back(), 0xA6);
        }
        // A grey stream is marked in the flags; its frames still carry the
        // layout of the output format.
        wavelet::WxWl3 grey(704, 576, 0);
        const auto greyFrames = EncodeFrames(grey, "gray", 0, 1);
        ASSERT_EQ(greyFrames.size(), 1u);
        EXPECT_EQ(Word(greyFrames[0].data(), 24), 0x5000805u);
        EXPECT_EQ(greyFrames[0].back(), 0xA7);
    }
    {
        SCOPED_TRACE("7.1");
        struct Case {
            int flag, format, colour;
            const char* pixels;
            uint32_t flags;
            uint8_t code;
        };
        const Case cases[] = {{0, -3, 1, "yuv420p", 0x814, 0xAA},
                              {1, -3, 1, "yuv420p", 0x914, 0xAA},
                              {0, 0, 1, "yuv422p", 0x804, 0xAB},
                              {0, -3, 0, "gray", 0x824, 0xAB}};
        for (const Case& c : cases) {
            wavelet::Wavelet71 codec(352, 288, c.flag, c.format);
            const auto frames = EncodeFrames(codec, c.pixels, c.colour, 2);
            ASSERT_EQ(frames.size(), 2u);
            EXPECT_EQ(Word(frames[0].data(), 24), c.flags | 0x1000000u);
            EXPECT_EQ(Word(frames[1].data(), 24), c.flags);
            EXPECT_EQ(Word(frames[1].data(), 20), 1u);
            EXPECT_EQ(Word(frames[1].data(), 4) + 4, frames[1].size());
            EXPECT_EQ(frames[1].back(), c.code);
        }
    }
}

// The 7.1 library keeps the rate it was given as its quantiser step (1 + rate
// / 4, in the payload's header): difference frames get four times the rate.
TEST_F(WaveletTest, DifferenceFramesOf71UseFourTimesTheRate)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not available";
    wavelet::Wavelet71 codec(352, 288, 0, -3);
    const int rate = codec.Rates()->Choose(5, 352);
    ASSERT_EQ(rate, 5); // Full row, quality index 5
    const auto frames = EncodeFrames(codec, "yuv420p", 1, 2, 5);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Half(frames[0].data(), 36 + 4), 1 + rate / 4);
    EXPECT_EQ(Half(frames[1].data(), 36 + 4), 1 + rate * 4 / 4);
}

TEST_F(WaveletTest, ASizeNotAMultipleOfFourMakesNoCodec)
{
    EXPECT_EQ(wavelet::CreateWavelet3(642, 480, -3, 10), nullptr);
    EXPECT_TRUE(Logged("[WAVELET][3.5] Error: Resolution is not supported 642x480"));

    wavelet::WxWl3 codec(642, 480, -3);
    EXPECT_EQ(codec.StreamDescription(), nullptr);
    EXPECT_EQ(codec.GetLevels(), 0);
    std::vector<uint8_t> picture(642 * 480 * 2, 0x40), out(642 * 480 * 2 + 64);
    EXPECT_EQ(codec.Compress(picture.data(), out.data(), 3, 1, 1, 5), 0);
    // Through the frame compressor's factory neither makes an encoder.
    EXPECT_EQ(wavelet::CreateWaveletEncoder('n', 642, 480, -3), nullptr);
    EXPECT_EQ(wavelet::CreateWaveletEncoder('v', 642, 480, -3), nullptr);
    EXPECT_EQ(wavelet::CreateWaveletEncoder('d', 640, 480, -3), nullptr);
    EXPECT_NE(wavelet::CreateWaveletEncoder('z', 642, 480, -3), nullptr);
}

TEST_F(WaveletTest, CheckCrcBoundsAndChecksum)
{
    // A small valid frame: 8 words, checksum over words 6 and 7.
    std::vector<uint8_t> good(32, 0);
    PutWord(good.data(), 0, 0xFFFFFFFF);
    PutWord(good.data(), 4, 32);
    PutWord(good.data(), 24, 0x80000005);
    PutWord(good.data(), 28, 0x00000007);
    PutWord(good.data(), 8, 0x0000000C); // bit 31 of the sum cleared
    struct Case {
        const char* what;
        uint32_t lengthWord; // 0: keep
        uint32_t guard;
        uint32_t checksum;   // 0: keep
        uint32_t size;       // bytes handed over
        bool ok;
        const char* line;
    };
    const Case cases[] = {
        {"intact", 0, 0xFFFFFFFF, 0, 32, true, nullptr},
        {"guard missing", 0, 0x12345678, 0, 32, false, "CheckCRC: GUARD(0x12345678) section missed."},
        {"six words", 24, 0xFFFFFFFF, 0, 32, false, "CheckCRC: frameSize(6) < HeadOffset(6)"},
        {"above the limit", 1200004, 0xFFFFFFFF, 0, 32, false, "CheckCRC: frameSize(300001) > 300000"},
        {"longer than the data", 36, 0xFFFFFFFF, 0, 32, false, "CheckCRC: frameSize(9) exceeds"},
        {"bad checksum", 0, 0xFFFFFFFF, 0x0D, 32, false, "CheckCRC: bad crc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture::Instance().Clear();
        std::vector<uint8_t> frame = good;
        PutWord(frame.data(), 0, c.guard);
        if (c.lengthWord)
            PutWord(frame.data(), 4, c.lengthWord);
        if (c.checksum)
            PutWord(frame.data(), 8, c.checksum);
        EXPECT_EQ(wavelet::Wavelet3::CheckCRC(frame.data(), c.size), c.ok);
        if (c.line) {
            EXPECT_TRUE(Logged(c.line)) << LogCapture::Instance().Text();
        }
    }
}

TEST_F(WaveletTest, LevelsForAWantedWidth)
{
    struct Case {
        int streamWidth, wanted, expected;
    };
    const Case reduction[] = {{1920, 400, 2}, {1920, 480, 2}, {1920, 481, 1}, {1920, 1920, 0},
                              {1920, 0, 0},   {1920, 2000, 0}, {1920, 960, 1}, {704, 1, 9}};
    for (const Case& c : reduction)
        EXPECT_EQ(wavelet::ReductionLevel(c.streamWidth, c.wanted), c.expected)
            << c.streamWidth << " to " << c.wanted;

    struct Level35 {
        int levels, streamWidth, wanted, expected;
    };
    const Level35 levels35[] = {
        {5, 1280, 320, 4}, {5, 1280, 0, 0},   {5, 1280, 1280, 0}, {5, 1280, 640, 5},
        {6, 1920, 480, 5}, {4, 320, 80, 4},   {5, 1280, 100, 4},  {6, 1920, 1000, 0},
        {3, 320, 160, 0},
    };
    for (const Level35& c : levels35)
        EXPECT_EQ(CDecompressWavelet35::LevelForWidth(c.levels, c.streamWidth, c.wanted), c.expected)
            << c.levels << " levels, " << c.streamWidth << " to " << c.wanted;
}

// The 3.5 length checks, before anything is decoded.
TEST_F(WaveletTest, Wavelet35FrameLengthsAreChecked)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not available";
    std::unique_ptr<wavelet::Wavelet3> codec(wavelet::CreateWavelet3(352, 288, -3, 10));
    ASSERT_NE(codec, nullptr);
    const auto frames = EncodeFrames(*codec, "yuv420p", 1, 2);
    ASSERT_EQ(frames.size(), 2u);
    const uint32_t length = Word(frames[0].data(), 4);

    CDecompressor decompressor;
    std::vector<uint8_t> shortWord = frames[0];
    PutWord(shortWord.data(), 4, length - 1);
    EXPECT_EQ(decompressor.Decompress(Frame(shortWord, 352, 288).get(), 0), nullptr);
    EXPECT_TRUE(Logged("[WAVELET][3.5] Bad frame size " + std::to_string(length - 1) + " (expected " +
                       std::to_string(length) + "). Rejected. Camera: 3."))
        << LogCapture::Instance().Text();

    // A complex frame whose second length does not add up, and one whose first
    // length points past the data.
    VideoFramePtr complex = MakeFrameWithKeyHeader(Frame(frames[0], 352, 288).get(),
                                                   Frame(frames[1], 352, 288).get());
    ASSERT_NE(complex, nullptr);
    const uint32_t second = length + 4;
    PutWord(complex->m_pData, second + 4, Word(complex->m_pData, second + 4) + 4);
    LogCapture::Instance().Clear();
    EXPECT_EQ(decompressor.Decompress(complex.get(), 0), nullptr);
    EXPECT_TRUE(Logged("[WAVELET][3.5] Bad complex frame size")) << LogCapture::Instance().Text();
    PutWord(complex->m_pData, 4, 0xFFFFFF00);
    LogCapture::Instance().Clear();
    EXPECT_EQ(decompressor.Decompress(complex.get(), 0), nullptr);
    EXPECT_TRUE(Logged("[WAVELET][3.5] Bad complex frame size")) << LogCapture::Instance().Text();

    // The decompressor is still good for the next frame.
    EXPECT_NE(decompressor.Decompress(Frame(frames[0], 352, 288).get(), 0), nullptr);
    // A frame without a size decodes at the previous stream size.
    EXPECT_NE(decompressor.Decompress(Frame(frames[0], 0, 0).get(), 0), nullptr);
    // ... but a first frame without one has no stream to decode into.
    CDecompressor fresh;
    EXPECT_EQ(fresh.Decompress(Frame(frames[0], 0, 0).get(), 0), nullptr);
}

// Frames damaged on the way give null and a log line; the stream recovers at
// the next key frame.
TEST_F(WaveletTest, DamagedFramesGiveNullAndALogLine)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not available";
    std::unique_ptr<wavelet::Wavelet> codecs[] = {
        std::unique_ptr<wavelet::Wavelet>(wavelet::CreateWavelet3(352, 288, -3, 10)),
        std::make_unique<wavelet::WxWl3>(352, 288, -3),
        std::make_unique<wavelet::Wavelet71>(352, 288, 0, -3)};
    const uint32_t lengthMask[] = {0xFFFFFFFF, 0xFFFFFF, 0xFFFFFFFF};
    for (int g = 0; g < 3; ++g) {
        SCOPED_TRACE(g);
        ASSERT_NE(codecs[g], nullptr);
        const auto frames = EncodeFrames(*codecs[g], "yuv420p", 1, 1);
        ASSERT_EQ(frames.size(), 1u);
        const std::vector<uint8_t>& good = frames[0];
        const size_t tag = good.size() - 4;

        std::vector<std::vector<uint8_t>> damaged;
        auto longer = good; // the length word says more than there is
        PutWord(longer.data(), 4, (Word(good.data(), 4) & ~lengthMask[g]) | ((Word(good.data(), 4) + 1000) & lengthMask[g]));
        damaged.push_back(longer);
        auto huge = good;
        PutWord(huge.data(), 4, (Word(good.data(), 4) & ~lengthMask[g]) | (0x7FFFFFF0 & lengthMask[g]));
        damaged.push_back(huge);
        for (size_t keep : {size_t(10), size_t(20), size_t(30)}) { // short headers
            std::vector<uint8_t> cut(good.begin(), good.begin() + long(keep));
            cut.insert(cut.end(), good.begin() + long(tag), good.end());
            damaged.push_back(cut);
        }
        auto truncated = good; // the end of the payload lost
        truncated.erase(truncated.begin() + long(tag) - 16, truncated.begin() + long(tag));
        damaged.push_back(truncated);
        uint32_t noise = 7;
        for (int m = 0; m < 12; ++m) { // bytes mutated in the payload
            auto mutated = good;
            for (int k = 0; k < 3; ++k) {
                noise = noise * 1103515245u + 12345u;
                const size_t at = 40 + (noise >> 8) % (tag - 40);
                mutated[at] ^= uint8_t(1 + (noise >> 3) % 255);
            }
            damaged.push_back(mutated);
        }
        auto guard = good;
        guard[0] = 0;
        damaged.push_back(guard);

        CDecompressor decompressor;
        for (size_t d = 0; d < damaged.size(); ++d) {
            SCOPED_TRACE(d);
            LogCapture::Instance().Clear();
            EXPECT_EQ(decompressor.Decompress(Frame(damaged[d], 352, 288).get(), 0), nullptr);
            EXPECT_FALSE(LogCapture::Instance().Text().empty());
        }
        EXPECT_NE(decompressor.Decompress(Frame(good, 352, 288).get(), 0), nullptr);
    }
}

// 1080p 6.5 and 7.1 frames at a wanted width of 480: a 480 x 270 picture with
// tight planes, and the reduced compressed frame decodes to the same picture.
TEST_F(WaveletTest, ReducedDecodeAndCompressedDomainReductionAgree)
{
    if (TestPicture("yuv420p", 1920, 1080, 0).empty())
        GTEST_SKIP() << "ffmpeg is not available";
    std::unique_ptr<wavelet::Wavelet> codecs[] = {std::make_unique<wavelet::WxWl3>(1920, 1080, -3),
                                                  std::make_unique<wavelet::Wavelet71>(1920, 1080, 0, -3)};
    std::unique_ptr<DecompressFormat> reducers[] = {std::make_unique<CDecompressorCorvane65>(-3),
                                                    std::make_unique<CDecompressorCorvane71>(-3)};
    for (int g = 0; g < 2; ++g) {
        SCOPED_TRACE(g == 0 ? "6.5" : "7.1");
        const auto frames = EncodeFrames(*codecs[g], "yuv420p", 1, 2, 1);
        ASSERT_EQ(frames.size(), 2u);
        CDecompressor direct, viaReduced;
        std::vector<VideoFramePtr> inputs = {
            Frame(frames[0], 1920, 1080), Frame(frames[1], 1920, 1080),
            MakeFrameWithKeyHeader(Frame(frames[0], 1920, 1080).get(), Frame(frames[1], 1920, 1080).get())};
        for (size_t i = 0; i < inputs.size(); ++i) {
            SCOPED_TRACE(i);
            VideoFramePtr picture = direct.Decompress(inputs[i].get(), 480);
            ASSERT_NE(picture, nullptr);
            EXPECT_EQ(picture->m_nWidth, 480);
            EXPECT_EQ(picture->m_nHeight, 270);
            EXPECT_EQ(picture->m_cbData, 480u * 270u * 3 / 2);
            // The picture is the source averaged down, plane by plane.
            const std::vector<uint8_t>& source = TestPicture("yuv420p", 1920, 1080, i == 0 ? 0 : 1);
            std::vector<uint8_t> average(picture->m_cbData);
            struct P { size_t from, to; int w, h, fw; };
            const P planes[] = {{0, 0, 480, 270, 1920},
                                {1920 * 1080, 480 * 270, 240, 135, 960},
                                {1920 * 1080 * 5 / 4, 480 * 270 + 240 * 135, 240, 135, 960}};
            for (const P& p : planes)
                for (int y = 0; y < p.h; ++y)
                    for (int x = 0; x < p.w; ++x) {
                        int sum = 0;
                        for (int dy = 0; dy < 4; ++dy)
                            for (int dx = 0; dx < 4; ++dx)
                                sum += source[p.from + size_t(4 * y + dy) * p.fw + 4 * x + dx];
                        average[p.to + size_t(y) * p.w + x] = uint8_t((sum + 8) / 16);
                    }
            EXPECT_GT(Psnr(picture->m_pData, average.data(), average.size()), 30);

            VideoFramePtr reduced = reducers[g]->ExtractWidth(inputs[i].get(), 480);
            ASSERT_NE(reduced, nullptr);
            ASSERT_NE(reduced, inputs[i]);
            EXPECT_EQ(reduced->m_nWidth, 480);
            EXPECT_EQ(reduced->m_nHeight, 270);
            EXPECT_LT(reduced->m_cbData, inputs[i]->m_cbData);
            EXPECT_EQ(GetVideoFrameFormat(reduced.get()), GetVideoFrameFormat(inputs[i].get()));
            VideoFramePtr again = viaReduced.Decompress(reduced.get(), 0);
            ASSERT_NE(again, nullptr);
            EXPECT_EQ(again->m_nWidth, 480);
            EXPECT_EQ(again->m_nHeight, 270);
            ASSERT_EQ(again->m_cbData, picture->m_cbData);
            EXPECT_EQ(std::memcmp(again->m_pData, picture->m_pData, again->m_cbData), 0);
        }
        // Nothing to reduce at full width; a frame whose length disagrees with
        // its size is not touched.
        EXPECT_EQ(reducers[g]->ExtractWidth(inputs[0].get(), 1920), inputs[0]);
        std::vector<uint8_t> bad = frames[0];
        bad.push_back(0);
        VideoFramePtr badFrame = Frame(bad, 1920, 1080);
        EXPECT_EQ(reducers[g]->ExtractWidth(badFrame.get(), 480), badFrame);
    }
    // 3.5 frames are never reduced in the compressed domain.
    CDecompressWavelet35 v35(-3);
    VideoFramePtr any = Frame(std::vector<uint8_t>(64, 1), 1920, 1080);
    EXPECT_EQ(v35.ExtractWidth(any.get(), 480), any);
}

// A 4:2:2 frame given to the 4:2:0 decompressor would not fit its picture.
TEST_F(WaveletTest, FramesOfTheOtherLayoutAreRefused)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not available";
    wavelet::Wavelet71 codec(352, 288, 0, 0);
    const auto frames = EncodeFrames(codec, "yuv422p", 1, 1);
    ASSERT_EQ(frames.size(), 1u);
    CDecompressorCorvane71 v71(-3);
    int status = -1;
    EXPECT_EQ(v71.Decompress(Frame(frames[0], 352, 288).get(), 0, status), nullptr);
    EXPECT_TRUE(Logged("[WAVELET71] Frame layout 0x00 does not fit output format -3"));
    CDecompressorCorvane71 right(0);
    EXPECT_NE(right.Decompress(Frame(frames[0], 352, 288).get(), 0, status), nullptr);
    EXPECT_EQ(status, 0);
}

TEST_F(WaveletTest, DecompressorsLogTheirLifeAndFreeTheirCodec)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not available";
    wavelet::WxWl3 codec(352, 288, 0);
    const auto frames = EncodeFrames(codec, "yuv422p", 1, 1);
    ASSERT_EQ(frames.size(), 1u);
    {
        CDecompressorCorvane65 v65(0);
        EXPECT_TRUE(Logged("CDecompressorCorvane65 0x"));
        int status = -1;
        ASSERT_NE(v65.Decompress(Frame(frames[0], 352, 288).get(), 0, status), nullptr);
        EXPECT_EQ(v65.GetStreamWidth(), 352);
        v65.FreeMemory();
        EXPECT_EQ(v65.GetStreamWidth(), 0);
        EXPECT_EQ(v65.GetDecodedWidth(), 0);
        EXPECT_TRUE(Logged("FREEMEMORY in Decompressor (0x"));
        EXPECT_NE(v65.Decompress(Frame(frames[0], 352, 288).get(), 0, status), nullptr);
        EXPECT_EQ(v65.GetOutputFormat(), 0);
    }
    EXPECT_TRUE(Logged(" removed"));
}

// The debug switches are read once per process: a program of their own.
TEST_F(WaveletTest, SwitchesCheckTheChecksumAndTurnReductionOff)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not available";
    std::unique_ptr<wavelet::Wavelet3> codec(wavelet::CreateWavelet3(352, 288, -3, 10));
    ASSERT_NE(codec, nullptr);
    auto frames = EncodeFrames(*codec, "yuv420p", 1, 1);
    ASSERT_EQ(frames.size(), 1u);
    wavelet::WxWl3 v65(1280, 720, -3);
    std::vector<uint8_t> picture(1280 * 720 * 3 / 2, 0x50), out(1280 * 720 * 2 + 64);
    const int n = v65.Compress(picture.data(), out.data(), 2, 1, 1, 5);
    ASSERT_GT(n, 0);
    const std::vector<uint8_t> frame65(out.begin(), out.begin() + n);

    struct Case {
        const char* what;
        const char* values;
        const std::vector<uint8_t>* frame;
        int width, height;
        bool corrupt;
        const char* expected[2];
    };
    std::vector<uint8_t> broken = frames[0];
    PutWord(broken.data(), 8, Word(broken.data(), 8) ^ 1);
    const Case cases[] = {
        {"checksum checked", "\"CheckCRC\"=\"1\"\n", &broken, 352, 288, true,
         {"[WAVELET][3.5] Bad CRC. Camera: 5", "picture=none"}},
        {"checksum not checked", "", &broken, 352, 288, true, {"picture=352x288", nullptr}},
        {"reduction on", "\"CheckInputFrame\"=\"1\"\n\"CheckOutputFrame\"=\"1\"\n", &frame65, 1280, 720,
         false, {"picture=1280x720", "extract=reduced"}},
        {"reduction off", "\"ExtractWidth\"=\"0\"\n", &frame65, 1280, 720, false,
         {"picture=1280x720", "extract=same"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = UseRegistry(std::string("switches_") + std::to_string(&c - cases), "");
        {
            std::ofstream reg(dir + "/machine.reg", std::ios::app);
            reg << "[SOFTWARE\\QOR\\Vindara\\Video]\n" << c.values;
        }
        const std::string path = dir + "/frame.bin";
        {
            std::ofstream f(path, std::ios::binary);
            f.write(reinterpret_cast<const char*>(c.frame->data()), long(c.frame->size()));
        }
        std::string output;
        const std::string command = "'" GAVEX_TEST_TOOLS_DIR "/decompress_wavelet' '" + path + "' " +
                                    std::to_string(c.width) + " " + std::to_string(c.height);
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
            output.append(chunk, got);
        EXPECT_EQ(pclose(pipe), 0) << output;
        for (const char* line : c.expected)
            if (line) {
                EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
            }
    }
}

// Sizes from the frame header are 16-bit: the largest would overflow an int
// picture size; such a picture is refused before anything is allocated.
TEST_F(WaveletTest, AHugeHeaderSizeIsRefused)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not available";
    wavelet::WxWl3 codec(352, 288, -3);
    const auto frames = EncodeFrames(codec, "yuv420p", 1, 1);
    ASSERT_EQ(frames.size(), 1u);
    std::vector<uint8_t> huge = frames[0];
    huge[28] = huge[29] = huge[30] = huge[31] = 0xFF;
    CDecompressor decompressor;
    EXPECT_EQ(decompressor.Decompress(Frame(huge, 352, 288).get(), 0), nullptr);
    EXPECT_TRUE(Logged("[WXWL] Picture of 6442258449 bytes is too large. Camera: 3."))
        << LogCapture::Instance().Text();
    EXPECT_NE(decompressor.Decompress(Frame(frames[0], 352, 288).get(), 0), nullptr);
}

// Without the libraries opened by name: 3.5 makes no codec, 6.5 makes one
// that does nothing, each with its log line. Run in a program without a run
// path to the build folder, with only the linked 7.1 library in reach.
TEST_F(WaveletTest, MissingLibrariesMakeNoWorkingCodec)
{
    const std::string dir = UseRegistry("nolibs", "");
    std::filesystem::copy_file(GAVEX_WAVELET71_LIBRARY, dir + "/libFerrowen3S140321.so",
                               std::filesystem::copy_options::overwrite_existing);
    std::string output;
    const std::string command = "LD_LIBRARY_PATH='" + dir + "' '" GAVEX_TEST_TOOLS_DIR "/wavelet_nolibs'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, got);
    EXPECT_EQ(pclose(pipe), 0) << output;
    for (const char* line : {"[WAVELET][3.5] Failed to load Ferrowen3dll. Error: 2.", "v35=none",
                             "[WXWL] DLL loading failed\n",
                             "v65 loaded=0 compress=0 decompress=0 levels=0"})
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
}

// Reduced decoding skips the finest levels, so a later difference frame
// cannot be decoded finer until the next key frame; coarser always works.
TEST_F(WaveletTest, FinerDecodingWaitsForTheNextKeyFrame)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not available";
    wavelet::WxWl3 codec(352, 288, -3);
    const auto frames = EncodeFrames(codec, "yuv420p", 1, 3);
    ASSERT_EQ(frames.size(), 3u);
    CDecompressor decompressor;
    ASSERT_NE(decompressor.Decompress(Frame(frames[0], 352, 288).get(), 176), nullptr);
    VideoFramePtr coarser = decompressor.Decompress(Frame(frames[1], 352, 288).get(), 88);
    ASSERT_NE(coarser, nullptr);
    EXPECT_EQ(coarser->m_nWidth, 88);
    EXPECT_EQ(decompressor.Decompress(Frame(frames[2], 352, 288).get(), 0), nullptr);
    EXPECT_TRUE(Logged("[WXWL] Frame could not be decoded. Rejected. Camera: 3."));
    VideoFramePtr key = decompressor.Decompress(Frame(frames[0], 352, 288).get(), 0);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->m_nWidth, 352);
}

// The library exports the player does not call: explicit frame types and
// lengths, version, frame counter and size-bounded truncation.
TEST_F(WaveletTest, LibraryExtrasWork)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not available";
    const std::string folder = std::filesystem::path(GAVEX_WAVELET71_LIBRARY).parent_path().string();
    void* lib35 = dlopen((folder + "/libFerrowen3_64.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    void* lib65 = dlopen((folder + "/libFerrowen7_64.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib35, nullptr);
    ASSERT_NE(lib65, nullptr);
    auto sym = [](void* lib, const char* name, auto& fn) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
        ASSERT_NE(fn, nullptr) << name;
    };

    std::unique_ptr<wavelet::Wavelet3> codec(wavelet::CreateWavelet3(352, 288, -3, 10));
    ASSERT_NE(codec, nullptr);
    FwVideoOpenFn open = nullptr;
    FwVideoCloseFn close = nullptr;
    FwVideoLastErrorFn lastError = nullptr;
    FwVideoEncodeExFn encodeEx = nullptr;
    FwVideoDecodeExFn decodeEx = nullptr;
    FwVideoTruncateFn truncate = nullptr;
    sym(lib35, "DLL_VideoOpen", open);
    sym(lib35, "DLL_VideoClose", close);
    sym(lib35, "DLL_VideoLastError", lastError);
    sym(lib35, "DLL_VideoEncodeEx", encodeEx);
    sym(lib35, "DLL_VideoDecodeEx", decodeEx);
    sym(lib35, "DLL_VideoTruncate", truncate);
    void* handle = open(codec->StreamRecord());
    ASSERT_NE(handle, nullptr);
    std::vector<uint8_t> picture = TestPicture("yuv420p", 352, 288, 0);
    std::vector<uint8_t> out(352 * 288 * 2 + 64, 0), decoded(352 * 288 * 2 + 4112);
    PutWord(out.data(), 0, 0xFFFFFFFF);
    FerrowenPlanes in{picture.data(), picture.data() + 352 * 288, picture.data() + 352 * 288 * 5 / 4, 352, 352, 288, 0};
    const int length = encodeEx(handle, &in, out.data(), 40, 6, 1);
    ASSERT_GT(length, 0);
    EXPECT_EQ(Half(out.data(), 20) & 3, 1);
    FerrowenPlanes to{decoded.data(), decoded.data() + 352 * 288, decoded.data() + 352 * 288 * 5 / 4, 352, 352, 288, 0};
    EXPECT_EQ(decodeEx(handle, &to, out.data(), 0, 0), 0u);                 // a length is required
    EXPECT_EQ(decodeEx(handle, &to, out.data(), uint32_t(length - 1), 0), 0u); // and must hold the frame
    EXPECT_NE(lastError(handle), 0);
    EXPECT_EQ(decodeEx(handle, &to, out.data(), uint32_t(length), 0), 352u | 288u << 16);
    EXPECT_EQ(lastError(handle), 0);
    const int shorter = truncate(out.data(), 2);
    EXPECT_GT(shorter, 0);
    EXPECT_LT(shorter, length);
    EXPECT_TRUE(wavelet::Wavelet3::CheckCRC(out.data(), uint32_t(shorter)));
    close(handle);

    FwWxwlGetVersionFn version = nullptr;
    FwWxwlGetDiffFn diff = nullptr;
    FwWxwlTruncateFn truncate65 = nullptr;
    FwWxwlOpenFn open65 = nullptr;
    FwWxwlCloseFn close65 = nullptr;
    sym(lib65, "DLL_WXWLCodecGetVersion", version);
    sym(lib65, "DLL_WXWLCodecGetDiff", diff);
    sym(lib65, "DLL_WXWLCodecTruncate", truncate65);
    sym(lib65, "DLL_WXWLCodecOpen", open65);
    sym(lib65, "DLL_WXWLCodecClose", close65);
    EXPECT_EQ(version(), 0x00060500);
    wavelet::WxWl3 v65(352, 288, -3);
    const auto frames = EncodeFrames(v65, "yuv420p", 1, 2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(diff(frames[0].data()), 0);
    EXPECT_EQ(diff(frames[1].data()), 1);
    void* h65 = open65(frames[0].data());
    EXPECT_NE(h65, nullptr);
    close65(h65);
    std::vector<uint8_t> frame = frames[0];
    const int budget = int(frame.size()) / 3;
    const int cut = truncate65(frame.data(), budget);
    EXPECT_GT(cut, 0);
    EXPECT_LE(cut, budget);
    EXPECT_LT(Half(frame.data(), 28), 352);
    dlclose(lib35);
    dlclose(lib65);
}
