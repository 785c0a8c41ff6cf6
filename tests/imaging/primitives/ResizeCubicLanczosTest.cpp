// The cubic and Lanczos kernels, six-tap routines and weights on the worked
// values of their contracts, and the cubic ring and Lanczos window of the
// filters: rows they interpolate, edge rows, both window paths, odd steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "imaging/primitives/resize/Resize.h"
#include "imaging/primitives/resize/detail/CubicLanczosFilters.h"
#include "imaging/primitives/resize/detail/CubicLanczosSimd.h"

namespace {

using namespace resize_detail;

std::uint32_t Bits(float f)
{
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

// --- cubic row kernels -------------------------------------------------------

struct CubicValueCase {
    const char* name;
    float taps[4];
    float t;
    float expected;
};

TEST(CubicRowKernel, WorkedValuesInBothForms)
{
    const CubicValueCase cases[] = {
        {"10 20 40 80 at 0.5", {10, 20, 40, 80}, 0.5f, 28.125f},
        {"step edge at 0.5", {0, 0, 255, 255}, 0.5f, 127.5f},
        {"t = -1 gives the first tap", {17, 200, 3, 99}, -1.0f, 17.0f},
        {"t = 0 gives the second tap", {17, 200, 3, 99}, 0.0f, 200.0f},
        {"t = 1 gives the third tap", {17, 200, 3, 99}, 1.0f, 3.0f},
        {"16-bit taps, t = 0", {65535, 40000, 1, 65535}, 0.0f, 40000.0f},
        {"16-bit taps, t = 1", {65535, 40000, 1, 65535}, 1.0f, 1.0f},
    };
    for (const auto& c : cases) {
        // Width 5: columns 0..3 by the block form, column 4 one at a time.
        std::vector<std::uint16_t> row;
        std::vector<std::int32_t> columns;
        for (int k = 0; k < 5; ++k) {
            columns.push_back(static_cast<std::int32_t>(row.size()) + 1);
            row.insert(row.end(), {static_cast<std::uint16_t>(c.taps[0]), static_cast<std::uint16_t>(c.taps[1]),
                                   static_cast<std::uint16_t>(c.taps[2]), static_cast<std::uint16_t>(c.taps[3])});
        }
        const std::vector<float> t(5, c.t);
        alignas(16) float out[8] = {};
        CubicRowKernel_16u_C1(row.data(), 5, 1, columns.data(), t.data(), out);
        for (int k = 0; k < 5; ++k)
            EXPECT_EQ(out[k], c.expected) << c.name << " column " << k;
    }
}

// Which form a column takes depends on its index alone: the first 4 x
// floor(n / 4) columns of a one-channel row by the block form; three- and
// four-channel rows always by the block form.
TEST(CubicRowKernel, FormFollowsTheColumnIndex)
{
    std::mt19937 rng(41);
    std::vector<float> src(64);
    for (auto& v : src)
        v = std::ldexp(static_cast<float>(rng() % 100000), -7);
    for (std::int32_t n = 1; n <= 9; ++n) {
        std::vector<std::int32_t> columns(n);
        std::vector<float> t(n);
        for (int c = 0; c < n; ++c) {
            columns[c] = 4 + 3 * c;
            t[c] = std::ldexp(static_cast<float>(rng() % 3000), -10) - 1.0f;
        }
        std::vector<float> one(n + 4), four(4 * n + 16);
        CubicRowKernel_32f_C1(src.data(), n, 1, columns.data(), t.data(), one.data());
        CubicRowKernel_32f_C4(src.data(), n, 4, columns.data(), t.data(), four.data());
        for (int c = 0; c < n; ++c) {
            const float* s = src.data() + columns[c];
            const CubicCoefficients k(t[c]);
            const float block = CubicBlockValue(s[-1], s[0], s[1], s[2], k);
            const float single = CubicRowSingleValue(s[-1], s[0], s[1], s[2], k);
            EXPECT_EQ(Bits(one[c]), Bits(c < n / 4 * 4 ? block : single)) << "width " << n << " column " << c;
            EXPECT_EQ(Bits(four[4 * c]), Bits(CubicBlockValue(s[-4], s[0], s[4], s[8], k))) << n << " " << c;
        }
    }
}

TEST(CubicRowKernel, ThreeChannelsAtStrideFourIgnoreAlpha)
{
    // Pixels of 4 samples, alpha wild; taps at pixels 0..3, t = 0.25.
    std::uint8_t src[20];
    for (int p = 0; p < 5; ++p)
        for (int c = 0; c < 4; ++c)
            src[4 * p + c] = static_cast<std::uint8_t>(c == 3 ? 255 - 50 * p : 10 * p + c);
    std::uint8_t quiet[20];
    std::memcpy(quiet, src, 20);
    for (int p = 0; p < 5; ++p)
        quiet[4 * p + 3] = 0;
    const std::int32_t column = 4;
    const float t = 0.25f;
    float a[8] = {}, b[8] = {};
    CubicRowKernel_8u_C3(src, 1, 4, &column, &t, a);
    CubicRowKernel_8u_C3(quiet, 1, 4, &column, &t, b);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(Bits(a[c]), Bits(b[c]));
        EXPECT_FLOAT_EQ(a[c], 10.0f * 1.25f + c);  // linear data: the cubic is exact
    }
}

// --- cubic column kernels ----------------------------------------------------

struct ColumnConversionCase {
    const char* name;
    float value;
    int block8u, single8u;
};

TEST(CubicColumnKernel, ConversionsOfBothPaths)
{
    const ColumnConversionCase cases[] = {
        {"28.125", 28.125f, 28, 28},      {"254.5", 254.5f, 255, 255}, {"300", 300.0f, 255, 255},
        {"-0.6", -0.6f, 0, 0},            {"-7", -7.0f, 0, 0},         {"just below 2.5", 2.49999976f, 3, 2},
        {"2.5 rounds up", 2.5f, 3, 3},    {"0.49", 0.49f, 0, 0},
    };
    const float t = 0.0f;  // the value of B1 passes through
    for (const auto& c : cases) {
        // Count 5: positions 0..3 by the block routine, 4 one at a time.
        alignas(16) float b[4][8];
        for (auto& buffer : b)
            std::fill(buffer, buffer + 8, c.value);
        std::uint8_t out[5] = {};
        CubicColumnKernel_8u(out, 5, &t, b[0], b[1], b[2], b[3]);
        for (int p = 0; p < 4; ++p)
            EXPECT_EQ(out[p], c.block8u) << c.name;
        EXPECT_EQ(out[4], c.single8u) << c.name;
    }
    struct {
        float value;
        int expected;
    } sixteen[] = {{70000.0f, 65535}, {-3.0f, 0}, {65534.6f, 65535}, {1234.5f, 1235}};
    for (const auto& c : sixteen) {
        alignas(16) float b[4][8];
        for (auto& buffer : b)
            std::fill(buffer, buffer + 8, c.value);
        std::uint16_t out[6] = {};
        CubicColumnKernel_16u(out, 6, &t, b[0], b[1], b[2], b[3]);
        for (int p = 0; p < 6; ++p)
            EXPECT_EQ(out[p], c.expected) << c.value << " at " << p;
    }
    // 32f overshoot is stored unchanged.
    alignas(16) float b[4][4] = {{-3.5f, 300.25f, 0, 0}, {-3.5f, 300.25f, 0, 0}, {-3.5f, 300.25f, 0, 0},
                                 {-3.5f, 300.25f, 0, 0}};
    float out[2] = {};
    CubicColumnKernel_32f(out, 2, &t, b[0], b[1], b[2], b[3]);
    EXPECT_EQ(out[0], -3.5f);
    EXPECT_EQ(out[1], 300.25f);
}

TEST(CubicColumnKernel, TwoGivesTheFourthBuffer)
{
    const float t = 2.0f;
    alignas(16) float b0[4] = {5, 100, 0, 255}, b1[4] = {9, 3, 255, 0}, b2[4] = {77, 12, 0, 255},
                      b3[4] = {201, 40, 255, 13};
    std::uint8_t out[4] = {};
    CubicColumnKernel_8u(out, 4, &t, b0, b1, b2, b3);
    for (int p = 0; p < 4; ++p)
        EXPECT_EQ(out[p], b3[p]) << p;
}

// AC4: three channels of each pixel written, alpha never; the block form
// covers buffer positions below 4 x floor(3n / 4) (8u, 16u), none for 32f.
TEST(CubicColumnKernel, Ac4WidthsOneToFive)
{
    for (std::int32_t n = 1; n <= 5; ++n) {
        const std::int32_t values = 3 * n;
        // Just below 2.5 tells the forms apart (3 by the block form, 2 one at
        // a time); distinct float values show where each sample goes.
        alignas(16) float b[4][32], f[4][32];
        for (int k = 0; k < 4; ++k)
            for (int m = 0; m < values; ++m) {
                b[k][m] = 2.49999976f;
                f[k][m] = static_cast<float>(7 * m) + 0.25f;
            }
        const float t = 0.0f;
        std::vector<std::uint8_t> out8(4 * n, 0x7F);
        CubicColumnKernel_8u_AC4(out8.data(), n, &t, b[0], b[1], b[2], b[3]);
        std::vector<float> out32(4 * n, -9.0f);
        CubicColumnKernel_32f_AC4(out32.data(), n, t, f[0], f[1], f[2], f[3]);
        for (int p = 0; p < n; ++p) {
            for (int c = 0; c < 3; ++c) {
                const int m = 3 * p + c;
                EXPECT_EQ(out8[4 * p + c], m < values / 4 * 4 ? 3 : 2) << "width " << n << " m " << m;
                EXPECT_EQ(out32[4 * p + c], f[1][m]);
            }
            EXPECT_EQ(out8[4 * p + 3], 0x7F) << "width " << n;
            EXPECT_EQ(out32[4 * p + 3], -9.0f) << "width " << n;
        }
    }
}

// --- six-tap routines and Lanczos weights -------------------------------------

TEST(SixTapColumn, ConversionsRoundHalvesToEvenThenSaturate)
{
    struct Case {
        float value;
        int u8, u16, s16;
    } cases[] = {
        {255.5f, 255, 256, 256}, {2.5f, 2, 2, 2},         {3.5f, 4, 4, 4},          {-0.4f, 0, 0, 0},
        {70000.0f, 255, 65535, 32767}, {-3.0f, 0, 0, -3}, {-40000.0f, 0, 0, -32768}, {-2.5f, 0, 0, -2},
    };
    const float w[6] = {0, 0, 1, 0, 0, 0};
    for (const auto& c : cases) {
        alignas(16) float b[6][4];
        for (auto& buffer : b)
            std::fill(buffer, buffer + 4, c.value);
        std::uint8_t u8[4];
        std::uint16_t u16[4];
        std::int16_t s16[4];
        float f32[4];
        SixTapColumn_8u(u8, 4, w, b[0], b[1], b[2], b[3], b[4], b[5]);
        SixTapColumn_16u(u16, 4, w, b[0], b[1], b[2], b[3], b[4], b[5]);
        SixTapColumn_16s(s16, 4, w, b[0], b[1], b[2], b[3], b[4], b[5]);
        SixTapColumn_32f(f32, 4, w, b[0], b[1], b[2], b[3], b[4], b[5]);
        EXPECT_EQ(u8[3], c.u8) << c.value;
        EXPECT_EQ(u16[3], c.u16) << c.value;
        EXPECT_EQ(s16[3], c.s16) << c.value;
        EXPECT_EQ(f32[3], c.value);
    }
    // The sum runs w0 B0 first, w5 B5 last, in single precision.
    const float weights[6] = {1e8f, 1.0f, -1e8f, 0.25f, 0, 0};
    alignas(16) float ones[6][4];
    for (auto& buffer : ones)
        std::fill(buffer, buffer + 4, 1.0f);
    float f32[1];
    SixTapColumn_32f(f32, 1, weights, ones[0], ones[1], ones[2], ones[3], ones[4], ones[5]);
    EXPECT_EQ(f32[0], 0.25f);  // the 1 vanished into 1e8
}

TEST(SixTapColumn, Ac4KeepsAlpha)
{
    const float w[6] = {0.1f, 0.1f, 0.3f, 0.3f, 0.1f, 0.1f};
    alignas(16) float b[6][16];
    for (int k = 0; k < 6; ++k)
        for (int m = 0; m < 16; ++m)
            b[k][m] = static_cast<float>(10 * m + k);
    std::vector<std::uint8_t> out(20, 0x7F);
    SixTapColumn_8u_AC4(out.data(), 5, w, b[0], b[1], b[2], b[3], b[4], b[5]);
    for (int p = 0; p < 5; ++p) {
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(out[4 * p + c], 10 * (3 * p + c) + 2.5, 0.51);
        EXPECT_EQ(out[4 * p + 3], 0x7F);
    }
}

TEST(LanczosWeights, TableAndNormalisedTaps)
{
    const float* table = LanczosKernelTable();
    EXPECT_EQ(table[0], 1.0f);
    EXPECT_EQ(Bits(table[100]), 0u);
    EXPECT_EQ(Bits(table[200]), 0u);
    EXPECT_EQ(Bits(table[300]), 0u);
    EXPECT_EQ(table[301], 0.0f);
    EXPECT_LT(table[150], 0.0f);  // the first negative lobe
    EXPECT_NEAR(table[50], static_cast<float>(std::sin(M_PI / 2) / (M_PI / 2) * std::sin(M_PI / 6) / (M_PI / 6)),
                1e-7);

    const float fractions[5] = {0.0f, 0.5f, 0.25f, 0.999f, 1e-9f};
    alignas(16) float w[30];
    BuildLanczosWeights(fractions, 5, w, table);
    const float exact[6] = {0, 0, 1, 0, 0, 0};
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(w[k], exact[k]) << k;
    // Half way: symmetric about the middle of taps 2 and 3.
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(w[6 + k], w[6 + 5 - k]) << k;
    for (int p = 0; p < 5; ++p) {
        double sum = 0.0;
        for (int k = 0; k < 6; ++k)
            sum += w[6 * p + k];
        EXPECT_NEAR(sum, 1.0, 1e-6) << p;
    }
}

// --- Lanczos row kernels --------------------------------------------------------

// One row of 12 pixels; the region starts at pixel `left`, so R = 12 - left.
struct EdgeCase {
    const char* name;
    std::int32_t left;
    std::int32_t j;
    // The value as the kernel must form it, from the weights and S(x)
    // (pixels counted from the region's first).
    float (*expected)(const float* w, const float* s);
};

float S(const float* s, int x)
{
    return s[x];
}

const EdgeCase kEdgeCases[] = {
    {"left 0, j = 0", 0, 0,
     [](const float* w, const float* s) {
         float v = ((w[0] + w[1]) + w[2]) * S(s, 0);
         v = v + w[3] * S(s, 1);
         v = v + w[4] * S(s, 2);
         return v + w[5] * S(s, 3);
     }},
    {"left 0, j = 1", 0, 1,
     [](const float* w, const float* s) {
         float v = (w[0] + w[1]) * S(s, 0);
         for (int k = 2; k < 6; ++k)
             v = v + w[k] * S(s, k - 1);
         return v;
     }},
    {"left 1, j = 0", 1, 0,
     [](const float* w, const float* s) {
         float v = (w[0] + w[1]) * S(s, -1);
         for (int k = 2; k < 6; ++k)
             v = v + w[k] * S(s, k - 2);
         return v;
     }},
    {"left 5, j = 0 reads outside the region", 5, 0,
     [](const float* w, const float* s) {
         float v = w[0] * S(s, -2);
         for (int k = 1; k < 6; ++k)
             v = v + w[k] * S(s, k - 2);
         return v;
     }},
    {"left 0, j = R - 3", 0, 9,
     [](const float* w, const float* s) {
         float v = (w[4] + w[5]) * S(s, 11);
         v = v + w[3] * S(s, 10);
         v = v + w[0] * S(s, 7);
         v = v + w[1] * S(s, 8);
         return v + w[2] * S(s, 9);
     }},
    {"left 2, j = R - 3", 2, 7,
     [](const float* w, const float* s) {
         float v = (w[4] + w[5]) * S(s, 9);
         for (int k = 0; k < 4; ++k)
             v = v + w[k] * S(s, 5 + k);
         return v;
     }},
    {"left 0, j = R - 2", 0, 10,
     [](const float* w, const float* s) {
         float v = ((w[3] + w[4]) + w[5]) * S(s, 11);
         v = v + w[2] * S(s, 10);
         v = v + w[0] * S(s, 8);
         return v + w[1] * S(s, 9);
     }},
    {"left 3, j = R - 2", 3, 7,
     [](const float* w, const float* s) {
         float v = ((w[3] + w[4]) + w[5]) * S(s, 8);
         for (int k = 0; k < 3; ++k)
             v = v + w[k] * S(s, 5 + k);
         return v;
     }},
    {"right distance 1: j = R - 1", 11, 0,
     [](const float* w, const float* s) {
         float v = (((w[2] + w[3]) + w[4]) + w[5]) * S(s, 0);
         v = v + w[0] * S(s, -2);
         return v + w[1] * S(s, -1);
     }},
};

TEST(LanczosRowKernel, EdgeColumnsClampToTheImage)
{
    std::mt19937 rng(3);
    for (const auto& c : kEdgeCases) {
        for (int channels : {1, 3, 4}) {
            const int stride = channels == 1 ? 1 : 4;
            std::vector<float> image(12 * stride);
            for (auto& v : image)
                v = static_cast<float>(rng() % 1000) / 7.0f;
            const float* region = image.data() + c.left * stride;
            alignas(16) float w[6];
            const float fraction = static_cast<float>(rng() % 1000) / 1000.0f;
            BuildLanczosWeights(&fraction, 1, w, LanczosKernelTable());
            const std::int32_t column = c.j * stride;
            float out[8] = {};
            const std::int32_t right = 12 - c.left;
            if (channels == 1)
                LanczosRowKernel_32f_C1(region, 0, &column, w, out, 1, c.left, right);
            else if (channels == 3)
                LanczosRowKernel_32f_C3(region, 4, &column, w, out, 1, c.left, right);
            else
                LanczosRowKernel_32f_C4(region, 0, &column, w, out, 1, c.left, right);
            for (int ch = 0; ch < channels; ++ch) {
                std::vector<float> plane(12);
                for (int x = 0; x < 12; ++x)
                    plane[x] = image[x * stride + ch];
                EXPECT_EQ(Bits(out[ch]), Bits(c.expected(w, plane.data() + c.left)))
                    << c.name << ", " << channels << " channels, channel " << ch;
            }
        }
    }
}

TEST(LanczosRowKernel, ExactAndConstantRows)
{
    // A whole row of columns on their pixels (fraction 0) reproduces the row;
    // a constant row gives the constant everywhere, edges included.
    const int n = 10;
    std::uint8_t ramp[n], flat[n];
    for (int x = 0; x < n; ++x) {
        ramp[x] = static_cast<std::uint8_t>(25 * x + 3);
        flat[x] = 77;
    }
    std::vector<std::int32_t> columns(n);
    std::vector<float> fractions(n, 0.0f);
    for (int x = 0; x < n; ++x)
        columns[x] = x;
    alignas(16) float w[6 * n];
    BuildLanczosWeights(fractions.data(), n, w, LanczosKernelTable());
    float out[n + 4];
    LanczosRowKernel_8u_C1(ramp, 0, columns.data(), w, out, n, 0, n);
    for (int x = 0; x < n; ++x)
        EXPECT_EQ(out[x], ramp[x]) << x;
    for (int x = 0; x < n; ++x)
        fractions[x] = 0.1f * static_cast<float>(x);
    BuildLanczosWeights(fractions.data(), n, w, LanczosKernelTable());
    LanczosRowKernel_8u_C1(flat, 0, columns.data(), w, out, n, 0, n);
    for (int x = 0; x < n; ++x)
        EXPECT_NEAR(out[x], 77.0f, 1e-4) << x;
}

TEST(SixTapRow, ThreeChannelsAtStrideFourSkipAlpha)
{
    std::uint16_t src[40];
    for (int p = 0; p < 10; ++p)
        for (int c = 0; c < 4; ++c)
            src[4 * p + c] = static_cast<std::uint16_t>(c == 3 ? 60000 - 999 * p : 100 * p + c);
    const float w[6] = {0.0625f, 0.125f, 0.25f, 0.25f, 0.125f, 0.1875f};
    const std::int32_t column = 4 * 4;
    float out[4] = {-1, -1, -1, -1};
    SixTapRow_16u_C3(src, 4, &column, w, out, 1);
    for (int c = 0; c < 3; ++c) {
        float v = w[0] * src[8 + c];
        for (int k = 1; k < 6; ++k)
            v = v + w[k] * src[8 + 4 * k + c];
        EXPECT_EQ(Bits(out[c]), Bits(v)) << c;
    }
    EXPECT_EQ(out[3], -1.0f);

    // Signed samples convert with their sign; one channel, two columns.
    const std::int16_t signedRow[8] = {-32768, -5, 7, 32767, -1, 2, 100, -100};
    const std::int32_t at[2] = {2, 4};
    const float both[12] = {0, 0, 1, 0, 0, 0, 0.5f, 0.25f, 0.125f, 0.0625f, 0.03125f, 0.03125f};
    float one[2];
    SixTapRow_16s_C1(signedRow, 0, at, both, one, 2);
    EXPECT_EQ(one[0], 7.0f);
    float expected = 0.5f * 7.0f;
    for (int k = 1; k < 6; ++k)
        expected = expected + both[6 + k] * static_cast<float>(signedRow[2 + k]);
    EXPECT_EQ(Bits(one[1]), Bits(expected));
}

// --- the cubic ring and the Lanczos window -----------------------------------

// Kernel sets that record which source rows are interpolated (the first
// sample of a row is its number) and copied, and blend nothing.
struct Recorder {
    static inline std::vector<int> interpolated;
    static inline std::vector<std::vector<float>> windows;
};

struct RecordingCubic {
    using Sample = float;
    static void Row(const float* row, std::int32_t, std::int32_t, const std::int32_t*, const float*, float* out)
    {
        Recorder::interpolated.push_back(static_cast<int>(row[0]));
        out[0] = row[0];
    }
    static constexpr auto* Row1 = &Row;
    static constexpr auto* Row3 = &Row;
    static constexpr auto* Row4 = &Row;
    static void Column(float*, std::int32_t, const float*, const float* b0, const float* b1, const float* b2,
                       const float* b3)
    {
        Recorder::windows.push_back({b0[0], b1[0], b2[0], b3[0]});
    }
    static constexpr auto* ColumnAC4 = &Column;
};

struct RecordingLanczos {
    using Sample = float;
    static void Row(const float* row, std::int32_t, const std::int32_t*, const float*, float* out, std::int32_t,
                    std::int32_t, std::int32_t)
    {
        Recorder::interpolated.push_back(static_cast<int>(row[0]));
        out[0] = row[0];
    }
    static constexpr auto* Row1 = &Row;
    static constexpr auto* Row3 = &Row;
    static constexpr auto* Row4 = &Row;
    static void Column(float*, std::int32_t, const float*, const float* b0, const float* b1, const float* b2,
                       const float* b3, const float* b4, const float* b5)
    {
        Recorder::windows.push_back({b0[0], b1[0], b2[0], b3[0], b4[0], b5[0]});
    }
    static constexpr auto* ColumnAC4 = &Column;
};

// A column of source rows whose first sample is the row number, from -4 to
// 19, at a given step (the first element of a row; a step of 0 stores row 0).
struct NumberedRows {
    std::vector<float> storage = std::vector<float>(2048, -99.0f);
    float* origin = storage.data() + 1024;
    explicit NumberedRows(std::int32_t step)
    {
        for (int j = -4; j < 20; ++j)
            origin[j * step] = step == 0 ? 0.0f : static_cast<float>(j);
    }
};

struct CubicRingCase {
    const char* name;
    std::int32_t step;
    std::vector<int> rowNumbers;
    std::vector<int> expectedInterpolated;
};

TEST(CubicRing, InterpolatesEachRowOncePerWindow)
{
    const CubicRingCase cases[] = {
        {"enlarge by 2", 40, {1, 1, 2, 2, 3}, {0, 1, 2, 3, 4, 5}},
        {"reduce by more than 4", 40, {1, 6, 11}, {0, 1, 2, 3, 5, 6, 7, 8, 10, 11, 12, 13}},
        {"move by 2", 40, {1, 3}, {0, 1, 2, 3, 4, 5}},
        {"bottom-up", -40, {1, 1, 2, 4}, {0, 1, 2, 3, 4, 5, 6}},
        {"step 0", 0, {0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        NumberedRows rows(c.step);
        std::vector<std::int32_t> offsets;
        for (int r : c.rowNumbers)
            offsets.push_back(r * c.step);
        std::vector<float> weights(offsets.size()), out(offsets.size());
        float b[4][1];
        const std::int32_t column = 0;
        Recorder::interpolated.clear();
        Recorder::windows.clear();
        ResizeCubic<RecordingCubic, true>(rows.origin, out.data(), c.step, 1, 1,
                                          static_cast<std::int32_t>(offsets.size()), offsets.data(), &column,
                                          weights.data(), weights.data(), b[0], b[1], b[2], b[3], 0, 0);
        EXPECT_EQ(Recorder::interpolated, c.expectedInterpolated) << c.name;
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            const float j = c.step == 0 ? 0.0f : static_cast<float>(c.rowNumbers[i]);
            const std::vector<float> want = c.step == 0 ? std::vector<float>{0, 0, 0, 0}
                                                        : std::vector<float>{j - 1, j, j + 1, j + 2};
            EXPECT_EQ(Recorder::windows[i], want) << c.name << " row " << i;
        }
    }
}

struct WindowCase {
    const char* name;
    std::int32_t step;
    std::int32_t top, bottom;  // distances of the region's first row
    std::vector<int> rowNumbers;
};

// Both paths give every destination row the window j - 2 .. j + 3 clamped to
// the image rows -top .. bottom - 1.
TEST(LanczosWindow, SlidingAndGeneralPathsHoldTheClampedWindow)
{
    const WindowCase cases[] = {
        {"8 rows enlarged, whole image", 40, 0, 8, {0, 0, 1, 1, 2, 3, 3, 4, 5, 5, 6, 6, 7, 7}},
        {"top distance 1", 40, 1, 7, {0, 0, 1, 2, 2, 3, 4, 5, 6}},
        {"top distance 2", 40, 2, 6, {0, 1, 1, 2, 3, 4, 5}},
        {"region ends above the last row", 40, 0, 12, {0, 1, 2, 3, 4, 5, 6, 7}},
        {"bottom-up", -40, 0, 9, {0, 1, 1, 2, 3, 4, 5, 6, 7, 8}},
        {"reduce", 40, 0, 19, {0, 2, 5, 11, 18}},
        {"step 0", 0, 0, 8, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        NumberedRows rows(c.step);
        std::vector<std::int32_t> offsets;
        for (int r : c.rowNumbers)
            offsets.push_back(r * c.step);
        bool advancesByOne = true;
        for (std::size_t i = 1; i < c.rowNumbers.size(); ++i)
            advancesByOne = advancesByOne && c.rowNumbers[i] - c.rowNumbers[i - 1] <= 1;
        std::vector<std::vector<float>> seen[2];
        std::vector<int> interpolated[2];
        for (int flag = 0; flag < (advancesByOne ? 2 : 1); ++flag) {
            std::vector<float> weights(6 * offsets.size()), out(offsets.size());
            float b[6][1];
            const std::int32_t column = 0;
            Recorder::interpolated.clear();
            Recorder::windows.clear();
            ResizeLanczos<RecordingLanczos, true>(rows.origin, out.data(), c.step, 1, 1,
                                                  static_cast<std::int32_t>(offsets.size()), offsets.data(), &column,
                                                  weights.data(), weights.data(), b[0], b[1], b[2], b[3], b[4],
                                                  b[5], 0, c.top, 8, c.bottom, flag, 0, 0);
            seen[flag] = Recorder::windows;
            interpolated[flag] = Recorder::interpolated;
        }
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            std::vector<float> want;
            for (int k = -2; k <= 3; ++k)
                want.push_back(c.step == 0 ? 0.0f
                                           : static_cast<float>(std::clamp(c.rowNumbers[i] + k, -c.top, c.bottom - 1)));
            EXPECT_EQ(seen[0][i], want) << c.name << " general path, row " << i;
            if (advancesByOne) {
                EXPECT_EQ(seen[1][i], want) << c.name << " sliding path, row " << i;
            }
        }
        // Away from the bottom edge each row is interpolated once; below it
        // the sliding path copies where the general path interpolates.
        if (std::string(c.name) == "region ends above the last row") {
            EXPECT_EQ(interpolated[0], (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
            EXPECT_EQ(interpolated[1], interpolated[0]);
        }
        if (advancesByOne && c.step != 0) {
            EXPECT_LE(interpolated[1].size(), interpolated[0].size()) << c.name;
        }
    }
}

// The real filters: an enlargement by both paths, bytes equal; a sharp step
// overshoots in the buffers and saturates in the destination.
TEST(ResizeLanczos, PathsAgreeOnRealRowsAndOvershootSaturates)
{
    const int sw = 12, sh = 9, dw = 29, dh = 31;
    std::vector<std::uint8_t> src(sw * sh);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x)
            src[y * sw + x] = static_cast<std::uint8_t>((x < 6) == (y < 5) ? 0 : 255);
    auto axis = [](int count, int region, int multiplier, std::vector<std::int32_t>& index,
                   std::vector<float>& weights) {
        std::vector<float> fractions(count);
        const double step = (region - 1) / (count - 1.0);
        for (int i = 0; i < count; ++i) {
            const double position = i * step;
            const int k = std::min(static_cast<int>(position + 1e-7), region - 1);
            index.push_back(k * multiplier);
            fractions[i] = static_cast<float>(position - k);
        }
        weights.resize(6 * count);
        BuildLanczosWeights(fractions.data(), count, weights.data(), LanczosKernelTable());
    };
    std::vector<std::int32_t> rows, columns;
    std::vector<float> rowWeights, columnWeights;
    axis(dh, sh, sw, rows, rowWeights);
    axis(dw, sw, 1, columns, columnWeights);
    std::vector<std::vector<float>> buffers(6, std::vector<float>(dw + 4));
    std::vector<std::uint8_t> out[2];
    for (int flag = 0; flag < 2; ++flag) {
        out[flag].assign(dw * dh, 0x33);
        ResizeLanczos_8u_C1(src.data(), out[flag].data(), sw, dw, dw, dh, rows.data(), columns.data(),
                            rowWeights.data(), columnWeights.data(), buffers[0].data(), buffers[1].data(),
                            buffers[2].data(), buffers[3].data(), buffers[4].data(), buffers[5].data(), 0, 0, sw, sh,
                            flag, 1, 1);
    }
    EXPECT_EQ(out[0], out[1]);
    // Next to the step the horizontal sums leave 0..255; the column routine
    // saturates them.
    const float w[6] = {0, 0, 1, 0, 0, 0};
    float row[dw + 4];
    LanczosRowKernel_8u_C1(src.data(), 0, columns.data(), columnWeights.data(), row, dw, 0, sw);
    EXPECT_LT(*std::min_element(row, row + dw), 0.0f);
    EXPECT_GT(*std::max_element(row, row + dw), 255.0f);
    std::uint8_t saturated[dw];
    SixTapColumn_8u(saturated, dw, w, row, row, row, row, row, row);
    for (int x = 0; x < dw; ++x)
        EXPECT_EQ(saturated[x], static_cast<std::uint8_t>(std::clamp(std::nearbyint(row[x]), 0.0f, 255.0f))) << x;
}

// --- through the driver ------------------------------------------------------

// Source rows of constant value, so the vertical pass alone shows which rows
// a destination row used.
TEST(ResizeLanczos, EightByEightEnlargedFourTimesClampsTheEdgeRows)
{
    const float values[8] = {100, 200, 10, 90, 30, 250, 5, 120};
    std::vector<float> src(8 * 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            src[y * 8 + x] = values[y];
    std::vector<float> dst(32 * 32, -1.0f);
    ImageRect roi{0, 0, 8, 8};
    ASSERT_EQ(ResizeInterpolated(src.data(), 8, 8, 32, &roi, dst.data(), 32 * 4, {32, 32}, 4.0, 4.0, 1, 1,
                                 ResizeSampleType::F32, false, ResizeMode::Lanczos),
              0);
    const double step = 7.0 / 31.0;
    for (int i = 0; i < 32; ++i) {
        const double position = i * step;
        const int j = std::min(static_cast<int>(position + 1e-7), 7);
        const float fraction = static_cast<float>(position - j);
        alignas(16) float w[6];
        BuildLanczosWeights(&fraction, 1, w, LanczosKernelTable());
        double clamped = 0.0, zeroPadded = 0.0;
        for (int k = 0; k < 6; ++k) {
            const int row = j - 2 + k;
            clamped += w[k] * values[std::clamp(row, 0, 7)];
            zeroPadded += (row >= 0 && row < 8) ? w[k] * values[row] : 0.0;
        }
        for (int x = 0; x < 32; ++x)
            ASSERT_NEAR(dst[i * 32 + x], clamped, 1e-3) << "row " << i << " column " << x;
        if ((j < 2 || j > 4) && fraction > 0.05f && fraction < 0.95f) {
            EXPECT_GT(std::abs(clamped - zeroPadded), 1e-3) << "row " << i << " is an edge row";
        }
    }
}

// Cubic on a 10-row image: the window moves inside the image at both edges.
TEST(ResizeCubic, TenRowEdgeWindows)
{
    const float values[10] = {3, 50, 20, 80, 7, 64, 0, 33, 90, 11};
    std::vector<float> src(4 * 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 4; ++x)
            src[y * 4 + x] = values[y];
    const int h = 23;
    std::vector<float> dst(4 * h, -1.0f);
    ImageRect roi{0, 0, 4, 10};
    ASSERT_EQ(ResizeInterpolated(src.data(), 4, 10, 16, &roi, dst.data(), 16, {4, h}, 1.0, 2.3, 1, 1,
                                 ResizeSampleType::F32, false, ResizeMode::Cubic),
              0);
    auto lagrange = [](const float* p, double t) {
        return -t * (t - 1) * (t - 2) / 6 * p[0] + (t + 1) * (t - 1) * (t - 2) / 2 * p[1] -
               (t + 1) * t * (t - 2) / 2 * p[2] + (t + 1) * t * (t - 1) / 6 * p[3];
    };
    const double step = 9.0 / (h - 1);
    int seen[10] = {};
    for (int i = 0; i < h; ++i) {
        const double position = i * step;
        const int k = std::min(static_cast<int>(position + 1e-7), 9);
        const double f = position - k;
        const int first = k == 0 ? 0 : (k >= 8 ? 6 : k - 1);
        const double t = k == 0 ? f - 1 : (k == 9 ? 2.0 : (k == 8 ? f + 1 : f));
        ++seen[k];
        EXPECT_NEAR(dst[i * 4], lagrange(values + first, t), 1e-3) << "row " << i << " on image row " << k;
    }
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[8], 0);
    EXPECT_EQ(seen[9], 1);
}

// Step 0 reads the one source row for every row of the window (the table
// holds no row numbers then); a bottom-up source equals its top-down twin.
TEST(ResizeCubicLanczos, ZeroAndNegativeSourceSteps)
{
    std::mt19937 rng(8);
    const int w = 11, h = 9;
    std::vector<std::uint8_t> src(w * h), flipped(w * h), repeated(w * h);
    for (auto& v : src)
        v = static_cast<std::uint8_t>(rng());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            flipped[(h - 1 - y) * w + x] = src[y * w + x];
            repeated[y * w + x] = src[x];
        }
    for (std::int32_t mode : {ResizeMode::Cubic, ResizeMode::Lanczos})
        for (const double yFactor : {0.4, 1.0, 2.5}) {
            const int dw = 17, dh = 20;
            std::vector<std::uint8_t> a(dw * dh, 0x5A), b = a, c = a, d = a;
            ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {w, h}, w, {0, 0, w, h}, a.data(), dw, {dw, dh}, 1.5, yFactor,
                                         mode),
                      0);
            ASSERT_EQ(ResizePlane_8u_C1R(flipped.data() + (h - 1) * w, {w, h}, -w, {0, 0, w, h}, b.data(), dw,
                                         {dw, dh}, 1.5, yFactor, mode),
                      0);
            EXPECT_EQ(a, b) << "mode " << mode << " y factor " << yFactor;
            ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {w, h}, 0, {0, 0, w, h}, c.data(), dw, {dw, dh}, 1.5, yFactor,
                                         mode),
                      0);
            ASSERT_EQ(ResizePlane_8u_C1R(repeated.data(), {w, h}, w, {0, 0, w, h}, d.data(), dw, {dw, dh}, 1.5,
                                         yFactor, mode),
                      0);
            EXPECT_EQ(c, d) << "step 0, mode " << mode << " y factor " << yFactor;
        }
}

#if GAVEX_RESIZE_HAS_SIMD
// The vector bodies against their portable twins on values that sit on
// rounding edges, overshoot both ends or are not numbers, every count.
#if GAVEX_RESIZE_HAS_SIMD
// The AVX2 one-channel cubic row, alone and two rows a pass, against the
// portable kernel: columns 1.5 apart (the shuffle path), columns too far
// apart for one load (the SSE2 body), widths around the eight-column step.
TEST(CubicRowKernel, Avx2RowsAndRowPairsGiveThePortableBits)
{
    if (!__builtin_cpu_supports("avx2"))
        GTEST_SKIP() << "no AVX2";
    std::mt19937 rng(41);
    for (const int spacing : {3, 40})  // in half pixels
        for (const std::int32_t n : {1, 7, 8, 9, 16, 23, 640}) {
            SCOPED_TRACE("spacing " + std::to_string(spacing) + "/2, width " + std::to_string(n));
            const std::size_t length = static_cast<std::size_t>(n) * spacing / 2 + 8;
            std::vector<std::uint8_t> first(length), second(length);
            for (auto& v : first)
                v = static_cast<std::uint8_t>(rng());
            for (auto& v : second)
                v = static_cast<std::uint8_t>(rng());
            std::vector<std::int32_t> columns(n);
            std::vector<float> t(n);
            for (std::int32_t c = 0; c < n; ++c) {
                columns[c] = 1 + c * spacing / 2;
                t[c] = c % 7 == 0 ? 0.0f : static_cast<float>(rng() % 3000) / 1000.0f - 1.0f;
            }
            std::vector<float> want1(n), want2(n), one(n), pair1(n), pair2(n);
            CubicRowKernel_8u_C1(first.data(), n, 1, columns.data(), t.data(), want1.data());
            CubicRowKernel_8u_C1(second.data(), n, 1, columns.data(), t.data(), want2.data());
            CubicRowKernel_8u_C1_Avx2(first.data(), n, 1, columns.data(), t.data(), one.data());
            CubicRowPairKernel_8u_C1_Avx2(first.data(), second.data(), n, 1, columns.data(), t.data(), pair1.data(),
                                          pair2.data());
            for (std::int32_t c = 0; c < n; ++c) {
                ASSERT_EQ(Bits(one[c]), Bits(want1[c])) << "alone, column " << c;
                ASSERT_EQ(Bits(pair1[c]), Bits(want1[c])) << "pair, first row, column " << c;
                ASSERT_EQ(Bits(pair2[c]), Bits(want2[c])) << "pair, second row, column " << c;
            }
        }
}
#endif

TEST(CubicLanczosVectorBodies, GiveThePortableBits)
{
    std::mt19937 rng(26);
    const float special[] = {2.49999976f, 2.5f, 3.5f, 254.5f, 255.5f, -0.4f, -0.6f, 300.0f, -7.0f, 1e10f, -1e10f,
                             std::numeric_limits<float>::quiet_NaN(), 0.49999997f, 127.5f};
    auto value = [&] {
        return rng() % 3 == 0 ? special[rng() % std::size(special)]
                              : std::ldexp(static_cast<float>(static_cast<int>(rng() % 80000) - 10000), -8);
    };
    for (std::int32_t n = 1; n <= 37; ++n) {
        std::vector<float> b[6];
        for (auto& buffer : b) {
            buffer.resize(n);
            for (auto& v : buffer)
                v = value();
        }
        // Even counts pass the buffer values through unchanged.
        if (n % 2 == 0)
            for (auto& buffer : b)
                buffer = b[0];
        const float t = n % 2 == 0 ? 0.0f : static_cast<float>(rng() % 3000) / 1000.0f - 1.0f;
        float w[6] = {0, 0, 1, 0, 0, 0};
        if (n % 2 != 0)
            for (auto& x : w)
                x = static_cast<float>(static_cast<int>(rng() % 2000) - 500) / 1000.0f;
        std::vector<std::uint8_t> ours(n), theirs(n);
        CubicColumnKernel_8u_Sse2(ours.data(), n, &t, b[0].data(), b[1].data(), b[2].data(), b[3].data());
        CubicColumnKernel_8u(theirs.data(), n, &t, b[0].data(), b[1].data(), b[2].data(), b[3].data());
        EXPECT_EQ(ours, theirs) << "cubic column, count " << n;
        SixTapColumn_8u_Sse2(ours.data(), n, w, b[0].data(), b[1].data(), b[2].data(), b[3].data(), b[4].data(),
                             b[5].data());
        SixTapColumn_8u(theirs.data(), n, w, b[0].data(), b[1].data(), b[2].data(), b[3].data(), b[4].data(),
                        b[5].data());
        EXPECT_EQ(ours, theirs) << "six-tap column, count " << n;

        // Rows: n columns over a row of 4 x (n + 12) bytes.
        std::vector<std::uint8_t> row(4 * (n + 12));
        for (auto& v : row)
            v = static_cast<std::uint8_t>(rng());
        std::vector<std::int32_t> columns(n);
        std::vector<float> fractions(n), weights(6 * n);
        for (int c = 0; c < n; ++c) {
            columns[c] = 4 * (2 + static_cast<int>(rng() % (n + 8)));
            fractions[c] = static_cast<float>(rng() % 3000) / 1000.0f - 1.0f;
        }
        std::sort(columns.begin(), columns.end());
        BuildLanczosWeights(fractions.data(), n, weights.data(), LanczosKernelTable());
        std::vector<float> a(4 * n), e(4 * n);
        CubicRowKernel_8u_C4_Sse2(row.data(), n, 4, columns.data(), fractions.data(), a.data());
        CubicRowKernel_8u_C4(row.data(), n, 4, columns.data(), fractions.data(), e.data());
        for (int i = 0; i < 4 * n; ++i)
            ASSERT_EQ(Bits(a[i]), Bits(e[i])) << "cubic row, count " << n << " at " << i;
        const std::int32_t right = n + 12;
        for (const std::int32_t left : {0, 1, 5}) {
            Lanczos8uSse2Kernels::Row4(row.data(), 4, columns.data(), weights.data(), a.data(), n, left, right);
            LanczosRowKernel_8u_C4(row.data(), 4, columns.data(), weights.data(), e.data(), n, left, right);
            for (int i = 0; i < 4 * n; ++i)
                ASSERT_EQ(Bits(a[i]), Bits(e[i])) << "Lanczos row, count " << n << " left " << left << " at " << i;
        }
        // One channel: the same row read as 4 x (n + 12) one-byte pixels, the
        // region starting at pixel 5.
        std::vector<std::int32_t> pixels(n);
        for (int c = 0; c < n; ++c)
            pixels[c] = 1 + static_cast<int>(rng() % (4 * n + 40));
        std::sort(pixels.begin(), pixels.end());
        CubicRowKernel_8u_C1_Sse2(row.data(), n, 1, pixels.data(), fractions.data(), a.data());
        CubicRowKernel_8u_C1(row.data(), n, 1, pixels.data(), fractions.data(), e.data());
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(Bits(a[i]), Bits(e[i])) << "one-channel cubic row, count " << n << " at " << i;
        for (const std::int32_t left : {0, 1, 5}) {
            const std::uint8_t* region = row.data() + 5;
            Lanczos8uSse2Kernels::Row1(region, 0, pixels.data(), weights.data(), a.data(), n, left, 4 * n + 43);
            LanczosRowKernel_8u_C1(region, 0, pixels.data(), weights.data(), e.data(), n, left, 4 * n + 43);
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(Bits(a[i]), Bits(e[i])) << "one-channel Lanczos row, count " << n << " at " << i;
        }
    }
}
#endif

}  // namespace
