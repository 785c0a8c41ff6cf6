#pragma once
// The cache-size query behind GetMaxCacheSize, with the processor
// identification passed in so that it can be driven by recorded answers.

#include <atomic>
#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

namespace primitives_detail {

struct CpuidRegisters {
    std::uint32_t eax;
    std::uint32_t ebx;
    std::uint32_t ecx;
    std::uint32_t edx;
};

using CpuidFunction = CpuidRegisters (*)(std::uint32_t leaf, std::uint32_t subleaf);

// The processor's own answer; all zeros on a processor without the
// instruction (which the query reads as "unsupported").
CpuidRegisters NativeCpuid(std::uint32_t leaf, std::uint32_t subleaf);

// Asks the processor (through cpuid) without any memo: 0 with the largest data
// or unified cache size, 36 (size 0) for a highest leaf below 2 or a vendor
// other than "GenuineIntel", 37 (size 0) when no size is found.
PrimitiveStatus QueryMaxCacheSize(CpuidFunction cpuid, std::int32_t* size);

// The memo: status 1 until the first query, then that query's result for
// good. Lock-free: racing first calls compute and store the same values.
class CacheSizeMemo {
public:
    explicit CacheSizeMemo(CpuidFunction cpuid) : cpuid_(cpuid) {}
    PrimitiveStatus Get(std::int32_t* size);

private:
    CpuidFunction cpuid_;
    std::atomic<std::int32_t> status_{1};
    std::atomic<std::int32_t> size_{0};
};

}  // namespace primitives_detail
