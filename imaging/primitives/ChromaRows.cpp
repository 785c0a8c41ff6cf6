#include "imaging/primitives/ChromaRows.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "imaging/primitives/detail/UniformTable.h"

namespace primitives_detail {
namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;

// Outputs [from, count) of the two forms, one sample at a time.
inline void DownH2V2Tail(const std::uint8_t* a, const std::uint8_t* b, std::int32_t from, std::int32_t count,
                         std::uint8_t* out)
{
    for (std::int32_t k = from; k < count; ++k) {
        const int bias = (k & 1) != 0 ? 2 : 1;
        out[k] = static_cast<std::uint8_t>((a[2 * k] + a[2 * k + 1] + b[2 * k] + b[2 * k + 1] + bias) >> 2);
    }
}

inline void DownH2V1Tail(const std::uint8_t* s, std::int32_t from, std::int32_t count, int evenBias,
                         std::uint8_t* out)
{
    for (std::int32_t k = from; k < count; ++k) {
        const int bias = (k & 1) != 0 ? 1 - evenBias : evenBias;
        out[k] = static_cast<std::uint8_t>((s[2 * k] + s[2 * k + 1] + bias) >> 1);
    }
}

using H2V2Rows = void (*)(const std::uint8_t*, const std::uint8_t*, std::int32_t, std::uint8_t*);
using H2V1Row = void (*)(const std::uint8_t*, std::int32_t, std::uint8_t*);

void H2V2Portable(const std::uint8_t* a, const std::uint8_t* b, std::int32_t count, std::uint8_t* out)
{
    DownH2V2Tail(a, b, 0, count, out);
}

void H2V1Portable(const std::uint8_t* s, std::int32_t count, std::uint8_t* out)
{
    DownH2V1Tail(s, 0, count, 0, out);
}

#if defined(__x86_64__)
// Eight outputs per step from sums of byte pairs; the bias lanes start at an
// even output index, so they follow the index whatever the address.
__attribute__((target("ssse3"))) void H2V2Ssse3(const std::uint8_t* a, const std::uint8_t* b, std::int32_t count,
                                                std::uint8_t* out)
{
    const __m128i ones = _mm_set1_epi8(1);
    const __m128i bias = _mm_setr_epi16(1, 2, 1, 2, 1, 2, 1, 2);
    std::int32_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m128i sa = _mm_maddubs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * k)), ones);
        const __m128i sb = _mm_maddubs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * k)), ones);
        const __m128i sum = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(sa, sb), bias), 2);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(sum, sum));
    }
    DownH2V2Tail(a, b, k, count, out);
}

__attribute__((target("ssse3"))) void H2V1Ssse3(const std::uint8_t* s, std::int32_t count, std::uint8_t* out)
{
    const __m128i ones = _mm_set1_epi8(1);
    const __m128i bias = _mm_setr_epi16(0, 1, 0, 1, 0, 1, 0, 1);
    std::int32_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m128i sum = _mm_maddubs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * k)), ones);
        const __m128i half = _mm_srli_epi16(_mm_add_epi16(sum, bias), 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(half, half));
    }
    DownH2V1Tail(s, k, count, 0, out);
}
#endif

template <H2V2Rows Rows>
Status DownH2V2(const std::uint8_t* a, const std::uint8_t* b, std::int32_t length, std::uint8_t* out)
{
    if (a == nullptr || b == nullptr || out == nullptr)
        return Code::NullPointer;
    if (length <= 0)
        return Code::BadSize;
    Rows(a, b, length / 2, out);
    return Code::Ok;
}

template <H2V1Row Row>
Status DownH2V1(const std::uint8_t* s, std::int32_t length, std::uint8_t* out)
{
    if (s == nullptr || out == nullptr)
        return Code::NullPointer;
    if (length <= 0)
        return Code::BadSize;
    // Short rows end on bias 0 and alternate backwards from there, which
    // reverses the pattern for rows of 4, 8 and 12 samples.
    if (length == 4 || length == 8 || length == 12)
        DownH2V1Tail(s, 0, length / 2, 1, out);
    else
        Row(s, length / 2, out);
    return Code::Ok;
}

// Interior samples j of [1, end) of the 1-D up-sampling; returns the first j
// not done.
using H2V1Inner = std::int32_t(const std::uint8_t* s, std::int32_t end, std::uint8_t* out);
inline std::int32_t H2V1InnerNone(const std::uint8_t*, std::int32_t, std::uint8_t*) { return 1; }

// Interior samples of the 2-D up-sampling.
using H2V2Inner = std::int32_t(const std::uint8_t* p, const std::uint8_t* f, std::int32_t end, std::uint8_t* out);
inline std::int32_t H2V2InnerNone(const std::uint8_t*, const std::uint8_t*, std::int32_t, std::uint8_t*) { return 1; }

// The portable interior: 32 samples at a time as loops of a fixed count the
// compiler may vectorise (the same formulas as the row walk); reads reach
// j - 1 and j + 32.
inline std::int32_t H2V2InnerChunks(const std::uint8_t* p, const std::uint8_t* f, std::int32_t end,
                                    std::uint8_t* out)
{
    constexpr std::int32_t kChunk = 32;
    std::int32_t j = 1;
    for (; j + kChunk <= end; j += kChunk) {
        std::int32_t c[kChunk + 2];
        for (std::int32_t i = 0; i < kChunk + 2; ++i)
            c[i] = 3 * p[j - 1 + i] + f[j - 1 + i];
        std::uint8_t even[kChunk], odd[kChunk];
        for (std::int32_t i = 0; i < kChunk; ++i) {
            even[i] = static_cast<std::uint8_t>((3 * c[i + 1] + c[i] + 8) >> 4);
            odd[i] = static_cast<std::uint8_t>((3 * c[i + 1] + c[i + 2] + 7) >> 4);
        }
        for (std::int32_t i = 0; i < kChunk; ++i) {
            out[2 * (j + i)] = even[i];
            out[2 * (j + i) + 1] = odd[i];
        }
    }
    return j;
}

#if defined(__x86_64__)
// Eight interior samples at a time; the loads reach j - 1 and j + 8.
std::int32_t H2V1InnerSse2(const std::uint8_t* s, std::int32_t end, std::uint8_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi16(1), two = _mm_set1_epi16(2);
    std::int32_t j = 1;
    for (; j + 8 <= end; j += 8) {
        const auto load = [&](std::int32_t at) {
            return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + at)), zero);
        };
        const __m128i c = load(j), previous = load(j - 1), next = load(j + 1);
        const __m128i c3 = _mm_add_epi16(_mm_add_epi16(c, c), c);
        const __m128i even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(c3, previous), one), 2);
        const __m128i odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(c3, next), two), 2);
        const __m128i packed = _mm_packus_epi16(even, odd);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * j), _mm_unpacklo_epi8(packed, _mm_srli_si128(packed, 8)));
    }
    return j;
}

std::int32_t H2V2InnerSse2(const std::uint8_t* p, const std::uint8_t* f, std::int32_t end, std::uint8_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i seven = _mm_set1_epi16(7), eight = _mm_set1_epi16(8);
    std::int32_t j = 1;
    for (; j + 8 <= end; j += 8) {
        // 3 x nearer + farther of columns at, at + 1, ...
        const auto column = [&](std::int32_t at) {
            const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + at)), zero);
            const __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(f + at)), zero);
            return _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(a, a), a), b);
        };
        const __m128i c = column(j), previous = column(j - 1), next = column(j + 1);
        const __m128i c3 = _mm_add_epi16(_mm_add_epi16(c, c), c);
        const __m128i even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(c3, previous), eight), 4);
        const __m128i odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(c3, next), seven), 4);
        const __m128i packed = _mm_packus_epi16(even, odd);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * j), _mm_unpacklo_epi8(packed, _mm_srli_si128(packed, 8)));
    }
    return j;
}

// 3 x nearer + farther of sixteen columns from `at`.
__attribute__((target("avx2"))) inline __m256i ColumnSumAvx2(const std::uint8_t* p, const std::uint8_t* f,
                                                             std::int32_t at)
{
    const __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)));
    const __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(f + at)));
    return _mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(a, a), a), b);
}

// Sixteen interior samples at a time, then the SSE2 steps. Each column sum
// is made once: the neighbours of a step's sixteen come from the step
// before (its last sum) and the step after (its first), shifted in.
__attribute__((target("avx2"))) std::int32_t H2V2InnerAvx2(const std::uint8_t* p, const std::uint8_t* f,
                                                           std::int32_t end, std::uint8_t* out)
{
    const __m256i seven = _mm256_set1_epi16(7), eight = _mm256_set1_epi16(8);
    std::int32_t j = 1;
    if (j + 16 <= end) {
        // Only its last sum, that of column 0, is read.
        __m256i before = _mm256_set1_epi16(static_cast<std::int16_t>(3 * p[0] + f[0]));
        __m256i c = ColumnSumAvx2(p, f, j);
        for (; j + 16 <= end; j += 16) {
            // The next step's sums, where its sixteen columns lie inside
            // the row (end is the last column).
            const bool inside = j + 31 <= end;
            const __m256i after = inside ? ColumnSumAvx2(p, f, j + 16) : c;
            const __m256i previous = _mm256_alignr_epi8(c, _mm256_permute2x128_si256(before, c, 0x21), 14);
            const __m256i next = inside ? _mm256_alignr_epi8(_mm256_permute2x128_si256(c, after, 0x21), c, 2)
                                        : ColumnSumAvx2(p, f, j + 1);
            const __m256i c3 = _mm256_add_epi16(_mm256_add_epi16(c, c), c);
            const __m256i even = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(c3, previous), eight), 4);
            const __m256i odd = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(c3, next), seven), 4);
            // Interleaved words of lane 0 hold samples j..j+7, lane 1 j+8..j+15.
            const __m256i low = _mm256_unpacklo_epi16(even, odd), high = _mm256_unpackhi_epi16(even, odd);
            const __m256i bytes = _mm256_packus_epi16(low, high);  // lane 0: j..j+7, lane 1: j+8..j+15
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * j), bytes);
            before = c;
            c = after;
        }
    }
    const std::int32_t done = j;
    if (done + 8 <= end)
        j = done - 1 + H2V2InnerSse2(p + done - 1, f + done - 1, end - done + 1, out + 2 * (done - 1));
    return j;
}
#endif

template <H2V1Inner Inner>
Status UpH2V1(const std::uint8_t* s, std::int32_t n, std::uint8_t* out)
{
    if (s == nullptr || out == nullptr)
        return Code::NullPointer;
    if (n < 1)
        return Code::BadSize;
    if (n == 1) {
        out[0] = out[1] = s[0];
        return Code::Ok;
    }
    out[0] = s[0];
    out[1] = static_cast<std::uint8_t>((3 * s[0] + s[1] + 2) >> 2);
    for (std::int32_t j = Inner(s, n - 1, out); j < n - 1; ++j) {
        out[2 * j] = static_cast<std::uint8_t>((3 * s[j] + s[j - 1] + 1) >> 2);
        out[2 * j + 1] = static_cast<std::uint8_t>((3 * s[j] + s[j + 1] + 2) >> 2);
    }
    out[2 * n - 2] = static_cast<std::uint8_t>((3 * s[n - 1] + s[n - 2] + 1) >> 2);
    out[2 * n - 1] = s[n - 1];
    return Code::Ok;
}

template <H2V2Inner Inner>
Status UpH2V2(const std::uint8_t* p, const std::uint8_t* f, std::int32_t n, std::uint8_t* out)
{
    if (p == nullptr || f == nullptr || out == nullptr)
        return Code::NullPointer;
    if (n < 1)
        return Code::BadSize;
    auto c = [&](std::int32_t j) { return 3 * p[j] + f[j]; };
    if (n == 1) {
        out[0] = static_cast<std::uint8_t>((4 * c(0) + 8) >> 4);
        out[1] = static_cast<std::uint8_t>((4 * c(0) + 7) >> 4);
        return Code::Ok;
    }
    out[0] = static_cast<std::uint8_t>((4 * c(0) + 8) >> 4);
    out[1] = static_cast<std::uint8_t>((3 * c(0) + c(1) + 7) >> 4);
    for (std::int32_t j = Inner(p, f, n - 1, out); j < n - 1; ++j) {
        out[2 * j] = static_cast<std::uint8_t>((3 * c(j) + c(j - 1) + 8) >> 4);
        out[2 * j + 1] = static_cast<std::uint8_t>((3 * c(j) + c(j + 1) + 7) >> 4);
    }
    out[2 * n - 2] = static_cast<std::uint8_t>((3 * c(n - 1) + c(n - 2) + 8) >> 4);
    out[2 * n - 1] = static_cast<std::uint8_t>((4 * c(n - 1) + 7) >> 4);
    return Code::Ok;
}

using TwoRows = Status(const std::uint8_t*, const std::uint8_t*, std::int32_t, std::uint8_t*);
using OneRow = Status(const std::uint8_t*, std::int32_t, std::uint8_t*);

#if defined(__x86_64__)
constexpr TwoRows* kDownH2V2Vector = &DownH2V2<&H2V2Ssse3>;
constexpr OneRow* kDownH2V1Vector = &DownH2V1<&H2V1Ssse3>;
#else
constexpr TwoRows* kDownH2V2Vector = &DownH2V2<&H2V2Portable>;
constexpr OneRow* kDownH2V1Vector = &DownH2V1<&H2V1Portable>;
#endif
constexpr TwoRows* kDownH2V2Portable = &DownH2V2<&H2V2Portable>;
constexpr OneRow* kDownH2V1Portable = &DownH2V1<&H2V1Portable>;
constexpr CpuDispatchTable<TwoRows> kDownH2V2 = {kDownH2V2Portable, kDownH2V2Portable, kDownH2V2Vector,
                                                 kDownH2V2Vector,   kDownH2V2Vector,   kDownH2V2Vector};
constexpr CpuDispatchTable<OneRow> kDownH2V1 = {kDownH2V1Portable, kDownH2V1Portable, kDownH2V1Vector,
                                                kDownH2V1Vector,   kDownH2V1Vector,   kDownH2V1Vector};
#if defined(__x86_64__)
constexpr TwoRows* kUpH2V2Vector = &UpH2V2<&H2V2InnerSse2>;
constexpr TwoRows* kUpH2V2Avx2 = &UpH2V2<&H2V2InnerAvx2>;
constexpr OneRow* kUpH2V1Vector = &UpH2V1<&H2V1InnerSse2>;
#else
constexpr TwoRows* kUpH2V2Vector = &UpH2V2<&H2V2InnerChunks>;
constexpr TwoRows* kUpH2V2Avx2 = kUpH2V2Vector;
constexpr OneRow* kUpH2V1Vector = &UpH2V1<&H2V1InnerNone>;
#endif
constexpr TwoRows* kUpH2V2Portable = &UpH2V2<&H2V2InnerChunks>;
constexpr OneRow* kUpH2V1Portable = &UpH2V1<&H2V1InnerNone>;
constexpr CpuDispatchTable<TwoRows> kUpH2V2 = {kUpH2V2Portable, kUpH2V2Portable, kUpH2V2Vector,
                                               kUpH2V2Vector,   kUpH2V2Vector,   kUpH2V2Avx2};
constexpr CpuDispatchTable<OneRow> kUpH2V1 = {kUpH2V1Portable, kUpH2V1Portable, kUpH2V1Vector,
                                              kUpH2V1Vector,   kUpH2V1Vector,   kUpH2V1Vector};

}  // namespace
}  // namespace primitives_detail

PrimitiveStatus DownsampleRowH2V2(const std::uint8_t* upper, const std::uint8_t* lower, std::int32_t length,
                                  std::uint8_t* dst)
{
    return DispatchCall(primitives_detail::kDownH2V2, upper, lower, length, dst);
}

PrimitiveStatus DownsampleRowH2V1(const std::uint8_t* src, std::int32_t length, std::uint8_t* dst)
{
    return DispatchCall(primitives_detail::kDownH2V1, src, length, dst);
}

PrimitiveStatus UpsampleRowH2V2(const std::uint8_t* nearer, const std::uint8_t* farther, std::int32_t length,
                                std::uint8_t* dst)
{
    return DispatchCall(primitives_detail::kUpH2V2, nearer, farther, length, dst);
}

PrimitiveStatus UpsampleRowH2V1(const std::uint8_t* src, std::int32_t length, std::uint8_t* dst)
{
    return DispatchCall(primitives_detail::kUpH2V1, src, length, dst);
}
