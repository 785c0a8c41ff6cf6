#include "imaging/primitives/YuvToBgra.h"

#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Factors in units of 1/8192, applied to 128 x the centred sample as the
// high half of a signed 16 x 16-bit product: each term comes out in 1/16
// levels, so the sums stay within 16 bits and round once at the end.
struct Fixed {
    int y, rv, gu, gv, bu, yOffset;
};

Fixed MakeFixed(platform::YuvMatrix matrix)
{
    const platform::YuvFactors f = platform::Factors(matrix);
    auto k = [](double v) { return static_cast<int>(std::lround(v * 8192)); };
    return {k(f.y), k(f.rv), k(f.gu), k(f.gv), k(f.bu), f.yOffset};
}

inline int Term(int centred, int k)
{
    return (centred * 128 * k) >> 16;
}

inline std::uint8_t Clamp(int v)
{
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Pixels [from, to) of one row, one at a time; the same arithmetic as the
// vector body.
void RowScalar(const Fixed& k, const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
               std::uint8_t* out, int from, int to)
{
    for (int x = from; x < to; ++x) {
        const int cu = u[x / 2] - 128, cv = v[x / 2] - 128;
        const int luma = Term(y[x] - k.yOffset, k.y);
        std::uint8_t* p = out + 4 * x;
        p[0] = Clamp((luma + Term(cu, k.bu) + 8) >> 4);
        p[1] = Clamp((luma + 8 - (Term(cu, k.gu) + Term(cv, k.gv))) >> 4);
        p[2] = Clamp((luma + Term(cv, k.rv) + 8) >> 4);
        p[3] = 255;
    }
}

#ifdef __SSE2__
// 16 pixels per step; returns the pixels done.
int RowSse2(const Fixed& k, const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* out,
            int width)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i yOffset = _mm_set1_epi16(static_cast<short>(k.yOffset));
    const __m128i chromaOffset = _mm_set1_epi16(128);
    const __m128i ky = _mm_set1_epi16(static_cast<short>(k.y));
    const __m128i krv = _mm_set1_epi16(static_cast<short>(k.rv));
    const __m128i kgu = _mm_set1_epi16(static_cast<short>(k.gu));
    const __m128i kgv = _mm_set1_epi16(static_cast<short>(k.gv));
    const __m128i kbu = _mm_set1_epi16(static_cast<short>(k.bu));
    const __m128i half = _mm_set1_epi16(8);
    const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xFF));
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i ys = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        const __m128i us = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
        const __m128i vs = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
        // x 128 as a shift by 7 of the centred samples.
        const __m128i cu = _mm_slli_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(us, zero), chromaOffset), 7);
        const __m128i cv = _mm_slli_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(vs, zero), chromaOffset), 7);
        const __m128i r = _mm_add_epi16(_mm_mulhi_epi16(cv, krv), half);
        const __m128i g = _mm_sub_epi16(half, _mm_add_epi16(_mm_mulhi_epi16(cu, kgu), _mm_mulhi_epi16(cv, kgv)));
        const __m128i b = _mm_add_epi16(_mm_mulhi_epi16(cu, kbu), half);
        __m128i channel[3][2];  // b, g, r; pixels 0..7 and 8..15
        const __m128i chroma[3] = {b, g, r};
        for (int h = 0; h < 2; ++h) {
            const __m128i yh = h == 0 ? _mm_unpacklo_epi8(ys, zero) : _mm_unpackhi_epi8(ys, zero);
            const __m128i luma = _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(yh, yOffset), 7), ky);
            for (int c = 0; c < 3; ++c) {
                // Each chroma term serves two neighbouring pixels.
                const __m128i pair =
                    h == 0 ? _mm_unpacklo_epi16(chroma[c], chroma[c]) : _mm_unpackhi_epi16(chroma[c], chroma[c]);
                channel[c][h] = _mm_srai_epi16(_mm_add_epi16(luma, pair), 4);
            }
        }
        const __m128i bs = _mm_packus_epi16(channel[0][0], channel[0][1]);
        const __m128i gs = _mm_packus_epi16(channel[1][0], channel[1][1]);
        const __m128i rs = _mm_packus_epi16(channel[2][0], channel[2][1]);
        const __m128i bgLow = _mm_unpacklo_epi8(bs, gs), bgHigh = _mm_unpackhi_epi8(bs, gs);
        const __m128i raLow = _mm_unpacklo_epi8(rs, opaque), raHigh = _mm_unpackhi_epi8(rs, opaque);
        auto* o = reinterpret_cast<__m128i*>(out + 4 * x);
        _mm_storeu_si128(o, _mm_unpacklo_epi16(bgLow, raLow));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(bgLow, raLow));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(bgHigh, raHigh));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(bgHigh, raHigh));
    }
    return x;
}
#endif

}  // namespace

PrimitiveStatus ConvertYuv420ToBgra8uP3C4M(const std::uint8_t* const planes[3], const std::int32_t steps[3],
                                           std::uint8_t* dst, std::int32_t dstStep, ImageSize size,
                                           platform::YuvMatrix matrix)
{
    if (planes == nullptr || steps == nullptr || dst == nullptr)
        return PrimitiveStatusCode::NullPointer;
    if (size.width <= 0 || size.height <= 0)
        return PrimitiveStatusCode::BadSize;
    if (planes[0] == nullptr || planes[1] == nullptr || planes[2] == nullptr)
        return PrimitiveStatusCode::NullPointer;
    const Fixed k = MakeFixed(matrix);
    for (std::int32_t row = 0; row < size.height; ++row) {
        const std::uint8_t* y = planes[0] + static_cast<std::ptrdiff_t>(row) * steps[0];
        const std::uint8_t* u = planes[1] + static_cast<std::ptrdiff_t>(row / 2) * steps[1];
        const std::uint8_t* v = planes[2] + static_cast<std::ptrdiff_t>(row / 2) * steps[2];
        std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(row) * dstStep;
        int done = 0;
#ifdef __SSE2__
        done = RowSse2(k, y, u, v, out, size.width);
#endif
        RowScalar(k, y, u, v, out, done, size.width);
    }
    return PrimitiveStatusCode::Ok;
}
