// The off-screen scene layer: dirty rectangles, repaint into the layer image,
// the hand-over to the graphic area and the synthetic input.

#include <vector>

#include <QGraphicsRectItem>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsSceneWheelEvent>
#include <QPainter>
#include <gtest/gtest.h>

#include "widgets/QGuiLayer.h"
#include "render/GraphicArea.h"

namespace {

// Keeps a copy of each hand-over.
class RecordingArea : public render::IGraphicArea {
public:
    void Update(const uchar* bits, const QSize& size, int bytesPerLine, const std::vector<QRect>* dirty) override
    {
        QImage copy(bits, size.width(), size.height(), bytesPerLine, QImage::Format_ARGB32_Premultiplied);
        images.push_back(copy.copy());
        rects.push_back(dirty ? *dirty : std::vector<QRect>{});
    }
    std::vector<QImage> images;
    std::vector<std::vector<QRect>> rects;
};

// Counts its creations and records the repaint rectangle its item sees.
class CountingLayer : public QGuiLayer {
public:
    using QGuiLayer::QGuiLayer;
    void CreateControls() override { ++created; }
    int created = 0;
};

class PaintProbe : public QGraphicsRectItem {
public:
    PaintProbe(QGuiLayer* layer, const QRectF& rect, QColor colour) : QGraphicsRectItem(rect), layer(layer)
    {
        setBrush(colour);
        setPen(Qt::NoPen);
    }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override
    {
        EXPECT_TRUE(layer->IsRepainting());
        seen.push_back(layer->CurrentRepaintRect());
        QGraphicsRectItem::paint(painter, option, widget);
    }
    QGuiLayer* layer;
    std::vector<QRectF> seen;
};

// Records the scene events it receives (scene positions, buttons).
class InputProbe : public QGraphicsRectItem {
public:
    explicit InputProbe(const QRectF& rect) : QGraphicsRectItem(rect) { setFlag(ItemIsMovable); }
    void mousePressEvent(QGraphicsSceneMouseEvent* e) override
    {
        log.push_back({"press", e->scenePos(), e->lastScenePos(), e->button(), e->buttons(), 0});
        QGraphicsRectItem::mousePressEvent(e);
    }
    void mouseMoveEvent(QGraphicsSceneMouseEvent* e) override
    {
        log.push_back({"move", e->scenePos(), e->lastScenePos(), e->button(), e->buttons(), 0});
        QGraphicsRectItem::mouseMoveEvent(e);
    }
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* e) override
    {
        log.push_back({"release", e->scenePos(), e->lastScenePos(), e->button(), e->buttons(), 0});
        QGraphicsRectItem::mouseReleaseEvent(e);
    }
    void wheelEvent(QGraphicsSceneWheelEvent* e) override
    {
        EXPECT_EQ(Qt::Vertical, e->orientation());
        EXPECT_EQ(Qt::ShiftModifier, e->modifiers());
        log.push_back({"wheel", e->scenePos(), QPointF(), Qt::NoButton, Qt::NoButton, e->delta()});
        e->accept();
    }
    struct Entry {
        std::string kind;
        QPointF pos;
        QPointF last;
        Qt::MouseButton button;
        Qt::MouseButtons buttons;
        int delta;
    };
    std::vector<Entry> log;
};

struct Invalidation {
    QRectF rect;
    QPointF itemPos;  // the item's position; (-1, -1) for no item
};

struct DirtyCase {
    const char* name;
    std::vector<Invalidation> steps;
    std::vector<QRect> expected;
};

const QPointF kNoItem(-1, -1);

}  // namespace

TEST(QGuiLayer, DirtyRectanglesMergeAndClip)
{
    const std::vector<DirtyCase> cases = {
        {"overlapping pair", {{{10, 10, 20, 20}, kNoItem}, {{20, 20, 20, 20}, kNoItem}}, {QRect(10, 10, 30, 30)}},
        {"disjoint pair", {{{10, 10, 5, 5}, kNoItem}, {{30, 30, 5, 5}, kNoItem}},
         {QRect(10, 10, 5, 5), QRect(30, 30, 5, 5)}},
        {"third bridges the first two",
         {{{0, 0, 10, 10}, kNoItem}, {{50, 0, 10, 10}, kNoItem}, {{5, 5, 50, 2}, kNoItem}},
         {QRect(0, 0, 60, 10)}},
        {"merge cascades into a later entry",
         {{{0, 0, 10, 10}, kNoItem}, {{20, 0, 10, 10}, kNoItem}, {{40, 0, 10, 10}, kNoItem},
          {{5, 0, 40, 1}, kNoItem}},
         {QRect(0, 0, 50, 10)}},
        {"fractions cover every touched pixel", {{{1.5, 2.25, 3.0, 3.5}, kNoItem}}, {QRect(QPoint(1, 2), QPoint(4, 5))}},
        {"outside the scene dropped", {{{300, 10, 10, 10}, kNoItem}, {{-20, -20, 10, 10}, kNoItem}}, {}},
        {"clipped to the scene", {{{190, 90, 30, 30}, kNoItem}}, {QRect(190, 90, 10, 10)}},
        {"whole scene replaces the queue", {{{1, 1, 2, 2}, kNoItem}, {{0, 0, 0, 0}, kNoItem}}, {QRect(0, 0, 200, 100)}},
        {"item coordinates", {{{0, 0, 10, 10}, QPointF(40, 30)}}, {QRect(40, 30, 10, 10)}},
    };
    for (const DirtyCase& c : cases) {
        QGuiLayer layer(nullptr);
        layer.Resize(QSize(200, 100));
        layer.RenderDirty();
        QGraphicsRectItem* item = new QGraphicsRectItem(0, 0, 1, 1);
        layer.addItem(item);
        for (const Invalidation& step : c.steps) {
            if (step.itemPos == kNoItem) {
                layer.InvalidateRect(step.rect);
            } else {
                item->setPos(step.itemPos);
                layer.InvalidateRect(step.rect, item);
            }
        }
        EXPECT_EQ(c.expected, layer.DirtyRects()) << c.name;
    }
}

TEST(QGuiLayer, ResizeSetsSceneAndClearRectangle)
{
    QGuiLayer layer(nullptr);
    layer.Resize(QSize(320, 240));
    EXPECT_EQ(QRectF(0, 0, 320, 240), layer.sceneRect());
    EXPECT_EQ(QRect(0, 0, 320, 240), layer.ClearRect());
    EXPECT_EQ(std::vector<QRect>{QRect(0, 0, 320, 240)}, layer.DirtyRects());

    layer.RenderDirty();
    layer.Resize(QSize(320, 240));  // same size: nothing to do
    EXPECT_TRUE(layer.DirtyRects().empty());

    layer.Resize(QSize(0, 50));
    EXPECT_EQ(QRectF(0, 0, 100, 100), layer.sceneRect());
    EXPECT_EQ(QRect(0, 0, 0, 50), layer.ClearRect());
}

TEST(QGuiLayer, RepaintClearsOnlyInsideClearRectangle)
{
    RecordingArea area;
    CountingLayer layer(&area);
    layer.Resize(QSize(100, 60));
    auto* panel = new PaintProbe(&layer, QRectF(0, 0, 100, 60), Qt::red);
    layer.addItem(panel);
    EXPECT_TRUE(layer.RenderDirty());
    EXPECT_EQ(1, layer.created);
    ASSERT_EQ(1u, area.images.size());
    EXPECT_EQ(qRgba(255, 0, 0, 255), area.images[0].pixel(50, 50));
    EXPECT_EQ(std::vector<QRect>{QRect(0, 0, 100, 60)}, area.rects[0]);

    // The video area is the top 40 rows; the panel goes and the whole layer
    // is repainted: only the video area turns transparent.
    layer.SetClearRect(QRect(0, 0, 100, 40));
    layer.removeItem(panel);
    delete panel;
    layer.InvalidateRect(QRectF(0, 0, 0, 0));
    EXPECT_TRUE(layer.RenderDirty());
    EXPECT_FALSE(layer.RenderDirty());
    EXPECT_EQ(1, layer.created);
    ASSERT_EQ(2u, area.images.size());
    EXPECT_EQ(0u, area.images[1].pixel(50, 39));
    EXPECT_EQ(qRgba(255, 0, 0, 255), area.images[1].pixel(50, 40));
}

TEST(QGuiLayer, ItemsSeeTheRectangleBeingRepainted)
{
    RecordingArea area;
    QGuiLayer layer(&area);
    layer.Resize(QSize(100, 100));
    layer.RenderDirty();
    auto* probe = new PaintProbe(&layer, QRectF(0, 0, 100, 100), Qt::blue);
    layer.addItem(probe);
    probe->seen.clear();
    area.images.clear();
    area.rects.clear();
    layer.InvalidateRect(QRectF(10, 10, 10, 10));
    layer.InvalidateRect(QRectF(60.5, 60, 10, 10));
    layer.RenderDirty();
    EXPECT_EQ((std::vector<QRectF>{QRectF(10, 10, 10, 10), QRectF(60, 60, 11, 10)}), probe->seen);
    EXPECT_EQ(QRectF(60, 60, 11, 10), layer.CurrentRepaintRect());
    EXPECT_FALSE(layer.IsRepainting());
    ASSERT_EQ(1u, area.rects.size());
    EXPECT_EQ((std::vector<QRect>{QRect(10, 10, 10, 10), QRect(60, 60, 11, 10)}), area.rects[0]);
    // Only the dirty areas were painted.
    EXPECT_EQ(qRgba(0, 0, 255, 255), area.images[0].pixel(15, 15));
    EXPECT_EQ(0u, area.images[0].pixel(40, 40));
}

TEST(QGuiLayer, ResizeWithQueuedEntriesRepaintsAllIntoNewImage)
{
    RecordingArea area;
    QGuiLayer layer(&area);
    layer.Resize(QSize(50, 50));
    layer.addItem(new PaintProbe(&layer, QRectF(0, 0, 400, 400), Qt::green));
    layer.RenderDirty();
    layer.InvalidateRect(QRectF(5, 5, 5, 5));
    layer.Resize(QSize(120, 80));
    layer.InvalidateRect(QRectF(5, 5, 5, 5));
    EXPECT_TRUE(layer.RenderDirty());
    EXPECT_EQ(QSize(120, 80), layer.LayerImage().size());
    ASSERT_EQ(2u, area.images.size());
    EXPECT_EQ(QSize(120, 80), area.images[1].size());
    EXPECT_EQ(std::vector<QRect>{QRect(0, 0, 120, 80)}, area.rects[1]);
    EXPECT_EQ(qRgba(0, 255, 0, 255), area.images[1].pixel(119, 79));
    EXPECT_TRUE(layer.DirtyRects().empty());
}

TEST(QGuiLayer, SyntheticInputDragsAndWheels)
{
    QGuiLayer layer(nullptr);
    layer.Resize(QSize(200, 200));
    auto* probe = new InputProbe(QRectF(0, 0, 50, 50));
    probe->setPos(20, 20);
    layer.addItem(probe);

    layer.MouseMove(QPoint(30, 30), Qt::NoButton);
    layer.MousePress(QPoint(30, 30), Qt::LeftButton);
    layer.MouseMove(QPoint(40, 35), Qt::LeftButton);
    layer.MouseMove(QPoint(60, 45), Qt::LeftButton);
    layer.MouseRelease(QPoint(60, 45), Qt::LeftButton);
    EXPECT_EQ(QPointF(50, 35), probe->pos());
    EXPECT_EQ(QPoint(60, 45), layer.LastMousePosition());

    ASSERT_EQ(4u, probe->log.size());
    EXPECT_EQ("press", probe->log[0].kind);
    EXPECT_EQ(QPointF(30, 30), probe->log[0].pos);
    EXPECT_EQ(Qt::LeftButton, probe->log[0].button);
    EXPECT_EQ(Qt::MouseButtons(Qt::LeftButton), probe->log[0].buttons);
    EXPECT_EQ("move", probe->log[2].kind);
    EXPECT_EQ(QPointF(40, 35), probe->log[2].last);
    EXPECT_EQ("release", probe->log[3].kind);
    EXPECT_EQ(Qt::LeftButton, probe->log[3].button);
    EXPECT_EQ(Qt::MouseButtons(Qt::NoButton), probe->log[3].buttons);

    layer.Wheel(QPoint(60, 60), -120, Qt::ShiftModifier);
    layer.Wheel(QPoint(190, 190), 120, Qt::ShiftModifier);  // nothing there
    ASSERT_EQ(5u, probe->log.size());
    EXPECT_EQ("wheel", probe->log[4].kind);
    EXPECT_EQ(-120, probe->log[4].delta);
    EXPECT_EQ(QPointF(60, 60), probe->log[4].pos);
}
