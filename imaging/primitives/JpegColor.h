#pragma once
// Conversions between pixel-order images and the full-resolution component
// planes of the JPEG colour spaces (JFIF YCbCr, luminance, YCCK).
//
// Sources and destinations: interleaved 8-bit pixels (RGB, BGR: 3 bytes;
// RGBA, BGRA, CMYK: 4 bytes) with their own row step, and an array of three
// (Y, Cb, Cr) or four (Y, Cb, Cr, K) planes sharing one row step.
// Checks, first failure decides, nothing written on a failure:
//   source or plane array null, then any plane null: -8;
//   a step <= 0 (the conversions from or to 4-byte pixels with alpha, and from
//   RGBA, check no step): -14;
//   width or height <= 0: -6.
//
// The results follow fixed-point forms whose rounding differs by at most one
// level; which form a pixel gets depends on its position in the row (the
// first multiple of 8, or of 4, in the vector forms, the rest in the per-pixel
// forms), so a converted row is not the same as its pixels converted alone.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

PrimitiveStatus ConvertRgbToYCbCr8uC3P3(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[3],
                                        std::int32_t dstStep, ImageSize size);
PrimitiveStatus ConvertBgrToYCbCr8uC3P3(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[3],
                                        std::int32_t dstStep, ImageSize size);
// The fourth byte of each pixel is not read into the result.
PrimitiveStatus ConvertRgbaToYCbCr8uAC4P3(const std::uint8_t* src, std::int32_t srcStep,
                                          std::uint8_t* const dst[3], std::int32_t dstStep, ImageSize size);
PrimitiveStatus ConvertRgbToY8uC3C1(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst,
                                    std::int32_t dstStep, ImageSize size);
// YCbCr of the inverted inks (255 - C, 255 - M, 255 - Y); K is copied.
PrimitiveStatus ConvertCmykToYcck8uC4P4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[4],
                                        std::int32_t dstStep, ImageSize size);

PrimitiveStatus ConvertYCbCrToRgb8uP3C3(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst,
                                        std::int32_t dstStep, ImageSize size);
PrimitiveStatus ConvertYCbCrToBgr8uP3C3(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst,
                                        std::int32_t dstStep, ImageSize size);
// The fourth byte of each pixel is the low byte of alpha.
PrimitiveStatus ConvertYCbCrToRgba8uP3C4(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst,
                                         std::int32_t dstStep, ImageSize size, std::int32_t alpha);
PrimitiveStatus ConvertYCbCrToBgra8uP3C4(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst,
                                         std::int32_t dstStep, ImageSize size, std::int32_t alpha);
PrimitiveStatus ConvertYcckToCmyk8uP4C4(const std::uint8_t* const src[4], std::int32_t srcStep, std::uint8_t* dst,
                                        std::int32_t dstStep, ImageSize size);
