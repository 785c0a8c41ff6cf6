#pragma once
// The six-tap resize routines and the Lanczos row kernels, one template per
// shape over sample type, layout and conversion; every named routine below is
// an instantiation.
//
// Six-tap row routine: for each column with tap pixel j and weights w0..w5,
// per channel ((((w0 S(j-2) + w1 S(j-1)) + w2 S(j)) + w3 S(j+1)) + w4 S(j+2)) +
// w5 S(j+3) in single precision (this one order for every layout). Reads only
// those six pixels (for AC4 only their first three samples), neither rounds
// nor clamps.
//
// Six-tap column routine: ((((((0 + w0 B0) + w1 B1) + w2 B2) + w3 B3) + w4 B4)
// + w5 B5) in single precision, integers rounded to nearest with ties to even
// and saturated, floats stored as computed; the AC4 members write the first
// three samples of each pixel only.
//
// Lanczos row kernel: the six-tap row value with every tap beyond an edge of
// the source image replaced by the edge pixel; the weights of the taps that
// fall on the same edge pixel are added first and multiply it once. The edge
// columns' groupings (below) are fixed; the columns in between go to the
// six-tap row routine (Interior) in one run.

#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "imaging/primitives/resize/detail/AlternateRounding.h"

namespace resize_detail {

// Float to an integer sample: nearest, ties to even, then saturation.
// The clamp is taken in floating point before the conversion, so a sum of
// caller weights beyond the 32-bit range saturates to the end it lies on, and
// one that is not a number gives 0.
template <typename Dest, int Min, int Max>
struct SixTapToInteger {
    using Sample = Dest;
    using Real = float;
    static Dest Convert(float v)
    {
        if (v != v)
            return 0;
        if (!(v >= static_cast<float>(Min)))
            return static_cast<Dest>(Min);
        if (v >= static_cast<float>(Max))
            return static_cast<Dest>(Max);
        return static_cast<Dest>(static_cast<std::int32_t>(std::nearbyint(v)));
    }
};

// 32f and 64f sums are stored as they are.
template <typename RealType>
struct SampleAsIs {
    using Sample = RealType;
    using Real = RealType;
    static RealType Convert(RealType v) { return v; }
};
using SixTapTo32f = SampleAsIs<float>;

using SixTapTo8u = SixTapToInteger<std::uint8_t, 0, 255>;
using SixTapTo16u = SixTapToInteger<std::uint16_t, 0, 65535>;
using SixTapTo16s = SixTapToInteger<std::int16_t, -32768, 32767>;

// Channels 1, 3 (stride 3 is C3, any other AC4) or 4; one- and four-channel
// members ignore the stride. The tables are already advanced to the run.
// Real is the precision of weights, products and sums (double only for the
// alternate 64f members).
template <typename Sample, int Channels, typename Real = float>
void SixTapRow(const Sample* src, std::int32_t stride, const std::int32_t* columns, const Real* weights,
               Real* out, std::int32_t n)
{
    const std::int32_t pixel = Channels == 1 ? 1 : (Channels == 4 ? 4 : (stride == 3 ? 3 : 4));
    for (std::int32_t c = 0; c < n; ++c) {
        const Sample* s = src + columns[c] - 2 * pixel;
        const Real* w = weights + 6 * c;
        for (int ch = 0; ch < Channels; ++ch) {
            Real v = w[0] * static_cast<Real>(s[ch]);
            for (int k = 1; k < 6; ++k)
                v = v + w[k] * static_cast<Real>(s[k * pixel + ch]);
            out[Channels * c + ch] = v;
        }
    }
}

// count: samples (contiguous) or pixels (AlphaKept).
template <class P, bool AlphaKept>
void SixTapColumn(typename P::Sample* dst, std::int32_t count, const float* w, const float* b0, const float* b1,
                  const float* b2, const float* b3, const float* b4, const float* b5)
{
    const std::int32_t values = AlphaKept ? 3 * count : count;
    for (std::int32_t m = 0; m < values; ++m) {
        float v = 0.0f + w[0] * b0[m];
        v = v + w[1] * b1[m];
        v = v + w[2] * b2[m];
        v = v + w[3] * b3[m];
        v = v + w[4] * b4[m];
        v = v + w[5] * b5[m];
        dst[AlphaKept ? 4 * (m / 3) + m % 3 : m] = P::Convert(v);
    }
}

// The alternate set's column routine: the six products added from tap 0 to
// tap 5 (TapZeroLast: from tap 1 to tap 5, then tap 0) in the precision of
// P::Real, then P::Convert.
template <class P, bool AlphaKept, bool TapZeroLast = false>
void SixTapColumnInOrder(typename P::Sample* dst, std::int32_t count, const typename P::Real* w,
                         const typename P::Real* b0, const typename P::Real* b1, const typename P::Real* b2,
                         const typename P::Real* b3, const typename P::Real* b4, const typename P::Real* b5)
{
    using Real = typename P::Real;
    const std::int32_t values = AlphaKept ? 3 * count : count;
    for (std::int32_t m = 0; m < values; ++m) {
        Real v;
        if constexpr (TapZeroLast)
            v = ((((w[1] * b1[m] + w[2] * b2[m]) + w[3] * b3[m]) + w[4] * b4[m]) + w[5] * b5[m]) + w[0] * b0[m];
        else
            v = ((((w[0] * b0[m] + w[1] * b1[m]) + w[2] * b2[m]) + w[3] * b3[m]) + w[4] * b4[m]) + w[5] * b5[m];
        dst[AlphaKept ? 4 * (m / 3) + m % 3 : m] = P::Convert(v);
    }
}

// The 64f members, with their fixed orders of addition: the one-channel row
// routine ((p0 + p2) + p4) + ((p1 + p3) + p5), the three- and four-channel
// ones tap order (stride 3 is C3, any other AC4); the contiguous column
// routine ((w0 B0 + w1 B1) + (w2 B2 + w3 B3)) + (w4 B4 + w5 B5), the AC4 one
// tap order.
template <int Channels>
void SixTapRow64f(const double* src, std::int32_t stride, const std::int32_t* columns, const double* weights,
                  double* out, std::int32_t n)
{
    const std::int32_t pixel = Channels == 1 ? 1 : (Channels == 4 ? 4 : (stride == 3 ? 3 : 4));
    for (std::int32_t c = 0; c < n; ++c) {
        const double* s = src + columns[c] - 2 * pixel;
        const double* w = weights + 6 * c;
        for (int ch = 0; ch < Channels; ++ch) {
            double p[6];
            for (int k = 0; k < 6; ++k)
                p[k] = w[k] * s[k * pixel + ch];
            if constexpr (Channels == 1)
                out[c] = ((p[0] + p[2]) + p[4]) + ((p[1] + p[3]) + p[5]);
            else
                out[Channels * c + ch] = ((((p[0] + p[1]) + p[2]) + p[3]) + p[4]) + p[5];
        }
    }
}

template <bool AlphaKept>
void SixTapColumn64f(double* dst, std::int32_t count, const double* w, const double* b0, const double* b1,
                     const double* b2, const double* b3, const double* b4, const double* b5)
{
    const std::int32_t values = AlphaKept ? 3 * count : count;
    for (std::int32_t m = 0; m < values; ++m) {
        if constexpr (AlphaKept)
            dst[4 * (m / 3) + m % 3] =
                ((((w[0] * b0[m] + w[1] * b1[m]) + w[2] * b2[m]) + w[3] * b3[m]) + w[4] * b4[m]) + w[5] * b5[m];
        else
            dst[m] = ((w[0] * b0[m] + w[1] * b1[m]) + (w[2] * b2[m] + w[3] * b3[m])) + (w[4] * b4[m] + w[5] * b5[m]);
    }
}

// The Lanczos row kernel. Columns are told apart by their index against the
// offsets of pixels 0, 1, R - 3, R - 2 and R - 1 (R the right distance); the
// indices never decrease and every j lies in [0, R). With a left distance of
// 0 or 1 the image is at least 8 pixels wide beyond it, so no column takes a
// left and a right form at once.
template <typename Sample, int Channels>
using SixTapRowRoutine = void(const Sample*, std::int32_t, const std::int32_t*, const float*, float*, std::int32_t);

template <typename Sample, int Channels, SixTapRowRoutine<Sample, Channels>* Interior = &SixTapRow<Sample, Channels>>
void LanczosRowKernel(const Sample* src, std::int32_t stride, const std::int32_t* columns, const float* weights,
                      float* out, std::int32_t width, std::int32_t left, std::int32_t right)
{
    const std::int32_t pixel = Channels == 1 ? 1 : (Channels == 4 ? 4 : (stride == 3 ? 3 : 4));
    auto sample = [&](std::int32_t c, std::int32_t x, int ch) {
        return static_cast<float>(src[columns[c] + x * pixel + ch]);
    };
    std::int32_t c = 0;
    // Value of column c from its edge product and the other taps (offsets
    // from j, weight index) added in the listed order.
    auto edge = [&](std::int32_t atEdge, float edgeWeight, std::initializer_list<int> others) {
        const float* w = weights + 6 * c;
        for (int ch = 0; ch < Channels; ++ch) {
            float v = edgeWeight * sample(c, atEdge, ch);
            for (int k : others)
                v = v + w[k] * sample(c, k - 2, ch);
            out[Channels * c + ch] = v;
        }
    };
    auto w = [&](int k) { return weights[6 * c + k]; };
    if (left == 0) {
        for (; c < width && columns[c] == 0; ++c)
            edge(0, (w(0) + w(1)) + w(2), {3, 4, 5});
        for (; c < width && columns[c] == pixel; ++c)
            edge(-1, w(0) + w(1), {2, 3, 4, 5});
    } else if (left == 1) {
        for (; c < width && columns[c] == 0; ++c)
            edge(-1, w(0) + w(1), {2, 3, 4, 5});
    }
    const std::int32_t first = c;
    // Columns ascend: the interior ends where the right-edge columns begin,
    // found from the end of the row (a few steps, not a walk over the row).
    {
        const std::int32_t limit = (right - 3) * pixel;
        std::int32_t end = width;
        while (end > first && columns[end - 1] >= limit)
            --end;
        c = end;
    }
    if (c > first)
        Interior(src, stride, columns + first, weights + 6 * first, out + Channels * first, c - first);
    for (; c < width && columns[c] == (right - 3) * pixel; ++c) {
        if (left == 0)
            edge(2, w(4) + w(5), {3, 0, 1, 2});
        else
            edge(2, w(4) + w(5), {0, 1, 2, 3});
    }
    for (; c < width && columns[c] == (right - 2) * pixel; ++c) {
        if (left == 0)
            edge(1, (w(3) + w(4)) + w(5), {2, 0, 1});
        else
            edge(1, (w(3) + w(4)) + w(5), {0, 1, 2});
    }
    for (; c < width && columns[c] == (right - 1) * pixel; ++c)
        edge(0, ((w(2) + w(3)) + w(4)) + w(5), {0, 1});
}

// ---------------------------------------------------------------------------
// Named routines.

inline constexpr auto* SixTapRow_8u_C1 = &SixTapRow<std::uint8_t, 1>;
inline constexpr auto* SixTapRow_16u_C1 = &SixTapRow<std::uint16_t, 1>;
inline constexpr auto* SixTapRow_32f_C1 = &SixTapRow<float, 1>;
inline constexpr auto* SixTapRow_16s_C1 = &SixTapRow<std::int16_t, 1>;
inline constexpr auto* SixTapRow_8u_C3 = &SixTapRow<std::uint8_t, 3>;
inline constexpr auto* SixTapRow_16u_C3 = &SixTapRow<std::uint16_t, 3>;
inline constexpr auto* SixTapRow_32f_C3 = &SixTapRow<float, 3>;
inline constexpr auto* SixTapRow_16s_C3 = &SixTapRow<std::int16_t, 3>;
inline constexpr auto* SixTapRow_8u_C4 = &SixTapRow<std::uint8_t, 4>;
inline constexpr auto* SixTapRow_16u_C4 = &SixTapRow<std::uint16_t, 4>;
inline constexpr auto* SixTapRow_32f_C4 = &SixTapRow<float, 4>;
inline constexpr auto* SixTapRow_16s_C4 = &SixTapRow<std::int16_t, 4>;

inline constexpr auto* SixTapRow_64f_C1 = &SixTapRow64f<1>;
inline constexpr auto* SixTapRow_64f_C3 = &SixTapRow64f<3>;
inline constexpr auto* SixTapRow_64f_C4 = &SixTapRow64f<4>;
inline constexpr auto* SixTapColumn_64f = &SixTapColumn64f<false>;
inline constexpr auto* SixTapColumn_64f_AC4 = &SixTapColumn64f<true>;

inline constexpr auto* SixTapColumn_8u = &SixTapColumn<SixTapTo8u, false>;
inline constexpr auto* SixTapColumn_16u = &SixTapColumn<SixTapTo16u, false>;
inline constexpr auto* SixTapColumn_16s = &SixTapColumn<SixTapTo16s, false>;
inline constexpr auto* SixTapColumn_32f = &SixTapColumn<SixTapTo32f, false>;
inline constexpr auto* SixTapColumn_8u_AC4 = &SixTapColumn<SixTapTo8u, true>;
inline constexpr auto* SixTapColumn_16u_AC4 = &SixTapColumn<SixTapTo16u, true>;
inline constexpr auto* SixTapColumn_16s_AC4 = &SixTapColumn<SixTapTo16s, true>;
inline constexpr auto* SixTapColumn_32f_AC4 = &SixTapColumn<SixTapTo32f, true>;

inline constexpr auto* LanczosRowKernel_8u_C1 = &LanczosRowKernel<std::uint8_t, 1>;
inline constexpr auto* LanczosRowKernel_16u_C1 = &LanczosRowKernel<std::uint16_t, 1>;
inline constexpr auto* LanczosRowKernel_32f_C1 = &LanczosRowKernel<float, 1>;
inline constexpr auto* LanczosRowKernel_8u_C3 = &LanczosRowKernel<std::uint8_t, 3>;
inline constexpr auto* LanczosRowKernel_16u_C3 = &LanczosRowKernel<std::uint16_t, 3>;
inline constexpr auto* LanczosRowKernel_32f_C3 = &LanczosRowKernel<float, 3>;
inline constexpr auto* LanczosRowKernel_8u_C4 = &LanczosRowKernel<std::uint8_t, 4>;
inline constexpr auto* LanczosRowKernel_16u_C4 = &LanczosRowKernel<std::uint16_t, 4>;
inline constexpr auto* LanczosRowKernel_32f_C4 = &LanczosRowKernel<float, 4>;

// ---------------------------------------------------------------------------
// Alternate set. The row routines add in tap order, as the 8u, 16u, 32f and
// 16s twins do (the 64f one-channel twin groups otherwise); the column
// routines add in tap order (16s: tap 0 last) and convert by the alternate
// rule. The Lanczos row kernels compute their interior columns in tap order,
// which is what the portable twins do, so those bodies serve.

inline constexpr auto* SixTapRow_8u_C1_alt = SixTapRow_8u_C1;
inline constexpr auto* SixTapRow_16u_C1_alt = SixTapRow_16u_C1;
inline constexpr auto* SixTapRow_32f_C1_alt = SixTapRow_32f_C1;
inline constexpr auto* SixTapRow_16s_C1_alt = SixTapRow_16s_C1;
inline constexpr auto* SixTapRow_64f_C1_alt = &SixTapRow<double, 1, double>;
inline constexpr auto* SixTapRow_8u_C3_alt = SixTapRow_8u_C3;
inline constexpr auto* SixTapRow_16u_C3_alt = SixTapRow_16u_C3;
inline constexpr auto* SixTapRow_32f_C3_alt = SixTapRow_32f_C3;
inline constexpr auto* SixTapRow_16s_C3_alt = SixTapRow_16s_C3;
inline constexpr auto* SixTapRow_64f_C3_alt = &SixTapRow<double, 3, double>;
inline constexpr auto* SixTapRow_8u_C4_alt = SixTapRow_8u_C4;
inline constexpr auto* SixTapRow_16u_C4_alt = SixTapRow_16u_C4;
inline constexpr auto* SixTapRow_32f_C4_alt = SixTapRow_32f_C4;
inline constexpr auto* SixTapRow_16s_C4_alt = SixTapRow_16s_C4;
inline constexpr auto* SixTapRow_64f_C4_alt = &SixTapRow<double, 4, double>;

inline constexpr auto* SixTapColumn_8u_alt = &SixTapColumnInOrder<AltTo8u, false>;
inline constexpr auto* SixTapColumn_16u_alt = &SixTapColumnInOrder<AltTo16u, false>;
inline constexpr auto* SixTapColumn_32f_alt = &SixTapColumnInOrder<SampleAsIs<float>, false>;
inline constexpr auto* SixTapColumn_16s_alt = &SixTapColumnInOrder<AltTo16s, false, true>;
inline constexpr auto* SixTapColumn_64f_alt = &SixTapColumnInOrder<SampleAsIs<double>, false>;
inline constexpr auto* SixTapColumn_8u_AC4_alt = &SixTapColumnInOrder<AltTo8u, true>;
inline constexpr auto* SixTapColumn_16u_AC4_alt = &SixTapColumnInOrder<AltTo16u, true>;
inline constexpr auto* SixTapColumn_32f_AC4_alt = &SixTapColumnInOrder<SampleAsIs<float>, true>;
inline constexpr auto* SixTapColumn_16s_AC4_alt = &SixTapColumnInOrder<AltTo16s, true, true>;
inline constexpr auto* SixTapColumn_64f_AC4_alt = &SixTapColumnInOrder<SampleAsIs<double>, true>;

inline constexpr auto* LanczosRowKernel_8u_C1_alt = LanczosRowKernel_8u_C1;
inline constexpr auto* LanczosRowKernel_16u_C1_alt = LanczosRowKernel_16u_C1;
inline constexpr auto* LanczosRowKernel_32f_C1_alt = LanczosRowKernel_32f_C1;
inline constexpr auto* LanczosRowKernel_8u_C3_alt = LanczosRowKernel_8u_C3;
inline constexpr auto* LanczosRowKernel_16u_C3_alt = LanczosRowKernel_16u_C3;
inline constexpr auto* LanczosRowKernel_32f_C3_alt = LanczosRowKernel_32f_C3;
inline constexpr auto* LanczosRowKernel_8u_C4_alt = LanczosRowKernel_8u_C4;
inline constexpr auto* LanczosRowKernel_16u_C4_alt = LanczosRowKernel_16u_C4;
inline constexpr auto* LanczosRowKernel_32f_C4_alt = LanczosRowKernel_32f_C4;

// The window of the Lanczos kernel, sinc(x) sinc(x / 3), at steps of 0.01 from
// 0 to 3 and one 0 past the end: 302 floats, entries 100, 200 and 300 exactly
// 0.
const float* LanczosKernelTable();

// Six weights per fraction (taps j - 2 .. j + 3), normalised to sum 1, in
// single precision from the table by linear interpolation; n fractions in,
// 6 x n floats out.
void BuildLanczosWeights(const float* fractions, std::int32_t n, float* out, const float* table);

}  // namespace resize_detail
