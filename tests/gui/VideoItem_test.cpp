// The video item: its title boxes, the painting of titles and boxes, the
// geometry tolerance, zoom and pan, the export drag and the titles menu.

#include <thread>

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <gtest/gtest.h>

#include "GridScene.h"
#include "widgets/SkinResources.h"

namespace {

// A grid without renderer for items on their own.
class LoneGrid : public IChannelsGrid {
public:
    QRectF Geometry() override { return QRectF(0, 0, 2000, 2000); }
    void DropItem(QVideoItem*, const QRectF&) override {}
    void PlaceItem(QVideoItem*, bool) override {}
    int BringToFront(QVideoItem* item) override { return item->Channel(); }
    render::IChannelManager* GetChannelManager() override { return nullptr; }
};

class VideoItemTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterSkinFonts(GAVEX_SKIN_ROOT); }
};

double Advance(const render::TitlesPtr& titles, int index, const QString& text)
{
    return QFontMetricsF(titles->GetTitle(unsigned(index))->GetFont()).horizontalAdvance(text);
}

struct BoxCase {
    const char* name;
    QSizeF size;
    QString channelName;
    QString time;
    QRectF nameBox, timeBox, infoBox;  // empty: computed from the texts
};

TEST_F(VideoItemTest, TitleBoxes)
{
    const QString longName = "A channel name far too long for its box";
    const BoxCase cases[] = {
        {"400x300, short texts", {400, 300}, "A", "1", {10, 270, 72, 20}, {327, 257, 63, 33}, {10, 10, 320, 205}},
        {"200x150, long name", {200, 150}, longName, "1", {10, 120, 107, 20}, {127, 107, 63, 33}, {10, 10, 180, 87}},
        {"400x300, long time", {400, 300}, "A", "2026-12-11 06:15:30", {}, {}, {10, 10, 320, 205}},
    };
    LoneGrid grid;
    for (const BoxCase& c : cases) {
        auto titles = boost::make_shared<render::Titles>();
        titles->SetTitleText(0, c.channelName.toStdWString());
        titles->SetTitleText(1, c.time.toStdWString());
        QVideoItem item(&grid, 0, titles);
        EXPECT_EQ(QRectF(0, 0, -1, -1), item.boundingRect()) << c.name;
        item.SetGeometry(QRectF(QPointF(50, 60), c.size));
        const std::vector<render::TitleLayout> layouts = item.TitleLayouts();
        ASSERT_EQ(3u, layouts.size());
        QRectF timeBox = c.timeBox, nameBox = c.nameBox;
        if (timeBox.isEmpty()) {
            const double w = std::trunc(std::max(63.0, Advance(titles, 1, c.time) + 6));
            ASSERT_GT(w, 63) << "the time text must be wider than the minimum box";
            timeBox = QRectF(c.size.width() - 10 - w, c.size.height() - 43, w, 33);
            nameBox = QRectF(10, c.size.height() - 30, 72, 20);
        }
        EXPECT_EQ(nameBox, layouts[0].bounds) << c.name;
        EXPECT_EQ(timeBox, layouts[1].bounds) << c.name;
        EXPECT_EQ(c.infoBox, layouts[2].bounds) << c.name;
    }
}

TEST_F(VideoItemTest, GeometryWithinToleranceChangesNothing)
{
    LoneGrid grid;
    QVideoItem item(&grid, 0, boost::make_shared<render::Titles>());
    item.SetGeometry(QRectF(100, 100, 400, 300));
    EXPECT_TRUE(item.geometryChanged);
    item.geometryChanged = false;
    item.SetGeometry(QRectF(100 + 1e-11, 100, 400, 300 - 1e-11));
    EXPECT_FALSE(item.geometryChanged);
    EXPECT_EQ(QPointF(100, 100), item.pos());
    item.SetGeometry(QRectF(100.001, 100, 400, 300));
    EXPECT_TRUE(item.geometryChanged);
    EXPECT_EQ(QPointF(100.001, 100), item.pos());
}

// The layer image of a one-channel scene whose titles are set by `setUp`.
QImage RenderSingle(const std::function<void(render::Titles&)>& setUp)
{
    GridScene scene(1, QSize(400, 300));
    render::TitlesPtr titles = scene.renderer.GetPin(0)->GetTitles();
    setUp(*titles);
    scene.grid.UpdatePinGeometry();
    scene.Item(0)->LayoutTitles();
    scene.layer.InvalidateRect(QRectF());
    scene.layer.RenderDirty();
    return scene.layer.LayerImage().copy();
}

void SetRecorded(render::Titles& titles, int index, const std::wstring& text, bool visible)
{
    titles.SetTitleText(index, text);
    titles.GetTitle(unsigned(index))->SetVisible(visible);
}

TEST_F(VideoItemTest, RecordedTitlesInOnePlaceAreMerged)
{
    const QImage merged = RenderSingle([](render::Titles& t) {
        SetRecorded(t, 3, L"alpha", true);
        SetRecorded(t, 4, L"beta", true);
    });
    const QImage oneText = RenderSingle([](render::Titles& t) {
        SetRecorded(t, 3, L"alpha\nbeta", true);
        SetRecorded(t, 4, L"beta", false);
    });
    const QImage secondHidden = RenderSingle([](render::Titles& t) {
        SetRecorded(t, 3, L"alpha", true);
        SetRecorded(t, 4, L"beta", false);
    });
    const QImage alphaOnly = RenderSingle([](render::Titles& t) { SetRecorded(t, 3, L"alpha", true); });
    const QImage movedApart = RenderSingle([](render::Titles& t) {
        SetRecorded(t, 3, L"alpha", true);
        SetRecorded(t, 4, L"beta", true);
        t.GetTitle(4)->SetPlacement(QRectF(0.05, 0.5, 0.9, 0.4));
    });
    EXPECT_TRUE(merged == oneText);
    EXPECT_TRUE(secondHidden == alphaOnly);
    EXPECT_FALSE(merged == alphaOnly);
    EXPECT_FALSE(movedApart == merged);
    EXPECT_FALSE(movedApart == alphaOnly);
}

TEST_F(VideoItemTest, EmptyInformationTitleDrawsNoBox)
{
    GridScene scene(1, QSize(400, 300));
    QVideoItem* item = scene.Item(0);
    render::TitlesPtr titles = scene.renderer.GetPin(0)->GetTitles();
    const auto at = [&](const QPointF& local) {
        scene.layer.InvalidateRect(QRectF());
        scene.layer.RenderDirty();
        return scene.layer.LayerImage().pixel(item->mapToScene(local).toPoint());
    };
    const std::vector<render::TitleLayout> boxes = item->TitleLayouts();
    const QPointF inInfo = boxes[2].bounds.topLeft() + QPointF(150, 100);
    // Empty channel name and time: both boxes still drawn (white, alpha 96).
    EXPECT_EQ(qRgba(96, 96, 96, 96), at(boxes[0].bounds.center() + QPointF(20, 0)));
    EXPECT_EQ(qRgba(96, 96, 96, 96), at(boxes[1].bounds.topLeft() + QPointF(5, 5)));
    EXPECT_EQ(0u, at(inInfo));

    titles->SetTitleText(2, L"Frame 1");
    item->LayoutTitles();
    EXPECT_EQ(qRgba(96, 96, 96, 96), at(inInfo));
    titles->GetTitle(2)->SetVisible(false);
    EXPECT_EQ(0u, at(inInfo));
}

TEST_F(VideoItemTest, RenderOutsideTheLayerRepaintPaintsWholeItems)
{
    GridScene scene(1, QSize(400, 300));
    QVideoItem* item = scene.Item(0);
    scene.layer.RenderDirty();
    scene.layer.InvalidateRect(QRectF(50, 50, 5, 5));
    scene.layer.RenderDirty();  // the last repaint rectangle misses the boxes
    QImage capture(400, 300, QImage::Format_ARGB32_Premultiplied);
    capture.fill(Qt::red);
    {
        QPainter painter(&capture);
        scene.layer.render(&painter, QRectF(0, 0, 400, 300), QRectF(0, 0, 400, 300));
    }
    const QRectF name = item->TitleLayouts()[0].bounds.translated(item->scenePos());
    EXPECT_EQ(qRgba(96, 96, 96, 96), capture.pixel(QPointF(name.right() - 1.5, name.center().y()).toPoint()));
    EXPECT_EQ(0u, capture.pixel(item->sceneBoundingRect().center().toPoint()));
}

TEST_F(VideoItemTest, SelectionFrameDrawsOnlyInTheBorderBand)
{
    GridScene scene(2, QSize(800, 600));
    scene.grid.SelectChannel(1);
    QVideoItem* item = scene.Item(1);
    scene.layer.InvalidateRect(QRectF());
    scene.layer.RenderDirty();
    const QImage& image = scene.layer.LayerImage();
    const QRectF r = item->sceneBoundingRect();
    const QPoint onFrame = QPointF(r.center().x(), r.top() + 2).toPoint();
    const QPoint inside = QPointF(r.center().x(), r.top() + 20).toPoint();
    EXPECT_EQ(QColor(98, 167, 254).rgb(), image.pixel(onFrame));
    EXPECT_EQ(0u, image.pixel(inside));
    const QRectF other = scene.Item(0)->sceneBoundingRect();
    EXPECT_EQ(0u, image.pixel(QPointF(other.center().x(), other.top() + 2).toPoint()));
}

TEST_F(VideoItemTest, ExportDragStartsBeyondThreePixels)
{
    GridScene scene(2, QSize(800, 600));
    scene.grid.SetExportMode(true);
    QVideoItem* item = scene.Item(0);
    const QPoint press = item->sceneBoundingRect().center().toPoint();
    scene.layer.MousePress(press, Qt::LeftButton);
    scene.layer.MouseMove(press + QPoint(2, 0), Qt::LeftButton);
    scene.layer.MouseMove(press + QPoint(1, 2), Qt::LeftButton);
    EXPECT_TRUE(scene.layer.moved.empty());
    scene.layer.MouseMove(press + QPoint(2, 2), Qt::LeftButton);
    ASSERT_EQ(1u, scene.layer.moved.size());
    EXPECT_EQ(item, scene.layer.moved[0].first);
    EXPECT_EQ(item->mapFromScene(press + QPoint(2, 2)), scene.layer.moved[0].second);
    // The item itself does not move in export mode.
    EXPECT_EQ(scene.grid.CellRect(0), item->sceneBoundingRect());
    scene.layer.MouseRelease(press + QPoint(2, 2), Qt::LeftButton);

    // In play mode the same drag moves the item and reports nothing.
    scene.grid.SetExportMode(false);
    scene.layer.MousePress(press, Qt::LeftButton);
    scene.layer.MouseMove(press + QPoint(20, 20), Qt::LeftButton);
    EXPECT_EQ(1u, scene.layer.moved.size());
    scene.layer.MouseRelease(press + QPoint(20, 20), Qt::LeftButton);
}

TEST_F(VideoItemTest, WheelZoomsAndDragsPan)
{
    GridScene scene(2, QSize(800, 600));
    scene.grid.UpdatePinGeometry();
    QVideoItem* item = scene.Item(0);
    const QPoint centre = item->sceneBoundingRect().center().toPoint();

    scene.layer.Wheel(centre, -120);  // out at zoom 1: stays 1
    EXPECT_EQ(QSizeF(1, 1), item->ZoomAnimator().TargetZoom());
    scene.layer.Wheel(centre, 120);
    EXPECT_EQ(QSizeF(1.5, 1.5), item->ZoomAnimator().TargetZoom());
    QPropertyAnimation& zoom = item->ZoomAnimator().ZoomPropertyAnimation();
    zoom.setCurrentTime(zoom.duration());
    EXPECT_NEAR(1.5, item->GetZoomRect().width(), 1e-9);
    for (int i = 0; i < 12; ++i)
        scene.layer.Wheel(centre, 120);
    EXPECT_EQ(QSizeF(25, 25), item->ZoomAnimator().TargetZoom());
    zoom.setCurrentTime(zoom.duration());

    // Zoomed: a left drag pans the picture and leaves the item in its cell.
    const QRectF view = item->GetZoomRect();
    scene.layer.MousePress(centre, Qt::LeftButton);
    EXPECT_FALSE(item->dragging);
    scene.layer.MouseMove(centre + QPoint(30, 10), Qt::LeftButton);
    scene.layer.MouseRelease(centre + QPoint(30, 10), Qt::LeftButton);
    EXPECT_EQ(scene.grid.CellRect(0), item->sceneBoundingRect());
    EXPECT_NE(view.topLeft(), item->GetZoomRect().topLeft());
    EXPECT_EQ(view.size(), item->GetZoomRect().size());
}

TEST_F(VideoItemTest, MiddleButtonPansAtAnyZoom)
{
    GridScene scene(2, QSize(800, 600));
    scene.grid.UpdatePinGeometry();
    QVideoItem* item = scene.Item(1);
    const QPoint centre = item->sceneBoundingRect().center().toPoint();
    scene.layer.MousePress(centre, Qt::MiddleButton);
    scene.layer.MouseMove(centre + QPoint(40, 0), Qt::MiddleButton);
    EXPECT_EQ(scene.grid.CellRect(1), item->sceneBoundingRect());
    EXPECT_EQ(centre + QPoint(40, 0), item->mapToScene(item->ZoomAnimator().ZoomOrigin()).toPoint());
    scene.layer.MouseRelease(centre + QPoint(40, 0), Qt::MiddleButton);
}

TEST_F(VideoItemTest, MenuSwitchesRecordedTitlesAndTheirLinks)
{
    GridScene scene(1, QSize(400, 300));
    render::TitlesPtr titles = scene.renderer.GetPin(0)->GetTitles();
    QVideoItem* item = scene.Item(0);
    // Titles recorded after the item was made are announced from the
    // source's thread.
    std::thread source([&] {
        titles->SetTitleText(3, L"one");
        titles->SetTitleText(4, L"two");
        titles->SetTitleText(5, L"three");
        titles->GetTitle(4)->AddLinkedTitle(5);
    });
    source.join();
    QCoreApplication::processEvents();
    QMenu* menu = item->Menu();
    ASSERT_NE(nullptr, menu);
    QList<QAction*> actions;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            actions << action;
    ASSERT_EQ(3, actions.size());
    scene.grid.ShowItemMenu(0);
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
    EXPECT_EQ(QString("Caption: Titles 2"), actions[1]->text());
    EXPECT_TRUE(actions[1]->isChecked());

    actions[1]->trigger();  // unchecks "Titles 2" (title 4)
    EXPECT_FALSE(titles->GetTitle(4)->IsVisible());
    EXPECT_FALSE(titles->GetTitle(5)->IsVisible());
    EXPECT_TRUE(titles->GetTitle(3)->IsVisible());
    EXPECT_FALSE(actions[2]->isChecked());

    // The titles set's settings decide: the menu follows.
    titles->GetTitle(3)->SetVisible(false);
    titles->VisibilityChanged(true);
    QCoreApplication::processEvents();
    EXPECT_FALSE(actions[0]->isChecked());
}

}  // namespace
