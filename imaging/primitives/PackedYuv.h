#pragma once
// Packed YUY2 (bytes Y0, U, Y1, V per pixel pair) and 3-byte RGB to planar
// YUV, and planar 4:2:2 back to YUY2.
//
// The YUY2 splits and the interleave are pure copies; they drop an odd last
// column (and the 4:2:0 split an odd last row) silently. The RGB conversions
// use the analog YUV equations (U = 0.492 (B - Y) + 128, V = 0.877 (R - Y) +
// 128) on tightly packed buffers and take no steps: the Y plane has rows of
// width bytes, the chroma planes rows of width / 2 (4:2:0) or ceil(width / 2)
// (4:2:2) bytes. Groups of 16 pixels from the start of a row take the vector
// form, the rest a per-block form one level apart at most.
// Steps are not validated, but a null step array is refused (-8). Checks
// come before any write; see each line.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

// Source or plane array null, a plane null -8; width < 2 or height < 2 -6.
// The chroma of odd source rows is not used.
PrimitiveStatus ConvertYuy2ToYCbCr420_8uC2P3(const std::uint8_t* src, std::int32_t srcStep,
                                             std::uint8_t* const dst[3], const std::int32_t dstSteps[3],
                                             ImageSize size);
// Source, plane array or step array null, a plane null -8; width < 2 or
// height < 1 -6.
PrimitiveStatus ConvertYuy2ToYCbCr422_8uC2P3(const std::uint8_t* src, std::int32_t srcStep,
                                             std::uint8_t* const dst[3], const std::int32_t dstSteps[3],
                                             ImageSize size);
// Source or plane array null -8; width or height <= 0 -6; a plane null -8.
// An odd last row or column is not written and the result is then 35.
PrimitiveStatus ConvertRgbToYuv420_8uC3P3(const std::uint8_t* src, std::uint8_t* const dst[3], ImageSize size);
// As the 4:2:0 form; an odd last pixel of a row gets its own chroma sample.
PrimitiveStatus ConvertRgbToYuv422_8uC3P3(const std::uint8_t* src, std::uint8_t* const dst[3], ImageSize size);
// Plane array or destination null, a plane null -8; width < 2 or height < 1
// -6. An odd last column is not written.
PrimitiveStatus ConvertYCbCr422ToYuy2_8uP3C2(const std::uint8_t* const src[3], const std::int32_t srcSteps[3],
                                             std::uint8_t* dst, std::int32_t dstStep, ImageSize size);
