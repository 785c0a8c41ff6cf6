#pragma once
// Halving and doubling the resolution of one JPEG component row.
//
// Down-sampling takes `length` source samples and writes length / 2 (an odd
// last sample is not used); the biases alternate with the output index so
// that flat areas do not drift. Up-sampling takes `length` source samples
// (a single sample is doubled) and writes 2 x length with a 3:1 triangular
// filter; the 2x2 form mixes the nearer and the farther source row 3:1.
// Checks, nothing written on a failure: a pointer null -8, then length <= 0
// -6.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

PrimitiveStatus DownsampleRowH2V2(const std::uint8_t* upper, const std::uint8_t* lower, std::int32_t length,
                                  std::uint8_t* dst);
PrimitiveStatus DownsampleRowH2V1(const std::uint8_t* src, std::int32_t length, std::uint8_t* dst);
PrimitiveStatus UpsampleRowH2V2(const std::uint8_t* nearer, const std::uint8_t* farther, std::int32_t length,
                                std::uint8_t* dst);
PrimitiveStatus UpsampleRowH2V1(const std::uint8_t* src, std::int32_t length, std::uint8_t* dst);
