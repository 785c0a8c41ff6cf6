// Fisheye dewarping: circles from settings, calibration and the middle-row
// estimate, the built-in meshes, view parameters and limits, point mapping,
// and panomorph meshes from a stand-in library.

#include <cmath>

#include <QPainter>
#include <gtest/gtest.h>

#include "platform/Panomorph.h"
#include "render/D3DRendererDevice.h"
#include "render/Dewarper.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A 1280 x 960 frame: a lit disc 960 pixels across in the middle, black
// around it.
QImage DiscFrame()
{
    QImage frame(1280, 960, QImage::Format_RGB32);
    frame.fill(Qt::black);
    QPainter painter(&frame);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(120, 120, 120));
    painter.drawEllipse(QRectF(160, 0, 960, 960));
    return frame;
}

TEST(DewarperCircle, SettingsCircleCalibrationAndEstimate)
{
    render::D3DRendererDevice device;
    const QImage frame = DiscFrame();
    EXPECT_NEAR(render::Dewarper::EstimateRadiusX(frame), 0.375, 0.002);

    render::Dewarper fromSettings;
    fromSettings.lens = 1;
    fromSettings.circle = QRectF(0.1, 0.0, 0.8, 1.0);
    fromSettings.Rebuild(frame, device);
    EXPECT_DOUBLE_EQ(fromSettings.centreX, 0.5);
    EXPECT_DOUBLE_EQ(fromSettings.centreY, 0.5);
    EXPECT_DOUBLE_EQ(fromSettings.radiusX, 0.4);
    EXPECT_DOUBLE_EQ(fromSettings.radiusY, 0.5);
    EXPECT_FALSE(fromSettings.rebuild);

    // Lens 1 without a circle: the estimate; lens 2: the calibration finds
    // the same disc.
    for (int lens : {1, 2}) {
        SCOPED_TRACE(lens);
        render::Dewarper d;
        d.lens = lens;
        d.centreX = d.centreY = 0.1;
        d.Rebuild(frame, device);
        EXPECT_NEAR(d.centreX, 0.5, 0.002);
        EXPECT_NEAR(d.centreY, 0.5, 0.002);
        EXPECT_NEAR(d.radiusX, 0.375, 0.002);
        EXPECT_NEAR(d.radiusY, 0.5, 0.002);
    }

    // A dark frame: calibration fails, the estimate finds no rim.
    QImage dark(64, 48, QImage::Format_RGB32);
    dark.fill(qRgb(10, 10, 10));
    render::Dewarper d;
    d.lens = 2;
    d.Rebuild(dark, device);
    EXPECT_DOUBLE_EQ(d.radiusX, 0.5);
    EXPECT_DOUBLE_EQ(d.centreX, 0.5);
}

TEST(DewarperCircle, CalibrationReportsAnUnlitFrame)
{
    std::vector<std::uint8_t> pixels(16 * 8, 19);
    double cx = 0, cy = 0, radius = 0;
    int error = 0;
    platform::panomorph::DoFisheyeCalibrate(16, 8, 16, 0, pixels.data(), &cx, &cy, &radius, &error);
    EXPECT_NE(error, 0);
    pixels[3 * 16 + 4] = 20;
    platform::panomorph::DoFisheyeCalibrate(16, 8, 16, 0, pixels.data(), &cx, &cy, &radius, &error);
    EXPECT_EQ(error, 0);
    EXPECT_DOUBLE_EQ(cx, 4.5 / 16);
    EXPECT_DOUBLE_EQ(cy, 3.5 / 8);
    EXPECT_DOUBLE_EQ(radius, 0.5);
}

TEST(DewarperMeshes, GridsAreLaidOutAsDegenerateStripRuns)
{
    struct Case {
        int position;
        std::size_t view, panorama;
    };
    for (const Case& c : {Case{0, 16640, 16896}, Case{1, 16640, 16640}, Case{2, 16640, 16896}}) {
        SCOPED_TRACE(c.position);
        render::Dewarper d;
        d.position = c.position;
        d.BuildViewMesh();
        d.BuildPanoramaMesh();
        ASSERT_EQ(d.meshes[0].size(), c.view);
        ASSERT_EQ(d.meshes[1].size(), c.panorama);
        // Each run starts with a copy of its first vertex and ends with a
        // copy of its last.
        const auto& v = d.meshes[0];
        EXPECT_EQ(v[0].values[0], v[1].values[0]);
        EXPECT_EQ(v[258].values[1], v[259].values[1]);
        // The view mesh's pole looks at the circle's centre; its rim at 90
        // degrees reaches the circle.
        EXPECT_DOUBLE_EQ(v[1].values[4], 0.5);
        EXPECT_DOUBLE_EQ(v[1].values[2], -1);
        const auto& last = v.back();
        EXPECT_NEAR(std::hypot(last.values[4] - 0.5, last.values[5] - 0.5), 0.5, 1e-9);
    }
}

TEST(DewarperView, ParametersFollowZoomAndPinShape)
{
    const render::ViewParameters p = render::Dewarper::ViewParams(QRect(0, 0, 640, 480), QRectF(0, 0, 1, 1));
    EXPECT_NEAR(p.fovX, 2 * kPi / 3, 1e-12);
    EXPECT_NEAR(p.tx, std::tan(kPi / 3), 1e-12);
    EXPECT_NEAR(p.ty, p.tx * 3 / 4, 1e-12);
    EXPECT_NEAR(p.k, 1 / p.ty, 1e-12);
    EXPECT_NEAR(p.k, 0.770, 0.001);
    EXPECT_DOUBLE_EQ(p.pan, 0);
    const render::ViewParameters zoomed =
        render::Dewarper::ViewParams(QRect(0, 0, 640, 480), QRectF(0.1, 0.2, 2, 2));
    EXPECT_DOUBLE_EQ(zoomed.k, 0);
    EXPECT_NEAR(zoomed.fovX, kPi / 2, 1e-12);
    EXPECT_NEAR(zoomed.pan, 0.6, 1e-12);
    EXPECT_NEAR(zoomed.tilt, 0.7, 1e-12);
    // A portrait pin takes its height as the main axis.
    const render::ViewParameters tall = render::Dewarper::ViewParams(QRect(0, 0, 300, 600), QRectF(0, 0, 2, 2));
    EXPECT_NEAR(tall.fovY, kPi / 2, 1e-12);
    EXPECT_NEAR(tall.tx, tall.ty / 2, 1e-12);
}

TEST(DewarperView, MountsLimitTheTilt)
{
    const QRect pin(0, 0, 640, 480);
    for (double y : {-10.0, 10.0}) {
        SCOPED_TRACE(y);
        const QRectF view(0, y, 2, 2);
        const render::ViewParameters p = render::Dewarper::ViewParams(pin, view);
        const double f = render::Dewarper::SphereAngle(p.fovY / 2, p.k);
        render::Dewarper ceiling;
        ceiling.position = 0;
        const double t0 = render::Dewarper::ViewParams(pin, ceiling.ConstrainView(pin, view)).tilt;
        EXPECT_LE(t0, -f + 1e-9);
        EXPECT_GE(t0, -kPi / 2 - 1e-9);
        render::Dewarper floor;
        floor.position = 2;
        const double t2 = render::Dewarper::ViewParams(pin, floor.ConstrainView(pin, view)).tilt;
        EXPECT_GE(t2, f - 1e-9);
        render::Dewarper wall;
        wall.position = 1;
        const QRectF kept = wall.ConstrainView(pin, QRectF(10, y, 2, 2));
        const render::ViewParameters w = render::Dewarper::ViewParams(pin, kept);
        EXPECT_LE(std::abs(w.tilt), kPi / 2 - f + 1e-9);
        EXPECT_LE(std::abs(w.pan), kPi / 2 - render::Dewarper::SphereAngle(w.fovX / 2, w.k) + 1e-9);
    }
}

TEST(DewarperView, TheViewCentreMapsStraightAheadAndMatricesAreFinite)
{
    render::Dewarper d;
    d.position = 1;
    const QRect pin(0, 0, 641, 481);
    const QRectF view(0, 0, 1, 1);
    // (left + right) / 2 of 0..640 is 320: the centre.
    for (double t : {0.0, 0.5, 1.0}) {
        const QPointF p = d.MapPoint(QPointF(320, 240), pin, view, t);
        EXPECT_NEAR(p.x(), 0, 1e-12) << t;
        EXPECT_NEAR(p.y(), 0, 1e-12) << t;
    }
    const QPointF right = d.MapPoint(QPointF(600, 240), pin, view, 0);
    EXPECT_GT(right.x(), 0);
    for (const QRect& r : {pin, QRect(0, 0, 0, 0)})
        for (double value : d.ViewMatrix(r, view))
            EXPECT_TRUE(std::isfinite(value));
}

// A panomorph library with a three-vertex model.
class TinyCamera : public platform::panomorph::ICamera3D {
public:
    static inline std::string lensSet;
    static inline int mountSet = -1;
    static inline bool perimetricFails = false;

    int SetLens(const std::string& code) override
    {
        lensSet = code;
        return 0;
    }
    int SetVideoParams(const platform::panomorph::Buffer& in, const platform::panomorph::Buffer&, int, int,
                       int mount) override
    {
        mountSet = mount;
        return in.width == 100 ? 0 : -1;
    }
    int GetACS() override { return 0; }
    int GetPTZ3DModel(const platform::panomorph::Vertex*& vertices, int& count, const unsigned*& indices,
                      int& indexCount) override
    {
        vertices = m_vertices;
        count = 3;
        indices = m_order;
        indexCount = 3;
        return 0;
    }
    int GetPerimetric3DModel(const platform::panomorph::Vertex*& vertices, int& count, const unsigned*& indices1,
                             const unsigned*& indices2, int& indexCount) override
    {
        if (perimetricFails)
            return -1;
        vertices = m_vertices;
        count = 3;
        indices1 = m_order;
        indices2 = m_first;
        indexCount = 1;
        return 0;
    }

private:
    platform::panomorph::Vertex m_vertices[3] = {{1, 2, 3, 50, 25}, {-1, 0, 0.5f, 0, 0}, {0.25f, -0.5f, 1, 100, 50}};
    unsigned m_order[3] = {2, 0, 1};
    unsigned m_first[1] = {0};
};

class PanomorphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::panomorph::SetCamera3DFactory([] { return std::make_unique<TinyCamera>(); });
        TinyCamera::perimetricFails = false;
    }
    void TearDown() override { platform::panomorph::SetCamera3DFactory(nullptr); }
};

TEST_F(PanomorphTest, TheLibraryModelBecomesBothMeshes)
{
    render::D3DRendererDevice device;
    render::Dewarper d;
    d.lens = 3;
    d.position = 0;
    QImage frame(100, 50, QImage::Format_RGB32);
    frame.fill(Qt::white);
    d.Rebuild(frame, device);
    EXPECT_EQ(TinyCamera::lensSet, "A1UST") << "lens 3 is the first code the settings offer";
    EXPECT_EQ(TinyCamera::mountSet, 1);
    ASSERT_EQ(d.meshes[0].size(), 3u);
    const double* v = d.meshes[0][0].values;  // library vertex 2
    EXPECT_DOUBLE_EQ(v[0], -0.25);
    EXPECT_DOUBLE_EQ(v[1], 0.5);
    EXPECT_DOUBLE_EQ(v[2], 1);
    EXPECT_DOUBLE_EQ(v[4], 1);
    EXPECT_DOUBLE_EQ(v[5], 1);
    // The panorama: list 1 then list 2, one index each, at (x - 1, y, 0).
    ASSERT_EQ(d.meshes[1].size(), 2u);
    EXPECT_DOUBLE_EQ(d.meshes[1][0].values[0], 0.25 - 1);
    EXPECT_DOUBLE_EQ(d.meshes[1][0].values[1], -0.5);
    EXPECT_DOUBLE_EQ(d.meshes[1][0].values[2], 0);
    EXPECT_DOUBLE_EQ(d.meshes[1][1].values[0], 0);
    EXPECT_DOUBLE_EQ(d.meshes[1][1].values[4], 0.5);
    EXPECT_EQ(d.vertexBuffers[0].size(), 3u * 24);
    EXPECT_EQ(d.vertexBuffers[1].size(), 2u * 24);

    TinyCamera::perimetricFails = true;
    d.Rebuild(frame, device);
    EXPECT_EQ(d.meshes[0].size(), 3u);
    EXPECT_TRUE(d.meshes[1].empty()) << "the panorama stays empty";
}

TEST_F(PanomorphTest, WithoutTheLibraryTheBuiltInMeshesTakeOver)
{
    platform::panomorph::SetCamera3DFactory(nullptr);
    render::D3DRendererDevice device;
    render::Dewarper d;
    d.lens = 4;
    d.Rebuild(DiscFrame(), device);
    EXPECT_EQ(d.meshes[0].size(), 16640u);
    EXPECT_NEAR(d.radiusX, 0.375, 0.002);
    // A lens value past the list is no panomorph lens either.
    render::Dewarper past;
    past.lens = 3 + 7;
    past.Rebuild(DiscFrame(), device);
    EXPECT_EQ(past.meshes[0].size(), 16640u);
}

}  // namespace
