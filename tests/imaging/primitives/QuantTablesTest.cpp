#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "imaging/primitives/Huffman.h"
#include "imaging/primitives/QuantTables.h"

TEST(QuantTables, ScalingByQuality)
{
    struct Case {
        std::int32_t quality;
        std::uint8_t in;
        std::uint8_t out;
    };
    const Case cases[] = {
        {50, 16, 16}, {50, 255, 255}, {75, 16, 8}, {75, 11, 6}, {25, 16, 32}, {1, 5, 250},
        {1, 6, 255},  {100, 99, 1},   {150, 99, 1}, {99, 1, 1},  {10, 200, 255},
    };
    for (const Case& c : cases) {
        std::array<std::uint8_t, 64> table;
        table.fill(c.in);
        ASSERT_EQ(ScaleQuantTableByQuality8u(table.data(), c.quality), 0);
        EXPECT_EQ(table[0], c.out) << "quality " << c.quality << " entry " << int(c.in);
        EXPECT_EQ(table[63], c.out);
    }
    std::array<std::uint8_t, 64> table;
    table.fill(16);
    EXPECT_EQ(ScaleQuantTableByQuality8u(table.data(), 0), -5);
    EXPECT_EQ(ScaleQuantTableByQuality8u(table.data(), -3), -5);
    EXPECT_EQ(table[0], 16);
    EXPECT_EQ(ScaleQuantTableByQuality8u(nullptr, 50), -8);
}

TEST(QuantTables, ZigzagOrdersAreInverse)
{
    std::array<std::int16_t, 64> in, out;
    for (int i = 0; i < 64; ++i)
        in[i] = static_cast<std::int16_t>(i);
    ASSERT_EQ(ZigzagToNatural8x8_16s(in.data(), out.data()), 0);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(out[k], NaturalToZigzag[k]);
        EXPECT_EQ(ZigzagOrder[NaturalToZigzag[k]], k);
    }
    EXPECT_EQ(out[2], 5);
    EXPECT_EQ(out[8], 2);
    EXPECT_EQ(ZigzagToNatural8x8_16s(nullptr, out.data()), -8);
}

TEST(QuantTables, ForwardTableHoldsRoundedReciprocalsInNaturalOrder)
{
    // Standard luminance table (T.81 K.1) in zig-zag order: 16, 11, 12, 14, 12,
    // 10, ... natural row 0 starts 16, 11, 10, 16.
    const std::uint8_t luminance[64] = {16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40,
                                        26, 24, 22, 22, 24, 49, 35, 37, 29, 40, 58, 51, 61, 60, 57, 51,
                                        56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56, 80, 109, 81, 87,
                                        95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
    std::array<std::uint16_t, 64> forward{};
    ASSERT_EQ(InitForwardQuantTable8u(luminance, forward.data()), 0);
    EXPECT_EQ((std::array<int, 4>{forward[0], forward[1], forward[2], forward[3]}),
              (std::array<int, 4>{2048, 2979, 3277, 2048}));

    struct Case {
        std::uint8_t q;
        std::uint16_t reciprocal;
    };
    for (const Case c : {Case{1, 32768}, Case{2, 16384}, Case{3, 10923}, Case{7, 4681}, Case{255, 129}}) {
        std::array<std::uint8_t, 64> raw;
        raw.fill(c.q);
        ASSERT_EQ(InitForwardQuantTable8u(raw.data(), forward.data()), 0);
        EXPECT_EQ(forward[17], c.reciprocal) << "q " << int(c.q);
    }
    std::array<std::uint8_t, 64> raw;
    raw.fill(4);
    raw[2] = 0;  // natural index 8
    EXPECT_EQ(InitForwardQuantTable8u(raw.data(), forward.data()), 6);
    EXPECT_EQ(forward[8], 65535);
    EXPECT_EQ(forward[9], 8192);
    EXPECT_EQ(InitForwardQuantTable8u(raw.data(), nullptr), -8);

    std::array<std::uint16_t, 64> inverse{};
    raw.fill(3);
    raw[2] = 12;
    ASSERT_EQ(InitInverseQuantTable8u(raw.data(), inverse.data()), 0);
    EXPECT_EQ(inverse[8], 12);
    EXPECT_EQ(inverse[1], 3);
}

TEST(QuantTables, DividingAConstantByAVector)
{
    std::vector<std::uint16_t> values{1, 2, 3, 0, 65535, 7, 4};
    EXPECT_EQ(DivideConstantByVector16uInPlace(32768, values.data(), 7), 6);
    EXPECT_EQ(values, (std::vector<std::uint16_t>{32768, 16384, 10923, 65535, 1, 4681, 8192}));
    // Ties go to the even quotient: 10 / 4 = 2.5 -> 2, 14 / 4 = 3.5 -> 4;
    // above 32767 saturates.
    std::vector<std::uint16_t> ties{4, 2};
    EXPECT_EQ(DivideConstantByVector16uInPlace(10, ties.data(), 1), 0);
    EXPECT_EQ(ties[0], 2);
    ties = {4};
    EXPECT_EQ(DivideConstantByVector16uInPlace(14, ties.data(), 1), 0);
    EXPECT_EQ(ties[0], 4);
    ties = {2};
    EXPECT_EQ(DivideConstantByVector16uInPlace(65535, ties.data(), 1), 0);
    EXPECT_EQ(ties[0], 32767);
    std::vector<std::uint16_t> zeroed{5, 0};
    EXPECT_EQ(DivideConstantByVector16uInPlace(0, zeroed.data(), 2), 6);
    EXPECT_EQ(zeroed, (std::vector<std::uint16_t>{0, 0}));
    EXPECT_EQ(DivideConstantByVector16uInPlace(1, zeroed.data(), 0), -6);
    EXPECT_EQ(DivideConstantByVector16uInPlace(1, nullptr, 2), -8);
}
