// The linear kernels, the nearest filters and the two-buffer walk of the
// linear filters, on the worked values of their contracts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "imaging/primitives/resize/detail/LinearFilter.h"
#include "imaging/primitives/resize/detail/LinearKernelsSimd.h"
#include "imaging/primitives/resize/detail/ResizeFilters.h"
#include "imaging/primitives/resize/detail/SuperSample.h"

namespace {

using namespace resize_detail;

std::uint32_t Bits(float f)
{
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

// --- 8-bit kernels -----------------------------------------------------------

struct Row8uCase {
    std::uint8_t a, b;
    std::int16_t f0, f1;
    std::int16_t expected;
};

TEST(LinearKernel8u, RowValuesKeepSixFractionBits)
{
    const Row8uCase cases[] = {
        {77, 200, 16384, 0, 77 * 64},  // all weight on the left pixel
        {77, 200, 0, 16384, 200 * 64},
        {0, 255, 8192, 8192, 8160},    // midpoint
        {1, 2, 8192, 8192, 96},
        {255, 255, 10000, 6384, 16320},
    };
    for (const auto& c : cases) {
        const std::uint8_t src[2] = {c.a, c.b};
        const std::int32_t column = 0;
        const std::int16_t weights[2] = {c.f0, c.f1};
        std::int16_t out = -1;
        LinearRowKernel_8u_C1(src, 1, 1, &column, weights, &out);
        EXPECT_EQ(out, c.expected) << int(c.a) << "," << int(c.b) << " at " << c.f0 << "/" << c.f1;
    }
}

struct Column8uCase {
    std::int16_t upper, lower;
    std::int32_t w;
    std::uint8_t expected;
};

TEST(LinearKernel8u, ColumnRoundsHalfUpAndSaturates)
{
    const Column8uCase cases[] = {
        {8160, 0, 0, 128},      // 127.5 rounded up
        {96, 96, 4000, 2},      // 1.5 rounded up
        {64, 0, 8192, 1},       // 0.5 rounded up
        {16320, 16320, 0, 255}, {16320, 16320, 16384, 255}, {16320, 16320, 9999, 255},
        {32767, 32767, 8192, 255},  // outside what a row kernel makes: saturated
        {-500, -500, 8192, 0},
    };
    for (const auto& c : cases) {
        std::uint8_t out = 7;
        LinearColumnKernel_8u(&out, 1, c.w, &c.upper, &c.lower);
        EXPECT_EQ(int(out), int(c.expected)) << c.upper << "," << c.lower << " w " << c.w;
    }
}

// Every width of a row gives what a plain per-column loop gives, in the
// portable and the vector kernels.
TEST(LinearKernel8u, EveryWidthMatchesPlainLoop)
{
    std::vector<std::uint8_t> src(4 * 80);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (std::int32_t n : {1, 2, 3, 15, 16, 17, 33}) {
        std::vector<std::int32_t> columns(n);
        std::vector<std::int16_t> weights(2 * n);
        for (std::int32_t c = 0; c < n; ++c) {
            columns[c] = 4 * ((c * 7) % 70);
            weights[2 * c + 1] = static_cast<std::int16_t>((c * 1237) % 16385);
            weights[2 * c] = static_cast<std::int16_t>(16384 - weights[2 * c + 1]);
        }
        std::vector<std::int16_t> expected(4 * n + 4, -1);
        for (std::int32_t c = 0; c < n; ++c)
            for (int k = 0; k < 4; ++k) {
                const int a = src[columns[c] + k], b = src[columns[c] + 4 + k];
                expected[4 * c + k] = static_cast<std::int16_t>((a * weights[2 * c] + b * weights[2 * c + 1] + 128) >> 8);
            }
        std::vector<std::int16_t> out(4 * n + 4, -1);
        LinearRowKernel_8u_C4(src.data(), n, 4, columns.data(), weights.data(), out.data());
        EXPECT_EQ(out, expected) << "width " << n;
#if GAVEX_RESIZE_HAS_SIMD
        std::vector<std::int16_t> vec(4 * n + 4, -1);
        LinearRowKernel_8u_C4_Sse2(src.data(), n, 4, columns.data(), weights.data(), vec.data());
        EXPECT_EQ(vec, expected) << "vector, width " << n;
        // One channel over the same columns (as sample offsets).
        std::vector<std::int16_t> plainOne(n + 4, -1), vecOne(n + 4, -1);
        LinearRowKernel_8u_C1(src.data(), n, 1, columns.data(), weights.data(), plainOne.data());
        LinearRowKernel_8u_C1_Sse2(src.data(), n, 1, columns.data(), weights.data(), vecOne.data());
        EXPECT_EQ(vecOne, plainOne) << "vector one channel, width " << n;
#endif
        // Column kernel over 4n samples.
        std::vector<std::uint8_t> plain(4 * n, 0), fast(4 * n, 0), want(4 * n);
        const std::int32_t w = (n * 997) % 16385;
        for (std::int32_t p = 0; p < 4 * n; ++p)
            want[p] = static_cast<std::uint8_t>(
                std::min(255, std::max(0, (expected[p] * (16384 - w) + out[(p + 5) % (4 * n)] * w + 524288) >> 20)));
        std::vector<std::int16_t> lower(4 * n + 4);
        for (std::int32_t p = 0; p < 4 * n; ++p)
            lower[p] = out[(p + 5) % (4 * n)];
        LinearColumnKernel_8u(plain.data(), 4 * n, w, expected.data(), lower.data());
        EXPECT_EQ(plain, want) << "column, width " << n;
#if GAVEX_RESIZE_HAS_SIMD
        LinearColumnKernel_8u_Sse2(fast.data(), 4 * n, w, expected.data(), lower.data());
        EXPECT_EQ(fast, want) << "vector column, width " << n;
#endif
    }
}

#if GAVEX_RESIZE_HAS_SIMD
// The AVX2 four-channel row (alone and two rows a pass) against the portable
// one: complementary pairs (the driver's tables, taken by the rounding-
// multiply body) with weights at both ends and samples 0 next to 255 (the
// largest differences, both signs), and pairs that do not sum to 16384 (the
// multiply-add body), at widths around the four-pixel step.
TEST(LinearKernel8u, Avx2FourChannelRowsMatchPortable)
{
    if (!__builtin_cpu_supports("avx2"))
        GTEST_SKIP() << "no AVX2";
    struct Case {
        const char* name;
        bool complementary;
        std::uint8_t (*sample)(std::size_t);
    };
    const Case cases[] = {
        {"complementary, mixed samples", true, [](std::size_t i) { return static_cast<std::uint8_t>(i * 37 + 11); }},
        {"complementary, 0 beside 255", true,
         [](std::size_t i) { return static_cast<std::uint8_t>((i / 4) % 2 == 0 ? 0 : 255); }},
        {"pairs off 16384", false, [](std::size_t i) { return static_cast<std::uint8_t>(i * 53 + 5); }},
    };
    for (const Case& k : cases)
        for (std::int32_t n : {1, 3, 4, 5, 8, 9, 31, 1280}) {
            SCOPED_TRACE(std::string(k.name) + ", width " + std::to_string(n));
            std::vector<std::uint8_t> src(4 * (2 * n + 2));
            for (std::size_t i = 0; i < src.size(); ++i)
                src[i] = k.sample(i);
            std::vector<std::int32_t> columns(n);
            std::vector<std::int16_t> weights(2 * n);
            for (std::int32_t c = 0; c < n; ++c) {
                columns[c] = 4 * ((3 * c) / 2);
                const std::int32_t f = c % 5 == 0 ? 16384 : (c % 5 == 1 ? 0 : (c * 1237) % 16385);
                weights[2 * c + 1] = static_cast<std::int16_t>(f);
                weights[2 * c] = static_cast<std::int16_t>(k.complementary ? 16384 - f : (c * 311) % 20000 - 2000);
            }
            if (!k.complementary)
                weights[2 * (n - 1)] = static_cast<std::int16_t>(16385 - weights[2 * (n - 1) + 1]);
            std::vector<std::int16_t> expected(4 * n + 4, -1), vec(4 * n + 4, -1);
            LinearRowKernel_8u_C4(src.data(), n, 4, columns.data(), weights.data(), expected.data());
            LinearRowKernel_8u_C4_Avx2(src.data(), n, 4, columns.data(), weights.data(), vec.data());
            EXPECT_EQ(vec, expected);
            // Two rows in one pass: a second row with other samples.
            const std::vector<std::uint8_t> other(src.rbegin(), src.rend());
            std::vector<std::int16_t> expectedOther(4 * n + 4, -1), first(4 * n + 4, -1), second(4 * n + 4, -1);
            LinearRowKernel_8u_C4(other.data(), n, 4, columns.data(), weights.data(), expectedOther.data());
            LinearRowPairKernel_8u_C4_Avx2(src.data(), other.data(), n, 4, columns.data(), weights.data(),
                                           first.data(), second.data());
            EXPECT_EQ(first, expected) << "pair, first row";
            EXPECT_EQ(second, expectedOther) << "pair, second row";
        }
}
#endif

TEST(LinearKernel8u, ThreeChannelRowsSkipAlphaAtStrideFour)
{
    // Two AC4 pixels whose alpha would change the result if it were read.
    const std::uint8_t src[8] = {10, 20, 30, 250, 110, 120, 130, 250};
    const std::int32_t column = 0;
    const std::int16_t weights[2] = {8192, 8192};
    std::int16_t out[3] = {};
    LinearRowKernel_8u_C3(src, 1, 4, &column, weights, out);
    EXPECT_EQ(out[0], 60 * 64);
    EXPECT_EQ(out[1], 70 * 64);
    EXPECT_EQ(out[2], 80 * 64);
    // Stride 3: the right pixel starts at sample 3.
    LinearRowKernel_8u_C3(src, 1, 3, &column, weights, out);
    EXPECT_EQ(out[0], (10 + 250) * 32);
}

TEST(LinearKernel8u, Ac4ColumnKeepsAlpha)
{
    const std::int16_t upper[8] = {64 * 10, 64 * 20, 64 * 30, 64 * 40, 64 * 50, 64 * 60, 0, 0};
    std::uint8_t dst[8] = {0, 0, 0, 0x7F, 0, 0, 0, 0x7E};
    LinearColumnKernel_8u_AC4(dst, 2, 0, upper, upper);
    const std::uint8_t expected[8] = {10, 20, 30, 0x7F, 40, 50, 60, 0x7E};
    EXPECT_EQ(0, std::memcmp(dst, expected, 8));
    std::uint8_t one[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    LinearColumnKernel_8u_AC4(one, 1, 0, upper, upper);
    const std::uint8_t onlyFirst[8] = {10, 20, 30, 4, 5, 6, 7, 8};
    EXPECT_EQ(0, std::memcmp(one, onlyFirst, 8));
}

// --- 16-bit kernels ----------------------------------------------------------

TEST(LinearKernel16, WorkedValues)
{
    const std::int32_t column = 0;
    const std::int16_t half[2] = {8192, 8192};
    {
        const std::uint16_t src[2] = {0, 65535};
        std::uint16_t out = 0;
        LinearRowKernel_16u_C1(src, 1, 1, &column, half, &out);
        EXPECT_EQ(out, 32768);
        const std::uint16_t full[2] = {65535, 65535};
        const std::int16_t skew[2] = {3, 16381};
        LinearRowKernel_16u_C1(full, 1, 1, &column, skew, &out);
        EXPECT_EQ(out, 65535);
    }
    {
        const std::int16_t a[2] = {-1, -2};
        std::int16_t out = 0;
        LinearRowKernel_16s_C1(a, 1, 1, &column, half, &out);
        EXPECT_EQ(out, -1);
        const std::int16_t b[2] = {-32768, 32767};
        LinearRowKernel_16s_C1(b, 1, 1, &column, half, &out);
        EXPECT_EQ(out, 0);
    }
    {
        // Double rounding: row values 1 and 0, destination 1 where the exact
        // bilinear value is 0.25.
        const std::uint16_t upperRow[2] = {0, 1};
        const std::uint16_t lowerRow[2] = {0, 0};
        std::uint16_t u = 0, d = 0, out = 0;
        LinearRowKernel_16u_C1(upperRow, 1, 1, &column, half, &u);
        LinearRowKernel_16u_C1(lowerRow, 1, 1, &column, half, &d);
        EXPECT_EQ(u, 1);
        EXPECT_EQ(d, 0);
        LinearColumnKernel_16u(&out, 1, 8192, &u, &d);
        EXPECT_EQ(out, 1);
    }
    {
        // 16u and 16s give the same results on non-negative samples.
        const std::uint16_t us[2] = {1234, 31000};
        const std::int16_t ss[2] = {1234, 31000};
        const std::int16_t w[2] = {5000, 11384};
        std::uint16_t uo = 0;
        std::int16_t so = 0;
        LinearRowKernel_16u_C1(us, 1, 1, &column, w, &uo);
        LinearRowKernel_16s_C1(ss, 1, 1, &column, w, &so);
        EXPECT_EQ(int(uo), int(so));
    }
    {
        const std::uint16_t upper[6] = {100, 200, 300, 400, 500, 600};
        std::uint16_t dst[8] = {0, 0, 0, 0xBEEF, 0, 0, 0, 0xCAFE};
        LinearColumnKernel_16u_AC4(dst, 2, 16384, upper, upper);
        EXPECT_EQ(dst[3], 0xBEEF);
        EXPECT_EQ(dst[7], 0xCAFE);
        EXPECT_EQ(dst[4], 400);
    }
}

// --- float kernels and the row-window sum -----------------------------------

TEST(LinearKernel32f, FormsAndEdges)
{
    const std::int32_t column = 0;
    const float src[2] = {0.1f, 1e8f};
    const float zero = 0.0f, one = 1.0f;
    float out = 0.0f;
    LinearRowKernel_32f_C1(src, 1, 1, &column, &zero, &out);
    EXPECT_EQ(Bits(out), Bits(0.1f));
    LinearRowKernel_32f_C1(src, 1, 1, &column, &one, &out);
    EXPECT_EQ(Bits(out), Bits(0.1f + (1e8f - 0.1f)));

    const float u = 3.25f, d = -7.5f;
    LinearColumnKernel_32f(&out, 1, 0.0f, &u, &d);
    EXPECT_EQ(Bits(out), Bits(u));
    LinearColumnKernel_32f(&out, 1, 1.0f, &u, &d);
    EXPECT_EQ(Bits(out), Bits(d));
    // The two float forms are each kept: u(1 - w) + dw against u + (d - u)w.
    const float a = 0.3f, b = 0.7f, w = 0.1f;
    float complement = 0.0f, difference = 0.0f;
    LinearColumnKernel_32f(&complement, 1, w, &a, &b);
    LinearColumnKernelExt_32f(&difference, 1, w, &a, &b);
    EXPECT_EQ(Bits(complement), Bits(a * (1.0f - w) + b * w));
    EXPECT_EQ(Bits(difference), Bits(a + (b - a) * w));

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float withNan[2] = {nan, 1.0f};
    const float halfWeight = 0.5f;
    LinearRowKernel_32f_C1(withNan, 1, 1, &column, &halfWeight, &out);
    EXPECT_TRUE(std::isnan(out));
}

TEST(LinearKernel32f, Ac4ColumnKeepsAlphaBits)
{
    const float rows[6] = {1, 2, 3, 4, 5, 6};
    const float alpha = -0.0f;
    float dst[8] = {0, 0, 0, alpha, 0, 0, 0, std::numeric_limits<float>::quiet_NaN()};
    LinearColumnKernel_32f_AC4(dst, 2, 0.5f, rows, rows);
    EXPECT_EQ(Bits(dst[3]), Bits(alpha));
    EXPECT_TRUE(std::isnan(dst[7]));
    EXPECT_EQ(dst[6], 6.0f);
    double ddst[8] = {0, 0, 0, 9.5, 0, 0, 0, 9.5};
    const double drows[6] = {1, 2, 3, 4, 5, 6};
    LinearColumnKernelExt_64f_AC4(ddst, 2, 0.25, drows, drows);
    EXPECT_EQ(ddst[3], 9.5);
    EXPECT_EQ(ddst[4], 4.0);
}

TEST(LinearKernel64f, ThreeChannelsTakeRightPixelFourOnAtStrideFour)
{
    const double src[8] = {1, 2, 3, 1000, 5, 6, 7, 1000};
    const std::int32_t column = 0;
    const double f = 0.5;
    double out[3] = {};
    LinearRowKernelExt_64f_C3(src, 1, 4, &column, &f, out);
    EXPECT_EQ(out[0], 3.0);
    EXPECT_EQ(out[2], 5.0);
    LinearRowKernelExt_64f_C3(src, 1, 3, &column, &f, out);
    EXPECT_EQ(out[0], 500.5);
}

TEST(SumRowWindow, RowOrderAndGroups)
{
    // Three rows of five groups; row 0 holds a negative zero.
    const int groups = 5;
    std::vector<float> rows(3 * 4 * groups);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = 0.1f * static_cast<float>(i) + 1e7f * static_cast<float>(i % 3);
    rows[0] = -0.0f;
    alignas(16) float out[4 * groups + 1];
    out[4 * groups] = 42.0f;
    SumRowWindow_32f(rows.data(), 4 * 4 * groups, groups, 1, out);
    EXPECT_EQ(Bits(out[0]), Bits(0.0f));  // 0 + -0 is +0
    EXPECT_EQ(out[19], rows[19]);
    SumRowWindow_32f(rows.data(), 4 * 4 * groups, groups, 3, out);
    for (int i = 0; i < 4 * groups; ++i)
        EXPECT_EQ(Bits(out[i]), Bits(((0.0f + rows[i]) + rows[20 + i]) + rows[40 + i])) << i;
    EXPECT_EQ(out[4 * groups], 42.0f);
}

TEST(SumRows, IntegerSumsAreSixtyFourBits)
{
    // 70000 rows of 65535 pass 2^32.
    const std::int32_t k = 70000;
    std::vector<std::uint16_t> column(k, 65535);
    std::uint64_t sum = 0;
    SumRows16uC1(column.data(), 2, 1, k, &sum, 1);
    EXPECT_EQ(sum, std::uint64_t{65535} * k);
    // AC4: the fourth slot is not written.
    const std::uint8_t pixels[8] = {1, 2, 3, 99, 4, 5, 6, 99};
    std::uint64_t sums[4] = {0, 0, 0, 12345};
    SumRows8uC3(pixels, 4, 1, 2, sums, 4);
    EXPECT_EQ(sums[0], 5u);
    EXPECT_EQ(sums[2], 9u);
    EXPECT_EQ(sums[3], 12345u);
}

// --- nearest filters ---------------------------------------------------------

TEST(NearestFilter, GathersPixelsByTables)
{
    // 2 x 2 to 4 x 4: every source pixel becomes a 2 x 2 block.
    const std::uint8_t src[4] = {1, 2, 3, 4};
    const std::int32_t rows[4] = {0, 0, 2, 2};
    const std::int32_t columns[4] = {0, 0, 1, 1};
    std::uint8_t dst[16] = {};
    EXPECT_EQ(ResizeNearest_8u_C1(src, dst, 4, 4, 4, rows, columns, 0), 4);
    const std::uint8_t expected[16] = {1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4};
    EXPECT_EQ(0, std::memcmp(dst, expected, 16));

    // A negative destination step writes rows upward.
    std::uint8_t up[16] = {};
    ResizeNearest_8u_C1(src, up + 12, -4, 4, 4, rows, columns, 0);
    const std::uint8_t flipped[16] = {3, 3, 4, 4, 3, 3, 4, 4, 1, 1, 2, 2, 1, 1, 2, 2};
    EXPECT_EQ(0, std::memcmp(up, flipped, 16));

    // A height of 0 copies nothing.
    std::uint8_t untouched = 9;
    ResizeNearest_8u_C1(src, &untouched, 1, 1, 0, rows, columns, 0);
    EXPECT_EQ(untouched, 9);
}

TEST(NearestFilter, ThreeSamplesAtStrideFourKeepAlpha)
{
    const std::uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::int32_t row = 0;
    const std::int32_t columns[2] = {4, 0};
    std::uint8_t dst[8] = {0, 0, 0, 0xAA, 0, 0, 0, 0xBB};
    ResizeNearest_8u_C3(src, dst, 8, 2, 1, &row, columns, 4);
    const std::uint8_t expected[8] = {5, 6, 7, 0xAA, 1, 2, 3, 0xBB};
    EXPECT_EQ(0, std::memcmp(dst, expected, 8));
    std::uint8_t packed[6] = {};
    ResizeNearest_8u_C3(src, packed, 6, 2, 1, &row, columns, 3);
    const std::uint8_t packedExpected[6] = {5, 6, 7, 1, 2, 3};
    EXPECT_EQ(0, std::memcmp(packed, packedExpected, 6));
}

TEST(NearestFilter, FloatsAreCopiedAsBits)
{
    const float src[2] = {-0.0f, std::numeric_limits<float>::quiet_NaN()};
    const std::int32_t row = 0;
    const std::int32_t columns[2] = {1, 0};
    float dst[2] = {1.0f, 1.0f};
    ResizeNearest_32f_C1(src, dst, 2, 2, 1, &row, columns, 0);
    EXPECT_EQ(Bits(dst[0]), Bits(src[1]));
    EXPECT_EQ(Bits(dst[1]), Bits(-0.0f));
    // The nearest table's 16u and 16s slots are one filter.
    EXPECT_EQ(kResizeFilterSets[0]->primary.nearest[1], kResizeFilterSets[0]->primary.nearest[3]);
    EXPECT_EQ(kResizeFilterSets[0]->primary.nearest[5], kResizeFilterSets[0]->primary.nearest[7]);
    EXPECT_EQ(kResizeFilterSets[0]->primary.nearest[9], kResizeFilterSets[0]->primary.nearest[11]);
}

// --- the linear walk ---------------------------------------------------------

// A kernel set that records which source rows the walk interpolates; the
// buffers hold the row offset, the column kernel writes upper * 1000 + lower.
struct RecordingKernels {
    using Sample = std::int32_t;
    using Buffer = std::int32_t;
    using Weight = std::int32_t;
    using RowWeight = std::int32_t;
    static inline std::vector<std::int32_t> interpolated;
    static void Row(const Sample* row, std::int32_t, std::int32_t, const std::int32_t*, const Weight*, Buffer* out)
    {
        interpolated.push_back(row[0]);
        out[0] = row[0];
    }
    static constexpr auto* Row1 = &Row;
    static constexpr auto* Row3 = &Row;
    static constexpr auto* Row4 = &Row;
    static void Column(Sample* dst, std::int32_t, RowWeight, const Buffer* upper, const Buffer* lower)
    {
        dst[0] = upper[0] * 1000 + lower[0];
    }
    static constexpr auto* ColumnAC4 = &Column;
};

struct WalkCase {
    const char* name;
    std::int32_t step;
    std::vector<std::int32_t> rowNumbers;
    std::vector<std::int32_t> expectedInterpolated;  // source row numbers in order
};

TEST(LinearWalk, InterpolatesEachSourceRowOncePerRun)
{
    const WalkCase cases[] = {
        // Enlarging by 2: rows alternate between nothing and one new lower row.
        {"enlarge", 1, {0, 0, 1, 1, 2, 2}, {0, 1, 2, 3}},
        // Reducing by more than 2: two rows per destination row.
        {"reduce", 1, {0, 3, 6}, {0, 1, 4, 3, 7, 6}},
        // A bottom-up source: the comparisons turn round.
        {"bottom-up", -1, {0, 0, 1, 2}, {0, 1, 2, 3}},
        // A step of 0: the first row reads the same row three times.
        {"step 0", 0, {0, 0}, {0, 0, 0}},
    };
    // Source row j holds the value j at its first sample; the walk sees it at
    // offset j x step from the origin.
    std::vector<std::int32_t> image(256);
    for (const auto& c : cases) {
        const std::int32_t stride = c.step == 0 ? 0 : 8;
        const std::int32_t s = c.step * stride;
        std::int32_t* origin = image.data() + 128;
        for (int j = -3; j < 9; ++j)
            if (s != 0)
                origin[j * s] = j * c.step;
        origin[0] = 0;
        std::vector<std::int32_t> rows;
        for (std::int32_t r : c.rowNumbers)
            rows.push_back(r * s);
        std::vector<std::int32_t> out(rows.size());
        std::vector<std::int32_t> weights(rows.size());
        std::int32_t b1[1], b2[1];
        const std::int32_t column = 0;
        RecordingKernels::interpolated.clear();
        ResizeLinear<RecordingKernels, true>(origin, out.data(), s, 1, 1, static_cast<std::int32_t>(rows.size()),
                                             rows.data(), &column, weights.data(), &column, b1, b2, 0, 0);
        std::vector<std::int32_t> seen;
        for (std::int32_t v : RecordingKernels::interpolated)
            seen.push_back(c.step == 0 ? v : v * c.step);
        EXPECT_EQ(seen, c.expectedInterpolated) << c.name;
        // Each destination row blends its own pair.
        if (c.step != 0) {
            for (std::size_t i = 0; i < rows.size(); ++i)
                EXPECT_EQ(out[i], (c.rowNumbers[i] * 1000 + c.rowNumbers[i] + 1) * c.step) << c.name << " row " << i;
        }
    }
}

}  // namespace

namespace {

TEST(FilterSets, EveryProcessorSlotHasBothSets)
{
    for (int slot = 0; slot < kCpuVariantCount; ++slot) {
        const auto* sets = resize_detail::kResizeFilterSets[static_cast<std::size_t>(slot)];
        ASSERT_NE(sets, nullptr) << slot;
        for (const auto* set : {&sets->primary, &sets->alternate}) {
            for (auto* f : set->nearest)
                EXPECT_NE(f, nullptr) << "nearest, slot " << slot;
            for (auto* f : set->linear)
                EXPECT_NE(f, nullptr) << "linear, slot " << slot;
        }
        for (const auto* set : {&sets->primary, &sets->alternate}) {
            for (auto* f : set->cubic)
                EXPECT_NE(f, nullptr) << "cubic, slot " << slot;
            for (auto* f : set->lanczos)
                EXPECT_NE(f, nullptr) << "Lanczos, slot " << slot;
            for (auto* f : set->extendedLinear)
                EXPECT_NE(f, nullptr) << "extended linear, slot " << slot;
            for (auto* f : set->fourTap)
                EXPECT_NE(f, nullptr) << "four-tap, slot " << slot;
            for (auto* f : set->extendedLanczos)
                EXPECT_NE(f, nullptr) << "extended Lanczos, slot " << slot;
        }
        // The alternate set is the same scalar set in every slot; its 8u
        // linear members serve both of its linear tables.
        const auto& alternate = sets->alternate;
        const auto& portable = resize_detail::kResizeFilterSets[0]->alternate;
        EXPECT_EQ(alternate.cubic, portable.cubic) << slot;
        EXPECT_EQ(alternate.lanczos, portable.lanczos) << slot;
        EXPECT_EQ(alternate.fourTap, portable.fourTap) << slot;
        EXPECT_EQ(alternate.extendedLanczos, portable.extendedLanczos) << slot;
        EXPECT_EQ(alternate.extendedLinear[0], alternate.linear[0]) << slot;
        EXPECT_EQ(alternate.extendedLinear[4], alternate.linear[4]) << slot;
    }
}

}  // namespace
