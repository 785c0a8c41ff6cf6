// SSE2 bodies of the 8-bit four-channel cubic and Lanczos path. One pixel's
// four channels fill a vector; every lane repeats the portable body's
// single-precision operations in its order, and the integer conversions clamp
// in float before converting, as the portable conversions do.
#if defined(__x86_64__) || defined(__i386__)

#include "imaging/primitives/resize/detail/CubicLanczosSimd.h"

#include <immintrin.h>

#include <cstring>

namespace resize_detail {

namespace {

// Four consecutive bytes as four floats.
inline __m128 LoadPixel(const std::uint8_t* p)
{
    std::int32_t v;
    std::memcpy(&v, p, 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), zero);
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero));
}

inline __m128 CubicBlock(__m128 p0, __m128 p1, __m128 p2, __m128 p3, const CubicCoefficients& k)
{
    const __m128 d1 = _mm_sub_ps(p1, p0);
    const __m128 d2 = _mm_sub_ps(_mm_sub_ps(p2, p1), d1);
    const __m128 d3 = _mm_add_ps(_mm_sub_ps(_mm_sub_ps(p3, p2), p2), _mm_sub_ps(p1, d2));
    const __m128 head = _mm_add_ps(p0, _mm_mul_ps(_mm_set1_ps(k.c1), d1));
    const __m128 tail = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(k.c2), d2), _mm_mul_ps(_mm_set1_ps(k.c3Block), d3));
    return _mm_add_ps(head, tail);
}

// Four int32 lanes (already within 0..255) stored as four bytes.
inline void StoreBytes(std::uint8_t* dst, __m128i lanes)
{
    const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(lanes, lanes), lanes);
    const std::int32_t v = _mm_cvtsi128_si32(packed);
    std::memcpy(dst, &v, 4);
}

}  // namespace

void CubicRowKernel_8u_C4_Sse2(const std::uint8_t* src, std::int32_t n, std::int32_t /*stride*/,
                               const std::int32_t* columns, const float* weights, float* out)
{
    const __m128i zero = _mm_setzero_si128();
    for (std::int32_t c = 0; c < n; ++c) {
        // The four tap pixels are 16 consecutive bytes.
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + columns[c] - 4));
        const __m128i low = _mm_unpacklo_epi8(bytes, zero);
        const __m128i high = _mm_unpackhi_epi8(bytes, zero);
        const __m128 p0 = _mm_cvtepi32_ps(_mm_unpacklo_epi16(low, zero));
        const __m128 p1 = _mm_cvtepi32_ps(_mm_unpackhi_epi16(low, zero));
        const __m128 p2 = _mm_cvtepi32_ps(_mm_unpacklo_epi16(high, zero));
        const __m128 p3 = _mm_cvtepi32_ps(_mm_unpackhi_epi16(high, zero));
        _mm_storeu_ps(out + 4 * c, CubicBlock(p0, p1, p2, p3, CubicCoefficients(weights[c])));
    }
}

void CubicRowKernel_8u_C1_Sse2(const std::uint8_t* src, std::int32_t n, std::int32_t /*stride*/,
                               const std::int32_t* columns, const float* weights, float* out)
{
    const std::int32_t blocks = n / 4 * 4;
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 third = _mm_set1_ps(kCubicThird);
    for (std::int32_t c = 0; c < blocks; c += 4) {
        // Each column's four taps in one load, then taps across columns.
        __m128 p0 = LoadPixel(src + columns[c] - 1);
        __m128 p1 = LoadPixel(src + columns[c + 1] - 1);
        __m128 p2 = LoadPixel(src + columns[c + 2] - 1);
        __m128 p3 = LoadPixel(src + columns[c + 3] - 1);
        _MM_TRANSPOSE4_PS(p0, p1, p2, p3);
        const __m128 t = _mm_loadu_ps(weights + c);
        const __m128 c1 = _mm_add_ps(t, one);
        const __m128 c2 = _mm_mul_ps(_mm_mul_ps(t, half), _mm_add_ps(t, one));
        const __m128 c3 = _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(t, one), third), c2);
        const __m128 d1 = _mm_sub_ps(p1, p0);
        const __m128 d2 = _mm_sub_ps(_mm_sub_ps(p2, p1), d1);
        const __m128 d3 = _mm_add_ps(_mm_sub_ps(_mm_sub_ps(p3, p2), p2), _mm_sub_ps(p1, d2));
        const __m128 head = _mm_add_ps(p0, _mm_mul_ps(c1, d1));
        const __m128 tail = _mm_add_ps(_mm_mul_ps(c2, d2), _mm_mul_ps(c3, d3));
        _mm_storeu_ps(out + c, _mm_add_ps(head, tail));
    }
    for (std::int32_t c = blocks; c < n; ++c) {
        const std::uint8_t* s = src + columns[c];
        out[c] = CubicRowSingleValue(s[-1], s[0], s[1], s[2], CubicCoefficients(weights[c]));
    }
}

void CubicColumnKernel_8u_Sse2(std::uint8_t* dst, std::int32_t count, const float* t, const float* b0,
                               const float* b1, const float* b2, const float* b3)
{
    const CubicCoefficients k(*t);
    const std::int32_t blocks = count / 4 * 4;
    const __m128 bias = _mm_set1_ps(0.50000012f);
    const __m128 low = _mm_setzero_ps();
    const __m128 high = _mm_set1_ps(255.0f);
    for (std::int32_t m = 0; m < blocks; m += 4) {
        const __m128 v = CubicBlock(_mm_loadu_ps(b0 + m), _mm_loadu_ps(b1 + m), _mm_loadu_ps(b2 + m),
                                    _mm_loadu_ps(b3 + m), k);
        // max first: a lane that is not a number becomes 0.
        const __m128 r = _mm_min_ps(_mm_max_ps(_mm_add_ps(v, bias), low), high);
        StoreBytes(dst + m, _mm_cvttps_epi32(r));
    }
    for (std::int32_t m = blocks; m < count; ++m)
        dst[m] = CubicTo8u::FromSingle(CubicColumnSingleValue(b0[m], b1[m], b2[m], b3[m], k));
}

void SixTapRow_8u_C1_Sse2(const std::uint8_t* src, std::int32_t /*stride*/, const std::int32_t* columns,
                          const float* weights, float* out, std::int32_t n)
{
    const std::int32_t blocks = n / 4 * 4;
    for (std::int32_t c = 0; c < blocks; c += 4) {
        const std::uint8_t* s0 = src + columns[c] - 2;
        const std::uint8_t* s1 = src + columns[c + 1] - 2;
        const std::uint8_t* s2 = src + columns[c + 2] - 2;
        const std::uint8_t* s3 = src + columns[c + 3] - 2;
        // Taps 0..3 of each column in one load, turned to taps across
        // columns; taps 4 and 5 one by one (nothing past tap 5 is read).
        __m128 t0 = LoadPixel(s0), t1 = LoadPixel(s1), t2 = LoadPixel(s2), t3 = LoadPixel(s3);
        _MM_TRANSPOSE4_PS(t0, t1, t2, t3);
        const __m128 t4 = _mm_cvtepi32_ps(_mm_set_epi32(s3[4], s2[4], s1[4], s0[4]));
        const __m128 t5 = _mm_cvtepi32_ps(_mm_set_epi32(s3[5], s2[5], s1[5], s0[5]));
        const float* w = weights + 6 * c;
        auto weight = [w](int k) { return _mm_set_ps(w[18 + k], w[12 + k], w[6 + k], w[k]); };
        __m128 v = _mm_mul_ps(weight(0), t0);
        v = _mm_add_ps(v, _mm_mul_ps(weight(1), t1));
        v = _mm_add_ps(v, _mm_mul_ps(weight(2), t2));
        v = _mm_add_ps(v, _mm_mul_ps(weight(3), t3));
        v = _mm_add_ps(v, _mm_mul_ps(weight(4), t4));
        v = _mm_add_ps(v, _mm_mul_ps(weight(5), t5));
        _mm_storeu_ps(out + c, v);
    }
    if (blocks < n)
        SixTapRow<std::uint8_t, 1>(src, 0, columns + blocks, weights + 6 * blocks, out + blocks, n - blocks);
}

void SixTapRow_8u_C4_Sse2(const std::uint8_t* src, std::int32_t /*stride*/, const std::int32_t* columns,
                          const float* weights, float* out, std::int32_t n)
{
    for (std::int32_t c = 0; c < n; ++c) {
        const std::uint8_t* s = src + columns[c] - 8;
        const float* w = weights + 6 * c;
        __m128 v = _mm_mul_ps(_mm_set1_ps(w[0]), LoadPixel(s));
        for (int k = 1; k < 6; ++k)
            v = _mm_add_ps(v, _mm_mul_ps(_mm_set1_ps(w[k]), LoadPixel(s + 4 * k)));
        _mm_storeu_ps(out + 4 * c, v);
    }
}

void SixTapColumn_8u_Sse2(std::uint8_t* dst, std::int32_t count, const float* w, const float* b0, const float* b1,
                          const float* b2, const float* b3, const float* b4, const float* b5)
{
    const std::int32_t blocks = count / 4 * 4;
    const __m128 w0 = _mm_set1_ps(w[0]), w1 = _mm_set1_ps(w[1]), w2 = _mm_set1_ps(w[2]);
    const __m128 w3 = _mm_set1_ps(w[3]), w4 = _mm_set1_ps(w[4]), w5 = _mm_set1_ps(w[5]);
    const __m128 low = _mm_setzero_ps();
    const __m128 high = _mm_set1_ps(255.0f);
    for (std::int32_t m = 0; m < blocks; m += 4) {
        __m128 v = _mm_add_ps(low, _mm_mul_ps(w0, _mm_loadu_ps(b0 + m)));
        v = _mm_add_ps(v, _mm_mul_ps(w1, _mm_loadu_ps(b1 + m)));
        v = _mm_add_ps(v, _mm_mul_ps(w2, _mm_loadu_ps(b2 + m)));
        v = _mm_add_ps(v, _mm_mul_ps(w3, _mm_loadu_ps(b3 + m)));
        v = _mm_add_ps(v, _mm_mul_ps(w4, _mm_loadu_ps(b4 + m)));
        v = _mm_add_ps(v, _mm_mul_ps(w5, _mm_loadu_ps(b5 + m)));
        // Nearest with ties to even (the default rounding mode) after the
        // clamp; max first so a lane that is not a number becomes 0.
        StoreBytes(dst + m, _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(v, low), high)));
    }
    if (blocks < count)
        SixTapColumn<SixTapTo8u, false>(dst + blocks, count - blocks, w, b0 + blocks, b1 + blocks, b2 + blocks,
                                        b3 + blocks, b4 + blocks, b5 + blocks);
}

namespace {

// AVX2 (slot 5): eight one-channel columns a step. When the four tap windows
// of each half of the step lie within 16 bytes, one load per half and one
// byte shuffle put the taps across columns (the SSE2 body's transpose); the
// arithmetic is the SSE2 body's, lane by lane. Other steps, and the end of
// the row (no load may pass the last byte the row's columns read), go to the
// SSE2 body. Columns ascend. Rows of the same columns share the shuffle and
// the coefficients.
template <int Rows>
__attribute__((target("avx2"))) inline void CubicRows_8u_C1_Avx2(const std::uint8_t* const* src, std::int32_t n,
                                                                 std::int32_t stride, const std::int32_t* columns,
                                                                 const float* weights, float* const* out)
{
    if (n <= 0)
        return;
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 third = _mm256_set1_ps(kCubicThird);
    // Byte 4j + k of a half: tap j of column k.
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0,
                                            1, 2, 3, 0, 1, 2, 3);
    const __m256i tapOffset = _mm256_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 0, 0, 0, 0, 1, 1, 1, 1,
                                               2, 2, 2, 2, 3, 3, 3, 3);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const std::int64_t readEnd = std::int64_t{columns[n - 1]} + 3;  // one past the last byte the row reads
    std::int32_t c = 0;
    for (; c + 8 <= n; c += 8) {
        const std::int32_t a = columns[c] - 1;
        const std::int32_t b = columns[c + 4] - 1;
        if (columns[c + 3] - 1 - a > 12 || columns[c + 7] - 1 - b > 12 || std::int64_t{b} + 16 > readEnd ||
            std::int64_t{a} + 16 > readEnd) {
            for (int r = 0; r < Rows; ++r)
                CubicRowKernel_8u_C1_Sse2(src[r], 8, stride, columns + c, weights + c, out[r] + c);
            continue;
        }
        const __m256i offsets = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns + c)),
                                                 _mm256_setr_epi32(a + 1, a + 1, a + 1, a + 1, b + 1, b + 1, b + 1, b + 1));
        const __m256i offsetBytes = _mm256_packus_epi16(_mm256_packs_epi32(offsets, offsets), offsets);
        const __m256i mask = _mm256_add_epi8(_mm256_shuffle_epi8(offsetBytes, spread), tapOffset);
        const __m256 t = _mm256_loadu_ps(weights + c);
        const __m256 c1 = _mm256_add_ps(t, one);
        const __m256 c2 = _mm256_mul_ps(_mm256_mul_ps(t, half), _mm256_add_ps(t, one));
        const __m256 c3 = _mm256_mul_ps(_mm256_mul_ps(_mm256_sub_ps(t, one), third), c2);
        for (int r = 0; r < Rows; ++r) {
            const std::uint8_t* row = src[r];
            const __m256i data = _mm256_setr_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + a)),
                                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + b)));
            const __m256i taps = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(data, mask), order);
            const __m128i low = _mm256_castsi256_si128(taps);
            const __m128i high = _mm256_extracti128_si256(taps, 1);
            const __m256 p0 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(low));
            const __m256 p1 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(low, 8)));
            const __m256 p2 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(high));
            const __m256 p3 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(high, 8)));
            const __m256 d1 = _mm256_sub_ps(p1, p0);
            const __m256 d2 = _mm256_sub_ps(_mm256_sub_ps(p2, p1), d1);
            const __m256 d3 = _mm256_add_ps(_mm256_sub_ps(_mm256_sub_ps(p3, p2), p2), _mm256_sub_ps(p1, d2));
            const __m256 head = _mm256_add_ps(p0, _mm256_mul_ps(c1, d1));
            const __m256 tail = _mm256_add_ps(_mm256_mul_ps(c2, d2), _mm256_mul_ps(c3, d3));
            _mm256_storeu_ps(out[r] + c, _mm256_add_ps(head, tail));
        }
    }
    if (c < n)
        for (int r = 0; r < Rows; ++r)
            CubicRowKernel_8u_C1_Sse2(src[r], n - c, stride, columns + c, weights + c, out[r] + c);
}

}  // namespace

__attribute__((target("avx2"))) void CubicRowKernel_8u_C1_Avx2(const std::uint8_t* src, std::int32_t n,
                                                               std::int32_t stride, const std::int32_t* columns,
                                                               const float* weights, float* out)
{
    CubicRows_8u_C1_Avx2<1>(&src, n, stride, columns, weights, &out);
}

__attribute__((target("avx2"))) void CubicRowPairKernel_8u_C1_Avx2(const std::uint8_t* first,
                                                                   const std::uint8_t* second, std::int32_t n,
                                                                   std::int32_t stride, const std::int32_t* columns,
                                                                   const float* weights, float* firstOut,
                                                                   float* secondOut)
{
    const std::uint8_t* const rows[2] = {first, second};
    float* const outs[2] = {firstOut, secondOut};
    CubicRows_8u_C1_Avx2<2>(rows, n, stride, columns, weights, outs);
}

__attribute__((target("avx2"))) void CubicColumnKernel_8u_Avx2(std::uint8_t* dst, std::int32_t count, const float* t,
                                                               const float* b0, const float* b1, const float* b2,
                                                               const float* b3)
{
    const CubicCoefficients k(*t);
    const __m256 c1 = _mm256_set1_ps(k.c1), c2 = _mm256_set1_ps(k.c2), c3 = _mm256_set1_ps(k.c3Block);
    const __m256 bias = _mm256_set1_ps(0.50000012f);
    const __m256 low = _mm256_setzero_ps();
    const __m256 high = _mm256_set1_ps(255.0f);
    std::int32_t m = 0;
    for (; m + 8 <= count; m += 8) {
        const __m256 p0 = _mm256_loadu_ps(b0 + m), p1 = _mm256_loadu_ps(b1 + m);
        const __m256 p2 = _mm256_loadu_ps(b2 + m), p3 = _mm256_loadu_ps(b3 + m);
        const __m256 d1 = _mm256_sub_ps(p1, p0);
        const __m256 d2 = _mm256_sub_ps(_mm256_sub_ps(p2, p1), d1);
        const __m256 d3 = _mm256_add_ps(_mm256_sub_ps(_mm256_sub_ps(p3, p2), p2), _mm256_sub_ps(p1, d2));
        const __m256 v = _mm256_add_ps(_mm256_add_ps(p0, _mm256_mul_ps(c1, d1)),
                                       _mm256_add_ps(_mm256_mul_ps(c2, d2), _mm256_mul_ps(c3, d3)));
        // max first: a lane that is not a number becomes 0.
        const __m256i lanes =
            _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(_mm256_add_ps(v, bias), low), high));
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(lanes, lanes), lanes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + m),
                         _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1)));
    }
    if (m < count)
        CubicColumnKernel_8u_Sse2(dst + m, count - m, t, b0 + m, b1 + m, b2 + m, b3 + m);
}

// Eight one-channel six-tap columns a step, as the cubic rows: the taps of
// each half by two byte shuffles of one load (taps 0..3, then 4 and 5) when
// its windows lie within 16 bytes; the weights (six a column, in column order)
// turned to taps across columns by in-lane shuffles, one half of the step in
// each lane. Other steps and the end of the row go to the SSE2 body. Columns
// ascend.
__attribute__((target("avx2"))) void SixTapRow_8u_C1_Avx2(const std::uint8_t* src, std::int32_t stride,
                                                          const std::int32_t* columns, const float* weights,
                                                          float* out, std::int32_t n)
{
    if (n <= 0)
        return;
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0,
                                            1, 2, 3, 0, 1, 2, 3);
    const __m256i firstTaps = _mm256_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 0, 0, 0, 0, 1, 1, 1, 1,
                                               2, 2, 2, 2, 3, 3, 3, 3);
    const __m256i lastTaps = _mm256_setr_epi8(4, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 4, 4, 4, 4, 5, 5, 5, 5, 5,
                                              5, 5, 5, 5, 5, 5, 5);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const std::int64_t readEnd = std::int64_t{columns[n - 1]} + 4;  // one past the last byte the row reads
    std::int32_t c = 0;
    for (; c + 8 <= n; c += 8) {
        const std::int32_t a = columns[c] - 2;
        const std::int32_t b = columns[c + 4] - 2;
        if (columns[c + 3] - 2 - a > 10 || columns[c + 7] - 2 - b > 10 || std::int64_t{a} + 16 > readEnd ||
            std::int64_t{b} + 16 > readEnd) {
            SixTapRow_8u_C1_Sse2(src, stride, columns + c, weights + 6 * c, out + c, 8);
            continue;
        }
        const __m256i offsets = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns + c)),
                                                 _mm256_setr_epi32(a + 2, a + 2, a + 2, a + 2, b + 2, b + 2, b + 2, b + 2));
        const __m256i spreadOffsets =
            _mm256_shuffle_epi8(_mm256_packus_epi16(_mm256_packs_epi32(offsets, offsets), offsets), spread);
        const __m256i data = _mm256_setr_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + a)),
                                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + b)));
        const __m256i taps0123 = _mm256_permutevar8x32_epi32(
            _mm256_shuffle_epi8(data, _mm256_add_epi8(spreadOffsets, firstTaps)), order);
        const __m256i taps45 = _mm256_permutevar8x32_epi32(
            _mm256_shuffle_epi8(data, _mm256_add_epi8(spreadOffsets, lastTaps)), order);
        const __m128i low = _mm256_castsi256_si128(taps0123);
        const __m128i high = _mm256_extracti128_si256(taps0123, 1);
        const __m128i last = _mm256_castsi256_si128(taps45);
        const __m256 t0 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(low));
        const __m256 t1 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(low, 8)));
        const __m256 t2 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(high));
        const __m256 t3 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(high, 8)));
        const __m256 t4 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(last));
        const __m256 t5 = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(last, 8)));
        // Weights: lane 0 columns c..c+3, lane 1 columns c+4..c+7; in each,
        // six vectors of the 24 weights, then taps 0..3 of every column by a
        // 4 x 4 transpose and taps 4 and 5 by two shuffles.
        const float* w = weights + 6 * c;
        __m256 q[6];
        for (int i = 0; i < 6; ++i)
            q[i] = _mm256_loadu2_m128(w + 24 + 4 * i, w + 4 * i);
        __m256 w0 = q[0];                                         // column 0: taps 0..3
        __m256 w1 = _mm256_shuffle_ps(q[1], q[2], 0x4E);          // column 1: taps 0..3
        __m256 w2 = q[3];                                         // column 2: taps 0..3
        __m256 w3 = _mm256_shuffle_ps(q[4], q[5], 0x4E);          // column 3: taps 0..3
        const __m256 y01 = _mm256_shuffle_ps(q[1], q[2], 0xE4);  // columns 0, 1: taps 4, 5
        const __m256 y23 = _mm256_shuffle_ps(q[4], q[5], 0xE4);  // columns 2, 3: taps 4, 5
        const __m256 a01 = _mm256_unpacklo_ps(w0, w1), a23 = _mm256_unpacklo_ps(w2, w3);
        const __m256 b01 = _mm256_unpackhi_ps(w0, w1), b23 = _mm256_unpackhi_ps(w2, w3);
        w0 = _mm256_shuffle_ps(a01, a23, 0x44);
        w1 = _mm256_shuffle_ps(a01, a23, 0xEE);
        w2 = _mm256_shuffle_ps(b01, b23, 0x44);
        w3 = _mm256_shuffle_ps(b01, b23, 0xEE);
        const __m256 w4 = _mm256_shuffle_ps(y01, y23, 0x88);
        const __m256 w5 = _mm256_shuffle_ps(y01, y23, 0xDD);
        __m256 v = _mm256_mul_ps(w0, t0);
        v = _mm256_add_ps(v, _mm256_mul_ps(w1, t1));
        v = _mm256_add_ps(v, _mm256_mul_ps(w2, t2));
        v = _mm256_add_ps(v, _mm256_mul_ps(w3, t3));
        v = _mm256_add_ps(v, _mm256_mul_ps(w4, t4));
        v = _mm256_add_ps(v, _mm256_mul_ps(w5, t5));
        _mm256_storeu_ps(out + c, v);
    }
    if (c < n)
        SixTapRow_8u_C1_Sse2(src, stride, columns + c, weights + 6 * c, out + c, n - c);
}

__attribute__((target("avx2"))) void SixTapColumn_8u_Avx2(std::uint8_t* dst, std::int32_t count, const float* w,
                                                          const float* b0, const float* b1, const float* b2,
                                                          const float* b3, const float* b4, const float* b5)
{
    const __m256 w0 = _mm256_set1_ps(w[0]), w1 = _mm256_set1_ps(w[1]), w2 = _mm256_set1_ps(w[2]);
    const __m256 w3 = _mm256_set1_ps(w[3]), w4 = _mm256_set1_ps(w[4]), w5 = _mm256_set1_ps(w[5]);
    const __m256 low = _mm256_setzero_ps();
    const __m256 high = _mm256_set1_ps(255.0f);
    std::int32_t m = 0;
    for (; m + 8 <= count; m += 8) {
        __m256 v = _mm256_add_ps(low, _mm256_mul_ps(w0, _mm256_loadu_ps(b0 + m)));
        v = _mm256_add_ps(v, _mm256_mul_ps(w1, _mm256_loadu_ps(b1 + m)));
        v = _mm256_add_ps(v, _mm256_mul_ps(w2, _mm256_loadu_ps(b2 + m)));
        v = _mm256_add_ps(v, _mm256_mul_ps(w3, _mm256_loadu_ps(b3 + m)));
        v = _mm256_add_ps(v, _mm256_mul_ps(w4, _mm256_loadu_ps(b4 + m)));
        v = _mm256_add_ps(v, _mm256_mul_ps(w5, _mm256_loadu_ps(b5 + m)));
        // Nearest with ties to even after the clamp, max first (as SSE2).
        const __m256i lanes = _mm256_cvtps_epi32(_mm256_min_ps(_mm256_max_ps(v, low), high));
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(lanes, lanes), lanes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + m),
                         _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1)));
    }
    if (m < count)
        SixTapColumn_8u_Sse2(dst + m, count - m, w, b0 + m, b1 + m, b2 + m, b3 + m, b4 + m, b5 + m);
}

}  // namespace resize_detail

#endif
