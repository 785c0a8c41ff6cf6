#pragma once
// A graphics scene that is never shown through a view. It is painted, dirty
// rectangle by dirty rectangle, into a premultiplied ARGB image that is handed
// to a graphic area (the renderer's overlay texture), and it takes its input
// as synthetic scene events built from the hosting window's input. Window
// coordinates and scene coordinates are the same.

#include <vector>

#include <QGraphicsScene>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRectF>

namespace render {
class IGraphicArea;
}

class QGuiLayer : public QGraphicsScene {
    Q_OBJECT

public:
    // area receives the image after each repaint; it may be null (nothing is
    // handed over) and must outlive the layer otherwise.
    explicit QGuiLayer(render::IGraphicArea* area, QObject* parent = nullptr);
    ~QGuiLayer() override;

    // Makes the scene (0, 0, size); an empty size gives a 100 x 100 scene.
    // Only the part of the video area within the new size is cleared on
    // repaint until the clear rectangle is set again.
    virtual void Resize(const QSize& size);
    // A scene item is being dragged by offset from its position.
    virtual void OnItemMoved(QGraphicsItem* item, const QPointF& offset);
    // Builds the scene's items; runs once, before the first repaint at the
    // latest.
    virtual void CreateControls();
    // Repaints the dirty rectangles and hands them over; false when nothing
    // was dirty.
    virtual bool RenderDirty();

    // Marks rect dirty: in item coordinates translated by the item's scene
    // position when item is given, else in scene coordinates. The all-zero
    // rectangle marks the whole scene. Parts outside the scene are dropped;
    // overlapping entries are merged, so no pixel is painted twice per tick.
    void InvalidateRect(const QRectF& rect, QGraphicsItem* item = nullptr);

    // Synthetic input at scene position pos.
    void MousePress(const QPoint& pos, Qt::MouseButton button, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void MouseRelease(const QPoint& pos, Qt::MouseButton button, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void MouseMove(const QPoint& pos, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void Wheel(const QPoint& pos, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

    const QImage& LayerImage() const { return layerImage; }
    // Inclusive integer rectangles, free of intersecting pairs.
    const std::vector<QRect>& DirtyRects() const { return dirtyRects; }
    // Inside a dirty rectangle only the part within this rectangle is cleared
    // to transparent before it is repainted; the rest is painted over.
    QRect ClearRect() const { return clearRect; }
    void SetClearRect(const QRect& rect) { clearRect = rect; }
    // The rectangle being repainted (the last one after a repaint); items
    // read it while they paint to limit their work to it.
    QRectF CurrentRepaintRect() const { return currentRepaintRect; }
    // True only while the dirty rectangles are being rendered; any other
    // render of the scene (a capture, a view) paints items whole.
    bool IsRepainting() const { return repainting; }
    QPoint LastMousePosition() const { return lastMousePosition; }
    bool ControlsCreated() const { return controlsCreated; }

protected:
    // Creates the controls when they are not yet (derived constructors call
    // it, so that their own CreateControls runs).
    void EnsureControls();
    void PaintDirty();
    void MergeDirtyRects();

private:
    QImage layerImage;
    render::IGraphicArea* graphicArea;
    bool controlsCreated = false;
    QPoint lastMousePosition;
    std::vector<QRect> dirtyRects;
    QRect clearRect;
    QRectF currentRepaintRect;
    bool repainting = false;
};
