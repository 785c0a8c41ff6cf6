#pragma once
// The cubic resize kernels: one row template (horizontal pass of one source
// row into a float row buffer) and one column template (vertical blend of four
// row buffers into a destination row), each over the sample type, layout and
// the conversion rule. Every named kernel below is an instantiation.
//
// The cubic is Newton's forward-difference form of the Lagrange cubic through
// (-1, p0), (0, p1), (1, p2), (2, p3), evaluated at t in [-1, 2]. It exists in
// two single-precision forms whose last bits differ: the 4-wide form (one
// third as a float factor) and the one-at-a-time form (a division by 3, other
// groupings). Which form a value takes depends on its index alone, as in the
// vector bodies these kernels stand for:
//   one-channel row kernels and the contiguous column kernels: positions below
//   4 x floor(n / 4) by the 4-wide form, the rest one at a time;
//   three- and four-channel row kernels: always the 4-wide form;
//   8u and 16u AC4 column kernels: buffer positions below 4 x floor(3n / 4)
//   by the 4-wide form, the rest one at a time; the 32f AC4 column kernel one
//   at a time throughout.
// The 4-wide integer conversion adds 0.50000012f in single precision, the
// one-at-a-time conversion widens to double and adds 0.5000001; both then
// truncate toward zero and saturate (so a value just below a half can round
// differently by path).
//
// Kernels test no bounds and trust their tables. A row kernel reads only the
// four tap pixels of each column (an AC4 kernel never lets alpha reach the
// buffer) and writes width x channels floats; a column kernel reads count
// (AC4: 3 x count) floats of each buffer and never writes an alpha sample.

#include <cstdint>

namespace resize_detail {

inline constexpr float kCubicThird = 1.0f / 3.0f;

// 4-wide form: D1 = p1 - p0, D2 = (p2 - p1) - D1, D3 = ((p3 - p2) - p2) + (p1 -
// D2); value = (p0 + c1 D1) + (c2 D2 + c3 D3).
struct CubicCoefficients {
    float c1, c2, c3Block, c3Single;
    explicit CubicCoefficients(float t)
        : c1(t + 1.0f), c2((t * 0.5f) * (t + 1.0f)), c3Block(((t - 1.0f) * kCubicThird) * c2),
          c3Single(((t - 1.0f) * c2) / 3.0f)
    {
    }
};

inline float CubicBlockValue(float p0, float p1, float p2, float p3, const CubicCoefficients& c)
{
    const float d1 = p1 - p0;
    const float d2 = (p2 - p1) - d1;
    const float d3 = ((p3 - p2) - p2) + (p1 - d2);
    const float head = p0 + c.c1 * d1;
    const float tail = c.c2 * d2 + c.c3Block * d3;
    return head + tail;
}

// One-at-a-time form of the row kernels.
inline float CubicRowSingleValue(float p0, float p1, float p2, float p3, const CubicCoefficients& c)
{
    const float d1 = p1 - p0;
    const float d2 = (p2 - p1) - d1;
    const float d3 = (p3 - ((p2 - p1) + p2)) - d2;
    float v = p0 + c.c1 * d1;
    v = v + c.c2 * d2;
    return v + c.c3Single * d3;
}

// One-at-a-time form of the column kernels.
inline float CubicColumnSingleValue(float b0, float b1, float b2, float b3, const CubicCoefficients& c)
{
    const float d1 = b1 - b0;
    const float d2 = (b2 - d1) - b1;
    const float d3 = (((b3 - d2) - b2) - b2) + b1;
    float v = c.c1 * d1 + c.c2 * d2;
    v = v + b0;
    return v + c.c3Single * d3;
}

// ---------------------------------------------------------------------------
// Conversions of a column value to the destination sample.

template <typename Dest, int Max>
struct CubicToUnsigned {
    using Sample = Dest;
    static constexpr bool kAc4Blocks = true;
    static Dest FromBlock(float v)
    {
        const float r = v + 0.50000012f;
        if (!(r >= 1.0f))
            return 0;  // (-1, 1) truncates to 0, anything lower clamps to 0
        if (r >= static_cast<float>(Max))
            return static_cast<Dest>(Max);
        return static_cast<Dest>(static_cast<std::int32_t>(r));
    }
    static Dest FromSingle(float v)
    {
        const double r = static_cast<double>(v) + 0.5000001;
        if (!(r >= 1.0))
            return 0;
        if (r >= Max)
            return static_cast<Dest>(Max);
        return static_cast<Dest>(static_cast<std::int32_t>(r));
    }
};

struct CubicTo32f {
    using Sample = float;
    static constexpr bool kAc4Blocks = false;
    static float FromBlock(float v) { return v; }
    static float FromSingle(float v) { return v; }
};

using CubicTo8u = CubicToUnsigned<std::uint8_t, 255>;
using CubicTo16u = CubicToUnsigned<std::uint16_t, 65535>;

// ---------------------------------------------------------------------------
// The two kernel templates. Channels is 1, 3 (C3, or AC4 when the stride is 4)
// or 4; the one- and four-channel kernels ignore the stride. OneAtATime (the
// alternate set) takes the one-at-a-time form for every value.

template <typename Sample, int Channels, bool OneAtATime = false>
void CubicRowKernel(const Sample* src, std::int32_t n, std::int32_t stride, const std::int32_t* columns,
                    const float* weights, float* out)
{
    const std::int32_t pixel = Channels == 1 ? 1 : (Channels == 4 ? 4 : (stride == 4 ? 4 : 3));
    const std::int32_t blocks = OneAtATime ? 0 : (Channels == 1 ? n / 4 * 4 : n);
    for (std::int32_t c = 0; c < n; ++c) {
        const Sample* s = src + columns[c];
        const CubicCoefficients k(weights[c]);
        for (int ch = 0; ch < Channels; ++ch) {
            const float p0 = static_cast<float>(s[ch - pixel]);
            const float p1 = static_cast<float>(s[ch]);
            const float p2 = static_cast<float>(s[ch + pixel]);
            const float p3 = static_cast<float>(s[ch + 2 * pixel]);
            out[Channels * c + ch] =
                c < blocks ? CubicBlockValue(p0, p1, p2, p3, k) : CubicRowSingleValue(p0, p1, p2, p3, k);
        }
    }
}

// The block routine of a one-channel row kernel: n a multiple of 4.
template <typename Sample>
void CubicRowBlocks(const Sample* src, std::int32_t n, const std::int32_t* columns, const float* weights, float* out)
{
    for (std::int32_t c = 0; c < n; ++c) {
        const Sample* s = src + columns[c];
        out[c] = CubicBlockValue(static_cast<float>(s[-1]), static_cast<float>(s[0]), static_cast<float>(s[1]),
                                 static_cast<float>(s[2]), CubicCoefficients(weights[c]));
    }
}

// count: samples (contiguous) or pixels (AlphaKept); t by address.
template <class P, bool AlphaKept, bool OneAtATime = false>
void CubicColumnKernel(typename P::Sample* dst, std::int32_t count, const float* t, const float* b0, const float* b1,
                       const float* b2, const float* b3)
{
    const CubicCoefficients k(*t);
    const std::int32_t values = AlphaKept ? 3 * count : count;
    const std::int32_t blocks = OneAtATime || (AlphaKept && !P::kAc4Blocks) ? 0 : values / 4 * 4;
    for (std::int32_t m = 0; m < values; ++m) {
        const typename P::Sample v = m < blocks ? P::FromBlock(CubicBlockValue(b0[m], b1[m], b2[m], b3[m], k))
                                                : P::FromSingle(CubicColumnSingleValue(b0[m], b1[m], b2[m], b3[m], k));
        dst[AlphaKept ? 4 * (m / 3) + m % 3 : m] = v;
    }
}

// The block routine of a column kernel: values a multiple of 4 (AC4: buffer
// samples, scattered over the first three samples of each pixel).
template <class P, bool AlphaKept>
void CubicColumnBlocks(typename P::Sample* dst, std::int32_t values, const float* t, const float* b0, const float* b1,
                       const float* b2, const float* b3)
{
    const CubicCoefficients k(*t);
    for (std::int32_t m = 0; m < values; ++m)
        dst[AlphaKept ? 4 * (m / 3) + m % 3 : m] = P::FromBlock(CubicBlockValue(b0[m], b1[m], b2[m], b3[m], k));
}

// The alternate set's column kernels: t by value, one value at a time.
template <class P, bool AlphaKept>
void CubicColumnKernelOneAtATime(typename P::Sample* dst, std::int32_t count, float t, const float* b0,
                                 const float* b1, const float* b2, const float* b3)
{
    CubicColumnKernel<P, AlphaKept, true>(dst, count, &t, b0, b1, b2, b3);
}

inline void CubicColumnKernel32fAc4ByValue(float* dst, std::int32_t count, float t, const float* b0, const float* b1,
                                           const float* b2, const float* b3)
{
    CubicColumnKernel<CubicTo32f, true>(dst, count, &t, b0, b1, b2, b3);
}

// ---------------------------------------------------------------------------
// Named kernels.

inline constexpr auto* CubicRowKernel_8u_C1 = &CubicRowKernel<std::uint8_t, 1>;
inline constexpr auto* CubicRowKernel_16u_C1 = &CubicRowKernel<std::uint16_t, 1>;
inline constexpr auto* CubicRowKernel_32f_C1 = &CubicRowKernel<float, 1>;
inline constexpr auto* CubicRowKernel_8u_C3 = &CubicRowKernel<std::uint8_t, 3>;
inline constexpr auto* CubicRowKernel_16u_C3 = &CubicRowKernel<std::uint16_t, 3>;
inline constexpr auto* CubicRowKernel_32f_C3 = &CubicRowKernel<float, 3>;
inline constexpr auto* CubicRowKernel_8u_C4 = &CubicRowKernel<std::uint8_t, 4>;
inline constexpr auto* CubicRowKernel_16u_C4 = &CubicRowKernel<std::uint16_t, 4>;
inline constexpr auto* CubicRowKernel_32f_C4 = &CubicRowKernel<float, 4>;
inline constexpr auto* CubicRowBlocks_8u_C1 = &CubicRowBlocks<std::uint8_t>;
inline constexpr auto* CubicRowBlocks_16u_C1 = &CubicRowBlocks<std::uint16_t>;
inline constexpr auto* CubicRowBlocks_32f_C1 = &CubicRowBlocks<float>;

inline constexpr auto* CubicColumnKernel_8u = &CubicColumnKernel<CubicTo8u, false>;
inline constexpr auto* CubicColumnKernel_16u = &CubicColumnKernel<CubicTo16u, false>;
inline constexpr auto* CubicColumnKernel_32f = &CubicColumnKernel<CubicTo32f, false>;
inline constexpr auto* CubicColumnKernel_8u_AC4 = &CubicColumnKernel<CubicTo8u, true>;
inline constexpr auto* CubicColumnKernel_16u_AC4 = &CubicColumnKernel<CubicTo16u, true>;
inline constexpr auto* CubicColumnKernel_32f_AC4 = &CubicColumnKernel32fAc4ByValue;
inline constexpr auto* CubicColumnBlocks_8u = &CubicColumnBlocks<CubicTo8u, false>;
inline constexpr auto* CubicColumnBlocks_16u = &CubicColumnBlocks<CubicTo16u, false>;
inline constexpr auto* CubicColumnBlocks_32f = &CubicColumnBlocks<CubicTo32f, false>;
inline constexpr auto* CubicColumnBlocks_8u_AC4 = &CubicColumnBlocks<CubicTo8u, true>;
inline constexpr auto* CubicColumnBlocks_16u_AC4 = &CubicColumnBlocks<CubicTo16u, true>;


// Alternate set: every value by the one-at-a-time form, the one-at-a-time
// conversion (0.5000001 added in double), t by value.
inline constexpr auto* CubicRowKernel_8u_C1_alt = &CubicRowKernel<std::uint8_t, 1, true>;
inline constexpr auto* CubicRowKernel_16u_C1_alt = &CubicRowKernel<std::uint16_t, 1, true>;
inline constexpr auto* CubicRowKernel_32f_C1_alt = &CubicRowKernel<float, 1, true>;
inline constexpr auto* CubicRowKernel_8u_C3_alt = &CubicRowKernel<std::uint8_t, 3, true>;
inline constexpr auto* CubicRowKernel_16u_C3_alt = &CubicRowKernel<std::uint16_t, 3, true>;
inline constexpr auto* CubicRowKernel_32f_C3_alt = &CubicRowKernel<float, 3, true>;
inline constexpr auto* CubicRowKernel_8u_C4_alt = &CubicRowKernel<std::uint8_t, 4, true>;
inline constexpr auto* CubicRowKernel_16u_C4_alt = &CubicRowKernel<std::uint16_t, 4, true>;
inline constexpr auto* CubicRowKernel_32f_C4_alt = &CubicRowKernel<float, 4, true>;
inline constexpr auto* CubicColumnKernel_8u_alt = &CubicColumnKernelOneAtATime<CubicTo8u, false>;
inline constexpr auto* CubicColumnKernel_16u_alt = &CubicColumnKernelOneAtATime<CubicTo16u, false>;
inline constexpr auto* CubicColumnKernel_32f_alt = &CubicColumnKernelOneAtATime<CubicTo32f, false>;
inline constexpr auto* CubicColumnKernel_8u_AC4_alt = &CubicColumnKernelOneAtATime<CubicTo8u, true>;
inline constexpr auto* CubicColumnKernel_16u_AC4_alt = &CubicColumnKernelOneAtATime<CubicTo16u, true>;
inline constexpr auto* CubicColumnKernel_32f_AC4_alt = &CubicColumnKernelOneAtATime<CubicTo32f, true>;

}  // namespace resize_detail
