// SSE2 kernel of the 8-bit inverse DCT: the row pass as multiply-adds of
// weight pairs on the transposed block (lane r = row r), the column pass on
// all eight columns at once, bit for bit as the portable kernel. SSE2 is part
// of every x86-64 processor.
#if defined(__x86_64__)

#include <immintrin.h>

#include <cstddef>

#include "imaging/primitives/detail/ForwardDctKernels.h"
#include "imaging/primitives/detail/InverseDctKernels.h"
#include "imaging/primitives/detail/Transpose8x8Sse2.h"

namespace primitives_detail {
namespace {

// Weight pairs of the row pass, one pair per row lane: [term][half][lane],
// half 0 rows 0..3, half 1 rows 4..7. Each even output a_k sums a (x0, x2)
// and an (x4, x6) term; each odd output b_k a (x1, x3) and an (x5, x7) term.
enum Weight { W1 = 1, W2, W3, W4, W5, W6, W7 };
struct PairTerm {
    int first, second;  // a Weight, negated when < 0
};
constexpr PairTerm kEvenLow[4] = {{W4, W2}, {W4, W6}, {W4, -W6}, {W4, -W2}};      // (x0, x2)
constexpr PairTerm kEvenHigh[4] = {{W4, W6}, {-W4, -W2}, {-W4, W2}, {W4, -W6}};   // (x4, x6)
constexpr PairTerm kOddLow[4] = {{W1, W3}, {W3, -W7}, {W5, -W1}, {W7, -W5}};      // (x1, x3)
constexpr PairTerm kOddHigh[4] = {{W5, W7}, {-W1, -W5}, {W7, W3}, {W3, -W1}};     // (x5, x7)

constexpr std::int32_t WeightOf(const RowWeights& w, int index)
{
    const int i = index < 0 ? -index : index;
    const std::int32_t v = i == W1 ? w.w1 : i == W2 ? w.w2 : i == W3 ? w.w3 : i == W4 ? w.w4 : i == W5 ? w.w5
                         : i == W6 ? w.w6 : w.w7;
    return index < 0 ? -v : v;
}

constexpr std::int32_t kRounder[8] = {65536, 2901, 2260, 1704, 1024, 455, 512, 373};

struct RowPairs {
    // [set][k][half][lane]; sets: even low, even high, odd low, odd high.
    alignas(16) std::int16_t v[4][4][2][8];
    alignas(16) std::int32_t rounder[2][4];
    constexpr RowPairs() : v{}, rounder{}
    {
        const PairTerm* sets[4] = {kEvenLow, kEvenHigh, kOddLow, kOddHigh};
        for (int s = 0; s < 4; ++s)
            for (int k = 0; k < 4; ++k)
                for (int half = 0; half < 2; ++half)
                    for (int j = 0; j < 4; ++j) {
                        const RowWeights& w = kRowWeightGroups[kRowWeightGroup[4 * half + j]];
                        v[s][k][half][2 * j] = static_cast<std::int16_t>(WeightOf(w, sets[s][k].first));
                        v[s][k][half][2 * j + 1] = static_cast<std::int16_t>(WeightOf(w, sets[s][k].second));
                    }
        for (int half = 0; half < 2; ++half)
            for (int j = 0; j < 4; ++j)
                rounder[half][j] = kRounder[4 * half + j];
    }
};
constexpr RowPairs kRowPairs;

inline __m128i Weights(int set, int k, int half)
{
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kRowPairs.v[set][k][half]));
}

// The column pass on all eight columns (register j: row j of every column),
// the level shift and the clamping.
inline void ColumnPass(const __m128i z[8], std::uint8_t* destination, std::int32_t step)
{

    const __m128i k13036 = _mm_set1_epi16(13036);
    const __m128i kMinus21746 = _mm_set1_epi16(-21746);
    const __m128i k27146 = _mm_set1_epi16(27146);
    const __m128i kMinus19195 = _mm_set1_epi16(-19195);
    // Odd part.
    const __m128i tp765 = _mm_adds_epi16(z[1], _mm_mulhi_epi16(z[7], k13036));
    const __m128i tp465 = _mm_subs_epi16(_mm_mulhi_epi16(z[1], k13036), z[7]);
    const __m128i tm765 = _mm_adds_epi16(_mm_adds_epi16(_mm_mulhi_epi16(z[5], kMinus21746), z[5]), z[3]);
    const __m128i tm465 = _mm_subs_epi16(z[5], _mm_adds_epi16(_mm_mulhi_epi16(z[3], kMinus21746), z[3]));
    const __m128i t7 = _mm_adds_epi16(tp765, tm765);
    const __m128i tp65 = _mm_subs_epi16(tp765, tm765);
    const __m128i tm65 = _mm_subs_epi16(tp465, tm465);
    const __m128i t4 = _mm_adds_epi16(tp465, tm465);
    const __m128i u = _mm_adds_epi16(tp65, tm65);
    const __m128i t6 = _mm_adds_epi16(u, _mm_mulhi_epi16(u, kMinus19195));
    const __m128i v = _mm_subs_epi16(tp65, tm65);
    const __m128i t5 = _mm_adds_epi16(_mm_mulhi_epi16(v, kMinus19195), v);
    // Even part.
    const __m128i tp26 = _mm_adds_epi16(z[2], _mm_mulhi_epi16(z[6], k27146));
    const __m128i tm26 = _mm_subs_epi16(_mm_mulhi_epi16(z[2], k27146), z[6]);
    const __m128i tp04 = _mm_adds_epi16(z[0], z[4]);
    const __m128i tm04 = _mm_subs_epi16(z[0], z[4]);
    const __m128i t0 = _mm_adds_epi16(tp04, tp26), t3 = _mm_subs_epi16(tp04, tp26);
    const __m128i t1 = _mm_adds_epi16(tm04, tm26), t2 = _mm_subs_epi16(tm04, tm26);
    const __m128i s[8] = {_mm_adds_epi16(t0, t7), _mm_adds_epi16(t1, t6), _mm_adds_epi16(t2, t5),
                          _mm_adds_epi16(t3, t4), _mm_subs_epi16(t3, t4), _mm_subs_epi16(t2, t5),
                          _mm_subs_epi16(t1, t6), _mm_subs_epi16(t0, t7)};
    // (s >> 6) + 128 clamped to a byte: signed saturation to -128..127, then
    // the sign bit flipped.
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    const std::ptrdiff_t stride = step;
#pragma GCC unroll 4
    for (int y = 0; y < 8; y += 2) {
        const __m128i bytes =
            _mm_xor_si128(_mm_packs_epi16(_mm_srai_epi16(s[y], 6), _mm_srai_epi16(s[y + 1], 6)), flip);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + y * stride), bytes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + (y + 1) * stride), _mm_unpackhi_epi64(bytes, bytes));
    }
}

// The transform of eight rows of dequantised coefficients.
__attribute__((always_inline)) inline void Transform(__m128i x[8], std::uint8_t* destination, std::int32_t step)
{
    __m128i z[8];
    // Only the DC coded (most chroma blocks): every row of the row pass is
    // its rounder alone but the first, and every column is the same.
    const __m128i ac = _mm_or_si128(
        _mm_or_si128(_mm_or_si128(_mm_srli_si128(x[0], 2), x[1]), _mm_or_si128(x[2], x[3])),
        _mm_or_si128(_mm_or_si128(x[4], x[5]), _mm_or_si128(x[6], x[7])));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(ac, _mm_setzero_si128())) == 0xFFFF) {
        const std::int32_t first =
            (std::int32_t{16384} * static_cast<std::int16_t>(_mm_cvtsi128_si32(x[0])) + kRounder[0]) >> 11;
        z[0] = _mm_set1_epi16(static_cast<std::int16_t>(first > 32767 ? 32767 : first < -32768 ? -32768 : first));
#pragma GCC unroll 7
        for (int r = 1; r < 8; ++r)
            z[r] = _mm_set1_epi16(static_cast<std::int16_t>(kRounder[r] >> 11));
        ColumnPass(z, destination, step);
        return;
    }
    // Register k holds coefficient k of every row.
    Transpose8x8(x);
    // Operand pairs of rows 0..3 and 4..7.
    const __m128i p02[2] = {_mm_unpacklo_epi16(x[0], x[2]), _mm_unpackhi_epi16(x[0], x[2])};
    const __m128i p46[2] = {_mm_unpacklo_epi16(x[4], x[6]), _mm_unpackhi_epi16(x[4], x[6])};
    const __m128i p13[2] = {_mm_unpacklo_epi16(x[1], x[3]), _mm_unpackhi_epi16(x[1], x[3])};
    const __m128i p57[2] = {_mm_unpacklo_epi16(x[5], x[7]), _mm_unpackhi_epi16(x[5], x[7])};
    // z[k]: output k of every row (lane r = row r).
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        __m128i plus[2], minus[2];
#pragma GCC unroll 2
        for (int half = 0; half < 2; ++half) {
            const __m128i rounder = _mm_load_si128(reinterpret_cast<const __m128i*>(kRowPairs.rounder[half]));
            const __m128i a = _mm_add_epi32(
                _mm_add_epi32(_mm_madd_epi16(p02[half], Weights(0, k, half)), _mm_madd_epi16(p46[half], Weights(1, k, half))),
                rounder);
            const __m128i b =
                _mm_add_epi32(_mm_madd_epi16(p13[half], Weights(2, k, half)), _mm_madd_epi16(p57[half], Weights(3, k, half)));
            plus[half] = _mm_srai_epi32(_mm_add_epi32(a, b), 11);
            minus[half] = _mm_srai_epi32(_mm_sub_epi32(a, b), 11);
        }
        z[k] = _mm_packs_epi32(plus[0], plus[1]);
        z[7 - k] = _mm_packs_epi32(minus[0], minus[1]);
    }
    // Register j now holds row j of every column.
    Transpose8x8(z);
    ColumnPass(z, destination, step);
}

// Two blocks side by side, one in each 128-bit lane of the same steps as
// Transform (every step used works within lanes).
#define GAVEX_AVX2 __attribute__((target("avx2"), always_inline)) inline

GAVEX_AVX2 void Transpose8x8Avx2(__m256i r[8])
{
    const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]);
    const __m256i a1 = _mm256_unpackhi_epi16(r[0], r[1]);
    const __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]);
    const __m256i a3 = _mm256_unpackhi_epi16(r[2], r[3]);
    const __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]);
    const __m256i a5 = _mm256_unpackhi_epi16(r[4], r[5]);
    const __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]);
    const __m256i a7 = _mm256_unpackhi_epi16(r[6], r[7]);
    const __m256i b0 = _mm256_unpacklo_epi32(a0, a2);
    const __m256i b1 = _mm256_unpackhi_epi32(a0, a2);
    const __m256i b2 = _mm256_unpacklo_epi32(a1, a3);
    const __m256i b3 = _mm256_unpackhi_epi32(a1, a3);
    const __m256i b4 = _mm256_unpacklo_epi32(a4, a6);
    const __m256i b5 = _mm256_unpackhi_epi32(a4, a6);
    const __m256i b6 = _mm256_unpacklo_epi32(a5, a7);
    const __m256i b7 = _mm256_unpackhi_epi32(a5, a7);
    r[0] = _mm256_unpacklo_epi64(b0, b4);
    r[1] = _mm256_unpackhi_epi64(b0, b4);
    r[2] = _mm256_unpacklo_epi64(b1, b5);
    r[3] = _mm256_unpackhi_epi64(b1, b5);
    r[4] = _mm256_unpacklo_epi64(b2, b6);
    r[5] = _mm256_unpackhi_epi64(b2, b6);
    r[6] = _mm256_unpacklo_epi64(b3, b7);
    r[7] = _mm256_unpackhi_epi64(b3, b7);
}

GAVEX_AVX2 __m256i WeightsAvx2(int set, int k, int half)
{
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kRowPairs.v[set][k][half])));
}

}  // namespace

namespace {

GAVEX_AVX2 void RowPassPairAvx2(__m256i x[8], __m256i z[8])
{
    Transpose8x8Avx2(x);
    const __m256i p02[2] = {_mm256_unpacklo_epi16(x[0], x[2]), _mm256_unpackhi_epi16(x[0], x[2])};
    const __m256i p46[2] = {_mm256_unpacklo_epi16(x[4], x[6]), _mm256_unpackhi_epi16(x[4], x[6])};
    const __m256i p13[2] = {_mm256_unpacklo_epi16(x[1], x[3]), _mm256_unpackhi_epi16(x[1], x[3])};
    const __m256i p57[2] = {_mm256_unpacklo_epi16(x[5], x[7]), _mm256_unpackhi_epi16(x[5], x[7])};
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        __m256i plus[2], minus[2];
#pragma GCC unroll 2
        for (int half = 0; half < 2; ++half) {
            const __m256i rounder = _mm256_broadcastsi128_si256(
                _mm_load_si128(reinterpret_cast<const __m128i*>(kRowPairs.rounder[half])));
            const __m256i a = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(p02[half], WeightsAvx2(0, k, half)),
                                                                _mm256_madd_epi16(p46[half], WeightsAvx2(1, k, half))),
                                               rounder);
            const __m256i b = _mm256_add_epi32(_mm256_madd_epi16(p13[half], WeightsAvx2(2, k, half)),
                                               _mm256_madd_epi16(p57[half], WeightsAvx2(3, k, half)));
            plus[half] = _mm256_srai_epi32(_mm256_add_epi32(a, b), 11);
            minus[half] = _mm256_srai_epi32(_mm256_sub_epi32(a, b), 11);
        }
        z[k] = _mm256_packs_epi32(plus[0], plus[1]);
        z[7 - k] = _mm256_packs_epi32(minus[0], minus[1]);
    }
    Transpose8x8Avx2(z);
}

GAVEX_AVX2 void ColumnPassPairAvx2(const __m256i z[8], std::uint8_t* destination, std::int32_t step)
{
    const __m256i k13036 = _mm256_set1_epi16(13036);
    const __m256i kMinus21746 = _mm256_set1_epi16(-21746);
    const __m256i k27146 = _mm256_set1_epi16(27146);
    const __m256i kMinus19195 = _mm256_set1_epi16(-19195);
    const __m256i tp765 = _mm256_adds_epi16(z[1], _mm256_mulhi_epi16(z[7], k13036));
    const __m256i tp465 = _mm256_subs_epi16(_mm256_mulhi_epi16(z[1], k13036), z[7]);
    const __m256i tm765 = _mm256_adds_epi16(_mm256_adds_epi16(_mm256_mulhi_epi16(z[5], kMinus21746), z[5]), z[3]);
    const __m256i tm465 = _mm256_subs_epi16(z[5], _mm256_adds_epi16(_mm256_mulhi_epi16(z[3], kMinus21746), z[3]));
    const __m256i t7 = _mm256_adds_epi16(tp765, tm765);
    const __m256i tp65 = _mm256_subs_epi16(tp765, tm765);
    const __m256i tm65 = _mm256_subs_epi16(tp465, tm465);
    const __m256i t4 = _mm256_adds_epi16(tp465, tm465);
    const __m256i u = _mm256_adds_epi16(tp65, tm65);
    const __m256i t6 = _mm256_adds_epi16(u, _mm256_mulhi_epi16(u, kMinus19195));
    const __m256i v = _mm256_subs_epi16(tp65, tm65);
    const __m256i t5 = _mm256_adds_epi16(_mm256_mulhi_epi16(v, kMinus19195), v);
    const __m256i tp26 = _mm256_adds_epi16(z[2], _mm256_mulhi_epi16(z[6], k27146));
    const __m256i tm26 = _mm256_subs_epi16(_mm256_mulhi_epi16(z[2], k27146), z[6]);
    const __m256i tp04 = _mm256_adds_epi16(z[0], z[4]);
    const __m256i tm04 = _mm256_subs_epi16(z[0], z[4]);
    const __m256i t0 = _mm256_adds_epi16(tp04, tp26), t3 = _mm256_subs_epi16(tp04, tp26);
    const __m256i t1 = _mm256_adds_epi16(tm04, tm26), t2 = _mm256_subs_epi16(tm04, tm26);
    const __m256i out[8] = {_mm256_adds_epi16(t0, t7), _mm256_adds_epi16(t1, t6), _mm256_adds_epi16(t2, t5),
                            _mm256_adds_epi16(t3, t4), _mm256_subs_epi16(t3, t4), _mm256_subs_epi16(t2, t5),
                            _mm256_subs_epi16(t1, t6), _mm256_subs_epi16(t0, t7)};
    const __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));
    const std::ptrdiff_t stride = step;
#pragma GCC unroll 4
    for (int y = 0; y < 8; y += 2) {
        // Lane 0: first block's rows y, y + 1; lane 1: the second's. Quad
        // order 0, 2, 1, 3 puts both blocks' row y first.
        const __m256i bytes = _mm256_permute4x64_epi64(
            _mm256_xor_si256(_mm256_packs_epi16(_mm256_srai_epi16(out[y], 6), _mm256_srai_epi16(out[y + 1], 6)), flip),
            0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + y * stride), _mm256_castsi256_si128(bytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + (y + 1) * stride),
                         _mm256_extracti128_si256(bytes, 1));
    }
}

}  // namespace

__attribute__((target("avx2"))) void InverseDctDequant8uPairAvx2(const std::int16_t* coefficients,
                                                                 const std::uint16_t* table,
                                                                 std::uint8_t* destination, std::int32_t step)
{
    __m256i x[8];
    const __m128i* first = reinterpret_cast<const __m128i*>(coefficients);
    const __m128i* quantisers = reinterpret_cast<const __m128i*>(table);
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m256i q = _mm256_broadcastsi128_si256(_mm_loadu_si128(quantisers + r));
        const __m256i c = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(first + r)),
                                                  _mm_loadu_si128(first + 8 + r), 1);
        x[r] = _mm256_mullo_epi16(c, q);
    }
    __m256i z[8];
    // Both blocks with only the DC coded: the row pass of Transform's
    // shortcut, one block in each lane.
    const __m256i ac = _mm256_or_si256(
        _mm256_or_si256(_mm256_or_si256(_mm256_srli_si256(x[0], 2), x[1]), _mm256_or_si256(x[2], x[3])),
        _mm256_or_si256(_mm256_or_si256(x[4], x[5]), _mm256_or_si256(x[6], x[7])));
    if (_mm256_testz_si256(ac, ac)) {
        auto firstRow = [](std::int16_t dc) {
            const std::int32_t first = (std::int32_t{16384} * dc + kRounder[0]) >> 11;
            return static_cast<std::int16_t>(first > 32767 ? 32767 : first < -32768 ? -32768 : first);
        };
        const auto left = static_cast<std::int16_t>(_mm256_extract_epi16(x[0], 0));
        const auto right = static_cast<std::int16_t>(_mm256_extract_epi16(x[0], 8));
        z[0] = _mm256_setr_m128i(_mm_set1_epi16(firstRow(left)), _mm_set1_epi16(firstRow(right)));
#pragma GCC unroll 7
        for (int r = 1; r < 8; ++r)
            z[r] = _mm256_set1_epi16(static_cast<std::int16_t>(kRounder[r] >> 11));
    } else {
        RowPassPairAvx2(x, z);
    }
    ColumnPassPairAvx2(z, destination, step);
}

#undef GAVEX_AVX2

void InverseDct8uSse2(const std::int16_t* d, std::uint8_t* destination, std::int32_t step)
{
    __m128i x[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r)
        x[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 8 * r));
    Transform(x, destination, step);
}

void InverseDctDequant8uSse2(const std::int16_t* coefficients, const std::uint16_t* table, std::uint8_t* destination,
                             std::int32_t step)
{
    __m128i x[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r)
        x[r] = _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * r)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 8 * r)));
    Transform(x, destination, step);
}

}  // namespace primitives_detail

#endif
