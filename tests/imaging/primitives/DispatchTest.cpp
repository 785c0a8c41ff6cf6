#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <utility>

#include "SlotSweep.h"
#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/detail/CacheSizeQuery.h"

using primitives_detail::CacheSizeMemo;
using primitives_detail::CpuidRegisters;
using primitives_detail::QueryMaxCacheSize;
using primitives_test::ScopedCpuVariant;

namespace {

// A processor described by its answers; any leaf not listed answers zeros.
struct FakeCpu {
    std::map<std::pair<std::uint32_t, std::uint32_t>, CpuidRegisters> leaves;
    int calls = 0;
};

FakeCpu* g_fake = nullptr;

CpuidRegisters FakeCpuid(std::uint32_t leaf, std::uint32_t subleaf)
{
    ++g_fake->calls;
    auto it = g_fake->leaves.find({leaf, subleaf});
    return it == g_fake->leaves.end() ? CpuidRegisters{0, 0, 0, 0} : it->second;
}

CpuidRegisters Vendor(std::uint32_t maxLeaf, const char* vendor)
{
    CpuidRegisters r{maxLeaf, 0, 0, 0};
    std::memcpy(&r.ebx, vendor, 4);
    std::memcpy(&r.edx, vendor + 4, 4);
    std::memcpy(&r.ecx, vendor + 8, 4);
    return r;
}

// Leaf 4 entry: type, ways, partitions, line size, sets.
CpuidRegisters CacheLeaf(std::uint32_t type, std::uint32_t ways, std::uint32_t partitions, std::uint32_t line,
                         std::uint32_t sets)
{
    return {type, ((ways - 1) << 22) | ((partitions - 1) << 12) | (line - 1), sets - 1, 0};
}

struct CacheCase {
    const char* name;
    FakeCpu cpu;
    PrimitiveStatus status;
    std::int32_t size;
};

}  // namespace

TEST(CacheSizeQuery, ReadsLeaf4OrLeaf2AsTheProcessorReports)
{
    const CacheCase cases[] = {
        {"old leaf range", {{{{0, 0}, Vendor(1, "GenuineIntel")}}}, 36, 0},
        {"other vendor", {{{{0, 0}, Vendor(0xD, "AuthenticAMD")}}}, 36, 0},
        {"leaf 4 largest unified cache",
         {{{{0, 0}, Vendor(0xB, "GenuineIntel")},
           {{4, 0}, CacheLeaf(1, 8, 1, 64, 64)},        // 32 KB data
           {{4, 1}, CacheLeaf(2, 8, 1, 64, 64)},        // instruction, skipped
           {{4, 2}, CacheLeaf(3, 16, 1, 64, 8192)},     // 8 MB unified
           {{4, 3}, CacheLeaf(3, 4, 1, 64, 1024)}}},    // 256 KB unified
         0, 8 * 1024 * 1024},
        {"leaf 4 with only instruction caches",
         {{{{0, 0}, Vendor(4, "GenuineIntel")}, {{4, 0}, CacheLeaf(2, 8, 1, 64, 64)}}}, 37, 0},
        {"leaf 2 L1 and 4 MB descriptors",
         {{{{0, 0}, Vendor(2, "GenuineIntel")}, {{2, 0}, {0x00492C01, 0, 0, 0}}}}, 0, 4194304},
        {"leaf 2 first table row wins",
         {{{{0, 0}, Vendor(3, "GenuineIntel")}, {{2, 0}, {0x00000001, 0x0000EC7D, 0, 0}}}}, 0, 24 * 1024 * 1024},
        {"leaf 2 register with bit 31 holds nothing",
         {{{{0, 0}, Vendor(2, "GenuineIntel")}, {{2, 0}, {0x00000001, 0x800000EC, 0x00000044, 0}}}}, 0, 1048576},
        {"leaf 2 low byte of EAX not 1",
         {{{{0, 0}, Vendor(2, "GenuineIntel")}, {{2, 0}, {0x00490002, 0, 0, 0}}}}, 37, 0},
        {"leaf 2 without a listed descriptor",
         {{{{0, 0}, Vendor(2, "GenuineIntel")}, {{2, 0}, {0x00302C01, 0, 0, 0}}}}, 37, 0},
        {"leaf 2 smallest row",
         {{{{0, 0}, Vendor(2, "GenuineIntel")}, {{2, 0}, {0x00000001, 0, 0, 0x41}}}}, 0, 131072},
    };
    for (const auto& c : cases) {
        FakeCpu cpu = c.cpu;
        g_fake = &cpu;
        std::int32_t size = -1;
        EXPECT_EQ(QueryMaxCacheSize(&FakeCpuid, &size), c.status) << c.name;
        EXPECT_EQ(size, c.size) << c.name;
    }
    g_fake = nullptr;
}

TEST(CacheSizeQuery, MemoAsksTheProcessorOnceAndIgnoresNullPointers)
{
    FakeCpu cpu{{{{0, 0}, Vendor(4, "GenuineIntel")}, {{4, 0}, CacheLeaf(2, 8, 1, 64, 64)}}};
    g_fake = &cpu;
    CacheSizeMemo memo(&FakeCpuid);
    EXPECT_EQ(memo.Get(nullptr), -8);
    EXPECT_EQ(cpu.calls, 0);

    std::int32_t size = -1;
    EXPECT_EQ(memo.Get(&size), 37);
    EXPECT_EQ(size, 0);
    const int callsAfterFirst = cpu.calls;
    EXPECT_GT(callsAfterFirst, 0);

    size = -1;
    EXPECT_EQ(memo.Get(&size), 37);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(cpu.calls, callsAfterFirst);
    g_fake = nullptr;
}

TEST(CacheSizeQuery, ProcessWideQueryIsStableAndConsistentWithTheProcessor)
{
    EXPECT_EQ(GetMaxCacheSize(nullptr), -8);
    std::int32_t first = -1;
    const PrimitiveStatus status = GetMaxCacheSize(&first);
    std::int32_t direct = -1;
    EXPECT_EQ(QueryMaxCacheSize(&primitives_detail::NativeCpuid, &direct), status);
    EXPECT_EQ(direct, first);
    std::int32_t second = -1;
    EXPECT_EQ(GetMaxCacheSize(&second), status);
    EXPECT_EQ(second, first);
    if (status == 0)
        EXPECT_GT(first, 0);
    else
        EXPECT_EQ(first, 0);
}

TEST(CacheDescriptors, TableIsOrderedLargestFirstAndEndsWithZeros)
{
    EXPECT_EQ(CacheDescriptorTable[0].descriptor, 0xECu);
    EXPECT_EQ(CacheDescriptorTable[0].sizeBytes, 25165824u);
    EXPECT_EQ(CacheDescriptorTable[kLargeCacheDescriptorRows - 1].sizeBytes, 524288u);
    EXPECT_EQ(CacheDescriptorTable[kLargeCacheDescriptorRows].sizeBytes, 393216u);
    EXPECT_EQ(CacheDescriptorTable[kCacheDescriptorRows - 1].sizeBytes, 131072u);
    EXPECT_EQ(CacheDescriptorTable[kCacheDescriptorRows].descriptor, 0u);
    EXPECT_EQ(CacheDescriptorTable[kCacheDescriptorRows].sizeBytes, 0u);
    for (int i = 1; i < kCacheDescriptorRows; ++i)
        EXPECT_LE(CacheDescriptorTable[i].sizeBytes, CacheDescriptorTable[i - 1].sizeBytes) << "row " << i;
}

TEST(CpuVariant, SlotsCanBeForcedAndUnsupportedOnesAreRefused)
{
    EXPECT_TRUE(IsCpuVariantSupported(0));
    EXPECT_TRUE(IsCpuVariantSupported(1));
    EXPECT_FALSE(IsCpuVariantSupported(6));
    EXPECT_FALSE(IsCpuVariantSupported(-1));
    EXPECT_TRUE(IsCpuVariantSupported(DetectCpuVariantIndex()));

    const std::int32_t before = CpuVariantIndex.load();
    {
        ScopedCpuVariant portable(0);
        ASSERT_TRUE(portable.ok());
        EXPECT_EQ(CpuVariantIndex.load(), 0);
        EXPECT_FALSE(SetCpuVariantIndex(6));
        EXPECT_FALSE(SetCpuVariantIndex(-1));
        EXPECT_EQ(CpuVariantIndex.load(), 0);
    }
    EXPECT_EQ(CpuVariantIndex.load(), before);
}

TEST(LibraryVersionQuery, EverySlotReportsTheSameVersionWithItsOwnCode)
{
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        ASSERT_TRUE(variant.ok());
        const LibraryVersion* v = GetJpegLibraryVersion();
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->major, 2);
        EXPECT_EQ(v->minor, 4);
        EXPECT_EQ(v->majorBuild, 118);
        EXPECT_EQ(v->build, 1093);
        EXPECT_STREQ(v->versionText, "2.4 build 118.093");
        EXPECT_STREQ(v->buildDate, "Mar  3 2013");
        EXPECT_EQ(std::string(v->variantCode, strnlen(v->variantCode, 4)), CpuVariantCode(slot));
        EXPECT_NE(v->name, nullptr);
    }
    ScopedCpuVariant portable(0);
    EXPECT_EQ(std::memcmp(GetJpegLibraryVersion()->variantCode, "x3\0\0", 4), 0);
}

TEST(CpuFeatures, MaskHoldsSevenAndNothingElse)
{
    EXPECT_EQ(CpuFeatureMask, 7u);
    EXPECT_TRUE(HasCpuFeatures(0));
    EXPECT_TRUE(HasCpuFeatures(5));
    EXPECT_TRUE(HasCpuFeatures(7));
    EXPECT_FALSE(HasCpuFeatures(8));
    EXPECT_FALSE(HasCpuFeatures(0x80));
    EXPECT_FALSE(HasCpuFeatures(0x87));
}
