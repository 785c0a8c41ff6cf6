#pragma once
// The bodies of the cubic and Lanczos filters: the four-buffer cubic ring and
// the six-buffer Lanczos window, each a template over a kernel set, and the
// portable kernel sets. Included by the files that instantiate filters (and by
// tests that watch the walks through their own kernel sets).
//
// A cubic kernel set names Sample, Row1, Row3 (stride tells C3 from AC4), Row4
// (source row, width, stride, column index table, column weights, buffer) and
// Column, ColumnAC4 (destination, count, address of the row weight, B0..B3).
// A Lanczos kernel set names Sample, Row1, Row3, Row4 (source row, stride,
// column index table, column weights, buffer, width, left distance, right
// distance) and Column, ColumnAC4 (destination, count, the six row weights,
// B0..B5).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "imaging/primitives/VectorOps.h"
#include "imaging/primitives/resize/detail/CubicKernels.h"
#include "imaging/primitives/resize/detail/LanczosKernels.h"
#include "imaging/primitives/resize/detail/ResizeFilters.h"

namespace resize_detail {

// What a ring needs of a kernel set beyond its functions: Weight (the element
// of both weight tables and of the row buffers, float unless the set names
// another) and kRowWeights (entries per destination row in the row weight
// table, 1 unless the set names another).
template <class Kernels, class = void>
struct RingWeight {
    using Type = float;
};
template <class Kernels>
struct RingWeight<Kernels, std::void_t<typename Kernels::Weight>> {
    using Type = typename Kernels::Weight;
};
template <class Kernels, class = void>
struct RingRowWeights : std::integral_constant<int, 1> {};
template <class Kernels>
struct RingRowWeights<Kernels, std::void_t<decltype(Kernels::kRowWeights)>>
    : std::integral_constant<int, Kernels::kRowWeights> {};
// kRowWeightByValue: the column kernels take the row's single weight by value
// instead of its address (the alternate cubic set).
template <class Kernels, class = void>
struct RingRowWeightByValue : std::false_type {};
template <class Kernels>
struct RingRowWeightByValue<Kernels, std::void_t<decltype(Kernels::kRowWeightByValue)>>
    : std::bool_constant<Kernels::kRowWeightByValue> {};
// Copy: the whole-buffer copy of the Lanczos window (CopyVector32_x3 unless
// the set names another).
template <class Kernels, class = void>
struct WindowCopy {
    static constexpr auto* Copy = &CopyVector32_x3;
};
template <class Kernels>
struct WindowCopy<Kernels, std::void_t<decltype(Kernels::Copy)>> {
    static constexpr auto* Copy = Kernels::Copy;
};

// The ring of Taps row buffers (4: cubic and four-tap, 6: extended Lanczos).
// With h = Taps / 2, the window of destination row i with row offset r is the
// source rows at r - (h - 1)s .. r + h s (s the source step). Before the first
// row the rows r0 - (h - 1)s .. r0 + (h - 1)s are interpolated and the last
// offset L counts as one row before r0. When r moves beyond L in the
// direction of the step by d, k rows enter (k = m for d below (m + 1)|s|,
// m < Taps, else Taps) and are interpolated into the buffers that left the
// window; a step of 0 makes the first row a move by Taps and no other row
// moves. The row kernels take (row, width, stride, column index table,
// column weights, buffer); the column kernels (destination, count, address of
// the row's weights, B0 .. B(Taps - 1)).
template <class Kernels, bool OneChannel, int Taps>
void ResizeRing(const void* src, void* dst, std::int32_t srcStep, std::int32_t dstStep, std::int32_t width,
                std::int32_t height, const std::int32_t* rows, const std::int32_t* columns, const void* rowWeights,
                const void* columnWeights, void* const* buffers, std::int32_t pixelStride, std::int32_t channels)
{
    static_assert(Taps == 4 || Taps == 6);
    using Sample = typename Kernels::Sample;
    using Weight = typename RingWeight<Kernels>::Type;
    constexpr int kRowWeights = RingRowWeights<Kernels>::value;
    constexpr int kHalf = Taps / 2;
    const auto* source = static_cast<const Sample*>(src);
    auto* out = static_cast<Sample*>(dst);
    const auto* weights = static_cast<const Weight*>(columnWeights);
    const auto* rowWeight = static_cast<const Weight*>(rowWeights);
    const int perPixel = OneChannel ? 1 : (channels == 3 ? 3 : 4);
    const bool alphaKept = !OneChannel && pixelStride != channels;

    auto interpolate = [&](std::ptrdiff_t offset, Weight* buffer) {
        const Sample* row = source + offset;
        if (perPixel == 1)
            Kernels::Row1(row, width, pixelStride, columns, weights, buffer);
        else if (perPixel == 3)
            Kernels::Row3(row, width, pixelStride, columns, weights, buffer);
        else
            Kernels::Row4(row, width, pixelStride, columns, weights, buffer);
    };

    const std::ptrdiff_t s = srcStep;
    const std::ptrdiff_t magnitude = s < 0 ? -s : s;
    auto beyond = [s](std::ptrdiff_t a, std::ptrdiff_t b) { return s > 0 ? a > b : a < b; };
    // window[q] holds the row at L + (q - h + 1)s; before the first row
    // window[0] is free.
    Weight* window[Taps];
    for (int q = 0; q < Taps; ++q)
        window[q] = static_cast<Weight*>(buffers[q]);
    const std::ptrdiff_t r0 = rows[0];
    for (int q = 1; q < Taps; ++q)
        interpolate(r0 + (q - kHalf) * s, window[q]);
    std::ptrdiff_t last = s > 0 ? r0 - 1 : r0 + 1;
    for (std::int32_t i = 0; i < height; ++i) {
        const std::ptrdiff_t r = rows[i];
        if (beyond(r, last)) {
            const std::ptrdiff_t d = r > last ? r - last : last - r;
            int k = 1;
            while (k < Taps && d >= (k + 1) * magnitude)
                ++k;
            std::rotate(window, window + k, window + Taps);
            int q = Taps - k;
            if constexpr (requires { Kernels::Row1Pair; }) {
                // New one-channel rows two at a time: one pass over the
                // columns for both.
                if (perPixel == 1)
                    for (; q + 1 < Taps; q += 2)
                        Kernels::Row1Pair(source + r + (q - kHalf + 1) * s, source + r + (q - kHalf + 2) * s, width,
                                          pixelStride, columns, weights, window[q], window[q + 1]);
            }
            for (; q < Taps; ++q)
                interpolate(r + (q - kHalf + 1) * s, window[q]);
            last = r;
        }
        Sample* o = out + static_cast<std::ptrdiff_t>(i) * dstStep;
        const Weight* w = rowWeight + kRowWeights * static_cast<std::ptrdiff_t>(i);
        const std::int32_t count = alphaKept ? width : width * perPixel;
        if constexpr (Taps == 4 && RingRowWeightByValue<Kernels>::value) {
            if (alphaKept)
                Kernels::ColumnAC4(o, count, *w, window[0], window[1], window[2], window[3]);
            else
                Kernels::Column(o, count, *w, window[0], window[1], window[2], window[3]);
        } else if constexpr (Taps == 4) {
            if (alphaKept)
                Kernels::ColumnAC4(o, count, w, window[0], window[1], window[2], window[3]);
            else
                Kernels::Column(o, count, w, window[0], window[1], window[2], window[3]);
        } else {
            if (alphaKept)
                Kernels::ColumnAC4(o, count, w, window[0], window[1], window[2], window[3], window[4], window[5]);
            else
                Kernels::Column(o, count, w, window[0], window[1], window[2], window[3], window[4], window[5]);
        }
    }
}

// The cubic and four-tap filters: the ring of four.
template <class Kernels, bool OneChannel>
void ResizeCubic(const void* src, void* dst, std::int32_t srcStep, std::int32_t dstStep, std::int32_t width,
                 std::int32_t height, const std::int32_t* rows, const std::int32_t* columns, const void* rowWeights,
                 const void* columnWeights, void* buffer1, void* buffer2, void* buffer3, void* buffer4,
                 std::int32_t pixelStride, std::int32_t channels)
{
    void* const buffers[4] = {buffer1, buffer2, buffer3, buffer4};
    ResizeRing<Kernels, OneChannel, 4>(src, dst, srcStep, dstStep, width, height, rows, columns, rowWeights,
                                       columnWeights, buffers, pixelStride, channels);
}

// The extended Lanczos filters: the ring of six, no edge clamping (every
// window lies inside the source).
template <class Kernels, bool OneChannel>
void ResizeSixTapRing(const void* src, void* dst, std::int32_t srcStep, std::int32_t dstStep, std::int32_t width,
                      std::int32_t height, const std::int32_t* rows, const std::int32_t* columns,
                      const void* rowWeights, const void* columnWeights, void* buffer1, void* buffer2, void* buffer3,
                      void* buffer4, void* buffer5, void* buffer6, std::int32_t pixelStride, std::int32_t channels)
{
    void* const buffers[6] = {buffer1, buffer2, buffer3, buffer4, buffer5, buffer6};
    ResizeRing<Kernels, OneChannel, 6>(src, dst, srcStep, dstStep, width, height, rows, columns, rowWeights,
                                       columnWeights, buffers, pixelStride, channels);
}

// The window of six row buffers: for destination row i on source row j (of
// the region), the rows j - 2 .. j + 3, each clamped to the image (rows above
// it read the top row, rows below the bottom row). The sliding path (flag set)
// brings in one row per move and copies the bottom buffer once the window
// reaches the image's last row; the general path interpolates every row that
// enters. Both leave the same contents. Rows are counted, never found by
// dividing an offset by the step: with a step of 0 every row is the one
// source row.
template <class Kernels, bool OneChannel>
void ResizeLanczos(const void* src, void* dst, std::int32_t srcStep, std::int32_t dstStep, std::int32_t width,
                   std::int32_t height, const std::int32_t* rows, const std::int32_t* columns, const void* rowWeights,
                   const void* columnWeights, void* buffer1, void* buffer2, void* buffer3, void* buffer4,
                   void* buffer5, void* buffer6, std::int32_t left, std::int32_t top, std::int32_t right,
                   std::int32_t bottom, std::int32_t advancesByOne, std::int32_t pixelStride, std::int32_t channels)
{
    using Sample = typename Kernels::Sample;
    const auto* source = static_cast<const Sample*>(src);
    auto* out = static_cast<Sample*>(dst);
    const auto* weights = static_cast<const float*>(columnWeights);
    const auto* rowWeight = static_cast<const float*>(rowWeights);
    const int perPixel = OneChannel ? 1 : (channels == 3 ? 3 : 4);
    const bool alphaKept = !OneChannel && pixelStride != channels;
    const std::int32_t values = width * perPixel;

    const std::ptrdiff_t s = srcStep;
    auto offsetOf = [&](std::ptrdiff_t q) {
        return std::clamp<std::ptrdiff_t>(q, -std::ptrdiff_t{top}, std::ptrdiff_t{bottom} - 1) * s;
    };
    auto interpolate = [&](std::ptrdiff_t q, float* buffer) {
        const Sample* row = source + offsetOf(q);
        if (perPixel == 1)
            Kernels::Row1(row, pixelStride, columns, weights, buffer, width, left, right);
        else if (perPixel == 3)
            Kernels::Row3(row, pixelStride, columns, weights, buffer, width, left, right);
        else
            Kernels::Row4(row, pixelStride, columns, weights, buffer, width, left, right);
    };
    auto copy = [&](const float* from, float* to) { WindowCopy<Kernels>::Copy(from, to, values); };

    // Row of an offset, counted up from the last one (rows never move against
    // the step).
    std::ptrdiff_t j = 0;
    auto rowOf = [&](std::ptrdiff_t r) {
        if (s != 0)
            while (j * s != r && j < std::ptrdiff_t{bottom} - 1)
                ++j;
        return j;
    };

    // window[0..5] hold the rows cur - 2 .. cur + 3; before the first row
    // cur is one row above it and window[0] is free.
    float* window[6] = {static_cast<float*>(buffer1), static_cast<float*>(buffer2), static_cast<float*>(buffer3),
                        static_cast<float*>(buffer4), static_cast<float*>(buffer5), static_cast<float*>(buffer6)};
    const std::ptrdiff_t j0 = rowOf(rows[0]);
    interpolate(j0, window[3]);
    for (int q = 4; q <= 5; ++q) {
        if (offsetOf(j0 + q - 3) == offsetOf(j0 + q - 4))
            copy(window[q - 1], window[q]);
        else
            interpolate(j0 + q - 3, window[q]);
    }
    for (int q = 2; q >= 1; --q) {
        if (offsetOf(j0 + q - 3) == offsetOf(j0 + q - 2))
            copy(window[q + 1], window[q]);
        else
            interpolate(j0 + q - 3, window[q]);
    }
    std::ptrdiff_t cur = j0 - 1;
    std::ptrdiff_t last = 0;
    for (std::int32_t i = 0; i < height; ++i) {
        const std::ptrdiff_t r = rows[i];
        if (i == 0 || r != last) {
            const std::ptrdiff_t next = rowOf(r);
            const std::ptrdiff_t k = std::min<std::ptrdiff_t>(next - cur, 6);
            if (k > 0) {
                std::rotate(window, window + k, window + 6);
                if (advancesByOne != 0 && k == 1) {
                    if (offsetOf(next + 3) == offsetOf(next + 2))
                        copy(window[4], window[5]);
                    else
                        interpolate(next + 3, window[5]);
                } else {
                    for (std::ptrdiff_t q = 6 - k; q < 6; ++q)
                        interpolate(next - 2 + q, window[q]);
                }
                cur = next;
            }
            last = r;
        }
        Sample* o = out + static_cast<std::ptrdiff_t>(i) * dstStep;
        const float* w = rowWeight + 6 * static_cast<std::ptrdiff_t>(i);
        if (alphaKept)
            Kernels::ColumnAC4(o, width, w, window[0], window[1], window[2], window[3], window[4], window[5]);
        else
            Kernels::Column(o, values, w, window[0], window[1], window[2], window[3], window[4], window[5]);
    }
}

template <typename SampleType, class Conversion>
struct PortableCubicKernels {
    using Sample = SampleType;
    static constexpr auto* Row1 = &CubicRowKernel<Sample, 1>;
    static constexpr auto* Row3 = &CubicRowKernel<Sample, 3>;
    static constexpr auto* Row4 = &CubicRowKernel<Sample, 4>;
    static constexpr auto* Column = &CubicColumnKernel<Conversion, false>;
    static constexpr auto* ColumnAC4 = &CubicColumnKernel<Conversion, true>;
};

template <typename SampleType, class Conversion>
struct PortableLanczosKernels {
    using Sample = SampleType;
    static constexpr auto* Row1 = &LanczosRowKernel<Sample, 1>;
    static constexpr auto* Row3 = &LanczosRowKernel<Sample, 3>;
    static constexpr auto* Row4 = &LanczosRowKernel<Sample, 4>;
    static constexpr auto* Column = &SixTapColumn<Conversion, false>;
    static constexpr auto* ColumnAC4 = &SixTapColumn<Conversion, true>;
};

using Cubic8uKernels = PortableCubicKernels<std::uint8_t, CubicTo8u>;
using Cubic16uKernels = PortableCubicKernels<std::uint16_t, CubicTo16u>;
using Cubic32fKernels = PortableCubicKernels<float, CubicTo32f>;
using Lanczos8uKernels = PortableLanczosKernels<std::uint8_t, SixTapTo8u>;
using Lanczos16uKernels = PortableLanczosKernels<std::uint16_t, SixTapTo16u>;
using Lanczos32fKernels = PortableLanczosKernels<float, SixTapTo32f>;

inline constexpr CubicFilter* ResizeCubic_8u_Cn = &ResizeCubic<Cubic8uKernels, false>;
inline constexpr CubicFilter* ResizeCubic_16u_Cn = &ResizeCubic<Cubic16uKernels, false>;
inline constexpr CubicFilter* ResizeCubic_32f_Cn = &ResizeCubic<Cubic32fKernels, false>;
inline constexpr CubicFilter* ResizeCubic_8u_C1 = &ResizeCubic<Cubic8uKernels, true>;
inline constexpr CubicFilter* ResizeCubic_16u_C1 = &ResizeCubic<Cubic16uKernels, true>;
inline constexpr CubicFilter* ResizeCubic_32f_C1 = &ResizeCubic<Cubic32fKernels, true>;

inline constexpr LanczosFilter* ResizeLanczos_8u_Cn = &ResizeLanczos<Lanczos8uKernels, false>;
inline constexpr LanczosFilter* ResizeLanczos_16u_Cn = &ResizeLanczos<Lanczos16uKernels, false>;
inline constexpr LanczosFilter* ResizeLanczos_32f_Cn = &ResizeLanczos<Lanczos32fKernels, false>;
inline constexpr LanczosFilter* ResizeLanczos_8u_C1 = &ResizeLanczos<Lanczos8uKernels, true>;
inline constexpr LanczosFilter* ResizeLanczos_16u_C1 = &ResizeLanczos<Lanczos16uKernels, true>;
inline constexpr LanczosFilter* ResizeLanczos_32f_C1 = &ResizeLanczos<Lanczos32fKernels, true>;

// ---------------------------------------------------------------------------
// The alternate set: the same ring and window over the alternate kernels.

template <typename SampleType, class Conversion>
struct AlternateCubicKernels {
    using Sample = SampleType;
    static constexpr bool kRowWeightByValue = true;
    static constexpr auto* Row1 = &CubicRowKernel<Sample, 1, true>;
    static constexpr auto* Row3 = &CubicRowKernel<Sample, 3, true>;
    static constexpr auto* Row4 = &CubicRowKernel<Sample, 4, true>;
    static constexpr auto* Column = &CubicColumnKernelOneAtATime<Conversion, false>;
    static constexpr auto* ColumnAC4 = &CubicColumnKernelOneAtATime<Conversion, true>;
};

template <typename SampleType, class Conversion>
struct AlternateLanczosKernels {
    using Sample = SampleType;
    static constexpr auto* Copy = &CopyVector32_alt;
    static constexpr auto* Row1 = &LanczosRowKernel<Sample, 1>;
    static constexpr auto* Row3 = &LanczosRowKernel<Sample, 3>;
    static constexpr auto* Row4 = &LanczosRowKernel<Sample, 4>;
    static constexpr auto* Column = &SixTapColumnInOrder<Conversion, false>;
    static constexpr auto* ColumnAC4 = &SixTapColumnInOrder<Conversion, true>;
};

using Cubic8uAltKernels = AlternateCubicKernels<std::uint8_t, CubicTo8u>;
using Cubic16uAltKernels = AlternateCubicKernels<std::uint16_t, CubicTo16u>;
using Cubic32fAltKernels = AlternateCubicKernels<float, CubicTo32f>;
using Lanczos8uAltKernels = AlternateLanczosKernels<std::uint8_t, AltTo8u>;
using Lanczos16uAltKernels = AlternateLanczosKernels<std::uint16_t, AltTo16u>;
using Lanczos32fAltKernels = AlternateLanczosKernels<float, SampleAsIs<float>>;

inline constexpr CubicFilter* ResizeCubic_8u_Cn_alt = &ResizeCubic<Cubic8uAltKernels, false>;
inline constexpr CubicFilter* ResizeCubic_16u_Cn_alt = &ResizeCubic<Cubic16uAltKernels, false>;
inline constexpr CubicFilter* ResizeCubic_32f_Cn_alt = &ResizeCubic<Cubic32fAltKernels, false>;
inline constexpr CubicFilter* ResizeCubic_8u_C1_alt = &ResizeCubic<Cubic8uAltKernels, true>;
inline constexpr CubicFilter* ResizeCubic_16u_C1_alt = &ResizeCubic<Cubic16uAltKernels, true>;
inline constexpr CubicFilter* ResizeCubic_32f_C1_alt = &ResizeCubic<Cubic32fAltKernels, true>;

inline constexpr LanczosFilter* ResizeLanczos_8u_Cn_alt = &ResizeLanczos<Lanczos8uAltKernels, false>;
inline constexpr LanczosFilter* ResizeLanczos_16u_Cn_alt = &ResizeLanczos<Lanczos16uAltKernels, false>;
inline constexpr LanczosFilter* ResizeLanczos_32f_Cn_alt = &ResizeLanczos<Lanczos32fAltKernels, false>;
inline constexpr LanczosFilter* ResizeLanczos_8u_C1_alt = &ResizeLanczos<Lanczos8uAltKernels, true>;
inline constexpr LanczosFilter* ResizeLanczos_16u_C1_alt = &ResizeLanczos<Lanczos16uAltKernels, true>;
inline constexpr LanczosFilter* ResizeLanczos_32f_C1_alt = &ResizeLanczos<Lanczos32fAltKernels, true>;

#define GAVEX_ALT_CUBIC(PREFIX, KERNELS, ONE)                                                                       \
    PREFIX template void ResizeCubic<KERNELS, ONE>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,  \
                                                   std::int32_t, const std::int32_t*, const std::int32_t*,        \
                                                   const void*, const void*, void*, void*, void*, void*,          \
                                                   std::int32_t, std::int32_t);
#define GAVEX_ALT_LANCZOS(PREFIX, KERNELS, ONE)                                                                     \
    PREFIX template void ResizeLanczos<KERNELS, ONE>(                                                               \
        const void*, void*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, const std::int32_t*,           \
        const std::int32_t*, const void*, const void*, void*, void*, void*, void*, void*, void*, std::int32_t,     \
        std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t);
#define GAVEX_ALT_CUBIC_FAMILY(PREFIX)                  \
    GAVEX_ALT_CUBIC(PREFIX, Cubic8uAltKernels, false)  \
    GAVEX_ALT_CUBIC(PREFIX, Cubic8uAltKernels, true)   \
    GAVEX_ALT_CUBIC(PREFIX, Cubic16uAltKernels, false) \
    GAVEX_ALT_CUBIC(PREFIX, Cubic16uAltKernels, true)  \
    GAVEX_ALT_CUBIC(PREFIX, Cubic32fAltKernels, false) \
    GAVEX_ALT_CUBIC(PREFIX, Cubic32fAltKernels, true)
#define GAVEX_ALT_LANCZOS_FAMILY(PREFIX)                    \
    GAVEX_ALT_LANCZOS(PREFIX, Lanczos8uAltKernels, false)  \
    GAVEX_ALT_LANCZOS(PREFIX, Lanczos8uAltKernels, true)   \
    GAVEX_ALT_LANCZOS(PREFIX, Lanczos16uAltKernels, false) \
    GAVEX_ALT_LANCZOS(PREFIX, Lanczos16uAltKernels, true)  \
    GAVEX_ALT_LANCZOS(PREFIX, Lanczos32fAltKernels, false) \
    GAVEX_ALT_LANCZOS(PREFIX, Lanczos32fAltKernels, true)

GAVEX_ALT_CUBIC_FAMILY(extern)
GAVEX_ALT_LANCZOS_FAMILY(extern)

}  // namespace resize_detail
