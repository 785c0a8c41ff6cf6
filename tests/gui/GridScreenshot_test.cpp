// The video area as a person sees it: nine channels in a 1920 x 1080 layer,
// saved as "grid_9_channels_1920x1080.png" in the test's build folder and
// checked by regions and colours.

#include <QDir>
#include <gtest/gtest.h>

#include "GridScene.h"
#include "widgets/SkinResources.h"

namespace {

constexpr QRgb kBox = qRgba(255, 255, 255, 96);  // white at alpha 96

bool IsSelectionColour(QRgb pixel)
{
    return pixel == qRgba(98, 167, 254, 255);
}

// Pixels of the rectangle that are not fully transparent.
int Opaque(const QImage& image, const QRect& rect)
{
    int count = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            count += image.pixel(x, y) != 0 ? 1 : 0;
    return count;
}

// Dark (text) pixels of the rectangle.
int Dark(const QImage& image, const QRect& rect)
{
    int count = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            count += qAlpha(image.pixel(x, y)) > 150 && qGray(image.pixel(x, y)) < 60 ? 1 : 0;
    return count;
}

TEST(GridScreenshot, NineChannelsAt1920x1080)
{
    ASSERT_TRUE(RegisterSkinFonts(GAVEX_SKIN_ROOT));
    GridScene scene(9, QSize(1920, 1080));
    for (int channel = 0; channel < 9; ++channel) {
        render::TitlesPtr titles = scene.renderer.GetPin(channel)->GetTitles();
        titles->SetTitleText(0, L"Camera " + std::to_wstring(channel + 1));
        titles->SetTitleText(1, L"2026-12-11 06:00:0" + std::to_wstring(channel));
        scene.grid.onProcessSlot(channel);
    }
    scene.grid.SelectChannel(4);
    scene.grid.UpdatePinGeometry();
    scene.layer.InvalidateRect(QRectF());
    ASSERT_TRUE(scene.layer.RenderDirty());
    const QImage image = scene.layer.LayerImage().convertToFormat(QImage::Format_ARGB32);
    const QString path = QDir(GAVEX_TEST_BINARY_DIR).filePath("grid_9_channels_1920x1080.png");
    ASSERT_TRUE(image.save(path, "PNG")) << path.toStdString();
    ASSERT_EQ(QSize(1920, 1080), QImage(path).size());

    ASSERT_EQ(4, scene.grid.Columns());
    ASSERT_EQ(3, scene.grid.Rows());
    for (int cell = 0; cell < 12; ++cell) {
        const QRect r = scene.grid.CellRect(cell).toAlignedRect();
        QVideoItem* item = scene.grid.Cells()[cell];
        if (!item) {
            EXPECT_EQ(0, Opaque(image, r)) << "empty cell " << cell;
            continue;
        }
        const int channel = item->Channel();
        // The picture area: transparent between the frame band and the boxes.
        const QRect inside(r.left() + 20, r.top() + 20, r.width() - 40, r.height() - 75);
        EXPECT_EQ(0, Opaque(image, inside)) << "channel " << channel;

        const std::vector<render::TitleLayout> boxes = item->TitleLayouts();
        const QPointF origin = item->scenePos();
        const QRectF name = boxes[0].bounds.translated(origin), time = boxes[1].bounds.translated(origin);
        const QRectF frame = item->sceneBoundingRect();
        EXPECT_DOUBLE_EQ(frame.left() + 10, name.left());
        EXPECT_DOUBLE_EQ(frame.bottom() - 10, name.bottom());
        EXPECT_DOUBLE_EQ(frame.right() - 10, time.right());
        EXPECT_DOUBLE_EQ(frame.bottom() - 10, time.bottom());
        // Box background in the text inset, text within the boxes.
        EXPECT_EQ(kBox, image.pixel(QPointF(name.right() - 1.5, name.center().y()).toPoint())) << channel;
        EXPECT_EQ(kBox, image.pixel(QPointF(time.left() + 1.5, time.center().y()).toPoint())) << channel;
        EXPECT_GT(Dark(image, name.toRect()), 20) << channel;
        EXPECT_GT(Dark(image, time.toRect()), 40) << channel;
        // No information text: no information box.
        EXPECT_EQ(0, Opaque(image, boxes[2].bounds.translated(origin).toRect().adjusted(4, 4, -4, -4)))
            << channel;

        // The selection frame goes round channel 4 only.
        const QRectF f = item->sceneBoundingRect();
        const QPoint band[] = {QPointF(f.center().x(), f.top() + 2).toPoint(),
                               QPointF(f.center().x(), f.bottom() - 2).toPoint(),
                               QPointF(f.left() + 2, f.center().y()).toPoint(),
                               QPointF(f.right() - 2, f.center().y()).toPoint()};
        for (const QPoint& p : band) {
            if (channel == 4)
                EXPECT_TRUE(IsSelectionColour(image.pixel(p))) << p.x() << "," << p.y();
            else
                EXPECT_EQ(0u, image.pixel(p)) << channel << " at " << p.x() << "," << p.y();
        }
    }
}

}  // namespace
