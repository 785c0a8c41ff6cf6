#include "widgets/QImageItem.h"

#include <cmath>

#include <QCoreApplication>
#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>

namespace {

// The dragged snapshot's width in scene pixels.
constexpr double kDragWidth = 150.0;
// Half-transparent.
constexpr uchar kAlpha = 128;

}  // namespace

QImageItem* QImageItem::Create(const QImage& capture, int channel, IExportDropTarget* target)
{
    if (capture.isNull() || capture.width() <= 0 || capture.height() <= 0)
        return nullptr;
    return new QImageItem(capture, channel, target);
}

QImageItem::QImageItem(const QImage& source, int channel, IExportDropTarget* target)
    : size(source.size()), image(source.convertToFormat(QImage::Format_ARGB32)), channel(channel), target(target)
{
    // Byte 3 of each 32-bit pixel is its alpha on this little-endian layout.
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            line[x * 4 + 3] = kAlpha;
    }
    setFlag(QGraphicsItem::ItemIsMovable);
    animation.setTargetObject(this);
    animation.setPropertyName("AnimationPhase");
    animation.setStartValue(0.0);
    connect(&animation, &QAbstractAnimation::finished, this, &QImageItem::animationFinished);
}

QRectF QImageItem::boundingRect() const
{
    return QRectF(0, 0, size.width(), size.height());
}

void QImageItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter->drawImage(QPointF(0, 0), image);
}

void QImageItem::SetAnimationPhase(double value)
{
    phase = value;
    if (endPhase <= 0)
        return;  // no flight started
    setScale((1 - value / endPhase) * 0.9 + 0.1);
    setPos(value * offsetX + pressCentreX - size.width() / 2.0, value * offsetY + pressCentreY - size.height() / 2.0);
}

void QImageItem::mousePressEvent(QGraphicsSceneMouseEvent* event)
{
    const QPointF centre = sceneBoundingRect().center();
    pressCentreX = centre.x();
    pressCentreY = centre.y();
    setTransformOriginPoint(event->pos());
    if (size.width() > 0)
        setScale(kDragWidth / size.width());
    QGraphicsObject::mousePressEvent(event);
}

void QImageItem::mouseReleaseEvent(QGraphicsSceneMouseEvent* event)
{
    QGraphicsObject::mouseReleaseEvent(event);
    // The drop point. The item's position plus the event's would be the
    // same point (the grabbed point stays under the cursor), but the scene
    // maps the event with the transform of before the last move.
    const QPointF p = event->scenePos();
    const QRectF area = target ? target->ExportDropArea() : QRectF();
    if (!area.contains(p)) {
        Discard();
        return;
    }
    setTransformOriginPoint(boundingRect().center());
    // A drop above half the press height shrinks the snapshot in place.
    offsetX = 0;
    offsetY = 0;
    if (pressCentreY > pressCentreY / 2 && p.y() > pressCentreY / 2) {
        offsetX = (p.x() - pressCentreX) * 2;
        offsetY = (p.y() - pressCentreY) * 2;
    }
    endPhase = 0.5;
    animation.setDuration(static_cast<int>(std::lround(endPhase * 1000)));
    animation.setEndValue(endPhase);
    animation.setEasingCurve(QEasingCurve::Linear);
    animation.start();
}

void QImageItem::Discard()
{
    if (QGraphicsScene* owner = scene())
        owner->removeItem(this);
    // The animation and the event being handled belong to this item.
    deleteLater();
}

void QImageItem::animationFinished()
{
    IExportDropTarget* const report = target;
    const int dropped = channel;
    Discard();
    QCoreApplication::sendPostedEvents();
    if (report) {
        report->RenderDirty();
        report->ExportSourceDropped(dropped);
    }
}
