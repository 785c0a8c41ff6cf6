#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <vector>

#include "SlotSweep.h"
#include "imaging/primitives/ImageCopy.h"
#include "imaging/primitives/detail/CopyKernels.h"

using primitives_test::FirstDifference;
using primitives_test::RandomBytes;
using primitives_test::ScopedCpuVariant;
using primitives_test::SlotName;

namespace {

// Bytes of one image: row step and height, randomly filled so that padding
// and untouched bytes are recognisable.
struct Image {
    std::int32_t step;
    std::int32_t height;
    std::vector<std::uint8_t> bytes;

    Image(std::int32_t s, std::int32_t h, std::uint32_t seed)
        : step(s), height(h), bytes(RandomBytes(static_cast<std::size_t>(s) * h + 64, seed))
    {
    }
    std::uint8_t* Row(int y) { return bytes.data() + static_cast<std::size_t>(y) * step; }
    const std::uint8_t* Row(int y) const { return bytes.data() + static_cast<std::size_t>(y) * step; }
};

// Geometries: odd widths and steps, 1x1, the vector loops' boundaries, and
// regions on both sides of the copy threshold (1 MiB written), packed (one
// merged pass) and padded.
struct Geometry {
    std::int32_t width, height;
    std::int32_t srcPad, dstPad;  // bytes beyond the row; -1 keeps both packed
};

const Geometry kGeometries[] = {
    {1, 1, 0, 0},     {1, 1, 3, 5},    {3, 2, 1, 7},     {15, 3, 0, 0},  {16, 2, 5, 3},
    {17, 5, 11, 1},   {33, 4, 0, 9},   {64, 3, 1, 1},    {255, 7, 13, 2}, {513, 512, 0, 0},
    {513, 512, 3, 5}, {256, 1024, 0, 0}, {1023, 3, 7, 0},
};

template <typename T>
using CopyFn = PrimitiveStatus (*)(const T*, std::int32_t, T*, std::int32_t, ImageSize);

// Runs a copy of pixels of `channels` samples of T (written channels
// `written`) in every slot and compares with a per-sample reference.
template <typename T>
void CheckPixelCopy(const char* name, CopyFn<T> copy, int srcChannels, int dstChannels, int written,
                    std::vector<Geometry> geometries = {std::begin(kGeometries), std::end(kGeometries)})
{
    std::uint32_t seed = 1;
    for (const auto& g : geometries) {
        const std::int32_t srcRow = g.width * srcChannels * static_cast<std::int32_t>(sizeof(T));
        const std::int32_t dstRow = g.width * dstChannels * static_cast<std::int32_t>(sizeof(T));
        const Image src(srcRow + g.srcPad, g.height, ++seed);
        const Image before(dstRow + g.dstPad, g.height, ++seed);
        Image expected = before;
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x)
                for (int c = 0; c < written; ++c)
                    std::memcpy(expected.Row(y) + (x * dstChannels + c) * sizeof(T),
                                src.Row(y) + (x * srcChannels + c) * sizeof(T), sizeof(T));
        for (std::int32_t slot : primitives_test::SupportedSlots()) {
            ScopedCpuVariant variant(slot);
            Image dst = before;
            ASSERT_EQ(copy(reinterpret_cast<const T*>(src.bytes.data()), src.step,
                           reinterpret_cast<T*>(dst.bytes.data()), dst.step, {g.width, g.height}),
                      0);
            const std::string diff = FirstDifference(dst.bytes, expected.bytes);
            ASSERT_TRUE(diff.empty()) << name << " " << SlotName(slot) << " " << g.width << "x" << g.height
                                      << " pads " << g.srcPad << "," << g.dstPad << ": " << diff;
        }
    }
}

}  // namespace

TEST(ImageCopy, CopiesWithinOneLayoutAndIntoFourBytePixels)
{
    CheckPixelCopy<std::uint8_t>("CopyImage8uC4", &CopyImage8uC4, 4, 4, 4);
    CheckPixelCopy<std::uint8_t>("CopyImage8uC1", &CopyImage8uC1, 1, 1, 1);
    CheckPixelCopy<std::uint16_t>("CopyImage16uC1", &CopyImage16uC1, 1, 1, 1);
    CheckPixelCopy<std::uint8_t>("CopyImage8uC3AC4", &CopyImage8uC3AC4, 3, 4, 3);
}

TEST(ImageCopy, OneChannelCopiesOnBothSidesOfTheStreamingThreshold)
{
    // 1 MiB written is the threshold; these regions write just below and just
    // above it, packed (one merged run) and with odd padding.
    CheckPixelCopy<std::uint8_t>("CopyImage8uC1", &CopyImage8uC1, 1, 1, 1,
                                 {{1024, 1024, 0, 0}, {1024, 1024, 1, 3}, {1025, 1024, 0, 0}, {1025, 1023, 3, 1}});
    CheckPixelCopy<std::uint16_t>("CopyImage16uC1", &CopyImage16uC1, 1, 1, 1,
                                  {{512, 1024, 0, 0}, {513, 1024, 0, 0}, {513, 1023, 2, 6}});
}

TEST(ImageCopy, StreamingRowKernelsCopyExactlyTheBytes)
{
    using primitives_detail::CopyRowFunction;
    std::vector<std::pair<const char*, CopyRowFunction>> kernels = {{"portable", &primitives_detail::CopyRowPortable}};
#if defined(__x86_64__) || defined(__i386__)
    kernels.emplace_back("sse2", &primitives_detail::CopyRowStreamingSse2);
    if (IsCpuVariantSupported(5))
        kernels.emplace_back("avx2", &primitives_detail::CopyRowStreamingAvx2);
#endif
    const std::vector<std::uint8_t> src = RandomBytes(70000, 5);
    for (const auto& [name, kernel] : kernels) {
        for (std::size_t n : {0u, 1u, 7u, 63u, 255u, 256u, 257u, 4099u, 65536u + 13u}) {
            for (std::size_t srcOffset : {0u, 1u, 17u}) {
                for (std::size_t dstOffset : {0u, 3u, 31u}) {
                    for (bool nonTemporal : {false, true}) {
                        std::vector<std::uint8_t> dst(n + 64, 0xEE);
                        std::vector<std::uint8_t> expected = dst;
                        std::memcpy(expected.data() + dstOffset, src.data() + srcOffset, n);
                        kernel(src.data() + srcOffset, dst.data() + dstOffset, n, nonTemporal);
                        ASSERT_TRUE(FirstDifference(dst, expected).empty())
                            << name << " n " << n << " offsets " << srcOffset << "," << dstOffset << " nt "
                            << nonTemporal;
                    }
                }
            }
        }
    }
    std::vector<std::uint8_t> dst(300, 0);
    CopyRowBytes_x3(src.data() + 1, dst.data() + 2, 290, true);
    EXPECT_EQ(std::memcmp(dst.data() + 2, src.data() + 1, 290), 0);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[292], 0);
}

TEST(ImageCopy, SwapChannelsFollowsTheOrderTable)
{
    struct Case {
        std::array<std::int32_t, 4> order;
        std::uint8_t fill;
    };
    // Expected pixel from source (a, b, c) over destination (p, q, r, s).
    const Case cases[] = {{{2, 1, 0, 3}, 255}, {{2, 0, 1, 3}, 0}, {{4, 0, 1, 2}, 9},  {{0, 0, 0, 7}, 1},
                          {{0, 1, 2, 3}, 77},  {{3, 3, 3, 3}, 5}, {{5, 6, 7, 4}, 3},  {{1, 2, 0, 4}, 0}};
    std::uint32_t seed = 40;
    for (const auto& c : cases) {
        for (const auto& g : kGeometries) {
            const Image src(3 * g.width + g.srcPad, g.height, ++seed);
            const Image before(4 * g.width + g.dstPad, g.height, ++seed);
            Image expected = before;
            for (int y = 0; y < g.height; ++y)
                for (int x = 0; x < g.width; ++x)
                    for (int i = 0; i < 4; ++i) {
                        const std::int32_t e = c.order[i];
                        if (e < 3)
                            expected.Row(y)[4 * x + i] = src.Row(y)[3 * x + e];
                        else if (e == 3)
                            expected.Row(y)[4 * x + i] = c.fill;
                    }
            for (std::int32_t slot : primitives_test::SupportedSlots()) {
                ScopedCpuVariant variant(slot);
                Image dst = before;
                ASSERT_EQ(SwapChannels8uC3C4(src.bytes.data(), src.step, dst.bytes.data(), dst.step,
                                             {g.width, g.height}, c.order.data(), c.fill),
                          0);
                const std::string diff = FirstDifference(dst.bytes, expected.bytes);
                ASSERT_TRUE(diff.empty()) << "order " << c.order[0] << c.order[1] << c.order[2] << c.order[3] << " "
                                          << SlotName(slot) << " " << g.width << "x" << g.height << ": " << diff;
            }
        }
    }
}

TEST(ImageCopy, SwapChannelsGoldenPixels)
{
    const std::uint8_t src[6] = {10, 20, 30, 40, 50, 60};
    struct Case {
        std::array<std::int32_t, 4> order;
        std::uint8_t fill;
        std::array<std::uint8_t, 8> expected;
    };
    const Case cases[] = {
        {{2, 1, 0, 3}, 255, {30, 20, 10, 255, 60, 50, 40, 255}},
        {{2, 0, 1, 3}, 0, {30, 10, 20, 0, 60, 40, 50, 0}},
        {{4, 0, 1, 2}, 0, {0xAA, 10, 20, 30, 0xAA, 40, 50, 60}},
        {{0, 0, 0, 7}, 0, {10, 10, 10, 0xAA, 40, 40, 40, 0xAA}},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, 8> dst;
        dst.fill(0xAA);
        ASSERT_EQ(SwapChannels8uC3C4(src, 6, dst.data(), 8, {2, 1}, c.order.data(), c.fill), 0);
        EXPECT_EQ(dst, c.expected);
    }
}

TEST(ImageCopy, JoinsAndSplitsMatchThePerSampleRule)
{
    std::uint32_t seed = 300;
    for (const auto& g : kGeometries) {
        for (int channels : {3, 4}) {
            for (int sampleBytes : {1, 2}) {
                // Planes share one step; the interleaved image has its own.
                const std::int32_t planeStep = g.width * sampleBytes + g.srcPad;
                const std::int32_t pixelStep = g.width * channels * sampleBytes + g.dstPad;
                std::vector<Image> planes;
                for (int c = 0; c < channels; ++c)
                    planes.emplace_back(planeStep, g.height, ++seed);
                const Image pixelsBefore(pixelStep, g.height, ++seed);

                Image joined = pixelsBefore;
                for (int y = 0; y < g.height; ++y)
                    for (int x = 0; x < g.width; ++x)
                        for (int c = 0; c < channels; ++c)
                            std::memcpy(joined.Row(y) + (x * channels + c) * sampleBytes,
                                        planes[c].Row(y) + x * sampleBytes, sampleBytes);
                // Splitting the joined image must give the planes back.
                std::vector<Image> splitBefore;
                for (int c = 0; c < channels; ++c)
                    splitBefore.emplace_back(planeStep, g.height, ++seed);

                for (std::int32_t slot : primitives_test::SupportedSlots()) {
                    ScopedCpuVariant variant(slot);
                    Image dst = pixelsBefore;
                    std::vector<Image> split = splitBefore;
                    const void* srcPlanes[4];
                    void* dstPlanes[4];
                    for (int c = 0; c < channels; ++c) {
                        srcPlanes[c] = planes[c].bytes.data();
                        dstPlanes[c] = split[c].bytes.data();
                    }
                    const ImageSize size{g.width, g.height};
                    PrimitiveStatus joinStatus, splitStatus;
                    if (sampleBytes == 1 && channels == 3) {
                        joinStatus = CopyImage8uP3C3(reinterpret_cast<const std::uint8_t* const*>(srcPlanes), planeStep,
                                                     dst.bytes.data(), pixelStep, size);
                        splitStatus = CopyImage8uC3P3(joined.bytes.data(), pixelStep,
                                                      reinterpret_cast<std::uint8_t* const*>(dstPlanes), planeStep, size);
                    } else if (sampleBytes == 1) {
                        joinStatus = CopyImage8uP4C4(reinterpret_cast<const std::uint8_t* const*>(srcPlanes), planeStep,
                                                     dst.bytes.data(), pixelStep, size);
                        splitStatus = CopyImage8uC4P4(joined.bytes.data(), pixelStep,
                                                      reinterpret_cast<std::uint8_t* const*>(dstPlanes), planeStep, size);
                    } else if (channels == 3) {
                        joinStatus = CopyImage16uP3C3(reinterpret_cast<const std::uint16_t* const*>(srcPlanes),
                                                      planeStep, reinterpret_cast<std::uint16_t*>(dst.bytes.data()),
                                                      pixelStep, size);
                        splitStatus = CopyImage16uC3P3(reinterpret_cast<const std::uint16_t*>(joined.bytes.data()),
                                                       pixelStep, reinterpret_cast<std::uint16_t* const*>(dstPlanes),
                                                       planeStep, size);
                    } else {
                        joinStatus = CopyImage16uP4C4(reinterpret_cast<const std::uint16_t* const*>(srcPlanes),
                                                      planeStep, reinterpret_cast<std::uint16_t*>(dst.bytes.data()),
                                                      pixelStep, size);
                        splitStatus = CopyImage16uC4P4(reinterpret_cast<const std::uint16_t*>(joined.bytes.data()),
                                                       pixelStep, reinterpret_cast<std::uint16_t* const*>(dstPlanes),
                                                       planeStep, size);
                    }
                    const std::string what = std::to_string(channels) + " channels of " +
                                             std::to_string(8 * sampleBytes) + " bits, " + SlotName(slot) + ", " +
                                             std::to_string(g.width) + "x" + std::to_string(g.height);
                    ASSERT_EQ(joinStatus, 0) << what;
                    ASSERT_EQ(splitStatus, 0) << what;
                    ASSERT_TRUE(FirstDifference(dst.bytes, joined.bytes).empty()) << "join " << what;
                    for (int c = 0; c < channels; ++c) {
                        // Padding of each plane keeps its own bytes.
                        Image expectedPlane = splitBefore[c];
                        for (int y = 0; y < g.height; ++y)
                            std::memcpy(expectedPlane.Row(y), planes[c].Row(y), g.width * sampleBytes);
                        ASSERT_TRUE(FirstDifference(split[c].bytes, expectedPlane.bytes).empty())
                            << "split plane " << c << " " << what;
                    }
                }
            }
        }
    }
}

TEST(ImageCopy, ArgumentsAreCheckedInOrderAndNothingIsWritten)
{
    std::vector<std::uint8_t> src(64, 1), dst(64, 0xAA);
    std::uint8_t* s = src.data();
    std::uint8_t* d = dst.data();
    const std::int32_t order[4] = {2, 0, 1, 3};
    const std::uint8_t* planes[3] = {s, s + 8, s + 16};
    const std::uint8_t* planesNoSecond[3] = {s, nullptr, s + 16};
    std::uint8_t* outPlanes[3] = {d, d + 8, d + 16};
    std::uint8_t* outPlanesNoThird[3] = {d, d + 8, nullptr};
    const std::int32_t negativeSecond[4] = {2, -1, 1, 3};
    const std::int32_t negativeFourth[4] = {2, 0, 1, -3};

    struct Case {
        const char* name;
        std::function<PrimitiveStatus()> call;
        PrimitiveStatus status;
    };
    const Case cases[] = {
        {"C4 null source with bad size", [&] { return CopyImage8uC4(nullptr, 8, d, 8, {0, 0}); }, -8},
        {"C4 null destination", [&] { return CopyImage8uC4(s, 8, nullptr, 8, {2, 2}); }, -8},
        {"C4 zero width", [&] { return CopyImage8uC4(s, 8, d, 8, {0, 2}); }, -6},
        {"C4 negative height", [&] { return CopyImage8uC4(s, 8, d, 8, {2, -1}); }, -6},
        {"C1 steps are not checked", [&] { return CopyImage8uC1(s, 1, d, 1, {0, 1}); }, -6},
        {"C3AC4 null source", [&] { return CopyImage8uC3AC4(nullptr, 6, d, 8, {2, 2}); }, -8},
        {"swap null order", [&] { return SwapChannels8uC3C4(s, 6, d, 8, {2, 2}, nullptr, 0); }, -8},
        {"swap null order before size", [&] { return SwapChannels8uC3C4(s, 6, d, 8, {0, 2}, nullptr, 0); }, -8},
        {"swap size before order entries", [&] { return SwapChannels8uC3C4(s, 6, d, 8, {0, 2}, negativeSecond, 0); },
         -6},
        {"swap negative entry", [&] { return SwapChannels8uC3C4(s, 6, d, 8, {2, 2}, negativeSecond, 0); }, -60},
        {"swap negative fourth entry", [&] { return SwapChannels8uC3C4(s, 6, d, 8, {2, 2}, negativeFourth, 0); },
         -60},
        {"swap null destination", [&] { return SwapChannels8uC3C4(s, 6, nullptr, 8, {2, 2}, order, 0); }, -8},
        {"join null plane array", [&] { return CopyImage8uP3C3(nullptr, 8, d, 24, {2, 2}); }, -8},
        {"join null destination", [&] { return CopyImage8uP3C3(planes, 8, nullptr, 24, {2, 2}); }, -8},
        {"join null plane before size", [&] { return CopyImage8uP3C3(planesNoSecond, 8, d, 24, {0, 0}); }, -8},
        {"join bad size", [&] { return CopyImage8uP3C3(planes, 8, d, 24, {2, 0}); }, -6},
        {"split null source", [&] { return CopyImage8uC3P3(nullptr, 24, outPlanes, 8, {2, 2}); }, -8},
        {"split null plane array", [&] { return CopyImage8uC3P3(s, 24, nullptr, 8, {2, 2}); }, -8},
        {"split null plane before size", [&] { return CopyImage8uC3P3(s, 24, outPlanesNoThird, 8, {-1, 2}); }, -8},
        {"split bad size", [&] { return CopyImage8uC3P3(s, 24, outPlanes, 8, {-1, 2}); }, -6},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const auto& c : cases) {
            EXPECT_EQ(c.call(), c.status) << c.name << " " << SlotName(slot);
            EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](std::uint8_t b) { return b == 0xAA; })) << c.name;
        }
    }
}
