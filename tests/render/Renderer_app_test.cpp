// The player's renderer on the software Direct3D device: the device factory,
// the watermark of signed frames, shades, missing resource images and the
// titles notice.

#include <atomic>
#include <cstring>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "config/QApplicationSettings.h"
#include "render/D3DRendererDevice.h"
#include "render/Dewarper.h"
#include "render/NullRendererDevice.h"
#include "render/Renderer.h"
#include "render/RendererPin.h"
#include "support/RecordingDevice.h"
#include "support/TempDir.h"

namespace {

using testsupport::RecordingDevice;

constexpr QRgb kBlue = 0xFF0000FF, kRed = 0xFFFF0000, kGreen = 0xFF00FF00;

TEST(RendererDeviceFactory, TheRenderSettingPicksTheDevice)
{
    EXPECT_NE(dynamic_cast<render::D3DRendererDevice*>(render::CreateRendererDevice(1).get()), nullptr);
    for (int value : {2, -1, 7})
        EXPECT_NE(dynamic_cast<render::NullRendererDevice*>(render::CreateRendererDevice(value).get()), nullptr)
            << value;
}

class AppRendererTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(QString::fromStdString(root / "Resources"));
        QApplicationSettings::Instance().Watermark = true;
    }
    void TearDown() override
    {
        renderer.reset();
        QApplicationSettings::Instance().Watermark = true;
    }

    void WriteImage(const char* name, const QSize& size, QRgb colour)
    {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(QString::fromStdString(root / (std::string("Resources/") + name))));
    }

    // A 160 x 120 pin at the origin of a 320 x 120 output, showing blue.
    boost::shared_ptr<render::MediaSamplePin> StartWithPin(bool isSigned)
    {
        renderer = std::make_unique<render::Renderer>(boost::make_shared<render::D3DRendererDevice>());
        renderer->SetResourceRoot(QString::fromStdString(root.path() + "/"));
        renderer->Start(nullptr, QRect(0, 0, 320, 120));
        auto pin = boost::dynamic_pointer_cast<render::MediaSamplePin>(renderer->AddPin());
        pin->SetRect(QRect(0, 0, 160, 120));
        int pitch = 0;
        uchar* bits = pin->GetSample().GetBuffer(QSize(160, 120), pitch, false);
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x)
                std::memcpy(bits + y * pitch + x * 4, &kBlue, 4);
        pin->GetSample().Commit();
        pin->GetSample().SetSigned(isSigned);
        pin->GetSample().SetTime(0);
        pin->OnSample();
        return pin;
    }

    // The output once the pin's frame shows at (80, 100).
    QImage Capture(QRgb expectAt80x100 = kBlue)
    {
        QImage image;
        RecordingDevice::WaitFor([&] {
            image = renderer->RenderToImage(QRect(0, 0, 320, 120));
            return !image.isNull() && image.pixel(80, 100) == expectAt80x100;
        });
        return image;
    }

    gavex_test::TempDir root{"renderer"};
    std::unique_ptr<render::Renderer> renderer;
};

TEST_F(AppRendererTest, SignedFramesShowTheWatermarkAtItsSizeTenPixelsIn)
{
    WriteImage("Watermark.png", QSize(8, 6), kRed);
    StartWithPin(true);
    const QImage image = Capture();
    image.save(GAVEX_TEST_BINARY_DIR "/renderer_watermark.png");
    // The pin's last column is x = 159: the image spans x 141..148 (its
    // right edge at that column - 11), y 10..15.
    EXPECT_EQ(image.pixel(141, 10), kRed);
    EXPECT_EQ(image.pixel(148, 15), kRed);
    EXPECT_EQ(image.pixel(140, 10), kBlue);
    EXPECT_EQ(image.pixel(149, 10), kBlue);
    EXPECT_EQ(image.pixel(141, 9), kBlue);
    EXPECT_EQ(image.pixel(141, 16), kBlue);
}

TEST_F(AppRendererTest, NoWatermarkWhenTheSettingIsOffOrTheFrameUnsigned)
{
    WriteImage("Watermark.png", QSize(8, 6), kRed);
    QApplicationSettings::Instance().Watermark = false;
    StartWithPin(true);
    EXPECT_EQ(Capture().pixel(145, 12), kBlue);
    renderer.reset();
    QApplicationSettings::Instance().Watermark = true;
    StartWithPin(false);
    EXPECT_EQ(Capture().pixel(145, 12), kBlue);
}

TEST_F(AppRendererTest, MissingResourceImagesAreSkipped)
{
    auto pin = StartWithPin(true);
    const QImage image = Capture();
    ASSERT_FALSE(image.isNull()) << "the device was restored";
    EXPECT_EQ(image.pixel(145, 12), kBlue) << "no watermark";
    EXPECT_EQ(image.pixel(240, 60), 0xFF000000u) << "no background";
}

TEST_F(AppRendererTest, TheBackgroundImageFillsTheOutputOutsideThePins)
{
    WriteImage("Back_main.png", QSize(4, 4), kGreen);
    StartWithPin(false);
    const QImage image = Capture();
    EXPECT_EQ(image.pixel(240, 60), kGreen);
    EXPECT_EQ(image.pixel(80, 60), kBlue);
}

TEST_F(AppRendererTest, ShadesDarkenThePin)
{
    struct Case {
        int shade;
        QRgb expected;
    };
    for (const Case& c : {Case{0, kBlue}, Case{255, 0xFF000000}, Case{128, qRgb(0, 0, 127)}}) {
        SCOPED_TRACE(c.shade);
        renderer.reset();
        auto pin = StartWithPin(false);
        pin->SetShade(c.shade);
        renderer->InvalidateAll();
        const QImage image = Capture(c.expected);
        EXPECT_LE(std::abs(qBlue(image.pixel(80, 60)) - qBlue(c.expected)), 1);
        EXPECT_EQ(image.pixel(240, 60), 0xFF000000u);
    }
}

// A pin showing a fisheye frame: a green disc on black, dewarped.
TEST_F(AppRendererTest, DewarpedViewsAndPanoramasSampleTheImageCircle)
{
    struct Case {
        int position, display;
    };
    for (const Case& c : {Case{0, 0}, Case{1, 0}, Case{1, 1}, Case{0, 1}}) {
        SCOPED_TRACE(testing::Message() << "position " << c.position << " display " << c.display);
        renderer.reset();
        renderer = std::make_unique<render::Renderer>(boost::make_shared<render::D3DRendererDevice>());
        renderer->SetResourceRoot(QString::fromStdString(root.path() + "/"));
        renderer->Start(nullptr, QRect(0, 0, 320, 120));
        auto pin = boost::dynamic_pointer_cast<render::MediaSamplePin>(renderer->AddPin());
        pin->SetRect(QRect(0, 0, 320, 120));
        pin->SetDewarping(1, c.position, c.display, QRectF());
        QImage frame(160, 120, QImage::Format_RGB32);
        frame.fill(Qt::black);
        {
            QPainter painter(&frame);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(kGreen));
            painter.drawEllipse(QRectF(20, 0, 120, 120));
        }
        // No frame yet: the black background only, the meshes wait.
        renderer->InvalidateAll();
        const QImage empty = renderer->RenderToImage(QRect(0, 0, 320, 120));
        ASSERT_FALSE(empty.isNull());
        EXPECT_EQ(empty.pixel(160, 60), 0xFF000000u);
        EXPECT_TRUE(pin->GetDewarper()->rebuild);

        int pitch = 0;
        uchar* bits = pin->GetSample().GetBuffer(frame.size(), pitch, false);
        for (int y = 0; y < 120; ++y)
            std::memcpy(bits + y * pitch, frame.constScanLine(y), 160 * 4);
        pin->GetSample().Commit();
        pin->GetSample().SetTime(0);
        pin->OnSample();
        QImage image;
        int lit = 0;
        RecordingDevice::WaitFor([&] {
            image = renderer->RenderToImage(QRect(0, 0, 320, 120));
            lit = 0;
            for (int y = 0; !image.isNull() && y < 120; y += 4)
                for (int x = 0; x < 320; x += 4)
                    lit += qGreen(image.pixel(x, y)) > 200 ? 1 : 0;
            return lit > 0;
        });
        image.save(QString(GAVEX_TEST_BINARY_DIR "/renderer_dewarp_%1_%2.png").arg(c.position).arg(c.display));
        EXPECT_FALSE(pin->GetDewarper()->rebuild);
        EXPECT_NEAR(pin->GetDewarper()->radiusX, 0.375, 0.01) << "the estimated circle";
        // Everything sampled lies inside the disc: green, never a colour
        // from outside the circle's bounds.
        EXPECT_GT(lit, 80 * 30 / 4);
        EXPECT_EQ(qRed(image.pixel(160, 60)), 0);
    }
}

TEST_F(AppRendererTest, SetDewarpingIgnoresANewCircleAloneAndKeepsTheDewarperWhenOff)
{
    auto pin = StartWithPin(false);
    EXPECT_EQ(pin->GetDewarper(), nullptr);
    pin->SetDewarping(1, 2, 1, QRectF(0.1, 0.1, 0.8, 0.8));
    render::Dewarper* d = pin->GetDewarper();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->position, 2);
    EXPECT_EQ(pin->GetDisplayMode(), 1);
    d->rebuild = false;
    pin->SetDewarping(1, 2, 1, QRectF(0.2, 0.2, 0.5, 0.5));
    EXPECT_EQ(d->circle, QRectF(0.1, 0.1, 0.8, 0.8));
    EXPECT_FALSE(d->rebuild);
    pin->SetDewarping(1, 1, 1, QRectF(0.2, 0.2, 0.5, 0.5));
    EXPECT_TRUE(d->rebuild);
    EXPECT_EQ(d->circle, QRectF(0.2, 0.2, 0.5, 0.5));
    pin->SetDewarping(0, 0, 0, QRectF());
    EXPECT_EQ(pin->GetDewarper(), nullptr);
    pin->SetDewarping(1, 1, 0, QRectF());
    EXPECT_EQ(pin->GetDewarper(), d) << "the same dewarper comes back";
    // A panorama of a wall mount is 8:3 inside the pin.
    pin->SetDewarping(1, 1, 1, QRectF());
    EXPECT_EQ(pin->FrameDisplaySize(render::TexturePtr()), QSizeF(160, 60));
}

class CountingProcessor : public render::ITitlesProcessor {
public:
    void TitlesChanged(int channel) override
    {
        if (channel == 1)
            ++changes;
    }
    std::atomic<int> changes{0};
};

TEST_F(AppRendererTest, ChangedTitlesAreReportedOncePerChange)
{
    CountingProcessor processor;
    StartWithPin(false);
    auto second = renderer->AddPin();
    second->GetTitles()->SetTitleText(4, L"before the processor");
    renderer->SetTitlesProcessor(&processor);
    ASSERT_TRUE(RecordingDevice::WaitFor([&] { return processor.changes == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(processor.changes, 1);
    second->GetTitles()->SetTitleText(4, L"again");
    ASSERT_TRUE(RecordingDevice::WaitFor([&] { return processor.changes == 2; }));
    renderer->SetTitlesProcessor(nullptr);
}

}  // namespace
