// The wavelet rate tables: defaults written into an empty store, values read
// back, the 7.1 range rule, the size classes and the 3.5 low-resolution table.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "MediaTestSupport.h"
#include "base/Registry.h"
#include "media/CompressionRates.h"
#include "media/Wavelet.h"

using namespace mediatest;
using wavelet::CompressionRates;

namespace {

const std::string kRates = "SOFTWARE\\QOR\\Vindara\\Video\\Compression\\";
const std::string kRates71 = "SOFTWARE\\QOR\\Vindara\\Video\\Compression\\Corvane7.1\\";

// A fresh store holding `extra` (registry file lines) besides the logger's.
void FreshStore(const std::string& name, const std::string& extra = "")
{
    const std::string dir = UseRegistry("rates_" + name, "");
    std::ofstream(dir + "/machine.reg", std::ios::app) << extra;
    LogCapture::Instance();
}

std::string Stored(const std::string& key, int index)
{
    RegistryKey k(key, false, RegistryKey::kRead);
    return k.ReadString(std::to_string(index));
}

} // namespace

TEST(CompressionRates, The65DefaultsAreWrittenIntoAnEmptyStore)
{
    FreshStore("defaults65");
    wavelet::WxWl3 codec(352, 288, -3);
    ASSERT_NE(codec.Rates(), nullptr);
    const int expected[4][5] = {{2, 3, 6, 9, 12}, {2, 5, 9, 14, 18}, {2, 7, 13, 19, 25}, {2, 7, 13, 19, 25}};
    for (int c = 0; c < 4; ++c)
        for (int j = 0; j < 5; ++j) {
            SCOPED_TRACE(std::string(CompressionRates::kClassNames[c]) + " " + std::to_string(j));
            EXPECT_EQ(Stored(kRates + CompressionRates::kClassNames[c], j), std::to_string(expected[c][j]));
            EXPECT_EQ(codec.Rates()->Rate(c, j + 1), expected[c][j]);
        }
    EXPECT_EQ(codec.Rates()->Rate(CompressionRates::Full, 0), 8);
    EXPECT_EQ(codec.Rates()->Rate(CompressionRates::Full, 6), 8);
}

TEST(CompressionRates, Stored65ValuesAreTakenAsTheyAre)
{
    FreshStore("stored65", "[SOFTWARE\\QOR\\Vindara\\Video\\Compression\\High]\n\"1\"=\"40\"\n\"3\"=\"\"\n");
    wavelet::WxWl3 codec(704, 288, -3);
    ASSERT_NE(codec.Rates(), nullptr);
    EXPECT_EQ(codec.Rates()->Rate(CompressionRates::High, 2), 40); // beyond 25: no range check
    EXPECT_EQ(codec.Rates()->Rate(CompressionRates::High, 4), 14); // empty: the default
    EXPECT_EQ(Stored(kRates + "High", 1), "40");
    EXPECT_EQ(Stored(kRates + "High", 3), "14");
}

TEST(CompressionRates, The71RangeRule)
{
    FreshStore("range71", "[SOFTWARE\\QOR\\Vindara\\Video\\Compression\\Corvane7.1\\Full]\n"
                          "\"0\"=\"50\"\n\"1\"=\"60\"\n\"2\"=\"-1\"\n\"3\"=\"1\"\n");
    wavelet::Wavelet71 codec(704, 576, 0, -3);
    const CompressionRates* rates = codec.Rates();
    struct Case {
        int index;
        int rate;
        const char* stored;
    };
    const Case cases[] = {
        {1, 50, "50"}, // within 2 to 50: kept, not rewritten
        {2, 3, "3"},   // 60 is out of range: the built-in entry, rewritten
        {3, 4, "4"},   // -1
        {4, 4, "4"},   // below the minimum
        {5, 5, "5"},   // missing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(rates->Rate(CompressionRates::Full, c.index), c.rate);
        EXPECT_EQ(Stored(kRates71 + "Full", c.index - 1), c.stored);
    }
    EXPECT_EQ(Stored(kRates71 + "HD", 4), "19");
    EXPECT_EQ(rates->Rate(CompressionRates::HD, 7), 20);
}

TEST(CompressionRates, SizeClasses)
{
    struct Case65 {
        int width, height, sizeClass;
    };
    const Case65 cases65[] = {{352, 288, CompressionRates::Standard}, {704, 288, CompressionRates::High},
                              {704, 576, CompressionRates::Full},     {800, 600, CompressionRates::Full},
                              {1280, 720, CompressionRates::HD},      {800, 601, CompressionRates::HD}};
    for (const Case65& c : cases65)
        EXPECT_EQ(wavelet::CompressionRates65::ClassOf(c.width, c.height), c.sizeClass)
            << c.width << "x" << c.height;
    struct Case71 {
        int width, sizeClass;
    };
    const Case71 cases71[] = {{319, CompressionRates::Standard}, {320, CompressionRates::Full},
                              {600, CompressionRates::Full},     {601, CompressionRates::HD},
                              {704, CompressionRates::HD}};
    for (const Case71& c : cases71)
        EXPECT_EQ(wavelet::CompressionRates71::ClassOf(c.width), c.sizeClass) << c.width;
}

TEST(CompressionRates, LowResolution35TableIsLoadedOnlyWhenAsked)
{
    FreshStore("lowres_off");
    {
        std::unique_ptr<wavelet::Wavelet3> codec(wavelet::CreateWavelet3(352, 288, -3, 10));
        ASSERT_NE(codec, nullptr);
        EXPECT_EQ(codec->ChooseQuality(0, 1), 25); // the formula: no table
        EXPECT_EQ(Stored(kRates + "Standard", 0), "");
    }

    FreshStore("lowres_on", "[SOFTWARE\\QOR\\Vindara\\Video]\n\"lowresolution\"=\"1\"\n"
                            "[SOFTWARE\\QOR\\Vindara\\Video\\Compression\\High]\n\"4\"=\"99\"\n");
    std::unique_ptr<wavelet::Wavelet3> codec(wavelet::CreateWavelet3(352, 288, -3, 10));
    ASSERT_NE(codec, nullptr);
    struct Case {
        int row, index, quality;
    };
    const Case cases[] = {
        {0, 1, 25}, {0, 5, 65}, {1, 2, 26}, {1, 5, 99}, {2, 5, 36},
        {0, 0, 15},  // index outside 1 to 5: the formula, not an entry outside the table
        {0, 6, 75},
        {-1, 3, 45}, // no marker: the formula
    };
    for (const Case& c : cases)
        EXPECT_EQ(codec->ChooseQuality(c.row, c.index), c.quality) << c.row << " " << c.index;
    EXPECT_EQ(Stored(kRates + "HD", 4), "36");
    EXPECT_EQ(Stored(kRates + "High", 4), "99");
    // The 6.5 table then reads the 3.5 values as set ones.
    wavelet::WxWl3 v65(352, 288, -3);
    EXPECT_EQ(v65.Rates()->Rate(CompressionRates::Standard, 1), 25);

    // A marked picture: the marker bytes take the two bytes below them.
    std::vector<uint8_t> picture(352 * 288 * 3 / 2, 0x30), out(352 * 288 * 2 + 64);
    picture[0] = 0xAA;
    picture[1] = 1;
    picture[352] = 0x11;
    picture[353] = 0x22;
    EXPECT_GT(codec->Compress(picture.data(), out.data(), 2, 1, 1, 5), 0);
    EXPECT_EQ(picture[0], 0x11);
    EXPECT_EQ(picture[1], 0x22);
}
