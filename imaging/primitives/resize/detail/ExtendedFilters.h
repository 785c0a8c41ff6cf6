#pragma once
// The filter families the driver never selects: extended linear (the two-
// buffer linear walk), four-tap (the ring of four) and extended Lanczos (the
// ring of six), each a walk instantiated over a kernel set. A set of the
// alternate filters is the same walk over the alternate kernels.
//
// The filters are instantiated in one file per family; this header declares
// those instantiations so that including it costs no template work.

#include <cstdint>

#include "imaging/primitives/resize/detail/CubicLanczosFilters.h"
#include "imaging/primitives/resize/detail/FourTapKernels.h"
#include "imaging/primitives/resize/detail/LinearFilter.h"

namespace resize_detail {

// ---------------------------------------------------------------------------
// Extended linear: the 8u members are the 8u linear filters; 16u and 16s blend
// in float; 32f and 64f in the difference form in both passes.

using LinearExt16uKernels = PortableLinearKernels<RowFloat16<std::uint16_t>, ColumnFloatTo16<std::uint16_t>>;
using LinearExt16sKernels = PortableLinearKernels<RowFloat16<std::int16_t>, ColumnFloatTo16<std::int16_t>>;
using LinearExt32fKernels = PortableLinearKernels<RowFraction<float>, ColumnFraction<float>>;
using LinearExt64fKernels = PortableLinearKernels<RowFraction<double>, ColumnFraction<double>>;

inline constexpr LinearFilter* ResizeLinearExt_8u_Cn = ResizeLinear_8u_Cn;
inline constexpr LinearFilter* ResizeLinearExt_16u_Cn = &ResizeLinear<LinearExt16uKernels, false>;
inline constexpr LinearFilter* ResizeLinearExt_32f_Cn = &ResizeLinear<LinearExt32fKernels, false>;
inline constexpr LinearFilter* ResizeLinearExt_16s_Cn = &ResizeLinear<LinearExt16sKernels, false>;
inline constexpr LinearFilter* ResizeLinearExt_8u_C1 = ResizeLinear_8u_C1;
inline constexpr LinearFilter* ResizeLinearExt_16u_C1 = &ResizeLinear<LinearExt16uKernels, true>;
inline constexpr LinearFilter* ResizeLinearExt_32f_C1 = &ResizeLinear<LinearExt32fKernels, true>;
inline constexpr LinearFilter* ResizeLinearExt_16s_C1 = &ResizeLinear<LinearExt16sKernels, true>;
inline constexpr LinearFilter* ResizeLinearExt_64f_C1 = &ResizeLinear<LinearExt64fKernels, true>;
inline constexpr LinearFilter* ResizeLinearExt_64f_Cn = &ResizeLinear<LinearExt64fKernels, false>;

// ---------------------------------------------------------------------------
// Four-tap: four weights per row and per column entry.

template <typename SampleType, typename Real, class Conversion>
struct PortableFourTapKernels {
    using Sample = SampleType;
    using Weight = Real;
    static constexpr int kRowWeights = 4;
    static constexpr auto* Row1 = &FourTapRowKernel<Sample, Real, 1>;
    static constexpr auto* Row3 = &FourTapRowKernel<Sample, Real, 3>;
    static constexpr auto* Row4 = &FourTapRowKernel<Sample, Real, 4>;
    static constexpr auto* Column = &FourTapColumnKernel<Conversion, false>;
    static constexpr auto* ColumnAC4 = &FourTapColumnKernel<Conversion, true>;
};

using FourTap8uKernels = PortableFourTapKernels<std::uint8_t, float, FourTapTo8u>;
using FourTap16uKernels = PortableFourTapKernels<std::uint16_t, float, FourTapTo16u>;
using FourTap32fKernels = PortableFourTapKernels<float, float, FourTapTo32f>;
using FourTap16sKernels = PortableFourTapKernels<std::int16_t, float, FourTapTo16s>;
using FourTap64fKernels = PortableFourTapKernels<double, double, FourTapTo64f>;

inline constexpr CubicFilter* ResizeFourTap_8u_Cn = &ResizeCubic<FourTap8uKernels, false>;
inline constexpr CubicFilter* ResizeFourTap_16u_Cn = &ResizeCubic<FourTap16uKernels, false>;
inline constexpr CubicFilter* ResizeFourTap_32f_Cn = &ResizeCubic<FourTap32fKernels, false>;
inline constexpr CubicFilter* ResizeFourTap_16s_Cn = &ResizeCubic<FourTap16sKernels, false>;
inline constexpr CubicFilter* ResizeFourTap_8u_C1 = &ResizeCubic<FourTap8uKernels, true>;
inline constexpr CubicFilter* ResizeFourTap_16u_C1 = &ResizeCubic<FourTap16uKernels, true>;
inline constexpr CubicFilter* ResizeFourTap_32f_C1 = &ResizeCubic<FourTap32fKernels, true>;
inline constexpr CubicFilter* ResizeFourTap_16s_C1 = &ResizeCubic<FourTap16sKernels, true>;
inline constexpr CubicFilter* ResizeFourTap_64f_C1 = &ResizeCubic<FourTap64fKernels, true>;
inline constexpr CubicFilter* ResizeFourTap_64f_Cn = &ResizeCubic<FourTap64fKernels, false>;

// ---------------------------------------------------------------------------
// Extended Lanczos: the six-tap routines in the ring's row-kernel shape.

template <typename Sample, typename Real, auto Routine>
void SixTapRowInRing(const Sample* row, std::int32_t width, std::int32_t stride, const std::int32_t* columns,
                     const Real* weights, Real* out)
{
    Routine(row, stride, columns, weights, out, width);
}

template <typename SampleType, class Conversion>
struct PortableSixTapKernels {
    using Sample = SampleType;
    using Weight = float;
    static constexpr int kRowWeights = 6;
    static constexpr auto* Row1 = &SixTapRowInRing<Sample, float, &SixTapRow<Sample, 1>>;
    static constexpr auto* Row3 = &SixTapRowInRing<Sample, float, &SixTapRow<Sample, 3>>;
    static constexpr auto* Row4 = &SixTapRowInRing<Sample, float, &SixTapRow<Sample, 4>>;
    static constexpr auto* Column = &SixTapColumn<Conversion, false>;
    static constexpr auto* ColumnAC4 = &SixTapColumn<Conversion, true>;
};

struct SixTap64fKernels {
    using Sample = double;
    using Weight = double;
    static constexpr int kRowWeights = 6;
    static constexpr auto* Row1 = &SixTapRowInRing<double, double, SixTapRow_64f_C1>;
    static constexpr auto* Row3 = &SixTapRowInRing<double, double, SixTapRow_64f_C3>;
    static constexpr auto* Row4 = &SixTapRowInRing<double, double, SixTapRow_64f_C4>;
    static constexpr auto* Column = SixTapColumn_64f;
    static constexpr auto* ColumnAC4 = SixTapColumn_64f_AC4;
};

using SixTap8uKernels = PortableSixTapKernels<std::uint8_t, SixTapTo8u>;
using SixTap16uKernels = PortableSixTapKernels<std::uint16_t, SixTapTo16u>;
using SixTap32fKernels = PortableSixTapKernels<float, SixTapTo32f>;
using SixTap16sKernels = PortableSixTapKernels<std::int16_t, SixTapTo16s>;

inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_8u_Cn = &ResizeSixTapRing<SixTap8uKernels, false>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_16u_Cn = &ResizeSixTapRing<SixTap16uKernels, false>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_32f_Cn = &ResizeSixTapRing<SixTap32fKernels, false>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_16s_Cn = &ResizeSixTapRing<SixTap16sKernels, false>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_8u_C1 = &ResizeSixTapRing<SixTap8uKernels, true>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_16u_C1 = &ResizeSixTapRing<SixTap16uKernels, true>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_32f_C1 = &ResizeSixTapRing<SixTap32fKernels, true>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_16s_C1 = &ResizeSixTapRing<SixTap16sKernels, true>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_64f_C1 = &ResizeSixTapRing<SixTap64fKernels, true>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_64f_Cn = &ResizeSixTapRing<SixTap64fKernels, false>;

// ---------------------------------------------------------------------------
// The alternate set. Where a member computes exactly as its twin (every
// alternate linear member; the 8u, 32f and 64f extended linear members; the
// 32f and 64f four-tap members) the twin serves; the others are the same walk
// over the alternate kernels.

using LinearExt16uAltKernels = PortableLinearKernels<RowFloat16<std::uint16_t>, ColumnFloatTo16Alt<std::uint16_t>>;
using LinearExt16sAltKernels = PortableLinearKernels<RowFloat16<std::int16_t>, ColumnFloatTo16Alt<std::int16_t>>;

inline constexpr LinearFilter* ResizeLinear_8u_Cn_alt = ResizeLinear_8u_Cn;
inline constexpr LinearFilter* ResizeLinear_16u_Cn_alt = ResizeLinear_16u_Cn;
inline constexpr LinearFilter* ResizeLinear_32f_Cn_alt = ResizeLinear_32f_Cn;
inline constexpr LinearFilter* ResizeLinear_16s_Cn_alt = ResizeLinear_16s_Cn;
inline constexpr LinearFilter* ResizeLinear_8u_C1_alt = ResizeLinear_8u_C1;
inline constexpr LinearFilter* ResizeLinear_16u_C1_alt = ResizeLinear_16u_C1;
inline constexpr LinearFilter* ResizeLinear_32f_C1_alt = ResizeLinear_32f_C1;
inline constexpr LinearFilter* ResizeLinear_16s_C1_alt = ResizeLinear_16s_C1;

inline constexpr LinearFilter* ResizeLinearExt_8u_Cn_alt = ResizeLinear_8u_Cn_alt;
inline constexpr LinearFilter* ResizeLinearExt_16u_Cn_alt = &ResizeLinear<LinearExt16uAltKernels, false>;
inline constexpr LinearFilter* ResizeLinearExt_32f_Cn_alt = ResizeLinearExt_32f_Cn;
inline constexpr LinearFilter* ResizeLinearExt_16s_Cn_alt = &ResizeLinear<LinearExt16sAltKernels, false>;
inline constexpr LinearFilter* ResizeLinearExt_8u_C1_alt = ResizeLinear_8u_C1_alt;
inline constexpr LinearFilter* ResizeLinearExt_16u_C1_alt = &ResizeLinear<LinearExt16uAltKernels, true>;
inline constexpr LinearFilter* ResizeLinearExt_32f_C1_alt = ResizeLinearExt_32f_C1;
inline constexpr LinearFilter* ResizeLinearExt_16s_C1_alt = &ResizeLinear<LinearExt16sAltKernels, true>;
inline constexpr LinearFilter* ResizeLinearExt_64f_C1_alt = ResizeLinearExt_64f_C1;
inline constexpr LinearFilter* ResizeLinearExt_64f_Cn_alt = ResizeLinearExt_64f_Cn;

using FourTap8uAltKernels = PortableFourTapKernels<std::uint8_t, float, FourTapTo8u_alt>;
using FourTap16uAltKernels = PortableFourTapKernels<std::uint16_t, float, FourTapTo16u_alt>;
using FourTap16sAltKernels = PortableFourTapKernels<std::int16_t, float, FourTapTo16s_alt>;

inline constexpr CubicFilter* ResizeFourTap_8u_Cn_alt = &ResizeCubic<FourTap8uAltKernels, false>;
inline constexpr CubicFilter* ResizeFourTap_16u_Cn_alt = &ResizeCubic<FourTap16uAltKernels, false>;
inline constexpr CubicFilter* ResizeFourTap_32f_Cn_alt = ResizeFourTap_32f_Cn;
inline constexpr CubicFilter* ResizeFourTap_16s_Cn_alt = &ResizeCubic<FourTap16sAltKernels, false>;
inline constexpr CubicFilter* ResizeFourTap_8u_C1_alt = &ResizeCubic<FourTap8uAltKernels, true>;
inline constexpr CubicFilter* ResizeFourTap_16u_C1_alt = &ResizeCubic<FourTap16uAltKernels, true>;
inline constexpr CubicFilter* ResizeFourTap_32f_C1_alt = ResizeFourTap_32f_C1;
inline constexpr CubicFilter* ResizeFourTap_16s_C1_alt = &ResizeCubic<FourTap16sAltKernels, true>;
inline constexpr CubicFilter* ResizeFourTap_64f_C1_alt = ResizeFourTap_64f_C1;
inline constexpr CubicFilter* ResizeFourTap_64f_Cn_alt = ResizeFourTap_64f_Cn;

// Alternate six-tap sets: rows in tap order (Real precision), columns by
// SixTapColumnInOrder.
template <typename SampleType, typename Real, class Conversion, bool TapZeroLast = false>
struct AlternateSixTapKernels {
    using Sample = SampleType;
    using Weight = Real;
    static constexpr int kRowWeights = 6;
    static constexpr auto* Row1 = &SixTapRowInRing<Sample, Real, &SixTapRow<Sample, 1, Real>>;
    static constexpr auto* Row3 = &SixTapRowInRing<Sample, Real, &SixTapRow<Sample, 3, Real>>;
    static constexpr auto* Row4 = &SixTapRowInRing<Sample, Real, &SixTapRow<Sample, 4, Real>>;
    static constexpr auto* Column = &SixTapColumnInOrder<Conversion, false, TapZeroLast>;
    static constexpr auto* ColumnAC4 = &SixTapColumnInOrder<Conversion, true, TapZeroLast>;
};

using SixTap8uAltKernels = AlternateSixTapKernels<std::uint8_t, float, AltTo8u>;
using SixTap16uAltKernels = AlternateSixTapKernels<std::uint16_t, float, AltTo16u>;
using SixTap32fAltKernels = AlternateSixTapKernels<float, float, SampleAsIs<float>>;
using SixTap16sAltKernels = AlternateSixTapKernels<std::int16_t, float, AltTo16s, true>;
using SixTap64fAltKernels = AlternateSixTapKernels<double, double, SampleAsIs<double>>;

inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_8u_Cn_alt = &ResizeSixTapRing<SixTap8uAltKernels, false>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_16u_Cn_alt = &ResizeSixTapRing<SixTap16uAltKernels, false>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_32f_Cn_alt = &ResizeSixTapRing<SixTap32fAltKernels, false>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_16s_Cn_alt = &ResizeSixTapRing<SixTap16sAltKernels, false>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_8u_C1_alt = &ResizeSixTapRing<SixTap8uAltKernels, true>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_16u_C1_alt = &ResizeSixTapRing<SixTap16uAltKernels, true>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_32f_C1_alt = &ResizeSixTapRing<SixTap32fAltKernels, true>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_16s_C1_alt = &ResizeSixTapRing<SixTap16sAltKernels, true>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_64f_C1_alt = &ResizeSixTapRing<SixTap64fAltKernels, true>;
inline constexpr ExtendedLanczosFilter* ResizeLanczosExt_64f_Cn_alt = &ResizeSixTapRing<SixTap64fAltKernels, false>;

// ---------------------------------------------------------------------------
// The instantiations, one file per family.

#define GAVEX_EXTENDED_LINEAR(PREFIX, KERNELS, ONE)                                                                 \
    PREFIX template void ResizeLinear<KERNELS, ONE>(const void*, void*, std::int32_t, std::int32_t, std::int32_t, \
                                                    std::int32_t, const std::int32_t*, const std::int32_t*,       \
                                                    const void*, const void*, void*, void*, std::int32_t,         \
                                                    std::int32_t);
#define GAVEX_FOUR_TAP(PREFIX, KERNELS, ONE)                                                                        \
    PREFIX template void ResizeCubic<KERNELS, ONE>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,  \
                                                   std::int32_t, const std::int32_t*, const std::int32_t*,        \
                                                   const void*, const void*, void*, void*, void*, void*,          \
                                                   std::int32_t, std::int32_t);
#define GAVEX_SIX_TAP_RING(PREFIX, KERNELS, ONE)                                                                    \
    PREFIX template void ResizeSixTapRing<KERNELS, ONE>(                                                            \
        const void*, void*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, const std::int32_t*,           \
        const std::int32_t*, const void*, const void*, void*, void*, void*, void*, void*, void*, std::int32_t,     \
        std::int32_t);

#define GAVEX_EXTENDED_LINEAR_FAMILY(PREFIX)                  \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt16uKernels, false) \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt16uKernels, true)  \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt16sKernels, false) \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt16sKernels, true)  \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt32fKernels, false) \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt32fKernels, true)  \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt64fKernels, false) \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt64fKernels, true)
#define GAVEX_FOUR_TAP_FAMILY(PREFIX)                \
    GAVEX_FOUR_TAP(PREFIX, FourTap8uKernels, false)  \
    GAVEX_FOUR_TAP(PREFIX, FourTap8uKernels, true)   \
    GAVEX_FOUR_TAP(PREFIX, FourTap16uKernels, false) \
    GAVEX_FOUR_TAP(PREFIX, FourTap16uKernels, true)  \
    GAVEX_FOUR_TAP(PREFIX, FourTap32fKernels, false) \
    GAVEX_FOUR_TAP(PREFIX, FourTap32fKernels, true)  \
    GAVEX_FOUR_TAP(PREFIX, FourTap16sKernels, false) \
    GAVEX_FOUR_TAP(PREFIX, FourTap16sKernels, true)  \
    GAVEX_FOUR_TAP(PREFIX, FourTap64fKernels, false) \
    GAVEX_FOUR_TAP(PREFIX, FourTap64fKernels, true)
#define GAVEX_SIX_TAP_RING_FAMILY(PREFIX)                \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap8uKernels, false)   \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap8uKernels, true)    \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap16uKernels, false)  \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap16uKernels, true)   \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap32fKernels, false)  \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap32fKernels, true)   \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap16sKernels, false)  \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap16sKernels, true)   \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap64fKernels, false)  \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap64fKernels, true)

#define GAVEX_ALT_EXTENDED_FAMILY(PREFIX)                           \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt16uAltKernels, false)    \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt16uAltKernels, true)     \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt16sAltKernels, false)    \
    GAVEX_EXTENDED_LINEAR(PREFIX, LinearExt16sAltKernels, true)     \
    GAVEX_FOUR_TAP(PREFIX, FourTap8uAltKernels, false)              \
    GAVEX_FOUR_TAP(PREFIX, FourTap8uAltKernels, true)               \
    GAVEX_FOUR_TAP(PREFIX, FourTap16uAltKernels, false)             \
    GAVEX_FOUR_TAP(PREFIX, FourTap16uAltKernels, true)              \
    GAVEX_FOUR_TAP(PREFIX, FourTap16sAltKernels, false)             \
    GAVEX_FOUR_TAP(PREFIX, FourTap16sAltKernels, true)
#define GAVEX_ALT_SIX_TAP_RING_FAMILY(PREFIX)                \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap8uAltKernels, false)    \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap8uAltKernels, true)     \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap16uAltKernels, false)   \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap16uAltKernels, true)    \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap32fAltKernels, false)   \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap32fAltKernels, true)    \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap16sAltKernels, false)   \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap16sAltKernels, true)    \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap64fAltKernels, false)   \
    GAVEX_SIX_TAP_RING(PREFIX, SixTap64fAltKernels, true)

GAVEX_EXTENDED_LINEAR_FAMILY(extern)
GAVEX_ALT_EXTENDED_FAMILY(extern)
GAVEX_ALT_SIX_TAP_RING_FAMILY(extern)
GAVEX_FOUR_TAP_FAMILY(extern)
GAVEX_SIX_TAP_RING_FAMILY(extern)

}  // namespace resize_detail
