#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "SlotSweep.h"
#include "imaging/primitives/BitDepth.h"

using primitives_test::ScopedCpuVariant;

TEST(BitDepth, NarrowingSaturatesEveryValueAboveTheByteRange)
{
    const std::vector<std::uint16_t> in = {0, 1, 255, 256, 32767, 32768, 65535, 200};
    const std::vector<std::uint8_t> expected = {0, 1, 255, 255, 255, 255, 255, 200};
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        std::vector<std::uint8_t> out(in.size(), 7);
        ASSERT_EQ(ConvertImage16uTo8uC1(in.data(), 16, out.data(), 8, {8, 1}), 0);
        EXPECT_EQ(out, expected);
        // Two rows of four with padding on both sides: the padding stays.
        std::vector<std::uint8_t> padded(2 * 6, 7);
        ASSERT_EQ(ConvertImage16uTo8uC1(in.data(), 8, padded.data(), 6, {4, 2}), 0);
        EXPECT_EQ(padded, (std::vector<std::uint8_t>{0, 1, 255, 255, 7, 7, 255, 255, 255, 200, 7, 7}));
    }
}

TEST(BitDepth, WideningZeroExtendsAndMergesOnlyPackedImages)
{
    std::vector<std::uint8_t> table(64);
    for (int i = 0; i < 64; ++i)
        table[i] = static_cast<std::uint8_t>(i * 4 + 3);
    table[5] = 200;
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        // The 8x8 quantisation-table shape: source step 8, destination step 16.
        std::vector<std::int16_t> whole(64, -1);
        ASSERT_EQ(ConvertImage8uTo16sC1(table.data(), 8, whole.data(), 16, {8, 8}), 0);
        std::vector<std::int16_t> byRow(64, -1);
        for (int y = 0; y < 8; ++y)
            ASSERT_EQ(ConvertImage8uTo16sC1_x3(table.data() + 8 * y, 8, byRow.data() + 8 * y, 16, {8, 1}), 0);
        EXPECT_EQ(whole, byRow);
        EXPECT_EQ(whole[5], 200);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(whole[i], table[i]);
        // Padded destination rows keep their padding.
        std::vector<std::int16_t> padded(3 * 5, -7);
        ASSERT_EQ(ConvertImage8uTo16sC1(table.data(), 8, padded.data(), 10, {3, 3}), 0);
        EXPECT_EQ(padded, (std::vector<std::int16_t>{3, 7, 11, -7, -7, 35, 39, 43, -7, -7, 67, 71, 75, -7, -7}));
    }
}

TEST(BitDepth, AndKeepsTheLowSixteenBitsOfTheConstant)
{
    struct Case {
        std::int32_t constant;
        std::vector<std::uint16_t> expected;
    };
    const std::vector<std::uint16_t> in = {0xFFFF, 0x1234, 0x8001, 0x00FF, 0xABCD, 0x0000};
    const Case cases[] = {
        {0x1FFFF, in},
        {255, {0x00FF, 0x0034, 0x0001, 0x00FF, 0x00CD, 0x0000}},
        {-1, in},
        {0x10000, {0, 0, 0, 0, 0, 0}},
        {0xF0F0, {0xF0F0, 0x1030, 0x8000, 0x00F0, 0xA0C0, 0x0000}},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const auto& c : cases) {
            // Two rows of three, with one padding sample after the first row
            // only visible when the step is honoured.
            std::vector<std::uint16_t> image = {in[0], in[1], in[2], 0xEEEE, in[3], in[4], in[5]};
            ASSERT_EQ(AndImageConstant16uC1(c.constant, image.data(), 8, {3, 2}), 0);
            EXPECT_EQ(image, (std::vector<std::uint16_t>{c.expected[0], c.expected[1], c.expected[2], 0xEEEE,
                                                         c.expected[3], c.expected[4], c.expected[5]}))
                << c.constant;
        }
    }
}

TEST(BitDepth, ArgumentsAreCheckedInOrderAndNothingIsWritten)
{
    std::vector<std::uint8_t> bytes(32, 9);
    std::vector<std::uint16_t> words(32, 0x5A5A);
    std::vector<std::int16_t> shorts(32, 0x5A5A);
    struct Case {
        const char* name;
        std::function<PrimitiveStatus()> call;
        PrimitiveStatus status;
    };
    std::uint8_t* b = bytes.data();
    std::uint16_t* w = words.data();
    std::int16_t* s = shorts.data();
    const Case cases[] = {
        {"widen null source", [&] { return ConvertImage8uTo16sC1(nullptr, 0, s, 0, {0, 0}); }, -8},
        {"widen null destination", [&] { return ConvertImage8uTo16sC1(b, 4, nullptr, 8, {4, 1}); }, -8},
        {"widen width 0 before step", [&] { return ConvertImage8uTo16sC1(b, -1, s, 8, {0, 1}); }, -6},
        {"widen bad height", [&] { return ConvertImage8uTo16sC1(b, 4, s, 8, {4, -2}); }, -6},
        {"widen bad source step", [&] { return ConvertImage8uTo16sC1(b, 0, s, 8, {4, 1}); }, -14},
        {"widen bad destination step", [&] { return ConvertImage8uTo16sC1(b, 4, s, -8, {4, 1}); }, -14},
        {"narrow null source", [&] { return ConvertImage16uTo8uC1(nullptr, 8, b, 4, {4, 1}); }, -8},
        {"narrow width 0 before step", [&] { return ConvertImage16uTo8uC1(w, -1, b, 4, {0, 1}); }, -6},
        {"narrow bad destination step", [&] { return ConvertImage16uTo8uC1(w, 8, b, 0, {4, 1}); }, -14},
        {"and null", [&] { return AndImageConstant16uC1(255, nullptr, 0, {0, 0}); }, -8},
        {"and step before size", [&] { return AndImageConstant16uC1(255, w, 0, {0, 1}); }, -14},
        {"and bad width", [&] { return AndImageConstant16uC1(255, w, 8, {0, 1}); }, -6},
        {"and bad height", [&] { return AndImageConstant16uC1(255, w, 8, {4, 0}); }, -6},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const auto& c : cases) {
            EXPECT_EQ(c.call(), c.status) << c.name;
            EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t v) { return v == 9; })) << c.name;
            EXPECT_TRUE(std::all_of(words.begin(), words.end(), [](std::uint16_t v) { return v == 0x5A5A; }))
                << c.name;
            EXPECT_TRUE(std::all_of(shorts.begin(), shorts.end(), [](std::int16_t v) { return v == 0x5A5A; }))
                << c.name;
        }
    }
}
