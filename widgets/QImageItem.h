#pragma once
// The half-transparent snapshot of a channel that the user drags from the
// channel grid onto the export panel. Dropped on the panel it flies to the
// drop point while shrinking to a tenth, then reports its channel; dropped
// anywhere else it vanishes without a report.

#include <QGraphicsObject>
#include <QImage>
#include <QPropertyAnimation>

// Where a snapshot may land, and who hears of it (the controls layer).
class IExportDropTarget {
public:
    virtual ~IExportDropTarget() = default;
    // The export panel's geometry in scene coordinates.
    virtual QRectF ExportDropArea() = 0;
    // Repaints what changed in the scene.
    virtual void RenderDirty() = 0;
    // A snapshot of the channel landed on the export panel.
    virtual void ExportSourceDropped(int channel) = 0;
};

class QImageItem : public QGraphicsObject {
    Q_OBJECT
    Q_PROPERTY(double AnimationPhase READ AnimationPhase WRITE SetAnimationPhase)

public:
    // The snapshot of a channel's picture; null when there is no picture to
    // drag (a null or empty capture, taken while the device is not ready).
    static QImageItem* Create(const QImage& capture, int channel, IExportDropTarget* target);

    // image must not be empty (see Create).
    QImageItem(const QImage& image, int channel, IExportDropTarget* target);

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    double AnimationPhase() const { return phase; }
    void SetAnimationPhase(double value);

    int Channel() const { return channel; }
    const QImage& Image() const { return image; }
    QPropertyAnimation& Animation() { return animation; }

public slots:
    void animationFinished();

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;

private:
    void Discard();

    QSize size;
    QImage image;
    int channel;
    double pressCentreX = 0;
    double pressCentreY = 0;
    double phase = 0;
    QPropertyAnimation animation;
    double offsetX = 0;
    double offsetY = 0;
    double endPhase = 0;
    IExportDropTarget* target;
};
