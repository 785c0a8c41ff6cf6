// The OpenGL device on Mesa's software rasteriser under a private X server:
// its features and entry points, texture layout and read-back, the same
// scenes as the software Direct3D device, its fallback paths, the window's
// pixels, and a context that cannot be made.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include <GL/gl.h>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QOpenGLContext>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "config/QApplicationSettings.h"
#include "platform/D3D9.h"
#include "render/D3DRendererDevice.h"
#include "render/Dewarper.h"
#include "render/OGLRendererDevice.h"
#include "render/Renderer.h"
#include "render/RendererPin.h"
#include "support/RecordingDevice.h"
#include "support/TempDir.h"
#include "support/Xvfb.h"

namespace {

using render::OGLRendererDevice;
using testsupport::RecordingDevice;

int Distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// One X server and one widget application on it for the whole process.
// Empty when this process already runs another kind of application.
std::string StartDisplay()
{
    static std::unique_ptr<testsupport::Xvfb> server;
    if (QCoreApplication::instance() != nullptr)
        return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr &&
                       QGuiApplication::platformName() == "xcb"
                   ? std::string(std::getenv("DISPLAY"))
                   : std::string();
    server = std::make_unique<testsupport::Xvfb>();
    if (server->Display().empty())
        return std::string();
    setenv("DISPLAY", server->Display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "test_render";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    return server->Display();
}

#define REQUIRE_DISPLAY()                                                                    \
    if (StartDisplay().empty())                                                              \
    GTEST_SKIP() << "this process runs a non-X application (run the case on its own)"

// A window prepared for OpenGL and a device current on this thread.
class GLDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        window = std::make_unique<QWidget>();
        window->resize(128, 64);
        ASSERT_TRUE(OGLRendererDevice::PrepareGLWindow(window.get()));
    }

    std::unique_ptr<OGLRendererDevice> MakeDevice(const OGLRendererDevice::Options& options = {})
    {
        auto device = std::make_unique<OGLRendererDevice>(options);
        bool created = false;
        device->Create(window.get(), QSize(128, 64), created);
        EXPECT_TRUE(created);
        EXPECT_TRUE(device->IsReady());
        return device;
    }

    std::unique_ptr<QWidget> window;
};

TEST_F(GLDeviceTest, CreateDescribesTheDriverAndLoadsOnlyNamedEntryPoints)
{
    auto device = MakeDevice();
    const std::string description = device->GetDescription();
    EXPECT_EQ(description.rfind("OpenGL renderer.\r\nVendor:", 0), 0u) << description;
    EXPECT_NE(description.find("\r\nRenderer:"), std::string::npos);
    EXPECT_NE(description.find("\r\nVersion:"), std::string::npos);
    // Mesa copies parts of the back buffer: no frame-buffer texture is
    // drawn over the window.
    EXPECT_EQ(device->GetPresentPath(), OGLRendererDevice::PresentPath::SubBufferCopy);
    EXPECT_FALSE(device->HasFrameBufferTexture());
    EXPECT_TRUE(device->SupportsPlanarProgram());
    EXPECT_FALSE(device->UsesPowerOfTwo());
    EXPECT_TRUE(OGLRendererDevice::HasEntryPoint("glGenProgramsARB"));
    EXPECT_TRUE(OGLRendererDevice::HasEntryPoint("glBindFramebufferEXT"));
    // GLX answers any name with a stub; Mesa does not name this extension.
    ASSERT_NE(QOpenGLContext::currentContext()->getProcAddress("glAddSwapHintRectWIN"), nullptr);
    EXPECT_FALSE(OGLRendererDevice::HasEntryPoint("glAddSwapHintRectWIN"));

    // A second Create makes a new context and program.
    QOpenGLContext* first = QOpenGLContext::currentContext();
    bool created = false;
    device->Create(window.get(), QSize(128, 64), created);
    EXPECT_TRUE(created);
    EXPECT_TRUE(device->IsReady());
    EXPECT_TRUE(device->SupportsPlanarProgram());
    EXPECT_NE(QOpenGLContext::currentContext(), first);
}

TEST_F(GLDeviceTest, SwitchesTurnFeaturesOff)
{
    OGLRendererDevice::Options options;
    options.noFrameBuffer = true;
    options.noProgram = true;
    auto device = MakeDevice(options);
    EXPECT_FALSE(device->HasFrameBufferTexture());
    EXPECT_FALSE(device->SupportsPlanarProgram());
    EXPECT_FALSE(OGLRendererDevice::HasEntryPoint("glBindFramebufferEXT"));
    const render::TexturePtr texture = device->CreateTexture(QSize(16, 16), false);
    EXPECT_FALSE(texture->SupportsPlanar());
    int pitch = 0;
    EXPECT_EQ(texture->GetBuffer(QSize(16, 16), pitch, true), nullptr);
}

TEST_F(GLDeviceTest, PowerOfTwoTexturesRoundUpAndTheSourceRectSelectsTheImage)
{
    OGLRendererDevice::Options options;
    options.powerOfTwo = true;
    auto device = MakeDevice(options);
    auto texture = device->CreateTexture(QSize(16, 16), false);
    int pitch = 0;
    ASSERT_NE(texture->GetBuffer(QSize(720, 576), pitch, false), nullptr);
    EXPECT_EQ(pitch, 720 * 4);
    EXPECT_EQ(static_cast<render::OGLTexture&>(*texture).GetTextureSize(), QSize(1024, 1024));
    EXPECT_EQ(texture->GetSourceRect(), QRectF(0, 0, 0.703125, 0.5625));
    // A planar buffer of the same image: luma pitch of the buffer width.
    ASSERT_NE(texture->GetBuffer(QSize(720, 576), pitch, true), nullptr);
    EXPECT_EQ(pitch, 720);
}

// Y ramps across, V and U by half: a picture whose colours differ everywhere.
void FillYV12(uchar* bits, int pitch, const QSize& size)
{
    const int cw = (size.width() + 1) / 2, ch = (size.height() + 1) / 2;
    uchar* v = bits + pitch * size.height();
    uchar* u = bits + pitch * size.height() * 5 / 4;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            bits[y * pitch + x] = static_cast<uchar>(40 + (x * 170) / std::max(1, size.width() - 1));
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw && x < pitch / 2; ++x) {
            v[y * (pitch / 2) + x] = y < ch / 2 ? 190 : 90;
            u[y * (pitch / 2) + x] = x < cw / 2 ? 80 : 170;
        }
}

TEST_F(GLDeviceTest, TextureReadPixelsReadsItsOwnBufferWithoutOpenGL)
{
    auto device = MakeDevice();
    struct Case {
        QSize size;
        bool planar;
    };
    for (const Case& c : {Case{QSize(15, 10), true}, Case{QSize(16, 8), true}, Case{QSize(7, 5), false}}) {
        SCOPED_TRACE(testing::Message() << c.size.width() << "x" << c.size.height() << " planar " << c.planar);
        auto texture = device->CreateTexture(QSize(1, 1), false);
        int pitch = 0;
        uchar* bits = texture->GetBuffer(c.size, pitch, c.planar);
        ASSERT_NE(bits, nullptr);
        QImage expected(c.size, QImage::Format_RGB32);
        if (c.planar) {
            FillYV12(bits, pitch, c.size);
            platform::d3d9::ConvertYV12(bits, bits + pitch * c.size.height(),
                                        bits + pitch * c.size.height() * 5 / 4, pitch, QRect(QPoint(0, 0), c.size),
                                        expected.bits(), expected.bytesPerLine());
        } else {
            for (int y = 0; y < c.size.height(); ++y)
                for (int x = 0; x < c.size.width(); ++x) {
                    const QRgb p = qRgb(x * 30, y * 40, 99);
                    std::memcpy(bits + y * pitch + x * 4, &p, 4);
                    expected.setPixel(x, y, p);
                }
        }
        texture->Commit();
        // No context current: any OpenGL call would go nowhere or crash.
        QOpenGLContext::currentContext()->doneCurrent();
        QImage read(c.size.width() + 2, c.size.height(), QImage::Format_RGB32);
        read.fill(0xFF123456);
        texture->ReadPixels(QRect(QPoint(0, 0), c.size + QSize(2, 0)), read.bits(), read.bytesPerLine());
        EXPECT_EQ(read.copy(QRect(QPoint(0, 0), c.size)), expected);
        EXPECT_EQ(read.pixel(c.size.width(), 0), 0xFF000000u) << "outside the image: black";
        bool created = false;
        device->Create(window.get(), QSize(128, 64), created);
    }
    // The corner's colour comes from the last chroma column and row.
    auto texture = device->CreateTexture(QSize(1, 1), false);
    int pitch = 0;
    uchar* bits = texture->GetBuffer(QSize(15, 10), pitch, true);
    EXPECT_EQ(pitch, 16) << "an even pitch holds the last chroma column";
    FillYV12(bits, pitch, QSize(15, 10));
    QImage corner(1, 1, QImage::Format_RGB32);
    texture->ReadPixels(QRect(14, 9, 1, 1), corner.bits(), corner.bytesPerLine());
    // Studio-range BT.601 with U 170 and V 90.
    const double Y = (bits[9 * pitch + 14] - 16) * 255.0 / 219, U = (170 - 128) * 255.0 / 224,
                 V = (90 - 128) * 255.0 / 224;
    auto c = [](double x) { return static_cast<int>(std::lround(std::clamp(x, 0.0, 255.0))); };
    EXPECT_LE(Distance(corner.pixel(0, 0),
                       qRgb(c(Y + 1.402 * V), c(Y - 0.344136 * U - 0.714136 * V), c(Y + 1.772 * U))),
              1);
}

// A planar picture through a device into a 128 x 64 scene at target,
// read back whole.
QImage DrawPlanarPicture(render::IRendererDevice& device, const render::TexturePtr& texture, const QRectF& target,
                         bool smooth)
{
    device.BeginScene();
    device.SetViewport(QRect(0, 0, 128, 64));
    device.SetBlendMode(0);
    device.SetTexture(render::TexturePtr(), false);
    device.DrawQuad(QRectF(0, 0, 128, 64), QRectF(), 0xFF00FF00u, 0);
    device.SetTexture(texture, smooth);
    device.DrawQuad(target, texture->GetSourceRect(), 0xFFFFFFFFu, 0);
    device.SetTexture(render::TexturePtr(), false);
    device.EndScene();
    device.CopyToBackBuffer(QRect(0, 0, 128, 64));
    QImage image(128, 64, QImage::Format_RGB32);
    device.ReadPixels(QRect(0, 0, 128, 64), image.bits(), image.bytesPerLine());
    return image;
}

// A fill's colour is ARGB on both devices (a textured quad takes its
// colour from the picture, tinted on neither device by the callers' white).
TEST_F(GLDeviceTest, FillColoursAreArgbOnBothDevices)
{
    auto gl = MakeDevice();
    render::D3DRendererDevice software;
    bool created = false;
    software.Create(nullptr, QSize(128, 64), created);
    const std::uint32_t colours[] = {0xFF3050A0u, 0xFFA05030u, 0xFF10E060u};
    for (render::IRendererDevice* device : {static_cast<render::IRendererDevice*>(gl.get()),
                                            static_cast<render::IRendererDevice*>(&software)})
        for (const std::uint32_t colour : colours) {
            SCOPED_TRACE(testing::Message() << (device == gl.get() ? "OpenGL" : "Direct3D") << std::hex << " colour "
                                            << colour);
            device->BeginScene();
            device->SetViewport(QRect(0, 0, 128, 64));
            device->SetBlendMode(0);
            device->SetTexture(render::TexturePtr(), false);
            device->DrawQuad(QRectF(0, 0, 128, 64), QRectF(), 0xFF000000u, 0);
            device->DrawQuad(QRectF(16, 8, 64, 40), QRectF(), colour, 0);
            device->EndScene();
            device->CopyToBackBuffer(QRect(0, 0, 128, 64));
            QImage image(128, 64, QImage::Format_RGB32);
            device->ReadPixels(QRect(0, 0, 128, 64), image.bits(), image.bytesPerLine());
            EXPECT_LE(Distance(image.pixel(40, 30), colour), 1) << std::hex << image.pixel(40, 30);
            EXPECT_LE(Distance(image.pixel(100, 30), 0xFF000000u), 1) << std::hex << image.pixel(100, 30);
        }
}

// Studio-range black (16) and white (235) come out as 0 and 255 on both
// devices, unscaled and scaled, smoothed or not; a full-range picture keeps
// its levels.
TEST_F(GLDeviceTest, StudioBlackAndWhiteBecomeZeroAndFullOnBothDevices)
{
    auto gl = MakeDevice();
    render::D3DRendererDevice software;
    bool created = false;
    software.Create(nullptr, QSize(128, 64), created);
    struct Case {
        platform::YuvMatrix matrix;
        int y;
        QRgb expected;
    };
    const Case cases[] = {{platform::YuvMatrix::Bt601Video, 16, 0xFF000000u},
                          {platform::YuvMatrix::Bt601Video, 235, 0xFFFFFFFFu},
                          {platform::YuvMatrix::Bt709Video, 16, 0xFF000000u},
                          {platform::YuvMatrix::Bt709Video, 235, 0xFFFFFFFFu},
                          {platform::YuvMatrix::Bt601Full, 16, 0xFF101010u},
                          {platform::YuvMatrix::Bt601Full, 235, 0xFFEBEBEBu}};
    for (render::IRendererDevice* device : {static_cast<render::IRendererDevice*>(gl.get()),
                                            static_cast<render::IRendererDevice*>(&software)}) {
        for (const Case& c : cases)
            for (const bool smooth : {false, true})
                for (const QRectF& target : {QRectF(10, 10, 20, 14), QRectF(0, 0, 128, 64)}) {
                    SCOPED_TRACE(testing::Message() << (device == gl.get() ? "OpenGL" : "Direct3D") << " matrix "
                                                    << static_cast<int>(c.matrix) << " Y " << c.y << " smooth "
                                                    << smooth << " width " << target.width());
                    auto texture = device->CreateTexture(QSize(16, 16), smooth);
                    int pitch = 0;
                    uchar* bits = texture->GetBuffer(QSize(20, 14), pitch, true);
                    ASSERT_NE(bits, nullptr);
                    std::memset(bits, c.y, static_cast<std::size_t>(pitch) * 14);
                    std::memset(bits + pitch * 14, 128, static_cast<std::size_t>(pitch) * 14 / 2);
                    texture->SetYuvMatrix(c.matrix);
                    texture->Commit();
                    const QImage image = DrawPlanarPicture(*device, texture, target, smooth);
                    const QRect drawn = target.toAlignedRect();
                    for (const QPoint& p : {drawn.topLeft(), drawn.center(), drawn.bottomRight()})
                        EXPECT_LE(Distance(image.pixel(p), c.expected), 1)
                            << p.x() << "," << p.y() << std::hex << " " << image.pixel(p);
                }
    }
}

// Every column of a picture is the picture's: its first column is not
// mixed with anything beside it or across the texture's wrap, whether the
// picture is drawn unscaled, enlarged or shrunk, in a grown buffer or not.
TEST_F(GLDeviceTest, ThePicturesFirstColumnIsThePictures)
{
    auto gl = MakeDevice();
    render::D3DRendererDevice software;
    bool created = false;
    software.Create(nullptr, QSize(128, 64), created);
    struct Case {
        QSize picture;
        QRectF target;
    };
    const Case cases[] = {{QSize(20, 14), QRectF(10, 10, 20, 14)},
                          {QSize(20, 14), QRectF(7, 3, 100, 56)},
                          {QSize(32, 16), QRectF(7, 3, 100, 50)},
                          {QSize(120, 60), QRectF(4, 2, 60, 30)}};
    for (render::IRendererDevice* device : {static_cast<render::IRendererDevice*>(gl.get()),
                                            static_cast<render::IRendererDevice*>(&software)}) {
        for (const Case& c : cases)
            for (const bool smooth : {false, true}) {
                SCOPED_TRACE(testing::Message() << (device == gl.get() ? "OpenGL" : "Direct3D") << " picture "
                                                << c.picture.width() << "x" << c.picture.height() << " to "
                                                << c.target.width() << " smooth " << smooth);
                auto texture = device->CreateTexture(QSize(16, 16), smooth);
                int pitch = 0;
                uchar* bits = texture->GetBuffer(c.picture, pitch, true);
                ASSERT_NE(bits, nullptr);
                // Studio white throughout but for black last two columns
                // (what a wrap would bring in) and neutral chroma.
                for (int y = 0; y < c.picture.height(); ++y)
                    for (int x = 0; x < pitch; ++x)
                        bits[y * pitch + x] = x >= c.picture.width() - 2 ? 16 : 235;
                std::memset(bits + pitch * c.picture.height(), 128,
                            static_cast<std::size_t>(pitch) * c.picture.height() / 2);
                texture->Commit();
                const QImage image = DrawPlanarPicture(*device, texture, c.target, smooth);
                const QRect drawn = c.target.toAlignedRect();
                for (const int y : {drawn.top(), drawn.center().y(), drawn.bottom()}) {
                    EXPECT_EQ(image.pixel(drawn.left(), y), 0xFFFFFFFFu) << "first column, row " << y;
                    EXPECT_EQ(image.pixel(drawn.left() + 1, y), 0xFFFFFFFFu) << "second column, row " << y;
                    EXPECT_EQ(image.pixel(drawn.left() - 1, y), 0xFF00FF00u) << "left of the picture, row " << y;
                }
            }
    }
}

// YV12 planes in a buffer `pitch` bytes wide whose every row and column
// differ: a plane read with the wrong row length shows sheared.
void FillRowsAndColumns(uchar* bits, int pitch, const QSize& size, int seed)
{
    const int cw = (size.width() + 1) / 2, ch = (size.height() + 1) / 2;
    uchar* v = bits + pitch * size.height();
    uchar* u = bits + pitch * size.height() * 5 / 4;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            bits[y * pitch + x] = static_cast<uchar>(20 + (x * 7 + y * 23 + seed) % 210);
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            v[y * (pitch / 2) + x] = static_cast<uchar>(60 + (x * 13 + y * 29 + seed) % 140);
            u[y * (pitch / 2) + x] = static_cast<uchar>(60 + (x * 31 + y * 11 + seed) % 140);
        }
}

// Frames of changing sizes into one texture, each in a buffer wider than
// the picture: each shows as the software device shows it, pixel for pixel,
// whether its storage grew or the picture shrank inside it.
TEST_F(GLDeviceTest, PitchedPlanesOfChangingSizesShowAsOnTheSoftwareDevice)
{
    auto gl = MakeDevice();
    render::D3DRendererDevice software;
    bool created = false;
    software.Create(nullptr, QSize(128, 64), created);
    const render::TexturePtr glTexture = gl->CreateTexture(QSize(16, 16), false);
    const render::TexturePtr softwareTexture = software.CreateTexture(QSize(16, 16), false);
    const QSize sizes[] = {QSize(20, 14), QSize(40, 30), QSize(12, 10), QSize(40, 30), QSize(90, 50)};
    QSize storage(0, 0);
    for (const QSize& size : sizes) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        const QRectF target(QPointF(3, 5), QSizeF(size));
        QImage images[2];
        for (int i = 0; i < 2; ++i) {
            render::IRendererDevice& device = i == 0 ? static_cast<render::IRendererDevice&>(*gl) : software;
            const render::TexturePtr& texture = i == 0 ? glTexture : softwareTexture;
            int pitch = 0;
            uchar* bits = texture->GetBuffer(size, pitch, true);
            ASSERT_NE(bits, nullptr);
            if (i == 0) {
                EXPECT_GT(pitch, size.width()) << "the buffer is wider than the picture";
            }
            FillRowsAndColumns(bits, pitch, size, size.width());
            texture->Commit();
            images[i] = DrawPlanarPicture(device, texture, target, false);
        }
        const QRect drawn = target.toAlignedRect();
        int off = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                if (Distance(images[0].pixel(x, y), images[1].pixel(x, y)) > 2 && ++off <= 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << std::hex << " OpenGL " << images[0].pixel(x, y)
                                  << " software " << images[1].pixel(x, y);
        EXPECT_EQ(off, 0);
        EXPECT_EQ(images[0].pixel(drawn.right() + 1, drawn.top()), 0xFF00FF00u);
        // Storage grows with the pictures and is kept for smaller ones.
        const QSize now = static_cast<render::OGLTexture*>(glTexture.get())->GetTextureSize();
        EXPECT_EQ(now, storage.expandedTo(now));
        storage = now;
    }
}

// A smoothed picture drawn shrunk by 2 or more goes up shrunk, each texel
// the rounded mean of its block: every pixel drawn is the mean of the block
// of the picture under it (a picture whose pixels all differ, so that a
// block read partly or from the wrong place shows). Drawn unshrunk again, it
// goes up as it is.
TEST_F(GLDeviceTest, ShrunkPicturesGoUpReducedToTheirBlockMeans)
{
    auto gl = MakeDevice();
    const QSize size(96, 48);
    const auto value = [](int x, int y) { return 20 + (x * 37 + y * 59 + (x * y) % 11 * 13) % 200; };
    const auto grey = [](double y) {
        return static_cast<int>(std::lround(std::clamp((y - 16) * 255.0 / 219, 0.0, 255.0)));
    };
    struct Case {
        int shrink;  // the target is the picture's size divided by it
        int reduction;
    };
    const Case cases[] = {{4, 4}, {2, 2}, {1, 1}, {3, 2}, {8, 4}, {4, 4}};
    const render::TexturePtr texture = gl->CreateTexture(QSize(16, 16), true);
    auto* glTexture = static_cast<render::OGLTexture*>(texture.get());
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "shrunk by " << c.shrink);
        int pitch = 0;
        uchar* bits = texture->GetBuffer(size, pitch, true);
        ASSERT_NE(bits, nullptr);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                bits[y * pitch + x] = static_cast<uchar>(value(x, y));
        std::memset(bits + pitch * size.height(), 128, static_cast<std::size_t>(pitch) * size.height() / 2);
        texture->Commit();
        const QSize target = size / c.shrink;
        const QImage image = DrawPlanarPicture(*gl, texture, QRectF(QPointF(0, 0), QSizeF(target)), true);
        EXPECT_EQ(glTexture->Reduction(), c.reduction);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        if (c.shrink != c.reduction)
            continue;  // filtered further on the way: no exact texels to compare
        int off = 0;
        for (int y = 0; y < target.height(); ++y)
            for (int x = 0; x < target.width(); ++x) {
                int total = 0;
                for (int dy = 0; dy < c.reduction; ++dy)
                    for (int dx = 0; dx < c.reduction; ++dx)
                        total += value(x * c.reduction + dx, y * c.reduction + dy);
                const int area = c.reduction * c.reduction;
                const int expected = grey((total + area / 2) / area);
                if (Distance(image.pixel(x, y), qRgb(expected, expected, expected)) > 2 && ++off <= 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << " expected " << expected << std::hex << " got "
                                  << image.pixel(x, y);
            }
        EXPECT_EQ(off, 0);
    }
}

// Odd sizes reduce with clipped edge blocks: an even picture stays even.
TEST_F(GLDeviceTest, ReducedOddPicturesKeepTheirEdges)
{
    auto gl = MakeDevice();
    for (const QSize size : {QSize(30, 22), QSize(33, 17), QSize(9, 9)}) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        const render::TexturePtr texture = gl->CreateTexture(QSize(16, 16), true);
        int pitch = 0;
        uchar* bits = texture->GetBuffer(size, pitch, true);
        ASSERT_NE(bits, nullptr);
        std::memset(bits, 180, static_cast<std::size_t>(pitch) * size.height());
        // Neutral chroma through the last row of the U plane.
        const int uEnd = pitch * size.height() * 5 / 4 + (pitch / 2) * ((size.height() + 1) / 2);
        std::memset(bits + pitch * size.height(), 128, static_cast<std::size_t>(uEnd - pitch * size.height()));
        texture->Commit();
        const QRectF target(10, 10, size.width() / 4.0, size.height() / 4.0);
        const QImage image = DrawPlanarPicture(*gl, texture, target, true);
        EXPECT_EQ(static_cast<render::OGLTexture*>(texture.get())->Reduction(), 4);
        const int expected = static_cast<int>(std::lround((180 - 16) * 255.0 / 219));
        const QRect drawn = target.toAlignedRect().adjusted(0, 0, -1, -1);
        for (const QPoint& p : {drawn.topLeft(), drawn.bottomRight(), drawn.center()})
            EXPECT_LE(Distance(image.pixel(p), qRgb(expected, expected, expected)), 2)
                << p.x() << "," << p.y() << std::hex << " " << image.pixel(p);
    }
}

// A premultiplied overlay drawn over a scene: blank squares are skipped,
// the pixels that are not blank blend in, on the first upload and after
// updates of parts that move a pixel from one square to another.
TEST_F(GLDeviceTest, AnOverlayBlendsOnlyItsPixelsAfterEachUpdate)
{
    auto gl = MakeDevice();
    render::D3DRendererDevice software;
    bool created = false;
    software.Create(nullptr, QSize(128, 64), created);
    const QSize size(96, 64);
    QImage overlay(size, QImage::Format_ARGB32_Premultiplied);
    overlay.fill(0);
    struct Step {
        QPoint point;
        QRgb value;
    };
    // A pixel on a square's corner, one on the last column, one half
    // transparent; then the first moves and one is cleared.
    const std::vector<std::vector<Step>> steps = {
        {{QPoint(32, 32), 0xFFFFFFFFu}, {QPoint(95, 0), 0xFF00FF00u}, {QPoint(40, 33), 0x80402010u}},
        {{QPoint(32, 32), 0u}, {QPoint(5, 60), 0xFF0000FFu}},
        {{QPoint(95, 0), 0u}, {QPoint(40, 33), 0u}}};
    const render::TexturePtr textures[2] = {gl->CreateTexture(QSize(1, 1), false),
                                            software.CreateTexture(QSize(1, 1), false)};
    for (std::size_t s = 0; s < steps.size(); ++s) {
        SCOPED_TRACE(testing::Message() << "step " << s);
        std::vector<QRect> dirty;
        for (const Step& step : steps[s]) {
            overlay.setPixel(step.point, step.value);
            dirty.push_back(QRect(step.point, QSize(1, 1)));
        }
        QImage images[2];
        for (int i = 0; i < 2; ++i) {
            render::IRendererDevice& device = i == 0 ? static_cast<render::IRendererDevice&>(*gl) : software;
            textures[i]->Update(overlay.constBits(), size, overlay.bytesPerLine(), s == 0 ? nullptr : &dirty);
            device.BeginScene();
            device.SetViewport(QRect(0, 0, 128, 64));
            device.SetBlendMode(0);
            device.SetTexture(render::TexturePtr(), false);
            device.DrawQuad(QRectF(0, 0, 128, 64), QRectF(), 0xFF707070u, 0);
            device.SetBlendMode(2);
            device.SetTexture(textures[i], false);
            device.DrawQuad(QRectF(QPointF(0, 0), QSizeF(size)), textures[i]->GetSourceRect(), 0xFFFFFFFFu, 0);
            device.SetTexture(render::TexturePtr(), false);
            device.SetBlendMode(0);
            device.EndScene();
            device.CopyToBackBuffer(QRect(0, 0, 128, 64));
            images[i] = QImage(128, 64, QImage::Format_RGB32);
            device.ReadPixels(QRect(0, 0, 128, 64), images[i].bits(), images[i].bytesPerLine());
        }
        int off = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                if (Distance(images[0].pixel(x, y), images[1].pixel(x, y)) > 2 && ++off <= 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << std::hex << " OpenGL " << images[0].pixel(x, y)
                                  << " software " << images[1].pixel(x, y);
        EXPECT_EQ(off, 0);
        for (const Step& step : steps[s]) {
            if (step.value == 0xFFFFFFFFu) {
                EXPECT_EQ(images[0].pixel(step.point), 0xFFFFFFFFu);
            }
        }
    }
}

// The texture's name in the context current now.
GLuint BoundName(render::IRendererDevice& device, const render::TexturePtr& texture)
{
    int pitch = 0;
    texture->GetBuffer(QSize(16, 16), pitch, false);
    texture->Commit();
    device.SetTexture(texture, false);
    GLuint name = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, reinterpret_cast<GLint*>(&name));
    device.SetTexture(render::TexturePtr(), false);
    return name;
}

TEST_F(GLDeviceTest, ATextureOutlivingItsDeviceFreesNothingThroughIt)
{
    render::TexturePtr old;
    {
        auto device = MakeDevice();
        old = device->CreateTexture(QSize(16, 16), false);
        ASSERT_NE(BoundName(*device, old), 0u);
    }
    EXPECT_FALSE(old->SupportsPlanar()) << "the context is gone";
    // A new context numbers its textures afresh: the old texture's name may
    // well be a live texture of the new one, which it must not delete.
    auto device = MakeDevice();
    const render::TexturePtr live = device->CreateTexture(QSize(16, 16), false);
    const GLuint name = BoundName(*device, live);
    ASSERT_NE(name, 0u);
    old.reset();
    device->BeginScene();
    device->EndScene();
    EXPECT_TRUE(glIsTexture(name));
}

// A mesh spans its frame image from 0 to 1, whatever part of its texture the
// image fills: a 6 x 6 image in a buffer grown to 16 x 16 still fills the
// target, on either device.
TEST_F(GLDeviceTest, MeshCoordinatesSpanTheImageOfAGrownTexture)
{
    auto gl = MakeDevice();
    render::D3DRendererDevice software;
    bool created = false;
    software.Create(nullptr, QSize(128, 64), created);
    for (render::IRendererDevice* device : {static_cast<render::IRendererDevice*>(gl.get()),
                                            static_cast<render::IRendererDevice*>(&software)}) {
        SCOPED_TRACE(device == gl.get() ? "OpenGL" : "Direct3D");
        auto texture = device->CreateTexture(QSize(16, 16), false);
        int pitch = 0;
        uchar* bits = texture->GetBuffer(QSize(6, 6), pitch, false);
        ASSERT_NE(bits, nullptr);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x) {
                const QRgb c = y < 3 ? (x < 3 ? 0xFFFF0000u : 0xFF00FF00u) : (x < 3 ? 0xFFFFFFFFu : 0xFF0000FFu);
                std::memcpy(bits + y * pitch + x * 4, &c, 4);
            }
        texture->Commit();
        ASSERT_LT(texture->GetSourceRect().width(), 1.0);
        std::vector<render::MeshVertex> mesh(4);
        const double corners[4][4] = {{0, 0, 0, 0}, {64, 0, 1, 0}, {0, 64, 0, 1}, {64, 64, 1, 1}};
        for (int i = 0; i < 4; ++i) {
            mesh[i].values[0] = corners[i][0];
            mesh[i].values[1] = corners[i][1];
            mesh[i].values[2] = 0;  // inside both devices' depth ranges
            mesh[i].values[4] = corners[i][2];
            mesh[i].values[5] = corners[i][3];
        }
        std::vector<std::uint8_t> strip;
        device->ConvertVertices(mesh, strip);
        device->BeginScene();
        device->SetViewport(QRect(0, 0, 128, 64));
        device->SetBlendMode(0);
        device->SetTexture(texture, false);
        device->DrawStrip(strip.data(), static_cast<int>(strip.size()));
        device->SetTexture(render::TexturePtr(), false);
        device->EndScene();
        device->CopyToBackBuffer(QRect(0, 0, 128, 64));
        QImage image(64, 64, QImage::Format_RGB32);
        device->ReadPixels(QRect(0, 0, 64, 64), image.bits(), image.bytesPerLine());
        EXPECT_EQ(image.pixel(10, 10), 0xFFFF0000u);
        EXPECT_EQ(image.pixel(53, 10), 0xFF00FF00u);
        EXPECT_EQ(image.pixel(10, 53), 0xFFFFFFFFu);
        EXPECT_EQ(image.pixel(53, 53), 0xFF0000FFu);
    }
}

TEST_F(GLDeviceTest, DestroyedTexturesAreDeletedAtTheNextScene)
{
    auto device = MakeDevice();
    GLuint name = 0;
    {
        auto texture = device->CreateTexture(QSize(4, 4), false);
        int pitch = 0;
        texture->GetBuffer(QSize(4, 4), pitch, false);
        texture->Commit();
        device->SetTexture(texture, false);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, reinterpret_cast<GLint*>(&name));
        device->SetTexture(render::TexturePtr(), false);
    }
    ASSERT_NE(name, 0u);
    EXPECT_TRUE(glIsTexture(name));
    device->BeginScene();
    device->EndScene();
    EXPECT_FALSE(glIsTexture(name));
    std::vector<std::uint8_t> none;
    device->DrawStrip(none.data(), 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// --- whole scenes on both devices ---------------------------------------------------

constexpr QSize kOutput(480, 240);
constexpr QSize kFrame(128, 96);

QImage RgbPattern()
{
    QImage image(kFrame, QImage::Format_RGB32);
    for (int y = 0; y < kFrame.height(); ++y)
        for (int x = 0; x < kFrame.width(); ++x)
            image.setPixel(x, y, qRgb(x * 2, y * 2, (x < kFrame.width() / 2) == (y < kFrame.height() / 2) ? 230 : 20));
    return image;
}

QImage FisheyeDisc()
{
    QImage image(kFrame, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        painter.setBrush(QColor::fromHsv(i * 90, 200, 220));
        painter.drawPie(QRectF(16, 0, 96, 96), i * 90 * 16, 90 * 16);
    }
    return image;
}

// Writes a frame the way a decoder does: YV12 planes when the texture takes
// them, 32-bit pixels converted on the processor otherwise.
void Deliver(render::MediaSamplePin& pin, const QImage& rgb, bool planar)
{
    int pitch = 0;
    if (!planar) {
        uchar* bits = pin.GetSample().GetBuffer(kFrame, pitch, false);
        ASSERT_NE(bits, nullptr);
        for (int y = 0; y < kFrame.height(); ++y)
            std::memcpy(bits + y * pitch, rgb.constScanLine(y), static_cast<std::size_t>(kFrame.width()) * 4);
    } else {
        const int w = kFrame.width();
        std::vector<uchar> planes(static_cast<std::size_t>(w) * kFrame.height() * 3 / 2);
        FillYV12(planes.data(), w, kFrame);
        uchar* bits = pin.GetSample().GetBuffer(kFrame, pitch, true);
        if (bits != nullptr) {
            for (int y = 0; y < kFrame.height(); ++y)
                std::memcpy(bits + y * pitch, planes.data() + y * w, w);
            // Chroma rows are half the pitch: copy them plane by plane.
            for (int plane = 0; plane < 2; ++plane)
                for (int y = 0; y < kFrame.height() / 2; ++y)
                    std::memcpy(bits + pitch * kFrame.height() + plane * (pitch / 2) * (kFrame.height() / 2) +
                                    y * (pitch / 2),
                                planes.data() + w * kFrame.height() + plane * (w / 2) * (kFrame.height() / 2) +
                                    y * (w / 2),
                                w / 2);
        } else {
            bits = pin.GetSample().GetBuffer(kFrame, pitch, false);
            ASSERT_NE(bits, nullptr);
            platform::d3d9::ConvertYV12(planes.data(), planes.data() + w * kFrame.height(),
                                        planes.data() + w * kFrame.height() * 5 / 4, w, QRect(QPoint(0, 0), kFrame),
                                        bits, pitch);
        }
    }
    pin.GetSample().Commit();
    pin.GetSample().SetTime(0);
    pin.OnSample();
}

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        QDir().mkpath(QString::fromStdString(root / "Resources"));
        QImage watermark(24, 16, QImage::Format_ARGB32);
        watermark.fill(qRgba(255, 255, 0, 160));
        ASSERT_TRUE(watermark.save(QString::fromStdString(root / "Resources/Watermark.png")));
        QApplicationSettings::Instance().Watermark = true;
        QApplicationSettings::Instance().Antialiasing = false;
    }

    // Six channels in a 3 x 2 grid: RGB and YV12, turned, shaded, signed,
    // and two fisheye channels shown as a dewarped view and a panorama.
    QImage Render(const render::DevicePtr& device, QWidget* window, QImage* grabbed = nullptr)
    {
        render::Renderer renderer(device);
        renderer.SetResourceRoot(QString::fromStdString(root.path() + "/"));
        renderer.Start(window, QRect(QPoint(0, 0), kOutput));
        EXPECT_TRUE(renderer.IsRunning());
        if (window != nullptr) {
            window->show();
            QCoreApplication::processEvents();
        }
        struct Channel {
            bool planar;
            int rotation;
            int shade;
            bool isSigned;
            int display;  // -1: not dewarped
        };
        const Channel channels[] = {{false, 0, 0, true, -1}, {false, 90, 128, false, -1},
                                    {true, 180, 0, false, -1}, {true, 270, 0, true, -1},
                                    {false, 0, 0, false, 0},   {false, 0, 0, false, 1}};
        std::vector<boost::shared_ptr<render::MediaSamplePin>> pins;
        for (int i = 0; i < 6; ++i) {
            auto pin = boost::dynamic_pointer_cast<render::MediaSamplePin>(renderer.AddPin());
            pin->SetRect(QRect((i % 3) * 160, (i / 3) * 120, 160, 120));
            pin->SetRotation(channels[i].rotation);
            pin->SetShade(channels[i].shade);
            if (channels[i].display >= 0)
                pin->SetDewarping(1, 0, channels[i].display, QRectF());
            pin->GetSample().SetSigned(channels[i].isSigned);
            Deliver(*pin, channels[i].display >= 0 ? FisheyeDisc() : RgbPattern(), channels[i].planar);
            pins.push_back(pin);
        }
        QImage image;
        // Every channel shows, the dewarped ones once their meshes are built.
        RecordingDevice::WaitFor([&] {
            image = renderer.RenderToImage(QRect(QPoint(0, 0), kOutput));
            return !image.isNull() && !pins[4]->GetDewarper()->rebuild && !pins[5]->GetDewarper()->rebuild;
        });
        image = renderer.RenderToImage(QRect(QPoint(0, 0), kOutput));
        if (grabbed != nullptr && window != nullptr) {
            RecordingDevice::WaitFor([&] {
                QCoreApplication::processEvents();
                *grabbed = window->screen()->grabWindow(window->winId()).toImage().convertToFormat(
                    QImage::Format_RGB32);
                return *grabbed == image;
            });
        }
        renderer.Stop();
        return image;
    }

    // A drawn scene, not a blank one: gradients give many colours.
    static int Colours(const QImage& image)
    {
        std::set<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                colours.insert(image.pixel(x, y));
        return static_cast<int>(colours.size());
    }

    // Share of pixels further apart than `tolerance` in any channel.
    static double Mismatch(const QImage& a, const QImage& b, int tolerance)
    {
        if (a.size() != b.size())
            return 1;
        int off = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                off += Distance(a.pixel(x, y), b.pixel(x, y)) > tolerance ? 1 : 0;
        return static_cast<double>(off) / (a.width() * a.height());
    }

    gavex_test::TempDir root{"glscene"};
};

// Rounding differs between the rasterisers (colours within 4 levels), and
// sampling positions along edges of pictures and meshes (at most 1 % of the
// output further apart).
constexpr int kTolerance = 4;
constexpr double kEdgeShare = 0.01;

TEST_F(SceneTest, BothDevicesDrawTheSameScenesAndTheWindowShowsThem)
{
    const QImage software = Render(boost::make_shared<render::D3DRendererDevice>(), nullptr);
    ASSERT_FALSE(software.isNull());
    QWidget window;
    window.resize(kOutput);
    QImage grabbed;
    const QImage gl = Render(boost::make_shared<OGLRendererDevice>(), &window, &grabbed);
    ASSERT_FALSE(gl.isNull());
    software.save(GAVEX_TEST_BINARY_DIR "/scene_d3d.png");
    gl.save(GAVEX_TEST_BINARY_DIR "/scene_gl.png");
    EXPECT_GT(Colours(software), 1000);
    EXPECT_LE(Mismatch(gl, software, kTolerance), kEdgeShare);
    // Spot checks that the scene is not empty on both: the signed channel's
    // watermark, the shaded channel, the dewarped view.
    EXPECT_NE(gl.pixel(80, 60), 0xFF000000u);
    EXPECT_LE(Distance(gl.pixel(160 - 10 - 12, 10 + 8), software.pixel(160 - 10 - 12, 10 + 8)), kTolerance);
    EXPECT_EQ(grabbed, gl) << "the X server shows what was captured";
}

TEST_F(SceneTest, FallbackPathsDrawTheSame)
{
    QWidget window;
    window.resize(kOutput);
    const QImage full = Render(boost::make_shared<OGLRendererDevice>(), &window);
    ASSERT_FALSE(full.isNull());
    EXPECT_GT(Colours(full), 1000);
    struct Case {
        const char* name;
        OGLRendererDevice::Options options;
        OGLRendererDevice::PresentPath path;
    };
    using Path = OGLRendererDevice::PresentPath;
    const Case cases[] = {{"no frame buffer", {true, false, false, false}, Path::SubBufferCopy},
                          {"no program", {false, true, false, false}, Path::SubBufferCopy},
                          {"neither", {true, true, false, false}, Path::SubBufferCopy},
                          {"power-of-two textures", {false, false, true, false}, Path::SubBufferCopy},
                          {"frame buffer and swap", {false, false, false, true}, Path::FrameBufferSwap},
                          {"front buffer", {true, false, false, true}, Path::FrontBuffer}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget other;
        other.resize(kOutput);
        QImage grabbed;
        const auto device = boost::make_shared<OGLRendererDevice>(c.options);
        const QImage image = Render(device, &other, &grabbed);
        EXPECT_EQ(device->GetPresentPath(), c.path);
        ASSERT_FALSE(image.isNull());
        EXPECT_LE(Mismatch(image, full, kTolerance), kEdgeShare);
        image.save(QString(GAVEX_TEST_BINARY_DIR "/scene_gl_%1.png").arg(&c - cases));
        EXPECT_EQ(grabbed, image);
    }
}

TEST_F(SceneTest, ARendererStartedAgainOnTheSameDeviceDrawsAgain)
{
    QWidget window;
    window.resize(kOutput);
    const auto device = boost::make_shared<OGLRendererDevice>();
    const QImage first = Render(device, &window);
    ASSERT_FALSE(first.isNull());
    // The first render thread released the context; the second takes it up.
    const QImage second = Render(device, &window);
    ASSERT_FALSE(second.isNull());
    EXPECT_LE(Mismatch(second, first, kTolerance), kEdgeShare);
}

// Passes with nothing changed begin no scene and present nothing; a changed
// area is drawn and presented once.
TEST_F(SceneTest, APassWithNothingChangedDrawsNothing)
{
    QWidget window;
    window.resize(kOutput);
    const auto device = boost::make_shared<OGLRendererDevice>();
    render::Renderer renderer(device);
    renderer.SetResourceRoot(QString::fromStdString(root.path() + "/"));
    renderer.Start(&window, QRect(QPoint(0, 0), kOutput));
    ASSERT_TRUE(renderer.IsRunning());
    window.show();
    QCoreApplication::processEvents();
    ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->PresentCount() > 0; }));
    // Quiet: once the counts hold still over several pass periods, they
    // must hold still over many more.
    std::uint64_t scenes = 0, presents = 0;
    RecordingDevice::WaitFor([&] {
        scenes = device->SceneCount();
        presents = device->PresentCount();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return device->SceneCount() == scenes && device->PresentCount() == presents;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(device->SceneCount(), scenes);
    EXPECT_EQ(device->PresentCount(), presents);
    renderer.InvalidateRect(QRect(10, 10, 30, 20));
    ASSERT_TRUE(RecordingDevice::WaitFor([&] { return device->PresentCount() > presents; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(device->SceneCount(), scenes + 1);
    EXPECT_EQ(device->PresentCount(), presents + 1);
    renderer.Stop();
}

TEST(GLDeviceFactory, RenderZeroIsOpenGL)
{
    EXPECT_NE(dynamic_cast<OGLRendererDevice*>(render::CreateRendererDevice(0).get()), nullptr);
}

TEST(GLDeviceFailure, AContextThatCannotBeMadeIsReportedCleanly)
{
    testsupport::Xvfb server;
    ASSERT_FALSE(server.Display().empty());
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromStdString(server.Display()));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("QT_XCB_GL_INTEGRATION", "none");
    probe.setProcessEnvironment(environment);
    probe.start(GAVEX_TEST_TOOLS_DIR "/gl_create_probe", QStringList());
    ASSERT_TRUE(probe.waitForFinished(30000));
    const QString out = QString::fromUtf8(probe.readAllStandardOutput());
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("create: Cannot create OpenGL device")) << out.toStdString();
    EXPECT_TRUE(out.contains("renderer: device error, stopped")) << out.toStdString();
}

}  // namespace
