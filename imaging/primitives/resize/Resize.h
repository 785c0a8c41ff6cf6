#pragma once
// Plane and image resizing: the entry the JPEG compressor calls and the two
// drivers behind it.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

// Interpolation modes.
namespace ResizeMode {
inline constexpr std::int32_t Nearest = 1;
inline constexpr std::int32_t Linear = 2;
inline constexpr std::int32_t Cubic = 4;
inline constexpr std::int32_t SuperSample = 8;  // area average, factors at most 1
inline constexpr std::int32_t Lanczos = 16;
}  // namespace ResizeMode

// Sample types of the drivers.
namespace ResizeSampleType {
inline constexpr std::int32_t U8 = 0;
inline constexpr std::int32_t U16 = 1;
inline constexpr std::int32_t F32 = 2;
}  // namespace ResizeSampleType

// Resamples the region roi of a plane of 8-bit samples (src: sample (0, 0) of
// the whole plane) into dst, destination extent = region extent x factor
// (below 1 shrinks), at most dstSize; only the computed extent is written.
//
// Mode 1 nearest (source position of destination sample i: (i + 0.5) /
// factor), 2 linear (corners aligned, Q14 weights), 4 cubic (corners aligned,
// the four taps moved inside the image at its edges), 16 Lanczos (corners
// aligned, six taps of a three-lobe window, taps beyond the image's edges
// clamped to the edge), 8 super-sampling when both factors are at most 1. The
// region is clipped to the plane; the caller's record is only read. Cubic and
// Lanczos may read source samples outside the region, never outside the
// plane.
//
// Status, first failing check decides, nothing written on an error:
//   -8 a null pointer; -6 source size, region origin negative, region size or
//   destination size not positive; 29 (warning) the region starts outside the
//   plane; -23 a factor not above 0 (or not a number); -22 another mode, or
//   mode 8 with a factor above 1; -201 the scaled region is less than half a
//   sample along an axis; -9 working memory could not be allocated (or its
//   size does not fit 32 bits).
PrimitiveStatus ResizePlane_8u_C1R(const std::uint8_t* src, ImageSize srcSize, std::int32_t srcStep,
                                   const ImageRect& roi, std::uint8_t* dst, std::int32_t dstStep, ImageSize dstSize,
                                   double xFactor, double yFactor, std::int32_t mode);

// The drivers, for a family of layouts. Data description:
//   channels:   the pixel stride in samples (1, 3 or 4);
//   layout:     channels processed: 1, 3 (stride 3, or 4 with the fourth sample
//               neither read nor written: AC4) or 4;
//   sampleType: ResizeSampleType; both steps are in bytes;
//   planar:     src and dst point to arrays of 3 plane pointers (4 when
//               layout is 4); each plane is resized as one channel.
// roi is clipped in place. A description outside these sets returns
// BadArgument (-5) after the factor and mode checks. Other statuses as above.

// Modes 1, 2, 4 and 16. Small sources lower the mode first: below 8 samples in
// either dimension of the whole source Lanczos becomes cubic, below 4 cubic
// becomes linear, below 2 every mode becomes nearest.
PrimitiveStatus ResizeInterpolated(const void* src, std::int32_t srcWidth, std::int32_t srcHeight,
                                   std::int32_t srcStep, ImageRect* roi, void* dst, std::int32_t dstStep,
                                   ImageSize dstSize, double xFactor, double yFactor, std::int32_t channels,
                                   std::int32_t layout, std::int32_t sampleType, bool planar, std::int32_t mode);

// Box averaging; each destination sample is the mean of the source samples
// under its box of 1/xFactor x 1/yFactor samples, partly covered samples
// counting with the covered fraction, rounded half up for integer samples.
// A factor above 1 cannot be averaged and returns -23.
PrimitiveStatus ResizeSuperSample(const void* src, ImageSize srcSize, std::int32_t srcStep, ImageRect* roi,
                                  void* dst, std::int32_t dstStep, ImageSize dstSize, double xFactor,
                                  double yFactor, std::int32_t channels, std::int32_t layout,
                                  std::int32_t sampleType, bool planar);
