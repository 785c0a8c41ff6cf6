#include <gtest/gtest.h>

#include <vector>

#include "SlotSweep.h"
#include "imaging/primitives/ChromaRows.h"

using primitives_test::ScopedCpuVariant;
using Bytes = std::vector<std::uint8_t>;

TEST(ChromaRows, DownsamplingBiasesFollowTheOutputIndex)
{
    struct Case {
        Bytes source;
        Bytes expected;
    };
    // 1, 2, 1, 2 ... pairs sum to 3: bias 0 gives 1, bias 1 gives 2.
    auto pattern = [](int n) {
        Bytes b(n);
        for (int i = 0; i < n; ++i)
            b[i] = static_cast<std::uint8_t>(1 + (i & 1));
        return b;
    };
    const Case cases[] = {
        {pattern(2), {1}},
        {pattern(4), {2, 1}},
        {pattern(6), {1, 2, 1}},
        {pattern(8), {2, 1, 2, 1}},
        {pattern(10), {1, 2, 1, 2, 1}},
        {pattern(12), {2, 1, 2, 1, 2, 1}},
        {pattern(14), {1, 2, 1, 2, 1, 2, 1}},
        {pattern(16), {1, 2, 1, 2, 1, 2, 1, 2}},
        {pattern(7), {1, 2, 1}},  // an odd last sample is not used
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const Case& c : cases) {
            Bytes out(c.expected.size() + 1, 0xCD);
            ASSERT_EQ(DownsampleRowH2V1(c.source.data(), static_cast<std::int32_t>(c.source.size()), out.data()), 0);
            EXPECT_EQ(Bytes(out.begin(), out.end() - 1), c.expected) << "length " << c.source.size();
            EXPECT_EQ(out.back(), 0xCD);
        }
        const Bytes a{10, 11, 10, 11}, b{10, 11, 10, 11};
        Bytes out(2);
        ASSERT_EQ(DownsampleRowH2V2(a.data(), b.data(), 4, out.data()), 0);
        EXPECT_EQ(out, (Bytes{10, 11}));
    }
}

TEST(ChromaRows, UpsamplingInterpolatesThreeToOne)
{
    struct Case {
        Bytes nearer, farther;  // farther empty: the H2V1 form
        Bytes expected;
    };
    const Case cases[] = {
        {{0, 100}, {}, {0, 25, 75, 100}},
        {{10, 10, 10}, {}, {10, 10, 10, 10, 10, 10}},
        {{7}, {}, {7, 7}},
        {{0, 100}, {0, 100}, {0, 25, 75, 100}},
        {{100, 100}, {0, 0}, {75, 75, 75, 75}},
        {{16, 32, 48}, {0, 0, 0}, {12, 15, 21, 27, 33, 36}},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const Case& c : cases) {
            Bytes out(c.expected.size());
            const auto n = static_cast<std::int32_t>(c.nearer.size());
            const PrimitiveStatus status = c.farther.empty()
                                               ? UpsampleRowH2V1(c.nearer.data(), n, out.data())
                                               : UpsampleRowH2V2(c.nearer.data(), c.farther.data(), n, out.data());
            ASSERT_EQ(status, 0);
            EXPECT_EQ(out, c.expected);
        }
    }
}

TEST(ChromaRows, RefusalsWriteNothing)
{
    const Bytes row{1, 2, 3, 4};
    Bytes out(4, 0xCD);
    EXPECT_EQ(DownsampleRowH2V2(row.data(), nullptr, 4, out.data()), -8);
    EXPECT_EQ(DownsampleRowH2V2(row.data(), row.data(), 0, out.data()), -6);
    EXPECT_EQ(DownsampleRowH2V1(row.data(), -2, out.data()), -6);
    EXPECT_EQ(DownsampleRowH2V1(nullptr, 4, out.data()), -8);
    EXPECT_EQ(UpsampleRowH2V1(row.data(), 0, out.data()), -6);
    EXPECT_EQ(UpsampleRowH2V2(row.data(), row.data(), 2, nullptr), -8);
    EXPECT_EQ(out, Bytes(4, 0xCD));
}

TEST(ChromaRows, EveryVariantGivesThePortableBytes)
{
    const auto a = primitives_test::RandomBytes(301, 31);
    const auto b = primitives_test::RandomBytes(301, 32);
    for (std::int32_t length : {2, 4, 12, 14, 16, 17, 30, 32, 34, 48, 300, 301}) {
        Bytes v2Reference(length / 2), v1Reference(length / 2);
        {
            ScopedCpuVariant portable(0);
            ASSERT_EQ(DownsampleRowH2V2(a.data(), b.data(), length, v2Reference.data()), 0);
            ASSERT_EQ(DownsampleRowH2V1(a.data(), length, v1Reference.data()), 0);
        }
        for (std::int32_t slot : primitives_test::SupportedSlots()) {
            ScopedCpuVariant variant(slot);
            Bytes v2(length / 2), v1(length / 2);
            ASSERT_EQ(DownsampleRowH2V2(a.data(), b.data(), length, v2.data()), 0);
            ASSERT_EQ(DownsampleRowH2V1(a.data(), length, v1.data()), 0);
            EXPECT_EQ(v2, v2Reference) << primitives_test::SlotName(slot) << " length " << length;
            EXPECT_EQ(v1, v1Reference) << primitives_test::SlotName(slot) << " length " << length;
        }
    }
    // Up-sampling: lengths around the eight and sixteen samples a vector
    // step takes, and around the second step that the first reads ahead.
    for (std::int32_t length : {1, 2, 3, 9, 10, 11, 17, 18, 25, 32, 33, 34, 48, 49, 50, 64, 65, 150, 301}) {
        Bytes v2Reference(2 * length), v1Reference(2 * length);
        {
            ScopedCpuVariant portable(0);
            ASSERT_EQ(UpsampleRowH2V2(a.data(), b.data(), length, v2Reference.data()), 0);
            ASSERT_EQ(UpsampleRowH2V1(a.data(), length, v1Reference.data()), 0);
        }
        for (std::int32_t slot : primitives_test::SupportedSlots()) {
            ScopedCpuVariant variant(slot);
            Bytes v2(2 * length + 1, 0xCD), v1(2 * length + 1, 0xCD);
            ASSERT_EQ(UpsampleRowH2V2(a.data(), b.data(), length, v2.data()), 0);
            ASSERT_EQ(UpsampleRowH2V1(a.data(), length, v1.data()), 0);
            EXPECT_EQ(v2.back(), 0xCD) << primitives_test::SlotName(slot) << " length " << length;
            EXPECT_EQ(v1.back(), 0xCD) << primitives_test::SlotName(slot) << " length " << length;
            v2.pop_back();
            v1.pop_back();
            EXPECT_EQ(v2, v2Reference) << primitives_test::SlotName(slot) << " up length " << length;
            EXPECT_EQ(v1, v1Reference) << primitives_test::SlotName(slot) << " up length " << length;
        }
    }
}
