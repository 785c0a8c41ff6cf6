// What showing video in the main window costs, against the plainest way to
// show the same pictures, in one process on the same packets.
//
// The player: the main window at 1280 x 720 on a virtual X server, the
// controller playing at x1 through the software device (device 0) or the
// OpenGL device on Mesa (device 1). The reference: a widget of the same size
// into which, every 40 ms, each channel's next frame is decoded with
// libavcodec, scaled with libswscale to the size the player draws it at and
// painted with QPainter. Layouts: one 1080p25 channel (layout 0) and four
// 720p25 channels (layout 1). Each benchmark runs the two sides twice,
// alternating which goes first.
//
// Counters:
//   cpu_ratio     player CPU per video second / reference CPU per video
//                 second (goal at most 1.3); cpu_ratio_min and
//                 cpu_ratio_median over the alternating pairs
//   shown_ratio   pictures the player drew / pictures due at 25 per second
//                 per channel (goal at least 0.99); shown_ratio_min and
//                 shown_ratio_median over the player's runs
//   delivered_ratio pictures the decoders committed / pictures due (what
//                 the display could have shown at most)
//   player_cpu    player CPU seconds per video second
//   reference_cpu reference CPU seconds per video second
//   ratio_min, ratio_median  cpu_ratio of each alternating pair: the best
//                 pair and the median one
//   passes        presents per second the player made
//   present_area  pixels presented per pass, in windows (1.0: the whole
//                 window each pass)
//   pass_ms       wall milliseconds from a scene's start to its present
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <boost/make_shared.hpp>

#include "app/windows/QControlsGuiLayer.h"
#include "app/windows/QMainWnd.h"
#include "base/ProcessValues.h"
#include "bench/support/PairRatios.h"
#include "config/QApplicationSettings.h"
#include "config/StartOptions.h"
#include "media/SourceConfiguration.h"
#include "playback/PlayersController.h"
#include "render/D3DRendererDevice.h"
#include "render/MemoryTexture.h"
#include "render/OGLRendererDevice.h"
#include "render/RendererPin.h"
#include "support/MediaFiles.h"
#include "bench/support/PairRatios.h"
#include "support/SilentSink.h"
#include "support/Xvfb.h"

namespace {

namespace fs = std::filesystem;

constexpr double kPlaySeconds = 3.0;
constexpr double kFileSeconds = 8.0;
constexpr int kRate = 25;
const QSize kWindow(1280, 720);

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// Runs the event loop for a time, sleeping while there is nothing to do (a
// spinning wait would be counted against the side being measured).
void Spin(std::chrono::milliseconds time)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(time.count()), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Folders "0" (one 1080p file) and "1" (four 720p files) of 25 fps H.264,
// named as cameras; removed when the program ends.
const fs::path& Files()
{
    static const fs::path root = [] {
        const fs::path dir = fs::temp_directory_path() / ("gavex-bench-cost-" + std::to_string(::getpid()));
        const struct {
            const char* size;
            int copies;
        } layouts[] = {{"1920x1080", 1}, {"1280x720", 4}};
        for (int layout = 0; layout < 2; ++layout) {
            const fs::path folder = dir / std::to_string(layout);
            fs::create_directories(folder);
            const std::string master = (dir / ("master" + std::to_string(layout) + ".mp4")).string();
            std::vector<std::string> args = gavex_test::TestVideoInput(kFileSeconds, kRate, layouts[layout].size);
            args.insert(args.end(),
                        {"-c:v", "libx264", "-preset", "veryfast", "-g", "25", "-pix_fmt", "yuv420p", master});
            if (!gavex_test::RunFfmpeg(args))
                std::fprintf(stderr, "ffmpeg could not make the %s file\n", layouts[layout].size);
            for (int i = 0; i < layouts[layout].copies; ++i) {
                char name[64];
                std::snprintf(name, sizeof name, "Cam%02d 2019-03-04 05-06-00_000.mp4", i + 1);
                fs::copy_file(master, folder / name, fs::copy_options::overwrite_existing);
            }
        }
        return dir;
    }();
    static struct Removal {
        ~Removal()
        {
            std::error_code ignored;
            fs::remove_all(root, ignored);
        }
    } removal;
    return root;
}

std::vector<fs::path> Channels(int layout)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(Files() / std::to_string(layout)))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Pictures drawn: a texture drawn with a commit it was not drawn with before;
// and pictures committed by the decoders by then.
struct ShownCounter {
    std::atomic<long> shown{0};
    std::atomic<long> delivered{0};
    std::atomic<long> presents{0};
    std::atomic<long long> presentedPixels{0};
    std::atomic<long long> passMicroseconds{0};
    std::map<const void*, std::uint64_t> last;  // render thread only

    void Drawn(const render::TexturePtr& texture)
    {
        std::uint64_t commits = 0;
        if (auto* memory = dynamic_cast<render::MemoryTexture*>(texture.get()))
            commits = memory->CommitCount();
        else if (auto* gl = dynamic_cast<render::OGLTexture*>(texture.get()))
            commits = gl->CommitCount();
        else
            return;
        auto& seen = last[texture.get()];
        if (commits != seen) {
            delivered += static_cast<long>(commits - seen);
            seen = commits;
            ++shown;
        }
    }
};

template <typename Base>
class Counting final : public Base {
public:
    explicit Counting(ShownCounter& counter) : m_counter(counter) {}
    void SetTexture(render::TexturePtr texture, bool smooth) override
    {
        m_selected = texture;
        Base::SetTexture(std::move(texture), smooth);
    }
    void DrawQuad(const QRectF& target, const QRectF& source, std::uint32_t colour, int rotation) override
    {
        if (m_selected && m_selected->GetImageSize().width() >= 320)
            m_counter.Drawn(m_selected);
        Base::DrawQuad(target, source, colour, rotation);
    }
    void BeginScene() override
    {
        m_sceneStart = std::chrono::steady_clock::now();
        Base::BeginScene();
    }
    bool Present(const QRect& rect) override
    {
        const bool presented = Base::Present(rect);
        ++m_counter.presents;
        m_counter.presentedPixels += static_cast<long long>(rect.width()) * rect.height();
        m_counter.passMicroseconds += std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - m_sceneStart)
                                          .count();
        return presented;
    }

private:
    ShownCounter& m_counter;
    render::TexturePtr m_selected;
    std::chrono::steady_clock::time_point m_sceneStart;
};

struct Side {
    double cpuPerSecond = 0.0;
    double shownRatio = 0.0;
    double deliveredRatio = 0.0;
    double passes = 0.0;
    double presentArea = 0.0;
    double passMilliseconds = 0.0;
};

// The sizes the player drew each channel's picture at, learnt from its run.
std::map<int, std::vector<QSize>> g_pictureSizes;

Side PlayInWindow(int device, int layout)
{
    ShownCounter counter;
    render::DevicePtr renderDevice;
    if (device == 0)
        renderDevice = boost::make_shared<Counting<render::D3DRendererDevice>>(counter);
    else
        renderDevice = boost::make_shared<Counting<render::OGLRendererDevice>>(counter);
    auto renderer = std::make_shared<render::Renderer>(renderDevice);
    auto layer = std::make_shared<QControlsGuiLayer>(renderer);
    playback::PlaybackGui gui = playback::HeadlessGui::Bundle(std::make_shared<playback::HeadlessGui>());
    gui.controls = layer->Interface();
    gui.enabled = layer->Interface();
    gui.grid = std::shared_ptr<playback::IChannelsGrid>(layer, &layer->Grid());
    auto audio = std::make_shared<filters::AudioPlayer>(std::make_unique<testsupport::SilentSink>(),
                                                        utils::MonotonicTick, false);
    auto controller = std::make_shared<playback::PlayersController>(gui, renderer, audio);
    auto window = std::make_unique<QMainWnd>(controller, layer.get(), StartOptions());
    window->resize(kWindow);
    window->show();
    Spin(std::chrono::milliseconds(300));
    const int channels = static_cast<int>(Channels(layout).size());
    SourceConfiguration configuration;
    configuration.SetupWithDefaults((Files() / std::to_string(layout)).string(), ISourceConfiguration::AVI_FILES);
    controller->LoadSources(configuration, 0, false);
    Spin(std::chrono::milliseconds(500));
    controller->Play();
    Spin(std::chrono::milliseconds(700));

    const long shown = counter.shown;
    const long delivered = counter.delivered;
    const long presents = counter.presents;
    const long long pixels = counter.presentedPixels;
    const long long passMicroseconds = counter.passMicroseconds;
    const double cpu = CpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    Spin(std::chrono::milliseconds(static_cast<int>(kPlaySeconds * 1000)));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    Side side;
    side.cpuPerSecond = (CpuSeconds() - cpu) / wall;
    side.shownRatio = (counter.shown - shown) / (wall * kRate * channels);
    side.deliveredRatio = (counter.delivered - delivered) / (wall * kRate * channels);
    const long passes = counter.presents - presents;
    side.passes = passes / wall;
    side.presentArea = passes > 0 ? static_cast<double>(counter.presentedPixels - pixels) /
                                        (static_cast<double>(passes) * kWindow.width() * kWindow.height())
                                  : 0.0;
    side.passMilliseconds =
        passes > 0 ? static_cast<double>(counter.passMicroseconds - passMicroseconds) / 1000.0 / passes : 0.0;
    std::vector<QSize> sizes;
    for (int i = 0; i < channels; ++i) {
        const render::RendererPinPtr pin = renderer->GetPin(i);
        const QRectF image = pin ? pin->GetImageRect() : QRectF();
        sizes.push_back(image.isEmpty() ? QSize(kWindow.width() / (channels > 1 ? 2 : 1), 292)
                                        : image.size().toSize());
    }
    g_pictureSizes[layout] = sizes;
    controller->Pause();
    renderer->Stop();
    window->close();
    window.reset();
    return side;
}

// One channel of the reference: demuxer, decoder and scaler.
class ReferenceChannel {
public:
    ReferenceChannel(const fs::path& file, const QSize& size) : m_image(size, QImage::Format_RGB32)
    {
        m_image.fill(Qt::black);
        if (avformat_open_input(&m_format, file.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(m_format, nullptr) < 0)
            return;
        m_stream = av_find_best_stream(m_format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (m_stream < 0)
            return;
        const AVCodecParameters* parameters = m_format->streams[m_stream]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        m_codec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(m_codec, parameters);
        // The player's decoders use this many threads.
        m_codec->thread_count = std::max(1, static_cast<int>(g_ffmpegThreadCount));
        avcodec_open2(m_codec, codec, nullptr);
        m_packet = av_packet_alloc();
        m_frame = av_frame_alloc();
    }
    ~ReferenceChannel()
    {
        sws_freeContext(m_scaler);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_codec);
        avformat_close_input(&m_format);
    }

    // Decodes the next frame (from the start again at the end) and scales it
    // into the image.
    bool Next()
    {
        if (m_codec == nullptr)
            return false;
        for (int attempts = 0; attempts < 1000; ++attempts) {
            if (avcodec_receive_frame(m_codec, m_frame) == 0) {
                m_scaler = sws_getCachedContext(m_scaler, m_frame->width, m_frame->height,
                                                static_cast<AVPixelFormat>(m_frame->format), m_image.width(),
                                                m_image.height(), AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                                nullptr);
                uint8_t* planes[1] = {m_image.bits()};
                const int strides[1] = {static_cast<int>(m_image.bytesPerLine())};
                sws_scale(m_scaler, m_frame->data, m_frame->linesize, 0, m_frame->height, planes, strides);
                return true;
            }
            if (av_read_frame(m_format, m_packet) < 0) {
                av_seek_frame(m_format, m_stream, 0, AVSEEK_FLAG_BACKWARD);
                avcodec_flush_buffers(m_codec);
                continue;
            }
            if (m_packet->stream_index == m_stream)
                avcodec_send_packet(m_codec, m_packet);
            av_packet_unref(m_packet);
        }
        return false;
    }

    const QImage& Image() const { return m_image; }

private:
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    SwsContext* m_scaler = nullptr;
    int m_stream = -1;
    QImage m_image;
};

class ReferenceWidget final : public QWidget {
public:
    std::vector<std::unique_ptr<ReferenceChannel>> channels;
    std::vector<QRect> cells;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        QRegion outside(event->rect());
        for (const QRect& cell : cells)
            outside -= cell;
        for (const QRect& rect : outside)
            painter.fillRect(rect, Qt::black);
        for (std::size_t i = 0; i < channels.size(); ++i)
            painter.drawImage(cells[i].topLeft(), channels[i]->Image());
    }
};

Side PlayReference(int layout)
{
    const std::vector<fs::path> files = Channels(layout);
    const std::vector<QSize>& sizes = g_pictureSizes[layout];
    ReferenceWidget widget;
    widget.setAttribute(Qt::WA_OpaquePaintEvent);
    widget.resize(kWindow);
    const int columns = files.size() > 1 ? 2 : 1;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const QSize size = i < sizes.size() ? sizes[i] : QSize(640, 360);
        const QRect cell(static_cast<int>(i % columns) * kWindow.width() / columns,
                         static_cast<int>(i / columns) * (kWindow.height() / columns), size.width(), size.height());
        widget.channels.push_back(std::make_unique<ReferenceChannel>(files[i], size));
        widget.cells.push_back(cell);
    }
    widget.show();
    Spin(std::chrono::milliseconds(300));
    const double cpu = CpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    QTimer frames;
    frames.setTimerType(Qt::PreciseTimer);
    QObject::connect(&frames, &QTimer::timeout, [&widget] {
        for (std::size_t i = 0; i < widget.channels.size(); ++i)
            if (widget.channels[i]->Next())
                widget.update(widget.cells[i]);
    });
    frames.start(1000 / kRate);
    Spin(std::chrono::milliseconds(static_cast<int>(kPlaySeconds * 1000)));
    frames.stop();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    Side side;
    side.cpuPerSecond = (CpuSeconds() - cpu) / wall;
    side.shownRatio = 1.0;
    widget.close();
    return side;
}

// One X server with OpenGL for the whole process, and the application on it.
bool StartApplication()
{
    static std::unique_ptr<testsupport::Xvfb> server;
    if (QCoreApplication::instance() != nullptr)
        return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    server = std::make_unique<testsupport::Xvfb>("1920x1080x24");
    if (server->Display().empty())
        return false;
    ::setenv("DISPLAY", server->Display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    // No remembered sources open at the start.
    QApplicationSettings::Instance().Live.SetChannels({});
    QApplicationSettings::Instance().CandidateFiles.clear();
    return true;
}

void BM_WindowCostAgainstReference(benchmark::State& state)
{
    const int device = static_cast<int>(state.range(0));
    const int layout = static_cast<int>(state.range(1));
    if (!StartApplication()) {
        state.SkipWithError("no X server or no widget application");
        return;
    }
    Files();
    Side player;
    Side reference;
    int runs = 0;
    benchfiles::PairRatios cpuPairs;
    benchfiles::PairRatios shownRuns;
    for (auto _ : state) {
        // The player's run first the first time: it tells the reference the
        // picture sizes. Then the reference goes first.
        Side p, r;
        if (runs % 2 == 0) {
            p = PlayInWindow(device, layout);
            r = PlayReference(layout);
        } else {
            r = PlayReference(layout);
            p = PlayInWindow(device, layout);
        }
        player.cpuPerSecond += p.cpuPerSecond;
        player.shownRatio += p.shownRatio;
        player.deliveredRatio += p.deliveredRatio;
        player.passes += p.passes;
        player.presentArea += p.presentArea;
        player.passMilliseconds += p.passMilliseconds;
        reference.cpuPerSecond += r.cpuPerSecond;
        cpuPairs.Add(p.cpuPerSecond, r.cpuPerSecond);
        shownRuns.Add(p.shownRatio, 1.0);
        ++runs;
    }
    state.counters["player_cpu"] = player.cpuPerSecond / runs;
    state.counters["reference_cpu"] = reference.cpuPerSecond / runs;
    state.counters["cpu_ratio"] = reference.cpuPerSecond > 0 ? player.cpuPerSecond / reference.cpuPerSecond : 0.0;
    state.counters["shown_ratio"] = player.shownRatio / runs;
    state.counters["delivered_ratio"] = player.deliveredRatio / runs;
    state.counters["passes"] = player.passes / runs;
    state.counters["present_area"] = player.presentArea / runs;
    state.counters["pass_ms"] = player.passMilliseconds / runs;
    cpuPairs.Report(state, "cpu_");
    shownRuns.Report(state, "shown_");
}

BENCHMARK(BM_WindowCostAgainstReference)
    ->ArgNames({"device", "layout"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Iterations(4)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
