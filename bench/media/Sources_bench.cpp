// Decoding and seeking of the FFmpeg video source on a 1080p H.264 file, each
// beside libavformat + libavcodec (one thread) + libswscale doing the same
// work on the same file in this process:
//   Sources_DecodeConvert  read + decode + convert every picture to B,G,R,X
//   Sources_Seek           seek to a time and have its picture ready
// The counters give ours, the reference and the ratio ours / reference.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "base/ProcessValues.h"
#include "media/Decoder.h"
#include "media/FFmpegSource.h"
#include "media/MediaSample.h"

namespace {

constexpr int kFrames = 120;

// A private temporary folder holding the test clip, removed with it when the
// process ends (the folder's path lives as long as the object that removes it).
struct BenchFolder {
    BenchFolder()
        : dir(std::filesystem::temp_directory_path() / ("gavex-sources-bench-" + std::to_string(getpid())))
    {
        std::filesystem::create_directories(dir);
        const std::string clip = dir + "/hd.mp4";
        const std::string command =
            "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v " +
            std::to_string(kFrames) + " -c:v libx264 -preset veryfast -b:v 6M -g 50 -pix_fmt yuv420p '" + clip + "'";
        if (std::system(command.c_str()) == 0)
            file = clip;
    }
    ~BenchFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    std::string dir;
    std::string file; // empty when the clip could not be made
};

const std::string& TestFile()
{
    static const BenchFolder folder;
    return folder.file;
}

double Since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The reference: the file through libavformat and a one-thread libavcodec
// decoder, pictures converted by libswscale into one B,G,R,X buffer.
class Reference {
public:
    explicit Reference(const std::string& file)
    {
        if (avformat_open_input(&m_format, file.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(m_format, nullptr) < 0)
            return;
        const AVCodec* codec = nullptr;
        m_stream = av_find_best_stream(m_format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (m_stream < 0 || !codec)
            return;
        m_codec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(m_codec, m_format->streams[m_stream]->codecpar);
        m_codec->thread_count = 1;
        if (avcodec_open2(m_codec, codec, nullptr) < 0)
            avcodec_free_context(&m_codec);
        m_packet = av_packet_alloc();
        m_picture = av_frame_alloc();
    }
    ~Reference()
    {
        sws_freeContext(m_scaler);
        av_frame_free(&m_picture);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_codec);
        avformat_close_input(&m_format);
    }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    bool Ok() const { return m_codec != nullptr; }

    // Every picture of the file converted; how many.
    int64_t DecodeConvertAll()
    {
        av_seek_frame(m_format, m_stream, 0, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(m_codec);
        int64_t pictures = 0;
        while (av_read_frame(m_format, m_packet) >= 0) {
            if (m_packet->stream_index == m_stream && avcodec_send_packet(m_codec, m_packet) >= 0)
                pictures += ReceiveAll();
            av_packet_unref(m_packet);
        }
        if (avcodec_send_packet(m_codec, nullptr) >= 0)
            pictures += ReceiveAll();
        return pictures;
    }

    // Seeks to the key frame before ms and decodes on to the picture at ms
    // (as the source has it ready, not converted); true when there was one.
    bool SeekTo(double ms)
    {
        const AVRational base = m_format->streams[m_stream]->time_base;
        const int64_t target = av_rescale_q(int64_t(ms * 1000), AVRational{1, 1000000}, base);
        if (av_seek_frame(m_format, m_stream, target, AVSEEK_FLAG_BACKWARD) < 0)
            return false;
        avcodec_flush_buffers(m_codec);
        while (av_read_frame(m_format, m_packet) >= 0) {
            const bool ours = m_packet->stream_index == m_stream && avcodec_send_packet(m_codec, m_packet) >= 0;
            av_packet_unref(m_packet);
            while (ours && avcodec_receive_frame(m_codec, m_picture) >= 0) {
                const bool reached = m_picture->best_effort_timestamp >= target;
                av_frame_unref(m_picture);
                if (reached)
                    return true;
            }
        }
        return false;
    }

private:
    int64_t ReceiveAll()
    {
        int64_t n = 0;
        while (avcodec_receive_frame(m_codec, m_picture) >= 0) {
            Convert();
            av_frame_unref(m_picture);
            ++n;
        }
        return n;
    }

    void Convert()
    {
        const int w = m_picture->width, h = m_picture->height;
        m_scaler = sws_getCachedContext(m_scaler, w, h, AVPixelFormat(m_picture->format), w, h, AV_PIX_FMT_BGRA,
                                        SWS_BILINEAR, nullptr, nullptr, nullptr);
        m_bgra.resize(size_t(w) * size_t(h) * 4);
        uint8_t* planes[1] = {m_bgra.data()};
        const int strides[1] = {w * 4};
        sws_scale(m_scaler, m_picture->data, m_picture->linesize, 0, h, planes, strides);
        benchmark::DoNotOptimize(m_bgra.data());
    }

    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_picture = nullptr;
    SwsContext* m_scaler = nullptr;
    int m_stream = -1;
    std::vector<uint8_t> m_bgra;
};

void Report(benchmark::State& state, double ours, double reference)
{
    const double n = double(state.iterations());
    state.counters["ours_ms"] = ours / n * 1000;
    state.counters["ref_ms"] = reference / n * 1000;
    state.counters["ratio"] = reference > 0 ? ours / reference : 0;
}

void Sources_DecodeConvert(benchmark::State& state)
{
    if (TestFile().empty()) {
        state.SkipWithError("ffmpeg could not make the file");
        return;
    }
    g_ffmpegThreadCount = 1;
    Reference reference(TestFile());
    if (!reference.Ok()) {
        state.SkipWithError("libavcodec cannot decode the file");
        return;
    }
    filters::FFmpegVideoSource source;
    filters::Decoder decoder;
    render::ImageMediaSample sample(false);
    VideoFramePtr frame(new VideoFrame("", 0), false);
    frame->m_nFormat = FrameFormatFFmpegPicture;
    frame->m_pData = reinterpret_cast<uint8_t*>(source.GetPictureHolder());
    int64_t frames = 0, referenceFrames = 0;
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        source.Close();
        source.Open(TestFile(), "");
        while (source.ReadNextFrame()) {
            decoder.Decode(frame.get(), &sample, false, {});
            ++frames;
        }
        const double oursS = Since(t0);
        const auto t1 = std::chrono::steady_clock::now();
        referenceFrames += reference.DecodeConvertAll();
        theirs += Since(t1);
        ours += oursS;
        state.SetIterationTime(oursS);
    }
    frame->m_pData = nullptr;
    if (frames != referenceFrames)
        state.SkipWithError("ours and the reference decoded different numbers of pictures");
    state.SetItemsProcessed(frames);
    Report(state, ours, theirs);
}
BENCHMARK(Sources_DecodeConvert)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(3.0);

const double kSeekTimes[] = {3100, 520, 4200, 1960, 80, 2700};

void Sources_Seek(benchmark::State& state)
{
    if (TestFile().empty()) {
        state.SkipWithError("ffmpeg could not make the file");
        return;
    }
    g_ffmpegThreadCount = 1;
    Reference reference(TestFile());
    if (!reference.Ok()) {
        state.SkipWithError("libavcodec cannot decode the file");
        return;
    }
    filters::FFmpegVideoSource source;
    source.Open(TestFile(), "");
    size_t i = 0;
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        const double at = kSeekTimes[i++ % std::size(kSeekTimes)];
        const auto t0 = std::chrono::steady_clock::now();
        source.Seek(at);
        benchmark::DoNotOptimize(source.IsFrameReady());
        const double oursS = Since(t0);
        const auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(reference.SeekTo(at));
        theirs += Since(t1);
        ours += oursS;
        state.SetIterationTime(oursS);
    }
    Report(state, ours, theirs);
}
BENCHMARK(Sources_Seek)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
