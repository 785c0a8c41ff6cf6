#pragma once
// The linear resize kernels: one row template (horizontal pass of one source
// row into a row buffer) and one column template (vertical blend of two row
// buffers into a destination row), each over an arithmetic policy that fixes
// the sample type, the weight format and the rounding. Every named kernel
// below is an instantiation of the two templates.
//
// Contracts shared by all kernels: offsets and counts are in samples; the
// kernels test no bounds and trust their tables; a count of 0 or less writes
// nothing. A row kernel reads, for column c with offset i, only the two pixels
// at i and i + the neighbour distance, and writes 1, 3 or 4 values per column
// (an AC4 source's fourth sample is never read). A column kernel reads count
// (AC4: 3 x count) values of each buffer and writes count samples (AC4: three
// of the four samples of each pixel, the fourth is never touched).

#include <cstdint>
#include <limits>

#include "imaging/primitives/resize/detail/AlternateRounding.h"

namespace resize_detail {

// ---------------------------------------------------------------------------
// Row policies: how two neighbouring samples become one row-buffer value.
// Each names Sample, Buffer and Weight (the column weight element), the number
// of weights per column, the distance of the right pixel of a three-channel
// pair for a given pixel stride, and Blend.

// 8u: Q14 pairs, the value kept with 6 fraction bits, rounded half up.
struct RowQ14Byte {
    using Sample = std::uint8_t;
    using Buffer = std::int16_t;
    using Weight = std::int16_t;
    static constexpr int kWeightsPerColumn = 2;
    static int NeighbourDistance(std::int32_t stride) { return stride == 4 ? 4 : 3; }
    static Buffer Blend(Sample a, Sample b, const Weight* w)
    {
        const std::int32_t v = (static_cast<std::int32_t>(a) * w[0] + static_cast<std::int32_t>(b) * w[1] + 128) >> 8;
        return static_cast<Buffer>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
    }
};

// 16u: Q14 pairs, unsigned products, rounded to a whole sample.
struct RowQ14Unsigned16 {
    using Sample = std::uint16_t;
    using Buffer = std::uint16_t;
    using Weight = std::int16_t;
    static constexpr int kWeightsPerColumn = 2;
    static int NeighbourDistance(std::int32_t stride) { return stride; }
    static Buffer Blend(Sample a, Sample b, const Weight* w)
    {
        const std::uint32_t v = (static_cast<std::uint32_t>(a) * static_cast<std::uint16_t>(w[0]) +
                                 static_cast<std::uint32_t>(b) * static_cast<std::uint16_t>(w[1]) + 8192u) >>
                                14;
        return static_cast<Buffer>(v);
    }
};

// 16s: Q14 pairs, signed products, arithmetic shift.
struct RowQ14Signed16 {
    using Sample = std::int16_t;
    using Buffer = std::int16_t;
    using Weight = std::int16_t;
    static constexpr int kWeightsPerColumn = 2;
    static int NeighbourDistance(std::int32_t stride) { return stride == 4 ? 4 : 3; }
    static Buffer Blend(Sample a, Sample b, const Weight* w)
    {
        const std::int32_t v = (static_cast<std::int32_t>(a) * w[0] + static_cast<std::int32_t>(b) * w[1] + 8192) >> 14;
        return static_cast<Buffer>(v);
    }
};

// 32f and 64f: one fraction per column, a + (b - a) x f in the sample's own
// precision, in that order. Float three-channel pairs take the right pixel at
// the pixel stride; double ones at 3 for stride 3, else 4.
template <typename Real>
struct RowFraction {
    using Sample = Real;
    using Buffer = Real;
    using Weight = Real;
    static constexpr int kWeightsPerColumn = 1;
    static int NeighbourDistance(std::int32_t stride)
    {
        if constexpr (sizeof(Real) == 4)
            return stride;
        else
            return stride == 3 ? 3 : 4;
    }
    static Buffer Blend(Sample a, Sample b, const Weight* w)
    {
        const Real difference = b - a;
        const Real product = difference * w[0];
        return a + product;
    }
};

// Extended 16u and 16s: the sample widened exactly to float, a + (b - a) x u
// in single precision in that order, the buffer unrounded; three-channel
// pairs take the right pixel at the pixel stride.
template <typename Sample16>
struct RowFloat16 {
    using Sample = Sample16;
    using Buffer = float;
    using Weight = float;
    static constexpr int kWeightsPerColumn = 1;
    static int NeighbourDistance(std::int32_t stride) { return stride; }
    static Buffer Blend(Sample a, Sample b, const Weight* w)
    {
        const float fa = static_cast<float>(a);
        const float difference = static_cast<float>(b) - fa;
        const float product = difference * w[0];
        return fa + product;
    }
};

// ---------------------------------------------------------------------------
// Column policies: how an upper and a lower buffer value become one sample
// with the row weight w of the lower row.

// 8u: Q14 on values with 6 fraction bits: 20 fraction bits, rounded half up,
// saturated to 0..255.
struct ColumnQ14Byte {
    using Buffer = std::int16_t;
    using Dest = std::uint8_t;
    using Weight = std::int32_t;
    static Dest Blend(Buffer u, Buffer d, Weight w)
    {
        const std::int32_t v = (static_cast<std::int32_t>(u) * (16384 - w) + static_cast<std::int32_t>(d) * w + 524288) >> 20;
        return static_cast<Dest>(v > 255 ? 255 : (v < 0 ? 0 : v));
    }
};

struct ColumnQ14Unsigned16 {
    using Buffer = std::uint16_t;
    using Dest = std::uint16_t;
    using Weight = std::int32_t;
    static Dest Blend(Buffer u, Buffer d, Weight w)
    {
        const auto uw = static_cast<std::uint32_t>(16384 - w);
        const auto dw = static_cast<std::uint32_t>(w);
        return static_cast<Dest>((u * uw + d * dw + 8192u) >> 14);
    }
};

struct ColumnQ14Signed16 {
    using Buffer = std::int16_t;
    using Dest = std::int16_t;
    using Weight = std::int32_t;
    static Dest Blend(Buffer u, Buffer d, Weight w)
    {
        return static_cast<Dest>((static_cast<std::int32_t>(u) * (16384 - w) + static_cast<std::int32_t>(d) * w + 8192) >> 14);
    }
};

// The linear table's float column form: u x (1 - w) + d x w, each product
// rounded to float before the sum.
struct ColumnComplement32f {
    using Buffer = float;
    using Dest = float;
    using Weight = float;
    static Dest Blend(Buffer u, Buffer d, Weight w)
    {
        const float e = 1.0f - w;
        const float upper = u * e;
        const float lower = d * w;
        return upper + lower;
    }
};

// The extended form: T + (U - T) x t, difference, product, sum.
template <typename Real>
struct ColumnFraction {
    using Buffer = Real;
    using Dest = Real;
    using Weight = Real;
    static Dest Blend(Buffer u, Buffer d, Weight t)
    {
        const Real difference = d - u;
        const Real product = difference * t;
        return u + product;
    }
};

// Extended 16u and 16s: T + (U - T) x t in single precision, then 0.50000012
// added (16u; subtracted for a negative 16s value, halves away from zero),
// truncated toward zero and saturated. The clamp is taken in floating point
// before the truncation, so a blend beyond the 32-bit range saturates to the
// end it lies on and one that is not a number gives 0.
template <typename Dest16>
struct ColumnFloatTo16 {
    using Buffer = float;
    using Dest = Dest16;
    using Weight = float;
    static constexpr float kHalf = 0.50000012f;
    static Dest Convert(float v)
    {
        constexpr float lo = static_cast<float>(std::numeric_limits<Dest>::min());
        constexpr float hi = static_cast<float>(std::numeric_limits<Dest>::max());
        if (v != v)
            return 0;
        const float r = v >= 0.0f ? v + kHalf : v - kHalf;
        if (r >= hi)
            return std::numeric_limits<Dest>::max();
        if (r <= lo)
            return std::numeric_limits<Dest>::min();
        return static_cast<Dest>(static_cast<std::int32_t>(r));
    }
    static Dest Blend(Buffer u, Buffer d, Weight t)
    {
        const float difference = d - u;
        const float product = difference * t;
        return Convert(u + product);
    }
};

// The alternate extended 16u and 16s form: the same single-precision blend,
// converted by the alternate set's rule (AlternateRounding.h).
template <typename Dest16>
struct ColumnFloatTo16Alt {
    using Buffer = float;
    using Dest = Dest16;
    using Weight = float;
    using Rounding = RoundHalfUpDouble<Dest16, std::numeric_limits<Dest16>::min(), std::numeric_limits<Dest16>::max()>;
    static Dest Blend(Buffer u, Buffer d, Weight t)
    {
        const float difference = d - u;
        const float product = difference * t;
        return Rounding::Convert(u + product);
    }
};

// ---------------------------------------------------------------------------
// The two kernel templates. Channels is 1, 3 (C3 or AC4 by the stride) or 4.

template <class P, int Channels>
void LinearRowKernel(const typename P::Sample* src, std::int32_t n, std::int32_t stride, const std::int32_t* columns,
                     const typename P::Weight* weights, typename P::Buffer* out)
{
    const int right = Channels == 1 ? 1 : (Channels == 4 ? 4 : P::NeighbourDistance(stride));
    for (std::int32_t c = 0; c < n; ++c) {
        const typename P::Sample* a = src + columns[c];
        const typename P::Weight* w = weights + P::kWeightsPerColumn * c;
        for (int k = 0; k < Channels; ++k)
            out[Channels * c + k] = P::Blend(a[k], a[right + k], w);
    }
}

template <class P, bool AlphaKept>
void LinearColumnKernel(typename P::Dest* dst, std::int32_t count, typename P::Weight w, const typename P::Buffer* upper,
                        const typename P::Buffer* lower)
{
    if constexpr (AlphaKept) {
        for (std::int32_t q = 0; q < count; ++q)
            for (int k = 0; k < 3; ++k)
                dst[4 * q + k] = P::Blend(upper[3 * q + k], lower[3 * q + k], w);
    } else {
        for (std::int32_t p = 0; p < count; ++p)
            dst[p] = P::Blend(upper[p], lower[p], w);
    }
}

// ---------------------------------------------------------------------------
// Named kernels. The one- and four-channel row kernels ignore the stride.

inline constexpr auto* LinearRowKernel_8u_C1 = &LinearRowKernel<RowQ14Byte, 1>;
inline constexpr auto* LinearRowKernel_8u_C3 = &LinearRowKernel<RowQ14Byte, 3>;
inline constexpr auto* LinearRowKernel_8u_C4 = &LinearRowKernel<RowQ14Byte, 4>;
inline constexpr auto* LinearColumnKernel_8u = &LinearColumnKernel<ColumnQ14Byte, false>;
inline constexpr auto* LinearColumnKernel_8u_AC4 = &LinearColumnKernel<ColumnQ14Byte, true>;

inline constexpr auto* LinearRowKernel_16u_C1 = &LinearRowKernel<RowQ14Unsigned16, 1>;
inline constexpr auto* LinearRowKernel_16u_C3 = &LinearRowKernel<RowQ14Unsigned16, 3>;
inline constexpr auto* LinearRowKernel_16u_C4 = &LinearRowKernel<RowQ14Unsigned16, 4>;
inline constexpr auto* LinearColumnKernel_16u = &LinearColumnKernel<ColumnQ14Unsigned16, false>;
inline constexpr auto* LinearColumnKernel_16u_AC4 = &LinearColumnKernel<ColumnQ14Unsigned16, true>;

inline constexpr auto* LinearRowKernel_16s_C1 = &LinearRowKernel<RowQ14Signed16, 1>;
inline constexpr auto* LinearRowKernel_16s_C3 = &LinearRowKernel<RowQ14Signed16, 3>;
inline constexpr auto* LinearRowKernel_16s_C4 = &LinearRowKernel<RowQ14Signed16, 4>;
inline constexpr auto* LinearColumnKernel_16s = &LinearColumnKernel<ColumnQ14Signed16, false>;
inline constexpr auto* LinearColumnKernel_16s_AC4 = &LinearColumnKernel<ColumnQ14Signed16, true>;

inline constexpr auto* LinearRowKernel_32f_C1 = &LinearRowKernel<RowFraction<float>, 1>;
inline constexpr auto* LinearRowKernel_32f_C3 = &LinearRowKernel<RowFraction<float>, 3>;
inline constexpr auto* LinearRowKernel_32f_C4 = &LinearRowKernel<RowFraction<float>, 4>;
inline constexpr auto* LinearColumnKernel_32f = &LinearColumnKernel<ColumnComplement32f, false>;
inline constexpr auto* LinearColumnKernel_32f_AC4 = &LinearColumnKernel<ColumnComplement32f, true>;

// The extended members for 32f and 64f (difference form in both passes).
inline constexpr auto* LinearRowKernelExt_32f_C1 = &LinearRowKernel<RowFraction<float>, 1>;
inline constexpr auto* LinearColumnKernelExt_32f = &LinearColumnKernel<ColumnFraction<float>, false>;
inline constexpr auto* LinearColumnKernelExt_32f_AC4 = &LinearColumnKernel<ColumnFraction<float>, true>;
inline constexpr auto* LinearRowKernelExt_64f_C1 = &LinearRowKernel<RowFraction<double>, 1>;
inline constexpr auto* LinearRowKernelExt_64f_C3 = &LinearRowKernel<RowFraction<double>, 3>;
inline constexpr auto* LinearRowKernelExt_64f_C4 = &LinearRowKernel<RowFraction<double>, 4>;
inline constexpr auto* LinearColumnKernelExt_64f = &LinearColumnKernel<ColumnFraction<double>, false>;
inline constexpr auto* LinearColumnKernelExt_64f_AC4 = &LinearColumnKernel<ColumnFraction<double>, true>;

// The extended members for 16u and 16s (float buffers, converted at the end).
inline constexpr auto* LinearRowKernelExt_16u_C1 = &LinearRowKernel<RowFloat16<std::uint16_t>, 1>;
inline constexpr auto* LinearRowKernelExt_16u_C3 = &LinearRowKernel<RowFloat16<std::uint16_t>, 3>;
inline constexpr auto* LinearRowKernelExt_16u_C4 = &LinearRowKernel<RowFloat16<std::uint16_t>, 4>;
inline constexpr auto* LinearColumnKernelExt_16u = &LinearColumnKernel<ColumnFloatTo16<std::uint16_t>, false>;
inline constexpr auto* LinearColumnKernelExt_16u_AC4 = &LinearColumnKernel<ColumnFloatTo16<std::uint16_t>, true>;
inline constexpr auto* LinearRowKernelExt_16s_C1 = &LinearRowKernel<RowFloat16<std::int16_t>, 1>;
inline constexpr auto* LinearRowKernelExt_16s_C3 = &LinearRowKernel<RowFloat16<std::int16_t>, 3>;
inline constexpr auto* LinearRowKernelExt_16s_C4 = &LinearRowKernel<RowFloat16<std::int16_t>, 4>;
inline constexpr auto* LinearColumnKernelExt_16s = &LinearColumnKernel<ColumnFloatTo16<std::int16_t>, false>;
inline constexpr auto* LinearColumnKernelExt_16s_AC4 = &LinearColumnKernel<ColumnFloatTo16<std::int16_t>, true>;


// ---------------------------------------------------------------------------
// Alternate set. The Q14 kernels and the float kernels other than the 16-bit
// extended columns compute exactly their twins' formulas in the same order, so
// the twins' bodies serve; LinearRowKernel_32f_C3 belongs to both sets.

inline constexpr auto* LinearRowKernel_8u_C1_alt = LinearRowKernel_8u_C1;
inline constexpr auto* LinearRowKernel_8u_C3_alt = LinearRowKernel_8u_C3;
inline constexpr auto* LinearRowKernel_8u_C4_alt = LinearRowKernel_8u_C4;
inline constexpr auto* LinearColumnKernel_8u_alt = LinearColumnKernel_8u;
inline constexpr auto* LinearColumnKernel_8u_AC4_alt = LinearColumnKernel_8u_AC4;
inline constexpr auto* LinearRowKernel_16u_C1_alt = LinearRowKernel_16u_C1;
inline constexpr auto* LinearRowKernel_16u_C3_alt = LinearRowKernel_16u_C3;
inline constexpr auto* LinearRowKernel_16u_C4_alt = LinearRowKernel_16u_C4;
inline constexpr auto* LinearColumnKernel_16u_alt = LinearColumnKernel_16u;
inline constexpr auto* LinearColumnKernel_16u_AC4_alt = LinearColumnKernel_16u_AC4;
inline constexpr auto* LinearRowKernel_16s_C1_alt = LinearRowKernel_16s_C1;
inline constexpr auto* LinearRowKernel_16s_C3_alt = LinearRowKernel_16s_C3;
inline constexpr auto* LinearRowKernel_16s_C4_alt = LinearRowKernel_16s_C4;
inline constexpr auto* LinearColumnKernel_16s_alt = LinearColumnKernel_16s;
inline constexpr auto* LinearColumnKernel_16s_AC4_alt = LinearColumnKernel_16s_AC4;

inline constexpr auto* LinearRowKernel_32f_C1_alt = LinearRowKernel_32f_C1;
inline constexpr auto* LinearRowKernel_32f_C4_alt = LinearRowKernel_32f_C4;
// The fraction comes by value in both sets here.
inline constexpr auto* LinearColumnKernel_32f_alt = LinearColumnKernel_32f;
inline constexpr auto* LinearColumnKernel_32f_AC4_alt = LinearColumnKernel_32f_AC4;
inline constexpr auto* LinearColumnKernelExt_32f_alt = LinearColumnKernelExt_32f;
inline constexpr auto* LinearColumnKernelExt_32f_AC4_alt = LinearColumnKernelExt_32f_AC4;
inline constexpr auto* LinearRowKernelExt_64f_C1_alt = LinearRowKernelExt_64f_C1;
inline constexpr auto* LinearRowKernelExt_64f_C3_alt = LinearRowKernelExt_64f_C3;
inline constexpr auto* LinearRowKernelExt_64f_C4_alt = LinearRowKernelExt_64f_C4;
inline constexpr auto* LinearColumnKernelExt_64f_alt = LinearColumnKernelExt_64f;
inline constexpr auto* LinearColumnKernelExt_64f_AC4_alt = LinearColumnKernelExt_64f_AC4;
inline constexpr auto* LinearRowKernelExt_16u_C1_alt = LinearRowKernelExt_16u_C1;
inline constexpr auto* LinearRowKernelExt_16u_C3_alt = LinearRowKernelExt_16u_C3;
inline constexpr auto* LinearRowKernelExt_16u_C4_alt = LinearRowKernelExt_16u_C4;
inline constexpr auto* LinearRowKernelExt_16s_C1_alt = LinearRowKernelExt_16s_C1;
inline constexpr auto* LinearRowKernelExt_16s_C3_alt = LinearRowKernelExt_16s_C3;
inline constexpr auto* LinearRowKernelExt_16s_C4_alt = LinearRowKernelExt_16s_C4;
inline constexpr auto* LinearColumnKernelExt_16u_alt = &LinearColumnKernel<ColumnFloatTo16Alt<std::uint16_t>, false>;
inline constexpr auto* LinearColumnKernelExt_16u_AC4_alt = &LinearColumnKernel<ColumnFloatTo16Alt<std::uint16_t>, true>;
inline constexpr auto* LinearColumnKernelExt_16s_alt = &LinearColumnKernel<ColumnFloatTo16Alt<std::int16_t>, false>;
inline constexpr auto* LinearColumnKernelExt_16s_AC4_alt = &LinearColumnKernel<ColumnFloatTo16Alt<std::int16_t>, true>;

}  // namespace resize_detail
