// Presented frames per second and process CPU while 1, 4 and 16 channels of
// 1080p H.264 play in the main window on a virtual X server (the software
// Direct3D device painting into the window), beside the same channels played
// by the same controller, layer and grid on the null device (no pixels
// drawn or shown). The difference is what displaying costs.
//
// Counters:
//   window_fps  presents per second in the window
//   null_fps    presents per second on the null device
//   window_cpu  process CPU time per wall second while playing in the window
//   null_cpu    the same on the null device
//   ratio       window_fps / null_fps (the share of frames the window keeps)
//   cpu_ratio   window_cpu / null_cpu (the display overhead)
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QWidget>
#include <boost/make_shared.hpp>

#include "config/QApplicationSettings.h"
#include "config/StartOptions.h"
#include "app/windows/QControlsGuiLayer.h"
#include "app/windows/QMainWnd.h"
#include "media/SourceConfiguration.h"
#include "playback/PlayersController.h"
#include "render/D3DRendererDevice.h"
#include "render/NullRendererDevice.h"
#include "bench/support/BenchFiles.h"
#include "support/MediaFiles.h"
#include "support/SilentSink.h"
#include "app/windows/XvfbDisplay.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPlaySeconds = 3;

using NoSound = testsupport::SilentSink;

std::atomic<int> g_presents{0};

class CountingD3D final : public render::D3DRendererDevice {
public:
    bool Present(const QRect& rect) override
    {
        ++g_presents;
        return D3DRendererDevice::Present(rect);
    }
};

class CountingNull final : public render::NullRendererDevice {
public:
    bool Present(const QRect& rect) override
    {
        ++g_presents;
        return NullRendererDevice::Present(rect);
    }
};

// Folders "1", "4" and "16" of copies of one 8 s 1080p H.264 file.
const fs::path& Files()
{
    static const fs::path root = benchfiles::MakeCameraCopies("gavex-bench-window", 8.0, {1, 4, 16});
    return root;
}

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

void Spin(std::chrono::milliseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

struct Measure {
    double fps = 0.0;
    double cpu = 0.0;
};

// Plays `count` channels for a few seconds on the device, in the window when
// `window`, else on a hidden target; presents and CPU while playing.
Measure Play(int count, bool window)
{
    render::DevicePtr device;
    if (window)
        device = boost::make_shared<CountingD3D>();
    else
        device = boost::make_shared<CountingNull>();
    auto renderer = std::make_shared<render::Renderer>(device);
    auto layer = std::make_shared<QControlsGuiLayer>(renderer);
    playback::PlaybackGui gui = playback::HeadlessGui::Bundle(std::make_shared<playback::HeadlessGui>());
    gui.controls = layer->Interface();
    gui.enabled = layer->Interface();
    gui.grid = std::shared_ptr<playback::IChannelsGrid>(layer, &layer->Grid());
    auto audio = std::make_shared<filters::AudioPlayer>(std::make_unique<NoSound>(), utils::MonotonicTick, false);
    auto controller = std::make_shared<playback::PlayersController>(gui, renderer, audio);

    std::unique_ptr<QWidget> target;
    if (window) {
        target = std::make_unique<QMainWnd>(controller, layer.get(), StartOptions());
        target->show();
    } else {
        target = std::make_unique<QWidget>();
        target->resize(1024, 768);
        controller->Initialize(StartOptions(), target.get(), QRect(0, 0, 1024, 768));
        renderer->SetGeometry(QRect(0, 0, 1024, 768));
    }
    Spin(std::chrono::milliseconds(300));
    SourceConfiguration configuration;
    configuration.SetupWithDefaults((Files() / std::to_string(count)).string(), ISourceConfiguration::AVI_FILES);
    controller->LoadSources(configuration, 0, false);
    Spin(std::chrono::milliseconds(500));
    controller->Play();
    Spin(std::chrono::milliseconds(300));

    const int presents = g_presents;
    const double cpu = CpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    Spin(std::chrono::seconds(kPlaySeconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    Measure measure{(g_presents - presents) / wall, (CpuSeconds() - cpu) / wall};
    controller->Pause();
    // The render thread draws into the window: it ends before the window does.
    renderer->Stop();
    target->close();
    target.reset();
    return measure;
}

void BM_WindowPlayback(benchmark::State& state)
{
    static gavex_test::XvfbDisplay display;
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        new QApplication(argc, argv);
    // No remembered sources open at the start.
    QApplicationSettings::Instance().Live.SetChannels({});
    QApplicationSettings::Instance().CandidateFiles.clear();
    const int count = static_cast<int>(state.range(0));
    Files();
    Measure window;
    Measure null;
    for (auto _ : state) {
        window = Play(count, true);
        null = Play(count, false);
    }
    state.counters["window_fps"] = window.fps;
    state.counters["null_fps"] = null.fps;
    state.counters["window_cpu"] = window.cpu;
    state.counters["null_cpu"] = null.cpu;
    state.counters["ratio"] = null.fps > 0.0 ? window.fps / null.fps : 0.0;
    state.counters["cpu_ratio"] = null.cpu > 0.0 ? window.cpu / null.cpu : 0.0;
}

BENCHMARK(BM_WindowPlayback)->Arg(1)->Arg(4)->Arg(16)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
