#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "imaging/primitives/Huffman.h"
#include "imaging/primitives/HuffmanProgressive.h"
#include "imaging/primitives/HuffmanStatistics.h"

namespace {

using Counts = std::array<std::int32_t, 256>;

struct Built {
    PrimitiveStatus status;
    std::array<std::uint8_t, 16> bits;
    std::vector<std::uint8_t> values;
};

Built Build(const Counts& counts)
{
    Built b{};
    std::array<std::uint8_t, 256> values;
    values.fill(0xEE);
    b.status = BuildOptimalHuffmanTable(counts.data(), b.bits.data(), values.data());
    int total = 0;
    for (const auto n : b.bits)
        total += n;
    b.values.assign(values.begin(), values.begin() + total);
    for (std::size_t i = static_cast<std::size_t>(total); i < values.size(); ++i)
        EXPECT_EQ(values[i], 0xEE) << "written past HUFFVAL";
    return b;
}

TEST(HuffmanStatistics, OptimalTablesOfTheEdgeCases)
{
    Counts single{};
    single[42] = 9;
    Built b = Build(single);
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(b.bits[0], 1);
    EXPECT_EQ(b.values, std::vector<std::uint8_t>{42});

    b = Build(Counts{});
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(b.bits, (std::array<std::uint8_t, 16>{}));
    EXPECT_TRUE(b.values.empty());

    Counts tie{};
    tie[3] = 5;
    tie[7] = 5;
    b = Build(tie);
    EXPECT_EQ(b.bits[0], 1);
    EXPECT_EQ(b.bits[1], 1);
    EXPECT_EQ(b.values, (std::vector<std::uint8_t>{3, 7}));

    // Fibonacci counts: lengths far above 16 before limiting.
    Counts fibonacci{};
    std::int32_t f0 = 1, f1 = 1;
    for (int i = 0; i < 30; ++i) {
        fibonacci[static_cast<std::size_t>(i)] = f0;
        const std::int32_t next = f0 + f1;
        f0 = f1;
        f1 = next;
    }
    b = Build(fibonacci);
    ASSERT_EQ(b.status, 0);
    ASSERT_EQ(b.values.size(), 30u);
    // Kraft sum: the codes fill all but one code of the longest length.
    std::uint64_t used = 0;
    for (int length = 1; length <= 16; ++length)
        used += static_cast<std::uint64_t>(b.bits[static_cast<std::size_t>(length - 1)]) << (16 - length);
    EXPECT_EQ(used, 65535u);
    // The table is usable by the coders.
    HuffmanEncoderSpec spec{};
    EXPECT_EQ(InitHuffmanEncoderSpec(b.bits.data(), b.values.data(), &spec), 0);
}

TEST(HuffmanStatistics, GatherersCountWhatTheCodersWrite)
{
    std::array<std::int16_t, 64> block{};
    block[ZigzagOrder[41]] = 3;
    Counts dc{}, ac{};
    std::int16_t lastDc = 0;
    ASSERT_EQ(Gather8x8Statistics(block.data(), dc.data(), ac.data(), &lastDc), 0);
    EXPECT_EQ(ac[0xF0], 2);
    EXPECT_EQ(ac[(8 << 4) + 2], 1);
    EXPECT_EQ(ac[0x00], 1);
    EXPECT_EQ(dc[0], 1);

    Counts lossless{};
    const std::int16_t extreme = -32768;
    ASSERT_EQ(GatherLosslessStatistics(&extreme, lossless.data()), 0);
    EXPECT_EQ(lossless[16], 1);

    // 1500 needs 11 bits: counted by no progressive table.
    std::array<std::int16_t, 64> big{};
    big[ZigzagOrder[1]] = 1500;
    HuffmanEncoderState state{};
    Counts counts{};
    EXPECT_EQ(GatherAcFirstStatistics(big.data(), counts.data(), 1, 63, 0, &state, 0), -63);

    // Ten empty blocks and the flush: one EOB3.
    state = {};
    counts = {};
    const std::array<std::int16_t, 64> empty{};
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(GatherAcFirstStatistics(empty.data(), counts.data(), 1, 63, 0, &state, 0), 0);
    ASSERT_EQ(GatherAcFirstStatistics(nullptr, counts.data(), 1, 63, 0, &state, 1), 0);
    EXPECT_EQ(counts[0x30], 1);
    EXPECT_EQ(state.endOfBandRun, 0);

    // DC first with Al 1: 7 then 9 are differences 3 and 1.
    Counts dcFirst{};
    std::int16_t last = 0;
    std::array<std::int16_t, 64> b7{}, b9{};
    b7[0] = 7;
    b9[0] = 9;
    ASSERT_EQ(GatherDcFirstStatistics(b7.data(), dcFirst.data(), &last, 1), 0);
    ASSERT_EQ(GatherDcFirstStatistics(b9.data(), dcFirst.data(), &last, 1), 0);
    EXPECT_EQ(dcFirst[2], 1);
    EXPECT_EQ(dcFirst[1], 1);
    EXPECT_EQ(GatherDcFirstStatistics(b9.data(), dcFirst.data(), &last, 14), -5);

    // Refinement: a block of only earlier coefficients extends the run.
    std::array<std::int16_t, 64> refine{};
    refine[ZigzagOrder[2]] = 6;  // a = 3 at Al 1: a correction bit
    state = {};
    counts = {};
    ASSERT_EQ(GatherAcRefineStatistics(refine.data(), counts.data(), 1, 63, 1, &state, 0), 0);
    EXPECT_EQ(state.endOfBandRun, 1);
    EXPECT_EQ(state.correctionCount, 1u);
    EXPECT_EQ(GatherAcRefineStatistics(refine.data(), counts.data(), 0, 63, 1, &state, 0), -5);
}

TEST(HuffmanStatistics, OptimalTablesCodeRandomBlocksInNoMoreBits)
{
    // Statistics of a set of blocks build tables that code them, and the
    // result is no longer than with a flat table.
    std::mt19937 rng(4);
    std::vector<std::array<std::int16_t, 64>> blocks(200);
    for (auto& b : blocks) {
        b.fill(0);
        b[0] = static_cast<std::int16_t>(rng() % 200);
        for (int k = 1; k < 10; ++k)
            b[ZigzagOrder[k]] = static_cast<std::int16_t>(static_cast<int>(rng() % 7) - 3);
    }
    Counts dc{}, ac{};
    std::int16_t lastDc = 0;
    for (const auto& b : blocks)
        ASSERT_EQ(Gather8x8Statistics(b.data(), dc.data(), ac.data(), &lastDc), 0);
    const Built dcTable = Build(dc), acTable = Build(ac);
    HuffmanEncoderSpec dcSpec{}, acSpec{};
    ASSERT_EQ(InitHuffmanEncoderSpec(dcTable.bits.data(), dcTable.values.data(), &dcSpec), 0);
    ASSERT_EQ(InitHuffmanEncoderSpec(acTable.bits.data(), acTable.values.data(), &acSpec), 0);
    std::vector<std::uint8_t> coded(65536);
    std::int32_t position = 0;
    HuffmanEncoderState state{};
    lastDc = 0;
    for (const auto& b : blocks)
        ASSERT_EQ(EncodeHuffman8x8(b.data(), coded.data(), 65536, &position, &lastDc, &dcSpec, &acSpec, &state, 0), 0);
    ASSERT_EQ(EncodeHuffman8x8(nullptr, coded.data(), 65536, &position, nullptr, nullptr, nullptr, &state, 1), 0);
    // Decodes back to the blocks.
    HuffmanDecoderSpec dcDecoder{}, acDecoder{};
    ASSERT_EQ(InitHuffmanDecoderSpec(dcTable.bits.data(), dcTable.values.data(), &dcDecoder), 0);
    ASSERT_EQ(InitHuffmanDecoderSpec(acTable.bits.data(), acTable.values.data(), &acDecoder), 0);
    coded.resize(static_cast<std::size_t>(position));
    coded.insert(coded.end(), {0xFF, 0xD9});
    std::int32_t read = 0, marker = 0;
    HuffmanDecoderState dstate{};
    lastDc = 0;
    for (const auto& b : blocks) {
        std::array<std::int16_t, 64> back{};
        ASSERT_EQ(DecodeHuffman8x8(coded.data(), static_cast<std::int32_t>(coded.size()), &read, back.data(), &lastDc,
                                   &marker, &dcDecoder, &acDecoder, &dstate),
                  0);
        ASSERT_EQ(back, b);
    }
}

}  // namespace
