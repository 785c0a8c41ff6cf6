#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>
#include <vector>

#include "SlotSweep.h"
#include "imaging/primitives/VectorOps.h"

using primitives_test::RandomBytes;
using primitives_test::ScopedCpuVariant;

TEST(VectorOps, ArgumentsAreCheckedInOrderAndNothingIsWritten)
{
    std::vector<std::int16_t> src(8, 0x1234);
    std::vector<std::int16_t> dst(8, 0x5555);
    std::vector<std::uint8_t> bytes(16, 0x77);
    struct Case {
        const char* name;
        std::function<PrimitiveStatus()> call;
        PrimitiveStatus status;
    };
    std::int16_t* s = src.data();
    std::int16_t* d = dst.data();
    std::uint8_t* b = bytes.data();
    const Case cases[] = {
        {"zero 8u n 0", [&] { return ZeroVector8u(b, 0); }, -6},
        {"zero 8u null with n 0", [&] { return ZeroVector8u(nullptr, 0); }, -8},
        {"zero 16s negative n", [&] { return ZeroVector16s(d, -4); }, -6},
        {"copy 8u null source", [&] { return CopyVector8u(nullptr, b, 4); }, -8},
        {"copy 8u null destination", [&] { return CopyVector8u(b, nullptr, 0); }, -8},
        {"move 8u n 0", [&] { return MoveVector8u(b, b + 1, 0); }, -6},
        {"copy 16s null source", [&] { return CopyVector16s(nullptr, d, 4); }, -8},
        {"copy 32 null destination", [&] { return CopyVector32_x3(s, nullptr, 4); }, -8},
        {"copy 32 n 0", [&] { return CopyVector32_x3(s, d, 0); }, -6},
        {"copy 32 alt n 0", [&] { return CopyVector32_alt(s, d, 0); }, -6},
        {"shift left 0 null source", [&] { return ShiftLeftVector16s(nullptr, 0, d, 4); }, -8},
        {"shift left 16 null source", [&] { return ShiftLeftVector16s(nullptr, 16, d, 4); }, -8},
        {"shift left 16 null destination", [&] { return ShiftLeftVector16s(s, 16, nullptr, 4); }, -8},
        {"shift left 16 n 0", [&] { return ShiftLeftVector16s(s, 16, d, 0); }, -6},
        {"shift left -1 n 0", [&] { return ShiftLeftVector16s(s, -1, d, 0); }, -6},
        {"shift left -1 n 5", [&] { return ShiftLeftVector16s(s, -1, d, 5); }, -32},
        {"shift left 3 null destination", [&] { return ShiftLeftVector16s(s, 3, nullptr, 5); }, -8},
        {"shift right null", [&] { return ShiftRightVector16sInPlace(-1, nullptr, 0); }, -8},
        {"shift right n 0", [&] { return ShiftRightVector16sInPlace(-1, d, 0); }, -6},
        {"shift right negative", [&] { return ShiftRightVector16sInPlace(-1, d, 8); }, -32},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const auto& c : cases) {
            EXPECT_EQ(c.call(), c.status) << c.name;
            EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](std::int16_t v) { return v == 0x5555; })) << c.name;
            EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t v) { return v == 0x77; })) << c.name;
        }
    }
}

TEST(VectorOps, ZeroAndCopyTouchExactlyTheirRange)
{
    // Lengths around the short-run and block sizes and one above 512 KiB;
    // offsets move the destination off every alignment.
    const std::vector<std::uint8_t> src = RandomBytes(600064, 3);
    for (std::int32_t n : {1, 2, 3, 7, 8, 9, 15, 16, 63, 64, 65, 1000, 600000}) {
        for (int offset : {0, 1, 5, 13}) {
            std::vector<std::uint8_t> zeroed(n + 32, 0xEE);
            ASSERT_EQ(ZeroVector8u(zeroed.data() + offset, n), 0);
            std::vector<std::uint8_t> copied(n + 32, 0xEE);
            ASSERT_EQ(CopyVector8u(src.data() + offset / 2, copied.data() + offset, n), 0);
            for (int i = 0; i < n + 32; ++i) {
                const bool inside = i >= offset && i < offset + n;
                ASSERT_EQ(zeroed[i], inside ? 0 : 0xEE) << n << "+" << offset << " at " << i;
                ASSERT_EQ(copied[i], inside ? src[offset / 2 + i - offset] : 0xEE) << n << "+" << offset << " at " << i;
            }
        }
    }
    std::vector<std::int16_t> words(10, 9);
    ASSERT_EQ(ZeroVector16s(words.data() + 1, 8), 0);
    EXPECT_EQ(words, (std::vector<std::int16_t>{9, 0, 0, 0, 0, 0, 0, 0, 0, 9}));
    const std::vector<std::int16_t> values = {-32768, -1, 0, 1, 32767};
    std::vector<std::int16_t> out(6, 42);
    ASSERT_EQ(CopyVector16s(values.data(), out.data(), 5), 0);
    EXPECT_EQ(out, (std::vector<std::int16_t>{-32768, -1, 0, 1, 32767, 42}));
    const std::vector<float> row = {1.5f, -2.25f, 3.0f};
    std::vector<float> rowCopy(4, 0.0f);
    ASSERT_EQ(CopyVector32_x3(row.data(), rowCopy.data(), 3), 0);
    EXPECT_EQ(rowCopy, (std::vector<float>{1.5f, -2.25f, 3.0f, 0.0f}));
    std::fill(rowCopy.begin(), rowCopy.end(), 0.0f);
    ASSERT_EQ(CopyVector32_alt(row.data(), rowCopy.data(), 2), 0);
    EXPECT_EQ(rowCopy, (std::vector<float>{1.5f, -2.25f, 0.0f, 0.0f}));
}

TEST(VectorOps, MoveHandlesOverlapInBothDirections)
{
    std::vector<std::uint8_t> original(101);
    std::iota(original.begin(), original.end(), 0);
    {
        auto data = original;
        ASSERT_EQ(MoveVector8u(data.data(), data.data() + 1, 100), 0);
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(data[i + 1], original[i]);
        EXPECT_EQ(data[0], original[0]);
    }
    {
        auto data = original;
        ASSERT_EQ(MoveVector8u(data.data() + 1, data.data(), 100), 0);
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(data[i], original[i + 1]);
        EXPECT_EQ(data[100], original[100]);
    }
    {
        auto data = original;
        ASSERT_EQ(MoveVector8u(data.data(), data.data(), 100), 0);
        EXPECT_EQ(data, original);
    }
}

TEST(VectorOps, ShiftsKeepSixteenBitsAndRoundTowardMinusInfinity)
{
    struct Case {
        std::int32_t shift;
        std::vector<std::int16_t> in;
        std::vector<std::int16_t> left;   // ShiftLeftVector16s
        std::vector<std::int16_t> right;  // ShiftRightVector16sInPlace
    };
    const Case cases[] = {
        {0, {0x1234, -3, 3}, {0x1234, -3, 3}, {0x1234, -3, 3}},
        {1, {-3, 3, -32768, 0x4000}, {-6, 6, 0, -32768}, {-2, 1, -16384, 0x2000}},
        {4, {0x1234, -1, 0x0FFF}, {0x2340, -16, -16}, {0x0123, -1, 0x00FF}},
        {15, {-1, 1, -32768, 32767}, {-32768, -32768, 0, -32768}, {-1, 0, -1, 0}},
        {16, {-5, 7, 0}, {0, 0, 0}, {-1, 0, 0}},
        {20, {-5, 7, -32768}, {0, 0, 0}, {-1, 0, -1}},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        for (const auto& c : cases) {
            const auto n = static_cast<std::int32_t>(c.in.size());
            std::vector<std::int16_t> left(c.in.size() + 1, 99);
            ASSERT_EQ(ShiftLeftVector16s(c.in.data(), c.shift, left.data(), n), 0) << c.shift;
            EXPECT_EQ(std::vector<std::int16_t>(left.begin(), left.end() - 1), c.left) << "left " << c.shift;
            EXPECT_EQ(left.back(), 99);
            std::vector<std::int16_t> right = c.in;
            ASSERT_EQ(ShiftRightVector16sInPlace(c.shift, right.data(), n), 0) << c.shift;
            EXPECT_EQ(right, c.right) << "right " << c.shift;
        }
    }
}

TEST(VectorOps, ByteKernelsHonourTheirContracts)
{
    const std::vector<std::uint8_t> src = RandomBytes(128, 8);
    std::vector<std::uint8_t> dst(128, 0xEE);
    CopyBytes_x3(src.data(), dst.data(), 0);
    EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](std::uint8_t b) { return b == 0xEE; }));
    CopyBytes_x3(src.data(), dst.data() + 3, 70);
    EXPECT_EQ(std::memcmp(dst.data() + 3, src.data(), 70), 0);
    ZeroBytes_x3(dst.data() + 1, 1);
    EXPECT_EQ(dst[1], 0);
    EXPECT_EQ(dst[0], 0xEE);
    EXPECT_EQ(dst[2], 0xEE);
    std::vector<std::uint8_t> overlap(src.begin(), src.end());
    MoveBytes_x3(overlap.data() + 10, overlap.data() + 20, 100);
    EXPECT_EQ(std::memcmp(overlap.data() + 20, src.data() + 10, 100), 0);
}
