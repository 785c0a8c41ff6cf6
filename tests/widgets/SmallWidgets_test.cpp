#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QSlider>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "widgets/QAudioSlider.h"
#include "widgets/QCustomButton.h"
#include "widgets/QCustomInputs.h"
#include "widgets/QCustomPrint.h"
#include "widgets/QCustomProgressBar.h"
#include "widgets/ZoomAnimation.h"

namespace {

TEST(QAudioSlider, NoSoundSlidesDownInStepsEndingAtZero)
{
    QAudioSlider audio;
    std::vector<int> volumes;
    audio.VolumeChanged.connect([&](int v) { volumes.push_back(v); });
    QPropertyAnimation& slide = audio.Animation();

    audio.SetVolume(60);
    slide.pause();
    slide.setCurrentTime(100);
    ASSERT_EQ(audio.Slider()->value(), 60);
    volumes.clear();

    audio.NoSoundButton()->Press();
    ASSERT_EQ(slide.state(), QAbstractAnimation::Running);
    slide.pause();
    for (int ms = 0; ms <= 100; ms += 10)
        slide.setCurrentTime(ms);
    ASSERT_GE(volumes.size(), 5u);
    for (size_t i = 1; i < volumes.size(); ++i)
        EXPECT_LT(volumes[i], volumes[i - 1]) << "step " << i;
    EXPECT_EQ(volumes.back(), 0);

    // Already at the end: the value does not change, nothing is emitted.
    volumes.clear();
    audio.NoSoundButton()->Press();
    slide.pause();
    slide.setCurrentTime(100);
    EXPECT_TRUE(volumes.empty());
}

class FakeZoomTarget : public IZoomTarget {
public:
    QRectF ComputeZoomRect(const QPointF& previousOrigin, const QPointF& newOrigin, const QSizeF& size) override
    {
        return QRectF(rect.topLeft() + (newOrigin - previousOrigin), size);
    }
    void SetZoomRect(const QRectF& r) override { rect = r; }
    QRectF GetZoomRect() const override { return rect; }
    QRectF rect{0, 0, 1, 1};
};

TEST(ZoomAnimation, WheelStepsMultiplyTheAimWithinTheLimits)
{
    FakeZoomTarget target;
    ZoomAnimation zoom(&target, 1.0, 25.0);
    for (int step = 0; step < 3; ++step)
        zoom.ZoomAt({10, 20}, 1.5);
    EXPECT_DOUBLE_EQ(zoom.TargetZoom().width(), 3.375);
    EXPECT_DOUBLE_EQ(zoom.TargetZoom().height(), 3.375);
    EXPECT_EQ(zoom.ZoomOrigin(), QPointF(10, 20));
    QPropertyAnimation& animation = zoom.ZoomPropertyAnimation();
    ASSERT_EQ(animation.state(), QAbstractAnimation::Running);
    animation.pause();
    animation.setCurrentTime(animation.duration());
    EXPECT_DOUBLE_EQ(target.rect.width(), 3.375);

    for (int step = 0; step < 10; ++step)
        zoom.ZoomAt({0, 0}, 1.5);
    EXPECT_EQ(zoom.TargetZoom(), QSizeF(25, 25));
    EXPECT_EQ(animation.state(), QAbstractAnimation::Running) << "still animates towards the limit";
    for (int step = 0; step < 12; ++step)
        zoom.ZoomAt({0, 0}, 2.0 / 3.0);
    EXPECT_EQ(zoom.TargetZoom(), QSizeF(1, 1));
}

TEST(ZoomAnimation, PanFlicksAQuarterSecondAtTheDragSpeed)
{
    FakeZoomTarget target;
    ZoomAnimation zoom(&target, 1.0, 25.0);
    std::int64_t now = 0;
    zoom.tracker = KineticTracker([&now] { return now; });

    zoom.tracker.Start({50, 50});
    zoom.Pan({50, 50});
    EXPECT_NE(zoom.OriginAnimation().state(), QAbstractAnimation::Running) << "no movement, no flick";

    zoom.tracker.Start({50, 50});
    now += 100;
    zoom.tracker.AddSample({60, 50});
    now += 100;
    zoom.Pan({70, 30});  // 100 px/s right, 100 px/s up
    QPropertyAnimation& flick = zoom.OriginAnimation();
    ASSERT_EQ(flick.state(), QAbstractAnimation::Running);
    EXPECT_EQ(flick.endValue().toPointF(), QPointF(25, -25));

    flick.pause();
    flick.setCurrentTime(125);
    const QPointF moving = zoom.ZoomOrigin();
    EXPECT_EQ(moving, QPointF(12.5, -12.5));
    EXPECT_EQ(target.rect.topLeft(), QPointF(12.5, -12.5)) << "the view follows the origin";
    flick.resume();
    zoom.ZoomAt({300, 300}, 1.5);
    EXPECT_EQ(zoom.ZoomOrigin(), moving) << "a zoom during a flick keeps its origin";
}

TEST(QCustomProgressBar, FillFollowsValueAndWidth)
{
    QCustomProgressBar bar;
    bar.show();
    bar.resize(201, 12);
    bar.setValue(50);
    EXPECT_EQ(bar.Fill().geometry(), QRect(0, 0, 100, 12));
    bar.resize(300, 12);
    EXPECT_EQ(bar.Fill().geometry(), QRect(0, 0, 150, 12));
    bar.setValue(120);
    EXPECT_EQ(bar.Fill().width(), 360) << "not limited";
    bar.reset();
    EXPECT_EQ(bar.Value(), 0);
    EXPECT_EQ(bar.Fill().geometry(), QRect(0, 0, 0, 12));
}

TEST(QCustomInputs, TakeTheFocusOnEveryPressWhateverTheirPolicy)
{
    QWidget window;
    QLineEdit other(&window);
    QCustomLineEdit edit(&window);
    QCustomListWidget list(&window);
    edit.setFocusPolicy(Qt::NoFocus);
    list.setFocusPolicy(Qt::NoFocus);
    window.show();
    QApplication::setActiveWindow(&window);
    other.setFocus();
    ASSERT_TRUE(other.hasFocus());

    for (QWidget* widget : std::vector<QWidget*>{&edit, &list}) {
        other.setFocus();
        QMouseEvent press(QEvent::MouseButtonPress, {2, 2}, widget->mapToGlobal(QPoint(2, 2)), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        // A list receives the press through its viewport.
        QWidget* receiver = widget == &list ? list.viewport() : widget;
        QApplication::sendEvent(receiver, &press);
        EXPECT_TRUE(widget->hasFocus()) << widget->metaObject()->className();
    }
}

// The page as pdftoppm renders it.
QImage RenderPdf(const QString& pdf, const QString& dir)
{
    QProcess process;
    process.start("pdftoppm", {"-r", "20", "-png", "-singlefile", pdf, dir + "/page"});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QImage();
    return QImage(dir + "/page.png");
}

TEST(QCustomPrint, PortraitImageOnALandscapePageIsPageHighAtTheLeft)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("print.pdf"));
    printer.setPageOrientation(QPageLayout::Landscape);

    QImage portrait(100, 200, QImage::Format_RGB32);
    portrait.fill(QColor(255, 0, 0));
    QCustomPrint print(nullptr, portrait);
    print.printPreview(&printer);

    const QImage page = RenderPdf(dir.filePath("print.pdf"), dir.path());
    ASSERT_FALSE(page.isNull()) << "pdftoppm (poppler-utils) renders the page";
    ASSERT_GT(page.width(), page.height()) << "landscape";
    QRect red;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
                red |= QRect(x, y, 1, 1);
        }
    ASSERT_FALSE(red.isEmpty());
    const QRectF paper = printer.paperRect(QPrinter::Point);
    const QRectF printable = printer.pageRect(QPrinter::Point);
    const double scale = page.width() / paper.width();
    EXPECT_NEAR(red.left(), printable.left() * scale, 2) << "at the left edge of the printable area";
    EXPECT_NEAR(red.top(), printable.top() * scale, 2);
    EXPECT_NEAR(red.height(), printable.height() * scale, 3) << "page-high";
    EXPECT_NEAR(red.width(), red.height() / 2.0, 3) << "aspect kept";
    EXPECT_EQ(page.pixelColor(page.width() - 1 - static_cast<int>(printable.left() * scale) - 2, page.height() / 2),
              QColor(255, 255, 255))
        << "the right part of the page stays white";
}

}  // namespace
