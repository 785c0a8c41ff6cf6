// Planar 4:2:0 to opaque 32-bit pixels with a chosen matrix: every pixel
// against the exact conversion, across the vector body and its scalar tail,
// odd sizes, studio black and white, and the argument checks.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/primitives/YuvToBgra.h"

namespace {

using platform::YuvMatrix;

// The exact conversion from the matrices' published weights.
void Exact(YuvMatrix matrix, int y, int u, int v, int out[3])
{
    const double kr = matrix == YuvMatrix::Bt709Video ? 0.2126 : 0.299;
    const double kb = matrix == YuvMatrix::Bt709Video ? 0.0722 : 0.114;
    const bool full = matrix == YuvMatrix::Bt601Full;
    const double Y = full ? y : (y - 16) * 255.0 / 219;
    const double U = (u - 128) * (full ? 1.0 : 255.0 / 224), V = (v - 128) * (full ? 1.0 : 255.0 / 224);
    const double r = Y + 2 * (1 - kr) * V;
    const double b = Y + 2 * (1 - kb) * U;
    const double g = (Y - kr * r - kb * b) / (1 - kr - kb);
    const double rgb[3] = {b, g, r};  // memory order
    for (int i = 0; i < 3; ++i)
        out[i] = static_cast<int>(std::lround(std::clamp(rgb[i], 0.0, 255.0)));
}

struct Planes {
    int width, height;
    std::vector<std::uint8_t> y, u, v;
    int ys, cs;

    Planes(int w, int h, unsigned seed) : width(w), height(h), ys(w + 3), cs((w + 1) / 2 + 5)
    {
        std::mt19937 random(seed);
        y.resize(static_cast<std::size_t>(ys) * h);
        u.resize(static_cast<std::size_t>(cs) * ((h + 1) / 2));
        v.resize(u.size());
        for (auto* plane : {&y, &u, &v})
            for (auto& sample : *plane)
                sample = static_cast<std::uint8_t>(random() & 0xFF);
    }
};

TEST(YuvToBgra, EveryPixelIsWithinOneLevelOfTheExactConversionForEachMatrix)
{
    struct Size {
        int width, height;
    };
    // Widths below, at and past the 16-pixel vector step, odd and even.
    for (const Size size : {Size{1, 1}, Size{15, 3}, Size{16, 2}, Size{37, 5}, Size{64, 4}})
        for (const YuvMatrix matrix : {YuvMatrix::Bt601Video, YuvMatrix::Bt709Video, YuvMatrix::Bt601Full}) {
            SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << " matrix "
                                            << static_cast<int>(matrix));
            Planes in(size.width, size.height, static_cast<unsigned>(size.width * 31 + size.height));
            const int dstStep = size.width * 4 + 8;
            std::vector<std::uint8_t> out(static_cast<std::size_t>(dstStep) * size.height, 0x5A);
            const std::uint8_t* planes[3] = {in.y.data(), in.u.data(), in.v.data()};
            const std::int32_t steps[3] = {in.ys, in.cs, in.cs};
            ASSERT_EQ(ConvertYuv420ToBgra8uP3C4M(planes, steps, out.data(), dstStep,
                                                 ImageSize{size.width, size.height}, matrix),
                      0);
            int worst = 0;
            for (int row = 0; row < size.height; ++row) {
                for (int x = 0; x < size.width; ++x) {
                    int expected[3];
                    Exact(matrix, in.y[row * in.ys + x], in.u[(row / 2) * in.cs + x / 2],
                          in.v[(row / 2) * in.cs + x / 2], expected);
                    const std::uint8_t* p = out.data() + row * dstStep + x * 4;
                    for (int c = 0; c < 3; ++c)
                        worst = std::max(worst, std::abs(p[c] - expected[c]));
                    ASSERT_EQ(p[3], 255) << "opaque at " << x << "," << row;
                }
                // Nothing past the row's pixels.
                for (int pad = size.width * 4; pad < dstStep; ++pad)
                    ASSERT_EQ(out[static_cast<std::size_t>(row) * dstStep + pad], 0x5A);
            }
            EXPECT_LE(worst, 1);
        }
}

TEST(YuvToBgra, StudioBlackAndWhiteBecomeZeroAndFull)
{
    for (const YuvMatrix matrix : {YuvMatrix::Bt601Video, YuvMatrix::Bt709Video}) {
        for (const int level : {16, 235, 0, 255}) {
            std::vector<std::uint8_t> y(32 * 2, static_cast<std::uint8_t>(level)), c(16, 128);
            std::vector<std::uint8_t> out(32 * 4 * 2);
            const std::uint8_t* planes[3] = {y.data(), c.data(), c.data()};
            const std::int32_t steps[3] = {32, 16, 16};
            ASSERT_EQ(ConvertYuv420ToBgra8uP3C4M(planes, steps, out.data(), 32 * 4, ImageSize{32, 2}, matrix), 0);
            const int expected = level <= 16 ? 0 : 255;
            for (std::size_t i = 0; i < out.size(); ++i)
                ASSERT_EQ(out[i], i % 4 == 3 ? 255 : expected) << "level " << level << " byte " << i;
        }
    }
}

TEST(YuvToBgra, BadArgumentsWriteNothing)
{
    std::vector<std::uint8_t> plane(64, 100), out(64, 7);
    const std::uint8_t* planes[3] = {plane.data(), plane.data(), plane.data()};
    const std::uint8_t* missing[3] = {plane.data(), nullptr, plane.data()};
    const std::int32_t steps[3] = {8, 4, 4};
    EXPECT_EQ(ConvertYuv420ToBgra8uP3C4M(nullptr, steps, out.data(), 32, ImageSize{8, 2}, YuvMatrix::Bt601Video),
              PrimitiveStatusCode::NullPointer);
    EXPECT_EQ(ConvertYuv420ToBgra8uP3C4M(planes, nullptr, out.data(), 32, ImageSize{8, 2}, YuvMatrix::Bt601Video),
              PrimitiveStatusCode::NullPointer);
    EXPECT_EQ(ConvertYuv420ToBgra8uP3C4M(planes, steps, nullptr, 32, ImageSize{8, 2}, YuvMatrix::Bt601Video),
              PrimitiveStatusCode::NullPointer);
    EXPECT_EQ(ConvertYuv420ToBgra8uP3C4M(missing, steps, out.data(), 32, ImageSize{8, 2}, YuvMatrix::Bt601Video),
              PrimitiveStatusCode::NullPointer);
    EXPECT_EQ(ConvertYuv420ToBgra8uP3C4M(planes, steps, out.data(), 32, ImageSize{0, 2}, YuvMatrix::Bt601Video),
              PrimitiveStatusCode::BadSize);
    EXPECT_EQ(ConvertYuv420ToBgra8uP3C4M(planes, steps, out.data(), 32, ImageSize{8, -1}, YuvMatrix::Bt601Video),
              PrimitiveStatusCode::BadSize);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 7; }));
}

}  // namespace
