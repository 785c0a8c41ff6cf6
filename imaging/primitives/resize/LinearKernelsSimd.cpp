// SSE2 bodies of the 8-bit linear kernels: the same 16-bit multiply-adds as
// the portable formulas, with the saturating packs doing their clamps.
#if defined(__x86_64__) || defined(__i386__)

#include "imaging/primitives/resize/detail/LinearKernelsSimd.h"

#include <immintrin.h>

#include <cstring>

namespace resize_detail {

namespace {

// Column c of a four-channel row: (a x f0 + b x f1 + 128) >> 8 for its four
// channels, as 32-bit lanes. Reads the 8 bytes of the pixel pair.
inline __m128i BlendPixelPair(const std::uint8_t* pair, const std::int16_t* weights)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pair));
    const __m128i interleaved = _mm_unpacklo_epi8(_mm_unpacklo_epi8(bytes, _mm_srli_si128(bytes, 4)), zero);
    std::int32_t pairWeights;
    std::memcpy(&pairWeights, weights, 4);
    const __m128i sums = _mm_madd_epi16(interleaved, _mm_set1_epi32(pairWeights));
    return _mm_srai_epi32(_mm_add_epi32(sums, _mm_set1_epi32(128)), 8);
}

}  // namespace

void LinearRowKernel_8u_C1_Sse2(const std::uint8_t* src, std::int32_t n, std::int32_t /*stride*/,
                                const std::int32_t* columns, const std::int16_t* weights, std::int16_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(128);
    // Four columns: their sample pairs as 16-bit lanes (a, b), times the
    // weight pairs, which lie in the table in the same order.
    auto four = [&](std::int32_t c) {
        auto pairAt = [&](int k) {
            std::uint16_t pair;
            std::memcpy(&pair, src + columns[c + k], 2);
            return static_cast<int>(pair);
        };
        __m128i packed = _mm_cvtsi32_si128(pairAt(0));
        packed = _mm_insert_epi16(packed, pairAt(1), 1);
        packed = _mm_insert_epi16(packed, pairAt(2), 2);
        packed = _mm_insert_epi16(packed, pairAt(3), 3);
        const __m128i samples = _mm_unpacklo_epi8(packed, zero);
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 2 * c));
        return _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(samples, w), round), 8);
    };
    std::int32_t c = 0;
    for (; c + 8 <= n; c += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), _mm_packs_epi32(four(c), four(c + 4)));
    for (; c < n; ++c)
        out[c] = RowQ14Byte::Blend(src[columns[c]], src[columns[c] + 1], weights + 2 * c);
}

void LinearRowKernel_8u_C4_Sse2(const std::uint8_t* src, std::int32_t n, std::int32_t /*stride*/,
                                const std::int32_t* columns, const std::int16_t* weights, std::int16_t* out)
{
    std::int32_t c = 0;
    for (; c + 2 <= n; c += 2) {
        const __m128i first = BlendPixelPair(src + columns[c], weights + 2 * c);
        const __m128i second = BlendPixelPair(src + columns[c + 1], weights + 2 * c + 2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * c), _mm_packs_epi32(first, second));
    }
    if (c < n) {
        const __m128i last = BlendPixelPair(src + columns[c], weights + 2 * c);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * c), _mm_packs_epi32(last, last));
    }
}

void LinearColumnKernel_8u_Sse2(std::uint8_t* dst, std::int32_t count, std::int32_t w, const std::int16_t* upper,
                                const std::int16_t* lower)
{
    const __m128i pairWeights = _mm_set1_epi32(static_cast<std::int32_t>((static_cast<std::uint32_t>(w) << 16) |
                                                                         static_cast<std::uint32_t>(16384 - w)));
    const __m128i half = _mm_set1_epi32(524288);
    auto blend8 = [&](std::int32_t p) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(upper + p));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower + p));
        const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(u, d), pairWeights), half), 20);
        const __m128i hi = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(u, d), pairWeights), half), 20);
        return _mm_packs_epi32(lo, hi);
    };
    std::int32_t p = 0;
    for (; p + 16 <= count; p += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + p), _mm_packus_epi16(blend8(p), blend8(p + 8)));
    for (; p + 8 <= count; p += 8) {
        const __m128i v = blend8(p);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + p), _mm_packus_epi16(v, v));
    }
    for (; p < count; ++p)
        dst[p] = ColumnQ14Byte::Blend(upper[p], lower[p], w);
}

// AVX2: four pixels of a four-channel row, and 32 samples of a column blend,
// a vector; the lanes compute the SSE2 bodies' formulas.

namespace {

// Pixel pairs of columns c and c + 1 as 16-bit lanes a0 b0 a1 b1 ... (the
// first column's four channels in the low half).
__attribute__((target("avx2"))) inline __m256i PixelPairs(const std::uint8_t* src, const std::int32_t* columns,
                                                          std::int32_t c)
{
    // Within each pixel pair (a then b, four bytes each): a0 b0 a1 b1 ...
    const __m128i interleave = _mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    const __m128i left = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + columns[c]));
    const __m128i right = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + columns[c + 1]));
    return _mm256_cvtepu8_epi16(_mm_shuffle_epi8(_mm_unpacklo_epi64(left, right), interleave));
}

// Sixteen samples of a column blend, in order within each 128-bit half.
__attribute__((target("avx2"))) inline __m256i ColumnBlend16(const std::int16_t* upper, const std::int16_t* lower,
                                                             __m256i pairWeights)
{
    const __m256i half = _mm256_set1_epi32(524288);
    const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(upper));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lower));
    const __m256i lo =
        _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(u, d), pairWeights), half), 20);
    const __m256i hi =
        _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(u, d), pairWeights), half), 20);
    return _mm256_packs_epi32(lo, hi);
}

}  // namespace

namespace {

// True when every pair of the n columns sums to 16384, as the driver's
// tables always do.
__attribute__((target("avx2"))) bool ComplementaryPairs(const std::int16_t* weights, std::int32_t n)
{
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i full = _mm256_set1_epi32(16384);
    __m256i off = _mm256_setzero_si256();
    std::int32_t c = 0;
    for (; c + 8 <= n; c += 8) {
        const __m256i sums =
            _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + 2 * c)), ones);
        off = _mm256_or_si256(off, _mm256_xor_si256(sums, full));
    }
    if (!_mm256_testz_si256(off, off))
        return false;
    for (; c < n; ++c)
        if (weights[2 * c] + weights[2 * c + 1] != 16384)
            return false;
    return true;
}

// With w0 + w1 = 16384, (a x w0 + b x w1 + 128) >> 8 is 64a + ((b - a) x w1 +
// 128) >> 8, and that shift is exactly mulhrs((b - a) << 7, w1), which rounds
// (x y + 2^14) >> 15 with x y = (b - a) w1 2^7: one multiply of 16-bit lanes
// in pixel order instead of multiply-adds of interleaved pairs. Rows of the
// same columns share the offsets and weights. Returns the columns done (a
// multiple of 4).
template <int Rows>
__attribute__((target("avx2"))) inline std::int32_t ComplementaryRows4(const std::uint8_t* const* src,
                                                                       std::int32_t n, const std::int32_t* columns,
                                                                       const std::int16_t* weights,
                                                                       std::int16_t* const* out)
{
    const __m256i zero = _mm256_setzero_si256();
    // w1 of each lane's two columns (bytes 2, 3 and 6, 7 of its pairs), once
    // per channel.
    const __m256i spread = _mm256_setr_epi8(2, 3, 2, 3, 2, 3, 2, 3, 6, 7, 6, 7, 6, 7, 6, 7, 10, 11, 10, 11, 10, 11,
                                            10, 11, 14, 15, 14, 15, 14, 15, 14, 15);
    std::int32_t c = 0;
    for (; c + 4 <= n; c += 4) {
        const std::int32_t k0 = columns[c], k1 = columns[c + 1], k2 = columns[c + 2], k3 = columns[c + 3];
        const __m256i w = _mm256_shuffle_epi8(
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 2 * c))), spread);
        for (int r = 0; r < Rows; ++r) {
            const std::uint8_t* row = src[r];
            _mm_prefetch(reinterpret_cast<const char*>(row + k0) + 512, _MM_HINT_T0);
            auto pairs = [&](std::int32_t first, std::int32_t second) {
                const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + first));
                return _mm_castpd_si128(
                    _mm_loadh_pd(_mm_castsi128_pd(low), reinterpret_cast<const double*>(row + second)));
            };
            // a0 b0 a1 b1 | a2 b2 a3 b3 (four bytes each), then a0 a1 b0 b1 |
            // a2 a3 b2 b3.
            const __m256i sorted =
                _mm256_shuffle_epi32(_mm256_setr_m128i(pairs(k0, k1), pairs(k2, k3)), _MM_SHUFFLE(3, 1, 2, 0));
            const __m256i left = _mm256_unpacklo_epi8(sorted, zero);
            const __m256i right = _mm256_unpackhi_epi8(sorted, zero);
            const __m256i step = _mm256_mulhrs_epi16(_mm256_slli_epi16(_mm256_sub_epi16(right, left), 7), w);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out[r] + 4 * c),
                                _mm256_add_epi16(_mm256_slli_epi16(left, 6), step));
        }
    }
    return c;
}

// Pairs that do not sum to 16384: multiply-adds of interleaved pairs.
__attribute__((target("avx2"))) std::int32_t GeneralRow4(const std::uint8_t* src, std::int32_t n,
                                                         const std::int32_t* columns, const std::int16_t* weights,
                                                         std::int16_t* out)
{
    const __m256i firstTwo = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
    const __m256i lastTwo = _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3);
    const __m256i round = _mm256_set1_epi32(128);
    std::int32_t c = 0;
    for (; c + 4 <= n; c += 4) {
        const __m256i w = _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 2 * c)));
        const __m256i front = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(PixelPairs(src, columns, c), _mm256_permutevar8x32_epi32(w, firstTwo)),
                             round),
            8);
        const __m256i back = _mm256_srai_epi32(
            _mm256_add_epi32(
                _mm256_madd_epi16(PixelPairs(src, columns, c + 2), _mm256_permutevar8x32_epi32(w, lastTwo)), round),
            8);
        // packs gives pixels 0, 2 | 1, 3; the permute puts them in order.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * c),
                            _mm256_permute4x64_epi64(_mm256_packs_epi32(front, back), 0xD8));
    }
    return c;
}

}  // namespace

__attribute__((target("avx2"))) void LinearRowKernel_8u_C4_Avx2(const std::uint8_t* src, std::int32_t n,
                                                                std::int32_t stride, const std::int32_t* columns,
                                                                const std::int16_t* weights, std::int16_t* out)
{
    const std::int32_t c = ComplementaryPairs(weights, n) ? ComplementaryRows4<1>(&src, n, columns, weights, &out)
                                                          : GeneralRow4(src, n, columns, weights, out);
    if (c < n)
        LinearRowKernel_8u_C4_Sse2(src, n - c, stride, columns + c, weights + 2 * c, out + 4 * c);
}

__attribute__((target("avx2"))) void LinearRowPairKernel_8u_C4_Avx2(const std::uint8_t* first,
                                                                    const std::uint8_t* second, std::int32_t n,
                                                                    std::int32_t stride, const std::int32_t* columns,
                                                                    const std::int16_t* weights,
                                                                    std::int16_t* firstOut, std::int16_t* secondOut)
{
    if (!ComplementaryPairs(weights, n)) {
        LinearRowKernel_8u_C4_Avx2(first, n, stride, columns, weights, firstOut);
        LinearRowKernel_8u_C4_Avx2(second, n, stride, columns, weights, secondOut);
        return;
    }
    const std::uint8_t* const rows[2] = {first, second};
    std::int16_t* const outs[2] = {firstOut, secondOut};
    const std::int32_t c = ComplementaryRows4<2>(rows, n, columns, weights, outs);
    if (c < n) {
        LinearRowKernel_8u_C4_Sse2(first, n - c, stride, columns + c, weights + 2 * c, firstOut + 4 * c);
        LinearRowKernel_8u_C4_Sse2(second, n - c, stride, columns + c, weights + 2 * c, secondOut + 4 * c);
    }
}

// Eight one-channel columns a step: the sample pairs of each half (four
// columns) by one byte shuffle of one load when they lie within 16 bytes,
// then the SSE2 body's multiply-adds. Other steps and the end of the row go
// to the SSE2 body. Columns ascend.
__attribute__((target("avx2"))) void LinearRowKernel_8u_C1_Avx2(const std::uint8_t* src, std::int32_t n,
                                                                std::int32_t stride, const std::int32_t* columns,
                                                                const std::int16_t* weights, std::int16_t* out)
{
    if (n <= 0)
        return;
    // Bytes 2k and 2k + 1 of a half: the pair of column k.
    const __m256i spread = _mm256_setr_epi8(0, 0, 1, 1, 2, 2, 3, 3, 0, 0, 1, 1, 2, 2, 3, 3, 0, 0, 1, 1, 2, 2, 3, 3, 0,
                                            0, 1, 1, 2, 2, 3, 3);
    const __m256i second = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0,
                                            1, 0, 1, 0, 1, 0, 1);
    const __m256i round = _mm256_set1_epi32(128);
    const std::int64_t readEnd = std::int64_t{columns[n - 1]} + 2;  // one past the last byte the row reads
    std::int32_t c = 0;
    for (; c + 8 <= n; c += 8) {
        const std::int32_t a = columns[c];
        const std::int32_t b = columns[c + 4];
        if (columns[c + 3] - a > 14 || columns[c + 7] - b > 14 || std::int64_t{a} + 16 > readEnd ||
            std::int64_t{b} + 16 > readEnd) {
            LinearRowKernel_8u_C1_Sse2(src, 8, stride, columns + c, weights + 2 * c, out + c);
            continue;
        }
        const __m256i offsets = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns + c)),
                                                 _mm256_setr_epi32(a, a, a, a, b, b, b, b));
        const __m256i mask = _mm256_add_epi8(
            _mm256_shuffle_epi8(_mm256_packus_epi16(_mm256_packs_epi32(offsets, offsets), offsets), spread), second);
        const __m256i data = _mm256_setr_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + a)),
                                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + b)));
        // The eight pairs of each half's low 8 bytes, then as 16-bit lanes
        // a0 b0 a1 b1 ... in column order.
        const __m256i pairs = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(data, mask), 0x08);
        const __m256i samples = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(pairs));
        const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + 2 * c));
        const __m256i sums = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(samples, w), round), 8);
        // packs gives columns 0..3 | 4..7 in each half's low 8 bytes.
        const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(sums, sums), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), _mm256_castsi256_si128(words));
    }
    if (c < n)
        LinearRowKernel_8u_C1_Sse2(src, n - c, stride, columns + c, weights + 2 * c, out + c);
}

__attribute__((target("avx2"))) void LinearColumnKernel_8u_Avx2(std::uint8_t* dst, std::int32_t count,
                                                                std::int32_t w, const std::int16_t* upper,
                                                                const std::int16_t* lower)
{
    const __m256i pairWeights = _mm256_set1_epi32(static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(w) << 16) | static_cast<std::uint32_t>(16384 - w)));
    std::int32_t p = 0;
    for (; p + 32 <= count; p += 32) {
        const __m256i front = ColumnBlend16(upper + p, lower + p, pairWeights);
        const __m256i back = ColumnBlend16(upper + p + 16, lower + p + 16, pairWeights);
        // packus gives samples 0-7, 16-23 | 8-15, 24-31; the permute puts
        // them in order.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + p),
                            _mm256_permute4x64_epi64(_mm256_packus_epi16(front, back), 0xD8));
    }
    if (p < count)
        LinearColumnKernel_8u_Sse2(dst + p, count - p, w, upper + p, lower + p);
}

}  // namespace resize_detail

#endif
