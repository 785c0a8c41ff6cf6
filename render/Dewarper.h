#pragma once
// Fisheye dewarping of a channel: the view mesh (a hemisphere seen from
// inside, display mode 0) and the panorama mesh (the image circle unrolled,
// display mode 1), built from a frame, with the view's projection and the
// mapping of pin points into it.
//
// Lens: 0 none; 1 fisheye, circle from the settings or else estimated; 2
// fisheye, circle from the settings or else found by calibration; 3 and up
// the panomorph lens shown at that place of the settings list. Position 0,
// 1, 2: ceiling, wall, floor mount.
//
// Rebuild and ViewMatrix run on the render thread; ConstrainView, MapPoint
// and ZoomSearch read only lens, position and their arguments.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRectF>

#include "render/Lenses.h"
#include "render/Matrix.h"
#include "render/RendererDevice.h"

namespace render {

struct ViewParameters {
    double fovX = 0, fovY = 0, tx = 0, ty = 0, pan = 0, tilt = 0, k = 0;
};

class Dewarper {
public:
    int lens = 0;
    int position = 0;
    QRectF circle;
    double centreX = 0.5, centreY = 0.5;
    double radiusX = 0.5, radiusY = 0.5;
    std::array<std::vector<MeshVertex>, 2> meshes;
    std::array<std::vector<std::uint8_t>, 2> vertexBuffers;
    bool rebuild = true;

    // Builds both meshes from a frame (QImage::Format_RGB32) and converts
    // them with the device.
    void Rebuild(const QImage& frame, IRendererDevice& device);
    Matrix4x4 ViewMatrix(const QRect& pin, const QRectF& view) const;
    QRectF ConstrainView(const QRect& pin, const QRectF& view) const;
    QPointF MapPoint(const QPointF& point, const QRect& pin, const QRectF& view, double t) const;
    // The view rectangle of `size` that shows at the mapped `to` what `view`
    // shows at `from`; map gives a pin point's frame position for a view.
    QRectF ZoomSearch(const QRect& pin, const QRectF& view, const QSizeF& size, const QPointF& from,
                      const QPointF& to, const std::function<QPointF(const QPointF&, const QRectF&)>& map) const;

    // Steps of Rebuild, exposed for their own checks.
    int Calibrate(const QImage& frame);
    static double EstimateRadiusX(const QImage& frame);
    bool BuildPanomorphMeshes(const QImage& frame);
    void BuildViewMesh();
    void BuildPanoramaMesh();
    static ViewParameters ViewParams(const QRect& pin, const QRectF& view);
    static double SphereAngle(double angle, double k);
    double MountAngle() const;
};

}  // namespace render
