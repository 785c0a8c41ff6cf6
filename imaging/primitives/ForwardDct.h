#pragma once
// Level shift, forward 8x8 DCT and quantisation of one block in one call.
//
// The source is 8 rows of 8 samples at `sourceStep` bytes apart (no
// alignment needed); the destination 64 int16 coefficients in natural order
// (index v x 8 + u). Checks, in order, nothing written on a failure: source or
// destination null -8; sourceStep <= 0 -14; table null -8.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

// 8-bit samples, an exact 16-bit integer transform, and a table of 64
// reciprocals 32768 / q in natural order (read unsigned); each coefficient is
// c x t / 32768 rounded to nearest, ties to even, saturated to 16 bits.
PrimitiveStatus ForwardDctQuant8x8From8u(const std::uint8_t* source, std::int32_t sourceStep,
                                         std::int16_t* destination, const std::uint16_t* table);

// Samples of up to 12 bits in 16-bit words (read as signed, 2048 subtracted),
// a single-precision transform and a table of 64 floats 1 / q in natural
// order; rounded to nearest, ties to even, saturated to 16 bits.
PrimitiveStatus ForwardDctQuant8x8From16u(const std::uint16_t* source, std::int32_t sourceStep,
                                          std::int16_t* destination, const float* table);
