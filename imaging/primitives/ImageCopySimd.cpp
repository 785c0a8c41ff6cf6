// Vector row kernels of the image copies. Each function carries its own
// target attribute and calls only intrinsics and functions compiled for the
// baseline.
#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <array>
#include <cstring>

#include "imaging/primitives/detail/CopyKernels.h"

namespace primitives_detail {

namespace {

// Bytes to the next multiple of `alignment` (a power of two).
inline std::size_t HeadBytes(const void* p, std::size_t alignment)
{
    return (alignment - (reinterpret_cast<std::uintptr_t>(p) & (alignment - 1))) & (alignment - 1);
}

}  // namespace

// Streaming stores skip the read-for-ownership of destination lines that an
// ordinary store costs; for a frame far larger than the caches that is a third
// of the memory traffic. Below the caller's threshold the C library's copy is
// the faster one.
__attribute__((target("sse2"))) void CopyRowStreamingSse2(const void* src, void* dst, std::size_t n,
                                                          bool nonTemporal)
{
    if (!nonTemporal || n < 256) {
        std::memcpy(dst, src, n);
        return;
    }
    auto* d = static_cast<std::uint8_t*>(dst);
    const auto* s = static_cast<const std::uint8_t*>(src);
    const std::size_t head = HeadBytes(d, 16);
    std::memcpy(d, s, head);
    d += head;
    s += head;
    n -= head;
    for (; n >= 64; n -= 64, s += 64, d += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(d), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + 48), e);
    }
    _mm_sfence();
    std::memcpy(d, s, n);
}

__attribute__((target("avx2"))) void CopyRowStreamingAvx2(const void* src, void* dst, std::size_t n,
                                                          bool nonTemporal)
{
    if (!nonTemporal || n < 256) {
        std::memcpy(dst, src, n);
        return;
    }
    auto* d = static_cast<std::uint8_t*>(dst);
    const auto* s = static_cast<const std::uint8_t*>(src);
    const std::size_t head = HeadBytes(d, 32);
    std::memcpy(d, s, head);
    d += head;
    s += head;
    n -= head;
    for (; n >= 128; n -= 128, s += 128, d += 128) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 64));
        const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 96));
        _mm256_stream_si256(reinterpret_cast<__m256i*>(d), a);
        _mm256_stream_si256(reinterpret_cast<__m256i*>(d + 32), b);
        _mm256_stream_si256(reinterpret_cast<__m256i*>(d + 64), c);
        _mm256_stream_si256(reinterpret_cast<__m256i*>(d + 96), e);
    }
    _mm_sfence();
    std::memcpy(d, s, n);
}

namespace {

using Mask16 = std::array<std::uint8_t, 16>;

// pshufb indices taking 4 three-byte pixels (bytes 0-11) to 4 four-byte
// pixels, with 0x80 (zero) in the fourth byte.
constexpr Mask16 kC3ToC4 = {0, 1, 2, 0x80, 3, 4, 5, 0x80, 6, 7, 8, 0x80, 9, 10, 11, 0x80};

// Join masks: for output block o (bytes 16o..16o+15 of 16 interleaved pixels)
// and plane c, the plane byte that lands in each position, or 0x80.
constexpr Mask16 JoinMask(int block, int plane)
{
    Mask16 m{};
    for (int i = 0; i < 16; ++i) {
        const int k = 16 * block + i;
        m[i] = k % 3 == plane ? static_cast<std::uint8_t>(k / 3) : 0x80;
    }
    return m;
}

alignas(16) constexpr Mask16 kJoinMasks[3][3] = {
    {JoinMask(0, 0), JoinMask(0, 1), JoinMask(0, 2)},
    {JoinMask(1, 0), JoinMask(1, 1), JoinMask(1, 2)},
    {JoinMask(2, 0), JoinMask(2, 1), JoinMask(2, 2)},
};

__attribute__((target("ssse3"))) inline __m128i LoadMask(const Mask16& m)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.data()));
}

// The four 12-byte groups of 48 source bytes, each at the bottom of a register.
struct FourGroups {
    __m128i g[4];
};

__attribute__((target("ssse3"))) inline FourGroups LoadSixteenC3Pixels(const std::uint8_t* s)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
    return {{a, _mm_alignr_epi8(b, a, 12), _mm_alignr_epi8(c, b, 8), _mm_srli_si128(c, 4)}};
}

}  // namespace

__attribute__((target("ssse3"))) void CopyRow8uC3AC4Ssse3(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w)
{
    const __m128i shuffle = LoadMask(kC3ToC4);
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
    std::int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const FourGroups in = LoadSixteenC3Pixels(src + 3 * x);
        auto* out = reinterpret_cast<__m128i*>(dst + 4 * x);
        for (int k = 0; k < 4; ++k) {
            // The fourth byte is rewritten with the value it holds.
            const __m128i old = _mm_loadu_si128(out + k);
            const __m128i fresh = _mm_shuffle_epi8(in.g[k], shuffle);
            _mm_storeu_si128(out + k, _mm_or_si128(fresh, _mm_andnot_si128(colour, old)));
        }
    }
    for (; x < w; ++x) {
        dst[4 * x + 0] = src[3 * x + 0];
        dst[4 * x + 1] = src[3 * x + 1];
        dst[4 * x + 2] = src[3 * x + 2];
    }
}

__attribute__((target("ssse3"))) void SwapRow8uC3C4Ssse3(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w,
                                                         const std::int32_t order[4], std::uint8_t fill)
{
    alignas(16) std::uint8_t shuffleBytes[16];
    alignas(16) std::uint8_t fillBytes[16];
    alignas(16) std::uint8_t keepBytes[16];
    bool keepAny = false;
    for (int p = 0; p < 4; ++p) {
        for (int i = 0; i < 4; ++i) {
            const std::int32_t e = order[i];
            shuffleBytes[4 * p + i] = e < 3 ? static_cast<std::uint8_t>(3 * p + e) : 0x80;
            fillBytes[4 * p + i] = e == 3 ? fill : 0;
            keepBytes[4 * p + i] = e > 3 ? 0xFF : 0;
            keepAny = keepAny || e > 3;
        }
    }
    const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(shuffleBytes));
    const __m128i fillVec = _mm_load_si128(reinterpret_cast<const __m128i*>(fillBytes));
    const __m128i keep = _mm_load_si128(reinterpret_cast<const __m128i*>(keepBytes));
    std::int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const FourGroups in = LoadSixteenC3Pixels(src + 3 * x);
        auto* out = reinterpret_cast<__m128i*>(dst + 4 * x);
        for (int k = 0; k < 4; ++k) {
            __m128i fresh = _mm_or_si128(_mm_shuffle_epi8(in.g[k], shuffle), fillVec);
            if (keepAny)
                fresh = _mm_or_si128(_mm_andnot_si128(keep, fresh), _mm_and_si128(keep, _mm_loadu_si128(out + k)));
            _mm_storeu_si128(out + k, fresh);
        }
    }
    SwapPixels8uC3C4(src, dst, x, w, order, fill);
}

__attribute__((target("ssse3"))) void JoinRow8uP3C3Ssse3(const std::uint8_t* p0, const std::uint8_t* p1,
                                                         const std::uint8_t* p2, std::uint8_t* dst, std::int32_t w)
{
    __m128i masks[3][3];
    for (int o = 0; o < 3; ++o)
        for (int c = 0; c < 3; ++c)
            masks[o][c] = LoadMask(kJoinMasks[o][c]);
    std::int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0 + x));
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p1 + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p2 + x));
        auto* out = reinterpret_cast<__m128i*>(dst + 3 * x);
        for (int o = 0; o < 3; ++o) {
            const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, masks[o][0]), _mm_shuffle_epi8(g, masks[o][1])),
                                           _mm_shuffle_epi8(b, masks[o][2]));
            _mm_storeu_si128(out + o, v);
        }
    }
    for (; x < w; ++x) {
        dst[3 * x + 0] = p0[x];
        dst[3 * x + 1] = p1[x];
        dst[3 * x + 2] = p2[x];
    }
}

namespace {

// Split masks: for plane c, the byte of source register r (bytes 16r..16r+15
// of 16 interleaved pixels) that holds pixel x's sample, or 0x80.
constexpr Mask16 SplitMask(int reg, int plane)
{
    Mask16 m{};
    for (int x = 0; x < 16; ++x) {
        const int k = 3 * x + plane;
        m[x] = k / 16 == reg ? static_cast<std::uint8_t>(k % 16) : 0x80;
    }
    return m;
}

alignas(16) constexpr Mask16 kSplitMasks[3][3] = {
    {SplitMask(0, 0), SplitMask(1, 0), SplitMask(2, 0)},
    {SplitMask(0, 1), SplitMask(1, 1), SplitMask(2, 1)},
    {SplitMask(0, 2), SplitMask(1, 2), SplitMask(2, 2)},
};

// Gathers each channel of 4 four-byte pixels into one dword.
constexpr Mask16 kC4ByChannel = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};

}  // namespace

__attribute__((target("ssse3"))) void SplitRow8uC3P3Ssse3(const std::uint8_t* src, std::uint8_t* p0,
                                                          std::uint8_t* p1, std::uint8_t* p2, std::int32_t w)
{
    __m128i masks[3][3];
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            masks[c][r] = LoadMask(kSplitMasks[c][r]);
    std::uint8_t* planes[3] = {p0, p1, p2};
    std::int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const std::uint8_t* s = src + 3 * x;
        const __m128i regs[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32))};
        for (int c = 0; c < 3; ++c) {
            const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(regs[0], masks[c][0]),
                                                        _mm_shuffle_epi8(regs[1], masks[c][1])),
                                           _mm_shuffle_epi8(regs[2], masks[c][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(planes[c] + x), v);
        }
    }
    for (; x < w; ++x) {
        p0[x] = src[3 * x + 0];
        p1[x] = src[3 * x + 1];
        p2[x] = src[3 * x + 2];
    }
}

__attribute__((target("ssse3"))) void SplitRow8uC4P4Ssse3(const std::uint8_t* src, std::uint8_t* p0,
                                                          std::uint8_t* p1, std::uint8_t* p2, std::uint8_t* p3,
                                                          std::int32_t w)
{
    const __m128i byChannel = LoadMask(kC4ByChannel);
    std::int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const std::uint8_t* s = src + 4 * x;
        // Each register: channel 0 of its 4 pixels, then 1, 2, 3 (one dword
        // each); a 4x4 dword transpose gives one register per channel.
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), byChannel);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16)), byChannel);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32)), byChannel);
        const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 48)), byChannel);
        const __m128i ab01 = _mm_unpacklo_epi32(a, b), ab23 = _mm_unpackhi_epi32(a, b);
        const __m128i cd01 = _mm_unpacklo_epi32(c, d), cd23 = _mm_unpackhi_epi32(c, d);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p0 + x), _mm_unpacklo_epi64(ab01, cd01));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p1 + x), _mm_unpackhi_epi64(ab01, cd01));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p2 + x), _mm_unpacklo_epi64(ab23, cd23));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p3 + x), _mm_unpackhi_epi64(ab23, cd23));
    }
    for (; x < w; ++x) {
        p0[x] = src[4 * x + 0];
        p1[x] = src[4 * x + 1];
        p2[x] = src[4 * x + 2];
        p3[x] = src[4 * x + 3];
    }
}

namespace {

using Mask32 = std::array<std::uint8_t, 32>;

// AVX2 shuffles work within 128-bit lanes. For 8 pixels of 3 bytes the low
// lane is loaded from the group's byte 0 and the high lane from byte 8, so
// that neither load reads past the group's 24 bytes; pixel 4 then starts at
// byte 4 of the high lane.
constexpr Mask32 C3ToC4Lanes()
{
    Mask32 m{};
    for (int i = 0; i < 16; ++i) {
        m[i] = kC3ToC4[i];
        m[16 + i] = kC3ToC4[i] == 0x80 ? 0x80 : static_cast<std::uint8_t>(kC3ToC4[i] + 4);
    }
    return m;
}

alignas(32) constexpr Mask32 kC3ToC4Lanes = C3ToC4Lanes();

__attribute__((target("avx2"))) inline __m256i LoadMask32(const Mask32& m)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m.data()));
}

// 8 three-byte pixels: bytes 0-15 in the low lane, bytes 8-23 in the high one.
__attribute__((target("avx2"))) inline __m256i LoadEightC3Pixels(const std::uint8_t* s)
{
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

}  // namespace

__attribute__((target("avx2"))) void CopyRow8uC3AC4Avx2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w)
{
    const __m256i shuffle = LoadMask32(kC3ToC4Lanes);
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    std::int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
        auto* out = reinterpret_cast<__m256i*>(dst + 4 * x);
        const __m256i fresh = _mm256_shuffle_epi8(LoadEightC3Pixels(src + 3 * x), shuffle);
        // The fourth byte is rewritten with the value it holds.
        _mm256_storeu_si256(out, _mm256_or_si256(fresh, _mm256_and_si256(alpha, _mm256_loadu_si256(out))));
    }
    for (; x < w; ++x) {
        dst[4 * x + 0] = src[3 * x + 0];
        dst[4 * x + 1] = src[3 * x + 1];
        dst[4 * x + 2] = src[3 * x + 2];
    }
}

__attribute__((target("avx2"))) void SwapRow8uC3C4Avx2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w,
                                                       const std::int32_t order[4], std::uint8_t fill)
{
    alignas(32) std::uint8_t shuffleBytes[32];
    alignas(32) std::uint8_t fillBytes[32];
    alignas(32) std::uint8_t keepBytes[32];
    bool keepAny = false;
    for (int lane = 0; lane < 2; ++lane) {
        for (int p = 0; p < 4; ++p) {
            for (int i = 0; i < 4; ++i) {
                const std::int32_t e = order[i];
                const int at = 16 * lane + 4 * p + i;
                shuffleBytes[at] = e < 3 ? static_cast<std::uint8_t>(3 * p + e + 4 * lane) : 0x80;
                fillBytes[at] = e == 3 ? fill : 0;
                keepBytes[at] = e > 3 ? 0xFF : 0;
                keepAny = keepAny || e > 3;
            }
        }
    }
    const __m256i shuffle = _mm256_load_si256(reinterpret_cast<const __m256i*>(shuffleBytes));
    const __m256i fillVec = _mm256_load_si256(reinterpret_cast<const __m256i*>(fillBytes));
    const __m256i keep = _mm256_load_si256(reinterpret_cast<const __m256i*>(keepBytes));
    std::int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
        auto* out = reinterpret_cast<__m256i*>(dst + 4 * x);
        __m256i fresh = _mm256_or_si256(_mm256_shuffle_epi8(LoadEightC3Pixels(src + 3 * x), shuffle), fillVec);
        if (keepAny)
            fresh = _mm256_blendv_epi8(fresh, _mm256_loadu_si256(out), keep);
        _mm256_storeu_si256(out, fresh);
    }
    SwapPixels8uC3C4(src, dst, x, w, order, fill);
}

}  // namespace primitives_detail

#endif
