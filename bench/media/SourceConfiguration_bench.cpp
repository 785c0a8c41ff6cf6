// Configuring a folder of 50 media files (5 channels of 10 one-second MKV
// files, each with a SubRip file beside it): find the files, read their
// records, attach the subtitles, build the channel sources and show each
// channel's first frame. Beside it, on the same files:
//   SourceConfig_LibavProbe50    what ffprobe does per file, in-process:
//                                open, find the stream information, close
// The reference reports ours_over_reference: the time of
// SourceConfig_Configure50 divided by its own (same run, same files).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media/SourceConfiguration.h"
#include "media/VideoSourceInterfaces.h"
#include "support/MediaFiles.h"

namespace {

namespace fs = std::filesystem;

constexpr int kChannels = 5;
constexpr int kFilesPerChannel = 10;

// The sample files in a private temporary folder, removed with them when
// the process ends (the folder's path lives as long as the object that
// removes it). No files when one could not be made.
struct Fixture {
    Fixture()
        : folder((fs::temp_directory_path() / ("gavex-config-bench-" + std::to_string(getpid()))).string())
    {
        fs::create_directories(folder);
        for (int c = 0; c < kChannels; ++c) {
            for (int i = 0; i < kFilesPerChannel; ++i) {
                char name[64];
                std::snprintf(name, sizeof name, "Cam %d 2019-03-04 05-%02d-00_000", c + 1, i);
                const std::string base = folder + "/" + name;
                std::vector<std::string> args = gavex_test::TestVideoInput(1, 25, "320x240");
                args.insert(args.end(), {"-c:v", "mpeg4", base + ".mkv"});
                if (!gavex_test::RunFfmpeg(args)) {
                    files.clear();
                    return;
                }
                if (FILE* srt = std::fopen((base + ".srt").c_str(), "w")) {
                    std::fputs("1\n00:00:00,000 --> 00:00:00,500\nfirst\n\n2\n00:00:00,500 --> 00:00:01,000\nsecond\n\n",
                               srt);
                    std::fclose(srt);
                }
                files.push_back(base + ".mkv");
            }
        }
    }
    ~Fixture()
    {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    Fixture(const Fixture&) = delete;
    Fixture& operator=(const Fixture&) = delete;

    std::string folder;
    std::vector<std::string> files;
};

const Fixture& Files()
{
    static const Fixture fixture;
    return fixture;
}

double g_oursSeconds = 0;  // per iteration of SourceConfig_Configure50

// The time per iteration of our run, read by the references (they run after).
void RecordOurs(const benchmark::State& state, double seconds)
{
    if (state.iterations() > 0)
        g_oursSeconds = seconds / static_cast<double>(state.iterations());
}

void SourceConfig_Configure50(benchmark::State& state)
{
    if (Files().files.empty()) {
        state.SkipWithError("ffmpeg could not make the files");
        return;
    }
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        SourceConfiguration config;
        config.SetupWithDefaults(Files().folder, ISourceConfiguration::AVI_FILES);
        for (const auto& source : config.GetVideoSources())
            benchmark::DoNotOptimize(source->GetCurrentFrame());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    RecordOurs(state, total);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kChannels * kFilesPerChannel);
}

void ReportRatio(benchmark::State& state, double referenceSeconds)
{
    if (state.iterations() > 0 && referenceSeconds > 0 && g_oursSeconds > 0)
        state.counters["ours_over_reference"] =
            g_oursSeconds / (referenceSeconds / static_cast<double>(state.iterations()));
}

void SourceConfig_LibavProbe50(benchmark::State& state)
{
    if (Files().files.empty()) {
        state.SkipWithError("ffmpeg could not make the files");
        return;
    }
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& file : Files().files) {
            AVFormatContext* context = nullptr;
            if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) == 0) {
                avformat_find_stream_info(context, nullptr);
                benchmark::DoNotOptimize(context->nb_streams);
                avformat_close_input(&context);
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    ReportRatio(state, total);
}

}  // namespace

BENCHMARK(SourceConfig_Configure50)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(SourceConfig_LibavProbe50)->UseManualTime()->Unit(benchmark::kMillisecond);
