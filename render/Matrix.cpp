#include "render/Matrix.h"

namespace render {

Matrix4x4 MakeBasisMatrix(const Vector4& t, const Vector4& a, const Vector4& b)
{
    const double cx = a[1] * b[2] - a[2] * b[1];
    const double cy = a[2] * b[0] - a[0] * b[2];
    const double cz = a[0] * b[1] - a[1] * b[0];
    return {a[0], a[1], a[2], t[0],  //
            b[0], b[1], b[2], t[1],  //
            cx,   cy,   cz,   t[2],  //
            0,    0,    0,    1};
}

Matrix4x4 MakeRotationMatrix(const Quaternion& q)
{
    const double x = q.x, y = q.y, z = q.z, w = q.w;
    return {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),     0,  //
            2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),     0,  //
            2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y), 0,  //
            0,                       0,                       0,                       1};
}

Matrix4x4 MakeOrthoMatrix(const Box& box, bool yDown)
{
    const double s = yDown ? -1.0 : 1.0;
    const double x = box.origin[0], y = box.origin[1], z = box.origin[2];
    const double w = box.size[0], h = box.size[1], d = box.size[2];
    return {2 / w, 0,         0,     -(2 * x + w) / w,      //
            0,     2 * s / h, 0,     -s * (2 * y + h) / h,  //
            0,     0,         2 / d, -(2 * z + d) / d,      //
            0,     0,         0,     1};
}

Matrix4x4 MakeFrustumMatrix(const Box& box, double distance)
{
    const double k = box.origin[2] / distance;
    const double l = box.origin[0] * k;
    const double r = (box.origin[0] + box.size[0]) * k;
    const double b = box.origin[1] * k;
    const double t = (box.origin[1] + box.size[1]) * k;
    const double n = box.origin[2];
    const double f = box.origin[2] + box.size[2];
    return {2 * n / (r - l), 0,               (r + l) / (r - l),  0,                      //
            0,               2 * n / (t - b), (t + b) / (t - b),  0,                      //
            0,               0,               -(f + n) / (f - n), -2 * f * n / (f - n),  //
            0,               0,               -1,                 0};
}

}  // namespace render
