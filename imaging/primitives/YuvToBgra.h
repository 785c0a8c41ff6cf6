#pragma once
// Planar YUV 4:2:0 to opaque 32-bit pixels with a chosen matrix: the
// renderer's conversion of pictures at their drawn size.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"
#include "platform/YuvMatrix.h"

// planes: Y (width x height), U and V ((width + 1) / 2 x (height + 1) / 2);
// pixel (x, y) takes chroma sample (x / 2, y / 2), so odd sizes are converted
// whole. steps: the planes' row steps in bytes. Writes B, G, R, 255 per pixel
// (0xFFRRGGBB on this little-endian machine), dstStep bytes apart, each
// channel within one level of the exact conversion of the matrix (studio
// black 16 gives 0 and white 235 gives 255).
//
// Status: NullPointer for a null plane array, step array, plane or
// destination; BadSize for a width or height not positive. Nothing is written
// on an error.
PrimitiveStatus ConvertYuv420ToBgra8uP3C4M(const std::uint8_t* const planes[3], const std::int32_t steps[3],
                                           std::uint8_t* dst, std::int32_t dstStep, ImageSize size,
                                           platform::YuvMatrix matrix);
