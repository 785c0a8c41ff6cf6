#include "imaging/primitives/JpegColor.h"

#include <algorithm>
#include <array>
#include <cstddef>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "imaging/primitives/detail/CopyKernels.h"
#include "imaging/primitives/detail/UniformTable.h"

// JFIF: Y = 0.299 R + 0.587 G + 0.114 B, Cb = -0.16874 R - 0.33126 G + 0.5 B
// + 128, Cr = 0.5 R - 0.41869 G - 0.08131 B + 128, and the inverse R = Y +
// 1.402 (Cr - 128), G = Y - 0.34414 (Cb - 128) - 0.71414 (Cr - 128), B = Y +
// 1.772 (Cb - 128), in the fixed-point forms below (>> rounds towards minus
// infinity). The forms differ by at most one level; the rounding terms are
// part of the stored results and must not be "corrected".

namespace primitives_detail {
namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;

struct Ycc {
    std::uint8_t y, cb, cr;
};
struct Rgb {
    std::uint8_t r, g, b;
};

// Form A, 14-bit.
inline Ycc FormA(int r, int g, int b)
{
    return {ClampByte((4899 * r + 9617 * g + 1868 * b + 8192) >> 14),
            ClampByte((-2764 * r - 5428 * g + 8192 * b + 2105344) >> 14),
            ClampByte((8192 * r - 6860 * g - 1332 * b + 2105344) >> 14)};
}

// Form B, 15-bit (the vector form).
inline int FormBY(int r, int g, int b)
{
    return ClampByte((9798 * r + 19235 * g + 3736 * b + 16266) >> 15);
}
inline Ycc FormB(int r, int g, int b)
{
    return {static_cast<std::uint8_t>(FormBY(r, g, b)),
            ClampByte((-5529 * r - 10855 * g + 16384 * b + 4210688) >> 15),
            ClampByte((16384 * r - 13720 * g - 2664 * b + 4210704) >> 15)};
}

// Form C, 16-bit; in range without clamping.
inline Ycc FormC(int r, int g, int b)
{
    return {static_cast<std::uint8_t>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16),
            static_cast<std::uint8_t>(((-11059 * r - 21709 * g + 32768 * b + 16384) >> 16) + 128),
            static_cast<std::uint8_t>(((32768 * r - 27439 * g - 5329 * b + 16384) >> 16) + 128)};
}

// Form D, 14-bit (the vector form of the inverse).
inline Rgb FormD(int y, int cb, int cr)
{
    return {ClampByte(y + ((22970 * cr - 2932015) >> 14)), ClampByte(y + ((-5638 * cb - 11700 * cr + 2227566) >> 14)),
            ClampByte(y + ((29032 * cb - 3707961) >> 14))};
}

// The per-index terms of form E.
struct InverseTables {
    std::array<std::int32_t, 256> red, blue, greenCr, greenCb;
    constexpr InverseTables() : red{}, blue{}, greenCr{}, greenCb{}
    {
        for (int i = 0; i < 256; ++i) {
            const int c = i - 128;
            red[i] = (91881 * c + 32768) >> 16;
            blue[i] = (116130 * c + 32768) >> 16;
            greenCr[i] = -46802 * c;
            greenCb[i] = -22554 * c + 32768;
        }
    }
};
constexpr InverseTables kInverse;

inline Rgb FormE(int y, int cb, int cr)
{
    return {ClampByte(y + kInverse.red[cr]), ClampByte(y + ((kInverse.greenCb[cb] + kInverse.greenCr[cr]) >> 16)),
            ClampByte(y + kInverse.blue[cb])};
}

// Form F, 16.16.
inline Rgb FormF(int y, int cb, int cr)
{
    return {ClampByte((65536 * y + 91880 * cr - 11727880) >> 16),
            ClampByte((65536 * y - 22553 * cb - 46801 * cr + 8910128) >> 16),
            ClampByte((65536 * y + 116128 * cb - 14831618) >> 16)};
}

// Form G, 14-bit, of the YCCK conversion.
inline Rgb FormG(int y, int cb, int cr)
{
    return {ClampByte(y + ((22970 * cr - 2932015) >> 14)), ClampByte(y - ((5638 * cb + 11700 * cr - 2211182) >> 14)),
            ClampByte(y + ((29032 * cb - 3708561) >> 14))};
}

inline std::ptrdiff_t Offset(std::int32_t row, std::int32_t step)
{
    return static_cast<std::ptrdiff_t>(row) * step;
}

bool AnyNull(const std::uint8_t* const planes[], int count)
{
    for (int i = 0; i < count; ++i)
        if (planes[i] == nullptr)
            return true;
    return false;
}

// Groups of 8 pixels in form B: `groups` x 8 pixels from s into y, cb, cr.
using FormBGroups = void (*)(const std::uint8_t* s, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr,
                             std::int32_t groups);

template <int RedAt>
void FormBGroupsPortable(const std::uint8_t* s, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr,
                         std::int32_t groups)
{
    for (std::int32_t x = 0; x < 8 * groups; ++x, s += 3) {
        const Ycc c = FormB(s[RedAt], s[1], s[2 - RedAt]);
        y[x] = c.y;
        cb[x] = c.cb;
        cr[x] = c.cr;
    }
}

#if defined(__x86_64__)
// Form B on 8 pixels at a time: (R, G) and (B, 0) pairs of 16-bit lanes
// through multiply-add, the sums shifted and packed with the same clamping.
template <int RedAt>
__attribute__((target("ssse3"))) void FormBGroupsSsse3(const std::uint8_t* s, std::uint8_t* y, std::uint8_t* cb,
                                                       std::uint8_t* cr, std::int32_t groups)
{
    constexpr int kB = 2 - RedAt;
    constexpr char Z = static_cast<char>(0x80);
    // Pixels 0..3 from bytes 0..15, pixels 4..7 from bytes 8..23.
    const __m128i rgLow = _mm_setr_epi8(RedAt, Z, 1, Z, 3 + RedAt, Z, 4, Z, 6 + RedAt, Z, 7, Z, 9 + RedAt, Z, 10, Z);
    const __m128i rgHigh =
        _mm_setr_epi8(4 + RedAt, Z, 5, Z, 7 + RedAt, Z, 8, Z, 10 + RedAt, Z, 11, Z, 13 + RedAt, Z, 14, Z);
    const __m128i bLow = _mm_setr_epi8(kB, Z, Z, Z, 3 + kB, Z, Z, Z, 6 + kB, Z, Z, Z, 9 + kB, Z, Z, Z);
    const __m128i bHigh = _mm_setr_epi8(4 + kB, Z, Z, Z, 7 + kB, Z, Z, Z, 10 + kB, Z, Z, Z, 13 + kB, Z, Z, Z);
    const __m128i yRg = _mm_setr_epi16(9798, 19235, 9798, 19235, 9798, 19235, 9798, 19235);
    const __m128i cbRg = _mm_setr_epi16(-5529, -10855, -5529, -10855, -5529, -10855, -5529, -10855);
    const __m128i crRg = _mm_setr_epi16(16384, -13720, 16384, -13720, 16384, -13720, 16384, -13720);
    const __m128i yB = _mm_set1_epi32(3736);
    const __m128i cbB = _mm_set1_epi32(16384);
    const __m128i crB = _mm_set1_epi32(-2664 & 0xFFFF);  // (B, 0) pairs: only the low weight counts
    const __m128i yRound = _mm_set1_epi32(16266);
    const __m128i cbRound = _mm_set1_epi32(4210688);
    const __m128i crRound = _mm_set1_epi32(4210704);
    for (std::int32_t g = 0; g < groups; ++g, s += 24, y += 8, cb += 8, cr += 8) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
        const __m128i rg0 = _mm_shuffle_epi8(first, rgLow), rg1 = _mm_shuffle_epi8(second, rgHigh);
        const __m128i b0 = _mm_shuffle_epi8(first, bLow), b1 = _mm_shuffle_epi8(second, bHigh);
        auto component = [&](__m128i rgWeights, __m128i bWeights, __m128i round) {
            const __m128i lo = _mm_srai_epi32(
                _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(rg0, rgWeights), _mm_madd_epi16(b0, bWeights)), round), 15);
            const __m128i hi = _mm_srai_epi32(
                _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(rg1, rgWeights), _mm_madd_epi16(b1, bWeights)), round), 15);
            const __m128i words = _mm_packs_epi32(lo, hi);
            return _mm_packus_epi16(words, words);
        };
        _mm_storel_epi64(reinterpret_cast<__m128i*>(y), component(yRg, yB, yRound));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cb), component(cbRg, cbB, cbRound));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cr), component(crRg, crB, crRound));
    }
}
#endif

// RGB or BGR pixels (red at byte redAt, blue at 2 - redAt) to three planes:
// whole groups of 8 from the row start in form B, the rest in form A.
template <int RedAt, FormBGroups Groups>
Status ToYCbCrC3(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[3], std::int32_t dstStep,
                 ImageSize size)
{
    if (src == nullptr || dst == nullptr || AnyNull(dst, 3))
        return Code::NullPointer;
    if (srcStep <= 0 || dstStep <= 0)
        return Code::BadStep;
    if (size.width <= 0 || size.height <= 0)
        return Code::BadSize;
    const std::int32_t groups = size.width / 8;
    for (std::int32_t row = 0; row < size.height; ++row) {
        const std::uint8_t* s = src + Offset(row, srcStep);
        std::uint8_t* planes[3] = {dst[0] + Offset(row, dstStep), dst[1] + Offset(row, dstStep),
                                   dst[2] + Offset(row, dstStep)};
        Groups(s, planes[0], planes[1], planes[2], groups);
        for (std::int32_t x = 8 * groups; x < size.width; ++x) {
            const std::uint8_t* p = s + 3 * x;
            const Ycc c = FormA(p[RedAt], p[1], p[2 - RedAt]);
            planes[0][x] = c.y;
            planes[1][x] = c.cb;
            planes[2][x] = c.cr;
        }
    }
    return Code::Ok;
}

Status RgbaToYCbCr(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[3], std::int32_t dstStep,
                   ImageSize size)
{
    if (src == nullptr || dst == nullptr || AnyNull(dst, 3))
        return Code::NullPointer;
    if (size.width <= 0 || size.height <= 0)
        return Code::BadSize;
    for (std::int32_t row = 0; row < size.height; ++row) {
        const std::uint8_t* s = src + Offset(row, srcStep);
        for (std::int32_t x = 0; x < size.width; ++x, s += 4) {
            const Ycc c = FormC(s[0], s[1], s[2]);
            dst[0][Offset(row, dstStep) + x] = c.y;
            dst[1][Offset(row, dstStep) + x] = c.cb;
            dst[2][Offset(row, dstStep) + x] = c.cr;
        }
    }
    return Code::Ok;
}

Status RgbToY(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep, ImageSize size)
{
    if (src == nullptr || dst == nullptr)
        return Code::NullPointer;
    if (srcStep <= 0 || dstStep <= 0)
        return Code::BadStep;
    if (size.width <= 0 || size.height <= 0)
        return Code::BadSize;
    for (std::int32_t row = 0; row < size.height; ++row) {
        const std::uint8_t* s = src + Offset(row, srcStep);
        std::uint8_t* d = dst + Offset(row, dstStep);
        for (std::int32_t x = 0; x < size.width; ++x, s += 3)
            d[x] = static_cast<std::uint8_t>(FormBY(s[0], s[1], s[2]));
    }
    return Code::Ok;
}

Status CmykToYcck(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[4], std::int32_t dstStep,
                  ImageSize size)
{
    if (src == nullptr || dst == nullptr || AnyNull(dst, 4))
        return Code::NullPointer;
    if (srcStep <= 0 || dstStep <= 0)
        return Code::BadStep;
    if (size.width <= 0 || size.height <= 0)
        return Code::BadSize;
    for (std::int32_t row = 0; row < size.height; ++row) {
        const std::uint8_t* s = src + Offset(row, srcStep);
        const std::ptrdiff_t o = Offset(row, dstStep);
        for (std::int32_t x = 0; x < size.width; ++x, s += 4) {
            const Ycc c = FormA(255 - s[0], 255 - s[1], 255 - s[2]);
            dst[0][o + x] = c.y;
            dst[1][o + x] = c.cb;
            dst[2][o + x] = c.cr;
            dst[3][o + x] = s[3];
        }
    }
    return Code::Ok;
}

// Pixels `from` to the end of a row of three planes to RGB or BGR: the first
// multiple of 4 of the row in form D, the rest in form E. The portable body,
// and the tail of the vector ones.
// Form D of count pixels into three channel arrays; with a count fixed at
// compile time the compiler may vectorise the loop.
inline void FormDChannels(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::int32_t count,
                          std::uint8_t* r, std::uint8_t* g, std::uint8_t* b)
{
    for (std::int32_t i = 0; i < count; ++i) {
        const int yy = y[i], u = cb[i], v = cr[i];
        r[i] = ClampByte(yy + ((22970 * v - 2932015) >> 14));
        g[i] = ClampByte(yy + ((-5638 * u - 11700 * v + 2227566) >> 14));
        b[i] = ClampByte(yy + ((29032 * u - 3707961) >> 14));
    }
}

template <int RedAt>
void FromYCbCrTail(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::int32_t from,
                   std::int32_t width, std::uint8_t* d)
{
    const std::int32_t vectorEnd = width / 4 * 4;
    // Form D in chunks of channel arrays, then interleaved.
    constexpr std::int32_t kChunk = 64;
    std::int32_t x = from;
    while (x < vectorEnd) {
        const std::int32_t n = std::min(kChunk, vectorEnd - x);
        std::uint8_t r[kChunk], g[kChunk], b[kChunk];
        if (n == kChunk)
            FormDChannels(y + x, cb + x, cr + x, kChunk, r, g, b);
        else
            FormDChannels(y + x, cb + x, cr + x, n, r, g, b);
        std::uint8_t* out = d + 3 * static_cast<std::ptrdiff_t>(x);
        for (std::int32_t i = 0; i < n; ++i) {
            out[3 * i + RedAt] = r[i];
            out[3 * i + 1] = g[i];
            out[3 * i + 2 - RedAt] = b[i];
        }
        x += n;
    }
    for (; x < width; ++x) {
        const Rgb c = FormE(y[x], cb[x], cr[x]);
        d[3 * x + RedAt] = c.r;
        d[3 * x + 1] = c.g;
        d[3 * x + 2 - RedAt] = c.b;
    }
}

// Three planes to RGB or BGR, row by row: `head` converts a row's first pixels
// (y, cb, cr, width, out) and says how many; FromYCbCrTail does the rest.
template <int RedAt, typename Head>
Status FromYCbCrRows(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                     ImageSize size, Head head)
{
    if (src == nullptr || dst == nullptr || AnyNull(src, 3))
        return Code::NullPointer;
    if (srcStep < 1 || dstStep < 1)
        return Code::BadStep;
    if (size.width <= 0 || size.height <= 0)
        return Code::BadSize;
    for (std::int32_t row = 0; row < size.height; ++row) {
        const std::ptrdiff_t o = Offset(row, srcStep);
        std::uint8_t* d = dst + Offset(row, dstStep);
        const std::int32_t done = head(src[0] + o, src[1] + o, src[2] + o, size.width, d);
        FromYCbCrTail<RedAt>(src[0] + o, src[1] + o, src[2] + o, done, size.width, d);
    }
    return Code::Ok;
}

template <int RedAt>
Status FromYCbCrC3(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                   ImageSize size)
{
    return FromYCbCrRows<RedAt>(src, srcStep, dst, dstStep, size,
                                [](const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::int32_t,
                                   std::uint8_t*) { return std::int32_t{0}; });
}

template <int RedAt>
Status FromYCbCrC4(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                   ImageSize size, std::int32_t alpha)
{
    if (dst == nullptr || src == nullptr || AnyNull(src, 3))
        return Code::NullPointer;
    if (size.width <= 0 || size.height <= 0)
        return Code::BadSize;
    for (std::int32_t row = 0; row < size.height; ++row) {
        const std::ptrdiff_t o = Offset(row, srcStep);
        std::uint8_t* d = dst + Offset(row, dstStep);
        for (std::int32_t x = 0; x < size.width; ++x, d += 4) {
            const Rgb c = FormF(src[0][o + x], src[1][o + x], src[2][o + x]);
            d[RedAt] = c.r;
            d[1] = c.g;
            d[2 - RedAt] = c.b;
            d[3] = static_cast<std::uint8_t>(alpha);
        }
    }
    return Code::Ok;
}

Status YcckToCmyk(const std::uint8_t* const src[4], std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                  ImageSize size)
{
    if (src == nullptr || dst == nullptr || AnyNull(src, 4))
        return Code::NullPointer;
    if (srcStep <= 0 || dstStep <= 0)
        return Code::BadStep;
    if (size.width <= 0 || size.height <= 0)
        return Code::BadSize;
    const std::int32_t vectorEnd = size.width / 4 * 4;
    for (std::int32_t row = 0; row < size.height; ++row) {
        const std::ptrdiff_t o = Offset(row, srcStep);
        std::uint8_t* d = dst + Offset(row, dstStep);
        for (std::int32_t x = 0; x < size.width; ++x, d += 4) {
            const int y = src[0][o + x];
            const int cb = src[1][o + x];
            const int cr = src[2][o + x];
            const Rgb c = x < vectorEnd ? FormG(y, cb, cr) : FormE(y, cb, cr);
            d[0] = static_cast<std::uint8_t>(255 - c.r);
            d[1] = static_cast<std::uint8_t>(255 - c.g);
            d[2] = static_cast<std::uint8_t>(255 - c.b);
            d[3] = src[3][o + x];
        }
    }
    return Code::Ok;
}

using ToPlanes3 = Status(const std::uint8_t*, std::int32_t, std::uint8_t* const[3], std::int32_t, ImageSize);
using ToPlanes4 = Status(const std::uint8_t*, std::int32_t, std::uint8_t* const[4], std::int32_t, ImageSize);
using ToPlane = Status(const std::uint8_t*, std::int32_t, std::uint8_t*, std::int32_t, ImageSize);
using FromPlanes3 = Status(const std::uint8_t* const[3], std::int32_t, std::uint8_t*, std::int32_t, ImageSize);
using FromPlanes3Alpha = Status(const std::uint8_t* const[3], std::int32_t, std::uint8_t*, std::int32_t, ImageSize,
                                std::int32_t);
using FromPlanes4 = Status(const std::uint8_t* const[4], std::int32_t, std::uint8_t*, std::int32_t, ImageSize);

#if defined(__x86_64__)
constexpr ToPlanes3* kRgbVector = &ToYCbCrC3<0, &FormBGroupsSsse3<0>>;
constexpr ToPlanes3* kBgrVector = &ToYCbCrC3<2, &FormBGroupsSsse3<2>>;
#else
constexpr ToPlanes3* kRgbVector = &ToYCbCrC3<0, &FormBGroupsPortable<0>>;
constexpr ToPlanes3* kBgrVector = &ToYCbCrC3<2, &FormBGroupsPortable<2>>;
#endif
constexpr ToPlanes3* kRgbPortable = &ToYCbCrC3<0, &FormBGroupsPortable<0>>;
constexpr ToPlanes3* kBgrPortable = &ToYCbCrC3<2, &FormBGroupsPortable<2>>;
constexpr CpuDispatchTable<ToPlanes3> kRgbToYCbCr = {kRgbPortable, kRgbPortable, kRgbVector,
                                                     kRgbVector,   kRgbVector,   kRgbVector};
constexpr CpuDispatchTable<ToPlanes3> kBgrToYCbCr = {kBgrPortable, kBgrPortable, kBgrVector,
                                                     kBgrVector,   kBgrVector,   kBgrVector};
constexpr auto kRgbaToYCbCr = UniformTable<ToPlanes3>(&RgbaToYCbCr);
constexpr auto kRgbToY = UniformTable<ToPlane>(&RgbToY);
constexpr auto kCmykToYcck = UniformTable<ToPlanes4>(&CmykToYcck);
#if defined(__x86_64__)
// Form D of n pixels (a multiple of 16) into three planes, eight at a time in
// 32-bit lanes: each sum is one multiply-add of the (Cb, Cr) pair.
void FormDPlanesSse2(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, std::int32_t n,
                     std::uint8_t* r, std::uint8_t* g, std::uint8_t* b)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i redWeights = _mm_set_epi16(22970, 0, 22970, 0, 22970, 0, 22970, 0);
    const __m128i greenWeights = _mm_set_epi16(-11700, -5638, -11700, -5638, -11700, -5638, -11700, -5638);
    const __m128i blueWeights = _mm_set_epi16(0, 29032, 0, 29032, 0, 29032, 0, 29032);
    const __m128i redBias = _mm_set1_epi32(-2932015);
    const __m128i greenBias = _mm_set1_epi32(2227566);
    const __m128i blueBias = _mm_set1_epi32(-3707961);
    const auto term = [](__m128i low, __m128i high, __m128i weights, __m128i bias) {
        return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(low, weights), bias), 14),
                               _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(high, weights), bias), 14));
    };
    for (std::int32_t x = 0; x < n; x += 16) {
        __m128i out[3][2];
        for (int half = 0; half < 2; ++half) {
            const std::int32_t at = x + 8 * half;
            const __m128i luma = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + at)), zero);
            const __m128i blue = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + at)), zero);
            const __m128i red = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + at)), zero);
            const __m128i low = _mm_unpacklo_epi16(blue, red), high = _mm_unpackhi_epi16(blue, red);
            out[0][half] = _mm_adds_epi16(luma, term(low, high, redWeights, redBias));
            out[1][half] = _mm_adds_epi16(luma, term(low, high, greenWeights, greenBias));
            out[2][half] = _mm_adds_epi16(luma, term(low, high, blueWeights, blueBias));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r + x), _mm_packus_epi16(out[0][0], out[0][1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(g + x), _mm_packus_epi16(out[1][0], out[1][1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + x), _mm_packus_epi16(out[2][0], out[2][1]));
    }
}

__attribute__((target("avx2"))) inline __m256i FormDTermAvx2(__m256i low, __m256i high, __m256i weights,
                                                             __m256i bias)
{
    return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(low, weights), bias), 14),
                              _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(high, weights), bias), 14));
}

// pshufb masks interleaving 16 pixels of three planes: for output block o
// (bytes 16o..16o+15) and plane c, the plane byte at each position, or 0x80.
struct JoinMasks {
    alignas(16) std::uint8_t m[3][3][16];
    constexpr JoinMasks() : m{}
    {
        for (int o = 0; o < 3; ++o)
            for (int c = 0; c < 3; ++c)
                for (int i = 0; i < 16; ++i) {
                    const int k = 16 * o + i;
                    m[o][c][i] = k % 3 == c ? static_cast<std::uint8_t>(k / 3) : 0x80;
                }
    }
};
constexpr JoinMasks kJoinMasks;
// The same masks in both lanes of a 256-bit register.
struct JoinMasks256 {
    alignas(32) std::uint8_t m[3][3][32];
    constexpr JoinMasks256() : m{}
    {
        for (int o = 0; o < 3; ++o)
            for (int c = 0; c < 3; ++c)
                for (int i = 0; i < 32; ++i)
                    m[o][c][i] = kJoinMasks.m[o][c][i % 16];
    }
};
constexpr JoinMasks256 kJoinMasks256;

// Form D of n pixels (a multiple of 32), interleaved straight into d.
template <int RedAt>
__attribute__((target("avx2"))) void FormDPixelsAvx2(const std::uint8_t* y, const std::uint8_t* cb,
                                                     const std::uint8_t* cr, std::int32_t n, std::uint8_t* d)
{
    const __m256i redWeights = _mm256_set1_epi32(22970 << 16);
    const __m256i greenWeights = _mm256_set1_epi32(static_cast<std::int32_t>((static_cast<std::uint32_t>(-11700) << 16) |
                                                                            static_cast<std::uint16_t>(-5638)));
    const __m256i blueWeights = _mm256_set1_epi32(29032);
    const __m256i redBias = _mm256_set1_epi32(-2932015);
    const __m256i greenBias = _mm256_set1_epi32(2227566);
    const __m256i blueBias = _mm256_set1_epi32(-3707961);
    // The masks stay in memory, read by the shuffles themselves: held in
    // registers with the weights they push the loop's values onto the stack.
    const auto* masks = reinterpret_cast<const __m256i(*)[3]>(kJoinMasks256.m);
    for (std::int32_t x = 0; x < n; x += 32) {
        __m256i out[3][2];
#pragma GCC unroll 2
        for (int half = 0; half < 2; ++half) {
            const std::int32_t at = x + 16 * half;
            const __m256i luma = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + at)));
            const __m256i blue = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + at)));
            const __m256i red = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + at)));
            const __m256i low = _mm256_unpacklo_epi16(blue, red), high = _mm256_unpackhi_epi16(blue, red);
            out[0][half] = _mm256_adds_epi16(luma, FormDTermAvx2(low, high, redWeights, redBias));
            out[1][half] = _mm256_adds_epi16(luma, FormDTermAvx2(low, high, greenWeights, greenBias));
            out[2][half] = _mm256_adds_epi16(luma, FormDTermAvx2(low, high, blueWeights, blueBias));
        }
        // Planes in pixel order (lane 0: pixels 0-15, lane 1: 16-31), in the
        // byte order of the output.
        __m256i planes[3];
#pragma GCC unroll 3
        for (int p = 0; p < 3; ++p)
            planes[p == 0 ? RedAt : p == 2 ? 2 - RedAt : 1] =
                _mm256_permute4x64_epi64(_mm256_packus_epi16(out[p][0], out[p][1]), 0xD8);
        // Block o of each lane's 16 pixels.
        __m256i blocks[3];
#pragma GCC unroll 3
        for (int o = 0; o < 3; ++o) {
            __m256i v = _mm256_setzero_si256();
#pragma GCC unroll 3
            for (int c = 0; c < 3; ++c)
                v = _mm256_or_si256(v, _mm256_shuffle_epi8(planes[c], _mm256_load_si256(&masks[o][c])));
            blocks[o] = v;
        }
        auto* out256 = reinterpret_cast<__m256i*>(d + 3 * std::ptrdiff_t{x});
        _mm256_storeu_si256(out256 + 0, _mm256_permute2x128_si256(blocks[0], blocks[1], 0x20));
        _mm256_storeu_si256(out256 + 1, _mm256_permute2x128_si256(blocks[2], blocks[0], 0x30));
        _mm256_storeu_si256(out256 + 2, _mm256_permute2x128_si256(blocks[1], blocks[2], 0x31));
    }
}

// FromYCbCrC3 with 32 pixels at a time; same bytes as the portable body.
template <int RedAt>
Status FromYCbCrC3Avx2(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                       ImageSize size)
{
    return FromYCbCrRows<RedAt>(src, srcStep, dst, dstStep, size,
                                [](const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                                   std::int32_t width, std::uint8_t* d) {
                                    const std::int32_t wideEnd = width / 4 * 4 / 32 * 32;
                                    FormDPixelsAvx2<RedAt>(y, cb, cr, wideEnd, d);
                                    return wideEnd;
                                });
}

using FormDPlanes = void(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::int32_t,
                         std::uint8_t*, std::uint8_t*, std::uint8_t*);

// FromYCbCrC3 with the multiples of 16 in vectors: planes of a chunk, then
// interleaved. Same bytes as the portable body.
template <int RedAt, FormDPlanes Planes>
Status FromYCbCrC3Vector(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst,
                         std::int32_t dstStep, ImageSize size)
{
    return FromYCbCrRows<RedAt>(src, srcStep, dst, dstStep, size,
                                [](const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                                   std::int32_t width, std::uint8_t* d) {
                                    constexpr std::int32_t kChunk = 256;
                                    alignas(16) std::uint8_t planes[3][kChunk];
                                    const std::int32_t wideEnd = width / 4 * 4 / 16 * 16;
                                    for (std::int32_t x = 0; x < wideEnd; x += kChunk) {
                                        const std::int32_t n = std::min(kChunk, wideEnd - x);
                                        Planes(y + x, cb + x, cr + x, n, planes[RedAt], planes[1], planes[2 - RedAt]);
                                        JoinRow8uP3C3Ssse3(planes[0], planes[1], planes[2],
                                                           d + 3 * std::ptrdiff_t{x}, n);
                                    }
                                    return wideEnd;
                                });
}
constexpr FromPlanes3* kYCbCrToRgbVector = &FromYCbCrC3Vector<0, &FormDPlanesSse2>;
constexpr FromPlanes3* kYCbCrToBgrVector = &FromYCbCrC3Vector<2, &FormDPlanesSse2>;
constexpr FromPlanes3* kYCbCrToRgbAvx2 = &FromYCbCrC3Avx2<0>;
constexpr FromPlanes3* kYCbCrToBgrAvx2 = &FromYCbCrC3Avx2<2>;
#else
constexpr FromPlanes3* kYCbCrToRgbAvx2 = &FromYCbCrC3<0>;
constexpr FromPlanes3* kYCbCrToBgrAvx2 = &FromYCbCrC3<2>;
constexpr FromPlanes3* kYCbCrToRgbVector = &FromYCbCrC3<0>;
constexpr FromPlanes3* kYCbCrToBgrVector = &FromYCbCrC3<2>;
#endif
// The interleaving needs SSSE3: the portable body below slot 2.
constexpr CpuDispatchTable<FromPlanes3> kYCbCrToRgb = {&FromYCbCrC3<0>,   &FromYCbCrC3<0>,   kYCbCrToRgbVector,
                                                       kYCbCrToRgbVector, kYCbCrToRgbVector, kYCbCrToRgbAvx2};
constexpr CpuDispatchTable<FromPlanes3> kYCbCrToBgr = {&FromYCbCrC3<2>,   &FromYCbCrC3<2>,   kYCbCrToBgrVector,
                                                       kYCbCrToBgrVector, kYCbCrToBgrVector, kYCbCrToBgrAvx2};
constexpr auto kYCbCrToRgba = UniformTable<FromPlanes3Alpha>(&FromYCbCrC4<0>);
constexpr auto kYCbCrToBgra = UniformTable<FromPlanes3Alpha>(&FromYCbCrC4<2>);
constexpr auto kYcckToCmyk = UniformTable<FromPlanes4>(&YcckToCmyk);

}  // namespace
}  // namespace primitives_detail

using namespace primitives_detail;

PrimitiveStatus ConvertRgbToYCbCr8uC3P3(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[3],
                                        std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kRgbToYCbCr, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus ConvertBgrToYCbCr8uC3P3(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[3],
                                        std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kBgrToYCbCr, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus ConvertRgbaToYCbCr8uAC4P3(const std::uint8_t* src, std::int32_t srcStep,
                                          std::uint8_t* const dst[3], std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kRgbaToYCbCr, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus ConvertRgbToY8uC3C1(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst,
                                    std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kRgbToY, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus ConvertCmykToYcck8uC4P4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[4],
                                        std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kCmykToYcck, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus ConvertYCbCrToRgb8uP3C3(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst,
                                        std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kYCbCrToRgb, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus ConvertYCbCrToBgr8uP3C3(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst,
                                        std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kYCbCrToBgr, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus ConvertYCbCrToRgba8uP3C4(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst,
                                         std::int32_t dstStep, ImageSize size, std::int32_t alpha)
{
    return DispatchCall(kYCbCrToRgba, src, srcStep, dst, dstStep, size, alpha);
}

PrimitiveStatus ConvertYCbCrToBgra8uP3C4(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst,
                                         std::int32_t dstStep, ImageSize size, std::int32_t alpha)
{
    return DispatchCall(kYCbCrToBgra, src, srcStep, dst, dstStep, size, alpha);
}

PrimitiveStatus ConvertYcckToCmyk8uP4C4(const std::uint8_t* const src[4], std::int32_t srcStep, std::uint8_t* dst,
                                        std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kYcckToCmyk, src, srcStep, dst, dstStep, size);
}
