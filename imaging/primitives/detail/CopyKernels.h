#pragma once
// Row kernels behind the image copies, shared by the portable and the vector
// builds.

#include <cstddef>
#include <cstdint>

namespace primitives_detail {

// n bytes forward; the flag asks for cache-bypassing stores (with a fence).
using CopyRowFunction = void (*)(const void* src, void* dst, std::size_t n, bool nonTemporal);

void CopyRowPortable(const void* src, void* dst, std::size_t n, bool nonTemporal);

// Pixels [x, w) of a 3-to-4 channel swap, one at a time: the portable row and
// the tails of the vector rows. Each order entry picks a source channel (0-2),
// the fill value (3) or keeps the destination byte (above 3).
inline void SwapPixels8uC3C4(const std::uint8_t* src, std::uint8_t* dst, std::int32_t x, std::int32_t w,
                             const std::int32_t order[4], std::uint8_t fill)
{
    for (; x < w; ++x) {
        const std::uint8_t* s = src + 3 * x;
        std::uint8_t* d = dst + 4 * x;
        for (int i = 0; i < 4; ++i) {
            const std::int32_t e = order[i];
            if (e < 3)
                d[i] = s[e];
            else if (e == 3)
                d[i] = fill;
        }
    }
}

#if defined(__x86_64__) || defined(__i386__)
void CopyRowStreamingSse2(const void* src, void* dst, std::size_t n, bool nonTemporal);
void CopyRowStreamingAvx2(const void* src, void* dst, std::size_t n, bool nonTemporal);

// w pixels of one row each; see ImageCopy.h for the contracts.
void CopyRow8uC3AC4Ssse3(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w);
// order and fill as SwapChannels8uC3C4, entries already checked.
void SwapRow8uC3C4Ssse3(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w, const std::int32_t order[4],
                        std::uint8_t fill);
void JoinRow8uP3C3Ssse3(const std::uint8_t* p0, const std::uint8_t* p1, const std::uint8_t* p2, std::uint8_t* dst,
                        std::int32_t w);
void SplitRow8uC3P3Ssse3(const std::uint8_t* src, std::uint8_t* p0, std::uint8_t* p1, std::uint8_t* p2,
                         std::int32_t w);
void SplitRow8uC4P4Ssse3(const std::uint8_t* src, std::uint8_t* p0, std::uint8_t* p1, std::uint8_t* p2,
                         std::uint8_t* p3, std::int32_t w);
void CopyRow8uC3AC4Avx2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w);
void SwapRow8uC3C4Avx2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w, const std::int32_t order[4],
                       std::uint8_t fill);
#endif

}  // namespace primitives_detail
