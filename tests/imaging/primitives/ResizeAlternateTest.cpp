// The kernels of the alternate filter set on the worked values where they
// part from their twins (conversion by 0.5000001 in double, the order of the
// six-tap sums, the one-at-a-time cubic form), on random rows against their
// twins, and the Lanczos filters' sums of exactly a half.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "imaging/primitives/resize/detail/ExtendedFilters.h"

namespace {

using namespace resize_detail;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kBelowHalf = 0.5f - std::ldexp(1.0f, -23);             // 0.49999994
const float kBelowOneAndHalf = 1.5f - std::ldexp(1.0f, -23);       // 1.49999988
const float kBelowTwoAndHalf = 2.5f - std::ldexp(1.0f, -22);       // 2.49999976

// --- conversions -------------------------------------------------------------

struct ConversionCase {
    float value;
    int u8, u16, s16;           // the alternate members
    int twinU8, twinU16, twinS16;  // the six-tap and four-tap twins (ties to even)
};

const ConversionCase kConversions[] = {
    {2.5f, 3, 3, 3, 2, 2, 2},
    {3.5f, 4, 4, 4, 4, 4, 4},
    {254.5f, 255, 255, 255, 254, 254, 254},
    {300.0f, 255, 300, 300, 255, 300, 300},
    {65534.5f, 255, 65535, 32767, 255, 65534, 32767},
    {70000.0f, 255, 65535, 32767, 255, 65535, 32767},
    {-0.4f, 0, 0, 0, 0, 0, 0},
    {-0.5f, 0, 0, -1, 0, 0, 0},
    {-0.6f, 0, 0, -1, 0, 0, -1},
    {-2.5f, 0, 0, -3, 0, 0, -2},
    {-3.0f, 0, 0, -3, 0, 0, -3},
    {-7.0f, 0, 0, -7, 0, 0, -7},
    {-40000.0f, 0, 0, -32768, 0, 0, -32768},
    {0.0f, 0, 0, 0, 0, 0, 0},
    {3e9f, 255, 65535, 32767, 255, 65535, 32767},
    {-3e9f, 0, 0, -32768, 0, 0, -32768},
    {kNaN, 0, 0, 0, 0, 0, 0},
};

// The six-tap and four-tap column routines with the value on one tap:
// contiguous (count 2) and AC4 (one pixel, alpha kept).
TEST(AlternateColumns, ConvertHalvesUpInDoubleAndClampFirst)
{
    for (const auto& c : kConversions) {
        for (int tap = 0; tap < 6; ++tap) {
            float w6[6] = {0, 0, 0, 0, 0, 0};
            w6[tap] = 1.0f;
            float b[6][3];
            for (auto& row : b)
                std::fill(row, row + 3, 0.0f);
            std::fill(b[tap], b[tap] + 3, c.value);
            std::uint8_t u8[4] = {9, 9, 9, 9};
            std::uint16_t u16[4] = {9, 9, 9, 9};
            std::int16_t s16[4] = {9, 9, 9, 9};
            SixTapColumn_8u_alt(u8, 2, w6, b[0], b[1], b[2], b[3], b[4], b[5]);
            SixTapColumn_16u_alt(u16, 2, w6, b[0], b[1], b[2], b[3], b[4], b[5]);
            SixTapColumn_16s_alt(s16, 2, w6, b[0], b[1], b[2], b[3], b[4], b[5]);
            for (int k = 0; k < 2; ++k) {
                EXPECT_EQ(u8[k], c.u8) << c.value;
                EXPECT_EQ(u16[k], c.u16) << c.value;
                EXPECT_EQ(s16[k], c.s16) << c.value;
            }
            EXPECT_EQ(u8[2], 9);
            SixTapColumn_8u_AC4_alt(u8, 1, w6, b[0], b[1], b[2], b[3], b[4], b[5]);
            SixTapColumn_16u_AC4_alt(u16, 1, w6, b[0], b[1], b[2], b[3], b[4], b[5]);
            SixTapColumn_16s_AC4_alt(s16, 1, w6, b[0], b[1], b[2], b[3], b[4], b[5]);
            EXPECT_EQ(u8[2], c.u8) << c.value;
            EXPECT_EQ(u16[2], c.u16) << c.value;
            EXPECT_EQ(s16[2], c.s16) << c.value;
            EXPECT_EQ(u8[3], 9);
            EXPECT_EQ(u16[3], 9);
            EXPECT_EQ(s16[3], 9);
            // The twin on the same buffers.
            SixTapColumn_8u(u8, 1, w6, b[0], b[1], b[2], b[3], b[4], b[5]);
            SixTapColumn_16u(u16, 1, w6, b[0], b[1], b[2], b[3], b[4], b[5]);
            SixTapColumn_16s(s16, 1, w6, b[0], b[1], b[2], b[3], b[4], b[5]);
            EXPECT_EQ(u8[0], c.twinU8) << c.value;
            EXPECT_EQ(u16[0], c.twinU16) << c.value;
            EXPECT_EQ(s16[0], c.twinS16) << c.value;
        }
        float w4[4] = {0, 0, 1, 0};
        float z[3] = {0, 0, 0};
        float v[3] = {c.value, c.value, c.value};
        std::uint8_t u8[4] = {9, 9, 9, 9};
        std::uint16_t u16[4] = {9, 9, 9, 9};
        std::int16_t s16[4] = {9, 9, 9, 9};
        FourTapColumnKernel_8u_alt(u8, 1, w4, z, z, v, z);
        FourTapColumnKernel_16u_alt(u16, 1, w4, z, z, v, z);
        FourTapColumnKernel_16s_alt(s16, 1, w4, z, z, v, z);
        EXPECT_EQ(u8[0], c.u8) << c.value;
        EXPECT_EQ(u16[0], c.u16) << c.value;
        EXPECT_EQ(s16[0], c.s16) << c.value;
        FourTapColumnKernel_8u_AC4_alt(u8, 1, w4, z, z, v, z);
        FourTapColumnKernel_16u_AC4_alt(u16, 1, w4, z, z, v, z);
        FourTapColumnKernel_16s_AC4_alt(s16, 1, w4, z, z, v, z);
        EXPECT_EQ(u8[2], c.u8) << c.value;
        EXPECT_EQ(u16[2], c.u16) << c.value;
        EXPECT_EQ(s16[2], c.s16) << c.value;
        EXPECT_EQ(u8[3], 9);
        EXPECT_EQ(u16[3], 9);
        EXPECT_EQ(s16[3], 9);
        FourTapColumnKernel_8u(u8, 1, w4, z, z, v, z);
        FourTapColumnKernel_16s(s16, 1, w4, z, z, v, z);
        EXPECT_EQ(u8[0], c.twinU8) << c.value;
        EXPECT_EQ(s16[0], c.twinS16) << c.value;
    }
}

// Six-tap column sums in their fixed orders, all weights 1 on 1e8, 1, -1e8,
// 1, 0, 0: from tap 0 the first 1 is lost and the second kept (1); the 16s
// routine adds tap 0 last, losing both (0).
TEST(AlternateColumns, SixTapSumsInTheirOrder)
{
    const float w[6] = {1, 1, 1, 1, 1, 1};
    const float b0[1] = {1e8f}, b1[1] = {1}, b2[1] = {-1e8f}, b3[1] = {1}, zero[1] = {0};
    const double w64[6] = {1, 1, 1, 1, 1, 1};
    const double d0[1] = {1e17}, d1[1] = {1}, d2[1] = {-1e17}, d3[1] = {1}, dz[1] = {0};
    float f32 = 7;
    double f64 = 7;
    std::uint8_t u8 = 7;
    std::int16_t s16 = 7;
    SixTapColumn_32f_alt(&f32, 1, w, b0, b1, b2, b3, zero, zero);
    SixTapColumn_64f_alt(&f64, 1, w64, d0, d1, d2, d3, dz, dz);
    SixTapColumn_8u_alt(&u8, 1, w, b0, b1, b2, b3, zero, zero);
    SixTapColumn_16s_alt(&s16, 1, w, b0, b1, b2, b3, zero, zero);
    EXPECT_EQ(f32, 1.0f);
    EXPECT_EQ(f64, 1.0);
    EXPECT_EQ(u8, 1);
    EXPECT_EQ(s16, 0);
    // The one-channel 64f row routine adds in tap order too.
    const double row[6] = {1e17, 1, -1e17, 1, 0, 0};
    const std::int32_t column = 2;
    double out = 7;
    SixTapRow_64f_C1_alt(row, 1, &column, w64, &out, 1);
    EXPECT_EQ(out, 1.0);
}

// Counts of 0 or less write nothing, in every alternate column kernel and
// row routine of its own.
TEST(AlternateKernels, CountsOfZeroOrLessWriteNothing)
{
    for (std::int32_t n : {0, -1, -40}) {
        float w[6] = {1, 1, 1, 1, 1, 1};
        double wd[6] = {1, 1, 1, 1, 1, 1};
        float b[8] = {5, 5, 5, 5, 5, 5, 5, 5};
        double bd[8] = {5, 5, 5, 5, 5, 5, 5, 5};
        std::uint8_t u8[8] = {};
        std::uint16_t u16[8] = {};
        std::int16_t s16[8] = {};
        float f[8] = {};
        double d[8] = {};
        const std::int32_t columns[1] = {2};
        SixTapColumn_8u_alt(u8, n, w, b, b, b, b, b, b);
        SixTapColumn_16u_AC4_alt(u16, n, w, b, b, b, b, b, b);
        SixTapColumn_16s_alt(s16, n, w, b, b, b, b, b, b);
        SixTapColumn_32f_alt(f, n, w, b, b, b, b, b, b);
        SixTapColumn_64f_AC4_alt(d, n, wd, bd, bd, bd, bd, bd, bd);
        SixTapRow_64f_C1_alt(bd, 1, columns, wd, d, n);
        FourTapColumnKernel_8u_alt(u8, n, w, b, b, b, b);
        FourTapColumnKernel_16s_AC4_alt(s16, n, w, b, b, b, b);
        LinearColumnKernelExt_16u_alt(u16, n, 0.5f, b, b);
        LinearColumnKernelExt_16s_AC4_alt(s16, n, 0.5f, b, b);
        CubicRowKernel_8u_C1_alt(u8, n, 1, columns, w, f);
        CubicColumnKernel_8u_alt(u8, n, 0.5f, b, b, b, b);
        CubicColumnKernel_16u_AC4_alt(u16, n, 0.5f, b, b, b, b);
        CubicColumnKernel_32f_alt(f, n, 0.5f, b, b, b, b);
        for (int k = 0; k < 8; ++k) {
            EXPECT_EQ(u8[k], 0) << n;
            EXPECT_EQ(u16[k], 0) << n;
            EXPECT_EQ(s16[k], 0) << n;
            EXPECT_EQ(f[k], 0.0f) << n;
            EXPECT_EQ(d[k], 0.0) << n;
        }
    }
}

// The 16-bit extended linear columns at fraction 0 (v is the upper buffer),
// and caller fractions far outside 0..1 that carry the blend beyond the
// 32-bit range.
TEST(AlternateLinearColumns, SixteenBitRoundingInDouble)
{
    struct Case {
        float upper, lower, t;
        int u16, s16, twinU16, twinS16;
    } cases[] = {
        {1.5f, 0, 0, 2, 2, 2, 2},
        {65534.6f, 0, 0, 65535, 32767, 65535, 32767},
        {-3.7f, 0, 0, 0, -4, 0, -4},
        {kBelowHalf, 0, 0, 0, 0, 1, 1},
        {kBelowTwoAndHalf, 0, 0, 2, 2, 3, 3},
        {kBelowOneAndHalf, 0, 0, 1, 1, 2, 2},
        {-kBelowOneAndHalf, 0, 0, 0, -1, 0, -2},
        {2.5f, 0, 0, 3, 3, 3, 3},
        {-2.5f, 0, 0, 0, -3, 0, -3},
        {-0.4f, 0, 0, 0, 0, 0, 0},
        {0.0f, 0, 0, 0, 0, 0, 0},
        {40000.0f, 0, 0, 40000, 32767, 40000, 32767},
        {-40000.0f, 0, 0, 0, -32768, 0, -32768},
        {0.0f, 1e9f, 10.0f, 65535, 32767, 65535, 32767},
        {0.0f, 1e9f, -10.0f, 0, -32768, 0, -32768},
        {kNaN, 0, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const float upper[3] = {c.upper, c.upper, c.upper};
        const float lower[3] = {c.lower, c.lower, c.lower};
        std::uint16_t u16[4] = {9, 9, 9, 9};
        std::int16_t s16[4] = {9, 9, 9, 9};
        LinearColumnKernelExt_16u_alt(u16, 1, c.t, upper, lower);
        LinearColumnKernelExt_16s_alt(s16, 1, c.t, upper, lower);
        EXPECT_EQ(u16[0], c.u16) << c.upper;
        EXPECT_EQ(s16[0], c.s16) << c.upper;
        LinearColumnKernelExt_16u_AC4_alt(u16, 1, c.t, upper, lower);
        LinearColumnKernelExt_16s_AC4_alt(s16, 1, c.t, upper, lower);
        EXPECT_EQ(u16[2], c.u16) << c.upper;
        EXPECT_EQ(s16[2], c.s16) << c.upper;
        EXPECT_EQ(u16[3], 9);
        EXPECT_EQ(s16[3], 9);
        LinearColumnKernelExt_16u(u16, 1, c.t, upper, lower);
        LinearColumnKernelExt_16s(s16, 1, c.t, upper, lower);
        EXPECT_EQ(u16[0], c.twinU16) << c.upper;
        EXPECT_EQ(s16[0], c.twinS16) << c.upper;
    }
}

// --- cubic -------------------------------------------------------------------

// Taps 10, 20, 40, 80: t = 0.5 gives 28.125, t = -1, 0, 1, 2 the taps
// exactly, in the row kernels of every layout and the column kernels.
TEST(AlternateCubic, WorkedValuesAndExactNodes)
{
    const float ts[] = {0.5f, -1.0f, 0.0f, 1.0f, 2.0f};
    const float want[] = {28.125f, 10.0f, 20.0f, 40.0f, 80.0f};
    const std::uint8_t one[4] = {10, 20, 40, 80};
    std::uint8_t four[16];
    for (int k = 0; k < 16; ++k)
        four[k] = one[k / 4];
    const std::uint16_t three16[16] = {10, 10, 10, 99, 20, 20, 20, 99, 40, 40, 40, 99, 80, 80, 80, 99};
    for (int i = 0; i < 5; ++i) {
        const std::int32_t c1 = 1, c4 = 4;
        float out[4] = {};
        CubicRowKernel_8u_C1_alt(one, 1, 1, &c1, &ts[i], out);
        EXPECT_EQ(out[0], want[i]) << ts[i];
        CubicRowKernel_8u_C4_alt(four, 1, 4, &c4, &ts[i], out);
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(out[k], want[i]) << ts[i];
        CubicRowKernel_16u_C3_alt(three16, 1, 4, &c4, &ts[i], out);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(out[k], want[i]) << ts[i];
        const float b0[1] = {10}, b1[1] = {20}, b2[1] = {40}, b3[1] = {80};
        float f = 0;
        CubicColumnKernel_32f_alt(&f, 1, ts[i], b0, b1, b2, b3);
        EXPECT_EQ(f, want[i]) << ts[i];
        std::uint8_t u8 = 0;
        CubicColumnKernel_8u_alt(&u8, 1, ts[i], b0, b1, b2, b3);
        EXPECT_EQ(u8, static_cast<int>(std::floor(want[i] + 0.5))) << ts[i];
    }
}

// 2.49999976 in every buffer at t = 0 gives 2 at every position; the twin
// gives 3 where its 4-wide path works (the first 4 x floor(n / 4) values).
// The 8u conversions follow the same rule as the six-tap routines.
TEST(AlternateCubic, EveryValueOneAtATime)
{
    for (std::int32_t n = 1; n <= 9; ++n) {
        const std::vector<float> b(static_cast<std::size_t>(n) * 3, kBelowTwoAndHalf);
        std::vector<std::uint8_t> alt(static_cast<std::size_t>(n) * 4, 9), twin(alt);
        std::vector<std::uint16_t> alt16(static_cast<std::size_t>(n), 9), twin16(alt16);
        const float t = 0.0f;
        CubicColumnKernel_8u_alt(alt.data(), n, t, b.data(), b.data(), b.data(), b.data());
        CubicColumnKernel_8u(twin.data(), n, &t, b.data(), b.data(), b.data(), b.data());
        CubicColumnKernel_16u_alt(alt16.data(), n, t, b.data(), b.data(), b.data(), b.data());
        CubicColumnKernel_16u(twin16.data(), n, &t, b.data(), b.data(), b.data(), b.data());
        for (std::int32_t k = 0; k < n; ++k) {
            EXPECT_EQ(alt[static_cast<std::size_t>(k)], 2) << n;
            EXPECT_EQ(alt16[static_cast<std::size_t>(k)], 2) << n;
            EXPECT_EQ(twin[static_cast<std::size_t>(k)], k < n / 4 * 4 ? 3 : 2) << n;
            EXPECT_EQ(twin16[static_cast<std::size_t>(k)], k < n / 4 * 4 ? 3 : 2) << n;
        }
        std::vector<std::uint8_t> ac4(static_cast<std::size_t>(n) * 4, 9);
        CubicColumnKernel_8u_AC4_alt(ac4.data(), n, t, b.data(), b.data(), b.data(), b.data());
        for (std::int32_t k = 0; k < 4 * n; ++k)
            EXPECT_EQ(ac4[static_cast<std::size_t>(k)], k % 4 == 3 ? 9 : 2) << n;
    }
    const float values[] = {28.125f, 254.5f, 300.0f, -0.6f, -7.0f, kNaN, 3e9f};
    const int want[] = {28, 255, 255, 0, 0, 0, 255};
    for (int i = 0; i < 7; ++i) {
        const float b[1] = {values[i]};
        std::uint8_t u8 = 9;
        CubicColumnKernel_8u_alt(&u8, 1, 0.0f, b, b, b, b);
        EXPECT_EQ(u8, want[i]) << values[i];
    }
    const float big[1] = {70000.0f}, negative[1] = {-3.0f};
    std::uint16_t u16[2] = {9, 9};
    CubicColumnKernel_16u_alt(&u16[0], 1, 0.0f, big, big, big, big);
    CubicColumnKernel_16u_alt(&u16[1], 1, 0.0f, negative, negative, negative, negative);
    EXPECT_EQ(u16[0], 65535);
    EXPECT_EQ(u16[1], 0);
}

// Random rows and buffers, widths 1 to 40, every layout: the alternate
// kernels equal their twins bit for bit wherever the twin works one value at
// a time, and elsewhere agree to the last bits (integers within 1).
TEST(AlternateCubic, TwinsOnRandomRows)
{
    std::mt19937 rng(41);
    std::uniform_real_distribution<float> frac(-1.0f, 2.0f), value(-20.0f, 280.0f);
    for (std::int32_t n = 1; n <= 40; ++n) {
        std::vector<std::uint8_t> src(static_cast<std::size_t>(n + 4) * 4);
        for (auto& s : src)
            s = static_cast<std::uint8_t>(rng());
        std::vector<std::int32_t> columns1(static_cast<std::size_t>(n)), columns4(columns1);
        std::vector<float> weights(static_cast<std::size_t>(n));
        for (std::int32_t c = 0; c < n; ++c) {
            const std::int32_t j = 1 + static_cast<std::int32_t>(rng() % static_cast<unsigned>(n + 1));
            columns1[static_cast<std::size_t>(c)] = j;
            columns4[static_cast<std::size_t>(c)] = 4 * j;
            weights[static_cast<std::size_t>(c)] = frac(rng);
        }
        std::vector<float> alt(static_cast<std::size_t>(n) * 4), twin(alt);
        // Last bits at the scale of the taps (samples and buffers below 300):
        // cancelling terms leave the rounding of the largest.
        auto near = [](float a, float b) {
            return std::fabs(a - b) <= std::ldexp(16.0f * std::max(300.0f, std::fabs(b)), -23);
        };
        CubicRowKernel_8u_C1_alt(src.data(), n, 1, columns1.data(), weights.data(), alt.data());
        CubicRowKernel_8u_C1(src.data(), n, 1, columns1.data(), weights.data(), twin.data());
        for (std::int32_t c = 0; c < n; ++c) {
            if (c >= n / 4 * 4) {
                EXPECT_EQ(alt[static_cast<std::size_t>(c)], twin[static_cast<std::size_t>(c)]) << n;
            }
            EXPECT_TRUE(near(alt[static_cast<std::size_t>(c)], twin[static_cast<std::size_t>(c)])) << n;
        }
        for (int layout = 3; layout <= 4; ++layout) {
            if (layout == 3) {
                CubicRowKernel_8u_C3_alt(src.data(), n, 4, columns4.data(), weights.data(), alt.data());
                CubicRowKernel_8u_C3(src.data(), n, 4, columns4.data(), weights.data(), twin.data());
            } else {
                CubicRowKernel_8u_C4_alt(src.data(), n, 4, columns4.data(), weights.data(), alt.data());
                CubicRowKernel_8u_C4(src.data(), n, 4, columns4.data(), weights.data(), twin.data());
            }
            for (std::int32_t k = 0; k < n * layout; ++k)
                EXPECT_TRUE(near(alt[static_cast<std::size_t>(k)], twin[static_cast<std::size_t>(k)])) << n;
        }
        std::vector<float> b[4];
        for (auto& buffer : b) {
            buffer.resize(static_cast<std::size_t>(n) * 4);
            for (auto& v : buffer)
                v = value(rng);
        }
        const float t = frac(rng);
        std::vector<std::uint8_t> a8(static_cast<std::size_t>(n) * 4), t8(a8);
        std::vector<float> a32(static_cast<std::size_t>(n) * 4), t32(a32);
        CubicColumnKernel_8u_alt(a8.data(), n, t, b[0].data(), b[1].data(), b[2].data(), b[3].data());
        CubicColumnKernel_8u(t8.data(), n, &t, b[0].data(), b[1].data(), b[2].data(), b[3].data());
        CubicColumnKernel_32f_alt(a32.data(), n, t, b[0].data(), b[1].data(), b[2].data(), b[3].data());
        CubicColumnKernel_32f(t32.data(), n, &t, b[0].data(), b[1].data(), b[2].data(), b[3].data());
        for (std::int32_t k = 0; k < n; ++k) {
            const auto i = static_cast<std::size_t>(k);
            if (k >= n / 4 * 4) {
                EXPECT_EQ(a8[i], t8[i]) << n;
                EXPECT_EQ(a32[i], t32[i]) << n;
            }
            EXPECT_LE(std::abs(a8[i] - t8[i]), 1) << n;
            EXPECT_TRUE(near(a32[i], t32[i])) << n;
            if (a8[i] != t8[i]) {
                // Only where the value lies within a few units of a half.
                const float v = a32[i];
                EXPECT_LE(std::fabs(std::fabs(v - std::trunc(v)) - 0.5f), 2e-7f + std::ldexp(16.0f * 300.0f, -23))
                    << n << " value " << v;
            }
        }
        std::vector<float> a32ac4(static_cast<std::size_t>(n) * 4, 9), t32ac4(a32ac4);
        CubicColumnKernel_32f_AC4_alt(a32ac4.data(), n, t, b[0].data(), b[1].data(), b[2].data(), b[3].data());
        CubicColumnKernel_32f_AC4(t32ac4.data(), n, t, b[0].data(), b[1].data(), b[2].data(), b[3].data());
        EXPECT_EQ(a32ac4, t32ac4) << n;
    }
}

// --- Lanczos -----------------------------------------------------------------

// An interior column adds its six products from the left: taps 1e8, 1,
// -1e8, 1, 0, 0 with all weights 1 give exactly 1.
TEST(AlternateLanczos, InteriorColumnsAddFromTheLeft)
{
    const float src[12] = {0, 0, 0, 0, 1e8f, 1, -1e8f, 1, 0, 0, 0, 0};
    const float w[6] = {1, 1, 1, 1, 1, 1};
    const std::int32_t column = 6;
    float out = 7;
    LanczosRowKernel_32f_C1_alt(src, 1, &column, w, &out, 1, 5, 12);
    EXPECT_EQ(out, 1.0f);
}

// The Lanczos filters' two-pass sums of exactly k + 0.5: the alternate
// filter gives k + 1, the twin the even neighbour.
TEST(AlternateLanczos, SumsOfExactlyAHalfRoundUp)
{
    struct Case {
        int even, odd;  // samples of the even and the odd source rows
        int alt, twin;
        bool sixteen;
    } cases[] = {{2, 3, 3, 2, false}, {3, 4, 4, 4, false}, {254, 255, 255, 254, false},
                 {65534, 65535, 65535, 65534, true}, {6, 7, 7, 6, true}};
    const auto& sets = *kResizeFilterSets[0];
    for (const auto& c : cases) {
        // 8 x 8 source, destination 1 x 1 on row 2 and column 2; the row's
        // weights split between source rows 2 and 3.
        std::uint8_t u8[64];
        std::uint16_t u16[64];
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                u8[8 * y + x] = static_cast<std::uint8_t>(y % 2 == 0 ? c.even : c.odd);
                u16[8 * y + x] = static_cast<std::uint16_t>(y % 2 == 0 ? c.even : c.odd);
            }
        const std::int32_t rows[1] = {2 * 8};
        const std::int32_t columns[1] = {2};
        alignas(32) float rowWeights[6] = {0, 0, 0.5f, 0.5f, 0, 0};
        alignas(32) float columnWeights[6] = {0, 0, 1, 0, 0, 0};
        alignas(32) float b[6][8];
        for (int k = 0; k < 2; ++k) {
            const auto& set = k == 0 ? sets.alternate : sets.primary;
            const int want = k == 0 ? c.alt : c.twin;
            if (c.sixteen) {
                std::uint16_t out = 9;
                set.lanczos[4](u16, &out, 8, 1, 1, 1, rows, columns, rowWeights, columnWeights, b[0], b[1], b[2],
                               b[3], b[4], b[5], 0, 0, 8, 8, 1, 1, 1);
                EXPECT_EQ(out, want) << c.even << (k == 0 ? " alternate" : " twin");
            } else {
                std::uint8_t out = 9;
                set.lanczos[3](u8, &out, 8, 1, 1, 1, rows, columns, rowWeights, columnWeights, b[0], b[1], b[2], b[3],
                               b[4], b[5], 0, 0, 8, 8, 1, 1, 1);
                EXPECT_EQ(out, want) << c.even << (k == 0 ? " alternate" : " twin");
            }
        }
    }
}

}  // namespace
