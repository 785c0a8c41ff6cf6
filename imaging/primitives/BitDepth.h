#pragma once
// One-channel 16-bit conversions and masking.
//
// Checks, first failure decides, nothing written on a failure:
//   conversions: source null, destination null -8; width, height <= 0 -6;
//     source step, destination step <= 0 -14;
//   AndImageConstant16uC1: image null -8; step <= 0 -14; width, height <= 0 -6.
// Source and destination of a conversion do not overlap.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

// Zero-extends 8-bit samples to 16 bits (200 stays 200).
PrimitiveStatus ConvertImage8uTo16sC1(const std::uint8_t* src, std::int32_t srcStep, std::int16_t* dst,
                                      std::int32_t dstStep, ImageSize size);
// The body other primitives call without dispatch (same contract).
PrimitiveStatus ConvertImage8uTo16sC1_x3(const std::uint8_t* src, std::int32_t srcStep, std::int16_t* dst,
                                         std::int32_t dstStep, ImageSize size);

// Narrows 16-bit unsigned samples to 8 bits, values above 255 giving 255.
PrimitiveStatus ConvertImage16uTo8uC1(const std::uint16_t* src, std::int32_t srcStep, std::uint8_t* dst,
                                      std::int32_t dstStep, ImageSize size);

// sample &= constant & 0xFFFF, in place.
PrimitiveStatus AndImageConstant16uC1(std::int32_t constant, std::uint16_t* image, std::int32_t step,
                                      ImageSize size);
