#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "SlotSweep.h"
#include "imaging/primitives/ForwardDct.h"

using primitives_test::ScopedCpuVariant;

namespace {

using Block = std::array<std::int16_t, 64>;

Block Transform(const std::vector<std::uint8_t>& samples, std::int32_t step, std::uint16_t entry)
{
    std::array<std::uint16_t, 64> table;
    table.fill(entry);
    Block out{};
    EXPECT_EQ(ForwardDctQuant8x8From8u(samples.data(), step, out.data(), table.data()), 0);
    return out;
}

// The DCT of T.81 A.3.3 in double precision.
std::array<double, 64> ReferenceDct(const std::vector<std::uint8_t>& s, int step)
{
    std::array<double, 64> out{};
    const double pi = std::acos(-1.0);
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    sum += (s[y * step + x] - 128.0) * std::cos((2 * x + 1) * u * pi / 16) *
                           std::cos((2 * y + 1) * v * pi / 16);
            const double cu = u == 0 ? 1 / std::sqrt(2.0) : 1.0;
            const double cv = v == 0 ? 1 / std::sqrt(2.0) : 1.0;
            out[v * 8 + u] = 0.25 * cu * cv * sum;
        }
    return out;
}

}  // namespace

TEST(ForwardDct, FlatAndSeparableBlocks)
{
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        SCOPED_TRACE(primitives_test::SlotName(slot));
        EXPECT_EQ(Transform(std::vector<std::uint8_t>(64, 128), 8, 32768), Block{});
        Block flat{};
        flat[0] = 576;  // 8 x (200 - 128)
        EXPECT_EQ(Transform(std::vector<std::uint8_t>(64, 200), 8, 32768), flat);

        std::vector<std::uint8_t> rowsEqual(64), columnsEqual(64);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                rowsEqual[y * 8 + x] = static_cast<std::uint8_t>(40 + 25 * x);
                columnsEqual[y * 8 + x] = static_cast<std::uint8_t>(40 + 25 * y);
            }
        const Block a = Transform(rowsEqual, 8, 32768);
        const Block b = Transform(columnsEqual, 8, 32768);
        for (int i = 0; i < 64; ++i) {
            if (i >= 8) {
                EXPECT_EQ(a[i], 0) << "index " << i;
            }
            if (i % 8 != 0) {
                EXPECT_EQ(b[i], 0) << "index " << i;
            }
        }
        EXPECT_NE(a[1], 0);
        EXPECT_NE(b[8], 0);
    }
}

TEST(ForwardDct, WithinOneLevelOfTheExactTransform)
{
    std::mt19937 rng(1);
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (int trial = 0; trial < 2000; ++trial) {
            std::vector<std::uint8_t> samples(24 * 8);
            for (auto& s : samples)
                s = static_cast<std::uint8_t>(trial < 1000 ? rng() : 128 + static_cast<int>(rng() % 32) - 16);
            const Block out = Transform(samples, 24, 32768);
            const auto exact = ReferenceDct(samples, 24);
            for (int i = 0; i < 64; ++i)
                ASSERT_LE(std::abs(out[i] - exact[i]), 1.0)
                    << primitives_test::SlotName(slot) << " trial " << trial << " index " << i;
        }
    }
}

TEST(ForwardDct, EveryVariantGivesThePortableBits)
{
    std::mt19937 rng(9);
    std::vector<std::uint8_t> samples(8 * 11);
    std::array<std::uint16_t, 64> table;
    for (int trial = 0; trial < 3000; ++trial) {
        for (auto& s : samples)
            s = static_cast<std::uint8_t>(trial % 3 == 0 ? (rng() & 1) * 255 : rng());
        for (auto& t : table)
            t = static_cast<std::uint16_t>(trial % 2 == 0 ? rng() : 32768 / (1 + rng() % 255));
        Block reference{};
        {
            ScopedCpuVariant portable(0);
            ASSERT_EQ(ForwardDctQuant8x8From8u(samples.data() + 3, 11, reference.data(), table.data()), 0);
        }
        for (std::int32_t slot : primitives_test::SupportedSlots()) {
            ScopedCpuVariant variant(slot);
            Block out{};
            ASSERT_EQ(ForwardDctQuant8x8From8u(samples.data() + 3, 11, out.data(), table.data()), 0);
            ASSERT_EQ(out, reference) << primitives_test::SlotName(slot) << " trial " << trial;
        }
    }
}

TEST(ForwardDct, QuantisationRoundsTiesToEvenAndSaturates)
{
    // A flat block of 128 + k / 8 has the single coefficient k at index 0.
    struct Case {
        std::uint8_t sample;  // flat block: coefficient 8 x (sample - 128)
        std::uint16_t entry;
        std::int16_t expected;
    };
    const Case cases[] = {
        {129, 4096, 1},    // 8 x 1/8 = 1
        {129, 2048, 0},    // 0.5 -> 0
        {129, 6144, 2},    // 1.5 -> 2
        {129, 10240, 2},   // 2.5 -> 2
        {127, 6144, -2},   // -1.5 -> -2
        {127, 10240, -2},  // -2.5 -> -2
        {129, 12288, 3},   // 3 exactly
        {255, 65535, 2032},
        {0, 65535, -2048},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const Case& c : cases)
            EXPECT_EQ(Transform(std::vector<std::uint8_t>(64, c.sample), 8, c.entry)[0], c.expected)
                << primitives_test::SlotName(slot) << " sample " << int(c.sample) << " entry " << c.entry;
    }
}

TEST(ForwardDct, RefusalsWriteNothing)
{
    const std::vector<std::uint8_t> samples(64, 100);
    std::array<std::uint16_t, 64> table;
    table.fill(1);
    Block out;
    out.fill(7);
    EXPECT_EQ(ForwardDctQuant8x8From8u(samples.data(), 0, out.data(), table.data()), -14);
    EXPECT_EQ(ForwardDctQuant8x8From8u(samples.data(), -8, out.data(), table.data()), -14);
    EXPECT_EQ(ForwardDctQuant8x8From8u(samples.data(), 8, out.data(), nullptr), -8);
    EXPECT_EQ(ForwardDctQuant8x8From8u(nullptr, 0, out.data(), nullptr), -8);
    EXPECT_EQ(ForwardDctQuant8x8From8u(samples.data(), 8, nullptr, table.data()), -8);
    std::array<float, 64> ftable;
    ftable.fill(1.0f);
    EXPECT_EQ(ForwardDctQuant8x8From16u(nullptr, 16, out.data(), ftable.data()), -8);
    EXPECT_EQ(ForwardDctQuant8x8From16u(reinterpret_cast<const std::uint16_t*>(samples.data()), 0, out.data(),
                                        ftable.data()),
              -14);
    Block untouched;
    untouched.fill(7);
    EXPECT_EQ(out, untouched);
}

TEST(ForwardDct, TwelveBitFloatTransform)
{
    std::vector<std::uint16_t> flat(64, 2148);
    std::array<float, 64> table;
    Block out{};
    table.fill(1.0f);
    ASSERT_EQ(ForwardDctQuant8x8From16u(flat.data(), 16, out.data(), table.data()), 0);
    EXPECT_EQ(out[0], 800);
    for (int i = 1; i < 64; ++i)
        EXPECT_EQ(out[i], 0);
    table.fill(0.5f);
    ASSERT_EQ(ForwardDctQuant8x8From16u(flat.data(), 16, out.data(), table.data()), 0);
    EXPECT_EQ(out[0], 400);

    // Random 12-bit blocks within one level of the exact transform (q = 1).
    std::mt19937 rng(4);
    table.fill(1.0f);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<std::uint16_t> s(64);
        for (auto& v : s)
            v = static_cast<std::uint16_t>(rng() % 4096);
        ASSERT_EQ(ForwardDctQuant8x8From16u(s.data(), 16, out.data(), table.data()), 0);
        const double pi = std::acos(-1.0);
        for (int v = 0; v < 8; ++v)
            for (int u = 0; u < 8; ++u) {
                double sum = 0;
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        sum += (s[y * 8 + x] - 2048.0) * std::cos((2 * x + 1) * u * pi / 16) *
                               std::cos((2 * y + 1) * v * pi / 16);
                const double exact = 0.25 * (u == 0 ? 1 / std::sqrt(2.0) : 1) * (v == 0 ? 1 / std::sqrt(2.0) : 1) * sum;
                ASSERT_LE(std::abs(out[v * 8 + u] - exact), 1.0) << trial << " " << v << "," << u;
            }
    }
}
