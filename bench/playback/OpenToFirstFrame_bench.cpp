// Time from loading a source of 1 and of 16 channels of 1080p H.264 files
// (source configuration, players, their pins and threads) until every
// channel shows its first frame, beside libavformat and libavcodec decoding
// the first picture of the same files in this process, one thread per file,
// all at once.
//
// Counters:
//   ours_ms   mean time of ours per run
//   ref_ms    mean time of the reference per run
//   ratio     ours_ms / ref_ms
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include <boost/make_shared.hpp>

#include "media/SourceConfiguration.h"
#include "playback/PlaybackGui.h"
#include "playback/PlayersController.h"
#include "playback/SourcePin.h"
#include "render/RendererPin.h"
#include "bench/support/BenchFiles.h"
#include "support/MediaFiles.h"
#include "support/RecordingDevice.h"
#include "support/SilentSink.h"


namespace {

namespace fs = std::filesystem;

using NoSound = testsupport::SilentSink;

// Folders "1" and "16" of copies of one 2 s 1080p H.264 file.
const fs::path& Files()
{
    static const fs::path root = benchfiles::MakeCameraCopies("gavex-bench-open", 2.0, {1, 16});
    return root;
}

std::vector<std::string> FilesOf(int count)
{
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(Files() / std::to_string(count)))
        out.push_back(entry.path().string());
    return out;
}

double OursMs(int count)
{
    auto audio = std::make_shared<filters::AudioPlayer>(std::make_unique<NoSound>(), utils::MonotonicTick, false);
    playback::PlayersController controller(
        playback::HeadlessGui::Bundle(std::make_shared<playback::HeadlessGui>()),
        playback::MakePlaybackRenderer(boost::make_shared<testsupport::RecordingDevice>()), audio);
    const auto started = std::chrono::steady_clock::now();
    SourceConfiguration configuration;
    configuration.SetupWithDefaults((Files() / std::to_string(count)).string(), ISourceConfiguration::AVI_FILES);
    controller.LoadSources(configuration, 0, false);
    for (;;) {
        bool all = !controller.GetPlayers().empty();
        for (const auto& player : controller.GetPlayers())
            all = all && player->rendererPin->HasFrame();
        if (all)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
}

// What `ffmpeg -i FILE -frames:v 1 -f null -` does, in this process: open
// the file, find its streams, decode until the first picture; one thread
// per file, all at once, as the players open theirs.
bool DecodeFirstPicture(const std::string& file)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0)
        return false;
    bool done = false;
    const AVCodec* codec = nullptr;
    const int stream = avformat_find_stream_info(format, nullptr) >= 0
                           ? av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0)
                           : -1;
    AVCodecContext* context = stream >= 0 ? avcodec_alloc_context3(codec) : nullptr;
    if (context && avcodec_parameters_to_context(context, format->streams[stream]->codecpar) >= 0 &&
        avcodec_open2(context, codec, nullptr) >= 0) {
        AVPacket* packet = av_packet_alloc();
        AVFrame* picture = av_frame_alloc();
        while (!done && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream && avcodec_send_packet(context, packet) >= 0)
                done = avcodec_receive_frame(context, picture) >= 0;
            av_packet_unref(packet);
        }
        if (!done && avcodec_send_packet(context, nullptr) >= 0)
            done = avcodec_receive_frame(context, picture) >= 0;
        av_frame_free(&picture);
        av_packet_free(&packet);
    }
    avcodec_free_context(&context);
    avformat_close_input(&format);
    return done;
}

double ReferenceMs(int count)
{
    const std::vector<std::string> files = FilesOf(count);
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (const std::string& file : files)
        threads.emplace_back([file] { DecodeFirstPicture(file); });
    for (std::thread& thread : threads)
        thread.join();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
}

void BM_OpenToFirstFrame(benchmark::State& state)
{
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        new QCoreApplication(argc, argv);
    const int count = static_cast<int>(state.range(0));
    Files();
    double ours = 0.0;
    double reference = 0.0;
    int runs = 0;
    for (auto _ : state) {
        ours += OursMs(count);
        reference += ReferenceMs(count);
        ++runs;
    }
    state.counters["ours_ms"] = ours / runs;
    state.counters["ref_ms"] = reference / runs;
    state.counters["ratio"] = reference > 0.0 ? ours / reference : 0.0;
}

BENCHMARK(BM_OpenToFirstFrame)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
