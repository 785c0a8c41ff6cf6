// The OpenGL helpers in a software EGL context (Mesa's surfaceless platform,
// no display needed): the error check and the quad's corner mapping.

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <QString>
#include <QtGlobal>
#include <gtest/gtest.h>

#include "render/GLHelper.h"
#include "support/GraphicsDrivers.h"

namespace {

// A 2 x 2 pbuffer with a current compatibility context.
class GLContext : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto getDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getDisplay != nullptr)
            m_display = getDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (m_display == EGL_NO_DISPLAY || !eglInitialize(m_display, nullptr, nullptr))
            GTEST_SKIP() << "no software EGL display";
        const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                           EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
        EGLConfig config = nullptr;
        EGLint count = 0;
        ASSERT_TRUE(eglBindAPI(EGL_OPENGL_API));
        ASSERT_TRUE(eglChooseConfig(m_display, configAttributes, &config, 1, &count));
        ASSERT_EQ(count, 1);
        const EGLint surfaceAttributes[] = {EGL_WIDTH, 2, EGL_HEIGHT, 2, EGL_NONE};
        m_surface = eglCreatePbufferSurface(m_display, config, surfaceAttributes);
        ASSERT_NE(m_surface, EGL_NO_SURFACE);
        m_context = eglCreateContext(m_display, config, EGL_NO_CONTEXT, nullptr);
        ASSERT_NE(m_context, EGL_NO_CONTEXT);
        ASSERT_TRUE(eglMakeCurrent(m_display, m_surface, m_surface, m_context));
    }
    void TearDown() override
    {
        if (m_display == EGL_NO_DISPLAY)
            return;
        eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (m_context != EGL_NO_CONTEXT)
            eglDestroyContext(m_display, m_context);
        if (m_surface != EGL_NO_SURFACE)
            eglDestroySurface(m_display, m_surface);
        testsupport::KeepGraphicsDriversLoaded();
        eglTerminate(m_display);
    }

    EGLDisplay m_display = EGL_NO_DISPLAY;
    EGLSurface m_surface = EGL_NO_SURFACE;
    EGLContext m_context = EGL_NO_CONTEXT;
};

QString g_messages;

void Capture(QtMsgType, const QMessageLogContext&, const QString& text)
{
    g_messages += text;
}

TEST_F(GLContext, CheckErrorReportsPendingErrorsOnly)
{
    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(Capture);
    EXPECT_EQ(render::GLHelper::CheckError(), 0);
    EXPECT_TRUE(g_messages.isEmpty());
    glEnable(0x7FFF);  // not a capability: GL_INVALID_ENUM
    try {
        render::GLHelper::CheckError();
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "OpenGL error: 1280\r\n");
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_messages, "OpenGL error: 1280\r\n");
}

TEST_F(GLContext, DrawQuadTurnsTheTextureCornersCounterClockwise)
{
    // Texture rows top first: red, green / white, blue.
    const GLubyte texels[] = {255, 0, 0, 255, 0, 255, 0, 255, 255, 255, 255, 255, 0, 0, 255, 255};
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    glEnable(GL_TEXTURE_2D);
    glViewport(0, 0, 2, 2);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 2, 2, 0, -1, 1);  // y down
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    struct Case {
        int rotation;
        GLubyte topLeft[3], topRight[3], bottomLeft[3];
    };
    const Case cases[] = {
        {0, {255, 0, 0}, {0, 255, 0}, {255, 255, 255}},
        {90, {0, 255, 0}, {0, 0, 255}, {255, 0, 0}},
        {180, {0, 0, 255}, {255, 255, 255}, {0, 255, 0}},
        {270, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rotation);
        glClear(GL_COLOR_BUFFER_BIT);
        ASSERT_EQ(render::GLHelper::DrawQuad(QRectF(0, 0, 2, 2), QRectF(0, 0, 1, 1), 0xFFFFFFFFu,
                                             [](double u, double v) { glTexCoord2d(u, v); }, c.rotation),
                  0);
        GLubyte pixels[16] = {};
        glReadPixels(0, 0, 2, 2, GL_RGBA, GL_UNSIGNED_BYTE, pixels);  // bottom row first
        const GLubyte* topLeft = pixels + 8;
        const GLubyte* topRight = pixels + 12;
        const GLubyte* bottomLeft = pixels;
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(topLeft[k], c.topLeft[k]) << "top-left component " << k;
            EXPECT_EQ(topRight[k], c.topRight[k]) << "top-right component " << k;
            EXPECT_EQ(bottomLeft[k], c.bottomLeft[k]) << "bottom-left component " << k;
        }
    }
    glDeleteTextures(1, &texture);
}

}  // namespace
