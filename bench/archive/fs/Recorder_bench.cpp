// Recorder write throughput: 1080p H.264 frames written by the file recorder
// (block buffer on, the default) into its archive file and finished (index,
// trailer, move into the hour folder, index entries), beside a plain loop of
// 1 MiB write() calls putting as many bytes into a file on the same file
// system. Both run in this process on the same data; the counters give both
// speeds and their ratio.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/files/FileRecorder.h"
#include "archive/fs/FileSystem.h"
#include "base/VideoFrame.h"
#include "support/ArchiveFileWriter.h"

namespace {

constexpr int kFrames = 100;

struct Data {
    std::string root;
    std::vector<testsupport::ArchiveFrame> frames;
    uint64_t bytes = 0;

    Data() {
        char pattern[] = "/tmp/gavex_recorder_bench_XXXXXX";
        root = ::mkdtemp(pattern);
        ::setenv("GAVEX_REGISTRY_DIR", root.c_str(), 1);
        std::filesystem::create_directories(root + "/drive/VIDEO");
        std::filesystem::create_directories(root + "/work");
        const std::string out = root + "/work/hd.h264";
        const std::string cmd =
            "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v " +
            std::to_string(kFrames) +
            " -c:v libx264 -preset ultrafast -b:v 8M -g 25 -x264-params aud=1:scenecut=0 -bsf:v h264_mp4toannexb "
            "-f h264 " + out + " >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0) return;
        // One access unit per frame, split at the delimiters.
        std::vector<uint8_t> stream;
        {
            FILE* f = std::fopen(out.c_str(), "rb");
            if (!f) return;
            uint8_t buffer[65536];
            size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) stream.insert(stream.end(), buffer, buffer + got);
            std::fclose(f);
        }
        std::vector<size_t> starts;
        for (size_t i = 0; i + 4 < stream.size(); ++i)
            if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 0 && stream[i + 3] == 1 &&
                (stream[i + 4] & 0x1F) == 9)
                starts.push_back(i);
        starts.push_back(stream.size());
        for (size_t u = 0; u + 1 < starts.size(); ++u) {
            std::vector<uint8_t> unit(stream.begin() + static_cast<long>(starts[u]),
                                      stream.begin() + static_cast<long>(starts[u + 1]));
            testsupport::ArchiveFrame frame;
            frame.key = u % 25 == 0;
            frame.data = testsupport::MakeH264Frame(unit, frame.key);
            bytes += frame.data.size();
            frames.push_back(std::move(frame));
        }
    }
    ~Data() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

Data& TheData() {
    static Data data;
    return data;
}

VideoFramePtr MakeFrame(const std::vector<uint8_t>& bytes, int64_t unixMs) {
    VideoFramePtr frame(new VideoFrame("bench", 1), false);
    frame->m_tssTime = TSS::FromUtc(static_cast<uint64_t>(unixMs) + kArchiveUnixOffsetMs);
    frame->m_nFormat = 1;
    frame->m_nWidth = 1920;
    frame->m_nHeight = 1080;
    frame->AllocData(static_cast<uint32_t>(bytes.size()));
    std::memcpy(frame->m_pData, bytes.data(), bytes.size());
    frame->m_cbData = static_cast<uint32_t>(bytes.size());
    return frame;
}

double Seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void BM_RecorderBesideWriteLoop(benchmark::State& state) {
    Data& data = TheData();
    if (data.frames.empty()) {
        state.SkipWithError("ffmpeg could not make the frames");
        return;
    }
    std::vector<VideoFramePtr> frames;
    for (size_t i = 0; i < data.frames.size(); ++i) frames.push_back(MakeFrame(data.frames[i].data, 0));
    FileSystem engine;
    if (!engine.Init({data.root + "/drive"})) {
        state.SkipWithError("the engine found no volume");
        return;
    }
    auto recorder = engine.GetRecorder(1, true, "");
    const std::string plain = engine.GetVolumePath(0) + "/plain.bin";
    std::vector<uint8_t> block(1 << 20);
    double recorderSeconds = 0, writeSeconds = 0;
    int64_t time = 1709632800000;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (auto& frame : frames) {
            frame->m_tssTime = TSS::FromUtc(static_cast<uint64_t>(time += 40) + kArchiveUnixOffsetMs);
            recorder->WriteFrame(frame.get(), false);
        }
        recorder->Close(false);
        recorderSeconds += Seconds(t0);

        t0 = std::chrono::steady_clock::now();
        const int fd = ::open(plain.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (uint64_t left = data.bytes; left > 0;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
            if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) break;
            left -= n;
        }
        ::close(fd);
        writeSeconds += Seconds(t0);

        // Finished files are not kept from one pass to the next.
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(engine.GetVolumePath(0), ec))
            if (entry.is_directory() && entry.path().filename().string().size() == 11)
                for (const auto& file : std::filesystem::directory_iterator(entry.path(), ec))
                    std::filesystem::remove(file.path(), ec);
    }
    const double mb = static_cast<double>(data.bytes) * static_cast<double>(state.iterations()) / 1048576.0;
    state.counters["recorder_MBps"] = mb / recorderSeconds;
    state.counters["write_MBps"] = mb / writeSeconds;
    state.counters["recorder_to_write"] = writeSeconds / recorderSeconds;
    state.counters["frame_KB"] = static_cast<double>(data.bytes) / static_cast<double>(data.frames.size()) / 1024.0;
}
BENCHMARK(BM_RecorderBesideWriteLoop)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
