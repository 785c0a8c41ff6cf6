// Pictures through each wavelet generation's encoder (as the frame compressor
// reaches it) and back through the decompressor front: quality at every
// index, key and difference frames in sequence, complex frames, and decoding
// at a wanted width.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "MediaTestSupport.h"
#include "WaveletSupport.h"
#include "base/frames/FormatTags.h"
#include "imaging/jpeg/WaveletEncoderFactory.h"
#include "media/Decompressor.h"
#include "media/DecompressorWavelet.h"

using namespace mediatest;
using namespace wavelettest;

namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;

struct RoundTripCase {
    const char* name;
    int version;        // asked of the factory
    int outputFormat;   // given to the encoder
    const char* pixelFormat;
    int colour;
    int code;           // the frame's format code
    int decodedFormat;  // m_nFormat of the pictures
    double bytesPerPixel; // picture size over its area
    double floorDb;     // lowest PSNR accepted at the worst quality index
};

const RoundTripCase kCases[] = {
    {"v35_420", 'n', -3, "yuv420p", 1, 'n', -3, 1.5, 35},
    {"v35_422", 'o', 0, "yuv422p", 1, 'o', 0, 2.0, 35},
    {"v35_grey", 'n', -3, "gray", 0, 'n', -3, 1.5, 35},
    {"v65_420", 'v', -3, "yuv420p", 1, 'v', -3, 1.5, 35},
    {"v65_422", 'w', 0, "yuv422p", 1, 'w', 0, 2.0, 35},
    {"v65_grey", 'w', 0, "gray", 0, 'w', 0, 1.0, 35},
    {"v65_grey420", 'v', -3, "gray", 0, 'v', -3, 1.5, 35},
    {"v71_420", 'z', -3, "yuv420p", 1, 'z', -3, 1.5, 35},
    {"v71_422", '{', 0, "yuv422p", 1, '{', 0, 2.0, 35},
    // 7.1 pictures of the second layout always carry chroma (grey here).
    {"v71_grey", 'z', -3, "gray", 0, '{', 0, 2.0, 35},
};

class WaveletRoundTrip : public ::testing::TestWithParam<RoundTripCase>
{
protected:
    void SetUp() override
    {
        UseRegistry(std::string("roundtrip_") + GetParam().name, "");
        LogCapture::Instance();
        if (TestPicture("yuv420p", kWidth, kHeight, 0).empty())
            GTEST_SKIP() << "ffmpeg is not available";
    }

    // Encodes frames [0, count) of the pattern at a quality index; the first
    // is a key frame.
    std::vector<VideoFramePtr> Encode(int quality, int count) const
    {
        const RoundTripCase& c = GetParam();
        auto encoder = wavelet::CreateWaveletEncoder(c.version, kWidth, kHeight, c.outputFormat);
        EXPECT_NE(encoder, nullptr);
        std::vector<VideoFramePtr> frames;
        if (!encoder)
            return frames;
        std::vector<uint8_t> out(size_t(kWidth) * kHeight * 2 + 64);
        for (int i = 0; i < count; ++i) {
            std::vector<uint8_t> picture = TestPicture(c.pixelFormat, kWidth, kHeight, i);
            const int n = encoder->Encode(picture.data(), out.data(), quality, c.colour, i == 0, 5);
            EXPECT_GT(n, 0) << "frame " << i;
            if (n <= 0)
                return frames;
            frames.push_back(CompressedFrame(out.data(), size_t(n), kWidth, kHeight, c.colour));
        }
        return frames;
    }

    // The decoded picture's PSNR against the source frame.
    double Compare(const VideoFrame& picture, int index) const
    {
        const RoundTripCase& c = GetParam();
        const std::vector<uint8_t>& source = TestPicture(c.pixelFormat, kWidth, kHeight, index);
        const size_t area = size_t(kWidth) * kHeight;
        EXPECT_EQ(picture.m_nWidth, kWidth);
        EXPECT_EQ(picture.m_nHeight, kHeight);
        EXPECT_EQ(picture.m_nFormat, c.decodedFormat);
        if (c.colour == 0) {
            EXPECT_EQ(picture.m_cbData, uint32_t(double(area) * c.bytesPerPixel));
            EXPECT_TRUE(std::all_of(picture.m_pData + area, picture.m_pData + picture.m_cbData,
                                    [](uint8_t b) { return b == 128; }));
            return Psnr(picture.m_pData, source.data(), area);
        }
        EXPECT_EQ(picture.m_cbData, source.size());
        EXPECT_EQ(picture.m_bColor, 1);
        return Psnr(picture.m_pData, source.data(), std::min<size_t>(source.size(), picture.m_cbData));
    }
};

} // namespace

TEST_P(WaveletRoundTrip, KeyAndDifferenceFramesDecodeAboveTheFloorAtEveryQuality)
{
    const RoundTripCase& c = GetParam();
    for (int quality = 1; quality <= 5; ++quality) {
        SCOPED_TRACE(quality);
        const std::vector<VideoFramePtr> frames = Encode(quality, 3);
        ASSERT_EQ(frames.size(), 3u);
        CDecompressor decompressor;
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(GetVideoFrameFormat(frames[i].get()), c.code);
            EXPECT_EQ(IsKeyFrame(frames[i].get()), i == 0 ? 1 : 0);
            VideoFramePtr picture = decompressor.Decompress(frames[i].get(), 0);
            ASSERT_NE(picture, nullptr) << "frame " << i;
            EXPECT_EQ(picture->m_cbCompressed, frames[i]->m_cbData);
            const double psnr = Compare(*picture, int(i));
            EXPECT_GT(psnr, c.floorDb) << "frame " << i;
        }
    }
}

// A difference frame joined to its key frame decodes on its own to the same
// picture as the two frames decoded in turn.
TEST_P(WaveletRoundTrip, ComplexFrameDecodesLikeItsTwoFrames)
{
    const std::vector<VideoFramePtr> frames = Encode(3, 2);
    ASSERT_EQ(frames.size(), 2u);
    CDecompressor inTurn;
    ASSERT_NE(inTurn.Decompress(frames[0].get(), 0), nullptr);
    VideoFramePtr expected = inTurn.Decompress(frames[1].get(), 0);
    ASSERT_NE(expected, nullptr);

    VideoFramePtr complex = MakeFrameWithKeyHeader(frames[0].get(), frames[1].get());
    ASSERT_NE(complex, nullptr);
    ASSERT_EQ(complex->m_cbData, frames[0]->m_cbData + frames[1]->m_cbData);
    CDecompressor fresh;
    VideoFramePtr got = fresh.Decompress(complex.get(), 0);
    ASSERT_NE(got, nullptr);
    ASSERT_EQ(got->m_cbData, expected->m_cbData);
    EXPECT_EQ(std::memcmp(got->m_pData, expected->m_pData, got->m_cbData), 0);

    // The difference frame alone, with nothing before it, has no reference.
    CDecompressor alone;
    EXPECT_EQ(alone.Decompress(frames[1].get(), 0), nullptr);
}

// A wanted width of a quarter gives a quarter-size picture with tight planes,
// close to the full picture averaged down.
TEST_P(WaveletRoundTrip, WantedWidthGivesAReducedTightPicture)
{
    const RoundTripCase& c = GetParam();
    const std::vector<VideoFramePtr> frames = Encode(1, 2);
    ASSERT_EQ(frames.size(), 2u);
    CDecompressor full, reduced;
    for (size_t i = 0; i < frames.size(); ++i) {
        VideoFramePtr big = full.Decompress(frames[i].get(), 0);
        VideoFramePtr small = reduced.Decompress(frames[i].get(), kWidth / 2);
        ASSERT_NE(big, nullptr);
        ASSERT_NE(small, nullptr);
        const int w = kWidth / 2, h = kHeight / 2;
        EXPECT_EQ(small->m_nWidth, w);
        EXPECT_EQ(small->m_nHeight, h);
        EXPECT_EQ(small->m_cbData, uint32_t(double(w) * h * c.bytesPerPixel));
        // Every plane of the reduced picture against the full one averaged 2x2
        // (chroma planes are halved the same way).
        std::vector<uint8_t> averaged(small->m_cbData);
        struct Plane { size_t from, to; int w, h, fw; };
        std::vector<Plane> planes = {{0, 0, w, h, kWidth}};
        if (c.colour) {
            const size_t area = size_t(kWidth) * kHeight, small_area = size_t(w) * h;
            const int ch = c.decodedFormat == -3 ? h / 2 : h;
            const size_t fullChroma = c.decodedFormat == -3 ? area / 4 : area / 2;
            const size_t smallChroma = size_t(w / 2) * ch;
            planes.push_back({area, small_area, w / 2, ch, kWidth / 2});
            planes.push_back({area + fullChroma, small_area + smallChroma, w / 2, ch, kWidth / 2});
        } else {
            std::fill(averaged.begin() + long(size_t(w) * h), averaged.end(), 128);
        }
        for (const Plane& p : planes)
            for (int y = 0; y < p.h; ++y)
                for (int x = 0; x < p.w; ++x) {
                    const uint8_t* s = big->m_pData + p.from + size_t(2 * y) * p.fw + 2 * x;
                    averaged[p.to + size_t(y) * p.w + x] =
                        uint8_t((s[0] + s[1] + s[p.fw] + s[p.fw + 1] + 2) / 4);
                }
        EXPECT_GT(Psnr(small->m_pData, averaged.data(), averaged.size()), 35) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, WaveletRoundTrip, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });
