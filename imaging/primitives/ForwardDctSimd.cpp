// SSE2 kernel of the 8-bit forward DCT: the column pass on all eight columns
// at once (one row per register), the row pass on the transposed block with
// per-lane weights, and the quantisation, bit for bit as the portable kernel.
// SSE2 is part of every x86-64 processor.
#if defined(__x86_64__)

#include <immintrin.h>

#include <array>
#include <cstddef>

#include "imaging/primitives/detail/ForwardDctKernels.h"
#include "imaging/primitives/detail/Transpose8x8Sse2.h"

namespace primitives_detail {
namespace {

// Operand pairs of the row pass: 0 (s0, s1), 1 (s2, s3), 2 (d0, d1),
// 3 (d2, d3). Each output C_k is the sum of two weighted pairs.
struct Term {
    int pair;
    int first;   // weight of the first operand, as an index below, negated when < 0
    int second;  // of the second
};
// Weight indexes: 1 w4, 2 w1, 3 w2, 4 w3, 5 w5, 6 w6, 7 w7.
constexpr Term kTerms[8][2] = {
    {{0, 1, 1}, {1, 1, 1}},    {{2, 2, 4}, {3, 5, 7}},    {{1, -6, -3}, {0, 3, 6}},  {{3, -2, -5}, {2, 4, -7}},
    {{0, 1, -1}, {1, -1, 1}},  {{2, 5, -2}, {3, 7, 4}},   {{1, 3, -6}, {0, 6, -3}},  {{3, 4, -2}, {2, 7, -5}},
};

constexpr std::int32_t WeightOf(const RowWeights& w, int index)
{
    const int i = index < 0 ? -index : index;
    const std::int32_t v = i == 1 ? w.w4 : i == 2 ? w.w1 : i == 3 ? w.w2 : i == 4 ? w.w3 : i == 5 ? w.w5 : i == 6 ? w.w6 : w.w7;
    return index < 0 ? -v : v;
}

// [k][term][half][lane]: interleaved weight pairs of rows 0..3 (half 0) and
// 4..7 (half 1).
struct PairWeights {
    alignas(16) std::int16_t v[8][2][2][8];
    constexpr PairWeights() : v{}
    {
        for (int k = 0; k < 8; ++k)
            for (int t = 0; t < 2; ++t)
                for (int half = 0; half < 2; ++half)
                    for (int j = 0; j < 4; ++j) {
                        const RowWeights& w = kRowWeightGroups[kRowWeightGroup[4 * half + j]];
                        v[k][t][half][2 * j] = static_cast<std::int16_t>(WeightOf(w, kTerms[k][t].first));
                        v[k][t][half][2 * j + 1] = static_cast<std::int16_t>(WeightOf(w, kTerms[k][t].second));
                    }
    }
};
constexpr PairWeights kPairWeights;

inline __m128i Quantise(__m128i c, __m128i t)
{
    // |c| x t < 2^31, so P >> 15 fits 16 bits: q = (hi << 1) | (lo >> 15),
    // and the remainder is lo & 0x7FFF. Ties go to the even quotient: add
    // 16383 plus the quotient's low bit to the remainder and carry bit 15.
    const __m128i sign = _mm_srai_epi16(c, 15);
    const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(c, sign), sign);  // 32768 stays 0x8000, read unsigned
    const __m128i lo = _mm_mullo_epi16(magnitude, t);
    const __m128i hi = _mm_mulhi_epu16(magnitude, t);
    const __m128i quotient = _mm_or_si128(_mm_slli_epi16(hi, 1), _mm_srli_epi16(lo, 15));
    const __m128i rest = _mm_and_si128(lo, _mm_set1_epi16(0x7FFF));
    const __m128i odd = _mm_and_si128(quotient, _mm_set1_epi16(1));
    const __m128i carry = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(rest, _mm_set1_epi16(16383)), odd), 15);
    __m128i q = _mm_add_epi16(quotient, carry);  // at most 65535, read unsigned
    // Saturate: at most 32767 for a positive and 32768 for a negative value
    // (limit = 32767 - sign); min(q, limit) = q - max(q - limit, 0).
    const __m128i limit = _mm_sub_epi16(_mm_set1_epi16(32767), sign);
    q = _mm_sub_epi16(q, _mm_subs_epu16(q, limit));
    return _mm_sub_epi16(_mm_xor_si128(q, sign), sign);
}

// Level shift and column pass; register k then holds column k of every row
// (lane r = row r).
inline void ColumnPass(const std::uint8_t* source, std::int32_t step, __m128i Y[8])
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i shift = _mm_set1_epi16(128);
    const std::ptrdiff_t stride = step;
#define GAVEX_LOAD_ROW(y)                                                                                          \
    _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + (y) * stride)), zero), \
                  shift)
    const __m128i x0 = GAVEX_LOAD_ROW(0), x1 = GAVEX_LOAD_ROW(1), x2 = GAVEX_LOAD_ROW(2), x3 = GAVEX_LOAD_ROW(3);
    const __m128i x4 = GAVEX_LOAD_ROW(4), x5 = GAVEX_LOAD_ROW(5), x6 = GAVEX_LOAD_ROW(6), x7 = GAVEX_LOAD_ROW(7);
#undef GAVEX_LOAD_ROW
    const __m128i one = _mm_set1_epi16(1);
    const __m128i k27146 = _mm_set1_epi16(27146);
    const __m128i k23170 = _mm_set1_epi16(23170);
    const __m128i k13036 = _mm_set1_epi16(13036);
    const __m128i kMinus21746 = _mm_set1_epi16(-21746);

    const __m128i t1 = _mm_slli_epi16(_mm_adds_epi16(x1, x6), 3);
    const __m128i t2 = _mm_slli_epi16(_mm_adds_epi16(x2, x5), 3);
    const __m128i sa = _mm_adds_epi16(x0, x7);
    const __m128i sb = _mm_adds_epi16(x3, x4);
    const __m128i a = _mm_slli_epi16(_mm_subs_epi16(sa, sb), 3);
    const __m128i b = _mm_slli_epi16(_mm_adds_epi16(sa, sb), 3);
    const __m128i p = _mm_subs_epi16(t1, t2);
    const __m128i q = _mm_adds_epi16(t1, t2);
    Y[0] = _mm_adds_epi16(b, q);
    Y[4] = _mm_subs_epi16(b, q);
    Y[2] = _mm_or_si128(_mm_adds_epi16(_mm_mulhi_epi16(p, k27146), a), one);
    Y[6] = _mm_or_si128(_mm_subs_epi16(_mm_mulhi_epi16(a, k27146), p), one);
    const __m128i e = _mm_slli_epi16(_mm_subs_epi16(x1, x6), 4);
    const __m128i f = _mm_slli_epi16(_mm_subs_epi16(x2, x5), 4);
    const __m128i g = _mm_or_si128(_mm_mulhi_epi16(_mm_adds_epi16(e, f), k23170), one);
    const __m128i h = _mm_mulhi_epi16(_mm_subs_epi16(e, f), k23170);
    const __m128i m = _mm_slli_epi16(_mm_subs_epi16(x3, x4), 3);
    const __m128i j1 = _mm_adds_epi16(m, h);
    const __m128i j2 = _mm_subs_epi16(m, h);
    const __m128i o = _mm_slli_epi16(_mm_subs_epi16(x0, x7), 3);
    const __m128i o1 = _mm_adds_epi16(o, g);
    const __m128i o2 = _mm_subs_epi16(o, g);
    Y[1] = _mm_or_si128(_mm_adds_epi16(_mm_mulhi_epi16(j1, k13036), o1), one);
    Y[7] = _mm_subs_epi16(_mm_mulhi_epi16(o1, k13036), j1);
    Y[3] = _mm_subs_epi16(o2, _mm_adds_epi16(_mm_mulhi_epi16(j2, kMinus21746), j2));
    Y[5] = _mm_adds_epi16(_mm_adds_epi16(_mm_mulhi_epi16(o2, kMinus21746), o2), j2);

    Transpose8x8(Y);
}

}  // namespace

void ForwardDct8uSse2(const std::uint8_t* source, std::int32_t step, std::int16_t* out, const std::uint16_t* table)
{
    __m128i Y[8];
    ColumnPass(source, step, Y);
    const __m128i s0 = _mm_adds_epi16(Y[0], Y[7]), d0 = _mm_subs_epi16(Y[0], Y[7]);
    const __m128i s1 = _mm_adds_epi16(Y[1], Y[6]), d1 = _mm_subs_epi16(Y[1], Y[6]);
    const __m128i s2 = _mm_adds_epi16(Y[2], Y[5]), d2 = _mm_subs_epi16(Y[2], Y[5]);
    const __m128i s3 = _mm_adds_epi16(Y[3], Y[4]), d3 = _mm_subs_epi16(Y[3], Y[4]);
    const __m128i s01lo = _mm_unpacklo_epi16(s0, s1), s01hi = _mm_unpackhi_epi16(s0, s1);
    const __m128i s23lo = _mm_unpacklo_epi16(s2, s3), s23hi = _mm_unpackhi_epi16(s2, s3);
    const __m128i d01lo = _mm_unpacklo_epi16(d0, d1), d01hi = _mm_unpackhi_epi16(d0, d1);
    const __m128i d23lo = _mm_unpacklo_epi16(d2, d3), d23hi = _mm_unpackhi_epi16(d2, d3);
    const __m128i round = _mm_set1_epi32(524288);
    __m128i C[8];
#define GAVEX_W(k, t, half) _mm_load_si128(reinterpret_cast<const __m128i*>(kPairWeights.v[k][t][half]))
#define GAVEX_OUTPUT(k, A, B)                                                                                      \
    C[k] = _mm_packs_epi32(                                                                                        \
        _mm_srai_epi32(                                                                                            \
            _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(A##lo, GAVEX_W(k, 0, 0)), _mm_madd_epi16(B##lo, GAVEX_W(k, 1, 0))), \
                          round),                                                                                  \
            20),                                                                                                   \
        _mm_srai_epi32(                                                                                            \
            _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(A##hi, GAVEX_W(k, 0, 1)), _mm_madd_epi16(B##hi, GAVEX_W(k, 1, 1))), \
                          round),                                                                                  \
            20))
    GAVEX_OUTPUT(0, s01, s23);
    GAVEX_OUTPUT(1, d01, d23);
    GAVEX_OUTPUT(2, s23, s01);
    GAVEX_OUTPUT(3, d23, d01);
    GAVEX_OUTPUT(4, s01, s23);
    GAVEX_OUTPUT(5, d01, d23);
    GAVEX_OUTPUT(6, s23, s01);
    GAVEX_OUTPUT(7, d23, d01);
#undef GAVEX_OUTPUT
#undef GAVEX_W
    // Lane r of C[k] is coefficient (r, k); back to rows.
    Transpose8x8(C);
    for (int r = 0; r < 8; ++r) {
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 8 * r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * r), Quantise(C[r], t));
    }
}

namespace {

__attribute__((target("avx2"))) inline __m256i Quantise256(__m256i c, __m256i t)
{
    const __m256i sign = _mm256_srai_epi16(c, 15);
    const __m256i magnitude = _mm256_sub_epi16(_mm256_xor_si256(c, sign), sign);
    const __m256i lo = _mm256_mullo_epi16(magnitude, t);
    const __m256i hi = _mm256_mulhi_epu16(magnitude, t);
    const __m256i quotient = _mm256_or_si256(_mm256_slli_epi16(hi, 1), _mm256_srli_epi16(lo, 15));
    const __m256i rest = _mm256_and_si256(lo, _mm256_set1_epi16(0x7FFF));
    const __m256i odd = _mm256_and_si256(quotient, _mm256_set1_epi16(1));
    const __m256i carry =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(rest, _mm256_set1_epi16(16383)), odd), 15);
    __m256i q = _mm256_add_epi16(quotient, carry);
    const __m256i limit = _mm256_sub_epi16(_mm256_set1_epi16(32767), sign);
    q = _mm256_sub_epi16(q, _mm256_subs_epu16(q, limit));
    return _mm256_sub_epi16(_mm256_xor_si256(q, sign), sign);
}

}  // namespace

// The same transform with the row pass and the quantisation on 256-bit
// registers: both halves of each weighted pair sum, and two rows of the
// quantisation, at once.
__attribute__((target("avx2"))) void ForwardDct8uAvx2(const std::uint8_t* source, std::int32_t step,
                                                      std::int16_t* out, const std::uint16_t* table)
{
    __m128i Y[8];
    ColumnPass(source, step, Y);
    const __m128i s0 = _mm_adds_epi16(Y[0], Y[7]), d0 = _mm_subs_epi16(Y[0], Y[7]);
    const __m128i s1 = _mm_adds_epi16(Y[1], Y[6]), d1 = _mm_subs_epi16(Y[1], Y[6]);
    const __m128i s2 = _mm_adds_epi16(Y[2], Y[5]), d2 = _mm_subs_epi16(Y[2], Y[5]);
    const __m128i s3 = _mm_adds_epi16(Y[3], Y[4]), d3 = _mm_subs_epi16(Y[3], Y[4]);
    // Rows 0..3 in the low lane, 4..7 in the high lane.
    const __m256i s01 = _mm256_set_m128i(_mm_unpackhi_epi16(s0, s1), _mm_unpacklo_epi16(s0, s1));
    const __m256i s23 = _mm256_set_m128i(_mm_unpackhi_epi16(s2, s3), _mm_unpacklo_epi16(s2, s3));
    const __m256i d01 = _mm256_set_m128i(_mm_unpackhi_epi16(d0, d1), _mm_unpacklo_epi16(d0, d1));
    const __m256i d23 = _mm256_set_m128i(_mm_unpackhi_epi16(d2, d3), _mm_unpacklo_epi16(d2, d3));
    const __m256i round = _mm256_set1_epi32(524288);
#define GAVEX_W(k, t) _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kPairWeights.v[k][t][0]))
#define GAVEX_SUM(k, A, B)                                                                                          \
    _mm256_srai_epi32(                                                                                              \
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(A, GAVEX_W(k, 0)), _mm256_madd_epi16(B, GAVEX_W(k, 1))), \
                         round),                                                                                    \
        20)
    // packs interleaves the two sums by lane; the permute puts output k in
    // the low half and output k + 1 in the high half, each rows 0..7.
    const __m256i c01 = _mm256_permute4x64_epi64(_mm256_packs_epi32(GAVEX_SUM(0, s01, s23), GAVEX_SUM(1, d01, d23)), 0xD8);
    const __m256i c23 = _mm256_permute4x64_epi64(_mm256_packs_epi32(GAVEX_SUM(2, s23, s01), GAVEX_SUM(3, d23, d01)), 0xD8);
    const __m256i c45 = _mm256_permute4x64_epi64(_mm256_packs_epi32(GAVEX_SUM(4, s01, s23), GAVEX_SUM(5, d01, d23)), 0xD8);
    const __m256i c67 = _mm256_permute4x64_epi64(_mm256_packs_epi32(GAVEX_SUM(6, s23, s01), GAVEX_SUM(7, d23, d01)), 0xD8);
#undef GAVEX_SUM
#undef GAVEX_W
    __m128i C[8] = {_mm256_castsi256_si128(c01), _mm256_extracti128_si256(c01, 1),
                    _mm256_castsi256_si128(c23), _mm256_extracti128_si256(c23, 1),
                    _mm256_castsi256_si128(c45), _mm256_extracti128_si256(c45, 1),
                    _mm256_castsi256_si128(c67), _mm256_extracti128_si256(c67, 1)};
    Transpose8x8(C);
    for (int r = 0; r < 8; r += 2) {
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table + 8 * r));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * r), Quantise256(_mm256_set_m128i(C[r + 1], C[r]), t));
    }
}

}  // namespace primitives_detail

#endif
