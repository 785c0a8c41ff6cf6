#pragma once
// 4x4 matrices of the devices' transforms: row-major doubles (row r, column c
// at r * 4 + c) used with column vectors (v' = M v), so a translation sits in
// the last column.

#include <array>

namespace render {

using Matrix4x4 = std::array<double, 16>;
// x, y, z and a fourth component that the constructors do not read.
using Vector4 = std::array<double, 4>;

struct Box {
    Vector4 origin{};
    Vector4 size{};
};

struct Quaternion {
    double x = 0, y = 0, z = 0, w = 1;
};

// Rows (a, t.x), (b, t.y), (a x b, t.z), (0, 0, 0, 1).
Matrix4x4 MakeBasisMatrix(const Vector4& translation, const Vector4& a, const Vector4& b);
// Rotation of a unit quaternion.
Matrix4x4 MakeRotationMatrix(const Quaternion& q);
// Maps the box onto -1..1 in each axis; with yDown, y grows downwards on the
// screen (the box's top maps to +1).
Matrix4x4 MakeOrthoMatrix(const Box& box, bool yDown);
// Perspective projection whose visible window at `distance` is the box,
// scaled onto the near plane (box z); the far plane is z + depth.
Matrix4x4 MakeFrustumMatrix(const Box& box, double distance);

}  // namespace render
