// Decoding and seeking of the FFmpeg video source on a 1080p H.264 file,
// beside the ffmpeg tool doing the same work:
//   Sources_DecodeConvert      read + decode + convert to B,G,R,X samples
//   Sources_FfmpegToolBgra     `ffmpeg -threads 1 -i FILE -pix_fmt bgra -f null -`
//   Sources_Seek               seek to a time and have its picture ready
//   Sources_FfmpegToolSeek     `ffmpeg -ss T -i FILE -frames:v 1 -f null -`
// The tool figures include its process start; compare frames per second of
// the first pair (items_per_second) and latency of the second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

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

double RunTool(const std::string& command)
{
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Sources_DecodeConvert(benchmark::State& state)
{
    if (TestFile().empty()) {
        state.SkipWithError("ffmpeg could not make the file");
        return;
    }
    filters::FFmpegVideoSource source;
    filters::Decoder decoder;
    render::ImageMediaSample sample(false);
    VideoFramePtr frame(new VideoFrame("", 0), false);
    frame->m_nFormat = FrameFormatFFmpegPicture;
    frame->m_pData = reinterpret_cast<uint8_t*>(source.GetPictureHolder());
    int64_t frames = 0;
    for (auto _ : state) {
        source.Close();
        source.Open(TestFile(), "");
        while (source.ReadNextFrame()) {
            decoder.Decode(frame.get(), &sample, false, {});
            ++frames;
        }
    }
    frame->m_pData = nullptr;
    state.SetItemsProcessed(frames);
}
BENCHMARK(Sources_DecodeConvert)->Unit(benchmark::kMillisecond)->UseRealTime();

void Sources_FfmpegToolBgra(benchmark::State& state)
{
    if (TestFile().empty()) {
        state.SkipWithError("ffmpeg could not make the file");
        return;
    }
    const std::string command =
        "ffmpeg -hide_banner -loglevel error -threads 1 -i '" + TestFile() + "' -pix_fmt bgra -f null -";
    for (auto _ : state)
        state.SetIterationTime(RunTool(command));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}
BENCHMARK(Sources_FfmpegToolBgra)->Unit(benchmark::kMillisecond)->UseManualTime();

const double kSeekTimes[] = {3100, 520, 4200, 1960, 80, 2700};

void Sources_Seek(benchmark::State& state)
{
    if (TestFile().empty()) {
        state.SkipWithError("ffmpeg could not make the file");
        return;
    }
    filters::FFmpegVideoSource source;
    source.Open(TestFile(), "");
    size_t i = 0;
    for (auto _ : state) {
        source.Seek(kSeekTimes[i++ % std::size(kSeekTimes)]);
        benchmark::DoNotOptimize(source.IsFrameReady());
    }
}
BENCHMARK(Sources_Seek)->Unit(benchmark::kMillisecond)->UseRealTime();

void Sources_FfmpegToolSeek(benchmark::State& state)
{
    if (TestFile().empty()) {
        state.SkipWithError("ffmpeg could not make the file");
        return;
    }
    size_t i = 0;
    for (auto _ : state) {
        const std::string command = "ffmpeg -hide_banner -loglevel error -threads 1 -ss " +
                                    std::to_string(kSeekTimes[i++ % std::size(kSeekTimes)] / 1000) + " -i '" +
                                    TestFile() + "' -frames:v 1 -f null -";
        state.SetIterationTime(RunTool(command));
    }
}
BENCHMARK(Sources_FfmpegToolSeek)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
