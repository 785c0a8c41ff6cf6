// Vector row adders of the 8-bit super-sampling routines. Each gives the bits
// of PortableRowAdd: integers convert to float and double exactly, products
// are formed in double and rounded to float by the default rounding, and each
// accumulator element receives one addition.
#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "imaging/primitives/resize/detail/SuperSample.h"

namespace resize_detail {

void RowAdd8uSse2::Whole(const std::uint8_t* s, std::int32_t n, float* acc)
{
    const __m128i zero = _mm_setzero_si128();
    std::int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i lo = _mm_unpacklo_epi8(bytes, zero);
        const __m128i hi = _mm_unpackhi_epi8(bytes, zero);
        const __m128i parts[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero),
                                  _mm_unpacklo_epi16(hi, zero), _mm_unpackhi_epi16(hi, zero)};
        for (int k = 0; k < 4; ++k) {
            float* a = acc + i + 4 * k;
            _mm_storeu_ps(a, _mm_add_ps(_mm_loadu_ps(a), _mm_cvtepi32_ps(parts[k])));
        }
    }
    for (; i < n; ++i)
        acc[i] += static_cast<float>(s[i]);
}

void RowAdd8uSse2::Weighted(const std::uint8_t* s, std::int32_t n, double w, float* acc)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128d weight = _mm_set1_pd(w);
    std::int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        std::int32_t four;
        std::memcpy(&four, s + i, 4);
        const __m128i x = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero), zero);
        const __m128d d0 = _mm_mul_pd(_mm_cvtepi32_pd(x), weight);
        const __m128d d1 = _mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(x, 8)), weight);
        const __m128 f = _mm_movelh_ps(_mm_cvtpd_ps(d0), _mm_cvtpd_ps(d1));
        _mm_storeu_ps(acc + i, _mm_add_ps(_mm_loadu_ps(acc + i), f));
    }
    for (; i < n; ++i)
        acc[i] += static_cast<float>(static_cast<double>(s[i]) * w);
}

__attribute__((target("avx2"))) void RowAdd8uAvx2::Whole(const std::uint8_t* s, std::int32_t n, float* acc)
{
    std::int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i x = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i)));
        _mm256_storeu_ps(acc + i, _mm256_add_ps(_mm256_loadu_ps(acc + i), _mm256_cvtepi32_ps(x)));
    }
    for (; i < n; ++i)
        acc[i] += static_cast<float>(s[i]);
}

namespace {

// True when every product of an 8-bit sample and w is a float: w is a float
// with at most 16 significant bits. Such products rounded from double are
// the float products themselves.
bool FloatProductsExact(double w)
{
    const auto f = static_cast<float>(w);
    if (static_cast<double>(f) != w || !(f > 0.0f))
        return false;
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    if ((bits >> 23) == 0)
        return false;  // subnormal
    const std::uint32_t mantissa = (bits & 0x7FFFFFu) | 0x800000u;
    return 24 - __builtin_ctz(mantissa) <= 16;
}

}  // namespace

__attribute__((target("avx2"))) void RowAdd8uAvx2::Weighted(const std::uint8_t* s, std::int32_t n, double w,
                                                            float* acc)
{
    std::int32_t i = 0;
    if (FloatProductsExact(w)) {
        const __m256 weight = _mm256_set1_ps(static_cast<float>(w));
        for (; i + 8 <= n; i += 8) {
            const __m256i x = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i)));
            _mm256_storeu_ps(acc + i,
                             _mm256_add_ps(_mm256_loadu_ps(acc + i), _mm256_mul_ps(_mm256_cvtepi32_ps(x), weight)));
        }
    }
    const __m256d weight = _mm256_set1_pd(w);
    for (; i + 8 <= n; i += 8) {
        const __m256i x = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i)));
        const __m256d d0 = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(x)), weight);
        const __m256d d1 = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(x, 1)), weight);
        const __m256 f = _mm256_set_m128(_mm256_cvtpd_ps(d1), _mm256_cvtpd_ps(d0));
        _mm256_storeu_ps(acc + i, _mm256_add_ps(_mm256_loadu_ps(acc + i), f));
    }
    for (; i < n; ++i)
        acc[i] += static_cast<float>(static_cast<double>(s[i]) * w);
}

__attribute__((target("avx2"))) void RowAdd8uAvx2::WholeFirst(const std::uint8_t* s, std::int32_t n, float* acc)
{
    std::int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i x = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i)));
        _mm256_storeu_ps(acc + i, _mm256_cvtepi32_ps(x));
    }
    for (; i < n; ++i)
        acc[i] = static_cast<float>(s[i]);
}

__attribute__((target("avx2"))) void RowAdd8uAvx2::WeightedFirst(const std::uint8_t* s, std::int32_t n, double w,
                                                                 float* acc)
{
    std::int32_t i = 0;
    if (FloatProductsExact(w)) {
        const __m256 weight = _mm256_set1_ps(static_cast<float>(w));
        for (; i + 8 <= n; i += 8) {
            const __m256i x = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i)));
            _mm256_storeu_ps(acc + i, _mm256_mul_ps(_mm256_cvtepi32_ps(x), weight));
        }
    }
    const __m256d weight = _mm256_set1_pd(w);
    for (; i + 8 <= n; i += 8) {
        const __m256i x = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i)));
        const __m256d d0 = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(x)), weight);
        const __m256d d1 = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(x, 1)), weight);
        _mm256_storeu_ps(acc + i, _mm256_set_m128(_mm256_cvtpd_ps(d1), _mm256_cvtpd_ps(d0)));
    }
    for (; i < n; ++i)
        acc[i] = static_cast<float>(static_cast<double>(s[i]) * w);
}

namespace {

// One four-channel box's sums in double, in the routine's order.
__attribute__((target("avx2"))) inline __m256d BoxSumFour(const ColumnBox& box, const float* acc, std::int32_t e)
{
    __m256d sum = box.hasHead ? _mm256_mul_pd(_mm256_set1_pd(box.headWeight),
                                              _mm256_cvtps_pd(_mm_loadu_ps(acc + 4 * box.head)))
                              : _mm256_setzero_pd();
    for (std::int64_t i = box.from; i < box.to; ++i)
        sum = _mm256_add_pd(sum, _mm256_cvtps_pd(_mm_loadu_ps(acc + 4 * i)));
    if (box.repeat > 0)
        sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_set1_pd(static_cast<double>(box.repeat)),
                                               _mm256_cvtps_pd(_mm_loadu_ps(acc + 4 * (e - 1)))));
    if (box.hasTail)
        sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_set1_pd(box.tailWeight),
                                               _mm256_cvtps_pd(_mm_loadu_ps(acc + 4 * box.tail))));
    return sum;
}

// trunc(clamp(sum x norm + 0.5)) of four channels as 32-bit lanes.
__attribute__((target("avx2"))) inline __m128i RoundFour(__m256d sum, __m256d scale)
{
    const __m256d v = _mm256_min_pd(_mm256_max_pd(_mm256_add_pd(_mm256_mul_pd(sum, scale), _mm256_set1_pd(0.5)),
                                                  _mm256_setzero_pd()),
                                    _mm256_set1_pd(255.0));
    return _mm256_cvttpd_epi32(v);
}

}  // namespace

// Two pixels a step share the packing and the store.
__attribute__((target("avx2"))) void RowAdd8uAvx2::CollapseFour(const ColumnBox* boxes, std::int32_t width,
                                                                 const float* acc, std::int32_t e, double norm,
                                                                 std::uint8_t* out)
{
    const __m256d scale = _mm256_set1_pd(norm);
    std::int32_t m = 0;
    for (; m + 2 <= width; m += 2) {
        const __m128i left = RoundFour(BoxSumFour(boxes[m], acc, e), scale);
        const __m128i right = RoundFour(BoxSumFour(boxes[m + 1], acc, e), scale);
        const __m128i words = _mm_packs_epi32(left, right);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * m), _mm_packus_epi16(words, words));
    }
    if (m < width) {
        const __m128i words = RoundFour(BoxSumFour(boxes[m], acc, e), scale);
        const std::int32_t four = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(words, words), words));
        std::memcpy(out + 4 * m, &four, 4);
    }
}

__attribute__((target("avx2"))) void RowAdd8uAvx2::CollapseOne(const ColumnTaps& taps, const float* acc, double norm,
                                                                std::uint8_t* out)
{
    const __m256d scale = _mm256_set1_pd(norm);
    const __m256d half = _mm256_set1_pd(0.5);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d top = _mm256_set1_pd(255.0);
    const std::int32_t width = taps.width;
    std::int32_t m = 0;
    for (; m + 4 <= width; m += 4) {
        __m256d sum = zero;
        for (std::int32_t k = 0; k < taps.count; ++k) {
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(k) * width + m;
            // Four loads: on several processors a gather costs more.
            const std::int32_t* index = taps.index + at;
            const __m256d samples =
                _mm256_cvtps_pd(_mm_setr_ps(acc[index[0]], acc[index[1]], acc[index[2]], acc[index[3]]));
            sum = _mm256_add_pd(sum, _mm256_mul_pd(samples, _mm256_loadu_pd(taps.weight + at)));
        }
        const __m256d v = _mm256_min_pd(_mm256_max_pd(_mm256_add_pd(_mm256_mul_pd(sum, scale), half), zero), top);
        const __m128i words = _mm256_cvttpd_epi32(v);
        const std::int32_t four = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(words, words), words));
        std::memcpy(out + m, &four, 4);
    }
    for (; m < width; ++m) {
        double sum = 0.0;
        for (std::int32_t k = 0; k < taps.count; ++k) {
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(k) * width + m;
            sum += static_cast<double>(acc[taps.index[at]]) * taps.weight[at];
        }
        const double v = std::min(std::max(sum * norm + 0.5, 0.0), 255.0);
        out[m] = static_cast<std::uint8_t>(static_cast<std::int32_t>(v));
    }
}

// Whole boxes in 16-bit sums.

void RowAdd8uSse2::SumRows16(const std::uint8_t* first, std::int32_t stepBytes, std::int32_t rows, std::int32_t n,
                             std::uint16_t* acc)
{
    const __m128i zero = _mm_setzero_si128();
    std::int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i lo = zero;
        __m128i hi = zero;
        const std::uint8_t* s = first + i;
        for (std::int32_t r = 0; r < rows; ++r, s += stepBytes) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
            lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(bytes, zero));
            hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(bytes, zero));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(acc + i), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(acc + i + 8), hi);
    }
    for (; i < n; ++i) {
        std::uint32_t sum = 0;
        const std::uint8_t* s = first + i;
        for (std::int32_t r = 0; r < rows; ++r, s += stepBytes)
            sum += *s;
        acc[i] = static_cast<std::uint16_t>(sum);
    }
}

namespace {

// Four-channel whole boxes, two destination pixels a vector: the sums of the
// box's accumulator pixels, then the rounding in 16-bit lanes (sums and
// sum + offset stay below 2^16, so unsigned lanes hold them).
inline void CollapseFourPairs(const std::uint16_t* acc, std::int32_t width, std::int32_t mx,
                              const WholeBoxRounding& rounding, std::uint8_t* out)
{
    const __m128i offset = _mm_set1_epi16(static_cast<short>(rounding.offset));
    const __m128i multiplier = _mm_set1_epi16(static_cast<short>(rounding.multiplier));
    const __m128i shift = _mm_cvtsi32_si128(rounding.shift);
    const std::ptrdiff_t box = 4 * static_cast<std::ptrdiff_t>(mx);
    std::int32_t m = 0;
    auto round = [&](__m128i sum) {
        const __m128i q = _mm_srl_epi16(_mm_mulhi_epu16(_mm_add_epi16(sum, offset), multiplier), shift);
        return _mm_packus_epi16(q, q);
    };
    for (; m + 2 <= width; m += 2) {
        const std::uint16_t* left = acc + box * m;
        const std::uint16_t* right = left + box;
        __m128i sum = _mm_setzero_si128();
        for (std::int32_t j = 0; j < mx; ++j)
            sum = _mm_add_epi16(sum, _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(left + 4 * j)),
                                                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(right + 4 * j))));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * m), round(sum));
    }
    for (; m < width; ++m) {
        const std::uint16_t* left = acc + box * m;
        __m128i sum = _mm_setzero_si128();
        for (std::int32_t j = 0; j < mx; ++j)
            sum = _mm_add_epi16(sum, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(left + 4 * j)));
        const std::int32_t four = _mm_cvtsi128_si32(round(sum));
        std::memcpy(out + 4 * m, &four, 4);
    }
}

}  // namespace

void RowAdd8uSse2::Collapse4(const std::uint16_t* acc, std::int32_t width, std::int32_t mx,
                             const WholeBoxRounding& rounding, std::uint8_t* out)
{
    CollapseFourPairs(acc, width, mx, rounding, out);
}

__attribute__((target("avx2"))) void RowAdd8uAvx2::SumRows16(const std::uint8_t* first, std::int32_t stepBytes,
                                                             std::int32_t rows, std::int32_t n, std::uint16_t* acc)
{
    std::int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i lo = _mm256_setzero_si256();
        __m256i hi = _mm256_setzero_si256();
        const std::uint8_t* s = first + i;
        for (std::int32_t r = 0; r < rows; ++r, s += stepBytes) {
            lo = _mm256_add_epi16(lo, _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s))));
            hi = _mm256_add_epi16(hi,
                                  _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16))));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + i), lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + i + 16), hi);
    }
    RowAdd8uSse2::SumRows16(first + i, stepBytes, rows, n - i, acc + i);
}

// Boxes two and three pixels wide, four destination pixels a vector: each
// accumulator pixel is one 64-bit lane, so blends and lane permutes line up
// the pixels of the four boxes.
__attribute__((target("avx2"))) void RowAdd8uAvx2::Collapse4(const std::uint16_t* acc, std::int32_t width,
                                                             std::int32_t mx, const WholeBoxRounding& rounding,
                                                             std::uint8_t* out)
{
    if (mx != 2 && mx != 3) {
        CollapseFourPairs(acc, width, mx, rounding, out);
        return;
    }
    const __m256i offset = _mm256_set1_epi16(static_cast<short>(rounding.offset));
    const __m256i multiplier = _mm256_set1_epi16(static_cast<short>(rounding.multiplier));
    const __m128i shift = _mm_cvtsi32_si128(rounding.shift);
    std::int32_t m = 0;
    for (; m + 4 <= width; m += 4) {
        const auto* p = reinterpret_cast<const __m256i*>(acc + 4 * static_cast<std::ptrdiff_t>(m) * mx);
        const __m256i a = _mm256_loadu_si256(p);
        const __m256i b = _mm256_loadu_si256(p + 1);
        __m256i sum;
        if (mx == 2) {
            // [p0+p1 p4+p5 | p2+p3 p6+p7], then boxes in order.
            sum = _mm256_permute4x64_epi64(_mm256_add_epi16(_mm256_unpacklo_epi64(a, b), _mm256_unpackhi_epi64(a, b)),
                                           0xD8);
        } else {
            const __m256i c = _mm256_loadu_si256(p + 2);
            // a = p0..p3, b = p4..p7, c = p8..p11; first, second and third
            // pixels of the boxes.
            const __m256i first =
                _mm256_permute4x64_epi64(_mm256_blend_epi32(_mm256_blend_epi32(a, b, 0x30), c, 0x0C), 0x6C);
            const __m256i second =
                _mm256_permute4x64_epi64(_mm256_blend_epi32(_mm256_blend_epi32(a, b, 0xC3), c, 0x30), 0xB1);
            const __m256i third =
                _mm256_permute4x64_epi64(_mm256_blend_epi32(_mm256_blend_epi32(a, b, 0x0C), c, 0xC3), 0xC6);
            sum = _mm256_add_epi16(_mm256_add_epi16(first, second), third);
        }
        const __m256i q = _mm256_srl_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(sum, offset), multiplier), shift);
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(q, q), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * m), _mm256_castsi256_si128(bytes));
    }
    if (m < width)
        CollapseFourPairs(acc + 4 * static_cast<std::ptrdiff_t>(m) * mx, width - m, mx, rounding, out + 4 * m);
}

// Dyadic boxes in 16-bit sums: products and sums stay below 2^16 (the routine
// checked the largest box), so wrapping 16-bit lanes give the exact values.

__attribute__((target("avx2"))) void RowAdd8uAvx2::WeightedRows16(const std::uint8_t* const* rows,
                                                                  const std::uint16_t* weights, std::int32_t count,
                                                                  std::int32_t n, std::uint16_t* acc)
{
    if (count == 0) {
        std::fill(acc, acc + n, std::uint16_t{0});
        return;
    }
    std::int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i lo = _mm256_setzero_si256();
        __m256i hi = _mm256_setzero_si256();
        for (std::int32_t k = 0; k < count; ++k) {
            const __m256i w = _mm256_set1_epi16(static_cast<short>(weights[k]));
            const std::uint8_t* s = rows[k] + i;
            lo = _mm256_add_epi16(
                lo, _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s))), w));
            hi = _mm256_add_epi16(
                hi, _mm256_mullo_epi16(
                        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16))), w));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + i), lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + i + 16), hi);
    }
    for (; i < n; ++i) {
        std::uint32_t sum = 0;
        for (std::int32_t k = 0; k < count; ++k)
            sum += std::uint32_t{weights[k]} * rows[k][i];
        acc[i] = static_cast<std::uint16_t>(sum);
    }
}

__attribute__((target("avx2"))) void RowAdd8uAvx2::CollapseSpan4(const std::uint16_t* acc,
                                                                 const std::int32_t* start,
                                                                 const std::uint16_t* weights, std::int32_t width,
                                                                 const WholeBoxRounding& rounding,
                                                                 std::uint8_t* out)
{
    const __m256i offset = _mm256_set1_epi16(static_cast<short>(rounding.offset));
    const __m256i multiplier = _mm256_set1_epi16(static_cast<short>(rounding.multiplier));
    const __m128i shift = _mm_cvtsi32_si128(rounding.shift);
    std::int32_t m = 0;
    for (; m + 4 <= width; m += 4) {
        // Lane halves: pixel m | m + 1 and m + 2 | m + 3, each its two
        // accumulator pixels (eight values) times their weights.
        const __m256i a01 = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(acc + 4 * start[m + 1]),
                                                reinterpret_cast<const __m128i*>(acc + 4 * start[m]));
        const __m256i a23 = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(acc + 4 * start[m + 3]),
                                                reinterpret_cast<const __m128i*>(acc + 4 * start[m + 2]));
        const __m256i p01 =
            _mm256_mullo_epi16(a01, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + 8 * m)));
        const __m256i p23 =
            _mm256_mullo_epi16(a23, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + 8 * m + 16)));
        // Low half: pixels m, m + 2; high half: m + 1, m + 3.
        const __m256i sum = _mm256_add_epi16(_mm256_unpacklo_epi64(p01, p23), _mm256_unpackhi_epi64(p01, p23));
        const __m256i q = _mm256_srl_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(sum, offset), multiplier), shift);
        const __m256i bytes = _mm256_packus_epi16(q, q);
        const __m128i pixels =
            _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * m), pixels);
    }
    PortableSpanBoxes::CollapseSpan4(acc, start + m, weights + 8 * m, width - m, rounding, out + 4 * m);
}

}  // namespace resize_detail

#endif
