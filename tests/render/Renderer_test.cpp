// The render loop against a recording device: what a pass draws and
// presents, frame captures across failures, and device creation errors.

#include <future>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "support/RecordingDevice.h"
#include "render/BasicRenderer.h"
#include "render/NullRendererDevice.h"

namespace {

using testsupport::RecordingDevice;
using CreateMode = RecordingDevice::CreateMode;

class TestRenderer : public render::BasicRenderer {
public:
    using BasicRenderer::BasicRenderer;
    ~TestRenderer() override { Stop(); }

    std::atomic<int> loads{0};

    QRectF ComputeZoomRect(int index, const QPointF& from, const QPointF& to, const QSizeF& size) override
    {
        return boost::dynamic_pointer_cast<render::MediaSamplePin>(GetPin(index))->ComputeZoomRect(from, to, size);
    }

protected:
    render::RendererPinPtr CreatePin(int index) override
    {
        return boost::make_shared<render::MediaSamplePin>(this, index);
    }
    void Draw(const QRect& area) override
    {
        for (const render::RendererPinPtr& pin : m_drawList)
            DrawSampleTexture(*pin, pin->GetTexture(), 255);
        DrawLayer(area);
    }
    void LoadResources() override { ++loads; }
};

const QRect kGeometry(0, 0, 640, 480);

class RendererTest : public ::testing::Test {
protected:
    void StartAndSettle()
    {
        renderer.Start(nullptr, kGeometry);
        // The first restore redraws everything once.
        ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->Count("Present") == 1; }));
        device->ClearCalls();
    }
    void WaitPasses(int n)
    {
        // Passes run every 16 ms; n of them are over after n * 16 ms and a margin.
        std::this_thread::sleep_for(std::chrono::milliseconds(16 * n + 20));
    }

    boost::shared_ptr<RecordingDevice> device = boost::make_shared<RecordingDevice>();
    TestRenderer renderer{device};
};

TEST_F(RendererTest, StartWaitsForTheFirstRestoreAndASecondStartDoesNothing)
{
    int created = 0;
    renderer.DeviceCreated.connect([&] { ++created; });
    renderer.Start(nullptr, kGeometry);
    EXPECT_TRUE(device->IsReady());
    EXPECT_EQ(created, 1);
    EXPECT_EQ(renderer.loads, 1);  // the background has no image yet
    renderer.Start(nullptr, QRect(0, 0, 100, 100));
    EXPECT_EQ(device->Count("Create "), 1);
    const auto calls = device->Calls();
    EXPECT_EQ(calls[0], "Resize 640x480");
    EXPECT_EQ(calls[1], "Create 640x480");
    EXPECT_EQ(calls[2], "CreateTexture 1x1");
    EXPECT_EQ(calls[3], "CreateTexture 1x1");
    EXPECT_EQ(calls[4], "CreateTexture 64x64");
}

TEST_F(RendererTest, APassDrawsAndPresentsOnlyTheInvalidRegion)
{
    StartAndSettle();
    WaitPasses(4);
    EXPECT_TRUE(device->Calls().empty()) << "nothing changed, nothing drawn";

    renderer.InvalidateRect(QRect(10, 20, 50, 40));
    ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->Count("Present") >= 1; }));
    WaitPasses(2);
    const std::vector<std::string> expected{
        "BeginScene",
        "SetViewport 0,0,640x480",
        "SetBlendMode 0",
        "SetTexture texture",
        "DrawQuad 0,0,640x480 0,0,640x480 FFFFFFFF 0",  // background tiled at 1 x 1
        "SetViewport 10,20,50x40",
        "SetBlendMode 2",
        "SetTexture texture",
        "DrawQuad -10,-20,640x480 0,0,0x0 FFFFFFFF 0",  // layer in the area's viewport
        "EndScene",
        "CopyToBackBuffer 10,20,50x40",
        "Present 10,20,50x40",
    };
    EXPECT_EQ(device->Calls(), expected);
}

TEST_F(RendererTest, InvalidationsOutsideTheGeometryOrBeforeTheDeviceAreDropped)
{
    renderer.InvalidateRect(QRect(0, 0, 10, 10));  // no device yet
    StartAndSettle();
    renderer.InvalidateRect(QRect(700, 500, 10, 10));
    WaitPasses(4);
    EXPECT_EQ(device->Count("BeginScene"), 0);
    EXPECT_EQ(device->Count("Present"), 0);
}

TEST_F(RendererTest, PinsAreDrawnFittedWithBarsAndTheirFrameTexture)
{
    StartAndSettle();
    auto pin = boost::dynamic_pointer_cast<render::MediaSamplePin>(renderer.AddPin());
    ASSERT_TRUE(pin);
    pin->SetRect(QRect(0, 0, 800, 600));
    render::MediaSample& sample = pin->GetSample();
    int pitch = 0;
    ASSERT_NE(sample.GetBuffer(QSize(1920, 1080), pitch, true), nullptr);
    sample.Commit();
    sample.SetTime(0);
    device->ClearCalls();
    pin->OnSample();
    ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->Count("Present") >= 1; }));
    const auto calls = device->Calls();
    auto at = std::find(calls.begin(), calls.end(), "SetBlendMode 0");
    ASSERT_NE(at, calls.end());
    // After the background: the pin's picture fitted into its rectangle
    // (the buffer is 1088 rows high for 1080) and the black bars above and
    // below it.
    const std::vector<std::string> pinCalls(at + 3, at + 9);
    const std::vector<std::string> expected{
        "SetBlendMode 0",
        "SetTexture texture smooth",
        "DrawQuad 0,75,800x450 0,0,1x0.992647 FFFFFFFF 0",
        "SetTexture none",
        "DrawQuad 0,0,800x75 0,0,0x0 FF000000 0",
        "SetTexture none",
    };
    EXPECT_EQ(pinCalls, expected);
    EXPECT_TRUE(pin->HasFrame());
    EXPECT_TRUE(pin->IsUpdated());
}

TEST_F(RendererTest, RenderToImageReturnsASceneDrawnAfterTheRequest)
{
    EXPECT_TRUE(renderer.RenderToImage(QRect(0, 0, 10, 10)).isNull()) << "no device yet";
    StartAndSettle();
    const int before = device->Scenes();
    const QImage image = renderer.RenderToImage(QRect(5, 5, 20, 10));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(20, 10));
    EXPECT_GT(static_cast<int>(image.pixel(3, 3) & 0xFFFFFF), before);
    EXPECT_EQ(device->Count("ReadPixels 5,5,20x10"), 1);
    // The whole geometry was redrawn for it.
    EXPECT_EQ(device->Count("CopyToBackBuffer 0,0,640x480"), 1);
}

TEST_F(RendererTest, RenderToImageReturnsAcrossALostDeviceAndAReset)
{
    StartAndSettle();
    device->holdPresent = true;
    renderer.InvalidateRect(QRect(0, 0, 10, 10));
    ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->PresentWaiting(); }));
    // The request is posted while the pass presents outside the lock; that
    // present then loses the device, whose restore is only a reset.
    auto capture = std::async(std::launch::async, [&] { return renderer.RenderToImage(QRect(0, 0, 8, 8)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int before = device->Scenes();
    device->createMode = CreateMode::Reset;
    device->ReleasePresent(false);
    ASSERT_EQ(capture.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const QImage image = capture.get();
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(static_cast<int>(image.pixel(0, 0) & 0xFFFFFF), before);
    EXPECT_EQ(device->Count("Create "), 1);
}

TEST_F(RendererTest, RenderToImageGivesANullImageWhenItCannotBeServed)
{
    StartAndSettle();
    {
        SCOPED_TRACE("the read-back throws");
        device->readPixelsThrows = true;
        EXPECT_TRUE(renderer.RenderToImage(QRect(0, 0, 8, 8)).isNull());
        device->readPixelsThrows = false;
        EXPECT_TRUE(renderer.IsRunning());
    }
    {
        SCOPED_TRACE("the device stays lost");
        device->holdPresent = true;
        renderer.InvalidateRect(QRect(0, 0, 10, 10));
        ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->PresentWaiting(); }));
        auto capture = std::async(std::launch::async, [&] { return renderer.RenderToImage(QRect(0, 0, 8, 8)); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        device->createMode = CreateMode::NotReady;
        device->ReleasePresent(false);
        ASSERT_EQ(capture.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_TRUE(capture.get().isNull());
        EXPECT_TRUE(renderer.RenderToImage(QRect(0, 0, 8, 8)).isNull()) << "not ready: at once";
    }
    {
        SCOPED_TRACE("the loop stops");
        device->createMode = CreateMode::New;
        ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->IsReady(); }));
        device->holdPresent = true;
        renderer.InvalidateRect(QRect(0, 0, 10, 10));
        ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->PresentWaiting(); }));
        auto capture = std::async(std::launch::async, [&] { return renderer.RenderToImage(QRect(0, 0, 8, 8)); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto stop = std::async(std::launch::async, [&] { renderer.Stop(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        device->ReleasePresent(true);
        ASSERT_EQ(capture.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_TRUE(capture.get().isNull());
        stop.get();
    }
}

TEST_F(RendererTest, AThrowingDrawIsHandledLikeALostDevice)
{
    StartAndSettle();
    device->drawQuadThrows = 1;
    renderer.InvalidateRect(QRect(0, 0, 10, 10));
    // The failed pass presents nothing; the next pass restores the device and
    // redraws everything.
    ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->Count("Present") >= 1; }));
    EXPECT_TRUE(renderer.IsRunning());
    EXPECT_EQ(device->Count("Create "), 1);
    EXPECT_EQ(device->Count("Present 0,0,640x480"), 1);
    EXPECT_FALSE(renderer.RenderToImage(QRect(0, 0, 4, 4)).isNull());
}

TEST_F(RendererTest, AFailedPresentClearsTheRegionsAndTheNextPassRestores)
{
    int created = 0;
    renderer.DeviceCreated.connect([&] { ++created; });
    StartAndSettle();
    device->presentFails = 1;
    renderer.InvalidateRect(QRect(0, 0, 10, 10));
    ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->Count("Present") >= 2; }));
    EXPECT_EQ(device->Count("Create "), 1);
    EXPECT_EQ(created, 2);
    EXPECT_EQ(renderer.loads, 2) << "the background still has no image: loaded again";
}

TEST_F(RendererTest, AGeometryTheDeviceCannotKeepRecreatesItAtTheNewSize)
{
    StartAndSettle();
    renderer.SetGeometry(QRect(0, 0, 1280, 720));
    renderer.InvalidateRect(QRect(0, 0, 10, 10));  // dropped: not ready
    ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->Count("Create 1280x720") == 1; }));
    ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->Count("Present 0,0,1280x720") == 1; }));
    EXPECT_EQ(device->Count("Present 0,0,10x10"), 0);
}

TEST(RendererCreation, ACreationThatThrowsReportsDeviceErrorOnceAndStartReturns)
{
    auto device = boost::make_shared<RecordingDevice>();
    device->createMode = CreateMode::Throw;
    TestRenderer renderer(device);
    int errors = 0;
    renderer.DeviceError.connect([&] { ++errors; });
    renderer.Start(nullptr, kGeometry);
    EXPECT_EQ(errors, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_FALSE(renderer.IsRunning());
    EXPECT_EQ(device->Count("Create "), 1);
    EXPECT_TRUE(renderer.RenderToImage(kGeometry).isNull());
}

TEST(RendererCreation, TheNullDeviceDrawsNothingAndCapturesBlack)
{
    TestRenderer renderer(boost::make_shared<render::NullRendererDevice>());
    renderer.Start(nullptr, kGeometry);
    EXPECT_EQ(renderer.loads, 1);
    auto pin = renderer.AddPin();
    EXPECT_EQ(pin->GetTexture()->GetImageSize(), QSize(-1, -1));
    const QImage image = renderer.RenderToImage(QRect(0, 0, 16, 16));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixel(7, 7), 0xFF000000u);
    EXPECT_EQ(renderer.GetDeviceDescription(), "");
}

TEST(RendererChannels, ShadeIsClampedAndViewsAreKeptPerPin)
{
    TestRenderer renderer(boost::make_shared<render::NullRendererDevice>());
    renderer.AddPin();
    renderer.AddPin();
    EXPECT_EQ(renderer.GetCount(), 2);
    renderer.SetShade(0, 300);
    renderer.SetShade(1, -4);
    EXPECT_EQ(renderer.GetShade(0), 255);
    EXPECT_EQ(renderer.GetShade(1), 0);
    EXPECT_EQ(renderer.GetPin(1)->GetIndex(), 1);
    EXPECT_EQ(renderer.GetPin(1)->GetTitles()->GetChannel(), 1);
    renderer.RemoveAllPins();
    EXPECT_EQ(renderer.GetCount(), 0);
}

}  // namespace
