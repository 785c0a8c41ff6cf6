// Refresh of the source browser over an exported archive folder of 16
// channels (open the folder, make the channel sources, decode and compose
// each channel's first frame into a thumbnail, describe and list the
// channels), beside filters::Decoder alone decoding the same 16 first frames
// into the same kind of sample, in this process. The ratio is what the panel
// adds to the decoding it cannot avoid.
//
// Counters:
//   ours_ms   mean time of a Refresh
//   ref_ms    mean time of the 16 decodes
//   ratio     ours_ms / ref_ms
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QPushButton>

#include "config/QApplicationSettings.h"
#include "config/QOemSettings.h"
#include "widgets/QCustomInputs.h"
#include "base/VideoFrame.h"
#include "gui/sources/QNavigationPanel.h"
#include "media/Decoder.h"
#include "playback/QtMediaSample.h"
#include "support/ArchiveFileWriter.h"
#include "support/MediaFiles.h"

namespace {

namespace fs = std::filesystem;
constexpr int kChannels = 16;
constexpr int64_t kStart = 1551675967000;

struct Archive {
    fs::path folder;
    std::vector<std::vector<uint8_t>> firstFrames;  // stored data of each channel's first frame

    Archive()
    {
        folder = fs::temp_directory_path() / ("gavex-bench-browser-" + std::to_string(::getpid()));
        fs::create_directories(folder / "archive");
        setenv("GAVEX_REGISTRY_DIR", folder.c_str(), 1);
        const std::string jpeg = (folder / "frame.jpg").string();
        if (!gavex_test::RunFfmpeg({"-f", "lavfi", "-i", "testsrc=size=704x576:rate=5", "-frames:v", "1", "-c:v",
                                    "mjpeg", jpeg})) {
            std::fprintf(stderr, "ffmpeg could not make the picture\n");
            return;
        }
        const std::vector<uint8_t> data = testsupport::MakeMjpegFrame(testsupport::ReadBytes(jpeg));
        for (int camera = 1; camera <= kChannels; ++camera) {
            std::vector<testsupport::ArchiveFrame> frames;
            for (int i = 0; i < 5; ++i)
                frames.push_back({kStart + i * 200, data, true, {}, true});
            char name[32];
            std::snprintf(name, sizeof name, "%04d._%02d", camera, camera);
            testsupport::WriteBytes((folder / "archive" / name).string(), testsupport::BuildArchiveFile(frames));
            firstFrames.push_back(data);
        }
    }
    ~Archive()
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

Archive& Files()
{
    static Archive archive;
    return archive;
}

QApplication& Application()
{
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "bench_gui";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

double OursMs(QNavigationPanel& panel)
{
    const auto start = std::chrono::steady_clock::now();
    panel.RefreshButton()->click();  // a folder opens synchronously
    const auto end = std::chrono::steady_clock::now();
    if (panel.Channels().size() != kChannels)
        std::fprintf(stderr, "listed %zu channels\n", panel.Channels().size());
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double ReferenceMs()
{
    std::vector<VideoFramePtr> frames;
    for (const auto& data : Files().firstFrames) {
        VideoFramePtr frame(new VideoFrame(std::string(), 0), false);
        frame->AllocData(static_cast<uint32_t>(data.size()));
        std::memcpy(frame->m_pData, data.data(), data.size());
        frame->m_cbData = static_cast<uint32_t>(data.size());
        frame->m_nFormat = FrameFormatCompressed;
        frame->m_bColor = 1;
        frames.push_back(frame);
    }
    const auto start = std::chrono::steady_clock::now();
    for (const VideoFramePtr& frame : frames) {
        filters::Decoder decoder;
        playback::QtMediaSample sample;
        decoder.Decode(frame.get(), &sample, false, filters::TargetSize{});
        benchmark::DoNotOptimize(sample.HasImage());
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void BM_RefreshBesideDecoder(benchmark::State& state)
{
    Application();
    if (Files().firstFrames.size() != kChannels) {
        state.SkipWithError("no fixture");
        return;
    }
    QOemSettings::Instance().ShowAllVideoSource = true;
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    live.SourceMode = 1;
    live.VideoFolders[1] = {(Files().folder / "archive").wstring()};
    QNavigationPanel panel;
    panel.Setup();
    panel.LoadData();
    double ours = 0, ref = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        ours += OursMs(panel);
        ref += ReferenceMs();
        ++runs;
    }
    if (runs > 0) {
        state.counters["ours_ms"] = ours / runs;
        state.counters["ref_ms"] = ref / runs;
        state.counters["ratio"] = ref > 0 ? ours / ref : 0;
    }
}
BENCHMARK(BM_RefreshBesideDecoder)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
