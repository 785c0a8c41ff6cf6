// The panel switcher's pages and slide, and the export drag image: its
// look, the drop outside the export panel and the flight onto it.

#include <QCoreApplication>
#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsWidget>

#include <memory>

#include <gtest/gtest.h>

#include "widgets/QImageItem.h"
#include "widgets/QPanelSwitcher.h"

namespace {

QGraphicsWidget* Panel(QGraphicsScene& scene)
{
    auto* widget = new QGraphicsWidget;
    widget->setPreferredSize(100, 40);
    scene.addItem(widget);
    return widget;
}

class PanelSwitcherTest : public ::testing::Test {
protected:
    PanelSwitcherTest()
    {
        play = Panel(scene);
        exportPage = Panel(scene);
        switcher.AddItem(play, 0, 0);
        switcher.AddItem(exportPage, 1, 0);
        switcher.setGeometry(QRectF(0, 500, 800, 90));
    }

    double PlayX() const { return play->geometry().x(); }
    double ExportX() const { return exportPage->geometry().x(); }

    QGraphicsScene scene;
    QPanelSwitcher switcher;
    QGraphicsWidget* play;
    QGraphicsWidget* exportPage;
};

TEST_F(PanelSwitcherTest, AddingCreatesPagesAndHidesItemsOfOtherPages)
{
    EXPECT_EQ(switcher.PageCount(), 2);
    EXPECT_TRUE(play->isVisible());
    EXPECT_FALSE(exportPage->isVisible());
    EXPECT_EQ(play->geometry(), QRectF(0, 500, 800, 90));

    QGraphicsWidget* far = Panel(scene);
    switcher.AddItem(far, 3, 1);
    EXPECT_EQ(switcher.PageCount(), 4);
    EXPECT_EQ(switcher.Page(2)->count(), 0);
    EXPECT_FALSE(far->isVisible());
    EXPECT_EQ(switcher.Page(3)->itemAt(0, 1), far);
}

TEST_F(PanelSwitcherTest, SlidesTheNewPageInFromTheRightAndHidesTheOldOneAtTheEnd)
{
    switcher.SwitchTo(1);
    QPropertyAnimation& slide = switcher.Animation();
    EXPECT_EQ(slide.duration(), 1000);
    EXPECT_EQ(slide.easingCurve().type(), QEasingCurve::InOutQuad);
    EXPECT_TRUE(exportPage->isVisible());
    EXPECT_EQ(switcher.CurrentPage(), 1);
    EXPECT_DOUBLE_EQ(switcher.PanelPosition(), 0.0);
    EXPECT_DOUBLE_EQ(PlayX(), 0);
    EXPECT_DOUBLE_EQ(ExportX(), 800);

    slide.setCurrentTime(500);  // half-way on the easing curve
    EXPECT_DOUBLE_EQ(PlayX(), -400);
    EXPECT_DOUBLE_EQ(ExportX(), 400);
    EXPECT_TRUE(play->isVisible());

    slide.setCurrentTime(1000);
    EXPECT_DOUBLE_EQ(switcher.PanelPosition(), 1.0);
    EXPECT_DOUBLE_EQ(ExportX(), 0);
    EXPECT_FALSE(play->isVisible());
    EXPECT_TRUE(exportPage->isVisible());
    EXPECT_EQ(slide.state(), QAbstractAnimation::Stopped);
}

TEST_F(PanelSwitcherTest, ASwitchDuringASlideCarriesOnFromWherePagesAre)
{
    switcher.SwitchTo(1);
    QPropertyAnimation& slide = switcher.Animation();
    slide.setCurrentTime(250);
    // The page already current changes nothing, even now.
    switcher.SwitchTo(1);
    EXPECT_EQ(slide.currentTime(), 250);

    const double played = PlayX();
    const double exported = ExportX();
    switcher.SwitchTo(0);
    EXPECT_EQ(slide.easingCurve().type(), QEasingCurve::OutQuad);
    EXPECT_DOUBLE_EQ(PlayX(), played);
    EXPECT_DOUBLE_EQ(ExportX(), exported);

    // Both pages keep moving left: the play page wraps round and comes in
    // from the right.
    slide.setCurrentTime(100);
    EXPECT_LT(ExportX(), exported);
    slide.setCurrentTime(1000);
    EXPECT_DOUBLE_EQ(PlayX(), 0);
    EXPECT_TRUE(play->isVisible());
    EXPECT_FALSE(exportPage->isVisible());
}

class DropTarget : public IExportDropTarget {
public:
    QRectF area;
    std::vector<int> dropped;
    int repaints = 0;

    QRectF ExportDropArea() override { return area; }
    void RenderDirty() override { ++repaints; }
    void ExportSourceDropped(int channel) override { dropped.push_back(channel); }
};

void SendMouse(QGraphicsScene& scene, QEvent::Type type, QPointF at)
{
    QGraphicsSceneMouseEvent event(type);
    event.setScenePos(at);
    event.setButton(type == QEvent::GraphicsSceneMouseMove ? Qt::NoButton : Qt::LeftButton);
    event.setButtons(type == QEvent::GraphicsSceneMouseRelease ? Qt::NoButton : Qt::LeftButton);
    QCoreApplication::sendEvent(&scene, &event);
}

TEST(QImageItem, NoDragImageFromAnEmptyCapture)
{
    DropTarget target;
    EXPECT_EQ(QImageItem::Create(QImage(), 0, &target), nullptr);
    EXPECT_EQ(QImageItem::Create(QImage(0, 10, QImage::Format_RGB32), 0, &target), nullptr);
}

TEST(QImageItem, IsAHalfTransparentCopyOfThePicture)
{
    QImage picture(3, 2, QImage::Format_RGB32);
    picture.fill(QColor(10, 20, 30));
    std::unique_ptr<QImageItem> item(QImageItem::Create(picture, 2, nullptr));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->boundingRect(), QRectF(0, 0, 3, 2));
    EXPECT_EQ(item->Channel(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(item->Image().pixel(x, y), qRgba(10, 20, 30, 128));
}

class ImageDragTest : public ::testing::Test {
protected:
    ImageDragTest() : scene(0, 0, 800, 600)
    {
        QImage picture(300, 200, QImage::Format_RGB32);
        picture.fill(Qt::green);
        item = QImageItem::Create(picture, 5, &target);
        item->setPos(100, 50);
        scene.addItem(item);
        target.area = QRectF(0, 450, 800, 150);
        QObject::connect(item, &QObject::destroyed, [this] { destroyed = true; });
    }

    // Presses on the picture at (250, 150), moves to `to` and releases.
    void Drag(QPointF to)
    {
        SendMouse(scene, QEvent::GraphicsSceneMousePress, QPointF(250, 150));
        EXPECT_DOUBLE_EQ(item->scale(), 0.5);  // 150 px wide
        SendMouse(scene, QEvent::GraphicsSceneMouseMove, to);
        SendMouse(scene, QEvent::GraphicsSceneMouseRelease, to);
    }

    QGraphicsScene scene;
    DropTarget target;
    QImageItem* item;
    bool destroyed = false;
};

TEST_F(ImageDragTest, DroppedOutsideTheExportPanelItVanishesUnreported)
{
    Drag(QPointF(400, 200));
    EXPECT_EQ(item->scene(), nullptr);
    EXPECT_EQ(item->Animation().state(), QAbstractAnimation::Stopped);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(target.dropped.empty());
}

TEST_F(ImageDragTest, DroppedOnTheExportPanelItFliesShrinksAndReportsOnce)
{
    Drag(QPointF(400, 500));
    ASSERT_EQ(item->scene(), &scene);
    QPropertyAnimation& flight = item->Animation();
    ASSERT_EQ(flight.state(), QAbstractAnimation::Running);
    EXPECT_EQ(flight.duration(), 500);
    EXPECT_TRUE(target.dropped.empty());

    flight.setCurrentTime(0);
    // At the start it stands at full size where the channel's picture was.
    EXPECT_DOUBLE_EQ(item->scale(), 1.0);
    EXPECT_EQ(item->sceneBoundingRect(), QRectF(100, 50, 300, 200));

    flight.setCurrentTime(499);
    EXPECT_TRUE(target.dropped.empty());
    const QPointF p = item->pos() + item->boundingRect().center();
    flight.setCurrentTime(500);
    EXPECT_EQ(target.dropped, std::vector<int>({5}));
    EXPECT_EQ(target.repaints, 1);
    EXPECT_EQ(item->scene(), nullptr);
    EXPECT_LT(std::abs(p.x() - 400), 5.0);
    EXPECT_LT(std::abs(p.y() - 500), 5.0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(target.dropped.size(), 1u);
}

}  // namespace
