#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "imaging/primitives/InverseDct.h"
#include "SlotSweep.h"

namespace {

using Block = std::array<std::int16_t, 64>;
using Table = std::array<std::uint16_t, 64>;

Table Uniform(std::uint16_t q)
{
    Table t;
    t.fill(q);
    return t;
}

std::array<std::uint8_t, 64> Full(const Block& b, const Table& t)
{
    std::array<std::uint8_t, 64> out{};
    EXPECT_EQ(InverseDctDequant8x8To8u(b.data(), out.data(), 8, t.data()), 0);
    return out;
}

// The inverse DCT of T.81 A.3.3 in double precision, level-shifted.
std::array<double, 64> ReferenceIdct(const Block& b, const Table& t)
{
    std::array<double, 64> out{};
    const double pi = std::acos(-1.0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double sum = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    const double cu = u == 0 ? 1 / std::sqrt(2.0) : 1.0;
                    const double cv = v == 0 ? 1 / std::sqrt(2.0) : 1.0;
                    sum += cu * cv * b[v * 8 + u] * t[v * 8 + u] * std::cos((2 * x + 1) * u * pi / 16) *
                           std::cos((2 * y + 1) * v * pi / 16);
                }
            out[y * 8 + x] = 0.25 * sum + 128.0;
        }
    return out;
}

// Coefficients of a plausible natural block: energy falling with frequency,
// within the range a real 8-bit image gives.
Block RandomBlock(std::mt19937& rng)
{
    Block b{};
    std::normal_distribution<double> n(0.0, 1.0);
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u)
            b[v * 8 + u] = static_cast<std::int16_t>(std::lround(n(rng) * 60.0 / (1 + u + v)));
    b[0] = static_cast<std::int16_t>(std::uniform_int_distribution<int>(-700, 700)(rng));
    return b;
}

TEST(InverseDct, FullTransformWithinOneLevelOfDoublePrecision)
{
    std::mt19937 rng(7);
    const Table table = Uniform(1);
    int worst = 0;
    for (int i = 0; i < 2000; ++i) {
        const Block b = RandomBlock(rng);
        const auto ours = Full(b, table);
        const auto ref = ReferenceIdct(b, table);
        for (int k = 0; k < 64; ++k) {
            const double clamped = std::min(255.0, std::max(0.0, std::round(ref[k])));
            worst = std::max(worst, static_cast<int>(std::abs(ours[k] - clamped)));
        }
    }
    EXPECT_LE(worst, 1);
}

TEST(InverseDct, DcOnlyValuesOfTheFullTransform)
{
    struct Case {
        std::int16_t dc;
        std::uint8_t sample;
    };
    const Case cases[] = {{0, 128},  {4, 129},    {3, 128},    {-4, 128},  {-5, 127},
                          {12, 130}, {1011, 254}, {1012, 255}, {-1020, 1}, {-1021, 0}};
    for (const Case& c : cases) {
        Block b{};
        b[0] = c.dc;
        // The first row; the small rounders of rows 1 and 2 lift the
        // column pass by one near the middle rows, so values on a rounding
        // edge (DC 4, 1012) are one lower in rows 3 and 4.
        const auto out = Full(b, Uniform(1));
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(out[x], c.sample) << "DC " << c.dc;
    }
}

TEST(InverseDct, DcOnOneRoundingEdgeDiffersInTheMiddleRows)
{
    Block b{};
    b[0] = 4;
    const auto out = Full(b, Uniform(1));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(out[y * 8 + x], y == 3 || y == 4 ? 128 : 129) << y << "," << x;
}

TEST(InverseDct, DcOnlyShortcutHasItsOwnRounding)
{
    struct Case {
        std::int16_t dc;
        std::uint16_t q;
        std::uint8_t sample;
    };
    // 2000 x 40 = 80000 does not wrap before the shift.
    const Case cases[] = {{4, 1, 128}, {-4, 1, 127}, {12, 1, 129}, {2000, 40, 255}, {-2000, 40, 0}, {0, 9, 128}};
    for (const Case& c : cases) {
        Block b{};
        b[0] = c.dc;
        b[5] = 99;  // not read
        const Table t = Uniform(c.q);
        std::array<std::uint8_t, 64> out{};
        ASSERT_EQ(InverseDctDequant8x8To8uDcOnly(b.data(), out.data(), 8, t.data()), 0);
        for (const std::uint8_t s : out)
            ASSERT_EQ(s, c.sample) << "DC " << c.dc;
    }
}

TEST(InverseDct, DequantisationWrapsToSixteenBits)
{
    // 2000 x 40 = 80000 wraps to 14464, a large positive value: 255.
    Block a{}, b{};
    a[0] = 2000;
    b[0] = 14464;
    EXPECT_EQ(Full(a, Uniform(40)), Full(b, Uniform(1)));
}

TEST(InverseDct, SparseShortcutsMatchTheFullTransformInTheirCorner)
{
    std::mt19937 rng(3);
    const Table table = Uniform(1);
    using Fn = PrimitiveStatus (*)(const std::int16_t*, std::uint8_t*, std::int32_t, const std::uint16_t*);
    struct Case {
        Fn shortcut;
        int corner;
        int ignored;  // an index outside the corner
    };
    const Case cases[] = {{&InverseDctDequant8x8To8uLow4x4, 4, 4}, {&InverseDctDequant8x8To8uLow2x2, 2, 2},
                          {&InverseDctDequant8x8To8uLow2x2, 2, 16}};
    for (const Case& c : cases) {
        for (int i = 0; i < 200; ++i) {
            Block b = RandomBlock(rng);
            for (int k = 0; k < 64; ++k)
                if (k / 8 >= c.corner || k % 8 >= c.corner)
                    b[k] = 0;
            std::array<std::uint8_t, 64> out{};
            ASSERT_EQ(c.shortcut(b.data(), out.data(), 8, table.data()), 0);
            ASSERT_EQ(out, Full(b, table));
            b[c.ignored] = 40;
            ASSERT_EQ(c.shortcut(b.data(), out.data(), 8, table.data()), 0);
            ASSERT_NE(out, Full(b, table)) << "index " << c.ignored << " read";
        }
    }
}

// Means of 2 x 2 or 4 x 4 groups of the double-precision transform.
std::vector<double> GroupMeans(const Block& b, const Table& t, int group)
{
    const auto ref = ReferenceIdct(b, t);
    const int n = 8 / group;
    std::vector<double> means(static_cast<std::size_t>(n * n));
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            double sum = 0;
            for (int j = 0; j < group; ++j)
                for (int i = 0; i < group; ++i)
                    sum += std::min(255.0, std::max(0.0, ref[(y * group + j) * 8 + x * group + i]));
            means[static_cast<std::size_t>(y * n + x)] = sum / (group * group);
        }
    return means;
}

TEST(InverseDct, ReducedOutputsApproximateGroupMeans)
{
    std::mt19937 rng(11);
    const Table table = Uniform(2);
    double worstHalf = 0, worstQuarter = 0;
    for (int i = 0; i < 1000; ++i) {
        Block b = RandomBlock(rng);
        for (int k = 0; k < 64; ++k)
            b[k] = static_cast<std::int16_t>(b[k] / 2);
        std::array<std::uint8_t, 16> half{};
        std::array<std::uint8_t, 4> quarter{};
        ASSERT_EQ(InverseDctDequant8x8To4x4(b.data(), half.data(), 4, table.data()), 0);
        ASSERT_EQ(InverseDctDequant8x8To2x2(b.data(), quarter.data(), 2, table.data()), 0);
        const auto h = GroupMeans(b, table, 2);
        const auto q = GroupMeans(b, table, 4);
        for (int k = 0; k < 16; ++k)
            worstHalf = std::max(worstHalf, std::abs(half[k] - h[k]));
        for (int k = 0; k < 4; ++k)
            worstQuarter = std::max(worstQuarter, std::abs(quarter[k] - q[k]));
    }
    EXPECT_LE(worstHalf, 2.0);
    EXPECT_LE(worstQuarter, 2.0);
}

TEST(InverseDct, ReducedOutputsIgnoreTheFrequenciesTheyCannotShow)
{
    Block b{};
    b[0] = 100;
    b[9] = -30;
    std::array<std::uint8_t, 16> half{}, half2{};
    std::array<std::uint8_t, 4> quarter{}, quarter2{};
    const Table table = Uniform(4);
    ASSERT_EQ(InverseDctDequant8x8To4x4(b.data(), half.data(), 4, table.data()), 0);
    ASSERT_EQ(InverseDctDequant8x8To2x2(b.data(), quarter.data(), 2, table.data()), 0);
    Block c = b;
    for (int k = 0; k < 8; ++k) {
        c[4 * 8 + k] += 50;
        c[k * 8 + 4] += 50;
    }
    ASSERT_EQ(InverseDctDequant8x8To4x4(c.data(), half2.data(), 4, table.data()), 0);
    EXPECT_EQ(half, half2);
    for (int k = 0; k < 8; ++k)
        for (int r : {2, 6}) {
            c[r * 8 + k] += 20;
            c[k * 8 + r] += 20;
        }
    ASSERT_EQ(InverseDctDequant8x8To2x2(c.data(), quarter2.data(), 2, table.data()), 0);
    EXPECT_EQ(quarter, quarter2);
}

TEST(InverseDct, DcOnlyBlockGivesOneValueAtEveryScale)
{
    for (const auto& [dc, sample] : {std::pair<std::int16_t, int>{333, 170}, {-777, 31}, {0, 128}}) {
        Block b{};
        b[0] = dc;
        const Table t = Uniform(1);
        std::array<std::uint8_t, 16> half{};
        std::array<std::uint8_t, 4> quarter{};
        ASSERT_EQ(InverseDctDequant8x8To4x4(b.data(), half.data(), 4, t.data()), 0);
        ASSERT_EQ(InverseDctDequant8x8To2x2(b.data(), quarter.data(), 2, t.data()), 0);
        for (const std::uint8_t s : Full(b, t))
            EXPECT_EQ(s, sample);
        for (const std::uint8_t s : half)
            EXPECT_EQ(s, sample);
        for (const std::uint8_t s : quarter)
            EXPECT_EQ(s, sample);
    }
}

TEST(InverseDct, TwelveBitTransformTruncatesAndClamps)
{
    std::array<float, 64> ones;
    ones.fill(1.0f);
    struct Case {
        std::int16_t dc;
        std::uint16_t sample;
    };
    const Case cases[] = {{0, 2048}, {80, 2058}, {-80, 2038}, {32767, 4095}, {-32768, 0}};
    for (const Case& c : cases) {
        Block b{};
        b[0] = c.dc;
        std::array<std::uint16_t, 64> out{};
        ASSERT_EQ(InverseDctDequant8x8To16u(b.data(), out.data(), 16, ones.data()), 0);
        for (const std::uint16_t s : out)
            ASSERT_EQ(s, c.sample) << "DC " << c.dc;
    }
    // Against double precision on 12-bit-range blocks.
    std::mt19937 rng(5);
    double worst = 0;
    for (int i = 0; i < 300; ++i) {
        Block b = RandomBlock(rng);
        for (auto& v : b)
            v = static_cast<std::int16_t>(v * 8);
        std::array<std::uint16_t, 64> out{};
        ASSERT_EQ(InverseDctDequant8x8To16u(b.data(), out.data(), 16, ones.data()), 0);
        const auto ref = ReferenceIdct(b, Uniform(1));
        for (int k = 0; k < 64; ++k) {
            const double r = std::min(4095.0, std::max(0.0, std::floor(ref[k] - 128.0 + 2048.0)));
            worst = std::max(worst, std::abs(out[k] - r));
        }
    }
    EXPECT_LE(worst, 1.0);
}

TEST(InverseDct, ChecksComeBeforeAnyWrite)
{
    Block b{};
    const Table t = Uniform(1);
    std::array<std::uint8_t, 64> out;
    out.fill(7);
    using Fn = PrimitiveStatus (*)(const std::int16_t*, std::uint8_t*, std::int32_t, const std::uint16_t*);
    for (Fn f : {&InverseDctDequant8x8To8u, &InverseDctDequant8x8To8uLow4x4, &InverseDctDequant8x8To8uLow2x2,
                 &InverseDctDequant8x8To8uDcOnly, &InverseDctDequant8x8To4x4, &InverseDctDequant8x8To2x2}) {
        EXPECT_EQ(f(nullptr, out.data(), 8, t.data()), -8);
        EXPECT_EQ(f(b.data(), nullptr, 8, t.data()), -8);
        EXPECT_EQ(f(b.data(), out.data(), 0, t.data()), -14);
        EXPECT_EQ(f(b.data(), out.data(), -8, nullptr), -14);
        EXPECT_EQ(f(b.data(), out.data(), 8, nullptr), -8);
    }
    std::array<std::uint16_t, 64> out16{};
    const float ft[64] = {};
    EXPECT_EQ(InverseDctDequant8x8To16u(b.data(), out16.data(), 0, ft), -14);
    EXPECT_EQ(InverseDctDequant8x8To16u(b.data(), out16.data(), 16, nullptr), -8);
    for (const std::uint8_t s : out)
        EXPECT_EQ(s, 7);
}

TEST(InverseDct, EveryVariantGivesThePortableBytes)
{
    // Natural blocks, blocks with only the DC, and extreme ones whose
    // products wrap and whose sums saturate.
    std::mt19937 rng(77);
    std::vector<std::pair<Block, Table>> cases;
    for (int i = 0; i < 200; ++i)
        cases.emplace_back(RandomBlock(rng), Uniform(static_cast<std::uint16_t>(1 + i % 40)));
    for (const std::int16_t dc : {-2048, -1024, -1, 0, 1, 127, 1023, 2047}) {
        Block b{};
        b[0] = dc;
        cases.emplace_back(b, Uniform(8));
        cases.emplace_back(b, Uniform(255));
    }
    std::uniform_int_distribution<int> wide(-32768, 32767);
    for (int i = 0; i < 50; ++i) {
        Block b{};
        Table t{};
        for (int k = 0; k < 64; ++k) {
            b[k] = static_cast<std::int16_t>(wide(rng));
            t[k] = static_cast<std::uint16_t>(1 + rng() % 65535);
        }
        cases.emplace_back(b, t);
    }
    using Fn = PrimitiveStatus (*)(const std::int16_t*, std::uint8_t*, std::int32_t, const std::uint16_t*);
    const Fn transforms[] = {&InverseDctDequant8x8To8u, &InverseDctDequant8x8To8uLow4x4,
                             &InverseDctDequant8x8To8uLow2x2};
    for (const Fn transform : transforms) {
        std::vector<std::uint8_t> reference(cases.size() * 64);
        {
            primitives_test::ScopedCpuVariant portable(0);
            for (std::size_t i = 0; i < cases.size(); ++i)
                ASSERT_EQ(transform(cases[i].first.data(), reference.data() + 64 * i, 8, cases[i].second.data()), 0);
        }
        for (const std::int32_t slot : primitives_test::SupportedSlots()) {
            primitives_test::ScopedCpuVariant variant(slot);
            std::vector<std::uint8_t> out(cases.size() * 64);
            for (std::size_t i = 0; i < cases.size(); ++i)
                ASSERT_EQ(transform(cases[i].first.data(), out.data() + 64 * i, 8, cases[i].second.data()), 0);
            EXPECT_EQ(primitives_test::FirstDifference(out, reference), "") << primitives_test::SlotName(slot);
        }
    }
}

// The portable transform skips saturation where its sums cannot reach it;
// blocks of rising amplitude in sign patterns that line the products up
// (and random ones) cross that edge, and the bytes must stay those of the
// vector bodies, which saturate at every step.
TEST(InverseDct, AmplitudesAcrossTheSaturationEdgeGiveTheVectorBytes)
{
    const auto slots = primitives_test::SupportedSlots();
    if (slots.size() < 2)
        GTEST_SKIP() << "only the portable body runs here";
    std::mt19937 rng(79);
    // Sign of coefficient (v, u) in each pattern.
    using Pattern = int (*)(int v, int u);
    const Pattern patterns[] = {
        [](int, int) { return 1; },
        [](int, int u) { return u % 2 == 0 ? 1 : -1; },
        [](int v, int) { return v % 2 == 0 ? 1 : -1; },
        [](int v, int u) { return (u + v) % 2 == 0 ? 1 : -1; },
        [](int v, int u) { return (u / 2 + v) % 2 == 0 ? 1 : -1; },
        [](int, int u) { return u == 0 ? 1 : 0; },
        [](int v, int) { return v == 0 ? 1 : 0; },
    };
    std::vector<Block> blocks;
    for (int amplitude = 32; amplitude <= 4096; amplitude += amplitude / 8) {
        for (const Pattern sign : patterns) {
            Block b{};
            for (int k = 0; k < 64; ++k)
                b[k] = static_cast<std::int16_t>(sign(k / 8, k % 8) * amplitude);
            blocks.push_back(b);
        }
        Block b{};
        for (auto& c : b)
            c = static_cast<std::int16_t>(static_cast<int>(rng() % (2 * amplitude + 1)) - amplitude);
        blocks.push_back(b);
    }
    const Table table = Uniform(1);
    std::vector<std::uint8_t> reference(blocks.size() * 64);
    {
        primitives_test::ScopedCpuVariant portable(0);
        for (std::size_t i = 0; i < blocks.size(); ++i)
            ASSERT_EQ(InverseDctDequant8x8To8u(blocks[i].data(), reference.data() + 64 * i, 8, table.data()), 0);
    }
    for (const std::int32_t slot : slots) {
        if (slot <= 1)
            continue;
        primitives_test::ScopedCpuVariant variant(slot);
        std::vector<std::uint8_t> out(blocks.size() * 64);
        for (std::size_t i = 0; i < blocks.size(); ++i)
            ASSERT_EQ(InverseDctDequant8x8To8u(blocks[i].data(), out.data() + 64 * i, 8, table.data()), 0);
        EXPECT_EQ(primitives_test::FirstDifference(out, reference), "") << primitives_test::SlotName(slot);
    }
}

TEST(InverseDct, PairGivesTheBytesOfTwoSingleBlocksInEveryVariant)
{
    std::mt19937 rng(78);
    std::uniform_int_distribution<int> wide(-32768, 32767);
    for (int round = 0; round < 60; ++round) {
        std::array<std::int16_t, 128> coefficients{};
        Table table{};
        for (int k = 0; k < 64; ++k)
            table[k] = static_cast<std::uint16_t>(round % 3 == 0 ? 1 + rng() % 65535 : 1 + rng() % 40);
        for (int b = 0; b < 2; ++b) {
            const Block block = RandomBlock(rng);
            for (int k = 0; k < 64; ++k)
                coefficients[64 * b + k] = round % 3 == 0 ? static_cast<std::int16_t>(wide(rng))
                                           : round % 3 == 1 && k != 0 ? 0
                                                                      : block[k];
        }
        // Single blocks of the portable code, written into 16-wide rows.
        std::vector<std::uint8_t> reference(24 * 8, 0xCD);
        {
            primitives_test::ScopedCpuVariant portable(0);
            ASSERT_EQ(InverseDctDequant8x8To8u(coefficients.data(), reference.data(), 24, table.data()), 0);
            ASSERT_EQ(InverseDctDequant8x8To8u(coefficients.data() + 64, reference.data() + 8, 24, table.data()), 0);
        }
        for (const std::int32_t slot : primitives_test::SupportedSlots()) {
            primitives_test::ScopedCpuVariant variant(slot);
            std::vector<std::uint8_t> out(24 * 8, 0xCD);
            ASSERT_EQ(InverseDctDequant8x8To8uPair(coefficients.data(), out.data(), 24, table.data()), 0);
            EXPECT_EQ(primitives_test::FirstDifference(out, reference), "")
                << primitives_test::SlotName(slot) << " round " << round;
        }
    }
    // Blocks with only the DC coded, over the whole range of dequantised DC
    // values (the shortcuts' saturation), the other block with or without AC.
    for (const int dc : {-32768, -20000, -1024, -1, 0, 1, 1023, 20000, 32767})
        for (const int q : {1, 8, 255, 65535})
            for (const bool otherHasAc : {false, true}) {
                std::array<std::int16_t, 128> coefficients{};
                coefficients[0] = static_cast<std::int16_t>(dc);
                coefficients[64] = static_cast<std::int16_t>(-dc / 3);
                if (otherHasAc)
                    coefficients[64 + 9] = 5;
                const Table table = Uniform(static_cast<std::uint16_t>(q));
                std::vector<std::uint8_t> reference(24 * 8, 0xCD);
                {
                    primitives_test::ScopedCpuVariant portable(0);
                    ASSERT_EQ(InverseDctDequant8x8To8u(coefficients.data(), reference.data(), 24, table.data()), 0);
                    ASSERT_EQ(
                        InverseDctDequant8x8To8u(coefficients.data() + 64, reference.data() + 8, 24, table.data()), 0);
                }
                for (const std::int32_t slot : primitives_test::SupportedSlots()) {
                    primitives_test::ScopedCpuVariant variant(slot);
                    std::vector<std::uint8_t> out(24 * 8, 0xCD);
                    ASSERT_EQ(InverseDctDequant8x8To8uPair(coefficients.data(), out.data(), 24, table.data()), 0);
                    EXPECT_EQ(primitives_test::FirstDifference(out, reference), "")
                        << primitives_test::SlotName(slot) << " DC " << dc << " quantiser " << q;
                }
            }
    std::vector<std::uint8_t> untouched(16, 0xCD);
    const std::array<std::int16_t, 128> zero{};
    const Table table = Uniform(1);
    EXPECT_EQ(InverseDctDequant8x8To8uPair(nullptr, untouched.data(), 16, table.data()), -8);
    EXPECT_EQ(InverseDctDequant8x8To8uPair(zero.data(), untouched.data(), 0, table.data()), -14);
    EXPECT_EQ(InverseDctDequant8x8To8uPair(zero.data(), untouched.data(), 16, nullptr), -8);
    EXPECT_EQ(untouched, std::vector<std::uint8_t>(16, 0xCD));
}

}  // namespace
