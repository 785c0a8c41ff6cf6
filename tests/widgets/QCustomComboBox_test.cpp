#include <QAbstractItemView>
#include <QImage>

#include <gtest/gtest.h>

#include "widgets/QCustomComboBox.h"

namespace {

QImage Flat(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

TEST(QCustomComboBox, IsAFixedBoxThatElidesItsList)
{
    QCustomComboBox box(nullptr, false, false);
    EXPECT_EQ(box.objectName(), "CameraComboBox");
    EXPECT_EQ(box.size(), QSize(185, 30));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
    EXPECT_EQ(box.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(box.view()->textElideMode(), Qt::ElideRight);
    EXPECT_TRUE(box.skin.normal.IsNull());
}

// The pop-up of a box with popupAbove stands its own height and the box's
// height higher than where the standard pop-up opens, which a plain box
// moves 2 pixels down.
TEST(QCustomComboBox, PopupAboveOpensOverTheBox)
{
    QWidget window;
    window.resize(300, 400);
    auto* above = new QCustomComboBox(&window, true, false);
    auto* below = new QCustomComboBox(&window, false, false);
    above->move(10, 300);
    below->move(10, 300);
    for (QCustomComboBox* box : {above, below})
        box->addItems({"Camera 1", "Camera 2", "Camera 3"});
    window.show();

    below->showPopup();
    ASSERT_TRUE(below->PopupShown());
    const QRect belowPopup = below->view()->window()->geometry();
    below->hidePopup();
    EXPECT_FALSE(below->PopupShown());

    above->showPopup();
    const QRect abovePopup = above->view()->window()->geometry();
    above->hidePopup();

    EXPECT_EQ(abovePopup.top(), belowPopup.top() - 2 - abovePopup.height() - above->height());
    EXPECT_EQ(abovePopup.height(), belowPopup.height());
}

TEST(QCustomComboBox, ShowsThePressedSkinWhileThePopupIsOpen)
{
    QWidget window;
    auto* box = new QCustomComboBox(&window, false, false);
    box->skin.normal.SetParts({Flat({185, 30}, QColor(70, 80, 96))}, 1);
    box->skin.pressed.SetParts({Flat({185, 30}, QColor(200, 40, 40))}, 1);
    box->skin.hover.SetParts({Flat({185, 30}, QColor(40, 200, 40))}, 1);
    box->addItem("Camera 1");
    window.show();
    box->clearFocus();
    EXPECT_EQ(box->grab().toImage().pixelColor(2, 2), QColor(70, 80, 96));
    box->showPopup();
    EXPECT_EQ(box->grab().toImage().pixelColor(2, 2), QColor(200, 40, 40));
    box->hidePopup();
    box->setEnabled(false);
    EXPECT_EQ(box->grab().toImage().pixelColor(2, 2), QColor(70, 80, 96));
}

struct InsetCase {
    bool icon;
    int inset;
};

class ComboBoxText : public ::testing::TestWithParam<InsetCase> {};

// The text starts at the inset: 27 pixels with an icon, 7 without.
TEST_P(ComboBoxText, StartsAfterTheIcon)
{
    const QColor back(70, 80, 96), iconColour(120, 170, 90);
    QCustomComboBox box(nullptr, false, false);
    box.skin.normal.SetParts({Flat({185, 30}, back)}, 1);
    if (GetParam().icon)
        box.iconSkin.normal.SetParts({Flat({16, 16}, iconColour)}, 1);
    QPalette colours = box.palette();
    colours.setColor(box.foregroundRole(), Qt::white);
    box.setPalette(colours);
    box.addItem("WWWW");
    const QImage image = box.grab().toImage();

    EXPECT_EQ(image.pixelColor(2, 2), back);
    EXPECT_EQ(image.pixelColor(10, 10), GetParam().icon ? iconColour : back);
    int firstText = -1;
    for (int x = 0; x < image.width() && firstText < 0; ++x) {
        for (int y = 7; y < 23; ++y) {
            const QColor c = image.pixelColor(x, y);
            if (c != back && c != iconColour) {
                firstText = x;
                break;
            }
        }
    }
    EXPECT_GE(firstText, GetParam().inset);
    EXPECT_LE(firstText, GetParam().inset + 3);
}

INSTANTIATE_TEST_SUITE_P(Icons, ComboBoxText, ::testing::Values(InsetCase{true, 27}, InsetCase{false, 7}));

}  // namespace
