#include "render/GLHelper.h"

#include <stdexcept>

#include <GL/gl.h>
#include <QDebug>
#include <boost/format.hpp>

namespace render {

int GLHelper::CheckError()
{
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR)
        return 0;
    const std::string text = (boost::format("OpenGL error: %1%\r\n") % error).str();
    qDebug().noquote() << QString::fromStdString(text);
    throw std::runtime_error(text);
}

int GLHelper::DrawQuad(const QRectF& target, const QRectF& texture, std::uint32_t colour,
                       const std::function<void(double u, double v)>& textureStep, int rotation)
{
    glColor4ub(static_cast<GLubyte>(colour & 0xFF), static_cast<GLubyte>((colour >> 8) & 0xFF),
               static_cast<GLubyte>((colour >> 16) & 0xFF), static_cast<GLubyte>((colour >> 24) & 0xFF));
    CheckError();
    const double x = target.x(), y = target.y(), w = target.width(), h = target.height();
    const double u = texture.x(), v = texture.y(), tw = texture.width(), th = texture.height();
    const double vertices[4][2] = {{x + w, y + h}, {x + w, y}, {x, y}, {x, y + h}};
    const double corners[4][2] = {{u + tw, v + th}, {u + tw, v}, {u, v}, {u, v + th}};
    const int r = ((rotation / 90) % 4 + 4) % 4;
    glBegin(GL_TRIANGLE_FAN);
    for (int j = 0, i = 4 - r; j < 4; ++j, ++i) {
        if (textureStep)
            textureStep(corners[i % 4][0], corners[i % 4][1]);
        glVertex2d(vertices[j][0], vertices[j][1]);
    }
    glEnd();
    return CheckError();
}

}  // namespace render
