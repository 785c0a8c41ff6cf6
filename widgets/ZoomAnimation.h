#pragma once
// Animated zoom and pan of a video item.

#include <QObject>
#include <QPointF>
#include <QPropertyAnimation>
#include <QRectF>
#include <QSizeF>

#include "widgets/KineticTracker.h"

// The zoomed view, as the video item exposes it.
class IZoomTarget {
public:
    virtual ~IZoomTarget() = default;
    // The zoom rectangle after moving the anchor from previousOrigin to
    // newOrigin at the given zoom size.
    virtual QRectF ComputeZoomRect(const QPointF& previousOrigin, const QPointF& newOrigin, const QSizeF& size) = 0;
    virtual void SetZoomRect(const QRectF& rect) = 0;
    virtual QRectF GetZoomRect() const = 0;
};

class ZoomAnimation : public QObject {
    Q_OBJECT
    Q_PROPERTY(QSizeF Zoom READ Zoom WRITE SetZoom)
    Q_PROPERTY(QPointF ZoomOrigin READ ZoomOrigin WRITE SetZoomOrigin)

public:
    // target must outlive the animation.
    ZoomAnimation(IZoomTarget* target, double minZoom, double maxZoom);

    // Zooms by factor about point. Steps multiply the zoom last aimed at,
    // so quick steps accumulate; the aim stays within the limits.
    void ZoomAt(const QPointF& point, double factor);
    // Ends a drag: the origin flies on for a quarter second at the drag's speed.
    void Pan(const QPointF& point);

    QSizeF Zoom() const;
    void SetZoom(const QSizeF& size);
    QPointF ZoomOrigin() const { return origin; }
    // Pans: the picture point under the origin moves to point.
    void SetZoomOrigin(const QPointF& point);
    // Moves the origin without panning (a drag starts there).
    void ResetZoomOrigin(const QPointF& point) { origin = point; }

    QSizeF TargetZoom() const { return targetZoom; }
    QPropertyAnimation& ZoomPropertyAnimation() { return zoomAnimation; }
    QPropertyAnimation& OriginAnimation() { return originAnimation; }

    // The owner starts it on press and feeds it on every move.
    KineticTracker tracker;

private:
    IZoomTarget* target;
    QPropertyAnimation zoomAnimation;
    QPropertyAnimation originAnimation;
    QSizeF minimumZoom;
    QSizeF maximumZoom;
    QSizeF targetZoom;
    QPointF origin;
};
