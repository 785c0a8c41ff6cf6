// The frame compressor's way to the wavelet encoders: nothing without a
// registered maker, the maker's encoder for the wavelet codes only.
#include <gtest/gtest.h>

#include "imaging/jpeg/WaveletEncoderFactory.h"

namespace {

struct Asked {
    int version = 0, width = 0, height = 0, outputFormat = 0, variant = 0;
};

class FakeEncoder : public wavelet::IWaveletEncoder
{
public:
    int Encode(uint8_t*, uint8_t* out, int qualityIndex, int, int, int) override
    {
        out[0] = uint8_t(qualityIndex);
        return 1;
    }
};

} // namespace

TEST(WaveletEncoderFactory, MakesEncodersOnlyThroughARegisteredMaker)
{
    wavelet::RegisterWaveletEncoderMaker({});
    for (int version : {'n', 'o', 'v', 'w', 'z', '{'})
        EXPECT_EQ(wavelet::CreateWaveletEncoder(version, 640, 480, -3), nullptr) << char(version);

    Asked asked;
    wavelet::RegisterWaveletEncoderMaker([&](int version, int width, int height, int format, int variant) {
        asked = {version, width, height, format, variant};
        return std::unique_ptr<wavelet::IWaveletEncoder>(new FakeEncoder);
    });
    auto encoder = wavelet::CreateWaveletEncoder('z', 704, 576, 0, 1);
    ASSERT_NE(encoder, nullptr);
    EXPECT_EQ(asked.version, 'z');
    EXPECT_EQ(asked.width, 704);
    EXPECT_EQ(asked.height, 576);
    EXPECT_EQ(asked.outputFormat, 0);
    EXPECT_EQ(asked.variant, 1);
    uint8_t out[4] = {};
    EXPECT_EQ(encoder->Encode(nullptr, out, 4, 1, 1, 5), 1);
    EXPECT_EQ(out[0], 4);

    // Codes of other codecs never reach the maker.
    asked = {};
    for (int version : {int('7'), int('d'), int('m'), int('x'), 0, -16})
        EXPECT_EQ(wavelet::CreateWaveletEncoder(version, 640, 480, -3), nullptr) << version;
    EXPECT_EQ(asked.version, 0);
    EXPECT_FALSE(wavelet::IsWaveletVersion('7'));
    EXPECT_TRUE(wavelet::IsWaveletVersion('{'));
    wavelet::RegisterWaveletEncoderMaker({});
}
