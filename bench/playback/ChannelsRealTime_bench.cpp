// N channels (1, 4, 9, 16) of one 1080p25 H.264 file played at x1 through
// the players controller on the null device, beside N plain libavcodec
// decode loops over the same file's packets in this process (one thread per
// loop, all at once). Which side runs first alternates between iterations.
//
// Counters (video seconds = the recording's length):
//   wall_per_video_s   wall time of ours from Play until every channel ended,
//                      per video second (1.00 = real time)
//   cpu_per_video_s    processor time of ours per video second
//   ref_cpu_per_video_s  the same of the decode loops
//   cpu_ratio          cpu_per_video_s / ref_cpu_per_video_s (cpu_ratio_min
//                      and cpu_ratio_median over the alternating pairs)
//   ref_wall_per_video_s  wall time of the decode loops per video second
//                      (as fast as they can: a measure of the machine)
//   paced_cpu_per_video_s  processor time of the same loops when each decodes
//                      its packets at their due times (x1), per video second;
//                      paced_cpu_ratio_min/median: ours against them by pairs
//   skipped_per_s      frames skipped by the pins (late), per video second
//                      and channel
//
// The recording lasts GAVEX_BENCH_REALTIME_SECONDS seconds (3 by default; 10
// for the figures quoted in reviews).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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

#include "bench/support/BenchFiles.h"
#include "bench/support/PairRatios.h"
#include "media/SourceConfiguration.h"
#include "playback/PlaybackGui.h"
#include "playback/PlayersController.h"
#include "playback/SourcePin.h"
#include "render/NullRendererDevice.h"
#include "render/RendererPin.h"
#include "support/SilentSink.h"

namespace {

namespace fs = std::filesystem;

int VideoSeconds()
{
    const char* s = std::getenv("GAVEX_BENCH_REALTIME_SECONDS");
    const int v = s ? std::atoi(s) : 3;
    return v > 0 ? v : 3;
}

const fs::path& Files()
{
    static const fs::path root =
        benchfiles::MakeCameraCopies("gavex-bench-realtime", double(VideoSeconds()), {1, 4, 9, 16});
    return root;
}

double ProcessCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Measure {
    double wall = 0;
    double cpu = 0;
    double skipped = 0;
};

Measure RunOurs(int count)
{
    auto audio = std::make_shared<filters::AudioPlayer>(std::make_unique<testsupport::SilentSink>(),
                                                        utils::MonotonicTick, false);
    playback::PlayersController controller(
        playback::HeadlessGui::Bundle(std::make_shared<playback::HeadlessGui>()),
        playback::MakePlaybackRenderer(boost::make_shared<render::NullRendererDevice>()), audio);
    SourceConfiguration configuration;
    configuration.SetupWithDefaults((Files() / std::to_string(count)).string(), ISourceConfiguration::AVI_FILES);
    controller.LoadSources(configuration, 0, false);
    const auto& players = controller.GetPlayers();
    // Opened: every channel shows its first frame and its thread is idle.
    for (;;) {
        bool all = !players.empty();
        for (const auto& player : players)
            all = all && player->rendererPin->HasFrame() &&
                  player->pinThread->GetState() == filters::SourcePin::kIdle;
        if (all)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Measure m;
    const double cpu0 = ProcessCpuSeconds();
    const double wall0 = Now();
    controller.Play();
    // Every thread has taken the command before the end is looked for.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (bool ended = false; !ended;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ended = true;
        for (const auto& player : players)
            ended = ended && player->pinThread->GetState() == filters::SourcePin::kIdle;
    }
    m.wall = Now() - wall0;
    m.cpu = ProcessCpuSeconds() - cpu0;
    for (const auto& player : players)
        m.skipped += double(player->pin->GetSkippedFrames());
    controller.Pause();
    return m;
}

// The video packets of the file, read once.
std::vector<AVPacket*> ReadPackets(const std::string& file, AVCodecParameters*& parameters)
{
    std::vector<AVPacket*> packets;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0)
        return packets;
    const int stream = avformat_find_stream_info(format, nullptr) >= 0
                           ? av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                           : -1;
    if (stream >= 0) {
        parameters = avcodec_parameters_alloc();
        avcodec_parameters_copy(parameters, format->streams[stream]->codecpar);
        for (AVPacket* packet = av_packet_alloc(); av_read_frame(format, packet) >= 0; packet = av_packet_alloc()) {
            if (packet->stream_index == stream)
                packets.push_back(packet);
            else
                av_packet_free(&packet);
        }
    }
    avformat_close_input(&format);
    return packets;
}

// Decodes every packet into pictures, as a plain player's decoding thread:
// as fast as it can, or, with a frame interval, each packet no earlier than
// its due time from the start (a plain decoder playing at x1).
int DecodeAll(const std::vector<AVPacket*>& packets, const AVCodecParameters* parameters,
              std::chrono::nanoseconds interval = std::chrono::nanoseconds::zero())
{
    const auto start = std::chrono::steady_clock::now();
    std::size_t index = 0;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    int pictures = 0;
    if (avcodec_parameters_to_context(context, parameters) >= 0 && avcodec_open2(context, codec, nullptr) >= 0) {
        AVFrame* picture = av_frame_alloc();
        for (AVPacket* packet : packets) {
            if (interval.count() > 0)
                std::this_thread::sleep_until(start + interval * index++);
            if (avcodec_send_packet(context, packet) < 0)
                continue;
            while (avcodec_receive_frame(context, picture) >= 0)
                ++pictures;
        }
        avcodec_send_packet(context, nullptr);
        while (avcodec_receive_frame(context, picture) >= 0)
            ++pictures;
        av_frame_free(&picture);
    }
    avcodec_free_context(&context);
    return pictures;
}

Measure RunReference(int count, const std::vector<AVPacket*>& packets, const AVCodecParameters* parameters,
                     std::chrono::nanoseconds interval = std::chrono::nanoseconds::zero())
{
    Measure m;
    const double cpu0 = ProcessCpuSeconds();
    const double wall0 = Now();
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&] { benchmark::DoNotOptimize(DecodeAll(packets, parameters, interval)); });
    for (std::thread& thread : threads)
        thread.join();
    m.wall = Now() - wall0;
    m.cpu = ProcessCpuSeconds() - cpu0;
    return m;
}

void BM_ChannelsRealTime(benchmark::State& state)
{
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        new QCoreApplication(argc, argv);
    const int count = static_cast<int>(state.range(0));
    const double seconds = VideoSeconds();
    AVCodecParameters* parameters = nullptr;
    std::vector<AVPacket*> packets = ReadPackets((Files() / "master.mp4").string(), parameters);
    if (packets.empty() || parameters == nullptr) {
        state.SkipWithError("no 1080p file (ffmpeg missing?)");
        return;
    }
    // The paced loops decode each packet at its due time, as ours must.
    const auto interval = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(seconds / static_cast<double>(packets.size())));
    Measure ours, ref, paced;
    benchfiles::PairRatios cpuPairs;
    benchfiles::PairRatios pacedPairs;
    int runs = 0;
    for (auto _ : state) {
        Measure o, r, q;
        if (runs % 2 == 0) {
            o = RunOurs(count);
            r = RunReference(count, packets, parameters);
            q = RunReference(count, packets, parameters, interval);
        } else {
            q = RunReference(count, packets, parameters, interval);
            r = RunReference(count, packets, parameters);
            o = RunOurs(count);
        }
        cpuPairs.Add(o.cpu, r.cpu);
        pacedPairs.Add(o.cpu, q.cpu);
        ours.wall += o.wall, ours.cpu += o.cpu, ours.skipped += o.skipped;
        ref.wall += r.wall, ref.cpu += r.cpu;
        paced.cpu += q.cpu;
        ++runs;
    }
    const double video = seconds * runs;
    state.counters["wall_per_video_s"] = ours.wall / video;
    state.counters["cpu_per_video_s"] = ours.cpu / video;
    state.counters["ref_cpu_per_video_s"] = ref.cpu / video;
    state.counters["cpu_ratio"] = ref.cpu > 0 ? ours.cpu / ref.cpu : 0;
    state.counters["ref_wall_per_video_s"] = ref.wall / video;
    state.counters["skipped_per_s"] = ours.skipped / video / count;
    state.counters["paced_cpu_per_video_s"] = paced.cpu / video;
    cpuPairs.Report(state, "cpu_");
    pacedPairs.Report(state, "paced_cpu_");
    for (AVPacket*& packet : packets)
        av_packet_free(&packet);
    avcodec_parameters_free(&parameters);
}

BENCHMARK(BM_ChannelsRealTime)->Arg(1)->Arg(4)->Arg(9)->Arg(16)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
