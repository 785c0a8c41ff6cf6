// SSE2 bodies of the 8-bit four-channel cubic and Lanczos path. One pixel's
// four channels fill a vector; every lane repeats the portable body's
// single-precision operations in its order, and the integer conversions clamp
// in float before converting, as the portable conversions do.
#if defined(__x86_64__) || defined(__i386__)

#include "imaging/primitives/resize/detail/CubicLanczosSimd.h"

#include <emmintrin.h>
#include <xmmintrin.h>

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

}  // namespace resize_detail

#endif
