// Vector row-pair kernels of the YUV 4:2:0 conversion. Each function carries
// its own target attribute; nothing here may call a non-inline helper compiled
// for a wider instruction set than the caller's.
#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "imaging/primitives/detail/Yuv420Kernels.h"

namespace primitives_detail {

// Both kernels compute exactly what the portable form does, in 16-bit lanes:
// the chroma terms (with their rounding constant) once per chroma pair,
// doubled for the pair's two pixels of a row; the scaled luma per pixel as
// the high half of ((Y - 16) x 128) x kY; each channel (luma + term) >> 4,
// then packed to bytes with unsigned saturation, which clamps to 0..255.
// No intermediate leaves the signed 16-bit range (|luma + term| < 9000).

// SSE2 only (valid in every vector slot): 8 chroma pairs, 16 pixels of each
// row, per step.
__attribute__((target("sse2"))) void Yuv420RowPairSse2(const std::uint8_t* y0, const std::uint8_t* y1,
                                                        const std::uint8_t* u, const std::uint8_t* v,
                                                        std::uint8_t* d0, std::uint8_t* d1, std::int32_t n,
                                                        bool bgr)
{
    const std::int32_t mainEnd = (n & 1) != 0 ? n - 1 : n;
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i black = _mm_set1_epi16(kLumaOffset);
    const __m128i eight = _mm_set1_epi16(8);
    const __m128i ky = _mm_set1_epi16(kY);
    const __m128i kr = _mm_set1_epi16(kRv);
    const __m128i kgu = _mm_set1_epi16(kGu);
    const __m128i kgv = _mm_set1_epi16(kGv);
    const __m128i kb = _mm_set1_epi16(kBu);

    // The last step of a row ends at mainEnd, overlapping the one before it
    // (those pixels are written again with the same values).
    for (std::int32_t j = 0;; j += 8) {
        if (j + 8 > mainEnd) {
            if (j >= mainEnd || mainEnd < 8)
                break;
            j = mainEnd - 8;
        }
        const __m128i cu = _mm_slli_epi16(
            _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + j)), zero), bias), 7);
        const __m128i cv = _mm_slli_epi16(
            _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + j)), zero), bias), 7);
        const __m128i tr = _mm_add_epi16(_mm_mulhi_epi16(cv, kr), eight);
        const __m128i tg = _mm_sub_epi16(eight, _mm_add_epi16(_mm_mulhi_epi16(cu, kgu), _mm_mulhi_epi16(cv, kgv)));
        const __m128i tb = _mm_add_epi16(_mm_mulhi_epi16(cu, kb), eight);
        // Per pixel: pairs 0-3 give pixels 0-7, pairs 4-7 pixels 8-15.
        const __m128i trLo = _mm_unpacklo_epi16(tr, tr), trHi = _mm_unpackhi_epi16(tr, tr);
        const __m128i tgLo = _mm_unpacklo_epi16(tg, tg), tgHi = _mm_unpackhi_epi16(tg, tg);
        const __m128i tbLo = _mm_unpacklo_epi16(tb, tb), tbHi = _mm_unpackhi_epi16(tb, tb);

        const std::uint8_t* rows[2] = {y0, y1};
        std::uint8_t* outs[2] = {d0, d1};
        for (int row = 0; row < 2; ++row) {
            const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[row] + 2 * j));
            const __m128i lLo = _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(luma, zero), black), 7), ky);
            const __m128i lHi = _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(_mm_unpackhi_epi8(luma, zero), black), 7), ky);
            const __m128i r = _mm_packus_epi16(_mm_srai_epi16(_mm_add_epi16(lLo, trLo), 4),
                                               _mm_srai_epi16(_mm_add_epi16(lHi, trHi), 4));
            const __m128i g = _mm_packus_epi16(_mm_srai_epi16(_mm_add_epi16(lLo, tgLo), 4),
                                               _mm_srai_epi16(_mm_add_epi16(lHi, tgHi), 4));
            const __m128i b = _mm_packus_epi16(_mm_srai_epi16(_mm_add_epi16(lLo, tbLo), 4),
                                               _mm_srai_epi16(_mm_add_epi16(lHi, tbHi), 4));
            const __m128i c0 = bgr ? b : r, c2 = bgr ? r : b;
            const __m128i rgLo = _mm_unpacklo_epi8(c0, g), rgHi = _mm_unpackhi_epi8(c0, g);
            const __m128i b0Lo = _mm_unpacklo_epi8(c2, zero), b0Hi = _mm_unpackhi_epi8(c2, zero);
            auto* out = reinterpret_cast<__m128i*>(outs[row] + 8 * j);
            _mm_storeu_si128(out + 0, _mm_unpacklo_epi16(rgLo, b0Lo));
            _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(rgLo, b0Lo));
            _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(rgHi, b0Hi));
            _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(rgHi, b0Hi));
        }
    }
    ConvertPairsTail(y0, y1, u, v, d0, d1, mainEnd >= 8 ? mainEnd : 0, n, bgr);
}

// AVX2: 16 chroma pairs, 32 pixels of each row, per step. Unpacks and packs
// work within 128-bit lanes; the luma and the doubled chroma terms are split
// the same way (lane 0: pixels 0-7 | 8-15, lane 1: 16-23 | 24-31), so the
// packed channels come out in pixel order and only the final interleave
// needs lane permutes.
__attribute__((target("avx2"))) void Yuv420RowPairAvx2(const std::uint8_t* y0, const std::uint8_t* y1,
                                                        const std::uint8_t* u, const std::uint8_t* v,
                                                        std::uint8_t* d0, std::uint8_t* d1, std::int32_t n,
                                                        bool bgr)
{
    const std::int32_t mainEnd = (n & 1) != 0 ? n - 1 : n;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bias = _mm256_set1_epi16(128);
    const __m256i black = _mm256_set1_epi16(kLumaOffset);
    const __m256i eight = _mm256_set1_epi16(8);
    const __m256i ky = _mm256_set1_epi16(kY);
    const __m256i kr = _mm256_set1_epi16(kRv);
    const __m256i kgu = _mm256_set1_epi16(kGu);
    const __m256i kgv = _mm256_set1_epi16(kGv);
    const __m256i kb = _mm256_set1_epi16(kBu);

    for (std::int32_t j = 0;; j += 16) {
        if (j + 16 > mainEnd) {
            if (j >= mainEnd || mainEnd < 16)
                break;
            j = mainEnd - 16;  // the overlapping last step
        }
        // Lane 0 holds pairs 0-7, lane 1 pairs 8-15.
        const __m256i cu = _mm256_slli_epi16(
            _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + j))), bias), 7);
        const __m256i cv = _mm256_slli_epi16(
            _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + j))), bias), 7);
        const __m256i tr = _mm256_add_epi16(_mm256_mulhi_epi16(cv, kr), eight);
        const __m256i tg =
            _mm256_sub_epi16(eight, _mm256_add_epi16(_mm256_mulhi_epi16(cu, kgu), _mm256_mulhi_epi16(cv, kgv)));
        const __m256i tb = _mm256_add_epi16(_mm256_mulhi_epi16(cu, kb), eight);
        const __m256i trLo = _mm256_unpacklo_epi16(tr, tr), trHi = _mm256_unpackhi_epi16(tr, tr);
        const __m256i tgLo = _mm256_unpacklo_epi16(tg, tg), tgHi = _mm256_unpackhi_epi16(tg, tg);
        const __m256i tbLo = _mm256_unpacklo_epi16(tb, tb), tbHi = _mm256_unpackhi_epi16(tb, tb);

        const std::uint8_t* rows[2] = {y0, y1};
        std::uint8_t* outs[2] = {d0, d1};
        for (int row = 0; row < 2; ++row) {
            const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[row] + 2 * j));
            const __m256i lLo =
                _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(_mm256_unpacklo_epi8(luma, zero), black), 7), ky);
            const __m256i lHi =
                _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(_mm256_unpackhi_epi8(luma, zero), black), 7), ky);
            const __m256i r = _mm256_packus_epi16(_mm256_srai_epi16(_mm256_add_epi16(lLo, trLo), 4),
                                                  _mm256_srai_epi16(_mm256_add_epi16(lHi, trHi), 4));
            const __m256i g = _mm256_packus_epi16(_mm256_srai_epi16(_mm256_add_epi16(lLo, tgLo), 4),
                                                  _mm256_srai_epi16(_mm256_add_epi16(lHi, tgHi), 4));
            const __m256i b = _mm256_packus_epi16(_mm256_srai_epi16(_mm256_add_epi16(lLo, tbLo), 4),
                                                  _mm256_srai_epi16(_mm256_add_epi16(lHi, tbHi), 4));
            const __m256i c0 = bgr ? b : r, c2 = bgr ? r : b;
            const __m256i rgLo = _mm256_unpacklo_epi8(c0, g), rgHi = _mm256_unpackhi_epi8(c0, g);
            const __m256i b0Lo = _mm256_unpacklo_epi8(c2, zero), b0Hi = _mm256_unpackhi_epi8(c2, zero);
            const __m256i p0 = _mm256_unpacklo_epi16(rgLo, b0Lo);  // pixels 0-3 | 16-19
            const __m256i p1 = _mm256_unpackhi_epi16(rgLo, b0Lo);  // 4-7 | 20-23
            const __m256i p2 = _mm256_unpacklo_epi16(rgHi, b0Hi);  // 8-11 | 24-27
            const __m256i p3 = _mm256_unpackhi_epi16(rgHi, b0Hi);  // 12-15 | 28-31
            auto* out = reinterpret_cast<__m256i*>(outs[row] + 8 * j);
            _mm256_storeu_si256(out + 0, _mm256_permute2x128_si256(p0, p1, 0x20));
            _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
            _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
            _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
        }
    }
    ConvertPairsTail(y0, y1, u, v, d0, d1, mainEnd >= 16 ? mainEnd : 0, n, bgr);
}

}  // namespace primitives_detail

#endif
