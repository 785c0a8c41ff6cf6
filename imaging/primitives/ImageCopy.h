#pragma once
// Copies between image layouts that keep the sample values.
//
// Layouts: C1/C3/C4 one, three, four interleaved channels; AC4 four channels
// of which the fourth is neither read nor written; P3/P4 three or four planes
// sharing one row step. Only the width x height region is written: bytes
// between the end of a row and the next row's start are left alone. Source and
// destination must not overlap. Row steps are not validated.
//
// Checks, first failure decides, nothing written on a failure:
//   pointers (NullPointer): source, destination (order table for the swap);
//     joins: plane array, destination, each plane; splits: source, plane
//     array, each plane;
//   width <= 0, then height <= 0: BadSize;
//   SwapChannels8uC3C4: order entries 0..3, a negative one: BadChannelOrder.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

// Within one layout.
PrimitiveStatus CopyImage8uC4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                              ImageSize size);
PrimitiveStatus CopyImage8uC1(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                              ImageSize size);
PrimitiveStatus CopyImage16uC1(const std::uint16_t* src, std::int32_t srcStep, std::uint16_t* dst,
                               std::int32_t dstStep, ImageSize size);

// 3-byte pixels into 4-byte pixels; destination byte 3 is never written.
PrimitiveStatus CopyImage8uC3AC4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst,
                                 std::int32_t dstStep, ImageSize size);

// 3-byte pixels into 4-byte pixels by an order table of four entries, one per
// destination channel: 0..2 takes that source channel, 3 writes fill, 4 or
// more leaves the destination byte as it was.
PrimitiveStatus SwapChannels8uC3C4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst,
                                   std::int32_t dstStep, ImageSize size, const std::int32_t order[4],
                                   std::uint8_t fill);

// Joins: planes into interleaved pixels (destination sample k*x + c = plane c
// sample x).
PrimitiveStatus CopyImage8uP3C3(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst,
                                std::int32_t dstStep, ImageSize size);
PrimitiveStatus CopyImage8uP4C4(const std::uint8_t* const src[4], std::int32_t srcStep, std::uint8_t* dst,
                                std::int32_t dstStep, ImageSize size);
PrimitiveStatus CopyImage16uP3C3(const std::uint16_t* const src[3], std::int32_t srcStep, std::uint16_t* dst,
                                 std::int32_t dstStep, ImageSize size);
PrimitiveStatus CopyImage16uP4C4(const std::uint16_t* const src[4], std::int32_t srcStep, std::uint16_t* dst,
                                 std::int32_t dstStep, ImageSize size);

// Splits: interleaved pixels into planes (plane c sample x = source sample
// k*x + c).
PrimitiveStatus CopyImage8uC3P3(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[3],
                                std::int32_t dstStep, ImageSize size);
PrimitiveStatus CopyImage8uC4P4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[4],
                                std::int32_t dstStep, ImageSize size);
PrimitiveStatus CopyImage16uC3P3(const std::uint16_t* src, std::int32_t srcStep, std::uint16_t* const dst[3],
                                 std::int32_t dstStep, ImageSize size);
PrimitiveStatus CopyImage16uC4P4(const std::uint16_t* src, std::int32_t srcStep, std::uint16_t* const dst[4],
                                 std::int32_t dstStep, ImageSize size);

// Row routine of the copies within one layout: n bytes forward; with
// nonTemporal the stores bypass the cache and a store fence follows. The
// result is the same either way.
void CopyRowBytes_x3(const void* src, void* dst, std::uint32_t n, bool nonTemporal);

// Bytes written above which a copy within one layout may bypass the cache
// (it does so when the region is also at least the processor's largest cache).
inline constexpr std::int64_t kCopyStreamingThreshold = 1048576;
