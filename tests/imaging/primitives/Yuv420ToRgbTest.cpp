#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "SlotSweep.h"
#include "imaging/primitives/Yuv420ToRgb.h"

using primitives_test::ScopedCpuVariant;

namespace {

constexpr std::uint8_t kUntouched = 0xCD;

// A frame in three separate planes with optional row padding, and a
// destination prefilled with a marker.
struct Frame {
    std::int32_t width;
    std::int32_t height;
    std::vector<std::uint8_t> y, u, v;
    std::array<std::int32_t, 3> steps;
    std::vector<std::uint8_t> out;
    std::int32_t outStep;

    Frame(std::int32_t w, std::int32_t h, std::int32_t pad = 0)
        : width(w), height(h), steps{w + pad, w / 2 + pad, w / 2 + pad + 1}, outStep(4 * w + pad)
    {
        // At least one byte per plane, so that a 1-pixel-wide frame still has
        // non-null chroma planes.
        y.assign(static_cast<std::size_t>(steps[0]) * std::max(h, 1), 0);
        u.assign(std::max<std::size_t>(static_cast<std::size_t>(steps[1]) * std::max(h / 2, 1), 1), 128);
        v.assign(std::max<std::size_t>(static_cast<std::size_t>(steps[2]) * std::max(h / 2, 1), 1), 128);
        out.assign(static_cast<std::size_t>(outStep) * std::max(h, 1), kUntouched);
    }

    void Fill(std::uint8_t luma, std::uint8_t cu, std::uint8_t cv)
    {
        std::fill(y.begin(), y.end(), luma);
        std::fill(u.begin(), u.end(), cu);
        std::fill(v.begin(), v.end(), cv);
    }

    void Randomise(std::uint32_t seed)
    {
        y = primitives_test::RandomBytes(y.size(), seed);
        u = primitives_test::RandomBytes(u.size(), seed + 1);
        v = primitives_test::RandomBytes(v.size(), seed + 2);
    }

    PrimitiveStatus Convert()
    {
        const std::uint8_t* planes[3] = {y.data(), u.data(), v.data()};
        return ConvertYuv420ToRgb8uP3C3(planes, steps.data(), out.data(), outStep, {width, height});
    }

    const std::uint8_t* Pixel(int x, int row) const { return out.data() + row * outStep + 4 * x; }
};

std::array<int, 4> PixelAt(const Frame& f, int x, int row)
{
    const std::uint8_t* p = f.Pixel(x, row);
    return {p[0], p[1], p[2], p[3]};
}

}  // namespace

TEST(ConvertYuv420ToRgb, GoldenColoursOfTheMainForm)
{
    struct Case {
        std::uint8_t y, u, v;
        std::array<int, 4> rgbx;
    };
    const Case cases[] = {
        {0, 0, 0, {0, 136, 0, 0}},
        {255, 255, 255, {255, 125, 255, 0}},
        {128, 128, 255, {255, 27, 130, 0}},
        {128, 255, 128, {130, 81, 255, 0}},
        {16, 128, 128, {0, 0, 0, 0}},
        {235, 128, 128, {255, 255, 255, 0}},
        {81, 90, 240, {254, 0, 0, 0}},
        {145, 54, 34, {0, 255, 1, 0}},
        {41, 240, 110, {0, 0, 255, 0}},
        {0, 0, 140, {0, 22, 0, 0}},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const auto& c : cases) {
            // 36 pixels wide: 18 chroma pairs, an even count, so every pixel
            // takes the main form and the vector loops are exercised.
            Frame f(36, 2);
            f.Fill(c.y, c.u, c.v);
            ASSERT_EQ(f.Convert(), 0);
            for (int row = 0; row < 2; ++row)
                for (int x = 0; x < 36; ++x)
                    ASSERT_EQ(PixelAt(f, x, row), c.rgbx)
                        << primitives_test::SlotName(slot) << " YUV " << int(c.y) << "," << int(c.u) << ","
                        << int(c.v) << " at " << x << "," << row;
        }
    }
}

TEST(ConvertYuv420ToRgb, LastPairOfAnOddPairCountTakesTheFixedPointForm)
{
    // Y = 0, U = 0, V = 140: R is 0 in the main form and 1 in 16.16 form.
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (std::int32_t width : {2, 6, 34, 66}) {
            Frame f(width, 4);
            f.Fill(0, 0, 140);
            ASSERT_EQ(f.Convert(), 0);
            for (int row = 0; row < 4; ++row) {
                for (int x = 0; x < width; ++x) {
                    const int expectedR = x >= width - 2 ? 1 : 0;
                    ASSERT_EQ(PixelAt(f, x, row), (std::array<int, 4>{expectedR, 22, 0, 0}))
                        << primitives_test::SlotName(slot) << " width " << width << " at " << x << "," << row;
                }
            }
        }
    }
}

// Video luma 16..235 spreads over 0..255, rounded to the nearest level.
TEST(ConvertYuv420ToRgb, NeutralChromaGivesGreyForEveryLuma)
{
    Frame f(512, 2);
    for (int x = 0; x < 512; ++x) {
        f.y[x] = static_cast<std::uint8_t>(x % 256);
        f.y[f.steps[0] + x] = static_cast<std::uint8_t>(255 - x % 256);
    }
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        ASSERT_EQ(f.Convert(), 0);
        for (int row = 0; row < 2; ++row)
            for (int x = 0; x < 512; ++x) {
                const int luma = f.y[row * f.steps[0] + x];
                const int grey = std::clamp(static_cast<int>(std::floor((luma - 16) * 255.0 / 219.0 + 0.5)), 0, 255);
                ASSERT_EQ(PixelAt(f, x, row), (std::array<int, 4>{grey, grey, grey, 0})) << x << "," << row;
            }
    }
}

TEST(ConvertYuv420ToRgb, OddSizesConvertTheEvenPartAndWarn)
{
    struct Case {
        std::int32_t width, height;
        int writtenColumns, writtenRows;
    };
    const Case cases[] = {{1, 1, 0, 0}, {1, 6, 0, 0}, {6, 1, 0, 0}, {5, 4, 4, 4}, {4, 5, 4, 4}, {35, 3, 34, 2}};
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const auto& c : cases) {
            Frame f(c.width, c.height);
            f.Fill(200, 128, 128);
            EXPECT_EQ(f.Convert(), 35) << c.width << "x" << c.height;
            for (int row = 0; row < c.height; ++row)
                for (int x = 0; x < c.width; ++x) {
                    const bool written = x < c.writtenColumns && row < c.writtenRows;
                    const std::array<int, 4> expected =
                        written ? std::array<int, 4>{214, 214, 214, 0}
                                : std::array<int, 4>{kUntouched, kUntouched, kUntouched, kUntouched};
                    ASSERT_EQ(PixelAt(f, x, row), expected)
                        << primitives_test::SlotName(slot) << " " << c.width << "x" << c.height << " at " << x << ","
                        << row;
                }
        }
    }
}

TEST(ConvertYuv420ToRgb, ArgumentsAreCheckedInOrderBeforeAnyWrite)
{
    Frame f(8, 4);
    const std::uint8_t* planes[3] = {f.y.data(), f.u.data(), f.v.data()};
    const std::uint8_t* noU[3] = {f.y.data(), nullptr, f.v.data()};
    const std::uint8_t* noY[3] = {nullptr, f.u.data(), f.v.data()};
    const std::uint8_t* noV[3] = {f.y.data(), f.u.data(), nullptr};
    struct Case {
        const char* name;
        const std::uint8_t* const* planes;
        std::uint8_t* dst;
        ImageSize size;
        PrimitiveStatus status;
        bool nullSteps = false;
    };
    const Case cases[] = {
        {"null step array", planes, f.out.data(), {8, 4}, -8, true},
        {"null plane array", nullptr, f.out.data(), {8, 4}, -8},
        {"null plane array and bad size", nullptr, f.out.data(), {0, 4}, -8},
        {"null destination", planes, nullptr, {-1, -1}, -8},
        {"zero width", planes, f.out.data(), {0, 4}, -6},
        {"negative height", planes, f.out.data(), {8, -1}, -6},
        {"null U with a bad size", noU, f.out.data(), {8, 0}, -6},
        {"null Y", noY, f.out.data(), {8, 4}, -8},
        {"null U", noU, f.out.data(), {8, 4}, -8},
        {"null V", noV, f.out.data(), {8, 4}, -8},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const auto& c : cases) {
            const std::int32_t* steps = c.nullSteps ? nullptr : f.steps.data();
            EXPECT_EQ(ConvertYuv420ToRgb8uP3C3(c.planes, steps, c.dst, f.outStep, c.size), c.status)
                << c.name;
            EXPECT_TRUE(std::all_of(f.out.begin(), f.out.end(), [](std::uint8_t b) { return b == kUntouched; }))
                << c.name;
        }
    }
}

TEST(ConvertYuv420ToRgb, AgreesWithVideoRangeYCbCrWithinOneLevel)
{
    // Luma 16..235 and chroma 16..240 (centred on 128) to full-range RGB
    // with the BT.601 weights, in double precision, rounded and clamped.
    auto model = [](int luma, int cu, int cv) {
        const double y = (luma - 16.0) * 255.0 / 219.0;
        const double u = (cu - 128.0) * 255.0 / 224.0;
        const double v = (cv - 128.0) * 255.0 / 224.0;
        auto clamp = [](double x) { return std::clamp(static_cast<int>(std::lround(x)), 0, 255); };
        return std::array<int, 3>{clamp(y + 1.402 * v), clamp(y - 0.344136 * u - 0.714136 * v),
                                  clamp(y + 1.772 * u)};
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (std::int32_t width : {64, 70, 322}) {  // 70 and 322: odd pair counts
            Frame f(width, 48, 3);
            f.Randomise(static_cast<std::uint32_t>(width * 7 + slot));
            ASSERT_EQ(f.Convert(), 0);
            for (int row = 0; row < 48; ++row)
                for (int x = 0; x < width; ++x) {
                    const auto expected = model(f.y[row * f.steps[0] + x], f.u[(row / 2) * f.steps[1] + x / 2],
                                                f.v[(row / 2) * f.steps[2] + x / 2]);
                    const std::uint8_t* p = f.Pixel(x, row);
                    for (int c = 0; c < 3; ++c)
                        ASSERT_LE(std::abs(p[c] - expected[c]), 1)
                            << primitives_test::SlotName(slot) << " width " << width << " at " << x << "," << row
                            << " channel " << c;
                    ASSERT_EQ(p[3], 0);
                }
        }
    }
}

TEST(ConvertYuv420ToRgb, EveryVectorSlotMatchesThePortableBodyBitForBit)
{
    struct Geometry {
        std::int32_t width, height, pad;
    };
    const Geometry geometries[] = {{2, 2, 0},   {14, 2, 1},  {16, 4, 0},  {18, 2, 5},   {30, 6, 0},  {32, 2, 3},
                                   {34, 4, 0},  {62, 2, 7},  {66, 6, 0},  {96, 8, 16},  {97, 9, 2},  {130, 4, 1},
                                   {641, 5, 0}, {1920, 6, 0}, {1922, 4, 64}};
    std::uint32_t seed = 99;
    for (const auto& g : geometries) {
        Frame reference(g.width, g.height, g.pad);
        reference.Randomise(++seed);
        reference.out = primitives_test::RandomBytes(reference.out.size(), seed + 1000);
        const std::vector<std::uint8_t> before = reference.out;
        PrimitiveStatus expectedStatus;
        {
            ScopedCpuVariant portable(0);
            expectedStatus = reference.Convert();
        }
        for (std::int32_t slot : primitives_test::SupportedSlots()) {
            Frame f = reference;
            f.out = before;
            ScopedCpuVariant variant(slot);
            EXPECT_EQ(f.Convert(), expectedStatus);
            const std::string diff = primitives_test::FirstDifference(f.out, reference.out);
            EXPECT_TRUE(diff.empty()) << primitives_test::SlotName(slot) << " " << g.width << "x" << g.height
                                      << " pad " << g.pad << ": " << diff;
        }
    }
}

TEST(ConvertYuv420ToRgb, EveryInputCombinationMatchesThePortableBody)
{
    // 256 x 256 chroma pairs (U by row pair, V by column), and over 64 frames
    // every luma value at each of the four pixels of every pair.
    const std::vector<std::int32_t> slots = primitives_test::SupportedSlots();
    if (slots.size() < 2)
        GTEST_SKIP() << "only the portable body runs on this processor";
    Frame reference(512, 512);
    for (int i = 0; i < 256; ++i)
        for (int j = 0; j < 256; ++j) {
            reference.u[i * reference.steps[1] + j] = static_cast<std::uint8_t>(i);
            reference.v[i * reference.steps[2] + j] = static_cast<std::uint8_t>(j);
        }
    for (int k = 0; k < 64; ++k) {
        for (int row = 0; row < 512; ++row)
            for (int x = 0; x < 512; ++x)
                reference.y[row * reference.steps[0] + x] = static_cast<std::uint8_t>(4 * k + 2 * (row & 1) + (x & 1));
        {
            ScopedCpuVariant portable(0);
            ASSERT_EQ(reference.Convert(), 0);
        }
        for (std::int32_t slot : slots) {
            if (slot == 0)
                continue;
            Frame f = reference;
            std::fill(f.out.begin(), f.out.end(), kUntouched);
            ScopedCpuVariant variant(slot);
            ASSERT_EQ(f.Convert(), 0);
            const std::string diff = primitives_test::FirstDifference(f.out, reference.out);
            ASSERT_TRUE(diff.empty()) << primitives_test::SlotName(slot) << " luma base " << 4 * k << ": " << diff;
        }
    }
}

TEST(ConvertYuv420ToBgrx, IsTheRgbConversionWithRedAndBlueSwapped)
{
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (std::int32_t width : {64, 70}) {  // 70: an odd pair count
            Frame rgb(width, 6, 2);
            rgb.Randomise(static_cast<std::uint32_t>(width + slot));
            Frame bgr = rgb;
            ASSERT_EQ(rgb.Convert(), 0);
            const std::uint8_t* planes[3] = {bgr.y.data(), bgr.u.data(), bgr.v.data()};
            ASSERT_EQ(ConvertYuv420ToBgrx8uP3C4(planes, bgr.steps.data(), bgr.out.data(), bgr.outStep, {width, 6}), 0);
            for (int row = 0; row < 6; ++row)
                for (int x = 0; x < width; ++x) {
                    const auto p = PixelAt(rgb, x, row);
                    ASSERT_EQ(PixelAt(bgr, x, row), (std::array<int, 4>{p[2], p[1], p[0], 0}))
                        << primitives_test::SlotName(slot) << " width " << width << " at " << x << "," << row;
                }
        }
    }
    // Its arguments are checked like the RGB conversion's.
    Frame f(8, 4);
    const std::uint8_t* noV[3] = {f.y.data(), f.u.data(), nullptr};
    EXPECT_EQ(ConvertYuv420ToBgrx8uP3C4(noV, f.steps.data(), f.out.data(), f.outStep, {8, 4}), -8);
    EXPECT_TRUE(std::all_of(f.out.begin(), f.out.end(), [](std::uint8_t b) { return b == kUntouched; }));
}
