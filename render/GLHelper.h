#pragma once
// OpenGL helpers of the OpenGL device. They run on the thread whose context is
// current (the render thread).

#include <cstdint>
#include <functional>

#include <QRectF>

namespace render {

class GLHelper {
public:
    // 0 when OpenGL reports no error; otherwise writes "OpenGL error: <code>"
    // to Qt's debug output and throws std::runtime_error with that text.
    static int CheckError();
    // Draws target as a triangle fan with the texture rectangle's corners,
    // turned by rotation (0, 90, 180, 270): the target's top-left shows the
    // texture corner rotation / 90 places further clockwise. colour is
    // 0xAABBGGRR. textureStep, when given, sets each vertex's texture
    // coordinate.
    static int DrawQuad(const QRectF& target, const QRectF& texture, std::uint32_t colour,
                        const std::function<void(double u, double v)>& textureStep, int rotation);
};

}  // namespace render
