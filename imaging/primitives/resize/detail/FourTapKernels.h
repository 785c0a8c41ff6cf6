#pragma once
// The four-tap resize kernels: one row template (horizontal pass of one source
// row into a row buffer) and one column template (four row buffers into a
// destination row), over the sample type, the precision, the layout and the
// conversion. Every named kernel below is an instantiation.
//
// All weights come ready-made from the caller: a row value is w0 S(i - 1) +
// w1 S(i) + w2 S(i + 1) + w3 S(i + 2) per channel, a column value u0 B0 + u1 B1
// + u2 B2 + u3 B3, both added in tap order, ((a + b) + c) + d, in single
// precision (double for 64f). Integer results are rounded to nearest with ties
// to even and saturated (SixTapToInteger: the clamp comes first, in floating
// point), float results are stored as they are.
//
// Kernels test no bounds and trust their tables. A row kernel reads only the
// four tap pixels of each column (an AC4 kernel never lets alpha reach the
// buffer) and writes width x channels values; a column kernel reads count
// (AC4: 3 x count) values of each buffer and never writes an alpha sample.

#include <cstdint>

#include "imaging/primitives/resize/detail/LanczosKernels.h"

namespace resize_detail {

// Channels 1, 3 (stride 4 is AC4, any other C3) or 4; the one- and
// four-channel members ignore the stride.
template <typename Sample, typename Real, int Channels>
void FourTapRowKernel(const Sample* src, std::int32_t n, std::int32_t stride, const std::int32_t* columns,
                      const Real* weights, Real* out)
{
    const std::int32_t pixel = Channels == 1 ? 1 : (Channels == 4 ? 4 : (stride == 4 ? 4 : 3));
    for (std::int32_t c = 0; c < n; ++c) {
        const Sample* s = src + columns[c];
        const Real* w = weights + 4 * c;
        for (int ch = 0; ch < Channels; ++ch) {
            const Real p0 = w[0] * static_cast<Real>(s[ch - pixel]);
            const Real p1 = w[1] * static_cast<Real>(s[ch]);
            const Real p2 = w[2] * static_cast<Real>(s[ch + pixel]);
            const Real p3 = w[3] * static_cast<Real>(s[ch + 2 * pixel]);
            out[Channels * c + ch] = ((p0 + p1) + p2) + p3;
        }
    }
}

// count: samples (contiguous) or pixels (AlphaKept); u the row's four weights.
template <class P, bool AlphaKept>
void FourTapColumnKernel(typename P::Sample* dst, std::int32_t count, const typename P::Real* u,
                         const typename P::Real* b0, const typename P::Real* b1, const typename P::Real* b2,
                         const typename P::Real* b3)
{
    const std::int32_t values = AlphaKept ? 3 * count : count;
    for (std::int32_t m = 0; m < values; ++m) {
        const typename P::Real v = ((u[0] * b0[m] + u[1] * b1[m]) + u[2] * b2[m]) + u[3] * b3[m];
        dst[AlphaKept ? 4 * (m / 3) + m % 3 : m] = P::Convert(v);
    }
}

using FourTapTo8u = SixTapTo8u;
using FourTapTo16u = SixTapTo16u;
using FourTapTo16s = SixTapTo16s;
using FourTapTo32f = SampleAsIs<float>;
using FourTapTo64f = SampleAsIs<double>;

// ---------------------------------------------------------------------------
// Named kernels.

inline constexpr auto* FourTapRowKernel_8u_C1 = &FourTapRowKernel<std::uint8_t, float, 1>;
inline constexpr auto* FourTapRowKernel_16u_C1 = &FourTapRowKernel<std::uint16_t, float, 1>;
inline constexpr auto* FourTapRowKernel_32f_C1 = &FourTapRowKernel<float, float, 1>;
inline constexpr auto* FourTapRowKernel_16s_C1 = &FourTapRowKernel<std::int16_t, float, 1>;
inline constexpr auto* FourTapRowKernel_64f_C1 = &FourTapRowKernel<double, double, 1>;
inline constexpr auto* FourTapRowKernel_8u_C3 = &FourTapRowKernel<std::uint8_t, float, 3>;
inline constexpr auto* FourTapRowKernel_16u_C3 = &FourTapRowKernel<std::uint16_t, float, 3>;
inline constexpr auto* FourTapRowKernel_32f_C3 = &FourTapRowKernel<float, float, 3>;
inline constexpr auto* FourTapRowKernel_16s_C3 = &FourTapRowKernel<std::int16_t, float, 3>;
inline constexpr auto* FourTapRowKernel_64f_C3 = &FourTapRowKernel<double, double, 3>;
inline constexpr auto* FourTapRowKernel_8u_C4 = &FourTapRowKernel<std::uint8_t, float, 4>;
inline constexpr auto* FourTapRowKernel_16u_C4 = &FourTapRowKernel<std::uint16_t, float, 4>;
inline constexpr auto* FourTapRowKernel_32f_C4 = &FourTapRowKernel<float, float, 4>;
inline constexpr auto* FourTapRowKernel_16s_C4 = &FourTapRowKernel<std::int16_t, float, 4>;
inline constexpr auto* FourTapRowKernel_64f_C4 = &FourTapRowKernel<double, double, 4>;

inline constexpr auto* FourTapColumnKernel_8u = &FourTapColumnKernel<FourTapTo8u, false>;
inline constexpr auto* FourTapColumnKernel_16u = &FourTapColumnKernel<FourTapTo16u, false>;
inline constexpr auto* FourTapColumnKernel_16s = &FourTapColumnKernel<FourTapTo16s, false>;
inline constexpr auto* FourTapColumnKernel_32f = &FourTapColumnKernel<FourTapTo32f, false>;
inline constexpr auto* FourTapColumnKernel_64f = &FourTapColumnKernel<FourTapTo64f, false>;
inline constexpr auto* FourTapColumnKernel_8u_AC4 = &FourTapColumnKernel<FourTapTo8u, true>;
inline constexpr auto* FourTapColumnKernel_16u_AC4 = &FourTapColumnKernel<FourTapTo16u, true>;
inline constexpr auto* FourTapColumnKernel_16s_AC4 = &FourTapColumnKernel<FourTapTo16s, true>;
inline constexpr auto* FourTapColumnKernel_32f_AC4 = &FourTapColumnKernel<FourTapTo32f, true>;
inline constexpr auto* FourTapColumnKernel_64f_AC4 = &FourTapColumnKernel<FourTapTo64f, true>;


// Alternate set: the row kernels and the float columns are the twins'; the
// integer columns convert by the alternate rule.
using FourTapTo8u_alt = AltTo8u;
using FourTapTo16u_alt = AltTo16u;
using FourTapTo16s_alt = AltTo16s;

inline constexpr auto* FourTapRowKernel_8u_C1_alt = FourTapRowKernel_8u_C1;
inline constexpr auto* FourTapRowKernel_16u_C1_alt = FourTapRowKernel_16u_C1;
inline constexpr auto* FourTapRowKernel_32f_C1_alt = FourTapRowKernel_32f_C1;
inline constexpr auto* FourTapRowKernel_16s_C1_alt = FourTapRowKernel_16s_C1;
inline constexpr auto* FourTapRowKernel_64f_C1_alt = FourTapRowKernel_64f_C1;
inline constexpr auto* FourTapRowKernel_8u_C3_alt = FourTapRowKernel_8u_C3;
inline constexpr auto* FourTapRowKernel_16u_C3_alt = FourTapRowKernel_16u_C3;
inline constexpr auto* FourTapRowKernel_32f_C3_alt = FourTapRowKernel_32f_C3;
inline constexpr auto* FourTapRowKernel_16s_C3_alt = FourTapRowKernel_16s_C3;
inline constexpr auto* FourTapRowKernel_64f_C3_alt = FourTapRowKernel_64f_C3;
inline constexpr auto* FourTapRowKernel_8u_C4_alt = FourTapRowKernel_8u_C4;
inline constexpr auto* FourTapRowKernel_16u_C4_alt = FourTapRowKernel_16u_C4;
inline constexpr auto* FourTapRowKernel_32f_C4_alt = FourTapRowKernel_32f_C4;
inline constexpr auto* FourTapRowKernel_16s_C4_alt = FourTapRowKernel_16s_C4;
inline constexpr auto* FourTapRowKernel_64f_C4_alt = FourTapRowKernel_64f_C4;

inline constexpr auto* FourTapColumnKernel_8u_alt = &FourTapColumnKernel<FourTapTo8u_alt, false>;
inline constexpr auto* FourTapColumnKernel_16u_alt = &FourTapColumnKernel<FourTapTo16u_alt, false>;
inline constexpr auto* FourTapColumnKernel_16s_alt = &FourTapColumnKernel<FourTapTo16s_alt, false>;
inline constexpr auto* FourTapColumnKernel_32f_alt = FourTapColumnKernel_32f;
inline constexpr auto* FourTapColumnKernel_64f_alt = FourTapColumnKernel_64f;
inline constexpr auto* FourTapColumnKernel_8u_AC4_alt = &FourTapColumnKernel<FourTapTo8u_alt, true>;
inline constexpr auto* FourTapColumnKernel_16u_AC4_alt = &FourTapColumnKernel<FourTapTo16u_alt, true>;
inline constexpr auto* FourTapColumnKernel_16s_AC4_alt = &FourTapColumnKernel<FourTapTo16s_alt, true>;
inline constexpr auto* FourTapColumnKernel_32f_AC4_alt = FourTapColumnKernel_32f_AC4;
inline constexpr auto* FourTapColumnKernel_64f_AC4_alt = FourTapColumnKernel_64f_AC4;

}  // namespace resize_detail
