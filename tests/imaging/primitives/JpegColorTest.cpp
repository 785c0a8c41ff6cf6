#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "SlotSweep.h"
#include "imaging/primitives/JpegColor.h"

using primitives_test::ScopedCpuVariant;

namespace {

struct Ycc {
    int y, cb, cr;
    bool operator==(const Ycc&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Ycc& c)
{
    return os << "(" << c.y << ", " << c.cb << ", " << c.cr << ")";
}

// Converts a row of `width` copies of one RGB pixel; the results at x.
std::vector<Ycc> RgbRow(std::array<std::uint8_t, 3> rgb, int width, bool bgr = false)
{
    std::vector<std::uint8_t> src;
    for (int x = 0; x < width; ++x) {
        if (bgr)
            src.insert(src.end(), {rgb[2], rgb[1], rgb[0]});
        else
            src.insert(src.end(), rgb.begin(), rgb.end());
    }
    std::vector<std::uint8_t> y(width), cb(width), cr(width);
    std::uint8_t* planes[3] = {y.data(), cb.data(), cr.data()};
    const PrimitiveStatus status = bgr ? ConvertBgrToYCbCr8uC3P3(src.data(), width * 3, planes, width, {width, 1})
                                       : ConvertRgbToYCbCr8uC3P3(src.data(), width * 3, planes, width, {width, 1});
    EXPECT_EQ(status, 0);
    std::vector<Ycc> out;
    for (int x = 0; x < width; ++x)
        out.push_back({y[x], cb[x], cr[x]});
    return out;
}

Ycc Rgba(std::array<std::uint8_t, 3> rgb)
{
    const std::uint8_t src[4] = {rgb[0], rgb[1], rgb[2], 77};
    std::uint8_t y = 0, cb = 0, cr = 0;
    std::uint8_t* planes[3] = {&y, &cb, &cr};
    EXPECT_EQ(ConvertRgbaToYCbCr8uAC4P3(src, 0, planes, 1, {1, 1}), 0);
    return {y, cb, cr};
}

}  // namespace

// Forms by position: the first multiple of 8 pixels in form B, the rest in
// form A (RGB and BGR), every pixel in form C (RGBA).
TEST(JpegColor, ForwardFormsGiveTheirValues)
{
    struct Case {
        std::array<std::uint8_t, 3> rgb;
        Ycc formB, formA, formC;
    };
    const Case cases[] = {
        {{0, 0, 0}, {0, 128, 128}, {0, 128, 128}, {0, 128, 128}},
        {{255, 255, 255}, {255, 128, 128}, {255, 128, 128}, {255, 128, 128}},
        {{0, 0, 255}, {29, 255, 107}, {29, 255, 107}, {29, 255, 107}},
        {{0, 0, 1}, {0, 129, 128}, {0, 129, 128}, {0, 128, 128}},
        {{0, 255, 0}, {150, 44, 21}, {150, 44, 21}, {150, 43, 21}},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const Case& c : cases) {
            for (bool bgr : {false, true}) {
                const auto row = RgbRow(c.rgb, 11, bgr);
                for (int x = 0; x < 11; ++x)
                    EXPECT_EQ(row[x], x < 8 ? c.formB : c.formA) << "x " << x << (bgr ? " BGR" : " RGB");
            }
            EXPECT_EQ(Rgba(c.rgb), c.formC);
        }
    }
}

TEST(JpegColor, FormsAAndBDifferWhereTheirRoundingDoes)
{
    // Search a pixel where the two forward forms disagree and check that a
    // row puts form B first and form A after the last group of 8.
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 7) {
                const std::array<std::uint8_t, 3> rgb{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                                      static_cast<std::uint8_t>(b)};
                const auto row = RgbRow(rgb, 9);
                if (!(row[0] == row[8])) {
                    const int yB = (9798 * r + 19235 * g + 3736 * b + 16266) >> 15;
                    const int yA = (4899 * r + 9617 * g + 1868 * b + 8192) >> 14;
                    EXPECT_EQ(row[0].y, yB > 255 ? 255 : yB);
                    EXPECT_EQ(row[8].y, yA > 255 ? 255 : yA);
                    return;
                }
            }
    FAIL() << "no pixel where forms A and B differ";
}

TEST(JpegColor, GreyAndYcckConversions)
{
    const std::uint8_t rgb[6] = {0, 0, 255, 255, 255, 255};
    std::uint8_t y[2] = {};
    ASSERT_EQ(ConvertRgbToY8uC3C1(rgb, 6, y, 2, {2, 1}), 0);
    EXPECT_EQ(y[0], 29);
    EXPECT_EQ(y[1], 255);

    // CMYK (255, 255, 0, 9): inverted inks (0, 0, 255) in form A, K copied.
    const std::uint8_t cmyk[4] = {255, 255, 0, 9};
    std::uint8_t p[4] = {};
    std::uint8_t* planes[4] = {&p[0], &p[1], &p[2], &p[3]};
    ASSERT_EQ(ConvertCmykToYcck8uC4P4(cmyk, 4, planes, 1, {1, 1}), 0);
    EXPECT_EQ((std::array<int, 4>{p[0], p[1], p[2], p[3]}), (std::array<int, 4>{29, 255, 107, 9}));
}

TEST(JpegColor, InverseFormsGiveTheirValues)
{
    struct Case {
        std::uint8_t y, cb, cr;
        std::array<int, 3> formD, formE, formF;
    };
    const Case cases[] = {
        {128, 128, 128, {128, 128, 128}, {128, 128, 128}, {128, 128, 128}},
        {16, 128, 128, {16, 16, 16}, {16, 16, 16}, {16, 16, 16}},
        {255, 255, 255, {255, 121, 255}, {255, 121, 255}, {255, 121, 255}},
        {0, 0, 179, {71, 8, 0}, {72, 8, 0}, {72, 8, 0}},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const Case& c : cases) {
            // 11 pixels: form D for the first 8, form E for the last 3.
            constexpr int kWidth = 11;
            std::vector<std::uint8_t> y(kWidth, c.y), cb(kWidth, c.cb), cr(kWidth, c.cr);
            const std::uint8_t* planes[3] = {y.data(), cb.data(), cr.data()};
            std::vector<std::uint8_t> rgb(kWidth * 3), bgr(kWidth * 3), rgba(kWidth * 4), bgra(kWidth * 4);
            ASSERT_EQ(ConvertYCbCrToRgb8uP3C3(planes, kWidth, rgb.data(), kWidth * 3, {kWidth, 1}), 0);
            ASSERT_EQ(ConvertYCbCrToBgr8uP3C3(planes, kWidth, bgr.data(), kWidth * 3, {kWidth, 1}), 0);
            ASSERT_EQ(ConvertYCbCrToRgba8uP3C4(planes, kWidth, rgba.data(), 0, {kWidth, 1}, 0x1FE), 0);
            for (int x = 0; x < kWidth; ++x) {
                const auto& expected = x < 8 ? c.formD : c.formE;
                EXPECT_EQ((std::array<int, 3>{rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]}), expected) << x;
                EXPECT_EQ((std::array<int, 3>{bgr[3 * x + 2], bgr[3 * x + 1], bgr[3 * x]}), expected) << x;
            }
            // Zero step: every row on the first; alpha's low byte.
            EXPECT_EQ((std::array<int, 4>{rgba[0], rgba[1], rgba[2], rgba[3]}),
                      (std::array<int, 4>{c.formF[0], c.formF[1], c.formF[2], 0xFE}));
            ASSERT_EQ(ConvertYCbCrToBgra8uP3C4(planes, kWidth, bgra.data(), kWidth * 4, {kWidth, 1}, 255), 0);
            EXPECT_EQ((std::array<int, 4>{bgra[2], bgra[1], bgra[0], bgra[3]}),
                      (std::array<int, 4>{c.formF[0], c.formF[1], c.formF[2], 255}));
        }
    }
}

TEST(JpegColor, YcckToCmykInvertsAndCarriesK)
{
    std::vector<std::uint8_t> y(5, 128), cb(5, 128), cr(5, 128), k{1, 2, 3, 4, 5};
    const std::uint8_t* planes[4] = {y.data(), cb.data(), cr.data(), k.data()};
    std::vector<std::uint8_t> cmyk(20);
    ASSERT_EQ(ConvertYcckToCmyk8uP4C4(planes, 5, cmyk.data(), 20, {5, 1}), 0);
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ((std::array<int, 4>{cmyk[4 * x], cmyk[4 * x + 1], cmyk[4 * x + 2], cmyk[4 * x + 3]}),
                  (std::array<int, 4>{127, 127, 127, x + 1}));
}

TEST(JpegColor, RefusalsComeBeforeAnyWrite)
{
    std::uint8_t src[16] = {};
    std::uint8_t a[4] = {0xCD, 0xCD, 0xCD, 0xCD}, b[4] = {0xCD}, c[4] = {0xCD}, d[4] = {0xCD};
    std::uint8_t* planes[4] = {a, b, c, d};
    std::uint8_t* withNull[4] = {a, nullptr, c, d};
    const std::uint8_t* cplanes[4] = {a, b, c, d};
    std::uint8_t* noK[4] = {a, b, c, nullptr};
    const std::uint8_t* nullCb[3] = {a, nullptr, c};
    struct Case {
        const char* name;
        PrimitiveStatus status;
        PrimitiveStatus expected;
    };
    const Case cases[] = {
        {"rgb null source", ConvertRgbToYCbCr8uC3P3(nullptr, 3, planes, 1, {1, 1}), -8},
        {"rgb null plane", ConvertRgbToYCbCr8uC3P3(src, 3, withNull, 1, {1, 1}), -8},
        {"rgb zero step", ConvertRgbToYCbCr8uC3P3(src, 0, planes, 1, {1, 1}), -14},
        {"rgb zero width", ConvertRgbToYCbCr8uC3P3(src, 3, planes, 1, {0, 1}), -6},
        {"rgba zero step accepted", ConvertRgbaToYCbCr8uAC4P3(src, 0, planes, 0, {1, 1}), 0},
        {"rgba zero height", ConvertRgbaToYCbCr8uAC4P3(src, 4, planes, 1, {1, 0}), -6},
        {"grey negative step", ConvertRgbToY8uC3C1(src, 3, a, -1, {1, 1}), -14},
        {"cmyk null K plane", ConvertCmykToYcck8uC4P4(src, 4, noK, 1, {1, 1}), -8},
        {"to rgb zero step", ConvertYCbCrToRgb8uP3C3(cplanes, 0, src, 3, {1, 1}), -14},
        {"to rgb zero width", ConvertYCbCrToRgb8uP3C3(cplanes, 1, src, 3, {0, 1}), -6},
        {"to rgba null plane", ConvertYCbCrToRgba8uP3C4(nullCb, 1, src, 4, {1, 1}, 0), -8},
        {"ycck zero step", ConvertYcckToCmyk8uP4C4(cplanes, 0, src, 4, {1, 1}), -14},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.status, c.expected) << c.name;
    EXPECT_EQ(a[1], 0xCD);
}

TEST(JpegColor, EveryVariantGivesThePortableBytes)
{
    constexpr int kWidth = 37, kHeight = 9;
    const auto src = primitives_test::RandomBytes(kWidth * 3 * kHeight, 21);
    auto convert = [&](bool bgr) {
        std::vector<std::uint8_t> out(kWidth * kHeight * 3, 0);
        std::uint8_t* planes[3] = {out.data(), out.data() + kWidth * kHeight, out.data() + 2 * kWidth * kHeight};
        const PrimitiveStatus status =
            bgr ? ConvertBgrToYCbCr8uC3P3(src.data(), kWidth * 3, planes, kWidth, {kWidth, kHeight})
                : ConvertRgbToYCbCr8uC3P3(src.data(), kWidth * 3, planes, kWidth, {kWidth, kHeight});
        EXPECT_EQ(status, 0);
        return out;
    };
    for (bool bgr : {false, true})
        primitives_test::ExpectEverySlotGivesThePortableBytes([&] { return convert(bgr); }, bgr ? " BGR" : " RGB");
}

TEST(JpegColor, InverseConversionInEveryVariantGivesThePortableBytes)
{
    // Widths around the vector widths (16 and 32 pixels) and their tails in
    // the two scalar forms.
    for (const int width : {1, 3, 4, 15, 16, 17, 31, 32, 33, 48, 83, 300}) {
        constexpr int kHeight = 3;
        const auto planes = primitives_test::RandomBytes(static_cast<std::size_t>(width) * kHeight * 3, 23 + width);
        const std::uint8_t* src[3] = {planes.data(), planes.data() + width * kHeight,
                                      planes.data() + 2 * width * kHeight};
        auto convert = [&](bool bgr) {
            std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * kHeight * 3 + 1, 0xCD);
            const ImageSize size{width, kHeight};
            const PrimitiveStatus status = bgr ? ConvertYCbCrToBgr8uP3C3(src, width, out.data(), width * 3, size)
                                               : ConvertYCbCrToRgb8uP3C3(src, width, out.data(), width * 3, size);
            EXPECT_EQ(status, 0);
            EXPECT_EQ(out.back(), 0xCD);
            return out;
        };
        for (bool bgr : {false, true})
            primitives_test::ExpectEverySlotGivesThePortableBytes(
                [&] { return convert(bgr); }, std::string(bgr ? " BGR" : " RGB") + " width " + std::to_string(width));
    }
}

