#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "SlotSweep.h"
#include "imaging/primitives/PackedYuv.h"

using Bytes = std::vector<std::uint8_t>;

TEST(PackedYuv, Yuy2SplitsCopyTheirBytes)
{
    // 5 x 3 YUY2 with 12 bytes per row (two whole pairs and an odd column).
    Bytes src(12 * 3);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<std::uint8_t>(i);
    Bytes y(5 * 3, 0xCD), u(3 * 3, 0xCD), v(3 * 3, 0xCD);
    std::uint8_t* planes[3] = {y.data(), u.data(), v.data()};
    const std::int32_t steps[3] = {5, 3, 3};
    ASSERT_EQ(ConvertYuy2ToYCbCr420_8uC2P3(src.data(), 12, planes, steps, {5, 3}), 0);
    EXPECT_EQ(Bytes(y.begin(), y.begin() + 5), (Bytes{0, 2, 4, 6, 0xCD}));
    EXPECT_EQ(Bytes(y.begin() + 5, y.begin() + 10), (Bytes{12, 14, 16, 18, 0xCD}));
    EXPECT_EQ(y[10], 0xCD);  // the odd third row is not written
    EXPECT_EQ(Bytes(u.begin(), u.begin() + 3), (Bytes{1, 5, 0xCD}));
    EXPECT_EQ(Bytes(v.begin(), v.begin() + 3), (Bytes{3, 7, 0xCD}));
    EXPECT_EQ(u[3], 0xCD);

    Bytes y2(5 * 3, 0xCD), u2(3 * 3, 0xCD), v2(3 * 3, 0xCD);
    std::uint8_t* planes2[3] = {y2.data(), u2.data(), v2.data()};
    ASSERT_EQ(ConvertYuy2ToYCbCr422_8uC2P3(src.data(), 12, planes2, steps, {5, 3}), 0);
    EXPECT_EQ(Bytes(y2.begin() + 10, y2.begin() + 15), (Bytes{24, 26, 28, 30, 0xCD}));
    EXPECT_EQ(Bytes(u2.begin() + 6, u2.end()), (Bytes{25, 29, 0xCD}));
    EXPECT_EQ(Bytes(v2.begin() + 6, v2.end()), (Bytes{27, 31, 0xCD}));

    // And back: an odd last column is not written.
    const std::uint8_t* in[3] = {y2.data(), u2.data(), v2.data()};
    Bytes back(12 * 3, 0xEE);
    ASSERT_EQ(ConvertYCbCr422ToYuy2_8uP3C2(in, steps, back.data(), 12, {3, 3}), 0);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 6), (Bytes{0, 1, 2, 3, 0xEE, 0xEE}));
}

TEST(PackedYuv, RgbToYuv420GivesItsValuesAndDropsOddEdges)
{
    struct Case {
        std::array<std::uint8_t, 3> rgb;
        std::array<int, 3> vectorForm, blockForm;  // Y, U, V
    };
    const Case cases[] = {
        {{255, 0, 0}, {76, 90, 255}, {76, 90, 255}},
        {{0, 0, 255}, {29, 239, 102}, {29, 239, 102}},
        {{128, 128, 128}, {127, 128, 128}, {128, 128, 128}},
    };
    for (const Case& c : cases) {
        // 18 x 2: eight blocks in the vector form, the ninth per block.
        constexpr int kWidth = 18;
        Bytes src;
        for (int i = 0; i < kWidth * 2; ++i)
            src.insert(src.end(), c.rgb.begin(), c.rgb.end());
        Bytes y(kWidth * 2), u(kWidth / 2), v(kWidth / 2);
        std::uint8_t* planes[3] = {y.data(), u.data(), v.data()};
        ASSERT_EQ(ConvertRgbToYuv420_8uC3P3(src.data(), planes, {kWidth, 2}), 0);
        EXPECT_EQ((std::array<int, 3>{y[0], u[0], v[0]}), c.vectorForm);
        EXPECT_EQ((std::array<int, 3>{y[kWidth * 2 - 1], u[8], v[8]}), c.blockForm);
    }
    Bytes src(3 * 3 * 3, 200), y(9, 0xCD), u(1, 0xCD), v(1, 0xCD);
    std::uint8_t* planes[3] = {y.data(), u.data(), v.data()};
    EXPECT_EQ(ConvertRgbToYuv420_8uC3P3(src.data(), planes, {3, 3}), 35);
    EXPECT_NE(y[0], 0xCD);
    EXPECT_EQ(y[2], 0xCD);  // stored with rows of 3: column 2 of row 0
    EXPECT_EQ(y[6], 0xCD);  // row 2
}

TEST(PackedYuv, RgbToYuv422GivesAnOddLastPixelItsOwnChroma)
{
    const std::uint8_t src[9] = {0, 255, 0, 0, 255, 0, 0, 255, 0};
    Bytes y(3), u(2), v(2);
    std::uint8_t* planes[3] = {y.data(), u.data(), v.data()};
    ASSERT_EQ(ConvertRgbToYuv422_8uC3P3(src, planes, {3, 1}), 0);
    EXPECT_EQ((std::array<int, 3>{y[2], u[1], v[1]}), (std::array<int, 3>{149, 54, 0}));
    // A large even-width image is one long row: pair groups run across rows.
    Bytes big(10 * 30 * 3, 90), by(300), bu(150), bv(150);
    std::uint8_t* bp[3] = {by.data(), bu.data(), bv.data()};
    ASSERT_EQ(ConvertRgbToYuv422_8uC3P3(big.data(), bp, {10, 30}), 0);
    // Row by row (5 pairs) every pixel would take the per-pair form (90); as
    // one row of 150 pairs the first 144 take the vector form (89).
    EXPECT_EQ(by[0], 89);
    EXPECT_EQ(by[287], 89);
    EXPECT_EQ(by[288], 90);
    EXPECT_EQ(by[299], 90);
}

TEST(PackedYuv, Refusals)
{
    Bytes src(64), p(64, 0xCD);
    std::uint8_t* planes[3] = {p.data(), p.data(), p.data()};
    std::uint8_t* withNull[3] = {p.data(), nullptr, p.data()};
    const std::uint8_t* cplanes[3] = {p.data(), p.data(), p.data()};
    const std::int32_t steps[3] = {4, 2, 2};
    EXPECT_EQ(ConvertYuy2ToYCbCr420_8uC2P3(src.data(), 8, planes, steps, {1, 2}), -6);
    EXPECT_EQ(ConvertYuy2ToYCbCr420_8uC2P3(src.data(), 8, planes, steps, {2, 1}), -6);
    EXPECT_EQ(ConvertYuy2ToYCbCr420_8uC2P3(src.data(), 8, planes, nullptr, {2, 2}), -8);
    EXPECT_EQ(ConvertYuy2ToYCbCr422_8uC2P3(src.data(), 8, withNull, steps, {2, 2}), -8);
    EXPECT_EQ(ConvertYuy2ToYCbCr422_8uC2P3(src.data(), 8, planes, steps, {2, 0}), -6);
    EXPECT_EQ(ConvertRgbToYuv420_8uC3P3(src.data(), planes, {0, 2}), -6);
    EXPECT_EQ(ConvertRgbToYuv420_8uC3P3(src.data(), withNull, {2, 2}), -8);
    EXPECT_EQ(ConvertRgbToYuv422_8uC3P3(nullptr, planes, {2, 2}), -8);
    EXPECT_EQ(ConvertYCbCr422ToYuy2_8uP3C2(cplanes, steps, src.data(), 8, {1, 1}), -6);
    EXPECT_EQ(ConvertYCbCr422ToYuy2_8uP3C2(cplanes, nullptr, src.data(), 8, {2, 1}), -8);
    EXPECT_EQ(p, Bytes(64, 0xCD));
}
