#pragma once
// The resize filter sets: the tables the interpolating driver picks a filter
// from, and the calling convention of every filter.
//
// A filter produces every destination row of one interleaved image or one
// plane. It never fails, never allocates and tests no bounds: the driver hands
// it the source at the region's first sample, element (not byte) steps, a
// destination extent of at least 1 x 1, ready offset tables (row index =
// source row x source step, column index = source column x pixel stride, or
// the column itself for one channel and planes) and, for the buffered kinds,
// 32-byte aligned row buffers with room for 4 pixels past the width.
//
// Slots (t the sample-type index 0 8u, 1 16u, 2 32f, 3 16s):
//   nearest:  t three samples at the pixel stride (C3, AC4), 4 + t one sample
//             (C1, a plane), 8 + t four samples (C4), 12..14 64f C1, C3, C4;
//   linear:   t multi-channel (C3, AC4, C4 told apart by stride and channel
//             count), 4 + t one channel or a plane;
//   cubic, Lanczos: t multi-channel, 3 + t one channel (t < 3);
//   extended linear, four-tap, extended Lanczos (never selected by the
//   driver; callers build their tables): t multi-channel, 4 + t one channel,
//   8 64f one channel, 9 64f multi-channel.
// An empty slot (null) is a filter this build does not have.

#include <array>
#include <cstdint>

#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/PrimitiveTypes.h"

namespace resize_detail {

// source, destination, destination step, width, height, row index table,
// column index table, pixel stride; returns the height it was given.
using NearestFilter = std::int32_t(const void*, void*, std::int32_t, std::int32_t, std::int32_t, const std::int32_t*,
                                   const std::int32_t*, std::int32_t);

// source, destination, source step, destination step, width, height, row
// index table, column index table, row weights, column weights, two row
// buffers, pixel stride, channel count.
using LinearFilter = void(const void*, void*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                          const std::int32_t*, const std::int32_t*, const void*, const void*, void*, void*,
                          std::int32_t, std::int32_t);

// As LinearFilter with four row buffers (cubic positions in the weight
// tables); the four-tap filters take the same list.
using CubicFilter = void(const void*, void*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                         const std::int32_t*, const std::int32_t*, const void*, const void*, void*, void*, void*,
                         void*, std::int32_t, std::int32_t);

// As LinearFilter with six row buffers, then left, top, right and bottom
// distances, the row-advance flag, pixel stride and channel count.
using LanczosFilter = void(const void*, void*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                           const std::int32_t*, const std::int32_t*, const void*, const void*, void*, void*, void*,
                           void*, void*, void*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                           std::int32_t, std::int32_t);

// As LinearFilter with six row buffers (six weights per entry in the
// tables), then pixel stride and channel count.
using ExtendedLanczosFilter = void(const void*, void*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                   const std::int32_t*, const std::int32_t*, const void*, const void*, void*, void*,
                                   void*, void*, void*, void*, std::int32_t, std::int32_t);

struct ResizeFilterSet {
    std::array<NearestFilter*, 15> nearest{};
    std::array<LinearFilter*, 8> linear{};
    std::array<LinearFilter*, 10> extendedLinear{};
    std::array<CubicFilter*, 10> fourTap{};
    std::array<ExtendedLanczosFilter*, 10> extendedLanczos{};
    std::array<CubicFilter*, 6> cubic{};
    std::array<LanczosFilter*, 6> lanczos{};
};

// The two filter sets of one processor slot. The driver uses the primary set
// only; the alternate set exists for the same slots.
struct ResizeFilterSets {
    ResizeFilterSet primary;
    ResizeFilterSet alternate;
};

// Per processor slot (CpuDispatch.h), indexed like a CpuDispatchTable.
extern const std::array<const ResizeFilterSets*, kCpuVariantCount> kResizeFilterSets;

// ResizeInterpolated over the given filter set: the same validation, clipping,
// tables and buffers. The entry point passes the primary set of the current
// processor slot; this is how the alternate set is driven.
PrimitiveStatus ResizeInterpolatedWithSet(const ResizeFilterSet& filters, const void* src, std::int32_t srcWidth,
                                          std::int32_t srcHeight, std::int32_t srcStep, ImageRect* roi, void* dst,
                                          std::int32_t dstStep, ImageSize dstSize, double xFactor, double yFactor,
                                          std::int32_t channels, std::int32_t layout, std::int32_t sampleType,
                                          bool planar, std::int32_t mode);

// ---------------------------------------------------------------------------
// The filter families, one template each, and their named members (portable
// bodies). Nearest copies bit patterns, so one member serves every sample
// type of its element size (16u and 16s share, a float is copied as bits).

template <typename Element, int SamplesPerPixel>
std::int32_t ResizeNearest(const void* src, void* dst, std::int32_t dstStep, std::int32_t width, std::int32_t height,
                           const std::int32_t* rows, const std::int32_t* columns, std::int32_t pixelStride);

inline constexpr NearestFilter* ResizeNearest_8u_C3 = &ResizeNearest<std::uint8_t, 3>;
inline constexpr NearestFilter* ResizeNearest_16u_C3 = &ResizeNearest<std::uint16_t, 3>;
inline constexpr NearestFilter* ResizeNearest_32f_C3 = &ResizeNearest<std::uint32_t, 3>;
inline constexpr NearestFilter* ResizeNearest_64f_C3 = &ResizeNearest<std::uint64_t, 3>;
inline constexpr NearestFilter* ResizeNearest_8u_C1 = &ResizeNearest<std::uint8_t, 1>;
inline constexpr NearestFilter* ResizeNearest_16u_C1 = &ResizeNearest<std::uint16_t, 1>;
inline constexpr NearestFilter* ResizeNearest_32f_C1 = &ResizeNearest<std::uint32_t, 1>;
inline constexpr NearestFilter* ResizeNearest_64f_C1 = &ResizeNearest<std::uint64_t, 1>;
inline constexpr NearestFilter* ResizeNearest_8u_C4 = &ResizeNearest<std::uint8_t, 4>;
inline constexpr NearestFilter* ResizeNearest_16u_C4 = &ResizeNearest<std::uint16_t, 4>;
inline constexpr NearestFilter* ResizeNearest_32f_C4 = &ResizeNearest<std::uint32_t, 4>;
inline constexpr NearestFilter* ResizeNearest_64f_C4 = &ResizeNearest<std::uint64_t, 4>;

// The kernels a linear filter calls, as a set of static functions: Row1,
// Row3 (stride argument tells C3 from AC4), Row4, Column (contiguous) and
// ColumnAC4, with the types Sample, Buffer, Weight and RowWeight. A set may
// add Row4Pair (two source rows, two buffers, the bits of two Row4 calls),
// which the walk takes when both rows of a pair are new.
template <class RowPolicy, class ColumnPolicy>
struct PortableLinearKernels;

// One two-buffer walk for every linear filter. OneChannel filters (C1 and
// planes) ignore stride and channel count; the others pick the three- or
// four-channel row kernel by the channel count and the AC4 column kernel
// when the stride differs from the channel count.
template <class Kernels, bool OneChannel>
void ResizeLinear(const void* src, void* dst, std::int32_t srcStep, std::int32_t dstStep, std::int32_t width,
                  std::int32_t height, const std::int32_t* rows, const std::int32_t* columns, const void* rowWeights,
                  const void* columnWeights, void* buffer1, void* buffer2, std::int32_t pixelStride,
                  std::int32_t channels);

struct RowQ14Byte;
struct RowQ14Unsigned16;
struct RowQ14Signed16;
template <typename Real>
struct RowFraction;
struct ColumnQ14Byte;
struct ColumnQ14Unsigned16;
struct ColumnQ14Signed16;
struct ColumnComplement32f;

using Linear8uKernels = PortableLinearKernels<RowQ14Byte, ColumnQ14Byte>;
using Linear16uKernels = PortableLinearKernels<RowQ14Unsigned16, ColumnQ14Unsigned16>;
using Linear16sKernels = PortableLinearKernels<RowQ14Signed16, ColumnQ14Signed16>;
using Linear32fKernels = PortableLinearKernels<RowFraction<float>, ColumnComplement32f>;

inline constexpr LinearFilter* ResizeLinear_8u_Cn = &ResizeLinear<Linear8uKernels, false>;
inline constexpr LinearFilter* ResizeLinear_16u_Cn = &ResizeLinear<Linear16uKernels, false>;
inline constexpr LinearFilter* ResizeLinear_32f_Cn = &ResizeLinear<Linear32fKernels, false>;
inline constexpr LinearFilter* ResizeLinear_16s_Cn = &ResizeLinear<Linear16sKernels, false>;
inline constexpr LinearFilter* ResizeLinear_8u_C1 = &ResizeLinear<Linear8uKernels, true>;
inline constexpr LinearFilter* ResizeLinear_16u_C1 = &ResizeLinear<Linear16uKernels, true>;
inline constexpr LinearFilter* ResizeLinear_32f_C1 = &ResizeLinear<Linear32fKernels, true>;
inline constexpr LinearFilter* ResizeLinear_16s_C1 = &ResizeLinear<Linear16sKernels, true>;

}  // namespace resize_detail
