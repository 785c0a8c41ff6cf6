#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "imaging/primitives/Huffman.h"
#include "imaging/primitives/Lossless.h"

namespace {

using Row = std::vector<std::int16_t>;

TEST(Lossless, PredictionRoundTripsForEveryPredictorAndPrecision)
{
    std::mt19937 rng(1);
    for (const int precision : {2, 8, 12, 16})
        for (int predictor = 1; predictor <= 7; ++predictor) {
            const int width = 37;
            std::uniform_int_distribution<int> sample(0, (1 << precision) - 1);
            Row previous(width), current(width), differences(width), back(width), firstBack(width);
            for (auto& v : previous)
                v = static_cast<std::int16_t>(sample(rng));
            for (auto& v : current)
                v = static_cast<std::int16_t>(sample(rng));
            ASSERT_EQ(LosslessPredictRow(current.data(), previous.data(), differences.data(), width, predictor), 0);
            ASSERT_EQ(LosslessReconstructRow(differences.data(), previous.data(), back.data(), width, predictor), 0);
            EXPECT_EQ(back, current) << "predictor " << predictor << " precision " << precision;
            ASSERT_EQ(LosslessPredictFirstRow(current.data(), differences.data(), width, precision, 1), 0);
            ASSERT_EQ(LosslessReconstructFirstRow(differences.data(), firstBack.data(), width, precision, 1), 0);
            EXPECT_EQ(firstBack, current);
        }
}

TEST(Lossless, PredictorsAndFirstSample)
{
    // Samples are unsigned: Ra = 40000, Rb = 0 predict 20000 with predictor 7
    // (read as signed they would predict 52768).
    const Row previous{0, 0};
    const Row current{static_cast<std::int16_t>(40000), static_cast<std::int16_t>(20000)};
    Row differences(2);
    ASSERT_EQ(LosslessPredictRow(current.data(), previous.data(), differences.data(), 2, 7), 0);
    EXPECT_EQ(differences[1], 0);
    EXPECT_EQ(static_cast<std::uint16_t>(differences[0]), 40000);
    // Predictors 5 and 6 halve unsigned differences: Ra = 60000, Rb = 50000,
    // Rc = 10000 give 80000 and 75000, i.e. 14464 and 9464 modulo 2^16.
    const Row above{10000, static_cast<std::int16_t>(50000)};
    const Row here{static_cast<std::int16_t>(60000), static_cast<std::int16_t>(14464)};
    ASSERT_EQ(LosslessPredictRow(here.data(), above.data(), differences.data(), 2, 5), 0);
    EXPECT_EQ(differences[1], 0);
    const Row here6{static_cast<std::int16_t>(60000), static_cast<std::int16_t>(9464)};
    ASSERT_EQ(LosslessPredictRow(here6.data(), above.data(), differences.data(), 2, 6), 0);
    EXPECT_EQ(differences[1], 0);
    // The first sample of a first row from 2^(P - Pt - 1).
    const Row one{200};
    Row d(1);
    ASSERT_EQ(LosslessPredictFirstRow(one.data(), d.data(), 1, 8, 0), 0);
    EXPECT_EQ(d[0], 72);
    ASSERT_EQ(LosslessPredictFirstRow(one.data(), d.data(), 1, 8, 2), 0);
    EXPECT_EQ(d[0], 168);
    // Checks.
    EXPECT_EQ(LosslessPredictRow(current.data(), previous.data(), differences.data(), 2, 8), -5);
    EXPECT_EQ(LosslessPredictRow(current.data(), nullptr, differences.data(), 2, 1), -8);
    EXPECT_EQ(LosslessReconstructRow(current.data(), previous.data(), differences.data(), 0, 1), -6);
    EXPECT_EQ(LosslessReconstructFirstRow(one.data(), d.data(), 1, 17, 0), -5);
    EXPECT_EQ(LosslessReconstructFirstRow(one.data(), d.data(), 1, 8, -1), -5);
}

// A table of 5-bit codes for the 17 categories.
struct Tables {
    HuffmanEncoderSpec encoder{};
    HuffmanDecoderSpec decoder{};
    Tables()
    {
        std::uint8_t bits[16] = {};
        bits[4] = 17;
        std::uint8_t values[17];
        for (int i = 0; i < 17; ++i)
            values[i] = static_cast<std::uint8_t>(i);
        EXPECT_EQ(InitHuffmanEncoderSpec(bits, values, &encoder), 0);
        EXPECT_EQ(InitHuffmanDecoderSpec(bits, values, &decoder), 0);
    }
};

TEST(Lossless, DifferencesRoundTripThroughTheCoders)
{
    const Tables t;
    const Row a{0, -32768, 32767, -1, 5}, b{1, 2, 3, -4, -5};
    const std::int16_t* rows[5] = {a.data(), b.data(), a.data(), b.data(), nullptr};
    const HuffmanEncoderSpec* tables[5] = {&t.encoder, &t.encoder, &t.encoder, &t.encoder, nullptr};
    std::vector<std::uint8_t> coded(256);
    std::int32_t position = 0;
    HuffmanEncoderState state{};
    // Five components: the fifth (null) row is not looked at.
    ASSERT_EQ(EncodeHuffmanLosslessRow(rows, 5, 5, coded.data(), 256, &position, tables, &state, 0), 0);
    ASSERT_EQ(EncodeHuffmanLosslessRow(nullptr, 0, 0, coded.data(), 256, &position, nullptr, &state, 1), 0);
    coded.resize(static_cast<std::size_t>(position));
    coded.insert(coded.end(), {0xFF, 0xD9});
    Row a2(5), b2(5), c2(5), d2(5);
    std::int16_t* out[4] = {a2.data(), b2.data(), c2.data(), d2.data()};
    const HuffmanDecoderSpec* decoders[4] = {&t.decoder, &t.decoder, &t.decoder, &t.decoder};
    std::int32_t read = 0, marker = 0;
    HuffmanDecoderState dstate{};
    ASSERT_EQ(DecodeHuffmanLosslessRow(coded.data(), static_cast<std::int32_t>(coded.size()), &read, out, 5, 4,
                                       &marker, decoders, &dstate),
              0);
    EXPECT_EQ(a2, a);
    EXPECT_EQ(b2, b);
    EXPECT_EQ(c2, a);
    EXPECT_EQ(d2, b);
}

TEST(Lossless, SingleDifferencesAndTheirBits)
{
    const Tables t;
    struct Case {
        std::int16_t d;
        int bits;  // code plus additional bits, stuffed bytes included
    };
    // -32768: category 16 without additional bits; 32767: code 01111 and
    // 15 ones, whose second byte FF is followed by a stuffed 00.
    const Case cases[] = {{-32768, 5}, {32767, 28}, {-1, 6}, {0, 5}};
    for (const Case& c : cases) {
        std::vector<std::uint8_t> coded(16);
        std::int32_t position = 0;
        HuffmanEncoderState state{};
        ASSERT_EQ(EncodeHuffmanLosslessDiff(&c.d, coded.data(), 16, &position, &t.encoder, &state, 0), 0);
        EXPECT_EQ(position * 8 + state.pendingCount, c.bits) << c.d;
        ASSERT_EQ(EncodeHuffmanLosslessDiff(nullptr, coded.data(), 16, &position, nullptr, &state, 1), 0);
        coded.resize(static_cast<std::size_t>(position));
        coded.insert(coded.end(), {0xFF, 0xD9});
        std::int16_t back = 99;
        std::int32_t read = 0, marker = 0;
        HuffmanDecoderState dstate{};
        ASSERT_EQ(DecodeHuffmanLosslessDiff(coded.data(), static_cast<std::int32_t>(coded.size()), &read, &back,
                                            &marker, &t.decoder, &dstate),
                  0);
        EXPECT_EQ(back, c.d);
    }
    // A table without the code for category 0.
    HuffmanEncoderSpec partial{};
    std::uint8_t bits[16] = {};
    bits[1] = 1;
    const std::uint8_t values[1] = {1};
    ASSERT_EQ(InitHuffmanEncoderSpec(bits, values, &partial), 0);
    std::vector<std::uint8_t> coded(16);
    std::int32_t position = 0;
    HuffmanEncoderState state{};
    const std::int16_t zero = 0;
    EXPECT_EQ(EncodeHuffmanLosslessDiff(&zero, coded.data(), 16, &position, &partial, &state, 0), -64);
}

}  // namespace
