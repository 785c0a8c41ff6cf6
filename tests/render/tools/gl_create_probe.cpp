// Makes the OpenGL device for a window, directly and through the renderer,
// and prints how each attempt ended. Run where no OpenGL context can be made.

#include <cstdio>
#include <exception>

#include <QApplication>
#include <QWidget>
#include <boost/make_shared.hpp>

#include "render/OGLRendererDevice.h"
#include "render/Renderer.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.resize(64, 64);
    render::OGLRendererDevice::PrepareGLWindow(&window);
    {
        render::OGLRendererDevice device;
        bool created = false;
        try {
            device.Create(&window, QSize(64, 64), created);
            std::printf("create: succeeded\n");
        } catch (const std::exception& e) {
            std::printf("create: %s\n", e.what());
        }
        std::printf("ready: %d\n", device.IsReady() ? 1 : 0);
    }
    render::Renderer renderer(boost::make_shared<render::OGLRendererDevice>());
    bool failed = false;
    renderer.DeviceError.connect([&] { failed = true; });
    renderer.Start(&window, QRect(0, 0, 64, 64));
    std::printf("renderer: %s\n", failed && !renderer.IsRunning() ? "device error, stopped" : "running");
    renderer.Stop();
    std::fflush(stdout);
    return 0;
}
