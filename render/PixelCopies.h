#pragma once
// Copies of 32-bit rectangles and of 8-bit picture planes into renderer
// buffers, through the image primitives.

#include <cstdint>

#include <QRect>
#include <QRectF>
#include <QSize>

namespace render {

// Three 8-bit planes in the order Y, V, U; a null plane is absent.
struct PlaneSet {
    const std::uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    int pitches[3] = {0, 0, 0};
};

// Copies `rect` (inclusive edges) of 32-bit pixels, found at its own position
// in the source, to `at` in the destination. Throws std::exception
// "CopyImage8uC4 error" when the copy fails.
void CopyRect32(const std::uint8_t* src, int srcPitch, std::uint8_t* dst, int dstPitch, const QRect& rect,
                const QPoint& at);

// Copies the planes of a 4:2:0 picture of `sourceSize` into a YV12 buffer of
// `pitch` bytes per luma line and `planeHeight` luma lines (V follows Y, U
// follows V; chroma planes have half pitch and height). When `copySize`
// differs from the source size the picture is shrunk by whole factors,
// taking every n-th byte of every n-th row. An absent source plane leaves its
// destination plane neutral (128). Nothing is written past the destination's
// planes. Throws std::exception "CopyImage8uC1 error" when a plane copy
// fails.
void CopyImagePlanes(const PlaneSet& source, const QSize& sourceSize, std::uint8_t* dst, int pitch, int planeHeight,
                     const QSize& copySize);

// Rounded means of the 2 x 2 blocks of two 8-bit rows (2 x count samples
// each) into count samples.
void HalveRows(const std::uint8_t* top, const std::uint8_t* bottom, std::uint8_t* out, int count);

// Halves an 8-bit plane in both directions: each destination sample of
// `dstSize` is the rounded mean of the 2 x 2 source samples it covers (the
// source holds at least twice as many columns and rows).
void HalvePlane(const std::uint8_t* src, int srcPitch, std::uint8_t* dst, int dstPitch, const QSize& dstSize);

// Fills `size` 32-bit pixels at dst with opaque black.
void FillOpaqueBlack(std::uint8_t* dst, int pitch, const QSize& size);

// The part of a texture of `textureSize` an image of `imageSize` at its
// top-left corner covers, in texture coordinates (0 to 1); empty when either
// size is empty.
QRectF ImageSourceRect(const QSize& imageSize, const QSize& textureSize);

// Mirrors a tightly packed 32-bit image of size top to bottom.
void FlipRows(std::uint8_t* image, const QSize& size);

}  // namespace render
