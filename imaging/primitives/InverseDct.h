#pragma once
// Dequantisation, inverse 8x8 DCT, level shift and clamping of one block in
// one call.
//
// The coefficients are 64 int16 values in natural order (index v x 8 + u),
// read only. The destination holds rows of 8, 4 or 2 samples at
// `destinationStep` bytes apart (no alignment needed). Checks, in order,
// nothing written on a failure: coefficients or destination null -8;
// destinationStep <= 0 -14; table null -8. Past the checks the transforms
// cannot fail: corrupt coefficients give clamped samples.
//
// The 8-bit transforms are exact integer procedures; the sparse shortcuts
// give the full transform's bytes for blocks whose other coefficients are
// zero (choosing one is the caller's responsibility: the coefficients they do
// not read are lost).

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

// 8 x 8 samples; table: 64 quantisers in natural order. Each dequantised
// value is the low 16 bits of coefficient x quantiser.
PrimitiveStatus InverseDctDequant8x8To8u(const std::int16_t coefficients[64], std::uint8_t* destination,
                                         std::int32_t destinationStep, const std::uint16_t* table);
// Two blocks side by side: 128 coefficients (the left block's 64, then the
// right one's), both with `table`, to 16 x 8 samples; the bytes of two calls
// of InverseDctDequant8x8To8u.
PrimitiveStatus InverseDctDequant8x8To8uPair(const std::int16_t coefficients[128], std::uint8_t* destination,
                                             std::int32_t destinationStep, const std::uint16_t* table);
// Reads only the top-left 4 x 4 coefficients.
PrimitiveStatus InverseDctDequant8x8To8uLow4x4(const std::int16_t coefficients[64], std::uint8_t* destination,
                                               std::int32_t destinationStep, const std::uint16_t* table);
// Reads only coefficients 0, 1, 8 and 9.
PrimitiveStatus InverseDctDequant8x8To8uLow2x2(const std::int16_t coefficients[64], std::uint8_t* destination,
                                               std::int32_t destinationStep, const std::uint16_t* table);
// All 64 samples (DC x q0 >> 3) + 128 clamped, without the full transform's
// rounding.
PrimitiveStatus InverseDctDequant8x8To8uDcOnly(const std::int16_t coefficients[64], std::uint8_t* destination,
                                               std::int32_t destinationStep, const std::uint16_t* table);
// 4 x 4 and 2 x 2 samples, each near the mean of a 2 x 2 or 4 x 4 group of
// the full transform's samples, for decoding at half and quarter size.
PrimitiveStatus InverseDctDequant8x8To4x4(const std::int16_t coefficients[64], std::uint8_t* destination,
                                          std::int32_t destinationStep, const std::uint16_t* table);
PrimitiveStatus InverseDctDequant8x8To2x2(const std::int16_t coefficients[64], std::uint8_t* destination,
                                          std::int32_t destinationStep, const std::uint16_t* table);
// 12-bit samples (0..4095) in 16-bit words, single precision; table: 64
// float quantisers in natural order. Truncates toward zero.
PrimitiveStatus InverseDctDequant8x8To16u(const std::int16_t coefficients[64], std::uint16_t* destination,
                                          std::int32_t destinationStep, const float* table);
