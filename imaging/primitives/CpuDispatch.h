#pragma once
// Processor dispatch, processor queries and the library version record.
//
// Every dispatched primitive owns a CpuDispatchTable of six entry points, one
// per processor variant, and its public entry jumps through the slot chosen by
// the process-wide CpuVariantIndex:
//
//   slot 0 "x3"  SSE3 (same entry as slot 1)   slot 3 "x3a" SSSE3 (second build)
//   slot 1 "x3"  SSE3                          slot 4 "x41" SSE4.1
//   slot 2 "x3s" SSSE3                         slot 5 "xav" AVX/AVX2
//
// Slots 0 and 1 always hold the portable body, the reference that every other
// slot must match bit for bit; a slot holds a vectorised body only where it
// pays, using no instruction beyond its slot's set. All slots of one primitive
// compute the same results.
//
// CpuVariantIndex is 0 until start-up has run (static initialisation of this
// library), which sets it to the best slot the processor and the operating
// system support. The environment variable GAVEX_PRIMITIVES_VARIANT=<slot>
// caps it (0 forces the portable bodies); tests use SetCpuVariantIndex.

#include <array>
#include <atomic>
#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

inline constexpr int kCpuVariantCount = 6;

// Function is a function type, e.g. PrimitiveStatus(const std::uint8_t*, int).
template <typename Function>
using CpuDispatchTable = std::array<Function*, kCpuVariantCount>;

// Read on every dispatched call (relaxed: it only changes at start-up and in
// tests). Written only through SetCpuVariantIndex.
extern std::atomic<std::int32_t> CpuVariantIndex;

// Calls the entry of the current slot with the caller's arguments.
template <typename Function, typename... Args>
inline auto DispatchCall(const CpuDispatchTable<Function>& table, Args... args)
{
    return table[static_cast<std::size_t>(CpuVariantIndex.load(std::memory_order_relaxed))](args...);
}

// Variant code of a slot ("x3", "x3s", "x3a", "x41", "xav"); "" outside 0..5.
const char* CpuVariantCode(std::int32_t slot);

// Whether this processor (and the OS, for AVX state) can run the slot's build.
bool IsCpuVariantSupported(std::int32_t slot);

// The highest slot IsCpuVariantSupported accepts.
std::int32_t DetectCpuVariantIndex();

// Sets the slot used by every dispatched primitive. Refuses (returns false,
// leaves the index) a slot outside 0..5 or one the processor cannot run.
bool SetCpuVariantIndex(std::int32_t slot);

// ---------------------------------------------------------------------------
// Processor cache size.

struct CacheDescriptor {
    std::uint32_t descriptor;  // only the low byte is compared
    std::uint32_t sizeBytes;
};

// Second- and third-level cache descriptors of identification leaf 2, largest
// size first, ended by a pair of zeros (55 rows before it).
extern const CacheDescriptor CacheDescriptorTable[56];
inline constexpr int kCacheDescriptorRows = 55;
// The first rows cover the caches of 512 KB and more.
inline constexpr int kLargeCacheDescriptorRows = 43;

// Stores the largest data or unified cache size in bytes (0 when none was
// found). Asks the processor once per process and returns the memo after:
// 0, or UnsupportedCpu (36) on a processor other than "GenuineIntel" or one
// without leaf 2 (every non-x86 processor too), or NoCacheSize (37).
// A null pointer returns NullPointer and does not touch the memo.
PrimitiveStatus GetMaxCacheSize(std::int32_t* size);

// ---------------------------------------------------------------------------
// Feature mask and library version.

// Constant process-wide feature mask (7).
extern const std::uint64_t CpuFeatureMask;

// True when every bit of mask is set in CpuFeatureMask.
bool HasCpuFeatures(std::uint64_t mask);

struct LibraryVersion {
    std::int32_t major;
    std::int32_t minor;
    std::int32_t majorBuild;
    std::int32_t build;
    char variantCode[4];  // NUL-padded
    const char* name;
    const char* versionText;
    const char* buildDate;
};

// The constant record of the running build: 2, 4, 118, 1093, the slot's
// variant code, "2.4 build 118.093", "Mar  3 2013". Never null.
const LibraryVersion* GetJpegLibraryVersion();
