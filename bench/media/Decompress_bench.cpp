// Decoding speed of a 1080p H.264 stream through CDecompressor and the codec
// add-on, beside the ffmpeg tool decoding the same stream on one thread
// (`ffmpeg -threads 1 -i FILE -f null -`). Both report decoded frames per
// second in the "fps" counter.
//
// The stream is encoded once per run into a scratch folder (libx264, no
// B-frames, a key frame every 25 frames, as cameras send).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
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
    for (auto _ : state) {
        // One stream from its first key frame, as a channel is played.
        CDecompressor decompressor;
        for (const VideoFramePtr& frame : stream.frames) {
            VideoFramePtr picture = decompressor.Decompress(frame.get(), 0);
            if (picture)
                ++decoded;
            benchmark::DoNotOptimize(picture);
        }
    }
    const double cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    if (decoded != int64_t(state.iterations()) * int64_t(stream.frames.size()))
        state.SkipWithError("some frames did not decode");
    state.counters["fps"] = benchmark::Counter(double(decoded), benchmark::Counter::kIsRate);
    state.counters["cpu_fps"] = double(decoded) / cpuSeconds;
    // Memory that is mapped afresh for every picture shows here.
    state.counters["faults_per_frame"] = double(MinorFaults() - faultsStart) / double(decoded);
}
BENCHMARK(BM_CDecompressorH264_1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);

// The tool's own account of its decoding (-benchmark: "bench: utime=..s
// stime=..s rtime=..s"), which leaves out the process start and the probing
// of the input; "fps" is by its real time, "cpu_fps" by its processor time.
void BM_FfmpegToolH264_1080p(benchmark::State& state)
{
    Stream& stream = TheStream();
    if (stream.frames.empty()) {
        state.SkipWithError("no 1080p H.264 stream (is libx264 available?)");
        return;
    }
    const std::string command = "ffmpeg -hide_banner -nostats -loglevel info -benchmark -threads 1 -i '" +
                                stream.path + "' -f null - 2>&1";
    double realSeconds = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) {
            state.SkipWithError("cannot start ffmpeg");
            return;
        }
        std::string output;
        char chunk[1024];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
            output.append(chunk, got);
        double user = 0, system = 0, real = 0;
        const size_t at = output.find("bench: utime=");
        if (pclose(pipe) != 0 || at == std::string::npos ||
            std::sscanf(output.c_str() + at, "bench: utime=%lfs stime=%lfs rtime=%lfs", &user,
                        &system, &real) != 3) {
            state.SkipWithError("ffmpeg failed or gave no benchmark line");
            return;
        }
        state.SetIterationTime(real);
        realSeconds += real;
        cpuSeconds += user + system;
    }
    const double frames = double(state.iterations()) * double(stream.frames.size());
    state.counters["fps"] = frames / realSeconds;
    state.counters["cpu_fps"] = frames / cpuSeconds;
}
BENCHMARK(BM_FfmpegToolH264_1080p)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(5.0);

} // namespace
