// The plane resize entry: argument checks, clipping, destination extents,
// routing, the JPEG compressor's calls, and the cases where a box or a sample
// position reaches past the region.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "SlotSweep.h"
#include "ResizeTestSupport.h"
#include "imaging/primitives/resize/Resize.h"

namespace {

using namespace primitives_test;
using resize_test::GuardedBuffer;

constexpr std::uint8_t kCanary = 0xCD;
constexpr std::int32_t kBig = 1 << 30;

struct StatusCase {
    const char* name;
    bool nullSource;
    bool nullDestination;
    ImageSize srcSize;
    std::int32_t srcStep;
    ImageRect roi;
    ImageSize dstSize;
    double xFactor;
    double yFactor;
    std::int32_t mode;
    PrimitiveStatus expected;
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

const StatusCase kStatusCases[] = {
    {"null source", true, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 1, 1, 1, -8},
    {"null destination", false, true, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 1, 1, 1, -8},
    {"null before sizes", true, false, {0, 0}, 10, {0, 0, 0, 0}, {0, 0}, 0, 0, 99, -8},
    {"source width 0", false, false, {0, 10}, 10, {0, 0, 10, 10}, {10, 10}, 1, 1, 1, -6},
    {"source height negative", false, false, {10, -1}, 10, {0, 0, 10, 10}, {10, 10}, 1, 1, 1, -6},
    {"region x negative", false, false, {10, 10}, 10, {-1, 0, 10, 10}, {10, 10}, 1, 1, 1, -6},
    {"region y negative", false, false, {10, 10}, 10, {0, -1, 10, 10}, {10, 10}, 1, 1, 1, -6},
    {"region width 0", false, false, {10, 10}, 10, {0, 0, 0, 10}, {10, 10}, 1, 1, 1, -6},
    {"region height 0", false, false, {10, 10}, 10, {0, 0, 10, 0}, {10, 10}, 1, 1, 1, -6},
    {"region x at the width", false, false, {10, 10}, 10, {10, 0, 1, 1}, {10, 10}, 1, 1, 1, 29},
    {"region y at the height", false, false, {10, 10}, 10, {0, 10, 1, 1}, {10, 10}, 1, 1, 1, 29},
    {"outside before destination size", false, false, {10, 10}, 10, {10, 0, 1, 1}, {0, 0}, 1, 1, 1, 29},
    {"destination width 0", false, false, {10, 10}, 10, {0, 0, 10, 10}, {0, 10}, 1, 1, 1, -6},
    {"destination height negative", false, false, {10, 10}, 10, {0, 0, 10, 10}, {10, -3}, 1, 1, 1, -6},
    {"x factor 0", false, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 0, 1, 1, -23},
    {"y factor negative", false, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 1, -1, 1, -23},
    {"factor before mode", false, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 0, 1, 3, -23},
    {"x factor not a number", false, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, kNaN, 1, 1, -23},
    {"y factor not a number, mode 8", false, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 0.5, kNaN, 8, -23},
    {"mode 3", false, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 1, 1, 3, -22},
    {"mode 0", false, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 1, 1, 0, -22},
    {"mode 8 enlarging", false, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 0.5, 2.0, 8, -22},
    {"cubic, null source", true, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 1, 1, 4, -8},
    {"Lanczos, null destination", false, true, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 1, 1, 16, -8},
    {"cubic, region outside", false, false, {10, 10}, 10, {0, 10, 1, 1}, {10, 10}, 1, 1, 4, 29},
    {"Lanczos, region width 0", false, false, {10, 10}, 10, {0, 0, 0, 10}, {10, 10}, 1, 1, 16, -6},
    {"Lanczos, factor not a number", false, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 1, kNaN, 16, -23},
    {"cubic below half a sample", false, false, {10, 10}, 10, {0, 0, 10, 2}, {10, 10}, 1, 0.2, 4, -201},
    {"Lanczos below half a sample", false, false, {10, 10}, 10, {0, 0, 2, 10}, {10, 10}, 0.2, 1, 16, -201},
    {"cubic rows reaching past 32 bits", false, false, {4, kBig}, 2, {0, 0, 4, kBig - 1}, {4, 4}, 1, 1, 4, -9},
    {"Lanczos row offsets beyond 32 bits", false, false, {8, kBig}, 16, {0, 0, 8, kBig}, {8, 4}, 1, 1, 16, -9},
    {"width below half a sample", false, false, {10, 10}, 10, {0, 0, 2, 10}, {10, 10}, 0.2, 1, 1, -201},
    {"height below half a sample", false, false, {10, 10}, 10, {0, 0, 10, 2}, {10, 10}, 1, 0.2, 2, -201},
    {"tiny factor", false, false, {10, 10}, 10, {0, 0, 10, 10}, {10, 10}, 1e-300, 1, 1, -201},
    {"width examined first", false, false, {10, 10}, 10, {0, 0, 2, 2}, {10, 10}, 0.2, 0.2, 8, -201},
    {"column table too large", false, false, {kBig, 2}, kBig, {0, 0, kBig, 2}, {kBig, 2}, 1, 1, 1, -9},
    {"row offsets beyond 32 bits", false, false, {2, kBig}, 16, {0, 0, 2, kBig}, {2, 4}, 1, 1, 2, -9},
    {"accumulator too large", false, false, {kBig, 1}, kBig, {0, 0, kBig, 1}, {kBig, 1}, 0.5, 1, 8, -9},
};

TEST(ResizePlane, ArgumentErrorsLeaveDestinationUntouched)
{
    std::vector<std::uint8_t> src(100, 7);
    for (std::int32_t slot : SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const auto& c : kStatusCases) {
            std::vector<std::uint8_t> dst(256, kCanary);
            const ImageRect roi = c.roi;
            const PrimitiveStatus status =
                ResizePlane_8u_C1R(c.nullSource ? nullptr : src.data(), c.srcSize, c.srcStep, roi,
                                   c.nullDestination ? nullptr : dst.data(), 16, c.dstSize, c.xFactor, c.yFactor,
                                   c.mode);
            EXPECT_EQ(status, c.expected) << c.name << " in " << SlotName(slot);
            EXPECT_EQ(std::count(dst.begin(), dst.end(), kCanary), 256) << c.name << " wrote";
        }
    }
}

// The sample values of a w x h plane: distinct where it matters.
std::vector<std::uint8_t> Ramp(int w, int h)
{
    std::vector<std::uint8_t> v(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            v[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(16 * y + x);
    return v;
}

TEST(ResizePlane, RegionIsClippedAndExtentFollowsIt)
{
    const auto src = Ramp(10, 10);
    std::vector<std::uint8_t> dst(100 * 100, kCanary);
    ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {10, 10}, 10, {0, 0, 100, 100}, dst.data(), 100, {100, 100}, 1.0, 1.0, 1),
              0);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const std::uint8_t got = dst[static_cast<std::size_t>(y) * 100 + x];
            if (x < 10 && y < 10)
                ASSERT_EQ(got, src[static_cast<std::size_t>(y) * 10 + x]) << x << "," << y;
            else
                ASSERT_EQ(got, kCanary) << x << "," << y;
        }
}

TEST(ResizePlane, ClippingAFarRegionDoesNotOverflow)
{
    const auto src = Ramp(10, 10);
    std::vector<std::uint8_t> dst(16 * 16, kCanary);
    const std::int32_t huge = std::numeric_limits<std::int32_t>::max();
    ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {10, 10}, 10, {5, 4, huge, huge}, dst.data(), 16, {16, 16}, 1.0, 1.0, 1),
              0);
    // Columns 5..9 of rows 4..9.
    EXPECT_EQ(dst[0], src[4 * 10 + 5]);
    EXPECT_EQ(dst[5 * 16 + 4], src[9 * 10 + 9]);
    EXPECT_EQ(dst[5], kCanary);
    EXPECT_EQ(dst[6 * 16], kCanary);
}

struct ExtentCase {
    const char* name;
    std::int32_t roiWidth;
    double xFactor;
    std::int32_t expectedWidth;
    std::int32_t expectedColumn;  // source column of destination column 0 (nearest)
};

TEST(ResizePlane, OnlyTheScaledExtentIsWritten)
{
    const ExtentCase cases[] = {
        {"larger destination", 10, 0.55, 5, 0},
        {"0.6 rounds up to one column", 3, 0.2, 1, 2},
        {"exact", 8, 0.5, 4, 1},
        {"guard absorbs rounding", 7, 1.0 / 7.0 * 3.0, 3, 1},
        // Compared with the destination before any conversion to an integer.
        {"huge factor", 3, 1e300, 16, 0},
        {"infinite factor", 3, std::numeric_limits<double>::infinity(), 16, 0},
    };
    const auto src = Ramp(10, 4);
    for (const auto& c : cases) {
        std::vector<std::uint8_t> dst(16 * 4, kCanary);
        ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {10, 4}, 10, {0, 0, c.roiWidth, 4}, dst.data(), 16, {16, 4}, c.xFactor,
                                     1.0, 1),
                  0)
            << c.name;
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(dst[x] != kCanary, x < c.expectedWidth) << c.name << " column " << x;
        EXPECT_EQ(dst[0], src[c.expectedColumn]) << c.name;
        EXPECT_EQ(dst[16], src[10 + c.expectedColumn]) << c.name;
    }
}

TEST(ResizePlane, ModeEightRoutesToSuperSampling)
{
    // A 4 x 4 region; the top-left 2 x 2 block holds 1, 2, 3, 4.
    std::vector<std::uint8_t> src = {1, 2, 9, 9, 3, 4, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    std::uint8_t dst[4] = {};
    ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {4, 4}, 4, {0, 0, 4, 4}, dst, 2, {2, 2}, 0.5, 0.5, 8), 0);
    EXPECT_EQ(dst[0], 3);  // (10 x 0.25 + 0.5) truncated
    EXPECT_EQ(dst[3], 9);
    // Nearest takes sample (1, 1) instead.
    ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {4, 4}, 4, {0, 0, 4, 4}, dst, 2, {2, 2}, 0.5, 0.5, 1), 0);
    EXPECT_EQ(dst[0], 4);
    // Both factors 1.0: 1 x 1 boxes reproduce the source.
    const auto ramp = Ramp(9, 5);
    std::vector<std::uint8_t> same(ramp.size());
    ASSERT_EQ(ResizePlane_8u_C1R(ramp.data(), {9, 5}, 9, {0, 0, 9, 5}, same.data(), 9, {9, 5}, 1.0, 1.0, 8), 0);
    EXPECT_EQ(same, ramp);
}

// The JPEG compressor's call for a W x H frame: chroma planes of W/2 x Hc
// into W/2 x H/2 buffers, nearest neighbour.
TEST(ResizePlane, JpegChromaRows)
{
    for (const bool is422 : {false, true}) {
        const int w = 12, h = 12;
        const int hc = is422 ? h : h / 2;
        const auto plane = Ramp(w / 2, hc);
        std::vector<std::uint8_t> out(static_cast<std::size_t>(w / 2) * (h / 2), kCanary);
        const double xFactor = static_cast<double>(w / 2) / static_cast<double>(w / 2);
        const double yFactor = static_cast<double>(h / 2) / static_cast<double>(hc);
        ASSERT_EQ(ResizePlane_8u_C1R(plane.data(), {w / 2, hc}, w / 2, {0, 0, w / 2, hc}, out.data(), w / 2,
                                     {w / 2, h / 2}, xFactor, yFactor, 1),
                  0);
        for (int j = 0; j < h / 2; ++j) {
            const int sourceRow = is422 ? 2 * j + 1 : j;
            for (int x = 0; x < w / 2; ++x)
                ASSERT_EQ(out[static_cast<std::size_t>(j) * (w / 2) + x], plane[static_cast<std::size_t>(sourceRow) * (w / 2) + x])
                    << (is422 ? "4:2:2" : "4:2:0") << " row " << j;
        }
    }
    // Hc = 6: destination rows 0, 1, 2 are source rows 1, 3, 5.
    const auto plane = Ramp(4, 6);
    std::vector<std::uint8_t> out(12);
    ASSERT_EQ(ResizePlane_8u_C1R(plane.data(), {4, 6}, 4, {0, 0, 4, 6}, out.data(), 4, {4, 3}, 1.0, 3.0 / 6.0, 1), 0);
    EXPECT_EQ(out[0], plane[4]);
    EXPECT_EQ(out[4], plane[12]);
    EXPECT_EQ(out[8], plane[20]);
}

// Sample positions and boxes that reach past the region repeat its last row
// or column. The source lies flush against an inaccessible page, so a read
// past it faults.
struct PastRegionCase {
    const char* name;
    ImageSize srcSize;
    ImageRect roi;
    double xFactor;
    double yFactor;
    std::int32_t mode;
    ImageSize written;
};

TEST(ResizePlane, PositionsPastTheRegionRepeatItsLastSample)
{
    const double seventh = 0.14285714;
    const PastRegionCase cases[] = {
        {"nearest, width raised to 1", {10, 10}, {9, 0, 1, 10}, 0.5, 1.0, 1, {1, 10}},
        {"nearest, height raised to 1", {10, 10}, {0, 9, 10, 1}, 1.0, 0.5, 1, {10, 1}},
        {"linear, both raised to 1", {10, 10}, {9, 9, 1, 1}, 0.5, 0.5, 2, {1, 1}},
        {"box, height raised to 1", {10, 10}, {0, 9, 2, 1}, 0.5, 0.5, 8, {1, 1}},
        {"box, width raised to 1", {10, 10}, {9, 0, 1, 4}, 0.5, 0.5, 8, {1, 2}},
        {"box, seven rows rounded up", {7, 7}, {0, 0, 7, 7}, seventh, seventh, 8, {1, 1}},
        {"box, fourteen columns", {14, 7}, {0, 0, 14, 7}, seventh, seventh, 8, {2, 1}},
        {"box, fractional rows raised", {5, 5}, {0, 4, 5, 1}, 0.4, 0.6, 8, {2, 1}},
    };
    for (const auto flush : {GuardedBuffer::Flush::End, GuardedBuffer::Flush::Start})
        for (const auto& c : cases) {
            const std::size_t bytes = static_cast<std::size_t>(c.srcSize.width) * c.srcSize.height;
            GuardedBuffer src(bytes, flush);
            for (std::size_t i = 0; i < bytes; ++i)
                src.data()[i] = static_cast<std::uint8_t>(40 + 3 * (i % 50));
            std::vector<std::uint8_t> dst(16 * 16, kCanary);
            for (std::int32_t slot : SupportedSlots()) {
                ScopedCpuVariant variant(slot);
                ASSERT_EQ(ResizePlane_8u_C1R(src.data(), c.srcSize, c.srcSize.width, c.roi, dst.data(), 16, {16, 16},
                                             c.xFactor, c.yFactor, c.mode),
                          0)
                    << c.name;
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x)
                        ASSERT_EQ(dst[y * 16 + x] != kCanary, x < c.written.width && y < c.written.height)
                            << c.name << " at " << x << "," << y;
                // Every value is a mean of region samples: inside their range.
                std::uint8_t lo = 255, hi = 0;
                for (int y = c.roi.y; y < c.roi.y + c.roi.height && y < c.srcSize.height; ++y)
                    for (int x = c.roi.x; x < c.roi.x + c.roi.width && x < c.srcSize.width; ++x) {
                        lo = std::min(lo, src.data()[y * c.srcSize.width + x]);
                        hi = std::max(hi, src.data()[y * c.srcSize.width + x]);
                    }
                for (int y = 0; y < c.written.height; ++y)
                    for (int x = 0; x < c.written.width; ++x) {
                        EXPECT_GE(dst[y * 16 + x], lo) << c.name;
                        EXPECT_LE(dst[y * 16 + x], hi) << c.name;
                    }
            }
        }
}

TEST(ResizePlane, RepeatedRowsAndColumnsKeepTheMean)
{
    // A one-row region with a two-row box: the mean of the row pair.
    std::vector<std::uint8_t> src(10 * 10, 0);
    src[90] = 10;
    src[91] = 21;
    std::uint8_t out = 0;
    ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {10, 10}, 10, {0, 9, 2, 1}, &out, 1, {1, 1}, 0.5, 0.5, 8), 0);
    EXPECT_EQ(out, 16);  // (2 x 10 + 2 x 21) / 4 = 15.5, rounded up
    // Nearest at the last column, position one column past it.
    std::uint8_t near = 0;
    ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {10, 10}, 10, {1, 9, 1, 1}, &near, 1, {1, 1}, 0.5, 0.5, 1), 0);
    EXPECT_EQ(near, 21);
    // Seven rows at 1/7: the extra sliver of row 7 is row 6 again.
    std::vector<std::uint8_t> seven(49, 100);
    for (int x = 0; x < 7; ++x)
        seven[42 + x] = 200;
    ASSERT_EQ(ResizePlane_8u_C1R(seven.data(), {7, 7}, 7, {0, 0, 7, 7}, &out, 1, {1, 1}, 0.14285714, 0.14285714, 8), 0);
    EXPECT_EQ(out, 114);  // (6 x 100 + 200) / 7 = 114.29
}

// Fractional boxes share the sample on their common edge: b = 2.5 gives row
// 0 rows 0, 1 and half of 2, row 1 the other half of 2 and rows 3, 4.
TEST(ResizePlane, FractionalBoxesShareEdgeSamples)
{
    const std::uint8_t levels[5] = {10, 20, 30, 40, 50};
    for (const bool vertical : {true, false}) {
        const int w = vertical ? 4 : 5, h = vertical ? 5 : 4;
        std::vector<std::uint8_t> src(static_cast<std::size_t>(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                src[y * w + x] = levels[vertical ? y : x];
        for (std::int32_t slot : SupportedSlots()) {
            ScopedCpuVariant variant(slot);
            std::uint8_t dst[4] = {};
            ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {w, h}, w, {0, 0, w, h}, dst, 2, {2, 2}, vertical ? 0.5 : 0.4,
                                         vertical ? 0.4 : 0.5, 8),
                      0);
            // (2 x 10 + 2 x 20 + 2 x 0.5 x 30) x 0.2 = 18; (30 + 80 + 100) x 0.2 = 42.
            const std::uint8_t expected[4] = {18, vertical ? std::uint8_t{18} : std::uint8_t{42},
                                              vertical ? std::uint8_t{42} : std::uint8_t{18}, 42};
            EXPECT_EQ(0, std::memcmp(dst, expected, 4)) << (vertical ? "rows" : "columns") << " in " << SlotName(slot);
        }
    }
}

TEST(ResizePlane, IntegralBoxSumsDoNotWrap)
{
    // 2^25 samples of 255: a 32-bit sum would wrap.
    const int w = 4096, h = 8192;
    std::vector<std::uint8_t> src(static_cast<std::size_t>(w) * h, 255);
    std::uint8_t out = 0;
    ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {w, h}, w, {0, 0, w, h}, &out, 1, {1, 1}, 1.0 / w, 1.0 / h, 8), 0);
    EXPECT_EQ(out, 255);
    // 16-bit: 2^17 samples of 65535.
    std::vector<std::uint16_t> wide(512 * 256, 65535);
    std::uint16_t out16 = 0;
    ImageRect roi{0, 0, 512, 256};
    ASSERT_EQ(ResizeSuperSample(wide.data(), {512, 256}, 1024, &roi, &out16, 2, {1, 1}, 1.0 / 512, 1.0 / 256, 1, 1,
                                ResizeSampleType::U16, false),
              0);
    EXPECT_EQ(out16, 65535);
}

// Whole boxes of 8-bit samples in every slot, one and four channels, against
// a direct sum: boxes up to the largest whose sums still fit 16 bits (16 x 16
// of 255) and just past it, boxes reaching past the region's last row and
// column, box areas whose half-up rounding meets exact ties (2 x 2, 2 x 3),
// and frame-sized pictures.
TEST(ResizeSuperSample, WholeBoxesMatchTheirSumsInEverySlot)
{
    struct Case {
        const char* name;
        ImageSize src;
        int xDivisor, yDivisor;
        ImageSize dst;
        bool saturated;  // every sample 255
    };
    const Case cases[] = {
        {"1920x1080 by 3", {1920, 1080}, 3, 3, {640, 360}, false},
        {"960x540 by 2", {960, 540}, 2, 2, {480, 270}, false},
        {"2 x 3 boxes", {301, 203}, 2, 3, {150, 67}, false},
        {"16 x 16 of 255", {256, 128}, 16, 16, {16, 8}, true},
        {"16 x 16", {259, 131}, 16, 16, {16, 8}, false},
        {"17 x 16 of 255", {289, 64}, 17, 16, {17, 4}, true},
        {"boxes past the last row and column", {10, 10}, 16, 16, {1, 1}, false},
        {"4 x 5, odd edges", {47, 29}, 4, 5, {11, 5}, false},
    };
    for (const Case& c : cases)
        for (const int channels : {1, 4}) {
            SCOPED_TRACE(std::string(c.name) + (channels == 1 ? ", one channel" : ", four channels"));
            const int rowBytes = c.src.width * channels;
            std::vector<std::uint8_t> src = RandomBytes(static_cast<std::size_t>(rowBytes) * c.src.height, 7);
            if (c.saturated)
                std::fill(src.begin(), src.end(), std::uint8_t{255});
            const double xFactor = 1.0 / c.xDivisor, yFactor = 1.0 / c.yDivisor;
            // The expected picture: each box's sum, samples past the region
            // repeating its last row and column, trunc(sum x norm + 0.5).
            std::vector<std::uint8_t> expected(static_cast<std::size_t>(c.dst.width) * c.dst.height * channels);
            for (int y = 0; y < c.dst.height; ++y)
                for (int x = 0; x < c.dst.width; ++x)
                    for (int k = 0; k < channels; ++k) {
                        std::uint64_t sum = 0;
                        for (int j = 0; j < c.yDivisor; ++j)
                            for (int i = 0; i < c.xDivisor; ++i) {
                                const int sy = std::min(y * c.yDivisor + j, c.src.height - 1);
                                const int sx = std::min(x * c.xDivisor + i, c.src.width - 1);
                                sum += src[static_cast<std::size_t>(sy) * rowBytes + sx * channels + k];
                            }
                        const double v = std::min(static_cast<double>(sum) * (xFactor * yFactor) + 0.5, 255.0);
                        expected[(static_cast<std::size_t>(y) * c.dst.width + x) * channels + k] =
                            static_cast<std::uint8_t>(v);
                    }
            for (const std::int32_t slot : SupportedSlots()) {
                SCOPED_TRACE(SlotName(slot));
                ScopedCpuVariant variant(slot);
                std::vector<std::uint8_t> out(expected.size(), kCanary);
                ImageRect roi{0, 0, c.src.width, c.src.height};
                const PrimitiveStatus status =
                    channels == 1
                        ? ResizePlane_8u_C1R(src.data(), c.src, rowBytes, roi, out.data(), c.dst.width, c.dst,
                                             xFactor, yFactor, ResizeMode::SuperSample)
                        : ResizeSuperSample(src.data(), c.src, rowBytes, &roi, out.data(), c.dst.width * 4, c.dst,
                                            xFactor, yFactor, 4, 4, ResizeSampleType::U8, false);
                ASSERT_EQ(status, 0);
                ASSERT_EQ(FirstDifference(out, expected), "");
            }
        }
}

// Fractional boxes whose weights are multiples of a power of two (sides 1.5,
// 1.25, 2.5) in every slot, one and four channels, against the box's exact
// coverage sum: such sums are exact in every form, so the picture must match
// to the bit. Cases mix a fractional side with a whole one, reach past the
// region's last row and column, start inside the plane, use odd widths, and
// saturate every sum.
TEST(ResizeSuperSample, DyadicFractionalBoxesMatchTheirExactSumsInEverySlot)
{
    struct Case {
        const char* name;
        ImageSize src;
        ImageRect roi;
        double xSide, ySide;  // box sides in source samples
        ImageSize dst;
        bool saturated;
    };
    const Case cases[] = {
        {"1920x1080 to 1280x720", {1920, 1080}, {0, 0, 1920, 1080}, 1.5, 1.5, {1280, 720}, false},
        {"odd width by 1.5", {95, 31}, {0, 0, 95, 31}, 1.5, 1.5, {63, 20}, false},
        {"1.5 across, 2 down", {67, 40}, {0, 0, 67, 40}, 1.5, 2.0, {44, 20}, false},
        {"2 across, 1.5 down", {66, 41}, {0, 0, 66, 41}, 2.0, 1.5, {33, 27}, false},
        {"1.25 both, region inside", {83, 61}, {3, 5, 77, 51}, 1.25, 1.25, {61, 40}, false},
        {"2.5 both", {53, 37}, {0, 0, 53, 37}, 2.5, 2.5, {21, 14}, false},
        {"1.5 of 255", {61, 29}, {0, 0, 61, 29}, 1.5, 1.5, {40, 19}, true},
        {"1.25 x 1.5, destination clipped", {40, 30}, {0, 0, 40, 30}, 1.25, 1.5, {17, 9}, false},
    };
    for (const Case& c : cases)
        for (const int channels : {1, 4}) {
            SCOPED_TRACE(std::string(c.name) + (channels == 1 ? ", one channel" : ", four channels"));
            const int rowBytes = c.src.width * channels;
            std::vector<std::uint8_t> src = RandomBytes(static_cast<std::size_t>(rowBytes) * c.src.height, 11);
            if (c.saturated)
                std::fill(src.begin(), src.end(), std::uint8_t{255});
            const double xFactor = 1.0 / c.xSide, yFactor = 1.0 / c.ySide;
            const int w = std::min(c.dst.width, static_cast<int>(c.roi.width * xFactor + 1e-7));
            const int h = std::min(c.dst.height, static_cast<int>(c.roi.height * yFactor + 1e-7));
            auto coverage = [](int i, double lo, double hi) {
                return std::max(0.0, std::min(i + 1.0, hi) - std::max(static_cast<double>(i), lo));
            };
            std::vector<std::uint8_t> expected(static_cast<std::size_t>(c.dst.width) * c.dst.height * channels,
                                               kCanary);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (int k = 0; k < channels; ++k) {
                        double sum = 0.0;
                        const double top = y * c.ySide, left = x * c.xSide;
                        for (int j = static_cast<int>(top); j < top + c.ySide; ++j)
                            for (int i = static_cast<int>(left); i < left + c.xSide; ++i) {
                                const int sy = c.roi.y + std::min(j, c.roi.height - 1);
                                const int sx = c.roi.x + std::min(i, c.roi.width - 1);
                                sum += coverage(j, top, top + c.ySide) * coverage(i, left, left + c.xSide) *
                                       src[static_cast<std::size_t>(sy) * rowBytes + sx * channels + k];
                            }
                        const double v = std::min(sum * (xFactor * yFactor) + 0.5, 255.0);
                        expected[(static_cast<std::size_t>(y) * c.dst.width + x) * channels + k] =
                            static_cast<std::uint8_t>(v);
                    }
            for (const std::int32_t slot : SupportedSlots()) {
                SCOPED_TRACE(SlotName(slot));
                ScopedCpuVariant variant(slot);
                std::vector<std::uint8_t> out(expected.size(), kCanary);
                ImageRect roi = c.roi;
                const PrimitiveStatus status =
                    channels == 1
                        ? ResizePlane_8u_C1R(src.data(), c.src, rowBytes, roi, out.data(), c.dst.width, c.dst,
                                             xFactor, yFactor, ResizeMode::SuperSample)
                        : ResizeSuperSample(src.data(), c.src, rowBytes, &roi, out.data(), c.dst.width * 4, c.dst,
                                            xFactor, yFactor, 4, 4, ResizeSampleType::U8, false);
                ASSERT_EQ(status, 0);
                ASSERT_EQ(FirstDifference(out, expected), "");
            }
        }
}

TEST(ResizeDrivers, ClipTheRegionInPlace)
{
    std::vector<std::uint8_t> src(100, 1), dst(100, 0);
    ImageRect roi{2, 3, 50, 50};
    ASSERT_EQ(ResizeInterpolated(src.data(), 10, 10, 10, &roi, dst.data(), 10, {10, 10}, 1.0, 1.0, 1, 1,
                                 ResizeSampleType::U8, false, ResizeMode::Nearest),
              0);
    EXPECT_EQ(roi.width, 8);
    EXPECT_EQ(roi.height, 7);
    // A null region, a bad description and null planes are refused.
    EXPECT_EQ(ResizeInterpolated(src.data(), 10, 10, 10, nullptr, dst.data(), 10, {10, 10}, 1.0, 1.0, 1, 1, 0, false, 1),
              -8);
    roi = {0, 0, 10, 10};
    EXPECT_EQ(ResizeInterpolated(src.data(), 10, 10, 10, &roi, dst.data(), 10, {10, 10}, 1.0, 1.0, 3, 4, 0, false, 1),
              -5);
    EXPECT_EQ(ResizeSuperSample(src.data(), {10, 10}, 10, &roi, dst.data(), 10, {10, 10}, 1.0, 1.0, 1, 1, 3, false),
              -5);
    const void* planes[3] = {src.data(), nullptr, src.data()};
    void* targets[3] = {dst.data(), dst.data(), dst.data()};
    EXPECT_EQ(ResizeInterpolated(planes, 10, 10, 10, &roi, targets, 10, {10, 10}, 1.0, 1.0, 1, 3, 0, true, 1), -8);
    // Super-sampling cannot enlarge.
    EXPECT_EQ(ResizeSuperSample(src.data(), {10, 10}, 10, &roi, dst.data(), 10, {10, 10}, 1.5, 1.0, 1, 1, 0, false),
              -23);
}

struct LoweringCase {
    const char* name;
    ImageSize size;
    std::int32_t mode;
    std::int32_t expectedMode;  // what the result must equal
};

TEST(ResizeDrivers, SmallSourcesLowerTheMode)
{
    const LoweringCase cases[] = {
        {"3 wide, cubic", {3, 100}, ResizeMode::Cubic, ResizeMode::Linear},
        {"3 high, Lanczos", {100, 3}, ResizeMode::Lanczos, ResizeMode::Linear},
        {"1 wide, Lanczos", {1, 100}, ResizeMode::Lanczos, ResizeMode::Nearest},
        {"7 wide, Lanczos", {7, 100}, ResizeMode::Lanczos, ResizeMode::Cubic},
        {"100 x 7, Lanczos", {100, 7}, ResizeMode::Lanczos, ResizeMode::Cubic},
        {"3 wide, Lanczos", {3, 100}, ResizeMode::Lanczos, ResizeMode::Linear},
        {"1 high, linear", {100, 1}, ResizeMode::Linear, ResizeMode::Nearest},
    };
    for (const auto& c : cases) {
        const auto src = Ramp(c.size.width, c.size.height);
        std::vector<std::uint8_t> got(200 * 200, 0), want(200 * 200, 0);
        ASSERT_EQ(ResizePlane_8u_C1R(src.data(), c.size, c.size.width, {0, 0, c.size.width, c.size.height}, got.data(),
                                     200, {200, 200}, 1.7, 1.3, c.mode),
                  0)
            << c.name;
        ASSERT_EQ(ResizePlane_8u_C1R(src.data(), c.size, c.size.width, {0, 0, c.size.width, c.size.height},
                                     want.data(), 200, {200, 200}, 1.7, 1.3, c.expectedMode),
                  0);
        EXPECT_EQ(got, want) << c.name;
    }
}

// Linear worked values: 8 x 4 image, y factor 2: row step 3/7, the last
// destination row on the last image row with all weight there.
TEST(ResizeDrivers, LinearCornersAligned)
{
    std::vector<std::uint8_t> src(32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            src[y * 8 + x] = static_cast<std::uint8_t>(10 * y + x);
    std::vector<std::uint8_t> dst(8 * 10, kCanary);
    ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {8, 4}, 8, {0, 0, 8, 4}, dst.data(), 8, {8, 10}, 1.0, 2.0, 2), 0);
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(dst[0 * 8 + x], src[x]);
        EXPECT_EQ(dst[7 * 8 + x], src[24 + x]) << x;  // row 7 = image row 3
        EXPECT_EQ(dst[8 * 8 + x], kCanary);
    }
    // Row 1 at 3/7: 10 x 3/7 = 4.29 above row 0, Q14 weight 7021.
    EXPECT_EQ(dst[8], static_cast<std::uint8_t>((src[0] * 64 * (16384 - 7021) + src[8] * 64 * 7021 + 524288) >> 20));
    // A one-column region at factor 1 takes that column with full weight.
    std::vector<std::uint8_t> one(4, 0);
    ASSERT_EQ(ResizePlane_8u_C1R(src.data(), {8, 4}, 8, {3, 0, 1, 4}, one.data(), 1, {1, 4}, 1.0, 1.0, 2), 0);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(one[y], src[y * 8 + 3]);
}

}  // namespace
