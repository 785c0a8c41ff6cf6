#include "widgets/QGuiLayer.h"

#include <cmath>
#include <cstring>

#include <QGraphicsItem>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsSceneWheelEvent>
#include <QPainter>

#include "render/GraphicArea.h"

namespace {

// The pixels a floating rectangle touches, as an inclusive rectangle.
QRect CoveringRect(const QRectF& rect)
{
    return QRect(QPoint(int(rect.x()), int(rect.y())),
                 QPoint(int(std::ceil(rect.x() + rect.width())) - 1, int(std::ceil(rect.y() + rect.height())) - 1));
}

void ClearPixels(QImage& image, const QRect& rect)
{
    const QRect area = rect.intersected(image.rect());
    if (area.isEmpty())
        return;
    const size_t bytes = size_t(area.width()) * 4;
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::memset(image.scanLine(y) + size_t(area.left()) * 4, 0, bytes);
}

}  // namespace

QGuiLayer::QGuiLayer(render::IGraphicArea* area, QObject* parent) : QGraphicsScene(parent), graphicArea(area) {}

QGuiLayer::~QGuiLayer() = default;

void QGuiLayer::Resize(const QSize& size)
{
    const QSizeF current = sceneRect().size();
    if (QSize(qRound(current.width()), qRound(current.height())) == size)
        return;
    if (size.width() >= 1 && size.height() >= 1)
        setSceneRect(0, 0, size.width(), size.height());
    else
        setSceneRect(0, 0, 100, 100);
    clearRect = QRect(QPoint(0, 0), size);
    InvalidateRect(QRectF());
}

void QGuiLayer::OnItemMoved(QGraphicsItem*, const QPointF&) {}

void QGuiLayer::CreateControls() {}

void QGuiLayer::EnsureControls()
{
    if (controlsCreated)
        return;
    CreateControls();
    controlsCreated = true;
}

bool QGuiLayer::RenderDirty()
{
    if (dirtyRects.empty())
        return false;
    PaintDirty();
    dirtyRects.clear();
    return true;
}

void QGuiLayer::InvalidateRect(const QRectF& rect, QGraphicsItem* item)
{
    if (rect.x() == 0 && rect.y() == 0 && rect.width() == 0 && rect.height() == 0) {
        dirtyRects.clear();
        dirtyRects.push_back(CoveringRect(sceneRect()));
        return;
    }
    QRectF area = item ? rect.translated(item->scenePos()) : rect;
    area = area.intersected(sceneRect());
    if (area.width() <= 0 || area.height() <= 0)
        return;
    const QRect dirty = CoveringRect(area);
    for (QRect& entry : dirtyRects) {
        if (entry.intersects(dirty)) {
            entry = entry.united(dirty);
            MergeDirtyRects();
            return;
        }
    }
    dirtyRects.push_back(dirty);
}

void QGuiLayer::MergeDirtyRects()
{
    bool merged = true;
    while (merged) {
        merged = false;
        for (size_t i = 0; i < dirtyRects.size() && !merged; ++i) {
            for (size_t j = i + 1; j < dirtyRects.size(); ++j) {
                if (dirtyRects[i].intersects(dirtyRects[j])) {
                    dirtyRects[i] = dirtyRects[i].united(dirtyRects[j]);
                    dirtyRects.erase(dirtyRects.begin() + std::ptrdiff_t(j));
                    merged = true;
                    break;
                }
            }
        }
    }
}

void QGuiLayer::PaintDirty()
{
    EnsureControls();
    const QRectF r = sceneRect();
    const QSize size(int(std::ceil(r.x() + r.width())) - int(r.x()), int(std::ceil(r.y() + r.height())) - int(r.y()));
    if (size.isEmpty())
        return;
    if (layerImage.size() != size) {
        layerImage = QImage(size, QImage::Format_ARGB32_Premultiplied);
        if (layerImage.isNull())
            return;  // out of memory: nothing is drawn rather than retried forever
        // Nothing of the old image survives: the whole new one is painted.
        layerImage.fill(Qt::transparent);
        InvalidateRect(QRectF());
        RenderDirty();
        return;
    }
    QPainter painter(&layerImage);
    repainting = true;
    for (const QRect& dirty : dirtyRects) {
        ClearPixels(layerImage, dirty.intersected(clearRect));
        currentRepaintRect = QRectF(dirty);
        render(&painter, currentRepaintRect, currentRepaintRect, Qt::KeepAspectRatio);
    }
    repainting = false;
    if (graphicArea)
        graphicArea->Update(layerImage.constBits(), layerImage.size(), layerImage.bytesPerLine(), &dirtyRects);
    painter.end();
}

void QGuiLayer::MousePress(const QPoint& pos, Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    QGraphicsSceneMouseEvent e(QEvent::GraphicsSceneMousePress);
    e.setScenePos(pos);
    e.setLastScenePos(lastMousePosition);
    e.setButton(button);
    e.setButtons(button);
    e.setModifiers(modifiers);
    e.setAccepted(false);
    event(&e);
}

void QGuiLayer::MouseRelease(const QPoint& pos, Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    QGraphicsSceneMouseEvent e(QEvent::GraphicsSceneMouseRelease);
    e.setScenePos(pos);
    e.setLastScenePos(lastMousePosition);
    e.setButton(button);
    e.setModifiers(modifiers);
    e.setAccepted(false);
    event(&e);
}

void QGuiLayer::MouseMove(const QPoint& pos, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    QGraphicsSceneMouseEvent e(QEvent::GraphicsSceneMouseMove);
    e.setScenePos(pos);
    e.setLastScenePos(lastMousePosition);
    e.setButtons(buttons);
    e.setModifiers(modifiers);
    e.setAccepted(false);
    event(&e);
    lastMousePosition = pos;
}

void QGuiLayer::Wheel(const QPoint& pos, int delta, Qt::KeyboardModifiers modifiers)
{
    QGraphicsSceneWheelEvent e(QEvent::GraphicsSceneWheel);
    e.setOrientation(Qt::Vertical);
    e.setScenePos(pos);
    e.setDelta(delta);
    e.setModifiers(modifiers);
    e.setAccepted(false);
    event(&e);
}
