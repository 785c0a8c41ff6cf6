#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "imaging/primitives/AlignedMemory.h"

namespace {

// Records every raw block that passes through the allocator.
struct Recorder {
    std::vector<void*> allocated;
    std::vector<std::size_t> sizes;
    std::vector<void*> released;
};
Recorder* g_recorder = nullptr;

void* RecordingAllocate(std::size_t n)
{
    void* p = std::malloc(n);
    g_recorder->allocated.push_back(p);
    g_recorder->sizes.push_back(n);
    return p;
}

void RecordingRelease(void* p)
{
    g_recorder->released.push_back(p);
    std::free(p);
}

void* FailingAllocate(std::size_t)
{
    return nullptr;
}

const PrimitiveAllocatorTable kRecording = {&RecordingAllocate, nullptr, nullptr, &RecordingRelease};
const PrimitiveAllocatorTable kFailing = {&FailingAllocate, nullptr, nullptr, &RecordingRelease};

}  // namespace

TEST(AlignedMalloc, BlockIsAlignedInsideItsRawBlockWhichItsHeaderRecords)
{
    Recorder recorder;
    g_recorder = &recorder;
    for (std::int32_t length : {1, 7, 31, 32, 33, 100, 4096, 65537}) {
        void* block = AlignedMallocWith(kRecording, length);
        ASSERT_NE(block, nullptr);
        ASSERT_EQ(recorder.allocated.size(), recorder.sizes.size());
        auto* raw = static_cast<std::uint8_t*>(recorder.allocated.back());
        EXPECT_EQ(recorder.sizes.back(), static_cast<std::size_t>(length) + 40);
        auto* p = static_cast<std::uint8_t*>(block);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 32, 0u) << length;
        EXPECT_GE(p - raw, 8) << length;
        EXPECT_LE(p - raw, 39) << length;
        EXPECT_LE(p + length, raw + length + 40);
        void* stored = nullptr;
        std::memcpy(&stored, p - 8, sizeof stored);
        EXPECT_EQ(stored, raw);
        std::memset(p, 0xA5, static_cast<std::size_t>(length));  // the whole length is usable

        AlignedFreeWith(kRecording, block);
        ASSERT_FALSE(recorder.released.empty());
        EXPECT_EQ(recorder.released.back(), raw);
    }
    g_recorder = nullptr;
}

TEST(AlignedMalloc, NonPositiveLengthsAndFailuresGiveNullWithoutAllocating)
{
    Recorder recorder;
    g_recorder = &recorder;
    EXPECT_EQ(AlignedMallocWith(kRecording, 0), nullptr);
    EXPECT_EQ(AlignedMallocWith(kRecording, -1), nullptr);
    EXPECT_TRUE(recorder.allocated.empty());
    EXPECT_EQ(AlignedMallocWith(kFailing, 16), nullptr);
    AlignedFreeWith(kRecording, nullptr);
    EXPECT_TRUE(recorder.released.empty());
    g_recorder = nullptr;

    EXPECT_EQ(AlignedMalloc(0), nullptr);
    EXPECT_EQ(AlignedMalloc(-1), nullptr);
    AlignedFree(nullptr);
    FreeAligned(nullptr);
}

TEST(AlignedMalloc, TypedWrappersScaleTheCountAndRefuseOverflow)
{
    std::uint8_t* bytes = AllocateAligned8(5);
    std::int16_t* shorts = AllocateAligned16(5);
    std::int32_t* ints = AllocateAligned32(5);
    ASSERT_NE(bytes, nullptr);
    ASSERT_NE(shorts, nullptr);
    ASSERT_NE(ints, nullptr);
    for (const void* p : {static_cast<const void*>(bytes), static_cast<const void*>(shorts),
                          static_cast<const void*>(ints)})
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 32, 0u);
    std::memset(ints, 0x5A, 5 * sizeof(std::int32_t));
    FreeAligned(bytes);
    FreeAligned(shorts);
    FreeAligned(ints);

    EXPECT_EQ(AllocateAligned8(0), nullptr);
    EXPECT_EQ(AllocateAligned16(-3), nullptr);
    // 0x40000001 elements of 4 bytes would wrap to a 4-byte block.
    EXPECT_EQ(AllocateAligned32(0x40000001), nullptr);
    EXPECT_EQ(AllocateAligned16(std::numeric_limits<std::int32_t>::max() / 2 + 1), nullptr);
}

TEST(AlignPointer, RoundsUpToTheAlignment)
{
    alignas(64) static std::uint8_t buffer[128];
    struct Case {
        int offset;
        std::int32_t alignment;
        int expected;
    };
    const Case cases[] = {{0, 32, 0}, {1, 32, 32}, {31, 32, 32}, {32, 32, 32}, {33, 16, 48}, {5, 1, 5}, {3, 4, 4}};
    for (const auto& c : cases)
        EXPECT_EQ(AlignPointer(buffer + c.offset, c.alignment), buffer + c.expected)
            << c.offset << " to " << c.alignment;
}
