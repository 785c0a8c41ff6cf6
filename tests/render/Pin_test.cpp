// Renderer pins: the sample's buffers, the time title and the view rules.

#include <cstdlib>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "support/RecordingDevice.h"
#include "base/VideoFrame.h"
#include "platform/TimeZone.h"
#include "render/BasicRenderer.h"

namespace {

using testsupport::RecordingDevice;

class PinRenderer : public render::BasicRenderer {
public:
    using BasicRenderer::BasicRenderer;
    ~PinRenderer() override { Stop(); }

    QRectF ComputeZoomRect(int index, const QPointF& from, const QPointF& to, const QSizeF& size) override
    {
        return boost::dynamic_pointer_cast<render::MediaSamplePin>(GetPin(index))->ComputeZoomRect(from, to, size);
    }

protected:
    render::RendererPinPtr CreatePin(int index) override
    {
        return boost::make_shared<render::MediaSamplePin>(this, index);
    }
};

class PinTest : public ::testing::Test {
protected:
    boost::shared_ptr<render::MediaSamplePin> AddPin()
    {
        return boost::dynamic_pointer_cast<render::MediaSamplePin>(renderer.AddPin());
    }
    // Gives the pin's texture an image of size.
    static void Frame(render::MediaSamplePin& pin, const QSize& size)
    {
        int pitch = 0;
        ASSERT_NE(pin.GetSample().GetBuffer(size, pitch, true), nullptr);
        pin.GetSample().Commit();
    }

    boost::shared_ptr<RecordingDevice> device = boost::make_shared<RecordingDevice>();
    PinRenderer renderer{device};
};

TEST_F(PinTest, TheSampleWritesIntoThePinsTexture)
{
    auto pin = AddPin();
    EXPECT_EQ(device->Calls().back(), "CreateTexture 16x16 smooth");
    render::MediaSample& sample = pin->GetSample();
    EXPECT_TRUE(sample.SupportsPlanar());
    int pitch = 0;
    uchar* planar = sample.GetBuffer(QSize(100, 50), pitch, true);
    ASSERT_NE(planar, nullptr);
    EXPECT_EQ(pitch, 112);
    planar[112 * 50] = 7;  // first V byte
    sample.Commit();
    const auto texture = device->Textures().back();
    EXPECT_EQ(texture->GetImageSize(), QSize(100, 50));
    EXPECT_EQ(texture->BufferSize(), QSize(112, 64));
    EXPECT_EQ(texture->Bytes()[112 * 50], 7);
    EXPECT_EQ(texture->TakeDirty(), std::vector<QRect>{QRect(0, 0, 100, 50)});
    uchar* packed = sample.GetBuffer(QSize(100, 50), pitch, false);
    ASSERT_NE(packed, nullptr);
    EXPECT_EQ(pitch, 112 * 4);
    EXPECT_FALSE(texture->IsPlanar());

    // Frames offered whole are released, never kept.
    VideoFrame* frame = new VideoFrame();  // one reference, the test's
    intrusive_ptr_add_ref(frame);          // and one handed to the sample
    EXPECT_FALSE(sample.AcceptFrame(frame));
    EXPECT_TRUE(ReleaseVideoFrame(frame)) << "the sample gave its reference back";

    sample.SetTimeOffset(3600);
    sample.SetSigned(true);
    EXPECT_EQ(sample.GetTimeOffset(), 3600);
    EXPECT_TRUE(sample.IsSigned());
}

TEST_F(PinTest, OnSampleWritesTheFrameTimeTitle)
{
    auto pin = AddPin();
    pin->GetSample().SetTime(1500000000123);  // 2017-07-14 02:40:00.123 UTC
    pin->GetSample().SetTimeOffset(3600);
    pin->OnSample();
    EXPECT_TRUE(pin->HasFrame());
    EXPECT_EQ(pin->GetTitles()->GetTitle(1)->GetText(), L"03:40:00\n 07/14/17");
    EXPECT_TRUE(pin->GetTitles()->IsChanged());

    // Offset 0: the computer's zone, before 1970 as well.
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "Europe/Berlin", 1);
    platform::tz::Reload();
    pin->GetSample().SetTimeOffset(0);
    pin->UpdateTimeTitle(-86400000LL * 365);  // 1969-01-01 00:00 UTC
    EXPECT_EQ(pin->GetTitles()->GetTitle(1)->GetText(), L"01:00:00\n 01/01/69");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    platform::tz::Reload();
}

TEST_F(PinTest, ViewRectanglesFitRotateAndNeverOpenAGap)
{
    auto pin = AddPin();
    EXPECT_EQ(pin->GetDisplaySize(), QSize(-1, -1));
    pin->SetRect(QRect(0, 0, 800, 600));
    // Before the first frame the picture is the whole pin.
    EXPECT_EQ(pin->FrameDisplaySize(pin->GetTexture()), QSizeF(800, 600));
    Frame(*pin, QSize(1920, 1080));
    pin->SetViewRect(QRectF(0, 0, 1, 1));
    EXPECT_EQ(pin->GetImageRect(), QRectF(0, 75, 800, 450));
    EXPECT_EQ(pin->GetDisplaySize(), QSize(800, 450));

    pin->SetRotation(90);
    pin->SetViewRect(QRectF(0, 0, 1, 1));
    EXPECT_EQ(pin->GetImageRect(), QRectF(231.25, 0, 337.5, 600)) << "quarter turn swaps the aspect";
    pin->SetRotation(0);

    struct Case {
        QRectF asked, kept;
    };
    const Case cases[] = {
        {{-0.5, -0.5, 2, 2}, {-0.5, -0.5, 2, 2}},  // centred zoom: nothing to pull
        {{0.3, -0.5, 2, 2}, {0, -0.5, 2, 2}},      // left edge would show a gap
        {{-1.5, -0.5, 2, 2}, {-1, -0.5, 2, 2}},    // right edge would show a gap
        {{-0.5, 0.4, 2, 2}, {-0.5, -0.25, 2, 2}},  // top gap closed: image 900 high in 600
        {{0.2, 0.1, 1, 1}, {0, 0, 1, 1}},          // an unzoomed picture stays centred
    };
    for (const Case& c : cases) {
        renderer.SetViewRect(0, c.asked);
        const QRectF kept = renderer.GetViewRect(0);
        EXPECT_NEAR(kept.x(), c.kept.x(), 1e-9) << c.asked.x() << "," << c.asked.y();
        EXPECT_NEAR(kept.y(), c.kept.y(), 1e-9) << c.asked.x() << "," << c.asked.y();
        EXPECT_EQ(kept.size(), c.kept.size());
    }
    renderer.SetViewRect(0, QRectF(0.3, -0.5, 2, 2));
    EXPECT_EQ(renderer.GetImageRect(0), QRectF(0, -150, 1600, 900));

    // Zooming keeps the frame point under the cursor.
    renderer.SetViewRect(0, QRectF(0, 0, 1, 1));
    const QRectF zoom = pin->ComputeZoomRect(QPointF(200, 150), QPointF(200, 150), QSizeF(2, 2));
    EXPECT_EQ(zoom, QRectF(-0.25, -0.25, 2, 2));
}

}  // namespace
