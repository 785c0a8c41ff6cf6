#pragma once
// Planar YUV 4:2:0 to 4-byte RGB pixels, the decoder's per-frame conversion.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

// planes: Y (width x height), U and V (floor(height/2) rows of floor(width/2)
// samples each); steps: their row steps in bytes (not validated).
// Destination pixels are R, G, B, 0 in memory order, dstStep bytes apart.
//
// Video-range BT.601 YCbCr (luma 16..235, chroma 16..240 centred on 128) to
// full-range RGB: R = 1.164 (Y - 16) + 1.596 V, G = 1.164 (Y - 16) - 0.392 U
// - 0.813 V, B = 1.164 (Y - 16) + 2.017 U, in exact fixed point (see the .cpp).
//
// Status: NullPointer for a null plane array, step array or destination, BadSize for a
// width or height not positive, NullPointer for a null Y, U or V plane (in that
// order; nothing is written on an error). OddSize (35) when the width or the
// height is odd: the even part was converted and the last column or row left
// as it was; callers treat it as success.
PrimitiveStatus ConvertYuv420ToRgb8uP3C3(const std::uint8_t* const planes[3], const std::int32_t steps[3],
                                         std::uint8_t* dst, std::int32_t dstStep, ImageSize size);

// The same conversion and checks, writing B, G, R, 0: the byte order of
// 32-bit pixels (0xXXRRGGBB) on this little-endian machine.
PrimitiveStatus ConvertYuv420ToBgrx8uP3C4(const std::uint8_t* const planes[3], const std::int32_t steps[3],
                                          std::uint8_t* dst, std::int32_t dstStep, ImageSize size);
