#pragma once
// A surface that takes 32-bit pixels (bytes B, G, R, A) with dirty rectangles.

#include <vector>

#include <QRect>
#include <QSize>
#include <QtGlobal>

namespace render {

class IGraphicArea {
public:
    virtual ~IGraphicArea() {}
    // Copies the dirty rectangles of an image of `size` (rows of bytesPerLine
    // bytes) into the surface; a null list means the whole image. The caller
    // keeps the bits.
    virtual void Update(const uchar* bits, const QSize& size, int bytesPerLine,
                        const std::vector<QRect>* dirtyRects) = 0;
};

}  // namespace render
