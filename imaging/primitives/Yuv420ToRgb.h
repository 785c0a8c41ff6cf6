#pragma once
// Planar YUV 4:2:0 to 4-byte RGB pixels, the decoder's per-frame conversion.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

// planes: Y (width x height), U and V (floor(height/2) rows of floor(width/2)
// samples each); steps: their row steps in bytes (not validated).
// Destination pixels are R, G, B, 0 in memory order, dstStep bytes apart.
//
// R = Y + 1.140 V, G = Y - 0.394 U - 0.581 V, B = Y + 2.032 U with U and V
// centred on 128 and luma unscaled, in exact fixed point (see the .cpp).
//
// Status: NullPointer for a null plane array, step array or destination, BadSize for a
// width or height not positive, NullPointer for a null Y, U or V plane (in that
// order; nothing is written on an error). OddSize (35) when the width or the
// height is odd: the even part was converted and the last column or row left
// as it was; callers treat it as success.
PrimitiveStatus ConvertYuv420ToRgb8uP3C3(const std::uint8_t* const planes[3], const std::int32_t steps[3],
                                         std::uint8_t* dst, std::int32_t dstStep, ImageSize size);
