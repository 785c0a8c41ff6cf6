#include "render/ImagePlacement.h"

#include <algorithm>

namespace render {

namespace {

int RoundUp(int value, int step)
{
    if (step <= 1)
        return value;
    return (value + step - 1) / step * step;
}

}  // namespace

QSize GrowSize(const QSize& current, const QSize& requested, const QSize& granularity)
{
    if (current.width() >= requested.width() && current.height() >= requested.height())
        return current;
    return QSize(RoundUp(std::max(current.width(), requested.width()), granularity.width()),
                 RoundUp(std::max(current.height(), requested.height()), granularity.height()));
}

QSizeF FitAspect(const QSizeF& target, const QSize& image, int rotation)
{
    if (image.width() < 1 || image.height() < 1)
        return target;
    double h = image.height();
    if (image.width() > 2.4 * image.height() && image.height() > 4)
        h *= 2;  // one field of an interlaced picture
    double w = image.width();
    if (image.width() == 704 && h == 576)
        w = 768;  // PAL pixels are not square
    double q = w / h;
    if ((rotation / 90) % 2 != 0)
        q = 1 / q;
    const double v = (target.width() / target.height()) / q;
    return QSizeF(target.width() * std::min(1 / v, 1.0), target.height() * std::min(v, 1.0));
}

void PlaceImage(const QRectF& target, const QSize& image, ImagePlacement& out, int rotation)
{
    const QSizeF f = FitAspect(target.size(), image, rotation);
    out.image = QRectF(target.x() + target.width() / 2 - f.width() / 2,
                       target.y() + target.height() / 2 - f.height() / 2, f.width(), f.height());
    const double x = out.image.x(), y = out.image.y(), w = out.image.width(), h = out.image.height();
    QPointF p, q;
    if (f.height() == target.height()) {
        p = QPointF(x, y + h);  // bars left and right
        q = QPointF(x + w, y);
    } else {
        p = QPointF(x + w, y);  // bars above and below
        q = QPointF(x, y + h);
    }
    out.firstBar = QRectF(target.topLeft(), p);
    out.secondBar = QRectF(q, QPointF(target.x() + target.width(), target.y() + target.height()));
}

void PlaceImageClipped(const QRectF& target, const QSize& image, const QRectF& clip, const QRectF& texture,
                       ImagePlacement& out, int rotation)
{
    PlaceImage(target, image, out, rotation);
    const QRectF g = out.image;
    out.firstBar &= clip;
    out.secondBar &= clip;
    const QRectF e = g & clip;
    if (g.width() > 0 && g.height() > 0 && !e.isEmpty()) {
        out.texture = QRectF(texture.x() + (e.x() - g.x()) * texture.width() / g.width(),
                             texture.y() + (e.y() - g.y()) * texture.height() / g.height(),
                             e.width() * texture.width() / g.width(), e.height() * texture.height() / g.height());
    } else {
        out.texture = QRectF();
    }
    out.image = e;
}

}  // namespace render
