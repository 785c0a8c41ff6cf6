// Presented frames per second of both devices on a private X server with
// Mesa's software OpenGL: 1, 4 and 16 channels of 1080p YV12, each frame
// committed again (so each is uploaded or converted), drawn into a grid over
// a 1920 x 1080 window and presented, then one pixel read back so that the
// pass has finished. The reference, run alongside in the same process and
// iteration on a window of its own, is a minimal OpenGL loop: per channel
// three plane uploads (glTexSubImage2D) and one textured quad, a swap, then
// the same one-pixel read. Counter "ratio" is ours / reference time (below
// 1: ours is faster), with "ratio_min" and "ratio_median" over the
// iterations' pairs; "fps" and "reference_fps" are presented frames per
// second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <GL/gl.h>
#include <QApplication>
#include <QOpenGLContext>
#include <QWidget>
#include <QWindow>

#include "bench/support/BenchFiles.h"
#include "bench/support/PairRatios.h"
#include "render/D3DRendererDevice.h"
#include "render/OGLRendererDevice.h"
#include "support/Xvfb.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

using Clock = std::chrono::steady_clock;

bool StartDisplay()
{
    static std::unique_ptr<testsupport::Xvfb> server;
    if (QCoreApplication::instance() != nullptr)
        return true;
    server = std::make_unique<testsupport::Xvfb>();
    if (server->Display().empty())
        return false;
    setenv("DISPLAY", server->Display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "bench_render";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    return true;
}

void FillPlanes(std::uint8_t* bits, int pitch, int seed)
{
    benchfiles::FillTestPlanes(bits, pitch, kWidth, kHeight, seed);
}

// Three luminance textures per channel, uploaded whole each pass, and one
// quad showing the luma.
class ReferenceLoop {
public:
    ReferenceLoop(int channels, const std::vector<std::uint8_t>& planes)
        : m_channels(channels), m_planes(planes)
    {
        m_window.resize(kWidth, kHeight);
        render::OGLRendererDevice::PrepareGLWindow(&m_window);
        m_window.show();
        m_context.setFormat(m_window.windowHandle()->requestedFormat());
        m_ok = m_context.create() && m_context.makeCurrent(m_window.windowHandle());
        if (!m_ok)
            return;
        m_names.resize(static_cast<std::size_t>(channels) * 3);
        glGenTextures(static_cast<GLsizei>(m_names.size()), m_names.data());
        for (std::size_t i = 0; i < m_names.size(); ++i) {
            const int d = i % 3 == 0 ? 1 : 2;
            glBindTexture(GL_TEXTURE_2D, m_names[i]);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, kWidth / d, kHeight / d, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE,
                         nullptr);
        }
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    }
    bool Ok() const { return m_ok; }

    void Pass()
    {
        m_context.makeCurrent(m_window.windowHandle());
        glViewport(0, 0, kWidth, kHeight);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, kWidth, kHeight, 0, -1, 1);
        glEnable(GL_TEXTURE_2D);
        const int side = static_cast<int>(std::lround(std::sqrt(m_channels)));
        const int cellW = kWidth / side, cellH = kHeight / side;
        const std::uint8_t* y = m_planes.data();
        const std::uint8_t* planes[3] = {y, y + kWidth * kHeight, y + kWidth * kHeight * 5 / 4};
        for (int c = 0; c < m_channels; ++c) {
            for (int p = 2; p >= 0; --p) {
                const int d = p == 0 ? 1 : 2;
                glBindTexture(GL_TEXTURE_2D, m_names[static_cast<std::size_t>(c * 3 + p)]);
                glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kWidth / d, kHeight / d, GL_LUMINANCE, GL_UNSIGNED_BYTE,
                                planes[p]);
            }
            const double x = c % side * cellW, top = c / side * cellH;
            glBegin(GL_TRIANGLE_FAN);
            glTexCoord2d(0, 0);
            glVertex2d(x, top);
            glTexCoord2d(1, 0);
            glVertex2d(x + cellW, top);
            glTexCoord2d(1, 1);
            glVertex2d(x + cellW, top + cellH);
            glTexCoord2d(0, 1);
            glVertex2d(x, top + cellH);
            glEnd();
        }
        // Shown as the device shows it: the window is double buffered.
        m_context.swapBuffers(m_window.windowHandle());
        std::uint32_t pixel = 0;
        glReadPixels(0, 0, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &pixel);
        benchmark::DoNotOptimize(pixel);
    }

private:
    QWidget m_window;
    QOpenGLContext m_context;
    const int m_channels;
    const std::vector<std::uint8_t>& m_planes;
    std::vector<GLuint> m_names;
    bool m_ok = false;
};

// device: 0 OpenGL, 1 software Direct3D.
void BM_DevicePresent_vs_GLLoop(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    const int channels = static_cast<int>(state.range(1));
    if (!StartDisplay()) {
        state.SkipWithError("no X server");
        return;
    }
    const int side = static_cast<int>(std::lround(std::sqrt(channels)));
    const int cellW = kWidth / side, cellH = kHeight / side;

    std::vector<std::uint8_t> planes(static_cast<std::size_t>(kWidth) * kHeight * 3 / 2);
    FillPlanes(planes.data(), kWidth, 5);
    ReferenceLoop reference(channels, planes);
    if (!reference.Ok()) {
        state.SkipWithError("no OpenGL context for the reference");
        return;
    }

    QWidget window;
    window.resize(kWidth, kHeight);
    std::shared_ptr<render::IRendererDevice> device;
    render::OGLRendererDevice* gl = nullptr;
    if (kind == 0) {
        auto made = std::make_shared<render::OGLRendererDevice>();
        gl = made.get();
        device = made;
        render::OGLRendererDevice::PrepareGLWindow(&window);
        window.show();
    } else {
        device = std::make_shared<render::D3DRendererDevice>();
    }
    bool created = false;
    try {
        device->Create(kind == 0 ? &window : nullptr, QSize(kWidth, kHeight), created);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    std::vector<render::TexturePtr> textures;
    for (int c = 0; c < channels; ++c) {
        textures.push_back(device->CreateTexture(QSize(16, 16), false));
        int pitch = 0;
        std::uint8_t* bits = textures.back()->GetBuffer(QSize(kWidth, kHeight), pitch, true);
        if (bits == nullptr) {
            state.SkipWithError("the device takes no planar frames");
            return;
        }
        FillPlanes(bits, pitch, c * 17);
    }
    const QRect whole(0, 0, kWidth, kHeight);

    double oursSeconds = 0, referenceSeconds = 0;
    benchfiles::PairRatios ratios;
    for (auto _ : state) {
        const auto a = Clock::now();
        if (gl != nullptr)
            gl->Context()->makeCurrent(window.windowHandle());
        device->BeginScene();
        device->SetViewport(whole);
        device->SetBlendMode(0);
        for (int c = 0; c < channels; ++c) {
            const render::TexturePtr& texture = textures[static_cast<std::size_t>(c)];
            texture->Commit();
            device->SetTexture(texture, false);
            device->DrawQuad(QRectF(c % side * cellW, c / side * cellH, cellW, cellH), texture->GetSourceRect(),
                             0xFFFFFFFF, 0);
        }
        device->SetTexture(render::TexturePtr(), false);
        device->EndScene();
        device->CopyToBackBuffer(whole);
        device->Present(whole);
        std::uint32_t pixel = 0;
        device->ReadPixels(QRect(0, 0, 1, 1), reinterpret_cast<uchar*>(&pixel), 4);
        benchmark::DoNotOptimize(pixel);
        const auto b = Clock::now();
        reference.Pass();
        const auto c = Clock::now();
        const double seconds = std::chrono::duration<double>(b - a).count();
        oursSeconds += seconds;
        referenceSeconds += std::chrono::duration<double>(c - b).count();
        ratios.Add(seconds, std::chrono::duration<double>(c - b).count());
        state.SetIterationTime(seconds);
    }
    textures.clear();
    const double n = static_cast<double>(state.iterations());
    state.counters["fps"] = benchmark::Counter(oursSeconds > 0 ? n / oursSeconds : 0);
    state.counters["reference_fps"] = benchmark::Counter(referenceSeconds > 0 ? n / referenceSeconds : 0);
    state.counters["ratio"] = benchmark::Counter(referenceSeconds > 0 ? oursSeconds / referenceSeconds : 0);
    ratios.Report(state);
}
BENCHMARK(BM_DevicePresent_vs_GLLoop)
    ->ArgNames({"d3d", "channels"})
    ->ArgsProduct({{0, 1}, {1, 4, 16}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
