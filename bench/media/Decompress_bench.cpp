// Decoding speed of a 1080p H.264 stream through CDecompressor and the codec
// add-on, and the same packets through libavcodec alone on one thread in this
// process.
//
// The stream is encoded once per run into a scratch folder (libx264, no
// B-frames, a key frame every 25 frames, as cameras send).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "base/VideoFrame.h"
#include "media/Decompressor.h"

namespace {

constexpr int kFrames = 120;

struct Stream {
    std::string folder;
    std::string path;
    std::vector<VideoFramePtr> frames;

    Stream()
    {
        char pattern[] = "/tmp/gavex_decompress_bench_XXXXXX";
        if (const char* made = mkdtemp(pattern))
            folder = made;
        // A registry of our own: the run must not touch the machine's.
        setenv("GAVEX_REGISTRY_DIR", folder.c_str(), 1);
        path = folder + "/stream.h264";
        const std::string encode =
            "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 "
            "-frames:v " + std::to_string(kFrames) +
            " -c:v libx264 -preset veryfast -bf 0 -g 25 -b:v 6M -pix_fmt yuv420p '" + path + "'";
        if (std::system(encode.c_str()) != 0)
            return;
        AVFormatContext* input = nullptr;
        if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0)
            return;
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(input, packet) >= 0) {
            VideoFramePtr frame(new VideoFrame(std::string(), 0), false);
            const uint32_t size = uint32_t(packet->size) + 5;
            frame->AllocData(size);
            std::memcpy(frame->m_pData, packet->data, size_t(packet->size));
            frame->m_pData[packet->size] = (packet->flags & AV_PKT_FLAG_KEY) ? 1 : 0;
            std::memcpy(frame->m_pData + packet->size + 1, "H264", 4);
            frame->m_cbData = size;
            frame->m_nFormat = FrameFormatCompressed;
            frame->m_bColor = 1;
            frame->m_nWidth = 1920;
            frame->m_nHeight = 1080;
            frames.push_back(frame);
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        avformat_close_input(&input);
    }
    ~Stream()
    {
        std::error_code ignored;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ignored);
    }
};

long MinorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

Stream& TheStream()
{
    static Stream stream;
    return stream;
}

// Decodes the stream from its first key frame through a new decompressor, as
// a channel is played; returns the pictures that came out.
int64_t DecodeStream(const Stream& stream)
{
    int64_t decoded = 0;
    CDecompressor decompressor;
    for (const VideoFramePtr& frame : stream.frames) {
        VideoFramePtr picture = decompressor.Decompress(frame.get(), 0);
        if (picture)
            ++decoded;
        benchmark::DoNotOptimize(picture);
    }
    return decoded;
}

void BM_CDecompressorH264_1080p(benchmark::State& state)
{
    Stream& stream = TheStream();
    if (stream.frames.empty()) {
        state.SkipWithError("no 1080p H.264 stream (is libx264 available?)");
        return;
    }
    int64_t decoded = 0;
    const std::clock_t cpuStart = std::clock();
    const long faultsStart = MinorFaults();
    for (auto _ : state)
        decoded += DecodeStream(stream);
    const double cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    if (decoded != int64_t(state.iterations()) * int64_t(stream.frames.size()))
        state.SkipWithError("some frames did not decode");
    state.counters["fps"] = benchmark::Counter(double(decoded), benchmark::Counter::kIsRate);
    state.counters["cpu_fps"] = double(decoded) / cpuSeconds;
    // Memory that is mapped afresh for every picture shows here.
    state.counters["faults_per_frame"] = double(MinorFaults() - faultsStart) / double(decoded);
}
BENCHMARK(BM_CDecompressorH264_1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);

// The add-on beside libavcodec alone, one thread, on the same packets in this
// process: each iteration decodes the stream once through CDecompressor and
// once through a bare decoder (packets copied into padded buffers before the
// clock starts). "ours_ms" and "ref_ms" are one stream's times, "ratio" ours
// over the reference.
void BM_AddonBesideLibavcodec_1080p(benchmark::State& state)
{
    Stream& stream = TheStream();
    if (stream.frames.empty()) {
        state.SkipWithError("no 1080p H.264 stream (is libx264 available?)");
        return;
    }
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    std::vector<AVPacket*> packets;
    for (const VideoFramePtr& frame : stream.frames) {
        AVPacket* packet = av_packet_alloc();
        const int size = int(frame->m_cbData) - 5;
        if (!packet || av_new_packet(packet, size) < 0) {
            state.SkipWithError("no memory for the packets");
            return;
        }
        std::memcpy(packet->data, frame->m_pData, size_t(size));
        packets.push_back(packet);
    }
    AVFrame* picture = av_frame_alloc();
    double ours = 0, reference = 0;
    int64_t decoded = 0, referenceDecoded = 0;
    auto runOurs = [&] { decoded += DecodeStream(stream); };
    auto runReference = [&] {
        AVCodecContext* context = avcodec_alloc_context3(codec);
        context->thread_count = 1;
        avcodec_open2(context, codec, nullptr);
        for (AVPacket* packet : packets) {
            if (avcodec_send_packet(context, packet) < 0)
                continue;
            while (avcodec_receive_frame(context, picture) >= 0) {
                ++referenceDecoded;
                av_frame_unref(picture);
            }
        }
        avcodec_free_context(&context);
    };
    auto seconds = [](auto run) {
        const auto t0 = std::chrono::steady_clock::now();
        run();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    bool oursFirst = true;
    for (auto _ : state) {
        // Ours and the reference go first by turns: neither always finds the
        // caches and the clock speed the other left behind.
        double oursS = 0;
        if (oursFirst) {
            oursS = seconds(runOurs);
            reference += seconds(runReference);
        } else {
            reference += seconds(runReference);
            oursS = seconds(runOurs);
        }
        oursFirst = !oursFirst;
        state.SetIterationTime(oursS);
        ours += oursS;
    }
    av_frame_free(&picture);
    for (AVPacket* packet : packets)
        av_packet_free(&packet);
    const int64_t expected = int64_t(state.iterations()) * int64_t(stream.frames.size());
    if (decoded != expected || referenceDecoded != expected)
        state.SkipWithError("some frames did not decode");
    const double n = double(state.iterations());
    state.counters["ours_ms"] = ours / n * 1000;
    state.counters["ref_ms"] = reference / n * 1000;
    state.counters["ratio"] = reference > 0 ? ours / reference : 0;
    state.counters["fps"] = benchmark::Counter(double(decoded), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AddonBesideLibavcodec_1080p)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(5.0);

} // namespace
