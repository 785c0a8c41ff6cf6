#include "imaging/primitives/CpuDispatch.h"

#include <cstdlib>
#include <cstring>

#include "imaging/primitives/detail/CacheSizeQuery.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define GAVEX_PRIMITIVES_X86 1
#endif

namespace {

std::int32_t StartupVariantIndex()
{
    std::int32_t slot = DetectCpuVariantIndex();
    if (const char* cap = std::getenv("GAVEX_PRIMITIVES_VARIANT"); cap != nullptr && *cap != '\0') {
        char* end = nullptr;
        const long wanted = std::strtol(cap, &end, 10);
        if (end != cap && wanted >= 0 && wanted < slot)
            slot = static_cast<std::int32_t>(wanted);
    }
    return slot;
}

}  // namespace

std::atomic<std::int32_t> CpuVariantIndex{StartupVariantIndex()};

const char* CpuVariantCode(std::int32_t slot)
{
    static const char* const kCodes[kCpuVariantCount] = {"x3", "x3", "x3s", "x3a", "x41", "xav"};
    return slot >= 0 && slot < kCpuVariantCount ? kCodes[slot] : "";
}

bool IsCpuVariantSupported(std::int32_t slot)
{
#if GAVEX_PRIMITIVES_X86
    __builtin_cpu_init();  // may run before libgcc's own constructor
    switch (slot) {
    case 0:
    case 1:
        return true;  // the portable bodies
    case 2:
    case 3:
        return __builtin_cpu_supports("ssse3");
    case 4:
        return __builtin_cpu_supports("sse4.1");
    case 5:
        return __builtin_cpu_supports("avx2");  // also checks that the OS saves AVX state
    default:
        return false;
    }
#else
    return slot == 0 || slot == 1;
#endif
}

std::int32_t DetectCpuVariantIndex()
{
    for (std::int32_t slot = kCpuVariantCount - 1; slot > 0; --slot)
        if (IsCpuVariantSupported(slot))
            return slot;
    return 0;
}

bool SetCpuVariantIndex(std::int32_t slot)
{
    if (!IsCpuVariantSupported(slot))
        return false;
    CpuVariantIndex.store(slot, std::memory_order_relaxed);
    return true;
}

// ---------------------------------------------------------------------------

namespace {
constexpr std::uint32_t KB = 1024;
constexpr std::uint32_t MB = 1024 * 1024;
}  // namespace

const CacheDescriptor CacheDescriptorTable[56] = {
    {0xEC, 24 * MB},
    {0xEB, 18 * MB},
    {0x4D, 16 * MB},
    {0xEA, 12 * MB}, {0x4C, 12 * MB},
    {0xE4, 8 * MB}, {0xDE, 8 * MB}, {0x4B, 8 * MB}, {0x47, 8 * MB},
    {0x4E, 6 * MB}, {0x4A, 6 * MB},
    {0xE3, 4 * MB}, {0xDD, 4 * MB}, {0xD8, 4 * MB}, {0x49, 4 * MB}, {0x29, 4 * MB}, {0x46, 4 * MB},
    {0x48, 3 * MB},
    {0xE2, 2 * MB}, {0xDC, 2 * MB}, {0xD7, 2 * MB}, {0xD2, 2 * MB}, {0x25, 2 * MB}, {0x7D, 2 * MB},
    {0x85, 2 * MB}, {0x45, 2 * MB},
    {0xD6, 1 * MB}, {0xD1, 1 * MB}, {0x23, 1 * MB}, {0x87, 1 * MB}, {0x7C, 1 * MB}, {0x78, 1 * MB},
    {0x84, 1 * MB}, {0x44, 1 * MB},
    {0xD0, 512 * KB}, {0x22, 512 * KB}, {0x7B, 512 * KB}, {0x80, 512 * KB}, {0x86, 512 * KB},
    {0x3E, 512 * KB}, {0x7F, 512 * KB}, {0x83, 512 * KB}, {0x43, 512 * KB},
    {0x3D, 384 * KB},
    {0x21, 256 * KB}, {0x7A, 256 * KB}, {0x82, 256 * KB}, {0x3C, 256 * KB}, {0x3F, 256 * KB}, {0x42, 256 * KB},
    {0x3A, 192 * KB},
    {0x79, 128 * KB}, {0x39, 128 * KB}, {0x3B, 128 * KB}, {0x41, 128 * KB},
    {0, 0},
};

namespace primitives_detail {

CpuidRegisters NativeCpuid(std::uint32_t leaf, std::uint32_t subleaf)
{
    CpuidRegisters r{0, 0, 0, 0};
#if GAVEX_PRIMITIVES_X86
    __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#else
    (void)leaf;
    (void)subleaf;
#endif
    return r;
}

namespace {

bool IsGenuineIntel(const CpuidRegisters& leaf0)
{
    char vendor[12];
    std::memcpy(vendor, &leaf0.ebx, 4);
    std::memcpy(vendor + 4, &leaf0.edx, 4);
    std::memcpy(vendor + 8, &leaf0.ecx, 4);
    return std::memcmp(vendor, "GenuineIntel", 12) == 0;
}

// Largest data or unified cache of the deterministic cache leaf 4.
std::int32_t LargestCacheFromLeaf4(CpuidFunction cpuid)
{
    std::int32_t largest = 0;
    for (std::uint32_t sub = 0; sub < 32; ++sub) {
        const CpuidRegisters r = cpuid(4, sub);
        const std::uint32_t type = r.eax & 0x1F;
        if (type == 0)
            break;
        if (type == 2)
            continue;  // instruction cache
        const std::uint32_t ways = (r.ebx >> 22) + 1;
        const std::uint32_t partitions = ((r.ebx >> 12) & 0x3FF) + 1;
        const std::uint32_t lineSize = (r.ebx & 0xFFF) + 1;
        const std::uint32_t sets = r.ecx + 1;
        const auto bytes = static_cast<std::int32_t>(ways * partitions * lineSize * sets);
        if (bytes > largest)
            largest = bytes;
    }
    return largest;
}

// Size of the first table row (largest first) named by the leaf-2
// descriptors, 0 when none is; rows limits the walk.
std::int32_t CacheFromLeaf2Descriptors(const CpuidRegisters& leaf2, int rows)
{
    std::uint8_t bytes[15];
    int count = 0;
    const std::uint32_t regs[4] = {leaf2.eax, leaf2.ebx, leaf2.ecx, leaf2.edx};
    for (int reg = 0; reg < 4; ++reg) {
        const std::uint32_t value = (regs[reg] & 0x80000000u) != 0 ? 0 : regs[reg];
        for (int b = reg == 0 ? 1 : 0; b < 4; ++b)
            bytes[count++] = static_cast<std::uint8_t>(value >> (8 * b));
    }
    for (int row = 0; row < rows && CacheDescriptorTable[row].descriptor != 0; ++row) {
        const auto wanted = static_cast<std::uint8_t>(CacheDescriptorTable[row].descriptor);
        for (int i = 0; i < count; ++i)
            if (bytes[i] == wanted)
                return static_cast<std::int32_t>(CacheDescriptorTable[row].sizeBytes);
    }
    return 0;
}

}  // namespace

PrimitiveStatus QueryMaxCacheSize(CpuidFunction cpuid, std::int32_t* size)
{
    *size = 0;
    const CpuidRegisters leaf0 = cpuid(0, 0);
    if (leaf0.eax < 2 || !IsGenuineIntel(leaf0))
        return PrimitiveStatusCode::UnsupportedCpu;

    std::int32_t found = 0;
    if (leaf0.eax >= 4) {
        found = LargestCacheFromLeaf4(cpuid);
    } else {
        const CpuidRegisters leaf2 = cpuid(2, 0);
        if ((leaf2.eax & 0xFF) == 1)
            found = CacheFromLeaf2Descriptors(leaf2, kCacheDescriptorRows);
    }
    if (found <= 0)
        return PrimitiveStatusCode::NoCacheSize;
    *size = found;
    return PrimitiveStatusCode::Ok;
}

PrimitiveStatus CacheSizeMemo::Get(std::int32_t* size)
{
    if (size == nullptr)
        return PrimitiveStatusCode::NullPointer;
    std::int32_t status = status_.load(std::memory_order_acquire);
    if (status == 1) {
        std::int32_t found = 0;
        status = QueryMaxCacheSize(cpuid_, &found);
        size_.store(found, std::memory_order_relaxed);
        status_.store(status, std::memory_order_release);
    }
    *size = size_.load(std::memory_order_relaxed);
    return status;
}

}  // namespace primitives_detail

PrimitiveStatus GetMaxCacheSize(std::int32_t* size)
{
    static primitives_detail::CacheSizeMemo memo(&primitives_detail::NativeCpuid);
    return memo.Get(size);
}

// ---------------------------------------------------------------------------

const std::uint64_t CpuFeatureMask = 7;

bool HasCpuFeatures(std::uint64_t mask)
{
    return (mask & CpuFeatureMask) == mask;
}

namespace {

constexpr LibraryVersion MakeVersion(const char (&code)[4], const char* name)
{
    return LibraryVersion{2, 4, 118, 1093, {code[0], code[1], code[2], code[3]}, name, "2.4 build 118.093",
                          "Mar  3 2013"};
}

constexpr LibraryVersion kVersionX3 = MakeVersion({'x', '3', 0, 0}, "gavex_primitives x3");
constexpr LibraryVersion kVersionX3s = MakeVersion({'x', '3', 's', 0}, "gavex_primitives x3s");
constexpr LibraryVersion kVersionX3a = MakeVersion({'x', '3', 'a', 0}, "gavex_primitives x3a");
constexpr LibraryVersion kVersionX41 = MakeVersion({'x', '4', '1', 0}, "gavex_primitives x41");
constexpr LibraryVersion kVersionX41Plus = MakeVersion({'x', '4', '1', 0}, "gavex_primitives x41+");
constexpr LibraryVersion kVersionXav = MakeVersion({'x', 'a', 'v', 0}, "gavex_primitives xav");

const LibraryVersion* VersionX3() { return &kVersionX3; }
const LibraryVersion* VersionX3s() { return &kVersionX3s; }
const LibraryVersion* VersionX3a() { return &kVersionX3a; }
const LibraryVersion* VersionX41() { return HasCpuFeatures(0x80) ? &kVersionX41Plus : &kVersionX41; }
const LibraryVersion* VersionXav() { return &kVersionXav; }

const CpuDispatchTable<const LibraryVersion*()> kVersionTable = {VersionX3,  VersionX3,  VersionX3s,
                                                                  VersionX3a, VersionX41, VersionXav};

}  // namespace

const LibraryVersion* GetJpegLibraryVersion()
{
    return DispatchCall(kVersionTable);
}
