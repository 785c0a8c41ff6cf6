#pragma once
// Where a picture goes inside a channel rectangle: its display aspect (with
// the half-height field and 704 x 576 rules and quarter turns), the image
// rectangle and the black bars beside it, and the part of the texture that a
// clipped (zoomed) view shows.

#include <QRectF>
#include <QSize>
#include <QSizeF>

namespace render {

struct ImagePlacement {
    QRectF image;
    QRectF firstBar;
    QRectF secondBar;
    QRectF texture;
};

// A buffer size that covers `requested`: `current` when it already does,
// otherwise each side the larger of both rounded up to the granularity.
// Never shrinks.
QSize GrowSize(const QSize& current, const QSize& requested, const QSize& granularity);

// The size of the picture shown inside `target` with the picture's display
// aspect, filling the target in one direction. A picture without a size
// fills the target.
QSizeF FitAspect(const QSizeF& target, const QSize& image, int rotation);

// The fitted picture centred in target and the two bars that fill the rest.
void PlaceImage(const QRectF& target, const QSize& image, ImagePlacement& out, int rotation);

// PlaceImage, then image and bars clipped to `clip`; out.texture is the part
// of `texture` (texture coordinates) that the clipped image shows.
void PlaceImageClipped(const QRectF& target, const QSize& image, const QRectF& clip, const QRectF& texture,
                       ImagePlacement& out, int rotation);

}  // namespace render
