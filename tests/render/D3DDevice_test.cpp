// The Direct3D 9 device over the software device: creation and resets,
// textures in both layouts and filters, blending, strips and clipping,
// device loss, and whole frames captured through the renderer.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QWidget>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "platform/YuvMatrix.h"
#include "render/BasicRenderer.h"
#include "render/D3DRendererDevice.h"
#include "render/RendererPin.h"
#include "support/RecordingDevice.h"

namespace {

namespace d3d = platform::d3d9;
using render::D3DRendererDevice;

constexpr QRgb kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF;

int Distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// Studio-range BT.601 YCbCr (the default of planar pictures) as 0..255 RGB.
QRgb Studio601(double y, double u, double v)
{
    auto c = [](double x) { return static_cast<int>(std::lround(std::clamp(x, 0.0, 255.0))); };
    y = (y - 16) * 255 / 219, u = (u - 128) * 255 / 224, v = (v - 128) * 255 / 224;
    return qRgb(c(y + 1.402 * v), c(y - 0.344136 * u - 0.714136 * v), c(y + 1.772 * u));
}

#define EXPECT_NEAR_RGB(actual, expected, tolerance)                                                          \
    EXPECT_LE(Distance(actual, expected), tolerance) << std::hex << "actual " << (actual) << " expected " \
                                                     << (expected)

// An 8 x 8 image in four quadrants: red, green / white, blue.
void FillQuadrants(render::ITexture& texture)
{
    int pitch = 0;
    uchar* bits = texture.GetBuffer(QSize(8, 8), pitch, false);
    ASSERT_NE(bits, nullptr);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const QRgb c = y < 4 ? (x < 4 ? kRed : kGreen) : (x < 4 ? kWhite : kBlue);
            std::memcpy(bits + y * pitch + x * 4, &c, 4);
        }
    texture.Commit();
}

class D3DDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bool created = false;
        device.Create(nullptr, QSize(64, 64), created);
        ASSERT_TRUE(created);
        ASSERT_TRUE(device.IsReady());
    }

    // A scene over the whole 64 x 64 back buffer, cleared to black.
    void Begin()
    {
        device.BeginScene();
        device.SetViewport(QRect(0, 0, 64, 64));
        device.SetBlendMode(0);
        device.SetTexture(nullptr, false);
        device.DrawQuad(QRectF(0, 0, 64, 64), QRectF(), 0xFF000000, 0);
    }

    QImage Capture(const QRect& rect = QRect(0, 0, 64, 64))
    {
        device.EndScene();
        QImage image(rect.size(), QImage::Format_RGB32);
        image.fill(0xFF123456);
        device.ReadPixels(rect, image.bits(), image.bytesPerLine());
        return image;
    }

    d3d::Direct3DPtr d3d = d3d::Direct3DCreate9(32);
    D3DRendererDevice device{d3d};
};

TEST(D3DDeviceCreation, OnlyTheReferenceDeviceExistsAndWithoutItCreationThrows)
{
    D3DRendererDevice device;
    bool created = false;
    device.Create(nullptr, QSize(320, 200), created);
    EXPECT_TRUE(created);
    EXPECT_TRUE(device.IsReady());
    EXPECT_EQ(device.GetDescription(), "Direct3D 9.0 REF renderer.");
    EXPECT_TRUE(device.SupportsYV12());

    auto none = d3d::Direct3DCreate9(32);
    none->refAvailable = false;
    D3DRendererDevice failing(none);
    try {
        failing.Create(nullptr, QSize(320, 200), created);
        FAIL() << "no device was possible";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Create device error!");
    }
    EXPECT_FALSE(failing.IsReady());
}

TEST(D3DDeviceCreation, WithoutYV12ConversionTexturesRefusePlanarBuffers)
{
    auto d3d = d3d::Direct3DCreate9(32);
    d3d->yv12Available = false;
    D3DRendererDevice device(d3d);
    // A texture made before the device exists follows the probe made later.
    const render::TexturePtr texture = device.CreateTexture(QSize(16, 16), false);
    bool created = false;
    device.Create(nullptr, QSize(64, 64), created);
    EXPECT_FALSE(texture->SupportsPlanar());
    int pitch = 0;
    EXPECT_EQ(texture->GetBuffer(QSize(16, 16), pitch, true), nullptr);
    EXPECT_NE(texture->GetBuffer(QSize(16, 16), pitch, false), nullptr);
}

TEST(D3DDeviceCreation, TheBackBufferOnlyGrowsInStepsOf256)
{
    D3DRendererDevice device;
    bool created = false;
    device.Create(nullptr, QSize(640, 480), created);
    d3d::SurfacePtr back;
    ASSERT_EQ(device.Device()->GetBackBuffer(back), d3d::Result::Ok);
    EXPECT_EQ(back->GetDesc().width, 640);
    EXPECT_EQ(back->GetDesc().height, 480);

    device.Resize(QSize(600, 400));
    EXPECT_TRUE(device.IsReady()) << "a smaller window never resets";
    device.Resize(QSize(700, 500));
    EXPECT_FALSE(device.IsReady());
    created = true;
    device.Create(nullptr, QSize(700, 500), created);
    EXPECT_FALSE(created) << "a reset, not a new device";
    EXPECT_TRUE(device.IsReady());
    ASSERT_EQ(device.Device()->GetBackBuffer(back), d3d::Result::Ok);
    EXPECT_EQ(QSize(back->GetDesc().width, back->GetDesc().height), QSize(768, 512));
}

TEST_F(D3DDeviceTest, QuadsShowTheTextureTurnedByTheirRotation)
{
    const render::TexturePtr texture = device.CreateTexture(QSize(16, 16), false);
    FillQuadrants(*texture);
    EXPECT_EQ(texture->GetSourceRect(), QRectF(0, 0, 0.5, 0.5));
    // Corner k of the target shows source corner (k + rotation / 90) mod 4,
    // counting top-left, top-right, bottom-right, bottom-left.
    const std::array<QRgb, 4> source{kRed, kGreen, kBlue, kWhite};
    const std::array<QPoint, 4> at{QPoint(4, 4), QPoint(59, 4), QPoint(59, 59), QPoint(4, 59)};
    for (int rotation : {0, 90, 180, 270}) {
        SCOPED_TRACE(rotation);
        Begin();
        device.SetTexture(texture, false);
        device.DrawQuad(QRectF(0, 0, 64, 64), texture->GetSourceRect(), 0xFFFFFFFF, rotation);
        const QImage image = Capture();
        image.save(QString(GAVEX_TEST_BINARY_DIR "/d3d_rotation_%1.png").arg(rotation));
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(image.pixel(at[k]), source[(k + rotation / 90) % 4]) << "corner " << k;
    }
}

TEST_F(D3DDeviceTest, PlanarFramesAreExpandedFromStudioRange)
{
    const render::TexturePtr texture = device.CreateTexture(QSize(16, 16), false);
    ASSERT_TRUE(texture->SupportsPlanar());
    int pitch = 0;
    uchar* bits = texture->GetBuffer(QSize(16, 16), pitch, true);
    ASSERT_NE(bits, nullptr);
    ASSERT_EQ(pitch, 16);
    // Luma: 200 on the left, 60 on the right; chroma: neutral above, (U 90,
    // V 200) below.
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            bits[y * pitch + x] = x < 8 ? 200 : 60;
    uchar* v = bits + pitch * 16;
    uchar* u = v + pitch / 2 * 8;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            v[y * pitch / 2 + x] = y < 4 ? 128 : 200;
            u[y * pitch / 2 + x] = y < 4 ? 128 : 90;
        }
    texture->Commit();
    Begin();
    device.SetTexture(texture, false);
    device.DrawQuad(QRectF(0, 0, 64, 64), texture->GetSourceRect(), 0xFFFFFFFF, 0);
    const QImage image = Capture();
    image.save(GAVEX_TEST_BINARY_DIR "/d3d_yv12.png");
    const auto expected = Studio601;
    // Tolerance 2: rounding of 8-bit samples.
    EXPECT_NEAR_RGB(image.pixel(10, 10), expected(200, 128, 128), 2);
    EXPECT_NEAR_RGB(image.pixel(50, 10), expected(60, 128, 128), 2);
    EXPECT_NEAR_RGB(image.pixel(10, 50), expected(200, 90, 200), 2);
    EXPECT_NEAR_RGB(image.pixel(50, 50), expected(60, 90, 200), 2);
    // The texture reads back what the device converted.
    QImage read(16, 16, QImage::Format_RGB32);
    texture->ReadPixels(QRect(0, 0, 16, 16), read.bits(), read.bytesPerLine());
    EXPECT_NEAR_RGB(read.pixel(2, 12), expected(200, 90, 200), 2);
}

// The RGB of Y, U, V under a matrix, from its published factors.
QRgb Expected(platform::YuvMatrix matrix, double y, double u, double v)
{
    auto c = [](double x) { return static_cast<int>(std::lround(std::clamp(x, 0.0, 255.0))); };
    struct Factors {
        double kr, kb;
        bool full;
    };
    const Factors f = matrix == platform::YuvMatrix::Bt709Video   ? Factors{0.2126, 0.0722, false}
                      : matrix == platform::YuvMatrix::Bt601Full ? Factors{0.299, 0.114, true}
                                                                  : Factors{0.299, 0.114, false};
    const double kg = 1 - f.kr - f.kb;
    if (!f.full)
        y = (y - 16) * 255 / 219, u = (u - 128) * 255 / 224, v = (v - 128) * 255 / 224;
    else
        u -= 128, v -= 128;
    const double r = y + 2 * (1 - f.kr) * v;
    const double b = y + 2 * (1 - f.kb) * u;
    const double g = (y - f.kr * r - f.kb * b) / kg;
    return qRgb(c(r), c(g), c(b));
}

struct RangeCase {
    platform::YuvMatrix matrix;
    int y, u, v;
};

// Studio black and white, a saturated colour and full-range and BT.709
// pictures, as each drawing path shows them: unscaled, scaled with and
// without smoothing (straight into the scene), turned (through the device
// texture and the rasteriser), and read back from the texture.
TEST_F(D3DDeviceTest, PlanarPicturesAreExpandedToFullRangeOnEveryPath)
{
    using platform::YuvMatrix;
    const RangeCase cases[] = {
        {YuvMatrix::Bt601Video, 16, 128, 128},  {YuvMatrix::Bt601Video, 235, 128, 128},
        {YuvMatrix::Bt601Video, 170, 166, 16},  {YuvMatrix::Bt601Video, 81, 90, 240},
        {YuvMatrix::Bt709Video, 16, 128, 128},  {YuvMatrix::Bt709Video, 235, 128, 128},
        {YuvMatrix::Bt709Video, 145, 54, 34},   {YuvMatrix::Bt601Full, 16, 128, 128},
        {YuvMatrix::Bt601Full, 235, 128, 128},  {YuvMatrix::Bt601Full, 100, 200, 60},
    };
    struct Path {
        const char* name;
        QRectF target;
        bool smooth;
        int rotation;
    };
    const Path paths[] = {{"unscaled", QRectF(8, 8, 16, 16), false, 0},
                          {"enlarged", QRectF(0, 0, 64, 40), true, 0},
                          {"shrunk point", QRectF(3, 5, 7, 5), false, 0},
                          {"turned", QRectF(0, 0, 64, 64), false, 180}};
    for (const RangeCase& c : cases) {
        const QRgb expected = Expected(c.matrix, c.y, c.u, c.v);
        for (const Path& path : paths) {
            SCOPED_TRACE(testing::Message() << path.name << " matrix " << static_cast<int>(c.matrix) << " Y " << c.y
                                            << " U " << c.u << " V " << c.v);
            const render::TexturePtr texture = device.CreateTexture(QSize(16, 16), path.smooth);
            int pitch = 0;
            uchar* bits = texture->GetBuffer(QSize(16, 16), pitch, true);
            ASSERT_NE(bits, nullptr);
            std::memset(bits, c.y, 16 * 16);
            std::memset(bits + 16 * 16, c.v, 8 * 8);
            std::memset(bits + 16 * 16 * 5 / 4, c.u, 8 * 8);
            texture->SetYuvMatrix(c.matrix);
            texture->Commit();
            Begin();
            device.SetTexture(texture, path.smooth);
            device.DrawQuad(path.target, texture->GetSourceRect(), 0xFFFFFFFF, path.rotation);
            const QImage image = Capture();
            const QRect drawn = path.target.toAlignedRect();
            for (const QPoint& p : {drawn.topLeft(), drawn.bottomRight(), drawn.center()})
                EXPECT_NEAR_RGB(image.pixel(p), expected, 1) << p.x() << "," << p.y();
            if (drawn.left() > 0) {
                EXPECT_EQ(image.pixel(drawn.left() - 1, drawn.top()), 0xFF000000u) << "nothing left of the quad";
            }
            if (drawn.right() < 63) {
                EXPECT_EQ(image.pixel(drawn.right() + 1, drawn.bottom()), 0xFF000000u) << "nothing right of it";
            }
            QImage read(16, 16, QImage::Format_RGB32);
            texture->ReadPixels(QRect(0, 0, 16, 16), read.bits(), read.bytesPerLine());
            EXPECT_NEAR_RGB(read.pixel(7, 7), expected, 1);
        }
    }
}

// A channel redrawn in later passes: a newly committed picture replaces the
// kept one, an unchanged one is drawn as before, and a scissor limits the
// drawing to its area, the picture's pixels inside it where they belong.
TEST_F(D3DDeviceTest, RedrawnPicturesFollowCommitsAndTheScissor)
{
    const render::TexturePtr texture = device.CreateTexture(QSize(16, 16), true);
    auto deliver = [&](int left, int right) {
        int pitch = 0;
        uchar* bits = texture->GetBuffer(QSize(16, 16), pitch, true);
        ASSERT_NE(bits, nullptr);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                bits[y * pitch + x] = static_cast<uchar>(x < 8 ? left : right);
        std::memset(bits + 16 * 16, 128, 16 * 8);
        texture->Commit();
    };
    auto draw = [&](const QRect& scissor) {
        Begin();
        device.SetScissor(scissor);
        device.SetTexture(texture, true);
        device.DrawQuad(QRectF(4, 4, 48, 40), texture->GetSourceRect(), 0xFFFFFFFF, 0);
        return Capture();
    };
    const QRgb black = Studio601(16, 128, 128), white = Studio601(235, 128, 128);
    deliver(16, 235);
    QImage image = draw(QRect());
    EXPECT_EQ(image.pixel(10, 20), black);
    EXPECT_EQ(image.pixel(45, 20), white);
    image = draw(QRect());
    EXPECT_EQ(image.pixel(10, 20), black) << "unchanged: drawn as before";
    EXPECT_EQ(image.pixel(45, 20), white);
    deliver(235, 16);
    image = draw(QRect());
    EXPECT_EQ(image.pixel(10, 20), white) << "a new commit is drawn";
    EXPECT_EQ(image.pixel(45, 20), black);
    // Only the scissor's part is drawn (Begin cleared the scene to black
    // before the scissor was set).
    deliver(235, 235);
    image = draw(QRect(30, 10, 30, 20));
    EXPECT_EQ(image.pixel(45, 20), white) << "inside the scissor";
    EXPECT_EQ(image.pixel(30, 10), white) << "the scissor's corner";
    EXPECT_EQ(image.pixel(45, 35), 0xFF000000u) << "below the scissor: not drawn";
    EXPECT_EQ(image.pixel(10, 20), 0xFF000000u) << "left of the scissor: not drawn";
}

TEST_F(D3DDeviceTest, ABufferChangingLayoutIsLaidOutAgain)
{
    const render::TexturePtr texture = device.CreateTexture(QSize(16, 16), false);
    FillQuadrants(*texture);
    Begin();
    device.SetTexture(texture, false);
    int pitch = 0;
    uchar* bits = texture->GetBuffer(QSize(8, 8), pitch, true);
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(pitch, 16);
    std::memset(bits, 150, 16 * 16);
    std::memset(bits + 16 * 8, 128, 16 * 8 * 3 / 4);
    texture->Commit();
    device.SetTexture(texture, false);
    device.DrawQuad(QRectF(0, 0, 64, 64), texture->GetSourceRect(), 0xFFFFFFFF, 0);
    const QImage image = Capture();
    EXPECT_NEAR_RGB(image.pixel(10, 10), Studio601(150, 128, 128), 2);
    EXPECT_NEAR_RGB(image.pixel(50, 50), Studio601(150, 128, 128), 2);
}

TEST_F(D3DDeviceTest, BlendModesUseTheColourOrTheTexturesPremultipliedAlpha)
{
    // Mode 1: an untextured half-transparent black quad over white.
    Begin();
    device.SetTexture(nullptr, false);
    device.DrawQuad(QRectF(0, 0, 64, 64), QRectF(), 0xFFFFFFFF, 0);
    device.SetBlendMode(1);
    device.DrawQuad(QRectF(0, 0, 32, 64), QRectF(), 0x80000000, 0);
    // Mode 2: a texture of premultiplied half-transparent red over white.
    const render::TexturePtr texture = device.CreateTexture(QSize(16, 16), false);
    int pitch = 0;
    uchar* bits = texture->GetBuffer(QSize(16, 16), pitch, false);
    for (int i = 0; i < 16 * 16; ++i) {
        const quint32 c = 0x80800000;
        std::memcpy(bits + i * 4, &c, 4);
    }
    texture->Commit();
    device.SetBlendMode(2);
    device.SetTexture(texture, false);
    device.DrawQuad(QRectF(32, 0, 32, 64), texture->GetSourceRect(), 0x00FFFFFF, 0);
    const QImage image = Capture();
    EXPECT_NEAR_RGB(image.pixel(10, 10), qRgb(127, 127, 127), 1);
    EXPECT_NEAR_RGB(image.pixel(50, 10), qRgb(255, 127, 127), 1);
}

TEST_F(D3DDeviceTest, SmoothTexturesFilterAndUseMipLevels)
{
    // A one-pixel checkerboard shrunk eightfold: point sampling keeps pure
    // black or white, mip levels give grey.
    auto checker = [](render::ITexture& texture) {
        int pitch = 0;
        uchar* bits = texture.GetBuffer(QSize(64, 64), pitch, false);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const quint32 c = (x + y) % 2 ? 0xFFFFFFFF : 0xFF000000;
                std::memcpy(bits + y * pitch + x * 4, &c, 4);
            }
        texture.Commit();
    };
    const render::TexturePtr sharp = device.CreateTexture(QSize(16, 16), false);
    const render::TexturePtr smooth = device.CreateTexture(QSize(16, 16), true);
    checker(*sharp);
    checker(*smooth);
    Begin();
    device.SetTexture(sharp, false);
    device.DrawQuad(QRectF(0, 0, 8, 8), sharp->GetSourceRect(), 0xFFFFFFFF, 0);
    device.SetTexture(smooth, true);
    device.DrawQuad(QRectF(16, 0, 8, 8), smooth->GetSourceRect(), 0xFFFFFFFF, 0);
    // Magnified two texels, black and white, blend bilinearly.
    const render::TexturePtr pair = device.CreateTexture(QSize(2, 1), true);
    int pitch = 0;
    uchar* bits = pair->GetBuffer(QSize(2, 1), pitch, false);
    const quint32 ends[2] = {0xFF000000, 0xFFFFFFFF};
    std::memcpy(bits, ends, 8);
    pair->Commit();
    device.SetTexture(pair, true);
    device.DrawQuad(QRectF(0, 32, 64, 8), pair->GetSourceRect(), 0xFFFFFFFF, 0);
    const QImage image = Capture();
    image.save(GAVEX_TEST_BINARY_DIR "/d3d_filters.png");
    const int sharpGrey = qGreen(image.pixel(3, 3));
    EXPECT_TRUE(sharpGrey == 0 || sharpGrey == 255) << sharpGrey;
    EXPECT_NEAR(qGreen(image.pixel(19, 3)), 128, 8);
    // The texture coordinates wrap: the gradient runs from the middle of the
    // black texel to the middle of the white one.
    EXPECT_LT(qGreen(image.pixel(20, 35)), qGreen(image.pixel(30, 35)));
    EXPECT_LT(qGreen(image.pixel(30, 35)), qGreen(image.pixel(40, 35)));
}

TEST_F(D3DDeviceTest, ANewSmoothFlagTakesEffectAtTheNextUpload)
{
    const render::TexturePtr texture = device.CreateTexture(QSize(16, 16), false);
    auto* ours = dynamic_cast<render::D3DTexture*>(texture.get());
    ASSERT_NE(ours, nullptr);
    FillQuadrants(*texture);
    Begin();
    device.SetTexture(texture, false);
    const d3d::TexturePtr first = ours->GetDeviceTexture(false);
    EXPECT_EQ(first->GetLevelCount(), 1);
    // The device takes the texture when it draws with it.
    device.SetTexture(texture, true);
    device.DrawQuad(QRectF(0, 0, 8, 8), texture->GetSourceRect(), 0xFFFFFFFF, 0);
    EXPECT_FALSE(ours->IsSmooth()) << "nothing pending: the flag stays";
    EXPECT_EQ(device.Device()->State().mipFilter, d3d::Filter::None);
    texture->Commit();
    device.SetTexture(texture, true);
    device.DrawQuad(QRectF(0, 0, 8, 8), texture->GetSourceRect(), 0xFFFFFFFF, 0);
    EXPECT_TRUE(ours->IsSmooth());
    EXPECT_GT(ours->GetDeviceTexture(true)->GetLevelCount(), 1);
    EXPECT_EQ(device.Device()->State().mipFilter, d3d::Filter::Linear);
    EXPECT_EQ(device.Device()->State().minFilter, d3d::Filter::Anisotropic);
}

TEST_F(D3DDeviceTest, ConvertedTexturesUploadOnlyTheFirstRectangleOfAnUpdate)
{
    const render::TexturePtr texture = device.CreateTexture(QSize(16, 16), true);
    QImage source(16, 16, QImage::Format_RGB32);
    source.fill(kGreen);
    const std::vector<QRect> rects{QRect(0, 0, 4, 4), QRect(8, 8, 4, 4)};
    texture->Update(source.constBits(), source.size(), source.bytesPerLine(), &rects);
    QImage read(16, 16, QImage::Format_RGB32);
    read.fill(0);
    texture->ReadPixels(QRect(0, 0, 16, 16), read.bits(), read.bytesPerLine());
    EXPECT_EQ(read.pixel(1, 1), kGreen);
    EXPECT_NE(read.pixel(9, 9), kGreen);
}

TEST_F(D3DDeviceTest, StripsAreClippedToTheViewport)
{
    Begin();
    device.SetViewport(QRect(16, 16, 32, 32));
    device.SetTexture(nullptr, false);
    // A strip reaching far outside the 32 x 32 viewport (coordinates are
    // relative to it).
    std::vector<render::MeshVertex> mesh(4);
    const double corners[4][2] = {{-100, -100}, {200, -100}, {-100, 200}, {200, 200}};
    for (int i = 0; i < 4; ++i) {
        mesh[i].values[0] = corners[i][0];
        mesh[i].values[1] = corners[i][1];
        mesh[i].values[2] = 1;
    }
    std::vector<std::uint8_t> bytes;
    device.ConvertVertices(mesh, bytes);
    ASSERT_EQ(bytes.size(), 4u * 24);
    device.DrawStrip(bytes.data(), static_cast<int>(bytes.size()));
    const QImage image = Capture();
    // Untextured strips take the vertex colour 0xFFFF00FF (magenta).
    EXPECT_EQ(image.pixel(16, 16), 0xFFFF00FFu);
    EXPECT_EQ(image.pixel(47, 47), 0xFFFF00FFu);
    EXPECT_EQ(image.pixel(15, 15), 0xFF000000u);
    EXPECT_EQ(image.pixel(48, 30), 0xFF000000u);
}

TEST_F(D3DDeviceTest, PushAndPopRestoreViewportAndTransforms)
{
    Begin();
    device.PushState();
    device.SetViewport(QRect(0, 0, 8, 8));
    render::Matrix4x4 shift{1, 0, 0, 100, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    device.SetTransform(shift, 0);
    device.PopState();
    device.DrawQuad(QRectF(0, 0, 64, 64), QRectF(), 0xFFFFFFFF, 0);
    const QImage image = Capture();
    EXPECT_EQ(image.pixel(60, 60), kWhite);
}

TEST_F(D3DDeviceTest, ALostDeviceIsResetAndTexturesReuploadWithoutTheProducer)
{
    const render::TexturePtr texture = device.CreateTexture(QSize(16, 16), false);
    const render::TexturePtr planar = device.CreateTexture(QSize(16, 16), true);
    FillQuadrants(*texture);
    int pitch = 0;
    uchar* bits = planar->GetBuffer(QSize(16, 16), pitch, true);
    std::memset(bits, 90, 16 * 16);
    std::memset(bits + 16 * 16, 128, 16 * 16 / 2);
    planar->Commit();
    auto draw = [&] {
        Begin();
        device.SetTexture(texture, false);
        device.DrawQuad(QRectF(0, 0, 32, 64), texture->GetSourceRect(), 0xFFFFFFFF, 0);
        device.SetTexture(planar, true);
        device.DrawQuad(QRectF(32, 0, 32, 64), planar->GetSourceRect(), 0xFFFFFFFF, 0);
        device.CopyToBackBuffer(QRect(0, 0, 64, 64));
        return Capture();
    };
    const QImage before = draw();
    EXPECT_TRUE(device.Present(QRect(0, 0, 64, 64)));

    // Lost and not yet resettable: Create changes nothing.
    device.Device()->LoseDevice(false);
    EXPECT_FALSE(device.Present(QRect(0, 0, 64, 64)));
    EXPECT_FALSE(device.IsReady());
    bool created = true;
    device.Create(nullptr, QSize(64, 64), created);
    EXPECT_FALSE(device.IsReady());
    EXPECT_TRUE(created) << "not written";
    QImage untouched(8, 8, QImage::Format_RGB32);
    untouched.fill(0xFF123456);
    device.ReadPixels(QRect(0, 0, 8, 8), untouched.bits(), untouched.bytesPerLine());
    EXPECT_EQ(untouched.pixel(3, 3), 0xFF123456u) << "not ready: nothing read";

    device.Device()->AllowReset();
    device.Create(nullptr, QSize(64, 64), created);
    ASSERT_TRUE(device.IsReady());
    EXPECT_FALSE(created);
    const QImage after = draw();
    EXPECT_EQ(after, before);
    EXPECT_TRUE(device.Present(QRect(0, 0, 64, 64)));
}

TEST(D3DDeviceLifetime, ATextureOutlivingItsDeviceMakesNothingThroughIt)
{
    render::TexturePtr texture;
    {
        D3DRendererDevice device;
        bool created = false;
        device.Create(nullptr, QSize(64, 64), created);
        texture = device.CreateTexture(QSize(16, 16), false);
        FillQuadrants(*texture);
    }
    texture->Commit();
    QImage read(4, 4, QImage::Format_RGB32);
    read.fill(0xFF123456);
    texture->ReadPixels(QRect(0, 0, 4, 4), read.bits(), read.bytesPerLine());
    EXPECT_EQ(read.pixel(0, 0), 0xFF123456u);
    EXPECT_FALSE(texture->SupportsPlanar());
}

// The render thread keeps presenting while the window it shows in is
// closed and destroyed on the GUI thread.
TEST(D3DDeviceLifetime, PresentingAfterTheWindowIsDestroyedTouchesNothingOfIt)
{
    static int argc = 1;
    static char name[] = "render";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        new QApplication(argc, argv);
    D3DRendererDevice device;
    auto window = std::make_unique<QWidget>();
    window->resize(64, 64);
    bool created = false;
    device.Create(window.get(), QSize(64, 64), created);
    ASSERT_TRUE(created);
    QCoreApplication::processEvents();
    device.BeginScene();
    device.EndScene();
    EXPECT_TRUE(device.Present(QRect(0, 0, 64, 64)));
    window.reset();
    // Fill the freed memory so a stale pointer into it would be followed.
    std::vector<std::unique_ptr<QWidget>> others;
    for (int i = 0; i < 8; ++i)
        others.push_back(std::make_unique<QWidget>());
    device.BeginScene();
    device.EndScene();
    EXPECT_TRUE(device.Present(QRect(0, 0, 64, 64)));
    QCoreApplication::processEvents();
}

// Whole passes of the renderer on this device, captured with RenderToImage.
class D3DRenderer : public render::BasicRenderer {
public:
    using BasicRenderer::BasicRenderer;
    ~D3DRenderer() override { Stop(); }

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
    void LoadResources() override {}
};

void RunCaptureCase(QWidget* window)
{
    auto device = boost::make_shared<D3DRendererDevice>();
    D3DRenderer renderer(device);
    renderer.Start(window, QRect(0, 0, 320, 160));
    auto rgb = boost::dynamic_pointer_cast<render::MediaSamplePin>(renderer.AddPin());
    auto yv12 = boost::dynamic_pointer_cast<render::MediaSamplePin>(renderer.AddPin());
    ASSERT_TRUE(rgb && yv12);
    rgb->SetRect(QRect(0, 0, 160, 160));
    yv12->SetRect(QRect(160, 0, 160, 160));

    int pitch = 0;
    uchar* bits = rgb->GetSample().GetBuffer(QSize(64, 64), pitch, false);
    ASSERT_NE(bits, nullptr);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const QRgb c = y < 32 ? (x < 32 ? kRed : kGreen) : (x < 32 ? kWhite : kBlue);
            std::memcpy(bits + y * pitch + x * 4, &c, 4);
        }
    rgb->GetSample().Commit();
    rgb->GetSample().SetTime(0);
    bits = yv12->GetSample().GetBuffer(QSize(64, 64), pitch, true);
    ASSERT_NE(bits, nullptr);
    std::memset(bits, 200, static_cast<std::size_t>(pitch) * 64);
    std::memset(bits + pitch * 64, 128, static_cast<std::size_t>(pitch) * 64 / 2);
    yv12->GetSample().Commit();
    yv12->GetSample().SetTime(0);
    rgb->OnSample();
    yv12->OnSample();

    QImage image;
    testsupport::RecordingDevice::WaitFor([&] {
        image = renderer.RenderToImage(QRect(0, 0, 320, 160));
        return !image.isNull() && image.pixel(20, 20) == kRed;
    });
    image.save(GAVEX_TEST_BINARY_DIR "/d3d_renderer.png");
    EXPECT_NEAR_RGB(image.pixel(20, 20), kRed, 8);
    EXPECT_NEAR_RGB(image.pixel(140, 20), kGreen, 8);
    EXPECT_NEAR_RGB(image.pixel(140, 140), kBlue, 8);
    EXPECT_NEAR_RGB(image.pixel(20, 140), kWhite, 8);
    EXPECT_NEAR_RGB(image.pixel(240, 80), Studio601(200, 128, 128), 8);
    // The presented front image holds the same scene once the pass that
    // served the capture has presented.
    const d3d::DevicePtr platform = device->Device();
    quint32 front = 0;
    testsupport::RecordingDevice::WaitFor([&] {
        std::lock_guard<std::mutex> lock(platform->FrontLock());
        std::memcpy(&front, platform->Front().data() + (20 * platform->FrontSize().width() + 20) * 4, 4);
        return Distance(front, kRed) <= 8;
    });
    EXPECT_NEAR_RGB(front, kRed, 8);
    if (window == nullptr)
        return;
    // The window shows what was presented (the last presents and paints may
    // still be on their way).
    const std::vector<QPoint> points{QPoint(20, 20), QPoint(140, 20), QPoint(140, 140), QPoint(20, 140),
                                     QPoint(240, 80)};
    QImage grabbed;
    testsupport::RecordingDevice::WaitFor([&] {
        QCoreApplication::processEvents();
        grabbed = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return std::all_of(points.begin(), points.end(),
                           [&](const QPoint& p) { return grabbed.pixel(p) == image.pixel(p); });
    });
    grabbed.save(GAVEX_TEST_BINARY_DIR "/d3d_window.png");
    for (const QPoint& p : points)
        EXPECT_EQ(grabbed.pixel(p), image.pixel(p)) << p.x() << "," << p.y();
}

TEST(D3DRendererCapture, RgbAndPlanarChannelsAreDrawnIntoTheirRectangles)
{
    RunCaptureCase(nullptr);
}

TEST(D3DRendererCapture, TheWindowPaintsWhatWasPresented)
{
    static int argc = 1;
    static char name[] = "test_render";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        new QApplication(argc, argv);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        GTEST_SKIP() << "another test of this process made a non-widget application";
    QWidget window;
    window.resize(320, 160);
    window.setAutoFillBackground(false);
    window.show();
    RunCaptureCase(&window);
}

}  // namespace
