// The extended linear, four-tap and extended Lanczos filters and their
// kernels: the worked conversions, and every filter of the three tables over
// sample type x layout against an exact double model of its weighted sums,
// with tables a caller builds (taps reaching every image edge), bottom-up
// sources, kept alpha, planes and every processor slot.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "ResizeTestSupport.h"
#include "SlotSweep.h"
#include "imaging/primitives/resize/detail/ExtendedFilters.h"

namespace {

using namespace resize_detail;
using namespace primitives_test;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// --- worked conversions ------------------------------------------------------

struct ConversionCase {
    float value;
    int u8, u16, s16;
};

// The extended linear column kernels: fraction 0 writes the upper row,
// rounded by adding 0.50000012 (away from zero for 16s) and truncating.
TEST(LinearColumnKernelExt, RoundsAndSaturatesSixteenBitSamples)
{
    const ConversionCase cases[] = {
        {1.5f, 0, 2, 2},          {65534.6f, 0, 65535, 32767}, {-3.7f, 0, 0, -4},       {2.5f, 0, 3, 3},
        {-2.5f, 0, 0, -3},        {-0.4f, 0, 0, 0},            {40000.0f, 0, 40000, 32767}, {-40000.0f, 0, 0, -32768},
        {-0.5f, 0, 0, -1},        {3e9f, 0, 65535, 32767},     {-3e9f, 0, 0, -32768},    {kNaN, 0, 0, 0},
    };
    for (const auto& c : cases) {
        alignas(16) float upper[9], lower[9];
        std::fill(upper, upper + 9, c.value);
        std::fill(lower, lower + 9, 12345.0f);
        std::uint16_t u16[9];
        std::int16_t s16[9];
        LinearColumnKernelExt_16u(u16, 9, 0.0f, upper, lower);
        LinearColumnKernelExt_16s(s16, 9, 0.0f, upper, lower);
        for (int k = 0; k < 9; ++k) {
            EXPECT_EQ(u16[k], c.u16) << c.value << " at " << k;
            EXPECT_EQ(s16[k], c.s16) << c.value << " at " << k;
        }
    }
    // 16s extremes blended at one half: -0.5, rounded away from zero.
    const std::int16_t extremes[2] = {-32768, 32767};
    const std::int32_t column = 0;
    const float half = 0.5f;
    alignas(16) float row[4];
    LinearRowKernelExt_16s_C1(extremes, 1, 1, &column, &half, row);
    EXPECT_EQ(row[0], -0.5f);
    std::int16_t out = 0;
    LinearColumnKernelExt_16s(&out, 1, 0.0f, row, row);
    EXPECT_EQ(out, -1);
    // Fraction 0 gives the left sample, 1 the right one, exactly.
    const std::uint16_t pair[2] = {7, 65535};
    const float zeroOne[2] = {0.0f, 1.0f};
    const std::int32_t same[2] = {0, 0};
    LinearRowKernelExt_16u_C1(pair, 2, 1, same, zeroOne, row);
    EXPECT_EQ(row[0], 7.0f);
    EXPECT_EQ(row[1], 65535.0f);
}

// Four-tap and six-tap columns: nearest with ties to even, saturated; a sum
// beyond the 32-bit range saturates to its own end, and NaN gives 0.
TEST(FourAndSixTapColumns, RoundHalvesToEvenAndClampBeforeConverting)
{
    const ConversionCase cases[] = {
        {2.5f, 2, 2, 2},      {3.5f, 4, 4, 4},         {255.5f, 255, 256, 256},   {300.0f, 255, 300, 300},
        {-0.4f, 0, 0, 0},     {-7.0f, 0, 0, -7},       {65534.5f, 255, 65534, 32767}, {70000.0f, 255, 65535, 32767},
        {-2.5f, 0, 0, -2},    {-32768.7f, 0, 0, -32768}, {40000.0f, 255, 40000, 32767}, {3e9f, 255, 65535, 32767},
        {-3e9f, 0, 0, -32768}, {kNaN, 0, 0, 0},
    };
    const float four[4] = {0, 1, 0, 0};
    const float six[6] = {0, 0, 1, 0, 0, 0};
    for (const auto& c : cases) {
        alignas(16) float b[6][5];
        for (auto& buffer : b)
            std::fill(buffer, buffer + 5, c.value);
        std::uint8_t u8[5];
        std::uint16_t u16[5];
        std::int16_t s16[5];
        FourTapColumnKernel_8u(u8, 5, four, b[0], b[1], b[2], b[3]);
        FourTapColumnKernel_16u(u16, 5, four, b[0], b[1], b[2], b[3]);
        FourTapColumnKernel_16s(s16, 5, four, b[0], b[1], b[2], b[3]);
        EXPECT_EQ(u8[4], c.u8) << "four-tap " << c.value;
        EXPECT_EQ(u16[4], c.u16) << "four-tap " << c.value;
        EXPECT_EQ(s16[4], c.s16) << "four-tap " << c.value;
        SixTapColumn_8u(u8, 5, six, b[0], b[1], b[2], b[3], b[4], b[5]);
        SixTapColumn_16u(u16, 5, six, b[0], b[1], b[2], b[3], b[4], b[5]);
        SixTapColumn_16s(s16, 5, six, b[0], b[1], b[2], b[3], b[4], b[5]);
        EXPECT_EQ(u8[4], c.u8) << "six-tap " << c.value;
        EXPECT_EQ(u16[4], c.u16) << "six-tap " << c.value;
        EXPECT_EQ(s16[4], c.s16) << "six-tap " << c.value;
    }
    // Float sums are stored as they are, overshoot included.
    alignas(16) float b[4][1] = {{-3.5f}, {-3.5f}, {-3.5f}, {-3.5f}};
    float f32 = 0;
    FourTapColumnKernel_32f(&f32, 1, four, b[0], b[1], b[2], b[3]);
    EXPECT_EQ(f32, -3.5f);
    alignas(16) double d[4][1] = {{300.25}, {300.25}, {300.25}, {300.25}};
    const double fourD[4] = {0, 1, 0, 0};
    double f64 = 0;
    FourTapColumnKernel_64f(&f64, 1, fourD, d[0], d[1], d[2], d[3]);
    EXPECT_EQ(f64, 300.25);
}

// The 64f six-tap routines add in their fixed orders, odd widths included,
// and the weights (0, 0, 1, 0, 0, 0) copy exactly.
TEST(SixTap64f, FixedOrdersOnOddWidthsAndCopies)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> value(-1e6, 1e6);
    for (std::int32_t n : {1, 3, 5}) {
        std::vector<double> src(6 * 4 * (n + 2));
        for (auto& v : src)
            v = value(rng);
        std::vector<std::int32_t> columns(n);
        alignas(16) double weights[6 * 5], copy[6 * 5];
        for (std::int32_t c = 0; c < n; ++c) {
            columns[c] = 4 * (2 + c);
            for (int k = 0; k < 6; ++k) {
                weights[6 * c + k] = value(rng) * 1e-6;
                copy[6 * c + k] = k == 2 ? 1.0 : 0.0;
            }
        }
        alignas(16) double out[4 * 5];
        SixTapRow_64f_C1(src.data(), 1, columns.data(), weights, out, n);
        for (std::int32_t c = 0; c < n; ++c) {
            const double* s = src.data() + columns[c] - 2;
            const double* w = weights + 6 * c;
            double p[6];
            for (int k = 0; k < 6; ++k)
                p[k] = w[k] * s[k];
            EXPECT_EQ(out[c], ((p[0] + p[2]) + p[4]) + ((p[1] + p[3]) + p[5])) << n;
        }
        SixTapRow_64f_C3(src.data(), 4, columns.data(), copy, out, n);
        for (std::int32_t c = 0; c < n; ++c)
            for (int ch = 0; ch < 3; ++ch)
                EXPECT_EQ(out[3 * c + ch], src[columns[c] + ch]) << n;
        SixTapRow_64f_C4(src.data(), 4, columns.data(), copy, out, n);
        for (std::int32_t c = 0; c < n; ++c)
            for (int ch = 0; ch < 4; ++ch)
                EXPECT_EQ(out[4 * c + ch], src[columns[c] + ch]) << n;

        alignas(16) double b[6][16];
        for (auto& buffer : b)
            for (auto& v : buffer)
                v = value(rng);
        const double* w = weights;
        double dst[20];
        SixTapColumn_64f(dst, n, w, b[0], b[1], b[2], b[3], b[4], b[5]);
        for (std::int32_t k = 0; k < n; ++k)
            EXPECT_EQ(dst[k], ((w[0] * b[0][k] + w[1] * b[1][k]) + (w[2] * b[2][k] + w[3] * b[3][k])) +
                                  (w[4] * b[4][k] + w[5] * b[5][k]));
        std::fill(dst, dst + 20, -1.25);
        SixTapColumn_64f_AC4(dst, n, copy, b[0], b[1], b[2], b[3], b[4], b[5]);
        for (std::int32_t p = 0; p < n; ++p) {
            for (int ch = 0; ch < 3; ++ch)
                EXPECT_EQ(dst[4 * p + ch], b[2][3 * p + ch]);
            EXPECT_EQ(dst[4 * p + 3], -1.25);
        }
    }
}

// A count of 0 or less writes nothing.
TEST(ExtendedKernels, CountsOfZeroOrLessWriteNothing)
{
    const std::int32_t columns[1] = {4};
    const float w[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    const double wd[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    const std::uint16_t s16[16] = {};
    const double s64[16] = {};
    alignas(16) float b[8] = {};
    alignas(16) double bd[8] = {};
    for (std::int32_t n : {0, -1, -7}) {
        alignas(16) float fo[8];
        alignas(16) double dout[8];
        std::uint16_t u16[8];
        std::fill(fo, fo + 8, 9.0f);
        std::fill(dout, dout + 8, 9.0);
        std::fill(u16, u16 + 8, 9);
        LinearRowKernelExt_16u_C1(s16, n, 1, columns, w, fo);
        LinearRowKernelExt_16u_C3(s16, n, 4, columns, w, fo);
        LinearColumnKernelExt_16u(u16, n, 0.5f, b, b);
        LinearColumnKernelExt_16u_AC4(u16, n, 0.5f, b, b);
        FourTapRowKernel_16u_C4(s16, n, 4, columns, w, fo);
        FourTapColumnKernel_16u(u16, n, w, b, b, b, b);
        FourTapColumnKernel_16u_AC4(u16, n, w, b, b, b, b);
        FourTapRowKernel_64f_C3(s64, n, 3, columns, wd, dout);
        SixTapRow_64f_C1(s64, 1, columns, wd, dout, n);
        SixTapColumn_64f(dout, n, wd, bd, bd, bd, bd, bd, bd);
        SixTapColumn_64f_AC4(dout, n, wd, bd, bd, bd, bd, bd, bd);
        for (int k = 0; k < 8; ++k) {
            EXPECT_EQ(fo[k], 9.0f) << n;
            EXPECT_EQ(dout[k], 9.0) << n;
            EXPECT_EQ(u16[k], 9) << n;
        }
    }
}

// --- the filters on caller-built tables --------------------------------------

enum class Family { Linear, FourTap, SixTap };
enum class Weights { Identity, Shaped, Random };

const char* NameOf(Family f)
{
    return f == Family::Linear ? "extended linear" : (f == Family::FourTap ? "four-tap" : "extended Lanczos");
}

// Taps of a family: the first relative to the index, how many.
int FirstTap(Family f) { return f == Family::Linear ? 0 : (f == Family::FourTap ? -1 : -2); }
int TapCount(Family f) { return f == Family::Linear ? 2 : (f == Family::FourTap ? 4 : 6); }

struct TypeCase {
    const char* name;
    int typeIndex;  // 0 8u, 1 16u, 2 32f, 3 16s, 4 64f
    int bytes;
    double lo, hi;  // sample range (floats: the range of the random samples)
    bool integer;
};

const TypeCase kTypes[] = {
    {"8u", 0, 1, 0, 255, true},          {"16u", 1, 2, 0, 65535, true},   {"32f", 2, 4, -1000, 1000, false},
    {"16s", 3, 2, -32768, 32767, true}, {"64f", 4, 8, -1000, 1000, false},
};

struct LayoutCase {
    const char* name;
    int stride;
    int channels;
};

const LayoutCase kFilterLayouts[] = {{"C1", 1, 1}, {"C3", 3, 3}, {"AC4", 4, 3}, {"C4", 4, 4}};

double Load(const std::uint8_t* p, int type)
{
    switch (type) {
    case 0:
        return *p;
    case 1: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case 3: {
        std::int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case 2: {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    default: {
        double v;
        std::memcpy(&v, p, 8);
        return v;
    }
    }
}

void Store(std::uint8_t* p, int type, double value)
{
    switch (type) {
    case 0:
        *p = static_cast<std::uint8_t>(value);
        break;
    case 1: {
        const auto v = static_cast<std::uint16_t>(value);
        std::memcpy(p, &v, 2);
        break;
    }
    case 3: {
        const auto v = static_cast<std::int16_t>(value);
        std::memcpy(p, &v, 2);
        break;
    }
    case 2: {
        const auto v = static_cast<float>(value);
        std::memcpy(p, &v, 4);
        break;
    }
    default:
        std::memcpy(p, &value, 8);
    }
}

struct AlignedBytes {
    struct Free {
        void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t(32)); }
    };
    std::unique_ptr<std::uint8_t[], Free> data;
    explicit AlignedBytes(std::size_t n)
        : data(static_cast<std::uint8_t*>(::operator new[](std::max<std::size_t>(n, 1), std::align_val_t(32))))
    {
        std::memset(data.get(), 0xA5, n);
    }
};

// Axis taps: an index (in pixels or rows) and the weights of its taps, as the
// filter stores them and as exact doubles.
struct AxisTable {
    std::vector<int> index;
    std::vector<double> weights;  // TapCount per entry
};

std::vector<double> ShapedWeights(Family f, double t)
{
    if (f == Family::Linear)
        return {1.0 - t, t};
    if (f == Family::FourTap)
        return {-t * (t - 1) * (t - 2) / 6, (t + 1) * (t - 1) * (t - 2) / 2, -(t + 1) * t * (t - 2) / 2,
                (t + 1) * t * (t - 1) / 6};
    alignas(16) float w[6];
    const float ft = static_cast<float>(t);
    BuildLanczosWeights(&ft, 1, w, LanczosKernelTable());
    return {w[0], w[1], w[2], w[3], w[4], w[5]};
}

// n entries over an extent of size pixels: the first entry's window starts at
// the first pixel, the last entry's window ends at the last; in between the
// index advances by `step` pixels per entry (kept monotonic).
AxisTable BuildAxis(std::mt19937& rng, Family f, Weights mode, int n, int size, double step, bool eightBit,
                    bool floatWeights)
{
    AxisTable a;
    const int lo = -FirstTap(f);
    const int hi = size - TapCount(f) - FirstTap(f);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_real_distribution<double> wild(-0.5, 1.5);
    for (int i = 0; i < n; ++i) {
        const int j = i == n - 1 ? hi : std::min(hi, lo + static_cast<int>(i * step));
        a.index.push_back(j);
        std::vector<double> w;
        if (mode == Weights::Identity) {
            w.assign(static_cast<std::size_t>(TapCount(f)), 0.0);
            w[static_cast<std::size_t>(-FirstTap(f))] = 1.0;
        } else if (mode == Weights::Shaped || f == Family::Linear) {
            w = ShapedWeights(f, unit(rng));
        } else {
            for (int k = 0; k < TapCount(f); ++k)
                w.push_back(wild(rng));
        }
        if (eightBit) {
            // Q14, as the 8u linear filters read them.
            const double q = std::floor(w[1] * 16384.0);
            w = {(16384.0 - q) / 16384.0, q / 16384.0};
        } else if (floatWeights && f == Family::Linear) {
            const double tf = static_cast<float>(w[1]);
            w = {1.0 - tf, tf};
        } else if (floatWeights) {
            for (auto& v : w)
                v = static_cast<float>(v);
        }
        a.weights.insert(a.weights.end(), w.begin(), w.end());
    }
    return a;
}

struct FilterRun {
    Family family;
    TypeCase type;
    LayoutCase layout;
    Weights weights;
    bool bottomUp;
    std::uint32_t seed;
    bool alternate = false;  // the member of the alternate filter set

    std::string Describe() const
    {
        return std::string(NameOf(family)) + " " + type.name + " " + layout.name +
               (weights == Weights::Identity ? " identity" : weights == Weights::Shaped ? " shaped" : " random") +
               (bottomUp ? " bottom-up" : "") + " seed " + std::to_string(seed) + (alternate ? " alternate" : "");
    }
};

// One source image, its tables and a destination, and the filter call.
struct Scene {
    FilterRun run;
    int srcW = 0, srcH = 0, dstW = 0, dstH = 0;
    int spp = 1;
    std::vector<std::uint8_t> source;  // rows of srcW x spp samples, no padding
    AxisTable rowsAxis, columnsAxis;

    Scene(const FilterRun& r) : run(r)
    {
        std::mt19937 rng(r.seed);
        const int taps = TapCount(r.family);
        spp = r.layout.stride;
        dstW = 1 + static_cast<int>(rng() % 9);
        dstH = 1 + static_cast<int>(rng() % 7);
        std::uniform_real_distribution<double> stepOf(0.5, 7.0);
        const double rowStep = stepOf(rng);
        const double columnStep = stepOf(rng);
        srcW = taps + static_cast<int>(columnStep * std::max(dstW - 1, 0)) + static_cast<int>(rng() % 2);
        srcH = taps + static_cast<int>(rowStep * std::max(dstH - 1, 0)) + static_cast<int>(rng() % 2);
        const bool q14 = r.family == Family::Linear && r.type.typeIndex == 0;
        const bool floats = r.type.typeIndex != 4;
        rowsAxis = BuildAxis(rng, r.family, r.weights, dstH, srcH, rowStep, q14, floats);
        columnsAxis = BuildAxis(rng, r.family, r.weights, dstW, srcW, columnStep, q14, floats);
        source.resize(static_cast<std::size_t>(srcW) * srcH * spp * r.type.bytes);
        std::uniform_real_distribution<double> sample(r.type.lo, r.type.hi);
        for (std::size_t k = 0; k < source.size() / r.type.bytes; ++k) {
            double v = sample(rng);
            if (r.type.integer)
                v = std::floor(v + 0.5);
            Store(source.data() + k * r.type.bytes, r.type.typeIndex, std::clamp(v, r.type.lo, r.type.hi));
        }
    }

    int Slot() const
    {
        const bool one = run.layout.channels == 1;
        if (run.type.typeIndex == 4)
            return one ? 8 : 9;
        return run.type.typeIndex + (one ? 4 : 0);
    }
    int PerPixel() const { return run.layout.channels; }
    std::size_t DstRowBytes() const { return static_cast<std::size_t>(dstW) * spp * run.type.bytes; }

    // The destination, filled by the filter of `slot` (processor slot) over a
    // copy of `initial`; sourceOverride replaces the source bytes.
    std::vector<std::uint8_t> Execute(int processorSlot, const std::vector<std::uint8_t>& initial,
                                      const std::vector<std::uint8_t>* sourceOverride = nullptr) const
    {
        return ExecutePlanes({sourceOverride ? *sourceOverride : source}, initial, processorSlot)[0];
    }

    // One call per source, in order, sharing the tables and row buffers.
    std::vector<std::vector<std::uint8_t>> ExecutePlanes(const std::vector<std::vector<std::uint8_t>>& sources,
                                                         const std::vector<std::uint8_t>& initial,
                                                         int processorSlot = 0) const
    {
        const TypeCase& t = run.type;
        const bool doubles = t.typeIndex == 4;
        const bool q14 = run.family == Family::Linear && t.typeIndex == 0;
        const std::int32_t rowSamples = srcW * spp;
        const std::size_t rowBytes = static_cast<std::size_t>(rowSamples) * t.bytes;
        const std::int32_t srcStep = run.bottomUp ? -rowSamples : rowSamples;

        std::vector<std::int32_t> rows, columns;
        for (int j : rowsAxis.index)
            rows.push_back(j * srcStep);
        for (int j : columnsAxis.index)
            columns.push_back(j * spp);
        // Weight tables in the filter's own format.
        const std::size_t weightBytes = doubles ? 8 : 4;
        AlignedBytes rowWeights(rowsAxis.weights.size() * weightBytes), columnWeights(columnsAxis.weights.size() * 8);
        auto fill = [&](AlignedBytes& out, const std::vector<double>& w, bool rowsTable) {
            for (std::size_t k = 0; k < w.size(); ++k) {
                if (q14) {
                    const auto q = static_cast<std::int16_t>(std::lround(w[k] * 16384.0));
                    if (rowsTable) {
                        if (k % 2 == 1)
                            std::memcpy(out.data.get() + (k / 2) * 2, &q, 2);
                    } else {
                        std::memcpy(out.data.get() + k * 2, &q, 2);
                    }
                } else if (run.family == Family::Linear) {
                    // One fraction per entry: the weight of the second tap.
                    if (k % 2 == 1)
                        Store(out.data.get() + (k / 2) * weightBytes, doubles ? 4 : 2, w[k]);
                } else {
                    Store(out.data.get() + k * weightBytes, doubles ? 4 : 2, w[k]);
                }
            }
        };
        fill(rowWeights, rowsAxis.weights, true);
        fill(columnWeights, columnsAxis.weights, false);

        // Row buffers: exactly the values a row holds (plus the spare room
        // the 8u linear kernels are allowed), garbage on entry.
        const std::size_t element = q14 ? 2 : (doubles ? 8 : 4);
        const std::size_t values = static_cast<std::size_t>(dstW) * PerPixel() + (q14 ? 4 * spp : 0);
        std::vector<AlignedBytes> buffers;
        for (int k = 0; k < 6; ++k)
            buffers.emplace_back(values * element);
        ScopedCpuVariant slot(processorSlot);
        const auto& sets = *kResizeFilterSets[static_cast<std::size_t>(processorSlot)];
        const auto& set = run.alternate ? sets.alternate : sets.primary;
        void* b[6];
        for (int k = 0; k < 6; ++k)
            b[k] = buffers[static_cast<std::size_t>(k)].data.get();
        const std::int32_t dstStep = dstW * spp;
        std::vector<std::vector<std::uint8_t>> results;
        for (const auto& bytes : sources) {
            // The source flush against an inaccessible page, before its
            // first or past its last stored sample by the seed, so that the
            // runs of a case guard both ends.
            resize_test::GuardedBuffer guarded(bytes.size(), run.seed % 2 == 0
                                                                 ? resize_test::GuardedBuffer::Flush::Start
                                                                 : resize_test::GuardedBuffer::Flush::End);
            for (int y = 0; y < srcH; ++y) {
                const int stored = run.bottomUp ? srcH - 1 - y : y;
                std::memcpy(guarded.data() + stored * rowBytes, bytes.data() + y * rowBytes, rowBytes);
            }
            const std::uint8_t* origin = guarded.data() + (run.bottomUp ? (srcH - 1) * rowBytes : 0);
            std::vector<std::uint8_t> dst = initial;
            if (run.family == Family::Linear)
                set.extendedLinear[static_cast<std::size_t>(Slot())](
                    origin, dst.data(), srcStep, dstStep, dstW, dstH, rows.data(), columns.data(),
                    rowWeights.data.get(), columnWeights.data.get(), b[0], b[1], run.layout.stride,
                    run.layout.channels);
            else if (run.family == Family::FourTap)
                set.fourTap[static_cast<std::size_t>(Slot())](
                    origin, dst.data(), srcStep, dstStep, dstW, dstH, rows.data(), columns.data(),
                    rowWeights.data.get(), columnWeights.data.get(), b[0], b[1], b[2], b[3], run.layout.stride,
                    run.layout.channels);
            else
                set.extendedLanczos[static_cast<std::size_t>(Slot())](
                    origin, dst.data(), srcStep, dstStep, dstW, dstH, rows.data(), columns.data(),
                    rowWeights.data.get(), columnWeights.data.get(), b[0], b[1], b[2], b[3], b[4], b[5],
                    run.layout.stride, run.layout.channels);
            results.push_back(std::move(dst));
        }
        return results;
    }

    std::vector<std::uint8_t> Initial() const
    {
        std::vector<std::uint8_t> d(DstRowBytes() * dstH);
        for (std::size_t k = 0; k < d.size(); ++k)
            d[k] = static_cast<std::uint8_t>(k * 37 + 11);
        return d;
    }

    double SourceAt(int x, int y, int ch) const
    {
        const std::size_t k = (static_cast<std::size_t>(y) * srcW + x) * spp + ch;
        return Load(source.data() + k * run.type.bytes, run.type.typeIndex);
    }

    // The exact weighted sum and the sum of its magnitudes.
    void Model(int x, int y, int ch, double* value, double* magnitude) const
    {
        const int taps = TapCount(run.family);
        const int first = FirstTap(run.family);
        double sum = 0, mag = 0;
        for (int m = 0; m < taps; ++m) {
            const double u = rowsAxis.weights[static_cast<std::size_t>(y * taps + m)];
            const int sy = rowsAxis.index[static_cast<std::size_t>(y)] + first + m;
            for (int n = 0; n < taps; ++n) {
                const double w = columnsAxis.weights[static_cast<std::size_t>(x * taps + n)];
                const int sx = columnsAxis.index[static_cast<std::size_t>(x)] + first + n;
                const double s = SourceAt(sx, sy, ch);
                sum += u * w * s;
                mag += std::fabs(u * w * s);
            }
        }
        *value = sum;
        *magnitude = mag;
    }
};

// Every destination sample against the model; alpha of AC4 untouched.
void CheckAgainstModel(const Scene& scene, const std::vector<std::uint8_t>& initial,
                       const std::vector<std::uint8_t>& dst, bool exact)
{
    const TypeCase& t = scene.run.type;
    const double eps = t.typeIndex == 4 ? std::ldexp(1.0, -52) : std::ldexp(1.0, -23);
    int failures = 0;
    for (int y = 0; y < scene.dstH && failures < 5; ++y) {
        for (int x = 0; x < scene.dstW; ++x) {
            for (int ch = 0; ch < scene.spp; ++ch) {
                const std::size_t at = (static_cast<std::size_t>(y) * scene.dstW + x) * scene.spp + ch;
                const double got = Load(dst.data() + at * t.bytes, t.typeIndex);
                if (ch >= scene.PerPixel()) {
                    const double before = Load(initial.data() + at * t.bytes, t.typeIndex);
                    if (!(got == before || (got != got && before != before))) {
                        ADD_FAILURE() << scene.run.Describe() << ": alpha of pixel " << x << "," << y << " changed";
                        ++failures;
                    }
                    continue;
                }
                double want = 0, magnitude = 0;
                scene.Model(x, y, ch, &want, &magnitude);
                double tolerance;
                if (exact) {
                    tolerance = 0;
                } else if (t.integer) {
                    want = std::clamp(want, t.lo, t.hi);
                    tolerance = 1.0;
                } else {
                    // A few units in the last place of the products' scale.
                    tolerance = 16 * eps * magnitude;
                }
                if (!(std::fabs(got - want) <= tolerance)) {
                    ADD_FAILURE() << scene.run.Describe() << ": pixel " << x << "," << y << " channel " << ch
                                  << " is " << got << ", the model " << want << " (tolerance " << tolerance << ")";
                    ++failures;
                }
            }
        }
    }
}

std::vector<FilterRun> AllRuns(Weights weights, int seeds)
{
    std::vector<FilterRun> runs;
    std::uint32_t seed = weights == Weights::Identity ? 100 : (weights == Weights::Shaped ? 2000 : 30000);
    for (Family f : {Family::Linear, Family::FourTap, Family::SixTap})
        for (const auto& t : kTypes)
            for (const auto& l : kFilterLayouts)
                for (bool bottomUp : {false, true})
                    for (int s = 0; s < seeds; ++s)
                        runs.push_back({f, t, l, weights, bottomUp, ++seed});
    return runs;
}

// Identity weights reproduce the source exactly, for every family, type and
// layout, top-down and bottom-up; AC4 alpha stays as it was.
TEST(ExtendedFilters, IdentityWeightsReproduceTheSource)
{
    for (const FilterRun& run : AllRuns(Weights::Identity, 2)) {
        const Scene scene(run);
        const auto initial = scene.Initial();
        CheckAgainstModel(scene, initial, scene.Execute(0, initial), true);
    }
}

// Cubic / Lanczos / linear weights and random weights, row steps of 0.5 to 7
// source rows per destination row: integers within 1 of the exact sum, floats
// within a few units in the last place; every processor slot gives the
// portable bytes.
TEST(ExtendedFilters, WeightedSumsMatchTheModelInEverySlot)
{
    const auto slots = SupportedSlots();
    for (Weights mode : {Weights::Shaped, Weights::Random}) {
        for (const FilterRun& run : AllRuns(mode, 3)) {
            const Scene scene(run);
            const auto initial = scene.Initial();
            const auto portable = scene.Execute(0, initial);
            CheckAgainstModel(scene, initial, portable, false);
            for (std::int32_t slot : slots) {
                if (slot == 0)
                    continue;
                EXPECT_EQ(FirstDifference(scene.Execute(slot, initial), portable), "")
                    << run.Describe() << " " << SlotName(slot);
            }
        }
    }
}

// The alternate members against the model (alpha kept, both ends of the
// source guarded) and against their twins: the 8u, 32f and 64f extended
// linear and the 32f and 64f four-tap members give the twins' bytes; elsewhere
// an integer sample differs by at most 1 and only where the exact sum lies
// within a few single-precision units of a half, a float sample only in its
// last bits. Every processor slot gives the portable alternate bytes.
TEST(ExtendedFilters, AlternateMembersAreTwins)
{
    const auto slots = SupportedSlots();
    for (Weights mode : {Weights::Shaped, Weights::Random}) {
        for (FilterRun run : AllRuns(mode, 3)) {
            const Scene twinScene(run);
            run.alternate = true;
            const Scene scene(run);
            const auto initial = scene.Initial();
            const auto alternate = scene.Execute(0, initial);
            const auto twin = twinScene.Execute(0, initial);
            CheckAgainstModel(scene, initial, alternate, false);
            for (std::int32_t slot : slots)
                EXPECT_EQ(FirstDifference(scene.Execute(slot, initial), alternate), "")
                    << run.Describe() << " " << SlotName(slot);
            const TypeCase& t = run.type;
            const bool sixteen = t.typeIndex == 1 || t.typeIndex == 3;
            const bool same = (run.family == Family::Linear && !sixteen) ||
                              (run.family == Family::FourTap && !t.integer);
            if (same) {
                EXPECT_EQ(FirstDifference(alternate, twin), "") << run.Describe();
                continue;
            }
            const double eps = t.typeIndex == 4 ? std::ldexp(1.0, -52) : std::ldexp(1.0, -23);
            for (int y = 0; y < scene.dstH; ++y)
                for (int x = 0; x < scene.dstW; ++x)
                    for (int ch = 0; ch < scene.PerPixel(); ++ch) {
                        const std::size_t at = (static_cast<std::size_t>(y) * scene.dstW + x) * scene.spp + ch;
                        const double got = Load(alternate.data() + at * t.bytes, t.typeIndex);
                        const double want = Load(twin.data() + at * t.bytes, t.typeIndex);
                        if (got == want)
                            continue;
                        double value = 0, magnitude = 0;
                        scene.Model(x, y, ch, &value, &magnitude);
                        if (!t.integer) {
                            EXPECT_LE(std::fabs(got - want), 16 * eps * magnitude) << run.Describe();
                            continue;
                        }
                        EXPECT_EQ(std::fabs(got - want), 1.0) << run.Describe();
                        EXPECT_LE(std::fabs(std::fabs(value - std::trunc(value)) - 0.5), 2e-7 + 16 * eps * magnitude)
                            << run.Describe() << ": pixel " << x << "," << y << " sum " << value;
                    }
        }
    }
}

// The alternate extended Lanczos filters after both passes: sums of exactly
// a half round up (16s: away from zero) where the twins take the even
// neighbour; overshoot saturates.
TEST(ExtendedLanczos, AlternateSumsRoundHalvesUp)
{
    struct Case {
        double sample, rowWeight;
        int u8, s16, twinU8, twinS16;
    } cases[] = {{5, 0.5, 3, 3, 2, 2},       {7, 0.5, 4, 4, 4, 4},         {-6, 0.5, 0, -3, 0, -3},
                 {150, 2.0, 255, 300, 255, 300}, {-5, 0.5, 0, -3, 0, -2}, {-1, 0.4, 0, 0, 0, 0}};
    for (const auto& c : cases) {
        const std::int32_t rows[1] = {2 * 8};
        const std::int32_t columns[1] = {2};
        alignas(16) float rowWeights[6] = {0, 0, static_cast<float>(c.rowWeight), 0, 0, 0};
        alignas(16) float columnWeights[6] = {0, 0, 1, 0, 0, 0};
        alignas(16) float b[6][4];
        std::uint8_t u8Source[48];
        std::int16_t s16Source[48];
        std::fill(u8Source, u8Source + 48, static_cast<std::uint8_t>(std::clamp(c.sample, 0.0, 255.0)));
        std::fill(s16Source, s16Source + 48, static_cast<std::int16_t>(c.sample));
        std::uint8_t u8[2] = {77, 77};
        std::int16_t s16[2] = {77, 77};
        const auto& sets = *kResizeFilterSets[0];
        for (int k = 0; k < 2; ++k) {
            const auto& set = k == 0 ? sets.alternate : sets.primary;
            set.extendedLanczos[4](u8Source, &u8[k], 8, 1, 1, 1, rows, columns, rowWeights, columnWeights, b[0], b[1],
                                   b[2], b[3], b[4], b[5], 0, 0);
            set.extendedLanczos[7](s16Source, &s16[k], 8, 1, 1, 1, rows, columns, rowWeights, columnWeights, b[0],
                                   b[1], b[2], b[3], b[4], b[5], 0, 0);
        }
        if (c.sample >= 0) {
            EXPECT_EQ(u8[0], c.u8) << c.sample;
            EXPECT_EQ(u8[1], c.twinU8) << c.sample;
        }
        EXPECT_EQ(s16[0], c.s16) << c.sample;
        EXPECT_EQ(s16[1], c.twinS16) << c.sample;
    }
}

// The 16-bit alternate extended linear filters where the blend lies just
// below a half: rows 1 and 2 (-1 and -2) at a row fraction of 0.5 - 2^-23
// blend to 1.5 - 2^-23, which the alternate members write as 1 (-1), their
// twins as 2 (-2).
TEST(ExtendedLinear, AlternateSixteenBitMembersRoundInDouble)
{
    const float t = 0.5f - std::ldexp(1.0f, -23);
    const std::int32_t rows[1] = {0};
    const std::int32_t columns[1] = {0};
    const float rowWeights[1] = {t};
    const float columnWeights[1] = {0.0f};
    alignas(32) float b1[8], b2[8];
    const std::uint16_t u16Source[4] = {1, 1, 2, 2};
    const std::int16_t s16Source[4] = {-1, -1, -2, -2};
    const auto& sets = *kResizeFilterSets[0];
    struct Case {
        const ResizeFilterSet* set;
        int u16, s16;
    } cases[] = {{&sets.alternate, 1, -1}, {&sets.primary, 2, -2}};
    for (const auto& c : cases) {
        std::uint16_t u16 = 9;
        std::int16_t s16 = 9;
        c.set->extendedLinear[5](u16Source, &u16, 2, 1, 1, 1, rows, columns, rowWeights, columnWeights, b1, b2, 1, 1);
        c.set->extendedLinear[7](s16Source, &s16, 2, 1, 1, 1, rows, columns, rowWeights, columnWeights, b1, b2, 1, 1);
        EXPECT_EQ(u16, c.u16) << (c.set == &sets.alternate ? "alternate" : "twin");
        EXPECT_EQ(s16, c.s16) << (c.set == &sets.alternate ? "alternate" : "twin");
    }
}

// The source's alpha has no effect on an AC4 result, not even a NaN.
TEST(ExtendedFilters, SourceAlphaHasNoEffect)
{
    for (Family f : {Family::Linear, Family::FourTap, Family::SixTap}) {
        for (const auto& t : kTypes) {
            const Scene scene({f, t, {"AC4", 4, 3}, Weights::Random, false, 777});
            auto other = scene.source;
            for (std::size_t k = 3; k < other.size() / t.bytes; k += 4)
                Store(other.data() + k * t.bytes, t.typeIndex,
                      t.integer ? 1.0 : std::numeric_limits<double>::quiet_NaN());
            const auto initial = scene.Initial();
            EXPECT_EQ(FirstDifference(scene.Execute(0, initial, &other), scene.Execute(0, initial)), "")
                << NameOf(f) << " " << t.name;
        }
    }
}

// A planar image: the one-channel filter run on each plane in turn, with the
// same tables and the same buffers, gives each plane's own result.
TEST(ExtendedFilters, PlanesEqualSeparateCalls)
{
    for (Family f : {Family::Linear, Family::FourTap, Family::SixTap}) {
        for (const auto& t : kTypes) {
            const Scene scene({f, t, {"C1", 1, 1}, Weights::Shaped, false, 4242});
            const auto initial = scene.Initial();
            std::vector<std::vector<std::uint8_t>> sources;
            std::vector<std::vector<std::uint8_t>> alone;
            for (std::uint32_t p = 0; p < 3; ++p) {
                Scene plane = scene;
                std::mt19937 rng(p + 1);
                std::uniform_int_distribution<int> sample(static_cast<int>(std::max(t.lo, -30000.0)),
                                                          static_cast<int>(std::min(t.hi, 30000.0)));
                for (std::size_t k = 0; k < plane.source.size() / t.bytes; ++k)
                    Store(plane.source.data() + k * t.bytes, t.typeIndex, sample(rng));
                sources.push_back(plane.source);
                alone.push_back(plane.Execute(0, initial));
                CheckAgainstModel(plane, initial, alone.back(), false);
            }
            const auto together = scene.ExecutePlanes(sources, initial);
            for (std::size_t p = 0; p < 3; ++p)
                EXPECT_EQ(FirstDifference(together[p], alone[p]), "") << NameOf(f) << " " << t.name << " plane " << p;
            EXPECT_NE(alone[0], alone[1]) << NameOf(f) << " " << t.name;
        }
    }
}

// The 8u extended linear members are the 8u linear filters, in every slot.
TEST(ExtendedFilters, EightBitLinearMembersAreTheLinearFilters)
{
    for (std::int32_t slot = 0; slot < kCpuVariantCount; ++slot) {
        const auto& set = kResizeFilterSets[static_cast<std::size_t>(slot)]->primary;
        EXPECT_EQ(set.extendedLinear[0], set.linear[0]) << slot;
        EXPECT_EQ(set.extendedLinear[4], set.linear[4]) << slot;
    }
}

// Sums that land on the conversion's edges after both passes: 2.5 gives 2,
// -3 gives 0 and 300 gives 255 for 8u; -2.5 gives -2 for 16s.
TEST(ExtendedLanczos, SumsAfterBothPassesRoundHalvesToEven)
{
    struct Case {
        double sample, rowWeight;
        int u8, s16;
    } cases[] = {{5, 0.5, 2, 2}, {-6, 0.5, 0, -3}, {150, 2.0, 255, 300}, {-5, 0.5, 0, -2}};
    for (const auto& c : cases) {
        const std::int32_t rows[1] = {2 * 8};
        const std::int32_t columns[1] = {2};
        alignas(16) float rowWeights[6] = {0, 0, static_cast<float>(c.rowWeight), 0, 0, 0};
        alignas(16) float columnWeights[6] = {0, 0, 1, 0, 0, 0};
        alignas(16) float b[6][4];
        std::uint8_t u8Source[48];
        std::int16_t s16Source[48];
        std::fill(u8Source, u8Source + 48, static_cast<std::uint8_t>(std::clamp(c.sample, 0.0, 255.0)));
        std::fill(s16Source, s16Source + 48, static_cast<std::int16_t>(c.sample));
        std::uint8_t u8 = 77;
        std::int16_t s16 = 77;
        ResizeLanczosExt_8u_C1(u8Source, &u8, 8, 1, 1, 1, rows, columns, rowWeights, columnWeights, b[0], b[1], b[2],
                               b[3], b[4], b[5], 0, 0);
        ResizeLanczosExt_16s_C1(s16Source, &s16, 8, 1, 1, 1, rows, columns, rowWeights, columnWeights, b[0], b[1],
                                b[2], b[3], b[4], b[5], 0, 0);
        if (c.sample >= 0) {
            EXPECT_EQ(u8, c.u8) << c.sample;
        }
        EXPECT_EQ(s16, c.s16) << c.sample;
    }
}

// The six-row ring: five rows before the walk, then one per move of one row,
// five for a move of five, six beyond.
struct RecordingSixTap {
    static inline std::vector<int> interpolated;
    using Sample = float;
    using Weight = float;
    static constexpr int kRowWeights = 6;
    static void Row(const float* row, std::int32_t, std::int32_t, const std::int32_t*, const float*, float* out)
    {
        interpolated.push_back(static_cast<int>(row[0]));
        out[0] = row[0];
    }
    static constexpr auto* Row1 = &Row;
    static constexpr auto* Row3 = &Row;
    static constexpr auto* Row4 = &Row;
    static void Column(float* dst, std::int32_t, const float*, const float* b0, const float* b1, const float* b2,
                       const float* b3, const float* b4, const float* b5)
    {
        // The window as one number: its rows must be consecutive.
        const bool consecutive = b1[0] == b0[0] + 1 && b2[0] == b1[0] + 1 && b3[0] == b2[0] + 1 &&
                                 b4[0] == b3[0] + 1 && b5[0] == b4[0] + 1;
        dst[0] = consecutive ? b2[0] : -1000.0f;
    }
    static constexpr auto* ColumnAC4 = &Column;
};

TEST(SixTapRing, FiltersEachRowOncePerWindow)
{
    struct Case {
        const char* name;
        std::int32_t step;
        std::vector<int> rowNumbers;
        std::vector<int> expected;
    } cases[] = {
        {"enlarge by 2", 40, {2, 2, 3, 3}, {0, 1, 2, 3, 4, 5, 6}},
        {"move by 5", 40, {2, 7}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {"move by 6", 40, {2, 8}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        {"bottom-up", -40, {2, 3, 3, 5}, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const auto& c : cases) {
        std::vector<float> storage(4096, -99.0f);
        float* origin = storage.data() + 2048;
        for (int j = -4; j < 24; ++j)
            origin[j * c.step] = static_cast<float>(j);
        std::vector<std::int32_t> offsets;
        for (int r : c.rowNumbers)
            offsets.push_back(r * c.step);
        std::vector<float> weights(6 * offsets.size()), out(offsets.size());
        float b[6][1];
        const std::int32_t column = 0;
        RecordingSixTap::interpolated.clear();
        ResizeSixTapRing<RecordingSixTap, true>(origin, out.data(), c.step, 1, 1,
                                                static_cast<std::int32_t>(offsets.size()), offsets.data(), &column,
                                                weights.data(), weights.data(), b[0], b[1], b[2], b[3], b[4], b[5], 0,
                                                0);
        auto got = RecordingSixTap::interpolated;
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, c.expected) << c.name;
        for (std::size_t i = 0; i < offsets.size(); ++i)
            EXPECT_EQ(out[i], static_cast<float>(c.rowNumbers[i])) << c.name << " row " << i;
    }
}

}  // namespace
