// The channel grid: its shape, the stored cell order, repacking, dragging
// through the layer's synthetic input, maximise and restore, selection,
// export mode, renderer pins and the titles relay.

#include <thread>

#include <QGraphicsRectItem>
#include <gtest/gtest.h>

#include "GridScene.h"

namespace {

struct ShapeCase {
    double width, height;
    int channels;
    int columns;
};

TEST(ChannelsGrid, BestColumnCount)
{
    const ShapeCase cases[] = {
        {1600, 300, 4, 4},  {800, 600, 4, 2},  {1920, 1080, 9, 4},
        {800, 600, 2, 1},  // one and two columns score the same: fewer wins
        {800, 600, 1, 1},  {800, 600, 0, 1},   {800, 600, -3, 1},
        {0, 600, 5, 1},     // nothing scores
        {1200, 600, 4, 3},  {300, 1200, 6, 1},
    };
    for (const ShapeCase& c : cases)
        EXPECT_EQ(c.columns, QChannelsGrid::BestColumnCount(c.width, c.height, c.channels))
            << c.width << "x" << c.height << " n=" << c.channels;
}

TEST(ChannelsGrid, ShapeFollowsContentRectangle)
{
    GridScene scene(9, QSize(1920, 1080));
    const QRectF content = scene.grid.ContentRect();
    EXPECT_EQ(4, scene.grid.Columns());
    EXPECT_EQ(3, scene.grid.Rows());
    ASSERT_EQ(12, scene.grid.Cells().size());
    for (int i = 9; i < 12; ++i)
        EXPECT_EQ(nullptr, scene.grid.Cells()[i]) << i;
    // Equal cells tile the content rectangle row by row.
    const double w = content.width() / 4, h = content.height() / 3;
    for (int i = 0; i < 12; ++i) {
        const QRectF cell = scene.grid.CellRect(i);
        EXPECT_NEAR(content.x() + (i % 4) * w, cell.x(), 1e-6) << i;
        EXPECT_NEAR(content.y() + (i / 4) * h, cell.y(), 1e-6) << i;
        EXPECT_NEAR(w, cell.width(), 1e-6) << i;
        EXPECT_NEAR(h, cell.height(), 1e-6) << i;
    }
    for (int channel = 0; channel < 9; ++channel)
        EXPECT_EQ(scene.grid.CellRect(channel), scene.Item(channel)->sceneBoundingRect()) << channel;
}

TEST(ChannelsGrid, EmptyAndSingleChannel)
{
    GridScene empty(0, QSize(800, 600));
    EXPECT_EQ(1, empty.grid.Columns());
    EXPECT_EQ(0, empty.grid.Rows());
    EXPECT_TRUE(empty.grid.Cells().isEmpty());
    EXPECT_TRUE(empty.grid.GetLayout().empty());

    GridScene single(1, QSize(800, 600));
    QVideoItem* item = single.Item(0);
    EXPECT_EQ(single.grid.ContentRect(), item->sceneBoundingRect());
    EXPECT_FALSE(item->flags() & QGraphicsItem::ItemIsMovable);
    single.grid.ZoomItem(0, true, true);
    EXPECT_FALSE(item->maximized);
}

struct OrderCase {
    const char* name;
    std::vector<int32_t> stored;
    std::vector<int32_t> expected;
};

TEST(ChannelsGrid, StoredOrderIsUsedOnlyWhenItFits)
{
    // Four channels in 800 x 600: 2 x 2 cells.
    const std::vector<int32_t> plain = {0, 1, 2, 3};
    const OrderCase cases[] = {
        {"valid", {3, 0, 2, 1}, {3, 0, 2, 1}},
        {"duplicate", {1, 1, 2, 3}, plain},
        {"negative", {0, -1, 2, 3}, plain},
        {"beyond the cells", {0, 1, 2, 4}, plain},
        {"last equal to cell count", {3, 2, 1, 4}, plain},
        {"too short", {3, 2, 1}, plain},
        {"too long", {3, 2, 1, 0, 4}, plain},
        {"empty", {}, plain},
    };
    for (const OrderCase& c : cases) {
        GridScene scene(4, QSize(800, 600), c.stored);
        EXPECT_EQ(c.expected, scene.grid.GetLayout()) << c.name;
        for (int channel = 0; channel < 4; ++channel)
            EXPECT_EQ(scene.grid.CellRect(c.expected[size_t(channel)]), scene.Item(channel)->sceneBoundingRect())
                << c.name << " channel " << channel;
    }
    EXPECT_TRUE(QChannelsGrid::IsValidLayout({}, 0, 0));
    EXPECT_FALSE(QChannelsGrid::IsValidLayout({0}, 1, 0));
}

TEST(ChannelsGrid, RepackKeepsCellsThatStillExist)
{
    int a = 0, b = 0, c = 0, d = 0;
    struct Case {
        QList<int*> old;
        int count;
        QList<int*> expected;
    };
    const Case cases[] = {
        {{&a, &b, nullptr, nullptr, &c, &d}, 4, {&a, &b, &c, &d}},
        {{&a, &b, &c, &d}, 4, {&a, &b, &c, &d}},
        {{&a, nullptr, &b, nullptr}, 6, {&a, nullptr, &b, nullptr, nullptr, nullptr}},
        {{nullptr, nullptr, nullptr, &a, nullptr, &b}, 2, {&a, &b}},
        {{&a, nullptr, nullptr, nullptr, &b, nullptr}, 3, {&a, nullptr, &b}},
    };
    for (const Case& k : cases)
        EXPECT_EQ(k.expected, QChannelsGrid::RepackItems(k.old, k.count));
}

TEST(ChannelsGrid, ShrinkingFromThreeColumnsToTwoRepacks)
{
    // 1200 x 600 with four channels: 3 x 2 cells; the channels sit in cells
    // 0, 1, 4 and 5.
    GridScene scene(4, QSize(1200, 600), {0, 1, 4, 5});
    ASSERT_EQ(3, scene.grid.Columns());
    ASSERT_EQ((std::vector<int32_t>{0, 1, 4, 5}), scene.grid.GetLayout());

    scene.grid.resize(800, 600);
    EXPECT_EQ(2, scene.grid.Columns());
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3}), scene.grid.GetLayout());
    for (int channel = 0; channel < 4; ++channel)
        EXPECT_EQ(scene.grid.CellRect(channel), scene.Item(channel)->sceneBoundingRect()) << channel;

    // Growing to one row keeps every channel's cell index.
    scene.grid.resize(1600, 300);
    EXPECT_EQ(4, scene.grid.Columns());
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3}), scene.grid.GetLayout());
}

TEST(ChannelsGrid, DragThroughTheLayerSwapsCells)
{
    GridScene scene(4, QSize(800, 600));
    QVideoItem* a = scene.Item(0);
    QVideoItem* c = scene.Item(2);
    const QRectF cell0 = scene.grid.CellRect(0), cell2 = scene.grid.CellRect(2);
    const QPoint start = cell0.center().toPoint();
    // Released a little off the cell, so the item settles into it.
    const QPoint end = cell2.center().toPoint() + QPoint(10, -5);

    scene.layer.MousePress(start, Qt::LeftButton);
    EXPECT_TRUE(a->dragging);
    EXPECT_EQ(-1, a->zValue());
    for (int step = 1; step <= 4; ++step)
        scene.layer.MouseMove(start + (end - start) * step / 4, Qt::LeftButton);
    // The displaced item is on its way into the dragged item's former cell.
    EXPECT_EQ(QAbstractAnimation::Running, c->MoveAnimation().state());
    EXPECT_EQ(cell0, c->MoveAnimation().endValue().toRectF());
    EXPECT_EQ((std::vector<int32_t>{2, 1, 0, 3}), scene.grid.GetLayout());

    scene.layer.MouseRelease(end, Qt::LeftButton);
    EXPECT_FALSE(a->dragging);
    EXPECT_EQ(QAbstractAnimation::Running, a->MoveAnimation().state());
    scene.FinishAll();
    EXPECT_EQ(cell2, a->sceneBoundingRect());
    EXPECT_EQ(cell0, c->sceneBoundingRect());
    EXPECT_EQ(-2, a->zValue());
}

TEST(ChannelsGrid, DragOntoEmptyCellMovesOnlyTheDraggedItem)
{
    GridScene scene(3, QSize(800, 600));  // 2 x 2, cell 3 empty
    ASSERT_EQ(nullptr, scene.grid.Cells()[3]);
    const QPoint start = scene.grid.CellRect(1).center().toPoint();
    const QPoint end = scene.grid.CellRect(3).center().toPoint();
    scene.layer.MousePress(start, Qt::LeftButton);
    scene.layer.MouseMove(end, Qt::LeftButton);
    scene.layer.MouseRelease(end, Qt::LeftButton);
    for (int channel : {0, 2})
        EXPECT_NE(QAbstractAnimation::Running, scene.Item(channel)->MoveAnimation().state()) << channel;
    EXPECT_EQ((std::vector<int32_t>{0, 3, 2}), scene.grid.GetLayout());
}

TEST(ChannelsGrid, DraggedItemStaysInsideTheGrid)
{
    GridScene scene(4, QSize(800, 600));
    QVideoItem* item = scene.Item(3);
    const QPoint start = scene.grid.CellRect(3).center().toPoint();
    scene.layer.MousePress(start, Qt::LeftButton);
    scene.layer.MouseMove(start + QPoint(500, 400), Qt::LeftButton);
    EXPECT_TRUE(scene.grid.Geometry().contains(item->sceneBoundingRect()));
    scene.layer.MouseRelease(start + QPoint(500, 400), Qt::LeftButton);
}

TEST(ChannelsGrid, MaximiseAndRestore)
{
    GridScene scene(4, QSize(800, 600));
    QVideoItem* item = scene.Item(1);
    scene.grid.UpdatePinGeometry();

    scene.grid.ZoomItem(1, true, true);
    EXPECT_TRUE(item->maximized);
    EXPECT_EQ(QAbstractAnimation::Running, item->MoveAnimation().state());
    EXPECT_EQ(500, item->MoveAnimation().duration());
    EXPECT_EQ(scene.grid.ContentRect(), item->MoveAnimation().endValue().toRectF());
    EXPECT_EQ(-1, item->zValue());
    EXPECT_FALSE(item->flags() & QGraphicsItem::ItemIsMovable);
    EXPECT_EQ(1, scene.grid.PendingFrontChannel());

    // The next pin update draws the maximised channel last.
    scene.grid.UpdatePinGeometry();
    EXPECT_EQ((std::vector<int>{0, 3, 2, 1}), scene.renderer.GetDrawOrder());
    EXPECT_EQ(-1, scene.grid.PendingFrontChannel());
    scene.Finish(item);
    EXPECT_EQ(scene.grid.ContentRect(), item->sceneBoundingRect());
    EXPECT_EQ(-1, item->zValue());  // still maximised: stays in front

    scene.grid.ZoomItem(1, false, true);
    EXPECT_FALSE(item->maximized);
    EXPECT_EQ(QAbstractAnimation::Running, item->MoveAnimation().state());
    EXPECT_EQ(250, item->MoveAnimation().duration());
    EXPECT_EQ(scene.grid.CellRect(1), item->MoveAnimation().endValue().toRectF());
    scene.Finish(item);
    EXPECT_EQ(scene.grid.CellRect(1), item->sceneBoundingRect());
    EXPECT_EQ(-2, item->zValue());
    EXPECT_EQ(500, item->MoveAnimation().duration());
    EXPECT_TRUE(item->flags() & QGraphicsItem::ItemIsMovable);

    EXPECT_THROW(scene.grid.ZoomItem(7, true, true), std::logic_error);
}

TEST(ChannelsGrid, MaximisingAnotherChannelRestoresTheFirst)
{
    GridScene scene(4, QSize(800, 600));
    scene.grid.ZoomItem(0, true, false);
    EXPECT_EQ(scene.grid.ContentRect(), scene.Item(0)->sceneBoundingRect());
    scene.grid.ZoomItem(2, true, true);
    EXPECT_FALSE(scene.Item(0)->maximized);
    EXPECT_TRUE(scene.Item(2)->maximized);
    EXPECT_EQ(250, scene.Item(0)->MoveAnimation().duration());
    scene.FinishAll();
    EXPECT_EQ(scene.grid.CellRect(0), scene.Item(0)->sceneBoundingRect());
    EXPECT_EQ(scene.grid.ContentRect(), scene.Item(2)->sceneBoundingRect());
}

TEST(ChannelsGrid, SelectionMarksOneChannelAndTakesTheMaximisedPlace)
{
    GridScene scene(4, QSize(800, 600));
    scene.grid.SelectChannel(2);
    scene.grid.ZoomItem(1, true, false);
    scene.grid.SelectChannel(3);
    // At once, without animation.
    EXPECT_EQ(scene.grid.ContentRect(), scene.Item(3)->sceneBoundingRect());
    EXPECT_EQ(scene.grid.CellRect(1), scene.Item(1)->sceneBoundingRect());
    EXPECT_TRUE(scene.Item(3)->maximized);
    EXPECT_FALSE(scene.Item(1)->maximized);
    for (int channel = 0; channel < 4; ++channel)
        EXPECT_EQ(channel == 3, scene.Item(channel)->IsSelected()) << channel;
}

TEST(ChannelsGrid, ExportModeFreezesItems)
{
    GridScene scene(3, QSize(800, 600));
    scene.grid.ZoomItem(0, true, false);
    scene.grid.SetExportMode(true);
    for (int channel = 0; channel < 3; ++channel) {
        EXPECT_TRUE(scene.Item(channel)->exportMode);
        EXPECT_FALSE(scene.Item(channel)->flags() & QGraphicsItem::ItemIsMovable) << channel;
    }
    scene.grid.SetExportMode(false);
    EXPECT_FALSE(scene.Item(0)->flags() & QGraphicsItem::ItemIsMovable);  // maximised
    for (int channel : {1, 2})
        EXPECT_TRUE(scene.Item(channel)->flags() & QGraphicsItem::ItemIsMovable) << channel;
}

TEST(ChannelsGrid, PinsFollowTheItemsInsetByFour)
{
    // Odd sizes give fractional cells.
    GridScene scene(3, QSize(801, 601));
    scene.grid.UpdatePinGeometry();
    for (int channel = 0; channel < 3; ++channel) {
        const QRectF r = scene.Item(channel)->sceneBoundingRect();
        const QRect pin = scene.renderer.GetPin(channel)->GetRect();
        EXPECT_EQ(int(r.x() + 4), pin.left()) << channel;
        EXPECT_EQ(int(r.y() + 4), pin.top()) << channel;
        EXPECT_EQ(int(std::ceil(r.right() - 4)) - 1, pin.right()) << channel;
        EXPECT_EQ(int(std::ceil(r.bottom() - 4)) - 1, pin.bottom()) << channel;
        EXPECT_FALSE(scene.Item(channel)->geometryChanged);
    }
    // A literal case: an item at (10.5, 20.25) of 100.5 x 50.
    QVideoItem* item = scene.Item(0);
    item->SetGeometry(QRectF(10.5, 20.25, 100.5, 50));
    scene.grid.UpdatePinGeometry();
    EXPECT_EQ(QRect(QPoint(14, 24), QPoint(106, 66)), scene.renderer.GetPin(0)->GetRect());
    // Unmoved items leave their pins alone.
    scene.renderer.GetPin(1)->SetRect(QRect(0, 0, 5, 5));
    scene.grid.UpdatePinGeometry();
    EXPECT_EQ(QRect(0, 0, 5, 5), scene.renderer.GetPin(1)->GetRect());
}

TEST(ChannelsGrid, ChannelAtFindsTheTopmostVideoItem)
{
    GridScene scene(4, QSize(800, 600));
    const QPoint inCell3 = scene.grid.CellRect(3).center().toPoint();
    EXPECT_EQ(3, scene.grid.ChannelAt(inCell3));
    EXPECT_EQ(-1, scene.grid.ChannelAt(QPoint(2, 2)));  // the layout's margin
    auto* panel = new QGraphicsRectItem(QRectF(inCell3 - QPoint(5, 5), QSizeF(10, 10)));
    scene.layer.addItem(panel);
    EXPECT_EQ(-1, scene.grid.ChannelAt(inCell3));
}

TEST(ChannelsGrid, FadeReachesTheChannelShade)
{
    GridScene scene(2, QSize(800, 600));
    EXPECT_FALSE(scene.grid.FadeItem(5, 0, 150));
    EXPECT_TRUE(scene.grid.FadeItem(1, 0, 150));
    QPropertyAnimation& fade = scene.Item(1)->AlphaAnimation();
    EXPECT_EQ(1500, fade.duration());
    fade.setCurrentTime(750);
    const int half = scene.renderer.GetShade(1);
    EXPECT_GT(half, 0);
    EXPECT_LT(half, 150);
    fade.setCurrentTime(1500);
    EXPECT_EQ(150, scene.renderer.GetShade(1));
    EXPECT_EQ(0, scene.renderer.GetShade(0));
}

TEST(ChannelsGrid, TitlesChangesAreRelayedOnTheGuiThread)
{
    GridScene scene(4, QSize(800, 600));
    render::TitlesPtr titles = scene.renderer.GetPin(1)->GetTitles();
    titles->SetTitleText(0, L"Gate");
    EXPECT_EQ(QString(), scene.Item(1)->TitleLayouts()[0].text);

    std::thread renderThread([&] {
        scene.grid.TitlesChanged(1);
        scene.grid.TitlesChanged(7);  // no such channel: ignored
        scene.grid.TitlesChanged(-1);
    });
    renderThread.join();
    EXPECT_EQ(QString(), scene.Item(1)->TitleLayouts()[0].text);  // not yet: queued
    QCoreApplication::processEvents();
    EXPECT_EQ(QString("Gate"), scene.Item(1)->TitleLayouts()[0].text);
}

TEST(ChannelsGrid, RemoveItemsEmptiesTheGridAndTheScene)
{
    GridScene scene(4, QSize(800, 600));
    EXPECT_EQ(4, scene.layer.items().size());
    scene.grid.RemoveItems();
    EXPECT_TRUE(scene.layer.items().isEmpty());
    EXPECT_EQ(0, scene.grid.Columns());
    EXPECT_EQ(0, scene.grid.Rows());
    EXPECT_EQ(nullptr, scene.grid.ItemByChannel(0));
    EXPECT_THROW(scene.grid.GetLayout(), std::logic_error);  // pins without items
    EXPECT_THROW(scene.grid.ShowItemMenu(0), std::logic_error);
}

}  // namespace
