#include "widgets/QCustomButton.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>

#include "SkinFiles.h"

namespace {

const QColor kNormal(255, 0, 0), kPressed(0, 255, 0), kHover(0, 0, 255), kChecked(255, 255, 0);

QImage Render(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

void SendMouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, at, widget.mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

class ButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        files.Write("btn_normal", {10, 10}, kNormal);
        files.Write("btn_pressed", {10, 10}, kPressed);
        files.Write("btn_hover", {10, 10}, kHover);
    }
    SkinFiles files;
};

// The time into the 400 ms OutCubic fade at which t reaches `t`.
int FadeTimeFor(double t)
{
    return static_cast<int>(std::lround((1 - std::cbrt(1 - t)) * 400));
}

TEST_F(ButtonTest, AReversedFadeContinuesFromTheBlendOnScreen)
{
    QCustomButton button(files.Name("btn"));
    ASSERT_EQ(button.size(), QSize(10, 10));
    EXPECT_EQ(Render(button).pixelColor(5, 5), kNormal);

    button.Enter();
    QPropertyAnimation& fade = button.Image().Animation();
    ASSERT_EQ(fade.state(), QAbstractAnimation::Running);
    fade.pause();
    fade.setCurrentTime(FadeTimeFor(0.3));
    const double t = button.Image().Opacity();
    ASSERT_NEAR(t, 0.3, 0.01);
    const QColor halfway = Render(button).pixelColor(5, 5);
    EXPECT_NEAR(halfway.red(), 0.7 * 255, 3);
    EXPECT_NEAR(halfway.blue(), 0.3 * 255, 3);
    EXPECT_NEAR(halfway.alpha(), 255, 3) << "the two fades add up to opaque";

    button.Leave();
    ASSERT_EQ(fade.state(), QAbstractAnimation::Running);
    fade.pause();
    fade.setCurrentTime(0);
    EXPECT_NEAR(button.Image().Opacity(), 1 - t, 1e-9);
    const QColor reversed = Render(button).pixelColor(5, 5);
    EXPECT_NEAR(reversed.red(), halfway.red(), 1) << "no jump when the fade turns back";
    EXPECT_NEAR(reversed.blue(), halfway.blue(), 1);

    fade.setCurrentTime(400);
    EXPECT_EQ(Render(button).pixelColor(5, 5), kNormal);
}

TEST_F(ButtonTest, DisabledPaintsNormalAtOneThirdAndEnablingShowsFullWithoutFade)
{
    QCustomButton button(files.Name("btn"));
    button.Enter();
    button.Image().Animation().stop();
    button.setEnabled(false);
    const QColor disabled = Render(button).pixelColor(5, 5);
    EXPECT_NEAR(disabled.alphaF(), 0.3, 0.01);
    EXPECT_EQ(disabled.red(), 255) << "the normal look";
    EXPECT_EQ(disabled.blue(), 0);

    button.setEnabled(true);
    button.Leave();
    button.Image().Animation().stop();
    button.Image().SetOpacity(1.0);
    EXPECT_EQ(Render(button).pixelColor(5, 5), kNormal);
    EXPECT_NE(button.Image().Animation().state(), QAbstractAnimation::Running);
}

TEST_F(ButtonTest, DraggedReportsDeltasFromThePressPoint)
{
    QCustomButton button(files.Name("btn"));
    QSignalSpy dragged(&button, &QCustomButton::Dragged);

    SendMouse(button, QEvent::MouseButtonPress, {2, 3}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(button.VisualState(), 1);
    SendMouse(button, QEvent::MouseMove, {12, 8}, Qt::NoButton, Qt::LeftButton);
    SendMouse(button, QEvent::MouseMove, {7, 3}, Qt::NoButton, Qt::LeftButton);
    SendMouse(button, QEvent::MouseMove, {2, 3}, Qt::NoButton, Qt::LeftButton);
    ASSERT_EQ(dragged.count(), 2) << "no signal back on the press point";
    EXPECT_EQ(dragged[0][0].toPoint(), QPoint(10, 5));
    EXPECT_EQ(dragged[1][0].toPoint(), QPoint(5, 0));
    SendMouse(button, QEvent::MouseButtonRelease, {2, 3}, Qt::LeftButton, Qt::NoButton);
    SendMouse(button, QEvent::MouseMove, {9, 9}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(dragged.count(), 2) << "released: no drag";

    // (0, 0) stands for "not pressed".
    SendMouse(button, QEvent::MouseButtonPress, {0, 0}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(button, QEvent::MouseMove, {6, 6}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(dragged.count(), 2);
}

TEST_F(ButtonTest, ADoubleClickClicksOnce)
{
    QCustomButton button(files.Name("btn"));
    QSignalSpy pressed(&button, &QPushButton::pressed);
    QSignalSpy released(&button, &QPushButton::released);
    QSignalSpy clicked(&button, &QPushButton::clicked);

    // The sequence Qt delivers for a double click.
    SendMouse(button, QEvent::MouseButtonPress, {4, 4}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(button, QEvent::MouseButtonRelease, {4, 4}, Qt::LeftButton, Qt::NoButton);
    SendMouse(button, QEvent::MouseButtonDblClick, {4, 4}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(button, QEvent::MouseButtonRelease, {4, 4}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(pressed.count(), 1);
    EXPECT_EQ(released.count(), 1);
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(ButtonTest, CheckedLookComesFromTheSecondSetOnlyWhenCheckable)
{
    files.Write("chk_normal", {10, 10}, kChecked);
    QCustomButton plain(files.Name("btn"));
    EXPECT_FALSE(plain.isCheckable());
    plain.click();
    EXPECT_EQ(Render(plain).pixelColor(5, 5), kNormal);
    EXPECT_EQ(plain.Image().CurrentSet(), 0);

    QCustomButton toggle(files.Name("btn"), nullptr, files.Name("chk"));
    EXPECT_TRUE(toggle.isCheckable());
    toggle.click();
    ASSERT_TRUE(toggle.isChecked());
    toggle.Image().Animation().stop();
    toggle.Image().SetOpacity(1.0);
    EXPECT_EQ(Render(toggle).pixelColor(5, 5), kChecked);
}

TEST_F(ButtonTest, HoverSignalsAndHideResets)
{
    QCustomButton button(files.Name("btn"));
    QSignalSpy hovered(&button, &QCustomButton::Hovered);
    QSignalSpy leaved(&button, &QCustomButton::Leaved);
    button.Enter();
    EXPECT_EQ(hovered.count(), 1);
    EXPECT_EQ(button.VisualState(), 2);
    SendMouse(button, QEvent::MouseButtonPress, {3, 3}, Qt::LeftButton, Qt::LeftButton);
    button.Leave();
    EXPECT_EQ(leaved.count(), 1);
    EXPECT_FALSE(button.isDown());
    EXPECT_EQ(button.VisualState(), 0);

    button.show();
    button.Enter();
    button.hide();
    EXPECT_EQ(button.Image().CurrentState(), 0);
    EXPECT_NE(button.Image().Animation().state(), QAbstractAnimation::Running);
}

TEST(ButtonSize, FollowsTheFixedPartsAndStretchesOnlyWhereTheSkinDoes)
{
    SkinFiles files;
    files.Write("wide_normal_left", {3, 8}, kNormal);
    files.Write("wide_normal_center", {1, 8}, kNormal);
    files.Write("wide_normal_right", {4, 8}, kNormal);
    QCustomButton wide(files.Name("wide"));
    EXPECT_EQ(wide.size(), QSize(7, 8));
    EXPECT_EQ(wide.minimumSize(), QSize(7, 8));
    EXPECT_EQ(wide.maximumWidth(), QWIDGETSIZE_MAX);
    EXPECT_EQ(wide.maximumHeight(), 8);

    files.Write("fixed_normal", {12, 9}, kNormal);
    QCustomButton fixed(files.Name("fixed"));
    EXPECT_EQ(fixed.maximumSize(), QSize(12, 9));
    EXPECT_EQ(fixed.minimumSize(), QSize(12, 9));
}

}  // namespace
