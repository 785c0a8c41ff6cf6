#include "render/Dewarper.h"

#include <algorithm>
#include <cmath>

#include "platform/Panomorph.h"

namespace render {

namespace {

constexpr double kPi = 3.14159265358979323846;

Matrix4x4 Multiply(const Matrix4x4& a, const Matrix4x4& b)
{
    Matrix4x4 out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            double s = 0;
            for (int k = 0; k < 4; ++k)
                s += a[static_cast<std::size_t>(r * 4 + k)] * b[static_cast<std::size_t>(k * 4 + c)];
            out[static_cast<std::size_t>(r * 4 + c)] = s;
        }
    return out;
}

Quaternion AxisRotation(int axis, double angle)
{
    Quaternion q;
    const double s = std::sin(angle / 2);
    q.x = axis == 0 ? s : 0;
    q.y = axis == 1 ? s : 0;
    q.z = axis == 2 ? s : 0;
    q.w = std::cos(angle / 2);
    return q;
}

Quaternion Hamilton(const Quaternion& p, const Quaternion& q)
{
    Quaternion r;
    r.w = p.w * q.w - p.x * q.x - p.y * q.y - p.z * q.z;
    r.x = p.w * q.x + p.x * q.w + p.y * q.z - p.z * q.y;
    r.y = p.w * q.y - p.x * q.z + p.y * q.w + p.z * q.x;
    r.z = p.w * q.z + p.x * q.y - p.y * q.x + p.z * q.w;
    return r;
}

MeshVertex Vertex(double x, double y, double z, double u, double v)
{
    MeshVertex m;
    m.values[0] = x;
    m.values[1] = y;
    m.values[2] = z;
    m.values[4] = u;
    m.values[5] = v;
    return m;
}

// Appends a grid (rows + 1 lines of columns + 1 vertices) as strip runs: one
// run per row, its first and last vertex repeated so the joins degenerate.
void AppendStrips(std::vector<MeshVertex>& mesh, int rows, int columns,
                  const std::function<MeshVertex(int row, int column)>& at)
{
    for (int r = 0; r < rows; ++r) {
        mesh.push_back(at(r, 0));
        for (int c = 0; c <= columns; ++c) {
            mesh.push_back(at(r, c));
            mesh.push_back(at(r + 1, c));
        }
        mesh.push_back(at(r + 1, columns));
    }
}

}  // namespace

void Dewarper::Rebuild(const QImage& frame, IRendererDevice& device)
{
    meshes[0].clear();
    meshes[1].clear();
    const int result = Calibrate(frame);
    if (result < 1) {
        centreX = 0.5;
        centreY = 0.5;
        radiusY = 0.5;
        radiusX = EstimateRadiusX(frame);
    }
    if (result < 2) {
        BuildViewMesh();
        BuildPanoramaMesh();
    }
    for (std::size_t n = 0; n < 2; ++n)
        device.ConvertVertices(meshes[n], vertexBuffers[n]);
    rebuild = false;
}

int Dewarper::Calibrate(const QImage& frame)
{
    if (lens > 2 && BuildPanomorphMeshes(frame))
        return 2;
    if ((lens == 1 || lens == 2) && circle.width() > 0 && circle.height() > 0) {
        centreX = circle.x() + circle.width() / 2;
        centreY = circle.y() + circle.height() / 2;
        radiusX = circle.width() / 2;
        radiusY = circle.height() / 2;
        return 1;
    }
    if (lens != 2)
        return 0;
    const QImage grey = frame.convertToFormat(QImage::Format_Grayscale8);
    double cx = 0, cy = 0, radius = 0;
    int error = 1;
    platform::panomorph::DoFisheyeCalibrate(grey.width(), grey.height(), grey.bytesPerLine(), 0, grey.constBits(),
                                            &cx, &cy, &radius, &error);
    if (error != 0)
        return 0;
    centreX = cx;
    centreY = cy;
    radiusX = radius / grey.width();
    radiusY = radius / grey.height();
    return 1;
}

double Dewarper::EstimateRadiusX(const QImage& frame)
{
    const int width = frame.width(), height = frame.height();
    if (width < 1 || height < 1)
        return 0.5;
    const QImage rgb = frame.convertToFormat(QImage::Format_RGB32);
    const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(height / 2));
    auto lit = [](QRgb p) { return (qRed(p) + qGreen(p) + qBlue(p)) / 3 >= 20; };
    for (int i = 0; i < width / 2; ++i) {
        if (lit(row[i]) && lit(row[width - 1 - i])) {
            if (std::abs((width - 2.0 * i) - height) / height < 0.05)
                return height * 0.5 / width;
            return 0.5;
        }
    }
    return 0.5;
}

bool Dewarper::BuildPanomorphMeshes(const QImage& frame)
{
    namespace pm = platform::panomorph;
    const std::string code = PanomorphLensCode(lens);
    if (code.empty())
        return false;
    QImage input = frame.convertToFormat(QImage::Format_RGB32);
    std::vector<std::uint8_t> scratch(320u * 240u * 4u);
    pm::Buffer in{input.width(), input.height(), 0, 0, input.bytesPerLine() / 4, input.height(), input.bits()};
    pm::Buffer out{320, 240, 0, 0, 320, 240, scratch.data()};
    const int mount = position == 0 ? 1 : position == 1 ? 0 : 2;
    std::unique_ptr<pm::ICamera3D> camera = pm::CreateCamera3D();
    camera->SetLens(code);
    camera->SetVideoParams(in, out, 277, 0, mount);
    camera->GetACS();
    const pm::Vertex* vertices = nullptr;
    const unsigned* indices = nullptr;
    int count = 0, indexCount = 0;
    if (camera->GetPTZ3DModel(vertices, count, indices, indexCount) != 0)
        return false;
    const double w = input.width(), h = input.height();
    auto convert = [&](std::vector<MeshVertex>& mesh, const pm::Vertex* all, int total, const unsigned* list,
                       int n) {
        for (int i = 0; i < n; ++i) {
            if (list[i] >= static_cast<unsigned>(total))
                continue;  // an index past the model is no vertex
            const pm::Vertex& v = all[list[i]];
            mesh.push_back(Vertex(-v.x, -v.y, v.z, v.u / w, v.v / h));
        }
    };
    convert(meshes[0], vertices, count, indices, indexCount);
    const unsigned* indices1 = nullptr;
    const unsigned* indices2 = nullptr;
    if (camera->GetPerimetric3DModel(vertices, count, indices1, indices2, indexCount) == 0) {
        convert(meshes[1], vertices, count, indices1, indexCount);
        if (indices2 != nullptr)
            convert(meshes[1], vertices, count, indices2, indexCount);
        for (MeshVertex& m : meshes[1]) {
            m.values[0] = -1 - m.values[0];
            m.values[1] = -m.values[1];
            m.values[2] = 0;
        }
    }
    return true;
}

void Dewarper::BuildViewMesh()
{
    meshes[0].clear();
    AppendStrips(meshes[0], 64, 128, [this](int a, int b) {
        const double theta = a * kPi / 128, phi = b * kPi / 64;
        const double x = std::cos(phi) * std::sin(theta), y = -std::sin(phi) * std::sin(theta);
        const double z = -std::sqrt(std::max(0.0, 1 - x * x - y * y));
        const double r = 2 * theta / kPi;
        return Vertex(x, y, z, centreX + radiusX * r * std::cos(phi), centreY + radiusY * r * std::sin(phi));
    });
}

void Dewarper::BuildPanoramaMesh()
{
    meshes[1].clear();
    if (position == 1) {
        AppendStrips(meshes[1], 64, 128, [this](int a, int b) {
            const double e = (a / 16.0 - 2) / 3, f = std::sqrt(std::max(0.0, 1 - e * e));
            return Vertex(-b / 128.0, -a / 64.0, 0, centreX + radiusX * f * (1 - b / 64.0), centreY + radiusY * e);
        });
        return;
    }
    const double s = position == 0 ? 1 : -1;
    for (int k = 0; k < 2; ++k)
        AppendStrips(meshes[1], 64, 64, [this, s, k](int l, int m) {
            const double alpha = m * (kPi / 64) * s + k * kPi;
            const double rho = 0.625 - 0.375 * s + l * s * 3 / 256;
            return Vertex(-1 + m / 64.0, l / 128.0 - 0.5, 0, centreX + radiusX * rho * std::cos(alpha),
                          centreY + radiusY * rho * std::sin(alpha));
        });
}

ViewParameters Dewarper::ViewParams(const QRect& pin, const QRectF& view)
{
    ViewParameters p;
    // An empty pin has no shape: it is taken as square.
    const double a = std::max(1, pin.width()), b = std::max(1, pin.height());
    const bool wide = a / b >= b / a;
    const double main = wide ? a : b, other = wide ? b : a;
    const double zoom = view.width();
    const double mainFov = kPi / std::max(zoom, 1.5);
    const double tMain = std::tan(mainFov / 2);
    const double tOther = tMain / (main / other);
    const double otherFov = 2 * std::atan(tOther);
    p.k = zoom < 1.5 ? (1 - (zoom - 1) * 2) / tOther : 0;
    p.fovX = wide ? mainFov : otherFov;
    p.fovY = wide ? otherFov : mainFov;
    p.tx = wide ? tMain : tOther;
    p.ty = wide ? tOther : tMain;
    p.pan = view.x() + view.width() / 2 - 0.5;
    p.tilt = view.y() + view.height() / 2 - 0.5;
    return p;
}

double Dewarper::SphereAngle(double angle, double k)
{
    const double s = std::clamp(k * std::sin(angle), -1.0, 1.0);
    return std::clamp(angle + std::asin(s), -kPi / 2, kPi / 2);
}

double Dewarper::MountAngle() const
{
    return position == 0 ? kPi / 2 : position == 1 ? 0 : -kPi / 2;
}

Matrix4x4 Dewarper::ViewMatrix(const QRect& pin, const QRectF& view) const
{
    const ViewParameters p = ViewParams(pin, view);
    Box box;
    box.origin = {-p.tx, -p.ty, 0.1, 0};
    box.size = {2 * p.tx, 2 * p.ty, 5, 0};
    const Matrix4x4 f = MakeFrustumMatrix(box, 1);
    Matrix4x4 t{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, -p.k, 0, 0, 0, 1};
    const Quaternion q =
        Hamilton(Hamilton(AxisRotation(0, -p.tilt), AxisRotation(1, -p.pan)), AxisRotation(0, -MountAngle()));
    return Multiply(Multiply(f, t), MakeRotationMatrix(q));
}

QRectF Dewarper::ConstrainView(const QRect& pin, const QRectF& view) const
{
    const ViewParameters p = ViewParams(pin, view);
    double pan = p.pan, tilt = p.tilt;
    if (position == 1) {
        const double limit = kPi / 2 - SphereAngle(p.fovX / 2, p.k);
        pan = std::clamp(pan, -limit, std::max(-limit, limit));
    }
    const double f = SphereAngle(p.fovY / 2, p.k);
    if (position == 1)
        tilt = std::clamp(tilt, f - kPi / 2, std::max(f - kPi / 2, kPi / 2 - f));
    else if (position == 0)
        tilt = std::clamp(tilt, -kPi / 2, std::max(-kPi / 2, -f));
    else
        tilt = std::clamp(tilt, std::min(f, kPi / 2), kPi / 2);
    return view.translated(pan - p.pan, tilt - p.tilt);
}

QPointF Dewarper::MapPoint(const QPointF& point, const QRect& pin, const QRectF& view, double t) const
{
    const ViewParameters p = ViewParams(pin, view);
    const double width = std::max(1, pin.width()), height = std::max(1, pin.height());
    const double gx = (point.x() - (pin.left() + pin.right()) / 2 + pin.left()) / width * 2 * p.tx;
    const double gy = (point.y() - (pin.top() + pin.bottom()) / 2 + pin.top()) / height * 2 * p.ty;
    const double m = std::sqrt(gx * gx + gy * gy);
    // The view's centre looks straight ahead.
    double a = 0, b = 0;
    if (m > 0) {
        const double s = std::sin(SphereAngle(std::atan(m), p.k));
        a = s * gx / m;
        b = -s * gy / m;
    }
    const double d = -std::sqrt(std::max(0.0, 1 - a * a - b * b));
    const Matrix4x4 r = MakeRotationMatrix(Quaternion{std::sin(p.tilt / 2), 0, 0, std::cos(p.tilt / 2)});
    const double j = r[0] * a + r[1] * b + r[2] * d;
    const double k = r[4] * a + r[5] * b + r[6] * d;
    const double l = r[8] * a + r[9] * b + r[10] * d;
    const double latitude = -std::asin(std::clamp(k, -1.0, 1.0));
    const double longitude = std::abs(j) + std::abs(l) > 1e-6 ? std::atan2(j, -l) : 0;
    const double ax = SphereAngle(std::atan(gx), p.k), ay = SphereAngle(std::atan(gy), p.k);
    return QPointF((1 - t) * longitude + t * ax - p.pan, t * (ay - p.tilt) + (1 - t) * latitude);
}

QRectF Dewarper::ZoomSearch(const QRect& pin, const QRectF& view, const QSizeF& size, const QPointF& from,
                            const QPointF& to,
                            const std::function<QPointF(const QPointF&, const QRectF&)>& map) const
{
    const QPointF a = map(from, view);
    QRectF r(0, 0, size.width(), size.height());
    QPointF d = view.center() - QPointF(size.width() / 2, size.height() / 2);
    for (int i = 0; i < 10 && std::abs(d.x()) + std::abs(d.y()) > 1e-4; ++i) {
        const QRectF candidate = ConstrainView(pin, r.translated(d));
        const QPointF b = map(to, candidate);
        r.translate(d);
        d = b - a;
    }
    return r;
}

}  // namespace render
