#include "widgets/ZoomAnimation.h"

#include <cmath>

ZoomAnimation::ZoomAnimation(IZoomTarget* target, double minZoom, double maxZoom)
    : target(target),
      zoomAnimation(this, "Zoom"),
      originAnimation(this, "ZoomOrigin"),
      minimumZoom(minZoom, minZoom),
      maximumZoom(maxZoom, maxZoom),
      targetZoom(minZoom, minZoom)
{
}

QSizeF ZoomAnimation::Zoom() const
{
    return target->GetZoomRect().size();
}

void ZoomAnimation::SetZoom(const QSizeF& size)
{
    target->SetZoomRect(target->ComputeZoomRect(origin, origin, size));
}

void ZoomAnimation::SetZoomOrigin(const QPointF& point)
{
    const QSizeF size = target->GetZoomRect().size();
    target->SetZoomRect(target->ComputeZoomRect(origin, point, size));
    origin = point;
}

void ZoomAnimation::ZoomAt(const QPointF& point, double factor)
{
    zoomAnimation.stop();
    // A zoom during a flick keeps the moving origin.
    if (originAnimation.state() != QAbstractAnimation::Running)
        origin = point;
    targetZoom = QSizeF(factor * targetZoom.width(), factor * targetZoom.height())
                     .boundedTo(maximumZoom)
                     .expandedTo(minimumZoom);
    zoomAnimation.setStartValue(Zoom());
    zoomAnimation.setEndValue(targetZoom);
    zoomAnimation.start();
}

void ZoomAnimation::Pan(const QPointF& point)
{
    tracker.AddSample(point);
    const QPointF v = tracker.Velocity();
    if (std::abs(v.x()) <= 1e-12 && std::abs(v.y()) <= 1e-12)
        return;
    originAnimation.stop();
    originAnimation.setStartValue(origin);
    originAnimation.setEndValue(origin + 0.25 * v);
    originAnimation.start();
}
